// Downloads with WinINet. Its calls block, so each transfer runs on a thread
// of its own and advance() only looks at how it ended; a transfer that
// overruns its time is reported failed at once and left to its thread.
#include <windows.h>
// After windows.h, which they need.
#include <shellapi.h>
#include <wininet.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "tools/sxplayer/fetcher.h"

namespace sxplayer {

namespace {

constexpr char kAgent[] = "sxplayer";
constexpr DWORD kHttpOk = 200;

// What the download thread works on. The thread holds its own reference, so
// a transfer given up at its deadline can be dropped while the blocked call
// is still under way; the thread closes the file when that call returns.
struct Download {
    std::string url;
    std::FILE* file = nullptr;
    std::atomic<HINTERNET> session{nullptr};
    std::atomic<int> outcome{Transfer::running};
    std::atomic<bool> cut_short{false};

    ~Download() {
        cut();
        if (file) std::fclose(file);
    }
    // Closing the session makes a blocked WinINet call give up where it can.
    void cut() {
        if (HINTERNET s = session.exchange(nullptr)) InternetCloseHandle(s);
    }
    bool copy_answer() {
        const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                            INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES;
        HINTERNET request = InternetOpenUrlA(session.load(), url.c_str(), nullptr, 0, flags, 0);
        if (!request) return false;
        bool ok = false;
        DWORD status = 0, size = sizeof status;
        if (HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                           nullptr) &&
            status == kHttpOk) {
            ok = copy_body(request);
        }
        InternetCloseHandle(request);
        return ok;
    }
    // At most AD_MAX_ANSWER_BYTES: the library reads no more, so the
    // download stops there and what came is the answer.
    bool copy_body(HINTERNET request) {
        char chunk[4096];
        std::size_t written = 0;
        while (written < AD_MAX_ANSWER_BYTES) {
            const std::size_t room = AD_MAX_ANSWER_BYTES - written;
            DWORD got = 0;
            if (!InternetReadFile(request, chunk, DWORD(room < sizeof chunk ? room : sizeof chunk),
                                  &got))
                return false;
            if (got == 0) return true;
            if (std::fwrite(chunk, 1, got, file) != got) return false;
            written += got;
        }
        cut_short = true;
        return true;
    }
};

DWORD WINAPI run_download(void* argument) {
    std::shared_ptr<Download>* held = static_cast<std::shared_ptr<Download>*>(argument);
    Download& d = **held;
    const bool ok = d.copy_answer();
    const bool closed = std::fclose(d.file) == 0;
    d.file = nullptr;
    d.outcome = ok && closed ? Transfer::succeeded : Transfer::failed;
    delete held;
    return 0;
}

class WinInetTransfer : public Transfer {
public:
    WinInetTransfer(std::string url, std::FILE* file, int timeout_ms)
        : download_(std::make_shared<Download>()), timeout_ms_(timeout_ms) {
        download_->url = std::move(url);
        download_->file = file;
    }
    ~WinInetTransfer() override {
        download_->cut();
        if (thread_) CloseHandle(thread_);
    }
    bool start() {
        if (!download_->file) return false;
        HINTERNET session = InternetOpenA(kAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        if (!session) return false;
        download_->session = session;
        DWORD timeout = static_cast<DWORD>(timeout_ms_);
        for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
                             INTERNET_OPTION_SEND_TIMEOUT}) {
            InternetSetOptionA(session, option, &timeout, sizeof timeout);
        }
        deadline_ = GetTickCount() + timeout;
        auto* held = new std::shared_ptr<Download>(download_);
        thread_ = CreateThread(nullptr, 0, run_download, held, 0, nullptr);
        if (!thread_) delete held;
        return thread_ != nullptr;
    }
    bool cut() const override { return download_->cut_short.load(); }
    State advance() override {
        const int outcome = download_->outcome.load();
        if (outcome != running) return static_cast<State>(outcome);
        // Not every WinINet honours its receive timeout; the deadline is ours.
        if (static_cast<int32_t>(GetTickCount() - deadline_) >= 0) {
            download_->cut();
            return failed;
        }
        return running;
    }

private:
    std::shared_ptr<Download> download_;
    int timeout_ms_;
    HANDLE thread_ = nullptr;
    DWORD deadline_ = 0;
};

}  // namespace

std::unique_ptr<Transfer> start_transfer(const std::string& url, const std::string& answer_path,
                                         int timeout_ms) {
    auto transfer = std::make_unique<WinInetTransfer>(
        url, sx::platform().open_file(answer_path.c_str(), "wb"), timeout_ms);
    if (!transfer->start()) return nullptr;
    return transfer;
}

bool open_in_browser(const std::string& url) {
    const HINSTANCE result =
        ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace sxplayer
