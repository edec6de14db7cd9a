#include "components/text_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "components/testing/scratch.h"

namespace sx {
namespace {

std::vector<std::string> lines_of(const std::string& content) {
    std::FILE* stream = std::tmpfile();
    EXPECT_NE(stream, nullptr);
    std::fwrite(content.data(), 1, content.size(), stream);
    std::rewind(stream);
    std::vector<std::string> lines;
    std::string line;
    while (read_text_line(stream, &line)) lines.push_back(line);
    std::fclose(stream);
    return lines;
}

TEST(ReadTextLine, LineEndsAndUnterminatedLastLine) {
    using L = std::vector<std::string>;
    struct Case {
        std::string content;
        L lines;
    };
    const Case cases[] = {
        {"", {}},
        {"abc", {}},  // no line break: never used
        {"a\nb", {"a"}},
        {"a\n", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\n\rb\n\r", {"a", "b"}},  // LF CR is one line end too
        {"a\n\nb\n", {"a", "", "b"}},
        {"a\r\rb\r", {"a", "", "b"}},
        {"a\r\n\r\nb\n", {"a", "", "b"}},
        {"a\r\n\n", {"a", ""}},
        {std::string("x\0y\n", 4), {std::string("x\0y", 3)}},
        {"\n", {""}},
    };
    for (const Case& c : cases) EXPECT_EQ(lines_of(c.content), c.lines) << c.content;
}

// A line at the bound is read; one byte more ends the reading there, so a
// file without line breaks never fills memory.
TEST(ReadTextLine, StopsAtTheLengthBound) {
    const size_t bound = 1024 * 1024;
    EXPECT_EQ(lines_of(std::string(bound, 'a') + "\nb\n"),
              (std::vector<std::string>{std::string(bound, 'a'), "b"}));
    EXPECT_EQ(lines_of(std::string(bound + 1, 'a') + "\nb\n"), std::vector<std::string>{});
}

TEST(FormatText, GrowsUpToTheLimitThenCuts) {
    EXPECT_EQ(format_text("%s=%d", "n", 42), "n=42");
    for (size_t length : {0u, 1022u, 1023u, 1024u, 1025u, 5000u, 65535u}) {
        std::string text(length, 'q');
        EXPECT_EQ(format_text("%s", text.c_str()), text) << length;
    }
    std::string huge(70000, 'z');
    huge[1] = 'a';
    std::string cut = format_text("%s", huge.c_str());
    EXPECT_EQ(cut.size(), 65535u);
    EXPECT_EQ(cut, huge.substr(0, 65535));
    // A zero byte inside a cut text does not shorten it.
    cut = format_text("%c%s", 0, huge.c_str());
    ASSERT_EQ(cut.size(), 65535u);
    EXPECT_TRUE(cut[0] == '\0' && cut.compare(1, 65534, huge, 0, 65534) == 0);
    // The shared buffer stays usable for short texts afterwards.
    EXPECT_EQ(format_text("%05.1f|%x", 3.14159, 255u), "003.1|ff");
}

TEST(RegistryStrings, ReadsAnyTypeUpToTheFirstZero) {
    Platform& os = platform();
    RegKey key = 0;
    const char* path = "Software\\SxTest\\RegistryStrings";
    ASSERT_EQ(os.reg_create_key(kHkeyCurrentUser, path, &key, nullptr), kErrorSuccess);
    const std::string counted = "counted";  // stored without its zero
    ASSERT_EQ(os.reg_set_value(key, "Counted", kRegSz, counted.data(), counted.size()),
              kErrorSuccess);
    ASSERT_EQ(os.reg_set_value(key, "Zeroed", kRegSz, "zeroed", 7), kErrorSuccess);
    ASSERT_EQ(os.reg_set_value(key, "Multi", kRegMultiSz, "one\0two\0", 9), kErrorSuccess);
    const uint32_t dword = 0x00434241;  // "ABC" in little-endian bytes
    ASSERT_EQ(os.reg_set_value(key, "Dword", kRegDword, &dword, 4), kErrorSuccess);
    ASSERT_EQ(os.reg_set_value(key, "Empty", kRegSz, "", 0), kErrorSuccess);
    ASSERT_EQ(os.reg_set_value(key, nullptr, kRegSz, "default", 7), kErrorSuccess);

    struct Case {
        const char* name;
        bool ok;
        std::string text;
    };
    const Case cases[] = {
        {"Counted", true, "counted"}, {"counted", true, "counted"}, {"Zeroed", true, "zeroed"},
        {"Multi", true, "one"},       {"Dword", true, "ABC"},       {"Empty", true, ""},
        {"", true, "default"},        {"Missing", false, ""},
    };
    for (const Case& c : cases) {
        std::string text = "unchanged";
        EXPECT_EQ(read_registry_string(kHkeyCurrentUser, path, c.name, &text), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(text, c.text) << c.name;
        }
    }
    // Querying an open key directly, and a subkey that does not exist.
    std::string text;
    EXPECT_TRUE(read_registry_string(key, nullptr, "Counted", &text));
    EXPECT_EQ(text, "counted");
    EXPECT_FALSE(
        read_registry_string(kHkeyCurrentUser, "Software\\SxTest\\Nope", "Counted", &text));
    os.reg_close_key(key);
}

}  // namespace
}  // namespace sx
