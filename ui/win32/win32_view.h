// The dialog view over a real dialog window.
#pragma once

#include <windows.h>

#include <map>

#include "ui/view.h"

namespace sx::ui {

// Names of the icon resources a check list shows: the cleared and the set
// mark. The module that holds the dialog templates must carry both.
constexpr const char* kUncheckedIcon = "UNCHECKED";
constexpr const char* kCheckedIcon = "CHECKED";

class Win32View : public DialogView {
public:
    // `dialog`: the dialog (or property-sheet page) window; `resources`: the
    // module holding its templates and icons; `sheet_page`: whether the sheet
    // that owns it is to be told about changes.
    Win32View(HWND dialog, HINSTANCE resources, bool sheet_page)
        : dialog_(dialog), resources_(resources), sheet_page_(sheet_page) {}
    ~Win32View() override { release(); }
    Win32View(const Win32View&) = delete;
    Win32View& operator=(const Win32View&) = delete;

    HWND window() const { return dialog_; }
    // Takes back and deletes the fonts given to controls; done when the
    // window is destroyed, while the controls still exist.
    void release();

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

    Rect client_area() override;
    Rect control_rect(int id) override;
    void move_controls(const std::vector<std::pair<int, Rect>>& moves) override;

    void set_font(int id, const std::string& face, int height, int weight) override;

    void changed() override;
    void end_dialog(int result) override;
    void center() override;

    Answer ask(const std::string& text, const std::string& caption, Buttons buttons,
               Icon icon) override;
    RunResult run_and_wait(const std::string& command_line) override;
    bool shell_open(const std::string& target) override;
    bool copy_to_clipboard(const std::string& text) override;

private:
    HWND item(int id) const { return GetDlgItem(dialog_, id); }
    LRESULT send(int id, UINT message, WPARAM wparam, LPARAM lparam) const {
        return SendDlgItemMessageA(dialog_, id, message, wparam, lparam);
    }
    HWND top_level() const;

    HWND dialog_;
    HINSTANCE resources_;
    bool sheet_page_;
    std::map<int, HFONT> fonts_;
};

// The message-box style for a question, and the answer for its result.
UINT message_box_style(Buttons buttons, Icon icon);
Answer answer_of(int message_box_result);

}  // namespace sx::ui
