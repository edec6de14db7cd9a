#include "advertising/ad_image.h"

#include <cstdio>
#include <new>
#include <utility>

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
    ~FileCloser() {
        if (file) std::fclose(file);
    }
};

struct DecoderCloser {
    const PixmillEntries* pixmill;
    void* image;
    ~DecoderCloser() {
        if (image) pixmill->close(image);
    }
};

constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

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

// Everything a decoding needs is allocated on the caller's thread before it
// starts (the host's allocator is the player's and is called on its thread
// only); the worker only fills the buffers.
struct PictureJob {
    const PixmillEntries* pixmill = nullptr;
    void* decoder = nullptr;
    std::FILE* file = nullptr;
    HostText path;
    int32_t width = 0, height = 0, frames = 0;
    std::size_t size = 0;      // decoded, all frames
    AdImage* image = nullptr;  // one frame per index, each with its buffer
    HostBuffer alpha;          // one frame's alpha, reused
    HostBuffer decoded;        // per frame: 1 once it was decoded
    sx::ThreadHandle thread = nullptr;
};

namespace {

// Fills the frames of an opened, checked picture, then closes the decoder and
// the file. Allocates nothing and notes nothing: it may run on a worker.
void decode_job(PictureJob* job) {
    const PixmillEntries& px = *job->pixmill;
    const std::size_t pixels = std::size_t(job->width) * std::size_t(job->height);
    for (int32_t i = 0; i < job->frames; ++i) {
        // The buffers were sized from the header: a decoder that changes the
        // size midway is not believed.
        if (px.width(job->decoder) != job->width || px.height(job->decoder) != job->height)
            continue;
        AdFrame& frame = job->image->frames[std::size_t(i)];
        frame.duration = px.duration(job->decoder, i);
        if (!px.load(job->decoder, frame.pixels.data(), job->alpha.data(), i)) continue;
        blend_frame(frame.pixels.data(), job->alpha.data(), pixels, job->image->blend);
        job->decoded.data()[i] = 1;
    }
    px.close(job->decoder);
    std::fclose(job->file);
    job->decoder = nullptr;
    job->file = nullptr;
}

uint32_t run_job(void* argument) {
    decode_job(static_cast<PictureJob*>(argument));
    return 0;
}

void free_job(PictureJob* job) {
    if (job->decoder) job->pixmill->close(job->decoder);
    if (job->file) std::fclose(job->file);
    free_ad_image(job->image);
    host_delete(job);
}

// The buffers of every frame; throws std::bad_alloc.
void allocate_frames(PictureJob* job, Rgb blend) {
    const std::size_t pixels = std::size_t(job->width) * std::size_t(job->height);
    job->image = host_new<AdImage>();
    job->image->blend = blend;
    job->image->frames.reserve(std::size_t(job->frames));
    for (int32_t i = 0; i < job->frames; ++i) {
        AdFrame frame;
        frame.width = job->width;
        frame.height = job->height;
        frame.pixels = HostBuffer(pixels * 3);
        job->image->frames.push_back(std::move(frame));
    }
    job->alpha = HostBuffer(pixels);
    job->decoded = HostBuffer(std::size_t(job->frames));
    for (int32_t i = 0; i < job->frames; ++i) job->decoded.data()[i] = 0;
}

// Opens the file and the decoder, checks the declared size and allocates the
// frames; null (noted) when the picture is not to be decoded.
PictureJob* open_job(const char* path, Rgb blend) {
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
    PictureJob* job = host_new<PictureJob>();
    job->pixmill = px;
    job->width = width;
    job->height = height;
    job->frames = count;
    job->size = std::size_t(width) * std::size_t(height) * 4u * std::size_t(count);
    try {
        job->path.assign(path);
        allocate_frames(job, blend);
    } catch (...) {
        free_job(job);
        throw;
    }
    // The job owns them from here.
    job->decoder = std::exchange(decoder_closer.image, nullptr);
    job->file = std::exchange(file_closer.file, nullptr);
    return job;
}

}  // namespace

PictureLoad begin_ad_image(const char* path, Rgb blend) {
    PictureJob* job = open_job(path, blend);
    if (!job) return {};
    // A small picture decodes in a few milliseconds: at once. A large one
    // would stop the player's thread for up to a second: on a worker.
    if (job->size > AD_DECODE_AT_ONCE_BYTES) {
        job->thread = sx::platform().start_thread(run_job, job);
        if (job->thread) return {nullptr, job};
    }
    decode_job(job);
    return {finish_picture_job(job), nullptr};
}

bool picture_job_done(PictureJob* job) {
    return !job->thread || sx::platform().wait_thread(job->thread, 0);
}

const char* picture_job_path(const PictureJob* job) { return job->path.c_str(); }

AdImage* finish_picture_job(PictureJob* job) {
    if (job->thread) {
        sx::platform().wait_thread(job->thread, kWaitForever);
        sx::platform().close_thread(job->thread);
        job->thread = nullptr;
    }
    // Frames that did not decode go; the others close up, in file order.
    AdImage* image = std::exchange(job->image, nullptr);
    auto& frames = image->frames;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (!job->decoded.data()[i]) continue;
        if (kept != i) frames[kept] = std::move(frames[i]);
        ++kept;
    }
    while (frames.size() > kept) frames.pop_back();
    if (frames.empty()) {
        note("picture %s: no frame could be decoded", job->path.c_str());
        free_ad_image(image);
        image = nullptr;
    }
    free_job(job);
    return image;
}

AdImage* load_ad_image(const char* path, Rgb blend) {
    const PictureLoad load = begin_ad_image(path, blend);
    return load.job ? finish_picture_job(load.job) : load.image;
}

void free_ad_image(AdImage* image) { host_delete(image); }

}  // namespace ad
