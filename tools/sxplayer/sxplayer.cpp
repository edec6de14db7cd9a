// The stand-in player. It is what the launcher starts as a component's "run"
// file: it records the exact command line it was started with and exits, so
// that tests (and the demo install) can see what the player would have got.
//
// Started with --show-ad it is instead the host of the ad library: it loads
// "advertising" through the component search, shows its picture in an applet
// window while pretending to load an applet, and removes it (ad_demo.h).
//   sxplayer --show-ad [--picture FILE] [--delay MS] [--run MS]
//                      [--screenshot FILE.png] [--log FILE]
//                      [--report 0|1] [--fetch-timeout MS]
// With --report 1 the library reports the showing after removal; the player
// downloads the answer from the address in the "BaseURLs/Scripts" setting
// (only addresses on this machine: the stand-in ad server).
//
// The record goes to the file named by SXPLAYER_RECORD (natively a host path
// is drive Z:), or nowhere. It holds the command line's bytes and nothing else.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "components/file_path.h"
#include "platform/platform.h"
#include "tools/sxplayer/ad_demo.h"

namespace {

constexpr char kRecordVariable[] = "SXPLAYER_RECORD";
constexpr char kUsage[] =
    "usage: sxplayer APPLET [ARGUMENTS]...\n"
    "         records its exact command line in the file named by SXPLAYER_RECORD\n"
    "         (nothing without it)\n"
    "       sxplayer --show-ad [--picture FILE] [--delay MS] [--run MS]\n"
    "                          [--screenshot FILE.png] [--log FILE]\n"
    "                          [--report 0|1] [--fetch-timeout MS]\n";

// Empty when the record is not wanted.
std::string record_path() {
    std::string path;
    if (!sx::platform().get_environment_variable(kRecordVariable, &path)) return std::string();
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

// Fills the options from the switches after --show-ad; false on an unknown one.
bool parse_ad_options(const std::vector<std::string>& args, sxplayer::AdDemoOptions* o) {
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (i + 1 >= args.size()) return false;
        const std::string& value = args[++i];
        if (name == "--picture") {
            o->picture = value;
        } else if (name == "--delay") {
            o->delay_ms = std::atoi(value.c_str());
        } else if (name == "--run") {
            o->run_ms = std::atoi(value.c_str());
        } else if (name == "--screenshot") {
            o->screenshot = value;
        } else if (name == "--log") {
            o->log = value;
        } else if (name == "--report") {
            o->report = value == "1";
        } else if (name == "--fetch-timeout") {
            o->fetch_timeout_ms = std::atoi(value.c_str());
        } else {
            return false;
        }
    }
    return true;
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
        if (!parse_ad_options(args, &options)) {
            std::fputs("sxplayer: wrong use of --show-ad (sxplayer --help shows the usage)\n",
                       stderr);
            return 2;
        }
        return sxplayer::run_ad_demo(options);
    }
    const std::string path = record_path();
    if (path.empty()) return 0;
    std::FILE* record = sx::platform().open_file(path.c_str(), "wb");
    bool written = record && std::fwrite(command_line.data(), 1, command_line.size(), record) ==
                                 command_line.size();
    written = record && std::fclose(record) == 0 && written;
    if (!written) {
        std::fprintf(stderr, "sxplayer: cannot write the record %s (system error %ld)\n",
                     path.c_str(), sx::platform().last_error());
        return 1;
    }
    return 0;
}
