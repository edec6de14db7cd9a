#include "ui/memory_view.h"

#include <algorithm>

namespace sx::ui {

int clamp_between(int value, int end_a, int end_b) {
    const int low = std::min(end_a, end_b);
    const int high = std::max(end_a, end_b);
    return std::clamp(value, low, high);
}

void MemoryView::set_text(int id, const std::string& text) {
    touch(id);
    control(id).text = text;
}

std::string MemoryView::text(int id) {
    touch(id);
    return control(id).text;
}

void MemoryView::set_checked(int id, bool checked) {
    touch(id);
    control(id).checked = checked;
}

bool MemoryView::checked(int id) {
    touch(id);
    return control(id).checked;
}

void MemoryView::enable(int id, bool enabled) {
    touch(id);
    control(id).enabled = enabled;
}

bool MemoryView::enabled(int id) {
    touch(id);
    return control(id).enabled;
}

Rect MemoryView::control_rect(int id) {
    touch(id);
    return control(id).rect;
}

void MemoryView::move_controls(const std::vector<std::pair<int, Rect>>& moves) {
    for (const auto& [id, rect] : moves) {
        touch(id);
        control(id).rect = rect;
    }
}

void MemoryView::disable_all() {
    for (auto& entry : controls_) entry.second.enabled = false;
    dialog_enabled_ = false;
}

// A slider keeps its position inside its range, as the real control does.
void MemoryView::set_slider_range(int id, int minimum, int maximum) {
    touch(id);
    ControlState& slider = control(id);
    slider.slider_min = minimum;
    slider.slider_max = maximum;
    slider.slider_position = clamp_between(slider.slider_position, minimum, maximum);
}

void MemoryView::set_slider_position(int id, int position) {
    touch(id);
    ControlState& slider = control(id);
    slider.slider_position = clamp_between(position, slider.slider_min, slider.slider_max);
}

int MemoryView::slider_position(int id) {
    touch(id);
    return control(id).slider_position;
}

void MemoryView::set_slider_tick(int id, int position) {
    touch(id);
    std::vector<int>& ticks = control(id).ticks;
    ticks.insert(std::upper_bound(ticks.begin(), ticks.end(), position), position);
}

void MemoryView::set_slider_tick_frequency(int id, int frequency) {
    touch(id);
    control(id).tick_frequency = frequency;
}

void MemoryView::place_under_tick(int label_id, int slider_id, int tick_index) {
    touch(label_id);
    touch(slider_id);
    ControlState& label = control(label_id);
    label.under_slider = slider_id;
    label.under_tick = tick_index;
}

void MemoryView::set_spin_range(int id, int bottom, int top) {
    touch(id);
    ControlState& spin = control(id);
    spin.spin_bottom = bottom;
    spin.spin_top = top;
    spin.spin_position = clamp_between(spin.spin_position, bottom, top);
}

void MemoryView::set_spin_position(int id, int position) {
    touch(id);
    ControlState& spin = control(id);
    spin.spin_position = clamp_between(position, spin.spin_bottom, spin.spin_top);
}

void MemoryView::list_set_up(int id) {
    touch(id);
    control(id).list_ready = true;
}

int MemoryView::list_add_row(int id, const ListRow& row) {
    touch(id);
    std::vector<ListRow>& rows = control(id).rows;
    rows.push_back(row);
    return static_cast<int>(rows.size()) - 1;
}

bool MemoryView::valid_row(ControlState& list, int row) const {
    return row >= 0 && row < static_cast<int>(list.rows.size());
}

void MemoryView::list_set_row(int id, int row, const ListRow& value) {
    touch(id);
    ControlState& list = control(id);
    if (valid_row(list, row)) list.rows[row] = value;
}

ListRow MemoryView::list_row(int id, int row) {
    touch(id);
    ControlState& list = control(id);
    return valid_row(list, row) ? list.rows[row] : ListRow{};
}

int MemoryView::list_row_count(int id) {
    touch(id);
    return static_cast<int>(control(id).rows.size());
}

void MemoryView::list_clear(int id) {
    touch(id);
    ControlState& list = control(id);
    list.rows.clear();
    list.selected = -1;
    list.focused = -1;
}

// A single-selection list: selecting a row takes the selection from the row
// that had it, and the control reports both changes to its owner.
void MemoryView::list_select(int id, int row) {
    touch(id);
    ControlState& list = control(id);
    if (!valid_row(list, row)) return;
    if (list.selected == row && list.focused == row) return;
    const int previous = list.selected;
    list.selected = row;
    list.focused = row;
    if (previous >= 0 && previous != row) {
        ListEvent lost{.kind = ListEvent::Kind::item_changed, .row = previous, .selected = false};
        raise(id, lost);
    }
    ListEvent gained{.kind = ListEvent::Kind::item_changed, .row = row, .selected = true};
    raise(id, gained);
}

int MemoryView::list_selected(int id) {
    touch(id);
    return control(id).selected;
}

void MemoryView::set_font(int id, const std::string& face, int height, int weight) {
    touch(id);
    ControlState& label = control(id);
    label.font_face = face;
    label.font_height = height;
    label.font_weight = weight;
}

void MemoryView::end_dialog(int result) {
    ended_ = true;
    end_result_ = result;
}

void MemoryView::raise(int id, const ListEvent& event) {
    if (sink_) sink_(id, event);
}

}  // namespace sx::ui
