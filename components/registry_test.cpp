#include "components/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "components/text_util.h"
#include "platform/testing/faulty_platform.h"

namespace sx {
namespace {

const char kTestKey[] = "Software\\SxRegistryHelpersTest";

bool set_text(const std::string& subkey, const char* name, const std::string& text) {
    RegistryKey key;
    return key.create(kHkeyCurrentUser, subkey.c_str()) == kErrorSuccess &&
           platform().reg_set_value(key.get(), name, kRegBinary, text.data(),
                                    static_cast<uint32_t>(text.size())) == kErrorSuccess;
}

bool key_exists(const std::string& subkey) {
    RegistryKey key;
    return key.open(kHkeyCurrentUser, subkey.c_str(), kKeyRead) == kErrorSuccess;
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override { delete_registry_tree(kHkeyCurrentUser, kTestKey); }
    void TearDown() override { delete_registry_tree(kHkeyCurrentUser, kTestKey); }
};

TEST_F(Registry, KeysCloseThemselvesOnceWhereverTheyEnd) {
    FaultyPlatform counting;
    ScopedPlatform scope(&counting);
    {
        RegistryKey first;
        ASSERT_EQ(first.create(kHkeyCurrentUser, kTestKey), kErrorSuccess);
        RegistryKey second(std::move(first));
        EXPECT_FALSE(first);
        RegistryKey third;
        third = std::move(second);
        EXPECT_EQ(third.open(kHkeyCurrentUser, "Software\\SxNoSuchKeyHere", kKeyRead),
                  kErrorFileNotFound);
        EXPECT_FALSE(third) << "a failed open holds nothing";
        EXPECT_EQ(counting.calls(Call::reg_close_key), 1) << "the earlier key closed first";
        ASSERT_EQ(third.open(kHkeyCurrentUser, kTestKey, kKeyRead), kErrorSuccess);
    }
    EXPECT_EQ(counting.calls(Call::reg_close_key), 2);
}

// Reads the size, then lets the value grow before the data are read, as
// another program writing at that moment would.
class GrowingValue : public FaultyPlatform {
public:
    long reg_query_value(RegKey key, const char* name, uint32_t* type, void* data,
                         uint32_t* size) override {
        const long rc = FaultyPlatform::reg_query_value(key, name, type, data, size);
        if (grow_times > 0) {
            --grow_times;
            value += std::string(5000, 'g');
            EXPECT_TRUE(set_text(kTestKey, "v", value));
        }
        return rc;
    }
    int grow_times = 0;
    std::string value = "start";
};

TEST_F(Registry, ValuesAreReadWholeWhateverTheirSize) {
    // Every byte value, past the sizes callers used to guess.
    std::string big;
    for (int i = 0; i < 70000; ++i) big += static_cast<char>(i * 7 % 256);
    ASSERT_TRUE(set_text(kTestKey, "big", big));
    ASSERT_TRUE(set_text(kTestKey, "empty", ""));
    RegistryKey key;
    ASSERT_EQ(key.open(kHkeyCurrentUser, kTestKey, kKeyRead), kErrorSuccess);
    RegistryValue value;
    ASSERT_EQ(read_registry_value(key.get(), "big", &value), kErrorSuccess);
    EXPECT_EQ(value.type, kRegBinary);
    EXPECT_EQ(std::string(value.data.begin(), value.data.end()), big);
    ASSERT_EQ(read_registry_value(key.get(), "empty", &value), kErrorSuccess);
    EXPECT_TRUE(value.data.empty());
    EXPECT_EQ(read_registry_value(key.get(), "missing", &value), kErrorFileNotFound);

    GrowingValue growing;
    ScopedPlatform scope(&growing);
    growing.grow_times = 2;
    ASSERT_TRUE(set_text(kTestKey, "v", growing.value));
    ASSERT_EQ(read_registry_value(key.get(), "v", &value), kErrorSuccess);
    EXPECT_EQ(value.data.size(), growing.value.size()) << "the value as it stands at the end";
    growing.grow_times = 1000;
    EXPECT_EQ(read_registry_value(key.get(), "v", &value), kErrorMoreData)
        << "a value that never stops growing is given up";
}

TEST_F(Registry, TreeRemovalTakesEveryLevelAndReportsWhatStays) {
    const std::string root = kTestKey;
    for (const char* leaf : {"\\a\\b\\c", "\\a\\d", "\\e"})
        ASSERT_TRUE(set_text(root + leaf, "x", "1"));
    FaultyPlatform faulty;
    faulty.fail_delete_key("\\a\\d", kErrorSharingViolation);
    long error = kErrorSuccess;
    {
        ScopedPlatform scope(&faulty);
        EXPECT_FALSE(delete_registry_tree(kHkeyCurrentUser, root, kKeyRead, &error));
    }
    EXPECT_EQ(error, kErrorSharingViolation) << "the first error, not the parent's refusal";
    EXPECT_TRUE(key_exists(root + "\\a\\d"));
    EXPECT_FALSE(key_exists(root + "\\a\\b")) << "what came before the stuck key is gone";
    EXPECT_TRUE(delete_registry_tree(kHkeyCurrentUser, root, kKeyRead | kKeyDelete, &error));
    EXPECT_EQ(error, kErrorSuccess);
    EXPECT_FALSE(key_exists(root));
    EXPECT_FALSE(delete_registry_tree(kHkeyCurrentUser, root, kKeyRead, &error));
    EXPECT_EQ(error, kErrorFileNotFound);
}

TEST(FormatText, ThreadsFormatAtOnceWithoutSharingABuffer) {
    // Long enough to make every call grow its buffer; with one buffer for the
    // process, the threads would read each other's texts.
    auto work = [](char fill, int* wrong) {
        const std::string expected(3000, fill);
        for (int i = 0; i < 300; ++i)
            if (format_text("%s", expected.c_str()) != expected) ++*wrong;
    };
    int wrong[4] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(work, static_cast<char>('a' + t), &wrong[t]);
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t) EXPECT_EQ(wrong[t], 0) << t;
}

}  // namespace
}  // namespace sx
