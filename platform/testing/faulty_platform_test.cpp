#include "platform/testing/faulty_platform.h"

#include <gtest/gtest.h>

#include "platform/testing/test_support.h"

namespace sx {
namespace {

const char kTestKey[] = "Software\\SxFaultyPlatformTest";

class Faulty : public testing::TempDirTest {
protected:
    void TearDown() override {
        native_platform().reg_delete_key(kHkeyCurrentUser, "Software\\SxFaultyPlatformTest\\Inner");
        native_platform().reg_delete_key(kHkeyCurrentUser, kTestKey);
    }
    FaultyPlatform faulty;
};

TEST_F(Faulty, RegistryRulesMatchTheFullKeyPath) {
    faulty.fail_registry_create("faultyplatformtest\\inner", kErrorAccessDenied);
    faulty.fail_set_value("SxFaultyPlatformTest\\Blocked", 1234);
    RegKey key, inner;
    ASSERT_EQ(faulty.reg_create_key(kHkeyCurrentUser, kTestKey, &key, nullptr), kErrorSuccess);
    // Relative to a handle, the path is still known in full.
    EXPECT_EQ(faulty.reg_create_key(key, "Inner", &inner, nullptr), kErrorAccessDenied);
    EXPECT_EQ(faulty.reg_create_key(kHkeyCurrentUser, "Software\\SxFaultyPlatformTest\\INNER",
                                    &inner, nullptr),
              kErrorAccessDenied);
    EXPECT_EQ(faulty.reg_set_value(key, "Blocked", kRegSz, "x", 1), 1234);
    EXPECT_EQ(faulty.reg_set_value(key, "Free", kRegSz, "x", 1), kErrorSuccess);
    uint32_t size = 0;
    EXPECT_EQ(native_platform().reg_query_value(key, "Blocked", nullptr, nullptr, &size),
              kErrorFileNotFound)
        << "a failed call never reaches the real registry";
    EXPECT_EQ(faulty.calls(Call::reg_create_key), 3);
    EXPECT_EQ(faulty.injected(Call::reg_create_key), 2);
    EXPECT_EQ(faulty.calls(Call::reg_set_value), 2);
    EXPECT_EQ(faulty.injected(Call::reg_set_value), 1);
    faulty.reg_close_key(key);

    faulty.fail_registry_open(kTestKey, kErrorFileNotFound);
    EXPECT_EQ(faulty.reg_open_key(kHkeyCurrentUser, kTestKey, kKeyRead, &key), kErrorFileNotFound);
    faulty.clear_rules();
    EXPECT_EQ(faulty.reg_open_key(kHkeyCurrentUser, kTestKey, kKeyRead, &key), kErrorSuccess);
    faulty.reg_close_key(key);
}

TEST_F(Faulty, DiskFullStream) {
    if (!FaultyPlatform::supports_disk_full()) GTEST_SKIP() << "no disk-full streams here";
    faulty.fail_after_writes("full.bin", 10);
    std::FILE* f = faulty.open_file(file("full.bin").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::string data(100, 'z');
    const size_t written = std::fwrite(data.data(), 1, data.size(), f);
    const bool flushed = faulty.flush_file(f);
    const bool error = std::ferror(f) != 0;
    const int closed = std::fclose(f);
    // The loss is reported somewhere: by the write, the flush or the close.
    EXPECT_TRUE(written < data.size() || !flushed || error || closed != 0);
    EXPECT_FALSE(flushed);
    std::string content;
    ASSERT_TRUE(testing::read_file(file("full.bin"), &content));
    EXPECT_EQ(content, std::string(10, 'z'));

    // Within the limit, all is well and the data arrives.
    faulty.clear_rules();
    faulty.fail_after_writes("roomy.bin", 1000);
    f = faulty.open_file(file("roomy.bin").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::fwrite(data.data(), 1, data.size(), f), data.size());
    EXPECT_TRUE(faulty.flush_file(f));
    EXPECT_EQ(std::fclose(f), 0);
    ASSERT_TRUE(testing::read_file(file("roomy.bin"), &content));
    EXPECT_EQ(content, data);
}

}  // namespace
}  // namespace sx
