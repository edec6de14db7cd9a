// The player's catalogue of user-facing messages. Each numbered code has a
// caption, a base text, how much of the caller's detail to add, an icon and
// whether the program ends after the message.
#pragma once

#include <cstdarg>
#include <string>

namespace sx {

enum class ErrorDetail { none = 0, details = 1, details_and_position = 2 };
enum class ErrorIcon { error = 0, warning = 1, information = 2 };
enum class ErrorEnd { resume = 0, must_close = 1, must_exit = 2 };

struct ErrorRow {
    std::string title;
    std::string text;  // no final full stop
    ErrorDetail detail;
    ErrorIcon icon;
    ErrorEnd end;
};

constexpr int kFirstErrorCode = 1;
constexpr int kLastErrorCode = 20;

// The row of `code`, or null outside 1 to 20.
const ErrorRow* error_row(int code);

// The message box style of an icon, with the system-modal and foreground
// flags every catalogue message carries.
unsigned error_box_flags(ErrorIcon icon);

// The size of the buffer every message is built in, terminating zero
// included; longer messages are cut.
constexpr size_t kErrorMessageBufferSize = 1024;

// The message text of `code` as show_error would build it; empty outside 1 to
// 20. `format` may be null.
std::string format_error_message(int code, long number, const char* source_file, int source_line,
                                 const char* format, va_list arguments);

// Shows the message of `code` and, for the codes that end the program, calls
// terminate_program(-1). Otherwise gives the message box's result; codes
// outside 1 to 20 show nothing and give 0.
int show_error(int code, long number, const char* source_file, int source_line, const char* format,
               ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 5, 6)))
#endif
    ;
int show_error_v(int code, long number, const char* source_file, int source_line,
                 const char* format, va_list arguments);

// Work to do before the process ends (most recently registered first).
using ShutdownCallback = void (*)(void* argument);
void register_shutdown_callback(ShutdownCallback callback, void* argument);

// Ends the process: the first call's exit code is kept, each shutdown
// callback runs once (also when a callback itself calls terminate_program),
// and the process exits through exit() so atexit work still runs.
[[noreturn]] void terminate_program(int exit_code);

}  // namespace sx
