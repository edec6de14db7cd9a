#include "control_panel/cpl_hook.h"

#include <gtest/gtest.h>

#include "components/file_path.h"
#include "components/testing/registry_guard.h"
#include "components/text_util.h"
#include "control_panel/cpl_test_support.h"
#include "platform/testing/test_support.h"

namespace sx::cpl {
namespace {

class InstallHookTest : public testing::PlayerKeyTest {
protected:
    void SetUp() override {
        testing::PlayerKeyTest::SetUp();
        ASSERT_TRUE(FilePath(temp_.file("sys")).create_directory());
        ASSERT_TRUE(FilePath(temp_.file("x")).create_directory());
        for (size_t i = 0; i < 3 * 32768 + 123; ++i)  // three blocks of the copy and a bit
            library_ += char(i * 7 + i / 251);
        ASSERT_TRUE(sx::testing::write_file(temp_.file("x\\stellarix.cpl"), library_));
    }
    // Runs the hook on `from` with the system directory `system`; true when
    // the earlier removal is still scheduled afterwards.
    bool install(testing::PanelTestPlatform& os, const std::string& from,
                 std::vector<const char*> names = {}, std::vector<const char*> values = {}) {
        EXPECT_TRUE(removal_.set("cmd /c del stellarix.cpl"));
        {
            ScopedPlatform scope(&os);
            install_control_panel(from.c_str(), int(names.size()), names.data(), values.data());
        }
        std::string command;
        return read_registry_string(kHkeyLocalMachine, kRunOnceKey, kPanelRemovalValue, &command);
    }
    bool copied() {  // the copy in "sys" is the library, whole
        std::string bytes;
        return sx::testing::read_file(copy_, &bytes) && bytes == library_;
    }

    sx::testing::TemporaryDirectory temp_;
    std::string library_, copy_ = temp_.file("sys\\stellarix.cpl");
    testing::RegistryValueGuard removal_{kHkeyLocalMachine, kRunOnceKey, kPanelRemovalValue};
};

TEST_F(InstallHookTest, RecordsTheFirstFishAndCopiesThePanel) {
    const struct {
        std::vector<const char*> names, values;
        const char* applet;  // relative to the library's folder; nullptr: not recorded
    } cases[] = {
        {{"fish"}, {"sub\\test.sxvm"}, "sub\\test.sxvm"},
        {{"FISH", "Fish"}, {"a.sxvm", "b.sxvm"}, nullptr},
        {{"other", "fish", "fish"}, {"x.sxvm", "first.sxvm", "second.sxvm"}, "first.sxvm"},
    };
    for (const auto& c : cases) {
        testing::wipe_player_key();
        FilePath(copy_).delete_file();
        testing::PanelTestPlatform os(temp_.file("sys"));
        EXPECT_FALSE(install(os, temp_.file("x\\stellarix.cpl"), c.names, c.values));
        const auto recorded = testing::stored_value(kTestAppletValue);
        EXPECT_EQ(recorded.bytes, c.applet ? temp_.file(std::string("x\\") + c.applet) : "");
        EXPECT_EQ(recorded.type, c.applet ? kRegSz : 0u);
        EXPECT_TRUE(copied());
    }
}

TEST_F(InstallHookTest, FailedCopyLeavesNothingAndACopyOntoItselfNothingLost) {
    testing::PanelTestPlatform os(temp_.file("sys"));
    // Where streams can be made to fill up, after one and a half blocks;
    // elsewhere the destination is created and then refuses its first block.
    if (FaultyPlatform::supports_disk_full())
        os.fail_after_writes(copy_, 32768 + 16384);
    else
        os.broken_file = copy_;
    EXPECT_TRUE(install(os, temp_.file("x\\stellarix.cpl")));
    EXPECT_FALSE(FilePath(copy_).exists());
    // A system folder that is missing takes no copy, nor does its parent.
    testing::PanelTestPlatform missing(temp_.file("gone"));
    EXPECT_TRUE(install(missing, temp_.file("x\\stellarix.cpl")));
    EXPECT_FALSE(FilePath(temp_.file("stellarix.cpl")).exists());
    // Installed into the system directory itself (named in other letters).
    ASSERT_TRUE(sx::testing::write_file(copy_, library_));
    testing::PanelTestPlatform same(temp_.file("SYS"));
    EXPECT_FALSE(install(same, copy_));
    EXPECT_TRUE(copied());
}

}  // namespace
}  // namespace sx::cpl
