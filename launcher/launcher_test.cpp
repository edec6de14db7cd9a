#include "launcher/launcher.h"

#include <gtest/gtest.h>

#include <string>

namespace sx {
namespace {

TEST(AppletFileArgument, TakesTheFirstNameQuotedOrNot) {
    const std::pair<std::string, std::string> cases[] = {
        {"\"C:\\My Applets\\demo.sxvm\"", "C:\\My Applets\\demo.sxvm"},
        {"demo.sxvm -x", "demo.sxvm"},
        {"  \t demo.sxvm", "demo.sxvm"},
        {"\"unclosed name -x", "unclosed name -x"},  // runs to the end
        {"\"\" rest", ""},
        {"x\"y z", "x\"y"},  // a quote inside a name is part of it
    };
    for (const auto& [line, name] : cases) EXPECT_EQ(applet_file_argument(line), name) << line;
}

TEST(CommandLineAfterProgram, IsWhatWinMainReceives) {
    const std::pair<std::string, std::string> cases[] = {
        {"Stellarix3D \"C:\\My Applets\\demo.sxvm\"", "\"C:\\My Applets\\demo.sxvm\""},
        {"\"C:\\Program Files\\Stellarix3D.exe\" demo.sxvm -x", "demo.sxvm -x"},
        {"\"C:\\Program Files\\Stellarix3D.exe\"demo.sxvm", "demo.sxvm"},
        {"prog   \t  a  b ", "a  b "},  // inner and trailing white space kept
        {"\"unclosed program", ""},
        {"", ""},
    };
    for (const auto& [line, rest] : cases)
        EXPECT_EQ(command_line_after_program(line), rest) << line;
}

}  // namespace
}  // namespace sx
