#include "control_panel/rasterizer_model.h"

#include <gtest/gtest.h>

#include "control_panel/cpl_test_support.h"
#include "platform/testing/faulty_platform.h"

namespace sx::cpl {
namespace {

using test::Shown;
using test::store_value;
using test::stored_value;
using Ids = std::vector<std::string>;
using Rows = std::vector<RasterizerRow>;

TEST(RasterizerList, ParsesTheStoredText) {
    const struct {
        const char* text;
        Ids ids;
    } cases[] = {
        {"d3d_hw,ogl_icd,eol", {"d3d_hw", "ogl_icd"}},
        {"ogl_icd,,t3d,eol,d3d_hw", {"ogl_icd", "t3d"}},
        {"d3d_sw,t3d", {"d3d_sw", "t3d"}},
        {"", {}},
        {"eol", {}},
        {"D3D_HW, t3d,d3d_hw,d3d_hw,eol", {"D3D_HW", " t3d", "d3d_hw", "d3d_hw"}},
        {"eolx,eol", {"eolx"}},
        {",,,", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_rasterizer_list(c.text), c.ids) << c.text;
}

TEST(RasterizerList, FormatsIdsWithTheEndToken) {
    EXPECT_EQ(format_rasterizer_list({"t3d"}), "t3d,eol");
    EXPECT_EQ(format_rasterizer_list({"d3d_hw", "ogl_icd"}), "d3d_hw,ogl_icd,eol");
    for (const char* text : {offered_rasterizers, default_rasterizers})
        EXPECT_EQ(format_rasterizer_list(parse_rasterizer_list(text)), text);
}

TEST(RasterizerList, LooksUpExactly) {
    EXPECT_STREQ(find_rasterizer_by_id("ogl_icd")->display_name, "OpenGL ICD");
    EXPECT_EQ(find_rasterizer_by_id("OGL_ICD"), nullptr);
    EXPECT_EQ(find_rasterizer_by_id("ogl_ic"), nullptr);
    EXPECT_STREQ(find_rasterizer_by_name("OpenGL Software")->id, "ogl");
    EXPECT_EQ(find_rasterizer_by_name("opengl software"), nullptr);
    EXPECT_STREQ(find_rasterizer_by_name("Drop on the floor")->id, "dotf");
}

TEST(RasterizerList, MergesEnabledBeforeOffered) {
    const Ids offered = parse_rasterizer_list(offered_rasterizers);
    const struct {
        const char* stored;
        Rows rows;
    } cases[] = {
        {"t3d,ogl_3dfx,eol",
         {{"Stellarix Software Rasterizer", true},
          {"3dfx OpenGL", true},
          {"Direct 3D with Acceleration", false},
          {"Direct 3D without Acceleration", false},
          {"OpenGL ICD", false},
          {"OpenGL MCD", false}}},
        {"dotf,DOTF,ogl,eol",
         {{"OpenGL Software", true},
          {"Direct 3D with Acceleration", false},
          {"Direct 3D without Acceleration", false},
          {"OpenGL ICD", false},
          {"3dfx OpenGL", false},
          {"OpenGL MCD", false},
          {"Stellarix Software Rasterizer", false}}},
        {"D3D_HW,nonsense,eol",
         {{"Direct 3D with Acceleration", false},
          {"Direct 3D without Acceleration", false},
          {"OpenGL ICD", false},
          {"3dfx OpenGL", false},
          {"OpenGL MCD", false},
          {"Stellarix Software Rasterizer", false}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(merge_rasterizer_rows(parse_rasterizer_list(c.stored), offered), c.rows)
            << c.stored;
    EXPECT_EQ(
        collect_enabled_ids(merge_rasterizer_rows(parse_rasterizer_list("dotf,ogl,eol"), offered)),
        Ids{"ogl"});
}

TEST(RasterizerList, ResetRowsAreTheDefaultsThenTheRestOfTheOffer) {
    const Rows expected = {{"Direct 3D with Acceleration", true},
                           {"OpenGL ICD", true},
                           {"OpenGL MCD", true},
                           {"Direct 3D without Acceleration", true},
                           {"Stellarix Software Rasterizer", true},
                           {"3dfx OpenGL", false}};
    EXPECT_EQ(reset_rasterizer_rows(), expected);
}

TEST(RasterizerList, DescriptionOfTheSelectedRow) {
    const std::string icd = "OpenGL ICD", unknown = "OpenGL icd";
    EXPECT_EQ(rasterizer_description(&icd), find_rasterizer_by_id("ogl_icd")->description);
    EXPECT_EQ(rasterizer_description(&unknown), "N/A");
    EXPECT_EQ(rasterizer_description(nullptr), "N/A");
}

class RasterizerRegistry : public test::PlayerKeyTest {
protected:
    Notify recorder() {
        return [this](const char* text, const char* caption, uint32_t flags) {
            shown_.push_back({text, caption, flags});
        };
    }
    std::vector<Shown> shown_;
};

TEST_F(RasterizerRegistry, FirstLoadWritesTheDefaultAndDropsTheCardChoices) {
    store_value(kVideoCardOpenGlValue, kRegSz, "card");
    store_value(kVideoCardDirect3DValue, kRegDword, std::string(4, '\1'));
    Ids ids;
    ASSERT_TRUE(load_enabled_rasterizers(&ids, recorder()));
    EXPECT_EQ(ids, parse_rasterizer_list(default_rasterizers));
    EXPECT_TRUE(shown_.empty());
    const auto stored = stored_value(kRasterizersValue);
    EXPECT_EQ(stored.type, kRegSz);
    EXPECT_EQ(stored.bytes, default_rasterizers);  // counted, no terminating zero
    EXPECT_FALSE(stored_value(kVideoCardOpenGlValue).found);
    EXPECT_FALSE(stored_value(kVideoCardDirect3DValue).found);
}

TEST_F(RasterizerRegistry, AnEmptyStoredListIsKept) {
    store_value(kRasterizersValue, kRegSz, "");
    store_value(kVideoCardOpenGlValue, kRegSz, "card");
    Ids ids = {"stale"};
    ASSERT_TRUE(load_enabled_rasterizers(&ids, recorder()));
    EXPECT_TRUE(ids.empty());
    EXPECT_EQ(stored_value(kRasterizersValue).bytes, "");
    EXPECT_TRUE(stored_value(kVideoCardOpenGlValue).found);
}

TEST_F(RasterizerRegistry, AStoredValueIsReadAsCountedTextOfAnyType) {
    const struct {
        uint32_t type;
        std::string bytes;
        Ids ids;
    } cases[] = {
        {kRegSz, "ogl_icd,t3d", {"ogl_icd", "t3d"}},
        {kRegSz, std::string("t3d\0d3d_hw", 10), {"t3d"}},
        {kRegBinary, "d3d_sw,eol", {"d3d_sw"}},
    };
    for (const auto& c : cases) {
        store_value(kRasterizersValue, c.type, c.bytes);
        Ids ids;
        EXPECT_TRUE(load_enabled_rasterizers(&ids, recorder()));
        EXPECT_EQ(ids, c.ids);
    }
}

TEST_F(RasterizerRegistry, SavingWritesTheCheckedRowsCounted) {
    const struct {
        Rows rows;
        const char* stored;
    } cases[] = {
        {{{"OpenGL ICD", false}, {"OpenGL MCD", true}}, "ogl_mcd,eol"},
        {{{"OpenGL Software", true}, {"Direct 3D with Acceleration", true}}, "ogl,d3d_hw,eol"},
        {{{"Unknown", true}, {"3dfx OpenGL", true}}, "ogl_3dfx,eol"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(store_enabled_rasterizers(c.rows, recorder()));
        const auto stored = stored_value(kRasterizersValue);
        EXPECT_EQ(stored.type, kRegSz);
        EXPECT_EQ(stored.bytes, c.stored);
    }
    EXPECT_EQ(stored_value(kRasterizersValue).bytes.size(), 12u);
    EXPECT_TRUE(shown_.empty());
}

TEST_F(RasterizerRegistry, SavingNothingCheckedWarnsAndKeepsTheList) {
    store_value(kRasterizersValue, kRegSz, "t3d,eol");
    for (const Rows& rows : {Rows{}, Rows{{"OpenGL ICD", false}}, Rows{{"Unknown", true}}}) {
        shown_.clear();
        EXPECT_FALSE(store_enabled_rasterizers(rows, recorder()));
        EXPECT_EQ(shown_, (std::vector<Shown>{{"You must select at least one rasterizer.",
                                               "Stellarix Control Panel", kMbIconWarning}}));
    }
    EXPECT_EQ(stored_value(kRasterizersValue).bytes, "t3d,eol");
}

TEST_F(RasterizerRegistry, WithoutWriteAccessBothMessagesAndAnEmptyList) {
    FaultyPlatform faulty;
    faulty.fail_registry_create("Stellarix3D");
    ScopedPlatform scope(&faulty);
    Ids ids = {"stale"};
    EXPECT_FALSE(load_enabled_rasterizers(&ids, recorder()));
    EXPECT_TRUE(ids.empty());
    EXPECT_EQ(shown_,
              (std::vector<Shown>{
                  {"Failed to create Stellarix3D Registry Key.", "Stellarix Error", kMbOk},
                  {"Couldn't create rasterizers list registry entry.", "Stellarix Error", kMbOk}}));
    // Saving is silent then, and still counts as saved.
    shown_.clear();
    EXPECT_TRUE(store_enabled_rasterizers({{"OpenGL ICD", true}}, recorder()));
    EXPECT_TRUE(shown_.empty());
}

TEST_F(RasterizerRegistry, AFailedDefaultWriteOnlyTheSecondMessage) {
    FaultyPlatform faulty;
    faulty.fail_set_value(kRasterizersValue);
    store_value(kVideoCardOpenGlValue, kRegSz, "card");
    {
        ScopedPlatform scope(&faulty);
        Ids ids;
        EXPECT_FALSE(load_enabled_rasterizers(&ids, recorder()));
    }
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0].text, "Couldn't create rasterizers list registry entry.");
    EXPECT_TRUE(stored_value(kVideoCardOpenGlValue).found);
}

TEST_F(RasterizerRegistry, LastRasterizerAndVideoCard) {
    EXPECT_EQ(last_rasterizer_name(), "N/A");
    EXPECT_EQ(last_video_card(), "N/A");
    const struct {
        uint32_t type;
        std::string id, card;
        const char* name;
        const char* shown_card;
    } cases[] = {
        {kRegSz, "ogl_icd", "Card X 3D", "OpenGL ICD", "Card X 3D"},
        {kRegSz, std::string("dib\0", 4), std::string("Card\0", 5),
         "Legacy Stellarix Software Rasterizer", "Card"},
        {kRegSz, "future_one", "", "future_one", ""},
        {kRegDword, std::string(4, '\0'), std::string(4, '\0'), "N/A", "N/A"},
        {kRegExpandSz, "t3d", "Card", "N/A", "N/A"},
    };
    for (const auto& c : cases) {
        store_value(kLastRasterizerValue, c.type, c.id);
        store_value(kLastVideoCardValue, c.type, c.card);
        EXPECT_EQ(last_rasterizer_name(), c.name);
        EXPECT_EQ(last_video_card(), c.shown_card);
    }
}

}  // namespace
}  // namespace sx::cpl
