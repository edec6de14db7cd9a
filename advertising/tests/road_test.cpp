// sxplayer shows the default ad, screenshots and removes it (the report: see the road scripts).
#include <memory>
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

TEST_F(Road, SxplayerShowsAndRemovesTheDefaultAd) {
    // advertising, pixmill and the default picture as components of the system data directory.
    sx::testing::ComponentEnvironment env;
    const std::string dir = env.system_components();
    ASSERT_TRUE(sx::FilePath(dir).ensure_directory());
    const std::pair<std::string, const char*> files[] = {
        {ADVERTISING_LIBRARY_PATH, ADVERTISING_FILE_NAME},
        {PIXMILL_LIBRARY_PATH_LINUX, PIXMILL_FILE_NAME},
        {std::string(AD_TEST_DATA_DIR) + "/anim.gif", "anim.gif"}};
    for (const auto& [from, name] : files)
        ASSERT_TRUE(sx::FilePath(sx::testing::host_to_windows_path(from))
                        .copy_to(sx::FilePath(dir + name), true));
    ASSERT_TRUE(env.write_index(dir, std::string("component=advertising\nversion=1\n") +
                                         "installed_local=library;" + ADVERTISING_FILE_NAME +
                                         "\ninstalled_local=default_ad;anim.gif\ncomponentend\n" +
                                         "component=pixmill\nversion=1\ninstalled_local=library;" +
                                         PIXMILL_FILE_NAME + "\ncomponentend\n"));
    const std::string artifacts = sx::testing::host_to_windows_path(AD_ARTIFACT_DIR) + "\\";
    const std::string shot = artifacts + "ad_screenshot.png", log = artifacts + "ad_road.log";
    sx::FilePath(artifacts).ensure_directory();
    sx::FilePath(shot).delete_file();
    uint32_t code = 99;
    std::string errors;
    ASSERT_TRUE(sx::testing::run_program(
        sx::quote_argument(sx::testing::host_to_windows_path(SXPLAYER_PATH)) +
            " --show-ad --delay 600 --run 1200 --screenshot " + sx::quote_argument(shot) +
            " --log " + sx::quote_argument(log),
        &code, &errors));
    const std::string text = file_text(log);
    EXPECT_EQ(code, 0u) << text << errors;
    for (const char* line :
         {"started, child windows 1", "screenshot saved", "removed, child windows 0"})
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;

    // The screenshot: picture, strip's frame, the bar started, the message.
    const std::string png = file_text(shot);
    int width = 0, height = 0, channels = 0;
    const std::unique_ptr<uint8_t, void (*)(void*)> rows(
        stbi_load_from_memory(reinterpret_cast<const uint8_t*>(png.data()), int(png.size()), &width,
                              &height, &channels, 3),
        stbi_image_free);
    ASSERT_TRUE(rows && width == 400 && height == 300) << width << "x" << height;
    auto at = [&](int x, int y) {
        const uint8_t* p = rows.get() + (size_t(y) * width + x) * 3;
        return rgb(p[0], p[1], p[2]);
    };
    const uint32_t bar = rgb(205, 241, 0), strip = rgb(192, 192, 192), centre = at(200, 142);
    EXPECT_TRUE(centre == rgb(255, 0, 0) || centre == rgb(0, 255, 0) || centre == rgb(0, 0, 255))
        << std::hex << centre;
    EXPECT_EQ((std::vector<uint32_t>{at(5, 142), at(200, 284), at(1, 290), at(398, 290)}),
              (std::vector<uint32_t>{rgb(255, 255, 255), bar, bar, strip}));
    int text_pixels = 0;
    for (int x = 100; x < 300; ++x)
        for (int y = 286; y < 298; ++y) text_pixels += at(x, y) != bar && at(x, y) != strip;
    EXPECT_GT(text_pixels, 20);
}

}  // namespace
}  // namespace adtest
