// Helpers for the component-services tests: a fresh scratch folder per test,
// written in Windows form so the same tests run in both builds.
#pragma once

#include <cstdio>
#include <string>

#include "components/file_path.h"
#include "platform/platform.h"

namespace sx::testing {

// Removes a folder and everything below it.
inline bool remove_tree(const FilePath& directory) {
    directory.for_each_entry(
        [](const FilePath& entry, void*, bool is_directory) {
            const std::string name = entry.file_name();
            if (name == "." || name == "..") return true;
            if (is_directory) {
                FilePath inner(entry.text() + "\\");
                remove_tree(inner);
            } else {
                entry.delete_file();
            }
            return true;
        },
        nullptr);
    return directory.remove_directory();
}

class ScratchDir {
public:
    ScratchDir() {
        FilePath base;
        base.set_to_temp_directory();
        // make_unique_file gives a fresh name; the file becomes a folder.
        FilePath name(base);
        name.make_unique_file("sxt", "", false);
        name.delete_file();
        path_ = FilePath(name.text() + "\\");
        path_.ensure_directory();
    }
    ~ScratchDir() { remove_tree(path_); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // The folder, with a trailing backslash.
    const FilePath& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_.text() + relative; }

private:
    FilePath path_;
};

inline bool write_file(const std::string& path, const std::string& content) {
    std::FILE* stream = platform().open_file(path.c_str(), "wb");
    if (!stream) return false;
    bool ok = std::fwrite(content.data(), 1, content.size(), stream) == content.size();
    return std::fclose(stream) == 0 && ok;
}

inline bool read_file(const std::string& path, std::string* content) {
    std::FILE* stream = platform().open_file(path.c_str(), "rb");
    if (!stream) return false;
    content->clear();
    char block[4096];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, stream)) > 0) content->append(block, got);
    std::fclose(stream);
    return true;
}

// A Linux path of the build (a helper program's location) in Windows form:
// Wine and the POSIX emulation both show the Linux root as drive Z:.
inline std::string host_path(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

}  // namespace sx::testing
