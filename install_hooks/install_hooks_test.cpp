#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/file_path.h"
#include "include/install_hook.h"
#include "install_hooks/hook_registration.h"
#include "install_hooks/hook_texts.h"
#include "install_hooks/testing/hook_test_support.h"
#include "platform/platform.h"
#include "platform/testing/faulty_platform.h"
#include "platform/testing/test_support.h"

extern "C" void sx_c_installer_call(component_install_initialize_function entry,
                                    const char* library, const char* key,
                                    const char* relative_path);

namespace sx::hooks {
namespace {

using namespace sx::testing;

class InstallHooks : public ::testing::Test {
protected:
    void SetUp() override { clear_hook_registry(); }
    void TearDown() override { clear_hook_registry(); }
};

// An older entry that cannot be removed whole does not stop the new one.
TEST_F(InstallHooks, OlderEntryThatStaysLeavesTheNewOneWritten) {
    const std::string older = kOlderUninstallKey;
    for (const char* sub : {"\\a\\b\\leaf", "\\c"})
        ASSERT_TRUE(write_value(kHkeyLocalMachine, older + sub, "v", "x"));
    FaultyPlatform faulty;
    faulty.fail_delete_key("leaf");
    {
        ScopedPlatform scope(&faulty);
        EXPECT_TRUE(register_uninstall_entry(FilePath("C:\\A\\B\\u.exe")));
    }
    EXPECT_TRUE(key_exists(kHkeyLocalMachine, older + "\\a\\b\\leaf"));
    expect_values({uninstall_entry_for("C:\\A\\B\\u.exe", "C:\\A")[4]});
}

TEST_F(InstallHooks, UninstallKeyThatCannotBeCreatedWritesNothing) {
    FaultyPlatform faulty;
    faulty.fail_registry_create("Stellarix 3D Player");
    {
        ScopedPlatform scope(&faulty);
        EXPECT_FALSE(register_uninstall_entry(FilePath("C:\\A\\B\\u.exe")));
    }
    EXPECT_FALSE(key_exists(kHkeyLocalMachine, kUninstallKey));
}

// The libraries themselves, loaded the way an installer loads them.
class HookLibrary {
public:
    explicit HookLibrary(const char* file)
        : module_(platform().load_library(host_to_windows_path(file).c_str())) {}
    ~HookLibrary() {
        if (module_) platform().free_library(module_);
    }
    component_install_initialize_function entry() const {
        return module_ ? reinterpret_cast<component_install_initialize_function>(
                             platform().find_symbol(module_, SX_INSTALL_HOOK_ENTRY_NAME))
                       : nullptr;
    }

private:
    ModuleHandle module_;
};

TEST_F(InstallHooks, SkiffhookLibraryUsesItsOwnKeyOnly) {
    HookLibrary library(SX_SKIFFHOOK_FILE);
    const auto entry = library.entry();
    ASSERT_NE(entry, nullptr);

    const char* other_names[] = {"run", "Skiff", "uninstaller"};
    const char* other_values[] = {"a.exe", "b.exe", "c.exe"};
    entry("C:\\Apps\\Player\\skiffhook.dll", 3, other_names, other_values);
    entry("C:\\Apps\\Player\\skiffhook.dll", 0, nullptr, nullptr);
    EXPECT_FALSE(key_exists(kHkeyClassesRoot, ".sxvm"));
    EXPECT_EQ(value_of(kHkeyLocalMachine, "SOFTWARE\\Stellarix\\Stellarix3D", "SkiffPath"),
              "(missing)");

    const char* names[] = {"run", "skiff", "skiff"};
    const char* values[] = {"x.exe", "bin\\Stellarix3D.exe", "second.exe"};
    entry("C:\\Apps\\Player\\skiffhook.dll", 3, names, values);
    expect_values(association_for("C:\\Apps\\Player\\bin\\Stellarix3D.exe"));
    EXPECT_EQ(value_names(kHkeyClassesRoot, ".sxvm"), 2u);
    // A second call rewrites the same values.
    entry("C:\\Apps\\Player\\skiffhook.dll", 3, names, values);
    expect_values(association_for("C:\\Apps\\Player\\bin\\Stellarix3D.exe"));

    // The same through an installer written in C.
    sx_c_installer_call(entry, "D:\\Other\\skiffhook.dll", "skiff", "Stellarix3D.exe");
    expect_values(association_for("D:\\Other\\Stellarix3D.exe"));
}

TEST_F(InstallHooks, PurgehookLibraryWritesTheEntryBesideTheLibrary) {
    HookLibrary library(SX_PURGEHOOK_FILE);
    const auto entry = library.entry();
    ASSERT_NE(entry, nullptr);

    // An older entry with values and nested subkeys.
    for (const char* sub : {"", "\\x", "\\x\\y", "\\x\\y\\z", "\\w"})
        ASSERT_TRUE(
            write_value(kHkeyLocalMachine, std::string(kOlderUninstallKey) + sub, "v", "1"));
    const char* wrong[] = {"skiff"};
    entry("C:\\Apps\\Player\\Uninstall\\purgehook.dll", 1, wrong, wrong);
    // Not its key: the older entry is not even touched.
    EXPECT_TRUE(key_exists(kHkeyLocalMachine, std::string(kOlderUninstallKey) + "\\x\\y"));
    EXPECT_FALSE(key_exists(kHkeyLocalMachine, kUninstallKey));

    const char* names[] = {"uninstaller"};
    const char* values[] = {"uninstaller.exe"};
    entry("C:\\Apps\\Player\\Uninstall\\purgehook.dll", 1, names, values);
    EXPECT_FALSE(key_exists(kHkeyLocalMachine, kOlderUninstallKey));
    expect_values(
        uninstall_entry_for("C:\\Apps\\Player\\Uninstall\\uninstaller.exe", "C:\\Apps\\Player"));
    EXPECT_EQ(value_names(kHkeyLocalMachine, kUninstallKey), 7u);
}

}  // namespace
}  // namespace sx::hooks
