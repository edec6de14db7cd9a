// Picture bombs: refused from their declared size before anything is decoded,
// the default picture shown instead and the reason noted.
#include <cstring>
#include <string>
#include <vector>

#include "advertising/ad_image.h"
#include "advertising/pixmill_api.h"
#include "advertising/tests/ad_test_host.h"
#include "platform/platform.h"
#include "platform/testing/test_support.h"
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include "stb_image_write.h"

namespace adtest {
namespace {

std::string be32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }
std::string le16(uint32_t v) { return {char(v), char(v >> 8)}; }
std::string le32(uint32_t v) { return le16(v) + le16(v >> 16); }

// A PNG that only declares its size: signature, header chunk, end chunk.
std::string png_header(uint32_t width, uint32_t height) {
    const std::string ihdr = "IHDR" + be32(width) + be32(height) + std::string("\x08\x06\0\0\0", 5);
    return "\x89PNG\r\n\x1a\n" + be32(13) + ihdr + be32(0) + be32(0) + "IEND" + be32(0);
}

// A 16 x 16 PNG (grey and alpha, 8 bits) with one image data chunk that
// claims `claimed` bytes and holds `data`.
std::string png_with_data(const std::string& data, uint32_t claimed) {
    const std::string ihdr = "IHDR" + be32(16) + be32(16) + std::string("\x08\x04\0\0\0", 5);
    return "\x89PNG\r\n\x1a\n" + be32(13) + ihdr + be32(0) + be32(claimed) + "IDAT" + data +
           be32(0) + be32(0) + "IEND" + be32(0);
}

// `size` zero bytes, deflated.
std::string deflated_zeros(int size) {
    std::string zeros(std::size_t(size), '\0');
    int length = 0;
    unsigned char* z =
        stbi_zlib_compress(reinterpret_cast<unsigned char*>(&zeros[0]), size, &length, 8);
    std::string out(reinterpret_cast<char*>(z), std::size_t(length));
    STBIW_FREE(z);
    return out;
}

// A GIF of `frames` images on a width x height canvas, each image one pixel.
std::string gif(uint32_t width, uint32_t height, int frames) {
    std::string g = "GIF89a" + le16(width) + le16(height) + std::string("\x80\0\0", 3) +
                    std::string("\0\0\0\xff\xff\xff", 6);
    for (int i = 0; i < frames; ++i)
        g += std::string("\x2c\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0", 15);
    return g + ";";
}

// A 24-bit BMP header declaring width x height, with one row of pixels.
std::string bmp_header(uint32_t width, uint32_t height) {
    return "BM" + le32(0) + le32(0) + le32(54) + le32(40) + le32(width) + le32(height) + le16(1) +
           le16(24) + le32(0) + le32(0) + le32(0) + le32(0) + le32(0) + le32(0) +
           std::string(64, '\0');
}

void collect(void* lines, const char* line) {
    static_cast<std::vector<std::string>*>(lines)->push_back(line);
}

class PictureBudget : public AdTest {
protected:
    void SetUp() override {
        AdTest::SetUp();
        advertising_set_log(collect, &notes_);
    }
    void TearDown() override {
        advertising_set_log(nullptr, nullptr);
        AdTest::TearDown();
    }
    std::string notes() const {
        std::string all;
        for (const std::string& n : notes_) all += n + "\n";
        return all;
    }
    // Starts a showing of `picture` with anim.gif as the default picture.
    ad_context* show(const std::string& picture) {
        host().default_ad = test_data("anim.gif");
        ad_context* c = open({parent(400, 300), 7, "bu", nullptr, nullptr, nullptr, nullptr});
        ad_start_params2 p{};
        p.image_path = picture.c_str();
        p.show_bar = 1;
        advertising_start_ad2(c, &p);
        return c;
    }

    std::vector<std::string> notes_;
    sx::testing::TemporaryDirectory work_;
};

TEST_F(PictureBudget, LimitsAndProductsThatOverflow) {
    const struct {
        int32_t width, height, frames;
        bool refused;
    } cases[] = {
        {4096, 4096, 1, false},  {4097, 1, 1, true},
        {1, 4097, 1, true},      {16777216, 1, 1, true},
        {65536, 65537, 1, true}, {2048, 2048, 4, false},
        {2048, 2048, 5, true},   {1, 1, 256, false},
        {1, 1, 257, true},       {4096, 4096, 256, true},  // 2^34 bytes: wraps a 32-bit size_t
        {0, 10, 1, true},        {10, -1, 1, true},
        {10, 10, 0, true},       {INT32_MAX, INT32_MAX, INT32_MAX, true},
    };
    for (const auto& k : cases) {
        const char* reason = ad::picture_over_budget(k.width, k.height, k.frames);
        EXPECT_EQ(reason != nullptr, k.refused)
            << k.width << " x " << k.height << " x " << k.frames << ": " << (reason ? reason : "");
    }
}

// Declared sizes that only the header tells: each refused, the default shown.
TEST_F(PictureBudget, BombsFallBackToTheDefaultPictureWithTheReasonNoted) {
    const struct {
        const char* name;
        std::string bytes;
        const char* reason;  // in the note
    } cases[] = {
        {"large.png", png_header(8000, 8000), "larger than 4096 x 4096"},
        // w * h * 4 wraps a 32-bit size_t; the stand-in decoder already balks
        // at this PNG header, the GIF one it reports.
        {"wrap32.png", png_header(65536, 65537), "cannot be decoded"},
        {"wrap32.gif", gif(65535, 65535, 1), "larger than 4096 x 4096"},
        {"frames.gif", gif(200, 200, 5000), "more than 256 frames"},
        {"heavy.gif", gif(4096, 4096, 2), "more than 64 MB"},
        {"long.bmp", bmp_header(16777216, 1), "16777216"},
        // A chunk that claims 1.8 GB: the decoder would reserve it first.
        {"claims.png", png_with_data("x", 0x6f726d41), "cannot be decoded"},
        // 16 x 16 pixels whose data inflates to 16 MB: refused by its inflated size.
        {"inflates.png",
         [] {
             const std::string data = deflated_zeros(16 << 20);
             return png_with_data(data, uint32_t(data.size()));
         }(),
         "no frame could be decoded"},
    };
    for (const auto& k : cases) {
        const std::string path = work_.file(k.name);
        ASSERT_TRUE(sx::testing::write_file(path, k.bytes));
        notes_.clear();
        ad_context* c = show(path);
        ASSERT_TRUE(c->window && c->window->image) << k.name;
        EXPECT_EQ(c->window->image->frames.size(), 3u) << k.name;  // anim.gif
        EXPECT_EQ(std::string(c->picture_path.c_str()), test_data("anim.gif")) << k.name;
        EXPECT_EQ(c->ad_id, 0) << k.name;
        EXPECT_NE(notes().find(path), std::string::npos) << k.name << ": " << notes();
        EXPECT_NE(notes().find(k.reason), std::string::npos) << k.name << ": " << notes();
    }
    notes_.clear();
    ad_context* c = show(work_.file("missing.png"));
    EXPECT_NE(notes().find("missing.png cannot be opened"), std::string::npos) << notes();
    EXPECT_EQ(c->window->image->frames.size(), 3u);
}

// A large picture is decoded by a worker and shown by a later heartbeat; a broken
// one falls back to the default; a removal or shutdown meanwhile loses nothing.
TEST_F(PictureBudget, LargePicturesAreDecodedOffThePlayersThread) {
    const int side = 640;  // 1.6 MB decoded
    std::vector<uint8_t> rgb(std::size_t(side) * side * 3, 0);
    for (std::size_t i = 0; i < rgb.size(); i += 3) rgb[i] = 200;  // red
    const std::string large = work_.file("large.png");
    std::string bytes;
    stbi_write_png_to_func(
        [](void* out, void* data, int size) {
            static_cast<std::string*>(out)->append(static_cast<char*>(data), size);
        },
        &bytes, side, side, 3, rgb.data(), side * 3);
    ASSERT_TRUE(sx::testing::write_file(large, bytes));
    // The same chunks, the image data spoilt: it fails only when decoded.
    std::string broken = bytes;
    for (std::size_t i = 41; i + 20 < broken.size(); ++i) broken[i] = '\x55';
    const std::string bad = work_.file("broken.png");
    ASSERT_TRUE(sx::testing::write_file(bad, broken));

    const auto settle = [](ad_context* c) {
        for (int i = 0; i < 1000 && (c->picture_job || (c->window && !c->window->image)); ++i)
            sx::platform().sleep_ms(5), advertising_heartbeat(c);
    };
    const struct {
        std::string path;
        std::size_t frames;  // of the picture shown at the end
        std::string shown;
    } cases[] = {{large, 1, large}, {bad, 3, test_data("anim.gif")}};
    for (const auto& k : cases) {
        notes_.clear();
        ad_context* c = show(k.path);
        ASSERT_NE(c->picture_job, nullptr) << k.path;
        EXPECT_EQ(c->ad_id, 0);
        settle(c);
        ASSERT_EQ(c->picture_job, nullptr) << k.path;
        ASSERT_TRUE(c->window->image) << k.path << notes();
        EXPECT_EQ(c->window->image->frames.size(), k.frames) << k.path;
        EXPECT_EQ(std::string(c->picture_path.c_str()), k.shown);
        EXPECT_EQ(c->ad_id, 0);
    }
    EXPECT_NE(notes().find("broken.png: no frame could be decoded"), std::string::npos) << notes();
    ad_context* removed = show(large);
    advertising_remove(removed, nullptr);
    settle(removed);
    EXPECT_EQ(removed->picture_job, nullptr);
    // The shutdown waits for the worker; TearDown counts the blocks.
    advertising_shutdown(show(large));
    contexts_.pop_back();
}

// A decoder that believes any header: the library's own check stops it before
// a buffer is sized, in the 32-bit product too.
int32_t g_loads = 0;

TEST_F(PictureBudget, TheLibraryChecksWhatTheDecoderDeclares) {
    auto* entries = const_cast<ad::PixmillEntries*>(ad::pixmill());
    ASSERT_NE(entries, nullptr);
    const ad::PixmillEntries real = *entries;
    entries->open = [](pixmill_read_fn, pixmill_seek_fn, void*) -> void* { return &g_loads; };
    entries->width = [](void*) -> int32_t { return 65536; };
    entries->height = [](void*) -> int32_t { return 65537; };
    entries->frames = [](void*) -> int32_t { return 1; };
    entries->duration = [](void*, int32_t) -> uint32_t { return 0; };
    entries->load = [](void*, uint8_t*, uint8_t*, int32_t) { return ++g_loads, false; };
    entries->close = [](void*) {};
    g_loads = 0;
    ad::AdImage* image = ad::load_ad_image(test_data("anim.gif").c_str(), ad::Rgb{1, 2, 3});
    *entries = real;
    EXPECT_EQ(image, nullptr);
    EXPECT_EQ(g_loads, 0);
    EXPECT_NE(notes().find("65536 x 65537"), std::string::npos) << notes();
    ad::free_ad_image(image);
}

}  // namespace
}  // namespace adtest
