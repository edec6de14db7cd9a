// Allocate failing at call N, for every N along a whole road: no crash, no block lost.
#include "advertising/tests/ad_test_host.h"
#include "platform/testing/test_support.h"

namespace adtest {
namespace {

// The player answers at once, inside fetch_url, and once more after shutdown.
struct Answer {
    std::string path;
    ad_fetch_done_fn done = nullptr;
    void* argument = nullptr;
} answer;

uint32_t answer_at_once(void*, const char*, ad_fetch_done_fn done, void* argument) {
    answer.done = done;
    answer.argument = argument;
    done(argument, 5, 1, answer.path.c_str());
    return 5;
}

// Init, a timed showing, heartbeats, a restart, removal, shutdown; returns the allocate calls.
long run_road(long fail_at, Clock* clock, uint32_t parent_window) {
    ComponentServices table = make_host_table();
    host().fail_at = fail_at;
    host().default_ad = test_data("anim.gif");
    if (!component_client_init(&table)) return host().allocate_calls;
    const ad_init_info info{parent_window, 1, "bu", answer_at_once, nullptr, nullptr, nullptr};
    ad_context* c = advertising_init(&info);
    advertising_set_applet_info(c, 1, 2, "sv", 3);
    ad_start_params2 p{};
    p.timed = 1;
    p.show_bar = 1;
    p.delay_ms = 500;
    p.click_url = "http://ads.invalid/";
    advertising_set_message(c, "early");
    advertising_start_ad2(c, &p);
    for (int beat = 0; beat < 6; ++beat) {
        clock->now += 250;
        advertising_set_progress(c, beat / 5.0f);
        advertising_set_message(c, beat % 2 ? "odd" : "even");
        advertising_heartbeat(c);
    }
    ad_start_params again{0, nullptr, 0, 1, 1, 0, 0};  // report, a bar
    advertising_start_ad(c, &again);
    advertising_heartbeat(c);
    advertising_remove(c, "ic");
    for (int beat = 0; beat < 2; ++beat) advertising_heartbeat(c);
    advertising_shutdown(c);
    if (answer.done) answer.done(answer.argument, 5, 1, answer.path.c_str());
    answer.done = nullptr;
    component_client_shutdown();
    return host().allocate_calls;
}

TEST(AllocationFailure, EveryFailingCallLosesNothing) {
    Clock clock;
    sx::ScopedPlatform platform(&clock);
    const uint32_t parent_window = make_parent(400, 300);
    sx::testing::TemporaryDirectory dir;
    answer.path = dir.file("answer.txt");  // one record, not critical: no upgrades file
    ASSERT_TRUE(sx::testing::write_file(answer.path, "x\n0\n1\n0\nfoo\n7\n"));
    long total = 0;  // n = 0: no call fails, the road's count of calls
    for (long n = 0; n <= total; ++n) {
        const long calls = run_road(n, &clock, parent_window);
        if (n == 0) total = calls;
        ASSERT_GT(total, 20);
        ASSERT_TRUE(host().live.empty()) << host().live.size() << " blocks lost failing call " << n;
        ASSERT_EQ(host().loads, host().unloads) << n;
    }
    destroy_parent(parent_window);
}

}  // namespace
}  // namespace adtest
