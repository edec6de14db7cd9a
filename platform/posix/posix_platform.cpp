// The Platform of the Linux build: Windows services emulated over POSIX.
// See posix_paths.cpp for drives, posix_registry.cpp for the registry.
//
// Environment variables it reads:
//   SX_WINROOT             the emulated Windows root (drive_c, ..., registry.db);
//                          unset: $XDG_DATA_HOME/stellarix/winroot, or
//                          ~/.local/share/stellarix/winroot without XDG_DATA_HOME.
//                          Created and primed on first use.
//   SX_COMMAND_LINE,       set for each started child: its exact command line,
//   SX_COMMAND_LINE_PID    valid only in the process with that pid.
//   SX_MESSAGE_BOX_ANSWER  ok | cancel | yes | no: the button message boxes
//                          press (default: OK, or Yes for Yes/No boxes).
//   SX_OS_VERSION          "major.minor.build.platform[:service pack]" in place
//                          of the default 5.0.2195.2 "Service Pack 4".
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <signal.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/ascii_case.h"
#include "platform/posix/posix_internal.h"

extern char** environ;

namespace sx {

struct LockHandleTag {
    int fd;
    std::string host_path;
};

struct ProcessHandleTag {
    pid_t pid;
    bool reaped = false;
    uint32_t exit_code = 0;
};

struct ThreadState {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
};

struct ThreadHandleTag {
    std::shared_ptr<ThreadState> state;
    std::thread thread;
};

namespace posix {
namespace {

bool host_stat(const std::string& host, struct stat* st) { return stat(host.c_str(), st) == 0; }

bool is_host_directory(const std::string& host) {
    struct stat st;
    return host_stat(host, &st) && S_ISDIR(st.st_mode);
}

std::string parent_of(const std::string& host) {
    size_t slash = host.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return host.substr(0, slash);
}

// Why the last file operation of this thread failed, as GetLastError keeps it.
thread_local long t_last_error = kErrorSuccess;

// Records the reason of a failure; false, so that a failing path can end with
// `return fail(...)`.
bool fail(long error) {
    t_last_error = error;
    return false;
}

// The Win32 code for what errno says went wrong with `host`.
long error_from_errno(int error, const std::string& host) {
    switch (error) {
        case ENOENT:
            // Windows tells a missing file from a missing folder on the way.
            return is_host_directory(parent_of(host)) ? kErrorFileNotFound : kErrorPathNotFound;
        case ENOTDIR:
            return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return kErrorAccessDenied;
        case EBUSY:
        case ETXTBSY:
            return kErrorSharingViolation;
        case EEXIST:
            return kErrorAlreadyExists;
        case ENOTEMPTY:
            return kErrorDirNotEmpty;
        case ENOSPC:
        case EDQUOT:
            return kErrorDiskFull;
        case EXDEV:
            return kErrorNotSameDevice;
        case ENAMETOOLONG:
            return kErrorInvalidName;
        case ENOMEM:
            return kErrorNotEnoughMemory;
        default:
            return kErrorGenFailure;
    }
}

bool fail_errno(const std::string& host) { return fail(error_from_errno(errno, host)); }

bool translate(const char* windows_path, std::string* host) {
    if (windows_path && to_host_path(windows_path, host)) return true;
    return fail(windows_path ? kErrorInvalidName : kErrorInvalidParameter);
}

// Windows keeps a folder that is a live process's current directory open, so
// it cannot be removed; Linux would remove it and leave the process in a
// deleted folder. Every process this user can see is asked.
bool is_some_current_directory(const struct stat& folder) {
    DIR* processes = opendir("/proc");
    if (!processes) return false;
    bool found = false;
    while (struct dirent* entry = readdir(processes)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
        struct stat cwd;
        const std::string link = std::string("/proc/") + entry->d_name + "/cwd";
        if (stat(link.c_str(), &cwd) == 0 && cwd.st_dev == folder.st_dev &&
            cwd.st_ino == folder.st_ino) {
            found = true;
            break;
        }
    }
    closedir(processes);
    return found;
}

// What a link stands for: a directory when its target is one (a dangling
// link stands for a file).
bool link_to_directory(const std::string& host) { return is_host_directory(host); }

bool sync_directory(const std::string& dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

bool write_all(int fd, const char* data, size_t size) {
    while (size) {
        ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Copies a regular file; the destination is removed again on failure.
bool copy_host_file(const std::string& from, const std::string& to) {
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st;
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(in);
        return false;
    }
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 0777);
    if (out < 0) {
        close(in);
        return false;
    }
    bool ok = true;
    int error = 0;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            error = errno;
        }
        if (n <= 0) break;
        if (!write_all(out, buffer, static_cast<size_t>(n))) {
            ok = false;
            error = errno;
            break;
        }
    }
    if (close(out) != 0 && ok) {
        ok = false;
        error = errno;
    }
    close(in);
    if (!ok) unlink(to.c_str());
    errno = error;  // why it failed, for the caller
    return ok;
}

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return host_stat(a, &sa) && host_stat(b, &sb) && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

std::string last_component(const char* windows_path) {
    std::string p = windows_path;
    while (!p.empty() && (p.back() == '\\' || p.back() == '/')) p.pop_back();
    size_t cut = p.find_last_of("\\/:");
    return cut == std::string::npos ? p : p.substr(cut + 1);
}

// A process that has ended but whose parent has not yet collected it.
bool is_zombie(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    std::FILE* f = std::fopen(path, "re");
    if (!f) return true;
    char line[512] = {};
    const bool read = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    // The state follows the name, which is in parentheses and may hold any
    // character: read after the last closing one.
    const char* close = read ? std::strrchr(line, ')') : nullptr;
    return close && close[1] == ' ' && (close[2] == 'Z' || close[2] == 'X');
}

uint64_t monotonic_ms() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

void sleep_for_ms(uint32_t ms) {
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

uint32_t copy_out(const std::string& text, char* buffer, uint32_t size) {
    const uint32_t length = static_cast<uint32_t>(text.size());
    if (!buffer || size <= length) return length + 1;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return length;
}

uint32_t exit_code_of(int status) {
    if (WIFEXITED(status)) return static_cast<uint32_t>(WEXITSTATUS(status));
    // Killed: a non-zero code, as a terminated Windows process has.
    if (WIFSIGNALED(status)) return 128u + static_cast<uint32_t>(WTERMSIG(status));
    return 1;
}

// Writes `value` in decimal into `out` without allocating (runs in a child
// between fork and exec).
void write_decimal(long value, char* out) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    while (n > 0) *out++ = digits[--n];
    *out = '\0';
}

}  // namespace

class PosixPlatform final : public Platform {
public:
    // -- Registry.
    long reg_open_key(RegKey parent, const char* subkey, uint32_t access, RegKey* out) override {
        return Registry::instance().open_key(parent, subkey, access, out);
    }
    long reg_create_key(RegKey parent, const char* subkey, RegKey* out, bool* created) override {
        return Registry::instance().create_key(parent, subkey, out, created);
    }
    long reg_close_key(RegKey key) override { return Registry::instance().close_key(key); }
    long reg_query_value(RegKey key, const char* name, uint32_t* type, void* data,
                         uint32_t* size) override {
        return Registry::instance().query_value(key, name, type, data, size);
    }
    long reg_set_value(RegKey key, const char* name, uint32_t type, const void* data,
                       uint32_t size) override {
        return Registry::instance().set_value(key, name, type, data, size);
    }
    long reg_delete_value(RegKey key, const char* name) override {
        return Registry::instance().delete_value(key, name);
    }
    long reg_delete_key(RegKey parent, const char* subkey) override {
        return Registry::instance().delete_key(parent, subkey);
    }
    long reg_enum_key(RegKey key, uint32_t index, char* name, uint32_t* name_size) override {
        return Registry::instance().enum_key(key, index, name, name_size);
    }
    long reg_enum_value(RegKey key, uint32_t index, char* name, uint32_t* name_size, uint32_t* type,
                        void* data, uint32_t* data_size) override {
        return Registry::instance().enum_value(key, index, name, name_size, type, data, data_size);
    }

    // -- Files and directories.
    uint32_t get_file_attributes(const char* path) override {
        std::string host;
        struct stat st;
        if (!translate(path, &host)) return kInvalidFileAttributes;
        if (lstat(host.c_str(), &st) != 0) {
            fail_errno(host);
            return kInvalidFileAttributes;
        }
        if (S_ISLNK(st.st_mode)) {
            // The link's own attributes: whoever walks a tree sees a link and
            // can remove it without going where it points.
            struct stat target;
            const bool special = stat(host.c_str(), &target) == 0 && !S_ISREG(target.st_mode) &&
                                 !S_ISDIR(target.st_mode);
            return kFileAttributeReparsePoint | (special ? kFileAttributeDevice : 0u) |
                   (link_to_directory(host) ? kFileAttributeDirectory : kFileAttributeArchive);
        }
        if (S_ISDIR(st.st_mode)) return kFileAttributeDirectory;
        if (!S_ISREG(st.st_mode)) return kFileAttributeDevice;
        uint32_t attributes = kFileAttributeArchive;  // as for any written file
        if (access(host.c_str(), W_OK) != 0) attributes |= kFileAttributeReadonly;
        return attributes;
    }

    bool create_directory(const char* path) override {
        std::string host;
        if (!translate(path, &host)) return false;
        return mkdir(host.c_str(), 0777) == 0 || fail_errno(host);
    }

    bool remove_directory(const char* path) override {
        std::string host;
        struct stat st;
        if (!translate(path, &host)) return false;
        if (lstat(host.c_str(), &st) != 0) return fail_errno(host);
        if (S_ISLNK(st.st_mode)) {
            // RemoveDirectoryA on a directory link removes the link alone.
            if (!link_to_directory(host)) return fail(kErrorDirectory);
            return unlink(host.c_str()) == 0 || fail_errno(host);
        }
        if (!S_ISDIR(st.st_mode)) return fail(kErrorDirectory);
        if (is_some_current_directory(st)) return fail(kErrorSharingViolation);
        if (rmdir(host.c_str()) == 0) return true;
        return fail(errno == EEXIST ? kErrorDirNotEmpty : error_from_errno(errno, host));
    }

    bool delete_file(const char* path) override {
        std::string host;
        struct stat st;
        if (!translate(path, &host)) return false;
        if (lstat(host.c_str(), &st) != 0) return fail_errno(host);
        // DeleteFileA refuses directories, and links that stand for one.
        if (S_ISDIR(st.st_mode) || (S_ISLNK(st.st_mode) && link_to_directory(host)))
            return fail(kErrorAccessDenied);
        return unlink(host.c_str()) == 0 || fail_errno(host);
    }

    uint32_t get_temp_path(char* buffer, uint32_t size) override {
        // GetTempPathA's order: TMP, TEMP, USERPROFILE, the Windows folder.
        std::string dir;
        // The process's own settings win over the defaults of a fresh system.
        if (!lookup_environment("TMP", &dir, false) && !lookup_environment("TEMP", &dir, false) &&
            !lookup_environment("TMP", &dir) && !lookup_environment("USERPROFILE", &dir))
            dir = "C:\\Windows";
        if (!dir.empty() && dir[0] == '/') dir = to_windows_path(dir);
        if (dir.empty()) return 0;
        if (dir.back() != '\\') dir += '\\';
        return copy_out(dir, buffer, size);
    }

    bool list_directory(const char* pattern, std::vector<std::string>* names) override {
        if (!pattern || !names) return fail(kErrorInvalidParameter);
        std::string text = pattern;
        size_t cut = text.find_last_of("\\/");
        std::string dir = cut == std::string::npos ? "." : text.substr(0, cut + 1);
        std::string mask = cut == std::string::npos ? text : text.substr(cut + 1);
        if (text.size() == 2 && text[1] == ':') return fail(kErrorInvalidName);
        std::string host;
        if (!to_host_path(dir, &host)) return fail(kErrorInvalidName);
        DIR* d = opendir(host.c_str());
        if (!d) return fail(errno == ENOENT ? kErrorPathNotFound : error_from_errno(errno, host));
        names->clear();
        std::vector<std::string> rest;
        bool dot = false, dotdot = false;
        while (struct dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (!match_pattern(mask, name)) continue;
            if (name == ".")
                dot = true;
            else if (name == "..")
                dotdot = true;
            else
                rest.push_back(name);
        }
        closedir(d);
        // Windows lists "." and ".." first.
        if (dot) names->push_back(".");
        if (dotdot) names->push_back("..");
        names->insert(names->end(), rest.begin(), rest.end());
        return !names->empty() || fail(kErrorFileNotFound);
    }

    std::FILE* open_file(const char* path, const char* mode) override {
        std::string host;
        if (!mode) {
            fail(kErrorInvalidParameter);
            return nullptr;
        }
        if (!translate(path, &host)) return nullptr;
        if (is_host_directory(host)) {
            errno = EACCES;
            fail(kErrorAccessDenied);
            return nullptr;
        }
        // The C runtime's mode letters that mean something here, plus close
        // on exec so that started programs never inherit our streams.
        std::string posix_mode;
        for (const char* m = mode; *m; ++m)
            if (std::strchr("rwa+bx", *m)) posix_mode += *m;
        if (posix_mode.empty() || !std::strchr("rwa", posix_mode[0])) {
            fail(kErrorInvalidParameter);
            return nullptr;
        }
        posix_mode += 'e';
        std::FILE* stream = std::fopen(host.c_str(), posix_mode.c_str());
        if (!stream) fail_errno(host);
        return stream;
    }

    CreateNewResult create_new_file(const char* path) override {
        std::string host;
        if (!translate(path, &host)) return CreateNewResult::failed;
        int fd = open(host.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            const int error = errno;
            // _open with _O_EXCL reports an existing file as such.
            fail(error == EEXIST ? kErrorFileExists : error_from_errno(error, host));
            return error == EEXIST ? CreateNewResult::exists : CreateNewResult::failed;
        }
        close(fd);
        return CreateNewResult::created;
    }

    bool flush_file(std::FILE* stream) override {
        if (!stream) return fail(kErrorInvalidHandle);
        if (std::fflush(stream) != 0) return fail(error_from_errno(errno, std::string()));
        int fd = fileno(stream);
        if (fd < 0) return fail(kErrorInvalidHandle);
        return fsync(fd) == 0 || fail(error_from_errno(errno, std::string()));
    }

    bool replace_file(const char* from, const char* to) override {
        std::string source, target;
        if (!translate(from, &source) || !translate(to, &target)) return false;
        if (is_host_directory(source) || is_host_directory(target)) return fail(kErrorAccessDenied);
        if (rename(source.c_str(), target.c_str()) != 0) return fail_errno(source);
        // The new name is durable only once its directory is.
        sync_directory(parent_of(target));
        return true;
    }

    bool copy_file(const char* from, const char* to, bool fail_if_exists) override {
        std::string source, target;
        if (!translate(from, &source) || !translate(to, &target)) return false;
        struct stat st;
        if (host_stat(target, &st)) {
            if (fail_if_exists) return fail(kErrorFileExists);
            if (S_ISDIR(st.st_mode)) return fail(kErrorAccessDenied);
            // Copying a file onto itself would truncate it before reading.
            if (same_file(source, target)) return fail(kErrorSharingViolation);
        }
        if (!copy_host_file(source, target)) return fail_errno(source);
        // CopyFileA carries the attributes over; here that includes the
        // permission to run, so a copied program can be started.
        struct stat source_st;
        if (host_stat(source, &source_st)) chmod(target.c_str(), source_st.st_mode & 0777);
        return true;
    }

    bool move_file(const char* from, const char* to) override {
        std::string source, target;
        if (!translate(from, &source) || !translate(to, &target)) return false;
        struct stat st;
        if (lstat(source.c_str(), &st) != 0) return fail_errno(source);
        if (same_file(source, target)) {
            // Only the case of the name changes.
            target = parent_of(target) + "/" + last_component(to);
            return rename(source.c_str(), target.c_str()) == 0 || fail_errno(source);
        }
        struct stat existing;
        if (lstat(target.c_str(), &existing) == 0) return fail(kErrorAlreadyExists);
        if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno == EINVAL || errno == ENOSYS) {
            if (rename(source.c_str(), target.c_str()) == 0) return true;
        }
        // Across file systems a file is copied, as MoveFileA does between volumes.
        if (errno == EXDEV && S_ISREG(st.st_mode)) {
            if (!copy_host_file(source, target)) return fail_errno(target);
            return unlink(source.c_str()) == 0 || fail_errno(source);
        }
        return fail(errno == EEXIST ? kErrorAlreadyExists : error_from_errno(errno, target));
    }

    std::string current_directory() override { return to_windows_path("."); }

    long last_error() override { return t_last_error; }

    // -- Locks.
    LockHandle open_lock_file(const char* path) override {
        std::string host;
        if (!translate(path, &host)) return nullptr;
        // A file replaced between our open and our lock is opened again; the
        // bound only guards against a path that keeps changing.
        for (int attempt = 0; attempt < 100; ++attempt) {
            int fd = open(host.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            if (fd < 0) {
                fail_errno(host);
                return nullptr;
            }
            switch (lock_descriptor(fd, host)) {
                case LockAttempt::locked:
                    return new LockHandleTag{fd, host};
                case LockAttempt::stale:
                    close(fd);
                    continue;
                case LockAttempt::busy:
                    // Share mode 0 on Windows: the holder's open refuses ours.
                    close(fd);
                    fail(kErrorSharingViolation);
                    return nullptr;
                case LockAttempt::failed:
                    close(fd);
                    fail(kErrorAccessDenied);
                    return nullptr;
            }
        }
        fail(kErrorSharingViolation);
        return nullptr;
    }

    void close_lock_file(LockHandle lock) override {
        if (!lock) return;
        // Unlink while still holding the lock, so the next taker never locks
        // a file that is about to disappear; but only if the name still
        // refers to our file (someone may have removed it behind our back
        // and a new holder created another).
        struct stat held, named;
        if (fstat(lock->fd, &held) == 0 && stat(lock->host_path.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            unlink(lock->host_path.c_str());
        close(lock->fd);
        delete lock;
    }

    // -- Time.
    uint32_t tick_count() override { return static_cast<uint32_t>(monotonic_ms()); }
    void sleep_ms(uint32_t milliseconds) override { sleep_for_ms(milliseconds); }

    // -- Environment.
    uint32_t expand_environment_strings(const char* source, char* dest, uint32_t size) override {
        if (!source) return 0;
        const std::string expanded = expand_environment(source);
        const uint32_t needed = static_cast<uint32_t>(expanded.size() + 1);
        if (dest && size >= needed) std::memcpy(dest, expanded.c_str(), needed);
        return needed;
    }

    bool get_environment_variable(const char* name, std::string* value) override {
        std::string v;
        if (!name || !lookup_environment(name, &v)) return false;
        if (value) *value = v;
        return true;
    }

    bool set_environment_variable(const char* name, const char* value) override {
        if (!name || !*name || std::strchr(name, '=')) return false;
        // Windows names ignore case: drop every spelling of this one first.
        const size_t length = std::strlen(name);
        for (bool removed = true; removed;) {
            removed = false;
            for (char** e = environ; e && *e; ++e) {
                if (std::strlen(*e) > length && (*e)[length] == '=' &&
                    equals_ignoring_ascii_case(std::string_view(*e, length), name)) {
                    unsetenv(std::string(*e, length).c_str());
                    removed = true;
                    break;
                }
            }
        }
        return !value || setenv(name, value, 1) == 0;
    }

    // -- Processes.
    bool start_process(const char* command_line, const char* directory,
                       ProcessHandle* out) override {
        if (!command_line || !out) return false;
        std::vector<std::string> args = split_command_line(command_line);
        if (args.empty()) return false;
        std::string program;
        if (!find_program(args[0], &program)) return false;
        // The program is found from here, as Windows does, before the child
        // moves to its own directory.
        if (program[0] != '/') {
            char here[4096];
            if (!getcwd(here, sizeof here)) return false;
            program = std::string(here) + "/" + program;
        }
        std::string host_directory;
        if (directory && *directory) {
            if (!translate(directory, &host_directory)) return false;
            if (!is_host_directory(host_directory)) return fail(kErrorDirectory);
        }

        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);

        // The child reads its exact command line back from the environment;
        // the pid beside it tells it the text is its own and not inherited
        // from an ancestor.
        const std::string line_prefix = std::string(kCommandLineVariable) + "=";
        const std::string pid_prefix = std::string(kCommandLinePidVariable) + "=";
        std::vector<std::string> env;
        for (char** e = environ; e && *e; ++e) {
            if (std::strncmp(*e, line_prefix.c_str(), line_prefix.size()) == 0 ||
                std::strncmp(*e, pid_prefix.c_str(), pid_prefix.size()) == 0)
                continue;
            env.emplace_back(*e);
        }
        env.push_back(line_prefix + command_line);
        env.push_back(pid_prefix + std::string(23, '0'));
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        char* pid_digits = env.back().data() + pid_prefix.size();

        int report[2];
        if (pipe2(report, O_CLOEXEC) != 0) return false;
        pid_t pid = fork();
        if (pid < 0) {
            close(report[0]);
            close(report[1]);
            return false;
        }
        if (pid == 0) {
            write_decimal(static_cast<long>(getpid()), pid_digits);
            if (host_directory.empty() || chdir(host_directory.c_str()) == 0)
                execve(program.c_str(), argv.data(), envp.data());
            int error = errno;
            ssize_t ignored = write(report[1], &error, sizeof error);
            (void)ignored;
            _exit(127);
        }
        close(report[1]);
        int error = 0;
        ssize_t n;
        do {
            n = read(report[0], &error, sizeof error);
        } while (n < 0 && errno == EINTR);
        close(report[0]);
        if (n > 0) {
            // exec failed: the program could not be started at all.
            int status;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return false;
        }
        *out = new ProcessHandleTag{pid};
        return true;
    }

    bool wait_process(ProcessHandle process, uint32_t timeout_ms, uint32_t* exit_code) override {
        if (!process) return false;
        if (!process->reaped) {
            const uint64_t start = monotonic_ms();
            uint32_t pause = 1;
            for (;;) {
                int status;
                pid_t r = waitpid(process->pid, &status, timeout_ms == kWaitInfinite ? 0 : WNOHANG);
                if (r == process->pid) {
                    process->reaped = true;
                    process->exit_code = exit_code_of(status);
                    break;
                }
                if (r < 0 && errno != EINTR) return false;
                if (r == 0) {
                    const uint64_t elapsed = monotonic_ms() - start;
                    if (elapsed >= timeout_ms) return false;
                    sleep_for_ms(std::min<uint64_t>(pause, timeout_ms - elapsed));
                    if (pause < 10) ++pause;
                }
            }
        }
        if (exit_code) *exit_code = process->exit_code;
        return true;
    }

    void close_process(ProcessHandle process) override {
        if (!process) return;
        if (!process->reaped) {
            // Closing the handle leaves the process running, as on Windows;
            // someone still has to collect it when it ends.
            pid_t pid = process->pid;
            std::thread([pid] {
                int status;
                while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
                }
            }).detach();
        }
        delete process;
    }

    bool terminate_process(ProcessHandle process, uint32_t exit_code) override {
        if (!process || process->reaped) return false;
        if (kill(process->pid, SIGKILL) != 0) return false;
        int status;
        pid_t r;
        while ((r = waitpid(process->pid, &status, 0)) < 0 && errno == EINTR) {
        }
        if (r != process->pid) return false;
        process->reaped = true;
        // A process that had ended by itself keeps its own code, and the
        // termination failed, as on Windows.
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
            process->exit_code = exit_code;
            return true;
        }
        process->exit_code = exit_code_of(status);
        return false;
    }

    uint32_t current_process_id() override { return static_cast<uint32_t>(getpid()); }

    bool wait_process_id(uint32_t process_id, uint32_t timeout_ms) override {
        const pid_t pid = static_cast<pid_t>(process_id);
        const uint64_t start = monotonic_ms();
        uint32_t pause = 1;
        // Not our child in general, so it cannot be reaped here: a process
        // that is gone or only a zombie has ended.
        while (kill(pid, 0) == 0 && !is_zombie(pid)) {
            if (timeout_ms != kWaitInfinite && monotonic_ms() - start >= timeout_ms) return false;
            sleep_for_ms(pause);
            if (pause < 50) pause *= 2;
        }
        return true;
    }

    std::string command_line() override {
        static const std::string line = [] {
            const char* text = getenv(kCommandLineVariable);
            const char* pid = getenv(kCommandLinePidVariable);
            if (text && pid && std::strtol(pid, nullptr, 10) == static_cast<long>(getpid()))
                return std::string(text);
            // Started by something else: rebuild the line from our arguments.
            std::string args;
            if (std::FILE* f = std::fopen("/proc/self/cmdline", "rbe")) {
                char buffer[4096];
                size_t n;
                while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) args.append(buffer, n);
                std::fclose(f);
            }
            std::string out;
            size_t start = 0;
            while (start < args.size()) {
                size_t end = args.find('\0', start);
                if (end == std::string::npos) end = args.size();
                if (!out.empty()) out += ' ';
                out += quote_argument(args.substr(start, end - start));
                start = end + 1;
            }
            return out;
        }();
        return line;
    }

    std::string program_path() override {
        char buffer[4096];
        ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        if (n <= 0) return std::string();
        return to_windows_path(std::string(buffer, static_cast<size_t>(n)));
    }

    std::string module_path(const void* address) override {
        Dl_info info;
        struct link_map* map = nullptr;
        if (!dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP))
            return std::string();
        // The main program's map has no name.
        if (!map || !map->l_name || !*map->l_name || !info.dli_fname) return program_path();
        char* real = realpath(info.dli_fname, nullptr);
        std::string path = real ? real : info.dli_fname;
        free(real);
        return to_windows_path(path);
    }

    // -- Threads.
    ThreadHandle start_thread(ThreadProc proc, void* argument) override {
        if (!proc) return nullptr;
        auto handle = std::make_unique<ThreadHandleTag>();
        handle->state = std::make_shared<ThreadState>();
        std::shared_ptr<ThreadState> state = handle->state;
        try {
            handle->thread = std::thread([state, proc, argument] {
                proc(argument);
                std::lock_guard<std::mutex> lock(state->mutex);
                state->done = true;
                state->finished.notify_all();
            });
        } catch (...) {
            return nullptr;
        }
        return handle.release();
    }

    bool wait_thread(ThreadHandle thread, uint32_t timeout_ms) override {
        if (!thread) return false;
        {
            std::unique_lock<std::mutex> lock(thread->state->mutex);
            auto done = [&] { return thread->state->done; };
            if (timeout_ms == kWaitInfinite)
                thread->state->finished.wait(lock, done);
            else if (!thread->state->finished.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                                       done))
                return false;
        }
        if (thread->thread.joinable()) thread->thread.join();
        return true;
    }

    void close_thread(ThreadHandle thread) override {
        if (!thread) return;
        if (thread->thread.joinable()) {
            bool done;
            {
                std::lock_guard<std::mutex> lock(thread->state->mutex);
                done = thread->state->done;
            }
            if (done)
                thread->thread.join();
            else
                thread->thread.detach();  // it keeps its own share of the state
        }
        delete thread;
    }

    // -- Libraries.
    ModuleHandle load_library(const char* path) override {
        if (!path || !*path) return nullptr;
        const std::string given = path;
        const bool bare = given.find_first_of("\\/:") == std::string::npos;
        std::vector<std::string> names = {given};
        if (given.size() > 4 && ends_with_ignoring_ascii_case(given, ".dll")) {
            // A Windows library name: its Linux build is lib<name>.so or <name>.so.
            const std::string stem = given.substr(0, given.size() - 4);
            size_t cut = stem.find_last_of("\\/:");
            const std::string dir = cut == std::string::npos ? "" : stem.substr(0, cut + 1);
            const std::string base = cut == std::string::npos ? stem : stem.substr(cut + 1);
            names.push_back(dir + "lib" + base + ".so");
            names.push_back(dir + base + ".so");
        }
        std::vector<std::string> dirs;
        if (bare) {
            // The program's own folder first, as LoadLibraryA searches.
            std::string program = program_path();
            size_t cut = program.find_last_of('\\');
            if (cut != std::string::npos) dirs.push_back(program.substr(0, cut + 1));
        }
        dirs.push_back("");
        for (const std::string& dir : dirs) {
            for (const std::string& name : names) {
                std::string host;
                if (!to_host_path(dir + name, &host)) continue;
                struct stat st;
                if (!host_stat(host, &st) || !S_ISREG(st.st_mode)) continue;
                if (host.find('/') == std::string::npos) host = "./" + host;
                if (void* h = dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL))
                    return reinterpret_cast<ModuleHandle>(h);
            }
        }
        if (bare) {
            // Finally the system's own library search.
            for (const std::string& name : names)
                if (void* h = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL))
                    return reinterpret_cast<ModuleHandle>(h);
        }
        return nullptr;
    }

    void* find_symbol(ModuleHandle module, const char* name) override {
        if (!module || !name) return nullptr;
        return dlsym(reinterpret_cast<void*>(module), name);
    }

    void free_library(ModuleHandle module) override {
        if (module) dlclose(reinterpret_cast<void*>(module));
    }

    // -- User interface and system facts.
    int message_box(const char* text, const char* caption, uint32_t flags) override {
        std::string line = caption ? caption : "Error";
        line += ": ";
        line += text ? text : "";
        if (line.back() != '\n') line += '\n';
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);

        const uint32_t buttons = flags & 0xF;
        const char* env = getenv("SX_MESSAGE_BOX_ANSWER");
        const std::string answer = env ? ascii_lower(env) : std::string();
        const bool negative = answer == "cancel" || answer == "no";
        if (buttons == kMbYesNo) return negative ? kIdNo : kIdYes;
        if (buttons == kMbOkCancel) return negative ? kIdCancel : kIdOk;
        return kIdOk;
    }

    uint32_t get_system_directory(char* buffer, uint32_t size) override {
        return copy_out("C:\\Windows\\System32", buffer, size);
    }

    OsVersion os_version() override {
        OsVersion v;
        v.major = 5;
        v.minor = 0;
        v.build = 2195;
        v.platform_id = 2;
        v.service_pack = "Service Pack 4";
        // "major.minor.build.platform[:service pack]" for tests that need
        // another system.
        if (const char* env = getenv("SX_OS_VERSION"); env && *env) {
            unsigned major = 0, minor = 0, build = 0, platform_id = 0;
            int consumed = 0;
            if (std::sscanf(env, "%u.%u.%u.%u%n", &major, &minor, &build, &platform_id,
                            &consumed) == 4) {
                v.major = major;
                v.minor = minor;
                v.build = build;
                v.platform_id = platform_id;
                v.service_pack = env[consumed] == ':' ? std::string(env + consumed + 1) : "";
            }
        }
        return v;
    }
};

}  // namespace posix

Platform& native_platform() {
    static posix::PosixPlatform instance;
    return instance;
}

}  // namespace sx
