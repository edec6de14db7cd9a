// The exports. Each one checks its handle and catches everything: a failed
// allocation inside leaves the context as it was and never reaches the host.
#include <cmath>

#include "advertising/context.h"
#include "advertising/pixmill_api.h"
#include "include/advertising.h"

namespace {

ad::OptionalColour colour_of(uint8_t present, const uint8_t* rgb) {
    ad::OptionalColour c;
    c.present = present;
    if (present) c.colour = ad::Rgb{rgb[0], rgb[1], rgb[2]};
    return c;
}

template <class Fn>
void guarded(Fn&& fn) {
    try {
        fn();
    } catch (...) {
    }
}

}  // namespace

extern "C" {

ADVERTISING_API int32_t component_client_interface_version(void) { return 1; }

ADVERTISING_API bool component_client_init(const ComponentServices* services) {
    if (services == nullptr) return false;
    copy_component_services(services, &ad::host_table());
    return ad::bind_pixmill();
}

ADVERTISING_API void component_client_shutdown(void) { ad::release_pixmill(); }

ADVERTISING_API ad_context* advertising_init(const ad_init_info* info) {
    if (info == nullptr) return nullptr;
    try {
        return ad::create_context(*info);
    } catch (...) {
        return nullptr;
    }
}

ADVERTISING_API void advertising_set_applet_info(ad_context* context, int32_t cr_value,
                                                 int32_t ap_value, const char* sv_text,
                                                 int32_t sd_value) {
    if (!context) return;
    guarded([&] {
        context->sv_text.assign(sv_text);
        context->cr_value = cr_value;
        context->ap_value = ap_value;
        context->sd_value = sd_value;
        context->applet_info_set = 1;
    });
}

ADVERTISING_API void advertising_start_ad(ad_context* context, const ad_start_params* params) {
    if (!context || !params) return;
    guarded([&] {
        ad::StartParameters p;
        p.timed = params->timed;
        p.image_path.assign(params->image_path);
        p.reserved_flag = params->reserved_flag;
        p.report = params->report;
        p.show_bar = params->show_bar;
        p.no_default = params->no_default;
        p.click_url_param.assign("");
        ad::start_showing(context, p);
    });
}

ADVERTISING_API void advertising_start_ad2(ad_context* context, const ad_start_params2* params) {
    if (!context || !params) return;
    guarded([&] {
        ad::StartParameters p;
        p.timed = params->timed;
        p.image_path.assign(params->image_path);
        p.reserved_flag = params->reserved_flag;
        p.report = params->report;
        p.show_bar = params->show_bar;
        p.no_default = params->no_default;
        p.delay_param = params->delay_ms;
        p.background = colour_of(params->has_background, params->background);
        p.text_colour = colour_of(params->has_text_colour, params->text_colour);
        p.bar_colour = colour_of(params->has_bar_colour, params->bar_colour);
        p.strip_colour = colour_of(params->has_strip_colour, params->strip_colour);
        p.click_url_param.assign(params->click_url);
        p.click_fn = params->click_fn;
        p.click_arg = params->click_arg;
        p.finger_cursor = params->finger_cursor;
        ad::start_showing(context, p);
    });
}

ADVERTISING_API void advertising_set_progress(ad_context* context, float progress) {
    // A NaN would pass every clamp into a float-to-int conversion; the last
    // valid fraction stays.
    if (context && !std::isnan(progress)) context->progress = progress;
}

ADVERTISING_API void advertising_set_message(ad_context* context, const char* message) {
    if (!context) return;
    guarded([&] { ad::set_message(context, message); });
}

ADVERTISING_API void advertising_heartbeat(ad_context* context) {
    if (!context) return;
    guarded([&] { ad::heartbeat(context); });
}

ADVERTISING_API double advertising_delay_remain(ad_context* context) {
    if (!context) return -1.0;
    return ad::delay_remain(context);
}

ADVERTISING_API void advertising_remove(ad_context* context, const char* ic_text) {
    if (!context) return;
    guarded([&] { ad::remove_ad(context, ic_text); });
}

ADVERTISING_API void advertising_shutdown(ad_context* context) {
    if (!context) return;
    guarded([&] { ad::destroy_context(context); });
}

}  // extern "C"
