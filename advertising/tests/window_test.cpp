// The ad window's layout, scaling, bar, blending and animation, read pixel
// by pixel from the layers it draws.
#include <algorithm>
#include <cstdlib>

#include "advertising/surface.h"
#include "advertising/tests/ad_test_host.h"

#ifdef _WIN32
#include <windows.h>
#endif

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

// The strip is 5% of the height within 16 to 32 rows; with a bar, its frame
// and half progress fill half the bar inside the frame; without, it is plain.
// A window too narrow or too low for a strip shows only the background.
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

// One frame per heartbeat, looping over frames converted once; a heartbeat
// inside a frame's time repaints nothing.
TEST_F(Window, AnimationAdvancesOneFramePerHeartbeatAndLoops) {
    ad_context* c = start(parent(400, 300), gif_.c_str(), 0, -1);
    const uint32_t expected[] = {kRed, kGreen, kBlue, kRed, kGreen};
    for (int beat = 0; beat < 5; ++beat) {
        if (beat > 0) clock_.now += 250;
        advertising_heartbeat(c);
        EXPECT_EQ(pixel(c, 200, 142), expected[beat]) << "heartbeat " << beat;
    }
    EXPECT_EQ(c->window->cache.size(), 3u);
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
        // Centred within 2 pixels, or from 5 (7 with the first glyph's side bearing).
        EXPECT_TRUE(k.centred ? std::abs(left + right - k.width) <= 4 : left >= 5 && left <= 7)
            << k.text << ": " << left << ".." << right;
    }
}

#ifdef _WIN32
// The real child window: the library's finger cursor over a clickable
// picture, and both buttons' clicks.
TEST_F(Window, FingerOverAClickablePictureAndClicksFromTheWindow) {
    host().library = sx::testing::host_to_windows_path(ADVERTISING_LIBRARY_PATH);
    static int clicks = 0;
    ad_context* c = open({parent(400, 300), 0, "", nullptr, nullptr, nullptr, nullptr});
    ad_start_params2 p{};
    p.no_default = 1;
    p.click_fn = [](void*) { ++clicks; };
    p.finger_cursor = 1;
    advertising_start_ad2(c, &p);
    HWND child =
        GetWindow(reinterpret_cast<HWND>(static_cast<uintptr_t>(parents_.back())), GW_CHILD);
    ASSERT_NE(child, nullptr);
    HMODULE library = LoadLibraryA(host().library.c_str());
    HCURSOR finger = LoadCursorA(library, "CURSOR_FINGERPOINT");
    ASSERT_NE(finger, nullptr);
    const LPARAM move = MAKELPARAM(HTCLIENT, WM_MOUSEMOVE);
    SendMessageA(child, WM_SETCURSOR, reinterpret_cast<WPARAM>(child), move);
    EXPECT_EQ(GetCursor(), finger);
    SendMessageA(child, WM_LBUTTONUP, 0, 0);
    SendMessageA(child, WM_RBUTTONUP, 0, 0);
    EXPECT_EQ(clicks, 2);
    c->window->clickable = 0;
    SendMessageA(child, WM_SETCURSOR, reinterpret_cast<WPARAM>(child), move);
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW)));
    FreeLibrary(library);
}
#endif

}  // namespace
}  // namespace adtest
