// What a hostile answer or picture costs the player: the heartbeats the
// library spends on an answer after the removal (their number, the longest,
// the mean), and for a start with a picture at the budget's edge or over it
// the time of the start call, the longest heartbeat until the picture is
// ready and the time until then. Runs on a fresh emulated Windows of its own (SX_WINROOT).
//   advertising_budget_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include "advertising/context.h"
#include "advertising/exchange.h"
#include "components/file_path.h"
#include "include/advertising.h"
#include "stb_image_write.h"

namespace {

using Clock = std::chrono::steady_clock;

void* allocate(size_t size) { return std::malloc(size ? size : 1); }
void release(void* block) { std::free(block); }
void* load_component(const char*, int32_t, int32_t) {
    return dlopen(PIXMILL_LIBRARY_PATH_LINUX, RTLD_NOW | RTLD_LOCAL);
}
void unload_component(void* handle) { dlclose(handle); }
void* get_entry(void* handle, const char* name) { return dlsym(handle, name); }
int32_t find_item(const char*, const char*, char*, int32_t) { return 0; }
void quiet(void*, const char*) {}

std::string g_work;  // host folder of the answers and pictures

std::string windows_path(const std::string& host) {
    std::string path = "Z:" + host;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

bool setup() {
    static bool done = false;
    if (done) return true;
    char root[] = "/tmp/sxadbench-XXXXXX";
    if (!mkdtemp(root)) return false;
    g_work = root;
    setenv("SX_WINROOT", (g_work + "/root").c_str(), 1);
    static ComponentServices host = {1,         allocate,  release,        nullptr,
                                     nullptr,   nullptr,   load_component, unload_component,
                                     get_entry, find_item, nullptr,        nullptr};
    if (!component_client_init(&host)) return false;
    advertising_set_log(quiet, nullptr);
    done = true;
    return true;
}

void write_file(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

// Answers as the stand-in server sends them, uncut: the library's own cap
// is what bounds the work.
std::string answer(int kind) {
    std::string text;
    if (kind == 0) {  // 20 MB of critical records
        text = "x\n0\n2000000000\n";
        for (long k = 1; text.size() < (20u << 20); ++k)
            text += "1\nupgrade " + std::to_string(k) + "\n" + std::to_string(k) + "\n";
    } else if (kind == 1) {  // 100 MB without a line feed
        text.assign(100u << 20, 'z');
    } else {  // 1 MB of junk
        text.resize(1u << 20);
        unsigned state = 12345;
        for (char& c : text) c = char((state = state * 1103515245u + 12345u) >> 16);
    }
    return text;
}

struct Delivery {
    std::string path;
    ad_fetch_done_fn done = nullptr;
    void* argument = nullptr;
};

uint32_t fetch_url(void* host_data, const char*, ad_fetch_done_fn done, void* argument) {
    Delivery* d = static_cast<Delivery*>(host_data);
    d->done = done;
    d->argument = argument;
    return 7;
}

void BM_AnswerHeartbeats(benchmark::State& state) {
    if (!setup()) return state.SkipWithError("no emulated Windows");
    const int kind = int(state.range(0));
    Delivery delivery;
    delivery.path = windows_path(g_work + "/answer" + std::to_string(kind));
    write_file(g_work + "/answer" + std::to_string(kind), answer(kind));
    double longest = 0, total = 0;
    long heartbeats = 0;
    for (auto _ : state) {
        sx::FilePath upgrades;
        upgrades.set_to_system_data_directory();
        upgrades.append_file(ad::kCriticalUpgradesFileName);
        upgrades.delete_file();
        ad_init_info info{0, 1, "bench", fetch_url, nullptr, nullptr, &delivery};
        ad_context* c = advertising_init(&info);
        advertising_set_applet_info(c, 1, 1, "bench", 1);
        ad_start_params p{0, nullptr, 0, 1, 0, 0, 1};
        advertising_start_ad(c, &p);
        advertising_remove(c, "bench");
        advertising_heartbeat(c);  // sends
        delivery.done(delivery.argument, 7, 1, delivery.path.c_str());
        heartbeats = 0;
        longest = total = 0;
        while (c->exchange.status != 2) {
            const Clock::time_point start = Clock::now();
            advertising_heartbeat(c);
            const double ms =
                std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            longest = std::max(longest, ms);
            total += ms;
            ++heartbeats;
        }
        advertising_shutdown(c);
    }
    state.counters["heartbeats"] = double(heartbeats);
    state.counters["longest_ms"] = longest;
    state.counters["mean_ms"] = heartbeats ? total / double(heartbeats) : 0;
}
BENCHMARK(BM_AnswerHeartbeats)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->ArgNames({"records20MB_nolf100MB_junk1MB"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void write_gif_header(std::string* g, int width, int height, int frames) {
    auto le16 = [](int v) { return std::string{char(v), char(v >> 8)}; };
    *g = "GIF89a" + le16(width) + le16(height) + std::string("\x80\0\0\0\0\0\xff\xff\xff", 9);
    for (int i = 0; i < frames; ++i)
        *g += std::string("\x2c\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0", 15);
    *g += ";";
}

// A start with the picture: 0 a 4096 x 4096 PNG (the largest taken), 1 a
// 256-frame 256 x 256 GIF (the most frames taken), 2 an 8000 x 8000 PNG
// header and 3 a 5000-frame GIF (both refused).
void BM_StartWithPicture(benchmark::State& state) {
    if (!setup()) return state.SkipWithError("no emulated Windows");
    const int kind = int(state.range(0));
    const std::string host = g_work + "/picture" + std::to_string(kind);
    if (kind == 0) {
        const int side = 4096;
        std::string rgb(std::size_t(side) * side * 3, '\0');
        for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = char((i * 7) ^ (i >> 12));
        stbi_write_png(host.c_str(), side, side, 3, rgb.data(), side * 3);
    } else {
        std::string g;
        write_gif_header(&g, kind == 1 ? 256 : 200, kind == 1 ? 256 : 200, kind == 3 ? 5000 : 256);
        if (kind == 2) {
            const char ihdr[] =
                "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x1f\x40\0\0\x1f\x40\x08\x06\0\0\0";
            g.assign(ihdr, sizeof ihdr - 1);
            g += std::string(4, '\0') + std::string("\0\0\0\0IEND", 8) + std::string(4, '\0');
        }
        write_file(host, g);
    }
    const std::string path = windows_path(host);
    double start_ms = 0, longest = 0, ready_ms = 0;
    for (auto _ : state) {
        ad_init_info info{0, 1, "bench", nullptr, nullptr, nullptr, nullptr};
        ad_context* c = advertising_init(&info);
        ad_start_params p{0, path.c_str(), 0, 0, 1, 0, 1};
        const Clock::time_point begin = Clock::now();
        advertising_start_ad(c, &p);
        const Clock::time_point started = Clock::now();
        start_ms = std::chrono::duration<double, std::milli>(started - begin).count();
        // Heartbeats every millisecond until the picture is taken.
        longest = 0;
        while (c->picture_job) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const Clock::time_point before = Clock::now();
            advertising_heartbeat(c);
            longest = std::max(
                longest, std::chrono::duration<double, std::milli>(Clock::now() - before).count());
        }
        ready_ms = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
        state.SetIterationTime(ready_ms / 1000.0);
        advertising_shutdown(c);
    }
    state.counters["start_ms"] = start_ms;
    state.counters["longest_heartbeat_ms"] = longest;
    state.counters["ready_ms"] = ready_ms;
}
BENCHMARK(BM_StartWithPicture)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->ArgNames({"png4096_gif256_png8000_gif5000"})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
