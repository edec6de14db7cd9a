// The ad window's layout, scaling, bar, blending and animation, read from its layers.
#include "advertising/surface.h"
#include "advertising/tests/ad_test_host.h"

namespace adtest {
namespace {

const uint32_t kWhite = rgb(255, 255, 255);
const uint32_t kBar = rgb(205, 241, 0);
const uint32_t kStrip = rgb(192, 192, 192);
const uint32_t kRed = rgb(255, 0, 0), kGreen = rgb(0, 255, 0), kBlue = rgb(0, 0, 255);

class Window : public AdTest {
protected:
    const std::string gif_ = test_data("anim.gif");
};

// The strip is 5% of the height within 16 to 32 rows, framed and half filled at half progress
// when it has a bar; a window too narrow or too low for a strip shows only the background.
TEST_F(Window, StripHeightFrameAndBar) {
    struct Case {
        int width, height, strip;
        uint8_t show_bar;
    } cases[] = {{202, 300, 16, 1}, {202, 1000, 32, 1}, {202, 500, 25, 1}, {202, 24, 16, 1},
                 {202, 300, 16, 0}, {20, 300, 0, 1},    {400, 23, 0, 1}};
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.width) + "x" + std::to_string(k.height));
        ad_context* c =
            start(parent(k.width, k.height), k.strip ? nullptr : gif_.c_str(), 0, -1, k.show_bar);
        advertising_set_progress(c, 0.5f);
        advertising_set_message(c, k.strip ? nullptr : "hello");
        clock_.now += 500;
        advertising_heartbeat(c);
        ad::ad_window_paint(c->window);
        EXPECT_EQ(c->window->strip_enabled ? c->window->strip_height : 0, k.strip);
        const int top = k.height - k.strip;
        for (int y = 0; y < k.height; ++y) {
            for (int x = 0; x < k.width; ++x) {
                const bool frame = y == top || y == k.height - 1 || x == 0 || x == k.width - 1 ||
                                   x <= (k.width - 2) / 2;
                const uint32_t expected = y < top ? kWhite : k.show_bar && frame ? kBar : kStrip;
                ASSERT_EQ(pixel(c, x, y), expected) << x << "," << y;
            }
        }
    }
}

TEST_F(Window, PictureIsScaledToNinetyFivePercentAndCentred) {
    int32_t w = 0, h = 0;
    ad::scaled_size(10, 10, 40, 400, &w, &h);  // reduced as well as enlarged
    EXPECT_EQ(w, 38);
    ad_context* c = start(parent(400, 300), gif_.c_str(), 0, -1);
    ASSERT_NE(c->window->current_bitmap, nullptr);
    EXPECT_EQ(c->ad_id, 0);
    EXPECT_EQ(c->window->current_bitmap->width, 360);  // rows of whole words
    // 359 x 269 at x = (400 - 359) / 2 = 20, y = (284 - 269) / 2 = 7; the
    // white square near the top left of the first frame at (88, 50).
    struct Probe {
        int x, y;
        uint32_t expected;
    } probes[] = {{20, 100, kRed},    {19, 100, kWhite}, {378, 100, kRed}, {379, 100, kWhite},
                  {200, 7, kRed},     {200, 6, kWhite},  {200, 275, kRed}, {200, 276, kWhite},
                  {200, 283, kWhite}, {200, 284, kBar},  {88, 50, kWhite}};
    for (const Probe& p : probes) EXPECT_EQ(pixel(c, p.x, p.y), p.expected) << p.x << "," << p.y;
}

// Transparent black, orange at alpha 128 and opaque blue over (10, 20, 30):
// trunc(a/255 * v + (1 - a/255) * b) worked by hand for the middle pixel.
TEST_F(Window, TransparentPixelsTakeTheBackgroundExactly) {
    ad::AdImage* image = ad::load_ad_image(test_data("alpha.png").c_str(), ad::Rgb{10, 20, 30});
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->frames.size(), 1u);
    const uint8_t* px = image->frames[0].pixels.data();
    EXPECT_EQ(std::vector<uint8_t>(px, px + 9),
              (std::vector<uint8_t>{10, 20, 30, 105, 60, 14, 0, 0, 255}));
    ad::free_ad_image(image);
    EXPECT_EQ(ad::load_ad_image(test_data("missing.png").c_str(), ad::Rgb{}), nullptr);
}

// One frame per heartbeat past its time, looping.
TEST_F(Window, AnimationAdvancesOneFramePerHeartbeatAndLoops) {
    ad_context* c = start(parent(400, 300), gif_.c_str(), 0, -1);
    const uint32_t expected[] = {kRed, kGreen, kBlue, kRed, kGreen};
    for (int beat = 0; beat < 5; ++beat) {
        if (beat > 0) clock_.now += 250;
        advertising_heartbeat(c);
        EXPECT_EQ(pixel(c, 200, 142), expected[beat]) << "heartbeat " << beat;
    }
}

}  // namespace
}  // namespace adtest
