// Settings files ("SXRegistry.dat"): small key/value text files in the data
// directories, plus an optional override file. A file is read whole under its
// ".lock" companion; a writable store keeps the lock until it is closed and
// then rewrites the file in one step.
#pragma once

#include <cstdio>
#include <map>
#include <string>

#include "components/file_lock.h"
#include "components/file_path.h"

namespace sx {

// The file names of the store, kept here so every reader agrees on them.
extern const char kSettingsFileName[];      // in each data directory
extern const char kOverrideSettingsPath[];  // read before both data directories

// Upper-case key -> value, in ascending byte order (the order of the file).
using SettingsMap = std::map<std::string, std::string>;

// Reads every entry of a settings file. Blank lines, "#" comments, lines
// without "=", lines whose key is not valid, lines over 1 MiB and a last line
// without a break are skipped; of two lines with the same key the first one
// counts.
void read_settings_stream(std::FILE* stream, SettingsMap* values);

// Writes the entries as "key=value\n" lines, both percent-encoded. False when
// the stream reports an error.
bool write_settings_stream(std::FILE* stream, const SettingsMap& values);

// Copies the settings file `in` to `out` line for line, byte for byte, except
// that the line of each entry whose value in `values` differs from the one in
// `read` (what was read of `in`) is written anew, and the entries `read`
// lacks are added in key order. Lines the reader skips are kept as they are,
// so a save never loses what it could not read. False on a stream error.
bool rewrite_settings_stream(std::FILE* in, std::FILE* out, const SettingsMap& read,
                             const SettingsMap& values);

class SettingsFile {
public:
    explicit SettingsFile(FilePath path) : path_(std::move(path)) {}
    ~SettingsFile() { close_settings(); }
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

    // Loads the file (one attempt at its lock, no waiting). Writable stores
    // create a missing file and hold the lock until closed. A store that is
    // already loaded is closed first. Asked for writing, a file that may not
    // be written (or could not be read to its end) still loads, read-only:
    // `writable()` tells, and every set is refused.
    bool open_settings(bool writable);

    // Forgets the values; a writable store first rewrites its file, keeping
    // every line it did not change. The result is false only when that
    // rewrite failed, in which case the file keeps its previous contents.
    bool close_settings();
    // Forgets the values without writing anything; the file stays as it is.
    void discard_settings();

    bool has_setting(const std::string& key) const;
    std::string get_setting_value(const std::string& key) const;
    // Only on a writable store and for a valid key.
    bool set_setting_value(const std::string& key, const std::string& value);
    bool get_setting_bool(const std::string& key, bool default_value) const;
    bool set_setting_bool(const std::string& key, bool value);

    const FilePath& path() const { return path_; }
    bool loaded() const { return loaded_; }
    bool writable() const { return writable_; }
    bool holds_lock() const { return lock_ != nullptr; }
    const SettingsMap& values() const { return values_; }

private:
    bool write_back();

    FilePath path_;
    bool loaded_ = false;
    bool writable_ = false;
    FileLockHolder lock_;
    SettingsMap values_;
    SettingsMap read_values_;  // as read from the file, to tell what changed
};

// The value of `key` from the first of the override file, the per-user file
// and the system file that holds it; empty when none does. A file that is
// locked by a writer is skipped.
std::string read_setting(const std::string& key);

}  // namespace sx
