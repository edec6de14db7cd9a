// Environment, system facts, libraries and threads.
#include <atomic>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/posix/posix_internal.h"
#include "platform/testing/test_support.h"

namespace sx {
namespace {

void child_program_marker() {}

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

TEST_F(Environment, VariablesIgnoreCase) {
    std::string value;
    ASSERT_TRUE(p.get_environment_variable("sx_t_mixed", &value));
    EXPECT_EQ(value, "mixed");
    ASSERT_TRUE(p.set_environment_variable("SX_T_MIXED", "changed"));
    ASSERT_TRUE(p.get_environment_variable("Sx_T_Mixed", &value));
    EXPECT_EQ(value, "changed");
    ASSERT_TRUE(p.set_environment_variable("sx_t_MIXED", nullptr));
    EXPECT_FALSE(p.get_environment_variable("SX_T_MIXED", &value));
    EXPECT_FALSE(p.set_environment_variable("", "x"));
    EXPECT_FALSE(p.set_environment_variable("A=B", "x"));
}

TEST_F(Environment, TempPath) {
    const char* saved_tmp = getenv("TMP");
    const char* saved_temp = getenv("TEMP");
    const std::string keep_tmp = saved_tmp ? saved_tmp : "",
                      keep_temp = saved_temp ? saved_temp : "";
    unsetenv("TMP");
    unsetenv("TEMP");
    char buffer[64];
    uint32_t n = p.get_temp_path(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, n), "C:\\Windows\\Temp\\");
    EXPECT_EQ(p.get_temp_path(buffer, 5), sizeof "C:\\Windows\\Temp\\");
    EXPECT_EQ(p.get_file_attributes("C:\\Windows\\Temp\\"), kFileAttributeDirectory);
    setenv("TEMP", "D:\\Scratch", 1);
    n = p.get_temp_path(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, n), "D:\\Scratch\\");
    setenv("TMP", "/var/tmp", 1);  // a Linux path gets its Windows name
    n = p.get_temp_path(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, n), "Z:\\var\\tmp\\");
    if (saved_tmp)
        setenv("TMP", keep_tmp.c_str(), 1);
    else
        unsetenv("TMP");
    if (saved_temp)
        setenv("TEMP", keep_temp.c_str(), 1);
    else
        unsetenv("TEMP");
}

TEST(SystemFacts, VersionAndSystemDirectory) {
    Platform& p = platform();
    unsetenv("SX_OS_VERSION");
    OsVersion v = p.os_version();
    EXPECT_EQ(v.major, 5u);
    EXPECT_EQ(v.minor, 0u);
    EXPECT_EQ(v.build, 2195u);
    EXPECT_EQ(v.platform_id, 2u);
    EXPECT_EQ(v.service_pack, "Service Pack 4");
    setenv("SX_OS_VERSION", "4.10.2222.1", 1);
    v = p.os_version();
    EXPECT_EQ(v.major, 4u);
    EXPECT_EQ(v.minor, 10u);
    EXPECT_EQ(v.build, 2222u);
    EXPECT_EQ(v.platform_id, 1u);
    EXPECT_EQ(v.service_pack, "");
    setenv("SX_OS_VERSION", "4.0.1381.2:Service Pack 6", 1);
    EXPECT_EQ(p.os_version().service_pack, "Service Pack 6");
    unsetenv("SX_OS_VERSION");

    char buffer[64];
    EXPECT_EQ(p.get_system_directory(buffer, sizeof buffer), 19u);
    EXPECT_STREQ(buffer, "C:\\Windows\\System32");
    EXPECT_EQ(p.get_system_directory(buffer, 19), 20u);
    EXPECT_EQ(p.get_file_attributes(buffer), kFileAttributeDirectory);
}

TEST(SystemFacts, ProgramAndModulePaths) {
    Platform& p = platform();
    const std::string program = p.program_path();
    EXPECT_EQ(program.substr(0, 3), "Z:\\");
    EXPECT_NE(program.find("platform_posix_test"), std::string::npos);
    EXPECT_EQ(p.module_path(reinterpret_cast<const void*>(&child_program_marker)), program);
    // A library, loaded under its Windows name.
    const std::string module = test::host_to_windows_path(SX_POSIX_TEST_MODULE);
    const std::string dir = module.substr(0, module.rfind('\\') + 1);
    for (const std::string& name :
         {module, dir + "sx_posix_test_module.dll", dir + "SX_POSIX_TEST_MODULE.DLL"}) {
        ModuleHandle m = p.load_library(name.c_str());
        ASSERT_NE(m, nullptr) << name;
        auto answer = reinterpret_cast<int (*)()>(p.find_symbol(m, "sx_test_module_answer"));
        ASSERT_NE(answer, nullptr);
        EXPECT_EQ(answer(), 42);
        EXPECT_EQ(p.find_symbol(m, "no_such_symbol"), nullptr);
        EXPECT_EQ(p.module_path(reinterpret_cast<const void*>(answer)), module);
        p.free_library(m);
    }
    EXPECT_EQ(p.load_library((dir + "missing.dll").c_str()), nullptr);
}

TEST(SystemFacts, ThreadsAndTime) {
    Platform& p = platform();
    static std::atomic<int> state{0};
    auto proc = [](void* arg) -> uint32_t {
        while (state.load() == 0) platform().sleep_ms(1);
        *static_cast<int*>(arg) = 7;
        return 0;
    };
    int result = 0;
    ThreadHandle t = p.start_thread(proc, &result);
    ASSERT_NE(t, nullptr);
    EXPECT_FALSE(p.wait_thread(t, 30));
    state = 1;
    EXPECT_TRUE(p.wait_thread(t, kWaitInfinite));
    EXPECT_EQ(result, 7);
    p.close_thread(t);

    const uint32_t start = p.tick_count();
    p.sleep_ms(60);
    const uint32_t elapsed = p.tick_count() - start;
    EXPECT_GE(elapsed, 60u);
    EXPECT_LT(elapsed, 5000u);
}

}  // namespace
}  // namespace sx
