// pixmill stand-in: decodes PNG, JPEG, BMP and GIF (every frame of an
// animation with its display time) and resamples pictures. Frames come out as
// three colour bytes and one alpha byte per pixel, rows bottom-up as a
// device-independent bitmap stores them, so a caller can copy rows straight
// into one.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_NO_STDIO
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_ONLY_GIF
#include "stb_image.h"
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include "stb_image_write.h"

#include "advertising/pixmill_api.h"

#if defined(_WIN32)
#define PIXMILL_API extern "C" __declspec(dllexport)
#else
#define PIXMILL_API extern "C" __attribute__((visibility("default")))
#endif

namespace {

enum Format : int32_t { kUnknown = 0, kBmp = 1, kGif = 2, kJpeg = 3, kPng = 4 };

// A gif frame without a delay would spin; browsers show such frames for 100 ms.
constexpr uint32_t kDefaultGifDelay = 100;

struct Picture {
    int width = 0, height = 0, frames = 0;
    Format format = kUnknown;
    std::vector<uint8_t> rgba;  // frames x height x width x 4, rows top-down
    std::vector<uint32_t> durations;
};

Format format_of(const std::vector<uint8_t>& d) {
    if (d.size() >= 8 && std::memcmp(d.data(), "\x89PNG", 4) == 0) return kPng;
    if (d.size() >= 6 && std::memcmp(d.data(), "GIF8", 4) == 0) return kGif;
    if (d.size() >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return kJpeg;
    if (d.size() >= 2 && d[0] == 'B' && d[1] == 'M') return kBmp;
    return kUnknown;
}

bool read_all(pixmill_read_fn read, void* stream, std::vector<uint8_t>* data) {
    uint8_t chunk[16384];
    for (;;) {
        const int32_t got = read(stream, chunk, sizeof chunk);
        if (got < 0) return false;
        if (got == 0) return true;
        data->insert(data->end(), chunk, chunk + got);
    }
}

bool decode(const std::vector<uint8_t>& data, Picture* p) {
    const int size = static_cast<int>(data.size());
    int channels = 0;
    stbi_uc* pixels = nullptr;
    int* delays = nullptr;
    if (p->format == kGif) {
        pixels = stbi_load_gif_from_memory(data.data(), size, &delays, &p->width, &p->height,
                                           &p->frames, &channels, 4);
    } else {
        pixels = stbi_load_from_memory(data.data(), size, &p->width, &p->height, &channels, 4);
        p->frames = 1;
    }
    if (!pixels || p->width <= 0 || p->height <= 0 || p->frames <= 0) {
        stbi_image_free(pixels);
        stbi_image_free(delays);
        return false;
    }
    const std::size_t bytes = std::size_t(p->width) * p->height * 4 * p->frames;
    p->rgba.assign(pixels, pixels + bytes);
    for (int i = 0; i < p->frames; ++i) {
        const int delay = delays ? delays[i] : 0;
        p->durations.push_back(delay > 0           ? uint32_t(delay)
                               : p->format == kGif ? kDefaultGifDelay
                                                   : 0);
    }
    stbi_image_free(pixels);
    stbi_image_free(delays);
    return true;
}

Picture* picture(void* image) { return static_cast<Picture*>(image); }

// Bilinear sample of channel c at (x, y) of a three-byte picture.
float sample(const uint8_t* src, int w, int h, float x, float y, int c) {
    x = std::fmin(std::fmax(x, 0.0f), float(w - 1));
    y = std::fmin(std::fmax(y, 0.0f), float(h - 1));
    const int x0 = int(x), y0 = int(y);
    const int x1 = x0 + 1 < w ? x0 + 1 : x0, y1 = y0 + 1 < h ? y0 + 1 : y0;
    const float fx = x - x0, fy = y - y0;
    auto at = [&](int px, int py) { return float(src[(std::size_t(py) * w + px) * 3 + c]); };
    const float top = at(x0, y0) * (1 - fx) + at(x1, y0) * fx;
    const float bottom = at(x0, y1) * (1 - fx) + at(x1, y1) * fx;
    return top * (1 - fy) + bottom * fy;
}

}  // namespace

PIXMILL_API void* pixmill_open(pixmill_read_fn read, pixmill_seek_fn seek, void* stream) {
    if (!read || !seek) return nullptr;
    try {
        std::vector<uint8_t> data;
        if (!seek(stream, 0) || !read_all(read, stream, &data)) return nullptr;
        auto* p = new Picture;
        p->format = format_of(data);
        if (p->format == kUnknown || !decode(data, p)) {
            delete p;
            return nullptr;
        }
        return p;
    } catch (...) {
        return nullptr;
    }
}

PIXMILL_API int32_t pixmill_width(void* image) { return image ? picture(image)->width : 0; }
PIXMILL_API int32_t pixmill_height(void* image) { return image ? picture(image)->height : 0; }
PIXMILL_API int32_t pixmill_frames(void* image) { return image ? picture(image)->frames : 0; }
PIXMILL_API int32_t pixmill_get_format(void* image) {
    return image ? picture(image)->format : kUnknown;
}

PIXMILL_API uint32_t pixmill_duration(void* image, int32_t frame) {
    if (!image || frame < 0 || frame >= picture(image)->frames) return 0;
    return picture(image)->durations[frame];
}

PIXMILL_API int32_t pixmill_has_alpha(void* image) {
    if (!image) return 0;
    const auto& rgba = picture(image)->rgba;
    for (std::size_t i = 3; i < rgba.size(); i += 4) {
        if (rgba[i] != 255) return 1;
    }
    return 0;
}

PIXMILL_API bool pixmill_load(void* image, uint8_t* colour, uint8_t* alpha, int32_t frame) {
    if (!image || !colour || !alpha || frame < 0 || frame >= picture(image)->frames) return false;
    const Picture& p = *picture(image);
    const std::size_t frame_pixels = std::size_t(p.width) * p.height;
    const uint8_t* source = p.rgba.data() + frame_pixels * 4 * frame;
    for (int row = 0; row < p.height; ++row) {
        const uint8_t* from = source + std::size_t(p.height - 1 - row) * p.width * 4;
        for (int x = 0; x < p.width; ++x) {
            const std::size_t to = std::size_t(row) * p.width + x;
            std::memcpy(colour + to * 3, from + x * 4, 3);
            alpha[to] = from[x * 4 + 3];
        }
    }
    return true;
}

PIXMILL_API void pixmill_close(void* image) { delete picture(image); }

PIXMILL_API void pixmill_scale(int32_t sw, int32_t sh, const uint8_t* src, const void*, int32_t tw,
                               int32_t th, uint8_t* dst, void*) {
    if (sw <= 0 || sh <= 0 || tw <= 0 || th <= 0 || !src || !dst) return;
    const float kx = float(sw) / float(tw), ky = float(sh) / float(th);
    for (int y = 0; y < th; ++y) {
        for (int x = 0; x < tw; ++x) {
            const float sx = (x + 0.5f) * kx - 0.5f, sy = (y + 0.5f) * ky - 0.5f;
            for (int c = 0; c < 3; ++c) {
                const float v = sample(src, sw, sh, sx, sy, c);
                dst[(std::size_t(y) * tw + x) * 3 + c] = uint8_t(std::lround(v));
            }
        }
    }
}

// Writes a three-byte picture (rows bottom-up) as a PNG file; 1 on success.
PIXMILL_API int32_t pixmill_save(const char* path, int32_t width, int32_t height,
                                 const uint8_t* colour) {
    if (!path || !colour || width <= 0 || height <= 0) return 0;
    const std::size_t stride = std::size_t(width) * 3;
    try {
        std::vector<uint8_t> top_down(stride * height);
        for (int32_t row = 0; row < height; ++row) {
            std::memcpy(&top_down[stride * row], colour + stride * (height - 1 - row), stride);
        }
        return stbi_write_png(path, width, height, 3, top_down.data(), int(stride)) != 0;
    } catch (...) {
        return 0;
    }
}
