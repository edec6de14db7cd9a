// The Stereo and Advanced pages: the player's stereo output and eye
// separation, and the two yes/no options with the processor usage. Both keep
// their values in the settings file of the system data directory; each page
// reads once when set up and writes only on apply. An apply stores only what
// the person changed: a control that still shows what was read stores the
// text that was read, so nothing drifts; a page stores all its values or
// none, and never calls a failed save saved.
#pragma once

#include <optional>
#include <string>

#include "components/file_path.h"
#include "components/registry.h"
#include "ui/page.h"

namespace sx::cpl {

// The eye separation runs logarithmically from 1.0 (position 0) to 175.0
// (position 1000); the default 5.0 sits at 311.
inline constexpr int kEyeSliderMax = 1000;
inline constexpr double kDefaultEyeSeparation = 5.0;
int eye_separation_to_position(double separation);
double position_to_eye_separation(int position);

// Processor usage: 1 to 6, 4 when nothing is stored.
inline constexpr int kUsageMin = 1;
inline constexpr int kUsageMax = 6;
inline constexpr int kDefaultUsage = 4;

// The leading decimal integer of `text` (blanks, a sign, digits), as atoi
// reads it, but saturated to the int range instead of wrapping; 0 when there
// is none.
int saturating_atoi(const std::string& text);

// "SXRegistry.dat" in the system data directory, or in the temporary
// directory when there is none.
FilePath panel_settings_path();

// A setting as a page found it: its text when the file held it. An apply
// whose control still shows what was read stores this text again, unchanged,
// or nothing when there was none.
struct ReadSetting {
    std::optional<std::string> text;
};

// What outlives one showing of the sheet within the process: the last
// "AlwaysInstall" flag read, kept when the user key cannot be opened.
struct PanelMemory {
    bool always_install = false;
};

class StereoPage : public ui::Page {
public:
    explicit StereoPage(FilePath settings) : settings_(std::move(settings)) {}

    bool init(ui::DialogView& view) override;
    bool command(int id, int code) override;
    void scroll(int id, const ui::ScrollEvent& event) override;
    ui::ApplyResult apply() override;

private:
    FilePath settings_;
    ui::DialogView* view_ = nullptr;
    ReadSetting enabled_, separation_;
    bool read_enabled_ = false;
    int read_position_ = 0;
};

class AdvancedPage : public ui::Page {
public:
    AdvancedPage(FilePath settings, PanelMemory& memory)
        : settings_(std::move(settings)), memory_(memory) {}

    bool init(ui::DialogView& view) override;
    bool list_event(int id, const ui::ListEvent& event) override;
    void scroll(int id, const ui::ScrollEvent& event) override;
    ui::ApplyResult apply() override;

private:
    void read_always_install();
    bool write_always_install(RegistryKey& key, bool* written);

    FilePath settings_;
    PanelMemory& memory_;
    ui::DialogView* view_ = nullptr;
    std::optional<ui::CheckList> list_;
    int signed_row_ = -1;
    int install_row_ = -1;
    ReadSetting signed_, usage_;
    bool read_signed_ = false;
    int read_usage_ = kDefaultUsage;
    bool read_install_ = false;
    // "AlwaysInstall" exactly as it was read (type and bytes), when it was.
    std::optional<RegistryValue> install_value_;
};

}  // namespace sx::cpl
