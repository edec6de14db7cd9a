// The ad tests' host: a table whose allocate fails at call N and counts every block, the real
// pixmill of the build, a clock the test sets, and parent windows.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "advertising/context.h"
#include "include/advertising.h"
#include "platform/testing/faulty_platform.h"

namespace adtest {

struct HostRecord {
    long allocate_calls = 0;
    long fail_at = 0;  // the allocate call that returns null; 0: none
    std::set<void*> live;
    int loads = 0, unloads = 0;
    std::string default_ad;  // what find_component_item gives for "default_ad"
};

HostRecord& host();  // the record of the table handed out last
ComponentServices make_host_table();

// A platform whose tick count the test sets.
class Clock : public sx::FaultyPlatform {
public:
    uint32_t tick_count() override { return now; }
    uint32_t now = 100000;
};

// A top-level window of the given client size for the ad to be a child of.
uint32_t make_parent(int width, int height);
void destroy_parent(uint32_t window);

std::string file_text(const std::string& path);  // empty when it cannot be read
// tests/data/NAME in Windows form: anim.gif (64 x 48, red, green, blue of 100 ms), alpha.png.
std::string test_data(const char* name);

inline uint32_t rgb(uint8_t r, uint8_t g, uint8_t b) { return (r << 16) | (g << 8) | b; }

// A fresh host, the library initialised, a settable clock; every block must come back.
class AdTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // A context shut down at the end of the test.
    ad_context* open(const ad_init_info& info) {
        contexts_.push_back(advertising_init(&info));
        return contexts_.back();
    }
    ad_context* start(uint32_t parent, const char* picture, uint8_t timed, int32_t delay_ms,
                      uint8_t show_bar = 1);
    // The pixel of the ad window as last drawn; 0xFFFFFFFF when out of range.
    uint32_t pixel(const ad_context* context, int x, int y) const;
    uint32_t parent(int width, int height) {
        parents_.push_back(make_parent(width, height));
        return parents_.back();
    }

    Clock clock_;
    sx::ScopedPlatform platform_{&clock_};
    ComponentServices table_{};
    std::vector<uint32_t> parents_;
    std::vector<ad_context*> contexts_;
};

}  // namespace adtest
