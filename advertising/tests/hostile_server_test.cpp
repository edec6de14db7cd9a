// sxplayer against a hostile server on loopback: each answer ends with the
// player responsive, critical lines appended in order, no answer file left.
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "advertising/exchange.h"
#include "advertising/tests/ad_test_host.h"
#include "components/testing/component_env.h"
#include "platform/platform.h"
#include "platform/testing/test_support.h"

namespace adtest {
namespace {

constexpr char kDefaultAnswerLine[] = "12 Critical Fix\n";

// The lines the records mode yields: those whose number line ends inside the cap.
std::string records_within_cap() {
    std::string text = "sxadserver records\n0\n2000000000\n", lines;
    for (long k = 1;; ++k) {
        const std::string n = std::to_string(k);
        text += "1\nupgrade " + n + "\n" + n + "\n";
        if (text.size() > AD_MAX_ANSWER_BYTES) return lines;
        lines += n + " upgrade " + n + "\n";
    }
}

std::set<std::string> answer_files(const std::string& temp) {
    std::vector<std::string> names;
    sx::platform().list_directory((temp + "sxa*.txt").c_str(), &names);
    return std::set<std::string>(names.begin(), names.end());
}

class HostileServer : public AdTest {
protected:
    void SetUp() override {
        AdTest::SetUp();
        sx::platform().set_environment_variable("SXPLAYER_RECORD", nullptr);
        const std::string dir = env_.system_components();
        ASSERT_TRUE(sx::FilePath(dir).ensure_directory());
        for (const auto& [from, name] :
             {std::pair<std::string, std::string>{ADVERTISING_LIBRARY_PATH, ADVERTISING_FILE_NAME},
              {PIXMILL_LIBRARY_PATH_LINUX, PIXMILL_FILE_NAME}})
            ASSERT_TRUE(sx::FilePath(sx::testing::host_to_windows_path(from))
                            .copy_to(sx::FilePath(dir + name), true));
        ASSERT_TRUE(env_.write_index(
            dir, std::string("component=advertising\nversion=1\ninstalled_local=library;") +
                     ADVERTISING_FILE_NAME + "\ncomponentend\ncomponent=pixmill\nversion=1\n" +
                     "installed_local=library;" + PIXMILL_FILE_NAME + "\ncomponentend\n"));
        system_ = env_.scratch() / "system\\";
        user_ = env_.scratch() / "appdata\\Stellarix\\Stellarix Player\\";
        ASSERT_TRUE(sx::FilePath(user_).ensure_directory());
        char temp[300] = {};
        ASSERT_GT(sx::platform().get_temp_path(temp, sizeof temp), 0u);
        temp_ = temp;
    }

    // Runs the server in `mode` and the player against it; the player's log.
    std::string play(const std::string& server_arguments, int linger_ms) {
        // The server is a program of the build machine: its files are host paths.
        const std::string host_port = work_ + "/port";
        const std::string port_file = sx::testing::host_to_windows_path(host_port);
        sx::FilePath(port_file).delete_file();
        sx::ProcessHandle server{};
        EXPECT_TRUE(sx::platform().start_process(
            (sx::quote_argument(sx::testing::host_to_windows_path(SXADSERVER_PATH)) +
             " --port-file " + host_port + " --max-requests 1 --time-limit 60000 --log " +
             host_port + ".log " + server_arguments)
                .c_str(),
            nullptr, &server));
        std::string port;
        for (int i = 0; i < 200 && port.empty(); ++i) {
            sx::platform().sleep_ms(20);
            port = file_text(port_file);
        }
        EXPECT_FALSE(port.empty()) << "the server did not start";
        while (!port.empty() && (port.back() == '\n')) port.pop_back();
        EXPECT_TRUE(sx::testing::write_file(
            user_ + "SXRegistry.dat", "BaseURLs/Scripts=http://127.0.0.1:" + port + "/cgi\n"));
        const std::string log = sx::testing::host_to_windows_path(work_ + "/player.log");
        uint32_t code = 99;
        std::string errors;
        EXPECT_TRUE(sx::testing::run_program(
            sx::quote_argument(sx::testing::host_to_windows_path(SXPLAYER_PATH)) +
                " --show-ad --delay 100 --run 100 --report 1 --fetch-timeout 4000 --linger " +
                std::to_string(linger_ms) + " --log " + sx::quote_argument(log),
            &code, &errors));
        EXPECT_EQ(code, 0u) << errors;
        uint32_t server_code = 0;
        if (!sx::platform().wait_process(server, 5000, &server_code))
            sx::platform().terminate_process(server, 1);
        sx::platform().close_process(server);
        return file_text(log);
    }

    void TearDown() override {
        if (!work_.empty()) sx::testing::remove_tree(sx::testing::host_to_windows_path(work_));
        AdTest::TearDown();
    }

    sx::testing::ComponentEnvironment env_;
    std::string work_ = make_work_directory();
    std::string system_, user_, temp_;

private:
    static std::string make_work_directory() {
        char pattern[] = "/tmp/sxhostile-XXXXXX";
        return mkdtemp(pattern) ? pattern : "";
    }
};

TEST_F(HostileServer, EveryAnswerEndsWithTheLinesInOrderAndNoAnswerFileLeft) {
    const struct {
        const char* server;
        int linger_ms;
        std::string appended;
        const char* note;  // in the player's log; null: none expected
    } cases[] = {
        {"--mode answer", 300, kDefaultAnswerLine, nullptr},
        {"--mode records --size-mb 20", 15000, records_within_cap(), "the answer cut at its cap"},
        {"--mode nolf --size-mb 100", 300, "", "the answer cut at its cap"},
        {"--mode drip --slow-ms 15", 300, kDefaultAnswerLine, nullptr},
        {"--mode reset", 300, "", nullptr},
        {"--mode redirect", 300, "", nullptr},
        {"--mode garbage --size-mb 1", 300, "", nullptr},
        {"--mode hugelength", 300, "", nullptr},
    };
    const std::string upgrades = system_ + ad::kCriticalUpgradesFileName;
    for (const auto& k : cases) {
        ASSERT_TRUE(sx::testing::write_file(upgrades, "0 old\n"));
        const std::set<std::string> before = answer_files(temp_);
        const std::string log = play(k.server, k.linger_ms);
        // Junk may hold lines that read as records; only their form is sure.
        if (std::string(k.server).find("garbage") == std::string::npos) {
            EXPECT_EQ(file_text(upgrades), "0 old\n" + k.appended) << k.server;
        } else {
            EXPECT_EQ(file_text(upgrades).rfind("0 old\n", 0), 0u) << k.server;
        }
        EXPECT_EQ(file_text(user_ + ad::kCriticalUpgradesFileName), "") << k.server;
        EXPECT_EQ(answer_files(temp_), before) << k.server;
        EXPECT_NE(log.find("exit 0"), std::string::npos) << k.server << "\n" << log;
        EXPECT_NE(log.find("heartbeats after removal"), std::string::npos) << k.server;
        if (k.note) {
            EXPECT_NE(log.find(k.note), std::string::npos) << k.server << "\n" << log;
        }
    }
}

// What a program prints (both streams) and its exit code, run by the shell.
std::pair<std::string, int> shell(const std::string& command) {
    std::string out;
    std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return {"", -1};
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        out.append(chunk, got);
    const int status = pclose(pipe);
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// Host and server: help with exit 0, wrong numbers refused, host paths taken,
// each failure with its cause.
TEST_F(HostileServer, HostAndServerSayWhatIsWrong) {
    const std::string player = std::string(SXPLAYER_PATH) + " ", server = SXADSERVER_PATH;
    const std::string log = work_ + "/host.log", shot = work_ + "/no/such/folder/shot.png";
    const struct {
        std::string command;
        int code;
        const char* says;  // in the output, or in the log for the player's runs
    } cases[] = {
        {server + " --help 2>/dev/null", 0, "usage: sxadserver"},
        {server + " --mode bogus", 2, "sxadserver --help shows the usage"},
        {server + " --slow-ms -5", 2, "sxadserver --help shows the usage"},
        {player, 2, "usage: sxplayer APPLET"},
        {player + "--show-ad --run abc", 2, "--run takes milliseconds from 0"},
        {player + "--show-ad --fetch-timeout -5", 2, "--fetch-timeout takes milliseconds from 1"},
        {player + "--show-ad --delay 10x", 2, "--delay takes milliseconds"},
        {player + "--show-ad --report yes", 2, "--report takes 0 or 1, not yes"},
        {player + "--show-ad --linger", 2, "--linger needs a value"},
        {player + "--show-ad --log " + work_ + "/no/such/folder/x.log", 2, "cannot write the log"},
        {player + "--show-ad --delay 0 --run 100 --log " + log, 0, "exit 0"},
        {player + "--show-ad --delay 0 --run 100 --screenshot " + shot + " --log " + log, 5,
         "screenshot failed: cannot write Z:"},
        {player + "--show-ad --delay 0 --run 100 --picture /no/such/ad.png --log " + log, 0,
         "advertising: picture Z:\\no\\such\\ad.png cannot be opened (system error 3)"},
    };
    for (const auto& k : cases) {
        std::remove(log.c_str());
        const auto [out, code] = shell(k.command);
        EXPECT_EQ(code, k.code) << k.command << "\n" << out;
        const std::string text = k.command.find(log) != std::string::npos
                                     ? file_text(sx::testing::host_to_windows_path(log))
                                     : out;
        EXPECT_NE(text.find(k.says), std::string::npos) << k.command << "\n" << text << out;
    }
}

}  // namespace
}  // namespace adtest
