#include "platform/testing/faulty_platform.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <set>

#if defined(__GLIBC__)
#include <sys/types.h>
#define SX_HAVE_COOKIE_STREAMS 1
#endif

namespace sx {

namespace {

bool contains_ignoring_case(const std::string& text, const std::string& part) {
    if (part.empty()) return true;
    if (part.size() > text.size()) return false;
    for (size_t i = 0; i + part.size() <= text.size(); ++i) {
        size_t j = 0;
        while (j < part.size() && std::tolower(static_cast<unsigned char>(text[i + j])) ==
                                      std::tolower(static_cast<unsigned char>(part[j])))
            ++j;
        if (j == part.size()) return true;
    }
    return false;
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

const FaultRule* FaultyPlatform::strike(Call call, const std::string& subject,
                                        const std::string& other, const char* mode) {
    ++calls_[static_cast<int>(call)];
    for (FaultRule& rule : rules_) {
        if (rule.call != call) continue;
        if (!contains_ignoring_case(subject, rule.match) &&
            (other.empty() || !contains_ignoring_case(other, rule.match)))
            continue;
        if (!rule.mode.empty() && !contains_ignoring_case(text_of(mode), rule.mode)) continue;
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

void FaultyPlatform::remember(RegKey key, const std::string& path) {
    std::string clean = path;
    while (!clean.empty() && clean.back() == '\\') clean.pop_back();
    key_names_[key] = clean;
}

static std::string join_key(const std::string& parent, const char* subkey) {
    return subkey && *subkey ? parent + "\\" + subkey : parent;
}

// -- Convenience rules.

FaultRule& FaultyPlatform::fail_registry_open(const std::string& key, long error) {
    FaultRule r{Call::reg_open_key, key};
    r.error = error;
    return add_rule(r);
}
FaultRule& FaultyPlatform::fail_registry_create(const std::string& key, long error) {
    FaultRule r{Call::reg_create_key, key};
    r.error = error;
    return add_rule(r);
}
FaultRule& FaultyPlatform::fail_query_value(const std::string& value, long error) {
    FaultRule r{Call::reg_query_value, value};
    r.error = error;
    return add_rule(r);
}
FaultRule& FaultyPlatform::fail_set_value(const std::string& value, long error) {
    FaultRule r{Call::reg_set_value, value};
    r.error = error;
    return add_rule(r);
}
FaultRule& FaultyPlatform::fail_delete_value(const std::string& value, long error) {
    FaultRule r{Call::reg_delete_value, value};
    r.error = error;
    return add_rule(r);
}
FaultRule& FaultyPlatform::fail_delete_key(const std::string& key, long error) {
    FaultRule r{Call::reg_delete_key, key};
    r.error = error;
    return add_rule(r);
}
FaultRule& FaultyPlatform::fail_open_file(const std::string& path, const std::string& mode,
                                          int good_calls) {
    FaultRule r{Call::open_file, path, mode};
    r.good_calls = good_calls;
    return add_rule(r);
}
FaultRule& FaultyPlatform::fail_create_directory(const std::string& path) {
    return add_rule(FaultRule{Call::create_directory, path});
}
FaultRule& FaultyPlatform::fail_delete_file(const std::string& path) {
    return add_rule(FaultRule{Call::delete_file, path});
}
FaultRule& FaultyPlatform::fail_lock(const std::string& path, int good_calls) {
    FaultRule r{Call::open_lock_file, path};
    r.good_calls = good_calls;
    return add_rule(r);
}
FaultRule& FaultyPlatform::fail_copy_file(const std::string& path) {
    return add_rule(FaultRule{Call::copy_file, path});
}
FaultRule& FaultyPlatform::fail_replace_file(const std::string& path, long error) {
    FaultRule r{Call::replace_file, path};
    r.error = error;
    return add_rule(r);
}
FaultRule& FaultyPlatform::fail_start_process(const std::string& command_line) {
    return add_rule(FaultRule{Call::start_process, command_line});
}
FaultRule& FaultyPlatform::fail_after_writes(const std::string& path, long bytes) {
    FaultRule r{Call::open_file, path};
    r.write_limit = bytes;
    return add_rule(r);
}

bool FaultyPlatform::supports_disk_full() {
#ifdef SX_HAVE_COOKIE_STREAMS
    return true;
#else
    return false;
#endif
}

// -- Registry.

long FaultyPlatform::reg_open_key(RegKey parent, const char* subkey, uint32_t access, RegKey* out) {
    const std::string path = join_key(key_path(parent), subkey);
    if (const FaultRule* r = strike(Call::reg_open_key, path)) return r->error;
    long rc = inner_->reg_open_key(parent, subkey, access, out);
    if (rc == kErrorSuccess && out) remember(*out, path);
    return rc;
}

long FaultyPlatform::reg_create_key(RegKey parent, const char* subkey, RegKey* out, bool* created) {
    const std::string path = join_key(key_path(parent), subkey);
    if (const FaultRule* r = strike(Call::reg_create_key, path)) return r->error;
    long rc = inner_->reg_create_key(parent, subkey, out, created);
    if (rc == kErrorSuccess && out) remember(*out, path);
    return rc;
}

long FaultyPlatform::reg_close_key(RegKey key) {
    if (const FaultRule* r = strike(Call::reg_close_key, key_path(key))) return r->error;
    long rc = inner_->reg_close_key(key);
    if (rc == kErrorSuccess && key != kHkeyClassesRoot && key != kHkeyCurrentUser &&
        key != kHkeyLocalMachine && key != kHkeyUsers)
        key_names_.erase(key);
    return rc;
}

long FaultyPlatform::reg_query_value(RegKey key, const char* name, uint32_t* type, void* data,
                                     uint32_t* size) {
    if (const FaultRule* r = strike(Call::reg_query_value, key_path(key) + "\\" + text_of(name)))
        return r->error;
    return inner_->reg_query_value(key, name, type, data, size);
}

long FaultyPlatform::reg_set_value(RegKey key, const char* name, uint32_t type, const void* data,
                                   uint32_t size) {
    if (const FaultRule* r = strike(Call::reg_set_value, key_path(key) + "\\" + text_of(name)))
        return r->error;
    return inner_->reg_set_value(key, name, type, data, size);
}

long FaultyPlatform::reg_delete_value(RegKey key, const char* name) {
    if (const FaultRule* r = strike(Call::reg_delete_value, key_path(key) + "\\" + text_of(name)))
        return r->error;
    return inner_->reg_delete_value(key, name);
}

long FaultyPlatform::reg_delete_key(RegKey parent, const char* subkey) {
    if (const FaultRule* r = strike(Call::reg_delete_key, join_key(key_path(parent), subkey)))
        return r->error;
    return inner_->reg_delete_key(parent, subkey);
}

long FaultyPlatform::reg_enum_key(RegKey key, uint32_t index, char* name, uint32_t* name_size) {
    if (const FaultRule* r = strike(Call::reg_enum_key, key_path(key))) return r->error;
    return inner_->reg_enum_key(key, index, name, name_size);
}

long FaultyPlatform::reg_enum_value(RegKey key, uint32_t index, char* name, uint32_t* name_size,
                                    uint32_t* type, void* data, uint32_t* data_size) {
    if (const FaultRule* r = strike(Call::reg_enum_value, key_path(key))) return r->error;
    return inner_->reg_enum_value(key, index, name, name_size, type, data, data_size);
}

// -- Files.

uint32_t FaultyPlatform::get_file_attributes(const char* path) {
    if (strike(Call::get_file_attributes, text_of(path))) return kInvalidFileAttributes;
    return inner_->get_file_attributes(path);
}

bool FaultyPlatform::create_directory(const char* path) {
    return !strike(Call::create_directory, text_of(path)) && inner_->create_directory(path);
}

bool FaultyPlatform::remove_directory(const char* path) {
    return !strike(Call::remove_directory, text_of(path)) && inner_->remove_directory(path);
}

bool FaultyPlatform::delete_file(const char* path) {
    return !strike(Call::delete_file, text_of(path)) && inner_->delete_file(path);
}

uint32_t FaultyPlatform::get_temp_path(char* buffer, uint32_t size) {
    if (strike(Call::get_temp_path, "")) return 0;
    return inner_->get_temp_path(buffer, size);
}

bool FaultyPlatform::list_directory(const char* pattern, std::vector<std::string>* names) {
    return !strike(Call::list_directory, text_of(pattern)) &&
           inner_->list_directory(pattern, names);
}

std::FILE* FaultyPlatform::open_file(const char* path, const char* mode) {
    const FaultRule* r = strike(Call::open_file, text_of(path), std::string(), mode);
    if (r && r->write_limit < 0) {
        errno = EACCES;
        return nullptr;
    }
    std::FILE* f = inner_->open_file(path, mode);
#ifdef SX_HAVE_COOKIE_STREAMS
    if (f && r) return limited_stream(f, r->write_limit, mode);
#endif
    return f;
}

CreateNewResult FaultyPlatform::create_new_file(const char* path) {
    if (strike(Call::create_new_file, text_of(path))) return CreateNewResult::failed;
    return inner_->create_new_file(path);
}

bool FaultyPlatform::flush_file(std::FILE* stream) {
    if (strike(Call::flush_file, "")) return false;
#ifdef SX_HAVE_COOKIE_STREAMS
    if (stream && is_limited_stream(stream)) {
        // Our limited stream: pushing its buffer through is what can fail.
        return std::fflush(stream) == 0;
    }
#endif
    return inner_->flush_file(stream);
}

bool FaultyPlatform::replace_file(const char* from, const char* to, long* error) {
    if (const FaultRule* r = strike(Call::replace_file, text_of(from), text_of(to))) {
        if (error) *error = r->error;
        return false;
    }
    return inner_->replace_file(from, to, error);
}

bool FaultyPlatform::copy_file(const char* from, const char* to, bool fail_if_exists) {
    return !strike(Call::copy_file, text_of(from), text_of(to)) &&
           inner_->copy_file(from, to, fail_if_exists);
}

bool FaultyPlatform::move_file(const char* from, const char* to) {
    return !strike(Call::move_file, text_of(from), text_of(to)) && inner_->move_file(from, to);
}

std::string FaultyPlatform::current_directory() {
    if (strike(Call::current_directory, "")) return std::string();
    return inner_->current_directory();
}

// -- Locks, time, environment.

LockHandle FaultyPlatform::open_lock_file(const char* path) {
    if (strike(Call::open_lock_file, text_of(path))) return nullptr;
    return inner_->open_lock_file(path);
}

void FaultyPlatform::close_lock_file(LockHandle lock) {
    strike(Call::close_lock_file, "");  // counted only: releasing cannot be refused
    inner_->close_lock_file(lock);
}

uint32_t FaultyPlatform::tick_count() {
    strike(Call::tick_count, "");
    return inner_->tick_count();
}

void FaultyPlatform::sleep_ms(uint32_t milliseconds) {
    strike(Call::sleep_ms, "");
    inner_->sleep_ms(milliseconds);
}

uint32_t FaultyPlatform::expand_environment_strings(const char* source, char* dest, uint32_t size) {
    if (strike(Call::expand_environment_strings, text_of(source))) return 0;
    return inner_->expand_environment_strings(source, dest, size);
}

bool FaultyPlatform::get_environment_variable(const char* name, std::string* value) {
    return !strike(Call::get_environment_variable, text_of(name)) &&
           inner_->get_environment_variable(name, value);
}

bool FaultyPlatform::set_environment_variable(const char* name, const char* value) {
    return !strike(Call::set_environment_variable, text_of(name)) &&
           inner_->set_environment_variable(name, value);
}

// -- Processes and threads.

bool FaultyPlatform::start_process(const char* command_line, ProcessHandle* out) {
    return !strike(Call::start_process, text_of(command_line)) &&
           inner_->start_process(command_line, out);
}

bool FaultyPlatform::wait_process(ProcessHandle process, uint32_t timeout_ms, uint32_t* exit_code) {
    return !strike(Call::wait_process, "") && inner_->wait_process(process, timeout_ms, exit_code);
}

void FaultyPlatform::close_process(ProcessHandle process) {
    strike(Call::close_process, "");
    inner_->close_process(process);
}

bool FaultyPlatform::terminate_process(ProcessHandle process, uint32_t exit_code) {
    return !strike(Call::terminate_process, "") && inner_->terminate_process(process, exit_code);
}

uint32_t FaultyPlatform::current_process_id() {
    strike(Call::current_process_id, "");
    return inner_->current_process_id();
}

std::string FaultyPlatform::command_line() {
    strike(Call::command_line, "");
    return inner_->command_line();
}

std::string FaultyPlatform::program_path() {
    if (strike(Call::program_path, "")) return std::string();
    return inner_->program_path();
}

std::string FaultyPlatform::module_path(const void* address) {
    if (strike(Call::module_path, "")) return std::string();
    return inner_->module_path(address);
}

ThreadHandle FaultyPlatform::start_thread(ThreadProc proc, void* argument) {
    if (strike(Call::start_thread, "")) return nullptr;
    return inner_->start_thread(proc, argument);
}

bool FaultyPlatform::wait_thread(ThreadHandle thread, uint32_t timeout_ms) {
    return !strike(Call::wait_thread, "") && inner_->wait_thread(thread, timeout_ms);
}

void FaultyPlatform::close_thread(ThreadHandle thread) {
    strike(Call::close_thread, "");
    inner_->close_thread(thread);
}

// -- Libraries, user interface, system facts.

ModuleHandle FaultyPlatform::load_library(const char* path) {
    if (strike(Call::load_library, text_of(path))) return nullptr;
    return inner_->load_library(path);
}

void* FaultyPlatform::find_symbol(ModuleHandle module, const char* name) {
    if (strike(Call::find_symbol, text_of(name))) return nullptr;
    return inner_->find_symbol(module, name);
}

void FaultyPlatform::free_library(ModuleHandle module) {
    strike(Call::free_library, "");
    inner_->free_library(module);
}

int FaultyPlatform::message_box(const char* text, const char* caption, uint32_t flags) {
    // A box that cannot be shown answers 0, as MessageBoxA does.
    if (strike(Call::message_box, text_of(caption), text_of(text))) return 0;
    return inner_->message_box(text, caption, flags);
}

uint32_t FaultyPlatform::get_system_directory(char* buffer, uint32_t size) {
    if (strike(Call::get_system_directory, "")) return 0;
    return inner_->get_system_directory(buffer, size);
}

OsVersion FaultyPlatform::os_version() {
    strike(Call::os_version, "");
    return inner_->os_version();
}

}  // namespace sx
