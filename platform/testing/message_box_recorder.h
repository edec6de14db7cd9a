// Records message boxes instead of showing them, with FaultyPlatform's rules
// for every other call; installed for its own lifetime.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/testing/faulty_platform.h"

namespace sx::testing {

struct RecordedBox {
    std::string text;
    std::string caption;
    uint32_t flags = 0;
    bool operator==(const RecordedBox&) const = default;
    friend void PrintTo(const RecordedBox& box, std::ostream* out) {
        *out << "{\"" << box.caption << "\", \"" << box.text << "\", 0x" << std::hex << box.flags
             << std::dec << "}";
    }
};

class MessageBoxRecorder : public FaultyPlatform {
public:
    MessageBoxRecorder() : installed_(this) {}

    void set_result(int result) { result_ = result; }
    const std::vector<RecordedBox>& boxes() const { return boxes_; }

    int message_box(const char* text, const char* caption, uint32_t flags) override {
        boxes_.push_back({text ? text : "", caption ? caption : "", flags});
        return result_;
    }

private:
    int result_ = kIdOk;
    std::vector<RecordedBox> boxes_;
    ScopedPlatform installed_;  // last: uninstalled before anything else goes
};

}  // namespace sx::testing
