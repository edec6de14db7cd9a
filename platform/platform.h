// The operating-system seam.
//
// Everything the system asks of the operating system goes through one table
// of operations, `Platform`. Two implementations exist: platform/win32 calls
// the Win32 API directly, platform/posix emulates the same services on Linux
// (drives under a root folder, a SQLite registry, flock-based locks).
//
// The operations keep Win32's contracts on purpose: paths are Windows paths
// with backslash separators, registry calls return Win32 error codes and fill
// counted buffers exactly as RegQueryValueExA does, and so on. System code can
// therefore be written once against Win32 semantics and runs unchanged on both.
//
// Tests wrap the active platform (see `ScopedPlatform` and `FaultyPlatform` in
// platform/testing) to make any single call fail.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace sx {

// ---------------------------------------------------------------------------
// Win32 constants used by the system. Values are Win32's own.

// Error codes (winerror.h).
enum : long {
    kErrorSuccess = 0,
    kErrorFileNotFound = 2,
    kErrorPathNotFound = 3,
    kErrorAccessDenied = 5,
    kErrorInvalidHandle = 6,
    kErrorNotEnoughMemory = 8,
    kErrorSharingViolation = 32,
    kErrorDiskFull = 112,
    kErrorCallNotImplemented = 120,  // the system lacks the call (Windows 95/98)
    kErrorInvalidParameter = 87,
    kErrorMoreData = 234,
    kErrorNoMoreItems = 259,
    kErrorKeyDeleted = 1018,
};

// Registry value types (winnt.h).
enum : uint32_t {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegMultiSz = 7,
};

// Registry access masks used by the system.
enum : uint32_t {
    kKeyQueryValue = 0x0001,
    kKeySetValue = 0x0002,
    kKeyCreateSubKey = 0x0004,
    kKeyEnumerateSubKeys = 0x0008,
    kKeyRead = 0x20019,
    kKeyWrite = 0x20006,
    kKeyAllAccess = 0xF003F,
};

// Registry handles are opaque pointer-sized values; the predefined roots have
// Win32's values.
using RegKey = uintptr_t;
constexpr RegKey kHkeyClassesRoot = 0x80000000u;
constexpr RegKey kHkeyCurrentUser = 0x80000001u;
constexpr RegKey kHkeyLocalMachine = 0x80000002u;
constexpr RegKey kHkeyUsers = 0x80000003u;

// File attributes.
constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
constexpr uint32_t kFileAttributeDirectory = 0x10u;

// Message box flags and results (winuser.h).
enum : uint32_t {
    kMbOk = 0x0,
    kMbOkCancel = 0x1,
    kMbYesNo = 0x4,
    kMbIconError = 0x10,
    kMbIconQuestion = 0x20,
    kMbIconWarning = 0x30,
    kMbIconInformation = 0x40,
};
enum : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

// Result of an exclusive file creation (the `_open(_O_CREAT | _O_EXCL)` form).
enum class CreateNewResult { created, exists, failed };

// Opaque handles of the platform's own objects.
struct LockHandleTag;
using LockHandle = LockHandleTag*;  // null: none
struct ProcessHandleTag;
using ProcessHandle = ProcessHandleTag*;
struct ThreadHandleTag;
using ThreadHandle = ThreadHandleTag*;
struct ModuleHandleTag;
using ModuleHandle = ModuleHandleTag*;

struct OsVersion {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;
    uint32_t platform_id = 0;  // 1: Windows 9x, 2: Windows NT
    std::string service_pack;  // e.g. "Service Pack 4", may be empty
};

constexpr uint32_t kWaitInfinite = 0xFFFFFFFFu;

// ---------------------------------------------------------------------------
// The table of operations.

class Platform {
public:
    virtual ~Platform() = default;

    // -- Registry (advapi32). Results are Win32 error codes.
    virtual long reg_open_key(RegKey parent, const char* subkey, uint32_t access, RegKey* out) = 0;
    // Creates every missing key on the way; `created` (may be null) tells
    // whether the last key was new.
    virtual long reg_create_key(RegKey parent, const char* subkey, RegKey* out, bool* created) = 0;
    virtual long reg_close_key(RegKey key) = 0;
    // RegQueryValueExA: with data null only the type and size are reported;
    // with a buffer smaller than the value, kErrorMoreData and the needed size.
    // `name` null or "" is the default value.
    virtual long reg_query_value(RegKey key, const char* name, uint32_t* type, void* data,
                                 uint32_t* size) = 0;
    // RegSetValueExA: the bytes are stored exactly as given, `size` of them.
    virtual long reg_set_value(RegKey key, const char* name, uint32_t type, const void* data,
                               uint32_t size) = 0;
    virtual long reg_delete_value(RegKey key, const char* name) = 0;
    // RegDeleteKeyA with NT rules: a key that has subkeys is not deleted
    // (kErrorAccessDenied).
    virtual long reg_delete_key(RegKey parent, const char* subkey) = 0;
    // RegEnumKeyExA / RegEnumValueA by index; `*name_size` is the buffer size
    // on entry and the name length (without the zero) on success.
    virtual long reg_enum_key(RegKey key, uint32_t index, char* name, uint32_t* name_size) = 0;
    virtual long reg_enum_value(RegKey key, uint32_t index, char* name, uint32_t* name_size,
                                uint32_t* type, void* data, uint32_t* data_size) = 0;

    // -- Files and directories (kernel32, C runtime).
    virtual uint32_t get_file_attributes(const char* path) = 0;
    virtual bool create_directory(const char* path) = 0;
    virtual bool remove_directory(const char* path) = 0;
    virtual bool delete_file(const char* path) = 0;
    // GetTempPathA: length copied (without zero), or the size needed when the
    // buffer is too small; 0 on failure. The path ends with a backslash.
    virtual uint32_t get_temp_path(char* buffer, uint32_t size) = 0;
    // FindFirstFileA/FindNextFileA over `pattern` (a directory followed by
    // "\*.*"): the names of every entry, "." and ".." included, in the order
    // the system lists them. False when the search cannot start.
    virtual bool list_directory(const char* pattern, std::vector<std::string>* names) = 0;
    // fopen with a Windows path.
    virtual std::FILE* open_file(const char* path, const char* mode) = 0;
    // _open(path, _O_CREAT | _O_EXCL, read-write) followed by close.
    virtual CreateNewResult create_new_file(const char* path) = 0;
    // Makes the data written to `stream` durable (fflush + fsync/FlushFileBuffers).
    virtual bool flush_file(std::FILE* stream) = 0;
    // Replaces `to` by `from` in one step: a reader sees the old file or the
    // new one, never a mix. `to` need not exist. On failure `error` (may be
    // null) receives the Win32 error code: kErrorCallNotImplemented where the
    // system has no such replace (MoveFileExA on Windows 95/98).
    virtual bool replace_file(const char* from, const char* to, long* error = nullptr) = 0;
    // CopyFileA-like copy used by installers; `fail_if_exists` as Win32.
    virtual bool copy_file(const char* from, const char* to, bool fail_if_exists) = 0;
    virtual bool move_file(const char* from, const char* to) = 0;
    virtual std::string current_directory() = 0;

    // -- Locks: CreateFileA(GENERIC_READ|GENERIC_WRITE, share 0, OPEN_ALWAYS,
    // FILE_FLAG_DELETE_ON_CLOSE). Null when another holder has it open (or on
    // any other failure). Closing removes the file.
    virtual LockHandle open_lock_file(const char* path) = 0;
    virtual void close_lock_file(LockHandle lock) = 0;

    // -- Time.
    virtual uint32_t tick_count() = 0;
    virtual void sleep_ms(uint32_t milliseconds) = 0;

    // -- Environment: ExpandEnvironmentStringsA (size needed including the
    // terminating zero; 0 on failure).
    virtual uint32_t expand_environment_strings(const char* source, char* dest, uint32_t size) = 0;
    virtual bool get_environment_variable(const char* name, std::string* value) = 0;
    virtual bool set_environment_variable(const char* name, const char* value) = 0;

    // -- Processes.
    // CreateProcessA(no application name, command_line, ..., handles not
    // inherited, flags 0, inherited environment and directory). The program is
    // the first token of the command line split by the Windows rules.
    virtual bool start_process(const char* command_line, ProcessHandle* out) = 0;
    // True when the process ended within the time-out; `exit_code` may be null.
    virtual bool wait_process(ProcessHandle process, uint32_t timeout_ms, uint32_t* exit_code) = 0;
    virtual void close_process(ProcessHandle process) = 0;
    // TerminateProcess: ends the process at once, as a kill would (no clean-up
    // runs in it; on POSIX this is SIGKILL).
    virtual bool terminate_process(ProcessHandle process, uint32_t exit_code) = 0;
    virtual uint32_t current_process_id() = 0;
    // GetCommandLineA of this process, exactly as its starter gave it.
    virtual std::string command_line() = 0;
    // Full path of this program.
    virtual std::string program_path() = 0;
    // Full path of the module (program or library) that contains `address`.
    virtual std::string module_path(const void* address) = 0;

    // -- Threads.
    using ThreadProc = uint32_t (*)(void* argument);
    virtual ThreadHandle start_thread(ThreadProc proc, void* argument) = 0;
    virtual bool wait_thread(ThreadHandle thread, uint32_t timeout_ms) = 0;
    virtual void close_thread(ThreadHandle thread) = 0;

    // -- Libraries: LoadLibraryA, GetProcAddress, FreeLibrary.
    virtual ModuleHandle load_library(const char* path) = 0;
    virtual void* find_symbol(ModuleHandle module, const char* name) = 0;
    virtual void free_library(ModuleHandle module) = 0;

    // -- User interface and system facts.
    // MessageBoxA without an owner window.
    virtual int message_box(const char* text, const char* caption, uint32_t flags) = 0;
    // GetSystemDirectoryA: length copied, or the size needed; 0 on failure.
    virtual uint32_t get_system_directory(char* buffer, uint32_t size) = 0;
    virtual OsVersion os_version() = 0;
};

// The platform in force. Starts as the real one of this build.
Platform& platform();
// The real implementation of this build (win32 or posix).
Platform& native_platform();
// Installs another implementation (a test double); returns the previous one.
Platform* set_platform(Platform* replacement);

// Installs a platform for the life of a scope.
class ScopedPlatform {
public:
    explicit ScopedPlatform(Platform* replacement) : previous_(set_platform(replacement)) {}
    ~ScopedPlatform() { set_platform(previous_); }
    ScopedPlatform(const ScopedPlatform&) = delete;
    ScopedPlatform& operator=(const ScopedPlatform&) = delete;

private:
    Platform* previous_;
};

// Splits a command line by the Windows rules (those of the C runtime's
// argument parser): white space separates arguments outside quotes; 2n
// backslashes before a quote give n backslashes and the quote delimits, 2n+1
// give n backslashes and a literal quote; other backslashes are literal; the
// first argument (the program) ends at the first white space outside quotes
// with no backslash processing.
std::vector<std::string> split_command_line(const std::string& command_line);

// Quotes one argument so that split_command_line gives it back unchanged.
std::string quote_argument(const std::string& argument);

}  // namespace sx
