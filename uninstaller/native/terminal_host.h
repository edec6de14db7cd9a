// The uninstaller's dialogs as terminal prompts, for the native build: Next
// and Cancel become a yes/no answer, the finished dialog a notice.
#pragma once

#include <iostream>

#include "ui/terminal_view.h"
#include "uninstaller/flow.h"

namespace sx {

class TerminalHost : public UninstallerHost {
public:
    TerminalHost(std::istream& in, std::ostream& out, std::ostream& usage = std::cout)
        : view_(in, out), out_(out), usage_(usage) {}
    int show_dialog(int dialog, const std::string& text) override;
    void show_usage(const std::string& usage) override { usage_ << usage; }
    // No browser windows on a terminal.
    bool internet_explorer_running() override { return false; }
    bool netscape_running() override { return false; }
    void show_working() override;
    void hide_working() override {}
    void pump_messages() override {}

private:
    ui::TerminalView view_;
    std::ostream& out_;
    std::ostream& usage_;
};

}  // namespace sx
