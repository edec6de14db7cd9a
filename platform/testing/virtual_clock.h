// Time stands still except when the code sleeps, so waits and retry schedules
// are checked at once and exactly; FaultyPlatform's rules for every other call.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/testing/faulty_platform.h"

namespace sx::testing {

class VirtualClock : public FaultyPlatform {
public:
    explicit VirtualClock(uint32_t start) : now_(start) {}
    uint32_t tick_count() override { return now_; }
    void sleep_ms(uint32_t milliseconds) override {
        sleeps_.push_back(milliseconds);
        now_ += milliseconds;
    }
    // Every sleep, in order.
    const std::vector<uint32_t>& sleeps() const { return sleeps_; }

private:
    uint32_t now_;
    std::vector<uint32_t> sleeps_;
};

}  // namespace sx::testing
