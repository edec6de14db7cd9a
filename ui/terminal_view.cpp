#include "ui/terminal_view.h"

#include <cctype>

#include "platform/platform.h"

namespace sx::ui {

namespace {

std::string trimmed_lower(const std::string& line) {
    size_t begin = 0;
    size_t end = line.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(line[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(line[end - 1]))) --end;
    std::string word = line.substr(begin, end - begin);
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word;
}

const char* prompt_for(Buttons buttons) {
    switch (buttons) {
        case Buttons::yes_no:
            return "[y/n] ";
        case Buttons::ok_cancel:
            return "[o/c] ";
        case Buttons::ok:
            break;
    }
    return "";
}

}  // namespace

Answer parse_answer(const std::string& line, Buttons buttons) {
    const std::string word = trimmed_lower(line);
    switch (buttons) {
        case Buttons::yes_no:
            if (word == "y" || word == "yes") return Answer::yes;
            if (word == "n" || word == "no") return Answer::no;
            break;
        case Buttons::ok_cancel:
            if (word == "o" || word == "ok") return Answer::ok;
            if (word == "c" || word == "cancel") return Answer::cancel;
            break;
        case Buttons::ok:
            return Answer::ok;
    }
    return Answer::failed;
}

Answer TerminalView::ask(const std::string& text, const std::string& caption, Buttons buttons,
                         Icon) {
    out_ << caption << ": " << text << "\n";
    // A message with only OK needs no reply: the person has read it.
    if (buttons == Buttons::ok) {
        out_.flush();
        return Answer::ok;
    }
    std::string line;
    for (;;) {
        out_ << prompt_for(buttons);
        out_.flush();
        if (!std::getline(in_, line)) return Answer::failed;
        const Answer answer = parse_answer(line, buttons);
        if (answer != Answer::failed) return answer;
    }
}

RunResult TerminalView::run_and_wait(const std::string& command_line) {
    Platform& os = platform();
    ProcessHandle process = nullptr;
    if (!os.start_process(command_line.c_str(), nullptr, &process)) return {};
    RunResult result{.started = true};
    if (!os.wait_process(process, kWaitInfinite, &result.exit_code))
        result.exit_code = kExitUnknown;
    os.close_process(process);
    return result;
}

bool TerminalView::shell_open(const std::string&) { return false; }

bool TerminalView::copy_to_clipboard(const std::string&) { return false; }

}  // namespace sx::ui
