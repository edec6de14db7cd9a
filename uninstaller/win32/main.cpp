// uninstaller.exe: the two stages with real dialogs.
#include <windows.h>

#include <cstring>

#include "platform/platform.h"
#include "ui/win32/dialog.h"
#include "uninstaller/flow.h"
#include "uninstaller/removal.h"
#include "uninstaller/resource.h"
#include "uninstaller/uninstaller_texts.h"

namespace sx {
namespace {

BOOL CALLBACK find_netscape(HWND window, LPARAM found) {
    char title[1024] = {};
    GetWindowTextA(window, title, sizeof title);
    if (!is_netscape_title(title)) return TRUE;
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
}

class Win32Host : public UninstallerHost {
public:
    explicit Win32Host(HINSTANCE instance) : instance_(instance) {}

    int show_dialog(int dialog, const std::string& text) override {
        UninstallerPage page(dialog == IDD_BROWSERS ? IDC_BROWSER_TEXT : IDC_BODY, text);
        // A dialog that cannot be made counts as Cancel.
        return ui::run_modal_dialog(instance_, dialog, nullptr, page) == 1 ? 1 : 0;
    }
    // A window program has a standard output only when its starter gave it
    // one; otherwise the usage shows in a message box.
    void show_usage(const std::string& usage) override {
        HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        DWORD written = 0;
        if (out && out != INVALID_HANDLE_VALUE &&
            WriteFile(out, usage.data(), static_cast<DWORD>(usage.size()), &written, nullptr))
            return;
        platform().message_box(usage.c_str(), uninstaller_texts::kCaption, kMbOk);
    }
    bool internet_explorer_running() override { return FindWindowA("IEFrame", nullptr) != nullptr; }
    bool netscape_running() override {
        bool found = false;
        EnumWindows(find_netscape, reinterpret_cast<LPARAM>(&found));
        return found;
    }
    void show_working() override {
        working_ = ui::create_modeless_dialog(instance_, IDD_WORKING, nullptr, working_page_);
        if (working_) ShowWindow(working_, SW_SHOW);
    }
    void hide_working() override {
        if (working_) DestroyWindow(working_);
        working_ = nullptr;
    }
    void pump_messages() override {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (working_ && IsDialogMessageA(working_, &message)) continue;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }

private:
    HINSTANCE instance_;
    WorkingPage working_page_;
    HWND working_ = nullptr;
};

}  // namespace
}  // namespace sx

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    sx::Win32Host host(instance);
    return sx::run_uninstaller(sx::platform().command_line(), host, sx::remove_player);
}
