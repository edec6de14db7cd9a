#include "components/settings_encoding.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace sx {
namespace {

TEST(SettingsEncoding, EveryByteEncodesAsItselfOrUpperHexAndDecodesBack) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::string encoded = percent_encode(all);
    EXPECT_EQ(percent_decode(encoded), all);

    // Byte by byte against the rule written out independently.
    const std::string kept = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789*-._";
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        char escape[4];
        std::snprintf(escape, sizeof escape, "%%%02X", b);
        const std::string expected = kept.find(static_cast<char>(b)) != std::string::npos && b != 0
                                         ? one
                                         : std::string(escape);
        EXPECT_EQ(percent_encode(one), expected) << "byte " << b;
        EXPECT_EQ(percent_decode(expected), one) << "byte " << b;
    }
    EXPECT_EQ(percent_decode(form_encode(all)).size(), all.size());
}

TEST(SettingsEncoding, DecodingTable) {
    const std::pair<std::string, std::string> cases[] = {
        {"C:%5Cx%41%e9%E9", "C:\\xA\xE9\xE9"},
        {"%00z", std::string("\0z", 2)},
        {"abc%4", "abc"},  // a cut-off escape ends the text
        {"abc%", "abc"},
        {"%4%41", "%4%41"},  // "4%" is not hexadecimal: kept whole
        {"%zz1 100%%41+", "%zz1 100%%41+"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(percent_decode(text), expected) << text;
}

TEST(SettingsEncoding, KeyRule) {
    for (const char* key : {"a/b.c-d_e f", "Stereo/Eye2", " "})
        EXPECT_TRUE(valid_setting_key(key)) << key;
    for (const std::string key : {"", "/a", "a/", "/", "a//b", "a=b", "a\\b", "a\tb", "caf\xE9"})
        EXPECT_FALSE(valid_setting_key(key)) << key;
    EXPECT_FALSE(valid_setting_key(std::string("a\0b", 3)));
    EXPECT_EQ(ascii_upper("a/b.c-d_e f\xE9"), "A/B.C-D_E F\xE9");
}

}  // namespace
}  // namespace sx
