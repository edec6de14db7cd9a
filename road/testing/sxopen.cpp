// sxopen FILE [TIMEOUT_MS]: opens FILE the way the shell does (the "open"
// verb of its type's association), then, until the started program ends,
// reads every message box it shows, prints "box: CAPTION: TEXT" (line breaks
// as \n) and presses OK. Prints "exit: CODE" at the end; exits 0 when the
// program was started and ended in time.
// sxopen --test-launch PANEL ROW: opens the control panel file PANEL as the
// Control Panel does, selects ROW of its Rasterizers page, presses "Test"
// and, once the page has its sheet back, closes the sheet. Prints the row's
// text ("row: TEXT") and the boxes shown on the way.
#include <windows.h>

#include <commctrl.h>
#include <cpl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "control_panel/cpl_texts.h"
#include "control_panel/resource.h"

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

struct PanelRun {
    int row;
    int ticks = 0;
    int clicked_at = -1;
    Watch watch{GetCurrentProcessId(), {}};
} * g_panel;

VOID CALLBACK panel_tick(HWND, UINT, UINT_PTR, DWORD) {
    PanelRun& run = *g_panel;
    ++run.ticks;
    HWND sheet = FindWindowA("#32770", sx::cpl::kSheetCaption);
    run.watch.seen.push_back(sheet);  // the sheet is no box
    EnumWindows(answer_box, reinterpret_cast<LPARAM>(&run.watch));
    if (!sheet) return;
    HWND page = PropSheet_GetCurrentPageHwnd(sheet);
    if (run.clicked_at < 0) {
        HWND list = GetDlgItem(page, IDC_RASTERIZER_LIST);
        const UINT state = LVIS_SELECTED | LVIS_FOCUSED;
        ListView_SetItemState(list, run.row, state, state);
        char text[256] = "";
        ListView_GetItemText(list, run.row, 0, text, sizeof text);
        std::printf("row: %s\n", text);
        std::fflush(stdout);
        PostMessageA(GetDlgItem(page, IDC_TEST_SELECTED), BM_CLICK, 0, 0);
        run.clicked_at = run.ticks;
    } else if ((run.ticks - run.clicked_at > 20 && IsWindowEnabled(sheet)) || run.ticks > 1200) {
        // The page disables its sheet while it waits for the launcher.
        PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    }
}

int test_launch(const char* panel, int row) {
    HMODULE module = LoadLibraryA(panel);
    auto applet = module ? reinterpret_cast<APPLET_PROC>(
                               reinterpret_cast<void*>(GetProcAddress(module, "CPlApplet")))
                         : nullptr;
    if (!applet || applet(nullptr, CPL_INIT, 0, 0) == 0) {
        std::printf("cannot open the panel %s\n", panel);
        return 1;
    }
    PanelRun run{row};
    g_panel = &run;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, panel_tick);
    applet(nullptr, CPL_DBLCLK, 0, 0);
    KillTimer(nullptr, timer);
    applet(nullptr, CPL_EXIT, 0, 0);
    FreeLibrary(module);
    return run.clicked_at < 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--test-launch") == 0)
        return test_launch(argv[2], std::atoi(argv[3]));
    if (argc < 2) {
        std::fputs("usage: sxopen FILE [TIMEOUT_MS] | --test-launch PANEL ROW\n", stderr);
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
