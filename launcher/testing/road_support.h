// Runs the built launcher in a prepared environment: a temporary tree holding
// the system and per-user data directories (the registry points at them while
// a Road lives), component indexes, the stand-in player and applet files; a
// launch gives the message boxes shown and the player's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "components/testing/registry_guard.h"
#include "platform/testing/test_support.h"
#include "platform/testing/window_watch.h"

namespace sx::testing {

// -1 as the launcher's parent sees it.
#if defined(_WIN32)
constexpr uint32_t kFailureExitCode = 0xFFFFFFFFu;
#else
constexpr uint32_t kFailureExitCode = 255;
#endif

using Box = ShownBox;

struct Launch {
    bool ended = false;
    uint32_t exit_code = 0;
    // Under Wine the boxes read from the windows; natively the standard error
    // text, where the platform writes each box as a "caption: text" line.
    std::vector<Box> boxes;
    std::string stderr_text;
    std::string player_command_line;  // empty when no player ran
};

void expect_boxes(const Launch& launch, const std::vector<Box>& expected);

// The Windows path of a program built beside the tests.
std::string built_program(const char* linux_or_windows_path);

class Road {
public:
    Road();

    bool ready() const { return problem_.empty(); }
    const std::string& problem() const { return problem_; }

    // Component directories, with their trailing backslash; they exist.
    const std::string& system_components() const { return system_components_; }
    const std::string& user_components() const { return user_components_; }
    std::string file(const std::string& name) const { return temp_.file(name); }

    // Copies the stand-in player into `directory`\player\sxplayer.exe and
    // records it as the "run" file of `name`.
    void install_player(const std::string& directory, const std::string& name, int version);
    const std::string& player_path() const { return player_path_; }
    // Appends index text to `directory`\compindx.dat.
    void add_record(const std::string& directory, const std::string& text);
    // Writes an applet file, creating its folder.
    bool write_applet(const std::string& path, const std::string& content);

    // Runs a whole command line, as the shell would give it, and waits for
    // the launcher (and, when it succeeded, for the player's record).
    Launch launch_command(const std::string& command_line);

private:
    TemporaryDirectory temp_;
    std::string problem_;
    std::string system_components_;
    std::string user_components_;
    std::string player_path_;
    // After temp_: the registry is put back before the folders go.
    RegistryValueGuard system_path_;
    RegistryValueGuard app_data_;
    int launches_ = 0;
};

}  // namespace sx::testing
