// Page logic through the in-memory dialog.
#include <gtest/gtest.h>

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

    EXPECT_EQ(page.stored, "world 1 11");
    EXPECT_EQ(view.changed_count(), 2);  // the check box and the mark
    EXPECT_EQ(view.end_result(), ui::kIdOk);
    EXPECT_TRUE(view.strays.empty());
    dialog.close();
    EXPECT_TRUE(page.destroyed_seen);
    view.disable_all();  // disables the controls named later too
    EXPECT_FALSE(view.enabled(IDC_SAMPLE_NAME + 100));
}

}  // namespace
}  // namespace sx::testing
