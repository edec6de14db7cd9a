// Processes, locks between processes and message boxes, with a real child.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/posix/posix_internal.h"
#include "platform/testing/test_support.h"

extern char** environ;

namespace sx {
namespace {

const std::string& child_program() {
    static const std::string path = testing::host_to_windows_path(SX_POSIX_CHILD);
    return path;
}

class Processes : public testing::TempDirTest {
protected:
    void SetUp() override {
        testing::TempDirTest::SetUp();
        output_ = file("out.txt");
        ASSERT_TRUE(p.set_environment_variable("SX_CHILD_OUTPUT", output_.c_str()));
    }
    void TearDown() override { p.set_environment_variable("SX_CHILD_OUTPUT", nullptr); }

    // Starts a command line and waits for its end; the exit code, or -1.
    long run(const std::string& command_line) {
        ProcessHandle process;
        if (!p.start_process(command_line.c_str(), &process)) return -1;
        uint32_t code = 0;
        const bool ended = p.wait_process(process, 30000, &code);
        p.close_process(process);
        return ended ? static_cast<long>(code) : -1;
    }
    // Waits until the child has written its output file.
    bool wait_output(std::string* content) {
        for (int i = 0; i < 300; ++i) {
            if (testing::read_file(output_, content)) return true;
            p.sleep_ms(20);
        }
        return false;
    }

    Platform& p = platform();
    std::string output_;
};

// The child writes its command line, then each argument it was given.
TEST_F(Processes, ChildGetsItsExactCommandLineSplitByTheWindowsRules) {
    const std::string q = "\"" + child_program() + "\"";
    const std::string lines[] = {
        q + "  echo   many    spaces   ",
        q + " echo \"quoted arg\" \"\" last",
        q + " echo tab\there \"in\tquotes\"",
        q + " echo a\\\\b c\\\\\\\"d \"e\\\\\" f\\\\g \"unterminated quote",
        q + " echo %PATH% ^&|<> 'single' $HOME `x`",
        q + " echo trailing\\",
        child_program() + " echo\t x\"y z\"w  \"in \"\"doubled\"\" quotes\"",
    };
    for (const std::string& line : lines) {
        testing::remove_tree(output_);
        ASSERT_EQ(run(line), 0) << line;
        std::string got, expected = line + '\0';
        ASSERT_TRUE(testing::read_file(output_, &got));
        for (const std::string& arg : split_command_line(line)) expected += arg + '\0';
        EXPECT_EQ(got, expected) << line;
    }
}

TEST_F(Processes, WaitTimeoutTerminateAndKill) {
    const std::string holder = child_program() + " hold-lock \"" + file("held") + "\"";
    ProcessHandle process;
    ASSERT_TRUE(p.start_process(holder.c_str(), &process));
    uint32_t code = 0;
    const uint32_t before = p.tick_count();
    EXPECT_FALSE(p.wait_process(process, 0, &code));
    EXPECT_FALSE(p.wait_process(process, 150, &code));
    EXPECT_GE(p.tick_count() - before, 150u);
    EXPECT_TRUE(p.terminate_process(process, 77));
    ASSERT_TRUE(p.wait_process(process, 1000, &code));
    EXPECT_EQ(code, 77u);
    EXPECT_FALSE(p.terminate_process(process, 1));  // already ended
    p.close_process(process);

    // Killed from outside: a non-zero code, and the lock it held is free.
    testing::remove_tree(output_);
    ASSERT_TRUE(p.start_process(holder.c_str(), &process));
    std::string text;
    ASSERT_TRUE(wait_output(&text));
    EXPECT_EQ(p.open_lock_file(file("held").c_str()), nullptr);
    kill(std::stoi(text.substr(7)), SIGKILL);
    ASSERT_TRUE(p.wait_process(process, 10000, &code));
    EXPECT_NE(code, 0u);
    p.close_process(process);
    LockHandle mine = p.open_lock_file(file("held").c_str());
    EXPECT_NE(mine, nullptr);
    p.close_lock_file(mine);
}

TEST_F(Processes, MessageBoxWritesToStandardError) {
    struct Case {
        uint32_t flags;
        const char* caption;
        const char* text;
        const char* answer;
        std::string expected;
        uint32_t code;
    } cases[] = {
        {kMbOk | kMbIconError, "Stellarix 3D", "Your Stellarix Player is not up to date.\n", "",
         "Stellarix 3D: Your Stellarix Player is not up to date.\n", kIdOk},
        {kMbOk, "C", "two\nlines", "no", "C: two\nlines\n", kIdOk},  // OK boxes only say OK
        {kMbYesNo | kMbIconQuestion, "Q", "Remove?", "", "Q: Remove?\n", kIdYes},
        {kMbYesNo, "Q", "Remove?", "no", "Q: Remove?\n", kIdNo},
        {kMbOkCancel, "Q", "Go on?", "CANCEL", "Q: Go on?\n", kIdCancel},
        {kMbOkCancel, "Q", "Go on?", "ok", "Q: Go on?\n", kIdOk},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(p.set_environment_variable("SX_MESSAGE_BOX_ANSWER", c.answer));
        const std::string line = child_program() + " message-box " + std::to_string(c.flags) + " " +
                                 quote_argument(c.caption) + " " + quote_argument(c.text);
        uint32_t code = 0;
        std::string err;
        ASSERT_TRUE(testing::run_program(line, &code, &err)) << line;
        EXPECT_EQ(err, c.expected) << line;
        EXPECT_EQ(code, c.code) << line;
    }
    p.set_environment_variable("SX_MESSAGE_BOX_ANSWER", nullptr);
}

}  // namespace
}  // namespace sx
