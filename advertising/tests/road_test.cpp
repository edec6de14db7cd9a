// The whole road in real processes: sxplayer finds advertising and pixmill
// through the component search, shows the animated default picture with its
// bar and message in an applet window, screenshots it and removes it.
#include <string>

#include "advertising/pixmill_api.h"
#include "advertising/tests/ad_test_host.h"
#include "components/testing/component_env.h"
#include "platform/platform.h"
#include "platform/testing/test_support.h"

namespace adtest {
namespace {

std::string component_record(const std::string& name, const std::string& files) {
    return "component=" + name + "\nversion=1\n" + files + "componentend\n";
}

bool install(const std::string& from_linux, const std::string& directory, const std::string& name) {
    return sx::FilePath(sx::testing::host_to_windows_path(from_linux))
        .copy_to(sx::FilePath(directory + name), true);
}

class Road : public AdTest {};

// advertising, pixmill and the animated default picture, found through the
// component search of the system data directory.
void install_ad_components(sx::testing::ComponentEnvironment& env) {
    const std::string dir = env.system_components();
    EXPECT_TRUE(sx::FilePath(dir).ensure_directory());
    EXPECT_TRUE(install(ADVERTISING_LIBRARY_PATH, dir, ADVERTISING_FILE_NAME));
    EXPECT_TRUE(install(PIXMILL_LIBRARY_PATH_LINUX, dir, PIXMILL_FILE_NAME));
    EXPECT_TRUE(install(std::string(AD_TEST_DATA_DIR) + "/anim.gif", dir, "anim.gif"));
    EXPECT_TRUE(env.write_index(
        dir, component_record("advertising", std::string("installed_local=library;") +
                                                 ADVERTISING_FILE_NAME +
                                                 "\ninstalled_local=default_ad;anim.gif\n") +
                 component_record("pixmill", std::string("installed_local=library;") +
                                                 PIXMILL_FILE_NAME + "\n")));
}

TEST_F(Road, SxplayerShowsAndRemovesTheDefaultAd) {
    sx::testing::ComponentEnvironment env;
    install_ad_components(env);
    const std::string artifacts = sx::testing::host_to_windows_path(AD_ARTIFACT_DIR);
    sx::FilePath(artifacts + "\\").ensure_directory();
    const std::string shot = artifacts + "\\ad_screenshot.png";
    const std::string log = artifacts + "\\ad_road.log";
    sx::FilePath(shot).delete_file();
    uint32_t code = 99;
    std::string errors;
    ASSERT_TRUE(
        sx::testing::run_program(sx::quote_argument(sx::testing::host_to_windows_path(SXPLAYER_PATH)) +
                                  " --show-ad --delay 600 --run 1200 --screenshot " +
                                  sx::quote_argument(shot) + " --log " + sx::quote_argument(log),
                              &code, &errors));
    std::string text;
    ASSERT_TRUE(sx::testing::read_file(log, &text));
    EXPECT_EQ(code, 0u) << text << errors;
    EXPECT_NE(text.find("started, child windows 1"), std::string::npos) << text;
    EXPECT_NE(text.find("screenshot saved"), std::string::npos) << text;
    EXPECT_NE(text.find("removed, child windows 0"), std::string::npos) << text;

    // The screenshot, decoded by pixmill (rows bottom-up): picture, strip, bar.
    std::FILE* f = sx::platform().open_file(shot.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    auto read = [](void* s, void* b, int32_t n) {
        return int32_t(std::fread(b, 1, size_t(n), static_cast<std::FILE*>(s)));
    };
    auto seek = [](void* s, int32_t o) {
        return int32_t(std::fseek(static_cast<std::FILE*>(s), o, SEEK_SET) == 0);
    };
    const ad::PixmillEntries* px = ad::pixmill();
    void* image = px->open(read, seek, f);
    std::fclose(f);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(px->width(image), 400);
    ASSERT_EQ(px->height(image), 300);
    std::vector<uint8_t> colour(400 * 300 * 3), alpha(400 * 300);
    ASSERT_TRUE(px->load(image, colour.data(), alpha.data(), 0));
    px->close(image);
    auto at = [&](int x, int y) {
        const uint8_t* p = &colour[(size_t(299 - y) * 400 + x) * 3];
        return rgb(p[0], p[1], p[2]);
    };
    const uint32_t centre = at(200, 142);
    EXPECT_TRUE(centre == rgb(255, 0, 0) || centre == rgb(0, 255, 0) || centre == rgb(0, 0, 255))
        << std::hex << centre;
    EXPECT_EQ(at(5, 142), rgb(255, 255, 255));
    EXPECT_EQ(at(200, 284), rgb(205, 241, 0));  // the strip's frame
    EXPECT_EQ(at(1, 290), rgb(205, 241, 0));    // the bar has started
    EXPECT_EQ(at(398, 290), rgb(192, 192, 192));
    int text_pixels = 0;  // the message darkens part of the strip
    for (int x = 100; x < 300; ++x) {
        for (int y = 286; y < 298; ++y)
            text_pixels += at(x, y) != rgb(205, 241, 0) && at(x, y) != rgb(192, 192, 192);
    }
    EXPECT_GT(text_pixels, 20);
}

}  // namespace
}  // namespace adtest

namespace adtest {
namespace {

// The stand-in ad server as a real process on the build machine (under Wine
// too: the server is a native program and Wine shares the host's network).
class StandInServer {
public:
    StandInServer(const std::string& mode, const std::string& extra) {
        const std::string base = std::string(AD_ARTIFACT_DIR) + "/adserver-" + mode;
        port_file_ = base + ".port";
        log_ = sx::testing::host_to_windows_path(base + ".log");
        sx::FilePath(sx::testing::host_to_windows_path(AD_ARTIFACT_DIR) + "\\").ensure_directory();
        sx::FilePath(sx::testing::host_to_windows_path(port_file_)).delete_file();
        const std::string command =
            sx::quote_argument(sx::testing::host_to_windows_path(SXADSERVER_PATH)) + " --mode " +
            mode + " --max-requests 1 --time-limit 20000" + " --port-file " +
            sx::quote_argument(port_file_) + " --log " + sx::quote_argument(base + ".log") + extra;
        // Wine starts a host program without giving a handle to it; the
        // server then ends by its own limits.
        if (!sx::platform().start_process(command.c_str(), &process_)) process_ = nullptr;
        for (int i = 0; port_ == 0 && i < 100; ++i) {
            std::string text;
            if (sx::testing::read_file(sx::testing::host_to_windows_path(port_file_), &text)) {
                port_ = std::atoi(text.c_str());
            }
            if (port_ == 0) sx::platform().sleep_ms(50);
        }
    }
    ~StandInServer() {
        if (!process_) return;
        uint32_t code = 0;
        if (!sx::platform().wait_process(process_, 0, &code)) {
            sx::platform().terminate_process(process_, 1);
        }
        sx::platform().close_process(process_);
    }
    int port() const { return port_; }
    std::string requests() const {
        std::string text;
        sx::testing::read_file(log_, &text);
        return text;
    }

private:
    sx::ProcessHandle process_ = nullptr;
    std::string port_file_, log_;
    int port_ = 0;
};

TEST_F(Road, SxplayerReportsToTheStandInServer) {
    if (!sx::FilePath(sx::testing::host_to_windows_path(SXADSERVER_PATH)).exists()) {
        GTEST_SKIP() << "no native stand-in ad server at " << SXADSERVER_PATH;
    }
    sx::testing::ComponentEnvironment env;
    install_ad_components(env);
    const std::string system = env.scratch() / "system\\";
    const std::string user = env.scratch() / "appdata\\Stellarix\\Stellarix Player\\";
    ASSERT_TRUE(sx::FilePath(user).ensure_directory());
    struct Case {
        const char* mode;
        const char* server_options;
        const char* fetch_timeout;
        const char* fetch_outcome;
        const char* upgrades;  // null: the file is not created
    } cases[] = {
        {"answer", "", "5000", "fetch done 1 ok", "12 Critical Fix\n"},
        {"close", "", "5000", "fetch done 1 failed", nullptr},
        {"slow", " --slow-ms 4000", "700", "fetch done 1 failed", nullptr},
        {"garbage", "", "5000", "fetch done 1 ok", nullptr},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.mode);
        const std::string upgrades_path = system + "upgrades_critical.dat";
        sx::FilePath(upgrades_path).delete_file();
        StandInServer server(k.mode, k.server_options);
        ASSERT_NE(server.port(), 0);
        ASSERT_TRUE(sx::testing::write_file(
            user + "SXRegistry.dat",
            "BaseURLs/Scripts=http://127.0.0.1:" + std::to_string(server.port()) + "/cgi\n"));
        const std::string log = sx::testing::host_to_windows_path(std::string(AD_ARTIFACT_DIR) +
                                                               "/report-" + k.mode + ".log");
        uint32_t code = 99;
        std::string errors;
        ASSERT_TRUE(sx::testing::run_program(
            sx::quote_argument(sx::testing::host_to_windows_path(SXPLAYER_PATH)) +
                " --show-ad --delay 200 --run 300 --report 1 --fetch-timeout " + k.fetch_timeout +
                " --log " + sx::quote_argument(log),
            &code, &errors));
        std::string text;
        ASSERT_TRUE(sx::testing::read_file(log, &text));
        EXPECT_EQ(code, 0u) << text << errors;
        EXPECT_NE(text.find("removed, child windows 0"), std::string::npos) << text;
        EXPECT_NE(text.find("fetch 1 NOREMAP:http://127.0.0.1:" + std::to_string(server.port()) +
                            "/cgi/adserver5?PR=5&OS=Win32&AD=0&AV="),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find(k.fetch_outcome), std::string::npos) << text;
        EXPECT_EQ(text.find("report still pending"), std::string::npos) << text;
        // The server saw the query the player sent, marker taken off.
        EXPECT_NE(server.requests().find("GET /cgi/adserver5?PR=5&OS=Win32&AD=0&AV="),
                  std::string::npos)
            << server.requests();
        std::string upgrades;
        const bool exists = sx::testing::read_file(upgrades_path, &upgrades);
        if (k.upgrades) {
            EXPECT_EQ(upgrades, k.upgrades);
        } else if (std::string(k.mode) != "garbage") {
            EXPECT_FALSE(exists) << upgrades;
        }
    }
}

}  // namespace
}  // namespace adtest
