// Where the report after a showing goes and what comes back: the
// distribution number, the request to the ad server, the completions the
// player delivers, and the list of critical upgrades kept for the player.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

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

// Receives critical-upgrade lines and hands them to `commit` in batches, so
// that a long answer neither holds much memory nor rewrites the file per line.
class UpgradeSink {
public:
    virtual ~UpgradeSink() = default;
    virtual void commit(const char* lines, std::size_t size) = 0;
};

// Parses an answer stream; each critical upgrade becomes one "%d %s\n" line.
void parse_answer_stream(std::FILE* stream, UpgradeSink* sink);

// Adds `lines` to "upgrades_critical.dat" in the system data directory, else
// the user one. The old file is copied with the new lines beside it and moved
// over it only when complete: a crash or a full disk leaves it whole. False
// when neither directory could take them.
bool append_critical_upgrades(const char* lines, std::size_t size);

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
