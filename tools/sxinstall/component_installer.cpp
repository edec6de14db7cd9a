#include "tools/sxinstall/component_installer.h"

#include <algorithm>
#include <cstdio>

#include "components/component_index.h"
#include "components/data_directories.h"
#include "components/file_lock.h"
#include "components/text_util.h"
#include "include/install_hook.h"
#include "platform/ascii_case.h"
#include "platform/platform.h"

namespace sx::install {

namespace {

bool has_line_break(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

bool trimmed_and_nonempty(const std::string& text) {
    return !text.empty() && !is_trim_space(text.front()) && !is_trim_space(text.back());
}

std::vector<std::string> split_elements(const std::string& path) {
    std::vector<std::string> elements;
    std::string current;
    for (char c : path) {
        if (c == '\\' || c == '/') {
            elements.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    elements.push_back(current);
    return elements;
}

std::string join_elements(const std::vector<std::string>& elements) {
    std::string out;
    for (size_t i = 0; i < elements.size(); ++i) out += (i ? "\\" : "") + elements[i];
    return out;
}

std::string backslashes(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// Collects the files below a folder with their paths relative to it.
struct FolderWalk {
    std::string prefix;  // relative path of the folder being listed
    std::vector<std::pair<FilePath, std::string>>* files;
    bool ok = true;
};

bool visit_entry(const FilePath& entry, void* argument, bool is_directory) {
    auto* walk = static_cast<FolderWalk*>(argument);
    const std::string name = entry.file_name();
    if (name == "." || name == "..") return true;
    const std::string relative = walk->prefix + name;
    if (is_directory) {
        FolderWalk inner{relative + "\\", walk->files};
        if (!FilePath(entry.text() + "\\").for_each_entry(visit_entry, &inner) || !inner.ok)
            walk->ok = false;
    } else {
        walk->files->emplace_back(entry, relative);
    }
    return walk->ok;
}

// New files wait under this suffix beside their final place until the index
// names them; a name with it is never a component's own.
const char kPendingSuffix[] = ".sxinstall-new";

std::string system_reason() {
    return " (system error " + std::to_string(platform().last_error()) + ")";
}

bool copy_into(const FilePath& directory, const FilePath& source, const std::string& relative,
               std::string* error) {
    bool is_directory = false;
    if (!source.exists(&is_directory) || is_directory) {
        *error = "no such file: " + source.text();
        return false;
    }
    const FilePath destination(directory.text() + relative);
    FilePath parent(destination);
    parent.to_parent();
    if (!FilePath(parent.text() + "\\").ensure_directory()) {
        *error = "cannot create the folder " + parent.text();
        return false;
    }
    // CopyFileA keeps what the file system knows of the file (on Linux its
    // execute permission, which installed programs need). The copy waits
    // under its pending name, made durable, until the index names it.
    const FilePath pending(destination.text() + kPendingSuffix);
    if (!platform().copy_file(source.c_str(), pending.c_str(), false)) {
        *error = "cannot copy " + source.text() + " to " + destination.text() + system_reason();
        return false;
    }
    std::FILE* stream = pending.open_stream("ab");
    const bool flushed = stream && platform().flush_file(stream);
    if (stream) std::fclose(stream);
    if (!flushed) {
        *error = "cannot write " + destination.text() + system_reason();
        return false;
    }
    return true;
}

bool call_hook(const FilePath& directory, const InstallRequest& request, const std::string& hook,
               std::string* error) {
    const auto entry = std::find_if(request.files.begin(), request.files.end(),
                                    [&](const ComponentFile& f) { return f.key == hook; });
    const std::string hook_relative = backslashes(entry->relative_path);
    const std::string library = directory.text() + hook_relative;

    std::vector<std::string> values;
    for (const ComponentFile& file : request.files)
        values.push_back(path_relative_to_hook(hook_relative, backslashes(file.relative_path)));
    std::vector<const char*> name_pointers, value_pointers;
    for (size_t i = 0; i < values.size(); ++i) {
        name_pointers.push_back(request.files[i].key.c_str());
        value_pointers.push_back(values[i].c_str());
    }

    Platform& os = platform();
    ModuleHandle module = os.load_library(library.c_str());
    if (!module) {
        *error = "cannot load the hook library " + library;
        return false;
    }
    auto entry_point = reinterpret_cast<component_install_initialize_function>(
        os.find_symbol(module, SX_INSTALL_HOOK_ENTRY_NAME));
    if (!entry_point) {
        os.free_library(module);
        *error = library + " has no " SX_INSTALL_HOOK_ENTRY_NAME;
        return false;
    }
    entry_point(library.c_str(), static_cast<int32_t>(values.size()), name_pointers.data(),
                value_pointers.data());
    os.free_library(module);
    return true;
}

bool same_component(const IndexRecord& record, const std::string& name) {
    return equals_ignoring_ascii_case(record.name, name);
}

// What an interrupted install or removal still has to finish (or undo): the
// files to move into place and to delete, and the record the index holds
// once the change is made.
const char kJournalSuffix[] = ".journal";

std::string lower_ascii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool same_path(const std::string& a, const std::string& b) {
    return equals_ignoring_ascii_case(backslashes(a), backslashes(b));
}

// The index, its lock, its rewrite and journal siblings and the pending
// copies all live beside the component files: a component file under one of
// those names would overwrite the index or vanish with the next install.
bool reserved_file_name(const std::string& relative) {
    const std::string name = lower_ascii(split_elements(relative).back());
    const std::string index = lower_ascii(kIndexFileName);
    const std::string suffix = lower_ascii(kPendingSuffix);
    return name.compare(0, index.size(), index) == 0 ||
           (name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0);
}

struct Journal {
    bool removal = false;  // committed when the index no longer has `record`
    IndexRecord record;
    std::vector<std::string> moves;    // relative paths whose pending copy goes into place
    std::vector<std::string> deletes;  // relative paths to delete
};

std::string format_journal(const Journal& journal) {
    std::string text = journal.removal ? "remove\n" : "install\n";
    text += journal.record.name + "\n" + std::to_string(journal.record.version) + "\n";
    for (const auto& [key, path] : journal.record.files)
        text += "file\n" + key + "\n" + path + "\n";
    for (const std::string& path : journal.moves) text += "move\n" + path + "\n";
    for (const std::string& path : journal.deletes) text += "delete\n" + path + "\n";
    return text + "end\n";
}

bool read_line(std::FILE* in, std::string* line) {
    line->clear();
    int c;
    while ((c = std::fgetc(in)) != EOF && c != '\n') {
        if (line->size() > 65536) return false;
        *line += static_cast<char>(c);
    }
    return c == '\n';
}

bool parse_journal(std::FILE* in, Journal* journal) {
    std::string kind, version, tag, a, b;
    if (!read_line(in, &kind) || !read_line(in, &journal->record.name) || !read_line(in, &version))
        return false;
    journal->removal = kind == "remove";
    journal->record.version = std::atoi(version.c_str());
    while (read_line(in, &tag)) {
        if (tag == "end") return true;
        if (tag == "file" && read_line(in, &a) && read_line(in, &b))
            journal->record.files.emplace_back(a, b);
        else if (tag == "move" && read_line(in, &a))
            journal->moves.push_back(a);
        else if (tag == "delete" && read_line(in, &a))
            journal->deletes.push_back(a);
        else
            return false;
    }
    return false;
}

bool write_journal(const FilePath& path, const Journal& journal) {
    const std::string text = format_journal(journal);
    const FilePath pending(path.text() + kPendingSuffix);
    std::FILE* out = pending.open_stream("wb");
    if (!out) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    ok = platform().flush_file(out) && ok;
    ok = (std::fclose(out) == 0) && ok;
    ok = ok && platform().replace_file(pending.c_str(), path.c_str());
    if (!ok) pending.delete_file();
    return ok;
}

bool same_record(const IndexRecord& a, const IndexRecord& b) {
    if (!same_component(a, b.name) || a.version != b.version || a.files.size() != b.files.size())
        return false;
    for (size_t i = 0; i < a.files.size(); ++i)
        if (a.files[i].first != b.files[i].first ||
            !same_path(a.files[i].second, b.files[i].second))
            return false;
    return true;
}

void apply_journal(const FilePath& directory, const Journal& journal) {
    for (const std::string& path : journal.moves) {
        const FilePath pending(directory.text() + path + kPendingSuffix);
        if (pending.exists())
            platform().replace_file(pending.c_str(), (directory.text() + path).c_str());
    }
    for (const std::string& path : journal.deletes) FilePath(directory.text() + path).delete_file();
}

void discard_pending(const FilePath& directory, const std::vector<std::string>& moves) {
    for (const std::string& path : moves)
        FilePath(directory.text() + path + kPendingSuffix).delete_file();
}

bool ends_with_pending_suffix(const std::string& name) {
    const size_t n = sizeof(kPendingSuffix) - 1;
    return name.size() >= n && name.compare(name.size() - n, n, kPendingSuffix) == 0;
}

bool sweep_entry(const FilePath& entry, void* argument, bool is_directory) {
    const std::string name = entry.file_name();
    if (name == "." || name == "..") return true;
    if (is_directory) {
        FilePath(entry.text() + "\\").for_each_entry(sweep_entry, argument);
    } else if (ends_with_pending_suffix(name)) {
        entry.delete_file();
    }
    return true;
}

// Under the index lock: an install or removal killed part-way is finished
// when its index was written, undone otherwise, and copies it left pending
// are deleted.
void recover_interrupted(const FilePath& directory, const FilePath& index,
                         const std::vector<IndexRecord>& records) {
    const FilePath journal_path(index.text() + kJournalSuffix);
    if (std::FILE* in = journal_path.open_stream("rb")) {
        Journal journal;
        const bool whole = parse_journal(in, &journal);
        std::fclose(in);
        if (whole) {
            const auto found = std::find_if(
                records.begin(), records.end(),
                [&](const IndexRecord& r) { return same_component(r, journal.record.name); });
            const bool committed =
                journal.removal ? found == records.end()
                                : found != records.end() && same_record(*found, journal.record);
            if (committed) apply_journal(directory, journal);
        }
        journal_path.delete_file();
    }
    directory.for_each_entry(sweep_entry, nullptr);
}

std::string index_read_error(const FilePath& index) {
    if (index.is_special_file())
        return "cannot read the index " + index.text() + ": not a regular file";
    return "cannot read the index " + index.text() + system_reason();
}

// Waits for other installers only: a directory where the lock cannot be made
// at all (read-only, missing) is reported at once with the system's reason.
FileLockHolder lock_index(const FilePath& index, unsigned timeout_ms, std::string* error) {
    FileLockHolder lock = acquire_lock(index, 0);
    if (!lock && platform().last_error() == kErrorSharingViolation)
        lock = acquire_lock(index, timeout_ms);
    if (!lock) {
        if (platform().last_error() == kErrorSharingViolation)
            *error = "the index " + index.text() + " stays locked by another program";
        else
            *error = "cannot lock the index " + index.text() + system_reason();
    }
    return lock;
}

// The component other than `name` whose record lists `path`, if any.
const IndexRecord* owner_of(const std::vector<IndexRecord>& records, const std::string& name,
                            const std::string& path) {
    for (const IndexRecord& record : records) {
        if (same_component(record, name)) continue;
        for (const auto& entry : record.files)
            if (same_path(entry.second, path)) return &record;
    }
    return nullptr;
}

}  // namespace

bool valid_component_name(const std::string& name) {
    return trimmed_and_nonempty(name) && !has_line_break(name);
}

bool valid_file_key(const std::string& key) {
    return valid_component_name(key) && key.find(';') == std::string::npos;
}

bool valid_relative_path(const std::string& path) {
    if (!trimmed_and_nonempty(path) || has_line_break(path)) return false;
    if (path.find(':') != std::string::npos) return false;
    for (const std::string& element : split_elements(path))
        if (element.empty() || element == "." || element == "..") return false;
    return true;
}

std::string path_relative_to_hook(const std::string& hook, const std::string& file) {
    std::vector<std::string> hook_dir = split_elements(hook);
    hook_dir.pop_back();  // the hook's own file name
    const std::vector<std::string> target = split_elements(file);
    size_t common = 0;
    while (common < hook_dir.size() && common + 1 < target.size() &&
           hook_dir[common] == target[common])
        ++common;
    std::vector<std::string> out(hook_dir.size() - common, "..");
    out.insert(out.end(), target.begin() + static_cast<long>(common), target.end());
    return join_elements(out);
}

FilePath as_directory(const FilePath& folder) {
    if (folder.empty() || folder.ends_with_separator()) return folder;
    return FilePath(folder.text() + "\\");
}

bool default_component_directory(bool per_user, FilePath* directory) {
    register_component_directories();
    return find_component_directory(per_user ? "Components-User" : "Components-System", directory);
}

bool install_component(const InstallRequest& request, std::string* error) {
    if (!valid_component_name(request.name)) {
        *error = "not a usable component name: \"" + request.name + "\"";
        return false;
    }
    for (size_t i = 0; i < request.files.size(); ++i) {
        const ComponentFile& file = request.files[i];
        if (!valid_file_key(file.key)) {
            *error = "not a usable file key: \"" + file.key + "\"";
            return false;
        }
        if (!valid_relative_path(file.relative_path)) {
            *error = "not a path inside the component directory: \"" + file.relative_path + "\"";
            return false;
        }
        if (reserved_file_name(file.relative_path)) {
            *error = "the file name \"" + file.relative_path +
                     "\" is reserved for the component directory's index";
            return false;
        }
        for (size_t j = 0; j < i; ++j) {
            if (request.files[j].key == file.key) {
                *error = "file key given twice: " + file.key;
                return false;
            }
        }
    }
    for (const std::string& hook : request.hooks) {
        if (std::none_of(request.files.begin(), request.files.end(),
                         [&](const ComponentFile& f) { return f.key == hook; })) {
            *error = "the hook " + hook + " is not one of the component's files";
            return false;
        }
    }

    const FilePath directory = as_directory(request.directory);
    if (directory.empty() || !directory.ensure_directory()) {
        *error = "cannot create the component directory " + directory.text() + system_reason();
        return false;
    }

    IndexRecord record;
    record.name = request.name;
    record.version = request.version;
    for (const ComponentFile& file : request.files)
        record.files.emplace_back(file.key, backslashes(file.relative_path));

    const FilePath index(directory.text() + kIndexFileName);
    std::vector<IndexRecord> records;
    std::vector<IndexRecord> previous;  // the index as it was, for a hook's rollback
    Journal journal;
    {
        // Held from the first copied file to the last one moved into place:
        // two installers never mix their files, and readers wait briefly for
        // a whole index.
        FileLockHolder lock = lock_index(index, request.lock_timeout_ms, error);
        if (!lock) return false;
        if (!read_index(index, &records)) {
            *error = index_read_error(index);
            return false;
        }
        recover_interrupted(directory, index, records);
        previous = records;
        for (const auto& entry : record.files) {
            if (const IndexRecord* owner = owner_of(records, request.name, entry.second)) {
                if (!request.force) {
                    *error = entry.second + " belongs to the component " + owner->name +
                             " (--force takes it over)";
                    return false;
                }
            }
        }

        auto fail = [&]() {
            discard_pending(directory, journal.moves);
            return false;
        };
        for (const FilePath& folder : request.folders) {
            std::vector<std::pair<FilePath, std::string>> found;
            FolderWalk walk{"", &found};
            if (!as_directory(folder).for_each_entry(visit_entry, &walk) || !walk.ok) {
                *error = "cannot list the folder " + folder.text();
                return fail();
            }
            for (const auto& [source, relative] : found) {
                // A folder copied from another component directory brings
                // its index along; ours is written below.
                if (reserved_file_name(relative)) continue;
                if (!copy_into(directory, source, relative, error)) return fail();
                journal.moves.push_back(relative);
            }
        }
        for (const ComponentFile& file : request.files) {
            const std::string relative = backslashes(file.relative_path);
            if (!file.source.empty()) {
                if (!copy_into(directory, file.source, relative, error)) return fail();
                journal.moves.push_back(relative);
            } else if (!FilePath(directory.text() + relative).exists() &&
                       std::none_of(journal.moves.begin(), journal.moves.end(),
                                    [&](const std::string& p) { return same_path(p, relative); })) {
                *error = "the entry " + file.key +
                         " names a file that is not installed: " + file.relative_path;
                return fail();
            }
        }

        // The new record takes the place of the old one, so the index keeps
        // its order; files only the old version had go once it is written,
        // unless another component lists them too.
        auto old = std::find_if(records.begin(), records.end(), [&](const IndexRecord& r) {
            return same_component(r, request.name);
        });
        if (old != records.end()) {
            for (const auto& entry : old->files) {
                const bool kept = std::any_of(record.files.begin(), record.files.end(),
                                              [&](const std::pair<std::string, std::string>& f) {
                                                  return same_path(f.second, entry.second);
                                              });
                if (!kept && valid_relative_path(entry.second) &&
                    !owner_of(records, request.name, entry.second))
                    journal.deletes.push_back(entry.second);
            }
            *old = record;
            records.erase(std::remove_if(old + 1, records.end(),
                                         [&](const IndexRecord& r) {
                                             return same_component(r, request.name);
                                         }),
                          records.end());
        } else {
            records.push_back(record);
        }
        journal.record = record;
        const FilePath journal_path(index.text() + kJournalSuffix);
        if (!write_journal(journal_path, journal)) {
            *error = "cannot write " + journal_path.text() + system_reason();
            return fail();
        }
        if (!write_index(index, records)) {
            *error = "cannot write the index " + index.text() + system_reason();
            journal_path.delete_file();
            return fail();
        }
        apply_journal(directory, journal);
        journal_path.delete_file();
    }

    for (const std::string& hook : request.hooks) {
        if (call_hook(directory, request, hook, error)) continue;
        // A component whose hook failed is not installed: its record and
        // the files no other record names go again.
        // Only our record is put back: another installer may have changed
        // the index since.
        FileLockHolder lock = acquire_lock(index, request.lock_timeout_ms);
        std::vector<IndexRecord> now;
        if (!lock || !read_index(index, &now)) return false;
        const auto before =
            std::find_if(previous.begin(), previous.end(),
                         [&](const IndexRecord& r) { return same_component(r, request.name); });
        const auto ours = std::find_if(now.begin(), now.end(), [&](const IndexRecord& r) {
            return same_component(r, request.name);
        });
        if (ours != now.end() && before != previous.end())
            *ours = *before;
        else if (ours != now.end())
            now.erase(ours);
        if (write_index(index, now)) {
            for (const std::string& path : journal.moves) {
                const bool listed_before =
                    std::any_of(now.begin(), now.end(), [&](const IndexRecord& r) {
                        return std::any_of(r.files.begin(), r.files.end(),
                                           [&](const std::pair<std::string, std::string>& f) {
                                               return same_path(f.second, path);
                                           });
                    });
                if (!listed_before) FilePath(directory.text() + path).delete_file();
            }
            *error += "; the install was undone";
        }
        return false;
    }
    return true;
}

bool remove_component(const FilePath& folder, const std::string& name, std::string* error,
                      unsigned lock_timeout_ms, bool force) {
    const FilePath directory = as_directory(folder);
    const FilePath index(directory.text() + kIndexFileName);
    FileLockHolder lock = lock_index(index, lock_timeout_ms, error);
    if (!lock) return false;
    std::vector<IndexRecord> records;
    if (!read_index(index, &records)) {
        *error = index_read_error(index);
        return false;
    }
    recover_interrupted(directory, index, records);
    auto kept = std::stable_partition(records.begin(), records.end(), [&](const IndexRecord& r) {
        return !same_component(r, name);
    });
    std::vector<IndexRecord> removed(kept, records.end());
    if (removed.empty()) {
        *error = "no component " + name + " in " + index.text();
        return false;
    }
    records.erase(kept, records.end());
    // The files go only after the index no longer names them; a file another
    // component lists stays with it.
    Journal journal;
    journal.removal = true;
    journal.record.name = name;
    for (const IndexRecord& record : removed)
        for (const auto& entry : record.files)
            if (valid_relative_path(entry.second) &&
                (force || !owner_of(records, name, entry.second)))
                journal.deletes.push_back(entry.second);
    const FilePath journal_path(index.text() + kJournalSuffix);
    if (!write_journal(journal_path, journal)) {
        *error = "cannot write " + journal_path.text() + system_reason();
        return false;
    }
    if (!write_index(index, records)) {
        *error = "cannot write the index " + index.text() + system_reason();
        journal_path.delete_file();
        return false;
    }
    apply_journal(directory, journal);
    journal_path.delete_file();
    return true;
}

bool list_components(const FilePath& folder, std::vector<IndexRecord>* records,
                     std::string* error) {
    const FilePath index(as_directory(folder).text() + kIndexFileName);
    // Like every reader: wait a little for a writer, then read anyway.
    FileLockHolder lock = acquire_lock(index, 250);
    if (!read_index(index, records)) {
        *error = index_read_error(index);
        return false;
    }
    return true;
}

}  // namespace sx::install
