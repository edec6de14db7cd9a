#include "components/text_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "components/registry.h"
#include "platform/platform.h"

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
        {"abc", {}},  // no line break: never used
        {"a\nb", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\n\rb\n\r", {"a", "b"}},  // LF CR is one line end too
        {"a\r\rb\n\n", {"a", "", "b", ""}},
        {"a\r\n\r\nb\n", {"a", "", "b"}},
        {std::string("x\0y\n", 4), {std::string("x\0y", 3)}},
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
    for (size_t length : {1023u, 1024u, 65535u}) {
        std::string text(length, 'q');
        EXPECT_EQ(format_text("%s", text.c_str()), text) << length;
    }
    // A cut text keeps a zero byte inside it.
    std::string huge(70000, 'z');
    EXPECT_EQ(format_text("%c%s", 0, huge.c_str()), '\0' + huge.substr(0, 65534));
}

TEST(RegistryStrings, ReadsAnyTypeUpToTheFirstZero) {
    const char* path = "Software\\SxTest\\RegistryStrings";
    RegistryKey key;
    ASSERT_EQ(key.create(kHkeyCurrentUser, path), kErrorSuccess);
    const uint32_t dword = 0x00434241;  // "ABC" in little-endian bytes
    const struct {
        const char* name;
        uint32_t type;
        std::string data;  // stored as given, without an added zero
        std::string text;
    } cases[] = {
        {"Counted", kRegSz, "counted", "counted"},
        {"Zeroed", kRegSz, std::string("zeroed\0", 7), "zeroed"},
        {"Multi", kRegMultiSz, std::string("one\0two\0", 9), "one"},
        {"Dword", kRegDword, std::string(reinterpret_cast<const char*>(&dword), 4), "ABC"},
        {"Empty", kRegSz, "", ""},
        {"", kRegSz, "default", "default"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(platform().reg_set_value(key.get(), c.name[0] ? c.name : nullptr, c.type,
                                           c.data.data(), static_cast<uint32_t>(c.data.size())),
                  kErrorSuccess);
        std::string text = "unchanged";
        EXPECT_TRUE(read_registry_string(kHkeyCurrentUser, path, c.name, &text)) << c.name;
        EXPECT_EQ(text, c.text) << c.name;
    }
    std::string text;
    EXPECT_TRUE(read_registry_string(key.get(), nullptr, "counted", &text) && text == "counted");
    EXPECT_FALSE(read_registry_string(kHkeyCurrentUser, path, "Missing", &text));
    EXPECT_FALSE(read_registry_string(kHkeyCurrentUser, "Software\\SxTest\\Nope", "x", &text));
}

}  // namespace
}  // namespace sx
