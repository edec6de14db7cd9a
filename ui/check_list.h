// A list of rows with check marks: the behaviour shared by every list in
// which the person ticks options on and off.
//
// The rows live in the list control (through `DialogView`); `CheckList` adds
// the rules. A click exactly on a row's check image toggles it, a click on its
// text only selects it, a click below the rows selects the row under the
// cursor or else the last one; the space bar toggles the selected row;
// focusing the list with nothing selected selects a row as such a click would.
// The rules are pure functions over a `ListEvent`, so they are tested as
// tables; the view turns the control's own notifications into events.
//
// Changes are announced through one callback with the codes below, the same
// codes the owner would receive as notifications from the list.
#pragma once

#include <functional>
#include <string>

#include "ui/view.h"

namespace sx::ui {

// Notification codes a check list sends to its owner.
constexpr int CLN_SELCHANGED = 0x1123;    // a row became selected
constexpr int CLN_CHECKCHANGED = 0x1124;  // a row's mark was toggled or set

// Longest row text read back, in characters.
constexpr int kCheckListTextLimit = 1023;

// Virtual key of the space bar.
constexpr int kKeySpace = 0x20;

// What happened to the list control, as the view reports it.
struct ListEvent {
    enum class Kind { key_down, click, set_focus, item_changed, other };
    Kind kind = Kind::other;
    int key = 0;            // key_down: the virtual key
    int hit_row = -1;       // click: the row under the cursor, -1 for none
    bool on_icon = false;   // click: the cursor is exactly on that row's check image
    int bounds_row = -1;    // click, set_focus: first row, from the top, whose bounds
                            // rectangle contains the cursor; -1 for none
    int row = -1;           // item_changed: the row that changed
    bool selected = false;  // item_changed: its new state includes the selection
};

// What the rules decide for an event.
struct ListAction {
    enum class Kind { none, toggle, select, selection_changed };
    Kind kind = Kind::none;
    int row = -1;          // the row to toggle or select, or the newly selected row
    bool handled = false;  // the event is consumed by the list
};

// The row a click into empty space (or a focus without selection) lands on:
// the row whose bounds contain the cursor, else the last row; -1 when the list
// is empty.
int row_for_empty_point(int bounds_row, int row_count);

// The rules, given the row currently selected (-1 for none) and the number of
// rows. Never returns a row outside 0 .. row_count - 1 for toggle or select.
ListAction decide(const ListEvent& event, int selected, int row_count);

class CheckList {
public:
    // `on_notify(id, code)` receives CLN_SELCHANGED and CLN_CHECKCHANGED with
    // the list's control id.
    using Notify = std::function<void(int id, int code)>;

    CheckList(DialogView& view, int id, Notify on_notify);

    int id() const { return id_; }

    // Prepares the control (style, check images, one column).
    void set_up();
    // Appends a row; returns its index. No notification.
    int add_row(const std::string& text, bool checked, intptr_t value = 0);
    bool is_checked(int row);
    // Sets the mark and sends CLN_CHECKCHANGED.
    void set_checked(int row, bool checked);
    // Exchanges text, mark and value of two rows.
    void swap_rows(int a, int b);
    // Gives the row the selected and the focused state.
    void select(int row);
    int selected_index();
    // The row's text, at most kCheckListTextLimit characters.
    std::string row_text(int row);
    intptr_t row_value(int row);
    int row_count();
    void delete_all();

    // Applies the rules to an event from the control; true when the list
    // consumed it. Sends CLN_CHECKCHANGED for a toggle and CLN_SELCHANGED for a
    // newly selected row.
    bool handle(const ListEvent& event);

private:
    void toggle(int row);
    void send(int code);

    DialogView& view_;
    int id_;
    Notify on_notify_;
};

}  // namespace sx::ui
