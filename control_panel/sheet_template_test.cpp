#include "control_panel/sheet_template.h"

#include <gtest/gtest.h>

#include <cstring>

namespace sx::cpl {
namespace {

struct Words {
    uint32_t at0, at4, at8, at12, at16;
};

Words read(const unsigned char* bytes) {
    Words w;
    std::memcpy(&w, bytes, sizeof w);
    return w;
}

TEST(SheetTemplate, StyleFieldOfEachKind) {
    // Classic: style first, then extended style; little-endian words.
    // Extended: version 1 and signature 0xFFFF, help id, ex-style, style.
    const struct {
        Words before, after;
    } cases[] = {
        {{0x80C82000u | 0x4u, 0x2000u, 7, 9, 11}, {0x80C80004u, 0x2000u, 7, 9, 11}},
        {{0xFFFF0001u, 0x2000u, 0x2000u, 0x94C82004u, 5},
         {0xFFFF0001u, 0x2000u, 0x2000u, 0x94CF0004u, 5}},
        {{0xFFFF0001u, 0, 0, 0, 0}, {0xFFFF0001u, 0, 0, 0x00CF0000u, 0}},
    };
    for (const auto& c : cases) {
        unsigned char bytes[sizeof(Words)];
        std::memcpy(bytes, &c.before, sizeof bytes);
        adjust_sheet_template(bytes);
        const Words got = read(bytes);
        EXPECT_EQ(got.at0, c.after.at0);
        EXPECT_EQ(got.at4, c.after.at4);
        EXPECT_EQ(got.at8, c.after.at8);
        EXPECT_EQ(got.at12, c.after.at12);
        EXPECT_EQ(got.at16, c.after.at16);
    }
}

}  // namespace
}  // namespace sx::cpl
