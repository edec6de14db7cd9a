// Pieces of the POSIX emulation shared between its source files and its
// tests. Nothing outside platform/posix includes this.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sx::posix {

// -- The emulated Windows root ($SX_WINROOT, or the per-user default).

// The Linux directory that holds drive_c, drive_d, ... and the registry
// database, created and primed on first use. Never ends with '/'.
const std::string& winroot();
// The default root used when SX_WINROOT is unset.
std::string default_winroot();
// Creates `root` with its drives, folders and fresh-Windows registry values
// unless another process already did; safe when several do it at once.
bool prime_root(const std::string& root);
// The login name used for the profile folder.
std::string user_name();

// -- Paths.

// Translates a Windows path to the Linux path that holds it. Components that
// do not exist with their exact case are matched case-insensitively in their
// directory; components that match nothing keep the case given (so a file
// created through the result gets the caller's spelling). False for paths the
// emulation cannot place (UNC names, empty text).
bool to_host_path(const std::string& windows_path, std::string* host_path);
// The Windows form of a Linux path: X:\... when it lies in the root's
// drive_x, Z:\... otherwise. Relative paths are taken from the current
// directory.
std::string to_windows_path(const std::string& host_path);
// Lexical clean-up of a Windows path: '/' becomes '\', runs of separators
// collapse, "." and ".." are applied (never above the drive root).
std::string normalize_windows_path(const std::string& path);
// Windows file-name pattern match ('*', '?', case-insensitive; "*.*" also
// matches names without a dot).
bool match_pattern(const std::string& pattern, const std::string& name);

// -- Environment as the emulated Windows sees it: the process environment
// (names compared case-insensitively), then the defaults of a fresh Windows
// (USERPROFILE, SystemRoot, windir, TEMP, TMP, ...).
bool lookup_environment(const std::string& name, std::string* value, bool with_defaults = true);
// Win32 ExpandEnvironmentStrings over `source`.
std::string expand_environment(const std::string& source);

// -- Locks.
enum class LockAttempt { locked, busy, stale, failed };
// One attempt on an already opened lock file: flock, then checks that the
// file at `host_path` is still the one that was locked.
LockAttempt lock_descriptor(int fd, const std::string& host_path);

// -- Processes.
// The environment variables that carry a child's exact command line.
constexpr const char* kCommandLineVariable = "SX_COMMAND_LINE";
constexpr const char* kCommandLinePidVariable = "SX_COMMAND_LINE_PID";
// Finds the Linux program for the first token of a command line; "x.exe"
// falls back to "x" when only the latter exists.
bool find_program(const std::string& windows_program, std::string* host_program);

// -- Registry: a SQLite database with Windows' naming rules and exact value
// bytes. One object per database; `instance()` is the root's.
class Registry {
public:
    explicit Registry(std::string database_path);
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    static Registry& instance();

    long open_key(RegKey parent, const char* subkey, uint32_t access, RegKey* out);
    long create_key(RegKey parent, const char* subkey, RegKey* out, bool* created);
    long close_key(RegKey key);
    long query_value(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size);
    long set_value(RegKey key, const char* name, uint32_t type, const void* data, uint32_t size);
    long delete_value(RegKey key, const char* name);
    long delete_key(RegKey parent, const char* subkey);
    long enum_key(RegKey key, uint32_t index, char* name, uint32_t* name_size);
    long enum_value(RegKey key, uint32_t index, char* name, uint32_t* name_size, uint32_t* type,
                    void* data, uint32_t* data_size);

private:
    struct State;
    State* state_;
};

// The database file inside a root.
std::string registry_path(const std::string& root);

}  // namespace sx::posix
