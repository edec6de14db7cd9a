// Downloads with WinINet. Its calls block, so each transfer runs on a thread
// of its own and advance() only looks at how it ended; a transfer that
// overruns its time is cut by closing its handles, which makes the blocked
// call return.
#include <shellapi.h>
#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdio>

#include "platform/platform.h"
#include "tools/sxplayer/fetcher.h"

namespace sxplayer {

namespace {

constexpr char kAgent[] = "sxplayer";
constexpr DWORD kHttpOk = 200;
constexpr DWORD kJoinWaitMs = 5000;

class WinInetTransfer : public Transfer {
public:
    WinInetTransfer(std::string url, std::FILE* file, int timeout_ms)
        : url_(std::move(url)), file_(file), timeout_ms_(timeout_ms) {}
    ~WinInetTransfer() override {
        cut();
        if (thread_) {
            WaitForSingleObject(thread_, kJoinWaitMs);
            CloseHandle(thread_);
        }
        if (file_) std::fclose(file_);
    }
    bool start() {
        if (!file_) return false;
        session_ = InternetOpenA(kAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        if (!session_) return false;
        DWORD timeout = static_cast<DWORD>(timeout_ms_);
        for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
                             INTERNET_OPTION_SEND_TIMEOUT}) {
            InternetSetOptionA(session_, option, &timeout, sizeof timeout);
        }
        deadline_ = GetTickCount() + timeout;
        thread_ = CreateThread(nullptr, 0, run, this, 0, nullptr);
        return thread_ != nullptr;
    }
    State advance() override {
        const int outcome = outcome_.load();
        if (outcome != running) {
            WaitForSingleObject(thread_, kJoinWaitMs);
            return static_cast<State>(outcome);
        }
        if (static_cast<int32_t>(GetTickCount() - deadline_) >= 0) cut();
        return running;
    }

private:
    static DWORD WINAPI run(void* argument) {
        WinInetTransfer* t = static_cast<WinInetTransfer*>(argument);
        const bool ok = t->download();
        const bool closed = std::fclose(t->file_) == 0;
        t->file_ = nullptr;
        t->outcome_ = ok && closed ? succeeded : failed;
        return 0;
    }
    bool download() {
        const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                            INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES;
        request_ = InternetOpenUrlA(session_, url_.c_str(), nullptr, 0, flags, 0);
        if (!request_) return false;
        DWORD status = 0, size = sizeof status;
        if (!HttpQueryInfoA(request_, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                            &size, nullptr) ||
            status != kHttpOk) {
            return false;
        }
        char chunk[4096];
        for (;;) {
            DWORD got = 0;
            if (!InternetReadFile(request_, chunk, sizeof chunk, &got)) return false;
            if (got == 0) return true;
            if (std::fwrite(chunk, 1, got, file_) != got) return false;
        }
    }
    // Closing the session makes a blocked WinINet call give up.
    void cut() {
        if (HINTERNET s = session_.exchange(nullptr)) InternetCloseHandle(s);
    }

    std::string url_;
    std::FILE* file_;
    int timeout_ms_;
    std::atomic<HINTERNET> session_{nullptr};
    HINTERNET request_ = nullptr;
    HANDLE thread_ = nullptr;
    DWORD deadline_ = 0;
    std::atomic<int> outcome_{running};
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
