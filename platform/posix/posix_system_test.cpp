// Environment expansion, system facts and message boxes.
#include <string>

#include <gtest/gtest.h>

#include "platform/posix/posix_internal.h"
#include "platform/testing/test_support.h"

namespace sx {
namespace {

TEST(Environment, ExpandTable) {
    Platform& p = platform();
    ASSERT_TRUE(p.set_environment_variable("Sx_T_Name", "value"));
    ASSERT_TRUE(p.set_environment_variable("SX_T_EMPTY", ""));
    const std::pair<const char*, std::string> cases[] = {
        {"a%sx_t_name%b", "avalueb"},          // names ignore case
        {"%SX_T_UNKNOWN%", "%SX_T_UNKNOWN%"},  // unknown references stay
        {"%SX_T_UNKNOWN%SX_T_NAME%", "%SX_T_UNKNOWN%SX_T_NAME%"},
        {"%SX_T_EMPTY%|", "|"},
        {"100%", "100%"},
        {"%SX_T_NAME", "%SX_T_NAME"},  // unfinished
        {"%SX_T_NAME%%SX_T_NAME%", "valuevalue"},
        // A fresh Windows' variables when the Linux environment lacks them.
        {"%SystemRoot%\\System32", "C:\\Windows\\System32"},
        {"%WINDIR%", "C:\\Windows"},
    };
    for (const auto& [in, out] : cases) {
        SCOPED_TRACE(in);
        const uint32_t needed = p.expand_environment_strings(in, nullptr, 0);
        EXPECT_EQ(needed, out.size() + 1);
        std::string buffer(needed + 1, '#');
        EXPECT_EQ(p.expand_environment_strings(in, buffer.data(), needed), needed);
        EXPECT_EQ(buffer, out + '\0' + '#');
        // One byte short: the size is reported, nothing is written.
        std::string small(needed, '#');
        EXPECT_EQ(p.expand_environment_strings(in, small.data(), needed - 1), needed);
        EXPECT_EQ(small, std::string(needed, '#'));
    }
    for (const char* name : {"SX_T_NAME", "SX_T_EMPTY"}) p.set_environment_variable(name, nullptr);
}

TEST(SystemFacts, SystemDirectory) {
    Platform& p = platform();
    char buffer[64];
    EXPECT_EQ(p.get_system_directory(buffer, sizeof buffer), 19u);
    EXPECT_STREQ(buffer, "C:\\Windows\\System32");
    EXPECT_EQ(p.get_system_directory(buffer, 19), 20u);
    EXPECT_EQ(p.get_file_attributes(buffer), kFileAttributeDirectory);
}

// A child's box: caption and text on stderr; SX_MESSAGE_BOX_ANSWER gives its exit code.
TEST(MessageBoxes, WriteToStandardError) {
    Platform& p = platform();
    const struct {
        uint32_t flags;
        const char* text;
        const char* answer;
        std::string expected;
        uint32_t code;
    } cases[] = {
        {kMbOk | kMbIconError, "two\nlines\n", "no", "C: two\nlines\n", kIdOk},  // OK only
        {kMbYesNo | kMbIconQuestion, "Remove?", "", "C: Remove?\n", kIdYes},
        {kMbYesNo, "Remove?", "no", "C: Remove?\n", kIdNo},
        {kMbOkCancel, "Go on?", "CANCEL", "C: Go on?\n", kIdCancel},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(p.set_environment_variable("SX_MESSAGE_BOX_ANSWER", c.answer));
        const std::string line = std::string(SX_PLATFORM_CHILD) + " message-box " +
                                 std::to_string(c.flags) + " C " + quote_argument(c.text);
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
