// The emulated registry against the rules of advapi32.
#include <unistd.h>

#include <cstring>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/testing/test_support.h"

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
    long set(const char* name, uint32_t type, const std::string& bytes) {
        return p.reg_set_value(key_, name, type, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }

    Platform& p = platform();
    std::string base_;
    RegKey key_ = 0;
};

// The emulation's own rules; what both builds share is in platform_test.
TEST_F(Registry, OnlyAsciiFoldsAndDeletedKeysStayDeleted) {
    ASSERT_EQ(set("\xc9t\xe9", kRegSz, "a"), kErrorSuccess);
    ASSERT_EQ(set("\xe9t\xe9", kRegSz, "b"), kErrorSuccess);
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

TEST_F(Registry, TwoProcessesWriteAtOnce) {
    // Two children and this process write many values into one key at the
    // same time; every value must arrive whole.
    constexpr int kCount = 150;
    const std::string child = "\"" + std::string(SX_PLATFORM_CHILD) + "\"";
    ProcessHandle a, b;
    ASSERT_TRUE(p.start_process((child + " reg-write " + base_ + " 150 a").c_str(), &a));
    ASSERT_TRUE(p.start_process((child + " reg-write " + base_ + " 150 b").c_str(), &b));
    for (int i = 0; i < kCount; ++i) {
        const std::string name = "c_" + std::to_string(i);
        const std::string data = name + "=" + std::string(200, 'x');
        ASSERT_EQ(set(name.c_str(), kRegSz, data), kErrorSuccess);
    }
    uint32_t code_a = 99, code_b = 99;
    ASSERT_TRUE(p.wait_process(a, 60000, &code_a));
    ASSERT_TRUE(p.wait_process(b, 60000, &code_b));
    p.close_process(a);
    p.close_process(b);
    EXPECT_EQ(code_a, 0u);
    EXPECT_EQ(code_b, 0u);

    std::set<std::string> seen;
    char name[32];
    char data[300];
    for (uint32_t i = 0;; ++i) {
        uint32_t name_size = sizeof name, data_size = sizeof data;
        long rc = p.reg_enum_value(key_, i, name, &name_size, nullptr, data, &data_size);
        if (rc == kErrorNoMoreItems) break;
        ASSERT_EQ(rc, kErrorSuccess);
        EXPECT_EQ(std::string(data, data_size), std::string(name) + "=" + std::string(200, 'x'));
        seen.insert(name);
    }
    EXPECT_EQ(seen.size(), 3u * kCount);
}

}  // namespace
}  // namespace sx
