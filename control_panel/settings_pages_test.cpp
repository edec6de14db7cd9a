#include "control_panel/settings_pages.h"

#include <gtest/gtest.h>

#include "components/settings_store.h"
#include "components/testing/component_env.h"
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
    void write_raw(const std::string& content) {
        ASSERT_TRUE(testing::write_file(path().text(), content));
    }
    std::string raw() {
        std::string content = "(missing)";
        testing::read_file(path().text(), &content);
        return content;
    }
    std::string always_install() {
        const auto value = testing::stored_value(kAlwaysInstallValue, kHkeyCurrentUser);
        return value.found ? std::to_string(value.type) + ":" + value.bytes : "(none)";
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

// OK on pages nobody touched stores exactly what was read: the file and the
// user's value stay byte for byte, whatever their form and range.
TEST_F(SettingsPageTest, NoEditNoChange) {
    const std::string dword5("\5\0\0\0", 4);
    const struct {
        const char* content;  // null: no file
        std::string install;  // AlwaysInstall's bytes; empty: absent
        uint32_t install_type;
        int eye, usage;  // what the sliders show
    } cases[] = {
        {"Stereo/EyeSeparation=5.0\nStereo/Enable=yes\n", "", kRegNone, 311, 4},
        {"# kept\r\nSTEREO%2FEYESEPARATION = 100.0\r\nProcessorUsage=99999999999999999999\r\n",
         dword5, kRegDword, 891, 6},
        {"ProcessorUsage=-99999999999999999999\nOverlaySignedStatus=on\nProcessorUsage=3\n", "1",
         kRegSz, 311, 1},
        {"ProcessorUsage=\nStereo/EyeSeparation=abc\n", "", kRegNone, 0, 4},
        {"", "", kRegNone, 311, 4},
        {nullptr, "", kRegNone, 311, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content ? c.content : "(no file)");
        path().delete_file();
        if (c.content) write_raw(c.content);
        if (c.install.empty())
            ASSERT_TRUE(always_install_.remove());
        else
            ASSERT_TRUE(always_install_.set(c.install, c.install_type));
        const std::string file_before = raw();
        const std::string install_before = always_install();
        StereoPage stereo(path());
        AdvancedPage advanced(path(), memory_);
        sx::testing::FakeDialog stereo_dialog(stereo), advanced_dialog(advanced);
        ASSERT_TRUE(stereo_dialog.open() && advanced_dialog.open());
        EXPECT_EQ(stereo_dialog.view().slider_position(IDC_EYE_SEPARATION), c.eye);
        EXPECT_EQ(advanced_dialog.view().slider_position(IDC_PROCESSOR_USAGE), c.usage);
        EXPECT_EQ(stereo_dialog.apply(), ui::ApplyResult::saved);
        EXPECT_EQ(advanced_dialog.apply(), ui::ApplyResult::saved);
        EXPECT_EQ(raw(), file_before);
        EXPECT_EQ(always_install(), install_before);
    }
    // Moved away and back is no edit either; a real move is written.
    write_raw("ProcessorUsage=99999999999999999999\n");
    AdvancedPage advanced(path(), memory_);
    sx::testing::FakeDialog dialog(advanced);
    ASSERT_TRUE(dialog.open());
    dialog.slide(IDC_PROCESSOR_USAGE, 2);
    dialog.slide(IDC_PROCESSOR_USAGE, 6);
    ASSERT_EQ(dialog.apply(), ui::ApplyResult::saved);
    EXPECT_EQ(raw(), "ProcessorUsage=99999999999999999999\n");
    dialog.slide(IDC_PROCESSOR_USAGE, 3);
    ASSERT_EQ(dialog.apply(), ui::ApplyResult::saved);
    EXPECT_EQ(raw(), "PROCESSORUSAGE=3\n");
}

TEST(SaturatingAtoi, ReadsLikeAtoiButSaturates) {
    const std::pair<const char*, int> cases[] = {
        {"42", 42},
        {"  -7x", -7},
        {"+5", 5},
        {"abc", 0},
        {"", 0},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"99999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-99999999999999999999", INT_MIN},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(saturating_atoi(text), value) << text;
}

// A page that cannot store what the user changed says so, keeps the sheet
// open and writes nothing at all, the user's registry value included; one
// that shows only what it read lets the sheet close.
TEST_F(SettingsPageTest, AFailedSaveWritesNothingAndIsNeverSaved) {
    FaultRule read_only(Call::open_file, kSettingsFileName, "a");
    FaultRule locked(Call::open_lock_file, kSettingsFileName);
    FaultRule no_replace(Call::replace_file, kSettingsFileName);
    const std::pair<const char*, FaultRule> faults[] = {
        {"read-only file", read_only}, {"locked", locked}, {"rewrite fails", no_replace}};
    const std::string content = "ProcessorUsage=2\nStereo/EyeSeparation=5.0\n";
    const std::string dword0("\0\0\0\0", 4);
    for (const auto& [what, fault] : faults) {
        SCOPED_TRACE(what);
        write_raw(content);
        ASSERT_TRUE(always_install_.set(dword0, kRegDword));
        StereoPage stereo(path());
        AdvancedPage advanced(path(), memory_);
        sx::testing::FakeDialog stereo_dialog(stereo), advanced_dialog(advanced);
        ASSERT_TRUE(stereo_dialog.open() && advanced_dialog.open());
        FaultyPlatform faulty(&platform());
        faulty.add_rule(fault);
        ScopedPlatform scope(&faulty);

        // Untouched: nothing of the user's is lost, OK closes the sheet.
        EXPECT_EQ(stereo_dialog.apply(), ui::ApplyResult::saved);
        EXPECT_EQ(advanced_dialog.apply(), ui::ApplyResult::saved);
        EXPECT_TRUE(stereo_dialog.view().questions.empty() &&
                    advanced_dialog.view().questions.empty());

        stereo_dialog.toggle_check(IDC_STEREO_ENABLE);
        advanced_dialog.click_row(IDC_ADVANCED_LIST, 1, true);  // AlwaysInstall on
        advanced_dialog.slide(IDC_PROCESSOR_USAGE, 5);
        EXPECT_EQ(stereo_dialog.apply(), ui::ApplyResult::invalid);
        EXPECT_EQ(advanced_dialog.apply(), ui::ApplyResult::invalid);
        for (auto* view : {&stereo_dialog.view(), &advanced_dialog.view()}) {
            ASSERT_EQ(view->questions.size(), 1u);
            EXPECT_EQ(view->questions[0].text, kSettingsSaveFailed);
        }
        EXPECT_EQ(raw(), content);
        EXPECT_EQ(always_install(), std::to_string(kRegDword) + ":" + dword0);

        // Cancel leaves with nothing stored; the same changes save once the
        // store can be written.
        stereo_dialog.cancel();
        faulty.clear_rules();
        EXPECT_EQ(advanced_dialog.apply(), ui::ApplyResult::saved);
        EXPECT_EQ(stored(kProcessorUsageSetting), "5");
        EXPECT_EQ(always_install(), std::to_string(kRegDword) + ":" + std::string("\1\0\0\0", 4));
        EXPECT_EQ(stored(kStereoEnableSetting), "(none)");
    }
}

}  // namespace
}  // namespace sx::cpl
