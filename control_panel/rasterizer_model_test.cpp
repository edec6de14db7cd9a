#include "control_panel/rasterizer_model.h"

#include <gtest/gtest.h>

#include "control_panel/cpl_test_support.h"
#include "platform/testing/faulty_platform.h"

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
    const Ids offered = parse_rasterizer_list(offered_rasterizers);
    const Rows unchecked = {{"Direct 3D with Acceleration", false},
                            {"Direct 3D without Acceleration", false},
                            {"OpenGL ICD", false},
                            {"3dfx OpenGL", false},
                            {"OpenGL MCD", false},
                            {"Stellarix Software Rasterizer", false}};
    Rows hidden_dotf = unchecked;
    hidden_dotf.insert(hidden_dotf.begin(), {"OpenGL Software", true});
    const Rows t3d_3dfx = {{"Stellarix Software Rasterizer", true},
                           {"3dfx OpenGL", true},
                           unchecked[0],
                           unchecked[1],
                           unchecked[2],
                           unchecked[4]};
    const std::pair<const char*, Rows> cases[] = {{"t3d,ogl_3dfx,eol", t3d_3dfx},
                                                  {"dotf,DOTF,ogl,eol", hidden_dotf},
                                                  {"D3D_HW,x,eol", unchecked}};
    for (const auto& [stored, rows] : cases)
        EXPECT_EQ(merge_rasterizer_rows(parse_rasterizer_list(stored), offered), rows) << stored;
    EXPECT_EQ(collect_enabled_ids(hidden_dotf), Ids{"ogl"});
}

class RasterizerRegistry : public testing::PlayerKeyTest {
protected:
    Notify recorder() {
        return [this](const char* text, const char* caption, uint32_t flags) {
            shown_.push_back(std::string(caption) + "|" + text + "|" + std::to_string(flags));
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
    EXPECT_EQ(shown_, Ids{"Stellarix Control Panel|You must select at least one rasterizer.|48"});
    EXPECT_EQ(stored_value(kRasterizersValue).bytes, "ogl_mcd,eol");
}

TEST_F(RasterizerRegistry, WithoutWriteAccessBothMessagesAndAnEmptyList) {
    FaultyPlatform faulty;
    faulty.fail_registry_create("Stellarix3D");
    ScopedPlatform scope(&faulty);
    Ids ids = {"stale"};
    EXPECT_FALSE(load_enabled_rasterizers(&ids, recorder()));
    EXPECT_TRUE(ids.empty());
    EXPECT_EQ(shown_, (Ids{"Stellarix Error|Failed to create Stellarix3D Registry Key.|0",
                           "Stellarix Error|Couldn't create rasterizers list registry entry.|0"}));
    EXPECT_FALSE(store_enabled_rasterizers({{"OpenGL ICD", true}}, recorder()));
    EXPECT_EQ(shown_.back(), std::string("Stellarix Error|") + kListSaveFailed + "|16");
}

TEST_F(RasterizerRegistry, LastRasterizerAndVideoCard) {
    EXPECT_EQ(last_rasterizer_name() + "|" + last_video_card(), "N/A|N/A");
    store_value(kLastRasterizerValue, kRegSz, std::string("dib\0", 4));
    store_value(kLastVideoCardValue, kRegSz, std::string("Card\0", 5));
    EXPECT_EQ(last_rasterizer_name() + "|" + last_video_card(),
              "Legacy Stellarix Software Rasterizer|Card");
    store_value(kLastRasterizerValue, kRegDword, std::string(4, '\0'));  // not a string
    EXPECT_EQ(last_rasterizer_name(), "N/A");
}

}  // namespace
}  // namespace sx::cpl
