// Environment, locks and process helpers of the POSIX emulation that are
// worth testing on their own.
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/ascii_case.h"
#include "platform/posix/posix_internal.h"

extern char** environ;

namespace sx::posix {

namespace {

// Variables a fresh Windows defines, for processes whose Linux environment
// lacks them.
bool default_environment(const std::string& name, std::string* value) {
    const std::string profile = "C:\\Users\\" + user_name();
    struct Default {
        const char* name;
        std::string value;
    };
    const Default defaults[] = {
        {"USERPROFILE", profile},
        {"HOMEDRIVE", "C:"},
        {"HOMEPATH", "\\Users\\" + user_name()},
        {"USERNAME", user_name()},
        {"APPDATA", profile + "\\AppData\\Roaming"},
        {"LOCALAPPDATA", profile + "\\AppData\\Local"},
        {"ALLUSERSPROFILE", "C:\\ProgramData"},
        {"SystemDrive", "C:"},
        {"SystemRoot", "C:\\Windows"},
        {"windir", "C:\\Windows"},
        {"ProgramFiles", "C:\\Program Files"},
        {"CommonProgramFiles", "C:\\Program Files\\Common Files"},
        {"TEMP", "C:\\Windows\\Temp"},
        {"TMP", "C:\\Windows\\Temp"},
        {"ComSpec", "C:\\Windows\\System32\\cmd.exe"},
        {"OS", "Windows_NT"},
    };
    for (const Default& d : defaults) {
        if (equals_ignoring_ascii_case(d.name, name)) {
            *value = d.value;
            return true;
        }
    }
    return false;
}

}  // namespace

bool lookup_environment(const std::string& name, std::string* value, bool with_defaults) {
    if (name.empty() || name.find('=') != std::string::npos) return false;
    if (const char* v = getenv(name.c_str())) {
        *value = v;
        return true;
    }
    for (char** e = environ; e && *e; ++e) {
        const char* eq = strchr(*e, '=');
        if (eq && static_cast<size_t>(eq - *e) == name.size() &&
            equals_ignoring_ascii_case(std::string_view(*e, name.size()), name)) {
            *value = eq + 1;
            return true;
        }
    }
    return with_defaults && default_environment(name, value);
}

std::string expand_environment(const std::string& source) {
    std::string out;
    size_t i = 0;
    while (i < source.size()) {
        if (source[i] != '%') {
            out += source[i++];
            continue;
        }
        const size_t close = source.find('%', i + 1);
        if (close == std::string::npos) {
            // An unfinished reference is copied as it is.
            out.append(source, i, std::string::npos);
            break;
        }
        std::string value;
        if (close > i + 1 && lookup_environment(source.substr(i + 1, close - i - 1), &value))
            out += value;
        else
            out.append(source, i, close - i + 1);  // unknown: "%NAME%" stays
        i = close + 1;
    }
    return out;
}

LockAttempt lock_descriptor(int fd, const std::string& host_path) {
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        return errno == EWOULDBLOCK ? LockAttempt::busy : LockAttempt::failed;
    }
    // Between our open and our flock the previous holder may have unlinked
    // the file and released it; then we hold a lock nobody else can see.
    struct stat held, named;
    if (fstat(fd, &held) != 0) return LockAttempt::failed;
    if (stat(host_path.c_str(), &named) != 0 || held.st_dev != named.st_dev ||
        held.st_ino != named.st_ino)
        return LockAttempt::stale;
    return LockAttempt::locked;
}

bool find_program(const std::string& windows_program, std::string* host_program) {
    auto runnable = [](const std::string& p) {
        struct stat st;
        return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(p.c_str(), X_OK) == 0;
    };
    auto ends_with_exe = [](const std::string& s) {
        return s.size() > 4 && ends_with_ignoring_ascii_case(s, ".exe");
    };
    std::vector<std::string> names = {windows_program};
    // An index written for Windows names "player.exe"; the Linux build is "player".
    if (ends_with_exe(windows_program))
        names.push_back(windows_program.substr(0, windows_program.size() - 4));
    const bool bare = windows_program.find_first_of("\\/:") == std::string::npos;
    if (bare) {
        // The starting program's own folder comes first, as on Windows.
        char self[4096];
        ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        if (n > 0) {
            std::string dir(self, static_cast<size_t>(n));
            dir.resize(dir.find_last_of('/') + 1);
            const std::string windows_dir = to_windows_path(dir) + "\\";
            for (const std::string& name : names) {
                std::string host;
                if (to_host_path(windows_dir + name, &host) && runnable(host)) {
                    *host_program = host;
                    return true;
                }
            }
        }
    }
    for (const std::string& name : names) {
        std::string host;
        if (to_host_path(name, &host) && runnable(host)) {
            *host_program = host;
            return true;
        }
    }
    if (!bare) return false;
    // A bare name is looked for along PATH, as the Windows search would.
    const char* path = getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        for (const std::string& name : names) {
            const std::string candidate = dir + "/" + name;
            if (runnable(candidate)) {
                *host_program = candidate;
                return true;
            }
        }
        start = end + 1;
    }
    return false;
}

}  // namespace sx::posix
