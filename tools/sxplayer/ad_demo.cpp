#include "tools/sxplayer/ad_demo.h"

#include <cstdio>
#include <vector>

#include "components/data_directories.h"
#include "include/advertising.h"
#include "platform/platform.h"
#include "tools/sxplayer/applet_window.h"
#include "tools/sxplayer/fetcher.h"
#include "tools/sxplayer/host_services.h"
#include "tools/sxplayer/png_file.h"

namespace sxplayer {

namespace {

struct AdLibrary {
    decltype(&component_client_interface_version) interface_version;
    decltype(&component_client_init) init;
    decltype(&component_client_shutdown) shutdown;
    decltype(&advertising_init) ad_init;
    decltype(&advertising_set_applet_info) set_applet_info;
    decltype(&advertising_start_ad2) start_ad2;
    decltype(&advertising_set_progress) set_progress;
    decltype(&advertising_set_message) set_message;
    decltype(&advertising_heartbeat) heartbeat;
    decltype(&advertising_delay_remain) delay_remain;
    decltype(&advertising_remove) remove;
    decltype(&advertising_shutdown) ad_shutdown;
};

template <class Fn>
bool entry(const ComponentServices& host, void* component, const char* name, Fn* out) {
    *out = reinterpret_cast<Fn>(host.get_component_entry(component, name));
    return *out != nullptr;
}

bool bind(const ComponentServices& h, void* c, AdLibrary* a) {
    return entry(h, c, "component_client_interface_version", &a->interface_version) &&
           entry(h, c, "component_client_init", &a->init) &&
           entry(h, c, "component_client_shutdown", &a->shutdown) &&
           entry(h, c, "advertising_init", &a->ad_init) &&
           entry(h, c, "advertising_set_applet_info", &a->set_applet_info) &&
           entry(h, c, "advertising_start_ad2", &a->start_ad2) &&
           entry(h, c, "advertising_set_progress", &a->set_progress) &&
           entry(h, c, "advertising_set_message", &a->set_message) &&
           entry(h, c, "advertising_heartbeat", &a->heartbeat) &&
           entry(h, c, "advertising_delay_remain", &a->delay_remain) &&
           entry(h, c, "advertising_remove", &a->remove) &&
           entry(h, c, "advertising_shutdown", &a->ad_shutdown);
}

struct Run {
    const AdDemoOptions* options;
    const AdLibrary* ad;
    ad_context* context;
    uint32_t window;
    std::FILE* log;
    uint32_t start;
    int stage = 0;  // 0 loading, 1 starting, 2 removed
    bool shot_taken = false;
    bool failed = false;
    int after_removal = 0;
    uint32_t removed_at = 0;
    Fetcher* fetcher = nullptr;
    uint32_t longest_heartbeat_ms = 0;  // after the removal
    int heartbeats_after_removal = 0;
    bool loaded = false;                  // the Loading's work is done
    std::string message = std::string();  // last message given to the library
};

constexpr char kLoadingMessage[] = "Loading applet...";
constexpr char kStartingMessage[] = "Starting applet...";
constexpr int kHeartbeatsAfterRemoval = 3;
// After the removal the report gets its own time and this much more.
constexpr uint32_t kReportGraceMs = 3000;

// Empty when saved, else why not.
std::string save_screenshot(Run* run) {
    std::vector<uint32_t> pixels;
    int w = 0, h = 0;
    if (!capture_window(run->window, &pixels, &w, &h)) return "the window cannot be captured";
    std::vector<uint8_t> rgb;
    rgb.reserve(pixels.size() * 3);
    for (uint32_t p : pixels) {
        rgb.push_back(static_cast<uint8_t>(p >> 16));
        rgb.push_back(static_cast<uint8_t>(p >> 8));
        rgb.push_back(static_cast<uint8_t>(p));
    }
    if (write_png(run->options->screenshot, rgb, w, h)) return std::string();
    return "cannot write " + run->options->screenshot + " (system error " +
           std::to_string(sx::platform().last_error()) + ")";
}

void show_message(Run* run, const std::string& message) {
    if (message == run->message) return;
    run->message = message;
    run->ad->set_message(run->context, message.c_str());
}

// Progress of the load; sets `ready` once it is over and `shot_due` once the
// ad is worth a screenshot (the bar part-filled, or the load over).
float advance_loading(Run* run, uint32_t elapsed, bool* ready, bool* shot_due) {
    const AdDemoOptions& o = *run->options;
    if (o.loading) {
        if (!run->loaded) run->loaded = !o.loading->step();
        const float progress = float(o.loading->fraction());
        show_message(run, run->loaded ? kStartingMessage : o.loading->message());
        *ready = run->loaded;
        *shot_due = run->loaded || progress >= 0.5f;
        return progress;
    }
    const float progress = elapsed >= uint32_t(o.run_ms) ? 1.0f : float(elapsed) / o.run_ms;
    if (run->stage == 0 && elapsed * 2 >= uint32_t(o.run_ms)) {
        show_message(run, kStartingMessage);
        run->stage = 1;
    }
    *ready = elapsed >= uint32_t(o.run_ms);
    *shot_due = elapsed * 4 >= uint32_t(o.run_ms) * 3;
    return progress;
}

bool tick(void* argument) {
    Run* run = static_cast<Run*>(argument);
    const AdDemoOptions& o = *run->options;
    const uint32_t elapsed = sx::platform().tick_count() - run->start;
    if (run->stage == 2) {
        // Completions first, so the heartbeat right after sees them.
        run->fetcher->poll();
        const uint32_t before = sx::platform().tick_count();
        run->ad->heartbeat(run->context);
        const uint32_t took = sx::platform().tick_count() - before;
        if (took > run->longest_heartbeat_ms) run->longest_heartbeat_ms = took;
        ++run->heartbeats_after_removal;
        if (++run->after_removal < kHeartbeatsAfterRemoval) return true;
        const uint32_t now = sx::platform().tick_count();
        const uint32_t waited = now - run->removed_at;
        if (run->fetcher->busy() && waited < uint32_t(o.fetch_timeout_ms) + kReportGraceMs) {
            return true;
        }
        if (run->fetcher->answered() &&
            now - run->fetcher->last_completion() < uint32_t(o.linger_ms))
            return true;
        if (run->fetcher->busy()) std::fprintf(run->log, "report still pending\n");
        std::fprintf(run->log, "heartbeats after removal %d, longest %u ms\n",
                     run->heartbeats_after_removal, run->longest_heartbeat_ms);
        return false;
    }
    bool ready = false, shot_due = false;
    const float progress = advance_loading(run, elapsed, &ready, &shot_due);
    run->ad->set_progress(run->context, progress);
    run->ad->heartbeat(run->context);
    const double remain = run->ad->delay_remain(run->context);
    std::fprintf(run->log, "tick %u progress %.3f remain %.3f\n", elapsed, progress, remain);
    // With a real load, the bar shows the shorter of the load and the
    // minimum time: wait until that is half full too.
    if (o.loading && remain * 2000.0 > o.delay_ms) shot_due = false;
    if (!o.screenshot.empty() && !run->shot_taken && shot_due) {
        run->shot_taken = true;
        const std::string failure = save_screenshot(run);
        if (failure.empty()) {
            std::fprintf(run->log, "screenshot saved\n");
        } else {
            std::fprintf(run->log, "screenshot failed: %s\n", failure.c_str());
        }
        run->failed |= !failure.empty();
    }
    if (ready && remain <= 0.0) {
        run->ad->remove(run->context, "demo");
        run->stage = 2;
        run->removed_at = sx::platform().tick_count();
        std::fprintf(run->log, "removed, child windows %d\n", child_window_count(run->window));
    }
    return true;
}

int32_t open_url(void* host_data, const char* url, const char* target) {
    Run* run = static_cast<Run*>(host_data);
    const bool opened = open_in_browser(url ? url : "");
    std::fprintf(run->log, "open %s in %s: %s\n", url, target,
                 opened ? "browser started" : "no browser to start");
    return 0;
}

uint32_t fetch_url(void* host_data, const char* url, ad_fetch_done_fn done, void* argument) {
    return static_cast<Run*>(host_data)->fetcher->fetch_url(url, done, argument);
}

void log_note(void* argument, const char* line) {
    std::fprintf(static_cast<std::FILE*>(argument), "advertising: %s\n", line);
}

int show(const AdDemoOptions& o, const AdLibrary& ad, const ComponentServices& host,
         std::FILE* log) {
    if (ad.interface_version() != 1 || !ad.init(&host)) {
        std::fprintf(log, "advertising refused to start (pixmill missing?)\n");
        return 3;
    }
    Fetcher fetcher(o.fetch_timeout_ms, log);
    Run run{&o, &ad, nullptr, create_applet_window(o.width, o.height), log, 0};
    run.fetcher = &fetcher;
    ad_init_info info{run.window, 1, "sxplayer", fetch_url, nullptr, open_url, &run};
    run.context = run.window ? ad.ad_init(&info) : nullptr;
    if (!run.context) {
        ad.shutdown();
        return 4;
    }
    ad.set_applet_info(run.context, 1, 1, "demo", 1);
    ad_start_params2 p{};
    p.timed = 1;
    p.image_path = o.picture.empty() ? nullptr : o.picture.c_str();
    p.show_bar = 1;
    p.delay_ms = o.delay_ms;
    p.finger_cursor = 1;
    p.report = o.report ? 1 : 0;
    const std::string first = o.loading ? o.loading->message() : kLoadingMessage;
    ad.set_message(run.context, first.c_str());
    run.start = sx::platform().tick_count();
    ad.start_ad2(run.context, &p);
    ad.set_message(run.context, first.c_str());
    run.message = first;
    std::fprintf(log, "started, child windows %d\n", child_window_count(run.window));
    run_timer_loop(run.window, o.period_ms, tick, &run);
    ad.ad_shutdown(run.context);
    ad.shutdown();
    destroy_applet_window(run.window);
    std::fprintf(log, "shut down\n");
    return run.failed ? 5 : 0;
}

}  // namespace

int run_ad_demo(const AdDemoOptions& o) {
    std::FILE* log = o.log_stream    ? o.log_stream
                     : o.log.empty() ? stdout
                                     : sx::platform().open_file(o.log.c_str(), "w");
    if (!log) {
        std::fprintf(stderr, "sxplayer: cannot write the log %s (system error %ld)\n",
                     o.log.c_str(), sx::platform().last_error());
        return 2;
    }
    // As the player does at start: the component search looks in these.
    sx::register_component_directories();
    const ComponentServices host = host_services();
    void* component = host.load_component("advertising", 1, 1);
    AdLibrary ad{};
    int code = 1;
    if (!component) {
        std::fprintf(log, "advertising not found through the component search\n");
    } else if (!bind(host, component, &ad)) {
        std::fprintf(log, "advertising lacks an entry point\n");
    } else {
        // Optional: a library without it writes its notes to standard error.
        auto set_log = reinterpret_cast<decltype(&advertising_set_log)>(
            host.get_component_entry(component, "advertising_set_log"));
        if (set_log) set_log(log_note, log);
        code = show(o, ad, host, log);
        if (set_log) set_log(nullptr, nullptr);
    }
    if (component) host.unload_component(component);
    std::fprintf(log, "exit %d\n", code);
    if (log != stdout && log != o.log_stream) std::fclose(log);
    return code;
}

}  // namespace sxplayer
