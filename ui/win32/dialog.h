// One dialog procedure for every page: the window keeps its `Page` and a
// `Win32View` over itself, and the procedure turns the window's messages into
// calls on the page.
//
//   WM_INITDIALOG          init(view)
//   WM_COMMAND             command(id, code)
//   WM_NOTIFY from a list  list_event(id, event)  (see list_event_from)
//   WM_NOTIFY, the sheet's apply(), set_active(), kill_active(), reset()
//   other WM_NOTIFY        notify(id, code)
//   WM_HSCROLL/WM_VSCROLL  scroll(id, event)
//   WM_SIZE                resized(width, height)
//   WM_DESTROY             destroyed()
//
// Every WM_NOTIFY is answered TRUE with its result in the dialog's message
// result: 0, or for apply PSNRET_INVALID when the page refused.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "ui/page.h"
#include "ui/win32/win32_view.h"

namespace sx::ui {

// Registers the common control classes the dialogs use (list view, trackbar,
// up-down). Call before the first dialog is created.
bool init_common_controls();

// Runs dialog template `template_id` of `resources` modally, owned by `owner`,
// with `page` behind it. The dialog's result, or -1 when it could not be
// created.
INT_PTR run_modal_dialog(HINSTANCE resources, int template_id, HWND owner, Page& page);

// Creates the dialog modeless; null when it could not be created.
HWND create_modeless_dialog(HINSTANCE resources, int template_id, HWND owner, Page& page);

// A property-sheet page record for `page` over template `template_id`: no
// page flags, the title taken from the template. `page` must outlive the
// sheet.
PROPSHEETPAGEA sheet_page_record(HINSTANCE resources, int template_id, Page& page);

// The page and view behind a window made by the functions above, or null.
Page* page_of(HWND dialog);
Win32View* view_of(HWND dialog);

// A list view's notification as a list event. The cursor is the position of
// the message being handled, mapped into the list.
ListEvent list_event_from(const NMHDR& header);

}  // namespace sx::ui
