// pixmill stand-in: decodes PNG, JPEG, BMP and GIF (every frame of an
// animation with its display time) and resamples pictures. Frames come out as
// three colour bytes and one alpha byte per pixel, rows bottom-up as a
// device-independent bitmap stores them, so a caller can copy rows straight
// into one.
//
// Opening reads the file (at most kMaxFileBytes) and its header only: the
// size and the frame count are known before anything is decoded, so a caller
// can refuse a picture that would not fit its memory. The pixels are decoded
// at the first pixmill_load, and only within the budget below (a picture
// over it never decodes).
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

// The budget: a picture over it is never decoded.
constexpr std::size_t kMaxFileBytes = 32u << 20;
constexpr int kMaxSide = 4096;
constexpr int kMaxFrames = 256;
constexpr uint64_t kMaxDecodedBytes = 64u << 20;  // all frames, four bytes a pixel
// A PNG's inflated image data: 4096 x 4096 at four bytes a pixel with a
// filter byte a row, so a picture within the budget (up to 16-bit grey and
// alpha) fits.
constexpr uint64_t kMaxRawPngBytes = (64u << 20) + 4096;

struct Picture {
    int width = 0, height = 0, frames = 0;
    Format format = kUnknown;
    std::vector<uint8_t> data;  // the file, until it is decoded
    bool decoded = false, failed = false;
    std::vector<uint8_t> rgba;  // frames x height x width x 4, rows top-down
    std::vector<uint32_t> durations;
};

bool within_budget(int width, int height, int frames) {
    if (width <= 0 || height <= 0 || frames <= 0) return false;
    if (width > kMaxSide || height > kMaxSide || frames > kMaxFrames) return false;
    return uint64_t(width) * uint64_t(height) * 4u * uint64_t(frames) <= kMaxDecodedBytes;
}

// Skips a run of gif data sub-blocks; false when the file ends inside it.
bool skip_sub_blocks(const std::vector<uint8_t>& d, std::size_t* at) {
    for (;;) {
        if (*at >= d.size()) return false;
        const std::size_t size = d[(*at)++];
        if (size == 0) return true;
        *at += size;
    }
}

// The number of images in a gif, counted from its block structure without
// decoding anything; 0 when the structure is broken. Stops counting past
// `limit`: the caller refuses such a picture anyway.
int count_gif_frames(const std::vector<uint8_t>& d, int limit) {
    std::size_t at = 13;
    if (d.size() < at) return 0;
    if (d[10] & 0x80) at += 3u << ((d[10] & 7) + 1);
    int frames = 0;
    while (at < d.size()) {
        const uint8_t kind = d[at++];
        if (kind == 0x3B) break;  // trailer
        if (kind == 0x21) {       // extension: label, then sub-blocks
            ++at;
            if (!skip_sub_blocks(d, &at)) break;
        } else if (kind == 0x2C) {  // image: descriptor, colour table, code size, data
            if (at + 9 > d.size()) break;
            const uint8_t flags = d[at + 8];
            at += 9;
            if (flags & 0x80) at += 3u << ((flags & 7) + 1);
            ++at;
            if (++frames > limit) return frames;
            if (!skip_sub_blocks(d, &at)) break;
        } else {
            break;
        }
    }
    return frames;
}

uint32_t be32(const uint8_t* b) {
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
}

// The bytes a PNG's image data inflates to, from its header (interlaced
// pictures have seven passes, each row with its filter byte); 0 when the
// header is not one we can judge.
uint64_t png_raw_size(const std::vector<uint8_t>& d) {
    if (d.size() < 33) return 0;
    const uint64_t w = be32(&d[16]), h = be32(&d[20]);
    const int depth = d[24], type = d[25], interlaced = d[28];
    const int channels = type == 0 ? 1 : type == 2 ? 3 : type == 3 ? 1 : type == 4 ? 2 : 4;
    auto rows = [&](uint64_t cols, uint64_t count) {
        return cols == 0 || count == 0 ? 0 : count * (1 + (cols * channels * depth + 7) / 8);
    };
    if (!interlaced) return rows(w, h);
    static const int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                     {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    uint64_t total = 0;
    for (const auto& q : passes) {
        const uint64_t cols = w > uint64_t(q[0]) ? (w - q[0] + q[2] - 1) / q[2] : 0;
        const uint64_t count = h > uint64_t(q[1]) ? (h - q[1] + q[3] - 1) / q[3] : 0;
        total += rows(cols, count);
    }
    return total;
}

// A PNG's image data, gathered from its chunks (when `idat` is given); false
// when a chunk claims more bytes than the file has (the decoder would
// reserve them all first).
bool png_image_data(const std::vector<uint8_t>& d, std::vector<uint8_t>* idat) {
    std::size_t at = 8;
    while (at + 12 <= d.size()) {
        const uint32_t length = be32(&d[at]);
        if (length > d.size() - at - 12) return false;
        if (idat && std::memcmp(&d[at + 4], "IDAT", 4) == 0)
            idat->insert(idat->end(), d.begin() + at + 8, d.begin() + at + 8 + length);
        if (std::memcmp(&d[at + 4], "IEND", 4) == 0) return true;
        at += 12 + std::size_t(length);
    }
    return true;
}

// The decoder grows its buffer for as long as the image data inflates: a
// few megabytes of it may ask for gigabytes. Inflate it first into a buffer
// of the size the header implies, and refuse it when it does not fit there.
bool png_inflates_within_size(const std::vector<uint8_t>& d) {
    const uint64_t raw = png_raw_size(d);
    std::vector<uint8_t> idat;
    if (raw == 0 || raw > kMaxRawPngBytes || !png_image_data(d, &idat)) return false;
    std::vector<char> out(std::size_t(raw) + 1);
    return stbi_zlib_decode_buffer(out.data(), int(out.size()),
                                   reinterpret_cast<const char*>(idat.data()),
                                   int(idat.size())) >= 0;
}

// Size and frame count from the header; false when the file is not a picture.
bool read_header(Picture* p) {
    int channels = 0;
    if (!stbi_info_from_memory(p->data.data(), static_cast<int>(p->data.size()), &p->width,
                               &p->height, &channels))
        return false;
    p->frames = p->format == kGif ? count_gif_frames(p->data, kMaxFrames) : 1;
    if (p->format == kPng && !png_image_data(p->data, nullptr)) return false;
    return p->width > 0 && p->height > 0 && p->frames > 0;
}

Format format_of(const std::vector<uint8_t>& d) {
    if (d.size() >= 8 && std::memcmp(d.data(), "\x89PNG", 4) == 0) return kPng;
    if (d.size() >= 6 && std::memcmp(d.data(), "GIF8", 4) == 0) return kGif;
    if (d.size() >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return kJpeg;
    if (d.size() >= 2 && d[0] == 'B' && d[1] == 'M') return kBmp;
    return kUnknown;
}

// The whole stream; false when it cannot be read or is longer than kMaxFileBytes.
bool read_all(pixmill_read_fn read, void* stream, std::vector<uint8_t>* data) {
    uint8_t chunk[16384];
    for (;;) {
        const int32_t got = read(stream, chunk, sizeof chunk);
        if (got < 0) return false;
        if (got == 0) return true;
        if (data->size() + std::size_t(got) > kMaxFileBytes) return false;
        data->insert(data->end(), chunk, chunk + got);
    }
}

// Decodes the file kept at open; the header's size and count must hold.
bool decode(Picture* p) {
    const std::vector<uint8_t>& data = p->data;
    const int size = static_cast<int>(data.size());
    int channels = 0, width = 0, height = 0, frames = 1;
    stbi_uc* pixels = nullptr;
    int* delays = nullptr;
    if (p->format == kGif) {
        pixels = stbi_load_gif_from_memory(data.data(), size, &delays, &width, &height, &frames,
                                           &channels, 4);
    } else {
        pixels = stbi_load_from_memory(data.data(), size, &width, &height, &channels, 4);
    }
    if (!pixels || width != p->width || height != p->height || frames <= 0 || frames > p->frames) {
        stbi_image_free(pixels);
        stbi_image_free(delays);
        return false;
    }
    // The decoder may find fewer frames than the header walk counted (a
    // broken one at the end); those are then missing.
    p->frames = frames;
    const std::size_t bytes = std::size_t(p->width) * p->height * 4 * frames;
    p->rgba.assign(pixels, pixels + bytes);
    for (int i = 0; i < frames; ++i) {
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

// Decodes on first use; false when the picture is over the budget or broken.
bool ensure_decoded(Picture* p) {
    if (p->decoded || p->failed) return p->decoded;
    try {
        p->decoded = within_budget(p->width, p->height, p->frames) &&
                     (p->format != kPng || png_inflates_within_size(p->data)) && decode(p);
    } catch (...) {
        p->decoded = false;
    }
    p->failed = !p->decoded;
    std::vector<uint8_t>().swap(p->data);
    return p->decoded;
}

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
        p->data.swap(data);
        if (p->format == kUnknown || !read_header(p)) {
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
    if (!ensure_decoded(picture(image))) return 0;
    return picture(image)->durations[frame];
}

PIXMILL_API int32_t pixmill_has_alpha(void* image) {
    if (!image || !ensure_decoded(picture(image))) return 0;
    const auto& rgba = picture(image)->rgba;
    for (std::size_t i = 3; i < rgba.size(); i += 4) {
        if (rgba[i] != 255) return 1;
    }
    return 0;
}

PIXMILL_API bool pixmill_load(void* image, uint8_t* colour, uint8_t* alpha, int32_t frame) {
    if (!image || !colour || !alpha || frame < 0 || frame >= picture(image)->frames) return false;
    if (!ensure_decoded(picture(image))) return false;
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
