// Ad-server answers, "dist.id" files and pictures from the fuzzer. The first
// byte picks the reader, the rest is its input:
//   0  an answer, read in small steps: each step keeps to its budget, the cap
//      holds, and only lines of the "%d %s\n" form come out;
//   1  a "dist.id" file;
//   2+ a picture file, through the library's loading (its size check, the
//      image component's header reading and decoders, the blending): whatever
//      the bytes, it ends within the picture budget.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "advertising/ad_image.h"
#include "advertising/exchange.h"
#include "advertising/host_memory.h"
#include "advertising/pixmill_api.h"
#include "include/advertising.h"

// The image component is compiled into this program.
extern "C" {
void* pixmill_open(pixmill_read_fn, pixmill_seek_fn, void*);
int32_t pixmill_height(void*);
int32_t pixmill_width(void*);
int32_t pixmill_frames(void*);
uint32_t pixmill_duration(void*, int32_t);
int32_t pixmill_has_alpha(void*);
bool pixmill_load(void*, uint8_t*, uint8_t*, int32_t);
void pixmill_close(void*);
int32_t pixmill_save(const char*, int32_t, int32_t, const uint8_t*);
void pixmill_scale(int32_t, int32_t, const uint8_t*, const void*, int32_t, int32_t, uint8_t*,
                   void*);
int32_t pixmill_get_format(void*);
}

namespace {

constexpr std::size_t kCap = 4096;  // small, so that the cap is reached often
constexpr ad::StepBudget kStep = {97, 3};

void* allocate(size_t size) { return std::malloc(size == 0 ? 1 : size); }
void release(void* block) { std::free(block); }
int g_component = 0;
void* load_component(const char*, int32_t, int32_t) { return &g_component; }
void unload_component(void*) {}
void* get_entry(void*, const char* name) {
    const struct {
        const char* name;
        void* entry;
    } entries[] = {
        {"pixmill_open", reinterpret_cast<void*>(pixmill_open)},
        {"pixmill_height", reinterpret_cast<void*>(pixmill_height)},
        {"pixmill_width", reinterpret_cast<void*>(pixmill_width)},
        {"pixmill_frames", reinterpret_cast<void*>(pixmill_frames)},
        {"pixmill_duration", reinterpret_cast<void*>(pixmill_duration)},
        {"pixmill_has_alpha", reinterpret_cast<void*>(pixmill_has_alpha)},
        {"pixmill_load", reinterpret_cast<void*>(pixmill_load)},
        {"pixmill_close", reinterpret_cast<void*>(pixmill_close)},
        {"pixmill_save", reinterpret_cast<void*>(pixmill_save)},
        {"pixmill_scale", reinterpret_cast<void*>(pixmill_scale)},
        {"pixmill_get_format", reinterpret_cast<void*>(pixmill_get_format)},
    };
    for (const auto& e : entries)
        if (std::strcmp(e.name, name) == 0) return e.entry;
    return nullptr;
}
void quiet(void*, const char*) {}

class CheckingSink : public ad::UpgradeSink {
public:
    void add(const char* line, std::size_t size) override {
        if (size < 3 || line[size - 1] != '\n') std::abort();
        const char* p = line;
        if (*p == '-') ++p;
        if (*p < '0' || *p > '9') std::abort();
        if (std::memchr(line, '\n', size - 1) || std::memchr(line, '\r', size)) std::abort();
        ++added;
    }
    std::size_t added = 0;
};

void read_answer(std::FILE* stream) {
    ad::AnswerReader reader(stream, kCap);
    CheckingSink sink;
    for (int steps = 0;; ++steps) {
        const std::size_t before = reader.consumed(), added = sink.added;
        const bool done = reader.step(&sink, kStep);
        if (reader.consumed() - before > kStep.bytes + 1 || sink.added - added > kStep.records ||
            reader.consumed() > kCap || steps > int(kCap))
            std::abort();
        if (done) return;
    }
}

// The picture through the library, from a file as the player names it.
void load_picture(const uint8_t* data, size_t size) {
    static const std::string host = "/tmp/answer_fuzz_" + std::to_string(getpid()) + ".img";
    static const std::string path = "Z:" + [] {
        std::string p = host;
        for (char& c : p)
            if (c == '/') c = '\\';
        return p;
    }();
    std::FILE* file = std::fopen(host.c_str(), "wb");
    if (!file) return;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    ad::AdImage* image = ad::load_ad_image(path.c_str(), ad::Rgb{10, 20, 30});
    if (image) {
        std::size_t bytes = 0;
        for (const ad::AdFrame& f : image->frames) {
            if (f.width <= 0 || f.height <= 0 || f.width > AD_MAX_PICTURE_SIDE ||
                f.height > AD_MAX_PICTURE_SIDE)
                std::abort();
            bytes += std::size_t(f.width) * std::size_t(f.height) * 4u;
        }
        if (image->frames.empty() || image->frames.size() > AD_MAX_PICTURE_FRAMES ||
            bytes > AD_MAX_DECODED_BYTES)
            std::abort();
    }
    ad::free_ad_image(image);
    std::remove(host.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool bound = [] {
        static ComponentServices host = {1,         allocate, release,        nullptr,
                                         nullptr,   nullptr,  load_component, unload_component,
                                         get_entry, nullptr,  nullptr,        nullptr};
        ad::host_table() = host;
        advertising_set_log(quiet, nullptr);
        return ad::bind_pixmill();
    }();
    if (!bound || size == 0) return 0;
    const uint8_t kind = data[0];
    ++data;
    --size;
    if (kind >= 2) {
        load_picture(data, size);
        return 0;
    }
    std::FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (!stream) return 0;
    if (kind == 0) {
        read_answer(stream);
    } else {
        int32_t value = 0;
        ad::read_distribution_stream(stream, &value);
    }
    std::fclose(stream);
    return 0;
}
