#include "ui/win32/hwnd.h"

#include <commctrl.h>

#include <cstring>
#include <vector>

namespace sx::ui {

std::string window_text(HWND window) {
    const int length = GetWindowTextLengthA(window);
    if (length <= 0) return {};
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    const int copied = GetWindowTextA(window, buffer.data(), length + 1);
    return std::string(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

void center_on_desktop(HWND window) {
    RECT desktop;
    RECT own;
    if (!GetWindowRect(GetDesktopWindow(), &desktop) || !GetWindowRect(window, &own)) return;
    const int x = desktop.left + ((desktop.right - desktop.left) - (own.right - own.left)) / 2;
    const int y = desktop.top + ((desktop.bottom - desktop.top) - (own.bottom - own.top)) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {

BOOL CALLBACK disable_child(HWND child, LPARAM) {
    EnableWindow(child, FALSE);
    return TRUE;
}

}  // namespace

void disable_with_children(HWND window) {
    EnumChildWindows(window, disable_child, 0);
    EnableWindow(window, FALSE);
}

bool is_list_view(HWND window) {
    char name[64];
    if (!window || GetClassNameA(window, name, sizeof name) == 0) return false;
    return lstrcmpiA(name, WC_LISTVIEWA) == 0;
}

POINT message_point_in(HWND window) {
    const DWORD position = GetMessagePos();
    POINT point{static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
    ScreenToClient(window, &point);
    return point;
}

bool dispatch_pending_messages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return false;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return true;
}

}  // namespace sx::ui
