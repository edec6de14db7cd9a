// stellarix.cpl's Stereo, Advanced and About pages in the real sheet: each
// page opened and photographed, the stereo check box and slider changed and
// applied, the system settings file read back; then the exported install
// hook, called as the component installer calls it.
#include <windows.h>

#include <commctrl.h>
#include <cpl.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "components/settings_store.h"
#include "components/testing/registry_guard.h"
#include "control_panel/cpl_test_support.h"
#include "control_panel/resource.h"
#include "include/install_hook.h"
#include "platform/testing/test_support.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image_write.h"

namespace sx::cpl {
namespace {

constexpr char kSheetTitle[] = "Stellarix 3D Player Settings";
constexpr int kApplyButton = 0x3021;

// Steps run one per timer tick inside the sheet's modal loop; a step that
// returns false is tried again. When the steps are done, or one never
// succeeds, the sheet is cancelled so that the test ends.
std::vector<std::function<bool()>>* g_steps = nullptr;
size_t g_next = 0;
int g_retries = 0;

VOID CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
    auto& steps = *g_steps;
    if (g_next < steps.size() && g_retries++ < 200) {
        if (steps[g_next]()) ++g_next, g_retries = 0;
    } else if (HWND sheet = FindWindowA("#32770", kSheetTitle)) {
        PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    }
}

// The window as it is on the screen, as a PNG file beside the test.
bool save_screenshot(HWND window, const char* name) {
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    unsigned char* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS,
                                      reinterpret_cast<void**>(&bits), nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    for (int i = 0; i < width * height * 4; i += 4)
        std::swap(bits[i], bits[i + 2]), bits[i + 3] = 255;
    CreateDirectoryA(SX_ARTIFACT_DIR, nullptr);
    const std::string file = std::string(SX_ARTIFACT_DIR) + "\\" + name;
    const bool saved = stbi_write_png(file.c_str(), width, height, 4, bits, width * 4) != 0;
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}

class LoadedPanel : public testing::PlayerKeyTest {
protected:
    void SetUp() override {
        testing::PlayerKeyTest::SetUp();
        ASSERT_TRUE(data_path_.set(data_.path()));
        ASSERT_TRUE(always_install_.remove());
        module_ = LoadLibraryA(SX_CPL_FILE);
        ASSERT_NE(module_, nullptr) << SX_CPL_FILE;
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
        testing::PlayerKeyTest::TearDown();
    }
    template <typename Function>
    Function entry(const char* name) {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }

    sx::testing::TemporaryDirectory data_;
    // Where the player's data directories are looked up first.
    testing::RegistryValueGuard data_path_{
        kHkeyLocalMachine, "SOFTWARE\\Stellarix\\Stellarix Player\\", "SystemDataPath"};
    testing::RegistryValueGuard always_install_{kHkeyCurrentUser, kPlayerKey, kAlwaysInstallValue};
    HMODULE module_ = nullptr;
};

TEST_F(LoadedPanel, StereoChangesReachTheSystemSettingsFile) {
    auto applet = entry<LONG(CALLBACK*)(HWND, UINT, LPARAM, LPARAM)>("CPlApplet");
    ASSERT_NE(applet, nullptr);
    testing::store_value(kRasterizersValue, kRegSz, "t3d,eol");
    ASSERT_EQ(applet(nullptr, CPL_INIT, 0, 0), 1);
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
    std::vector<std::function<bool()>> steps{
        [&] { return (sheet = FindWindowA("#32770", kSheetTitle)) != nullptr; }};
    for (int i : {0, 1, 2, 3, 1}) {
        steps.push_back([&, i] { return PropSheet_SetCurSel(sheet, nullptr, i) != FALSE; });
        steps.push_back([&, i] {
            HWND page = PropSheet_GetCurrentPageHwnd(sheet);
            if (!page || !GetDlgItem(page, pages[i].probe)) return false;
            char text[4096] = "";
            GetDlgItemTextA(page, pages[i].probe, text, sizeof text);
            shown.push_back(text);
            shots += save_screenshot(sheet, pages[i].file);
            if (i == 1) stereo = page;
            return true;
        });
    }
    steps.push_back([&] {
        HWND slider = GetDlgItem(stereo, IDC_EYE_SEPARATION);
        slider_before = int(SendMessageA(slider, TBM_GETPOS, 0, 0));
        SendMessageA(GetDlgItem(stereo, IDC_STEREO_ENABLE), BM_CLICK, 0, 0);
        checked = IsDlgButtonChecked(stereo, IDC_STEREO_ENABLE) == BST_CHECKED;
        SendMessageA(slider, TBM_SETPOS, TRUE, 1000);
        SendMessageA(stereo, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), LPARAM(slider));
        apply_enabled = IsWindowEnabled(GetDlgItem(sheet, kApplyButton)) != FALSE;
        return PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_APPLYNOW, 0) != FALSE;
    });
    steps.push_back([&] { return !IsWindowEnabled(GetDlgItem(sheet, kApplyButton)); });
    g_steps = &steps;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, tick);
    EXPECT_EQ(applet(nullptr, CPL_DBLCLK, 0, 0), 0);
    KillTimer(nullptr, timer);
    ASSERT_EQ(g_next, steps.size());

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

// RunOnce values are read in this process: Wine carries them out when a
// wineserver starts afresh.
TEST_F(LoadedPanel, InstallHookCopiesThePanelUnlessTheOldCopyIsInUse) {
    auto hook = entry<component_install_initialize_function>(SX_INSTALL_HOOK_ENTRY_NAME);
    ASSERT_NE(hook, nullptr);
    testing::RegistryValueGuard removal(kHkeyLocalMachine, kRunOnceKey, kPanelRemovalValue);
    char system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryA(system, sizeof system), 0u);
    const std::string copy = std::string(system) + "\\stellarix.cpl";
    const char* names[] = {"fish"};
    const char* values[] = {"sub\\t.sxvm"};
    for (bool in_use : {false, true}) {
        ASSERT_TRUE(removal.set("cmd /c del stellarix.cpl"));
        HANDLE held =
            in_use ? CreateFileA(copy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                   : INVALID_HANDLE_VALUE;
        hook(SX_CPL_FILE, 1, names, values);
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        HKEY key;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_READ, &key), 0);
        EXPECT_EQ(RegQueryValueExA(key, kPanelRemovalValue, nullptr, nullptr, nullptr, nullptr) ==
                      ERROR_SUCCESS,
                  in_use);
        RegCloseKey(key);
    }
    std::string original, copied;
    ASSERT_TRUE(sx::testing::read_file(SX_CPL_FILE, &original));
    ASSERT_TRUE(sx::testing::read_file(copy, &copied));
    EXPECT_TRUE(copied == original);
    const std::string library = SX_CPL_FILE;
    EXPECT_EQ(testing::stored_value(kTestAppletValue).bytes,
              library.substr(0, library.rfind('\\') + 1) + "sub\\t.sxvm");
    DeleteFileA(copy.c_str());
}

}  // namespace
}  // namespace sx::cpl
