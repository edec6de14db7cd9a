// The whole road in real processes: sxplayer shows the default ad,
// screenshots and removes it, and reports to an ad server.
#include <string>

#include "advertising/tests/ad_test_host.h"
#include "components/testing/component_env.h"
#include "platform/platform.h"
#include "platform/testing/test_support.h"
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#include "stb_image.h"

namespace adtest {
namespace {

class Road : public AdTest {};

// advertising, pixmill and the animated default picture, found through the
// component search of the system data directory.
void install_ad_components(sx::testing::ComponentEnvironment& env) {
    const std::string dir = env.system_components();
    EXPECT_TRUE(sx::FilePath(dir).ensure_directory());
    const std::pair<std::string, const char*> files[] = {
        {ADVERTISING_LIBRARY_PATH, ADVERTISING_FILE_NAME},
        {PIXMILL_LIBRARY_PATH_LINUX, PIXMILL_FILE_NAME},
        {std::string(AD_TEST_DATA_DIR) + "/anim.gif", "anim.gif"}};
    for (const auto& [from, name] : files)
        EXPECT_TRUE(sx::FilePath(sx::testing::host_to_windows_path(from))
                        .copy_to(sx::FilePath(dir + name), true));
    EXPECT_TRUE(env.write_index(dir, std::string("component=advertising\nversion=1\n") +
                                         "installed_local=library;" + ADVERTISING_FILE_NAME +
                                         "\ninstalled_local=default_ad;anim.gif\ncomponentend\n" +
                                         "component=pixmill\nversion=1\ninstalled_local=library;" +
                                         PIXMILL_FILE_NAME + "\ncomponentend\n"));
}

// The artifacts folder in Windows form, made if missing, with a backslash.
std::string artifacts() {
    const std::string folder = sx::testing::host_to_windows_path(AD_ARTIFACT_DIR) + "\\";
    sx::FilePath(folder).ensure_directory();
    return folder;
}

// Runs sxplayer showing the ad and returns its log; it must end well, with
// the ad window gone.
std::string run_sxplayer(const std::string& arguments, const std::string& log_name) {
    const std::string log = artifacts() + log_name;
    uint32_t code = 99;
    std::string errors;
    EXPECT_TRUE(sx::testing::run_program(
        sx::quote_argument(sx::testing::host_to_windows_path(SXPLAYER_PATH)) + " --show-ad " +
            arguments + " --log " + sx::quote_argument(log),
        &code, &errors));
    const std::string text = file_text(log);
    EXPECT_EQ(code, 0u) << text << errors;
    EXPECT_NE(text.find("removed, child windows 0"), std::string::npos) << text;
    return text;
}

TEST_F(Road, SxplayerShowsAndRemovesTheDefaultAd) {
    sx::testing::ComponentEnvironment env;
    install_ad_components(env);
    const std::string shot = artifacts() + "ad_screenshot.png";
    sx::FilePath(shot).delete_file();
    const std::string text = run_sxplayer(
        "--delay 600 --run 1200 --screenshot " + sx::quote_argument(shot), "ad_road.log");
    EXPECT_NE(text.find("started, child windows 1"), std::string::npos) << text;
    EXPECT_NE(text.find("screenshot saved"), std::string::npos) << text;

    // The screenshot: picture, strip's frame, the bar started, the message.
    const std::string png = file_text(shot);
    int width = 0, height = 0, channels = 0;
    uint8_t* rgb_rows = stbi_load_from_memory(reinterpret_cast<const uint8_t*>(png.data()),
                                              int(png.size()), &width, &height, &channels, 3);
    ASSERT_NE(rgb_rows, nullptr);
    auto at = [&](int x, int y) {
        const uint8_t* p = rgb_rows + (size_t(y) * width + x) * 3;
        return rgb(p[0], p[1], p[2]);
    };
    const uint32_t bar = rgb(205, 241, 0), strip = rgb(192, 192, 192), centre = at(200, 142);
    EXPECT_EQ(width * 1000 + height, 400300);
    EXPECT_TRUE(centre == rgb(255, 0, 0) || centre == rgb(0, 255, 0) || centre == rgb(0, 0, 255))
        << std::hex << centre;
    EXPECT_EQ((std::vector<uint32_t>{at(5, 142), at(200, 284), at(1, 290), at(398, 290)}),
              (std::vector<uint32_t>{rgb(255, 255, 255), bar, bar, strip}));
    int text_pixels = 0;
    for (int x = 100; x < 300; ++x)
        for (int y = 286; y < 298; ++y) text_pixels += at(x, y) != bar && at(x, y) != strip;
    EXPECT_GT(text_pixels, 20);
    stbi_image_free(rgb_rows);
}

// The native stand-in ad server (Wine shares the host's network); under Wine
// no handle comes back, so the server ends by its own limits.
struct StandInServer {
    StandInServer(const std::string& mode, const std::string& extra)
        : base(std::string(AD_ARTIFACT_DIR) + "/adserver-" + mode) {
        sx::FilePath(artifacts() + "adserver-" + mode + ".port").delete_file();
        const std::string command =
            sx::quote_argument(sx::testing::host_to_windows_path(SXADSERVER_PATH)) + " --mode " +
            mode + " --max-requests 1 --time-limit 20000 --port-file " +
            sx::quote_argument(base + ".port") + " --log " + sx::quote_argument(base + ".log") +
            extra;
        if (!sx::platform().start_process(command.c_str(), &process)) process = nullptr;
        for (int i = 0; port == 0 && i < 100; ++i) {
            port = std::atoi(text(".port").c_str());
            if (port == 0) sx::platform().sleep_ms(50);
        }
    }
    ~StandInServer() {
        uint32_t code = 0;
        if (process && !sx::platform().wait_process(process, 0, &code))
            sx::platform().terminate_process(process, 1);
        if (process) sx::platform().close_process(process);
    }
    std::string text(const char* suffix) const {
        return file_text(sx::testing::host_to_windows_path(base + suffix));
    }
    std::string base;  // the server is a host program: host paths
    sx::ProcessHandle process = nullptr;
    int port = 0;
};

TEST_F(Road, SxplayerReportsToTheStandInServer) {
    if (!sx::FilePath(sx::testing::host_to_windows_path(SXADSERVER_PATH)).exists())
        GTEST_SKIP() << "no native stand-in ad server at " << SXADSERVER_PATH;
    sx::testing::ComponentEnvironment env;
    install_ad_components(env);
    const std::string upgrades_path = env.scratch() / "system\\upgrades_critical.dat";
    const std::string user = env.scratch() / "appdata\\Stellarix\\Stellarix Player\\";
    ASSERT_TRUE(sx::FilePath(user).ensure_directory());
    const struct {
        const char *mode, *server_options, *fetch_timeout, *fetch_outcome;
        const char* upgrades;  // null: the file is not created
    } cases[] = {
        {"answer", "", "5000", "fetch done 1 ok", "12 Critical Fix\n"},
        {"close", "", "5000", "fetch done 1 failed", nullptr},
        {"slow", " --slow-ms 4000", "700", "fetch done 1 failed", nullptr},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.mode);
        sx::FilePath(upgrades_path).delete_file();
        StandInServer server(k.mode, k.server_options);
        ASSERT_NE(server.port, 0);
        const std::string base = "http://127.0.0.1:" + std::to_string(server.port) + "/cgi";
        ASSERT_TRUE(
            sx::testing::write_file(user + "SXRegistry.dat", "BaseURLs/Scripts=" + base + "\n"));
        const std::string text = run_sxplayer(
            std::string("--delay 200 --run 300 --report 1 --fetch-timeout ") + k.fetch_timeout,
            std::string("report-") + k.mode + ".log");
        const std::string query = "/adserver5?PR=5&OS=Win32&AD=0&AV=";
        EXPECT_NE(text.find("fetch 1 NOREMAP:" + base + query), std::string::npos) << text;
        EXPECT_NE(text.find(k.fetch_outcome), std::string::npos) << text;
        EXPECT_EQ(text.find("report still pending"), std::string::npos) << text;
        // The server saw the query the player sent, marker taken off.
        const std::string requests = server.text(".log");
        EXPECT_NE(requests.find("GET /cgi" + query), std::string::npos) << requests;
        EXPECT_EQ(sx::FilePath(upgrades_path).exists(), k.upgrades != nullptr);
        EXPECT_EQ(file_text(upgrades_path), k.upgrades ? k.upgrades : "");
    }
}

}  // namespace
}  // namespace adtest
