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
    kErrorNotSameDevice = 17,
    kErrorGenFailure = 31,
    kErrorSharingViolation = 32,
    kErrorFileExists = 80,
    kErrorInvalidParameter = 87,
    kErrorDiskFull = 112,
    kErrorCallNotImplemented = 120,  // the system lacks the call (Windows 95/98)
    kErrorInvalidName = 123,
    kErrorDirNotEmpty = 145,
    kErrorDirectory = 267,  // a directory call on something that is not one
    kErrorAlreadyExists = 183,
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
    kKeyDelete = 0x10000,  // DELETE: the key itself may be deleted
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
constexpr uint32_t kFileAttributeReadonly = 0x1u;
constexpr uint32_t kFileAttributeDirectory = 0x10u;
constexpr uint32_t kFileAttributeArchive = 0x20u;
// Not a file that can be read to its end: a pipe, a device, a socket (or a
// link to one). Reading it may never finish.
constexpr uint32_t kFileAttributeDevice = 0x40u;
// A link (symbolic link or junction): removing it never touches its target.
constexpr uint32_t kFileAttributeReparsePoint = 0x400u;

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
    using ThreadProc = uint32_t (*)(void* argument);

    virtual ~Platform() = default;

    // One pure virtual function per row of platform_operations.h, where each
    // operation's contract is written down.
#define SX_PLATFORM_OPERATION(result, name, parameters, arguments, failure, subject) \
    virtual result name parameters = 0;
#include "platform/platform_operations.h"
#undef SX_PLATFORM_OPERATION
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
