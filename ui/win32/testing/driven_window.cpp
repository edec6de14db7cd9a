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

bool save_screenshot(HWND window, const std::string& png_path) {
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT r;
    GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    BITMAPINFO info{{sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    unsigned char* bgra = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS,
                                      reinterpret_cast<void**>(&bgra), nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    for (int i = 0; i < w * h * 4; i += 4) std::swap(bgra[i], bgra[i + 2]), bgra[i + 3] = 255;
    const bool saved = stbi_write_png(png_path.c_str(), w, h, 4, bgra, w * 4) != 0;
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}

}  // namespace sx::testing
