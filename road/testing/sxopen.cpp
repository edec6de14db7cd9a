// sxopen FILE [TIMEOUT_MS]: opens FILE the way the shell does (the "open"
// verb of its type's association), then, until the started program ends,
// reads every message box it shows, prints "box: CAPTION: TEXT" (line breaks
// as \n) and presses OK. Prints "exit: CODE" at the end; exits 0 when the
// program was started and ended in time.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Watch {
    DWORD process_id;
    std::vector<HWND> seen;
};

std::string escaped(const char* text) {
    std::string out;
    for (; *text; ++text) {
        if (*text == '\n') {
            out += "\\n";
        } else if (*text != '\r') {
            out += *text;
        }
    }
    return out;
}

BOOL CALLBACK answer_box(HWND window, LPARAM argument) {
    Watch* watch = reinterpret_cast<Watch*>(argument);
    char class_name[64] = {};
    GetClassNameA(window, class_name, sizeof class_name);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (std::strcmp(class_name, "#32770") != 0 || owner != watch->process_id ||
        !IsWindowVisible(window))
        return TRUE;
    for (HWND seen : watch->seen)
        if (seen == window) return TRUE;
    watch->seen.push_back(window);
    char caption[512] = {};
    GetWindowTextA(window, caption, sizeof caption);
    std::vector<char> text(4096, '\0');
    // The text of a message box is its static control 0xFFFF.
    GetDlgItemTextA(window, 0xFFFF, text.data(), static_cast<int>(text.size()));
    std::printf("box: %s: %s\n", escaped(caption).c_str(), escaped(text.data()).c_str());
    std::fflush(stdout);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: sxopen FILE [TIMEOUT_MS]\n", stderr);
        return 2;
    }
    const DWORD timeout = argc > 2 ? static_cast<DWORD>(std::atol(argv[2])) : 30000;
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = "open";
    info.lpFile = argv[1];
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&info) || !info.hProcess) {
        std::printf("not opened: error %lu\n", GetLastError());
        return 1;
    }
    Watch watch{GetProcessId(info.hProcess), {}};
    const DWORD start = GetTickCount();
    bool ended = false;
    while (!ended && GetTickCount() - start < timeout) {
        EnumWindows(answer_box, reinterpret_cast<LPARAM>(&watch));
        ended = WaitForSingleObject(info.hProcess, 20) == WAIT_OBJECT_0;
    }
    if (!ended) {
        TerminateProcess(info.hProcess, 1);
        std::puts("timed out");
        return 1;
    }
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    std::printf("exit: %ld\n", static_cast<long>(code));
    return 0;
}
