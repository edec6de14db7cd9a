#include "ui/testing/fake_dialog.h"

namespace sx::testing {

FakeDialog::FakeDialog(ui::Page& page, std::initializer_list<int> controls)
    : page_(page), view_(controls) {
    view_.set_list_event_sink(
        [this](int id, const ui::ListEvent& event) { page_.list_event(id, event); });
}

FakeDialog::~FakeDialog() { close(); }

bool FakeDialog::open() {
    open_ = true;
    return page_.init(view_);
}

void FakeDialog::close() {
    if (!open_) return;
    open_ = false;
    page_.destroyed();
}

bool FakeDialog::click(int id) { return page_.command(id, ui::kButtonClicked); }

bool FakeDialog::toggle_check(int id) {
    view_.set_checked(id, !view_.checked(id));
    return page_.command(id, ui::kButtonClicked);
}

bool FakeDialog::type_text(int id, const std::string& text) {
    view_.set_text(id, text);
    return page_.command(id, kEditChanged);
}

bool FakeDialog::click_row(int list, int row, bool on_icon) {
    view_.list_select(list, row);
    ui::ListEvent event{.kind = ui::ListEvent::Kind::click, .hit_row = row, .on_icon = on_icon};
    return page_.list_event(list, event);
}

// A click into the empty part of a list first takes the selection away.
bool FakeDialog::click_below_rows(int list) {
    ui::ControlState& state = view_.control(list);
    const int previous = state.selected;
    state.selected = -1;
    if (previous >= 0) {
        ui::ListEvent lost{
            .kind = ui::ListEvent::Kind::item_changed, .row = previous, .selected = false};
        page_.list_event(list, lost);
    }
    ui::ListEvent event{.kind = ui::ListEvent::Kind::click, .bounds_row = -1};
    return page_.list_event(list, event);
}

bool FakeDialog::press_key(int list, int key) {
    ui::ListEvent event{.kind = ui::ListEvent::Kind::key_down, .key = key};
    return page_.list_event(list, event);
}

// A dragged slider reports where the thumb was let go, then the end of the
// drag (whose position word carries nothing).
void FakeDialog::slide(int id, int position) {
    view_.set_slider_position(id, position);
    const int at = view_.slider_position(id);
    page_.scroll(id, {.vertical = false, .code = ui::kScrollThumbPosition, .position = at});
    page_.scroll(id, {.vertical = false, .code = ui::kScrollEnd, .position = 0});
}

// An up-down control steps one unit toward the end its arrow names and
// reports the new position twice: as the thumb position and with the end code.
void FakeDialog::press_spin(int id, bool up) {
    ui::ControlState& spin = view_.control(id);
    const int toward = up ? spin.spin_top : spin.spin_bottom;
    int position = spin.spin_position;
    if (position < toward) ++position;
    if (position > toward) --position;
    spin.spin_position = position;
    page_.scroll(id, {.vertical = true, .code = ui::kScrollThumbPosition, .position = position});
    page_.scroll(id, {.vertical = true, .code = ui::kScrollEnd, .position = position});
}

}  // namespace sx::testing
