#include "components/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "components/text_util.h"
#include "platform/testing/faulty_platform.h"

namespace sx {
namespace {

const std::string kTestKey = "Software\\SxRegistryHelpersTest";

bool set_value(const std::string& subkey, const char* name, const std::string& bytes,
               uint32_t type = kRegBinary) {
    RegistryKey key;
    return key.create(kHkeyCurrentUser, subkey.c_str()) == kErrorSuccess &&
           platform().reg_set_value(key.get(), name, type, bytes.data(),
                                    static_cast<uint32_t>(bytes.size())) == kErrorSuccess;
}

bool key_exists(const std::string& subkey) {
    return RegistryKey().open(kHkeyCurrentUser, subkey.c_str(), kKeyRead) == kErrorSuccess;
}

// Counts the calls, and makes a value grow on each read while `grows` lasts,
// as another program writing at that moment would.
class GrowingValue : public FaultyPlatform {
public:
    long reg_query_value(RegKey key, const char* name, uint32_t* type, void* data,
                         uint32_t* size) override {
        const long rc = FaultyPlatform::reg_query_value(key, name, type, data, size);
        if (grows > 0) {
            --grows;
            EXPECT_TRUE(set_value(kTestKey, "v", value += "grown"));
        }
        return rc;
    }
    int grows = 0;
    std::string value;
};

class Registry : public ::testing::Test {
protected:
    void SetUp() override { delete_registry_tree(kHkeyCurrentUser, kTestKey); }
    void TearDown() override { delete_registry_tree(kHkeyCurrentUser, kTestKey); }
    GrowingValue os;
};

TEST_F(Registry, KeysCloseOnceAndValuesAreReadWhole) {
    std::string big;
    for (int i = 0; i < 70000; ++i) big += static_cast<char>(i * 7 % 256);
    ASSERT_TRUE(set_value(kTestKey, "big", big));
    ScopedPlatform scope(&os);
    RegistryValue value;
    int closes = 0;
    {
        RegistryKey first;
        ASSERT_EQ(first.open(kHkeyCurrentUser, kTestKey.c_str(), kKeyRead), kErrorSuccess);
        RegistryKey key(std::move(first));
        ASSERT_EQ(read_registry_value(key.get(), "big", &value), kErrorSuccess);
        EXPECT_EQ(std::string(value.data.begin(), value.data.end()), big);
        EXPECT_EQ(read_registry_value(key.get(), "missing", &value), kErrorFileNotFound);

        os.value = "start";
        ASSERT_TRUE(set_value(kTestKey, "v", os.value));
        os.grows = 3;
        ASSERT_EQ(read_registry_value(key.get(), "v", &value), kErrorSuccess);
        EXPECT_EQ(std::string(value.data.begin(), value.data.end()), os.value);
        os.grows = 1000;
        EXPECT_EQ(read_registry_value(key.get(), "v", &value), kErrorMoreData)
            << "a value that never stops growing is given up";
        closes = os.calls(Call::reg_close_key);
    }
    EXPECT_EQ(os.calls(Call::reg_close_key), closes + 1) << "the moved key closes once";
}

TEST_F(Registry, TreeRemovalTakesEveryLevelAndReportsWhatStays) {
    for (const char* leaf : {"\\a\\b\\c", "\\a\\d", "\\e"})
        ASSERT_TRUE(set_value(kTestKey + leaf, "x", "1"));
    os.fail_delete_key("\\a\\d", kErrorSharingViolation);
    long error = kErrorSuccess;
    {
        ScopedPlatform scope(&os);
        EXPECT_FALSE(delete_registry_tree(kHkeyCurrentUser, kTestKey, kKeyRead, &error));
    }
    EXPECT_EQ(error, kErrorSharingViolation) << "the first error, not the parent's refusal";
    EXPECT_TRUE(key_exists(kTestKey + "\\a\\d"));
    EXPECT_FALSE(key_exists(kTestKey + "\\a\\b"));
    EXPECT_TRUE(delete_registry_tree(kHkeyCurrentUser, kTestKey, kKeyRead | kKeyDelete, &error));
    EXPECT_FALSE(key_exists(kTestKey));
    EXPECT_FALSE(delete_registry_tree(kHkeyCurrentUser, kTestKey, kKeyRead, &error));
    EXPECT_EQ(error, kErrorFileNotFound);
}

TEST_F(Registry, StringsReadAnyTypeUpToTheFirstZero) {
    const uint32_t dword = 0x00434241;  // "ABC" in little-endian bytes
    // Name, type, the bytes stored (no zero added), the text read.
    const std::tuple<const char*, uint32_t, std::string, std::string> cases[] = {
        {"Counted", kRegSz, "counted", "counted"},
        {"Multi", kRegMultiSz, std::string("one\0two\0", 9), "one"},
        {"Dword", kRegDword, std::string(reinterpret_cast<const char*>(&dword), 4), "ABC"},
        {"", kRegSz, std::string("default\0", 8), "default"},
    };
    for (const auto& [name, type, data, expected] : cases) {
        ASSERT_TRUE(set_value(kTestKey, *name ? name : nullptr, data, type));
        std::string text;
        EXPECT_TRUE(read_registry_string(kHkeyCurrentUser, kTestKey.c_str(), name, &text)) << name;
        EXPECT_EQ(text, expected) << name;
    }
    std::string text;
    EXPECT_FALSE(read_registry_string(kHkeyCurrentUser, kTestKey.c_str(), "Missing", &text));

    // Only REG_SZ, and only what a buffer of the given size holds.
    RegistryKey key;
    ASSERT_EQ(key.open(kHkeyCurrentUser, kTestKey.c_str(), kKeyRead), kErrorSuccess);
    const std::tuple<const char*, size_t, bool, std::string> strings[] = {
        {"Counted", 7, true, "counted"}, {"Counted", 6, false, ""}, {"", 8, true, "default"},
        {"Multi", 100, false, ""},       {"Dword", 100, false, ""}, {"Missing", 100, false, ""},
    };
    for (const auto& [name, limit, found, expected] : strings) {
        std::string read = "unchanged";
        EXPECT_EQ(read_string_value(key.get(), *name ? name : nullptr, &read, limit), found)
            << name << " " << limit;
        EXPECT_EQ(read, found ? expected : "unchanged") << name;
    }
}

}  // namespace
}  // namespace sx
