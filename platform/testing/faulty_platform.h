// A Platform that forwards to another one and makes chosen calls fail, so
// tests reach every failure path. A rule names an operation, a text that must
// occur in the call's subject (ignoring case; empty matches every call), how
// many matching calls pass before it strikes and how many it then fails.
// Subjects: the full key path ("HKEY_CURRENT_USER\Software\X", plus "\" and
// the name for values), the path (either path for copy, move and replace), the
// command line, or the name for library and environment calls.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace sx {

// One value per operation of the seam, in the order of its list.
enum class Call {
#define SX_PLATFORM_OPERATION(result, name, parameters, arguments, failure, subject) name,
#include "platform/platform_operations.h"
#undef SX_PLATFORM_OPERATION
    count_
};

struct FaultRule {
    FaultRule(Call c, std::string match_text = std::string(), std::string mode_text = std::string())
        : call(c), match(std::move(match_text)), mode(std::move(mode_text)) {}

    Call call;
    std::string match;                // substring of the subject; empty: every call
    std::string mode;                 // open_file: substring of the mode ("w", "a", ...)
    int good_calls = 0;               // matching calls that still succeed first
    int failures = -1;                // matching calls that then fail; -1: all later ones
    long error = kErrorAccessDenied;  // the failing registry call's result, or
                                      // last_error() after a failing file call
    long write_limit = -1;            // open_file: >= 0 gives a stream that fails after
                                      // this many bytes (disk full) instead of no stream
    int seen = 0;                     // matching calls so far
};

class FaultyPlatform : public Platform {
public:
    explicit FaultyPlatform(Platform* inner = nullptr);

    FaultRule& add_rule(const FaultRule& rule);
    void clear_rules() { rules_.clear(); }
    // Calls made of an operation, and how many of them were made to fail.
    int calls(Call call) const { return calls_[static_cast<int>(call)]; }
    int injected(Call call) const { return injected_[static_cast<int>(call)]; }

    // The usual rules in one call each; `good_calls` matching calls pass first.
    FaultRule& fail_registry_create(const std::string& key, long error = kErrorAccessDenied) {
        return rule(Call::reg_create_key, key, error);
    }
    FaultRule& fail_delete_key(const std::string& key, long error = kErrorAccessDenied) {
        return rule(Call::reg_delete_key, key, error);
    }
    FaultRule& fail_open_file(const std::string& path, const std::string& mode = "",
                              int good_calls = 0);
    FaultRule& fail_create_directory(const std::string& p) {
        return rule(Call::create_directory, p);
    }
    FaultRule& fail_delete_file(const std::string& path) { return rule(Call::delete_file, path); }
    FaultRule& fail_lock(const std::string& path, int good_calls = 0) {
        return rule(Call::open_lock_file, path, kErrorAccessDenied, good_calls);
    }
    FaultRule& fail_copy_file(const std::string& path) { return rule(Call::copy_file, path); }
    FaultRule& fail_replace_file(const std::string& path, long error = kErrorAccessDenied) {
        return rule(Call::replace_file, path, error);
    }
    FaultRule& fail_start_process(const std::string& line) {
        return rule(Call::start_process, line);
    }
    // A stream that takes `bytes` bytes and then fails, as on a full disk.
    // Only where supports_disk_full().
    FaultRule& fail_after_writes(const std::string& path, long bytes);
    static bool supports_disk_full();

    // -- Platform: every operation, generated from the list of the seam.
#define SX_PLATFORM_OPERATION(result, name, parameters, arguments, failure, subject) \
    result name parameters override;
#include "platform/platform_operations.h"
#undef SX_PLATFORM_OPERATION

private:
    // What a call acts on, matched against the rules' texts.
    struct Subject {
        std::string text;
        std::string other;           // the second path of copy, move and replace
        const char* mode = nullptr;  // open_file's mode
    };
    struct ErrorCode {};  // the call's result is the rule's error code
    struct Never {};      // the call is counted but never made to fail

    // The one body of every operation: count, maybe fail, else forward.
    template <Call C, class Failure, class Forward, class... Args>
    auto run(const Subject& subject, Failure failure, Forward forward, Args... args);
    FaultRule& rule(Call call, const std::string& match, long error = kErrorAccessDenied,
                    int good_calls = 0);
    const FaultRule* strike(Call call, const Subject& subject);
    // Opened keys are remembered by their full path, for the rules.
    long opened(long rc, RegKey parent, const char* subkey, RegKey* out);
    long closed(long rc, RegKey key);

    // The subjects named in the list of operations.
    Subject on_key(RegKey key, const char* subkey = nullptr) const;
    Subject on_value(RegKey key, const char* name) const;
    static Subject on_paths(const char* first, const char* second, const char* mode = nullptr);
    static Subject on_path(const char* path) { return on_paths(path, nullptr); }
    static Subject on_file(const char* path, const char* mode) {
        return on_paths(path, nullptr, mode);
    }
    static Subject on_texts(const char* first, const char* second) {
        return on_paths(first, second);
    }
    static Subject on_text(const char* text) { return on_path(text); }
    static constexpr ErrorCode error_code{};
    static constexpr Never never{};
    const Subject nothing{};

    Platform* inner_;
    std::deque<FaultRule> rules_;  // references stay valid as rules are added
    int calls_[static_cast<int>(Call::count_)] = {};
    int injected_[static_cast<int>(Call::count_)] = {};
    std::map<RegKey, std::string> key_names_;
    // last_error() after a call this platform made fail.
    bool error_injected_ = false;
    long injected_error_ = kErrorSuccess;
};

}  // namespace sx
