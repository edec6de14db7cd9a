// Controls held in memory: what a dialog's controls would hold, without a
// window. The base of the test fake and of the terminal view; the ways to talk
// to a person (ask, run, shell, clipboard) are left to them.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/check_list.h"
#include "ui/view.h"

namespace sx::ui {

// The state of one control. Which fields matter depends on its kind.
struct ControlState {
    std::string text;
    bool checked = false;
    bool enabled = true;
    // Slider.
    int slider_min = 0;
    int slider_max = 100;
    int slider_position = 0;
    std::vector<int> ticks;  // kept in ascending order, as a slider keeps them
    int tick_frequency = 0;
    // Up-down control.
    int spin_bottom = 0;
    int spin_top = 100;
    int spin_position = 0;
    // List.
    bool list_ready = false;
    std::vector<ListRow> rows;
    int selected = -1;
    int focused = -1;
    // Font and placement.
    std::string font_face;
    int font_height = 0;
    int font_weight = 0;
    int under_slider = 0;  // label: the slider and tick it was placed under
    int under_tick = -1;
    Rect rect;
};

class MemoryView : public DialogView {
public:
    // Events the list controls raise themselves (a row selected by program or
    // by the person), delivered as the window side delivers them to the page.
    using ListEventSink = std::function<void(int id, const ListEvent& event)>;

    void set_list_event_sink(ListEventSink sink) { sink_ = std::move(sink); }

    // The state of control `id`; created on first use, disabled when the
    // whole dialog already is.
    ControlState& control(int id) {
        auto [entry, added] = controls_.try_emplace(id);
        if (added) entry->second.enabled = dialog_enabled_;
        return entry->second;
    }
    bool dialog_enabled() const { return dialog_enabled_; }
    int changed_count() const { return changed_count_; }
    bool ended() const { return ended_; }
    int end_result() const { return end_result_; }
    bool centered() const { return centered_; }

    void set_text(int id, const std::string& text) override;
    std::string text(int id) override;
    void set_checked(int id, bool checked) override;
    bool checked(int id) override;
    void enable(int id, bool enabled) override;
    bool enabled(int id) override;
    void disable_all() override;

    void set_slider_range(int id, int minimum, int maximum) override;
    void set_slider_position(int id, int position) override;
    int slider_position(int id) override;
    void set_slider_tick(int id, int position) override;
    void set_slider_tick_frequency(int id, int frequency) override;
    void place_under_tick(int label_id, int slider_id, int tick_index) override;

    void set_spin_range(int id, int bottom, int top) override;
    void set_spin_position(int id, int position) override;

    void list_set_up(int id) override;
    int list_add_row(int id, const ListRow& row) override;
    void list_set_row(int id, int row, const ListRow& value) override;
    ListRow list_row(int id, int row) override;
    int list_row_count(int id) override;
    void list_clear(int id) override;
    void list_select(int id, int row) override;
    int list_selected(int id) override;

    Rect client_area() override { return client_; }
    Rect control_rect(int id) override;
    void move_controls(const std::vector<std::pair<int, Rect>>& moves) override;
    // What a person resizing the window does to its client area.
    void set_client_size(int width, int height) { client_ = {0, 0, width, height}; }

    void set_font(int id, const std::string& face, int height, int weight) override;

    void changed() override { ++changed_count_; }
    void end_dialog(int result) override;
    void center() override { centered_ = true; }

protected:
    // Called before every operation on control `id`; the fake uses it to
    // report controls that the dialog does not have.
    virtual void touch(int id) { (void)id; }
    void raise(int id, const ListEvent& event);

private:
    bool valid_row(ControlState& list, int row) const;

    std::map<int, ControlState> controls_;
    ListEventSink sink_;
    bool dialog_enabled_ = true;
    int changed_count_ = 0;
    bool ended_ = false;
    int end_result_ = 0;
    bool centered_ = false;
    Rect client_;
};

// Clamps a value into the range of two ends given in either order.
int clamp_between(int value, int end_a, int end_b);

}  // namespace sx::ui
