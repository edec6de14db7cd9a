// Downloads with libcurl's multi interface: advance() never blocks, so the
// player's timer drives the transfer.
#include <curl/curl.h>
#include <unistd.h>

#include <cstdio>

#include "platform/platform.h"
#include "tools/sxplayer/fetcher.h"

namespace sxplayer {

namespace {

struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~CurlGlobal() { curl_global_cleanup(); }
};

// The answer file and how much of it is written; past the cap the download
// stops (a short count ends it) and what came is kept.
struct AnswerFile {
    std::FILE* file = nullptr;
    std::size_t written = 0;
    bool cut = false;
};

size_t write_answer(char* data, size_t size, size_t count, void* argument) {
    AnswerFile* a = static_cast<AnswerFile*>(argument);
    const std::size_t bytes = size * count;
    const std::size_t room = AD_MAX_ANSWER_BYTES - a->written;
    const std::size_t kept = bytes < room ? bytes : room;
    const std::size_t done = std::fwrite(data, 1, kept, a->file);
    a->written += done;
    if (done < kept) return 0;
    if (kept < bytes) {
        a->cut = true;
        return 0;
    }
    return bytes;
}

class CurlTransfer : public Transfer {
public:
    CurlTransfer(std::FILE* file) : multi_(curl_multi_init()), easy_(curl_easy_init()) {
        answer_.file = file;
    }
    ~CurlTransfer() override {
        if (multi_ && easy_) curl_multi_remove_handle(multi_, easy_);
        if (easy_) curl_easy_cleanup(easy_);
        if (multi_) curl_multi_cleanup(multi_);
        if (answer_.file) std::fclose(answer_.file);
    }
    bool start(const std::string& url, int timeout_ms) {
        if (!multi_ || !easy_ || !answer_.file) return false;
        curl_easy_setopt(easy_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, write_answer);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &answer_);
        curl_easy_setopt(easy_, CURLOPT_FAILONERROR, 1L);
        curl_easy_setopt(easy_, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout_ms));
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http");
        return curl_multi_add_handle(multi_, easy_) == CURLM_OK;
    }
    bool cut() const override { return answer_.cut; }
    State advance() override {
        if (state_ != running) return state_;
        int still = 0;
        if (curl_multi_perform(multi_, &still) != CURLM_OK) return finish(false);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
            if (message->msg != CURLMSG_DONE) continue;
            const CURLcode result = message->data.result;
            // Only a plain 200 is an answer: a redirection's body is not one.
            long status = 0;
            curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
            return finish(status == 200 &&
                          (result == CURLE_OK || (result == CURLE_WRITE_ERROR && answer_.cut)));
        }
        return running;
    }

private:
    State finish(bool ok) {
        ok = (std::fclose(answer_.file) == 0) && ok;
        answer_.file = nullptr;
        state_ = ok ? succeeded : failed;
        return state_;
    }
    AnswerFile answer_;
    CURLM* multi_;
    CURL* easy_;
    State state_ = running;
};

}  // namespace

std::unique_ptr<Transfer> start_transfer(const std::string& url, const std::string& answer_path,
                                         int timeout_ms) {
    static CurlGlobal global;
    auto transfer =
        std::make_unique<CurlTransfer>(sx::platform().open_file(answer_path.c_str(), "wb"));
    if (!transfer->start(url, timeout_ms)) return nullptr;
    return transfer;
}

bool open_in_browser(const std::string& url) {
    // xdg-open finds the desktop's browser; without it there is nothing to start.
    for (const char* directory : {"/usr/bin/", "/usr/local/bin/", "/bin/"}) {
        const std::string program = std::string(directory) + "xdg-open";
        if (access(program.c_str(), X_OK) != 0) continue;
        const pid_t child = fork();
        if (child == 0) {
            execl(program.c_str(), "xdg-open", url.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return child > 0;
    }
    return false;
}

}  // namespace sxplayer
