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
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {"C:%5Cx", "C:\\x"},
        {"%41%42c", "ABc"},
        {"%e9%E9", "\xE9\xE9"},
        {"%00z", std::string("\0z", 2)},
        {"abc%4", "abc"},  // a cut-off escape ends the text
        {"abc%", "abc"},
        {"%4%41", "%4%41"},  // "4%" is not hexadecimal: kept whole
        {"%zz1", "%zz1"},    // not an escape: kept
        {"100%%41", "100%%41"},
        {"plain text+", "plain text+"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(percent_decode(c.text), c.expected) << c.text;
}

TEST(SettingsEncoding, KeyRule) {
    const struct {
        const char* key;
        bool valid;
    } cases[] = {
        {"a/b.c-d_e f", true},
        {"Stereo/EyeSeparation", true},
        {"BASEURLS/SCRIPTS", true},
        {"X", true},
        {" ", true},
        {"", false},
        {"/a", false},
        {"a/", false},
        {"/", false},
        {"a//b", false},
        {"a=b", false},
        {"a\\b", false},
        {"a\tb", false},
        {"caf\xE9", false},
    };
    for (const auto& c : cases) EXPECT_EQ(valid_setting_key(c.key), c.valid) << c.key;
    EXPECT_FALSE(valid_setting_key(std::string("a\0b", 3)));
    EXPECT_EQ(ascii_upper("a/b.c-d_e f\xE9"), "A/B.C-D_E F\xE9");
}

}  // namespace
}  // namespace sx
