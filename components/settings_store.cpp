#include "components/settings_store.h"

#include <memory>
#include <set>
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

namespace {

// A line longer than this is not read into memory: it is skipped when
// reading and copied through unchanged when the file is rewritten.
constexpr size_t kMaxSettingsLine = 1024 * 1024;

// One line as it stands in the file.
struct RawLine {
    std::string text;       // without its break; only the first bytes of an overlong line
    std::string end;        // the break that ended it; empty for a last line without one
    bool overlong = false;  // longer than kMaxSettingsLine
};

// Reads the next line; false when the stream has nothing left. CR, LF, CR LF
// and LF CR end a line. An overlong line is written whole, break included, to
// `copy` when there is one (a rewrite keeps it); `copy_ok` turns false when
// that write fails.
bool next_raw_line(std::FILE* in, RawLine* line, std::FILE* copy, bool* copy_ok) {
    line->text.clear();
    line->end.clear();
    line->overlong = false;
    int c = std::fgetc(in);
    if (c == EOF) return false;
    for (; c != EOF; c = std::fgetc(in)) {
        if (c == '\r' || c == '\n') {
            line->end.push_back(static_cast<char>(c));
            const int next = std::fgetc(in);
            if (next == (c == '\r' ? '\n' : '\r'))
                line->end.push_back(static_cast<char>(next));
            else if (next != EOF)
                std::ungetc(next, in);
            break;
        }
        if (line->text.size() < kMaxSettingsLine) {
            line->text.push_back(static_cast<char>(c));
            continue;
        }
        if (!line->overlong && copy)
            *copy_ok =
                std::fwrite(line->text.data(), 1, line->text.size(), copy) == line->text.size() &&
                *copy_ok;
        line->overlong = true;
        if (copy) *copy_ok = std::fputc(c, copy) != EOF && *copy_ok;
    }
    if (line->overlong && copy && !line->end.empty())
        *copy_ok = std::fwrite(line->end.data(), 1, line->end.size(), copy) == line->end.size() &&
                   *copy_ok;
    return true;
}

// The entry a complete line holds; false for a line the reader skips (blank,
// comment, no "=", a key that is not valid once decoded).
bool parse_entry(const std::string& line, std::string* key, std::string* value) {
    const std::string trimmed = trim_spaces(line);
    if (trimmed.empty() || trimmed[0] == '#') return false;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) return false;
    *key = ascii_upper(percent_decode(trim_spaces(line.substr(0, equals))));
    if (!valid_setting_key(*key)) return false;
    *value = percent_decode(trim_spaces(line.substr(equals + 1)));
    return true;
}

// A line that the reader takes entries from: complete and within the bound.
bool readable(const RawLine& line) { return !line.overlong && !line.end.empty(); }

bool write_bytes(std::FILE* out, const std::string& bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
}

std::string entry_text(const std::string& key, const std::string& value) {
    return percent_encode(key) + "=" + percent_encode(value);
}

std::string entry_line(const std::string& key, const std::string& value) {
    return entry_text(key, value) + "\n";
}

}  // namespace

void read_settings_stream(std::FILE* stream, SettingsMap* values) {
    RawLine line;
    std::string key, value;
    bool unused = true;
    while (next_raw_line(stream, &line, nullptr, &unused))
        if (readable(line) && parse_entry(line.text, &key, &value)) values->emplace(key, value);
}

bool write_settings_stream(std::FILE* stream, const SettingsMap& values) {
    for (const auto& [key, value] : values)
        if (!write_bytes(stream, entry_line(key, value))) return false;
    return std::ferror(stream) == 0;
}

bool rewrite_settings_stream(std::FILE* in, std::FILE* out, const SettingsMap& read,
                             const SettingsMap& values) {
    // Entries the file does not have yet go in key order among the others,
    // so a file this store wrote stays sorted.
    SettingsMap added;
    for (const auto& entry : values)
        if (read.count(entry.first) == 0) added.insert(entry);
    auto next_added = added.begin();
    bool ok = true;
    const auto add_before = [&](const std::string* key) {
        for (; next_added != added.end() && (!key || next_added->first < *key); ++next_added)
            ok = write_bytes(out, entry_line(next_added->first, next_added->second)) && ok;
    };

    std::set<std::string> seen;
    RawLine line;
    std::string key, value;
    bool open_tail = false;  // the last line copied had no break
    while (next_raw_line(in, &line, out, &ok)) {
        open_tail = line.end.empty();
        if (line.overlong) continue;  // copied whole already
        if (line.end.empty()) {
            // A last line without a break stays last, and stays unread.
            add_before(nullptr);
            ok = write_bytes(out, line.text) && ok;
            open_tail = false;
            continue;
        }
        if (readable(line) && parse_entry(line.text, &key, &value) && seen.insert(key).second) {
            add_before(&key);
            const auto now = values.find(key);
            const auto then = read.find(key);
            // Only a value that differs from what was read is written anew,
            // with the line's own break (a LF after a lone CR would join the
            // next break); every other line stays byte for byte.
            if (now != values.end() && then != read.end() && now->second != then->second) {
                ok = write_bytes(out, entry_text(key, now->second) + line.end) && ok;
                continue;
            }
        }
        ok = write_bytes(out, line.text + line.end) && ok;
    }
    // Only an overlong last line can still be open: a break ends it (it is
    // skipped either way) so that the entries after it stay lines of their own.
    if (open_tail && next_added != added.end()) ok = write_bytes(out, "\n") && ok;
    add_before(nullptr);
    return ok && std::ferror(in) == 0 && std::ferror(out) == 0;
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
    read_values_.clear();
    if (existed) {
        std::FILE* in = path_.open_stream("rb");
        if (!in) {
            writable_ = false;
            return false;
        }
        read_settings_stream(in, &values_);
        const bool read_whole = std::ferror(in) == 0;
        std::fclose(in);
        // A file that could not be read to its end is never rewritten from
        // the part that was read.
        if (!read_whole) writable_ = false;
        read_values_ = values_;
    }
    // A writer keeps the lock until it has written the file back, also when
    // the file is new: otherwise two first writers would overwrite each other.
    if (writable_) lock_ = std::move(lock);
    loaded_ = true;
    return true;
}

namespace {

// Writes the new contents to `path` and makes them durable: the entries
// alone, or, when there is a `source` (the file as it was), every line of it
// with only the changed values written anew.
bool write_settings_file(const FilePath& path, const FilePath* source, const SettingsMap& read,
                         const SettingsMap& values) {
    std::FILE* in = nullptr;
    if (source && !(in = source->open_stream("rb"))) return false;
    std::FILE* out = path.open_stream("wb");
    if (!out) {
        if (in) std::fclose(in);
        return false;
    }
    bool ok =
        in ? rewrite_settings_stream(in, out, read, values) : write_settings_stream(out, values);
    if (in) std::fclose(in);
    ok = ok && platform().flush_file(out);
    ok = (std::fclose(out) == 0) && ok;
    return ok;
}

// For systems that cannot replace a file in one step (Windows 95/98 lack
// MoveFileExA). The writer holds the file's lock, so no reader sees it half
// written; a copy beside it keeps the old contents until the new ones are
// complete, is what they are made from, and puts them back when they cannot
// be written.
bool rewrite_in_place(const FilePath& path, const SettingsMap& read, const SettingsMap& values) {
    const FilePath backup(path.text() + kBackupSuffix);
    const bool existed = path.exists();
    if (existed && !platform().copy_file(path.c_str(), backup.c_str(), false)) return false;
    if (write_settings_file(path, existed ? &backup : nullptr, read, values)) {
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
    const bool existed = path_.exists();
    bool ok = write_settings_file(sibling, existed ? &path_ : nullptr, read_values_, values_);
    if (ok && !platform().replace_file(sibling.c_str(), path_.c_str()))
        ok = platform().last_error() == kErrorCallNotImplemented &&
             rewrite_in_place(path_, read_values_, values_);
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
    read_values_.clear();
    return ok;
}

void SettingsFile::discard_settings() {
    writable_ = false;
    close_settings();
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
