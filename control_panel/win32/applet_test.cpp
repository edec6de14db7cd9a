// stellarix.cpl as the Control Panel loads it: the entry point's answers,
// then the real sheet driven from a timer while its modal loop runs (a row
// toggled with the space bar and moved up, Apply, the registry read back),
// and the report dialog copying to the clipboard. Screenshots of the page and
// of the report are written beside the test as PNG files.
#include <windows.h>

#include <commctrl.h>
#include <cpl.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "control_panel/cpl_test_support.h"
#include "control_panel/resource.h"
#include "platform/testing/test_support.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image_write.h"

namespace sx::cpl {
namespace {

using Applet = LONG(CALLBACK*)(HWND, UINT, LPARAM, LPARAM);

constexpr char kSheetTitle[] = "Stellarix 3D Player Settings";
constexpr char kReportTitle[] = "Configuration Data";
constexpr int kApplyButton = 0x3021;  // the property sheet's Apply button

class LoadedApplet : public test::PlayerKeyTest {
protected:
    void SetUp() override {
        test::PlayerKeyTest::SetUp();
        module_ = LoadLibraryA(SX_CPL_FILE);
        ASSERT_NE(module_, nullptr) << SX_CPL_FILE;
        applet_ =
            reinterpret_cast<Applet>(reinterpret_cast<void*>(GetProcAddress(module_, "CPlApplet")));
        ASSERT_NE(applet_, nullptr);
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
        test::PlayerKeyTest::TearDown();
    }
    HMODULE module_ = nullptr;
    Applet applet_ = nullptr;
};

TEST_F(LoadedApplet, AnswersTheControlPanel) {
    EXPECT_EQ(GetProcAddress(module_, "CPlApplet@16"), nullptr);
    EXPECT_EQ(applet_(nullptr, CPL_INIT, 0, 0), 1);
    EXPECT_EQ(applet_(nullptr, CPL_GETCOUNT, 0, 0), 1);
    CPLINFO info{-1, -1, -1, -1};
    EXPECT_EQ(applet_(nullptr, CPL_INQUIRE, 0, reinterpret_cast<LPARAM>(&info)), 0);
    EXPECT_EQ(info.idIcon, 103);
    EXPECT_EQ(info.idName, 1);
    EXPECT_EQ(info.idInfo, 2);
    EXPECT_EQ(info.lData, 0);
    EXPECT_EQ(applet_(nullptr, CPL_SELECT, 0, 0), 0);
    EXPECT_EQ(applet_(nullptr, 77, 0, 0), 0);
    char text[128];
    ASSERT_GT(LoadStringA(module_, info.idName, text, sizeof text), 0);
    EXPECT_STREQ(text, "Stellarix");
    ASSERT_GT(LoadStringA(module_, info.idInfo, text, sizeof text), 0);
    EXPECT_STREQ(text, "Stellarix 3D Graphics Settings");
    EXPECT_NE(LoadImageA(module_, MAKEINTRESOURCEA(103), IMAGE_ICON, 32, 32, 0), nullptr);
    for (const char* name : {"CHECKED", "UNCHECKED"})
        EXPECT_NE(LoadImageA(module_, name, IMAGE_ICON, 16, 16, 0), nullptr) << name;
}

// Steps run one per timer tick inside whatever modal loop is running; a step
// that returns false is tried again on the next tick (a window not there
// yet). After the last step, or too many retries, everything still open is
// closed so that a failing test ends rather than hangs.
struct Script {
    std::vector<std::function<bool()>> steps;
    size_t next = 0;
    int retries = 0;
    bool busy = false;
    bool gave_up = false;
};
Script* g_script = nullptr;

void close_everything() {
    if (HWND report = FindWindowA("#32770", kReportTitle))
        PostMessageA(report, WM_COMMAND, IDOK, 0);
    if (HWND sheet = FindWindowA("#32770", kSheetTitle))
        PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
}

VOID CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
    Script& script = *g_script;
    if (script.busy) return;
    script.busy = true;
    if (script.next < script.steps.size()) {
        if (script.steps[script.next]()) {
            ++script.next;
            script.retries = 0;
        } else if (++script.retries > 200) {
            ADD_FAILURE() << "step " << script.next << " never became possible";
            script.next = script.steps.size();
            script.gave_up = true;
        }
    } else {
        close_everything();
    }
    script.busy = false;
}

// The window's pixels as they are on the screen, as a PNG file.
bool save_screenshot(HWND window, const std::string& file) {
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    std::vector<unsigned char> rgba(static_cast<size_t>(width) * height * 4);
    const auto* bgra = static_cast<const unsigned char*>(bits);
    for (size_t i = 0; i < rgba.size(); i += 4) {
        rgba[i] = bgra[i + 2];
        rgba[i + 1] = bgra[i + 1];
        rgba[i + 2] = bgra[i];
        rgba[i + 3] = 255;
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return stbi_write_png(file.c_str(), width, height, 4, rgba.data(), width * 4) != 0;
}

std::string artifact(const char* name) {
    CreateDirectoryA(SX_ARTIFACT_DIR, nullptr);
    return std::string(SX_ARTIFACT_DIR) + "\\" + name;
}

int list_image(HWND list, int row) {
    LVITEMA item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return item.iImage;
}

std::string list_text(HWND list, int row) {
    char text[256] = "";
    LVITEMA item{};
    item.iSubItem = 0;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

std::string clipboard_text() {
    std::string text;
    if (!OpenClipboard(nullptr)) return "(no clipboard)";
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (const char* bytes = static_cast<const char*>(GlobalLock(data))) {
            text = bytes;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

RECT client_rect_of(HWND dialog, int id) {
    RECT rect;
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

constexpr char kTestApplet[] = "C:\\Test Applets\\rasterizer test.sxvm";

// This program, copied into a folder whose name has blanks, as the launcher.
std::string install_launcher_copy() {
    const std::string folder = artifact("Launcher Folder");
    CreateDirectoryA(folder.c_str(), nullptr);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    const std::string copy = folder + "\\test launcher.exe";
    return CopyFileA(self, copy.c_str(), FALSE) ? copy : std::string();
}

TEST_F(LoadedApplet, DrivenSheetStoresTheNewOrderAndTheReportCopies) {
    test::store_value(kRasterizersValue, kRegSz, "t3d,eol");
    test::store_value(kLastVideoCardValue, kRegSz, "Card of the test");
    ASSERT_EQ(applet_(nullptr, CPL_INIT, 0, 0), 1);

    HWND sheet = nullptr, page = nullptr, list = nullptr, report = nullptr;
    int tabs = 0;
    std::string stored_after_apply, shown_report, copied;
    std::vector<std::pair<std::string, int>> rows;
    RECT edit{}, ok{}, copy{};
    bool page_shot = false, report_shot = false, apply_enabled = false;
    bool disabled_while_testing = false, enabled_after_test = false;
    std::string launch_line;
    const std::string launcher = install_launcher_copy();
    ASSERT_FALSE(launcher.empty());
    test::store_value(kLauncherPathValue, kRegSz, launcher);
    test::store_value(kTestAppletValue, kRegSz, kTestApplet);
    Script script;
    script.steps = {
        [&] {
            sheet = FindWindowA("#32770", kSheetTitle);
            if (!sheet) return false;
            tabs = TabCtrl_GetItemCount(PropSheet_GetTabControl(sheet));
            page = PropSheet_GetCurrentPageHwnd(sheet);
            list = GetDlgItem(page, IDC_RASTERIZER_LIST);
            return list != nullptr;
        },
        [&] {
            // Row 2 is "Direct 3D without Acceleration", unchecked.
            ListView_SetItemState(list, 2, LVIS_SELECTED | LVIS_FOCUSED,
                                  LVIS_SELECTED | LVIS_FOCUSED);
            SetFocus(list);
            SendMessageA(list, WM_KEYDOWN, VK_SPACE, 0);
            SendMessageA(list, WM_KEYUP, VK_SPACE, 0xC0000001);
            return true;
        },
        [&] {
            // The up arrow of the up-down control, pressed and released.
            HWND spin = GetDlgItem(page, IDC_RASTERIZER_SPIN);
            RECT rect;
            GetClientRect(spin, &rect);
            const LPARAM point = MAKELPARAM(rect.right / 2, 2);
            PostMessageA(spin, WM_LBUTTONDOWN, MK_LBUTTON, point);
            PostMessageA(spin, WM_LBUTTONUP, 0, point);
            return true;
        },
        [&] {
            for (int row = 0; row < 3; ++row)
                rows.emplace_back(list_text(list, row), list_image(list, row));
            apply_enabled = IsWindowEnabled(GetDlgItem(sheet, kApplyButton)) != FALSE;
            RedrawWindow(sheet, nullptr, nullptr,
                         RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
            page_shot = save_screenshot(sheet, artifact("rasterizers_page.png"));
            PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_APPLYNOW, 0);
            return true;
        },
        [&] {
            stored_after_apply = test::stored_value(kRasterizersValue).bytes;
            // Row 3 is "OpenGL ICD".
            ListView_SetItemState(list, 3, LVIS_SELECTED | LVIS_FOCUSED,
                                  LVIS_SELECTED | LVIS_FOCUSED);
            PostMessageA(GetDlgItem(page, IDC_TEST_SELECTED), BM_CLICK, 0, 0);
            return true;
        },
        [&] {
            // Ticks keep coming while the page waits for the launcher.
            if (!IsWindowEnabled(sheet)) disabled_while_testing = true;
            char text[1024] = "";
            GetDlgItemTextA(page, IDC_LAST_RASTERIZER, text, sizeof text);
            if (std::string(text) != "OpenGL ICD") return false;
            GetDlgItemTextA(page, IDC_VIDEO_CARD, text, sizeof text);
            launch_line = text;
            enabled_after_test = IsWindowEnabled(sheet) != FALSE;
            return true;
        },
        [&] {
            PostMessageA(GetDlgItem(page, IDC_SHOW_CONFIG), BM_CLICK, 0, 0);
            return true;
        },
        [&] {
            report = FindWindowA("#32770", kReportTitle);
            if (!report) return false;
            char text[8192] = "";
            GetDlgItemTextA(report, IDC_REPORT_TEXT, text, sizeof text);
            shown_report = text;
            SendMessageA(report, WM_COMMAND, MAKEWPARAM(IDC_REPORT_COPY, BN_CLICKED), 0);
            copied = clipboard_text();
            SetWindowPos(report, nullptr, 0, 0, 700, 500, SWP_NOZORDER | SWP_NOMOVE);
            return true;
        },
        [&] {
            edit = client_rect_of(report, IDC_REPORT_TEXT);
            ok = client_rect_of(report, IDOK);
            copy = client_rect_of(report, IDC_REPORT_COPY);
            RedrawWindow(report, nullptr, nullptr,
                         RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
            report_shot = save_screenshot(report, artifact("config_report.png"));
            PostMessageA(report, WM_COMMAND, IDOK, 0);
            return true;
        },
        [&] { return FindWindowA("#32770", kReportTitle) == nullptr; },
    };
    g_script = &script;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, tick);
    EXPECT_EQ(applet_(nullptr, CPL_DBLCLK, 0, 0), 0);
    KillTimer(nullptr, timer);
    g_script = nullptr;
    ASSERT_FALSE(script.gave_up);

    EXPECT_EQ(tabs, 4);
    EXPECT_TRUE(apply_enabled);
    EXPECT_EQ(rows, (std::vector<std::pair<std::string, int>>{{"Stellarix Software Rasterizer", 1},
                                                              {"Direct 3D without Acceleration", 1},
                                                              {"Direct 3D with Acceleration", 0}}));
    EXPECT_EQ(stored_after_apply, "t3d,d3d_sw,eol");
    const auto stored = test::stored_value(kRasterizersValue);
    EXPECT_EQ(stored.type, kRegSz);
    EXPECT_EQ(stored.bytes, "t3d,d3d_sw,eol");  // 14 bytes, no terminating zero

    // The launcher by its short path (no blanks), then the applet and the
    // switch, exactly.
    EXPECT_TRUE(disabled_while_testing);
    EXPECT_TRUE(enabled_after_test);
    ASSERT_EQ(launch_line.rfind('"', 0), 0u) << launch_line;
    const size_t close = launch_line.find('"', 1);
    ASSERT_NE(close, std::string::npos);
    const std::string short_launcher = launch_line.substr(1, close - 1);
    EXPECT_EQ(short_launcher.find(' '), std::string::npos) << short_launcher;
    char long_form[MAX_PATH] = "";
    GetLongPathNameA(short_launcher.c_str(), long_form, sizeof long_form);
    EXPECT_STRCASEEQ(long_form, launcher.c_str());
    EXPECT_EQ(launch_line.substr(close + 1),
              std::string(" \"") + kTestApplet + "\" -renderer ogl_icd");

    EXPECT_EQ(shown_report.rfind("Windows ", 0), 0u) << shown_report;
    EXPECT_NE(shown_report.find("Last Used Renderer: OpenGL ICD\r\n"), std::string::npos);
    EXPECT_EQ(copied, shown_report);

    // After the resize: margins kept, the buttons on either side of the
    // centre, one margin apart.
    EXPECT_EQ(copy.left - ok.right, edit.left);
    EXPECT_GT(edit.right - edit.left, 600);
    EXPECT_TRUE(page_shot);
    EXPECT_TRUE(report_shot);
}

}  // namespace
}  // namespace sx::cpl

// Started by the page's test launch, this program stands in for the
// launcher: it records what the player would (the rasterizer it was told to
// use) and, as the video card, the command line it was given.
int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[2]) == "-renderer") {
        sx::cpl::test::store_value(sx::cpl::kLastRasterizerValue, sx::kRegSz, argv[3]);
        sx::cpl::test::store_value(sx::cpl::kLastVideoCardValue, sx::kRegSz, GetCommandLineA());
        Sleep(500);  // long enough for the test to see the sheet disabled
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
