// A decoded picture: its frames, already blended with the background.
#pragma once

#include <cstdint>
#include <vector>

#include "advertising/canvas.h"
#include "advertising/host_memory.h"

namespace ad {

struct AdFrame {
    HostBuffer pixels;  // width x height x 3: red, green, blue, rows as pixmill gives them
    int32_t width = 0;
    int32_t height = 0;
    uint32_t duration = 0;  // milliseconds
};

struct AdImage {
    Rgb blend;
    std::vector<AdFrame, HostAllocator<AdFrame>> frames;
    std::size_t cursor = 0;  // the next frame to show
};

// One colour byte of a pixel with alpha `a` over the blending byte `b`.
uint8_t blend_byte(uint8_t v, uint8_t a, uint8_t b);

// Why a picture of this size is refused before decoding (over a budget of
// include/advertising.h, or buffer sizes that overflow size_t, 32 bits in
// the product); null when it may be decoded.
const char* picture_over_budget(int32_t width, int32_t height, int32_t frames);

// A picture being decoded on a worker thread.
struct PictureJob;
struct PictureLoad {
    AdImage* image = nullptr;   // decoded at once
    PictureJob* job = nullptr;  // or being decoded
};

// Opens the picture and checks its declared size; a small one is decoded at
// once, a larger one (over AD_DECODE_AT_ONCE_BYTES) on a worker thread, so
// that the player's thread never waits for it. Both null: no picture (the
// cause noted). Throws std::bad_alloc.
PictureLoad begin_ad_image(const char* path, Rgb blend);
// Whether the job has ended; never waits.
bool picture_job_done(PictureJob* job);
const char* picture_job_path(const PictureJob* job);
// Waits for the job to end and frees it: the picture, or null (the cause noted).
AdImage* finish_picture_job(PictureJob* job);

// Decodes the picture file through pixmill, within the picture budget. Null when the file cannot be
// opened or decoded, is over the budget or when no frame could be loaded
// (each noted with its cause); throws
// std::bad_alloc when memory runs out.
AdImage* load_ad_image(const char* path, Rgb blend);
void free_ad_image(AdImage* image);

}  // namespace ad
