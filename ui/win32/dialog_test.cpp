// The sample page in real dialogs: the same logic as the fake dialog's tests,
// driven through real controls from a timer while the dialog's own modal loop
// runs.
#include "ui/win32/dialog.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "ui/testing/sample_page.h"

namespace sx::test {
namespace {

constexpr int kApplyButton = 0x3021;  // the property sheet's Apply button

// A page that tells the test its window and counts its applies.
class DrivenPage : public SamplePage {
public:
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

// Steps run one per timer tick, so that the messages each step posts are
// handled before the next. After the last step, `give_up` closes whatever is
// still open, so that a failing test ends rather than hangs.
struct Script {
    std::vector<std::function<void()>> steps;
    std::function<void()> give_up;
    size_t next = 0;
    int idle_ticks = 0;
    bool busy = false;
};
Script* g_script = nullptr;

VOID CALLBACK script_tick(HWND, UINT, UINT_PTR, DWORD) {
    Script& script = *g_script;
    if (script.busy) return;  // a step that pumps messages itself is still running
    script.busy = true;
    if (script.next < script.steps.size()) {
        script.steps[script.next++]();
    } else if (++script.idle_ticks == 100 && script.give_up) {
        script.give_up();
    }
    script.busy = false;
}

class RunningScript {
public:
    explicit RunningScript(Script& script) : timer_(SetTimer(nullptr, 0, 30, script_tick)) {
        g_script = &script;
    }
    ~RunningScript() {
        KillTimer(nullptr, timer_);
        g_script = nullptr;
    }

private:
    UINT_PTR timer_;
};

HINSTANCE self() { return GetModuleHandleA(nullptr); }

RECT row_rect(HWND list, int row, int part) {
    RECT rect{};
    rect.left = part;
    SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&rect));
    return rect;
}

// A real mouse click: the cursor goes to the point, then the button goes
// down and up there.
void click_at(HWND list, int x, int y) {
    POINT screen{x, y};
    ClientToScreen(list, &screen);
    SetCursorPos(screen.x, screen.y);
    PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    PostMessageA(list, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

void click_part(HWND list, int row, int part) {
    const RECT rect = row_rect(list, row, part);
    click_at(list, (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
}

std::string item_text(HWND dialog, int id) {
    char text[256] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

class RealDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(ui::init_common_controls()); }
};

TEST_F(RealDialog, SetTextToggleCheckClickRowsPressOk) {
    DrivenPage page;
    HWND list = nullptr;
    std::string choice_after_clicks;
    Script script;
    script.steps = {
        [&] {
            list = GetDlgItem(page.window, IDC_SAMPLE_OPTIONS);
            RECT client;
            GetClientRect(list, &client);
            EXPECT_EQ(SendMessageA(list, LVM_GETCOLUMNWIDTH, 0, 0), client.right * 9 / 10);
            HIMAGELIST images =
                reinterpret_cast<HIMAGELIST>(SendMessageA(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
            EXPECT_EQ(ImageList_GetImageCount(images), 2);  // both marks loaded
            EXPECT_EQ(item_text(page.window, IDC_SAMPLE_NAME), "hello");
            EXPECT_EQ(item_text(page.window, IDC_SAMPLE_CHOICE), "first");
            SetDlgItemTextA(page.window, IDC_SAMPLE_NAME, "world");
            SendDlgItemMessageA(page.window, IDC_SAMPLE_AGREE, BM_CLICK, 0, 0);
        },
        [&] { click_part(list, 0, LVIR_ICON); },   // toggles row 0 on
        [&] { click_part(list, 1, LVIR_LABEL); },  // selects row 1, no toggle
        [&] {
            EXPECT_EQ(item_text(page.window, IDC_SAMPLE_CHOICE), "second");
            click_part(list, 0, LVIR_LABEL);
        },
        [&] {
            const RECT last = row_rect(list, 1, LVIR_BOUNDS);
            click_at(list, 5, last.bottom + 8);  // below the rows: the last row
        },
        [&] {
            choice_after_clicks = item_text(page.window, IDC_SAMPLE_CHOICE);
            SendDlgItemMessageA(page.window, IDOK, BM_CLICK, 0, 0);
        },
    };
    script.give_up = [&] { EndDialog(page.window, -2); };
    INT_PTR result;
    {
        RunningScript running(script);
        result = ui::run_modal_dialog(self(), IDD_SAMPLE, nullptr, page);
    }
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(page.agree_clicks, 1);
    EXPECT_EQ(page.mark_changes, 1);
    EXPECT_EQ(choice_after_clicks, "second");
    ASSERT_TRUE(page.stored.has_value());
    EXPECT_EQ(page.stored->name, "world");
    EXPECT_TRUE(page.stored->agreed);
    EXPECT_EQ(page.stored->marks, (std::vector<bool>{true, true}));
    EXPECT_TRUE(page.destroyed_seen);
}

TEST_F(RealDialog, SheetPageMarksChangedAndMayRefuseToApply) {
    DrivenPage page;
    HWND sheet = nullptr;
    bool apply_enabled_at_start = true;
    bool apply_enabled_after_click = false;
    bool open_after_refusal = false;
    Script script;
    script.steps = {
        [&] {
            sheet = GetParent(page.window);
            apply_enabled_at_start = IsWindowEnabled(GetDlgItem(sheet, kApplyButton));
            SendDlgItemMessageA(page.window, IDC_SAMPLE_AGREE, BM_CLICK, 0, 0);
            apply_enabled_after_click = IsWindowEnabled(GetDlgItem(sheet, kApplyButton));
            SetDlgItemTextA(page.window, IDC_SAMPLE_NAME, "");
            SendMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
        },
        [&] {
            open_after_refusal = IsWindow(sheet) && IsWindowVisible(sheet);
            SetDlgItemTextA(page.window, IDC_SAMPLE_NAME, "kept");
            SendMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
        },
    };
    script.give_up = [&] { PostMessageA(sheet, WM_COMMAND, IDCANCEL, 0); };

    PROPSHEETPAGEA record = ui::sheet_page_record(self(), IDD_SAMPLE_PAGE, page);
    PROPSHEETHEADERA header{};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE;
    header.hInstance = self();
    header.pszCaption = "Sample sheet";
    header.nPages = 1;
    header.ppsp = &record;
    {
        RunningScript running(script);
        PropertySheetA(&header);
    }
    EXPECT_FALSE(apply_enabled_at_start);
    EXPECT_TRUE(apply_enabled_after_click);
    EXPECT_TRUE(open_after_refusal);
    EXPECT_EQ(page.applies, 2);
    ASSERT_TRUE(page.stored.has_value());
    EXPECT_EQ(page.stored->name, "kept");
    EXPECT_TRUE(page.stored->agreed);
}

// While a started program runs, the dialog takes no input but its messages
// (here a timer's) are still dispatched.
int g_paint_ticks = 0;
bool g_disabled_while_running = true;
HWND g_watched = nullptr;
VOID CALLBACK paint_tick(HWND, UINT, UINT_PTR, DWORD) {
    ++g_paint_ticks;
    if (IsWindowEnabled(g_watched)) g_disabled_while_running = false;
}

TEST_F(RealDialog, RunAndWaitKeepsDispatching) {
    DrivenPage page;
    ui::RunResult ran;
    bool enabled_after = false;
    Script script;
    script.steps = {[&] {
        g_watched = page.window;
        const UINT_PTR timer = SetTimer(nullptr, 0, 5, paint_tick);
        ran = ui::view_of(page.window)->run_and_wait("cmd.exe /c exit 3");
        KillTimer(nullptr, timer);
        enabled_after = IsWindowEnabled(page.window);
        EndDialog(page.window, IDCANCEL);
    }};
    script.give_up = [&] { EndDialog(page.window, -2); };
    {
        RunningScript running(script);
        ui::run_modal_dialog(self(), IDD_SAMPLE, nullptr, page);
    }
    EXPECT_TRUE(ran.started);
    EXPECT_EQ(ran.exit_code, 3u);
    EXPECT_GT(g_paint_ticks, 0);
    EXPECT_TRUE(g_disabled_while_running);
    EXPECT_TRUE(enabled_after);
}

}  // namespace
}  // namespace sx::test
