// The report after a showing: request text, answers, completions and the upgrades file.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "advertising/exchange.h"
#include "advertising/tests/ad_test_host.h"
#include "components/testing/component_env.h"

namespace adtest {
namespace {

struct Fetch {
    std::vector<std::string> urls;
    uint32_t next_handle = 41;
    // What the player does inside fetch_url: nothing, or complete at once.
    bool complete_inside = false;
    std::string answer_path;
    ad_fetch_done_fn done = nullptr;
    void* done_argument = nullptr;
};

uint32_t fetch_url(void* host_data, const char* url, ad_fetch_done_fn done, void* argument) {
    Fetch* f = static_cast<Fetch*>(host_data);
    f->urls.push_back(url);
    f->done = done;
    f->done_argument = argument;
    const uint32_t handle = f->next_handle++;
    if (f->complete_inside) done(argument, handle, 1, f->answer_path.c_str());
    return handle;
}

class Exchange : public AdTest {
protected:
    void SetUp() override {
        AdTest::SetUp();
        system_ = env_.scratch() / "system\\";
        user_ = env_.scratch() / "appdata\\Stellarix\\Stellarix Player\\";
        ASSERT_TRUE(sx::FilePath(system_).ensure_directory() &&
                    sx::FilePath(user_).ensure_directory());
    }
    // A removed showing with report on, ready for heartbeats.
    ad_context* removed(bool applet_info, uint8_t report = 1) {
        ad_context* c = open({0, 7, "bu", fetch_url, nullptr, nullptr, &fetch_});
        if (applet_info) advertising_set_applet_info(c, 1, 2, "sv", 3);
        ad_start_params p{0, nullptr, 0, report, 0, 0, 1};  // no default
        advertising_start_ad(c, &p);
        advertising_remove(c, "ic");
        return c;
    }
    std::string upgrades(const std::string& folder = "") {
        return file_text((folder.empty() ? system_ : folder) + ad::kCriticalUpgradesFileName);
    }
    std::string answer(const std::string& content) {
        const std::string path = env_.scratch() / "answer.txt";
        EXPECT_TRUE(sx::testing::write_file(path, content));
        return path;
    }

    sx::testing::ComponentEnvironment env_;
    std::string system_, user_;
    Fetch fetch_;
};

TEST_F(Exchange, RequestTextIsEncodedByteForByte) {
    ad_context* c = open({0, 4294967295u, "caf\xE9 b", nullptr, nullptr, nullptr, nullptr});
    advertising_set_applet_info(c, -3, 12, "  my applet\t", 9);
    c->ad_id = -1;
    c->shown_ms = 1500;
    c->distribution_id = 77;
    c->ic_text.assign("a&b=c");
    const std::string tail =
        "adserver5?PR=5&OS=Win32&AD=-1&AV=1500&SV=my+applet&SD=9&PD=77&CR=-3&AP=12&SI=-1"
        "&BU=caf%E9+b&IC=a%26b%3Dc";
    EXPECT_EQ(ad::build_request_text(c, "http://h/cgi"), "NOREMAP:http://h/cgi/" + tail);
    EXPECT_EQ(ad::build_request_text(c, "http://h/cgi/"), "NOREMAP:http://h/cgi/" + tail);
}

// Answers delivered inside fetch_url append their critical lines, in bounded memory.
TEST_F(Exchange, AnswerDeliveredInsideFetchUrlGivesTheCriticalUpgrades) {
    const std::string twelve = "a\nb\nc\nd\ne\nf\ng\nh\ni\nj\nk\nl\n";
    // More than one heartbeat reads: several steps, all kept.
    std::string long_names = "x\n0\n100\n", long_expected;
    for (int i = 0; i < 100; ++i) {
        const std::string name(1000, char('a' + i % 26));
        long_names += "1\n" + name + "\n" + std::to_string(i) + "\n";
        long_expected += std::to_string(i) + " " + name + "\n";
    }
    const struct {
        std::string answer, expected;
    } cases[] = {
        {"x\n0\n1\n1\nfoo\n7\n", "7 foo\n"},
        {"x\n0\n1\n1\nfoo\n7", ""},  // the last read reaches the end
        {"x\r\n2\r\n" + twelve + "2\r\n1\r\nbar baz\r\n-4\r\n0\r\nskip\r\n5\r\n", "-4 bar baz\n"},
        {"x\n1000\n2\n1\na\n1\n1\nb\n2\n", "1 a\n2 b\n"},  // 1000 skips nothing
        {"x\n-1\n1\n3\nq\n 8z\n", "8 q\n"},
        {"x\n0\n2\n1\none\n1\n1\ntwo", "1 one\n"},  // lines acted on stay
        {"x\n0\n1\n1\n" + std::string(5000, 'n') + "\n9\n", "9 " + std::string(1023, 'n') + "\n"},
        {"x\n0\n2147483647\n" + std::string(3 << 20, '1'), ""},
        {long_names, long_expected},
    };
    for (const auto& k : cases) {
        sx::testing::write_file(system_ + ad::kCriticalUpgradesFileName, "0 old\n");
        fetch_.answer_path = answer(k.answer);
        fetch_.complete_inside = true;
        const long calls_before = host().allocate_calls;
        ad_context* c = removed(true);
        for (int i = 0; i < 20 && c->exchange.status != 2; ++i) advertising_heartbeat(c);
        EXPECT_EQ(c->exchange.status, 2);
        EXPECT_EQ(upgrades(), "0 old\n" + k.expected) << k.answer.substr(0, 40);
        EXPECT_LT(host().allocate_calls - calls_before, 64) << k.answer.size();
    }
}

// No request without report or applet info; a completion for an unknown handle changes nothing.
TEST_F(Exchange, RequestsAndTheirCompletions) {
    ad_context* silent = removed(true, 0);
    ad_context* late = removed(false);
    for (int i = 0; i < 10; ++i) advertising_heartbeat(i % 2 ? silent : late);
    EXPECT_TRUE(fetch_.urls.empty());
    advertising_set_applet_info(late, 1, 1, "x", 1);
    advertising_heartbeat(late);
    ASSERT_EQ(fetch_.urls.size(), 1u);
    EXPECT_EQ(late->exchange.status, 1);
    const std::string path = answer("x\n0\n1\n1\nlate\n1\n");
    fetch_.done(fetch_.done_argument, late->exchange.current_request + 100, 1, path.c_str());
    advertising_heartbeat(late);
    EXPECT_EQ(late->exchange.status, 1);
    EXPECT_EQ(late->exchange.request_table.size(), 1u);
    fetch_.done(fetch_.done_argument, late->exchange.current_request, 0, nullptr);
    advertising_heartbeat(late);
    EXPECT_EQ(late->exchange.status, 2);
}

class Collect : public ad::UpgradeSink {
public:
    void add(const char* line, std::size_t size) override { lines.append(line, size); }
    std::string lines;
};

// A step reads no more than its bytes (+1 for a CR/LF partner) and hands over
// no more than its records; the cap ends the answer, earlier lines kept in order.
TEST_F(Exchange, EachStepKeepsToItsBudgetAndTheCapEndsTheAnswer) {
    constexpr std::size_t kCap = 64 * 1024;
    // LF only: in text mode Windows would count a CR LF as one character.
    std::string records = "x\n0\n2000000000\n", within_cap;
    for (int k = 1; records.size() < 4 * kCap; ++k) {
        records += "1\nname " + std::to_string(k) + "\n" + std::to_string(k) + "\n";
        if (records.size() <= kCap)
            within_cap += std::to_string(k) + " name " + std::to_string(k) + "\n";
    }
    const struct {
        std::string answer, expected;
        bool cut;
    } cases[] = {
        {records, within_cap, true},
        {"x\n0\n1\n1\n" + std::string(3 * kCap, 'n'), "", true},
        {records.substr(0, kCap), within_cap, false},  // ends exactly at the cap
    };
    for (const auto& k : cases) {
        std::FILE* stream = sx::platform().open_file(answer(k.answer).c_str(), "r");
        ASSERT_NE(stream, nullptr);
        ad::AnswerReader reader(stream, kCap);
        Collect sink;
        int steps = 0;
        bool done = false;
        while (!done && steps < 10000) {
            const std::size_t bytes_before = reader.consumed(), lines_before = sink.lines.size();
            done = reader.step(&sink, {1000, 7});
            ++steps;
            EXPECT_LE(reader.consumed() - bytes_before, 1001u);
            const std::string added = sink.lines.substr(lines_before);
            EXPECT_LE(std::count(added.begin(), added.end(), '\n'), 7);
        }
        std::fclose(stream);
        EXPECT_TRUE(done);
        EXPECT_EQ(sink.lines, k.expected) << k.answer.size();
        EXPECT_EQ(reader.cut(), k.cut) << k.answer.size();
        EXPECT_LE(reader.consumed(), kCap);
    }
}

// Lines go into the very file the player holds open (a copy renamed over it
// would not show through that handle), after the earlier ones, nowhere else.
TEST_F(Exchange, TheUpgradesFileKeepsItsIdentityAndEarlierLines) {
    const std::string file = system_ + ad::kCriticalUpgradesFileName;
    ASSERT_TRUE(sx::testing::write_file(file, "0 old\n5 older\n"));
    std::FILE* player = sx::platform().open_file(file.c_str(), "rb");
    ASSERT_NE(player, nullptr);
    fetch_.answer_path = answer("x\n0\n3\n1\nfirst\n7\n0\nminor\n8\n1\nsecond\n9\n");
    fetch_.complete_inside = true;
    ad_context* c = removed(true);
    for (int i = 0; i < 10 && c->exchange.status != 2; ++i) advertising_heartbeat(c);
    std::string seen(256, '\0');
    std::fseek(player, 0, SEEK_SET);
    seen.resize(std::fread(&seen[0], 1, seen.size(), player));
    std::fclose(player);
    EXPECT_EQ(seen, "0 old\n5 older\n7 first\n9 second\n");
    EXPECT_EQ(upgrades(), seen);
    EXPECT_EQ(upgrades(user_), "");
}

// A full disk may cut a line but never diverts it; only a system file that
// cannot be opened sends the line to the user folder.
TEST_F(Exchange, AFailedWriteIsNotDiverted) {
    const std::string old = "1 kept\n";
    ASSERT_TRUE(sx::testing::write_file(system_ + ad::kCriticalUpgradesFileName, old));
    if (sx::FaultyPlatform::supports_disk_full()) {
        clock_.fail_after_writes(ad::kCriticalUpgradesFileName, 3);
        EXPECT_FALSE(ad::append_critical_upgrade("2 lost\n", 7));
        EXPECT_EQ(upgrades(), old + "2 l");  // what a reader must take as unfinished
        EXPECT_EQ(upgrades(user_), "");
        clock_.clear_rules();
        ASSERT_TRUE(sx::testing::write_file(system_ + ad::kCriticalUpgradesFileName, old));
    }
    clock_.fail_open_file(system_ + ad::kCriticalUpgradesFileName, "ab");
    EXPECT_TRUE(ad::append_critical_upgrade("3 new\n", 6));
    EXPECT_EQ(upgrades() + "|" + upgrades(user_), old + "|3 new\n");
    clock_.fail_open_file(user_ + ad::kCriticalUpgradesFileName, "ab");
    EXPECT_FALSE(ad::append_critical_upgrade("4 gone\n", 7));
}

}  // namespace
}  // namespace adtest
