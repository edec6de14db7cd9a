// The command line, a copy that cannot be made, and the real program's quiet road.
#include "uninstaller/flow.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <sstream>
#include <tuple>

#include "components/file_path.h"
#include "components/registry.h"
#include "components/testing/registry_guard.h"
#include "components/text_util.h"
#include "platform/testing/message_box_recorder.h"
#include "platform/testing/test_support.h"
#include "uninstaller/native/terminal_host.h"
#include "uninstaller/uninstaller_texts.h"

namespace sx {
namespace {

namespace texts = uninstaller_texts;

TEST(UninstallerCommandLine, Forms) {
    const struct {
        const char* line;
        bool second_stage, quiet;
        uint32_t id;
    } cases[] = {
        {"\"C:\\A B\\u.exe\" -q", false, true, 0},
        {"uninstaller.exe -quiet", false, false, 0},
        {"\"C:\\Temp Dir\\stxuninst0000ABCD.exe\" 1 4242", true, false, 4242},
        {"c:\\t\\u.exe 1 17 -q", true, true, 17},
        {"c:\\t\\u.exe 12 17", true, false, 17},
        {"c:\\t\\u.exe 1", false, false, 0},
        {"c:\\t\\u.exe 1 x17", false, false, 0},
        {"c:\\t\\u.exe\t1\t9", true, false, 9},
    };
    for (const auto& c : cases) {
        const UninstallerCommand command = parse_uninstaller_command(c.line);
        EXPECT_EQ(std::make_tuple(command.second_stage, command.quiet, command.first_stage_id),
                  std::make_tuple(c.second_stage, c.quiet, c.id))
            << c.line;
    }
    EXPECT_EQ(parse_uninstaller_command(cases[0].line).program, "C:\\A B\\u.exe");
}

TEST(UninstallerFlow, TempFileFailureIsReported) {
    struct NoStart : testing::MessageBoxRecorder {
        int started = 0;
        bool start_process(const char*, const char*, ProcessHandle* out) override {
            ++started;
            *out = nullptr;
            return false;
        }
    } os;
    os.add_rule(FaultRule(Call::create_new_file, "stxuninst"));
    std::istringstream in;
    std::ostringstream out;  // the quiet road shows nothing
    TerminalHost host(in, out);
    EXPECT_EQ(run_uninstaller("u.exe -q", host, [] {}), -1);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(os.started, 0);
    ASSERT_EQ(os.boxes().size(), 1u);
    EXPECT_EQ(os.boxes()[0].caption + ": " + os.boxes()[0].text,
              "Error: Unable to create file in temp directory.");
}

bool wait_for(const std::function<bool()>& done, int tenths) {
    for (int i = 0; i < tenths && !done(); ++i) platform().sleep_ms(100);
    return done();
}

// The real program: "-q" copies itself to the temporary directory, the copy
// waits for the first stage and removes the player.
TEST(UninstallerProgram, QuietRoadRemovesThePlayer) {
    testing::TemporaryDirectory scratch;
    testing::RegistryValueGuard system_path(
        kHkeyLocalMachine, "SOFTWARE\\Stellarix\\Stellarix Player\\", "SystemDataPath");
    const std::string player = scratch.path() + "\\Stellarix\\Stellarix Player";
    ASSERT_TRUE(system_path.set(player));
    FilePath(player + "\\components\\").ensure_directory();
    ASSERT_TRUE(testing::write_file(player + "\\components\\compindx.dat", "x"));
    RegistryKey key;
    ASSERT_EQ(key.create(kHkeyLocalMachine, texts::kPlayerMachineKey), kErrorSuccess);
    key.close();

    uint32_t exit_code = 1;
    ASSERT_TRUE(
        testing::run_program(quote_argument(SX_UNINSTALLER_FILE) + " -q", &exit_code, nullptr));
    EXPECT_EQ(exit_code, 0u);
    std::string run_once;
    ASSERT_TRUE(read_registry_string(kHkeyLocalMachine, texts::kRunOnceKey,
                                     texts::kRunOnceUninstaller, &run_once));
    std::smatch match;
    ASSERT_TRUE(std::regex_match(
        run_once, match, std::regex(R"re(cmd\.exe /c del "(.*\\stxuninst[0-9A-F]{8}\.exe)")re")))
        << run_once;
    const std::string copy = match[1];
    EXPECT_TRUE(FilePath(copy).exists());
    // The second stage runs on its own; the player's parent is the last to go.
    EXPECT_TRUE(wait_for([&] { return !FilePath(scratch.path() + "\\Stellarix").exists(); }, 300));
    EXPECT_TRUE(wait_for(
        [&] { return key.open(kHkeyLocalMachine, texts::kPlayerMachineKey, kKeyRead) != 0; }, 100));
    platform().sleep_ms(500);
    FilePath(copy).delete_file();
}

}  // namespace
}  // namespace sx
