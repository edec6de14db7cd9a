#include "platform/testing/faulty_platform.h"

#include <algorithm>
#include <cerrno>
#include <tuple>
#include <type_traits>

#include "platform/ascii_case.h"

#if defined(__GLIBC__)
#include <sys/types.h>
#define SX_HAVE_COOKIE_STREAMS 1
#else
#define SX_HAVE_COOKIE_STREAMS 0
#endif

namespace sx {

namespace {

bool contains_ignoring_case(const std::string& text, const std::string& part) {
    return find_ignoring_ascii_case(text, part) != std::string::npos;
}

std::string text_of(const char* s) { return s ? s : ""; }

#if SX_HAVE_COOKIE_STREAMS
// A stream over a real one that accepts only so many bytes.
struct LimitedStream {
    std::FILE* real;
    long remaining;
};

ssize_t limited_read(void* cookie, char* buffer, size_t size) {
    std::FILE* real = static_cast<LimitedStream*>(cookie)->real;
    const size_t n = std::fread(buffer, 1, size, real);
    return std::ferror(real) ? -1 : static_cast<ssize_t>(n);
}

ssize_t limited_write(void* cookie, const char* buffer, size_t size) {
    auto* s = static_cast<LimitedStream*>(cookie);
    size_t n = std::fwrite(buffer, 1, std::min(size, static_cast<size_t>(s->remaining)), s->real);
    std::fflush(s->real);
    s->remaining -= static_cast<long>(n);
    if (n == 0 && size > 0) errno = ENOSPC;
    return static_cast<ssize_t>(n);  // short: the C library reports the error
}

int limited_seek(void* cookie, off64_t* offset, int whence) {
    std::FILE* real = static_cast<LimitedStream*>(cookie)->real;
    if (fseeko(real, *offset, whence) != 0) return -1;
    *offset = ftello(real);
    return 0;
}

int limited_close(void* cookie) {
    auto* s = static_cast<LimitedStream*>(cookie);
    const int rc = std::fclose(s->real);
    delete s;
    return rc;
}

std::FILE* limited_stream(std::FILE* real, long limit, const char* mode) {
    auto* cookie = new LimitedStream{real, limit};
    std::FILE* f =
        fopencookie(cookie, mode, {limited_read, limited_write, limited_seek, limited_close});
    if (!f) {
        std::fclose(real);
        delete cookie;
    }
    return f;
}
#endif

}  // namespace

FaultyPlatform::FaultyPlatform(Platform* inner)
    : inner_(inner ? inner : &native_platform()),
      key_names_{{kHkeyClassesRoot, "HKEY_CLASSES_ROOT"},
                 {kHkeyCurrentUser, "HKEY_CURRENT_USER"},
                 {kHkeyLocalMachine, "HKEY_LOCAL_MACHINE"},
                 {kHkeyUsers, "HKEY_USERS"}} {}

FaultRule& FaultyPlatform::add_rule(const FaultRule& rule) {
    rules_.push_back(rule);
    rules_.back().seen = 0;
    return rules_.back();
}

const FaultRule* FaultyPlatform::strike(Call call, const Subject& subject) {
    ++calls_[static_cast<int>(call)];
    for (FaultRule& rule : rules_) {
        const bool other =
            !subject.other.empty() && contains_ignoring_case(subject.other, rule.match);
        if (rule.call != call || !(contains_ignoring_case(subject.text, rule.match) || other) ||
            !contains_ignoring_case(text_of(subject.mode), rule.mode))
            continue;
        ++rule.seen;
        if (rule.seen <= rule.good_calls ||
            (rule.failures >= 0 && rule.seen > rule.good_calls + rule.failures))
            continue;
        ++injected_[static_cast<int>(call)];
        return &rule;
    }
    return nullptr;
}

long FaultyPlatform::opened(long rc, RegKey parent, const char* subkey, RegKey* out) {
    if (rc != kErrorSuccess || !out) return rc;
    std::string path = on_key(parent, subkey).text;
    while (!path.empty() && path.back() == '\\') path.pop_back();
    key_names_[*out] = path;
    return rc;
}

long FaultyPlatform::closed(long rc, RegKey key) {
    // The roots keep their names: they are never really closed.
    if (rc == kErrorSuccess && key != kHkeyClassesRoot && key != kHkeyCurrentUser &&
        key != kHkeyLocalMachine && key != kHkeyUsers)
        key_names_.erase(key);
    return rc;
}

FaultyPlatform::Subject FaultyPlatform::on_key(RegKey key, const char* subkey) const {
    const auto it = key_names_.find(key);
    const std::string parent = it == key_names_.end() ? "?" : it->second;
    return {subkey && *subkey ? parent + "\\" + subkey : parent, ""};
}

FaultyPlatform::Subject FaultyPlatform::on_value(RegKey key, const char* name) const {
    return {on_key(key).text + "\\" + text_of(name), ""};
}

FaultyPlatform::Subject FaultyPlatform::on_paths(const char* first, const char* second,
                                                 const char* mode) {
    return {text_of(first), text_of(second), mode};
}

// -- Convenience rules.

FaultRule& FaultyPlatform::rule(Call call, const std::string& match, long error, int good_calls) {
    FaultRule r{call, match};
    r.error = error;
    r.good_calls = good_calls;
    return add_rule(r);
}
FaultRule& FaultyPlatform::fail_open_file(const std::string& path, const std::string& mode,
                                          int good_calls) {
    FaultRule& r = rule(Call::open_file, path, kErrorAccessDenied, good_calls);
    r.mode = mode;
    return r;
}
FaultRule& FaultyPlatform::fail_after_writes(const std::string& path, long bytes) {
    FaultRule& r = rule(Call::open_file, path);
    r.write_limit = bytes;
    return r;
}

bool FaultyPlatform::supports_disk_full() { return SX_HAVE_COOKIE_STREAMS; }

// -- The generated operations.

template <Call C, class Failure, class Forward, class... Args>
auto FaultyPlatform::run(const Subject& subject, Failure failure, Forward forward, Args... args) {
    const FaultRule* rule = strike(C, subject);
    const std::tuple<Args...> arguments(args...);
    // A rule on open_file with a write limit lets the call through.
    if constexpr (!std::is_same_v<Failure, Never>) {
        if (rule && !(C == Call::open_file && rule->write_limit >= 0)) {
            error_injected_ = true;
            injected_error_ = rule->error;
            if constexpr (C == Call::open_file) errno = EACCES;
            if constexpr (std::is_same_v<Failure, ErrorCode>)
                return rule->error;
            else
                return static_cast<decltype(forward())>(failure);
        }
    }
    if constexpr (C == Call::last_error) {
        return error_injected_ ? injected_error_ : forward();
    } else {
        // The real platform's own error stands after any call it made.
        error_injected_ = false;
        if constexpr (C == Call::reg_open_key || C == Call::reg_create_key) {
            constexpr size_t out = C == Call::reg_open_key ? 3 : 2;
            return opened(forward(), std::get<0>(arguments), std::get<1>(arguments),
                          std::get<out>(arguments));
        } else if constexpr (C == Call::reg_close_key) {
            return closed(forward(), std::get<0>(arguments));
#if SX_HAVE_COOKIE_STREAMS
        } else if constexpr (C == Call::open_file) {
            std::FILE* f = forward();
            return f && rule ? limited_stream(f, rule->write_limit, std::get<1>(arguments)) : f;
        } else if constexpr (C == Call::flush_file) {
            // Our limited stream, the only one without a descriptor: pushing
            // its buffer through is what can fail.
            std::FILE* stream = std::get<0>(arguments);
            return stream && fileno(stream) < 0 ? std::fflush(stream) == 0 : forward();
#endif
        } else {
            return forward();
        }
    }
}

// Each operation: forward to the inner platform unless a rule strikes.
#define SX_ARGUMENTS(...) __VA_OPT__(, ) __VA_ARGS__
#define SX_PLATFORM_OPERATION(result, name, parameters, arguments, failure, subject) \
    result FaultyPlatform::name parameters {                                         \
        auto forward = [&] { return inner_->name arguments; };                       \
        return run<Call::name>(subject, failure, forward SX_ARGUMENTS arguments);    \
    }
#include "platform/platform_operations.h"
#undef SX_PLATFORM_OPERATION
#undef SX_ARGUMENTS

}  // namespace sx
