#include "control_panel/sheet_template.h"

#include <gtest/gtest.h>

#include <cstring>

namespace sx::cpl {
namespace {

TEST(SheetTemplate, StyleFieldOfEachKind) {
    // Little-endian 32-bit words. Classic: style first. Extended: version 1
    // and signature 0xFFFF, help id, extended style, then the style.
    const uint32_t cases[][2][4] = {
        {{0x80C82004u, 0x2000u, 7, 9}, {0x80C80004u, 0x2000u, 7, 9}},
        {{0xFFFF0001u, 0x2000u, 0x2000u, 0x94C82004u},
         {0xFFFF0001u, 0x2000u, 0x2000u, 0x94CF0004u}},
    };
    for (const auto& c : cases) {
        uint32_t words[4];
        std::memcpy(words, c[0], sizeof words);
        adjust_sheet_template(words);
        EXPECT_EQ(std::memcmp(words, c[1], sizeof words), 0)
            << std::hex << words[0] << " " << words[3];
    }
}

}  // namespace
}  // namespace sx::cpl
