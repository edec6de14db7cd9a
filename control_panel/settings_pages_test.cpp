#include "control_panel/settings_pages.h"

#include <gtest/gtest.h>

#include "components/settings_store.h"
#include "components/testing/registry_guard.h"
#include "control_panel/cpl_test_support.h"
#include "control_panel/resource.h"
#include "platform/testing/faulty_platform.h"
#include "platform/testing/test_support.h"
#include "ui/testing/fake_dialog.h"

namespace sx::cpl {
namespace {

class SettingsPageTest : public testing::TempDirTest {
protected:
    void SetUp() override {
        testing::TempDirTest::SetUp();
        always_install_.remove();
    }
    FilePath path() { return FilePath(file(kSettingsFileName)); }
    void store(const char* key, const std::string& value) {
        SettingsFile settings(path());
        ASSERT_TRUE(settings.open_settings(true));
        settings.set_setting_value(key, value);
        ASSERT_TRUE(settings.close_settings());
    }
    std::string stored(const char* key) {
        SettingsFile settings(path());
        settings.open_settings(false);
        return settings.has_setting(key) ? settings.get_setting_value(key) : "(none)";
    }

    PanelMemory memory_;
    testing::RegistryValueGuard always_install_{kHkeyCurrentUser, kPlayerKey, kAlwaysInstallValue};
};

TEST_F(SettingsPageTest, StereoSliderIsLogarithmicAndTruncates) {
    const std::pair<const char*, int> loads[] = {
        {nullptr, 311}, {"-3", 0}, {"200.5", 1000}, {"12abc", 481}, {"4.984078", 310}};
    for (const auto& [text, position] : loads) {
        if (text) store(kEyeSeparationSetting, text);
        StereoPage page(path());
        sx::testing::FakeDialog dialog(page, {IDC_STEREO_ENABLE, IDC_EYE_SEPARATION,
                                              IDC_EYE_DEFAULT_LABEL, IDC_STEREO_WARNING});
        ASSERT_TRUE(dialog.open());
        auto& view = dialog.view();
        EXPECT_EQ(view.slider_position(IDC_EYE_SEPARATION), position) << text;
        EXPECT_EQ(view.control(IDC_EYE_SEPARATION).ticks, std::vector<int>{311});
        EXPECT_EQ(view.control(IDC_EYE_DEFAULT_LABEL).under_tick, 0);
        EXPECT_TRUE(view.strays.empty());
    }
    const std::pair<int, const char*> saves[] = {
        {1000, "175.000000"}, {311, "4.984078"}, {500, "13.228757"}};
    for (const auto& [position, text] : saves) {
        StereoPage page(path());
        sx::testing::FakeDialog dialog(page);
        ASSERT_TRUE(dialog.open());
        dialog.toggle_check(IDC_STEREO_ENABLE);  // each pass flips what the last one stored
        dialog.slide(IDC_EYE_SEPARATION, position);
        EXPECT_EQ(dialog.view().changed_count(), 3);
        ASSERT_EQ(dialog.apply(), ui::ApplyResult::saved);
        EXPECT_EQ(stored(kEyeSeparationSetting), text);
    }
    EXPECT_EQ(stored(kStereoEnableSetting), "TRUE");  // flipped three times
}

TEST_F(SettingsPageTest, AdvancedOkOnAnUntouchedPageRewritesItsThreeValues) {
    store(kProcessorUsageSetting, "5");
    store(kOverlaySignedSetting, "TRUE");
    ASSERT_TRUE(always_install_.set(std::string("\1\0\0\0", 4), kRegDword));
    AdvancedPage page(path(), memory_);
    sx::testing::FakeDialog dialog(page);
    ASSERT_TRUE(dialog.open());
    auto& view = dialog.view();
    ASSERT_EQ(view.list_row_count(IDC_ADVANCED_LIST), 2);
    EXPECT_TRUE(view.list_row(IDC_ADVANCED_LIST, 0).checked &&
                view.list_row(IDC_ADVANCED_LIST, 1).checked);
    EXPECT_EQ(view.changed_count(), 1);  // the stored mark counts as a change

    // All three are changed behind the page's back; OK puts back what it shows.
    store(kProcessorUsageSetting, "2");
    store(kOverlaySignedSetting, "FALSE");
    ASSERT_TRUE(always_install_.set(std::string("\0\0\0\0", 4), kRegDword));
    ASSERT_EQ(dialog.apply(), ui::ApplyResult::saved);
    EXPECT_EQ(stored(kProcessorUsageSetting), "5");
    EXPECT_EQ(stored(kOverlaySignedSetting), "TRUE");
    EXPECT_EQ(testing::stored_value(kAlwaysInstallValue, kHkeyCurrentUser).bytes,
              std::string("\1\0\0\0", 4));
}

TEST_F(SettingsPageTest, AStoreThatCannotBeWrittenKeepsTheSheetOpen) {
    StereoPage stereo(path());
    AdvancedPage advanced(path(), memory_);
    for (ui::Page* page : {static_cast<ui::Page*>(&stereo), static_cast<ui::Page*>(&advanced)}) {
        store(kProcessorUsageSetting, "2");
        sx::testing::FakeDialog dialog(*page);
        ASSERT_TRUE(dialog.open());
        FaultyPlatform faulty(&platform());
        faulty.fail_lock(kSettingsFileName);
        ScopedPlatform scope(&faulty);
        EXPECT_EQ(dialog.apply(), ui::ApplyResult::invalid);
        ASSERT_EQ(dialog.view().questions.size(), 1u);
        EXPECT_EQ(dialog.view().questions[0].text, kSettingsSaveFailed);
    }
    EXPECT_EQ(stored(kProcessorUsageSetting), "2");
    EXPECT_EQ(stored(kEyeSeparationSetting), "(none)");
}

}  // namespace
}  // namespace sx::cpl
