#include "control_panel/about_page.h"

#include <vector>

#include "components/component_search.h"
#include "components/file_path.h"
#include "components/registry.h"
#include "components/text_util.h"
#include "control_panel/cpl_texts.h"
#include "control_panel/resource.h"
#include "platform/platform.h"

namespace sx::cpl {
namespace {

constexpr int kTitleFontHeight = -18;
constexpr int kTitleFontWeight = 700;
constexpr uint32_t kRegistryTextLimit = 260;

std::string installed_legal_file() {
    const int size = find_component_file(kLegalComponent, kLegalFileKey, nullptr, 0);
    if (size <= 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
    if (find_component_file(kLegalComponent, kLegalFileKey, buffer.data(), size + 1) <= 0)
        return std::string();
    return buffer.data();
}

// The default value of a key, a text of at most 260 bytes; false when the
// key cannot be opened or holds no such text.
bool default_value(RegKey root, const std::string& subkey, std::string* text) {
    RegistryKey key;
    RegistryValue value;
    if (key.open(root, subkey.c_str(), kKeyRead) != kErrorSuccess ||
        read_registry_value(key.get(), nullptr, &value) != kErrorSuccess ||
        (value.type != kRegSz && value.type != kRegExpandSz) ||
        value.data.size() > kRegistryTextLimit)
        return false;
    *text = registry_value_text(value);
    return true;
}

}  // namespace

std::string read_legal_text(std::FILE* stream) {
    std::string text, line;
    while (read_text_line(stream, &line)) text += line + "\r\n";
    return text + line;
}

std::string browser_command_line(const std::string& open_command, const std::string& address) {
    size_t cut = open_command.find("\"%1\"");
    if (cut == std::string::npos) cut = open_command.find("%1");
    std::string line = open_command.substr(0, cut);
    return line + " " + address;
}

bool html_open_command(std::string* command) {
    std::string type;
    if (!default_value(kHkeyClassesRoot, kHtmlFileType, &type)) return false;
    return default_value(kHkeyClassesRoot, type + kOpenCommandSuffix, command);
}

AboutPage::AboutPage(LegalFileLookup legal_file)
    : legal_file_(legal_file ? std::move(legal_file) : LegalFileLookup(installed_legal_file)) {}

bool AboutPage::init(ui::DialogView& view) {
    view_ = &view;
    view.set_font(IDC_ABOUT_TITLE, kTitleFontFace, kTitleFontHeight, kTitleFontWeight);
    const FilePath path(legal_file_());
    std::string legal = kLegalFileMissing;
    if (std::FILE* stream = path.open_stream("r")) {
        legal = read_legal_text(stream);
        std::fclose(stream);
    }
    view.set_text(IDC_ABOUT_LEGAL, legal);
    return true;
}

bool AboutPage::command(int id, int code) {
    if (id != IDC_WEB_SITE || code != ui::kButtonClicked || !view_) return false;
    open_web_site();
    return true;
}

// Without a shell association for web addresses, the browser that opens
// ".htm" files is started on the address directly. A failure shows nothing.
void AboutPage::open_web_site() {
    if (view_->shell_open(kWebSiteAddress)) return;
    std::string command;
    if (!html_open_command(&command)) return;
    ProcessHandle process{};
    if (platform().start_process(browser_command_line(command, kWebSiteAddress).c_str(), nullptr,
                                 &process))
        platform().close_process(process);
}

}  // namespace sx::cpl
