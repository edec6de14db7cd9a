// The Windows build's platform: every operation is the Win32 call it is
// named after, with no emulation in between. The contracts of platform.h are
// Win32's own, so most functions only convert handles and integer widths.
#include <windows.h>

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sx {

namespace {

// The predefined roots are sign-extended pointers in the Windows headers
// (0xFFFFFFFF80000002 on 64-bit); the seam keeps their 32-bit values.
HKEY to_hkey(RegKey key) {
    switch (key) {
        case kHkeyClassesRoot:
            return HKEY_CLASSES_ROOT;
        case kHkeyCurrentUser:
            return HKEY_CURRENT_USER;
        case kHkeyLocalMachine:
            return HKEY_LOCAL_MACHINE;
        case kHkeyUsers:
            return HKEY_USERS;
        default:
            return reinterpret_cast<HKEY>(key);
    }
}

bool is_string_type(uint32_t type) {
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

RegKey from_hkey(HKEY key) { return reinterpret_cast<RegKey>(key); }

HANDLE to_handle(LockHandle lock) { return reinterpret_cast<HANDLE>(lock); }
HANDLE to_handle(ProcessHandle process) { return reinterpret_cast<HANDLE>(process); }
HANDLE to_handle(ThreadHandle thread) { return reinterpret_cast<HANDLE>(thread); }
HMODULE to_hmodule(ModuleHandle module) { return reinterpret_cast<HMODULE>(module); }

// Pads a GetModuleFileNameA-style call until the name fits: the call gives no
// size hint, it truncates and returns the buffer size.
std::string module_file_name(HMODULE module) {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameA(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::string();
        if (length < buffer.size()) return std::string(buffer.data(), length);
        if (buffer.size() >= 32768) return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

// A MoveFileExA over a file that a reader holds open fails for as long as the
// reader keeps it; readers of our files hold them only briefly.
constexpr int kReplaceAttempts = 10;
constexpr DWORD kReplaceRetryDelayMs = 25;

struct ThreadStart {
    Platform::ThreadProc proc;
    void* argument;
};

DWORD WINAPI thread_trampoline(LPVOID parameter) {
    ThreadStart start = *static_cast<ThreadStart*>(parameter);
    delete static_cast<ThreadStart*>(parameter);
    return start.proc(start.argument);
}

// The C runtime's calls fail through CreateFileA and leave its code behind;
// one that failed before reaching the system (a bad mode) leaves only errno.
void keep_runtime_error() {
    if (GetLastError() != ERROR_SUCCESS) return;
    switch (errno) {
        case ENOENT:
            SetLastError(ERROR_FILE_NOT_FOUND);
            break;
        case EEXIST:
            SetLastError(ERROR_FILE_EXISTS);
            break;
        case EACCES:
            SetLastError(ERROR_ACCESS_DENIED);
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            break;
    }
}

class Win32Platform final : public Platform {
public:
    // -- Registry.
    long reg_open_key(RegKey parent, const char* subkey, uint32_t access, RegKey* out) override {
        HKEY key = nullptr;
        LONG result = RegOpenKeyExA(to_hkey(parent), subkey, 0, access, &key);
        if (result == ERROR_SUCCESS && out) *out = from_hkey(key);
        return result;
    }

    long reg_create_key(RegKey parent, const char* subkey, RegKey* out, bool* created) override {
        HKEY key = nullptr;
        DWORD disposition = 0;
        // Read and write, not KEY_ALL_ACCESS: that asks for rights (WRITE_DAC,
        // WRITE_OWNER) an ordinary user lacks under HKEY_LOCAL_MACHINE.
        LONG result = RegCreateKeyExA(to_hkey(parent), subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_READ | KEY_WRITE, nullptr, &key, &disposition);
        if (result == ERROR_SUCCESS) {
            if (out) *out = from_hkey(key);
            if (created) *created = disposition == REG_CREATED_NEW_KEY;
        }
        return result;
    }

    long reg_close_key(RegKey key) override { return RegCloseKey(to_hkey(key)); }

    long reg_query_value(RegKey key, const char* name, uint32_t* type, void* data,
                         uint32_t* size) override {
        DWORD value_type = 0;
        DWORD byte_count = size ? *size : 0;
        LONG result = RegQueryValueExA(to_hkey(key), name, nullptr, &value_type,
                                       static_cast<BYTE*>(data), size ? &byte_count : nullptr);
        if (type) *type = value_type;
        if (size) *size = byte_count;
        return result;
    }

    long reg_set_value(RegKey key, const char* name, uint32_t type, const void* data,
                       uint32_t size) override {
        const BYTE* bytes = static_cast<const BYTE*>(data);
        if (is_string_type(type) && data && size > 0) {
            // RegSetValueExA peeks at the byte after a string value and, when
            // it is the text's zero, stores that zero too: a counted write of
            // "abc" would read back as four bytes. A copy followed by a
            // non-zero byte keeps the value at exactly the bytes given.
            std::vector<BYTE> guarded(bytes, bytes + size);
            guarded.push_back(1);
            return RegSetValueExA(to_hkey(key), name, 0, type, guarded.data(), size);
        }
        return RegSetValueExA(to_hkey(key), name, 0, type, bytes, size);
    }

    long reg_delete_value(RegKey key, const char* name) override {
        return RegDeleteValueA(to_hkey(key), name);
    }

    long reg_delete_key(RegKey parent, const char* subkey) override {
        return RegDeleteKeyA(to_hkey(parent), subkey);
    }

    long reg_enum_key(RegKey key, uint32_t index, char* name, uint32_t* name_size) override {
        DWORD length = name_size ? *name_size : 0;
        LONG result =
            RegEnumKeyExA(to_hkey(key), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (name_size) *name_size = length;
        return result;
    }

    long reg_enum_value(RegKey key, uint32_t index, char* name, uint32_t* name_size, uint32_t* type,
                        void* data, uint32_t* data_size) override {
        DWORD name_length = name_size ? *name_size : 0;
        DWORD value_type = 0;
        DWORD byte_count = data_size ? *data_size : 0;
        LONG result = RegEnumValueA(to_hkey(key), index, name, &name_length, nullptr, &value_type,
                                    static_cast<BYTE*>(data), data_size ? &byte_count : nullptr);
        if (name_size) *name_size = name_length;
        if (type) *type = value_type;
        if (data_size) *data_size = byte_count;
        return result;
    }

    // -- Files and directories.
    uint32_t get_file_attributes(const char* path) override { return GetFileAttributesA(path); }

    bool create_directory(const char* path) override {
        return CreateDirectoryA(path, nullptr) != 0;
    }

    bool remove_directory(const char* path) override { return RemoveDirectoryA(path) != 0; }

    bool delete_file(const char* path) override { return DeleteFileA(path) != 0; }

    uint32_t get_temp_path(char* buffer, uint32_t size) override {
        return GetTempPathA(size, buffer);
    }

    bool list_directory(const char* pattern, std::vector<std::string>* names) override {
        names->clear();
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA(pattern, &entry);
        if (search == INVALID_HANDLE_VALUE) {
            // A drive's root has no "." or "..": when empty, the search
            // starts but finds nothing, which is not a failure.
            return GetLastError() == ERROR_FILE_NOT_FOUND;
        }
        do {
            names->push_back(entry.cFileName);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
        return true;
    }

    std::FILE* open_file(const char* path, const char* mode) override {
        SetLastError(ERROR_SUCCESS);
        std::FILE* stream = std::fopen(path, mode);
        if (!stream) keep_runtime_error();
        return stream;
    }

    CreateNewResult create_new_file(const char* path) override {
        SetLastError(ERROR_SUCCESS);
        int fd = _open(path, _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd == -1) {
            keep_runtime_error();
            return errno == EEXIST ? CreateNewResult::exists : CreateNewResult::failed;
        }
        _close(fd);
        return CreateNewResult::created;
    }

    bool flush_file(std::FILE* stream) override {
        if (std::fflush(stream) != 0) return false;
        HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
        if (file == INVALID_HANDLE_VALUE) return false;
        return FlushFileBuffers(file) != 0;
    }

    bool replace_file(const char* from, const char* to) override {
        for (int attempt = 1;; ++attempt) {
            if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                return true;
            DWORD error = GetLastError();
            bool in_use = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
            if (!in_use || attempt == kReplaceAttempts) return false;
            Sleep(kReplaceRetryDelayMs);
        }
    }

    bool copy_file(const char* from, const char* to, bool fail_if_exists) override {
        return CopyFileA(from, to, fail_if_exists ? TRUE : FALSE) != 0;
    }

    bool move_file(const char* from, const char* to) override { return MoveFileA(from, to) != 0; }

    std::string current_directory() override {
        DWORD needed = GetCurrentDirectoryA(0, nullptr);
        if (needed == 0) return std::string();
        std::string directory(needed, '\0');
        DWORD length = GetCurrentDirectoryA(needed, directory.data());
        if (length == 0 || length >= needed) return std::string();
        directory.resize(length);
        return directory;
    }

    long last_error() override { return static_cast<long>(GetLastError()); }

    // -- Locks. Share mode 0 makes the file exclusive to one open handle in
    // the whole system; delete-on-close removes it when the holder closes it
    // or dies, so a crashed holder never leaves a lock behind.
    LockHandle open_lock_file(const char* path) override {
        HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file == INVALID_HANDLE_VALUE) return nullptr;
        return reinterpret_cast<LockHandle>(file);
    }

    void close_lock_file(LockHandle lock) override {
        if (lock) CloseHandle(to_handle(lock));
    }

    // -- Time.
    uint32_t tick_count() override { return GetTickCount(); }
    void sleep_ms(uint32_t milliseconds) override { Sleep(milliseconds); }

    // -- Environment.
    uint32_t expand_environment_strings(const char* source, char* dest, uint32_t size) override {
        return ExpandEnvironmentStringsA(source, dest, size);
    }

    bool get_environment_variable(const char* name, std::string* value) override {
        std::vector<char> buffer(256);
        for (;;) {
            SetLastError(ERROR_SUCCESS);
            DWORD length =
                GetEnvironmentVariableA(name, buffer.data(), static_cast<DWORD>(buffer.size()));
            if (length == 0) {
                // Zero is both "missing" and "set to nothing".
                if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
                if (value) value->clear();
                return true;
            }
            if (length < buffer.size()) {
                if (value) value->assign(buffer.data(), length);
                return true;
            }
            buffer.resize(length);  // the size needed, zero included
        }
    }

    bool set_environment_variable(const char* name, const char* value) override {
        return SetEnvironmentVariableA(name, value) != 0;
    }

    // -- Processes.
    bool start_process(const char* command_line, const char* directory,
                       ProcessHandle* out) override {
        // CreateProcessA may write into the command line, so it gets a copy.
        std::vector<char> line(command_line, command_line + std::strlen(command_line) + 1);
        STARTUPINFOA startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info;
        ZeroMemory(&info, sizeof info);
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            directory && *directory ? directory : nullptr, &startup, &info))
            return false;
        CloseHandle(info.hThread);
        if (out)
            *out = reinterpret_cast<ProcessHandle>(info.hProcess);
        else
            CloseHandle(info.hProcess);
        return true;
    }

    bool wait_process(ProcessHandle process, uint32_t timeout_ms, uint32_t* exit_code) override {
        if (WaitForSingleObject(to_handle(process), timeout_ms) != WAIT_OBJECT_0) return false;
        if (exit_code) {
            DWORD code = 0;
            if (!GetExitCodeProcess(to_handle(process), &code)) return false;
            *exit_code = code;
        }
        return true;
    }

    void close_process(ProcessHandle process) override {
        if (process) CloseHandle(to_handle(process));
    }

    bool wait_process_id(uint32_t process_id, uint32_t timeout_ms) override {
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, process_id);
        // No such process any more: there is nothing to wait for.
        if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;
        const bool ended = WaitForSingleObject(process, timeout_ms) == WAIT_OBJECT_0;
        CloseHandle(process);
        return ended;
    }

    bool terminate_process(ProcessHandle process, uint32_t exit_code) override {
        return TerminateProcess(to_handle(process), exit_code) != 0;
    }

    uint32_t current_process_id() override { return GetCurrentProcessId(); }

    std::string command_line() override { return GetCommandLineA(); }

    std::string program_path() override { return module_file_name(nullptr); }

    std::string module_path(const void* address) override {
        // A loaded image is one allocation based at its module handle, so the
        // allocation an address lies in names its module (on every Windows
        // since 95 and NT 4). An address outside any image has a base that
        // is no module, and the name lookup fails on it.
        MEMORY_BASIC_INFORMATION region{};
        if (!address || VirtualQuery(address, &region, sizeof region) != sizeof region ||
            region.State != MEM_COMMIT || !region.AllocationBase)
            return std::string();
        return module_file_name(static_cast<HMODULE>(region.AllocationBase));
    }

    // -- Threads.
    ThreadHandle start_thread(ThreadProc proc, void* argument) override {
        auto* start = new (std::nothrow) ThreadStart{proc, argument};
        if (!start) return nullptr;
        HANDLE thread = CreateThread(nullptr, 0, thread_trampoline, start, 0, nullptr);
        if (!thread) {
            delete start;
            return nullptr;
        }
        return reinterpret_cast<ThreadHandle>(thread);
    }

    bool wait_thread(ThreadHandle thread, uint32_t timeout_ms) override {
        return WaitForSingleObject(to_handle(thread), timeout_ms) == WAIT_OBJECT_0;
    }

    void close_thread(ThreadHandle thread) override {
        if (thread) CloseHandle(to_handle(thread));
    }

    // -- Libraries.
    ModuleHandle load_library(const char* path) override {
        return reinterpret_cast<ModuleHandle>(LoadLibraryA(path));
    }

    void* find_symbol(ModuleHandle module, const char* name) override {
        return reinterpret_cast<void*>(GetProcAddress(to_hmodule(module), name));
    }

    void free_library(ModuleHandle module) override {
        if (module) FreeLibrary(to_hmodule(module));
    }

    // -- User interface and system facts.
    int message_box(const char* text, const char* caption, uint32_t flags) override {
        return MessageBoxA(nullptr, text, caption, flags);
    }

    uint32_t get_system_directory(char* buffer, uint32_t size) override {
        return GetSystemDirectoryA(buffer, size);
    }

    OsVersion os_version() override {
        OSVERSIONINFOA info;
        ZeroMemory(&info, sizeof info);
        info.dwOSVersionInfoSize = sizeof info;
        OsVersion version;
        if (!GetVersionExA(&info)) return version;
        version.major = info.dwMajorVersion;
        version.minor = info.dwMinorVersion;
        // Windows 9x keeps the major and minor version in the build's high word.
        version.build = info.dwPlatformId == VER_PLATFORM_WIN32_NT ? info.dwBuildNumber
                                                                   : LOWORD(info.dwBuildNumber);
        version.platform_id = info.dwPlatformId;
        version.service_pack = info.szCSDVersion;
        return version;
    }
};

#if defined(_M_IX86) || defined(__i386__)
// The structure size the oldest systems check before anything else.
static_assert(sizeof(STARTUPINFOA) == 68, "STARTUPINFOA must keep its 32-bit layout");
#endif

}  // namespace

Platform& native_platform() {
    static Win32Platform instance;
    return instance;
}

}  // namespace sx
