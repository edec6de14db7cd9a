#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/file_path.h"
#include "components/registry.h"
#include "include/install_hook.h"
#include "install_hooks/hook_registration.h"
#include "install_hooks/hook_texts.h"
#include "platform/platform.h"
#include "platform/testing/faulty_platform.h"
#include "platform/testing/test_support.h"

extern "C" void sx_c_installer_call(component_install_initialize_function entry,
                                    const char* library, const char* key,
                                    const char* relative_path);

namespace sx::hooks {
namespace {

constexpr char kLauncherKey[] = "SOFTWARE\\Stellarix\\Stellarix3D";

struct ExpectedValue {
    RegKey root;
    std::string key;
    const char* name;  // null: the default value
    std::string data;
};

// The value's bytes exactly as stored (no zero added), prefixed by its type
// unless REG_SZ; "(missing)" when there is no such value.
std::string value_of(RegKey root, const std::string& subkey, const char* name) {
    RegistryKey key;
    RegistryValue value;
    if (key.open(root, subkey.c_str(), kKeyQueryValue) != kErrorSuccess ||
        read_registry_value(key.get(), name, &value) != kErrorSuccess)
        return "(missing)";
    const std::string bytes(value.data.begin(), value.data.end());
    return value.type == kRegSz ? bytes : "type " + std::to_string(value.type) + ": " + bytes;
}

void expect_values(const std::vector<ExpectedValue>& expected) {
    for (const ExpectedValue& e : expected)
        EXPECT_EQ(value_of(e.root, e.key, e.name), e.data)
            << e.key << " : " << (e.name ? e.name : "");
}

bool write_value(const std::string& subkey) {
    RegistryKey key;
    return key.create(kHkeyLocalMachine, subkey.c_str()) == kErrorSuccess &&
           platform().reg_set_value(key.get(), "v", kRegSz, "x", 1) == kErrorSuccess;
}

bool key_exists(RegKey root, const std::string& subkey) {
    return RegistryKey().open(root, subkey.c_str(), kKeyRead) == kErrorSuccess;
}

// The association as the shell must find it for a launcher at `launcher`.
std::vector<ExpectedValue> association_for(const std::string& launcher) {
    return {
        {kHkeyClassesRoot, ".sxvm", nullptr, "StellarixBytecode"},
        {kHkeyClassesRoot, ".sxvm", "Content Type", "application/x-Stellarix-3D-Applet"},
        {kHkeyClassesRoot, "StellarixBytecode", nullptr, "Stellarix Bytecode File"},
        {kHkeyClassesRoot, "StellarixBytecode\\DefaultIcon", nullptr, launcher + ",1"},
        {kHkeyClassesRoot, "StellarixBytecode\\shell\\open\\command", nullptr,
         "\"" + launcher + "\" \"%1\""},
        {kHkeyLocalMachine, kLauncherKey, "SkiffPath", launcher},
    };
}

// The Add/Remove Programs entry, all seven values.
std::vector<ExpectedValue> uninstall_entry_for(const std::string& uninstaller,
                                               const std::string& location) {
    const char* key =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Stellarix 3D Player";
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

class InstallHooks : public ::testing::Test {
protected:
    void SetUp() override { clear(); }
    void TearDown() override { clear(); }
    static void clear() {
        for (const char* key : {".sxvm", "StellarixBytecode"})
            delete_registry_tree(kHkeyClassesRoot, key);
        for (const char* key : {kOlderUninstallKey, kUninstallKey})
            delete_registry_tree(kHkeyLocalMachine, key);
        RegistryKey key;
        if (key.open(kHkeyLocalMachine, kLauncherKey, kKeyAllAccess) == kErrorSuccess)
            platform().reg_delete_value(key.get(), "SkiffPath");
    }
};

// An older entry that cannot be removed whole does not stop the new one; a
// new entry whose key cannot be made writes nothing.
TEST_F(InstallHooks, UninstallEntryWhenKeysResist) {
    const std::string older = kOlderUninstallKey;
    for (const char* sub : {"\\a\\b\\leaf", "\\c"}) ASSERT_TRUE(write_value(older + sub));
    FaultyPlatform faulty;
    faulty.fail_delete_key("leaf");
    {
        ScopedPlatform scope(&faulty);
        EXPECT_TRUE(register_uninstall_entry(FilePath("C:\\A\\B\\u.exe")));
    }
    EXPECT_TRUE(key_exists(kHkeyLocalMachine, older + "\\a\\b\\leaf"));
    expect_values(uninstall_entry_for("C:\\A\\B\\u.exe", "C:\\A"));
    clear();

    faulty.fail_registry_create("Stellarix 3D Player");
    {
        ScopedPlatform scope(&faulty);
        EXPECT_FALSE(register_uninstall_entry(FilePath("C:\\A\\B\\u.exe")));
    }
    EXPECT_FALSE(key_exists(kHkeyLocalMachine, kUninstallKey));
}

// The entry point, loaded as an installer loads it (and left loaded).
component_install_initialize_function load_entry(const char* file) {
    ModuleHandle module = platform().load_library(testing::host_to_windows_path(file).c_str());
    return module ? reinterpret_cast<component_install_initialize_function>(
                        platform().find_symbol(module, SX_INSTALL_HOOK_ENTRY_NAME))
                  : nullptr;
}

TEST_F(InstallHooks, SkiffhookLibraryUsesItsOwnKeyOnly) {
    const auto entry = load_entry(SX_SKIFFHOOK_FILE);
    ASSERT_NE(entry, nullptr);
    const char* names[] = {"run", "uninstaller", "skiff"};
    const char* values[] = {"x.exe", "u.exe", "bin\\Stellarix3D.exe"};
    entry("C:\\Apps\\Player\\skiffhook.dll", 2, names, values);
    EXPECT_FALSE(key_exists(kHkeyClassesRoot, ".sxvm"));
    EXPECT_EQ(value_of(kHkeyLocalMachine, kLauncherKey, "SkiffPath"), "(missing)");
    entry("C:\\Apps\\Player\\skiffhook.dll", 3, names, values);
    expect_values(association_for("C:\\Apps\\Player\\bin\\Stellarix3D.exe"));
    // Again, through an installer written in C: the values are rewritten.
    sx_c_installer_call(entry, "D:\\Other\\skiffhook.dll", "skiff", "Stellarix3D.exe");
    expect_values(association_for("D:\\Other\\Stellarix3D.exe"));
}

TEST_F(InstallHooks, PurgehookLibraryWritesTheEntryBesideTheLibrary) {
    const auto entry = load_entry(SX_PURGEHOOK_FILE);
    ASSERT_NE(entry, nullptr);
    // An older entry with values and nested subkeys goes.
    for (const char* sub : {"", "\\x\\y", "\\w"})
        ASSERT_TRUE(write_value(std::string(kOlderUninstallKey) + sub));
    const char* names[] = {"uninstaller"};
    const char* values[] = {"uninstaller.exe"};
    entry("C:\\Apps\\Player\\Uninstall\\purgehook.dll", 1, names, values);
    EXPECT_FALSE(key_exists(kHkeyLocalMachine, kOlderUninstallKey));
    expect_values(
        uninstall_entry_for("C:\\Apps\\Player\\Uninstall\\uninstaller.exe", "C:\\Apps\\Player"));
}

}  // namespace
}  // namespace sx::hooks
