#include "advertising/context.h"

#include <algorithm>
#include <utility>

#include "advertising/exchange.h"

#include "platform/platform.h"

namespace ad {

namespace {

constexpr char kComponentName[] = "advertising";
constexpr char kDefaultAdKey[] = "default_ad";
constexpr char kClickTarget[] = "_new";
constexpr int32_t kPathBufferSize = 260;

uint32_t now() { return sx::platform().tick_count(); }

// Remembers the picture's file; frees the picture when that fails.
AdImage* remember_path(ad_context* c, const char* path, AdImage* image) {
    try {
        c->picture_path.assign(path);
    } catch (...) {
        free_ad_image(image);
        throw;
    }
    return image;
}

// Starts loading `path`: true when it is loaded (into `image`) or being
// decoded (the context's job); false when it cannot be.
bool begin_picture(ad_context* c, const char* path, Rgb blend, bool is_default, AdImage** image) {
    const PictureLoad load = begin_ad_image(path, blend);
    if (load.image) *image = remember_path(c, path, load.image);
    c->picture_job = load.job;
    c->job_is_default = is_default;
    return load.image || load.job;
}

// The installed default picture: loaded, being decoded, or none (ad_id -1).
AdImage* choose_default(ad_context* c, Rgb blend) {
    const ComponentServices& host = host_table();
    char path[kPathBufferSize] = {};
    AdImage* image = nullptr;
    if (!c->no_default && host.find_component_item &&
        host.find_component_item(kComponentName, kDefaultAdKey, path, kPathBufferSize) != 0) {
        path[kPathBufferSize - 1] = '\0';
        if (begin_picture(c, path, blend, true, &image)) return image;
    }
    c->ad_id = -1;
    return nullptr;
}

// Picture choice: the player's file, else the installed default picture. A
// large one is still being decoded on return (the context's job).
AdImage* choose_picture(ad_context* c, Rgb blend) {
    c->ad_id = 0;
    c->delay = 0;
    c->click_url.assign("");
    AdImage* image = nullptr;
    if (!c->image_path.empty() && begin_picture(c, c->image_path.c_str(), blend, false, &image))
        return image;
    return choose_default(c, blend);
}

// Waits for a decoding still under way and drops its picture.
void abandon_picture_job(ad_context* c) {
    if (!c->picture_job) return;
    free_ad_image(finish_picture_job(std::exchange(c->picture_job, nullptr)));
}

Rgb blending_colour(const ad_context* c) {
    if (c->background.present) return c->background.colour;
    if (c->window) return c->window->background;
    return Rgb{255, 255, 255};
}

// Takes a decoded picture to the window once its job has ended; a failed
// player's picture falls back to the default one, as at the start.
void collect_picture(ad_context* c) {
    if (!c->picture_job || !picture_job_done(c->picture_job)) return;
    // Copied first: should that fail, the job is collected at a later heartbeat.
    const HostText path(picture_job_path(c->picture_job));
    const bool was_default = c->job_is_default;
    AdImage* image = finish_picture_job(std::exchange(c->picture_job, nullptr));
    if (!c->window || c->state == kStateRemoved) {
        free_ad_image(image);  // too late to be shown
        return;
    }
    if (image) {
        image = remember_path(c, path.c_str(), image);
    } else if (!was_default) {
        image = choose_default(c, blending_colour(c));
    } else {
        c->ad_id = -1;
    }
    if (image) ad_window_set_image(c->window, image);
}

void open_click_url(void* argument) {
    ad_context* c = static_cast<ad_context*>(argument);
    if (c->open_url) c->open_url(c->host_data, c->click_url.c_str(), kClickTarget);
}

void call_click_fn(void* argument) {
    ad_context* c = static_cast<ad_context*>(argument);
    if (c->click_fn) c->click_fn(c->click_arg);
}

const Rgb* given(const OptionalColour& colour) { return colour.present ? &colour.colour : nullptr; }

void configure_window(ad_context* c, AdImage* image) {
    AdWindow* w = c->window;
    ad_window_set_click_action(w, nullptr, nullptr);
    w->clickable = 0;
    w->bar_shown = c->show_bar;
    ad_window_set_colours(w, blending_colour(c), given(c->text_colour), given(c->bar_colour),
                          given(c->strip_colour));
    if (image) ad_window_set_image(w, image);
    if (!c->click_url_param.empty()) {
        ad_window_set_click_action(w, open_click_url, c);
        w->clickable = c->finger_cursor != 0;
    } else if (c->click_fn) {
        ad_window_set_click_action(w, call_click_fn, c);
        w->clickable = c->finger_cursor != 0;
    }
}

void store_parameters(ad_context* c, StartParameters& p) {
    c->timed = p.timed;
    c->image_path.swap(p.image_path);
    c->reserved_flag = p.reserved_flag;
    c->report = p.report;
    c->show_bar = p.show_bar;
    c->no_default = p.no_default;
    c->delay_param = p.delay_param;
    c->click_url_param.swap(p.click_url_param);
    c->click_fn = p.click_fn;
    c->click_arg = p.click_arg;
    c->finger_cursor = p.finger_cursor;
    c->background = p.background;
    c->text_colour = p.text_colour;
    c->bar_colour = p.bar_colour;
    c->strip_colour = p.strip_colour;
}

}  // namespace

ad_context* create_context(const ad_init_info& info) {
    ad_context* c = host_new<ad_context>();
    try {
        c->bu_text.assign(info.bu_text);
        c->ic_text.assign("");
    } catch (...) {
        host_delete(c);
        throw;
    }
    c->si_value = info.si_value;
    c->fetch_url = info.fetch_url;
    c->reserved_fn = info.reserved_fn;
    c->open_url = info.open_url;
    c->host_data = info.host_data;
    c->parent_window = info.parent_window;
    c->exchange.context = c;
    c->exchange.ad_id = &c->ad_id;
    c->state = kStateInitialised;
    c->applet_info_set = 0;
    try {
        register_exchange(c);
    } catch (...) {
        host_delete(c);
        throw;
    }
    return c;
}

void destroy_context(ad_context* c) {
    abandon_picture_job(c);
    retire_exchange(c);
    ad_window_destroy(c->window);
    c->window = nullptr;
    c->state = kStateShutDown;
    host_delete(c);
}

void start_showing(ad_context* c, StartParameters& p) {
    abandon_picture_job(c);
    store_parameters(c, p);
    reset_exchange(c);
    read_distribution_id(c);
    // The picture is decoded with the colour it will stand on.
    AdImage* image = choose_picture(c, blending_colour(c));
    try {
        if (c->timed && c->delay_param >= 0) c->delay = c->delay_param;
        if (!c->window) c->window = ad_window_create(c->parent_window);
    } catch (...) {
        free_ad_image(image);
        throw;
    }
    if (c->window) {
        configure_window(c, image);
    } else {
        free_ad_image(image);
    }
    if (!c->click_url_param.empty()) c->click_url.assign(c->click_url_param.c_str());
    c->state = c->timed ? kStateTimed : kStateShowing;
    c->start_tick = now();
}

void heartbeat(ad_context* c) {
    collect_picture(c);
    if (c->state == kStateTimed) {
        const float f = c->delay == 0 ? 1.0f
                                      : static_cast<float>(now() - c->start_tick) /
                                            static_cast<float>(c->delay);
        if (c->window) ad_window_set_progress(c->window, std::min(c->progress, f));
        if (f >= 1.0f) c->state = kStateShowing;
    } else if (c->state == kStateShowing) {
        if (c->window) ad_window_set_progress(c->window, c->progress);
    } else if (c->state == kStateRemoved) {
        exchange_step(c);
    }
}

double delay_remain(const ad_context* c) {
    if (c->state != kStateTimed || c->delay == 0) return 0.0;
    const double remain =
        static_cast<double>(static_cast<int32_t>(c->start_tick + c->delay - now())) * 0.001;
    return remain > 0.0 ? remain : 0.0;
}

void remove_ad(ad_context* c, const char* ic_text) {
    if (ic_text) c->ic_text.assign(ic_text);
    c->shown_ms = now() - c->start_tick;
    ad_window_destroy(c->window);
    c->window = nullptr;
    c->state = kStateRemoved;
}

void set_message(ad_context* c, const char* message) {
    c->message.assign(message);
    if (c->window) ad_window_set_message(c->window, c->message.c_str());
}

}  // namespace ad
