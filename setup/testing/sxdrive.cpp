// sxdrive: drives a program's dialogs as a user would, for the road under
// Wine. Starts COMMAND (a whole command line, run as the shell runs a
// program), then carries out the actions in order:
//   --window CAPTION   later actions look for a visible top-level dialog
//                      whose caption starts with CAPTION (of any process:
//                      a program may hand over to a copy of itself)
//   --press ID         waits until that dialog has the button ID visible and
//                      enabled, presses it, and lets the next page come up
//   --await ID:TEXT    waits until that dialog's control ID reads TEXT (a
//                      wizard's button that becomes "&Finish")
//   --shot FILE        saves the dialog as it is on the screen (BMP)
// and at the end waits for COMMAND's process and prints "exit: CODE".
//   sxdrive TIMEOUT_MS COMMAND ACTION...
// Exits 0 when every action was carried out in time, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Search {
    const std::string* caption;
    int button;
    const char* text;  // the button's text, or null for any
    HWND found;
};

BOOL CALLBACK match(HWND window, LPARAM argument) {
    Search* search = reinterpret_cast<Search*>(argument);
    char class_name[64] = {};
    GetClassNameA(window, class_name, sizeof class_name);
    if (std::strcmp(class_name, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    char caption[512] = {};
    GetWindowTextA(window, caption, sizeof caption);
    if (std::strncmp(caption, search->caption->c_str(), search->caption->size()) != 0) return TRUE;
    if (search->button) {
        HWND button = GetDlgItem(window, search->button);
        if (!button || !IsWindowVisible(button) || !IsWindowEnabled(button)) return TRUE;
        char text[128] = {};
        GetWindowTextA(button, text, sizeof text);
        if (search->text && std::strcmp(text, search->text) != 0) return TRUE;
    }
    search->found = window;
    return FALSE;
}

HWND wait_for(const std::string& caption, int button, const char* text, DWORD deadline) {
    while (GetTickCount() < deadline) {
        Search search{&caption, button, text, nullptr};
        EnumWindows(match, reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        Sleep(100);
    }
    return nullptr;
}

// The dialog's pixels from the screen, as a 24-bit BMP.
bool save_window(HWND window, const char* file) {
    SetForegroundWindow(window);
    Sleep(700);
    RECT rect;
    if (!GetWindowRect(window, &rect)) return false;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0 || width > 4096 || height > 4096) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::vector<unsigned char> pixels(static_cast<size_t>(stride) * height);
    const int rows = GetDIBits(memory, bitmap, 0, height, pixels.data(),
                               reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (rows != height) return false;
    BITMAPFILEHEADER header = {};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof header + sizeof info;
    header.bfSize = header.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = std::fopen(file, "wb");
    if (!out) return false;
    bool written = std::fwrite(&header, sizeof header, 1, out) == 1 &&
                   std::fwrite(&info, sizeof info, 1, out) == 1 &&
                   std::fwrite(pixels.data(), pixels.size(), 1, out) == 1;
    return std::fclose(out) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs(
            "usage: sxdrive TIMEOUT_MS COMMAND [--window CAPTION | --press ID | --await ID:TEXT |\n"
            "               --shot FILE]...\n",
            stderr);
        return 2;
    }
    const DWORD deadline = GetTickCount() + static_cast<DWORD>(std::atol(argv[1]));
    std::string command = argv[2];
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::printf("cannot start: %s (error %lu)\n", argv[2], GetLastError());
        return 1;
    }
    CloseHandle(process.hThread);
    std::string caption;
    bool ok = true;
    for (int i = 3; ok && i + 1 < argc; i += 2) {
        const std::string action = argv[i];
        if (action == "--window") {
            caption = argv[i + 1];
        } else if (action == "--await") {
            const char* text = std::strchr(argv[i + 1], ':');
            if (!text || !wait_for(caption, std::atoi(argv[i + 1]), text + 1, deadline)) {
                std::printf("no window \"%s\" with %s in time\n", caption.c_str(), argv[i + 1]);
                ok = false;
            }
        } else if (action == "--press" || action == "--shot") {
            const int button = action == "--press" ? std::atoi(argv[i + 1]) : 0;
            HWND window = wait_for(caption, button, nullptr, deadline);
            if (!window) {
                std::printf("no window \"%s\"%s%s in time\n", caption.c_str(),
                            button ? " with button " : "", button ? argv[i + 1] : "");
                ok = false;
            } else if (button) {
                char text[128] = {};
                GetDlgItemTextA(window, button, text, sizeof text);
                std::printf("press: %s: %s\n", caption.c_str(), text);
                std::fflush(stdout);
                PostMessageA(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(window, button)));
                Sleep(1500);
            } else if (!save_window(window, argv[i + 1])) {
                std::printf("could not save %s\n", argv[i + 1]);
                ok = false;
            } else {
                std::printf("shot: %s\n", argv[i + 1]);
            }
        } else {
            std::printf("unknown action %s\n", action.c_str());
            ok = false;
        }
        std::fflush(stdout);
    }
    const DWORD left = GetTickCount() < deadline ? deadline - GetTickCount() : 0;
    DWORD code = 0;
    if (WaitForSingleObject(process.hProcess, ok ? left : 0) != WAIT_OBJECT_0) {
        std::printf("the program did not end in time\n");
        ok = false;
    } else {
        GetExitCodeProcess(process.hProcess, &code);
        std::printf("exit: %ld\n", static_cast<long>(code));
    }
    CloseHandle(process.hProcess);
    return ok ? 0 : 1;
}
