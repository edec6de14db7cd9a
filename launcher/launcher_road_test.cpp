// The launcher as a user meets it: the built program started on applet files
// in a prepared environment; what it shows, its exit code and the command
// line the player received.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "components/data_directories.h"
#include "components/file_path.h"
#include "components/text_util.h"
#include "launcher/error_catalogue.h"
#include "launcher/launcher.h"
#include "launcher/testing/road_support.h"
#include "platform/platform.h"
#include "platform/testing/message_box_recorder.h"
#include "platform/testing/test_support.h"

namespace sx {
namespace {

using testing::Box;
using testing::Launch;
using testing::MessageBoxRecorder;
using testing::RecordedBox;
using testing::Road;

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

class LauncherRoad : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(road_.ready()) << road_.problem(); }

    // The boxes shown and the player's command line (empty: not started).
    void expect_launch(const Launch& launch, const std::vector<Box>& boxes,
                       const std::string& player) {
        EXPECT_TRUE(launch.ended);
        EXPECT_EQ(launch.exit_code, player.empty() ? testing::kFailureExitCode : 0u);
        testing::expect_boxes(launch, boxes);
        EXPECT_EQ(launch.player_command_line, player);
    }

    Road road_;
};

// What the whole program makes of its command line and of the applet's header
// line: the player started, or the boxes shown and nothing started.
TEST_F(LauncherRoad, HeadersAndEveryFailureOfTheStartUp) {
    const std::string components = road_.system_components();
    road_.install_player(components, "viewer", 4);
    road_.add_record(components, record("interpreter1", 3, "player\\sxplayer.exe"));
    road_.add_record(components, record("pixmill", 2));
    road_.add_record(components, record("norun", 2));
    road_.add_record(components, record("lost", 1, "gone\\player.exe"));
    road_.add_record(road_.user_components(), record("sound kit", 1));

    const std::string missing = road_.file("missing.sxvm");
    const std::string empty = road_.file("empty.sxvm");
    const std::string unterminated = road_.file("unterminated.sxvm");
    const std::string long_name = road_.file(std::string(1500, 'n') + ".sxvm");
    ASSERT_TRUE(road_.write_applet(empty, ""));
    ASSERT_TRUE(road_.write_applet(unterminated, "Stellarix3D: 1 12 x RUN=viewer:4"));
    auto quoted = [](const std::string& text) { return "\"" + text + "\""; };

    struct Case {
        std::string header;     // written to an applet file whose name is the argument
        std::string arguments;  // used when there is no header
        bool starts;
        std::vector<Box> boxes;
    };
    const Case cases[] = {
        {"Stellarix3D: 1 3", "", true, {}},
        {"Stellarix3D: 1 12 x RUN=viewer:4 REQ=pixmill:2 REQ=\"sound kit:1\"", "", true, {}},
        {"Stellarix3D: 1 7 x", "", false, {catalogue_box(14)}},
        {"Stellarix3D: 1 12", "", false, {catalogue_box(12)}},
        {"Stellarix3D: 5 3", "", false, {}},  // a format outside 0 to 2 ends quietly
        // No "RUN": the empty run component is not found.
        {"Stellarix3D: 1 12 x REQ=pixmill:2", "", false, {error_box(kLocate1)}},
        {"Stellarix3D: 1 12 x REQ=absent:1 RUN=viewer:4", "", false, {error_box(kNotUpToDate)}},
        {"Stellarix3D: 1 12 x REQ=absent:0 RUN=absent", "", false, {error_box(kLocate1)}},
        {"Stellarix3D: 1 12 x RUN=viewer:9", "", false, {error_box(kNotUpToDate)}},
        {"Stellarix3D: 1 12 x RUN=norun:2", "", false, {error_box(kLocate1)}},
        {"Stellarix3D: 1 12 x RUN=lost:1", "", false, {error_box(kCannotStart)}},
        {"", quoted(missing), false, {error_box("Unable to open " + missing + ".\n")}},
        {"", "", false, {error_box("Unable to open .\n")}},
        {"", quoted(empty), false, {error_box("Error reading file " + empty + ".\n")}},
        {"",
         quoted(unterminated),
         false,
         {error_box("Error reading file " + unterminated + ".\n")}},
        // The message buffer holds 1023 characters; the name is cut to fit.
        {"",
         quoted(long_name),
         false,
         {error_box(("Unable to open " + long_name).substr(0, kErrorMessageBufferSize - 1))}},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string arguments = c.arguments;
        if (!c.header.empty()) {
            const std::string applet = road_.file("h" + std::to_string(++n) + ".sxvm");
            ASSERT_TRUE(road_.write_applet(applet, c.header + "\r\nrest"));
            arguments = quoted(applet);
        }
        SCOPED_TRACE(c.header + " " + arguments);
        const std::string launcher = quoted(testing::built_program(SX_LAUNCHER_FILE));
        const Launch launch =
            road_.launch_command(arguments.empty() ? launcher : launcher + " " + arguments);
        expect_launch(launch, c.boxes,
                      c.starts ? "\"" + road_.player_path() + "\" " + arguments : "");
    }
}

#if defined(SX_SXINSTALL_FILE) && defined(SX_SKIFFHOOK_FILE) && \
    (defined(_WIN32) || defined(SX_SXREG_FILE))
// What the shell does when the user opens an applet: it looks the file type
// up, takes the type's open command and puts the file's path for "%1".
std::string shell_open_command(const std::string& applet, std::string* icon) {
    std::string type, command;
    if (!read_registry_string(kHkeyClassesRoot, ".sxvm", nullptr, &type) ||
        !read_registry_string(kHkeyClassesRoot, (type + "\\shell\\open\\command").c_str(), nullptr,
                              &command)) {
        return std::string();
    }
    read_registry_string(kHkeyClassesRoot, (type + "\\DefaultIcon").c_str(), nullptr, icon);
    const size_t at = command.find("%1");
    if (at != std::string::npos) command.replace(at, 2, applet);
    return command;
}

// Runs a set-up tool and expects it to succeed.
void run_tool(const std::string& tool, const std::string& arguments) {
    uint32_t exit_code = 1;
    std::string errors;
    ASSERT_TRUE(testing::run_program(tool + " " + arguments, &exit_code, &errors)) << arguments;
    ASSERT_EQ(exit_code, 0u) << arguments << "\n" << errors;
}

TEST_F(LauncherRoad, OpeningAnAppletFromTheShellStartsTheLauncherAndThePlayer) {
    // The machine's data directory, set as its installer would with the
    // registry tool a person uses: reg.exe, or its stand-in elsewhere.
#if defined(_WIN32)
    const std::string registry_tool = "reg";
#else
    const std::string registry_tool = quote_argument(testing::built_program(SX_SXREG_FILE));
#endif
    const std::string machine_data = road_.file("machine data") + "\\";
    ASSERT_NO_FATAL_FAILURE(run_tool(
        registry_tool, "add " + quote_argument("HKLM\\SOFTWARE\\Stellarix\\Stellarix Player") +
                           " /v SystemDataPath /t REG_SZ /d " + quote_argument(machine_data) +
                           " /f"));

    // The launcher component with its install hook, installed as the
    // player's installer would, and the player's component in the system's
    // component directory (sxinstall's default).
    const std::string sxinstall = quote_argument(testing::built_program(SX_SXINSTALL_FILE));
    const std::string player_folder = road_.file("Player Files") + "\\";
    ASSERT_NO_FATAL_FAILURE(run_tool(
        sxinstall,
        "install --name skiff --version 1 --dir " + quote_argument(player_folder) + " --file " +
            quote_argument("skiff=Stellarix3D.exe:" + testing::built_program(SX_LAUNCHER_FILE)) +
            " --file " +
            quote_argument("skiffhook=skiffhook.dll:" + testing::built_program(SX_SKIFFHOOK_FILE)) +
            " --hook skiffhook"));
    ASSERT_NO_FATAL_FAILURE(run_tool(
        sxinstall,
        "install --name viewer --version 4 --file " +
            quote_argument("run=player\\sxplayer.exe:" + testing::built_program(SX_PLAYER_FILE))));

    const std::string applet = road_.file("My Applets\\shell demo.sxvm");
    ASSERT_TRUE(road_.write_applet(applet, "Stellarix3D: 1 12 x RUN=viewer:4 REQ=viewer:2\n"));
    std::string icon;
    const std::string command = shell_open_command(applet, &icon);
    const std::string launcher = player_folder + "Stellarix3D.exe";
    EXPECT_EQ(command, "\"" + launcher + "\" \"" + applet + "\"");
    EXPECT_EQ(icon, launcher + ",1");

    expect_launch(road_.launch_command(command), {},
                  "\"" + machine_data + "components\\player\\sxplayer.exe\" \"" + applet + "\"");
}
#endif

// The launcher's own process over a platform double that rewrites the index
// at its third opening (after the version query and the first lookup of the
// player's path) and records the programs started.
class LookupDouble : public MessageBoxRecorder {
public:
    std::FILE* open_file(const char* path, const char* mode) override {
        if (path && index == path && ++openings_ == 3) {
            EXPECT_TRUE(testing::write_file(index, text));
        }
        return MessageBoxRecorder::open_file(path, mode);
    }
    bool start_process(const char* command_line, ProcessHandle* out) override {
        started.push_back(command_line);
        return MessageBoxRecorder::start_process(command_line, out);
    }
    std::string index, text;
    std::vector<std::string> started;

private:
    int openings_ = 0;
};

// The second lookup of the player's path fails (the index cannot be read, or
// the path grew beyond the buffer the first lookup sized: nothing is written
// into it, and that is no path to start), or the start is refused.
TEST_F(LauncherRoad, PlayerLookupOrStartFailingInTheLauncher) {
    road_.install_player(road_.system_components(), "viewer", 4);
    const std::string applet = road_.file("second.sxvm");
    ASSERT_TRUE(road_.write_applet(applet, "Stellarix3D: 1 12 x RUN=viewer:4\n"));
    const std::string index = road_.system_components() + "compindx.dat";
    std::string original;
    ASSERT_TRUE(testing::read_file(index, &original));
    const std::string command_line = " \"" + applet + "\"  -a\t-b ";
    const std::vector<std::string> started = {"\"" + road_.player_path() + "\" " + command_line};
    const struct {
        const char* what;
        void (*arm)(LookupDouble&, const std::string& index);
        const std::string& box;
        std::vector<std::string> started;
    } cases[] = {
        {"index unreadable",
         [](LookupDouble& os, const std::string&) {
             os.fail_open_file("system data\\components\\compindx.dat", "", 2);
         },
         kLocate2,
         {}},
        {"path grows",
         [](LookupDouble& os, const std::string& index) {
             os.index = index;
             os.text = record("viewer", 4, "a much longer folder\\sxplayer.exe");
         },
         kLocate2,
         {}},
        {"start refused", [](LookupDouble& os, const std::string&) { os.fail_start_process(""); },
         kCannotStart, started},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(testing::write_file(index, original));
        reset_component_directories();
        LookupDouble os;
        c.arm(os, index);
        EXPECT_EQ(launcher_main(command_line), -1);
        EXPECT_EQ(os.boxes(), (std::vector<RecordedBox>{{c.box, kErrorCaption, kMbIconError}}));
        EXPECT_EQ(os.started, c.started);
    }
    reset_component_directories();
}

}  // namespace
}  // namespace sx
