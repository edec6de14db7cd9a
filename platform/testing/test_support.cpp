#include "platform/testing/test_support.h"

#include <cstdio>
#include <vector>

#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace sx::testing {

std::string host_to_windows_path(const std::string& linux_path) {
    std::string out = "Z:";
    for (char c : linux_path) out += c == '/' ? '\\' : c;
    if (out.size() == 2) out += '\\';
    return out;
}

bool write_file(const std::string& path, const std::string& content) {
    std::FILE* f = platform().open_file(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    return std::fclose(f) == 0 && ok;
}

bool read_file(const std::string& path, std::string* content) {
    std::FILE* f = platform().open_file(path.c_str(), "rb");
    if (!f) return false;
    content->clear();
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) content->append(buffer, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool remove_tree(const std::string& path) {
    Platform& p = platform();
    const uint32_t attributes = p.get_file_attributes(path.c_str());
    if (attributes == kInvalidFileAttributes) return true;
    if (!(attributes & kFileAttributeDirectory)) return p.delete_file(path.c_str());
    std::vector<std::string> names;
    bool ok = p.list_directory((path + "\\*.*").c_str(), &names);
    for (const std::string& name : names)
        if (name != "." && name != "..") ok &= remove_tree(path + "\\" + name);
    return p.remove_directory(path.c_str()) && ok;
}

TemporaryDirectory::TemporaryDirectory() {
    static unsigned counter = 0;
    Platform& p = platform();
    char temp[300];
    const uint32_t n = p.get_temp_path(temp, sizeof temp);
    if (n == 0 || n >= sizeof temp) return;
    for (int attempt = 0; attempt < 100 && !ok_; ++attempt) {
        path_ = std::string(temp) + "sxtest-" + std::to_string(p.current_process_id()) + "-" +
                std::to_string(++counter) + "-" + std::to_string(p.tick_count());
        ok_ = p.create_directory(path_.c_str());
    }
}

TemporaryDirectory::~TemporaryDirectory() {
    if (ok_) remove_tree(path_);
}

bool run_program(const std::string& command_line, uint32_t* exit_code, std::string* stderr_text,
                 uint32_t timeout_ms) {
    TemporaryDirectory temp;
    if (!temp.ok()) return false;
    const std::string capture = temp.file("stderr.txt");
#ifdef _WIN32
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE err = CreateFileA(capture.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (err == INVALID_HANDLE_VALUE) return false;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = err;
    PROCESS_INFORMATION pi;
    std::string line = command_line;
    const BOOL started =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(err);
    if (!started) return false;
    const bool ended = WaitForSingleObject(pi.hProcess, timeout_ms) == WAIT_OBJECT_0;
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    if (!ended) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
#else
    // The child inherits our standard error: aim it at the capture for the start.
    Platform& p = platform();
    std::FILE* f = p.open_file(capture.c_str(), "wb");
    if (!f) return false;
    std::fflush(stderr);
    const int saved = fcntl(2, F_DUPFD_CLOEXEC, 3);
    dup2(fileno(f), 2);
    ProcessHandle process = nullptr;
    const bool started = p.start_process(command_line.c_str(), nullptr, &process);
    dup2(saved, 2);
    close(saved);
    std::fclose(f);
    if (!started) return false;
    uint32_t code = 0;
    const bool ended = p.wait_process(process, timeout_ms, &code);
    p.close_process(process);
#endif
    if (exit_code) *exit_code = code;
    if (stderr_text && !read_file(capture, stderr_text)) return false;
    return ended;
}

}  // namespace sx::testing
