// stellarix.cpl as the Control Panel loads it: the entry point's answers,
// then the real sheet driven from a timer inside its modal loop. A row is
// toggled with the space bar and moved up, Apply writes the list, a test
// launch starts this very program as the launcher, and the report dialog
// copies its text. Screenshots of the page and the report are saved as PNG.
#include <windows.h>

#include <commctrl.h>
#include <cpl.h>
#include <gtest/gtest.h>

#include <functional>

#include "control_panel/cpl_test_support.h"
#include "control_panel/resource.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image_write.h"

namespace sx::cpl {
namespace {

using Applet = LONG(CALLBACK*)(HWND, UINT, LPARAM, LPARAM);
constexpr char kSheetTitle[] = "Stellarix 3D Player Settings";
constexpr char kReportTitle[] = "Configuration Data";
constexpr char kTestApplet[] = "C:\\Test Applets\\rasterizer test.sxvm";
constexpr int kApplyButton = 0x3021;

std::string artifact(const char* name) {
    CreateDirectoryA(SX_ARTIFACT_DIR, nullptr);
    return std::string(SX_ARTIFACT_DIR) + "\\" + name;
}

// The window's pixels as they are on the screen, as a PNG file.
bool save_screenshot(HWND window, const char* name) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT r;
    GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    BITMAPINFO info{{sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    unsigned char* bgra = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS,
                                      reinterpret_cast<void**>(&bgra), nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    for (int i = 0; i < w * h * 4; i += 4) std::swap(bgra[i], bgra[i + 2]), bgra[i + 3] = 255;
    const bool saved = stbi_write_png(artifact(name).c_str(), w, h, 4, bgra, w * 4) != 0;
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}

// Steps run one per timer tick in whatever modal loop runs; a step returning
// false is retried (its window is not there yet). When the steps are done or
// one never succeeds, whatever is open is closed, so a failure cannot hang.
struct Script {
    std::vector<std::function<bool()>> steps;
    size_t next = 0;
    int retries = 0;
    bool busy = false;
} * g_script;

VOID CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
    Script& s = *g_script;
    if (s.busy) return;
    s.busy = true;
    if (s.next < s.steps.size() && s.steps[s.next]()) {
        ++s.next, s.retries = 0;
    } else if (s.next >= s.steps.size() || ++s.retries > 200) {
        if (s.next < s.steps.size()) ADD_FAILURE() << "step " << s.next << " never succeeded";
        s.next = s.steps.size();
        if (HWND w = FindWindowA("#32770", kReportTitle)) PostMessageA(w, WM_COMMAND, IDOK, 0);
        if (HWND w = FindWindowA("#32770", kSheetTitle))
            PostMessageA(w, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    }
    s.busy = false;
}

std::string dialog_text(HWND dialog, int id) {
    char text[4096] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

void select_row(HWND list, int row) {
    ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

std::string clipboard_text() {
    std::string text = "(no clipboard)";
    if (!OpenClipboard(nullptr)) return text;
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        text = static_cast<const char*>(GlobalLock(data));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

// This program, copied into a folder whose name has blanks, as the launcher.
std::string install_launcher_copy() {
    const std::string folder = artifact("Launcher Folder");
    CreateDirectoryA(folder.c_str(), nullptr);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    const std::string copy = folder + "\\test launcher.exe";
    return CopyFileA(self, copy.c_str(), FALSE) ? copy : std::string();
}

using testing::store_value;
using testing::stored_value;
using CplApplet = testing::PlayerKeyTest;

TEST_F(CplApplet, AnswersAndItsDrivenSheetStoresTestsAndReports) {
    HMODULE module = LoadLibraryA(SX_CPL_FILE);
    ASSERT_NE(module, nullptr) << SX_CPL_FILE;
    auto applet =
        reinterpret_cast<Applet>(reinterpret_cast<void*>(GetProcAddress(module, "CPlApplet")));
    ASSERT_NE(applet, nullptr);
    EXPECT_EQ(applet(nullptr, CPL_INIT, 0, 0), 1);
    EXPECT_EQ(applet(nullptr, CPL_GETCOUNT, 0, 0), 1);
    CPLINFO info{-1, -1, -1, -1};
    EXPECT_EQ(applet(nullptr, CPL_INQUIRE, 0, reinterpret_cast<LPARAM>(&info)), 0);
    EXPECT_EQ(info.idIcon * 100 + info.idName * 10 + info.idInfo + info.lData, 10312);
    EXPECT_EQ(applet(nullptr, 77, 0, 0), 0);
    char name[64] = "";
    LoadStringA(module, info.idName, name, sizeof name);
    EXPECT_STREQ(name, "Stellarix");

    const std::string launcher = install_launcher_copy();
    store_value(kRasterizersValue, kRegSz, "t3d,eol");
    store_value(kLauncherPathValue, kRegSz, launcher);
    store_value(kTestAppletValue, kRegSz, kTestApplet);
    HWND sheet = nullptr, page = nullptr, list = nullptr, report = nullptr;
    int tabs = 0;
    bool apply_enabled = false, disabled_while_testing = false, shots = true;
    std::string stored, launch_line, shown, copied;
    RECT edit{}, ok{}, copy{};
    POINT origin{0, 0};
    RECT client{};
    Script script{{
        [&] {
            if (!(sheet = FindWindowA("#32770", kSheetTitle))) return false;
            tabs = TabCtrl_GetItemCount(PropSheet_GetTabControl(sheet));
            page = PropSheet_GetCurrentPageHwnd(sheet);
            list = GetDlgItem(page, IDC_RASTERIZER_LIST);
            select_row(list, 2);  // "Direct 3D without Acceleration", unchecked
            SetFocus(list);
            SendMessageA(list, WM_KEYDOWN, VK_SPACE, 0);
            RECT spin;  // then the up arrow of the up-down control
            GetClientRect(GetDlgItem(page, IDC_RASTERIZER_SPIN), &spin);
            PostMessageA(GetDlgItem(page, IDC_RASTERIZER_SPIN), WM_LBUTTONDOWN, MK_LBUTTON,
                         MAKELPARAM(spin.right / 2, 2));
            PostMessageA(GetDlgItem(page, IDC_RASTERIZER_SPIN), WM_LBUTTONUP, 0,
                         MAKELPARAM(spin.right / 2, 2));
            return true;
        },
        [&] {
            apply_enabled = IsWindowEnabled(GetDlgItem(sheet, kApplyButton));
            shots &= save_screenshot(sheet, "rasterizers_page.png");
            PropSheet_PressButton(sheet, PSBTN_APPLYNOW);  // the sheet posts it to itself
            return true;
        },
        [&] {
            stored = stored_value(kRasterizersValue).bytes;
            select_row(list, 3);  // "OpenGL ICD"
            PostMessageA(GetDlgItem(page, IDC_TEST_SELECTED), BM_CLICK, 0, 0);
            return true;
        },
        [&] {  // ticks go on while the page waits for the launcher
            disabled_while_testing |= !IsWindowEnabled(sheet);
            if (dialog_text(page, IDC_LAST_RASTERIZER) != "OpenGL ICD") return false;
            launch_line = dialog_text(page, IDC_VIDEO_CARD);
            PostMessageA(GetDlgItem(page, IDC_SHOW_CONFIG), BM_CLICK, 0, 0);
            return true;
        },
        [&] {
            if (!(report = FindWindowA("#32770", kReportTitle))) return false;
            shown = dialog_text(report, IDC_REPORT_TEXT);
            SendMessageA(report, WM_COMMAND, IDC_REPORT_COPY, 0);
            copied = clipboard_text();
            SetWindowPos(report, nullptr, 0, 0, 700, 500, SWP_NOZORDER | SWP_NOMOVE);
            ClientToScreen(report, &origin);
            GetClientRect(report, &client);
            GetWindowRect(GetDlgItem(report, IDC_REPORT_TEXT), &edit);
            GetWindowRect(GetDlgItem(report, IDOK), &ok);
            GetWindowRect(GetDlgItem(report, IDC_REPORT_COPY), &copy);
            shots &= save_screenshot(report, "config_report.png");
            PostMessageA(report, WM_COMMAND, IDOK, 0);
            return true;
        },
    }};
    g_script = &script;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, tick);
    EXPECT_EQ(applet(nullptr, CPL_DBLCLK, 0, 0), 0);
    KillTimer(nullptr, timer);
    FreeLibrary(module);

    EXPECT_EQ(tabs, 4);
    EXPECT_TRUE(apply_enabled);
    EXPECT_EQ(stored, "t3d,d3d_sw,eol");
    EXPECT_EQ(stored_value(kRasterizersValue).bytes, "t3d,d3d_sw,eol");  // 14 bytes, no zero
    // The launcher by its short form (no blanks), then the applet and switch.
    EXPECT_TRUE(disabled_while_testing);
    const size_t close = launch_line.find('"', 1);
    ASSERT_NE(close, std::string::npos) << launch_line;
    const std::string short_launcher = launch_line.substr(1, close - 1);
    EXPECT_EQ(short_launcher.find(' '), std::string::npos) << short_launcher;
    char long_form[MAX_PATH] = "";
    GetLongPathNameA(short_launcher.c_str(), long_form, sizeof long_form);
    EXPECT_STRCASEEQ(long_form, launcher.c_str());
    EXPECT_EQ(launch_line.substr(close),
              std::string("\" \"") + kTestApplet + "\" -renderer ogl_icd");
    EXPECT_NE(shown.find("\r\nLast Used Renderer: OpenGL ICD\r\n"), std::string::npos) << shown;
    EXPECT_EQ(copied, shown);
    // Resized: the buttons one margin apart, on either side of the centre.
    EXPECT_EQ(copy.left - ok.right, edit.left - origin.x);
    EXPECT_EQ(ok.right - origin.x, (client.right - (edit.left - origin.x)) / 2);
    EXPECT_TRUE(shots);
}

}  // namespace
}  // namespace sx::cpl

// Started by the page's test launch, this program stands in for the
// launcher: it records the rasterizer it was told to use and, as the video
// card, the command line it was given.
int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[2]) == "-renderer") {
        sx::testing::store_value(sx::cpl::kLastRasterizerValue, sx::kRegSz, argv[3]);
        sx::testing::store_value(sx::cpl::kLastVideoCardValue, sx::kRegSz, GetCommandLineA());
        Sleep(500);  // long enough for the test to see the sheet disabled
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
