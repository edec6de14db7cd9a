#include "advertising/tests/ad_test_host.h"

#include <cstdlib>
#include <cstring>

#include "advertising/surface.h"
#include "platform/platform.h"
#include "platform/testing/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "advertising/posix/screen.h"
#endif

namespace adtest {

namespace {

HostRecord g_record;

void* allocate(size_t size) {
    if (++g_record.allocate_calls == g_record.fail_at) return nullptr;
    void* block = std::malloc(size ? size : 1);
    g_record.live.insert(block);
    return block;
}

void release(void* block) {
    EXPECT_EQ(g_record.live.erase(block), 1u) << "released a block never allocated";
    std::free(block);
}

void* load_component(const char* name, int32_t a, int32_t b) {
    EXPECT_TRUE(std::strcmp(name, "pixmill") == 0 && a == 1 && b == 1) << name << a << b;
    ++g_record.loads;
    return sx::platform().load_library(
        sx::testing::host_to_windows_path(PIXMILL_LIBRARY_PATH_LINUX).c_str());
}

void unload_component(void* handle) {
    ++g_record.unloads;
    sx::platform().free_library(static_cast<sx::ModuleHandle>(handle));
}

void* get_entry(void* handle, const char* name) {
    return sx::platform().find_symbol(static_cast<sx::ModuleHandle>(handle), name);
}

int32_t find_item(const char* component, const char* key, char* buffer, int32_t size) {
    EXPECT_TRUE(std::strcmp(component, "advertising") == 0 && size == 260) << component << size;
    const std::string value = std::strcmp(key, "default_ad") == 0 ? g_record.default_ad : "";
    if (value.empty() || value.size() + 1 > static_cast<size_t>(size)) return 0;
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    return static_cast<int32_t>(value.size() + 1);
}

}  // namespace

HostRecord& host() { return g_record; }

ComponentServices make_host_table() {
    g_record = HostRecord{};
    return {1,         allocate,  release,        nullptr,
            nullptr,   nullptr,   load_component, unload_component,
            get_entry, find_item, nullptr,        nullptr};
}

#ifdef _WIN32
uint32_t make_parent(int width, int height) {
    HWND w = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr,
                             nullptr, GetModuleHandleA(nullptr), nullptr);
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(w));
}
void destroy_parent(uint32_t window) {
    DestroyWindow(reinterpret_cast<HWND>(static_cast<uintptr_t>(window)));
}
#else
uint32_t make_parent(int width, int height) {
    return sxscreen::create_window(0, 0, 0, width, height);
}
void destroy_parent(uint32_t window) { sxscreen::destroy_window(window); }
#endif

std::string file_text(const std::string& path) {
    std::string text;
    sx::testing::read_file(path, &text);
    return text;
}

std::string test_data(const char* name) {
    return sx::testing::host_to_windows_path(std::string(AD_TEST_DATA_DIR) + "/" + name);
}

void AdTest::SetUp() {
    table_ = make_host_table();
    ASSERT_TRUE(component_client_init(&table_));
}

void AdTest::TearDown() {
    for (ad_context* c : contexts_) advertising_shutdown(c);
    component_client_shutdown();
    for (uint32_t p : parents_) destroy_parent(p);
    EXPECT_EQ(host().loads, host().unloads);
    EXPECT_TRUE(host().live.empty()) << host().live.size() << " blocks never released";
}

ad_context* AdTest::start(uint32_t parent, const char* picture, uint8_t timed, int32_t delay_ms,
                          uint8_t show_bar) {
    ad_context* c = open({parent, 7, "bu", nullptr, nullptr, nullptr, nullptr});
    ad_start_params2 p{};
    p.timed = timed;
    p.image_path = picture;
    p.show_bar = show_bar;
    p.delay_ms = delay_ms;
    p.no_default = 1;
    advertising_start_ad2(c, &p);
    return c;
}

uint32_t AdTest::pixel(const ad_context* c, int x, int y) const {
    if (!c->window) return 0xFFFFFFFF;
    const ad::AdWindow* w = c->window;
    const bool in_strip = w->strip_enabled && y >= w->picture_height;
    const ad::Canvas layer =
        ad::surface_current_layer(w->handle, in_strip ? ad::Layer::strip : ad::Layer::picture);
    const int ly = in_strip ? y - w->picture_height : y;
    const bool inside = layer.pixels && x >= 0 && ly >= 0 && x < layer.width && ly < layer.height;
    return inside ? layer.at(x, ly) & 0xFFFFFF : 0xFFFFFFFF;
}

}  // namespace adtest
