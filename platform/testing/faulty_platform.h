// A Platform that forwards to another one and makes chosen calls fail, so
// tests can reach every failure path: a key that cannot be opened, a file in
// use, a lock that is held, a disk that fills up half way, a program that
// cannot start.
//
// One list of rules. A rule names an operation, a text that must occur in
// the call's subject (ignoring case; empty matches every call), how many
// matching calls still succeed before it strikes and how many it then fails.
// Subjects: the full key path for key operations
// ("HKEY_CURRENT_USER\Software\X"), the key path, "\" and the value name for
// value operations, the path for file operations (either path for copy, move
// and replace), the command line for start_process, the name for library and
// environment calls.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace sx {

// One value per operation of the seam, in the order of its list.
enum class Call {
#define SX_PLATFORM_OPERATION(result, name, parameters, arguments, failure, subject) name,
#include "platform/platform_operations.h"
#undef SX_PLATFORM_OPERATION
    count_  // number of operations
};

struct FaultRule {
    FaultRule(Call c, std::string match_text = std::string(), std::string mode_text = std::string())
        : call(c), match(std::move(match_text)), mode(std::move(mode_text)) {}

    Call call;
    std::string match;                // substring of the subject; empty: every call
    std::string mode;                 // open_file: substring of the mode ("w", "a", ...)
    int good_calls = 0;               // matching calls that still succeed first
    int failures = -1;                // matching calls that then fail; -1: all later ones
    long error = kErrorAccessDenied;  // what failing registry calls return, and
                                      // last_error() after a failing file call
    long write_limit = -1;            // open_file: >= 0 gives a stream that fails after
                                      // this many bytes (disk full) instead of no stream
    int seen = 0;                     // matching calls so far (kept by the platform)
};

class FaultyPlatform : public Platform {
public:
    explicit FaultyPlatform(Platform* inner = nullptr);
    ~FaultyPlatform() override;

    FaultRule& add_rule(const FaultRule& rule);
    void clear_rules() { rules_.clear(); }
    // Calls made of an operation, and how many of them were made to fail.
    int calls(Call call) const { return calls_[static_cast<int>(call)]; }
    int injected(Call call) const { return injected_[static_cast<int>(call)]; }

    // The usual rules in one call each; `good_calls` matching calls pass first.
    FaultRule& fail_registry_create(const std::string& key, long error = kErrorAccessDenied);
    FaultRule& fail_delete_key(const std::string& key, long error = kErrorAccessDenied);
    FaultRule& fail_open_file(const std::string& path, const std::string& mode = "",
                              int good_calls = 0);
    FaultRule& fail_create_directory(const std::string& path);
    FaultRule& fail_delete_file(const std::string& path);
    FaultRule& fail_lock(const std::string& path, int good_calls = 0);
    FaultRule& fail_copy_file(const std::string& path);
    FaultRule& fail_replace_file(const std::string& path, long error = kErrorAccessDenied);
    FaultRule& fail_start_process(const std::string& command_line);
    // A stream opened for writing that stops accepting data after `bytes`
    // bytes, as on a full disk: the data before reach the file, the rest is
    // lost and the stream reports an error. Only where supports_disk_full().
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
        Subject(std::string first = std::string(), std::string second = std::string(),
                const char* open_mode = nullptr)
            : text(std::move(first)), other(std::move(second)), mode(open_mode) {}
        std::string text;
        std::string other;  // the second path of copy, move and replace
        const char* mode;   // open_file's mode
    };
    template <Call C>
    struct Op {};
    struct ErrorCode {};  // the call's result is the rule's error code
    struct Never {};      // the call is counted but never made to fail

    // The one body of every operation: count, maybe fail, else forward.
    template <Call C, class Failure, class Forward, class... Args>
    auto run(Op<C> op, const Subject& subject, Failure failure, Forward forward, Args... args);
    // Operations that do more than forward; the rest take the generic one.
    template <Call C, class Forward, class... Args>
    auto pass(Op<C>, const FaultRule*, Forward& forward, Args...) {
        return forward();
    }
    // Opened keys are remembered by their full path, for the rules.
    template <class Forward>
    long pass(Op<Call::reg_open_key>, const FaultRule*, Forward& forward, RegKey parent,
              const char* subkey, uint32_t, RegKey* out) {
        return opened(forward(), parent, subkey, out);
    }
    template <class Forward>
    long pass(Op<Call::reg_create_key>, const FaultRule*, Forward& forward, RegKey parent,
              const char* subkey, RegKey* out, bool*) {
        return opened(forward(), parent, subkey, out);
    }
    template <class Forward>
    long pass(Op<Call::reg_close_key>, const FaultRule*, Forward& forward, RegKey key);
    template <class Forward>
    std::FILE* pass(Op<Call::open_file>, const FaultRule* rule, Forward& forward, const char*,
                    const char* mode);
    template <class Forward>
    bool pass(Op<Call::flush_file>, const FaultRule*, Forward& forward, std::FILE* stream);
    template <class Forward>
    long pass(Op<Call::last_error>, const FaultRule*, Forward& forward);
    // A rule on open_file with a write limit lets the call through.
    static bool lets_through(Call call, const FaultRule& rule);
    FaultRule& rule(Call call, const std::string& match, long error = kErrorAccessDenied,
                    int good_calls = 0);

    // The subjects named in the list of operations.
    Subject on_key(RegKey key, const char* subkey = nullptr) const;
    Subject on_value(RegKey key, const char* name) const;
    Subject on_path(const char* path) const;
    Subject on_paths(const char* first, const char* second) const;
    Subject on_texts(const char* first, const char* second) const {
        return on_paths(first, second);
    }
    Subject on_text(const char* text) const { return on_path(text); }
    Subject on_file(const char* path, const char* mode) const;
    static constexpr ErrorCode error_code{};
    static constexpr Never never{};
    const Subject nothing{};

    // Counts the call and finds the rule that makes it fail, if any.
    const FaultRule* strike(Call call, const Subject& subject);
    std::string key_path(RegKey key) const;
    long opened(long rc, RegKey parent, const char* subkey, RegKey* out);

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
