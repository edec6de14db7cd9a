// Helpers of the panel's tests. The player's key is wiped around each test:
// under Wine every test shares one registry.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/registry.h"
#include "control_panel/cpl_texts.h"
#include "platform/platform.h"
#include "platform/testing/faulty_platform.h"

namespace sx::testing {
using namespace sx::cpl;

struct StoredValue {
    bool found = false;
    uint32_t type = 0;
    std::string bytes;  // exactly the stored bytes
};

inline StoredValue stored_value(const char* name, RegKey root = kHkeyLocalMachine) {
    RegistryKey key;
    RegistryValue value;
    if (key.open(root, kPlayerKey, kKeyRead) != kErrorSuccess ||
        read_registry_value(key.get(), name, &value) != kErrorSuccess)
        return {};
    return {true, value.type, std::string(value.data.begin(), value.data.end())};
}

inline void store_value(const char* name, uint32_t type, const std::string& bytes) {
    RegistryKey key;
    ASSERT_EQ(key.create(kHkeyLocalMachine, kPlayerKey), kErrorSuccess);
    EXPECT_EQ(platform().reg_set_value(key.get(), name, type, bytes.data(), uint32_t(bytes.size())),
              kErrorSuccess);
}

inline void wipe_player_key() {
    RegistryKey key;
    if (key.open(kHkeyLocalMachine, kPlayerKey, kKeyAllAccess) != kErrorSuccess) return;
    for (const char* name :
         {kRasterizersValue, kLastRasterizerValue, kLastVideoCardValue, kVideoCardOpenGlValue,
          kVideoCardDirect3DValue, kLauncherPathValue, kTestAppletValue})
        platform().reg_delete_value(key.get(), name);
}

class PlayerKeyTest : public ::testing::Test {
protected:
    void SetUp() override { wipe_player_key(); }
    void TearDown() override { wipe_player_key(); }
};

// The system directory is the test's own folder; a stream opened for
// writing `broken_file` is created, then refuses every byte.
class PanelTestPlatform : public FaultyPlatform {
public:
    explicit PanelTestPlatform(std::string system_directory)
        : FaultyPlatform(&platform()), system_directory_(std::move(system_directory)) {}

    std::string broken_file;

    uint32_t get_system_directory(char* buffer, uint32_t size) override {
        if (system_directory_.size() >= size) return uint32_t(system_directory_.size() + 1);
        system_directory_.copy(buffer, size);
        buffer[system_directory_.size()] = '\0';
        return uint32_t(system_directory_.size());
    }
    std::FILE* open_file(const char* path, const char* mode) override {
        if (broken_file.empty() || broken_file != path ||
            std::string(mode).find('w') == std::string::npos)
            return FaultyPlatform::open_file(path, mode);
        if (std::FILE* created = FaultyPlatform::open_file(path, mode)) std::fclose(created);
        return FaultyPlatform::open_file(path, "rb");
    }

private:
    std::string system_directory_;
};

}  // namespace sx::testing
