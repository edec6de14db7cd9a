// What dialog logic sees of its window.
//
// A page or dialog is plain C++ that reads and writes its controls through
// `DialogView` and never touches a window handle. ui/win32 implements it over
// a real dialog; ui/testing has an in-memory fake that records every call, so
// the same page logic runs natively under the sanitizers and under Wine
// against real controls.
//
// Controls are named by their integer ids, the ones of the deliverable's
// resource header (which its .rc includes as well). Texts are 8-bit texts in
// the system code page, as everywhere in the system.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sx::ui {

// The buttons a question offers.
enum class Buttons { ok, ok_cancel, yes_no };

// The picture beside a question.
enum class Icon { none, information, warning, error, question };

// What the person answered. `failed` when no box could be shown at all (no
// display, say); callers treat it like the cautious answer.
enum class Answer { failed, ok, cancel, yes, no };

// A row of a list control with check marks (see check_list.h).
struct ListRow {
    std::string text;
    bool checked = false;
    intptr_t value = 0;  // the caller's own datum, kept with the row
};

// A control's place in its dialog's client area, in pixels.
struct Rect {
    int left = 0, top = 0, width = 0, height = 0;
    bool operator==(const Rect&) const = default;
};

// Exit code reported when a started program's end could not be observed.
constexpr uint32_t kExitUnknown = 0xFFFFFFFFu;

// Outcome of running a program and waiting for it.
struct RunResult {
    bool started = false;    // false: the program could not be started
    uint32_t exit_code = 0;  // valid when started; kExitUnknown when not observed
};

class DialogView {
public:
    virtual ~DialogView() = default;

    // -- Text, check boxes, enabling.
    virtual void set_text(int id, const std::string& text) = 0;
    virtual std::string text(int id) = 0;
    virtual void set_checked(int id, bool checked) = 0;
    virtual bool checked(int id) = 0;
    virtual void enable(int id, bool enabled) = 0;
    virtual bool enabled(int id) = 0;
    // Disables every control of the dialog and then the dialog itself: a page
    // that cannot work shows its state but takes no input.
    virtual void disable_all() = 0;

    // -- Sliders (trackbars). Positions are the slider's own units.
    virtual void set_slider_range(int id, int minimum, int maximum) = 0;
    virtual void set_slider_position(int id, int position) = 0;
    virtual int slider_position(int id) = 0;
    // One tick mark at `position`; ticks added this way are numbered from 0 in
    // the order the slider keeps them.
    virtual void set_slider_tick(int id, int position) = 0;
    virtual void set_slider_tick_frequency(int id, int frequency) = 0;
    // Moves the label `label_id` sideways so that its centre sits under tick
    // number `tick_index` of the slider; its top, size and z-order stay.
    virtual void place_under_tick(int label_id, int slider_id, int tick_index) = 0;

    // -- Up-down (spin) controls: `bottom` is reported by the down arrow end,
    // `top` by the up arrow end.
    virtual void set_spin_range(int id, int bottom, int top) = 0;
    virtual void set_spin_position(int id, int position) = 0;

    // -- Lists with check marks. Rows are numbered from 0; -1 means none.
    // Makes the control a one-column, single-selection list with the check
    // images; done once, before any row is added.
    virtual void list_set_up(int id) = 0;
    virtual int list_add_row(int id, const ListRow& row) = 0;  // appends; returns its index
    virtual void list_set_row(int id, int row, const ListRow& value) = 0;
    virtual ListRow list_row(int id, int row) = 0;
    virtual int list_row_count(int id) = 0;
    virtual void list_clear(int id) = 0;
    // Gives `row` the selected and the focused state.
    virtual void list_select(int id, int row) = 0;
    virtual int list_selected(int id) = 0;  // the first selected row, or -1

    // -- Placement, in client pixels of the dialog.
    virtual Rect client_area() = 0;  // left and top are 0
    virtual Rect control_rect(int id) = 0;
    // Moves and sizes the controls together, without changing their z-order
    // or activating them.
    virtual void move_controls(const std::vector<std::pair<int, Rect>>& moves) = 0;

    // -- Fonts: a title font for a static control, released with the dialog.
    virtual void set_font(int id, const std::string& face, int height, int weight) = 0;

    // -- The dialog and the property sheet around it.
    // Tells the sheet that this page holds unsaved changes (enables Apply).
    virtual void changed() = 0;
    // Ends a modal dialog with `result` (not used by sheet pages).
    virtual void end_dialog(int result) = 0;
    // Places the dialog at the centre of the desktop, size unchanged.
    virtual void center() = 0;

    // -- Talking to the person and to the system.
    // A modal message box owned by the dialog's top-level window (the sheet,
    // for a page of a property sheet).
    virtual Answer ask(const std::string& text, const std::string& caption, Buttons buttons,
                       Icon icon) = 0;
    // Starts `command_line` (the first word names the program) and waits for it
    // to end. The dialog's top-level window takes no input meanwhile but keeps
    // painting.
    virtual RunResult run_and_wait(const std::string& command_line) = 0;
    // Hands `target` (a web address, say) to the shell's "open" verb; false when
    // the shell could not open it.
    virtual bool shell_open(const std::string& target) = 0;
    // Puts `text` on the clipboard; false when the clipboard was not available.
    virtual bool copy_to_clipboard(const std::string& text) = 0;
};

}  // namespace sx::ui
