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

bool screenshot(HWND window, const char* name) {
    return sx::testing::save_screenshot(window, artifact(name));
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
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
        testing::PlayerKeyTest::TearDown();
    }

    sx::testing::TemporaryDirectory data_;
    // Where the player's data directories are looked up first.
    testing::RegistryValueGuard data_path_{
        kHkeyLocalMachine, "SOFTWARE\\Stellarix\\Stellarix Player\\", "SystemDataPath"};
    testing::RegistryValueGuard always_install_{kHkeyCurrentUser, kPlayerKey, kAlwaysInstallValue};
    HMODULE module_ = nullptr;
    Applet applet_ = nullptr;
};

TEST_F(LoadedPanel, AnswersAndItsDrivenSheetStoresTestsReportsAndSetsStereo) {
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
    int tabs = 0, shots = 0, slider_before = -1;
    bool apply_enabled = false, disabled_while_testing = false, enabled_after = false;
    bool stereo_checked = false, stereo_apply_enabled = false;
    std::string stored, launch_line, shown;
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
            shots += screenshot(sheet, "page_rasterizers.png");
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
            shots += screenshot(report, "config_report.png");
            return PostMessageA(report, WM_COMMAND, IDOK, 0) != FALSE;
        },
    };
    // Then the Stereo page: its check and slider, and Apply.
    script.steps.push_back([&] { return PropSheet_SetCurSel(sheet, nullptr, 1) != FALSE; });
    script.steps.push_back([&] {
        page = PropSheet_GetCurrentPageHwnd(sheet);
        HWND slider = GetDlgItem(page, IDC_EYE_SEPARATION);
        if (!slider) return false;
        shots += screenshot(sheet, "page_stereo.png");
        slider_before = int(SendMessageA(slider, TBM_GETPOS, 0, 0));
        SendMessageA(GetDlgItem(page, IDC_STEREO_ENABLE), BM_CLICK, 0, 0);
        stereo_checked = IsDlgButtonChecked(page, IDC_STEREO_ENABLE) == BST_CHECKED;
        SendMessageA(slider, TBM_SETPOS, TRUE, 1000);
        SendMessageA(page, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), LPARAM(slider));
        stereo_apply_enabled = IsWindowEnabled(GetDlgItem(sheet, kApplyButton)) != FALSE;
        return PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_APPLYNOW, 0) != FALSE;
    });
    script.steps.push_back([&] { return !IsWindowEnabled(GetDlgItem(sheet, kApplyButton)); });
    script.close = [] {
        if (HWND w = FindWindowA("#32770", kReportTitle)) PostMessageA(w, WM_COMMAND, IDOK, 0);
        if (HWND w = FindWindowA("#32770", kSheetTitle))
            PostMessageA(w, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    };
    script.run([&] { EXPECT_EQ(applet_(nullptr, CPL_DBLCLK, 0, 0), 0); }, 50);
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

    EXPECT_EQ(shots, 3);
    EXPECT_EQ(slider_before, 311);
    EXPECT_TRUE(stereo_checked && stereo_apply_enabled);
    SettingsFile settings(FilePath(data_.file(kSettingsFileName)));
    ASSERT_TRUE(settings.open_settings(false));
    EXPECT_EQ(settings.get_setting_value(kStereoEnableSetting), "TRUE");
    EXPECT_EQ(settings.get_setting_value(kEyeSeparationSetting), "175.000000");
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
