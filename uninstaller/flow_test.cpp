// The two stages through a scripted host, and the real program's quiet road.
#include "uninstaller/flow.h"

#include <gtest/gtest.h>

#include <regex>

#include "components/registry.h"
#include "components/testing/registry_guard.h"
#include "components/text_util.h"
#include "platform/testing/faulty_platform.h"
#include "platform/testing/test_support.h"
#include "uninstaller/removal.h"
#include "uninstaller/resource.h"
#include "uninstaller/uninstaller_texts.h"

namespace sx {
namespace {

namespace texts = uninstaller_texts;

TEST(UninstallerCommandLine, Forms) {
    const struct {
        const char* line;
        bool second_stage;
        bool quiet;
        uint32_t id;
    } cases[] = {
        {"uninstaller.exe", false, false, 0},
        {"uninstaller.exe -q", false, true, 0},
        {"uninstaller.exe -quiet", false, false, 0},
        {"uninstaller.exe -Q", false, false, 0},
        {"\"C:\\Temp Dir\\stxuninst0000ABCD.exe\" 1 4242", true, false, 4242},
        {"c:\\t\\u.exe 1 17 -q", true, true, 17},
        {"c:\\t\\u.exe 12 17", true, false, 17},
        {"c:\\t\\u.exe 1 17 -quiet", true, false, 17},
        {"c:\\t\\u.exe 1", false, false, 0},
        {"c:\\t\\u.exe 1 x17", false, false, 0},
        {"c:\\t\\u.exe\t1\t9", true, false, 9},
    };
    for (const auto& c : cases) {
        const UninstallerCommand command = parse_uninstaller_command(c.line);
        EXPECT_EQ(command.second_stage, c.second_stage) << c.line;
        EXPECT_EQ(command.quiet, c.quiet) << c.line;
        EXPECT_EQ(command.first_stage_id, c.id) << c.line;
    }
    EXPECT_EQ(parse_uninstaller_command("\"C:\\A B\\u.exe\" -q").program, "C:\\A B\\u.exe");
    std::string many = "u.exe";
    for (int i = 0; i < 200; ++i) many += " w";
    EXPECT_EQ(split_uninstaller_words(many).size(), 128u);
}

TEST(UninstallerBrowsers, TitlesAndMessage) {
    const struct {
        const char* title;
        bool netscape;
    } titles[] = {{"Netscape", true},
                  {"Home - Netscape", true},
                  {"Netscape Communicator", true},
                  {"About Netscape history", false},
                  {"Home -Netscape", false},
                  {"netscape", false}};
    for (const auto& t : titles) EXPECT_EQ(is_netscape_title(t.title), t.netscape) << t.title;
    EXPECT_FALSE(is_netscape_title(std::string(1023, 'x') + " - Netscape"));
    EXPECT_EQ(browser_message(true, true),
              "The following web browsers appear to be running:\n    + Internet Explorer\n    + "
              "Netscape Navigator or Netscape Communicator\nAll web browsers must be closed "
              "before continuing. If a web browser is open, the Stellarix Player may not be "
              "completely uninstalled.");
    EXPECT_EQ(browser_message(false, true).find("Internet Explorer"), std::string::npos);
}

// Records the dialogs shown and answers from a script.
class ScriptedHost : public UninstallerHost {
public:
    std::vector<int> answers;
    std::vector<int> shown;
    bool ie = false, netscape = false;
    int working = 0;
    int show_dialog(int dialog, const std::string&) override {
        shown.push_back(dialog);
        int answer = answers.empty() ? 0 : answers.front();
        if (!answers.empty()) answers.erase(answers.begin());
        return answer;
    }
    bool internet_explorer_running() override { return ie; }
    bool netscape_running() override { return netscape; }
    void show_working() override { ++working; }
    void hide_working() override { --working; }
    void pump_messages() override {}
};

// Keeps the stage from starting anything real.
class NoStartPlatform : public FaultyPlatform {
public:
    std::vector<std::string> started;
    bool start_process(const char* line, ProcessHandle* out) override {
        started.push_back(line);
        *out = nullptr;
        return false;
    }
    std::vector<std::string> boxes;
    int message_box(const char* text, const char* caption, uint32_t) override {
        boxes.push_back(std::string(caption) + ": " + text);
        return kIdOk;
    }
};

int removals = 0;
void count_removal() { ++removals; }

TEST(UninstallerFlow, FirstStageAnswersAndCopy) {
    const struct {
        const char* args;
        std::vector<int> answers;
        bool browsers;
        std::vector<int> shown;
        bool copies;
    } cases[] = {
        {"", {0}, true, {IDD_WELCOME}, false},
        {"", {1}, false, {IDD_WELCOME}, true},
        {" -quiet", {1, 0}, true, {IDD_WELCOME, IDD_BROWSERS}, false},
        {"", {1, 1}, true, {IDD_WELCOME, IDD_BROWSERS}, true},
        {" -q", {}, true, {}, true},
    };
    for (const auto& c : cases) {
        NoStartPlatform os;
        ScopedPlatform scoped(&os);
        ScriptedHost host;
        host.answers = c.answers;
        host.netscape = c.browsers;
        EXPECT_EQ(run_uninstaller(std::string("u.exe") + c.args, host, count_removal), 0);
        EXPECT_EQ(host.shown, c.shown) << c.args;
        ASSERT_EQ(os.started.size(), c.copies ? 1u : 0u) << c.args;
        if (!c.copies) continue;
        const std::vector<std::string> words = split_uninstaller_words(os.started[0]);
        ASSERT_GE(words.size(), 3u);
        EXPECT_TRUE(std::regex_search(words[0], std::regex(R"(\\stxuninst[0-9A-F]{8}\.exe$)")))
            << words[0];
        EXPECT_EQ(words[2], std::to_string(os.current_process_id()));
        EXPECT_EQ(words.size() == 4 && words[3] == "-q", std::string(c.args) == " -q");
        std::string run_once;
        EXPECT_TRUE(read_registry_string(kHkeyLocalMachine, texts::kRunOnceKey,
                                         texts::kRunOnceUninstaller, &run_once));
        EXPECT_EQ(run_once, "cmd.exe /c del \"" + words[0] + "\"");
        FilePath(words[0]).delete_file();
    }
}

TEST(UninstallerFlow, TempFileFailureIsReported) {
    NoStartPlatform os;
    os.add_rule(FaultRule(Call::create_new_file, "stxuninst"));
    ScopedPlatform scoped(&os);
    ScriptedHost host;
    EXPECT_EQ(run_uninstaller("u.exe -q", host, count_removal), -1);
    EXPECT_TRUE(os.started.empty());
    EXPECT_EQ(os.boxes,
              std::vector<std::string>{"Error: Unable to create file in temp directory."});
}

TEST(UninstallerFlow, SecondStageDialogsAndRemoval) {
    const struct {
        const char* line;
        std::vector<int> shown;
    } cases[] = {{"c:\\u.exe 1 0", {IDD_FINISHED}}, {"c:\\u.exe 12 0 -q", {}}};
    for (const auto& c : cases) {
        removals = 0;
        ScriptedHost host;
        EXPECT_EQ(run_uninstaller(c.line, host, count_removal), 0);
        EXPECT_EQ(removals, 1) << c.line;
        EXPECT_EQ(host.shown, c.shown) << c.line;
        EXPECT_EQ(host.working, 0) << "the working dialog goes before the end";
    }
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
    // The second stage runs on its own; give it time to finish.
    for (int i = 0; i < 300 && FilePath(scratch.path() + "\\Stellarix").exists(); ++i)
        platform().sleep_ms(100);
    EXPECT_FALSE(FilePath(scratch.path() + "\\Stellarix").exists()) << "the player's parent";
    RegistryKey gone;
    for (int i = 0; i < 100 && gone.open(kHkeyLocalMachine, texts::kPlayerMachineKey, kKeyRead) ==
                                   kErrorSuccess;
         ++i)
        platform().sleep_ms(100);
    EXPECT_NE(gone.open(kHkeyLocalMachine, texts::kPlayerMachineKey, kKeyRead), kErrorSuccess);
    platform().sleep_ms(500);
    FilePath(copy).delete_file();
}

}  // namespace
}  // namespace sx
