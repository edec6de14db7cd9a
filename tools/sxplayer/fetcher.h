// The player's downloads for the ad library. A request writes the server's
// answer into a temporary file of its own; its completion is delivered by
// poll(), which the player calls from its timer, so the library is never
// called back from inside its own fetch_url.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "include/advertising.h"

namespace sxplayer {

// One transfer in flight; the backend (libcurl or WinINet) behind it.
class Transfer {
public:
    enum State { running, succeeded, failed };
    virtual ~Transfer() = default;
    // Moves the transfer on without blocking and tells where it stands.
    virtual State advance() = 0;
    // The answer reached AD_MAX_ANSWER_BYTES and the rest was not fetched.
    virtual bool cut() const = 0;
};

// Starts fetching `url` into the (already created) file `answer_path`; null
// when the transfer cannot even start. At most AD_MAX_ANSWER_BYTES are kept:
// the library reads no more, so the download stops there and what came is
// the answer.
std::unique_ptr<Transfer> start_transfer(const std::string& url, const std::string& answer_path,
                                         int timeout_ms);

class Fetcher {
public:
    Fetcher(int timeout_ms, std::FILE* log) : timeout_ms_(timeout_ms), log_(log) {}
    // Stops what is still running and deletes every answer file. An answer
    // that failed is deleted at once; one delivered stays until then, as
    // the library reads it over several heartbeats.
    ~Fetcher();

    uint32_t fetch_url(const char* url, ad_fetch_done_fn done, void* argument);
    // Delivers the completions of transfers that have ended.
    void poll();
    bool busy() const { return !requests_.empty(); }
    // Whether an answer was delivered, and the tick count of the last completion.
    bool answered() const { return answered_; }
    uint32_t last_completion() const { return last_completion_; }

private:
    struct Request {
        uint32_t handle;
        std::unique_ptr<Transfer> transfer;  // null: failed before it started
        std::string answer_path;
        ad_fetch_done_fn done;
        void* argument;
    };
    int timeout_ms_;
    std::FILE* log_;
    uint32_t next_handle_ = 1;
    std::vector<Request> requests_;
    std::vector<std::string> answer_files_;
    bool answered_ = false;
    uint32_t last_completion_ = 0;
};

// The address the player really fetches: the library's "NOREMAP:" marker
// taken off. Empty when it is not an http address on this machine: the
// stand-in player talks to nothing but the stand-in server.
std::string loopback_address(const std::string& url);

// Opens `url` in the user's browser; false when there is none to start.
bool open_in_browser(const std::string& url);

}  // namespace sxplayer
