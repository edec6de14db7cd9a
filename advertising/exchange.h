// Where the report after a showing goes and what comes back: the
// distribution number, the request to the ad server, the completions the
// player delivers, and the list of critical upgrades kept for the player.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "advertising/host_memory.h"
#include "include/advertising.h"

struct ad_context;

namespace ad {

constexpr char kDistributionFileName[] = "dist.id";
constexpr char kCriticalUpgradesFileName[] = "upgrades_critical.dat";
constexpr char kBaseUrlSetting[] = "BaseURLs/Scripts";
constexpr std::size_t kMaxLineLength = 1023;

enum class LineRead { kLine, kUnterminated, kEnd };

// Reads one line of at most kMaxLineLength bytes into `buffer` (zero ended,
// kMaxLineLength + 1 bytes); the rest of a longer line is skipped, so a
// hostile file never makes us hold more than one buffer. CR, LF, CR LF and
// LF CR end a line. kUnterminated: characters, then the end of the file.
LineRead read_bounded_line(std::FILE* stream, char* buffer, std::size_t* length);

// Leading blanks, an optional sign, digits; anything else ends the number.
// No digits gives 0; values beyond 32 bits saturate.
int32_t parse_decimal(const char* text);

// The first number line of a "dist.id" stream (comments and blank lines
// skipped); false when there is none.
bool read_distribution_stream(std::FILE* stream, int32_t* value);

// The request text for the context's showing, base address included.
std::string build_request_text(const ad_context* context, const std::string& base);

// Receives the critical-upgrade lines of an answer, one "%d %s\n" line a call.
class UpgradeSink {
public:
    virtual ~UpgradeSink() = default;
    virtual void add(const char* line, std::size_t size) = 0;
};

// What one call of AnswerReader::step may do.
struct StepBudget {
    std::size_t bytes;    // of the answer read
    std::size_t records;  // upgrade lines handed over
};

// Reads an answer in one pass, a bounded piece per step, so that a long
// answer is spread over many heartbeats. At most `cap` bytes of it are read;
// the rest is ignored.
class AnswerReader {
public:
    explicit AnswerReader(std::FILE* stream, std::size_t cap = AD_MAX_ANSWER_BYTES);
    // True once the answer is over (its end, a failed read, the cap).
    bool step(UpgradeSink* sink, StepBudget budget);
    bool cut() const { return cut_; }  // the cap was reached with more to come
    std::size_t consumed() const { return consumed_; }

private:
    enum Phase { kIgnored, kSkipCount, kSkipping, kRecordCount, kFlag, kName, kNumber, kDone };
    enum Read { kRead, kFailed, kPaused };
    // One line within the cap into `buffer`; kFailed when it does not end at
    // a terminator, kPaused when `limit` bytes are consumed before its end
    // (the next call goes on with it).
    Read next_line(char* buffer, std::size_t limit);
    void add_record(UpgradeSink* sink);

    std::FILE* stream_;
    std::size_t cap_;
    std::size_t consumed_ = 0;
    bool cut_ = false;
    Phase phase_ = kIgnored;
    int64_t lines_left_ = 0;
    int32_t records_left_ = 0;
    int32_t flag_ = 0;
    std::size_t length_ = 0;  // of the line being read
    HostBuffer line_;
    HostBuffer name_;
};

// Parses a whole answer stream, step after step.
void parse_answer_stream(std::FILE* stream, UpgradeSink* sink);

// Appends one line to "upgrades_critical.dat": opened with "ab" in the system
// data directory, else in the user one, and written with one fwrite. The file
// is never read, copied or renamed, so the player may hold it open and its
// earlier lines stay where they are. False when the line could not be
// written; it is not tried elsewhere once the system file has opened.
bool append_critical_upgrade(const char* line, std::size_t size);

// The steps the start exports and the heartbeat take.
void read_distribution_id(ad_context* context);
void reset_exchange(ad_context* context);
void exchange_step(ad_context* context);
// Forgets the context for late completions; called before it is freed.
void retire_exchange(ad_context* context);
void register_exchange(ad_context* context);

// The completion handed to the player's fetch_url.
void fetch_done(void* argument, uint32_t request, uint8_t success, const char* path);

}  // namespace ad
