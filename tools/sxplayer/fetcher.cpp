#include "tools/sxplayer/fetcher.h"

#include "components/file_path.h"
#include "platform/platform.h"

namespace sxplayer {

namespace {

constexpr char kNoRemapMarker[] = "NOREMAP:";
constexpr char kAnswerPrefix[] = "sxa";
constexpr char kAnswerExtension[] = "txt";

bool starts_with(const std::string& text, const std::string& head) {
    return text.compare(0, head.size(), head) == 0;
}

}  // namespace

std::string loopback_address(const std::string& url) {
    std::string address = url;
    if (starts_with(address, kNoRemapMarker)) address.erase(0, sizeof kNoRemapMarker - 1);
    for (const char* host :
         {"http://127.0.0.1:", "http://127.0.0.1/", "http://localhost:", "http://localhost/"}) {
        if (starts_with(address, host)) return address;
    }
    return std::string();
}

Fetcher::~Fetcher() {
    requests_.clear();  // stops the transfers before their files go
    for (const std::string& path : answer_files_) sx::FilePath(path).delete_file();
}

uint32_t Fetcher::fetch_url(const char* url, ad_fetch_done_fn done, void* argument) {
    Request r{next_handle_++, nullptr, std::string(), done, argument};
    const std::string address = loopback_address(url ? url : "");
    sx::FilePath answer;
    if (!address.empty() && answer.make_unique_file(kAnswerPrefix, kAnswerExtension, true)) {
        r.answer_path = answer.text();
        answer_files_.push_back(r.answer_path);
        r.transfer = start_transfer(address, r.answer_path, timeout_ms_);
    }
    std::fprintf(log_, "fetch %u %s%s\n", r.handle, url ? url : "(null)",
                 r.transfer ? "" : " (not started)");
    requests_.push_back(std::move(r));
    return requests_.back().handle;
}

void Fetcher::poll() {
    // Completions may start new requests; take the finished ones out first.
    std::vector<Request> finished;
    for (auto it = requests_.begin(); it != requests_.end();) {
        const Transfer::State state = it->transfer ? it->transfer->advance() : Transfer::failed;
        if (state == Transfer::running) {
            ++it;
            continue;
        }
        if (state == Transfer::failed) {
            it->transfer.reset();  // closes the file before it goes
            if (!it->answer_path.empty()) sx::FilePath(it->answer_path).delete_file();
            it->answer_path.clear();
        }
        finished.push_back(std::move(*it));
        it = requests_.erase(it);
    }
    for (Request& r : finished) {
        const bool ok = !r.answer_path.empty();
        answered_ |= ok;
        last_completion_ = sx::platform().tick_count();
        const bool cut = ok && r.transfer && r.transfer->cut();
        std::fprintf(log_, "fetch done %u %s%s\n", r.handle, ok ? "ok" : "failed",
                     cut ? " (the answer cut at its cap; the rest not fetched)" : "");
        r.done(r.argument, r.handle, ok ? 1 : 0, ok ? r.answer_path.c_str() : nullptr);
    }
}

}  // namespace sxplayer
