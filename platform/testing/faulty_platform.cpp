#include "platform/testing/faulty_platform.h"

#include <cerrno>
#include <cstring>
#include <set>
#include <type_traits>

#include "platform/ascii_case.h"

#if defined(__GLIBC__)
#include <sys/types.h>
#define SX_HAVE_COOKIE_STREAMS 1
#endif

namespace sx {

namespace {

bool contains_ignoring_case(const std::string& text, const std::string& part) {
    return find_ignoring_ascii_case(text, part) != std::string::npos;
}

std::string text_of(const char* s) { return s ? s : ""; }

#ifdef SX_HAVE_COOKIE_STREAMS
// A stream over a real one that accepts only so many bytes.
struct LimitedStream {
    std::FILE* real;
    long remaining;
    std::FILE* self;
};

// The limited streams now open, to tell them from any other stream.
std::set<std::FILE*>& limited_streams() {
    static std::set<std::FILE*> streams;
    return streams;
}

ssize_t limited_read(void* cookie, char* buffer, size_t size) {
    auto* s = static_cast<LimitedStream*>(cookie);
    size_t n = std::fread(buffer, 1, size, s->real);
    return std::ferror(s->real) ? -1 : static_cast<ssize_t>(n);
}

ssize_t limited_write(void* cookie, const char* buffer, size_t size) {
    auto* s = static_cast<LimitedStream*>(cookie);
    size_t n = size < static_cast<size_t>(s->remaining) ? size : static_cast<size_t>(s->remaining);
    n = std::fwrite(buffer, 1, n, s->real);
    std::fflush(s->real);
    s->remaining -= static_cast<long>(n);
    if (n == 0 && size > 0) errno = ENOSPC;
    return static_cast<ssize_t>(n);  // short: the C library reports the error
}

int limited_seek(void* cookie, off64_t* offset, int whence) {
    auto* s = static_cast<LimitedStream*>(cookie);
    if (fseeko(s->real, *offset, whence) != 0) return -1;
    *offset = ftello(s->real);
    return 0;
}

int limited_close(void* cookie) {
    auto* s = static_cast<LimitedStream*>(cookie);
    limited_streams().erase(s->self);
    int rc = std::fclose(s->real);
    delete s;
    return rc;
}

std::FILE* limited_stream(std::FILE* real, long limit, const char* mode) {
    auto* cookie = new LimitedStream{real, limit, nullptr};
    cookie_io_functions_t io = {limited_read, limited_write, limited_seek, limited_close};
    std::FILE* f = fopencookie(cookie, mode, io);
    if (!f) {
        std::fclose(real);
        delete cookie;
        return nullptr;
    }
    cookie->self = f;
    limited_streams().insert(f);
    return f;
}

bool is_limited_stream(std::FILE* stream) { return limited_streams().count(stream) != 0; }
#endif

}  // namespace

FaultyPlatform::FaultyPlatform(Platform* inner) : inner_(inner ? inner : &native_platform()) {
    key_names_[kHkeyClassesRoot] = "HKEY_CLASSES_ROOT";
    key_names_[kHkeyCurrentUser] = "HKEY_CURRENT_USER";
    key_names_[kHkeyLocalMachine] = "HKEY_LOCAL_MACHINE";
    key_names_[kHkeyUsers] = "HKEY_USERS";
}

FaultyPlatform::~FaultyPlatform() = default;

FaultRule& FaultyPlatform::add_rule(const FaultRule& rule) {
    rules_.push_back(rule);
    rules_.back().seen = 0;
    return rules_.back();
}

const FaultRule* FaultyPlatform::strike(Call call, const Subject& subject) {
    ++calls_[static_cast<int>(call)];
    for (FaultRule& rule : rules_) {
        if (rule.call != call) continue;
        if (!contains_ignoring_case(subject.text, rule.match) &&
            (subject.other.empty() || !contains_ignoring_case(subject.other, rule.match)))
            continue;
        if (!rule.mode.empty() && !contains_ignoring_case(text_of(subject.mode), rule.mode))
            continue;
        ++rule.seen;
        if (rule.seen <= rule.good_calls) continue;
        if (rule.failures >= 0 && rule.seen > rule.good_calls + rule.failures) continue;
        ++injected_[static_cast<int>(call)];
        return &rule;
    }
    return nullptr;
}

std::string FaultyPlatform::key_path(RegKey key) const {
    auto it = key_names_.find(key);
    return it == key_names_.end() ? std::string("?") : it->second;
}

long FaultyPlatform::opened(long rc, RegKey parent, const char* subkey, RegKey* out) {
    if (rc != kErrorSuccess || !out) return rc;
    std::string path = on_key(parent, subkey).text;
    while (!path.empty() && path.back() == '\\') path.pop_back();
    key_names_[*out] = path;
    return rc;
}

// -- Subjects.

FaultyPlatform::Subject FaultyPlatform::on_key(RegKey key, const char* subkey) const {
    const std::string parent = key_path(key);
    return {subkey && *subkey ? parent + "\\" + subkey : parent};
}

FaultyPlatform::Subject FaultyPlatform::on_value(RegKey key, const char* name) const {
    return {key_path(key) + "\\" + text_of(name)};
}

FaultyPlatform::Subject FaultyPlatform::on_path(const char* path) const { return {text_of(path)}; }

FaultyPlatform::Subject FaultyPlatform::on_paths(const char* first, const char* second) const {
    return {text_of(first), text_of(second)};
}

FaultyPlatform::Subject FaultyPlatform::on_file(const char* path, const char* mode) const {
    return {text_of(path), std::string(), mode};
}

// -- Convenience rules.

FaultRule& FaultyPlatform::rule(Call call, const std::string& match, long error, int good_calls) {
    FaultRule r{call, match};
    r.error = error;
    r.good_calls = good_calls;
    return add_rule(r);
}
FaultRule& FaultyPlatform::fail_registry_create(const std::string& key, long error) {
    return rule(Call::reg_create_key, key, error);
}
FaultRule& FaultyPlatform::fail_delete_key(const std::string& key, long error) {
    return rule(Call::reg_delete_key, key, error);
}
FaultRule& FaultyPlatform::fail_open_file(const std::string& path, const std::string& mode,
                                          int good_calls) {
    FaultRule& r = rule(Call::open_file, path, kErrorAccessDenied, good_calls);
    r.mode = mode;
    return r;
}
FaultRule& FaultyPlatform::fail_create_directory(const std::string& path) {
    return rule(Call::create_directory, path);
}
FaultRule& FaultyPlatform::fail_delete_file(const std::string& path) {
    return rule(Call::delete_file, path);
}
FaultRule& FaultyPlatform::fail_lock(const std::string& path, int good_calls) {
    return rule(Call::open_lock_file, path, kErrorAccessDenied, good_calls);
}
FaultRule& FaultyPlatform::fail_copy_file(const std::string& path) {
    return rule(Call::copy_file, path);
}
FaultRule& FaultyPlatform::fail_replace_file(const std::string& path, long error) {
    return rule(Call::replace_file, path, error);
}
FaultRule& FaultyPlatform::fail_start_process(const std::string& command_line) {
    return rule(Call::start_process, command_line);
}
FaultRule& FaultyPlatform::fail_after_writes(const std::string& path, long bytes) {
    FaultRule& r = rule(Call::open_file, path);
    r.write_limit = bytes;
    return r;
}

bool FaultyPlatform::supports_disk_full() {
#ifdef SX_HAVE_COOKIE_STREAMS
    return true;
#else
    return false;
#endif
}

// -- The generated operations.

bool FaultyPlatform::lets_through(Call call, const FaultRule& rule) {
    return call == Call::open_file && rule.write_limit >= 0;
}

template <Call C, class Failure, class Forward, class... Args>
auto FaultyPlatform::run(Op<C> op, const Subject& subject, Failure failure, Forward forward,
                         Args... args) {
    const FaultRule* rule = strike(C, subject);
    if constexpr (!std::is_same_v<Failure, Never>) {
        if (rule && !lets_through(C, *rule)) {
            error_injected_ = true;
            injected_error_ = rule->error;
            if constexpr (C == Call::open_file) errno = EACCES;
            if constexpr (std::is_same_v<Failure, ErrorCode>)
                return rule->error;
            else
                return static_cast<decltype(forward())>(failure);
        }
    }
    // The real platform's own error stands after any call it made, as the
    // system's does.
    if constexpr (C != Call::last_error) error_injected_ = false;
    return pass(op, rule, forward, args...);
}

template <class Forward>
long FaultyPlatform::pass(Op<Call::reg_close_key>, const FaultRule*, Forward& forward, RegKey key) {
    const long rc = forward();
    if (rc == kErrorSuccess && key != kHkeyClassesRoot && key != kHkeyCurrentUser &&
        key != kHkeyLocalMachine && key != kHkeyUsers)
        key_names_.erase(key);
    return rc;
}

template <class Forward>
std::FILE* FaultyPlatform::pass(Op<Call::open_file>, const FaultRule* rule, Forward& forward,
                                const char*, const char* mode) {
    std::FILE* f = forward();
#ifdef SX_HAVE_COOKIE_STREAMS
    if (f && rule) return limited_stream(f, rule->write_limit, mode);
#else
    (void)rule;
    (void)mode;
#endif
    return f;
}

template <class Forward>
bool FaultyPlatform::pass(Op<Call::flush_file>, const FaultRule*, Forward& forward,
                          std::FILE* stream) {
#ifdef SX_HAVE_COOKIE_STREAMS
    // Our limited stream: pushing its buffer through is what can fail.
    if (stream && is_limited_stream(stream)) return std::fflush(stream) == 0;
#else
    (void)stream;
#endif
    return forward();
}

template <class Forward>
long FaultyPlatform::pass(Op<Call::last_error>, const FaultRule*, Forward& forward) {
    return error_injected_ ? injected_error_ : forward();
}

// Each operation: forward to the inner platform unless a rule strikes.
#define SX_ARGUMENTS(...) __VA_OPT__(, ) __VA_ARGS__
#define SX_PLATFORM_OPERATION(result, name, parameters, arguments, failure, subject)    \
    result FaultyPlatform::name parameters {                                            \
        auto forward = [&] { return inner_->name arguments; };                          \
        return run(Op<Call::name>{}, subject, failure, forward SX_ARGUMENTS arguments); \
    }
#include "platform/platform_operations.h"
#undef SX_PLATFORM_OPERATION
#undef SX_ARGUMENTS

}  // namespace sx
