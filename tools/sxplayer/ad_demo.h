// The player's side of an advertisement: load the ad library through the
// host table, show a picture in the applet window while a pretend applet
// "loads", take a screenshot, remove the picture and shut down.
#pragma once

#include <string>

namespace sxplayer {

struct AdDemoOptions {
    std::string picture;  // empty: the library's default picture
    int width = 400, height = 300;
    int delay_ms = 1000;     // minimum display time
    int run_ms = 1500;       // how long the pretend applet loads
    int period_ms = 50;      // heartbeat timer
    std::string screenshot;  // PNG of the applet window while the ad is up
    std::string log;         // a line per event; empty: standard output
    bool report = false;     // report the showing to the ad server after removal
    int fetch_timeout_ms = 5000;
};

// Returns the process exit code: 0 when every step worked.
int run_ad_demo(const AdDemoOptions& options);

}  // namespace sxplayer
