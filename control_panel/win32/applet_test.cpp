// stellarix.cpl as the Control Panel loads it: the entry point, then the real
// sheet driven from a timer inside its modal loop, with PNG screenshots.
#include <windows.h>

#include <commctrl.h>
#include <cpl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "components/testing/registry_guard.h"
#include "control_panel/cpl_test_support.h"
#include "control_panel/resource.h"
#include "platform/testing/test_support.h"
#include "ui/win32/testing/driven_window.h"

namespace sx::cpl {
namespace {

using Applet = LONG(CALLBACK*)(HWND, UINT, LPARAM, LPARAM);
using sx::testing::dialog_text;
using testing::store_value;
using testing::stored_value;
constexpr char kSheetTitle[] = "Stellarix 3D Player Settings";
constexpr char kReportTitle[] = "Configuration Data";
constexpr char kTestApplet[] = "C:\\Test Applets\\rasterizer test.sxvm";
constexpr int kApplyButton = 0x3021;

std::string artifact(const char* name) {
    CreateDirectoryA(SX_ARTIFACT_DIR, nullptr);
    return std::string(SX_ARTIFACT_DIR) + "\\" + name;
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

void put_on_clipboard(const std::string& text) {
    if (!OpenClipboard(nullptr)) return;
    EmptyClipboard();
    if (HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1)) {
        memcpy(GlobalLock(block), text.c_str(), text.size() + 1);
        GlobalUnlock(block);
        if (!SetClipboardData(CF_TEXT, block)) GlobalFree(block);
    }
    CloseClipboard();
}

std::string clipboard_text() {
    std::string text = "(no clipboard)";
    if (!OpenClipboard(nullptr)) return text;
    text = "(no text)";
    if (HANDLE block = GetClipboardData(CF_TEXT)) {
        if (const char* bytes = static_cast<const char*>(GlobalLock(block))) {
            text = bytes;
            GlobalUnlock(block);
        }
    }
    CloseClipboard();
    return text;
}

// Every value of a key: name, type and bytes, in the order they are listed.
std::string key_dump(HKEY root, const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return "(no key)";
    std::string dump;
    for (DWORD index = 0;; ++index) {
        char name[16384];
        BYTE data[65536];
        DWORD name_size = sizeof name, data_size = sizeof data, type = 0;
        if (RegEnumValueA(key, index, name, &name_size, nullptr, &type, data, &data_size) !=
            ERROR_SUCCESS)
            break;
        dump += std::string(name, name_size) + "|" + std::to_string(type) + "|" +
                std::string(reinterpret_cast<const char*>(data), data_size) + "\n";
    }
    RegCloseKey(key);
    return dump;
}

std::string file_bytes(const std::string& path) {
    std::string bytes;
    return sx::testing::read_file(path, &bytes) ? bytes : "(no file)";
}

using LoadedPanel = testing::PlayerKeyTest;

TEST_F(LoadedPanel, AnswersAndItsDrivenSheetStoresTestsAndReports) {
    HMODULE module = LoadLibraryA(SX_CPL_FILE);
    ASSERT_NE(module, nullptr) << SX_CPL_FILE;
    const auto applet =
        reinterpret_cast<Applet>(reinterpret_cast<void*>(GetProcAddress(module, "CPlApplet")));
    ASSERT_NE(applet, nullptr);
    EXPECT_EQ(applet(nullptr, CPL_INIT, 0, 0), 1);
    EXPECT_EQ(applet(nullptr, CPL_GETCOUNT, 0, 0), 1);
    CPLINFO info{-1, -1, -1, -1};
    EXPECT_EQ(applet(nullptr, CPL_INQUIRE, 0, reinterpret_cast<LPARAM>(&info)), 0);
    EXPECT_EQ(info.idIcon * 100 + info.idName * 10 + info.idInfo + info.lData, 10312);
    EXPECT_EQ(applet(nullptr, 77, 0, 0), 0);

    const std::string launcher = install_launcher_copy();
    store_value(kRasterizersValue, kRegSz, "t3d,eol");
    store_value(kLauncherPathValue, kRegSz, launcher);
    store_value(kTestAppletValue, kRegSz, kTestApplet);
    HWND sheet = nullptr, page = nullptr, list = nullptr, report = nullptr;
    int tabs = 0, shots = 0;
    bool apply_enabled = false, disabled_while_testing = false, enabled_after = false;
    std::string stored, launch_line, shown, copied = "(nothing)";
    // Something else on the clipboard first: the copy must replace it.
    put_on_clipboard("left over");
    auto select_row = [&](int row) {
        ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
    };
    sx::testing::TimerScript script;
    script.steps = {
        [&] {
            if (!(sheet = FindWindowA("#32770", kSheetTitle))) return false;
            tabs = TabCtrl_GetItemCount(PropSheet_GetTabControl(sheet));
            page = PropSheet_GetCurrentPageHwnd(sheet);
            list = GetDlgItem(page, IDC_RASTERIZER_LIST);
            select_row(2);  // "Direct 3D without Acceleration", unchecked
            SetFocus(list);
            SendMessageA(list, WM_KEYDOWN, VK_SPACE, 0);
            HWND spin = GetDlgItem(page, IDC_RASTERIZER_SPIN);  // then its up arrow
            RECT r;
            GetClientRect(spin, &r);
            PostMessageA(spin, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(r.right / 2, 2));
            return PostMessageA(spin, WM_LBUTTONUP, 0, MAKELPARAM(r.right / 2, 2)) != FALSE;
        },
        [&] {
            apply_enabled = IsWindowEnabled(GetDlgItem(sheet, kApplyButton));
            shots += sx::testing::save_screenshot(sheet, artifact("page_rasterizers.png"));
            return PropSheet_PressButton(sheet, PSBTN_APPLYNOW);  // the sheet posts it to itself
        },
        [&] {
            stored = stored_value(kRasterizersValue).bytes;
            select_row(3);  // "OpenGL ICD"
            return PostMessageA(GetDlgItem(page, IDC_TEST_SELECTED), BM_CLICK, 0, 0) != FALSE;
        },
        [&] {  // ticks go on while the page waits for the launcher
            disabled_while_testing |= !IsWindowEnabled(sheet);
            if (dialog_text(page, IDC_LAST_RASTERIZER) != "OpenGL ICD") return false;
            enabled_after = IsWindowEnabled(sheet);  // the fields refresh after the wait
            launch_line = dialog_text(page, IDC_VIDEO_CARD);
            return PostMessageA(GetDlgItem(page, IDC_SHOW_CONFIG), BM_CLICK, 0, 0) != FALSE;
        },
        [&] {
            if (!(report = FindWindowA("#32770", kReportTitle))) return false;
            shown = dialog_text(report, IDC_REPORT_TEXT);
            shots += sx::testing::save_screenshot(report, artifact("config_report.png"));
            return PostMessageA(report, WM_COMMAND, MAKEWPARAM(IDC_REPORT_COPY, BN_CLICKED), 0) !=
                   FALSE;
        },
        [&] {
            copied = clipboard_text();
            return PostMessageA(report, WM_COMMAND, IDOK, 0) != FALSE;
        },
    };
    script.close = [] {
        if (HWND w = FindWindowA("#32770", kReportTitle)) PostMessageA(w, WM_COMMAND, IDOK, 0);
        if (HWND w = FindWindowA("#32770", kSheetTitle))
            PostMessageA(w, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    };
    script.run([&] { EXPECT_EQ(applet(nullptr, CPL_DBLCLK, 0, 0), 0); }, 50);
    FreeLibrary(module);
    ASSERT_EQ(script.next, script.steps.size());

    EXPECT_EQ(tabs, 4);
    EXPECT_TRUE(apply_enabled);
    EXPECT_EQ(stored, "t3d,d3d_sw,eol");  // 14 bytes, no zero
    // The launcher by its short form (no blanks), then the applet and switch.
    EXPECT_TRUE(disabled_while_testing);
    EXPECT_TRUE(enabled_after);
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

    EXPECT_EQ(shots, 2);
}

// OK on every page of a sheet nobody touched leaves the registry and the
// settings file byte for byte: hand-written lines, an overlong one, values
// out of range and a list the rows cannot give back included.
TEST_F(LoadedPanel, OkOnAnUntouchedSheetChangesNothing) {
    const std::string data = artifact("untouched data");
    CreateDirectoryA(data.c_str(), nullptr);
    sx::testing::RegistryValueGuard data_path(kHkeyLocalMachine,
                                              "SOFTWARE\\Stellarix\\Stellarix Player\\",
                                              "SystemDataPath");
    ASSERT_TRUE(data_path.set(data));
    sx::testing::RegistryValueGuard always_install(kHkeyCurrentUser, kPlayerKey,
                                                   kAlwaysInstallValue);
    ASSERT_TRUE(always_install.set(std::string("\5\0\0\0", 4), kRegDword));
    store_value(kRasterizersValue, kRegSz, "dotf,ogl,eol");
    store_value(kLastRasterizerValue, kRegSz, "");
    const std::string settings = data + "\\SXRegistry.dat";
    ASSERT_TRUE(sx::testing::write_file(
        settings, "# by hand\r\nStereo/Enable = yes\r\nStereo/EyeSeparation=5.0\n" +
                      std::string(1100000, 'x') +
                      "\nProcessorUsage=99999999999999999999\nOverlaySignedStatus=on\nlast"));
    const auto dump = [&] {
        return key_dump(HKEY_LOCAL_MACHINE, kPlayerKey) + "--\n" +
               key_dump(HKEY_CURRENT_USER, kPlayerKey) + "--\n" + file_bytes(settings);
    };
    const std::string before = dump();

    HMODULE module = LoadLibraryA(SX_CPL_FILE);
    ASSERT_NE(module, nullptr) << SX_CPL_FILE;
    const auto applet =
        reinterpret_cast<Applet>(reinterpret_cast<void*>(GetProcAddress(module, "CPlApplet")));
    ASSERT_NE(applet, nullptr);
    applet(nullptr, CPL_INIT, 0, 0);
    HWND sheet = nullptr;
    int usage = 0, eye = 0, shots = 0;
    std::string last_used;
    sx::testing::TimerScript script;
    script.steps = {
        [&] {
            if (!(sheet = FindWindowA("#32770", kSheetTitle))) return false;
            last_used = dialog_text(PropSheet_GetCurrentPageHwnd(sheet), IDC_LAST_RASTERIZER);
            return PropSheet_SetCurSel(sheet, nullptr, 1) != FALSE;
        },
        [&] {
            eye = int(SendDlgItemMessageA(PropSheet_GetCurrentPageHwnd(sheet), IDC_EYE_SEPARATION,
                                          TBM_GETPOS, 0, 0));
            return PropSheet_SetCurSel(sheet, nullptr, 2) != FALSE;
        },
        [&] {
            usage = int(SendDlgItemMessageA(PropSheet_GetCurrentPageHwnd(sheet),
                                            IDC_PROCESSOR_USAGE, TBM_GETPOS, 0, 0));
            shots += sx::testing::save_screenshot(sheet, artifact("untouched_advanced.png"));
            return PropSheet_SetCurSel(sheet, nullptr, 3) != FALSE;
        },
        [&] { return PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0) != FALSE; },
    };
    script.close = [] {
        if (HWND w = FindWindowA("#32770", kSheetTitle))
            PostMessageA(w, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    };
    script.run([&] { EXPECT_EQ(applet(nullptr, CPL_DBLCLK, 0, 0), 0); }, 50);
    FreeLibrary(module);
    ASSERT_EQ(script.next, script.steps.size());
    EXPECT_EQ(last_used, "N/A");
    EXPECT_EQ(eye, 311);
    EXPECT_EQ(usage, 6);  // saturated to the maximum
    EXPECT_EQ(shots, 1);
    const std::string after = dump();
    EXPECT_EQ(after.size(), before.size());
    EXPECT_TRUE(after == before) << after.substr(0, 400);
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
