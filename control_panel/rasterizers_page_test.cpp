#include "control_panel/rasterizers_page.h"

#include <gtest/gtest.h>

#include "control_panel/cpl_test_support.h"
#include "control_panel/resource.h"
#include "platform/testing/faulty_platform.h"
#include "ui/testing/fake_dialog.h"

namespace sx::cpl {
namespace {

using testing::store_value;
using testing::stored_value;
using Rows = std::vector<RasterizerRow>;

class RasterizersPageTest : public testing::PlayerKeyTest {
protected:
    RasterizersPageTest()
        : page_({.shorten_path = [](std::string*) { return true; },
                 .show_report = [](const std::string&) {},
                 .report = &report_}),
          dialog_(page_, {IDC_RASTERIZER_LIST, IDC_RASTERIZER_SPIN, IDC_RASTERIZER_DESCRIPTION,
                          IDC_VIDEO_CARD, IDC_LAST_RASTERIZER, IDC_TEST_SELECTED, IDC_SHOW_CONFIG,
                          IDC_USE_DEFAULTS}) {}

    void open(const char* stored) {
        store_value(kRasterizersValue, kRegSz, stored);
        ASSERT_TRUE(dialog_.open());
        ASSERT_TRUE(view().strays.empty());
    }
    sx::testing::FakeView& view() { return dialog_.view(); }
    int selected() { return view().list_selected(IDC_RASTERIZER_LIST); }
    std::string last_question() {
        return view().questions.empty() ? "" : view().questions.back().text;
    }

    std::string report_;
    RasterizersPage page_;
    sx::testing::FakeDialog dialog_;
};

TEST_F(RasterizersPageTest, MovesKeepTextAndMarkTogetherAndAnEmptyListIsRefused) {
    open("t3d,eol");
    const Rows before = page_.rows();
    EXPECT_EQ(view().text(IDC_RASTERIZER_DESCRIPTION), find_rasterizer_by_id("t3d")->description);
    dialog_.press_spin(IDC_RASTERIZER_SPIN, true);  // the top row cannot go up
    dialog_.click_row(IDC_RASTERIZER_LIST, int(before.size()) - 1, false);
    dialog_.press_spin(IDC_RASTERIZER_SPIN, false);  // nor the bottom one down
    EXPECT_EQ(page_.rows(), before);
    EXPECT_EQ(view().changed_count(), 0);
    dialog_.click_row(IDC_RASTERIZER_LIST, 0, false);
    dialog_.press_spin(IDC_RASTERIZER_SPIN, false);
    Rows expected = before;
    std::swap(expected[0], expected[1]);
    EXPECT_EQ(page_.rows(), expected);
    EXPECT_EQ(selected(), 1);
    EXPECT_EQ(view().changed_count(), 1);
    EXPECT_EQ(view().control(IDC_RASTERIZER_SPIN).spin_position, 1);
    dialog_.press_key(IDC_RASTERIZER_LIST, ui::kKeySpace);  // nothing is checked now
    EXPECT_EQ(dialog_.apply(), ui::ApplyResult::invalid);
    EXPECT_EQ(stored_value(kRasterizersValue).bytes, "t3d,eol");
}

TEST_F(RasterizersPageTest, ResetThenCancelLeavesTheRegistry) {
    open("ogl,eol");
    view().answers = {ui::Answer::yes};
    dialog_.click(IDC_USE_DEFAULTS);
    EXPECT_EQ(page_.rows(), reset_rasterizer_rows());
    EXPECT_EQ(selected(), -1);
    EXPECT_EQ(view().questions.at(0).buttons, ui::Buttons::yes_no);
    dialog_.cancel();
    EXPECT_EQ(stored_value(kRasterizersValue).bytes, "ogl,eol");
}

TEST_F(RasterizersPageTest, WithoutWriteAccessThePageIsViewOnly) {
    FaultyPlatform faulty;
    faulty.fail_registry_create("Stellarix3D");
    ScopedPlatform scope(&faulty);
    ASSERT_TRUE(dialog_.open());
    ASSERT_EQ(view().questions.size(), 2u);
    EXPECT_EQ(view().questions[0].text + "|" + view().questions[1].text,
              "Failed to create Stellarix3D Registry Key.|Couldn't create rasterizers list "
              "registry entry.");
    EXPECT_FALSE(view().dialog_enabled());
    EXPECT_EQ(page_.rows(), merge_rasterizer_rows({}, parse_rasterizer_list(offered_rasterizers)));
    // Nothing is checked, yet OK closes the sheet: a page that only shows never refuses.
    EXPECT_EQ(dialog_.apply(), ui::ApplyResult::saved);
    EXPECT_EQ(view().questions.size(), 2u);
}

// OK on an untouched page keeps the stored list byte for byte, also one the
// rows cannot give back (hidden and unknown ids, a zero byte, nothing
// checked); a real change is stored.
TEST_F(RasterizersPageTest, AnUntouchedPageStoresNothing) {
    const std::string lists[] = {"dotf,ogl,eol", "D3D_HW,eol", std::string("t3d,eol\0", 8),
                                 "x,,t3d,eol,junk"};
    for (const std::string& list : lists) {
        RasterizersPage page({.shorten_path = nullptr, .show_report = nullptr, .report = &report_});
        sx::testing::FakeDialog dialog(page);
        store_value(kRasterizersValue, kRegSz, list);
        ASSERT_TRUE(dialog.open());
        dialog.click_row(IDC_RASTERIZER_LIST, 1, false);  // selecting is no edit
        EXPECT_EQ(dialog.apply(), ui::ApplyResult::saved) << list;
        EXPECT_EQ(stored_value(kRasterizersValue).bytes, list);
        EXPECT_TRUE(dialog.view().questions.empty());
    }
    open("dotf,ogl,eol");
    dialog_.click_row(IDC_RASTERIZER_LIST, 1, true);
    dialog_.click_row(IDC_RASTERIZER_LIST, 1, true);  // checked and unchecked again
    EXPECT_EQ(dialog_.apply(), ui::ApplyResult::saved);
    EXPECT_EQ(stored_value(kRasterizersValue).bytes, "dotf,ogl,eol");
    dialog_.click_row(IDC_RASTERIZER_LIST, 1, true);
    EXPECT_EQ(dialog_.apply(), ui::ApplyResult::saved);
    EXPECT_EQ(stored_value(kRasterizersValue).bytes, "ogl,d3d_hw,eol");
}

TEST_F(RasterizersPageTest, TestLaunchThatCannotStartTellsWhy) {
    open("ogl_icd,eol");
    store_value(kLauncherPathValue, kRegSz, "C:\\Program Files\\Stellarix Player\\Stellarix3D.exe");
    dialog_.click(IDC_TEST_SELECTED);
    EXPECT_EQ(last_question(), kNoTestApplet);
    // A line that would not fit in the launcher's buffer is not cut short.
    store_value(kTestAppletValue, kRegSz, "C:\\" + std::string(250, 'a'));
    store_value(kLauncherPathValue, kRegSz, "C:\\" + std::string(760, 'p'));
    dialog_.click(IDC_TEST_SELECTED);
    EXPECT_EQ(last_question(), kCommandTooLong);
    EXPECT_EQ(view().questions.back().caption, "Stellarix Error.");
    EXPECT_TRUE(view().command_lines.empty());
    std::string line;
    EXPECT_TRUE(build_test_command(std::string(1004, 'x'), "", "t3d", &line));  // 1023 bytes
    EXPECT_FALSE(build_test_command(std::string(1005, 'x'), "", "t3d", &line));
}

}  // namespace
}  // namespace sx::cpl
