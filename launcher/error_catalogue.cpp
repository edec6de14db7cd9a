#include "launcher/error_catalogue.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "components/maker_info.h"
#include "platform/platform.h"

namespace sx {
namespace {

constexpr unsigned kMbSystemModal = 0x1000;
constexpr unsigned kMbSetForeground = 0x10000;

using D = ErrorDetail;
using I = ErrorIcon;
using E = ErrorEnd;

// The player's download page is "/player" on the maker's web site.
std::string player_download_page() {
    std::string site = kMakerWebSite;
    while (!site.empty() && site.back() == '/') site.pop_back();
    return site + "/player";
}

std::vector<ErrorRow> build_catalogue() {
    const std::string download_page = player_download_page();
    const std::string web_site = kMakerWebSite;
    // Indexed by code; row 0 is never shown.
    return {
        {"", "", D::none, I::error, E::resume},
        {"About Stellarix 3D Player", "Stellarix 3D Plug-in PowerPC Version 2.2.1\nVersion 2.2.1",
         D::none, I::information, E::resume},
        {"Stellarix 3D Player: A System Error has occured",
         "Stellarix 3D Player must exit, because a system error has occured",
         D::details_and_position, I::error, E::must_exit},
        {"Stellarix 3D Player: An Exception has occured",
         "Stellarix 3D Player must exit, because a machine exception has occured", D::details,
         I::error, E::resume},
        {"Stellarix 3D Player: Out of Memory",
         "Stellarix 3D Player must exit.  Try increasing the application's memory size",
         D::details_and_position, I::error, E::must_exit},
        {"Stellarix 3D Player: An Application Error has occured",
         "Stellarix 3D Player must exit, because an application error has occured",
         D::details_and_position, I::error, E::must_exit},
        {"Stellarix 3D Player: An Internal Error has occured",
         "Stellarix 3D Player must exit, because an application internal error has occured",
         D::details_and_position, I::error, E::must_exit},
        {"Stellarix 3D Player: A System Error has occured",
         "Stellarix 3D Player must close, because a system error has occured",
         D::details_and_position, I::error, E::must_close},
        {"Stellarix 3D Player: Out of Memory",
         "Stellarix 3D Player must close.  Try closing other open applets, or increasing the "
         "application's memory size",
         D::details_and_position, I::error, E::must_close},
        {"Stellarix 3D Player: An Application Error has occured",
         "Stellarix 3D Player must close, because an application error has occured",
         D::details_and_position, I::error, E::must_close},
        {"Stellarix 3D Player: An Internal Error has occured",
         "Stellarix 3D Player must close, because an application internal error has occured",
         D::details_and_position, I::error, E::must_close},
        {"Stellarix 3D Player: A window is missing from the EMBED tag",
         "This applet contains pictures that do not have corresponding EMBED tags in the web "
         "page's HTML.  Please contact the author of this web page",
         D::details, I::error, E::must_close},
        {"Stellarix 3D Player: Not an applet file",
         "The selected file is not recognized as an applet file.  The file's contents may be "
         "damaged",
         D::details, I::error, E::must_close},
        {"Stellarix 3D Player: Incomplete applet file",
         "The applet file appears to be incomplete.  Try reloading the applet or the web page.  "
         "If you continue to see this error, try emptying your web browser's cache",
         D::details, I::error, E::must_close},
        {"Stellarix 3D Player: Unsupported file version number",
         "Please install the latest version of this player from " + download_page +
             " .  The applet has a version number that this player does not support",
         D::details, I::error, E::must_close},
        {"Stellarix 3D Player: Obsolete version",
         "Please install the latest version of this player from " + download_page +
             " .  The applet cannot be opened",
         D::details, I::error, E::must_close},
        {"Stellarix 3D Player: Obsolescent version",
         "The applet can be opened, but a newer version of this player is available from " +
             download_page + " and is recommended to view the file",
         D::details, I::warning, E::resume},
        {"Stellarix 3D Player: An Internal Error has occured",
         "Stellarix 3D Player must close, because an internal bad case error has occured",
         D::details_and_position, I::error, E::must_close},
        {"Stellarix 3D Player: Program Statistics", "Available benchmarking information",
         D::details_and_position, I::information, E::resume},
        {"Stellarix 3D Player: Expired applet file",
         "The applet file is in an old format and has expired.  If you are the author of the "
         "applet, visit Stellarix's web site at " +
             web_site + " to download a newer version of Stellarix Studio",
         D::details, I::error, E::must_close},
        {"Stellarix 3D Player", "", D::details_and_position, I::warning, E::resume},
    };
}

const std::vector<ErrorRow>& catalogue() {
    static const std::vector<ErrorRow> rows = build_catalogue();
    return rows;
}

// A fixed buffer that never overflows: whatever does not fit is cut.
class MessageBuffer {
public:
    void append(const char* text) {
        size_t room = sizeof(data_) - 1 - length_;
        size_t n = std::strlen(text);
        if (n > room) n = room;
        std::memcpy(data_ + length_, text, n);
        length_ += n;
        data_[length_] = '\0';
    }
    void append_v(const char* format, va_list arguments) {
        size_t room = sizeof(data_) - length_;  // vsnprintf keeps one byte for the zero
        if (room <= 1) return;
        int written = std::vsnprintf(data_ + length_, room, format, arguments);
        if (written < 0) {
            data_[length_] = '\0';  // a bad conversion adds nothing
            return;
        }
        length_ += static_cast<size_t>(written) < room ? static_cast<size_t>(written) : room - 1;
    }
    void append_f(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
    {
        va_list arguments;
        va_start(arguments, format);
        append_v(format, arguments);
        va_end(arguments);
    }
    std::string text() const { return std::string(data_, length_); }

private:
    char data_[kErrorMessageBufferSize] = {};
    size_t length_ = 0;
};

struct ShutdownEntry {
    ShutdownCallback callback;
    void* argument;
};

struct ProcessEnd {
    bool ending = false;
    int exit_code = 0;
    std::vector<ShutdownEntry> callbacks;
};

ProcessEnd& process_end() {
    static ProcessEnd state;
    return state;
}

}  // namespace

const ErrorRow* error_row(int code) {
    if (code < kFirstErrorCode || code > kLastErrorCode) return nullptr;
    return &catalogue()[static_cast<size_t>(code)];
}

unsigned error_box_flags(ErrorIcon icon) {
    unsigned icon_flag = kMbIconError;
    if (icon == ErrorIcon::warning) icon_flag = kMbIconWarning;
    if (icon == ErrorIcon::information) icon_flag = kMbIconInformation;
    return icon_flag | kMbSystemModal | kMbSetForeground;
}

std::string format_error_message(int code, long number, const char* source_file, int source_line,
                                 const char* format, va_list arguments) {
    const ErrorRow* row = error_row(code);
    if (!row) return std::string();
    MessageBuffer buffer;
    buffer.append(row->text.c_str());
    if (row->detail != ErrorDetail::none) {
        const bool with_position =
            row->detail == ErrorDetail::details_and_position && source_file != nullptr;
        if (format) {
            if (!row->text.empty()) buffer.append(":\n\n");
            buffer.append_v(format, arguments);
        } else {
            buffer.append(".");
        }
        if (number != 0 || with_position) buffer.append_f("\n\n[%ld]", number);
        if (with_position) buffer.append_f(" %s:%d", source_file, source_line);
    }
    return buffer.text();
}

int show_error_v(int code, long number, const char* source_file, int source_line,
                 const char* format, va_list arguments) {
    const ErrorRow* row = error_row(code);
    if (!row) return 0;
    std::string message =
        format_error_message(code, number, source_file, source_line, format, arguments);
    int result =
        platform().message_box(message.c_str(), row->title.c_str(), error_box_flags(row->icon));
    if (row->end != ErrorEnd::resume) terminate_program(-1);
    return result;
}

int show_error(int code, long number, const char* source_file, int source_line, const char* format,
               ...) {
    va_list arguments;
    va_start(arguments, format);
    int result = show_error_v(code, number, source_file, source_line, format, arguments);
    va_end(arguments);
    return result;
}

void register_shutdown_callback(ShutdownCallback callback, void* argument) {
    if (callback) process_end().callbacks.push_back({callback, argument});
}

void terminate_program(int exit_code) {
    ProcessEnd& state = process_end();
    if (!state.ending) {
        state.ending = true;
        state.exit_code = exit_code;
    }
    // Each callback is taken off the list before it runs, so a callback that
    // ends the program itself neither runs again nor skips the ones still due.
    while (!state.callbacks.empty()) {
        ShutdownEntry entry = state.callbacks.back();
        state.callbacks.pop_back();
        entry.callback(entry.argument);
    }
    std::exit(state.exit_code);
}

}  // namespace sx
