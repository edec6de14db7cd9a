// Small helpers over window handles, shared by the dialog side of the seam.
#pragma once

#include <windows.h>

#include <string>

namespace sx::ui {

// The whole text of a window (any length).
std::string window_text(HWND window);

// Moves `window` to the centre of the desktop without resizing it.
void center_on_desktop(HWND window);

// Disables every descendant of `window`, then `window` itself.
void disable_with_children(HWND window);

// True for a list-view control.
bool is_list_view(HWND window);

// The cursor position of the message being handled, in `window`'s client
// coordinates.
POINT message_point_in(HWND window);

// Takes every pending message of this thread off the queue and dispatches
// it. False when a WM_QUIT was among them; it is posted again so that the
// loop which owns the thread still sees it.
bool dispatch_pending_messages();

}  // namespace sx::ui
