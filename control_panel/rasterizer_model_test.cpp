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

TEST(RasterizerList, Parses) {
    const struct {
        const char* text;
        Ids ids;
    } cases[] = {
        {"ogl_icd,,t3d,eol,d3d_hw", {"ogl_icd", "t3d"}},
        {"d3d_sw,t3d", {"d3d_sw", "t3d"}},
        {"", {}},
        {"D3D_HW, t3d,t3d,eolx", {"D3D_HW", " t3d", "t3d", "eolx"}},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_rasterizer_list(c.text), c.ids) << c.text;
    EXPECT_EQ(format_rasterizer_list({"t3d"}), "t3d,eol");
}

TEST(RasterizerList, MergesEnabledBeforeOffered) {
    const Ids offered = parse_rasterizer_list(offered_rasterizers);
    const Rows unchecked_offer = {{"Direct 3D with Acceleration", false},
                                  {"Direct 3D without Acceleration", false},
                                  {"OpenGL ICD", false},
                                  {"3dfx OpenGL", false},
                                  {"OpenGL MCD", false},
                                  {"Stellarix Software Rasterizer", false}};
    Rows hidden_dotf = unchecked_offer;
    hidden_dotf.insert(hidden_dotf.begin(), {"OpenGL Software", true});
    const struct {
        const char* stored;
        Rows rows;
    } cases[] = {
        {"t3d,ogl_3dfx,eol",
         {{"Stellarix Software Rasterizer", true},
          {"3dfx OpenGL", true},
          unchecked_offer[0],
          unchecked_offer[1],
          unchecked_offer[2],
          unchecked_offer[4]}},
        {"dotf,DOTF,ogl,eol", hidden_dotf},
        {"D3D_HW,nonsense,eol", unchecked_offer},
    };
    for (const auto& c : cases)
        EXPECT_EQ(merge_rasterizer_rows(parse_rasterizer_list(c.stored), offered), c.rows);
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

TEST_F(RasterizerRegistry, FirstLoadWritesTheDefaultOnce) {
    store_value(kVideoCardOpenGlValue, kRegSz, "card");
    store_value(kVideoCardDirect3DValue, kRegDword, std::string(4, '\1'));
    Ids ids;
    ASSERT_TRUE(load_enabled_rasterizers(&ids, recorder()));
    EXPECT_EQ(ids, parse_rasterizer_list(default_rasterizers));
    EXPECT_EQ(stored_value(kRasterizersValue).bytes, default_rasterizers);  // no zero byte
    EXPECT_FALSE(stored_value(kVideoCardOpenGlValue).found);
    EXPECT_FALSE(stored_value(kVideoCardDirect3DValue).found);
    // A long list and an empty one are lists: read, not replaced.
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
    const auto stored = stored_value(kRasterizersValue);
    EXPECT_EQ(stored.type, kRegSz);
    EXPECT_EQ(stored.bytes, "ogl_mcd,eol");  // counted without a zero byte
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
    const struct {
        uint32_t type;
        std::string id, card;
        const char* shown;
    } cases[] = {
        {kRegSz, "ogl_icd", "Card X", "OpenGL ICD|Card X"},
        {kRegSz, std::string("dib\0", 4), std::string("Card\0", 5),
         "Legacy Stellarix Software Rasterizer|Card"},
        {kRegDword, std::string(4, '\0'), std::string(4, '\0'), "N/A|N/A"},
    };
    for (const auto& c : cases) {
        store_value(kLastRasterizerValue, c.type, c.id);
        store_value(kLastVideoCardValue, c.type, c.card);
        EXPECT_EQ(last_rasterizer_name() + "|" + last_video_card(), c.shown);
    }
}

}  // namespace
}  // namespace sx::cpl
