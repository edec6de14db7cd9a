/*
 * advertising: the picture the player shows in its applet window while an
 * applet loads, with a status strip (progress bar and message) under it.
 *
 * Call order: component_client_interface_version, component_client_init with
 * the host table (all memory comes from its allocate/release slots; it also
 * loads the image component "pixmill"), then per applet window
 * advertising_init, a start export, progress/message/heartbeat calls,
 * advertising_remove, more heartbeats, advertising_shutdown; finally
 * component_client_shutdown. Everything runs on the thread that owns the
 * applet window; the library is not reentrant.
 *
 * Records keep their field order on every build; the win32 build checks the
 * 32-bit offsets at compile time below.
 */
#ifndef SX_INCLUDE_ADVERTISING_H
#define SX_INCLUDE_ADVERTISING_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#include "component_services.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define ADVERTISING_API __declspec(dllexport)
#else
#define ADVERTISING_API __attribute__((visibility("default")))
#endif

/* Called by the host when a download ends; `path` names the local answer file. */
typedef void (*ad_fetch_done_fn)(void* argument, uint32_t request, uint8_t success,
                                 const char* path);
/* Host download service: returns a request handle. */
typedef uint32_t (*ad_fetch_url_fn)(void* host_data, const char* url, ad_fetch_done_fn done,
                                    void* done_argument);
/* Host browser service: opens `url` in the frame `target`. */
typedef int32_t (*ad_open_url_fn)(void* host_data, const char* url, const char* target);
typedef void (*ad_reserved_fn)(void);
typedef void (*ad_click_fn)(void* argument);

/* The C library's <signal.h> defines si_value as a macro; the record's field
 * keeps its name regardless. */
#pragma push_macro("si_value")
#undef si_value
typedef struct ad_init_info {
    uint32_t parent_window; /* 0: the applet window; the ad becomes its child */
    uint32_t si_value;      /* 4 */
    const char* bu_text;    /* 8: null is taken as empty */
    ad_fetch_url_fn fetch_url;
    ad_reserved_fn reserved_fn;
    ad_open_url_fn open_url;
    void* host_data; /* 24: handed back to fetch_url and open_url */
} ad_init_info;
#pragma pop_macro("si_value")

typedef struct ad_start_params {
    uint8_t timed;          /* 0: non-zero when the picture has a minimum time */
    const char* image_path; /* 4: null or empty: none */
    uint8_t reserved_flag;  /* 8 */
    uint8_t report;         /* 9: report the showing after removal */
    uint8_t show_bar;       /* 10 */
    int32_t unused_12;      /* 12: not read */
    uint8_t no_default;     /* 16: no fall-back to the default picture */
} ad_start_params;

typedef struct ad_start_params2 {
    uint8_t timed;
    const char* image_path;
    uint8_t reserved_flag;
    uint8_t report;
    uint8_t show_bar;
    int32_t delay_ms; /* 12: negative: none given */
    uint8_t no_default;
    uint8_t has_background; /* 17 */
    uint8_t background[3];  /* 18: red, green, blue */
    uint8_t has_text_colour;
    uint8_t text_colour[3]; /* 22 */
    uint8_t has_bar_colour;
    uint8_t bar_colour[3]; /* 26 */
    uint8_t has_strip_colour;
    uint8_t strip_colour[3]; /* 30 */
    const char* click_url;   /* 36: null or empty: none */
    ad_click_fn click_fn;    /* 40: called when there is no click_url */
    void* click_arg;         /* 44 */
    uint8_t finger_cursor;   /* 48 */
} ad_start_params2;

#if defined(_WIN32) && !defined(_WIN64)
#ifdef __cplusplus
#define SX_AD_STATIC_ASSERT static_assert
#else
#define SX_AD_STATIC_ASSERT _Static_assert
#endif
SX_AD_STATIC_ASSERT(offsetof(ad_init_info, si_value) == 4, "si_value");
SX_AD_STATIC_ASSERT(offsetof(ad_init_info, bu_text) == 8, "bu_text");
SX_AD_STATIC_ASSERT(offsetof(ad_init_info, fetch_url) == 12, "fetch_url");
SX_AD_STATIC_ASSERT(offsetof(ad_init_info, reserved_fn) == 16, "reserved_fn");
SX_AD_STATIC_ASSERT(offsetof(ad_init_info, open_url) == 20, "open_url");
SX_AD_STATIC_ASSERT(offsetof(ad_init_info, host_data) == 24, "host_data");
SX_AD_STATIC_ASSERT(sizeof(ad_init_info) == 28, "ad_init_info size");
SX_AD_STATIC_ASSERT(offsetof(ad_start_params, image_path) == 4, "image_path");
SX_AD_STATIC_ASSERT(offsetof(ad_start_params, reserved_flag) == 8, "reserved_flag");
SX_AD_STATIC_ASSERT(offsetof(ad_start_params, report) == 9, "report");
SX_AD_STATIC_ASSERT(offsetof(ad_start_params, show_bar) == 10, "show_bar");
SX_AD_STATIC_ASSERT(offsetof(ad_start_params, no_default) == 16, "no_default");
SX_AD_STATIC_ASSERT(offsetof(ad_start_params2, image_path) == 4, "image_path 2");
SX_AD_STATIC_ASSERT(offsetof(ad_start_params2, show_bar) == 10, "show_bar 2");
SX_AD_STATIC_ASSERT(offsetof(ad_start_params2, delay_ms) == 12, "delay_ms");
SX_AD_STATIC_ASSERT(offsetof(ad_start_params2, no_default) == 16, "no_default 2");
SX_AD_STATIC_ASSERT(offsetof(ad_start_params2, has_background) == 17, "has_background");
SX_AD_STATIC_ASSERT(offsetof(ad_start_params2, background) == 18, "background");
SX_AD_STATIC_ASSERT(offsetof(ad_start_params2, has_text_colour) == 21, "has_text_colour");
SX_AD_STATIC_ASSERT(offsetof(ad_start_params2, text_colour) == 22, "text_colour");
SX_AD_STATIC_ASSERT(offsetof(ad_start_params2, has_bar_colour) == 25, "has_bar_colour");
SX_AD_STATIC_ASSERT(offsetof(ad_start_params2, bar_colour) == 26, "bar_colour");
SX_AD_STATIC_ASSERT(offsetof(ad_start_params2, has_strip_colour) == 29, "has_strip_colour");
SX_AD_STATIC_ASSERT(offsetof(ad_start_params2, strip_colour) == 30, "strip_colour");
SX_AD_STATIC_ASSERT(offsetof(ad_start_params2, click_url) == 36, "click_url");
SX_AD_STATIC_ASSERT(offsetof(ad_start_params2, click_fn) == 40, "click_fn");
SX_AD_STATIC_ASSERT(offsetof(ad_start_params2, click_arg) == 44, "click_arg");
SX_AD_STATIC_ASSERT(offsetof(ad_start_params2, finger_cursor) == 48, "finger_cursor");
SX_AD_STATIC_ASSERT(sizeof(ad_start_params2) == 52, "ad_start_params2 size");
#undef SX_AD_STATIC_ASSERT
#endif

/* One per applet window; opaque to the player. */
typedef struct ad_context ad_context;

ADVERTISING_API int32_t component_client_interface_version(void);
ADVERTISING_API bool component_client_init(const ComponentServices* services);
ADVERTISING_API void component_client_shutdown(void);

ADVERTISING_API ad_context* advertising_init(const ad_init_info* info);
ADVERTISING_API void advertising_set_applet_info(ad_context* context, int32_t cr_value,
                                                 int32_t ap_value, const char* sv_text,
                                                 int32_t sd_value);
ADVERTISING_API void advertising_start_ad(ad_context* context, const ad_start_params* params);
ADVERTISING_API void advertising_start_ad2(ad_context* context, const ad_start_params2* params);
ADVERTISING_API void advertising_set_progress(ad_context* context, float progress);
ADVERTISING_API void advertising_set_message(ad_context* context, const char* message);
ADVERTISING_API void advertising_heartbeat(ad_context* context);
ADVERTISING_API double advertising_delay_remain(ad_context* context);
ADVERTISING_API void advertising_remove(ad_context* context, const char* ic_text);
ADVERTISING_API void advertising_shutdown(ad_context* context);

/*
 * Optional, for hosts that keep a log: every note of the library (a picture
 * refused and why, an answer cut at its cap, an upgrade line lost) is handed
 * to `log` as one line without its line feed, on the caller's thread. A null
 * `log` sends them back to standard error. Process-wide.
 */
typedef void (*ad_log_fn)(void* argument, const char* line);
ADVERTISING_API void advertising_set_log(ad_log_fn log, void* argument);

/*
 * The budgets the library keeps to, so that a hostile server or picture
 * cannot hang the player. Answers: at most AD_MAX_ANSWER_BYTES are read (the
 * rest is ignored and noted); a host may stop its download there too. Each
 * heartbeat reads at most AD_ANSWER_BYTES_PER_HEARTBEAT of the answer and
 * writes at most AD_UPGRADES_PER_HEARTBEAT upgrade lines. Pictures: at most
 * AD_MAX_PICTURE_SIDE pixels each way, AD_MAX_PICTURE_FRAMES frames, and
 * AD_MAX_DECODED_BYTES for all frames at four bytes a pixel (colour and
 * alpha, as the image component delivers them); others are refused before
 * any decoding. A picture over AD_DECODE_AT_ONCE_BYTES is decoded on a worker
 * thread and shown from the first heartbeat after it is ready.
 */
#define AD_MAX_ANSWER_BYTES (256u * 1024u)
#define AD_ANSWER_BYTES_PER_HEARTBEAT (32u * 1024u)
#define AD_UPGRADES_PER_HEARTBEAT 256u
#define AD_MAX_PICTURE_SIDE 4096
#define AD_MAX_PICTURE_FRAMES 256
#define AD_MAX_DECODED_BYTES (64u * 1024u * 1024u)
#define AD_DECODE_AT_ONCE_BYTES (1024u * 1024u)

#ifdef __cplusplus
}
#endif

#endif
