#include "advertising/exchange.h"

#include <cstring>

#include "advertising/context.h"
#include "components/file_lock.h"
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
constexpr char kRewriteSuffix[] = ".new";
// Long enough for a player that is appending at the same moment.
constexpr unsigned kUpgradeLockWaitMs = 500;
constexpr std::size_t kCopyChunk = 4096;
// Upgrade lines are gathered up to this size before the file is rewritten.
constexpr std::size_t kUpgradeBatch = 64 * 1024;

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

bool copy_stream(std::FILE* from, std::FILE* to) {
    char chunk[kCopyChunk];
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, from);
        if (got > 0 && std::fwrite(chunk, 1, got, to) != got) return false;
        if (got < sizeof chunk) return std::ferror(from) == 0;
    }
}

bool rewrite_with_lines(const sx::FilePath& file, const char* lines, std::size_t size) {
    sx::FileLockHolder lock = sx::acquire_lock(file, kUpgradeLockWaitMs);
    if (!lock) return false;
    const sx::FilePath sibling(file.text() + kRewriteSuffix);
    std::FILE* out = sibling.open_stream("wb");
    if (!out) return false;
    bool ok = true;
    bool is_directory = false;
    if (file.exists(&is_directory)) {
        std::FILE* in = is_directory ? nullptr : file.open_stream("rb");
        ok = in != nullptr && copy_stream(in, out);
        if (in) std::fclose(in);
    }
    ok = ok && std::fwrite(lines, 1, size, out) == size;
    ok = ok && sx::platform().flush_file(out);
    ok = (std::fclose(out) == 0) && ok;
    ok = ok && sx::platform().replace_file(sibling.c_str(), file.c_str());
    if (!ok) sibling.delete_file();
    return ok;
}

class FileSink : public UpgradeSink {
public:
    void commit(const char* lines, std::size_t size) override {
        append_critical_upgrades(lines, size);
    }
};

class BatchingSink {
public:
    explicit BatchingSink(UpgradeSink* sink) : sink_(sink), buffer_(kUpgradeBatch) {}
    ~BatchingSink() { flush(); }
    // A name is at most one line long, so a line always fits an empty batch.
    void add(int32_t number, const char* name) {
        char head[16];
        const std::size_t head_size =
            static_cast<std::size_t>(std::snprintf(head, sizeof head, "%d ", number));
        const std::size_t name_size = std::strlen(name);
        if (used_ + head_size + name_size + 1 > kUpgradeBatch) flush();
        unsigned char* at = buffer_.data() + used_;
        std::memcpy(at, head, head_size);
        std::memcpy(at + head_size, name, name_size);
        at[head_size + name_size] = '\n';
        used_ += head_size + name_size + 1;
    }
    void flush() {
        if (used_ > 0) sink_->commit(reinterpret_cast<const char*>(buffer_.data()), used_);
        used_ = 0;
    }

private:
    UpgradeSink* sink_;
    HostBuffer buffer_;
    std::size_t used_ = 0;
};

bool read_answer_line(std::FILE* stream, char* buffer) {
    std::size_t length = 0;
    return read_bounded_line(stream, buffer, &length) == LineRead::kLine;
}

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

void parse_answer(const char* path) {
    std::FILE* stream = sx::platform().open_file(path, "r");
    if (!stream) return;
    FileSink sink;
    parse_answer_stream(stream, &sink);
    std::fclose(stream);
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

void parse_answer_stream(std::FILE* stream, UpgradeSink* sink) {
    HostBuffer line_buffer(kMaxLineLength + 1);
    char* line = reinterpret_cast<char*>(line_buffer.data());
    BatchingSink batch(sink);
    if (!read_answer_line(stream, line) || !read_answer_line(stream, line)) return;
    const int32_t skipped = parse_decimal(line);
    if (skipped > 0 && skipped < kMaxSkippedRecords) {
        for (int32_t i = 0; i < skipped * kSkippedRecordLines; ++i) {
            if (!read_answer_line(stream, line)) return;
        }
    }
    if (!read_answer_line(stream, line)) return;
    const int32_t records = parse_decimal(line);
    HostBuffer name_buffer(kMaxLineLength + 1);
    char* name = reinterpret_cast<char*>(name_buffer.data());
    for (int32_t i = 0; i < records; ++i) {
        if (!read_answer_line(stream, line)) return;
        const int32_t flag = parse_decimal(line);
        if (!read_answer_line(stream, name) || !read_answer_line(stream, line)) return;
        if (flag != 0) batch.add(parse_decimal(line), name);
    }
}

bool append_critical_upgrades(const char* lines, std::size_t size) {
    for (bool system : {true, false}) {
        if (rewrite_with_lines(data_file(system, kCriticalUpgradesFileName), lines, size)) {
            return true;
        }
    }
    return false;
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
        parse_answer(entry.answer_path.c_str());
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

void retire_exchange(ad_context* c) { live_contexts().erase(c->exchange.token); }

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
