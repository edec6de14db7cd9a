// The Stereo and Advanced pages: the player's stereo output and eye
// separation, and the two yes/no options with the processor usage. Both keep
// their values in the settings file of the system data directory; each page
// reads once when set up and writes only on apply.
#pragma once

#include <optional>

#include "components/file_path.h"
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

// "SXRegistry.dat" in the system data directory, or in the temporary
// directory when there is none.
FilePath panel_settings_path();

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

    FilePath settings_;
    PanelMemory& memory_;
    ui::DialogView* view_ = nullptr;
    std::optional<ui::CheckList> list_;
    int signed_row_ = -1;
    int install_row_ = -1;
};

}  // namespace sx::cpl
