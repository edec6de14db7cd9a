// Drives a page through a FakeView the way the window side would: each
// gesture produces the calls, in the order, that the real controls cause.
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
    explicit FakeDialog(ui::Page& page, std::initializer_list<int> controls = {})
        : page_(page), view_(controls) {
        view_.set_list_event_sink([this](int id, const ui::ListEvent& e) { send(id, e); });
    }
    FakeDialog(const FakeDialog&) = delete;
    FakeDialog& operator=(const FakeDialog&) = delete;
    ~FakeDialog() { close(); }

    FakeView& view() { return view_; }

    bool open() {
        open_ = true;
        return page_.init(view_);
    }
    void close() {
        if (open_) page_.destroyed();
        open_ = false;
    }

    bool click(int id) { return page_.command(id, ui::kButtonClicked); }  // a push button
    bool toggle_check(int id) {                                           // an automatic check box
        view_.set_checked(id, !view_.checked(id));
        return click(id);
    }
    bool type_text(int id, const std::string& text) {
        view_.set_text(id, text);
        return page_.command(id, kEditChanged);
    }
    bool press_ok() { return click(ui::kIdOk); }

    // Lists move their own selection first, then report the gesture.
    // `on_icon` clicks the row's check image rather than its text.
    bool click_row(int list, int row, bool on_icon) {
        view_.list_select(list, row);
        return send(list, {.kind = ui::ListEvent::Kind::click, .hit_row = row, .on_icon = on_icon});
    }
    // A click into the empty part of a list first takes the selection away.
    bool click_below_rows(int list) {
        int& selected = view_.control(list).selected;
        const int previous = selected;
        selected = -1;
        if (previous >= 0)
            send(list,
                 {.kind = ui::ListEvent::Kind::item_changed, .row = previous, .selected = false});
        return send(list, {.kind = ui::ListEvent::Kind::click, .bounds_row = -1});
    }
    bool press_key(int list, int key) {
        return send(list, {.kind = ui::ListEvent::Kind::key_down, .key = key});
    }

    // A dragged slider reports where the thumb was let go, then the end of
    // the drag (whose position word carries nothing).
    void slide(int id, int position) {
        view_.set_slider_position(id, position);
        const int at = view_.slider_position(id);
        page_.scroll(id, {.vertical = false, .code = ui::kScrollThumbPosition, .position = at});
        page_.scroll(id, {.vertical = false, .code = ui::kScrollEnd, .position = 0});
    }
    // An up-down arrow steps one unit toward its end and reports the new
    // position twice: as the thumb position and with the end code.
    void press_spin(int id, bool up) {
        ui::ControlState& spin = view_.control(id);
        const int toward = up ? spin.spin_top : spin.spin_bottom;
        spin.spin_position += (spin.spin_position < toward) - (spin.spin_position > toward);
        for (int code : {ui::kScrollThumbPosition, ui::kScrollEnd})
            page_.scroll(id, {.vertical = true, .code = code, .position = spin.spin_position});
    }

    // The property sheet.
    ui::ApplyResult apply() { return page_.apply(); }
    void cancel() { page_.reset(); }

private:
    bool send(int list, const ui::ListEvent& event) { return page_.list_event(list, event); }

    ui::Page& page_;
    FakeView view_;
    bool open_ = false;
};

}  // namespace sx::testing
