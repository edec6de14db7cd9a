// The ad window on Windows: a subclassed child "STATIC" window. Layers are
// 32-bit DIB sections whose memory the shared drawing code writes; frames
// are cached 24-bit DIB sections; text is drawn by GDI.
#include <windows.h>

#include "advertising/ad_window.h"
#include "advertising/host_memory.h"
#include "advertising/surface.h"
#include "ui/win32/scoped_gdi.h"

namespace ad {

namespace {

constexpr char kWindowProperty[] = "ImageWindowPointer";
constexpr char kFingerCursor[] = "CURSOR_FINGERPOINT";
constexpr char kFontFace[] = "Arial";
constexpr char kComponentName[] = "advertising";
constexpr char kLibraryKey[] = "library";
constexpr int kPathBufferSize = 260;

// Loaded on the first cursor request of the process and kept.
struct Cursors {
    bool loaded = false;
    HCURSOR finger = nullptr;
    HCURSOR arrow = nullptr;
};
Cursors g_cursors;

LRESULT CALLBACK ad_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace

struct Surface {
    HWND window = nullptr;
    LONG_PTR previous_proc = 0;
    HDC memory_dc = nullptr;
    HDC window_dc = nullptr;
    HDC paint_dc = nullptr;  // set while a paint request is served
    HBITMAP layers[2] = {};
    Canvas canvases[2];
    LOGFONTA font_description{};  // filled on first use
    HFONT font = nullptr;
};

namespace {

int slot(Layer layer) { return layer == Layer::picture ? 0 : 1; }

COLORREF colorref(Rgb c) { return RGB(c.r, c.g, c.b); }

HFONT message_font(Surface* s, int char_height) {
    if (s->font && s->font_description.lfHeight == -char_height) return s->font;
    if (s->font) DeleteObject(s->font);
    LOGFONTA& f = s->font_description;
    f = LOGFONTA{};
    f.lfHeight = -char_height;  // negative: a character height, not a cell height
    f.lfWeight = FW_NORMAL;
    f.lfCharSet = DEFAULT_CHARSET;
    f.lfQuality = DRAFT_QUALITY;
    lstrcpynA(f.lfFaceName, kFontFace, LF_FACESIZE);
    s->font = CreateFontIndirectA(&f);
    return s->font;
}

void load_cursors() {
    if (g_cursors.loaded) return;
    g_cursors.loaded = true;
    char path[kPathBufferSize] = {};
    const ComponentServices& host = host_table();
    if (host.find_component_item &&
        host.find_component_item(kComponentName, kLibraryKey, path, kPathBufferSize) != 0) {
        path[kPathBufferSize - 1] = '\0';
        if (HMODULE module = LoadLibraryA(path)) {
            g_cursors.finger = LoadCursorA(module, kFingerCursor);
        }
    }
    g_cursors.arrow = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
}

LRESULT CALLBACK ad_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    AdWindow* w = static_cast<AdWindow*>(GetPropA(hwnd, kWindowProperty));
    if (!w || !w->handle) return DefWindowProcA(hwnd, message, wparam, lparam);
    try {
        switch (message) {
            case WM_PAINT: {
                sx::ui::ScopedPaint paint(hwnd);
                w->handle->paint_dc = paint.get();
                try {
                    ad_window_paint(w);
                } catch (...) {
                }
                w->handle->paint_dc = nullptr;
                return 0;
            }
            case WM_SETCURSOR:
                load_cursors();
                SetCursor(ad_window_shows_finger(w, g_cursors.finger != nullptr) ? g_cursors.finger
                                                                                 : g_cursors.arrow);
                return 0;
            case WM_LBUTTONUP:
            case WM_RBUTTONUP:
            case WM_MBUTTONUP:
                ad_window_clicked(w);
                return 0;
        }
    } catch (...) {
        return 0;
    }
    return DefWindowProcA(hwnd, message, wparam, lparam);
}

}  // namespace

Surface* surface_create(uint32_t parent, AdWindow* owner, int* width, int* height) {
    HWND parent_window = reinterpret_cast<HWND>(static_cast<uintptr_t>(parent));
    RECT client{};
    if (!GetClientRect(parent_window, &client)) return nullptr;
    const int w = client.right - client.left, h = client.bottom - client.top;
    Surface* s = host_new<Surface>();
    s->window = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, w, h, parent_window,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!s->window) {
        host_delete(s);
        return nullptr;
    }
    SetPropA(s->window, kWindowProperty, owner);
    s->previous_proc =
        SetWindowLongPtrA(s->window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ad_window_proc));
    s->memory_dc = CreateCompatibleDC(nullptr);
    s->window_dc = GetDC(s->window);
    *width = w;
    *height = h;
    return s;
}

void surface_destroy(Surface* s) {
    if (!s) return;
    if (s->memory_dc) DeleteDC(s->memory_dc);
    if (s->window_dc) ReleaseDC(s->window, s->window_dc);
    RemovePropA(s->window, kWindowProperty);
    SetWindowLongPtrA(s->window, GWLP_WNDPROC, s->previous_proc);
    DestroyWindow(s->window);
    for (HBITMAP layer : s->layers) {
        if (layer) DeleteObject(layer);
    }
    if (s->font) DeleteObject(s->font);
    host_delete(s);
}

bool surface_create_bitmap(Surface*, int width, int height, FrameBitmap* out) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // positive: rows bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits) {
        if (bitmap) DeleteObject(bitmap);
        return false;
    }
    *out = FrameBitmap{bitmap, static_cast<uint8_t*>(bits), width, height};
    return true;
}

void surface_delete_bitmap(Surface*, FrameBitmap* bitmap) {
    if (bitmap->handle) DeleteObject(static_cast<HBITMAP>(bitmap->handle));
    *bitmap = FrameBitmap{};
}

Canvas surface_current_layer(const Surface* s, Layer layer) { return s->canvases[slot(layer)]; }

Canvas surface_layer(Surface* s, Layer layer, int width, int height) {
    Canvas& c = s->canvases[slot(layer)];
    if (!s->layers[slot(layer)] || c.width != width || c.height != height) {
        if (s->layers[slot(layer)]) DeleteObject(s->layers[slot(layer)]);
        s->layers[slot(layer)] = nullptr;
        c = Canvas{};
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;  // top-down, as the canvas is
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!bitmap || !bits) return c;
        s->layers[slot(layer)] = bitmap;
        c = Canvas{static_cast<uint32_t*>(bits), width, height, width};
    }
    GdiFlush();  // GDI must be done with the memory before we write it
    return c;
}

void surface_present(Surface* s, Layer layer, int y) {
    const Canvas& c = s->canvases[slot(layer)];
    HDC target = s->paint_dc ? s->paint_dc : s->window_dc;
    if (!c.pixels || !target || !s->memory_dc) return;
    sx::ui::ScopedSelect select(s->memory_dc, s->layers[slot(layer)]);
    BitBlt(target, 0, y, c.width, c.height, s->memory_dc, 0, 0, SRCCOPY);
}

void surface_measure_text(Surface* s, const char* text, int char_height, int* width, int* height) {
    *width = *height = 0;
    HFONT font = message_font(s, char_height);
    if (!font || !s->memory_dc) return;
    sx::ui::ScopedSelect select(s->memory_dc, font);
    SIZE size{};
    if (GetTextExtentPoint32A(s->memory_dc, text, lstrlenA(text), &size)) {
        *width = size.cx;
        *height = size.cy;
    }
}

void surface_draw_text(Surface* s, Layer layer, const char* text, int char_height, int x, int y,
                       Rgb colour) {
    const Canvas& c = s->canvases[slot(layer)];
    HFONT font = message_font(s, char_height);
    if (!c.pixels || !font || !s->memory_dc) return;
    sx::ui::ScopedSelect bitmap(s->memory_dc, s->layers[slot(layer)]);
    sx::ui::ScopedSelect select_font(s->memory_dc, font);
    sx::ui::ScopedTextStyle style(s->memory_dc, TRANSPARENT, colorref(colour));
    RECT area{x, y, c.width, c.height};
    DrawTextA(s->memory_dc, text, -1, &area, 0);
    GdiFlush();
}

}  // namespace ad
