// The per-applet-window context and the lifecycle rules behind the exports.
#pragma once

#include <cstdint>
#include <functional>
#include <map>

#include "advertising/ad_window.h"
#include "advertising/host_memory.h"
#include "include/advertising.h"

namespace ad {

enum AdState : int32_t {
    kStateShutDown = 0,
    kStateInitialised = 1,
    kStateTimed = 2,
    kStateShowing = 3,
    kStateRemoved = 4,
};

struct OptionalColour {
    uint8_t present = 0;
    Rgb colour;
};

enum RequestStatus : int32_t { kRequestAnswered = 0, kRequestFailed = 1, kRequestPending = 2 };

struct AnswerInProgress;  // an answer being read, heartbeat after heartbeat

struct RequestEntry {
    int32_t status = kRequestPending;
    HostText answer_path;
    uint32_t send_serial = 0;  // the send during which it completed; 0: later
};

using RequestTable = std::map<uint32_t, RequestEntry, std::less<uint32_t>,
                              HostAllocator<std::pair<const uint32_t, RequestEntry>>>;

// The report to the ad server after a showing.
struct AdExchange {
    ad_context* context = nullptr;
    int32_t* ad_id = nullptr;
    RequestTable request_table;
    int32_t status = 0;  // 0 not sent, 1 waiting, 2 done
    uint32_t current_request = 0;
    // The player may complete a request inside fetch_url itself; such a
    // completion is stamped with the send under way so it is not taken for
    // an old entry of a reused handle.
    uint32_t send_serial = 0;
    bool sending = false;
    // What the player hands back to fetch_done instead of our address, so
    // that a completion after shutdown finds nothing instead of freed memory.
    uintptr_t token = 0;
    AnswerInProgress* answer = nullptr;
};

}  // namespace ad

#pragma push_macro("si_value")
#undef si_value
struct ad_context {
    uint32_t si_value = 0;
    ad::HostText bu_text;
    ad::HostText ic_text;
    ad_fetch_url_fn fetch_url = nullptr;
    ad_reserved_fn reserved_fn = nullptr;
    ad_open_url_fn open_url = nullptr;
    void* host_data = nullptr;
    uint8_t timed = 0;
    ad::HostText image_path;
    uint8_t reserved_flag = 0;
    uint8_t report = 0;
    uint8_t show_bar = 0;
    ad::HostText message;
    uint8_t no_default = 0;
    int32_t delay_param = -1;
    ad::HostText click_url_param;
    ad_click_fn click_fn = nullptr;
    void* click_arg = nullptr;
    uint8_t finger_cursor = 1;
    ad::OptionalColour background, text_colour, bar_colour, strip_colour;
    uint8_t applet_info_set = 0;
    int32_t cr_value = 0;
    int32_t ap_value = 0;
    ad::HostText sv_text;
    int32_t sd_value = 0;
    float progress = 0.0f;
    uint32_t parent_window = 0;
    int32_t state = ad::kStateInitialised;
    int32_t distribution_id = 0;
    int32_t ad_id = -1;
    ad::HostText picture_path;
    ad::HostText click_url;
    uint32_t start_tick = 0;
    int32_t delay = 0;
    uint32_t shown_ms = 0;
    ad::AdWindow* window = nullptr;
    ad::AdExchange exchange;
    uint8_t answer_parsed = 0;
    // A large picture being decoded on a worker thread, and whether it is
    // the default picture (a failed player's picture falls back to it).
    ad::PictureJob* picture_job = nullptr;
    uint8_t job_is_default = 0;
};
#pragma pop_macro("si_value")

namespace ad {

// The start parameters common to both start exports, as the context keeps them.
struct StartParameters {
    uint8_t timed = 0;
    HostText image_path;
    uint8_t reserved_flag = 0, report = 0, show_bar = 0, no_default = 0;
    int32_t delay_param = -1;
    HostText click_url_param;
    ad_click_fn click_fn = nullptr;
    void* click_arg = nullptr;
    uint8_t finger_cursor = 1;
    OptionalColour background, text_colour, bar_colour, strip_colour;
};

ad_context* create_context(const ad_init_info& info);
void destroy_context(ad_context* context);
void start_showing(ad_context* context, StartParameters& parameters);
void heartbeat(ad_context* context);
double delay_remain(const ad_context* context);
void remove_ad(ad_context* context, const char* ic_text);
void set_message(ad_context* context, const char* message);

}  // namespace ad
