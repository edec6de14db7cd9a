// The exports' lifecycle: states, the heartbeat clock, delays, texts, clicks.
#include <limits>

#include "advertising/tests/ad_test_host.h"

namespace adtest {
namespace {

class Lifecycle : public AdTest {};

// The remaining delay follows the clock; state and bar move only at a heartbeat, the bar never
// ahead of the minimum time. The first start entry has no delay.
TEST_F(Lifecycle, DelayAndBarFollowTheHeartbeatClock) {
    EXPECT_EQ(advertising_delay_remain(nullptr), -1.0);
    const uint32_t p = parent(400, 300);
    ad_context* timed = start(p, nullptr, 1, 4000);
    ad_context* slow = start(p, nullptr, 1, 4000);  // loading behind the clock
    ad_context* untimed = start(p, nullptr, 0, 4000);
    ad_context* no_delay = start(p, nullptr, 1, 0);
    ad_context* first_entry = open({p, 0, nullptr, nullptr, nullptr, nullptr, nullptr});
    ad_start_params v1{1, nullptr, 0, 0, 0, 0, 1};  // timed, no default
    advertising_start_ad(first_entry, &v1);
    EXPECT_EQ(first_entry->finger_cursor, 1);
    advertising_set_progress(timed, 1.0f);
    advertising_set_progress(slow, 0.1f);
    EXPECT_EQ(timed->window->progress, 0.0f);
    struct Case {
        uint32_t after_ms;
        ad_context* context;
        double expected;
    } cases[] = {
        {0, timed, 4.0},    {1000, timed, 3.0},   {3999, timed, 0.001}, {4000, timed, 0.0},
        {9000, timed, 0.0}, {1000, untimed, 0.0}, {0, no_delay, 0.0},   {0, first_entry, 0.0},
    };
    const uint32_t t0 = clock_.now;
    for (const Case& c : cases) {
        clock_.now = t0 + c.after_ms;
        EXPECT_NEAR(advertising_delay_remain(c.context), c.expected, 1e-9) << c.after_ms;
    }
    EXPECT_EQ(timed->state, ad::kStateTimed);
    clock_.now = t0 + 1000;
    for (ad_context* c : {timed, slow, first_entry}) advertising_heartbeat(c);
    auto states = [&] {
        return std::vector<float>{float(first_entry->state), float(timed->state),
                                  timed->window->progress, slow->window->progress};
    };
    EXPECT_EQ(states(), (std::vector<float>{ad::kStateShowing, ad::kStateTimed, 0.25f, 0.1f}));
    clock_.now = t0 + 4000;
    for (ad_context* c : {timed, slow}) advertising_heartbeat(c);
    EXPECT_EQ(states(), (std::vector<float>{ad::kStateShowing, ad::kStateShowing, 1.0f, 0.1f}));
}

// A NaN progress, from the player or straight at the window, keeps the last
// valid fraction on the bar.
TEST_F(Lifecycle, NanProgressKeepsTheLastValidFraction) {
    const uint32_t p = parent(202, 300);
    for (ad_context* c : {start(p, nullptr, 0, 0), start(p, nullptr, 1, 4000)}) {
        advertising_set_progress(c, 0.5f);
        advertising_heartbeat(c);
        const float shown = c->window->progress;
        advertising_set_progress(c, std::numeric_limits<float>::quiet_NaN());
        EXPECT_EQ(c->progress, 0.5f);
        advertising_heartbeat(c);
        ad::ad_window_set_progress(c->window, -std::numeric_limits<float>::quiet_NaN());
        EXPECT_EQ(c->window->progress, shown);
    }
}

// A restart keeps the window, forgets the exchange; only a changed message repaints.
TEST_F(Lifecycle, RestartMessagesAndRemove) {
    ad_context* c = start(parent(400, 300), nullptr, 0, -1);
    ad::AdWindow* first = c->window;
    c->exchange.status = 2;
    c->answer_parsed = 1;
    ad_start_params p{0, nullptr, 0, 0, 1, 0, 1};  // a bar, no default
    advertising_start_ad(c, &p);
    EXPECT_EQ(c->window, first);
    EXPECT_EQ(c->exchange.status + c->answer_parsed, 0);
    EXPECT_EQ(c->ad_id, -1);  // no picture at all
    advertising_start_ad2(c, nullptr);
    EXPECT_EQ(c->state, ad::kStateShowing);

    const uint32_t before = c->window->strip_repaints;
    for (const char* message : {"Loading", "Loading", static_cast<const char*>(nullptr)})
        advertising_set_message(c, message);
    EXPECT_EQ(c->window->strip_repaints, before + 2);
    EXPECT_STREQ(c->message.c_str(), "");

    clock_.now += 1234;
    advertising_remove(c, "first");
    EXPECT_TRUE(c->shown_ms == 1234u && !c->window && c->state == ad::kStateRemoved)
        << c->shown_ms << " " << c->state;
    advertising_remove(c, nullptr);
    EXPECT_STREQ(c->ic_text.c_str(), "first");
    advertising_heartbeat(c);  // the removed state draws nothing
    EXPECT_EQ(c->window, nullptr);
}

std::vector<std::string> g_opened;
int32_t record_open(void*, const char* url, const char* target) {
    g_opened.push_back(std::string(url) + "|" + target);
    return 0;
}

TEST_F(Lifecycle, ClickOpensTheUrlOrCallsTheFunction) {
    static int calls = 0;
    ad_context* c = open({parent(400, 300), 0, "", nullptr, nullptr, record_open, nullptr});
    ad_start_params2 p{};
    p.no_default = 1;
    p.click_url = "http://ads.invalid/x";
    p.click_fn = [](void*) { ++calls; };
    advertising_start_ad2(c, &p);
    ad::ad_window_clicked(c->window);
    EXPECT_EQ(g_opened, std::vector<std::string>{"http://ads.invalid/x|_new"});
    EXPECT_FALSE(c->window->clickable);  // finger_cursor 0
    p.click_url = nullptr;
    p.finger_cursor = 1;
    advertising_start_ad2(c, &p);
    ad::ad_window_clicked(c->window);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(c->window->clickable);
    EXPECT_TRUE(ad::ad_window_shows_finger(c->window, true));
    EXPECT_FALSE(ad::ad_window_shows_finger(c->window, false));
}

}  // namespace
}  // namespace adtest
