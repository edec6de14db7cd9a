#include "ui/win32/win32_view.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstring>

#include "platform/platform.h"
#include "ui/check_list.h"
#include "ui/win32/hwnd.h"

namespace sx::ui {

namespace {

// While a started program runs, the windows are repainted this often at the
// least; a zero wait would keep a processor busy for nothing.
constexpr uint32_t kRunPollMs = 10;

void add_icon(HIMAGELIST images, HINSTANCE module, const char* name, int cx, int cy) {
    HICON icon = static_cast<HICON>(LoadImageA(module, name, IMAGE_ICON, cx, cy, 0));
    ImageList_AddIcon(images, icon);  // the list keeps a copy
    if (icon) DestroyIcon(icon);
}

}  // namespace

UINT message_box_style(Buttons buttons, Icon icon) {
    UINT style = MB_OK;
    if (buttons == Buttons::ok_cancel) style = MB_OKCANCEL;
    if (buttons == Buttons::yes_no) style = MB_YESNO;
    switch (icon) {
        case Icon::information:
            return style | MB_ICONINFORMATION;
        case Icon::warning:
            return style | MB_ICONWARNING;
        case Icon::error:
            return style | MB_ICONERROR;
        case Icon::question:
            return style | MB_ICONQUESTION;
        case Icon::none:
            break;
    }
    return style;
}

Answer answer_of(int message_box_result) {
    switch (message_box_result) {
        case IDOK:
            return Answer::ok;
        case IDCANCEL:
            return Answer::cancel;
        case IDYES:
            return Answer::yes;
        case IDNO:
            return Answer::no;
        default:
            return Answer::failed;
    }
}

void Win32View::release() {
    for (auto& [id, font] : fonts_) {
        if (HWND control = item(id)) SendMessageA(control, WM_SETFONT, 0, FALSE);
        DeleteObject(font);
    }
    fonts_.clear();
}

void Win32View::set_text(int id, const std::string& text) {
    SetDlgItemTextA(dialog_, id, text.c_str());
}

std::string Win32View::text(int id) { return window_text(item(id)); }

void Win32View::set_checked(int id, bool checked) {
    CheckDlgButton(dialog_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

// An indeterminate box counts as checked: anything but clear is on.
bool Win32View::checked(int id) { return IsDlgButtonChecked(dialog_, id) != BST_UNCHECKED; }

void Win32View::enable(int id, bool enabled) { EnableWindow(item(id), enabled ? TRUE : FALSE); }

bool Win32View::enabled(int id) { return IsWindowEnabled(item(id)) != FALSE; }

void Win32View::disable_all() { disable_with_children(dialog_); }

void Win32View::set_slider_range(int id, int minimum, int maximum) {
    send(id, TBM_SETRANGE, TRUE, MAKELPARAM(minimum, maximum));
}

void Win32View::set_slider_position(int id, int position) { send(id, TBM_SETPOS, TRUE, position); }

int Win32View::slider_position(int id) { return static_cast<int>(send(id, TBM_GETPOS, 0, 0)); }

void Win32View::set_slider_tick(int id, int position) { send(id, TBM_SETTIC, 0, position); }

void Win32View::set_slider_tick_frequency(int id, int frequency) {
    send(id, TBM_SETTICFREQ, frequency, 0);
}

void Win32View::place_under_tick(int label_id, int slider_id, int tick_index) {
    const LRESULT tick_x = send(slider_id, TBM_GETTICPOS, tick_index, 0);
    HWND label = item(label_id);
    HWND slider = item(slider_id);
    RECT label_rect;
    if (tick_x < 0 || !label || !slider || !GetWindowRect(label, &label_rect)) return;
    POINT tick{static_cast<LONG>(tick_x), 0};
    ClientToScreen(slider, &tick);
    ScreenToClient(dialog_, &tick);
    POINT top_left{label_rect.left, label_rect.top};
    ScreenToClient(dialog_, &top_left);
    const int width = label_rect.right - label_rect.left;
    SetWindowPos(label, nullptr, tick.x - width / 2, top_left.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The up arrow moves toward the "upper" end of an up-down control, which
// here is the top.
void Win32View::set_spin_range(int id, int bottom, int top) {
    send(id, UDM_SETRANGE, 0, MAKELPARAM(top, bottom));
}

void Win32View::set_spin_position(int id, int position) {
    send(id, UDM_SETPOS, 0, MAKELPARAM(position, 0));
}

void Win32View::list_set_up(int id) {
    HWND list = item(id);
    if (!list) return;
    LONG style = GetWindowLongA(list, GWL_STYLE);
    style |= LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOCOLUMNHEADER | LVS_NOSORTHEADER;
    style &= ~LVS_NOSCROLL;
    SetWindowLongA(list, GWL_STYLE, style);

    const int cx = GetSystemMetrics(SM_CXSMICON);
    const int cy = GetSystemMetrics(SM_CYSMICON);
    HIMAGELIST images = ImageList_Create(cx, cy, ILC_MASK | ILC_COLOR32, 1, 1);
    add_icon(images, resources_, kUncheckedIcon, cx, cy);  // image 0
    add_icon(images, resources_, kCheckedIcon, cx, cy);    // image 1
    // The list destroys the image list with itself.
    ListView_SetImageList(list, images, LVSIL_SMALL);

    RECT client;
    GetClientRect(list, &client);
    char title[1] = "";
    LVCOLUMNA column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.fmt = LVCFMT_LEFT;
    column.cx = (client.right - client.left) * 9 / 10;
    column.pszText = title;
    SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
}

int Win32View::list_add_row(int id, const ListRow& row) {
    std::string text = row.text;
    LVITEMA entry{};
    entry.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    entry.iItem = list_row_count(id);
    entry.pszText = text.data();
    entry.iImage = row.checked ? 1 : 0;
    entry.lParam = static_cast<LPARAM>(row.value);
    return static_cast<int>(send(id, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&entry)));
}

void Win32View::list_set_row(int id, int row, const ListRow& value) {
    if (row < 0) return;
    std::string text = value.text;
    LVITEMA entry{};
    entry.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    entry.iItem = row;
    entry.pszText = text.data();
    entry.iImage = value.checked ? 1 : 0;
    entry.lParam = static_cast<LPARAM>(value.value);
    send(id, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&entry));
}

ListRow Win32View::list_row(int id, int row) {
    char text[kCheckListTextLimit + 1] = "";
    LVITEMA entry{};
    entry.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    entry.iItem = row;
    entry.pszText = text;
    entry.cchTextMax = sizeof text;
    if (row < 0 || !send(id, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&entry))) return {};
    return ListRow{entry.pszText ? entry.pszText : "", entry.iImage != 0,
                   static_cast<intptr_t>(entry.lParam)};
}

int Win32View::list_row_count(int id) { return static_cast<int>(send(id, LVM_GETITEMCOUNT, 0, 0)); }

void Win32View::list_clear(int id) { send(id, LVM_DELETEALLITEMS, 0, 0); }

// Row -1 would address every row at once; a caller asking for it gets nothing.
void Win32View::list_select(int id, int row) {
    if (row < 0) return;
    LVITEMA state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    send(id, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
}

int Win32View::list_selected(int id) {
    return static_cast<int>(send(id, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void Win32View::set_font(int id, const std::string& face, int height, int weight) {
    LOGFONTA description{};
    description.lfHeight = height;
    description.lfWeight = weight;
    lstrcpynA(description.lfFaceName, face.c_str(), LF_FACESIZE);
    HFONT font = CreateFontIndirectA(&description);
    if (!font) return;
    send(id, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    auto previous = fonts_.find(id);
    if (previous != fonts_.end()) DeleteObject(previous->second);
    fonts_[id] = font;
}

void Win32View::changed() {
    if (sheet_page_)
        SendMessageA(GetParent(dialog_), PSM_CHANGED, reinterpret_cast<WPARAM>(dialog_), 0);
}

void Win32View::end_dialog(int result) { EndDialog(dialog_, result); }

void Win32View::center() { center_on_desktop(dialog_); }

// Up through the parents while the window is a child (GetAncestor's GA_ROOT,
// which Windows NT 4.0 lacks); an owned top-level window is the root.
HWND Win32View::top_level() const {
    HWND root = dialog_;
    while (GetWindowLongA(root, GWL_STYLE) & WS_CHILD) {
        HWND parent = GetParent(root);
        if (!parent) break;
        root = parent;
    }
    return root;
}

Answer Win32View::ask(const std::string& text, const std::string& caption, Buttons buttons,
                      Icon icon) {
    return answer_of(
        MessageBoxA(top_level(), text.c_str(), caption.c_str(), message_box_style(buttons, icon)));
}

// The top-level window takes no input while the program runs, but every
// message of the thread is still dispatched, so the windows keep painting.
RunResult Win32View::run_and_wait(const std::string& command_line) {
    Platform& os = platform();
    ProcessHandle process = nullptr;
    if (!os.start_process(command_line.c_str(), nullptr, &process)) return {};
    HWND owner = top_level();
    EnableWindow(owner, FALSE);
    RunResult result{.started = true};
    bool pumping = true;
    for (;;) {
        if (os.wait_process(process, pumping ? kRunPollMs : kWaitInfinite, &result.exit_code))
            break;
        if (!pumping) {
            result.exit_code = kExitUnknown;
            break;
        }
        pumping = dispatch_pending_messages();
    }
    os.close_process(process);
    EnableWindow(owner, TRUE);
    return result;
}

bool Win32View::shell_open(const std::string& target) {
    const HINSTANCE code =
        ShellExecuteA(dialog_, "open", target.c_str(), nullptr, nullptr, SW_SHOW);
    return reinterpret_cast<INT_PTR>(code) > 32;
}

// Once handed to the clipboard the memory is the clipboard's; until then it
// is ours to free.
Rect Win32View::client_area() {
    RECT client{};
    GetClientRect(dialog_, &client);
    return {0, 0, client.right, client.bottom};
}

Rect Win32View::control_rect(int id) {
    RECT rect{};
    if (!GetWindowRect(item(id), &rect)) return {};
    MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&rect), 2);
    return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

void Win32View::move_controls(const std::vector<std::pair<int, Rect>>& moves) {
    constexpr UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS;
    HDWP batch = BeginDeferWindowPos(static_cast<int>(moves.size()));
    for (const auto& [id, r] : moves) {
        // Without a batch (no memory for it) each control moves on its own.
        if (batch)
            batch =
                DeferWindowPos(batch, item(id), nullptr, r.left, r.top, r.width, r.height, flags);
        else
            SetWindowPos(item(id), nullptr, r.left, r.top, r.width, r.height, flags);
    }
    if (batch) EndDeferWindowPos(batch);
}

bool Win32View::copy_to_clipboard(const std::string& text) {
    // Zero-filled and shareable, as the clipboard's older readers expect.
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, text.size() + 1);
    if (!block) return false;
    void* bytes = GlobalLock(block);
    if (!bytes) {
        GlobalFree(block);
        return false;
    }
    std::memcpy(bytes, text.c_str(), text.size() + 1);
    GlobalUnlock(block);
    bool handed = false;
    if (OpenClipboard(dialog_)) {
        if (EmptyClipboard()) handed = SetClipboardData(CF_TEXT, block) != nullptr;
        CloseClipboard();
    }
    if (!handed) GlobalFree(block);
    return handed;
}

}  // namespace sx::ui
