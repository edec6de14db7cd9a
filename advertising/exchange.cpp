#include "advertising/exchange.h"

#include <cstring>

#include "advertising/ad_log.h"
#include "advertising/context.h"
#include "components/file_path.h"
#include "components/maker_info.h"
#include "components/settings_encoding.h"
#include "components/settings_store.h"
#include "components/text_util.h"
#include "platform/platform.h"

namespace ad {

namespace {

constexpr char kRequestPrefix[] = "NOREMAP:";
constexpr char kScriptName[] = "adserver5";
constexpr char kDefaultScriptsPath[] = "cgi-bin";
constexpr char kOperatingSystem[] = "Win32";
constexpr int32_t kProtocolVersion = 5;
constexpr int32_t kSkippedRecordLines = 6;
constexpr int32_t kMaxSkippedRecords = 1000;
constexpr std::size_t kUpgradeLineSize = 16 + kMaxLineLength + 1;

}  // namespace

struct AnswerInProgress {
    explicit AnswerInProgress(std::FILE* file) : stream(file), reader(file) {}
    std::FILE* stream;
    AnswerReader reader;
};

namespace {

// Live contexts by token; a completion whose token is gone is dropped.
using LiveMap = std::map<uintptr_t, ad_context*, std::less<uintptr_t>,
                         HostAllocator<std::pair<const uintptr_t, ad_context*>>>;
LiveMap& live_contexts() {
    static LiveMap live;
    return live;
}
uintptr_t next_token = 0;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string form_number(int32_t value) { return std::to_string(value); }

// "key=value" pairs of the request, in the server's order.
void add_pair(std::string* text, const char* key, const std::string& value, bool last = false) {
    *text += key;
    *text += value;
    if (!last) *text += '&';
}

sx::FilePath data_file(bool system, const char* name) {
    sx::FilePath path;
    if (system) {
        path.set_to_system_data_directory();
    } else {
        path.set_to_user_data_directory();
    }
    path.append_file(name);
    return path;
}

// The upgrades file of one heartbeat's step, opened at its first line. Every
// line is one fwrite of an unbuffered stream, so it reaches the file in one
// write and a player reading meanwhile never sees half of it.
class FileSink : public UpgradeSink {
public:
    ~FileSink() override { close(); }
    void add(const char* line, std::size_t size) override {
        if (!file_ && !tried_) {
            tried_ = true;
            file_ = open_upgrades_file();
            if (!file_) note("upgrades_critical.dat cannot be opened in either data directory");
        }
        if (!file_) {
            ++lost_;
            return;
        }
        if (std::fwrite(line, 1, size, file_) != size) {
            ++lost_;
            std::clearerr(file_);
        }
    }
    void close() {
        if (file_ && std::fclose(file_) != 0) ++lost_;
        file_ = nullptr;
        if (lost_ > 0) note("%lu upgrade line(s) could not be written", lost_);
        lost_ = 0;
    }
    static std::FILE* open_upgrades_file() {
        for (bool system : {true, false}) {
            std::FILE* file = data_file(system, kCriticalUpgradesFileName).open_stream("ab");
            if (!file) continue;
            std::setvbuf(file, nullptr, _IONBF, 0);
            return file;
        }
        return nullptr;
    }

private:
    std::FILE* file_ = nullptr;
    bool tried_ = false;
    unsigned long lost_ = 0;
};

void send_request(ad_context* c) {
    std::string base = sx::read_setting(kBaseUrlSetting);
    if (base.empty()) base = std::string(sx::kMakerWebSite) + kDefaultScriptsPath;
    const std::string text = build_request_text(c, base);
    AdExchange& x = c->exchange;
    ++x.send_serial;
    if (x.send_serial == 0) ++x.send_serial;
    x.sending = true;
    uint32_t handle = 0;
    try {
        handle = c->fetch_url ? c->fetch_url(c->host_data, text.c_str(), fetch_done,
                                             reinterpret_cast<void*>(x.token))
                              : 0;
    } catch (...) {
        x.sending = false;
        throw;
    }
    x.sending = false;
    x.current_request = handle;
    RequestEntry& entry = x.request_table[handle];
    // A completion that came while fetch_url ran is the answer; keep it.
    if (entry.send_serial != x.send_serial) {
        entry.status = kRequestPending;
        entry.answer_path.assign("");
    }
    entry.send_serial = 0;
}

void close_answer(AdExchange& x) {
    if (!x.answer) return;
    std::fclose(x.answer->stream);
    host_delete(x.answer);
    x.answer = nullptr;
}

// One heartbeat's share of the answer; true once it has been read whole.
bool read_answer_step(AdExchange& x, const char* path) {
    if (!x.answer) {
        std::FILE* stream = sx::platform().open_file(path, "r");
        if (!stream) {
            note("the answer %s cannot be opened (system error %ld)", path,
                 sx::platform().last_error());
            return true;
        }
        try {
            x.answer = host_new<AnswerInProgress>(stream);
        } catch (...) {
            std::fclose(stream);
            throw;
        }
    }
    FileSink sink;
    if (!x.answer->reader.step(&sink, {AD_ANSWER_BYTES_PER_HEARTBEAT, AD_UPGRADES_PER_HEARTBEAT}))
        return false;
    if (x.answer->reader.cut())
        note("the answer is longer than %u bytes: the rest is ignored", AD_MAX_ANSWER_BYTES);
    close_answer(x);
    return true;
}

}  // namespace

LineRead read_bounded_line(std::FILE* stream, char* buffer, std::size_t* length) {
    std::size_t n = 0;
    for (;;) {
        const int c = std::fgetc(stream);
        if (c == EOF) {
            buffer[n] = '\0';
            *length = n;
            return n > 0 ? LineRead::kUnterminated : LineRead::kEnd;
        }
        if (c == '\r' || c == '\n') {
            const int next = std::fgetc(stream);
            const int partner = c == '\r' ? '\n' : '\r';
            if (next != partner && next != EOF) std::ungetc(next, stream);
            buffer[n] = '\0';
            *length = n;
            return LineRead::kLine;
        }
        if (n < kMaxLineLength) buffer[n++] = static_cast<char>(c);
    }
}

int32_t parse_decimal(const char* text) {
    while (is_blank(*text)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > int64_t(INT32_MAX) + 1) value = int64_t(INT32_MAX) + 1;
    }
    if (negative) return static_cast<int32_t>(-value);
    return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

bool read_distribution_stream(std::FILE* stream, int32_t* value) {
    char line[kMaxLineLength + 1];
    std::size_t length = 0;
    while (read_bounded_line(stream, line, &length) != LineRead::kEnd) {
        const std::string trimmed = sx::trim_spaces(std::string(line, length));
        if (trimmed.empty() || trimmed[0] == '#') continue;
        *value = parse_decimal(trimmed.c_str());
        return true;
    }
    return false;
}

std::string build_request_text(const ad_context* c, const std::string& base) {
    std::string text = kRequestPrefix + base;
    if (text.back() != '/') text += '/';
    text += kScriptName;
    text += '?';
    add_pair(&text, "PR=", form_number(kProtocolVersion));
    add_pair(&text, "OS=", sx::form_encode(kOperatingSystem));
    add_pair(&text, "AD=", form_number(c->ad_id));
    add_pair(&text, "AV=", form_number(static_cast<int32_t>(c->shown_ms)));
    add_pair(&text, "SV=", sx::form_encode(sx::trim_spaces(c->sv_text.c_str())));
    add_pair(&text, "SD=", form_number(c->sd_value));
    add_pair(&text, "PD=", form_number(c->distribution_id));
    add_pair(&text, "CR=", form_number(c->cr_value));
    add_pair(&text, "AP=", form_number(c->ap_value));
    add_pair(&text, "SI=", form_number(static_cast<int32_t>(c->si_value)));
    add_pair(&text, "BU=", sx::form_encode(c->bu_text.c_str()));
    add_pair(&text, "IC=", sx::form_encode(c->ic_text.c_str()), true);
    return text;
}

AnswerReader::AnswerReader(std::FILE* stream, std::size_t cap)
    : stream_(stream), cap_(cap), line_(kMaxLineLength + 1), name_(kMaxLineLength + 1) {}

AnswerReader::Read AnswerReader::next_line(char* buffer, std::size_t limit) {
    for (;;) {
        if (consumed_ >= cap_) {
            cut_ = std::fgetc(stream_) != EOF;
            return kFailed;
        }
        if (consumed_ >= limit) return kPaused;  // a long line goes on at the next step
        const int c = std::fgetc(stream_);
        if (c == EOF) return kFailed;
        ++consumed_;
        if (c == '\r' || c == '\n') {
            buffer[length_] = '\0';
            length_ = 0;
            if (consumed_ < cap_) {
                const int next = std::fgetc(stream_);
                if (next == (c == '\r' ? '\n' : '\r')) {
                    ++consumed_;
                } else if (next != EOF) {
                    std::ungetc(next, stream_);
                }
            }
            return kRead;
        }
        if (length_ < kMaxLineLength) buffer[length_++] = static_cast<char>(c);
    }
}

void AnswerReader::add_record(UpgradeSink* sink) {
    char line[kUpgradeLineSize];
    const int size = std::snprintf(line, sizeof line, "%d %s\n",
                                   parse_decimal(reinterpret_cast<const char*>(line_.data())),
                                   reinterpret_cast<const char*>(name_.data()));
    if (size > 0) sink->add(line, static_cast<std::size_t>(size));
}

bool AnswerReader::step(UpgradeSink* sink, StepBudget budget) {
    char* line = reinterpret_cast<char*>(line_.data());
    const std::size_t byte_limit = consumed_ + budget.bytes;
    std::size_t records = 0;
    while (phase_ != kDone) {
        if (records >= budget.records) return false;
        const Read read =
            next_line(phase_ == kName ? reinterpret_cast<char*>(name_.data()) : line, byte_limit);
        if (read == kPaused) return false;
        if (read == kFailed) {
            phase_ = kDone;
            break;
        }
        switch (phase_) {
            case kIgnored:
                phase_ = kSkipCount;
                break;
            case kSkipCount: {
                const int32_t skipped = parse_decimal(line);
                lines_left_ = skipped > 0 && skipped < kMaxSkippedRecords
                                  ? int64_t(skipped) * kSkippedRecordLines
                                  : 0;
                phase_ = lines_left_ > 0 ? kSkipping : kRecordCount;
                break;
            }
            case kSkipping:
                if (--lines_left_ == 0) phase_ = kRecordCount;
                break;
            case kRecordCount:
                records_left_ = parse_decimal(line);
                phase_ = records_left_ > 0 ? kFlag : kDone;
                break;
            case kFlag:
                flag_ = parse_decimal(line);
                phase_ = kName;
                break;
            case kName:
                phase_ = kNumber;
                break;
            case kNumber:
                if (flag_ != 0) {
                    add_record(sink);
                    ++records;
                }
                phase_ = --records_left_ > 0 ? kFlag : kDone;
                break;
            case kDone:
                break;
        }
    }
    return true;
}

void parse_answer_stream(std::FILE* stream, UpgradeSink* sink) {
    AnswerReader reader(stream);
    while (!reader.step(sink, {AD_ANSWER_BYTES_PER_HEARTBEAT, AD_UPGRADES_PER_HEARTBEAT})) {
    }
}

bool append_critical_upgrade(const char* line, std::size_t size) {
    std::FILE* file = FileSink::open_upgrades_file();
    if (!file) return false;
    const bool written = std::fwrite(line, 1, size, file) == size;
    return (std::fclose(file) == 0) && written;
}

void read_distribution_id(ad_context* c) {
    for (bool system : {false, true}) {
        std::FILE* stream = data_file(system, kDistributionFileName).open_stream("r");
        if (!stream) continue;
        int32_t value = 0;
        if (read_distribution_stream(stream, &value)) c->distribution_id = value;
        std::fclose(stream);
        return;
    }
}

void reset_exchange(ad_context* c) {
    close_answer(c->exchange);
    c->exchange.status = 0;
    c->answer_parsed = 0;
}

void exchange_step(ad_context* c) {
    AdExchange& x = c->exchange;
    if (x.status == 2 || !c->report) return;
    if (x.status == 0) {
        if (!c->applet_info_set) return;
        send_request(c);
        x.status = 1;
        return;
    }
    const auto found = x.request_table.find(x.current_request);
    if (found == x.request_table.end() || found->second.status == kRequestPending) return;
    const RequestEntry& entry = found->second;
    if (entry.status == kRequestAnswered && !entry.answer_path.empty() && !c->answer_parsed) {
        // The answer is read a bounded piece per heartbeat: a long one must
        // not stop the player.
        if (!read_answer_step(x, entry.answer_path.c_str())) return;
        c->answer_parsed = 1;
    }
    x.status = 2;
}

void register_exchange(ad_context* c) {
    LiveMap& live = live_contexts();
    do {
        ++next_token;
    } while (next_token == 0 || live.count(next_token) != 0);
    live.emplace(next_token, c);
    c->exchange.token = next_token;
}

void retire_exchange(ad_context* c) {
    close_answer(c->exchange);
    live_contexts().erase(c->exchange.token);
}

void fetch_done(void* argument, uint32_t request, uint8_t success, const char* path) {
    try {
        LiveMap& live = live_contexts();
        const auto found = live.find(reinterpret_cast<uintptr_t>(argument));
        if (found == live.end()) return;
        AdExchange& x = found->second->exchange;
        auto entry = x.request_table.find(request);
        if (entry == x.request_table.end()) {
            // Only the request being sent may be unknown yet.
            if (!x.sending) return;
            entry = x.request_table.emplace(request, RequestEntry()).first;
        }
        RequestEntry& e = entry->second;
        e.answer_path.assign(success ? path : "");
        e.status = success ? kRequestAnswered : kRequestFailed;
        e.send_serial = x.sending ? x.send_serial : 0;
    } catch (...) {
        // Out of memory: the request stays pending, as if never completed.
    }
}

}  // namespace ad
