// The stand-in pixmill, then the whole road in real processes: sxplayer shows
// the default ad, screenshots and removes it, and reports to an ad server.
#include <cstdio>
#include <cstring>
#include <string>

#include "advertising/pixmill_api.h"
#include "advertising/tests/ad_test_host.h"
#include "components/testing/component_env.h"
#include "platform/platform.h"
#include "platform/testing/test_support.h"

namespace adtest {
namespace {

struct Decoded {
    int32_t width = 0, height = 0, frames = 0, format = 0;
    std::vector<uint32_t> durations;
    std::vector<uint8_t> colour, alpha;  // frame 0, rows bottom-up
    uint32_t at(int x, int y_from_top) const {
        const uint8_t* p = &colour[(size_t(height - 1 - y_from_top) * width + x) * 3];
        return rgb(p[0], p[1], p[2]);
    }
};

bool decode(const std::string& path, Decoded* d) {
    const ad::PixmillEntries* px = ad::pixmill();
    std::FILE* f = sx::platform().open_file(path.c_str(), "rb");
    if (!f) return false;
    auto read = [](void* s, void* b, int32_t n) {
        return int32_t(std::fread(b, 1, size_t(n), static_cast<std::FILE*>(s)));
    };
    auto seek = [](void* s, int32_t o) {
        return int32_t(std::fseek(static_cast<std::FILE*>(s), o, SEEK_SET) == 0);
    };
    void* image = px->open(read, seek, f);
    std::fclose(f);
    if (!image) return false;
    d->width = px->width(image);
    d->height = px->height(image);
    d->frames = px->frames(image);
    d->format = px->get_format(image);
    for (int i = 0; i < d->frames; ++i) d->durations.push_back(px->duration(image, i));
    d->colour.resize(size_t(d->width) * d->height * 3);
    d->alpha.resize(size_t(d->width) * d->height);
    const bool loaded = px->load(image, d->colour.data(), d->alpha.data(), 0);
    px->close(image);
    return loaded;
}

class Road : public AdTest {};

TEST_F(Road, PixmillDecodesGifPngAndBmpRowsBottomUp) {
    sx::testing::TemporaryDirectory dir;
    ASSERT_TRUE(write_png(dir.file("a.png"), 2, 2,
                          {1, 2, 3, 255, 4, 5, 6, 0, 7, 8, 9, 255, 10, 11, 12, 128}));
    ASSERT_TRUE(sx::testing::write_file(dir.file("junk.png"), "not a picture at all"));
    std::string bmp(54, '\0');  // a 1 x 1, 24-bit BMP of colour (30, 20, 10)
    const unsigned char header[] = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  40,
                                    0,   0,   0,  1, 0, 0, 0, 1, 0, 0, 0,  1, 0, 24, 0};
    std::memcpy(&bmp[0], header, sizeof header);
    bmp += std::string("\x0a\x14\x1e\x00", 4);
    ASSERT_TRUE(sx::testing::write_file(dir.file("b.bmp"), bmp));

    Decoded gif, png, b, junk;
    ASSERT_TRUE(decode(anim_gif_path(), &gif));
    EXPECT_EQ(gif.durations, (std::vector<uint32_t>{100, 100, 100}));
    // A white square covers rows 4..11 from the top of the red first frame.
    EXPECT_EQ(gif.at(10, 7), rgb(255, 255, 255));
    EXPECT_EQ(gif.at(10, 39), rgb(255, 0, 0));
    ASSERT_TRUE(decode(dir.file("a.png"), &png));
    EXPECT_EQ(png.colour, (std::vector<uint8_t>{7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(png.alpha, (std::vector<uint8_t>{255, 128, 255, 0}));
    ASSERT_TRUE(decode(dir.file("b.bmp"), &b));
    EXPECT_EQ(b.colour, (std::vector<uint8_t>{30, 20, 10}));
    EXPECT_NE(png.format, b.format);
    EXPECT_FALSE(decode(dir.file("junk.png"), &junk));
}

// advertising, pixmill and the animated default picture, found through the
// component search of the system data directory.
void install_ad_components(sx::testing::ComponentEnvironment& env) {
    const std::string dir = env.system_components();
    EXPECT_TRUE(sx::FilePath(dir).ensure_directory());
    const std::pair<std::string, const char*> files[] = {
        {ADVERTISING_LIBRARY_PATH, ADVERTISING_FILE_NAME},
        {PIXMILL_LIBRARY_PATH_LINUX, PIXMILL_FILE_NAME},
        {std::string(AD_TEST_DATA_DIR) + "/anim.gif", "anim.gif"}};
    for (const auto& [from, name] : files) {
        EXPECT_TRUE(sx::FilePath(sx::testing::host_to_windows_path(from))
                        .copy_to(sx::FilePath(dir + name), true));
    }
    EXPECT_TRUE(env.write_index(dir, std::string("component=advertising\nversion=1\n") +
                                         "installed_local=library;" + ADVERTISING_FILE_NAME +
                                         "\ninstalled_local=default_ad;anim.gif\ncomponentend\n" +
                                         "component=pixmill\nversion=1\ninstalled_local=library;" +
                                         PIXMILL_FILE_NAME + "\ncomponentend\n"));
}

// Runs sxplayer showing the ad and returns its log; it must end well, with
// the ad window gone.
std::string run_sxplayer(const std::string& arguments, const std::string& log_name) {
    const std::string artifacts = sx::testing::host_to_windows_path(AD_ARTIFACT_DIR);
    sx::FilePath(artifacts + "\\").ensure_directory();
    const std::string log = artifacts + "\\" + log_name;
    uint32_t code = 99;
    std::string errors, text;
    EXPECT_TRUE(sx::testing::run_program(
        sx::quote_argument(sx::testing::host_to_windows_path(SXPLAYER_PATH)) + " --show-ad " +
            arguments + " --log " + sx::quote_argument(log),
        &code, &errors));
    EXPECT_TRUE(sx::testing::read_file(log, &text));
    EXPECT_EQ(code, 0u) << text << errors;
    EXPECT_NE(text.find("removed, child windows 0"), std::string::npos) << text;
    return text;
}

TEST_F(Road, SxplayerShowsAndRemovesTheDefaultAd) {
    sx::testing::ComponentEnvironment env;
    install_ad_components(env);
    const std::string shot =
        sx::testing::host_to_windows_path(AD_ARTIFACT_DIR) + "\\ad_screenshot.png";
    sx::FilePath(shot).delete_file();
    const std::string text = run_sxplayer(
        "--delay 600 --run 1200 --screenshot " + sx::quote_argument(shot), "ad_road.log");
    EXPECT_NE(text.find("started, child windows 1"), std::string::npos) << text;
    EXPECT_NE(text.find("screenshot saved"), std::string::npos) << text;

    // The screenshot: picture, strip, bar.
    Decoded d;
    ASSERT_TRUE(decode(shot, &d));
    ASSERT_EQ(d.width * 1000 + d.height, 400300);
    const uint32_t centre = d.at(200, 142);
    EXPECT_TRUE(centre == rgb(255, 0, 0) || centre == rgb(0, 255, 0) || centre == rgb(0, 0, 255))
        << std::hex << centre;
    EXPECT_EQ(d.at(5, 142), rgb(255, 255, 255));
    EXPECT_EQ(d.at(200, 284), rgb(205, 241, 0));  // the strip's frame
    EXPECT_EQ(d.at(1, 290), rgb(205, 241, 0));    // the bar has started
    EXPECT_EQ(d.at(398, 290), rgb(192, 192, 192));
    int text_pixels = 0;  // the message darkens part of the strip
    for (int x = 100; x < 300; ++x) {
        for (int y = 286; y < 298; ++y)
            text_pixels += d.at(x, y) != rgb(205, 241, 0) && d.at(x, y) != rgb(192, 192, 192);
    }
    EXPECT_GT(text_pixels, 20);
}

// The native stand-in ad server (Wine shares the host's network); under Wine
// no handle comes back, so the server ends by its own limits.
struct StandInServer {
    StandInServer(const std::string& mode, const std::string& extra)
        : base(std::string(AD_ARTIFACT_DIR) + "/adserver-" + mode) {
        sx::FilePath(sx::testing::host_to_windows_path(AD_ARTIFACT_DIR) + "\\").ensure_directory();
        const std::string port_file = sx::testing::host_to_windows_path(base + ".port");
        sx::FilePath(port_file).delete_file();
        const std::string command =
            sx::quote_argument(sx::testing::host_to_windows_path(SXADSERVER_PATH)) + " --mode " +
            mode + " --max-requests 1 --time-limit 20000 --port-file " +
            sx::quote_argument(base + ".port") + " --log " + sx::quote_argument(base + ".log") +
            extra;
        if (!sx::platform().start_process(command.c_str(), &process)) process = nullptr;
        for (int i = 0; port == 0 && i < 100; ++i) {
            std::string text;
            if (sx::testing::read_file(port_file, &text)) port = std::atoi(text.c_str());
            if (port == 0) sx::platform().sleep_ms(50);
        }
    }
    ~StandInServer() {
        uint32_t code = 0;
        if (process && !sx::platform().wait_process(process, 0, &code))
            sx::platform().terminate_process(process, 1);
        if (process) sx::platform().close_process(process);
    }
    std::string requests() const {
        std::string text;
        sx::testing::read_file(sx::testing::host_to_windows_path(base + ".log"), &text);
        return text;
    }
    std::string base;
    sx::ProcessHandle process = nullptr;
    int port = 0;
};

TEST_F(Road, SxplayerReportsToTheStandInServer) {
    if (!sx::FilePath(sx::testing::host_to_windows_path(SXADSERVER_PATH)).exists()) {
        GTEST_SKIP() << "no native stand-in ad server at " << SXADSERVER_PATH;
    }
    sx::testing::ComponentEnvironment env;
    install_ad_components(env);
    const std::string upgrades_path = env.scratch() / "system\\upgrades_critical.dat";
    const std::string user = env.scratch() / "appdata\\Stellarix\\Stellarix Player\\";
    ASSERT_TRUE(sx::FilePath(user).ensure_directory());
    const struct {
        const char* mode;
        const char* server_options;
        const char* fetch_timeout;
        const char* fetch_outcome;
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
        EXPECT_NE(server.requests().find("GET /cgi" + query), std::string::npos)
            << server.requests();
        std::string upgrades;
        const bool exists = sx::testing::read_file(upgrades_path, &upgrades);
        EXPECT_EQ(exists, k.upgrades != nullptr) << upgrades;
        EXPECT_EQ(upgrades, k.upgrades ? k.upgrades : "");
    }
}

}  // namespace
}  // namespace adtest
