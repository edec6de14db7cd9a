#include "control_panel/settings_pages.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// A page that could not store its values. When they hold a change of the
// user's, the user is told and the sheet stays open with them (Cancel closes
// it without saving). A page that shows only what it read has lost nothing
// and never holds the sheet: whoever cannot write the store can still leave
// with OK.
ui::ApplyResult nothing_saved(ui::DialogView& view, bool edited) {
    if (!edited) return ui::ApplyResult::saved;
    view.ask(kSettingsSaveFailed, kErrorCaption, ui::Buttons::ok, ui::Icon::error);
    return ui::ApplyResult::invalid;
}

ReadSetting read_setting_text(const SettingsFile& store, const char* key) {
    if (!store.has_setting(key)) return {};
    return {store.get_setting_value(key)};
}

// Stores again the text that was read, so that an untouched value stays
// exactly as it was; a setting that was absent stays absent.
bool store_read(SettingsFile& store, const char* key, const ReadSetting& read) {
    return !read.text || store.set_setting_value(key, *read.text);
}

bool set_registry_value(RegistryKey& key, const char* name, const RegistryValue& value) {
    return platform().reg_set_value(key.get(), name, value.type, value.data.data(),
                                    static_cast<uint32_t>(value.data.size())) == kErrorSuccess;
}

std::string format_double(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

}  // namespace

int saturating_atoi(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const int64_t limit = negative ? -int64_t(INT_MIN) : INT_MAX;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min(limit, value * 10 + (text[i] - '0'));
    return static_cast<int>(negative ? -value : value);
}

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
    enabled_ = read_setting_text(store, kStereoEnableSetting);
    separation_ = read_setting_text(store, kEyeSeparationSetting);
    read_enabled_ = store.get_setting_bool(kStereoEnableSetting, false);
    const double separation =
        separation_.text ? std::atof(separation_.text->c_str()) : kDefaultEyeSeparation;
    store.close_settings();

    read_position_ = eye_separation_to_position(separation);
    view.set_slider_position(IDC_EYE_SEPARATION, read_position_);
    read_position_ = view.slider_position(IDC_EYE_SEPARATION);
    view.set_checked(IDC_STEREO_ENABLE, read_enabled_);
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
    const bool enabled = view_->checked(IDC_STEREO_ENABLE);
    const int position = view_->slider_position(IDC_EYE_SEPARATION);
    const bool edited = enabled != read_enabled_ || position != read_position_;
    // Nothing to write back: a file that was not there is not made.
    if (!edited && !enabled_.text && !separation_.text) return ui::ApplyResult::saved;
    SettingsFile store(settings_);
    if (!store.open_settings(true) || !store.writable()) return nothing_saved(*view_, edited);
    const bool set =
        (enabled == read_enabled_ ? store_read(store, kStereoEnableSetting, enabled_)
                                  : store.set_setting_bool(kStereoEnableSetting, enabled)) &&
        (position == read_position_
             ? store_read(store, kEyeSeparationSetting, separation_)
             : store.set_setting_value(kEyeSeparationSetting,
                                       format_double(position_to_eye_separation(position))));
    if (!set) {
        store.discard_settings();
        return nothing_saved(*view_, edited);
    }
    if (!store.close_settings()) return nothing_saved(*view_, edited);
    read_enabled_ = enabled;
    read_position_ = position;
    return ui::ApplyResult::saved;
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
    signed_ = read_setting_text(store, kOverlaySignedSetting);
    usage_ = read_setting_text(store, kProcessorUsageSetting);
    read_signed_ = store.get_setting_bool(kOverlaySignedSetting, false);
    // Setting the mark notifies like a click: once shown, the page counts as
    // changed, and OK writes back what it read.
    list_->set_checked(signed_row_, read_signed_);
    const std::string usage_text = store.get_setting_value(kProcessorUsageSetting);
    const int usage = usage_text.empty() ? kDefaultUsage : saturating_atoi(usage_text);
    view.set_slider_position(IDC_PROCESSOR_USAGE, std::clamp(usage, kUsageMin, kUsageMax));
    read_usage_ = view.slider_position(IDC_PROCESSOR_USAGE);
    store.close_settings();

    read_always_install();
    read_install_ = memory_.always_install;
    install_row_ = list_->add_row(kAlwaysInstallRow, memory_.always_install);
    return true;
}

void AdvancedPage::read_always_install() {
    RegistryKey key;
    if (key.create(kHkeyCurrentUser, kPlayerKey) != kErrorSuccess)
        return;  // the flag of the previous showing stays
    RegistryValue value;
    if (read_registry_value(key.get(), kAlwaysInstallValue, &value) == kErrorSuccess) {
        uint32_t number = 0;
        memory_.always_install = value.type == kRegDword && value.data.size() == sizeof number &&
                                 (std::memcpy(&number, value.data.data(), sizeof number), number);
        install_value_ = std::move(value);
    } else {
        memory_.always_install = false;
        install_value_.reset();
    }
}

// Writes "AlwaysInstall": the user's choice, or, when the mark is what was
// read, exactly the value that was read (nothing when there was none).
bool AdvancedPage::write_always_install(RegistryKey& key, bool* written) {
    *written = false;
    const bool checked = list_->is_checked(install_row_);
    if (checked == read_install_) {
        if (!install_value_) return true;
        *written = true;
        return set_registry_value(key, kAlwaysInstallValue, *install_value_);
    }
    const uint32_t number = checked ? 1 : 0;
    RegistryValue value{kRegDword, {}};
    value.data.resize(sizeof number);
    std::memcpy(value.data.data(), &number, sizeof number);
    *written = true;
    return set_registry_value(key, kAlwaysInstallValue, value);
}

bool AdvancedPage::list_event(int id, const ui::ListEvent& event) {
    return id == IDC_ADVANCED_LIST && list_ && list_->handle(event);
}

void AdvancedPage::scroll(int id, const ui::ScrollEvent&) {
    if (id == IDC_PROCESSOR_USAGE && view_) view_->changed();
}

ui::ApplyResult AdvancedPage::apply() {
    if (!view_ || !list_) return ui::ApplyResult::saved;
    const bool signed_status = list_->is_checked(signed_row_);
    const int usage = view_->slider_position(IDC_PROCESSOR_USAGE);
    const bool edited = signed_status != read_signed_ || usage != read_usage_ ||
                        list_->is_checked(install_row_) != read_install_;

    // The store first: a page that cannot write it writes nothing at all.
    // With nothing to write back there, a file that was not there is not made.
    SettingsFile store(settings_);
    const bool use_store = edited || signed_.text || usage_.text;
    if (use_store && (!store.open_settings(true) || !store.writable()))
        return nothing_saved(*view_, edited);
    const bool set =
        !use_store || ((signed_status == read_signed_
                            ? store_read(store, kOverlaySignedSetting, signed_)
                            : store.set_setting_bool(kOverlaySignedSetting, signed_status)) &&
                       (usage == read_usage_ ? store_read(store, kProcessorUsageSetting, usage_)
                                             : store.set_setting_value(kProcessorUsageSetting,
                                                                       std::to_string(usage))));
    if (!set) {
        store.discard_settings();
        return nothing_saved(*view_, edited);
    }

    // The user key only once the store is ready; what it held before goes
    // back if the store then cannot be written.
    RegistryKey key;
    std::optional<RegistryValue> before;
    bool written = false;
    if (key.create(kHkeyCurrentUser, kPlayerKey) == kErrorSuccess) {
        RegistryValue value;
        if (read_registry_value(key.get(), kAlwaysInstallValue, &value) == kErrorSuccess)
            before = std::move(value);
        if (!write_always_install(key, &written)) {
            store.discard_settings();
            return nothing_saved(*view_, edited);
        }
    }
    if (use_store && !store.close_settings()) {
        if (written) {
            if (before)
                set_registry_value(key, kAlwaysInstallValue, *before);
            else
                platform().reg_delete_value(key.get(), kAlwaysInstallValue);
        }
        return nothing_saved(*view_, edited);
    }
    read_signed_ = signed_status;
    read_usage_ = usage;
    read_install_ = list_->is_checked(install_row_);
    return ui::ApplyResult::saved;
}

}  // namespace sx::cpl
