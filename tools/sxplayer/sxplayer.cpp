// The stand-in player. It is what the launcher starts as a component's "run"
// file: it records the exact command line it was started with and exits, so
// that tests (and the demo install) can see what the player would have got.
//
// The record goes to the file named by SXPLAYER_RECORD, or else to
// "sxplayer-command-line.txt" beside the program. It holds the command line's
// bytes and nothing else.
#include <cstdio>
#include <string>

#include "components/file_path.h"
#include "platform/platform.h"

namespace {

constexpr char kRecordVariable[] = "SXPLAYER_RECORD";
constexpr char kDefaultRecordName[] = "sxplayer-command-line.txt";

std::string record_path() {
    std::string path;
    if (sx::platform().get_environment_variable(kRecordVariable, &path) && !path.empty()) {
        return path;
    }
    sx::FilePath beside(sx::platform().program_path());
    beside.append_file(kDefaultRecordName);
    return beside.text();
}

}  // namespace

int main() {
    const std::string command_line = sx::platform().command_line();
    std::FILE* record = sx::platform().open_file(record_path().c_str(), "wb");
    if (!record) return 1;
    bool written =
        std::fwrite(command_line.data(), 1, command_line.size(), record) == command_line.size();
    if (std::fclose(record) != 0 || !written) return 1;
    return 0;
}
