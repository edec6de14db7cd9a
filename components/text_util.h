// Small text helpers over the registry, the environment and streams.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sx {

// Reads a registry value of any type as text (up to its first zero byte).
// With `subkey` null the root key itself is queried.
bool read_registry_string(RegKey root, const char* subkey, const char* value_name,
                          std::string* text);

// Expands %NAME% references; the text is returned unchanged when the system
// reports no size.
std::string expand_environment(const std::string& text);

// Reads one line. CR, LF, CR LF and LF CR each end a line. The result is
// false at the end of the stream, even when characters were read: a final line
// without a line break is never used. A line longer than `max_length` also
// gives false, so a file without line breaks is not read into memory whole.
bool read_text_line(std::FILE* stream, std::string* line, size_t max_length = 1024 * 1024);

// The room format_text works in: 1024 bytes at first, doubled while a text
// does not fit, up to 65536 (longer texts are cut to 65535 characters). It
// stays grown for the next call made with it. Threads never share one: each
// format_text call has its own, and a caller that formats often may keep one
// of its own and pass it.
class FormatBuffer {
public:
    FormatBuffer();

private:
    friend std::string format_text_v(FormatBuffer& storage, const char* format, va_list arguments);
    std::vector<char> buffer_;
};

// printf-style formatting into a FormatBuffer.
std::string format_text(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
std::string format_text_v(const char* format, va_list arguments);
std::string format_text_v(FormatBuffer& storage, const char* format, va_list arguments);

// White space as the system trims it: " \t\n\v\f\r".
bool is_trim_space(char c);
std::string trim_spaces(const std::string& text);

}  // namespace sx
