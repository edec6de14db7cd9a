// Real windows driven from a timer while their own modal loop runs, and
// their pictures saved as PNG files (Windows build).
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace sx::testing {

// Steps run one per timer tick, so what a step posts is handled before the
// next; a step returning false is tried again. When the steps are done, or
// one failed `patience` times, `close` runs at each tick until the loop ends.
struct TimerScript {
    std::vector<std::function<bool()>> steps;
    std::function<void()> close;
    size_t next = 0;  // the steps that succeeded
    bool gave_up = false;
    int patience = 200;
    // Calls `modal`, which runs a modal loop, with the script ticking.
    void run(const std::function<void()>& modal, UINT period_ms = 30);
};

// The text of a dialog's control.
std::string dialog_text(HWND dialog, int id);

// The window (or its client area) as it is on the screen, once two captures
// a moment apart agree: another process paints when it gets to it.
bool save_screenshot(HWND window, const std::string& png_path, bool client_area = false);

}  // namespace sx::testing
