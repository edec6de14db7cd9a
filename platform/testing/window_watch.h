// Message boxes of another process, read from the real windows and closed
// (Windows build): what a user would have seen, including the icon drawn and
// whether the box stays above every other window.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace sx::testing {

struct ShownBox {
    std::string caption;
    std::string text;
    uint32_t icon = 0;     // 0x10, 0x30 or 0x40; 0 when it could not be told
    bool topmost = false;  // above every other window (what MB_SYSTEMMODAL gives)
    bool operator==(const ShownBox&) const = default;
    friend void PrintTo(const ShownBox& box, std::ostream* out) {
        *out << "{\"" << box.caption << "\", \"" << box.text << "\", 0x" << std::hex << box.icon
             << std::dec << (box.topmost ? ", topmost}" : "}");
    }
};

struct WatchedRun {
    bool ended = false;  // false: still running at the time-out, then killed
    uint32_t exit_code = 0;
    std::vector<ShownBox> boxes;
};

// Starts `command_line` and, until it ends or `timeout_ms` passes, reads each
// message box it shows and presses OK. False when it could not start.
bool run_watching_boxes(const std::string& command_line, uint32_t timeout_ms, WatchedRun* run);

}  // namespace sx::testing
