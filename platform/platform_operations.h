// The operations of the seam, one row each, kept in this one place.
//
// Included with SX_PLATFORM_OPERATION defined as
//   SX_PLATFORM_OPERATION(result, name, (parameters), (arguments), failure, subject)
// where
//   failure  is what the call gives when it fails: a value of its result type,
//            `error_code` for calls whose result is a Win32 error code, or
//            `never` for calls that cannot fail (their result is no verdict);
//   subject  names what the call acts on: `on_key(k)` or `on_key(k, subkey)`
//            for a registry key, `on_value(k, name)` for a registry value,
//            `on_path(p)`, `on_paths(a, b)` or `on_file(p, mode)` for files,
//            `on_text(t)` or `on_texts(a, b)` for names and command lines,
//            `nothing` when the call acts on nothing named.
// The platform class declares one virtual function per row; the
// fault-injecting wrapper of the tests is generated from the same rows, so an
// operation added here is wrapped without further work.
//
// No include guard: the file is meant to be expanded more than once.

// -- Registry (advapi32). Results are Win32 error codes.
SX_PLATFORM_OPERATION(long, reg_open_key,
                      (RegKey parent, const char* subkey, uint32_t access, RegKey* out),
                      (parent, subkey, access, out), error_code, on_key(parent, subkey))
// Creates every missing key on the way; `created` (may be null) tells whether
// the last key was new.
SX_PLATFORM_OPERATION(long, reg_create_key,
                      (RegKey parent, const char* subkey, RegKey* out, bool* created),
                      (parent, subkey, out, created), error_code, on_key(parent, subkey))
SX_PLATFORM_OPERATION(long, reg_close_key, (RegKey key), (key), error_code, on_key(key))
// RegQueryValueExA: with data null only the type and size are reported; with a
// buffer smaller than the value, kErrorMoreData and the needed size. `name`
// null or "" is the default value.
SX_PLATFORM_OPERATION(long, reg_query_value,
                      (RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size),
                      (key, name, type, data, size), error_code, on_value(key, name))
// RegSetValueExA: the bytes are stored exactly as given, `size` of them.
SX_PLATFORM_OPERATION(long, reg_set_value,
                      (RegKey key, const char* name, uint32_t type, const void* data,
                       uint32_t size),
                      (key, name, type, data, size), error_code, on_value(key, name))
SX_PLATFORM_OPERATION(long, reg_delete_value, (RegKey key, const char* name), (key, name),
                      error_code, on_value(key, name))
// RegDeleteKeyA with NT rules: a key that has subkeys is not deleted
// (kErrorAccessDenied).
SX_PLATFORM_OPERATION(long, reg_delete_key, (RegKey parent, const char* subkey), (parent, subkey),
                      error_code, on_key(parent, subkey))
// RegEnumKeyExA / RegEnumValueA by index; `*name_size` is the buffer size on
// entry and the name length (without the zero) on success.
SX_PLATFORM_OPERATION(long, reg_enum_key,
                      (RegKey key, uint32_t index, char* name, uint32_t* name_size),
                      (key, index, name, name_size), error_code, on_key(key))
SX_PLATFORM_OPERATION(long, reg_enum_value,
                      (RegKey key, uint32_t index, char* name, uint32_t* name_size, uint32_t* type,
                       void* data, uint32_t* data_size),
                      (key, index, name, name_size, type, data, data_size), error_code, on_key(key))

// -- Files and directories (kernel32, C runtime). After a failed call,
// last_error() tells why.
// GetFileAttributesA: a link (or any reparse point) reports its own
// attributes with kFileAttributeReparsePoint, plus kFileAttributeDirectory
// when it stands for a directory; it is never followed.
SX_PLATFORM_OPERATION(uint32_t, get_file_attributes, (const char* path), (path),
                      kInvalidFileAttributes, on_path(path))
SX_PLATFORM_OPERATION(bool, create_directory, (const char* path), (path), false, on_path(path))
// RemoveDirectoryA: an empty directory, or a link that stands for a directory
// (the link goes, what it points at stays). A directory that is some live
// process's current directory is refused (kErrorSharingViolation), as Windows
// does.
SX_PLATFORM_OPERATION(bool, remove_directory, (const char* path), (path), false, on_path(path))
// DeleteFileA: a file, or a link that stands for a file (the link goes).
SX_PLATFORM_OPERATION(bool, delete_file, (const char* path), (path), false, on_path(path))
// GetTempPathA: length copied (without zero), or the size needed when the
// buffer is too small; 0 on failure. The path ends with a backslash.
SX_PLATFORM_OPERATION(uint32_t, get_temp_path, (char* buffer, uint32_t size), (buffer, size), 0u,
                      nothing)
// FindFirstFileA/FindNextFileA over `pattern` (a directory followed by
// "\*.*"): the names of every entry, "." and ".." included, in the order the
// system lists them. False when the search cannot start.
SX_PLATFORM_OPERATION(bool, list_directory, (const char* pattern, std::vector<std::string>* names),
                      (pattern, names), false, on_path(pattern))
// fopen with a Windows path.
SX_PLATFORM_OPERATION(std::FILE*, open_file, (const char* path, const char* mode), (path, mode),
                      nullptr, on_file(path, mode))
// _open(path, _O_CREAT | _O_EXCL, read-write) followed by close.
SX_PLATFORM_OPERATION(CreateNewResult, create_new_file, (const char* path), (path),
                      CreateNewResult::failed, on_path(path))
// Makes the data written to `stream` durable (fflush + fsync/FlushFileBuffers).
SX_PLATFORM_OPERATION(bool, flush_file, (std::FILE * stream), (stream), false, nothing)
// Replaces `to` by `from` in one step: a reader sees the old file or the new
// one, never a mix. `to` need not exist.
SX_PLATFORM_OPERATION(bool, replace_file, (const char* from, const char* to), (from, to), false,
                      on_paths(from, to))
// CopyFileA-like copy used by installers; `fail_if_exists` as Win32.
SX_PLATFORM_OPERATION(bool, copy_file, (const char* from, const char* to, bool fail_if_exists),
                      (from, to, fail_if_exists), false, on_paths(from, to))
SX_PLATFORM_OPERATION(bool, move_file, (const char* from, const char* to), (from, to), false,
                      on_paths(from, to))
SX_PLATFORM_OPERATION(std::string, current_directory, (), (), std::string(), nothing)
// GetLastError after a file operation above (or a lock) failed: a Win32 error
// code such as kErrorFileNotFound, kErrorPathNotFound, kErrorAccessDenied or
// kErrorSharingViolation (in use). Kept per thread; undefined after success.
SX_PLATFORM_OPERATION(long, last_error, (), (), never, nothing)

// -- Locks: CreateFileA(GENERIC_READ|GENERIC_WRITE, share 0, OPEN_ALWAYS,
// FILE_FLAG_DELETE_ON_CLOSE). Null when another holder has it open
// (last_error() kErrorSharingViolation) or on any other failure. Closing
// removes the file.
SX_PLATFORM_OPERATION(LockHandle, open_lock_file, (const char* path), (path), nullptr,
                      on_path(path))
SX_PLATFORM_OPERATION(void, close_lock_file, (LockHandle lock), (lock), never, nothing)

// -- Time.
SX_PLATFORM_OPERATION(uint32_t, tick_count, (), (), never, nothing)
SX_PLATFORM_OPERATION(void, sleep_ms, (uint32_t milliseconds), (milliseconds), never, nothing)

// -- Environment: ExpandEnvironmentStringsA (size needed including the
// terminating zero; 0 on failure).
SX_PLATFORM_OPERATION(uint32_t, expand_environment_strings,
                      (const char* source, char* dest, uint32_t size), (source, dest, size), 0u,
                      on_text(source))
SX_PLATFORM_OPERATION(bool, get_environment_variable, (const char* name, std::string* value),
                      (name, value), false, on_text(name))
SX_PLATFORM_OPERATION(bool, set_environment_variable, (const char* name, const char* value),
                      (name, value), false, on_text(name))

// -- Processes.
// CreateProcessA(no application name, command_line, ..., handles not
// inherited, flags 0, inherited environment). The program is the first token of
// the command line split by the Windows rules. `directory` is the child's
// current directory; null (or empty) keeps this process's. A directory that
// does not exist fails the start.
SX_PLATFORM_OPERATION(bool, start_process,
                      (const char* command_line, const char* directory, ProcessHandle* out),
                      (command_line, directory, out), false, on_text(command_line))
// True when the process ended within the time-out; `exit_code` may be null.
SX_PLATFORM_OPERATION(bool, wait_process,
                      (ProcessHandle process, uint32_t timeout_ms, uint32_t* exit_code),
                      (process, timeout_ms, exit_code), false, nothing)
SX_PLATFORM_OPERATION(void, close_process, (ProcessHandle process), (process), never, nothing)
// OpenProcess(SYNCHRONIZE) on a process id and a wait for it: true when the
// process has ended (or no longer exists) within the time-out.
SX_PLATFORM_OPERATION(bool, wait_process_id, (uint32_t process_id, uint32_t timeout_ms),
                      (process_id, timeout_ms), false, nothing)
// TerminateProcess: ends the process at once, as a kill would (no clean-up
// runs in it; on POSIX this is SIGKILL).
SX_PLATFORM_OPERATION(bool, terminate_process, (ProcessHandle process, uint32_t exit_code),
                      (process, exit_code), false, nothing)
SX_PLATFORM_OPERATION(uint32_t, current_process_id, (), (), never, nothing)
// GetCommandLineA of this process, exactly as its starter gave it.
SX_PLATFORM_OPERATION(std::string, command_line, (), (), never, nothing)
// Full path of this program.
SX_PLATFORM_OPERATION(std::string, program_path, (), (), std::string(), nothing)
// Full path of the module (program or library) that contains `address`.
SX_PLATFORM_OPERATION(std::string, module_path, (const void* address), (address), std::string(),
                      nothing)

// -- Threads.
SX_PLATFORM_OPERATION(ThreadHandle, start_thread, (ThreadProc proc, void* argument),
                      (proc, argument), nullptr, nothing)
SX_PLATFORM_OPERATION(bool, wait_thread, (ThreadHandle thread, uint32_t timeout_ms),
                      (thread, timeout_ms), false, nothing)
SX_PLATFORM_OPERATION(void, close_thread, (ThreadHandle thread), (thread), never, nothing)

// -- Libraries: LoadLibraryA, GetProcAddress, FreeLibrary.
SX_PLATFORM_OPERATION(ModuleHandle, load_library, (const char* path), (path), nullptr,
                      on_text(path))
SX_PLATFORM_OPERATION(void*, find_symbol, (ModuleHandle module, const char* name), (module, name),
                      nullptr, on_text(name))
SX_PLATFORM_OPERATION(void, free_library, (ModuleHandle module), (module), never, nothing)

// -- User interface and system facts.
// MessageBoxA without an owner window; 0 when no box could be shown.
SX_PLATFORM_OPERATION(int, message_box, (const char* text, const char* caption, uint32_t flags),
                      (text, caption, flags), 0, on_texts(caption, text))
// GetSystemDirectoryA: length copied, or the size needed; 0 on failure.
SX_PLATFORM_OPERATION(uint32_t, get_system_directory, (char* buffer, uint32_t size), (buffer, size),
                      0u, nothing)
SX_PLATFORM_OPERATION(OsVersion, os_version, (), (), never, nothing)
