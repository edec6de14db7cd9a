#include "launcher/error_catalogue.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/testing/message_box_recorder.h"

namespace sx {
namespace {

using testing::MessageBoxRecorder;
using testing::RecordedBox;

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
    struct Case {
        const char* name;
        std::string got;
        std::string expected;
    };
    const std::string obsolescent = error_row(16)->text;
    const std::string statistics = "Available benchmarking information";
    const std::string system_error =
        "Stellarix 3D Player must exit, because a system error has occured";
    const Case cases[] = {
        {"12 without details", message(12, 0, "reader.cpp", 40, nullptr), kNotAnApplet + "."},
        // Detail 1 shows a number but never the source position.
        {"12 with details and number", message(12, 3, "reader.cpp", 40, "line %d", 1),
         kNotAnApplet + ":\n\nline 1\n\n[3]"},
        {"16 without details", message(16, 0, nullptr, 0, nullptr), obsolescent + "."},
        {"20: the details are the whole text", message(20, 0, nullptr, 0, "%s", "abc"), "abc"},
        {"20 with a number", message(20, 9, nullptr, 0, "%s", "abc"), "abc\n\n[9]"},
        {"18: number and position", message(18, 5, "x", 7, nullptr), statistics + ".\n\n[5] x:7"},
        // Detail 2 with a source file shows the number even when it is 0.
        {"2: position with number 0", message(2, 0, "m.cpp", 12, "%s", "bad"),
         system_error + ":\n\nbad\n\n[0] m.cpp:12"},
        {"2 without a source file", message(2, 0, nullptr, 12, "%s", "bad"),
         system_error + ":\n\nbad"},
        {"1: detail 0 ignores everything", message(1, 4, "a", 1, "%s", "zzz"),
         "Stellarix 3D Plug-in PowerPC Version 2.2.1\nVersion 2.2.1"},
        {"0 is no code", message(0, 0, nullptr, 0, nullptr), ""},
        {"21 is no code", message(21, 0, nullptr, 0, "%s", "x"), ""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.name;
}

TEST(ErrorMessage, LongDetailsAreCutToTheBuffer) {
    const std::string long_detail(5000, 'd');
    struct Case {
        int code;
        long number;
        const char* file;
    };
    for (const Case& c : {Case{20, 0, nullptr}, Case{12, 77, "f.cpp"}, Case{18, 5, "x"}}) {
        std::string text = message(c.code, c.number, c.file, 7, "%s", long_detail.c_str());
        EXPECT_EQ(text.size(), kErrorMessageBufferSize - 1) << c.code;
        // The base text and the start of the details survive; the cut falls
        // inside the details.
        EXPECT_EQ(text.rfind(error_row(c.code)->text, 0), 0u) << c.code;
        EXPECT_EQ(text.back(), 'd') << c.code;
    }
    // A message that just fits keeps its number and position; one more
    // character of details cuts the last character of the position.
    const std::string suffix = "\n\n[5] x:7";
    const size_t room = kErrorMessageBufferSize - 1 - suffix.size();
    std::string fits = message(20, 5, "x", 7, "%s", std::string(room, 'e').c_str());
    EXPECT_EQ(fits, std::string(room, 'e') + suffix);
    std::string cut = message(20, 5, "x", 7, "%s", std::string(room + 1, 'e').c_str());
    EXPECT_EQ(cut, std::string(room + 1, 'e') + suffix.substr(0, suffix.size() - 1));
}

TEST(ShowError, ResumingCodesShowOneBoxAndReturnItsResult) {
    MessageBoxRecorder recorder;
    recorder.set_result(kIdOk);
    EXPECT_EQ(show_error(0, 0, nullptr, 0, nullptr), 0);
    EXPECT_EQ(show_error(21, 0, nullptr, 0, "%s", "x"), 0);
    EXPECT_EQ(show_error(-5, 0, nullptr, 0, nullptr), 0);
    EXPECT_TRUE(recorder.boxes().empty());

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

// Every code whose row ends the program, with a shutdown callback that proves
// it ran before the exit.
TEST(ShowErrorDeathTest, ClosingCodesEndTheProgramWithMinusOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (int code : {2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 17, 19}) {
        EXPECT_EXIT(
            {
                MessageBoxRecorder recorder;
                recorder.set_result(kIdOk);
                register_shutdown_callback(say, const_cast<char*>("shut down\n"));
                show_error(code, 0, "f.cpp", 1, nullptr);
                std::fputs("returned\n", stderr);
            },
            ::testing::ExitedWithCode(kExitMinusOne), "^shut down\n$")
            << code;
    }
    // A failed message box does not change the end action.
    EXPECT_EXIT(
        {
            MessageBoxRecorder recorder;
            recorder.set_result(0);
            show_error(12, 0, nullptr, 0, nullptr);
        },
        ::testing::ExitedWithCode(kExitMinusOne), "");
}

struct Nested {
    int code;
    const char* text;
};

void say_and_end(void* argument) {
    auto* nested = static_cast<Nested*>(argument);
    std::fputs(nested->text, stderr);
    terminate_program(nested->code);
}

// The second callback to run ends the program again with another code.
void end_with_nested_terminate() {
    static Nested nested{9, "second;"};
    register_shutdown_callback(say, const_cast<char*>("first;"));
    register_shutdown_callback(say_and_end, &nested);
    register_shutdown_callback(say, const_cast<char*>("third;"));
    terminate_program(3);
}

TEST(TerminateProgramDeathTest, CallbacksRunOnceNewestFirstAndTheFirstCodeIsKept) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(end_with_nested_terminate(), ::testing::ExitedWithCode(3), "^third;second;first;$");
    EXPECT_EXIT(terminate_program(0), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace sx
