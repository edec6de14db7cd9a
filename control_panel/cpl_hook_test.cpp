#include "control_panel/cpl_hook.h"

#include <gtest/gtest.h>

#include "components/file_path.h"
#include "components/testing/registry_guard.h"
#include "control_panel/cpl_test_platform.h"
#include "control_panel/cpl_test_support.h"
#include "platform/testing/test_support.h"

namespace sx::cpl {
namespace {

class InstallHookTest : public sx::cpl::test::PlayerKeyTest {
protected:
    void SetUp() override {
        sx::cpl::test::PlayerKeyTest::SetUp();
        ASSERT_TRUE(temp_.ok());
        ASSERT_TRUE(FilePath(temp_.file("sys")).create_directory());
        ASSERT_TRUE(FilePath(temp_.file("x")).create_directory());
        // Three blocks of the copy and a bit.
        library_.assign(3 * 32768 + 123, '\0');
        for (size_t i = 0; i < library_.size(); ++i) library_[i] = char(i * 7 + i / 251);
        ASSERT_TRUE(sx::test::write_file(library(), library_));
        ASSERT_TRUE(removal_.set("cmd /c del stellarix.cpl"));
    }
    std::string library() { return temp_.file("x\\stellarix.cpl"); }
    std::string copy() { return temp_.file("sys\\stellarix.cpl"); }
    bool removal_scheduled() {
        RegKey key = 0;
        if (platform().reg_open_key(kHkeyLocalMachine, kRunOnceKey, kKeyRead, &key) != 0)
            return false;
        uint32_t type = 0, size = 0;
        const bool found = platform().reg_query_value(key, kPanelRemovalValue, &type, nullptr,
                                                      &size) == kErrorSuccess;
        platform().reg_close_key(key);
        return found;
    }

    sx::test::TemporaryDirectory temp_;
    std::string library_;
    testing::RegistryValueGuard removal_{kHkeyLocalMachine, kRunOnceKey, kPanelRemovalValue};
};

TEST_F(InstallHookTest, RecordsTheFirstFishAndCopiesThePanel) {
    const struct {
        std::vector<const char*> names, values;
        const char* applet;  // relative to the library's folder; nullptr: not recorded
    } cases[] = {
        {{"fish"}, {"sub\\test.sxvm"}, "sub\\test.sxvm"},
        {{}, {}, nullptr},
        {{"FISH", "Fish"}, {"a.sxvm", "b.sxvm"}, nullptr},
        {{"other", "fish", "fish"}, {"x.sxvm", "first.sxvm", "second.sxvm"}, "first.sxvm"},
    };
    for (const auto& c : cases) {
        sx::cpl::test::wipe_player_key();
        ASSERT_TRUE(removal_.set("cmd /c del stellarix.cpl"));
        FilePath(copy()).delete_file();
        test::PanelTestPlatform os(temp_.file("sys"));
        {
            ScopedPlatform scope(&os);
            install_control_panel(library().c_str(), int(c.names.size()), c.names.data(),
                                  c.values.data());
        }
        const auto recorded = sx::cpl::test::stored_value(kTestAppletValue);
        if (c.applet) {
            EXPECT_EQ(recorded.type, kRegSz);
            EXPECT_EQ(recorded.bytes, temp_.file(std::string("x\\") + c.applet));  // no zero
        } else {
            EXPECT_FALSE(recorded.found) << recorded.bytes;
        }
        std::string copied;
        ASSERT_TRUE(sx::test::read_file(copy(), &copied));
        EXPECT_TRUE(copied == library_);
        EXPECT_FALSE(removal_scheduled());
    }
}

TEST_F(InstallHookTest, CopyFailingHalfWayLeavesNoCopyAndKeepsTheRemoval) {
    test::PanelTestPlatform os(temp_.file("sys"));
    // Where streams can be made to fill up, after one and a half blocks;
    // elsewhere the destination is created and then refuses its first block.
    if (FaultyPlatform::supports_disk_full())
        os.fail_after_writes(copy(), 32768 + 16384);
    else
        os.broken_file = copy();
    const char* names[] = {"fish"};
    const char* values[] = {"t.sxvm"};
    {
        ScopedPlatform scope(&os);
        install_control_panel(library().c_str(), 1, names, values);
    }
    EXPECT_FALSE(FilePath(copy()).exists());
    EXPECT_TRUE(removal_scheduled());
    EXPECT_EQ(sx::cpl::test::stored_value(kTestAppletValue).bytes, temp_.file("x\\t.sxvm"));
}

TEST_F(InstallHookTest, ALibraryInstalledInTheSystemDirectoryIsLeftWhole) {
    ASSERT_TRUE(sx::test::write_file(copy(), library_));
    test::PanelTestPlatform os(temp_.file("SYS"));
    {
        ScopedPlatform scope(&os);
        install_control_panel(copy().c_str(), 0, nullptr, nullptr);
    }
    std::string kept;
    ASSERT_TRUE(sx::test::read_file(copy(), &kept));
    EXPECT_TRUE(kept == library_);
    EXPECT_FALSE(removal_scheduled());
}

}  // namespace
}  // namespace sx::cpl
