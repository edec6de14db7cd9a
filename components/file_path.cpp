#include "components/file_path.h"

#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "components/data_directories.h"
#include "components/text_util.h"
#include "platform/platform.h"

namespace sx {

bool FilePath::ends_with_separator() const { return !text_.empty() && text_.back() == '\\'; }

bool FilePath::exists(bool* is_directory) const {
    uint32_t attributes = platform().get_file_attributes(text_.c_str());
    if (attributes == kInvalidFileAttributes) return false;
    if (is_directory) *is_directory = (attributes & kFileAttributeDirectory) != 0;
    return true;
}

bool FilePath::is_special_file() const {
    const uint32_t attributes = platform().get_file_attributes(text_.c_str());
    return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDevice) != 0;
}

void FilePath::to_parent() {
    if (text_.empty()) return;
    if (text_.back() == '\\') text_.pop_back();
    size_t last = text_.rfind('\\');
    if (last != std::string::npos) text_.erase(last);
}

std::string FilePath::file_name() const {
    std::string text = text_;
    if (!text.empty() && text.back() == '\\') text.pop_back();
    size_t last = text.rfind('\\');
    return last == std::string::npos ? text : text.substr(last + 1);
}

void FilePath::append_file(const std::string& name) {
    if (!ends_with_separator()) {
        bool is_directory = false;
        // The last element is a file name, or a directory that does not exist
        // yet: it is replaced rather than descended into.
        if (!exists(&is_directory) || !is_directory) to_parent();
    }
    if (!ends_with_separator() && !text_.empty()) text_ += '\\';
    text_ += name;
}

void FilePath::append_dir(const std::string& name) {
    append_file(name);
    if (!ends_with_separator()) text_ += '\\';
}

std::FILE* FilePath::open_stream(const char* mode) const {
    if (text_.empty()) return nullptr;
    // Opening a pipe waits for a writer and a device never ends: every
    // reader of outside files is spared both.
    if (mode[0] == 'r' && is_special_file()) return nullptr;
    return platform().open_file(text_.c_str(), mode);
}

bool FilePath::create_directory() const {
    bool is_directory = false;
    if (exists(&is_directory)) return is_directory;
    // A failed creation is found out later, when files in it cannot be opened.
    platform().create_directory(text_.c_str());
    return true;
}

bool FilePath::ensure_directory() const {
    bool is_directory = false;
    if (exists(&is_directory)) return is_directory;
    FilePath parent(*this);
    parent.to_parent();
    if (parent.text_ == text_) return false;
    if (!parent.ensure_directory()) return false;
    return create_directory();
}

bool FilePath::delete_file() const {
    bool is_directory = false;
    if (!exists(&is_directory)) return true;
    if (is_directory) return false;
    return platform().delete_file(text_.c_str());
}

bool FilePath::remove_directory() const {
    bool is_directory = false;
    if (!exists(&is_directory)) return true;
    if (!is_directory) return false;
    return platform().remove_directory(text_.c_str());
}

void FilePath::set_to_temp_directory() {
    char buffer[260] = {};
    uint32_t length = platform().get_temp_path(buffer, sizeof buffer);
    // A path that would not fit leaves the buffer untouched (empty).
    text_ = length < sizeof buffer ? std::string(buffer, length) : std::string();
}

void FilePath::set_to_user_data_directory() {
    FilePath found;
    if (user_data_directory(&found)) {
        *this = found;
    } else {
        set_to_system_data_directory();
    }
}

void FilePath::set_to_system_data_directory() {
    FilePath found;
    if (system_data_directory(&found)) {
        *this = found;
    } else {
        set_to_temp_directory();
    }
}

bool FilePath::make_unique_file(const char* prefix, const char* extension, bool in_temp_directory) {
    if (in_temp_directory) set_to_temp_directory();
    bool is_directory = false;
    if (!exists(&is_directory) || !is_directory) return false;

    std::string suffix = trim_spaces(extension ? extension : "");
    if (!suffix.empty() && suffix[0] != '.') suffix = "." + suffix;
    const std::string head = prefix ? prefix : "";

    const uint32_t start = static_cast<uint32_t>(std::time(nullptr));
    uint32_t counter = start;
    do {
        char number[16];
        std::snprintf(number, sizeof number, "%08X", counter);
        FilePath candidate(*this);
        candidate.append_file(head + number + suffix);
        switch (platform().create_new_file(candidate.c_str())) {
            case CreateNewResult::created:
                *this = candidate;
                return true;
            case CreateNewResult::exists:
                ++counter;
                break;
            case CreateNewResult::failed:
                return false;
        }
    } while (counter != start);
    return false;
}

bool FilePath::copy_to(const FilePath& destination, bool overwrite) const {
    if (!overwrite && destination.exists()) return false;
    std::FILE* source = open_stream("rb");
    if (!source) return false;
    std::FILE* target = destination.open_stream("wb");
    if (!target) {
        std::fclose(source);
        return false;
    }
    constexpr size_t kBlock = 0x8000;
    std::unique_ptr<char[]> buffer(new char[kBlock]);
    bool ok = true;
    for (;;) {
        size_t got = std::fread(buffer.get(), 1, kBlock, source);
        if (got < kBlock && std::ferror(source)) {
            ok = false;
            break;
        }
        if (got > 0 && std::fwrite(buffer.get(), 1, got, target) < got) {
            ok = false;
            break;
        }
        if (got < kBlock && std::feof(source)) break;
    }
    std::fclose(source);
    // Data still buffered may fail to reach the disk only at close.
    if (std::fclose(target) != 0) ok = false;
    if (!ok) destination.delete_file();
    return ok;
}

bool FilePath::for_each_entry(EntryVisitor visitor, void* argument) const {
    bool is_directory = false;
    if (!exists(&is_directory) || !is_directory) return false;
    std::string pattern = text_;
    if (!ends_with_separator()) pattern += '\\';
    pattern += "*.*";
    std::vector<std::string> names;
    if (!platform().list_directory(pattern.c_str(), &names)) return false;

    // The whole listing is taken before any visit, so the visitor may delete
    // the entries it is given.
    for (const std::string& name : names) {
        FilePath entry(*this);
        entry.append_file(name);
        bool entry_is_directory = false;
        if (!entry.exists(&entry_is_directory)) continue;
        if (!visitor(entry, argument, entry_is_directory)) break;
    }
    return true;
}

}  // namespace sx
