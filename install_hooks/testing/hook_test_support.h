// Registry helpers for the tests of the install hooks: exact reads of counted
// values, and clean-up of everything the hooks write.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/registry.h"
#include "platform/platform.h"

namespace sx::testing {

struct ExpectedValue {
    RegKey root;
    std::string key;
    const char* name;  // null: the default value
    std::string data;
};

// The value's bytes exactly as stored (no zero added), prefixed by its type
// unless REG_SZ; "(missing)" when there is no such value.
inline std::string value_of(RegKey root, const std::string& subkey, const char* name) {
    RegistryKey key;
    RegistryValue value;
    if (key.open(root, subkey.c_str(), kKeyQueryValue) != kErrorSuccess ||
        read_registry_value(key.get(), name, &value) != kErrorSuccess)
        return "(missing)";
    const std::string bytes(value.data.begin(), value.data.end());
    return value.type == kRegSz ? bytes : "type " + std::to_string(value.type) + ": " + bytes;
}

inline bool write_value(RegKey root, const std::string& subkey, const char* name,
                        const std::string& data) {
    RegistryKey key;
    return key.create(root, subkey.c_str()) == kErrorSuccess &&
           platform().reg_set_value(key.get(), name, kRegSz, data.data(),
                                    static_cast<uint32_t>(data.size())) == kErrorSuccess;
}

inline bool key_exists(RegKey root, const std::string& subkey) {
    return RegistryKey().open(root, subkey.c_str(), kKeyRead) == kErrorSuccess;
}

inline size_t value_names(RegKey root, const std::string& subkey) {
    RegistryKey key;
    if (key.open(root, subkey.c_str(), kKeyRead) != kErrorSuccess) return 0;
    for (uint32_t count = 0;; ++count) {
        char name[512];
        uint32_t size = sizeof name;
        if (platform().reg_enum_value(key.get(), count, name, &size, nullptr, nullptr, nullptr) !=
            kErrorSuccess)
            return count;
    }
}

// Each value is REG_SZ and holds exactly the text's bytes.
inline void expect_values(const std::vector<ExpectedValue>& expected) {
    for (const ExpectedValue& e : expected)
        EXPECT_EQ(value_of(e.root, e.key, e.name), e.data)
            << e.key << " : " << (e.name ? e.name : "(default)");
}

// The association as the shell must find it for a launcher at `launcher`.
inline std::vector<ExpectedValue> association_for(const std::string& launcher) {
    return {
        {kHkeyClassesRoot, ".sxvm", nullptr, "StellarixBytecode"},
        {kHkeyClassesRoot, ".sxvm", "Content Type", "application/x-Stellarix-3D-Applet"},
        {kHkeyClassesRoot, "StellarixBytecode", nullptr, "Stellarix Bytecode File"},
        {kHkeyClassesRoot, "StellarixBytecode\\DefaultIcon", nullptr, launcher + ",1"},
        {kHkeyClassesRoot, "StellarixBytecode\\shell\\open\\command", nullptr,
         "\"" + launcher + "\" \"%1\""},
        {kHkeyLocalMachine, "SOFTWARE\\Stellarix\\Stellarix3D", "SkiffPath", launcher},
    };
}

inline constexpr char kTestUninstallKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Stellarix 3D Player";
inline constexpr char kTestOlderUninstallKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Stellarix3D Player";

// The Add/Remove Programs entry, all seven values.
inline std::vector<ExpectedValue> uninstall_entry_for(const std::string& uninstaller,
                                                      const std::string& location) {
    const char* key = kTestUninstallKey;
    return {
        {kHkeyLocalMachine, key, "DisplayName", "Stellarix 3D Player Version 2.2.1"},
        {kHkeyLocalMachine, key, "DisplayVersion", "Version 2.2.1"},
        {kHkeyLocalMachine, key, "Publisher", "Stellarix Software"},
        {kHkeyLocalMachine, key, "UninstallString", uninstaller},
        {kHkeyLocalMachine, key, "InstallLocation", location},
        {kHkeyLocalMachine, key, "HelpLink", "https://www.stellarix.example/support/"},
        {kHkeyLocalMachine, key, "URLInfoAbout", "https://www.stellarix.example/"},
    };
}

inline void clear_hook_registry() {
    delete_registry_tree(kHkeyClassesRoot, ".sxvm");
    delete_registry_tree(kHkeyClassesRoot, "StellarixBytecode");
    delete_registry_tree(kHkeyLocalMachine, kTestOlderUninstallKey);
    delete_registry_tree(kHkeyLocalMachine, kTestUninstallKey);
    RegistryKey key;
    if (key.open(kHkeyLocalMachine, "SOFTWARE\\Stellarix\\Stellarix3D", kKeyAllAccess) ==
        kErrorSuccess)
        platform().reg_delete_value(key.get(), "SkiffPath");
}

}  // namespace sx::testing
