#include "launcher/testing/road_support.h"

#include <gtest/gtest.h>

#include "components/file_path.h"

namespace sx::testing {
namespace {

constexpr uint32_t kLaunchTimeoutMs = 60000;
constexpr uint32_t kPlayerTimeoutMs = 30000;

bool ensure_folder(const std::string& path) {
    return FilePath(path.back() == '\\' ? path : path + "\\").ensure_directory();
}

// Waits for a file to appear; its writer closes it right after its single
// write, so a short pause after it appears lets that finish.
bool wait_for_file(const std::string& path, uint32_t timeout_ms) {
    const uint32_t start = platform().tick_count();
    while (!FilePath(path).exists()) {
        if (platform().tick_count() - start >= timeout_ms) return false;
        platform().sleep_ms(20);
    }
    platform().sleep_ms(100);
    return true;
}

}  // namespace

void expect_boxes(const Launch& launch, const std::vector<Box>& expected) {
#if defined(_WIN32)
    EXPECT_EQ(launch.boxes, expected);
#else
    // Only the player may add to standard error, and it writes nothing there.
    std::string text;
    for (const Box& box : expected) {
        text += box.caption + ": " + box.text;
        if (text.back() != '\n') text += '\n';
    }
    EXPECT_EQ(launch.stderr_text, text);
#endif
}

std::string built_program(const char* path) {
    return path[0] == '/' ? host_to_windows_path(path) : path;
}

Road::Road()
    : system_path_(kHkeyLocalMachine, "SOFTWARE\\Stellarix\\Stellarix Player\\", "SystemDataPath"),
      app_data_(kHkeyCurrentUser,
                "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                "AppData") {
    const std::string system_data = temp_.file("system data") + "\\";
    const std::string app_data = temp_.file("appdata");
    system_components_ = system_data + "components\\";
    user_components_ = app_data + "\\Stellarix\\Stellarix Player\\components\\";
    if (!temp_.ok() || !ensure_folder(system_components_) || !ensure_folder(user_components_)) {
        problem_ = "cannot create the component directories under " + temp_.path();
    } else if (!system_path_.set(system_data) || !app_data_.set(app_data)) {
        problem_ = "cannot point the registry at the data directories";
    }
}

void Road::install_player(const std::string& directory, const std::string& name, int version) {
    ASSERT_TRUE(ensure_folder(directory + "player"));
    player_path_ = directory + "player\\sxplayer.exe";
    ASSERT_TRUE(
        platform().copy_file(built_program(SX_PLAYER_FILE).c_str(), player_path_.c_str(), false))
        << player_path_;
    add_record(directory, "component = " + name + "\nversion = " + std::to_string(version) +
                              "\ninstalled_local = run;player\\sxplayer.exe\ncomponentend\n");
}

void Road::add_record(const std::string& directory, const std::string& text) {
    const std::string index = directory + "compindx.dat";
    std::string content;
    read_file(index, &content);
    ASSERT_TRUE(write_file(index, content + text)) << index;
}

bool Road::write_applet(const std::string& path, const std::string& content) {
    FilePath folder(path);
    folder.to_parent();
    return ensure_folder(folder.text()) && write_file(path, content);
}

Launch Road::launch_command(const std::string& command) {
    Launch launch;
    const std::string record = temp_.file("player-" + std::to_string(++launches_) + ".txt");
    EXPECT_TRUE(platform().set_environment_variable("SXPLAYER_RECORD", record.c_str()));
#if defined(_WIN32)
    WatchedRun run;
    EXPECT_TRUE(run_watching_boxes(command, kLaunchTimeoutMs, &run)) << command;
    launch.ended = run.ended;
    launch.exit_code = run.exit_code;
    launch.boxes = run.boxes;
#else
    launch.ended = run_program(command, &launch.exit_code, &launch.stderr_text, kLaunchTimeoutMs);
#endif
    // The launcher does not wait for the player; a failed launch has started
    // nothing, so a short look is enough there.
    const uint32_t wait = launch.ended && launch.exit_code == 0 ? kPlayerTimeoutMs : 300;
    if (wait_for_file(record, wait)) read_file(record, &launch.player_command_line);
    return launch;
}

}  // namespace sx::testing
