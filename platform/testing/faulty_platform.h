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

enum class Call {
    reg_open_key,
    reg_create_key,
    reg_close_key,
    reg_query_value,
    reg_set_value,
    reg_delete_value,
    reg_delete_key,
    reg_enum_key,
    reg_enum_value,
    get_file_attributes,
    create_directory,
    remove_directory,
    delete_file,
    get_temp_path,
    list_directory,
    open_file,
    create_new_file,
    flush_file,
    replace_file,
    copy_file,
    move_file,
    current_directory,
    open_lock_file,
    close_lock_file,
    tick_count,
    sleep_ms,
    expand_environment_strings,
    get_environment_variable,
    set_environment_variable,
    start_process,
    wait_process,
    close_process,
    terminate_process,
    current_process_id,
    command_line,
    program_path,
    module_path,
    start_thread,
    wait_thread,
    close_thread,
    load_library,
    find_symbol,
    free_library,
    message_box,
    get_system_directory,
    os_version,
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
    long error = kErrorAccessDenied;  // what failing registry calls and replaces report
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
    FaultRule& fail_registry_open(const std::string& key, long error = kErrorAccessDenied);
    FaultRule& fail_registry_create(const std::string& key, long error = kErrorAccessDenied);
    FaultRule& fail_query_value(const std::string& value, long error = kErrorAccessDenied);
    FaultRule& fail_set_value(const std::string& value, long error = kErrorAccessDenied);
    FaultRule& fail_delete_value(const std::string& value, long error = kErrorAccessDenied);
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

    // -- Platform.
    long reg_open_key(RegKey parent, const char* subkey, uint32_t access, RegKey* out) override;
    long reg_create_key(RegKey parent, const char* subkey, RegKey* out, bool* created) override;
    long reg_close_key(RegKey key) override;
    long reg_query_value(RegKey key, const char* name, uint32_t* type, void* data,
                         uint32_t* size) override;
    long reg_set_value(RegKey key, const char* name, uint32_t type, const void* data,
                       uint32_t size) override;
    long reg_delete_value(RegKey key, const char* name) override;
    long reg_delete_key(RegKey parent, const char* subkey) override;
    long reg_enum_key(RegKey key, uint32_t index, char* name, uint32_t* name_size) override;
    long reg_enum_value(RegKey key, uint32_t index, char* name, uint32_t* name_size, uint32_t* type,
                        void* data, uint32_t* data_size) override;
    uint32_t get_file_attributes(const char* path) override;
    bool create_directory(const char* path) override;
    bool remove_directory(const char* path) override;
    bool delete_file(const char* path) override;
    uint32_t get_temp_path(char* buffer, uint32_t size) override;
    bool list_directory(const char* pattern, std::vector<std::string>* names) override;
    std::FILE* open_file(const char* path, const char* mode) override;
    CreateNewResult create_new_file(const char* path) override;
    bool flush_file(std::FILE* stream) override;
    bool replace_file(const char* from, const char* to, long* error = nullptr) override;
    bool copy_file(const char* from, const char* to, bool fail_if_exists) override;
    bool move_file(const char* from, const char* to) override;
    std::string current_directory() override;
    LockHandle open_lock_file(const char* path) override;
    void close_lock_file(LockHandle lock) override;
    uint32_t tick_count() override;
    void sleep_ms(uint32_t milliseconds) override;
    uint32_t expand_environment_strings(const char* source, char* dest, uint32_t size) override;
    bool get_environment_variable(const char* name, std::string* value) override;
    bool set_environment_variable(const char* name, const char* value) override;
    bool start_process(const char* command_line, ProcessHandle* out) override;
    bool wait_process(ProcessHandle process, uint32_t timeout_ms, uint32_t* exit_code) override;
    void close_process(ProcessHandle process) override;
    bool terminate_process(ProcessHandle process, uint32_t exit_code) override;
    uint32_t current_process_id() override;
    std::string command_line() override;
    std::string program_path() override;
    std::string module_path(const void* address) override;
    ThreadHandle start_thread(ThreadProc proc, void* argument) override;
    bool wait_thread(ThreadHandle thread, uint32_t timeout_ms) override;
    void close_thread(ThreadHandle thread) override;
    ModuleHandle load_library(const char* path) override;
    void* find_symbol(ModuleHandle module, const char* name) override;
    void free_library(ModuleHandle module) override;
    int message_box(const char* text, const char* caption, uint32_t flags) override;
    uint32_t get_system_directory(char* buffer, uint32_t size) override;
    OsVersion os_version() override;

private:
    // Counts the call and finds the rule that makes it fail, if any.
    const FaultRule* strike(Call call, const std::string& subject,
                            const std::string& other = std::string(), const char* mode = nullptr);
    std::string key_path(RegKey key) const;
    void remember(RegKey key, const std::string& path);

    Platform* inner_;
    std::deque<FaultRule> rules_;  // references stay valid as rules are added
    int calls_[static_cast<int>(Call::count_)] = {};
    int injected_[static_cast<int>(Call::count_)] = {};
    std::map<RegKey, std::string> key_names_;
};

}  // namespace sx
