#include "control_panel/settings_pages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "components/data_directories.h"
#include "components/settings_store.h"
#include "control_panel/cpl_texts.h"
#include "control_panel/resource.h"
#include "platform/platform.h"

namespace sx::cpl {
namespace {

constexpr double kEyeSeparationMax = 175.0;
constexpr int kEyeTickFrequency = 50;
// The automatic ticks of the usage slider are the values between its ends:
// 2, 3, 4, 5; the default 4 is the third.
constexpr int kDefaultUsageTick = kDefaultUsage - kUsageMin - 1;

double clamp_unit(double ratio) {
    if (!(ratio >= 0.0)) return 0.0;  // below zero, or not a number
    return ratio > 1.0 ? 1.0 : ratio;
}

// A store that cannot be written (a folder the user may not change, another
// writer holding it) is reported, and the sheet stays open with the values.
ui::ApplyResult refuse_unsaved(ui::DialogView& view) {
    view.ask(kSettingsSaveFailed, kErrorCaption, ui::Buttons::ok, ui::Icon::error);
    return ui::ApplyResult::invalid;
}

std::string format_double(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

}  // namespace

int eye_separation_to_position(double separation) {
    const double ratio = std::log(separation) / std::log(kEyeSeparationMax);
    return static_cast<int>(kEyeSliderMax * clamp_unit(ratio));
}

double position_to_eye_separation(int position) {
    return std::pow(kEyeSeparationMax, clamp_unit(position * 0.001));
}

FilePath panel_settings_path() {
    FilePath path;
    if (!system_data_directory(&path)) path.set_to_temp_directory();
    path.append_file(kSettingsFileName);
    return path;
}

// -- Stereo page.

bool StereoPage::init(ui::DialogView& view) {
    view_ = &view;
    view.set_text(IDC_STEREO_WARNING, kStereoNote);
    view.set_slider_range(IDC_EYE_SEPARATION, 0, kEyeSliderMax);
    view.set_slider_tick_frequency(IDC_EYE_SEPARATION, kEyeTickFrequency);
    view.set_slider_tick(IDC_EYE_SEPARATION, eye_separation_to_position(kDefaultEyeSeparation));
    view.place_under_tick(IDC_EYE_DEFAULT_LABEL, IDC_EYE_SEPARATION, 0);

    SettingsFile store(settings_);
    store.open_settings(false);
    const bool enabled = store.get_setting_bool(kStereoEnableSetting, false);
    double separation = kDefaultEyeSeparation;
    if (store.has_setting(kEyeSeparationSetting))
        separation = std::atof(store.get_setting_value(kEyeSeparationSetting).c_str());
    store.close_settings();

    view.set_slider_position(IDC_EYE_SEPARATION, eye_separation_to_position(separation));
    view.set_checked(IDC_STEREO_ENABLE, enabled);
    return true;
}

bool StereoPage::command(int id, int) {
    if (id != IDC_STEREO_ENABLE || !view_) return false;
    view_->changed();
    return true;
}

void StereoPage::scroll(int id, const ui::ScrollEvent&) {
    if (id == IDC_EYE_SEPARATION && view_) view_->changed();
}

ui::ApplyResult StereoPage::apply() {
    if (!view_) return ui::ApplyResult::saved;
    SettingsFile store(settings_);
    if (!store.open_settings(true)) return refuse_unsaved(*view_);
    store.set_setting_bool(kStereoEnableSetting, view_->checked(IDC_STEREO_ENABLE));
    const int position = view_->slider_position(IDC_EYE_SEPARATION);
    store.set_setting_value(kEyeSeparationSetting,
                            format_double(position_to_eye_separation(position)));
    return store.close_settings() ? ui::ApplyResult::saved : refuse_unsaved(*view_);
}

// -- Advanced page.

bool AdvancedPage::init(ui::DialogView& view) {
    view_ = &view;
    list_.emplace(view, IDC_ADVANCED_LIST, [this](int, int code) {
        if (code == ui::CLN_CHECKCHANGED) view_->changed();
    });
    list_->set_up();
    view.set_slider_range(IDC_PROCESSOR_USAGE, kUsageMin, kUsageMax);
    view.place_under_tick(IDC_USAGE_DEFAULT_LABEL, IDC_PROCESSOR_USAGE, kDefaultUsageTick);
    signed_row_ = list_->add_row(kSignedStatusRow, false);

    SettingsFile store(settings_);
    store.open_settings(false);
    // Setting the mark notifies like a click: once shown, the page counts as
    // changed, and OK rewrites what it shows.
    list_->set_checked(signed_row_, store.get_setting_bool(kOverlaySignedSetting, false));
    const std::string usage_text = store.get_setting_value(kProcessorUsageSetting);
    const int usage = usage_text.empty() ? kDefaultUsage : std::atoi(usage_text.c_str());
    view.set_slider_position(IDC_PROCESSOR_USAGE, std::clamp(usage, kUsageMin, kUsageMax));
    store.close_settings();

    read_always_install();
    install_row_ = list_->add_row(kAlwaysInstallRow, memory_.always_install);
    return true;
}

void AdvancedPage::read_always_install() {
    RegKey key = 0;
    if (platform().reg_create_key(kHkeyCurrentUser, kPlayerKey, &key, nullptr) != kErrorSuccess)
        return;  // the flag of the previous showing stays
    uint32_t type = 0, value = 0, size = sizeof value;
    memory_.always_install = platform().reg_query_value(key, kAlwaysInstallValue, &type, &value,
                                                        &size) == kErrorSuccess &&
                             type == kRegDword && value != 0;
    platform().reg_close_key(key);
}

bool AdvancedPage::list_event(int id, const ui::ListEvent& event) {
    return id == IDC_ADVANCED_LIST && list_ && list_->handle(event);
}

void AdvancedPage::scroll(int id, const ui::ScrollEvent&) {
    if (id == IDC_PROCESSOR_USAGE && view_) view_->changed();
}

ui::ApplyResult AdvancedPage::apply() {
    if (!view_ || !list_) return ui::ApplyResult::saved;
    RegKey key = 0;
    if (platform().reg_create_key(kHkeyCurrentUser, kPlayerKey, &key, nullptr) == kErrorSuccess) {
        const uint32_t value = list_->is_checked(install_row_) ? 1 : 0;
        platform().reg_set_value(key, kAlwaysInstallValue, kRegDword, &value, sizeof value);
        platform().reg_close_key(key);
    }
    SettingsFile store(settings_);
    if (!store.open_settings(true)) return refuse_unsaved(*view_);
    store.set_setting_bool(kOverlaySignedSetting, list_->is_checked(signed_row_));
    store.set_setting_value(kProcessorUsageSetting,
                            std::to_string(view_->slider_position(IDC_PROCESSOR_USAGE)));
    return store.close_settings() ? ui::ApplyResult::saved : refuse_unsaved(*view_);
}

}  // namespace sx::cpl
