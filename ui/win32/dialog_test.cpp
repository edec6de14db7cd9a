// The sample page in real dialogs, driven through real controls from a timer
// while the dialog's own modal loop runs: the same logic as seam_test.cpp.
#include "ui/win32/dialog.h"

#include <gtest/gtest.h>

#include <vector>

#include "ui/testing/sample_page.h"
#include "ui/win32/testing/driven_window.h"

namespace sx::testing {
namespace {

// A page that tells the test its window and counts its applies.
struct DrivenPage : SamplePage {
    HWND window = nullptr;
    int applies = 0;
    bool init(ui::DialogView& view) override {
        window = static_cast<ui::Win32View&>(view).window();
        return SamplePage::init(view);
    }
    ui::ApplyResult apply() override {
        ++applies;
        return SamplePage::apply();
    }
};

HINSTANCE self() { return GetModuleHandleA(nullptr); }

RECT row_rect(HWND list, int row, int part) {
    RECT rect{};
    rect.left = part;
    SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&rect));
    return rect;
}

// A real click: the cursor moves to the point, the button goes down and up.
bool click_at(HWND list, int x, int y) {
    POINT screen{x, y};
    ClientToScreen(list, &screen);
    SetCursorPos(screen.x, screen.y);
    PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    return PostMessageA(list, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

bool click_part(HWND list, int row, int part) {
    const RECT r = row_rect(list, row, part);
    return click_at(list, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

void click_button(HWND dialog, int id) { SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0); }

class RealDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(ui::init_common_controls()); }
    DrivenPage page_;
    TimerScript script_;
};

TEST_F(RealDialog, SetTextToggleCheckClickRowsPressOk) {
    HWND list = nullptr;
    std::string choice;
    script_.steps = {
        [&] {
            list = GetDlgItem(page_.window, IDC_SAMPLE_OPTIONS);
            RECT client;
            GetClientRect(list, &client);
            EXPECT_EQ(SendMessageA(list, LVM_GETCOLUMNWIDTH, 0, 0), client.right * 9 / 10);
            auto images =
                reinterpret_cast<HIMAGELIST>(SendMessageA(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
            EXPECT_EQ(ImageList_GetImageCount(images), 2);  // both marks loaded
            EXPECT_EQ(dialog_text(page_.window, IDC_SAMPLE_NAME), "hello");
            EXPECT_EQ(dialog_text(page_.window, IDC_SAMPLE_CHOICE), "first");
            SetDlgItemTextA(page_.window, IDC_SAMPLE_NAME, "world");
            click_button(page_.window, IDC_SAMPLE_AGREE);
            return true;
        },
        [&] { return click_part(list, 0, LVIR_ICON); },   // toggles row 0 on
        [&] { return click_part(list, 1, LVIR_LABEL); },  // selects row 1 only
        [&] {
            EXPECT_EQ(dialog_text(page_.window, IDC_SAMPLE_CHOICE), "second");
            return click_part(list, 0, LVIR_LABEL);
        },
        [&] { return click_at(list, 5, row_rect(list, 1, LVIR_BOUNDS).bottom + 8); },  // below
        [&] {
            choice = dialog_text(page_.window, IDC_SAMPLE_CHOICE);
            click_button(page_.window, IDOK);
            return true;
        },
    };
    script_.close = [&] { EndDialog(page_.window, -2); };
    INT_PTR result = 0;
    script_.run([&] { result = ui::run_modal_dialog(self(), IDD_SAMPLE, nullptr, page_); });

    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(page_.agree_clicks, 1);
    EXPECT_EQ(page_.mark_changes, 1);
    EXPECT_EQ(choice, "second");
    ASSERT_TRUE(page_.stored.has_value());
    EXPECT_EQ(page_.stored->name, "world");
    EXPECT_TRUE(page_.stored->agreed);
    EXPECT_EQ(page_.stored->marks, (std::vector<bool>{true, true}));
    EXPECT_TRUE(page_.destroyed_seen);
}

TEST_F(RealDialog, SheetPageMarksChangedAndMayRefuseToApply) {
    constexpr int kApplyButton = 0x3021;
    HWND sheet = nullptr;
    bool apply_at_start = true, apply_after_click = false, open_after_refusal = false;
    script_.steps = {
        [&] {
            sheet = GetParent(page_.window);
            apply_at_start = IsWindowEnabled(GetDlgItem(sheet, kApplyButton));
            click_button(page_.window, IDC_SAMPLE_AGREE);
            apply_after_click = IsWindowEnabled(GetDlgItem(sheet, kApplyButton));
            SetDlgItemTextA(page_.window, IDC_SAMPLE_NAME, "");
            SendMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);  // refused: stays open
            return true;
        },
        [&] {
            open_after_refusal = IsWindowVisible(sheet);
            SetDlgItemTextA(page_.window, IDC_SAMPLE_NAME, "kept");
            SendMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
            return true;
        },
    };
    script_.close = [&] { PostMessageA(sheet, WM_COMMAND, IDCANCEL, 0); };
    PROPSHEETPAGEA record = ui::sheet_page_record(self(), IDD_SAMPLE, page_);
    PROPSHEETHEADERA header{};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE;
    header.pszCaption = "Sample sheet";
    header.nPages = 1;
    header.ppsp = &record;
    script_.run([&] { PropertySheetA(&header); });

    EXPECT_FALSE(apply_at_start);
    EXPECT_TRUE(apply_after_click);
    EXPECT_TRUE(open_after_refusal);
    EXPECT_EQ(page_.applies, 2);
    ASSERT_TRUE(page_.stored.has_value());
    EXPECT_EQ(page_.stored->name, "kept");
    EXPECT_TRUE(page_.stored->agreed);
}

}  // namespace
}  // namespace sx::testing
