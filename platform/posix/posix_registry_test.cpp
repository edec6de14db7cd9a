// The emulation's own registry rules; what both builds share is in
// platform_test.
#include <unistd.h>

#include <set>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace sx {
namespace {

// Every test works below its own fresh key of HKCU.
class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = "Software\\SxRegistryTest\\" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_EQ(p.reg_create_key(kHkeyCurrentUser, base_.c_str(), &key_, nullptr), kErrorSuccess);
    }
    void TearDown() override {
        for (const char* name : {"doomed", "SubKey"}) p.reg_delete_key(key_, name);
        p.reg_close_key(key_);
        p.reg_delete_key(kHkeyCurrentUser, base_.c_str());
    }
    Platform& p = platform();
    std::string base_;
    RegKey key_ = 0;
};

TEST_F(Registry, OnlyAsciiFoldsAndDeletedKeysStayDeleted) {
    ASSERT_EQ(p.reg_set_value(key_, "\xc9t\xe9", kRegSz, "a", 1), kErrorSuccess);
    ASSERT_EQ(p.reg_set_value(key_, "\xe9t\xe9", kRegSz, "b", 1), kErrorSuccess);
    char name[32];
    uint32_t name_size = sizeof name;
    EXPECT_EQ(p.reg_enum_value(key_, 1, name, &name_size, nullptr, nullptr, nullptr), kErrorSuccess)
        << "two values";
    RegKey k;
    ASSERT_EQ(p.reg_create_key(key_, "SubKey", &k, nullptr), kErrorSuccess);
    p.reg_close_key(k);
    ASSERT_EQ(p.reg_open_key(kHkeyCurrentUser, (base_ + "\\subkey\\").c_str(), kKeyRead, &k),
              kErrorSuccess);
    p.reg_close_key(k);
    EXPECT_EQ(p.reg_delete_key(kHkeyLocalMachine, ""), kErrorAccessDenied);

    // A handle to a key deleted meanwhile, even if it is made again.
    RegKey doomed, other;
    ASSERT_EQ(p.reg_create_key(key_, "doomed", &doomed, nullptr), kErrorSuccess);
    ASSERT_EQ(p.reg_set_value(doomed, "v", kRegSz, "1", 1), kErrorSuccess);
    ASSERT_EQ(p.reg_delete_key(key_, "doomed"), kErrorSuccess);
    ASSERT_EQ(p.reg_create_key(key_, "doomed", &other, nullptr), kErrorSuccess);
    uint32_t size = 0;
    EXPECT_EQ(p.reg_query_value(doomed, "v", nullptr, nullptr, &size), kErrorKeyDeleted);
    EXPECT_EQ(p.reg_set_value(doomed, "v", kRegSz, "1", 1), kErrorKeyDeleted);
    EXPECT_EQ(p.reg_query_value(other, "v", nullptr, nullptr, &size), kErrorFileNotFound)
        << "the values went with the key";
    EXPECT_EQ(p.reg_close_key(doomed), kErrorSuccess);
    EXPECT_EQ(p.reg_close_key(doomed), kErrorInvalidHandle);
    p.reg_close_key(other);
}

// Two children and this process write into one key at the same time: every
// value must arrive whole.
TEST_F(Registry, ThreeProcessesWriteAtOnce) {
    const std::string child = "\"" + std::string(SX_PLATFORM_CHILD) + "\" reg-write " + base_;
    ProcessHandle children[2];
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(p.start_process((child + " 150 " + "ab"[i]).c_str(), &children[i]));
    const auto data_of = [](const std::string& name) { return name + "=" + std::string(200, 'x'); };
    for (int i = 0; i < 150; ++i) {
        const std::string name = "c_" + std::to_string(i), data = data_of(name);
        ASSERT_EQ(p.reg_set_value(key_, name.c_str(), kRegSz, data.data(), data.size()),
                  kErrorSuccess);
    }
    for (ProcessHandle c : children) {
        uint32_t code = 99;
        EXPECT_TRUE(p.wait_process(c, 60000, &code));
        EXPECT_EQ(code, 0u);
        p.close_process(c);
    }
    std::set<std::string> seen;
    char name[32], data[300];
    for (uint32_t i = 0, name_size = sizeof name, data_size = sizeof data;
         p.reg_enum_value(key_, i, name, &name_size, nullptr, data, &data_size) == kErrorSuccess;
         ++i, name_size = sizeof name, data_size = sizeof data) {
        EXPECT_EQ(std::string(data, data_size), data_of(name));
        seen.insert(name);
    }
    EXPECT_EQ(seen.size(), 450u);
}

}  // namespace
}  // namespace sx
