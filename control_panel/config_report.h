// The configuration report of "&Show Config": Windows version, what the
// player used last and both component index files, as plain text with
// "\r\n" line ends, for a user to send when the graphics fail.
#pragma once

#include <string>

#include "platform/platform.h"
#include "ui/page.h"

namespace sx::cpl {

// Empties `text` and builds the report into it. `version` is the system's
// version record; the service pack of NT comes from the registry.
void build_config_report(const OsVersion& version, std::string* text);

// Child placement of the report dialog for a client area, in pixels.
struct ReportLayout {
    ui::Rect edit, ok, copy;
};
// `edit` gives the margins (its left and top), `ok` and `copy` the button
// sizes; the result keeps the margins and the sizes of the buttons.
ReportLayout layout_config_report(int client_width, int client_height, const ui::Rect& edit,
                                  const ui::Rect& ok, const ui::Rect& copy);

// The report dialog: shows the text, lays its controls out at the start and
// at every resize, copies the text to the clipboard, and ends with 0 on OK,
// Cancel (Escape) or the close box.
class ConfigReportDialog : public ui::Page {
public:
    explicit ConfigReportDialog(const std::string& report) : report_(report) {}

    bool init(ui::DialogView& view) override;
    bool command(int id, int code) override;
    void resized(int width, int height) override;

private:
    void lay_out(int width, int height);

    const std::string& report_;
    ui::DialogView* view_ = nullptr;
};

}  // namespace sx::cpl
