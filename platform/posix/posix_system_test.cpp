// Environment expansion and system facts.
#include <atomic>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/posix/posix_internal.h"
#include "platform/testing/test_support.h"

namespace sx {
namespace {

// Sets variables for one test and removes them afterwards.
class Environment : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(p.set_environment_variable("SX_T_NAME", "value"));
        ASSERT_TRUE(p.set_environment_variable("Sx_T_Mixed", "mixed"));
        ASSERT_TRUE(p.set_environment_variable("SX_T_EMPTY", ""));
    }
    void TearDown() override {
        for (const char* n : {"SX_T_NAME", "SX_T_MIXED", "SX_T_EMPTY", "SX_T_NEW"})
            p.set_environment_variable(n, nullptr);
    }
    Platform& p = platform();
};

TEST_F(Environment, ExpandTable) {
    struct Case {
        const char* in;
        std::string out;
    } cases[] = {
        {"plain", "plain"},
        {"%SX_T_NAME%", "value"},
        {"a%sx_t_name%b", "avalueb"},  // names ignore case
        {"%SX_T_MIXED%\\x", "mixed\\x"},
        {"%SX_T_UNKNOWN%", "%SX_T_UNKNOWN%"},  // unknown references stay
        {"%SX_T_UNKNOWN%SX_T_NAME%", "%SX_T_UNKNOWN%SX_T_NAME%"},
        {"%SX_T_EMPTY%|", "|"},
        {"100%", "100%"},
        {"%%", "%%"},
        {"%SX_T_NAME", "%SX_T_NAME"},  // unfinished
        {"%SX_T_NAME%%SX_T_NAME%", "valuevalue"},
        {"", ""},
        // A fresh Windows' variables when the Linux environment lacks them.
        {"%SystemRoot%\\System32", "C:\\Windows\\System32"},
        {"%WINDIR%", "C:\\Windows"},
    };
    for (const Case& c : cases) {
        const uint32_t needed = p.expand_environment_strings(c.in, nullptr, 0);
        EXPECT_EQ(needed, c.out.size() + 1) << c.in;
        std::string buffer(needed + 4, '#');
        EXPECT_EQ(p.expand_environment_strings(c.in, buffer.data(), needed), needed);
        EXPECT_EQ(std::string(buffer.c_str()), c.out) << c.in;
        EXPECT_EQ(buffer[needed], '#');
        // One byte short: the size is reported, nothing is written.
        std::string small(needed, '#');
        EXPECT_EQ(p.expand_environment_strings(c.in, small.data(), needed - 1), needed);
        EXPECT_EQ(small, std::string(needed, '#'));
    }
}

TEST(SystemFacts, VersionAndSystemDirectory) {
    Platform& p = platform();
    const struct {
        const char* setting;  // SX_OS_VERSION; null: unset
        const char* expected;
    } cases[] = {
        {nullptr, "5.0.2195.2 Service Pack 4"},
        {"4.10.2222.1", "4.10.2222.1 "},
        {"4.0.1381.2:Service Pack 6", "4.0.1381.2 Service Pack 6"},
    };
    for (const auto& c : cases) {
        c.setting ? setenv("SX_OS_VERSION", c.setting, 1) : unsetenv("SX_OS_VERSION");
        const OsVersion v = p.os_version();
        EXPECT_EQ(std::to_string(v.major) + "." + std::to_string(v.minor) + "." +
                      std::to_string(v.build) + "." + std::to_string(v.platform_id) + " " +
                      v.service_pack,
                  c.expected);
    }
    unsetenv("SX_OS_VERSION");

    char buffer[64];
    EXPECT_EQ(p.get_system_directory(buffer, sizeof buffer), 19u);
    EXPECT_STREQ(buffer, "C:\\Windows\\System32");
    EXPECT_EQ(p.get_system_directory(buffer, 19), 20u);
    EXPECT_EQ(p.get_file_attributes(buffer), kFileAttributeDirectory);
}

}  // namespace
}  // namespace sx
