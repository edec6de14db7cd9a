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
    return sx::FilePath(sx::test::host_to_windows_path(from_linux))
        .copy_to(sx::FilePath(directory + name), true);
}

class Road : public AdTest {};

TEST_F(Road, SxplayerShowsAndRemovesTheDefaultAd) {
    sx::testing::ComponentEnvironment env;
    const std::string dir = env.system_components();
    ASSERT_TRUE(sx::FilePath(dir).ensure_directory());
    ASSERT_TRUE(install(ADVERTISING_LIBRARY_PATH, dir, ADVERTISING_FILE_NAME));
    ASSERT_TRUE(install(PIXMILL_LIBRARY_PATH_LINUX, dir, PIXMILL_FILE_NAME));
    ASSERT_TRUE(install(std::string(AD_TEST_DATA_DIR) + "/anim.gif", dir, "anim.gif"));
    ASSERT_TRUE(env.write_index(
        dir, component_record("advertising", std::string("installed_local=library;") +
                                                 ADVERTISING_FILE_NAME +
                                                 "\ninstalled_local=default_ad;anim.gif\n") +
                 component_record("pixmill", std::string("installed_local=library;") +
                                                 PIXMILL_FILE_NAME + "\n")));

    const std::string artifacts = sx::test::host_to_windows_path(AD_ARTIFACT_DIR);
    sx::FilePath(artifacts + "\\").ensure_directory();
    const std::string shot = artifacts + "\\ad_screenshot.png";
    const std::string log = artifacts + "\\ad_road.log";
    sx::FilePath(shot).delete_file();
    uint32_t code = 99;
    std::string errors;
    ASSERT_TRUE(
        sx::test::run_program(sx::quote_argument(sx::test::host_to_windows_path(SXPLAYER_PATH)) +
                                  " --show-ad --delay 600 --run 1200 --screenshot " +
                                  sx::quote_argument(shot) + " --log " + sx::quote_argument(log),
                              &code, &errors));
    std::string text;
    ASSERT_TRUE(sx::test::read_file(log, &text));
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
