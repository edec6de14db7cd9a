// A view for programs that run on a terminal: controls are kept in memory and
// questions are asked on a text stream, one answer per line. Used where a
// native build has no windows but still has to ask a person something.
#pragma once

#include <istream>
#include <ostream>

#include "ui/memory_view.h"

namespace sx::ui {

class TerminalView : public MemoryView {
public:
    TerminalView(std::istream& in, std::ostream& out) : in_(in), out_(out) {}

    // Writes "caption: text" and, unless the only button is OK, a prompt such
    // as "[y/n] "; repeats the prompt until an answer is recognised. The end
    // of the input gives Answer::failed.
    Answer ask(const std::string& text, const std::string& caption, Buttons buttons,
               Icon icon) override;
    // Starts the program through the platform and waits for it.
    RunResult run_and_wait(const std::string& command_line) override;
    // A terminal has neither a shell to open documents nor a clipboard.
    bool shell_open(const std::string& target) override;
    bool copy_to_clipboard(const std::string& text) override;

private:
    std::istream& in_;
    std::ostream& out_;
};

// The answer a typed line gives to a question with `buttons` (letters or
// words, any case, blanks around ignored); Answer::failed when it gives none.
Answer parse_answer(const std::string& line, Buttons buttons);

}  // namespace sx::ui
