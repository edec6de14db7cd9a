#include "components/settings_store.h"

#include <memory>
#include <vector>

#include "components/settings_encoding.h"
#include "components/text_util.h"
#include "platform/platform.h"

namespace sx {

const char kSettingsFileName[] = "SXRegistry.dat";
const char kOverrideSettingsPath[] = "C:\\SX3DUnsupportedRegistry.dat";

namespace {

// The new contents are written beside the file and moved over it only when
// complete, so a crash or a full disk never leaves a half-written store.
const char kRewriteSuffix[] = ".new";
// Where a file can only be rewritten in place, its old contents wait here
// until the new contents are complete.
const char kBackupSuffix[] = ".old";

const char* const kFalseWords[] = {"FALSE", "NO", "OFF", "N", "F", "0"};
const char* const kTrueWords[] = {"TRUE", "YES", "ON", "Y", "T", "1"};

}  // namespace

void read_settings_stream(std::FILE* stream, SettingsMap* values) {
    std::string line;
    while (read_text_line(stream, &line)) {
        const std::string trimmed = trim_spaces(line);
        if (trimmed.empty() || trimmed[0] == '#') continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = ascii_upper(percent_decode(trim_spaces(line.substr(0, equals))));
        if (!valid_setting_key(key)) continue;
        values->emplace(key, percent_decode(trim_spaces(line.substr(equals + 1))));
    }
}

bool write_settings_stream(std::FILE* stream, const SettingsMap& values) {
    for (const auto& [key, value] : values) {
        const std::string line = percent_encode(key) + "=" + percent_encode(value) + "\n";
        if (std::fwrite(line.data(), 1, line.size(), stream) != line.size()) return false;
    }
    return std::ferror(stream) == 0;
}

bool SettingsFile::open_settings(bool writable) {
    if (loaded_) close_settings();

    FileLockHolder lock = acquire_lock(path_, 0);
    if (!lock) return false;

    bool is_directory = false;
    const bool existed = path_.exists(&is_directory);
    if (existed && is_directory) return false;

    writable_ = false;
    if (writable) {
        // Creates a missing file; a file we may not write gives a read-only store.
        if (std::FILE* probe = path_.open_stream("ab")) {
            std::fclose(probe);
            writable_ = true;
        }
    }

    values_.clear();
    if (existed) {
        std::FILE* in = path_.open_stream("rb");
        if (!in) {
            writable_ = false;
            return false;
        }
        read_settings_stream(in, &values_);
        std::fclose(in);
    }
    // A writer keeps the lock until it has written the file back, also when
    // the file is new: otherwise two first writers would overwrite each other.
    if (writable_) lock_ = std::move(lock);
    loaded_ = true;
    return true;
}

namespace {

// Writes the whole file and makes it durable.
bool write_settings_file(const FilePath& path, const SettingsMap& values) {
    std::FILE* out = path.open_stream("wb");
    if (!out) return false;
    bool ok = write_settings_stream(out, values);
    ok = ok && platform().flush_file(out);
    ok = (std::fclose(out) == 0) && ok;
    return ok;
}

// For systems that cannot replace a file in one step (Windows 95/98 lack
// MoveFileExA). The writer holds the file's lock, so no reader sees it half
// written; a copy beside it keeps the old contents until the new ones are
// complete and puts them back when they cannot be.
bool rewrite_in_place(const FilePath& path, const SettingsMap& values) {
    const FilePath backup(path.text() + kBackupSuffix);
    const bool existed = path.exists();
    if (existed && !platform().copy_file(path.c_str(), backup.c_str(), false)) return false;
    if (write_settings_file(path, values)) {
        if (existed) backup.delete_file();
        return true;
    }
    if (!existed) {
        path.delete_file();
    } else if (platform().copy_file(backup.c_str(), path.c_str(), false)) {
        backup.delete_file();  // otherwise the old contents stay beside the file
    }
    return false;
}

}  // namespace

bool SettingsFile::write_back() {
    const FilePath sibling(path_.text() + kRewriteSuffix);
    bool ok = write_settings_file(sibling, values_);
    if (ok && !platform().replace_file(sibling.c_str(), path_.c_str()))
        ok = platform().last_error() == kErrorCallNotImplemented && rewrite_in_place(path_, values_);
    // Gone already when it replaced the file.
    sibling.delete_file();
    return ok;
}

bool SettingsFile::close_settings() {
    bool ok = true;
    if (loaded_) {
        loaded_ = false;
        if (writable_) ok = write_back();
    }
    writable_ = false;
    lock_.reset();
    values_.clear();
    return ok;
}

bool SettingsFile::has_setting(const std::string& key) const {
    return values_.count(ascii_upper(key)) != 0;
}

std::string SettingsFile::get_setting_value(const std::string& key) const {
    const auto found = values_.find(ascii_upper(key));
    return found == values_.end() ? std::string() : found->second;
}

bool SettingsFile::set_setting_value(const std::string& key, const std::string& value) {
    if (!writable_ || !valid_setting_key(key)) return false;
    values_[ascii_upper(key)] = value;
    return true;
}

bool SettingsFile::get_setting_bool(const std::string& key, bool default_value) const {
    const std::string value = ascii_upper(get_setting_value(key));
    for (const char* word : kFalseWords)
        if (value == word) return false;
    for (const char* word : kTrueWords)
        if (value == word) return true;
    return default_value;
}

bool SettingsFile::set_setting_bool(const std::string& key, bool value) {
    return set_setting_value(key, value ? "TRUE" : "FALSE");
}

std::string read_setting(const std::string& key) {
    FilePath user_file;
    user_file.set_to_user_data_directory();
    user_file.append_file(kSettingsFileName);
    FilePath system_file;
    system_file.set_to_system_data_directory();
    system_file.append_file(kSettingsFileName);

    std::vector<FilePath> paths{FilePath(kOverrideSettingsPath), user_file};
    // When both searches fall back to the same folder, its file is read once.
    if (system_file != user_file) paths.push_back(system_file);

    std::vector<std::unique_ptr<SettingsFile>> sources;
    for (const FilePath& path : paths) {
        auto source = std::make_unique<SettingsFile>(path);
        if (source->open_settings(false)) sources.push_back(std::move(source));
    }
    for (const auto& source : sources)
        if (source->has_setting(key)) return source->get_setting_value(key);
    return std::string();
}

}  // namespace sx
