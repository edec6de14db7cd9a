#include "platform/testing/window_watch.h"

// Nothing in the Linux build: its message boxes are lines on standard error.
#if defined(_WIN32)
#include <windows.h>

#include <cstring>

namespace sx::testing {
namespace {

// Tells which of the system's message box icons a static control shows:
// draws each candidate over a capture of the control and keeps the one that
// changes it least (the same icon drawn over itself changes nothing).
uint32_t identify_icon(HWND control) {
    RECT rect;
    if (!GetClientRect(control, &rect)) return 0;
    const int width = rect.right, height = rect.bottom;
    if (width <= 0 || height <= 0) return 0;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    // Another process's window DC shows nothing here; the screen shows what
    // the box painted.
    POINT origin = {0, 0};
    ClientToScreen(control, &origin);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP capture = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, capture);
    BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::vector<uint32_t> captured(static_cast<uint32_t*>(bits),
                                   static_cast<uint32_t*>(bits) + count);

    bool uniform = true;
    for (uint32_t pixel : captured) uniform = uniform && pixel == captured[0];

    struct Candidate {
        LPCSTR id;
        uint32_t flag;
    };
    const Candidate candidates[] = {
        {IDI_HAND, 0x10}, {IDI_EXCLAMATION, 0x30}, {IDI_ASTERISK, 0x40}, {IDI_QUESTION, 0x20}};
    uint32_t best = 0;
    uint64_t best_score = UINT64_MAX, second = UINT64_MAX;
    for (const Candidate& candidate : candidates) {
        std::memcpy(bits, captured.data(), count * 4);
        HICON icon = LoadIconA(nullptr, candidate.id);
        DrawIconEx(memory, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL);
        GdiFlush();
        uint64_t score = 0;
        const uint32_t* drawn = static_cast<uint32_t*>(bits);
        for (size_t i = 0; i < count; ++i) {
            for (int shift = 0; shift < 24; shift += 8) {
                int a = static_cast<int>((drawn[i] >> shift) & 0xFF);
                int b = static_cast<int>((captured[i] >> shift) & 0xFF);
                score += static_cast<uint64_t>(a > b ? a - b : b - a);
            }
        }
        if (score < best_score) {
            second = best_score;
            best_score = score;
            best = candidate.flag;
        } else if (score < second) {
            second = score;
        }
    }
    SelectObject(memory, old);
    DeleteObject(capture);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    // A blank capture (not painted yet) or a tie tells nothing.
    if (uniform || best_score == second) return 0;
    return best;
}

struct Watch {
    DWORD process_id;
    std::vector<HWND> seen;
    std::vector<ShownBox> boxes;
};

HWND icon_control(HWND dialog) {
    HWND child = nullptr;
    while ((child = FindWindowExA(dialog, child, "Static", nullptr)) != nullptr) {
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) return child;
    }
    return nullptr;
}

BOOL CALLBACK read_box(HWND window, LPARAM argument) {
    Watch* watch = reinterpret_cast<Watch*>(argument);
    char class_name[64] = {};
    GetClassNameA(window, class_name, sizeof class_name);
    if (std::strcmp(class_name, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != watch->process_id) return TRUE;
    for (HWND seen : watch->seen)
        if (seen == window) return TRUE;
    watch->seen.push_back(window);

    ShownBox box;
    char caption[512] = {};
    GetWindowTextA(window, caption, sizeof caption);
    box.caption = caption;
    std::vector<char> text(4096, '\0');
    GetDlgItemTextA(window, 0xFFFF, text.data(), static_cast<int>(text.size()));
    box.text = text.data();
    if (HWND icon = icon_control(window)) {
        // A box wider or taller than the screen may be centred so that its
        // icon lies off the screen; bring it to the top left corner.
        RECT on_screen;
        GetWindowRect(icon, &on_screen);
        if (on_screen.left < 0 || on_screen.top < 0 ||
            on_screen.right > GetSystemMetrics(SM_CXSCREEN) ||
            on_screen.bottom > GetSystemMetrics(SM_CYSCREEN)) {
            SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        }
        for (int attempt = 0; attempt < 40 && box.icon == 0; ++attempt) {
            box.icon = identify_icon(icon);
            if (box.icon == 0) Sleep(50);
        }
    }
    box.topmost = (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    watch->boxes.push_back(box);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return TRUE;
}

}  // namespace

bool run_watching_boxes(const std::string& command_line, uint32_t timeout_ms, WatchedRun* run) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::vector<char> line(command_line.begin(), command_line.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    Watch watch{process.dwProcessId, {}, {}};
    const DWORD start = GetTickCount();
    for (;;) {
        EnumWindows(read_box, reinterpret_cast<LPARAM>(&watch));
        if (WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0) {
            run->ended = true;
            break;
        }
        if (GetTickCount() - start > timeout_ms) {
            TerminateProcess(process.hProcess, 1);
            break;
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    run->exit_code = code;
    run->boxes = watch.boxes;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

}  // namespace sx::testing

#endif
