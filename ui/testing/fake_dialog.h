// Drives a page through a FakeView the way the window side would: opening,
// button presses, typing, list clicks and keys, slider and up-down moves, and
// the property sheet's apply and cancel. Each gesture produces the calls, in
// the order, that the real controls cause.
#pragma once

#include <initializer_list>
#include <string>

#include "ui/page.h"
#include "ui/testing/fake_view.h"

namespace sx::testing {

// Notification code of an edit control whose text changed (the system's own).
constexpr int kEditChanged = 0x300;

class FakeDialog {
public:
    explicit FakeDialog(ui::Page& page, std::initializer_list<int> controls = {});
    FakeDialog(const FakeDialog&) = delete;
    FakeDialog& operator=(const FakeDialog&) = delete;
    ~FakeDialog();

    FakeView& view() { return view_; }

    // The window is created: the page initialises itself.
    bool open();
    // The window goes away.
    void close();

    bool click(int id);                               // a push button
    bool toggle_check(int id);                        // an automatic check box
    bool type_text(int id, const std::string& text);  // an edit control
    bool press_ok() { return page_.command(ui::kIdOk, ui::kButtonClicked); }

    // Lists: the control moves its own selection first, then reports the
    // gesture. `on_icon` clicks the row's check image rather than its text.
    bool click_row(int list, int row, bool on_icon);
    bool click_below_rows(int list);
    bool press_key(int list, int key);

    // A slider dragged to `position`; an up-down arrow pressed.
    void slide(int id, int position);
    void press_spin(int id, bool up);

    // The property sheet.
    ui::ApplyResult apply() { return page_.apply(); }
    void cancel() { page_.reset(); }

private:
    ui::Page& page_;
    FakeView view_;
    bool open_ = false;
};

}  // namespace sx::testing
