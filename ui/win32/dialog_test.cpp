// The sample page in a real dialog, driven through real controls from a timer
// while the dialog's own modal loop runs: the same gestures as seam_test.cpp.
// Sheet pages (changed, apply) are the control panel's applet test's.
#include "ui/win32/dialog.h"

#include <gtest/gtest.h>

#include <vector>

#include "ui/testing/sample_page.h"
#include "ui/win32/testing/driven_window.h"

namespace sx::testing {
namespace {

// A real click: the cursor moves to the point, the button goes down and up.
bool click_at(HWND list, int x, int y) {
    POINT screen{x, y};
    ClientToScreen(list, &screen);
    SetCursorPos(screen.x, screen.y);
    PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    return PostMessageA(list, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

// The middle of a part (LVIR_ICON, LVIR_LABEL) of a row; the click point
// `below` the row's bounds.
bool click_row(HWND list, int row, int part, int below = 0) {
    RECT r{part, 0, 0, 0};
    SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&r));
    if (below) return click_at(list, 5, r.bottom + below);
    return click_at(list, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

TEST(RealDialog, SetTextToggleCheckClickRowsPressOk) {
    ASSERT_TRUE(ui::init_common_controls());
    SamplePage page;
    HWND window = nullptr, list = nullptr;
    std::string choice;
    auto click_button = [&](int id) { SendDlgItemMessageA(window, id, BM_CLICK, 0, 0); };
    TimerScript script;
    script.steps = {
        [&] {
            if (!(window = FindWindowA("#32770", "Sample"))) return false;
            list = GetDlgItem(window, IDC_SAMPLE_OPTIONS);
            auto images =
                reinterpret_cast<HIMAGELIST>(SendMessageA(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
            EXPECT_EQ(ImageList_GetImageCount(images), 2);  // both marks loaded
            EXPECT_EQ(dialog_text(window, IDC_SAMPLE_NAME), "hello");
            EXPECT_EQ(dialog_text(window, IDC_SAMPLE_CHOICE), "first");
            SetDlgItemTextA(window, IDC_SAMPLE_NAME, "world");
            click_button(IDC_SAMPLE_AGREE);
            return true;
        },
        [&] { return click_row(list, 0, LVIR_ICON); },   // toggles row 0 on
        [&] { return click_row(list, 1, LVIR_LABEL); },  // selects row 1 only
        [&] {
            EXPECT_EQ(dialog_text(window, IDC_SAMPLE_CHOICE), "second");
            return click_row(list, 0, LVIR_LABEL);
        },
        [&] { return click_row(list, 1, LVIR_BOUNDS, 8); },  // below the rows
        [&] {
            choice = dialog_text(window, IDC_SAMPLE_CHOICE);
            click_button(IDOK);
            return true;
        },
    };
    script.close = [] { EndDialog(FindWindowA("#32770", "Sample"), -2); };
    INT_PTR result = 0;
    script.run([&] {
        result = ui::run_modal_dialog(GetModuleHandleA(nullptr), IDD_SAMPLE, nullptr, page);
    });

    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(choice, "second");
    EXPECT_EQ(page.stored, "world 1 11");
    EXPECT_TRUE(page.destroyed_seen);
}

}  // namespace
}  // namespace sx::testing
