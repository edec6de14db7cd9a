// The configuration report of "&Show Config": Windows version, what the
// player used last and both component index files, as plain text with
// "\r\n" line ends, for a user to send when the graphics fail.
#pragma once

#include <string>

#include "platform/platform.h"

namespace sx::cpl {

// Empties `text` and builds the report into it. `version` is the system's
// version record; the service pack of NT comes from the registry.
void build_config_report(const OsVersion& version, std::string* text);

// Child placement of the report dialog for a client area, in pixels.
struct ControlRect {
    int left = 0, top = 0, width = 0, height = 0;
    bool operator==(const ControlRect&) const = default;
};
struct ReportLayout {
    ControlRect edit, ok, copy;
};
// `edit` gives the margins (its left and top), `ok` and `copy` the button
// sizes; the result keeps the margins and the sizes of the buttons.
ReportLayout layout_config_report(int client_width, int client_height, const ControlRect& edit,
                                  const ControlRect& ok, const ControlRect& copy);

}  // namespace sx::cpl
