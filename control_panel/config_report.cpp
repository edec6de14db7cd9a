#include "control_panel/config_report.h"

#include <cstdio>

#include "components/data_directories.h"
#include "components/file_path.h"
#include "components/registry.h"
#include "components/text_util.h"
#include "control_panel/cpl_texts.h"
#include "control_panel/rasterizer_model.h"
#include "control_panel/resource.h"

namespace sx::cpl {
namespace {

constexpr uint32_t kPlatformWindows9x = 1;
constexpr uint32_t kPlatformWindowsNt = 2;

const char* platform_word(uint32_t platform_id) {
    switch (platform_id) {
        case kPlatformWindows9x:
            return "95/98";
        case kPlatformWindowsNt:
            return "NT/2000";
        default:
            return "????";
    }
}

// The service pack number NT keeps as a 32-bit value; only its low word is
// shown.
void append_service_pack(std::string* text) {
    RegistryKey key;
    if (key.open(kHkeyLocalMachine, kWindowsVersionKey, kKeyQueryValue) != kErrorSuccess) return;
    uint32_t number = 0;
    uint32_t type = 0;
    uint32_t size = sizeof number;
    if (platform().reg_query_value(key.get(), kServicePackValue, &type, &number, &size) ==
        kErrorSuccess)
        *text += " SP" + std::to_string(number & 0xFFFFu);
}

void append_index_file(const char* directory_name, std::string* text) {
    FilePath index;
    if (!find_component_directory(directory_name, &index)) {
        // Still a path line and a state, so every report has the same shape.
        *text += std::string(directory_name) + ": no directory registered\r\n";
        *text += "file does not exist\r\n\r\n\r\n";
        return;
    }
    index.append_file("compindx.dat");
    *text += index.text() + "\r\n";
    if (!index.exists()) {
        *text += "file does not exist\r\n";
    } else if (std::FILE* stream = index.open_stream("rb")) {
        std::string line;
        while (read_text_line(stream, &line)) *text += line + "\r\n";
        std::fclose(stream);
    } else {
        *text += "unable to open file\r\n";
    }
    *text += "\r\n\r\n";
}

}  // namespace

void build_config_report(const OsVersion& version, std::string* text) {
    text->clear();
    *text += std::string("Windows ") + platform_word(version.platform_id) + ", Version " +
             std::to_string(version.major) + "." + std::to_string(version.minor);
    if (version.platform_id == kPlatformWindowsNt) append_service_pack(text);
    *text += "\r\n";
    *text += "Last Used Renderer: " + last_rasterizer_name() + "\r\n";
    *text += "Video Card: " + last_video_card() + "\r\n\r\n";
    append_index_file("Components-System", text);
    append_index_file("Components-User", text);
}

ReportLayout layout_config_report(int client_width, int client_height, const ui::Rect& edit,
                                  const ui::Rect& ok, const ui::Rect& copy) {
    const int mx = edit.left;
    const int my = edit.top;
    const int bh = ok.height;
    ReportLayout out;
    out.edit = {mx, my, client_width - 2 * mx, client_height - bh - 3 * my};
    const int half = (client_width - mx) / 2;
    const int top = client_height - bh - my;
    out.ok = {half - ok.width, top, ok.width, ok.height};
    out.copy = {half + mx, top, copy.width, copy.height};
    return out;
}

bool ConfigReportDialog::init(ui::DialogView& view) {
    view_ = &view;
    view.set_text(IDC_REPORT_TEXT, report_);
    const ui::Rect client = view.client_area();
    lay_out(client.width, client.height);
    return true;
}

bool ConfigReportDialog::command(int id, int code) {
    if (!view_ || code != ui::kButtonClicked) return false;
    switch (id) {
        case ui::kIdOk:
        case ui::kIdCancel:
            view_->end_dialog(0);
            return true;
        case IDC_REPORT_COPY:
            view_->copy_to_clipboard(report_);
            return true;
        default:
            return false;
    }
}

void ConfigReportDialog::resized(int width, int height) {
    if (view_) lay_out(width, height);
}

void ConfigReportDialog::lay_out(int width, int height) {
    const ReportLayout layout =
        layout_config_report(width, height, view_->control_rect(IDC_REPORT_TEXT),
                             view_->control_rect(ui::kIdOk), view_->control_rect(IDC_REPORT_COPY));
    view_->move_controls(
        {{IDC_REPORT_TEXT, layout.edit}, {ui::kIdOk, layout.ok}, {IDC_REPORT_COPY, layout.copy}});
}

}  // namespace sx::cpl
