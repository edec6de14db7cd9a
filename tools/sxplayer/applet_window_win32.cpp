#include <windows.h>

#include "tools/sxplayer/applet_window.h"
#include "ui/win32/scoped_gdi.h"

namespace sxplayer {

namespace {

constexpr char kClassName[] = "SxPlayerAppletWindow";
constexpr char kTitle[] = "sxplayer";
constexpr UINT_PTR kHeartbeatTimer = 1;

LRESULT CALLBACK applet_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_ERASEBKGND) {
        RECT r;
        GetClientRect(hwnd, &r);
        sx::ui::ScopedBrush brush(CreateSolidBrush(RGB(0x40, 0x40, 0x40)));
        FillRect(reinterpret_cast<HDC>(wparam), &r, brush.get());
        return 1;
    }
    return DefWindowProcA(hwnd, message, wparam, lparam);
}

HWND hwnd_of(uint32_t window) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(window)); }

BOOL CALLBACK count_child(HWND, LPARAM counter) {
    ++*reinterpret_cast<int*>(counter);
    return TRUE;
}

}  // namespace

uint32_t create_applet_window(int width, int height) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = applet_proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClassName;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    RegisterClassA(&wc);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | WS_VISIBLE;
    RECT frame{0, 0, width, height};
    AdjustWindowRect(&frame, style, FALSE);
    HWND hwnd = CreateWindowExA(0, kClassName, kTitle, style, 0, 0, frame.right - frame.left,
                                frame.bottom - frame.top, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    if (!hwnd) return 0;
    UpdateWindow(hwnd);
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(hwnd));
}

void destroy_applet_window(uint32_t window) { DestroyWindow(hwnd_of(window)); }

void run_timer_loop(uint32_t window, uint32_t period_ms, TickFn tick, void* argument) {
    HWND hwnd = hwnd_of(window);
    SetTimer(hwnd, kHeartbeatTimer, period_ms, nullptr);
    MSG msg;
    bool running = true;
    while (running && GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && msg.hwnd == hwnd && msg.wParam == kHeartbeatTimer) {
            running = tick(argument);
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    KillTimer(hwnd, kHeartbeatTimer);
}

bool capture_window(uint32_t window, std::vector<uint32_t>* pixels, int* width, int* height) {
    HWND hwnd = hwnd_of(window);
    RECT r{};
    if (!GetClientRect(hwnd, &r)) return false;
    *width = r.right;
    *height = r.bottom;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = *width;
    info.bmiHeader.biHeight = -*height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    sx::ui::ScopedBitmap bitmap(
        CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    sx::ui::ScopedWindowDc source(hwnd);
    sx::ui::ScopedMemoryDc memory(source.get());
    if (!bitmap || !source || !memory) return false;
    {
        sx::ui::ScopedSelect select(memory.get(), bitmap.get());
        BitBlt(memory.get(), 0, 0, *width, *height, source.get(), 0, 0, SRCCOPY);
    }
    GdiFlush();
    const uint32_t* p = static_cast<const uint32_t*>(bits);
    pixels->assign(p, p + static_cast<size_t>(*width) * *height);
    for (uint32_t& v : *pixels) v &= 0xFFFFFF;
    return true;
}

int child_window_count(uint32_t window) {
    int count = 0;
    EnumChildWindows(hwnd_of(window), count_child, reinterpret_cast<LPARAM>(&count));
    return count;
}

}  // namespace sxplayer
