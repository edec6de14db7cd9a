// The launcher as a user meets it: the built program started on applet files
// in a temporary tree whose data directories the registry points at; what it
// shows, its exit code and the command line the stand-in player received.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "components/data_directories.h"
#include "components/testing/component_env.h"
#include "components/text_util.h"
#include "launcher/error_catalogue.h"
#include "launcher/launcher.h"
#include "platform/testing/message_box_recorder.h"
#include "platform/testing/test_support.h"
#include "platform/testing/window_watch.h"

#if defined(_WIN32)
#include "platform/testing/program_icons.h"
#endif

namespace sx {
namespace {

using Box = testing::ShownBox;
using testing::RecordedBox;

#if defined(_WIN32)
constexpr uint32_t kFailureExitCode = 0xFFFFFFFFu;  // -1 as the parent sees it
#else
constexpr uint32_t kFailureExitCode = 255;
#endif

const std::string kErrorCaption = "Error";
const std::string kNotUpToDate = "Your Stellarix Player is not up to date.\n";
const std::string kLocate1 = "Unable to locate the Stellarix Player 1.\n";
const std::string kLocate2 = "Unable to locate the Stellarix Player 2.\n";
const std::string kCannotStart = "Unable to open the Stellarix Player.\n";

Box error_box(const std::string& text) { return Box{kErrorCaption, text, kMbIconError}; }

// The catalogue's boxes are system modal; the launcher's own are not.
Box catalogue_box(int code) {
    return Box{error_row(code)->title, error_row(code)->text + ".", kMbIconError, true};
}

// An index record, with one "run" file when `run_path` is given.
std::string record(const std::string& name, int version, const std::string& run_path = "") {
    return "component = " + name + "\nversion = " + std::to_string(version) +
           (run_path.empty() ? "" : "\ninstalled_local = run;" + run_path) + "\ncomponentend\n";
}

// The Windows path of a program built beside the tests.
std::string built_program(const char* path) {
    return path[0] == '/' ? testing::host_to_windows_path(path) : path;
}

std::string in_quotes(const std::string& text) { return "\"" + text + "\""; }

// Its writer closes it right after its one write: a short pause lets that end.
bool wait_for_file(const std::string& path, uint32_t timeout_ms) {
    const uint32_t start = platform().tick_count();
    while (!FilePath(path).exists()) {
        if (platform().tick_count() - start >= timeout_ms) return false;
        platform().sleep_ms(20);
    }
    platform().sleep_ms(100);
    return true;
}

class LauncherRoad : public ::testing::Test {
protected:
    std::string file(const std::string& name) const { return env_.scratch() / name; }
    void install_player() {
        ASSERT_TRUE(FilePath(env_.system_components() + "player\\").ensure_directory());
        ASSERT_TRUE(platform().copy_file(built_program(SX_PLAYER_FILE).c_str(),
                                         player_path_.c_str(), false));
    }

    // Runs a command line as the shell gives it; checks the boxes shown and
    // the player's command line (empty: no player started).
    void expect_launch(const std::string& command, const std::vector<Box>& boxes,
                       const std::string& player) {
        const std::string record = file("player-" + std::to_string(++launches_) + ".txt");
        ASSERT_TRUE(platform().set_environment_variable("SXPLAYER_RECORD", record.c_str()));
        uint32_t exit_code = 0;
#if defined(_WIN32)
        testing::WatchedRun run;
        EXPECT_TRUE(testing::run_watching_boxes(command, 60000, &run) && run.ended) << command;
        exit_code = run.exit_code;
        EXPECT_EQ(run.boxes, boxes);
#else
        // Natively the platform writes each box as a "caption: text" line.
        std::string expected, shown;
        for (const Box& box : boxes) {
            expected += box.caption + ": " + box.text;
            if (expected.back() != '\n') expected += '\n';
        }
        EXPECT_TRUE(testing::run_program(command, &exit_code, &shown, 60000)) << command;
        EXPECT_EQ(shown, expected);
#endif
        EXPECT_EQ(exit_code, player.empty() ? kFailureExitCode : 0u);
        // The launcher does not wait for the player; a failed one started none.
        std::string started;
        if (wait_for_file(record, exit_code == 0 ? 30000 : 300))
            testing::read_file(record, &started);
        EXPECT_EQ(started, player);
    }

    // Data directories of its own, which the registry points at meanwhile.
    testing::ComponentEnvironment env_;
    const std::string player_path_ = env_.system_components() + "player\\sxplayer.exe";
    int launches_ = 0;
};

// What the whole program makes of its command line and of the applet's header
// line: the player started, or the boxes shown and nothing started.
TEST_F(LauncherRoad, HeadersAndEveryFailureOfTheStartUp) {
    install_player();
    const std::string run = "player\\sxplayer.exe";
    ASSERT_TRUE(env_.write_index(env_.system_components(),
                                 record("viewer", 4, run) + record("interpreter1", 3, run) +
                                     record("pixmill", 2) + record("norun", 2) +
                                     record("lost", 1, "gone\\player.exe")));
    ASSERT_TRUE(env_.write_index(env_.user_components(), record("sound kit", 1)));

    const std::string missing = file("missing.sxvm");
    const std::string unended = file("unended.sxvm");
    const std::string long_name = file(std::string(1500, 'n') + ".sxvm");
    ASSERT_TRUE(testing::write_file(unended, "Stellarix3D: 1 12 x RUN=viewer:4"));
    // The message buffer holds 1023 characters; the name is cut to fit.
    const std::string cut = ("Unable to open " + long_name).substr(0, kErrorMessageBufferSize - 1);

    // A header written to an applet file whose name is the argument, or the
    // arguments themselves; whether the player starts; the boxes shown.
    const std::tuple<std::string, std::string, bool, std::vector<Box>> cases[] = {
        {"Stellarix3D: 1 3", "", true, {}},
        {"Stellarix3D: 1 12 x RUN=viewer:4 REQ=pixmill:2 REQ=\"sound kit:1\"", "", true, {}},
        {"Stellarix3D: 1 7 x", "", false, {catalogue_box(14)}},
        {"Stellarix3D: 5 3", "", false, {}},  // a format outside 0 to 2 ends quietly
        // No "RUN": the empty run component is not found.
        {"Stellarix3D: 1 12 x REQ=pixmill:2", "", false, {error_box(kLocate1)}},
        {"Stellarix3D: 1 12 x REQ=absent:1 RUN=viewer:4", "", false, {error_box(kNotUpToDate)}},
        {"Stellarix3D: 1 12 x RUN=viewer:9", "", false, {error_box(kNotUpToDate)}},
        {"Stellarix3D: 1 12 x RUN=norun:2", "", false, {error_box(kLocate1)}},
        {"Stellarix3D: 1 12 x RUN=lost:1", "", false, {error_box(kCannotStart)}},
        {"", in_quotes(missing), false, {error_box("Unable to open " + missing + ".\n")}},
        {"", "", false, {error_box("Unable to open .\n")}},
        {"", in_quotes(unended), false, {error_box("Error reading file " + unended + ".\n")}},
        {"", in_quotes(long_name), false, {error_box(cut)}},
    };
    int n = 0;
    for (const auto& [header, given, starts, boxes] : cases) {
        std::string arguments = given;
        if (!header.empty()) {
            const std::string applet = file("h" + std::to_string(++n) + ".sxvm");
            ASSERT_TRUE(testing::write_file(applet, header + "\r\nrest"));
            arguments = in_quotes(applet);
        }
        SCOPED_TRACE(header + " " + arguments);
        const std::string launcher = in_quotes(built_program(SX_LAUNCHER_FILE));
        expect_launch(arguments.empty() ? launcher : launcher + " " + arguments, boxes,
                      starts ? in_quotes(player_path_) + " " + arguments : "");
    }
}

#if defined(SX_SXINSTALL_FILE) && defined(SX_SKIFFHOOK_FILE)
// Runs sxinstall and expects it to succeed.
void install(const std::string& arguments) {
    uint32_t exit_code = 1;
    std::string errors;
    const std::string sxinstall = quote_argument(built_program(SX_SXINSTALL_FILE));
    ASSERT_TRUE(testing::run_program(sxinstall + " install " + arguments, &exit_code, &errors));
    ASSERT_EQ(exit_code, 0u) << arguments << "\n" << errors;
}

TEST_F(LauncherRoad, OpeningAnAppletFromTheShellStartsTheLauncherAndThePlayer) {
    // The launcher with its hook, and the player in the system's components.
    const std::string player_folder = file("Player Files\\");
    ASSERT_NO_FATAL_FAILURE(install(
        "--name skiff --version 1 --dir " + quote_argument(player_folder) + " --file " +
        quote_argument("skiff=Stellarix3D.exe:" + built_program(SX_LAUNCHER_FILE)) + " --file " +
        quote_argument("skiffhook=skiffhook.dll:" + built_program(SX_SKIFFHOOK_FILE)) +
        " --hook skiffhook"));
    ASSERT_NO_FATAL_FAILURE(
        install("--name viewer --version 4 --file " +
                quote_argument("run=player\\sxplayer.exe:" + built_program(SX_PLAYER_FILE))));

    // What the shell does: the file type's open command, the path for "%1".
    const std::string applet = file("shell demo.sxvm");
    ASSERT_TRUE(testing::write_file(applet, "Stellarix3D: 1 12 x RUN=viewer:4 REQ=viewer:2\n"));
    std::string type, command, icon;
    ASSERT_TRUE(read_registry_string(kHkeyClassesRoot, ".sxvm", nullptr, &type));
    ASSERT_TRUE(read_registry_string(kHkeyClassesRoot, (type + "\\shell\\open\\command").c_str(),
                                     nullptr, &command));
    read_registry_string(kHkeyClassesRoot, (type + "\\DefaultIcon").c_str(), nullptr, &icon);
    const size_t at = command.find("%1");
    ASSERT_NE(at, std::string::npos) << command;
    command.replace(at, 2, applet);
    const std::string launcher = player_folder + "Stellarix3D.exe";
    EXPECT_EQ(command, in_quotes(launcher) + " " + in_quotes(applet));
    EXPECT_EQ(icon, launcher + ",1");
    expect_launch(command, {}, in_quotes(player_path_) + " " + in_quotes(applet));
}
#endif

// Rewrites the index with `text` at its third opening (after the version query
// and the first lookup of the player's path); records the programs started.
class LookupDouble : public testing::MessageBoxRecorder {
public:
    std::FILE* open_file(const char* path, const char* mode) override {
        if (path && index == path && ++openings_ == 3 && !text.empty()) {
            EXPECT_TRUE(testing::write_file(index, text));
        }
        return MessageBoxRecorder::open_file(path, mode);
    }
    bool start_process(const char* command_line, const char* directory,
                       ProcessHandle* out) override {
        started.push_back(command_line);
        return MessageBoxRecorder::start_process(command_line, directory, out);
    }
    std::string index, text;
    std::vector<std::string> started;

private:
    int openings_ = 0;
};

// In the launcher's own process, the second lookup of the player's path fails:
// the index cannot be read, or the path outgrew the buffer (nothing written).
TEST_F(LauncherRoad, SecondPlayerLookupFailingInTheLauncher) {
    install_player();
    const std::string applet = file("second.sxvm");
    ASSERT_TRUE(testing::write_file(applet, "Stellarix3D: 1 12 x RUN=viewer:4\n"));
    const std::string index = env_.system_components() + "compindx.dat";
    const std::string command_line = " \"" + applet + "\"  -a\t-b ";
    for (const std::string& grown :
         {std::string(), record("viewer", 4, "a longer folder\\sxplayer.exe")}) {
        SCOPED_TRACE(grown.empty() ? "index unreadable" : "path grows");
        ASSERT_TRUE(env_.write_index(env_.system_components(),
                                     record("viewer", 4, "player\\sxplayer.exe")));
        reset_component_directories();
        LookupDouble os;
        os.index = index;
        os.text = grown;
        if (grown.empty()) os.fail_open_file(index, "", 2);
        EXPECT_EQ(launcher_main(command_line), -1);
        EXPECT_EQ(os.boxes(), (std::vector<RecordedBox>{{kLocate2, kErrorCaption, kMbIconError}}));
        EXPECT_TRUE(os.started.empty());
    }
}

#if defined(_WIN32)
// The program's own icon, then the applet file icon (the shell's index 1).
// The package check reads the version information of every program.
TEST(LauncherProgram, CarriesTwoIconGroups) {
    EXPECT_EQ(testing::icon_groups(built_program(SX_LAUNCHER_FILE)),
              (std::vector<std::vector<testing::IconImage>>{
                  {{32, 32, 4}, {32, 32, 8}, {16, 16, 4}},
                  {{32, 32, 4}, {16, 16, 4}, {32, 32, 8}, {48, 48, 8}}}));
}
#endif

}  // namespace
}  // namespace sx
