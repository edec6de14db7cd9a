// The uninstaller on a terminal: the same two stages, with prompts for
// dialogs.
#include <iostream>

#include "platform/platform.h"
#include "uninstaller/flow.h"
#include "uninstaller/native/terminal_host.h"
#include "uninstaller/removal.h"

int main() {
    sx::TerminalHost host(std::cin, std::cerr);
    return sx::run_uninstaller(sx::platform().command_line(), host, sx::remove_player);
}
