// stellarix.cpl as the Control Panel loads it: the entry point, then the real
// sheet driven from a timer inside its modal loop, with PNG screenshots.
#include <windows.h>

#include <commctrl.h>
#include <cpl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/settings_store.h"
#include "components/testing/registry_guard.h"
#include "control_panel/cpl_test_support.h"
#include "control_panel/resource.h"
#include "platform/testing/test_support.h"
#include "ui/win32/testing/driven_window.h"

namespace sx::cpl {
namespace {

using Applet = LONG(CALLBACK*)(HWND, UINT, LPARAM, LPARAM);
using sx::testing::dialog_text;
using sx::testing::save_screenshot;
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

class LoadedPanel : public testing::PlayerKeyTest {
protected:
    void SetUp() override {
        testing::PlayerKeyTest::SetUp();
        ASSERT_TRUE(data_path_.set(data_.path()));
        ASSERT_TRUE(always_install_.remove());
        module_ = LoadLibraryA(SX_CPL_FILE);
        ASSERT_NE(module_, nullptr) << SX_CPL_FILE;
        applet_ =
            reinterpret_cast<Applet>(reinterpret_cast<void*>(GetProcAddress(module_, "CPlApplet")));
        ASSERT_NE(applet_, nullptr);
        script_.close = [] {
            if (HWND w = FindWindowA("#32770", kReportTitle)) PostMessageA(w, WM_COMMAND, IDOK, 0);
            if (HWND w = FindWindowA("#32770", kSheetTitle))
                PostMessageA(w, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        };
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
        testing::PlayerKeyTest::TearDown();
    }
    void run_sheet() {
        script_.run([&] { EXPECT_EQ(applet_(nullptr, CPL_DBLCLK, 0, 0), 0); }, 50);
    }

    sx::testing::TemporaryDirectory data_;
    // Where the player's data directories are looked up first.
    testing::RegistryValueGuard data_path_{
        kHkeyLocalMachine, "SOFTWARE\\Stellarix\\Stellarix Player\\", "SystemDataPath"};
    testing::RegistryValueGuard always_install_{kHkeyCurrentUser, kPlayerKey, kAlwaysInstallValue};
    HMODULE module_ = nullptr;
    Applet applet_ = nullptr;
    sx::testing::TimerScript script_;
};

TEST_F(LoadedPanel, AnswersAndItsDrivenSheetStoresTestsAndReports) {
    EXPECT_EQ(applet_(nullptr, CPL_INIT, 0, 0), 1);
    EXPECT_EQ(applet_(nullptr, CPL_GETCOUNT, 0, 0), 1);
    CPLINFO info{-1, -1, -1, -1};
    EXPECT_EQ(applet_(nullptr, CPL_INQUIRE, 0, reinterpret_cast<LPARAM>(&info)), 0);
    EXPECT_EQ(info.idIcon * 100 + info.idName * 10 + info.idInfo + info.lData, 10312);
    EXPECT_EQ(applet_(nullptr, 77, 0, 0), 0);
    char name[64] = "";
    LoadStringA(module_, info.idName, name, sizeof name);
    EXPECT_STREQ(name, "Stellarix");

    const std::string launcher = install_launcher_copy();
    store_value(kRasterizersValue, kRegSz, "t3d,eol");
    store_value(kLauncherPathValue, kRegSz, launcher);
    store_value(kTestAppletValue, kRegSz, kTestApplet);
    HWND sheet = nullptr, page = nullptr, list = nullptr, report = nullptr;
    int tabs = 0;
    bool apply_enabled = false, disabled_while_testing = false, enabled_after = false;
    bool shots = true;
    std::string stored, launch_line, shown, copied;
    RECT edit{}, ok{}, copy{}, client{};
    POINT origin{0, 0};
    auto select_row = [&](int row) {
        ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
    };
    script_.steps = {
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
            shots &= save_screenshot(sheet, artifact("rasterizers_page.png"));
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
            SendMessageA(report, WM_COMMAND, IDC_REPORT_COPY, 0);
            copied = clipboard_text();
            SetWindowPos(report, nullptr, 0, 0, 700, 500, SWP_NOZORDER | SWP_NOMOVE);
            ClientToScreen(report, &origin);
            GetClientRect(report, &client);
            GetWindowRect(GetDlgItem(report, IDC_REPORT_TEXT), &edit);
            GetWindowRect(GetDlgItem(report, IDOK), &ok);
            GetWindowRect(GetDlgItem(report, IDC_REPORT_COPY), &copy);
            shots &= save_screenshot(report, artifact("config_report.png"));
            return PostMessageA(report, WM_COMMAND, IDOK, 0) != FALSE;
        },
    };
    run_sheet();

    EXPECT_EQ(tabs, 4);
    EXPECT_TRUE(apply_enabled);
    EXPECT_EQ(stored, "t3d,d3d_sw,eol");
    EXPECT_EQ(stored_value(kRasterizersValue).bytes, "t3d,d3d_sw,eol");  // 14 bytes, no zero
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
    // Resized: the buttons one margin apart, on either side of the centre.
    EXPECT_EQ(copy.left - ok.right, edit.left - origin.x);
    EXPECT_EQ(ok.right - origin.x, (client.right - (edit.left - origin.x)) / 2);
    EXPECT_TRUE(shots);
}

TEST_F(LoadedPanel, StereoChangesReachTheSystemSettingsFile) {
    store_value(kRasterizersValue, kRegSz, "t3d,eol");
    ASSERT_EQ(applet_(nullptr, CPL_INIT, 0, 0), 1);
    HWND sheet = nullptr, stereo = nullptr;
    std::vector<std::string> shown;  // a control's text on each page
    int shots = 0, slider_before = -1;
    bool checked = false, apply_enabled = false;
    const struct {
        int probe;
        const char* file;
    } pages[] = {{IDC_RASTERIZER_LIST, "page_rasterizers.png"},
                 {IDC_STEREO_ENABLE, "page_stereo.png"},
                 {IDC_USAGE_DEFAULT_LABEL, "page_advanced.png"},
                 {IDC_ABOUT_LEGAL, "page_about.png"}};
    script_.steps = {[&] { return (sheet = FindWindowA("#32770", kSheetTitle)) != nullptr; }};
    for (int i : {0, 1, 2, 3, 1}) {
        script_.steps.push_back([&, i] { return PropSheet_SetCurSel(sheet, nullptr, i) != FALSE; });
        script_.steps.push_back([&, i] {
            HWND page = PropSheet_GetCurrentPageHwnd(sheet);
            if (!page || !GetDlgItem(page, pages[i].probe)) return false;
            shown.push_back(dialog_text(page, pages[i].probe));
            shots += save_screenshot(sheet, artifact(pages[i].file));
            if (i == 1) stereo = page;
            return true;
        });
    }
    script_.steps.push_back([&] {
        HWND slider = GetDlgItem(stereo, IDC_EYE_SEPARATION);
        slider_before = int(SendMessageA(slider, TBM_GETPOS, 0, 0));
        SendMessageA(GetDlgItem(stereo, IDC_STEREO_ENABLE), BM_CLICK, 0, 0);
        checked = IsDlgButtonChecked(stereo, IDC_STEREO_ENABLE) == BST_CHECKED;
        SendMessageA(slider, TBM_SETPOS, TRUE, 1000);
        SendMessageA(stereo, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), LPARAM(slider));
        apply_enabled = IsWindowEnabled(GetDlgItem(sheet, kApplyButton)) != FALSE;
        return PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_APPLYNOW, 0) != FALSE;
    });
    script_.steps.push_back([&] { return !IsWindowEnabled(GetDlgItem(sheet, kApplyButton)); });
    run_sheet();
    ASSERT_EQ(script_.next, script_.steps.size());

    EXPECT_EQ(shots, 5);
    EXPECT_EQ(shown,
              (std::vector<std::string>{"", "Enable OpenGL 3D Stereo support", "Default",
                                        kLegalFileMissing, "Enable OpenGL 3D Stereo support"}));
    EXPECT_EQ(slider_before, 311);
    EXPECT_TRUE(checked);
    EXPECT_TRUE(apply_enabled);
    SettingsFile settings(FilePath(data_.file(kSettingsFileName)));
    ASSERT_TRUE(settings.open_settings(false));
    EXPECT_EQ(settings.get_setting_value(kStereoEnableSetting), "TRUE");
    EXPECT_EQ(settings.get_setting_value(kEyeSeparationSetting), "175.000000");
    // The Advanced page was shown, so it was applied as well.
    EXPECT_EQ(settings.get_setting_value(kProcessorUsageSetting), "4");
    EXPECT_EQ(settings.get_setting_value(kOverlaySignedSetting), "FALSE");
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
