#include "platform/testing/window_watch.h"

// Nothing in the Linux build: its message boxes are lines on standard error.
#if defined(_WIN32)
#include <windows.h>

#include <algorithm>
#include <cstring>

namespace sx::testing {
namespace {

// How far apart two pixel runs are: the sum of their colour differences.
uint64_t distance(const uint32_t* a, const uint32_t* b, size_t count) {
    uint64_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        for (int shift = 0; shift < 24; shift += 8) {
            const int d =
                static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF);
            sum += static_cast<uint64_t>(d < 0 ? -d : d);
        }
    return sum;
}

// Tells which of the system's message box icons a static control shows:
// draws each candidate over a capture of the control and keeps the one that
// changes it least (the same icon drawn over itself changes nothing).
uint32_t identify_icon(HWND control) {
    RECT rect;
    if (!GetClientRect(control, &rect) || rect.right <= 0 || rect.bottom <= 0) return 0;
    BITMAPINFO info = {};
    info.bmiHeader = {
        sizeof info.bmiHeader, rect.right, -rect.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    // The screen shows what another process's window painted; its DC would not.
    POINT origin = {0, 0};
    ClientToScreen(control, &origin);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP capture = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, capture);
    BitBlt(memory, 0, 0, rect.right, rect.bottom, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    const size_t count = static_cast<size_t>(rect.right) * static_cast<size_t>(rect.bottom);
    uint32_t* drawn = static_cast<uint32_t*>(bits);
    const std::vector<uint32_t> captured(drawn, drawn + count);
    const std::vector<uint32_t> blank(count, captured[0]);

    const std::pair<LPCSTR, uint32_t> candidates[] = {
        {IDI_HAND, 0x10}, {IDI_EXCLAMATION, 0x30}, {IDI_ASTERISK, 0x40}, {IDI_QUESTION, 0x20}};
    uint32_t best = 0;
    uint64_t best_score = UINT64_MAX, second = UINT64_MAX;
    for (const auto& [id, flag] : candidates) {
        std::memcpy(drawn, captured.data(), count * 4);
        DrawIconEx(memory, 0, 0, LoadIconA(nullptr, id), 0, 0, 0, nullptr, DI_NORMAL);
        GdiFlush();
        const uint64_t score = distance(drawn, captured.data(), count);
        second = std::min(second, std::max(score, best_score));
        if (score < best_score) {
            best_score = score;
            best = flag;
        }
    }
    SelectObject(memory, old);
    DeleteObject(capture);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    // A blank capture (not painted yet) or a tie tells nothing.
    return captured == blank || best_score == second ? 0 : best;
}

struct Watch {
    DWORD process_id;
    std::vector<HWND> seen;
    std::vector<ShownBox> boxes;
};

HWND icon_control(HWND dialog) {
    HWND child = nullptr;
    while ((child = FindWindowExA(dialog, child, "Static", nullptr)) != nullptr)
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) return child;
    return nullptr;
}

// Reads a box the watched process shows, once, and presses its OK button.
BOOL CALLBACK read_box(HWND window, LPARAM argument) {
    Watch* watch = reinterpret_cast<Watch*>(argument);
    char class_name[64] = {}, caption[512] = {}, text[4096] = {};
    GetClassNameA(window, class_name, sizeof class_name);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (std::strcmp(class_name, "#32770") != 0 || !IsWindowVisible(window) ||
        owner != watch->process_id ||
        std::find(watch->seen.begin(), watch->seen.end(), window) != watch->seen.end())
        return TRUE;
    watch->seen.push_back(window);
    GetWindowTextA(window, caption, sizeof caption);
    GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
    ShownBox box{caption, text};
    if (HWND icon = icon_control(window)) {
        // A box wider or taller than the screen may be centred so that its
        // icon lies off the screen; bring it to the top left corner.
        RECT on_screen;
        GetWindowRect(icon, &on_screen);
        if (on_screen.left < 0 || on_screen.top < 0 ||
            on_screen.right > GetSystemMetrics(SM_CXSCREEN) ||
            on_screen.bottom > GetSystemMetrics(SM_CYSCREEN))
            SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        for (int attempt = 0; attempt < 40 && (box.icon = identify_icon(icon)) == 0; ++attempt)
            Sleep(50);
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
    std::string line = command_line;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    Watch watch{process.dwProcessId, {}, {}};
    for (const DWORD start = GetTickCount();;) {
        EnumWindows(read_box, reinterpret_cast<LPARAM>(&watch));
        run->ended = WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0;
        if (run->ended) break;
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
