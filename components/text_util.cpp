#include "components/text_util.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "components/registry.h"

namespace sx {

bool read_registry_string(RegKey root, const char* subkey, const char* value_name,
                          std::string* text) {
    RegistryKey opened;
    if (subkey && opened.open(root, subkey, kKeyQueryValue) != kErrorSuccess) return false;
    RegistryValue value;
    if (read_registry_value(subkey ? opened.get() : root, value_name, &value) != kErrorSuccess)
        return false;
    *text = registry_value_text(value);
    return true;
}

std::string expand_environment(const std::string& text) {
    Platform& os = platform();
    char probe[1] = {};
    uint32_t needed = os.expand_environment_strings(text.c_str(), probe, 1);
    if (needed == 0) return text;
    std::vector<char> buffer(static_cast<size_t>(needed) + 1, '\0');
    uint32_t written = os.expand_environment_strings(text.c_str(), buffer.data(), needed + 1);
    // The environment may have grown between the two calls; an expansion that
    // no longer fits is not used.
    if (written == 0 || written > needed + 1) return text;
    return std::string(buffer.data());
}

bool read_text_line(std::FILE* stream, std::string* line, size_t max_length) {
    line->clear();
    for (;;) {
        int c = std::fgetc(stream);
        if (c == EOF) return false;
        if (c == '\r' || c == '\n') {
            int next = std::fgetc(stream);
            const int partner = c == '\r' ? '\n' : '\r';
            if (next != partner && next != EOF) std::ungetc(next, stream);
            return true;
        }
        if (line->size() >= max_length) return false;
        line->push_back(static_cast<char>(c));
    }
}

namespace {
constexpr size_t kFormatStart = 1024;
constexpr size_t kFormatLimit = 65536;
}  // namespace

FormatBuffer::FormatBuffer() : buffer_(kFormatStart) {}

std::string format_text_v(FormatBuffer& storage, const char* format, va_list arguments) {
    std::vector<char>& buffer = storage.buffer_;
    for (;;) {
        va_list copy;
        va_copy(copy, arguments);
        // A text fits when all of it and its zero fit in the buffer.
        int needed = std::vsnprintf(buffer.data(), buffer.size(), format, copy);
        va_end(copy);
        if (needed < 0) return std::string();
        if (static_cast<size_t>(needed) < buffer.size()) return std::string(buffer.data(), needed);
        if (buffer.size() >= kFormatLimit) {
            // vsnprintf has already cut the text to what fits; its length is
            // counted, not searched for, as the text may hold zero bytes.
            return std::string(buffer.data(), buffer.size() - 1);
        }
        buffer.assign(buffer.size() * 2, '\0');
    }
}

std::string format_text_v(const char* format, va_list arguments) {
    FormatBuffer storage;
    return format_text_v(storage, format, arguments);
}

std::string format_text(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string result = format_text_v(format, arguments);
    va_end(arguments);
    return result;
}

bool is_trim_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string trim_spaces(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && is_trim_space(text[begin])) ++begin;
    while (end > begin && is_trim_space(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

}  // namespace sx
