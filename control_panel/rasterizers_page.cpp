#include "control_panel/rasterizers_page.h"

#include <algorithm>
#include <vector>

#include "components/registry.h"
#include "control_panel/config_report.h"
#include "control_panel/cpl_texts.h"
#include "control_panel/resource.h"
#include "platform/platform.h"

namespace sx::cpl {
namespace {

// The up-down control rests in the middle: the up arrow reports 0, the down
// arrow 2, so the reported position minus 1 is the step.
constexpr int kSpinBottom = 2;
constexpr int kSpinTop = 0;
constexpr int kSpinRest = 1;

constexpr uint32_t kLauncherBufferSize = 1024;
constexpr uint32_t kAppletBufferSize = 260;

}  // namespace

bool build_test_command(const std::string& launcher, const std::string& applet,
                        const std::string& id, std::string* command_line) {
    std::string line;
    line.reserve(launcher.size() + applet.size() + id.size() + 16);
    line += "\"" + launcher + "\" \"" + applet + "\" -renderer " + id;
    if (line.size() + 1 > kCommandLineBufferSize) return false;
    *command_line = std::move(line);
    return true;
}

RasterizersPage::RasterizersPage(RasterizersPageServices services)
    : services_(std::move(services)) {}

bool RasterizersPage::init(ui::DialogView& view) {
    view_ = &view;
    view.set_spin_range(IDC_RASTERIZER_SPIN, kSpinBottom, kSpinTop);
    view.set_spin_position(IDC_RASTERIZER_SPIN, kSpinRest);
    list_.emplace(view, IDC_RASTERIZER_LIST, [this](int, int code) { on_list_notify(code); });
    list_->set_up();

    const std::vector<std::string> offered = parse_rasterizer_list(offered_rasterizers);
    std::vector<std::string> enabled;
    const bool loaded =
        load_enabled_rasterizers(&enabled, [this](const char* text, const char* caption,
                                                  ui::Icon icon) { tell(text, caption, icon); });
    view_only_ = !loaded;
    if (view_only_) view.disable_all();

    fill_rows(merge_rasterizer_rows(enabled, offered));
    read_rows_ = rows();
    refresh_last_used();
    list_->select(0);
    return true;
}

bool RasterizersPage::command(int id, int code) {
    if (code != ui::kButtonClicked) return false;
    switch (id) {
        case IDC_USE_DEFAULTS:
            reset_to_defaults();
            return true;
        case IDC_TEST_SELECTED:
            test_selected();
            refresh_last_used();
            return true;
        case IDC_SHOW_CONFIG:
            show_config();
            return true;
        default:
            return false;
    }
}

bool RasterizersPage::list_event(int id, const ui::ListEvent& event) {
    return id == IDC_RASTERIZER_LIST && list_ && list_->handle(event);
}

void RasterizersPage::scroll(int id, const ui::ScrollEvent& event) {
    if (id != IDC_RASTERIZER_SPIN || event.code != ui::kScrollEnd) return;
    move_selected(event.position);
}

ui::ApplyResult RasterizersPage::apply() {
    // Rows as they were read store nothing: the stored list stays exactly as
    // it is, with the ids this page does not show and whatever else it held.
    const std::vector<RasterizerRow> now = rows();
    if (view_only_ || now == read_rows_) return ui::ApplyResult::saved;
    const bool saved =
        store_enabled_rasterizers(now, [this](const char* text, const char* caption,
                                              ui::Icon icon) { tell(text, caption, icon); });
    if (saved) read_rows_ = now;
    return saved ? ui::ApplyResult::saved : ui::ApplyResult::invalid;
}

std::vector<RasterizerRow> RasterizersPage::rows() {
    std::vector<RasterizerRow> rows;
    for (int row = 0; row < list_->row_count(); ++row)
        rows.push_back({list_->row_text(row), list_->is_checked(row)});
    return rows;
}

void RasterizersPage::on_list_notify(int code) {
    if (code == ui::CLN_SELCHANGED)
        refresh_description();
    else if (code == ui::CLN_CHECKCHANGED)
        view_->changed();
}

void RasterizersPage::fill_rows(const std::vector<RasterizerRow>& rows) {
    list_->delete_all();
    for (const RasterizerRow& row : rows) list_->add_row(row.name, row.checked);
}

void RasterizersPage::refresh_description() {
    const int selected = list_->selected_index();
    const std::string text = selected < 0 ? std::string() : list_->row_text(selected);
    view_->set_text(IDC_RASTERIZER_DESCRIPTION,
                    rasterizer_description(selected < 0 ? nullptr : &text));
}

void RasterizersPage::refresh_last_used() {
    view_->set_text(IDC_VIDEO_CARD, last_video_card());
    view_->set_text(IDC_LAST_RASTERIZER, last_rasterizer_name());
}

void RasterizersPage::move_selected(int reported_position) {
    view_->set_spin_position(IDC_RASTERIZER_SPIN, kSpinRest);
    const int selected = list_->selected_index();
    if (selected < 0) return;
    const int target =
        std::clamp(selected + reported_position - kSpinRest, 0, list_->row_count() - 1);
    if (target == selected) return;
    list_->swap_rows(selected, target);
    list_->select(target);
    view_->changed();
}

void RasterizersPage::reset_to_defaults() {
    if (view_->ask(kResetQuestion, kQuestionCaption, ui::Buttons::yes_no, ui::Icon::none) !=
        ui::Answer::yes)
        return;
    fill_rows(reset_rasterizer_rows());
    view_->changed();
}

void RasterizersPage::show_config() {
    std::string local;
    std::string* report = services_.report ? services_.report : &local;
    build_config_report(platform().os_version(), report);
    if (services_.show_report) services_.show_report(*report);
}

void RasterizersPage::test_selected() {
    const int selected = list_->selected_index();
    if (selected < 0) {
        tell(kNothingToTest, kPageErrorCaption, ui::Icon::none);
        return;
    }
    const rasterizer_info* info = find_rasterizer_by_name(list_->row_text(selected));
    if (!info) return;
    std::string launcher, applet, command_line;
    if (!launcher_path(&launcher)) {
        tell(kNoLauncher, kPageErrorCaption, ui::Icon::none);
        return;
    }
    if (!test_applet_path(&applet)) {
        tell(kNoTestApplet, kPageErrorCaption, ui::Icon::none);
        return;
    }
    if (!build_test_command(launcher, applet, info->id, &command_line)) {
        tell(kCommandTooLong, kPageErrorCaption, ui::Icon::none);
        return;
    }
    if (!view_->run_and_wait(command_line).started)
        tell(kLaunchFailed, kPageErrorCaption, ui::Icon::none);
}

// The launcher's path in its short form, which has no blanks.
bool RasterizersPage::launcher_path(std::string* path) {
    RegistryKey key;
    if (key.open(kHkeyLocalMachine, kPlayerKey, kKeyRead) != kErrorSuccess ||
        !read_string_value(key.get(), kLauncherPathValue, path, kLauncherBufferSize))
        return false;
    return !services_.shorten_path || services_.shorten_path(path);
}

bool RasterizersPage::test_applet_path(std::string* path) {
    RegistryKey key;
    return key.open(kHkeyLocalMachine, kPlayerKey, kKeyRead) == kErrorSuccess &&
           read_string_value(key.get(), kTestAppletValue, path, kAppletBufferSize) &&
           !path->empty();
}

void RasterizersPage::tell(const char* text, const char* caption, ui::Icon icon) {
    view_->ask(text, caption, ui::Buttons::ok, icon);
}

}  // namespace sx::cpl
