// The pixmill stand-in: formats, frames and durations, row order, scaling.
#include <cstdio>
#include <cstring>

#include "advertising/pixmill_api.h"
#include "advertising/tests/ad_test_host.h"
#include "platform/platform.h"
#include "platform/testing/test_support.h"

namespace adtest {
namespace {

class Pixmill : public AdTest {
protected:
    struct Decoded {
        int32_t width = 0, height = 0, frames = 0, format = 0;
        std::vector<uint32_t> durations;
        std::vector<uint8_t> colour, alpha;  // frame 0
    };
    static int32_t read(void* s, void* b, int32_t n) {
        return int32_t(std::fread(b, 1, size_t(n), static_cast<std::FILE*>(s)));
    }
    static int32_t seek(void* s, int32_t o) {
        return std::fseek(static_cast<std::FILE*>(s), o, SEEK_SET) == 0;
    }
    bool decode(const std::string& path, Decoded* d) {
        const ad::PixmillEntries* px = ad::pixmill();
        std::FILE* f = sx::platform().open_file(path.c_str(), "rb");
        if (!f) return false;
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
};

TEST_F(Pixmill, DecodesTheAnimationWithDurationsRowsBottomUp) {
    Decoded d;
    ASSERT_TRUE(decode(anim_gif_path(), &d));
    EXPECT_EQ(d.width, 64);
    EXPECT_EQ(d.height, 48);
    EXPECT_EQ(d.frames, 3);
    EXPECT_EQ(d.durations, (std::vector<uint32_t>{100, 100, 100}));
    // The white square covers rows 4..11 from the top: rows 36..43 from the bottom.
    auto at = [&](int x, int row) { return d.colour[(size_t(row) * 64 + x) * 3 + 1]; };
    EXPECT_EQ(at(10, 40), 255);  // white
    EXPECT_EQ(at(10, 8), 0);     // red: no green
    EXPECT_EQ(d.alpha[0], 255);
}

TEST_F(Pixmill, ReadsPngAndRejectsWhatItCannotDecode) {
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

    Decoded png, b, junk;
    ASSERT_TRUE(decode(dir.file("a.png"), &png));
    EXPECT_EQ(png.frames, 1);
    // Bottom row first: (7,8,9) (10,11,12) then (1,2,3) (4,5,6).
    EXPECT_EQ(png.colour, (std::vector<uint8_t>{7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(png.alpha, (std::vector<uint8_t>{255, 128, 255, 0}));
    ASSERT_TRUE(decode(dir.file("b.bmp"), &b));
    EXPECT_EQ(b.colour, (std::vector<uint8_t>{30, 20, 10}));
    EXPECT_NE(png.format, b.format);
    EXPECT_FALSE(decode(dir.file("junk.png"), &junk));
}

TEST_F(Pixmill, ScaleKeepsFlatColoursAndCorners) {
    const std::vector<uint8_t> flat(4 * 3, 77);
    std::vector<uint8_t> out(9 * 5 * 3, 0);
    ad::pixmill()->scale(2, 2, flat.data(), nullptr, 9, 5, out.data(), nullptr);
    EXPECT_EQ(out, std::vector<uint8_t>(9 * 5 * 3, 77));
    // A 2 x 1 black-white ramp enlarged to 4 x 1 keeps its ends and rises.
    const std::vector<uint8_t> ramp = {0, 0, 0, 255, 255, 255};
    std::vector<uint8_t> wide(4 * 3);
    ad::pixmill()->scale(2, 1, ramp.data(), nullptr, 4, 1, wide.data(), nullptr);
    EXPECT_EQ(wide[0], 0);
    EXPECT_EQ(wide[9], 255);
    EXPECT_LT(wide[3], wide[6]);
}

}  // namespace
}  // namespace adtest
