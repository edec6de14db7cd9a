// The Rasterizers page: the priority list with check marks, the description
// of the selected rasterizer, what the player used last, reordering, the
// defaults, the configuration report and the test launch of one rasterizer.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "control_panel/rasterizer_model.h"
#include "ui/page.h"

namespace sx::cpl {

// The launcher's command line is built in a buffer of this many bytes; a line
// that does not fit (with its zero) is refused, never cut.
inline constexpr size_t kCommandLineBufferSize = 1024;

// Builds the test launch's command line; false when it would not fit.
bool build_test_command(const std::string& launcher, const std::string& applet,
                        const std::string& id, std::string* command_line);

struct RasterizersPageServices {
    // Turns a path into its short form in place (at most 1023 characters);
    // false on failure. Where there are no short names the path stays.
    std::function<bool(std::string* path)> shorten_path;
    // Shows the configuration report over the page.
    std::function<void(const std::string& report)> show_report;
    // The report text: kept by the caller, rebuilt at every press.
    std::string* report = nullptr;
};

class RasterizersPage : public ui::Page {
public:
    explicit RasterizersPage(RasterizersPageServices services);

    bool init(ui::DialogView& view) override;
    bool command(int id, int code) override;
    bool list_event(int id, const ui::ListEvent& event) override;
    void scroll(int id, const ui::ScrollEvent& event) override;
    ui::ApplyResult apply() override;

    // The rows as the list holds them.
    std::vector<RasterizerRow> rows();

private:
    void on_list_notify(int code);
    void fill_rows(const std::vector<RasterizerRow>& rows);
    void refresh_description();
    void refresh_last_used();
    void move_selected(int reported_position);
    void reset_to_defaults();
    void show_config();
    void test_selected();
    bool launcher_path(std::string* path);
    bool test_applet_path(std::string* path);
    void tell(const char* text, const char* caption, ui::Icon icon);

    RasterizersPageServices services_;
    ui::DialogView* view_ = nullptr;
    std::optional<ui::CheckList> list_;
    // Set when the list could not be loaded: the page then only shows, and
    // never stores or refuses the sheet's OK.
    bool view_only_ = false;
    // The rows as loaded (or last saved): an apply that finds them unchanged
    // stores nothing.
    std::vector<RasterizerRow> read_rows_;
};

}  // namespace sx::cpl
