// The hooks' formatter: texts that fit come back exactly, with their length;
// texts that do not fit are cut, terminated, and reported as not fitting, so
// format_text grows its buffer to the whole text.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "components/text_util.h"

extern "C" int __cdecl __mingw_vsnprintf(char* buffer, size_t size, const char* format,
                                         va_list arguments);

namespace {

int failures = 0;

void expect(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

int format_into(char* buffer, size_t size, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int result = __mingw_vsnprintf(buffer, size, format, arguments);
    va_end(arguments);
    return result;
}

}  // namespace

int main() {
    struct Case {
        size_t size;
        const char* expected_text;
        bool fits;
    } const cases[] = {
        {16, "C:\\a b,2", true},  // room to spare
        {9, "C:\\a b,2", true},   // exactly the text and its zero
        {8, "C:\\a b,", false},   // one short: cut and terminated
        {1, "", false},
    };
    for (const Case& c : cases) {
        char buffer[16];
        std::memset(buffer, 'x', sizeof buffer);
        const int result = format_into(buffer, c.size, "%s,%d", "C:\\a b", 2);
        expect(std::strcmp(buffer, c.expected_text) == 0, c.expected_text);
        expect(c.fits ? result == 8 : result >= static_cast<int>(c.size), "reported length");
        expect(buffer[c.size - 1] == '\0' || c.fits, "terminated");
    }
    char hex[9];
    expect(format_into(hex, 9, "%08X", 0xBEEFu) == 8 && !std::strcmp(hex, "0000BEEF"), "%08X");
    // Longer than format_text's first buffer, so it grows until all fits.
    const std::string path(5000, 'p');
    expect(sx::format_text("\"%s\" \"%%1\"", path.c_str()) == "\"" + path + "\" \"%1\"",
           "format_text grows to the whole text");
    if (failures == 0) std::printf("plain formatter: all cases passed\n");
    return failures == 0 ? 0 : 1;
}
