// The player's side of an advertisement: load the ad library through the
// host table, show a picture in the applet window while a pretend applet
// "loads", take a screenshot, remove the picture and shut down.
#pragma once

#include <cstdio>
#include <string>

namespace sxplayer {

// The applet's loading as the ad follows it: one piece of work per
// heartbeat, its progress on the bar and its message in the strip.
class Loading {
public:
    virtual ~Loading() = default;
    // Does the next piece of work; false once everything is done.
    virtual bool step() = 0;
    virtual double fraction() const = 0;  // 0 to 1
    virtual std::string message() const = 0;
};

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
    // How long heartbeats go on after an answer came: the library reads it a
    // bounded piece per heartbeat.
    int linger_ms = 2000;
    std::FILE* log_stream = nullptr;  // used instead of `log` when set
    Loading* loading = nullptr;       // null: a pretend load lasting run_ms
};

// Returns the process exit code: 0 when every step worked, 1 when the
// library is missing (nothing was shown).
int run_ad_demo(const AdDemoOptions& options);

}  // namespace sxplayer
