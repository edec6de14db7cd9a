#include "control_panel/settings_pages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "components/settings_store.h"
#include "components/testing/registry_guard.h"
#include "control_panel/cpl_texts.h"
#include "control_panel/resource.h"
#include "platform/testing/faulty_platform.h"
#include "platform/testing/test_support.h"
#include "ui/testing/fake_dialog.h"

namespace sx::cpl {
namespace {

TEST(EyeSeparationScale, FollowsTheLogarithmOf175) {
    const struct {
        double separation;
        int position;
    } cases[] = {{5.0, 311},    {1.0, 0},        {175.0, 1000}, {0.0, 0},      {-3.0, 0},
                 {400.0, 1000}, {4.984078, 310}, {NAN, 0},      {13.2288, 500}};
    for (const auto& c : cases)
        EXPECT_EQ(eye_separation_to_position(c.separation), c.position) << c.separation;
    for (int position : {0, 250, 311, 500, 999, 1000})
        EXPECT_NEAR(position_to_eye_separation(position),
                    std::exp(std::log(175.0) * position / 1e3), 1e-9);
    EXPECT_EQ(position_to_eye_separation(-5), 1.0);
    EXPECT_EQ(position_to_eye_separation(2000), 175.0);
}

class SettingsPageTest : public test::TempDirTest {
protected:
    void SetUp() override {
        test::TempDirTest::SetUp();
        always_install_.remove();
    }
    FilePath store_path() { return FilePath(file(kSettingsFileName)); }
    void store(const char* key, const std::string& value) {
        SettingsFile settings(store_path());
        ASSERT_TRUE(settings.open_settings(true));
        settings.set_setting_value(key, value);
        ASSERT_TRUE(settings.close_settings());
    }
    std::string stored(const char* key) {
        SettingsFile settings(store_path());
        settings.open_settings(false);
        return settings.has_setting(key) ? settings.get_setting_value(key) : "(none)";
    }
    uint32_t always_install_value() {
        RegKey key = 0;
        uint32_t type = 0, value = 99, size = sizeof value;
        if (platform().reg_open_key(kHkeyCurrentUser, kPlayerKey, kKeyRead, &key) == 0) {
            if (platform().reg_query_value(key, kAlwaysInstallValue, &type, &value, &size) != 0 ||
                type != kRegDword)
                value = 99;
            platform().reg_close_key(key);
        }
        return value;
    }

    testing::RegistryValueGuard always_install_{kHkeyCurrentUser, kPlayerKey, kAlwaysInstallValue};
};

TEST_F(SettingsPageTest, StereoLoadsStoredSeparations) {
    const struct {
        const char* stored;  // nullptr: nothing stored
        int position;
    } cases[] = {{nullptr, 311},  {"0", 0},          {"-3", 0},      {"175", 1000},
                 {"200.5", 1000}, {"4.984078", 310}, {"12abc", 481}, {"none", 0}};
    for (const auto& c : cases) {
        if (c.stored) store(kEyeSeparationSetting, c.stored);
        StereoPage page(store_path());
        sx::test::FakeDialog dialog(page, {IDC_STEREO_ENABLE, IDC_EYE_SEPARATION,
                                           IDC_EYE_DEFAULT_LABEL, IDC_STEREO_WARNING});
        ASSERT_TRUE(dialog.open());
        auto& view = dialog.view();
        EXPECT_EQ(view.slider_position(IDC_EYE_SEPARATION), c.position) << c.stored;
        EXPECT_FALSE(view.checked(IDC_STEREO_ENABLE));
        EXPECT_EQ(view.control(IDC_EYE_SEPARATION).ticks, std::vector<int>{311});
        EXPECT_EQ(view.control(IDC_EYE_DEFAULT_LABEL).under_tick, 0);
        EXPECT_EQ(view.text(IDC_STEREO_WARNING).rfind("NOTE:\n\nOpenGL 3D Stereo", 0), 0u);
        EXPECT_TRUE(view.strays.empty());
    }
}

TEST_F(SettingsPageTest, StereoApplyWritesSixDecimals) {
    const struct {
        int position;
        const char* text;
    } cases[] = {{0, "1.000000"}, {1000, "175.000000"}, {311, "4.984078"}, {500, "13.228757"}};
    for (const auto& c : cases) {
        StereoPage page(store_path());
        sx::test::FakeDialog dialog(page);
        ASSERT_TRUE(dialog.open());
        dialog.toggle_check(IDC_STEREO_ENABLE);
        dialog.slide(IDC_EYE_SEPARATION, c.position);
        EXPECT_GE(dialog.view().changed_count(), 2);
        ASSERT_EQ(dialog.apply(), ui::ApplyResult::saved);
        EXPECT_EQ(stored(kEyeSeparationSetting), c.text);
        dialog.close();
    }
    SettingsFile settings(store_path());
    settings.open_settings(false);
    // Each pass toggled the flag the previous one stored: four times.
    EXPECT_FALSE(settings.get_setting_bool(kStereoEnableSetting, true));
    StereoPage reread(store_path());
    sx::test::FakeDialog dialog(reread);
    dialog.open();
    EXPECT_EQ(dialog.view().slider_position(IDC_EYE_SEPARATION), 500);
}

TEST_F(SettingsPageTest, AdvancedClampsTheProcessorUsage) {
    const struct {
        const char* stored;
        int position;
    } cases[] = {{nullptr, 4}, {"9", 6}, {"0", 1}, {"letters", 1}, {"", 4}, {"3", 3}, {"-2", 1}};
    for (const auto& c : cases) {
        if (c.stored) store(kProcessorUsageSetting, c.stored);
        PanelMemory memory;
        AdvancedPage page(store_path(), memory);
        sx::test::FakeDialog dialog(page);
        ASSERT_TRUE(dialog.open());
        EXPECT_EQ(dialog.view().slider_position(IDC_PROCESSOR_USAGE), c.position) << c.stored;
        EXPECT_EQ(dialog.view().control(IDC_USAGE_DEFAULT_LABEL).under_tick, 2);
    }
}

TEST_F(SettingsPageTest, AdvancedOkOnAnUntouchedPageRewritesItsThreeValues) {
    store(kProcessorUsageSetting, "5");
    SettingsFile seed(store_path());
    seed.open_settings(true);
    seed.set_setting_bool(kOverlaySignedSetting, true);
    seed.close_settings();
    ASSERT_TRUE(always_install_.set(std::string("\1\0\0\0", 4), kRegDword));

    PanelMemory memory;
    AdvancedPage page(store_path(), memory);
    sx::test::FakeDialog dialog(page);
    ASSERT_TRUE(dialog.open());
    auto& view = dialog.view();
    ASSERT_EQ(view.list_row_count(IDC_ADVANCED_LIST), 2);
    EXPECT_EQ(view.list_row(IDC_ADVANCED_LIST, 0).text, kSignedStatusRow);
    EXPECT_TRUE(view.list_row(IDC_ADVANCED_LIST, 0).checked);
    EXPECT_TRUE(view.list_row(IDC_ADVANCED_LIST, 1).checked);
    EXPECT_EQ(view.changed_count(), 1);  // the stored mark counts as a change

    // Someone else changes all three while the page is open; OK puts back
    // what the page shows.
    store(kProcessorUsageSetting, "2");
    store(kOverlaySignedSetting, "0");
    ASSERT_TRUE(always_install_.set(std::string("\0\0\0\0", 4), kRegDword));
    ASSERT_EQ(dialog.apply(), ui::ApplyResult::saved);
    EXPECT_EQ(stored(kProcessorUsageSetting), "5");
    SettingsFile check(store_path());
    check.open_settings(false);
    EXPECT_TRUE(check.get_setting_bool(kOverlaySignedSetting, false));
    EXPECT_EQ(always_install_value(), 1u);
}

TEST_F(SettingsPageTest, AdvancedKeepsTheLastFlagWhenTheUserKeyIsClosed) {
    PanelMemory memory;
    memory.always_install = true;  // read at an earlier showing
    FaultyPlatform faulty(&platform());
    faulty.fail_registry_create("HKEY_CURRENT_USER\\" + std::string(kPlayerKey));
    ScopedPlatform scope(&faulty);
    AdvancedPage page(store_path(), memory);
    sx::test::FakeDialog dialog(page);
    ASSERT_TRUE(dialog.open());
    EXPECT_TRUE(dialog.view().list_row(IDC_ADVANCED_LIST, 1).checked);
    dialog.click_row(IDC_ADVANCED_LIST, 1, true);
    EXPECT_EQ(dialog.apply(), ui::ApplyResult::saved);
    EXPECT_EQ(always_install_value(), 99u);  // not written
    EXPECT_EQ(stored(kProcessorUsageSetting), "4");
}

TEST_F(SettingsPageTest, AStoreThatCannotBeWrittenKeepsTheSheetOpen) {
    PanelMemory memory;
    StereoPage stereo(store_path());
    AdvancedPage advanced(store_path(), memory);
    for (ui::Page* page : {static_cast<ui::Page*>(&stereo), static_cast<ui::Page*>(&advanced)}) {
        store(kProcessorUsageSetting, "2");
        sx::test::FakeDialog dialog(*page);
        ASSERT_TRUE(dialog.open());
        FaultyPlatform faulty(&platform());
        faulty.fail_lock(kSettingsFileName);
        ScopedPlatform scope(&faulty);
        EXPECT_EQ(dialog.apply(), ui::ApplyResult::invalid);
        ASSERT_EQ(dialog.view().questions.size(), 1u);
        EXPECT_EQ(dialog.view().questions[0].text, kSettingsSaveFailed);
        EXPECT_EQ(dialog.view().questions[0].icon, ui::Icon::error);
    }
    EXPECT_EQ(stored(kProcessorUsageSetting), "2");
    EXPECT_EQ(stored(kEyeSeparationSetting), "(none)");
}

}  // namespace
}  // namespace sx::cpl
