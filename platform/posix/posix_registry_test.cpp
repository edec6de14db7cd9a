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

TEST_F(Registry, ValuesKeepTypeBytesAndCount) {
    const uint32_t dword = 0x01020304;
    struct Case {
        const char* name;
        uint32_t type;
        std::string bytes;
    } cases[] = {
        {"Counted", kRegSz, "no terminating zero"},
        {"Terminated", kRegSz, std::string("with zero\0", 10)},
        {"Expand", kRegExpandSz, std::string("%TEMP%\\x\0", 9)},
        {"Multi", kRegMultiSz, std::string("a\0bc\0\0", 6)},
        {"Dword", kRegDword, std::string(reinterpret_cast<const char*>(&dword), 4)},
        {"Binary", kRegBinary, std::string("\0\xff\x01\x80", 4)},
        {"Empty", kRegSz, ""},
        {"", kRegSz, "the default value"},
        {"Odd", 0x1234, "any type number"},
        {"High bytes \xe9", kRegSz, "caf\xe9"},
    };
    for (const Case& c : cases) ASSERT_EQ(set(c.name, c.type, c.bytes), kErrorSuccess) << c.name;
    for (const Case& c : cases) {
        uint32_t type = 0, size = 0;
        // Data null: size and type only.
        ASSERT_EQ(p.reg_query_value(key_, c.name, &type, nullptr, &size), kErrorSuccess);
        EXPECT_EQ(type, c.type) << c.name;
        EXPECT_EQ(size, c.bytes.size()) << c.name;
        char buffer[64];
        std::memset(buffer, '#', sizeof buffer);
        size = sizeof buffer;
        ASSERT_EQ(p.reg_query_value(key_, c.name, nullptr, buffer, &size), kErrorSuccess);
        EXPECT_EQ(std::string(buffer, size), c.bytes) << c.name;
        EXPECT_EQ(buffer[size], '#') << "nothing written past the value: " << c.name;
    }
    // A null name is the default value.
    uint32_t size = 0;
    EXPECT_EQ(p.reg_query_value(key_, nullptr, nullptr, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(size, std::strlen("the default value"));
}

TEST_F(Registry, NamesIgnoreAsciiCaseAndKeepTheirs) {
    ASSERT_EQ(set("MixedName", kRegSz, "1"), kErrorSuccess);
    ASSERT_EQ(set("MIXEDNAME", kRegDword, "2222"), kErrorSuccess);  // the same value
    uint32_t type = 0, size = 0;
    ASSERT_EQ(p.reg_query_value(key_, "mixedname", &type, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(type, kRegDword);
    char name[32];
    uint32_t name_size = sizeof name;
    ASSERT_EQ(p.reg_enum_value(key_, 0, name, &name_size, nullptr, nullptr, nullptr),
              kErrorSuccess);
    EXPECT_STREQ(name, "MixedName");  // the first spelling stays
    name_size = sizeof name;
    EXPECT_EQ(p.reg_enum_value(key_, 1, name, &name_size, nullptr, nullptr, nullptr),
              kErrorNoMoreItems);
    // Only ASCII folds: these are two values.
    ASSERT_EQ(set("\xc9t\xe9", kRegSz, "a"), kErrorSuccess);
    ASSERT_EQ(set("\xe9t\xe9", kRegSz, "b"), kErrorSuccess);
    name_size = sizeof name;
    EXPECT_EQ(p.reg_enum_value(key_, 2, name, &name_size, nullptr, nullptr, nullptr),
              kErrorSuccess);

    RegKey sub, again;
    bool created = false;
    ASSERT_EQ(p.reg_create_key(key_, "SubKey", &sub, &created), kErrorSuccess);
    EXPECT_TRUE(created);
    p.reg_close_key(sub);
    ASSERT_EQ(p.reg_create_key(key_, "SUBKEY", &again, &created), kErrorSuccess);
    EXPECT_FALSE(created);
    p.reg_close_key(again);
    ASSERT_EQ(p.reg_open_key(kHkeyCurrentUser, (base_ + "\\subkey\\").c_str(), kKeyRead, &sub),
              kErrorSuccess);
    p.reg_close_key(sub);
    name_size = sizeof name;
    ASSERT_EQ(p.reg_enum_key(key_, 0, name, &name_size), kErrorSuccess);
    EXPECT_STREQ(name, "SubKey");
}

TEST_F(Registry, DeleteRules) {
    RegKey k;
    ASSERT_EQ(p.reg_create_key(key_, "parent\\child", &k, nullptr), kErrorSuccess);
    p.reg_close_key(k);
    EXPECT_EQ(p.reg_delete_key(key_, "parent"), kErrorAccessDenied);  // has a subkey
    EXPECT_EQ(p.reg_delete_key(key_, "missing"), kErrorFileNotFound);
    EXPECT_EQ(p.reg_delete_key(key_, "PARENT\\CHILD"), kErrorSuccess);
    EXPECT_EQ(p.reg_delete_key(key_, "parent"), kErrorSuccess);
    EXPECT_EQ(p.reg_open_key(key_, "parent", kKeyRead, &k), kErrorFileNotFound);
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
    const std::string child = "\"" + testing::host_to_windows_path(SX_POSIX_CHILD) + "\"";
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
