// The standalone launcher: opens an applet file, checks that every component
// its header requires is installed in a recent enough version, and starts the
// player that the run component registers under the file key "run".
#pragma once

#include <string>

namespace sx {

// The program's entry. `command_line` is the text after the program name, as
// Windows hands it to a GUI program. Gives 0 when the player was started and
// -1 otherwise; a bad header ends the process from inside (exit code -1).
int launcher_main(const std::string& command_line);

// The applet file named first on the command line: leading spaces and tabs
// skipped, then either a double-quoted name (to the next quote or the end) or
// everything up to the first space or tab.
std::string applet_file_argument(const std::string& command_line);

// In the native build a host path ("/tmp/x.sxvm") is taken as drive Z:, the
// way the Windows build sees host files under emulation; anything else is
// returned as it is.
std::string native_applet_path(const std::string& name);

// The part of a full command line that follows the program name, without the
// white space that separates them (what WinMain receives).
std::string command_line_after_program(const std::string& full_command_line);

}  // namespace sx
