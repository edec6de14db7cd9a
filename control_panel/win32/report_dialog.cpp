#include "control_panel/win32/report_dialog.h"

#include <cstring>

#include "control_panel/config_report.h"
#include "control_panel/resource.h"

namespace sx::cpl {
namespace {

ControlRect child_rect(HWND dialog, int id) {
    RECT rect{};
    HWND child = GetDlgItem(dialog, id);
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

void lay_out(HWND dialog) {
    RECT client{};
    GetClientRect(dialog, &client);
    const ReportLayout layout =
        layout_config_report(client.right, client.bottom, child_rect(dialog, IDC_REPORT_TEXT),
                             child_rect(dialog, IDOK), child_rect(dialog, IDC_REPORT_COPY));
    constexpr UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS;
    HDWP batch = BeginDeferWindowPos(3);
    const struct {
        int id;
        ControlRect rect;
    } moves[] = {{IDC_REPORT_TEXT, layout.edit}, {IDOK, layout.ok}, {IDC_REPORT_COPY, layout.copy}};
    for (const auto& move : moves) {
        HWND child = GetDlgItem(dialog, move.id);
        if (batch)
            batch = DeferWindowPos(batch, child, nullptr, move.rect.left, move.rect.top,
                                   move.rect.width, move.rect.height, flags);
        else
            SetWindowPos(child, nullptr, move.rect.left, move.rect.top, move.rect.width,
                         move.rect.height, flags);
    }
    if (batch) EndDeferWindowPos(batch);
}

INT_PTR CALLBACK report_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG: {
            const auto* report = reinterpret_cast<const std::string*>(lparam);
            SetWindowLongPtrA(dialog, DWLP_USER, lparam);
            SetDlgItemTextA(dialog, IDC_REPORT_TEXT, report->c_str());
            lay_out(dialog);
            return TRUE;
        }
        case WM_SIZE:
            lay_out(dialog);
            return FALSE;
        case WM_COMMAND:
            switch (LOWORD(wparam)) {
                case IDOK:
                case IDCANCEL:
                    EndDialog(dialog, 0);
                    return FALSE;
                case IDC_REPORT_COPY: {
                    const auto* report =
                        reinterpret_cast<const std::string*>(GetWindowLongPtrA(dialog, DWLP_USER));
                    if (report) copy_report_to_clipboard(dialog, *report);
                    return TRUE;
                }
            }
            return FALSE;
        case WM_CLOSE:
            EndDialog(dialog, 0);
            return TRUE;
    }
    return FALSE;
}

}  // namespace

void show_config_report(HINSTANCE resources, HWND owner, const std::string& report) {
    DialogBoxParamA(resources, MAKEINTRESOURCEA(IDD_CONFIG_REPORT), owner, report_procedure,
                    reinterpret_cast<LPARAM>(&report));
}

bool copy_report_to_clipboard(HWND owner, const std::string& text) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, text.size() + 1);
    if (!block) return false;
    if (void* bytes = GlobalLock(block)) {
        std::memcpy(bytes, text.c_str(), text.size() + 1);
        GlobalUnlock(block);
    } else {
        GlobalFree(block);
        return false;
    }
    bool handed = false;
    if (OpenClipboard(owner)) {
        if (EmptyClipboard()) handed = SetClipboardData(CF_TEXT, block) != nullptr;
        CloseClipboard();
    }
    // Once handed over, the block belongs to the clipboard.
    if (!handed) GlobalFree(block);
    return handed;
}

}  // namespace sx::cpl
