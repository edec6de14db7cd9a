#include "ui/win32/dialog.h"

#include <memory>

#include "ui/win32/hwnd.h"

namespace sx::ui {

namespace {

// What a window keeps at DWLP_USER from WM_INITDIALOG to WM_NCDESTROY.
struct Binding {
    Binding(Page& page, HWND dialog, HINSTANCE resources, bool sheet_page)
        : page(page), view(dialog, resources, sheet_page), sheet_page(sheet_page) {}
    Page& page;
    Win32View view;
    bool sheet_page;
};

// Handed to a plain dialog through WM_INITDIALOG.
struct Start {
    Page* page;
    HINSTANCE resources;
};

Binding* binding_of(HWND dialog) {
    return reinterpret_cast<Binding*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

bool is_sheet_notification(UINT code) { return code <= PSN_FIRST && code >= PSN_LAST; }

LRESULT sheet_notification(Page& page, UINT code) {
    switch (code) {
        case PSN_APPLY:
            return page.apply() == ApplyResult::invalid ? PSNRET_INVALID : PSNRET_NOERROR;
        case PSN_SETACTIVE:
            page.set_active();
            return 0;
        case PSN_KILLACTIVE:
            return page.kill_active() ? TRUE : FALSE;
        case PSN_RESET:
            page.reset();
            return 0;
        default:
            return 0;
    }
}

void notification(Binding& binding, HWND dialog, const NMHDR& header) {
    LRESULT result = 0;
    if (is_sheet_notification(header.code)) {
        result = sheet_notification(binding.page, header.code);
    } else if (is_list_view(header.hwndFrom)) {
        binding.page.list_event(static_cast<int>(header.idFrom), list_event_from(header));
    } else {
        binding.page.notify(static_cast<int>(header.idFrom), static_cast<int>(header.code));
    }
    SetWindowLongPtrA(dialog, DWLP_MSGRESULT, result);
}

void scrolled(Page& page, UINT message, WPARAM wparam, LPARAM lparam) {
    HWND control = reinterpret_cast<HWND>(lparam);
    if (!control) return;  // a dialog's own scroll bar
    ScrollEvent event{.vertical = message == WM_VSCROLL,
                      .code = LOWORD(wparam),
                      .position = static_cast<short>(HIWORD(wparam))};
    page.scroll(GetDlgCtrlID(control), event);
}

INT_PTR initialise(HWND dialog, Page* page, HINSTANCE resources, bool sheet_page) {
    if (!page) return FALSE;
    auto binding = std::make_unique<Binding>(*page, dialog, resources, sheet_page);
    SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(binding.get()));
    Binding& kept = *binding.release();
    return kept.page.init(kept.view) ? TRUE : FALSE;
}

INT_PTR dispatch(Binding& binding, HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    Page& page = binding.page;
    switch (message) {
        case WM_COMMAND:
            return page.command(LOWORD(wparam), HIWORD(wparam)) ? TRUE : FALSE;
        case WM_NOTIFY:
            notification(binding, dialog, *reinterpret_cast<const NMHDR*>(lparam));
            return TRUE;
        case WM_HSCROLL:
        case WM_VSCROLL:
            scrolled(page, message, wparam, lparam);
            return FALSE;
        case WM_SIZE:
            page.resized(LOWORD(lparam), HIWORD(lparam));
            return FALSE;
        case WM_DESTROY:
            page.destroyed();
            binding.view.release();
            return FALSE;
        case WM_NCDESTROY:
            SetWindowLongPtrA(dialog, DWLP_USER, 0);
            delete &binding;
            return FALSE;
        default:
            return FALSE;
    }
}

// No exception may unwind through the system's frames: a page that throws
// (out of memory, say) loses that one message.
INT_PTR procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam, bool sheet_page) {
    try {
        if (message == WM_INITDIALOG) {
            if (sheet_page) {
                const auto* record = reinterpret_cast<const PROPSHEETPAGEA*>(lparam);
                return initialise(dialog, reinterpret_cast<Page*>(record->lParam),
                                  record->hInstance, true);
            }
            const auto* start = reinterpret_cast<const Start*>(lparam);
            return initialise(dialog, start->page, start->resources, false);
        }
        Binding* binding = binding_of(dialog);
        return binding ? dispatch(*binding, dialog, message, wparam, lparam) : FALSE;
    } catch (...) {
        return FALSE;
    }
}

INT_PTR CALLBACK plain_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    return procedure(dialog, message, wparam, lparam, false);
}

INT_PTR CALLBACK sheet_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    return procedure(dialog, message, wparam, lparam, true);
}

int first_row_containing(HWND list, POINT point) {
    const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        RECT bounds{};
        bounds.left = LVIR_BOUNDS;
        if (SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&bounds)) &&
            PtInRect(&bounds, point))
            return row;
    }
    return -1;
}

}  // namespace

bool init_common_controls() {
    INITCOMMONCONTROLSEX classes{sizeof classes,
                                 ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS};
    return InitCommonControlsEx(&classes) != FALSE;
}

INT_PTR run_modal_dialog(HINSTANCE resources, int template_id, HWND owner, Page& page) {
    Start start{&page, resources};
    return DialogBoxParamA(resources, MAKEINTRESOURCEA(template_id), owner, plain_procedure,
                           reinterpret_cast<LPARAM>(&start));
}

HWND create_modeless_dialog(HINSTANCE resources, int template_id, HWND owner, Page& page) {
    Start start{&page, resources};
    return CreateDialogParamA(resources, MAKEINTRESOURCEA(template_id), owner, plain_procedure,
                              reinterpret_cast<LPARAM>(&start));
}

PROPSHEETPAGEA sheet_page_record(HINSTANCE resources, int template_id, Page& page) {
    PROPSHEETPAGEA record{};
    record.dwSize = sizeof record;
    record.dwFlags = PSP_DEFAULT;
    record.hInstance = resources;
    record.pszTemplate = MAKEINTRESOURCEA(template_id);
    record.pfnDlgProc = sheet_procedure;
    record.lParam = reinterpret_cast<LPARAM>(&page);
    return record;
}

Page* page_of(HWND dialog) {
    Binding* binding = binding_of(dialog);
    return binding ? &binding->page : nullptr;
}

Win32View* view_of(HWND dialog) {
    Binding* binding = binding_of(dialog);
    return binding ? &binding->view : nullptr;
}

ListEvent list_event_from(const NMHDR& header) {
    HWND list = header.hwndFrom;
    ListEvent event;
    switch (header.code) {
        case LVN_KEYDOWN:
            event.kind = ListEvent::Kind::key_down;
            event.key = reinterpret_cast<const NMLVKEYDOWN&>(header).wVKey;
            break;
        case NM_CLICK: {
            event.kind = ListEvent::Kind::click;
            LVHITTESTINFO hit{};
            hit.pt = message_point_in(list);
            event.hit_row = static_cast<int>(
                SendMessageA(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
            event.on_icon = (hit.flags & LVHT_ONITEM) == LVHT_ONITEMICON;
            event.bounds_row = first_row_containing(list, hit.pt);
            break;
        }
        case NM_SETFOCUS:
            event.kind = ListEvent::Kind::set_focus;
            event.bounds_row = first_row_containing(list, message_point_in(list));
            break;
        case LVN_ITEMCHANGED: {
            const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
            if (change.uChanged & LVIF_STATE) {
                event.kind = ListEvent::Kind::item_changed;
                event.row = change.iItem;
                event.selected = (change.uNewState & LVIS_SELECTED) != 0;
            }
            break;
        }
        default:
            break;
    }
    return event;
}

}  // namespace sx::ui
