// A kill from outside and message boxes, with a real child.
#include <signal.h>

#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/testing/test_support.h"

namespace sx {
namespace {

std::string child_program() { return SX_PLATFORM_CHILD; }

class Processes : public testing::TempDirTest {
protected:
    void SetUp() override {
        testing::TempDirTest::SetUp();
        output_ = file("out.txt");
        ASSERT_TRUE(p.set_environment_variable("SX_CHILD_OUTPUT", output_.c_str()));
    }
    void TearDown() override { p.set_environment_variable("SX_CHILD_OUTPUT", nullptr); }

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

// What both builds share is in platform_test; here the POSIX side of a kill.
TEST_F(Processes, WaitTimesOutAndAKillFromOutsideFreesTheLock) {
    const std::string holder = child_program() + " hold-lock \"" + file("held") + "\"";
    ProcessHandle process;
    ASSERT_TRUE(p.start_process(holder.c_str(), &process));
    std::string text;
    ASSERT_TRUE(wait_output(&text));
    EXPECT_EQ(p.open_lock_file(file("held").c_str()), nullptr);
    uint32_t code = 0;
    const uint32_t before = p.tick_count();
    EXPECT_FALSE(p.wait_process(process, 150, &code));
    EXPECT_GE(p.tick_count() - before, 150u);
    kill(std::stoi(text.substr(7)), SIGKILL);
    ASSERT_TRUE(p.wait_process(process, 10000, &code));
    EXPECT_NE(code, 0u);
    EXPECT_FALSE(p.terminate_process(process, 1));  // already ended
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
