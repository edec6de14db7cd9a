// stellarix.cpl's Stereo, Advanced and About pages in the real sheet: each
// page opened and photographed, the stereo check box and slider changed and
// applied, and the settings file of the system data directory read back.
// Then the exported install hook, called as the component installer calls
// it.
#include <windows.h>

#include <commctrl.h>
#include <cpl.h>
#include <gtest/gtest.h>

#include <cstdlib>
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

using Applet = LONG(CALLBACK*)(HWND, UINT, LPARAM, LPARAM);

constexpr char kSheetTitle[] = "Stellarix 3D Player Settings";
constexpr int kApplyButton = 0x3021;

// Steps run one per timer tick inside the sheet's modal loop; a step that
// returns false is tried again on the next tick. After the last step, or
// too many retries, the sheet is cancelled so a failing test ends.
struct Script {
    std::vector<std::function<bool()>> steps;
    size_t next = 0;
    int retries = 0;
    bool busy = false;
    bool gave_up = false;
};
Script* g_script = nullptr;

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
    } else if (HWND sheet = FindWindowA("#32770", kSheetTitle)) {
        PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    }
    script.busy = false;
}

// The window's pixels as they are on the screen, as a PNG file.
bool save_screenshot(HWND window, const std::string& file) {
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
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

std::string item_text(HWND dialog, int id) {
    char text[4096] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

class LoadedPanel : public test::PlayerKeyTest {
protected:
    void SetUp() override {
        test::PlayerKeyTest::SetUp();
        ASSERT_TRUE(data_.ok());
        ASSERT_TRUE(data_path_.set(data_.path()));
        ASSERT_TRUE(always_install_.remove());
        module_ = LoadLibraryA(SX_CPL_FILE);
        ASSERT_NE(module_, nullptr) << SX_CPL_FILE;
        applet_ =
            reinterpret_cast<Applet>(reinterpret_cast<void*>(GetProcAddress(module_, "CPlApplet")));
        hook_ = reinterpret_cast<component_install_initialize_function>(
            reinterpret_cast<void*>(GetProcAddress(module_, SX_INSTALL_HOOK_ENTRY_NAME)));
        ASSERT_NE(applet_, nullptr);
        ASSERT_NE(hook_, nullptr);
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
        test::PlayerKeyTest::TearDown();
    }

    sx::test::TemporaryDirectory data_;
    // Where the player's data directories are looked up first.
    testing::RegistryValueGuard data_path_{
        kHkeyLocalMachine, "SOFTWARE\\Stellarix\\Stellarix Player\\", "SystemDataPath"};
    testing::RegistryValueGuard always_install_{kHkeyCurrentUser, kPlayerKey, kAlwaysInstallValue};
    HMODULE module_ = nullptr;
    Applet applet_ = nullptr;
    component_install_initialize_function hook_ = nullptr;
};

TEST_F(LoadedPanel, StereoChangesReachTheSystemSettingsFile) {
    test::store_value(kRasterizersValue, kRegSz, "t3d,eol");
    ASSERT_EQ(applet_(nullptr, CPL_INIT, 0, 0), 1);
    HWND sheet = nullptr, stereo = nullptr;
    std::vector<std::string> shown;  // a control text of each page, as shown
    std::vector<bool> shots;
    int slider_before = -1, label_offset = 999;
    bool apply_enabled = false, checked_after_click = false;
    const struct {
        int probe;
        const char* file;
    } pages[] = {{IDC_RASTERIZER_LIST, "page_rasterizers.png"},
                 {IDC_STEREO_ENABLE, "page_stereo.png"},
                 {IDC_USAGE_DEFAULT_LABEL, "page_advanced.png"},
                 {IDC_ABOUT_LEGAL, "page_about.png"}};
    Script script;
    script.steps.push_back([&] { return (sheet = FindWindowA("#32770", kSheetTitle)) != nullptr; });
    for (int i = 0; i < 4; ++i) {
        script.steps.push_back([&, i] { return PropSheet_SetCurSel(sheet, nullptr, i) != FALSE; });
        script.steps.push_back([&, i] {
            HWND page = PropSheet_GetCurrentPageHwnd(sheet);
            if (!page || !GetDlgItem(page, pages[i].probe)) return false;
            shown.push_back(item_text(page, pages[i].probe));
            shots.push_back(save_screenshot(sheet, artifact(pages[i].file)));
            if (i == 1) stereo = page;
            return true;
        });
    }
    script.steps.push_back([&] { return PropSheet_SetCurSel(sheet, nullptr, 1) != FALSE; });
    script.steps.push_back([&] {
        HWND slider = GetDlgItem(stereo, IDC_EYE_SEPARATION);
        slider_before = int(SendMessageA(slider, TBM_GETPOS, 0, 0));
        // The "Default" label's centre against the tick, in page coordinates.
        POINT tick{LONG(SendMessageA(slider, TBM_GETTICPOS, 0, 0)), 0};
        MapWindowPoints(slider, stereo, &tick, 1);
        RECT label;
        GetWindowRect(GetDlgItem(stereo, IDC_EYE_DEFAULT_LABEL), &label);
        MapWindowPoints(nullptr, stereo, reinterpret_cast<POINT*>(&label), 2);
        label_offset = (label.left + label.right) / 2 - tick.x;

        SendMessageA(GetDlgItem(stereo, IDC_STEREO_ENABLE), BM_CLICK, 0, 0);
        checked_after_click = IsDlgButtonChecked(stereo, IDC_STEREO_ENABLE) == BST_CHECKED;
        SendMessageA(slider, TBM_SETPOS, TRUE, 1000);
        SendMessageA(stereo, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), LPARAM(slider));
        apply_enabled = IsWindowEnabled(GetDlgItem(sheet, kApplyButton)) != FALSE;
        return true;
    });
    script.steps.push_back([&] {
        PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_APPLYNOW, 0);
        return true;
    });
    script.steps.push_back([&] {
        return !IsWindowEnabled(GetDlgItem(sheet, kApplyButton));  // applied
    });
    g_script = &script;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, tick);
    EXPECT_EQ(applet_(nullptr, CPL_DBLCLK, 0, 0), 0);
    KillTimer(nullptr, timer);
    g_script = nullptr;
    ASSERT_FALSE(script.gave_up);

    EXPECT_EQ(shots, std::vector<bool>(4, true));
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[1], "Enable OpenGL 3D Stereo support");
    EXPECT_EQ(shown[2], "Default");
    EXPECT_EQ(shown[3], kLegalFileMissing);
    EXPECT_EQ(slider_before, 311);
    EXPECT_LE(std::abs(label_offset), 1);
    EXPECT_TRUE(checked_after_click);
    EXPECT_TRUE(apply_enabled);

    SettingsFile settings(FilePath(data_.file(kSettingsFileName)));
    ASSERT_TRUE(settings.open_settings(false));
    EXPECT_TRUE(settings.get_setting_bool(kStereoEnableSetting, false));
    EXPECT_EQ(settings.get_setting_value(kEyeSeparationSetting), "175.000000");
    // The Advanced page was shown, so it was applied as well.
    EXPECT_EQ(settings.get_setting_value(kProcessorUsageSetting), "4");
    EXPECT_FALSE(settings.get_setting_bool(kOverlaySignedSetting, true));
}

// What the installer does after placing the panel in its component folder.
// RunOnce values are read in this process: Wine carries them out when a
// wineserver starts afresh.
TEST_F(LoadedPanel, InstallHookCopiesThePanelUnlessTheOldCopyIsInUse) {
    testing::RegistryValueGuard removal(kHkeyLocalMachine, kRunOnceKey, kPanelRemovalValue);
    char system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryA(system, sizeof system), 0u);
    const std::string copy = std::string(system) + "\\stellarix.cpl";
    const char* names[] = {"fish"};
    const char* values[] = {"sub\\t.sxvm"};
    const auto scheduled = [&] {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_READ, &key)) return false;
        const bool found = RegQueryValueExA(key, kPanelRemovalValue, nullptr, nullptr, nullptr,
                                            nullptr) == ERROR_SUCCESS;
        RegCloseKey(key);
        return found;
    };

    for (bool in_use : {false, true}) {
        ASSERT_TRUE(removal.set("cmd /c del stellarix.cpl"));
        HANDLE held = INVALID_HANDLE_VALUE;
        if (in_use)
            held = CreateFileA(copy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        hook_(SX_CPL_FILE, 1, names, values);
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        EXPECT_EQ(scheduled(), in_use);
    }
    std::string original, copied;
    ASSERT_TRUE(sx::test::read_file(SX_CPL_FILE, &original));
    ASSERT_TRUE(sx::test::read_file(copy, &copied));
    EXPECT_TRUE(copied == original);
    std::string expected = SX_CPL_FILE;
    expected = expected.substr(0, expected.rfind('\\') + 1) + "sub\\t.sxvm";
    EXPECT_EQ(test::stored_value(kTestAppletValue).bytes, expected);
    DeleteFileA(copy.c_str());
}

}  // namespace
}  // namespace sx::cpl
