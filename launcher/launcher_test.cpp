#include "launcher/launcher.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "launcher/error_catalogue.h"
#include "platform/platform.h"
#include "platform/testing/message_box_recorder.h"

namespace sx {
namespace {

using testing::MessageBoxRecorder;
using testing::RecordedBox;

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

std::string message(int code, long number, const char* file, int line, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string text = format_error_message(code, number, file, line, format, arguments);
    va_end(arguments);
    return text;
}

const std::string kNotAnApplet =
    "The selected file is not recognized as an applet file.  The file's contents may be damaged";

TEST(ErrorMessage, DetailLevelsDecideWhatIsAdded) {
    const std::string system_error =
        "Stellarix 3D Player must exit, because a system error has occured";
    const std::pair<std::string, std::string> cases[] = {
        {message(12, 0, "reader.cpp", 40, nullptr), kNotAnApplet + "."},
        // Detail 1 shows a number but never the source position.
        {message(12, 3, "reader.cpp", 40, "line %d", 1), kNotAnApplet + ":\n\nline 1\n\n[3]"},
        // 20 has no text of its own: the details are the whole text.
        {message(20, 9, nullptr, 0, "%s", "abc"), "abc\n\n[9]"},
        // Detail 2 with a source file shows the number even when it is 0.
        {message(2, 0, "m.cpp", 12, "%s", "bad"), system_error + ":\n\nbad\n\n[0] m.cpp:12"},
        {message(2, 0, nullptr, 12, "%s", "bad"), system_error + ":\n\nbad"},
        {message(0, 0, nullptr, 0, nullptr), ""},
    };
    for (const auto& [got, expected] : cases) EXPECT_EQ(got, expected);
}

TEST(ErrorMessage, LongDetailsAreCutToTheBuffer) {
    const std::string text = message(12, 77, "f.cpp", 7, "%s", std::string(5000, 'd').c_str());
    EXPECT_EQ(
        text,
        (kNotAnApplet + ":\n\n" + std::string(5000, 'd')).substr(0, kErrorMessageBufferSize - 1));
    // A message that just fits keeps its number and position; one more
    // character of details cuts the last character of the position.
    const std::string suffix = "\n\n[5] x:7";
    const size_t room = kErrorMessageBufferSize - 1 - suffix.size();
    EXPECT_EQ(message(20, 5, "x", 7, "%s", std::string(room, 'e').c_str()),
              std::string(room, 'e') + suffix);
    EXPECT_EQ(message(20, 5, "x", 7, "%s", std::string(room + 1, 'e').c_str()),
              std::string(room + 1, 'e') + suffix.substr(0, suffix.size() - 1));
}

TEST(ShowError, ResumingCodesShowOneBoxAndReturnItsResult) {
    MessageBoxRecorder recorder;
    EXPECT_EQ(show_error(21, 0, nullptr, 0, "%s", "x"), 0);  // no code, no box
    EXPECT_EQ(show_error(16, 0, nullptr, 0, nullptr), kIdOk);
    recorder.set_result(kIdCancel);
    EXPECT_EQ(show_error(20, 0, nullptr, 0, "%s", "abc"), kIdCancel);
    EXPECT_EQ(show_error(18, 5, "x", 7, nullptr), kIdCancel);
    EXPECT_EQ(show_error(1, 0, nullptr, 0, nullptr), kIdCancel);
    const std::vector<RecordedBox> expected = {
        {error_row(16)->text + ".", "Stellarix 3D Player: Obsolescent version", 0x11030},
        {"abc", "Stellarix 3D Player", 0x11030},
        {"Available benchmarking information.\n\n[5] x:7",
         "Stellarix 3D Player: Program Statistics", 0x11040},
        {"Stellarix 3D Plug-in PowerPC Version 2.2.1\nVersion 2.2.1", "About Stellarix 3D Player",
         0x11040},
    };
    EXPECT_EQ(recorder.boxes(), expected);
}

#if defined(_WIN32)
constexpr int kExitMinusOne = -1;
#else
constexpr int kExitMinusOne = 255;
#endif

void say(void* text) { std::fputs(static_cast<const char*>(text), stderr); }

// A callback that ends the program again, with another code.
void say_and_end(void* text) {
    say(text);
    terminate_program(9);
}

// Every code whose row ends the program, also when the box itself fails, with
// a shutdown callback that proves it ran before the exit; callbacks run once,
// newest first, and the first exit code is kept.
TEST(ShowErrorDeathTest, ClosingCodesEndTheProgramWithMinusOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (int code : {2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 17, 19}) {
        EXPECT_EXIT(
            {
                MessageBoxRecorder recorder;
                recorder.set_result(0);
                register_shutdown_callback(say, const_cast<char*>("shut down\n"));
                show_error(code, 0, "f.cpp", 1, nullptr);
                std::fputs("returned\n", stderr);
            },
            ::testing::ExitedWithCode(kExitMinusOne), "^shut down\n$")
            << code;
    }
    EXPECT_EXIT(
        {
            register_shutdown_callback(say, const_cast<char*>("first;"));
            register_shutdown_callback(say_and_end, const_cast<char*>("second;"));
            register_shutdown_callback(say, const_cast<char*>("third;"));
            terminate_program(3);
        },
        ::testing::ExitedWithCode(3), "^third;second;first;$");
    EXPECT_EXIT(terminate_program(0), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace sx
