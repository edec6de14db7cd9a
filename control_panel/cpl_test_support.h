// Registry helpers of the panel's tests. The player's key is wiped around
// each test: under Wine every test shares one registry.
#pragma once

#include <gtest/gtest.h>

#include <string>

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
    StoredValue value;
    RegKey key = 0;
    if (platform().reg_open_key(kHkeyLocalMachine, kPlayerKey, kKeyRead, &key) != kErrorSuccess)
        return value;
    char buffer[2048];
    uint32_t size = sizeof buffer;
    value.found = platform().reg_query_value(key, name, &value.type, buffer, &size) == 0;
    if (value.found) value.bytes.assign(buffer, size);
    platform().reg_close_key(key);
    return value;
}

inline void store_value(const char* name, uint32_t type, const std::string& bytes) {
    RegKey key = 0;
    ASSERT_EQ(platform().reg_create_key(kHkeyLocalMachine, kPlayerKey, &key, nullptr), 0);
    EXPECT_EQ(platform().reg_set_value(key, name, type, bytes.data(), uint32_t(bytes.size())), 0);
    platform().reg_close_key(key);
}

inline void wipe_player_key() {
    RegKey key = 0;
    if (platform().reg_open_key(kHkeyLocalMachine, kPlayerKey, kKeyAllAccess, &key) != 0) return;
    for (const char* name :
         {kRasterizersValue, kLastRasterizerValue, kLastVideoCardValue, kVideoCardOpenGlValue,
          kVideoCardDirect3DValue, kLauncherPathValue, kTestAppletValue})
        platform().reg_delete_value(key, name);
    platform().reg_close_key(key);
}

class PlayerKeyTest : public ::testing::Test {
protected:
    void SetUp() override { wipe_player_key(); }
    void TearDown() override { wipe_player_key(); }
};

}  // namespace sx::testing
