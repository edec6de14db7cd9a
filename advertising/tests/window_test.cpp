// The ad window's layout, scaling, bar, blending and animation, read pixel
// by pixel from the layers it draws.
#include <algorithm>

#include "advertising/surface.h"
#include "advertising/tests/ad_test_host.h"
#include "platform/testing/test_support.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace adtest {
namespace {

const uint32_t kWhite = rgb(255, 255, 255);
const uint32_t kBar = rgb(205, 241, 0);
const uint32_t kStrip = rgb(192, 192, 192);
const uint32_t kRed = rgb(255, 0, 0), kGreen = rgb(0, 255, 0), kBlue = rgb(0, 0, 255);

class Window : public AdTest {};

// The strip is 5% of the height within 16 to 32 rows; with a bar, its frame
// and half progress fill half the bar inside the frame; without, it is plain.
TEST_F(Window, StripHeightFrameAndBar) {
    struct Case {
        int height, strip;
        uint8_t show_bar;
    } cases[] = {{300, 16, 1}, {1000, 32, 1}, {500, 25, 1}, {24, 16, 1}, {300, 16, 0}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.height);
        ad_context* c = start(parent(202, k.height), nullptr, 0, -1, k.show_bar);
        advertising_set_progress(c, 0.5f);
        advertising_heartbeat(c);
        ad::ad_window_paint(c->window);
        ASSERT_EQ(c->window->strip_height, k.strip);
        const int top = k.height - k.strip;
        EXPECT_EQ(pixel(c, 150, top - 1), kWhite);
        for (int y = top; y < k.height; ++y) {
            for (int x = 0; x < 202; ++x) {
                const bool frame = y == top || y == k.height - 1 || x == 0 || x == 201 || x <= 100;
                ASSERT_EQ(pixel(c, x, y), k.show_bar && frame ? kBar : kStrip) << x << "," << y;
            }
        }
    }
}

TEST_F(Window, TooSmallWindowShowsOnlyTheBackground) {
    const std::string gif = anim_gif_path();
    struct Case {
        int width, height;
    } cases[] = {{20, 300}, {400, 23}};
    for (const Case& k : cases) {
        ad_context* c = start(parent(k.width, k.height), gif.c_str(), 0, -1);
        advertising_set_progress(c, 0.5f);
        advertising_set_message(c, "hello");
        clock_.now += 500;
        advertising_heartbeat(c);
        ad::ad_window_paint(c->window);
        EXPECT_EQ(c->window->strip_enabled, 0);
        EXPECT_EQ(c->window->current_bitmap, nullptr);
        EXPECT_EQ(ad::surface_current_layer(c->window->handle, ad::Layer::strip).pixels, nullptr);
        int other = 0;
        for (int y = 0; y < k.height; ++y) {
            for (int x = 0; x < k.width; ++x) other += pixel(c, x, y) != kWhite;
        }
        EXPECT_EQ(other, 0) << k.width << "x" << k.height;
    }
}

TEST_F(Window, PictureIsScaledToNinetyFivePercentAndCentred) {
    int32_t w = 0, h = 0;
    ad::scaled_size(10, 10, 40, 400, &w, &h);  // reduced as well as enlarged
    EXPECT_EQ(w, 38);

    const std::string gif = anim_gif_path();
    ad_context* c = start(parent(400, 300), gif.c_str(), 0, -1);
    ASSERT_NE(c->window->current_bitmap, nullptr);
    EXPECT_EQ(c->ad_id, 0);
    // 359 x 269 at x = (400 - 359) / 2 = 20, y = (284 - 269) / 2 = 7.
    struct Probe {
        int x, y;
        uint32_t expected;
    } probes[] = {{20, 100, kRed},    {19, 100, kWhite}, {378, 100, kRed}, {379, 100, kWhite},
                  {200, 7, kRed},     {200, 6, kWhite},  {200, 275, kRed}, {200, 276, kWhite},
                  {200, 283, kWhite}, {200, 284, kBar}};
    for (const Probe& p : probes) {
        EXPECT_EQ(pixel(c, p.x, p.y), p.expected) << p.x << "," << p.y;
    }
    EXPECT_EQ(c->window->current_bitmap->width, 360);  // rows of whole words
}

TEST_F(Window, TransparentPixelsTakeTheBackgroundExactly) {
    sx::testing::TemporaryDirectory dir;
    const std::string png = dir.file("alpha.png");
    // Transparent black, half-covered orange, opaque blue.
    ASSERT_TRUE(write_png(png, 3, 1, {0, 0, 0, 0, 200, 100, 0, 128, 0, 0, 255, 255}));
    ad::AdImage* image = ad::load_ad_image(png.c_str(), ad::Rgb{10, 20, 30});
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->frames.size(), 1u);
    const uint8_t* px = image->frames[0].pixels.data();
    // trunc(a/255 * v + (1 - a/255) * b) worked by hand for the middle pixel.
    const std::vector<uint8_t> expected = {10, 20, 30, 105, 60, 14, 0, 0, 255};
    EXPECT_EQ(std::vector<uint8_t>(px, px + 9), expected);
    ad::free_ad_image(image);
    EXPECT_EQ(ad::load_ad_image(dir.file("missing.png").c_str(), ad::Rgb{}), nullptr);
}

TEST_F(Window, AnimationAdvancesOneFramePerHeartbeatAndLoops) {
    const std::string gif = anim_gif_path();
    ad_context* c = start(parent(400, 300), gif.c_str(), 0, -1);
    ASSERT_NE(c->window->image, nullptr);
    ASSERT_EQ(c->window->image->frames.size(), 3u);
    const uint32_t expected[] = {kRed, kGreen, kBlue, kRed, kGreen};
    EXPECT_EQ(pixel(c, 200, 142), expected[0]);
    for (int beat = 1; beat < 5; ++beat) {
        clock_.now += 250;
        advertising_heartbeat(c);
        EXPECT_EQ(pixel(c, 200, 142), expected[beat]) << "heartbeat " << beat;
        EXPECT_EQ(c->window->frame_index, beat % 3);
    }
    // Every frame was converted once; the loop reuses the cache.
    EXPECT_EQ(c->window->cache.size(), 3u);
    EXPECT_FALSE(c->window->scaled_pixels);
    // A heartbeat inside a frame's time repaints nothing but a changed strip.
    const uint32_t full = c->window->full_repaints;
    clock_.now += 50;
    advertising_heartbeat(c);
    EXPECT_EQ(c->window->full_repaints, full);
}

TEST_F(Window, MessageIsCentredButNeverLeftOfFive) {
    struct Case {
        int width;
        const char* text;
        bool centred;
    } cases[] = {{400, "Hi", true}, {60, "A message far wider than its strip", false}};
    for (const Case& k : cases) {
        ad_context* c = start(parent(k.width, 300), nullptr, 0, -1, /*show_bar=*/0);
        advertising_set_message(c, k.text);
        int left = k.width, right = -1;
        for (int y = c->window->picture_height; y < 300; ++y) {
            for (int x = 0; x < k.width; ++x) {
                if (pixel(c, x, y) == kStrip) continue;
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
        ASSERT_GE(right, 0) << k.text;
        if (k.centred) {
            EXPECT_NEAR((left + right) / 2.0, k.width / 2.0, 2.0) << k.text;
        } else {
            EXPECT_GE(left, 5);
            EXPECT_LE(left, 7);  // the first glyph's own side bearing
        }
    }
}

#ifdef _WIN32
TEST_F(Window, FingerOverAClickablePictureAndClicksFromTheWindow) {
    host().library = sx::testing::host_to_windows_path(ADVERTISING_LIBRARY_PATH);
    static int clicks = 0;
    ad_init_info info{parent(400, 300), 0, "", nullptr, nullptr, nullptr, nullptr};
    ad_context* c = advertising_init(&info);
    contexts_.push_back(c);
    ad_start_params2 p{};
    p.no_default = 1;
    p.click_fn = [](void*) { ++clicks; };
    p.finger_cursor = 1;
    advertising_start_ad2(c, &p);
    HWND child =
        GetWindow(reinterpret_cast<HWND>(static_cast<uintptr_t>(parents_.back())), GW_CHILD);
    ASSERT_NE(child, nullptr);
    char name[16] = {};
    GetClassNameA(child, name, sizeof name);
    EXPECT_STREQ(name, "Static");
    EXPECT_EQ(GetPropA(child, "ImageWindowPointer"), c->window);
    HMODULE library = LoadLibraryA(host().library.c_str());
    HCURSOR finger = LoadCursorA(library, "CURSOR_FINGERPOINT");
    ASSERT_NE(finger, nullptr);
    SendMessageA(child, WM_SETCURSOR, reinterpret_cast<WPARAM>(child),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(GetCursor(), finger);
    SendMessageA(child, WM_LBUTTONUP, 0, 0);
    SendMessageA(child, WM_RBUTTONUP, 0, 0);
    EXPECT_EQ(clicks, 2);
    c->window->clickable = 0;
    SendMessageA(child, WM_SETCURSOR, reinterpret_cast<WPARAM>(child),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW)));
    FreeLibrary(library);
}
#endif

}  // namespace
}  // namespace adtest
