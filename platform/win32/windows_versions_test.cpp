// The branches on the platform id: one program started once per Windows that
// Wine reports, SX_WINDOWS_VERSION naming it.
#include <cstdlib>
#include <string>

#include "components/file_path.h"
#include "components/registry.h"
#include "components/settings_store.h"
#include "control_panel/config_report.h"
#include "platform/platform.h"
#include "platform/testing/faulty_platform.h"
#include "platform/testing/test_support.h"
#include "uninstaller/removal.h"

namespace sx {
namespace {

using sx::testing::TempDirTest;

// What each system reports, and what the player then writes.
struct SystemCase {
    const char* setting;  // Wine's name for it
    uint32_t platform_id;
    uint32_t major;
    uint32_t minor;
    const char* report_line;  // before any service pack
    const char* delete_shell;
};

constexpr SystemCase kSystems[] = {
    {"win98", 1, 4, 10, "Windows 95/98, Version 4.10", "command.com /c del "},
    {"nt40", 2, 4, 0, "Windows NT/2000, Version 4.0", "cmd.exe /c del "},
    {"win2k", 2, 5, 0, "Windows NT/2000, Version 5.0", "cmd.exe /c del "},
};

const SystemCase* system_under_test() {
    const char* setting = std::getenv("SX_WINDOWS_VERSION");
    if (!setting) return nullptr;
    for (const SystemCase& system : kSystems)
        if (std::string(setting) == system.setting) return &system;
    return nullptr;
}

class WindowsVersion : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        system_ = system_under_test();
        ASSERT_NE(system_, nullptr) << "SX_WINDOWS_VERSION must name win98, nt40 or win2k";
    }
    const SystemCase* system_ = nullptr;
};

TEST_F(WindowsVersion, SystemReportsItsVersionAndRunOnceDeletesWithItsShell) {
    const OsVersion version = platform().os_version();
    EXPECT_EQ(version.platform_id, system_->platform_id);
    EXPECT_EQ(version.major, system_->major);
    EXPECT_EQ(version.minor, system_->minor);
    const std::string copy = file("stxuninst0000ABCD.exe");
    EXPECT_EQ(delete_command(copy, version.platform_id),
              system_->delete_shell + ("\"" + copy + "\""));
}

// The service pack comes from the registry on NT only: set, so the prefix's does not matter.
TEST_F(WindowsVersion, ReportsFirstLineNamesTheSystem) {
    const char* key_name = "System\\CurrentControlSet\\Control\\Windows";
    RegistryKey key;
    ASSERT_EQ(key.create(kHkeyLocalMachine, key_name), kErrorSuccess);
    uint32_t saved = 0, type = 0, size = sizeof saved;
    const bool had =
        platform().reg_query_value(key.get(), "CSDVersion", &type, &saved, &size) == kErrorSuccess;
    const uint32_t stored = 0x0006;
    ASSERT_EQ(platform().reg_set_value(key.get(), "CSDVersion", kRegDword, &stored, sizeof stored),
              kErrorSuccess);
    std::string report;
    cpl::build_config_report(platform().os_version(), &report);
    if (had) platform().reg_set_value(key.get(), "CSDVersion", type, &saved, size);
    if (!had) platform().reg_delete_value(key.get(), "CSDVersion");
    const std::string expected =
        std::string(system_->report_line) + (system_->platform_id == 2 ? " SP6" : "") + "\r\n";
    EXPECT_EQ(report.substr(0, report.find('\n') + 1), expected);
}

// Windows 95/98's MoveFileExA is a "not implemented" stub; Wine's always works,
// so the stub's answer is injected over the real file calls.
TEST_F(WindowsVersion, SettingsRewriteKeepsTheValuesWithAndWithoutOneStepReplace) {
    for (const bool replace_missing : {false, true}) {
        SCOPED_TRACE(replace_missing ? "without one-step replace" : "with one-step replace");
        const std::string name = replace_missing ? "stub.dat" : "real.dat";
        const std::string path = file(name);
        ASSERT_TRUE(sx::testing::write_file(path, "Kept=1\n"));
        FaultyPlatform faulty;
        if (replace_missing) {
            FaultRule rule(Call::replace_file, name);
            rule.error = kErrorCallNotImplemented;
            faulty.add_rule(rule);
        }
        {
            ScopedPlatform scope(&faulty);
            SettingsFile settings{FilePath(path)};
            ASSERT_TRUE(settings.open_settings(true));
            ASSERT_TRUE(settings.set_setting_value("Stereo", std::string(300, 's')));
            EXPECT_TRUE(settings.close_settings());
        }
        EXPECT_EQ(faulty.injected(Call::replace_file), replace_missing ? 1 : 0);
        SettingsFile reread{FilePath(path)};
        ASSERT_TRUE(reread.open_settings(false));
        EXPECT_EQ(reread.get_setting_value("Kept"), "1");
        EXPECT_EQ(reread.get_setting_value("Stereo"), std::string(300, 's'));
        for (const char* suffix : {".new", ".old", ".lock"})
            EXPECT_FALSE(FilePath(path + suffix).exists()) << suffix;
    }
}

}  // namespace
}  // namespace sx
