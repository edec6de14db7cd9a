#include "platform/testing/faulty_platform.h"

#include <gtest/gtest.h>

namespace sx {
namespace {

const char kTestKey[] = "Software\\SxFaultyPlatformTest";

class Faulty : public ::testing::Test {
protected:
    void TearDown() override {
        native_platform().reg_delete_key(kHkeyCurrentUser, "Software\\SxFaultyPlatformTest\\Inner");
        native_platform().reg_delete_key(kHkeyCurrentUser, kTestKey);
    }
    FaultyPlatform faulty;
};

TEST_F(Faulty, RegistryRulesMatchTheFullKeyPath) {
    faulty.fail_registry_create("faultyplatformtest\\inner", kErrorAccessDenied);
    faulty.add_rule({Call::reg_set_value, "SxFaultyPlatformTest\\Blocked"}).error = 1234;
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

    faulty.add_rule({Call::reg_open_key, kTestKey}).error = kErrorFileNotFound;
    EXPECT_EQ(faulty.reg_open_key(kHkeyCurrentUser, kTestKey, kKeyRead, &key), kErrorFileNotFound);
    faulty.clear_rules();
    EXPECT_EQ(faulty.reg_open_key(kHkeyCurrentUser, kTestKey, kKeyRead, &key), kErrorSuccess);
    faulty.reg_close_key(key);
}

}  // namespace
}  // namespace sx
