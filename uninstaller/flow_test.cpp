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
#include "uninstaller/resource.h"
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

// Records each start (line and folder) and starts nothing.
struct StartRecorder : testing::MessageBoxRecorder {
    bool start_process(const char* line, const char* directory, ProcessHandle* out) override {
        lines.push_back(line);
        directories.push_back(directory ? directory : "(none)");
        *out = nullptr;
        return false;
    }
    std::vector<std::string> lines, directories;
};

TEST(UninstallerFlow, TempFileFailureIsReported) {
    StartRecorder os;
    os.add_rule(FaultRule(Call::create_new_file, "stxuninst"));
    std::istringstream in;
    std::ostringstream out;  // the quiet road shows nothing
    TerminalHost host(in, out);
    EXPECT_EQ(run_uninstaller("u.exe -q", host, [] { return RemovalReport(); }), -1);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(os.lines.size(), 0u);
    ASSERT_EQ(os.boxes().size(), 1u);
    EXPECT_EQ(os.boxes()[0].caption + ": " + os.boxes()[0].text,
              "Error: Unable to create file in temp directory.");
}

// The copy starts in its own folder: a process's current folder cannot be removed.
TEST(UninstallerFlow, TheCopyStartsInItsOwnFolder) {
    StartRecorder os;
    testing::RegistryValueGuard run_once(kHkeyLocalMachine, texts::kRunOnceKey,
                                         texts::kRunOnceUninstaller);
    std::istringstream in;
    std::ostringstream out;
    TerminalHost host(in, out);
    EXPECT_EQ(run_uninstaller("u.exe -q", host, [] { return RemovalReport(); }), 0);
    ASSERT_EQ(os.lines.size(), 1u);
    const std::vector<std::string> words = split_uninstaller_words(os.lines[0]);
    ASSERT_EQ(words.size(), 4u) << os.lines[0];
    FilePath folder(words[0]);
    folder.to_parent();
    FilePath temp;
    temp.set_to_temp_directory();
    EXPECT_EQ(os.directories[0], folder.text());
    EXPECT_EQ(folder.text() + "\\", temp.text());
    EXPECT_EQ(words[3], "-q");
    FilePath(words[0]).delete_file();
}

// The dialogs as the flow asks for them, answered from a script.
struct RecordingHost : UninstallerHost {
    int show_dialog(int dialog, const std::string& text) override {
        shown.push_back({dialog, text});
        return answer;
    }
    void show_usage(const std::string& text) override { usage += text; }
    bool internet_explorer_running() override { return ie; }
    bool netscape_running() override { return netscape; }
    void show_working() override {}
    void hide_working() override {}
    void pump_messages() override {}

    bool ie = false, netscape = false;
    int answer = 1;
    std::vector<std::pair<int, std::string>> shown;
    std::string usage;
};

using Shown = std::vector<std::pair<int, std::string>>;

RemovalReport nothing_left() { return RemovalReport(); }

TEST(UninstallerFlow, HelpPrintsTheUsageAndChangesNothing) {
    for (const char* line : {"u.exe -h", "u.exe --help", "\"C:\\A B\\u.exe\" /?"}) {
        testing::MessageBoxRecorder os;
        RecordingHost host;
        EXPECT_EQ(run_uninstaller(line, host, nothing_left), 0) << line;
        EXPECT_EQ(host.usage, texts::kUsage) << line;
        EXPECT_EQ(host.shown, Shown()) << line;
        EXPECT_EQ(os.calls(Call::create_new_file) + os.calls(Call::start_process), 0) << line;
    }
    // The usage names the log the removal writes.
    EXPECT_NE(std::string(texts::kUsage).find(std::string("\"") + texts::kLogName + "\""),
              std::string::npos);
}

// The browsers dialog shows only when a browser runs, with the ones that do.
TEST(UninstallerFlow, BrowsersDialogOnlyWhenOneRuns) {
    const struct {
        bool ie, netscape;
    } cases[] = {{false, false}, {true, false}, {false, true}, {true, true}};
    for (const auto& c : cases) {
        testing::MessageBoxRecorder os;
        os.add_rule(FaultRule(Call::create_new_file, "stxuninst"));  // goes no further
        RecordingHost host;
        host.ie = c.ie;
        host.netscape = c.netscape;
        EXPECT_EQ(run_uninstaller("u.exe", host, nothing_left), -1);
        Shown expected = {{IDD_WELCOME, ""}};
        if (c.ie || c.netscape)
            expected.push_back({IDD_BROWSERS, browser_message(c.ie, c.netscape)});
        EXPECT_EQ(host.shown, expected) << c.ie << c.netscape;
    }
}

TEST(UninstallerFlow, NetscapeTitles) {
    const struct {
        const char* title;
        bool netscape;
    } cases[] = {
        {"Netscape", true},
        {"Netscape Communicator", true},
        {"Start Page - Netscape", true},
        {"Start Page - Netscape 6", true},
        {"My Netscape bookmarks", false},
        {"About-Netscape", false},
        {"netscape", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_netscape_title(c.title), c.netscape) << c.title;
    // Only the first 1023 characters of a title are read.
    EXPECT_FALSE(is_netscape_title(std::string(1020, 'x') + " - Netscape"));
}

// Enter alone answers the welcome question with its default, Cancel.
TEST(UninstallerFlow, EnterOnTheWelcomeCancels) {
    testing::MessageBoxRecorder os;
    std::istringstream in("\n");
    std::ostringstream out;
    TerminalHost host(in, out);
    EXPECT_EQ(run_uninstaller("u.exe", host, nothing_left), 0);
    EXPECT_NE(out.str().find(texts::kWelcomeText), std::string::npos);
    EXPECT_EQ(os.calls(Call::create_new_file) + os.calls(Call::start_process), 0);
}

RemovalReport something_left() {
    RemovalReport report;
    report.left.push_back("C:\\Stellarix data: refused");
    report.kept.push_back("C:\\Stellarix data\\notes.txt: not the player's");
    return report;
}

// Something left: exit 1 and a temp-folder log the finished dialog names; a
// complete removal deletes an earlier run's log.
TEST(UninstallerFlow, AnIncompleteRemovalSaysWhereItsLogIs) {
    FilePath log;
    log.set_to_temp_directory();
    log.append_file(texts::kLogName);
    // A first stage that has ended long ago.
    const std::string second = "u.exe 1 2147483632";
    for (const char* quiet : {"", " -q"}) {
        RecordingHost host;
        EXPECT_EQ(run_uninstaller(second + quiet, host, something_left), kExitIncomplete);
        std::string text;
        ASSERT_TRUE(testing::read_file(log.text(), &text));
        for (const char* line : {"  C:\\Stellarix data: refused\r\n",
                                 "  C:\\Stellarix data\\notes.txt: not the player's\r\n"})
            EXPECT_NE(text.find(line), std::string::npos) << text;
        const Shown expected = {{IDD_FINISHED, format_text(texts::kIncompleteText, log.c_str())}};
        EXPECT_EQ(host.shown, *quiet ? Shown() : expected);

        EXPECT_EQ(run_uninstaller(second + quiet, host, nothing_left), 0);
        EXPECT_FALSE(log.exists()) << "an earlier run's log outlived a complete removal";
        if (!*quiet) {
            EXPECT_EQ(host.shown.back(), Shown::value_type(IDD_FINISHED, ""));
        }
    }
}

bool wait_for(const std::function<bool()>& done, int tenths) {
    for (int i = 0; i < tenths && !done(); ++i) platform().sleep_ms(100);
    return done();
}

// The real program started from inside its install folder, as Explorer does:
// the "-q" copy waits for the first stage and removes the player, that folder too.
TEST(UninstallerProgram, QuietRoadFromInsideTheInstallFolderRemovesThePlayer) {
    testing::TemporaryDirectory scratch;
    testing::RegistryValueGuard system_path(
        kHkeyLocalMachine, "SOFTWARE\\Stellarix\\Stellarix Player\\", "SystemDataPath");
    const std::string player = scratch.path() + "\\Stellarix\\Stellarix Player";
    const std::string folder = player + "\\components\\Uninstall";
    ASSERT_TRUE(system_path.set(player));
    ASSERT_TRUE(FilePath(folder + "\\").ensure_directory());
    const std::string source = SX_UNINSTALLER_FILE;
    const std::string name = source.substr(source.rfind('\\') + 1);
    const std::string installed = folder + "\\" + name;
    ASSERT_TRUE(platform().copy_file(source.c_str(), installed.c_str(), false));
    ASSERT_TRUE(testing::write_file(player + "\\components\\compindx.dat",
                                    "component = uninstaller\r\ninstalled_local = uninstaller;"
                                    "Uninstall\\" +
                                        name + "\r\ncomponentend\r\n"));
    RegistryKey key;
    ASSERT_EQ(key.create(kHkeyLocalMachine, texts::kPlayerMachineKey), kErrorSuccess);
    key.close();

    ProcessHandle first = nullptr;
    ASSERT_TRUE(platform().start_process((quote_argument(installed) + " -q").c_str(),
                                         folder.c_str(), &first));
    uint32_t exit_code = 1;
    EXPECT_TRUE(platform().wait_process(first, 60000, &exit_code));
    platform().close_process(first);
    EXPECT_EQ(exit_code, 0u);
    std::string run_once;
    ASSERT_TRUE(read_registry_string(kHkeyLocalMachine, texts::kRunOnceKey,
                                     texts::kRunOnceUninstaller, &run_once));
    // The byte count is the text's length: no terminating zero counted.
    ASSERT_EQ(key.open(kHkeyLocalMachine, texts::kRunOnceKey, kKeyRead), kErrorSuccess);
    uint32_t size = 0;
    EXPECT_EQ(
        platform().reg_query_value(key.get(), texts::kRunOnceUninstaller, nullptr, nullptr, &size),
        kErrorSuccess);
    EXPECT_EQ(size, run_once.size());
    key.close();
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
