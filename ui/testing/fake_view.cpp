#include "ui/testing/fake_view.h"

namespace sx::testing {

ui::Answer FakeView::ask(const std::string& text, const std::string& caption, ui::Buttons buttons,
                         ui::Icon icon) {
    questions.push_back({text, caption, buttons, icon});
    if (answers.empty()) return ui::Answer::failed;
    const ui::Answer answer = answers.front();
    answers.pop_front();
    return answer;
}

ui::RunResult FakeView::run_and_wait(const std::string& command_line) {
    command_lines.push_back(command_line);
    return {};
}

bool FakeView::shell_open(const std::string& target) {
    opened.push_back(target);
    return shell_succeeds;
}

bool FakeView::copy_to_clipboard(const std::string&) { return true; }

void FakeView::touch(int id) {
    if (!known_.empty() && known_.count(id) == 0) strays.push_back(id);
}

}  // namespace sx::testing
