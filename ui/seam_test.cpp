// Page logic through the in-memory dialog, and the terminal view.
#include <gtest/gtest.h>

#include <sstream>

#include "ui/terminal_view.h"
#include "ui/testing/fake_dialog.h"
#include "ui/testing/sample_page.h"

namespace sx::testing {
namespace {

// The same gestures as the real dialog's test (win32/dialog_test.cpp).
TEST(SampleSeam, SetTextToggleCheckClickRowsPressOk) {
    SamplePage page;
    FakeDialog dialog(page,
                      {IDC_SAMPLE_NAME, IDC_SAMPLE_AGREE, IDC_SAMPLE_OPTIONS, IDC_SAMPLE_CHOICE});
    ASSERT_TRUE(dialog.open());
    FakeView& view = dialog.view();
    EXPECT_EQ(view.text(IDC_SAMPLE_NAME), "hello");
    EXPECT_EQ(view.text(IDC_SAMPLE_CHOICE), "first");  // selecting row 0 described it
    dialog.type_text(IDC_SAMPLE_NAME, "world");
    dialog.toggle_check(IDC_SAMPLE_AGREE);
    dialog.click_row(IDC_SAMPLE_OPTIONS, 0, true);   // toggles row 0 on
    dialog.click_row(IDC_SAMPLE_OPTIONS, 1, false);  // selects row 1 only
    EXPECT_EQ(view.text(IDC_SAMPLE_CHOICE), "second");
    dialog.click_row(IDC_SAMPLE_OPTIONS, 0, false);
    dialog.click_below_rows(IDC_SAMPLE_OPTIONS);  // the last row
    EXPECT_EQ(view.text(IDC_SAMPLE_CHOICE), "second");
    EXPECT_TRUE(dialog.press_ok());

    EXPECT_EQ(page.agree_clicks, 1);
    EXPECT_EQ(page.mark_changes, 1);
    EXPECT_EQ(page.stored, "world 1 11");
    EXPECT_EQ(view.end_result(), ui::kIdOk);
    EXPECT_TRUE(view.strays.empty());
    dialog.close();
    EXPECT_TRUE(page.destroyed_seen);
}

// As the real controls do, positions stay inside their ranges (an up-down's
// top may be below its bottom); a dialog disabled whole disables controls
// named later too.
TEST(MemoryControls, ClampAndDisableAll) {
    FakeView view;
    view.set_spin_range(5, 2, 0);
    view.set_spin_position(5, 3);
    view.set_slider_range(6, 0, 1000);
    view.set_slider_position(6, 1200);
    EXPECT_EQ(view.control(5).spin_position, 2);
    EXPECT_EQ(view.slider_position(6), 1000);
    view.disable_all();
    EXPECT_FALSE(view.enabled(77));
}

// Answers are read until one fits, and fail at the end of the input.
TEST(TerminalView, AsksAndRuns) {
    EXPECT_EQ(ui::parse_answer("  YES \r", ui::Buttons::yes_no), ui::Answer::yes);
    EXPECT_EQ(ui::parse_answer("c", ui::Buttons::ok_cancel), ui::Answer::cancel);
    EXPECT_EQ(ui::parse_answer("yes", ui::Buttons::ok_cancel), ui::Answer::failed);
    std::istringstream in("yess\nn\n");
    std::ostringstream out;
    ui::TerminalView view(in, out);
    EXPECT_EQ(view.ask("Remove it?", "Stellarix", ui::Buttons::yes_no, ui::Icon::question),
              ui::Answer::no);
    EXPECT_EQ(out.str(), "Stellarix: Remove it?\n[y/n] [y/n] ");
    EXPECT_EQ(view.ask("Again?", "Stellarix", ui::Buttons::yes_no, ui::Icon::question),
              ui::Answer::failed);
#ifdef _WIN32
    const ui::RunResult ran = view.run_and_wait("cmd.exe /c exit 3");
#else
    const ui::RunResult ran = view.run_and_wait("Z:\\bin\\sh -c \"exit 3\"");
#endif
    EXPECT_TRUE(ran.started);
    EXPECT_EQ(ran.exit_code, 3u);
    EXPECT_FALSE(view.run_and_wait("Z:\\no\\such\\program.exe").started);
}

}  // namespace
}  // namespace sx::testing
