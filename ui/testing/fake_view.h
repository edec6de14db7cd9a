// An in-memory dialog for tests of page logic: the controls' state, every
// question asked and every program run, with scripted answers and results.
#pragma once

#include <deque>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "ui/memory_view.h"

namespace sx::testing {

class FakeView : public ui::MemoryView {
public:
    struct Question {
        std::string text;
        std::string caption;
        ui::Buttons buttons;
        ui::Icon icon;
    };

    FakeView() = default;
    // The dialog's control ids: a call naming any other id is recorded in
    // `strays`, as a real dialog would silently ignore it.
    explicit FakeView(std::initializer_list<int> controls) : known_(controls) {}

    // Questions: each takes the next scripted answer, else fails.
    std::vector<Question> questions;
    std::deque<ui::Answer> answers;

    // Programs: recorded, never started.
    std::vector<std::string> command_lines;

    std::vector<std::string> opened;  // targets handed to the shell
    bool shell_succeeds = true;

    std::vector<int> strays;  // ids the dialog does not have, in call order

    ui::Answer ask(const std::string& text, const std::string& caption, ui::Buttons buttons,
                   ui::Icon icon) override;
    ui::RunResult run_and_wait(const std::string& command_line) override;
    bool shell_open(const std::string& target) override;
    bool copy_to_clipboard(const std::string& text) override;

protected:
    void touch(int id) override;

private:
    std::set<int> known_;
};

}  // namespace sx::testing
