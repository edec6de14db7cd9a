// The logic of one dialog or property-sheet page, free of window handles.
//
// The window side (ui/win32's dialog trampoline, or ui/testing's fake dialog)
// keeps a `Page` with the window and turns what happens to the window into the
// calls below: initialisation, commands from buttons and other controls,
// events from lists, scrolling of sliders and up-down controls, and the
// property sheet's notifications (apply, set active, kill active, reset).
// Every call has a do-nothing default, so a page overrides only what it needs.
#pragma once

#include "ui/check_list.h"
#include "ui/view.h"

namespace sx::ui {

// Standard command ids of dialog buttons (the system's own values).
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

// Notification code of a button click in a command.
constexpr int kButtonClicked = 0;

// Scroll codes a slider or up-down control reports (the system's own values).
constexpr int kScrollLineUp = 0;
constexpr int kScrollLineDown = 1;
constexpr int kScrollThumbPosition = 4;
constexpr int kScrollEnd = 8;

struct ScrollEvent {
    bool vertical = false;  // up-down controls and vertical sliders
    int code = 0;           // one of the scroll codes
    int position = 0;       // the position the control reports with the code
};

// A page's answer to the sheet's apply.
enum class ApplyResult { saved, invalid };

class Page {
public:
    virtual ~Page() = default;

    // The window exists and its controls can be filled. `view` stays valid
    // until `destroyed()` has returned; a page keeps it for the later calls.
    // True lets the system give the focus to the first control.
    virtual bool init(DialogView& view) = 0;

    // A command from control `id` with notification `code` (kButtonClicked for
    // a button press; kIdOk / kIdCancel also for Enter and Escape). True when
    // the page acted on it.
    virtual bool command(int id, int code) {
        (void)id;
        (void)code;
        return false;
    }

    // An event from the list control `id` (usually passed to a CheckList's
    // `handle`). True when consumed.
    virtual bool list_event(int id, const ListEvent& event) {
        (void)id;
        (void)event;
        return false;
    }

    // A notification code from control `id` that is not a list event (the
    // check list codes arrive through the CheckList's callback instead).
    virtual void notify(int id, int code) {
        (void)id;
        (void)code;
    }

    // A slider or up-down control `id` was moved.
    virtual void scroll(int id, const ScrollEvent& event) {
        (void)id;
        (void)event;
    }

    // The dialog's client area changed size (pixels).
    virtual void resized(int width, int height) {
        (void)width;
        (void)height;
    }

    // -- Property-sheet notifications.
    // OK or Apply: store the page's settings, or refuse (the sheet stays open).
    virtual ApplyResult apply() { return ApplyResult::saved; }
    // The page is about to be shown.
    virtual void set_active() {}
    // The page is about to be left; true refuses to let it go.
    virtual bool kill_active() { return false; }
    // Cancel or the close box: nothing is stored.
    virtual void reset() {}

    // The window is going away; release what the page holds of it.
    virtual void destroyed() {}
};

}  // namespace sx::ui
