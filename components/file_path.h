// FilePath: a Windows path text with the file-system operations the system
// uses. The backslash is the separator; a trailing backslash names a
// directory. A path without a trailing backslash names a file unless, at the
// moment it is extended, it names a directory that exists on disk; appending
// to a file path (or to a directory that does not exist yet) therefore
// replaces its last element.
#pragma once

#include <cstdio>
#include <string>

namespace sx {

class FilePath {
public:
    FilePath() = default;
    explicit FilePath(std::string text) : text_(std::move(text)) {}
    explicit FilePath(const char* text) : text_(text ? text : "") {}

    const std::string& text() const { return text_; }
    const char* c_str() const { return text_.c_str(); }
    bool empty() const { return text_.empty(); }
    void set(std::string text) { text_ = std::move(text); }

    bool operator==(const FilePath& other) const { return text_ == other.text_; }
    bool operator!=(const FilePath& other) const { return text_ != other.text_; }

    bool ends_with_separator() const;
    // True when the system reports attributes for the path; `is_directory`
    // (may be null) is set from the directory attribute.
    bool exists(bool* is_directory = nullptr) const;
    // Something that exists but is neither a directory nor a file that can be
    // read to its end (a pipe, a device, or a link to one).
    bool is_special_file() const;
    void to_parent();
    std::string file_name() const;
    void append_file(const std::string& name);
    void append_dir(const std::string& name);

    // fopen with the given mode; null for an empty path.
    std::FILE* open_stream(const char* mode) const;
    bool create_directory() const;
    bool ensure_directory() const;
    bool delete_file() const;
    bool remove_directory() const;

    void set_to_temp_directory();
    void set_to_user_data_directory();
    void set_to_system_data_directory();

    bool make_unique_file(const char* prefix, const char* extension, bool in_temp_directory);
    bool copy_to(const FilePath& destination, bool overwrite) const;

    // Visits every entry of the directory ("." and ".." included); the
    // visitor returns false to stop. The listing is complete before the first
    // call, so the visitor may delete what it is given.
    using EntryVisitor = bool (*)(const FilePath& entry, void* argument, bool is_directory);
    bool for_each_entry(EntryVisitor visitor, void* argument) const;

private:
    std::string text_;
};

}  // namespace sx
