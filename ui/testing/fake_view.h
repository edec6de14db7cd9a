// An in-memory dialog for tests of page logic: the controls' state, every
// question asked and every program run, with scripted answers.
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
    };

    FakeView() = default;
    // The dialog's control ids: a call naming any other id is recorded in
    // `strays`, as a real dialog would silently ignore it.
    explicit FakeView(std::initializer_list<int> controls) : known_(controls) {}

    std::vector<Question> questions;
    std::deque<ui::Answer> answers;          // each question takes the next, else fails
    std::vector<std::string> command_lines;  // programs: recorded, never started
    std::vector<int> strays;                 // ids the dialog does not have, in call order
    std::vector<std::string> clipboard;      // every text copied, in order

    ui::Answer ask(const std::string& text, const std::string& caption, ui::Buttons buttons,
                   ui::Icon) override {
        questions.push_back({text, caption, buttons});
        if (answers.empty()) return ui::Answer::failed;
        const ui::Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    ui::RunResult run_and_wait(const std::string& command_line) override {
        command_lines.push_back(command_line);
        return {};
    }
    bool shell_open(const std::string&) override { return false; }
    bool copy_to_clipboard(const std::string& text) override {
        clipboard.push_back(text);
        return true;
    }

protected:
    void touch(int id) override {
        if (!known_.empty() && known_.count(id) == 0) strays.push_back(id);
    }

private:
    std::set<int> known_;
};

}  // namespace sx::testing
