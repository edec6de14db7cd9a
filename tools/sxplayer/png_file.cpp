#include "tools/sxplayer/png_file.h"

#include <cstdio>

#include "platform/platform.h"
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include "stb_image_write.h"

namespace sxplayer {

bool write_png(const std::string& path, const std::vector<uint8_t>& rgb, int width, int height) {
    if (width <= 0 || height <= 0 || rgb.size() != size_t(width) * size_t(height) * 3) return false;
    std::FILE* file = sx::platform().open_file(path.c_str(), "wb");
    if (!file) return false;
    struct Sink {
        std::FILE* file;
        bool ok;
    } sink{file, true};
    auto write = [](void* context, void* data, int size) {
        Sink* s = static_cast<Sink*>(context);
        s->ok = s->ok && std::fwrite(data, 1, size_t(size), s->file) == size_t(size);
    };
    const bool encoded =
        stbi_write_png_to_func(write, &sink, width, height, 3, rgb.data(), width * 3) != 0;
    return std::fclose(file) == 0 && encoded && sink.ok;
}

}  // namespace sxplayer
