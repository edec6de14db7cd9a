// The entry points of the image component "pixmill" as this library calls
// them. The component is not ours; these are the call forms we rely on.
#pragma once

#include <stdint.h>

extern "C" {
// Reads up to `count` bytes of the stream into `buffer`; returns the count read.
typedef int32_t (*pixmill_read_fn)(void* stream, void* buffer, int32_t count);
// Moves to `offset` bytes from the start; 1 on success, 0 on failure.
typedef int32_t (*pixmill_seek_fn)(void* stream, int32_t offset);

typedef void* (*pixmill_open_fn)(pixmill_read_fn read, pixmill_seek_fn seek, void* stream);
typedef int32_t (*pixmill_size_fn)(void* image);  // height, width, frames
typedef uint32_t (*pixmill_duration_fn)(void* image, int32_t frame);
typedef int32_t (*pixmill_has_alpha_fn)(void* image);
// Fills width x height pixels of red, green, blue and one alpha byte each.
// Rows come bottom-up, as a device-independent bitmap stores them: the ad
// window copies them into its bitmaps in the order given.
typedef bool (*pixmill_load_fn)(void* image, uint8_t* colour, uint8_t* alpha, int32_t frame);
typedef void (*pixmill_close_fn)(void* image);
typedef int32_t (*pixmill_save_fn)(const char* path, int32_t width, int32_t height,
                                   const uint8_t* colour);
typedef void (*pixmill_scale_fn)(int32_t source_width, int32_t source_height, const uint8_t* source,
                                 const void* source_alpha, int32_t target_width,
                                 int32_t target_height, uint8_t* target, void* target_alpha);
typedef int32_t (*pixmill_get_format_fn)(void* image);
}

namespace ad {

struct PixmillEntries {
    pixmill_open_fn open;
    pixmill_size_fn height;
    pixmill_size_fn width;
    pixmill_size_fn frames;
    pixmill_duration_fn duration;
    pixmill_has_alpha_fn has_alpha;
    pixmill_load_fn load;
    pixmill_close_fn close;
    pixmill_save_fn save;
    pixmill_scale_fn scale;
    pixmill_get_format_fn get_format;
};

// The counted binding, shared by every context of the process.
bool bind_pixmill();
void release_pixmill();
// Null when the component is not bound.
const PixmillEntries* pixmill();

}  // namespace ad
