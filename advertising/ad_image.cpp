#include "advertising/ad_image.h"

#include <cstdio>

#include "include/advertising.h"

#include "advertising/ad_log.h"
#include "advertising/pixmill_api.h"
#include "platform/platform.h"

namespace ad {

namespace {

extern "C" int32_t read_stream(void* stream, void* buffer, int32_t count) {
    if (count <= 0) return 0;
    return static_cast<int32_t>(
        std::fread(buffer, 1, static_cast<std::size_t>(count), static_cast<std::FILE*>(stream)));
}

extern "C" int32_t seek_stream(void* stream, int32_t offset) {
    return offset >= 0 && std::fseek(static_cast<std::FILE*>(stream), offset, SEEK_SET) == 0;
}

struct FileCloser {
    std::FILE* file;
    ~FileCloser() { std::fclose(file); }
};

struct DecoderCloser {
    const PixmillEntries* pixmill;
    void* image;
    ~DecoderCloser() { pixmill->close(image); }
};

void blend_frame(uint8_t* colour, const uint8_t* alpha, std::size_t pixels, Rgb b) {
    for (std::size_t i = 0; i < pixels; ++i) {
        colour[3 * i] = blend_byte(colour[3 * i], alpha[i], b.r);
        colour[3 * i + 1] = blend_byte(colour[3 * i + 1], alpha[i], b.g);
        colour[3 * i + 2] = blend_byte(colour[3 * i + 2], alpha[i], b.b);
    }
}

// a * b in size_t; false when it does not fit.
bool multiply(std::size_t a, std::size_t b, std::size_t* product) {
    return !__builtin_mul_overflow(a, b, product);
}

// Appends frame `index` when pixmill decodes it; a frame it cannot decode is skipped.
void load_frame(const PixmillEntries& px, void* decoder, int32_t index, AdImage* image) {
    const int32_t w = px.width(decoder), h = px.height(decoder);
    // The size was judged before the first frame; a decoder that changes it
    // midway is not believed.
    if (picture_over_budget(w, h, 1) != nullptr) return;
    const std::size_t pixels = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    AdFrame frame;
    frame.width = w;
    frame.height = h;
    frame.duration = px.duration(decoder, index);
    HostBuffer colour(pixels * 3), alpha(pixels);
    if (!px.load(decoder, colour.data(), alpha.data(), index)) return;
    blend_frame(colour.data(), alpha.data(), pixels, image->blend);
    frame.pixels = std::move(colour);
    image->frames.push_back(std::move(frame));
}

}  // namespace

const char* picture_over_budget(int32_t width, int32_t height, int32_t frames) {
    if (width <= 0 || height <= 0 || frames <= 0) return "it has no pixels";
    if (width > AD_MAX_PICTURE_SIDE || height > AD_MAX_PICTURE_SIDE)
        return "it is larger than 4096 x 4096 pixels";
    if (frames > AD_MAX_PICTURE_FRAMES) return "it has more than 256 frames";
    // Each product in size_t, checked: in the 32-bit product w * h * 4 wraps
    // long before 64 bits would.
    std::size_t pixels = 0, frame_bytes = 0, all_bytes = 0;
    if (!multiply(std::size_t(width), std::size_t(height), &pixels) ||
        !multiply(pixels, 4, &frame_bytes) ||
        !multiply(frame_bytes, std::size_t(frames), &all_bytes))
        return "its decoded size overflows";
    if (all_bytes > AD_MAX_DECODED_BYTES) return "its frames would take more than 64 MB decoded";
    return nullptr;
}

uint8_t blend_byte(uint8_t v, uint8_t a, uint8_t b) {
    const double f = a / 255.0;
    return static_cast<uint8_t>(f * v + (1.0 - f) * b);
}

AdImage* load_ad_image(const char* path, Rgb blend) {
    const PixmillEntries* px = pixmill();
    if (!px || !path || !*path) return nullptr;
    std::FILE* file = sx::platform().open_file(path, "rb");
    if (!file) {
        note("picture %s cannot be opened (system error %ld)", path, sx::platform().last_error());
        return nullptr;
    }
    FileCloser file_closer{file};
    void* decoder = px->open(read_stream, seek_stream, file);
    if (!decoder) {
        note("picture %s cannot be decoded", path);
        return nullptr;
    }
    DecoderCloser decoder_closer{px, decoder};
    const int32_t count = px->frames(decoder);
    const int32_t width = px->width(decoder), height = px->height(decoder);
    if (const char* reason = picture_over_budget(width, height, count)) {
        note("picture %s refused: %ld x %ld pixels, %ld frame(s): %s", path, long(width),
             long(height), long(count), reason);
        return nullptr;
    }
    AdImage* image = host_new<AdImage>();
    image->blend = blend;
    try {
        for (int32_t i = 0; i < count; ++i) load_frame(*px, decoder, i, image);
    } catch (...) {
        free_ad_image(image);
        throw;
    }
    if (image->frames.empty()) {
        note("picture %s: no frame could be decoded", path);
        free_ad_image(image);
        return nullptr;
    }
    return image;
}

void free_ad_image(AdImage* image) { host_delete(image); }

}  // namespace ad
