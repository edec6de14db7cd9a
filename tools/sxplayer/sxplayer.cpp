// The stand-in player. It is what the launcher starts as a component's "run"
// file.
//
//   sxplayer APPLET [ARGUMENTS]...
// 1. Records the exact command line (its bytes and nothing else) in the file
//    named by SXPLAYER_RECORD, when that variable is set.
// 2. Plays the applet when its body (what follows the header line) is a
//    scene: a JSON object naming trimmed NURBS surfaces (scene.h; samples/
//    holds some). It loads "advertising" and "ruvane" through the component
//    search, shows the ad in a 400x300 applet window, tessellates one surface
//    per heartbeat with the progress on the ad's bar ("Loading NAME: surface
//    K of N"), removes the ad after at least 1.5 s and lets it report to the
//    server in the "BaseURLs/Scripts" setting (loopback addresses only); the
//    answer's critical upgrades land in "upgrades_critical.dat" of the system
//    data directory. Any other applet (or one that cannot be read) is not
//    played.
// 3. With SXPLAYER_OUTPUT naming a folder (a Windows path; natively a host
//    path is drive Z:), it writes there:
//      sxplayer.log  a line per event; the last one is "player exit N"
//      scene.obj     the tessellated scene, an object per surface
//      scene.png     a shaded 800x600 picture of it
//      ad.png        the applet window with the ad, its bar half full or more
//    Without it nothing is written and the log goes to standard output.
// Exit codes: 0 played (or nothing to play), 1 the record could not be
// written, 3 a broken scene, 4 ruvane missing, 5 the ad failed, 6 a surface
// gave no triangle, 7 an output file could not be written. The launcher does
// not wait for the player: the log's last line tells the outcome.
//
// Started with --show-ad it is instead the host of the ad library alone: it
// loads "advertising" through the component search, shows its picture in an
// applet window while pretending to load an applet, and removes it
// (ad_demo.h).
//   sxplayer --show-ad [--picture FILE] [--delay MS] [--run MS]
//                      [--screenshot FILE.png] [--log FILE]
//                      [--report 0|1] [--fetch-timeout MS] [--linger MS]
// With --report 1 (off by default) the library reports the showing after
// removal; the player downloads the answer from the address in the
// "BaseURLs/Scripts" setting (only addresses on this machine: the stand-in
// ad server) and keeps the heartbeats going for --linger MS after it came,
// while the library reads it. Files are Windows paths; one starting with / is
// a host path (drive Z:).
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "components/file_path.h"
#include "platform/platform.h"
#include "tools/sxplayer/ad_demo.h"
#include "tools/sxplayer/play.h"

namespace {

constexpr char kRecordVariable[] = "SXPLAYER_RECORD";
constexpr char kOutputVariable[] = "SXPLAYER_OUTPUT";
constexpr char kUsage[] =
    "usage: sxplayer APPLET [ARGUMENTS]...\n"
    "         records its exact command line in the file named by SXPLAYER_RECORD\n"
    "         (nothing without it), then plays the applet when its body is a scene,\n"
    "         writing sxplayer.log, scene.obj, scene.png and ad.png into the folder\n"
    "         named by SXPLAYER_OUTPUT (without it: nothing, the log on stdout)\n"
    "       sxplayer --show-ad [--picture FILE] [--delay MS] [--run MS]\n"
    "                          [--screenshot FILE.png] [--log FILE]\n"
    "                          [--report 0|1] [--fetch-timeout MS] [--linger MS]\n"
    "         shows the ad alone; --report 1 (off by default) reports it to the\n"
    "         server in the BaseURLs/Scripts setting. Files are Windows paths; one\n"
    "         starting with / is a host path (drive Z:).\n";

// The path in `variable`; empty when it is not set.
std::string path_variable(const char* variable) {
    std::string path;
    if (!sx::platform().get_environment_variable(variable, &path)) return std::string();
#ifndef _WIN32
    if (!path.empty() && path[0] == '/') {
        for (char& c : path)
            if (c == '/') c = '\\';
        path = "Z:" + path;
    }
#endif
    return path;
}

constexpr char kShowAdSwitch[] = "--show-ad";
// Longer than any load worth showing an ad for; keeps sums of times in 32 bits.
constexpr long kMaxMilliseconds = 3600000;

// A file argument: "/x/y" is the host path Z:\x\y, as sxinstall takes it.
std::string file_argument(std::string text) {
    if (!text.empty() && text[0] == '/') {
        for (char& c : text)
            if (c == '/') c = '\\';
        text = "Z:" + text;
    }
    return text;
}

// A count of milliseconds from `minimum` up to an hour; false for anything
// else (signs where none belong, letters, trailing junk).
bool parse_milliseconds(const std::string& text, long minimum, int* out) {
    if (text.empty() || text.size() > 7) return false;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < minimum || value > kMaxMilliseconds) return false;
    *out = static_cast<int>(value);
    return true;
}

// Fills the options from the switches after --show-ad; on a wrong one,
// false with what is wrong in `error`.
bool parse_ad_options(const std::vector<std::string>& args, sxplayer::AdDemoOptions* o,
                      std::string* error) {
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string& name = args[i];
        static const char* const kSwitches[] = {"--picture",       "--delay", "--run",
                                                "--screenshot",    "--log",   "--report",
                                                "--fetch-timeout", "--linger"};
        if (std::find(std::begin(kSwitches), std::end(kSwitches), name) == std::end(kSwitches)) {
            *error = "unknown switch " + name;
            return false;
        }
        if (i + 1 >= args.size()) {
            *error = name + " needs a value";
            return false;
        }
        const std::string& value = args[++i];
        const struct {
            const char* name;
            int* target;
            long minimum;
        } numbers[] = {{"--delay", &o->delay_ms, 0},
                       {"--run", &o->run_ms, 0},
                       {"--fetch-timeout", &o->fetch_timeout_ms, 1},
                       {"--linger", &o->linger_ms, 0}};
        bool numeric = false;
        for (const auto& n : numbers) {
            if (name != n.name) continue;
            numeric = true;
            if (!parse_milliseconds(value, n.minimum, n.target)) {
                *error = name + " takes milliseconds from " + std::to_string(n.minimum) + " to " +
                         std::to_string(kMaxMilliseconds) + ", not " + value;
                return false;
            }
        }
        if (numeric) continue;
        if (name == "--picture") {
            o->picture = file_argument(value);
        } else if (name == "--screenshot") {
            o->screenshot = file_argument(value);
        } else if (name == "--log") {
            o->log = file_argument(value);
        } else if (name == "--report" && (value == "0" || value == "1")) {
            o->report = value == "1";
        } else {
            *error = "--report takes 0 or 1, not " + value;
            return false;
        }
    }
    return true;
}

bool write_record(const std::string& path, const std::string& command_line) {
    std::FILE* record = sx::platform().open_file(path.c_str(), "wb");
    bool written = record && std::fwrite(command_line.data(), 1, command_line.size(), record) ==
                                 command_line.size();
    written = record && std::fclose(record) == 0 && written;
    if (!written) {
        std::fprintf(stderr, "sxplayer: cannot write the record %s (system error %ld)\n",
                     path.c_str(), sx::platform().last_error());
    }
    return written;
}

}  // namespace

int main() {
    const std::string command_line = sx::platform().command_line();
    const std::vector<std::string> args = sx::split_command_line(command_line);
    if (args.size() == 2 && (args[1] == "-h" || args[1] == "--help" || args[1] == "/?")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.size() >= 2 && args[1] == kShowAdSwitch) {
        sxplayer::AdDemoOptions options;
        std::string error;
        if (!parse_ad_options(args, &options, &error)) {
            std::fprintf(stderr,
                         "sxplayer: wrong use of --show-ad: %s (sxplayer --help shows the usage)\n",
                         error.c_str());
            return 2;
        }
        return sxplayer::run_ad_demo(options);
    }
    const std::string path = path_variable(kRecordVariable);
    if (!path.empty() && !write_record(path, command_line)) return 1;
    if (args.size() < 2) {
        // Nothing to play; a recorded start without an applet is still recorded.
        std::fputs(
            "sxplayer: nothing to do; usage: sxplayer APPLET [ARGUMENTS]... or sxplayer "
            "--show-ad [SWITCHES] (sxplayer --help shows more)\n",
            stderr);
        return path.empty() ? 2 : 0;
    }
    return sxplayer::play_applet(args[1], path_variable(kOutputVariable));
}
