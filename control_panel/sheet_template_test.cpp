#include "control_panel/sheet_template.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

namespace sx::cpl {
namespace {

// The style field of both kinds of dialog template, written out by hand:
// the classic one starts with it; the extended one has it after its
// version, 0xFFFF signature, help id and extended style.
TEST(SheetTemplate, NoHelpButtonAndAFrameOnlyForExtendedTemplates) {
    const std::tuple<bool, uint32_t, uint32_t> cases[] = {
        {false, 0x80C82000u, 0x80C80000u},  // classic: only the help style goes
        {false, 0x00000004u, 0x00000004u},
        {true, 0x80C82000u, 0x80CF0000u},  // extended: the frame styles are added
        {true, 0x00000000u, 0x00CF0000u},
    };
    for (const auto& [extended, style, adjusted] : cases) {
        unsigned char bytes[32];
        std::memset(bytes, 0xAB, sizeof bytes);
        const size_t offset = extended ? 12 : 0;
        if (extended) {
            const uint16_t version = 1, signature = 0xFFFF;
            std::memcpy(bytes, &version, 2);
            std::memcpy(bytes + 2, &signature, 2);
        }
        std::memcpy(bytes + offset, &style, 4);
        unsigned char expected[32];
        std::memcpy(expected, bytes, sizeof bytes);
        std::memcpy(expected + offset, &adjusted, 4);
        adjust_sheet_template(bytes);
        EXPECT_EQ(std::memcmp(bytes, expected, sizeof bytes), 0) << std::hex << style;
    }
}

}  // namespace
}  // namespace sx::cpl
