#include "control_panel/rasterizer_model.h"

#include <gtest/gtest.h>

#include <tuple>

#include "control_panel/cpl_test_support.h"

namespace sx::cpl {
namespace {

using testing::store_value;
using testing::stored_value;
using Ids = std::vector<std::string>;
using Rows = std::vector<RasterizerRow>;

// Stored ids, compared case-sensitively, come first and checked; the offered
// rest follow unchecked; unknown and hidden ids are left out.
TEST(RasterizerList, ParsesAndMergesEnabledBeforeOffered) {
    EXPECT_EQ(parse_rasterizer_list("ogl_icd,,t3d,eol,d3d_hw"), (Ids{"ogl_icd", "t3d"}));
    EXPECT_EQ(parse_rasterizer_list(" t3d,t3d,eolx"), (Ids{" t3d", "t3d", "eolx"}));
    EXPECT_EQ(format_rasterizer_list({"t3d"}), "t3d,eol");
    const auto merged = [](const char* stored) {  // "+" marks a checked row
        std::string text;
        for (const RasterizerRow& row : merge_rasterizer_rows(
                 parse_rasterizer_list(stored), parse_rasterizer_list(offered_rasterizers)))
            text += (row.checked ? "+" : "") + row.name + ",";
        return text;
    };
    const std::string offer = "Direct 3D with Acceleration,Direct 3D without Acceleration,";
    EXPECT_EQ(merged("t3d,ogl_3dfx,eol"),
              "+Stellarix Software Rasterizer,+3dfx OpenGL," + offer + "OpenGL ICD,OpenGL MCD,");
    EXPECT_EQ(merged("dotf,DOTF,ogl,eol"), "+OpenGL Software," + offer +
                                               "OpenGL ICD,3dfx OpenGL,OpenGL MCD,Stellarix "
                                               "Software Rasterizer,");
    EXPECT_EQ(merged("D3D_HW,x,eol"),
              offer + "OpenGL ICD,3dfx OpenGL,OpenGL MCD,Stellarix Software Rasterizer,");
    EXPECT_EQ(collect_enabled_ids({{"OpenGL Software", true}, {"OpenGL ICD", false}}), Ids{"ogl"});
}

class RasterizerRegistry : public testing::PlayerKeyTest {
protected:
    Notify recorder() {
        return [this](const char* text, const char* caption, ui::Icon icon) {
            const bool warning = icon == ui::Icon::warning;
            shown_.push_back(std::string(caption) + "|" + text + (warning ? "|warning" : ""));
        };
    }
    std::vector<std::string> shown_;
};

// The default replaces no list only; a long list and an empty one are lists.
TEST_F(RasterizerRegistry, FirstLoadWritesTheDefaultOnce) {
    store_value(kVideoCardOpenGlValue, kRegSz, "card");
    store_value(kVideoCardDirect3DValue, kRegDword, std::string(4, '\1'));
    Ids ids;
    ASSERT_TRUE(load_enabled_rasterizers(&ids, recorder()));
    EXPECT_EQ(ids, parse_rasterizer_list(default_rasterizers));
    EXPECT_EQ(stored_value(kRasterizersValue).bytes, default_rasterizers);  // no zero byte
    EXPECT_FALSE(stored_value(kVideoCardOpenGlValue).found ||
                 stored_value(kVideoCardDirect3DValue).found);
    const std::string long_list = std::string(1100, ',') + "ogl,eol";
    store_value(kRasterizersValue, kRegSz, long_list);
    ASSERT_TRUE(load_enabled_rasterizers(&ids, recorder()));
    EXPECT_EQ(ids, Ids{"ogl"});
    EXPECT_EQ(stored_value(kRasterizersValue).bytes, long_list);
    store_value(kRasterizersValue, kRegSz, "");
    store_value(kVideoCardOpenGlValue, kRegSz, "card");
    ASSERT_TRUE(load_enabled_rasterizers(&ids, recorder()));
    EXPECT_TRUE(ids.empty());
    EXPECT_TRUE(stored_value(kVideoCardOpenGlValue).found);
    EXPECT_TRUE(shown_.empty());
}

TEST_F(RasterizerRegistry, SavesCountedTextOrRefusesAnEmptyList) {
    ASSERT_TRUE(
        store_enabled_rasterizers({{"OpenGL ICD", false}, {"OpenGL MCD", true}}, recorder()));
    EXPECT_EQ(stored_value(kRasterizersValue).type, kRegSz);
    EXPECT_EQ(stored_value(kRasterizersValue).bytes, "ogl_mcd,eol");  // without a zero byte
    EXPECT_FALSE(store_enabled_rasterizers({{"Unknown", true}, {"OpenGL ICD", false}}, recorder()));
    EXPECT_EQ(shown_,
              Ids{"Stellarix Control Panel|You must select at least one rasterizer.|warning"});
    EXPECT_EQ(stored_value(kRasterizersValue).bytes, "ogl_mcd,eol");
}

// What the player recorded last, as the page and the report show it.
TEST_F(RasterizerRegistry, LastUsedValuesAlwaysShowAText) {
    const std::string dword("\1\0\0\0", 4);
    const std::tuple<uint32_t, std::string, const char*> rasterizers[] = {
        {kRegNone, "", "N/A"},  // missing
        {kRegSz, "", "N/A"},
        {kRegSz, std::string("\0ogl", 4), "N/A"},
        {kRegDword, dword, "N/A"},
        {kRegSz, "ogl_icd", "OpenGL ICD"},
        {kRegSz, std::string("ogl_icd\0x", 9), "OpenGL ICD"},
        {kRegSz, "OGL_ICD", "OGL_ICD"},           // unknown ids as the player wrote them
        {kRegSz, std::string(1025, 'a'), "N/A"},  // more than its buffer holds
    };
    for (const auto& [type, bytes, shown] : rasterizers) {
        testing::wipe_player_key();
        if (type != kRegNone) store_value(kLastRasterizerValue, type, bytes);
        EXPECT_EQ(last_rasterizer_name(), shown) << bytes;
    }
    EXPECT_EQ(last_video_card(), "N/A");
    store_value(kLastVideoCardValue, kRegSz, "Card 9");
    EXPECT_EQ(last_video_card(), "Card 9");
}

}  // namespace
}  // namespace sx::cpl
