#include "advertising/posix/screen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#include <stb/stb_truetype.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb/stb_image_write.h>

namespace sxscreen {

namespace {

struct Window {
    uint32_t parent = 0;
    int x = 0, y = 0, width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

struct Screen {
    std::map<uint32_t, Window> windows;
    uint32_t next = 1;
};

Screen& screen() {
    static Screen instance;
    return instance;
}

// Liberation Sans has Arial's metrics; SX_FONT_FILE may name another face.
constexpr char kDefaultFont[] = "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf";

struct Font {
    std::vector<unsigned char> data;
    stbtt_fontinfo info{};
    bool ready = false;
};

const Font& font() {
    static Font f = [] {
        Font loaded;
        const char* path = std::getenv("SX_FONT_FILE");
        std::FILE* file = std::fopen(path && *path ? path : kDefaultFont, "rb");
        if (!file) return loaded;
        int c;
        while ((c = std::fgetc(file)) != EOF) loaded.data.push_back(static_cast<unsigned char>(c));
        std::fclose(file);
        loaded.ready = !loaded.data.empty() &&
                       stbtt_InitFont(&loaded.info, loaded.data.data(),
                                      stbtt_GetFontOffsetForIndex(loaded.data.data(), 0)) != 0;
        return loaded;
    }();
    return f;
}

struct Metrics {
    float scale;
    int ascent;  // pixels above the baseline
    int height;  // cell height
};

Metrics metrics_for(const Font& f, int char_height) {
    Metrics m{};
    m.scale = stbtt_ScaleForMappingEmToPixels(&f.info, static_cast<float>(char_height));
    int ascent = 0, descent = 0, gap = 0;
    stbtt_GetFontVMetrics(&f.info, &ascent, &descent, &gap);
    m.ascent = static_cast<int>(std::lround(ascent * m.scale));
    m.height = m.ascent + static_cast<int>(std::lround(-descent * m.scale));
    return m;
}

int advance_of(const Font& f, const Metrics& m, unsigned char c) {
    int advance = 0, bearing = 0;
    stbtt_GetCodepointHMetrics(&f.info, c, &advance, &bearing);
    return static_cast<int>(std::lround(advance * m.scale));
}

void compose(uint32_t id, std::vector<uint32_t>* out, int out_width, int out_height, int ox,
             int oy) {
    const Window& w = screen().windows.at(id);
    for (int y = 0; y < w.height; ++y) {
        for (int x = 0; x < w.width; ++x) {
            const int tx = ox + x, ty = oy + y;
            if (tx < 0 || ty < 0 || tx >= out_width || ty >= out_height) continue;
            (*out)[ty * out_width + tx] = w.pixels[y * w.width + x];
        }
    }
    for (uint32_t child : children(id)) {
        const Window& c = screen().windows.at(child);
        compose(child, out, out_width, out_height, ox + c.x, oy + c.y);
    }
}

}  // namespace

uint32_t create_window(uint32_t parent, int x, int y, int width, int height) {
    if (width < 0 || height < 0 || (parent != 0 && !window_exists(parent))) return 0;
    Screen& s = screen();
    const uint32_t id = s.next++;
    Window& w = s.windows[id];
    w.parent = parent;
    w.x = x;
    w.y = y;
    w.width = width;
    w.height = height;
    w.pixels.assign(static_cast<std::size_t>(width) * height, 0);
    return id;
}

void destroy_window(uint32_t window) {
    for (uint32_t child : children(window)) destroy_window(child);
    screen().windows.erase(window);
}

bool window_exists(uint32_t window) { return screen().windows.count(window) != 0; }

bool client_size(uint32_t window, int* width, int* height) {
    auto found = screen().windows.find(window);
    if (found == screen().windows.end()) return false;
    *width = found->second.width;
    *height = found->second.height;
    return true;
}

uint32_t* window_pixels(uint32_t window) {
    auto found = screen().windows.find(window);
    return found == screen().windows.end() ? nullptr : found->second.pixels.data();
}

std::vector<uint32_t> children(uint32_t window) {
    std::vector<uint32_t> list;
    for (const auto& [id, w] : screen().windows) {
        if (w.parent == window) list.push_back(id);
    }
    return list;
}

std::vector<uint32_t> capture(uint32_t window, int* width, int* height) {
    std::vector<uint32_t> out;
    if (!client_size(window, width, height)) return out;
    out.assign(static_cast<std::size_t>(*width) * *height, 0);
    compose(window, &out, *width, *height, 0, 0);
    return out;
}

bool measure_text(const char* text, int char_height, int* width, int* height) {
    const Font& f = font();
    *width = *height = 0;
    if (!f.ready) return false;
    const Metrics m = metrics_for(f, char_height);
    for (const char* p = text; *p; ++p) *width += advance_of(f, m, static_cast<unsigned char>(*p));
    *height = m.height;
    return true;
}

void draw_text(uint32_t* pixels, int width, int height, int stride, const char* text,
               int char_height, int x, int y, uint32_t colour) {
    const Font& f = font();
    if (!f.ready) return;
    const Metrics m = metrics_for(f, char_height);
    const int baseline = y + m.ascent;
    int pen = x;
    for (const char* p = text; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        int gw = 0, gh = 0, gx = 0, gy = 0;
        unsigned char* glyph =
            stbtt_GetCodepointBitmap(&f.info, m.scale, m.scale, c, &gw, &gh, &gx, &gy);
        for (int row = 0; row < gh; ++row) {
            for (int col = 0; col < gw; ++col) {
                const int tx = pen + gx + col, ty = baseline + gy + row;
                const unsigned a = glyph[row * gw + col];
                if (a == 0 || tx < 0 || ty < 0 || tx >= width || ty >= height) continue;
                uint32_t& d = pixels[ty * stride + tx];
                uint32_t mixed = 0;
                for (int shift = 0; shift <= 16; shift += 8) {
                    const unsigned fg = (colour >> shift) & 0xFF, bg = (d >> shift) & 0xFF;
                    mixed |= ((fg * a + bg * (255 - a)) / 255) << shift;
                }
                d = mixed;
            }
        }
        stbtt_FreeBitmap(glyph, nullptr);
        pen += advance_of(f, m, c);
    }
}

bool save_png(const std::string& path, const std::vector<uint32_t>& pixels, int width, int height) {
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t i = 0; i < pixels.size() && i * 3 + 2 < rgb.size(); ++i) {
        rgb[3 * i] = static_cast<unsigned char>(pixels[i] >> 16);
        rgb[3 * i + 1] = static_cast<unsigned char>(pixels[i] >> 8);
        rgb[3 * i + 2] = static_cast<unsigned char>(pixels[i]);
    }
    return stbi_write_png(path.c_str(), width, height, 3, rgb.data(), width * 3) != 0;
}

}  // namespace sxscreen
