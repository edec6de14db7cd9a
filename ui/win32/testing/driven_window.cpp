#include "ui/win32/testing/driven_window.h"

#include <gtest/gtest.h>

#include <utility>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image_write.h"

namespace sx::testing {
namespace {

TimerScript* g_script = nullptr;
int g_tries = 0;
bool g_busy = false;  // a step that pumps messages itself is running

VOID CALLBACK script_tick(HWND, UINT, UINT_PTR, DWORD) {
    TimerScript& s = *g_script;
    if (g_busy) return;
    g_busy = true;
    if (s.next < s.steps.size() && !s.gave_up && s.steps[s.next]()) {
        ++s.next, g_tries = 0;
    } else if (s.next >= s.steps.size() || s.gave_up || ++g_tries > s.patience) {
        if (s.next < s.steps.size() && !s.gave_up)
            ADD_FAILURE() << "step " << s.next << " never succeeded";
        s.gave_up = s.next < s.steps.size();
        s.close();
    }
    g_busy = false;
}

std::vector<unsigned char> capture(HWND window, bool client_area, int* width, int* height) {
    RECT r;
    if (client_area) {
        GetClientRect(window, &r);
        MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
    } else {
        GetWindowRect(window, &r);
    }
    const int w = *width = r.right - r.left, h = *height = r.bottom - r.top;
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    BITMAPINFO info{{sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    unsigned char* bgra = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS,
                                      reinterpret_cast<void**>(&bgra), nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    std::vector<unsigned char> rgba;
    if (bgra) rgba.assign(bgra, bgra + size_t(w) * h * 4);
    for (size_t i = 0; i < rgba.size(); i += 4) std::swap(rgba[i], rgba[i + 2]), rgba[i + 3] = 255;
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return rgba;
}

}  // namespace

void TimerScript::run(const std::function<void()>& modal, UINT period_ms) {
    g_script = this;
    g_tries = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, period_ms, script_tick);
    modal();
    KillTimer(nullptr, timer);
    g_script = nullptr;
}

std::string dialog_text(HWND dialog, int id) {
    char text[4096] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

bool save_screenshot(HWND window, const std::string& png_path, bool client_area) {
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
    std::vector<unsigned char> last, now;
    int w = 0, h = 0;
    for (int i = 0; i < 30; ++i, last = now, Sleep(100)) {
        now = capture(window, client_area, &w, &h);
        if (now == last || !IsWindowVisible(window)) break;
    }
    return !now.empty() && stbi_write_png(png_path.c_str(), w, h, 4, now.data(), w * 4) != 0;
}

}  // namespace sx::testing
