// A small page that proves the seam: the same logic runs in the fake dialog
// natively and in a real dialog under Windows. It shows a name, an "agree"
// check box and a check list of two options, and keeps them on OK.
#pragma once

#include <optional>
#include <string>

#include "ui/page.h"
#include "ui/testing/sample_ids.h"

namespace sx::testing {

class SamplePage : public ui::Page {
public:
    std::string stored;  // what OK kept: the name, the check, each row's mark ("world 1 10")
    bool destroyed_seen = false;

    bool init(ui::DialogView& view) override {
        view_ = &view;
        view.set_text(IDC_SAMPLE_NAME, "hello");
        view.set_checked(IDC_SAMPLE_AGREE, false);
        options_.emplace(view, IDC_SAMPLE_OPTIONS, [this](int, int code) { on_list_notify(code); });
        options_->set_up();
        options_->add_row("first", false);
        options_->add_row("second", true);
        options_->select(0);
        return true;
    }

    bool command(int id, int code) override {
        if (id == IDC_SAMPLE_AGREE && code == ui::kButtonClicked) {
            view_->changed();
            return true;
        }
        if (id != ui::kIdOk && id != ui::kIdCancel) return false;
        if (id == ui::kIdOk) {
            stored =
                view_->text(IDC_SAMPLE_NAME) + (view_->checked(IDC_SAMPLE_AGREE) ? " 1 " : " 0 ");
            for (int row = 0; row < options_->row_count(); ++row)
                stored += options_->is_checked(row) ? "1" : "0";
        }
        view_->end_dialog(id);
        return true;
    }

    bool list_event(int id, const ui::ListEvent& event) override {
        return id == IDC_SAMPLE_OPTIONS && options_->handle(event);
    }

    void destroyed() override { destroyed_seen = true; }

private:
    void on_list_notify(int code) {
        if (code == ui::CLN_CHECKCHANGED) {
            view_->changed();
        } else if (code == ui::CLN_SELCHANGED) {
            const int row = options_->selected_index();
            view_->set_text(IDC_SAMPLE_CHOICE, row < 0 ? "N/A" : options_->row_text(row));
        }
    }

    ui::DialogView* view_ = nullptr;
    std::optional<ui::CheckList> options_;
};

}  // namespace sx::testing
