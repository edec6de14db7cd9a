// Found before GoogleTest's own (empty) customisation header in the Windows
// builds. Their compilers use the Win32 thread model, whose C++ library has
// no std::mutex or std::condition_variable; GoogleTest locks with its own
// Win32 mutexes there and needs those two only for Notification, which starts
// the threads of its own tests. This one waits by polling.
#ifndef SX_GTEST_WIN32_CUSTOM_PORT_H
#define SX_GTEST_WIN32_CUSTOM_PORT_H

#include <atomic>

extern "C" __declspec(dllimport) void __stdcall Sleep(unsigned long milliseconds);

namespace testing {
namespace internal {

class Notification {
public:
    Notification() = default;
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { notified_.store(true); }
    void WaitForNotification() {
        while (!notified_.load()) Sleep(1);
    }

private:
    std::atomic<bool> notified_{false};
};

}  // namespace internal
}  // namespace testing

#define GTEST_HAS_NOTIFICATION_ 1

#endif
