// Registry helpers of the panel's tests. The player's key is wiped around
// each test: under Wine every test shares one registry.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "components/registry.h"
#include "control_panel/cpl_texts.h"
#include "platform/platform.h"

namespace sx::testing {
using namespace sx::cpl;

struct StoredValue {
    bool found = false;
    uint32_t type = 0;
    std::string bytes;  // exactly the stored bytes
};

inline StoredValue stored_value(const char* name) {
    RegistryKey key;
    RegistryValue value;
    if (key.open(kHkeyLocalMachine, kPlayerKey, kKeyRead) != kErrorSuccess ||
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

}  // namespace sx::testing
