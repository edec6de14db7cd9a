// Drives, paths and the root of the emulated Windows installation.
//
// X:\a\b lives at <root>/drive_x/a/b; Z:\ is the Linux root, so every Linux
// file has a Windows name (Z:\home\...). Windows names are case-insensitive:
// a component that does not exist with the case given is looked up in its
// directory ignoring ASCII case before it is taken literally.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/ascii_case.h"
#include "platform/posix/posix_internal.h"

namespace sx::posix {

namespace {

bool is_dir(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool path_exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool make_dirs(const std::string& path) {
    if (path.empty() || is_dir(path)) return true;
    size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !make_dirs(path.substr(0, slash))) return false;
    return mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

bool has_drive(const std::string& p) {
    return p.size() >= 2 && p[1] == ':' &&
           ((p[0] >= 'a' && p[0] <= 'z') || (p[0] >= 'A' && p[0] <= 'Z'));
}

// Fresh-Windows folders of a root, relative to drive_c.
std::vector<std::string> root_folders(const std::string& user) {
    const std::string profile = "Users/" + user;
    return {"Windows",
            "Windows/System32",
            "Windows/Temp",
            "Program Files",
            "Program Files/Common Files",
            profile,
            profile + "/AppData/Roaming",
            profile + "/AppData/Local",
            profile + "/AppData/Local/Temp",
            "Users/Public"};
}

bool set_string(Registry& r, RegKey root, const char* key, const char* name, uint32_t type,
                const std::string& text) {
    RegKey k;
    if (r.create_key(root, key, &k, nullptr) != kErrorSuccess) return false;
    // As Windows stores them: the terminating zero counts.
    long rc = r.set_value(k, name, type, text.c_str(), static_cast<uint32_t>(text.size() + 1));
    r.close_key(k);
    return rc == kErrorSuccess;
}

bool prime_registry(const std::string& database, const std::string& user) {
    Registry r(database);
    const std::string roaming = "C:\\Users\\" + user + "\\AppData\\Roaming";
    const char* explorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
    const std::string shell = std::string(explorer) + "\\Shell Folders";
    const std::string user_shell = std::string(explorer) + "\\User Shell Folders";
    bool ok = true;
    ok &= set_string(r, kHkeyCurrentUser, shell.c_str(), "AppData", kRegSz, roaming);
    ok &= set_string(r, kHkeyCurrentUser, user_shell.c_str(), "AppData", kRegExpandSz,
                     "%USERPROFILE%\\AppData\\Roaming");
    ok &= set_string(r, kHkeyLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion",
                     "ProgramFilesDir", kRegSz, "C:\\Program Files");
    ok &= set_string(r, kHkeyLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion",
                     "CommonFilesDir", kRegSz, "C:\\Program Files\\Common Files");
    ok &= set_string(r, kHkeyLocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion",
                     "SystemRoot", kRegSz, "C:\\Windows");
    RegKey classes;
    ok &= r.create_key(kHkeyLocalMachine, "Software\\Classes", &classes, nullptr) == kErrorSuccess;
    if (ok) r.close_key(classes);
    return ok;
}

}  // namespace

std::string user_name() {
    if (struct passwd* pw = getpwuid(getuid()); pw && pw->pw_name && *pw->pw_name)
        return pw->pw_name;
    if (const char* u = getenv("USER"); u && *u) return u;
    return "user";
}

std::string default_winroot() {
    if (const char* data = getenv("XDG_DATA_HOME"); data && data[0] == '/')
        return std::string(data) + "/stellarix/winroot";
    std::string home;
    if (const char* h = getenv("HOME"); h && *h) {
        home = h;
    } else if (struct passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) {
        home = pw->pw_dir;
    } else {
        home = "/tmp";
    }
    return home + "/.local/share/stellarix/winroot";
}

bool prime_root(const std::string& root) {
    const std::string marker = root + "/.primed";
    if (path_exists(marker)) return true;
    if (!make_dirs(root)) return false;
    // Processes priming the same root at once queue on this lock; the first
    // does the work, the others find the marker.
    int fd = open((root + "/.prime.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    bool ok = true;
    if (!path_exists(marker)) {
        const std::string user = user_name();
        for (const std::string& folder : root_folders(user))
            ok &= make_dirs(root + "/drive_c/" + folder);
        ok &= prime_registry(registry_path(root), user);
        if (ok) {
            // The marker appears last and whole: a crash half way primes again.
            const std::string temp = marker + ".tmp";
            int m = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            ok = m >= 0 && fsync(m) == 0;
            if (m >= 0) close(m);
            ok = ok && rename(temp.c_str(), marker.c_str()) == 0;
        }
    }
    flock(fd, LOCK_UN);
    close(fd);
    return ok;
}

std::string getcwd_string() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string("?");
}

const std::string& winroot() {
    static const std::string root = [] {
        std::string r;
        if (const char* env = getenv("SX_WINROOT"); env && *env)
            r = env;
        else
            r = default_winroot();
        while (r.size() > 1 && r.back() == '/') r.pop_back();
        // Said once, on standard error: every later failure of a file or
        // registry call would otherwise hide the real cause.
        if (r[0] != '/')
            std::fprintf(stderr, "SX_WINROOT=%s is not an absolute path; taken from %s\n",
                         r.c_str(), getcwd_string().c_str());
        errno = 0;
        if (!prime_root(r) || access(r.c_str(), W_OK) != 0)
            std::fprintf(stderr, "cannot prepare the emulated Windows root %s: %s\n", r.c_str(),
                         errno ? std::strerror(errno) : "not a usable folder");
        // Compare against the real path so that current_directory() can
        // recognise folders inside the root.
        if (char* real = realpath(r.c_str(), nullptr)) {
            r = real;
            free(real);
        }
        return r;
    }();
    return root;
}

std::string normalize_windows_path(const std::string& input) {
    std::string path = input;
    for (char& c : path)
        if (c == '/') c = '\\';
    // The prefix that ".." never climbs above: "X:\", "\" or nothing.
    std::string prefix;
    size_t pos = 0;
    if (has_drive(path)) {
        prefix = path.substr(0, 2);
        pos = 2;
        if (pos < path.size() && path[pos] == '\\') {
            prefix += '\\';
            ++pos;
        }
    } else if (!path.empty() && path[0] == '\\') {
        prefix = "\\";
        pos = 1;
    }
    const bool absolute = !prefix.empty() && prefix.back() == '\\';
    std::vector<std::string> parts;
    std::string part;
    for (size_t i = pos; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') {
            if (part == "..") {
                if (!parts.empty() && parts.back() != "..")
                    parts.pop_back();
                else if (!absolute)
                    parts.push_back(part);
            } else if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            part.clear();
        } else {
            part += path[i];
        }
    }
    std::string out = prefix;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += '\\';
        out += parts[i];
    }
    if (out.empty() && !input.empty()) out = ".";
    return out;
}

bool to_host_path(const std::string& windows_path, std::string* host_path) {
    if (windows_path.empty()) return false;
    std::string path = windows_path;
    for (char& c : path)
        if (c == '/') c = '\\';
    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') return false;  // UNC
    path = normalize_windows_path(path);

    // `result` grows one component at a time; empty means the start, which
    // is the Linux root for an absolute path and "." for a relative one.
    std::string result;
    bool relative = false;
    size_t pos = 0;
    if (has_drive(path)) {
        const char letter = ascii_lower(path[0]);
        if (letter != 'z') result = winroot() + "/drive_" + letter;
        pos = path.size() > 2 && path[2] == '\\' ? 3 : 2;
    } else if (path[0] == '\\') {
        result = winroot() + "/drive_c";
        pos = 1;
    } else {
        relative = true;
    }

    auto join = [&](const std::string& name) {
        if (!result.empty()) return result + "/" + name;
        return relative ? name : "/" + name;
    };
    bool resolving = true;
    auto add = [&](const std::string& name) {
        std::string candidate = join(name);
        if (resolving && name != ".." && !path_exists(candidate)) {
            // Not there with this case: look for the same name in another case.
            const std::string dir = result.empty() ? (relative ? "." : "/") : result;
            resolving = false;
            if (DIR* d = opendir(dir.c_str())) {
                while (struct dirent* e = readdir(d)) {
                    if (equals_ignoring_ascii_case(e->d_name, name)) {
                        candidate = join(e->d_name);
                        resolving = true;
                        break;
                    }
                }
                closedir(d);
            }
        }
        result = candidate;
    };
    std::string part;
    for (size_t i = pos; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') {
            if (!part.empty() && part != ".") add(part);
            part.clear();
        } else {
            part += path[i];
        }
    }
    if (result.empty()) result = relative ? "." : "/";
    // "name\" names a directory: on a file it names nothing, as on Windows.
    const char last = windows_path.back();
    if ((last == '\\' || last == '/') && result != "/") {
        struct stat st;
        if (stat(result.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return false;
    }
    *host_path = result;
    return true;
}

std::string to_windows_path(const std::string& host) {
    std::string path = host;
    if (path.empty() || path[0] != '/') {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd)) return std::string();
        path = std::string(cwd) + (path.empty() ? "" : "/" + path);
    }
    const std::string& root = winroot();
    std::string drive = "Z:";
    std::string rest = path;
    const std::string prefix = root + "/drive_";
    if (path.compare(0, prefix.size(), prefix) == 0 && path.size() > prefix.size()) {
        const char letter = path[prefix.size()];
        const size_t after = prefix.size() + 1;
        if (letter >= 'a' && letter <= 'y' && (path.size() == after || path[after] == '/')) {
            drive = std::string(1, static_cast<char>(letter - 'a' + 'A')) + ":";
            rest = path.substr(after);
        }
    }
    std::string out = drive;
    for (char c : rest) out += c == '/' ? '\\' : c;
    if (out.size() == 2) out += '\\';
    return normalize_windows_path(out);
}

bool match_pattern(const std::string& pattern, const std::string& name) {
    // "*.*" is Windows' "everything", dotless names included.
    if (pattern == "*.*" || pattern == "*") return true;
    size_t p = 0, n = 0, star = std::string::npos, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == '?' || ascii_lower(pattern[p]) == ascii_lower(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace sx::posix
