#include "components/component_installer.h"

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
// names them; the files they replace (and those the new version drops) wait
// under the second one until the install is kept. A name with either is
// never a component's own.
const char kPendingSuffix[] = ".sxinstall-new";
const char kBackupSuffix[] = ".sxinstall-old";

std::string system_reason() {
    return " (system error " + std::to_string(platform().last_error()) + ")";
}

// The folders between the component directory and `relative`'s file that do
// not exist yet, outermost first.
std::vector<std::string> missing_folders(const FilePath& directory, const std::string& relative) {
    std::vector<std::string> missing;
    std::vector<std::string> elements = split_elements(relative);
    elements.pop_back();
    std::string folder;
    for (const std::string& element : elements) {
        folder += element + "\\";
        if (missing.empty() && FilePath(directory.text() + folder).exists()) continue;
        missing.push_back(folder);
    }
    return missing;
}

// CopyFileA keeps what the file system knows of the file (on Linux its
// execute permission, which installed programs need); the copy is flushed
// before anything names it.
bool copy_durably(const FilePath& from, const FilePath& to) {
    if (!platform().copy_file(from.c_str(), to.c_str(), false)) return false;
    std::FILE* stream = to.open_stream("ab");
    const bool flushed = stream && platform().flush_file(stream);
    if (stream) std::fclose(stream);
    return flushed;
}

bool copy_into(const FilePath& directory, const FilePath& source, const std::string& relative,
               std::string* error) {
    bool is_directory = false;
    if (!source.exists(&is_directory) || is_directory) {
        *error = "no such file: " + source.text();
        return false;
    }
    const FilePath destination(directory.text() + relative);
    for (const std::string& folder : missing_folders(directory, relative)) {
        if (!platform().create_directory((directory.text() + folder).c_str())) {
            *error = "cannot create the folder " + directory.text() + folder + system_reason();
            return false;
        }
    }
    // The copy waits under its pending name until the index names it.
    if (!copy_durably(source, FilePath(destination.text() + kPendingSuffix))) {
        *error = "cannot copy " + source.text() + " to " + destination.text() + system_reason();
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

bool ends_with(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The index, its lock, its rewrite, journal and saved siblings and the
// pending and saved copies all live beside the component files: a component
// file under one of those names would overwrite the index or vanish with the
// next install.
bool reserved_file_name(const std::string& relative) {
    const std::string name = lower_ascii(split_elements(relative).back());
    const std::string index = lower_ascii(kIndexFileName);
    return name.compare(0, index.size(), index) == 0 ||
           ends_with(name, lower_ascii(kPendingSuffix)) ||
           ends_with(name, lower_ascii(kBackupSuffix));
}

// What the index looked like before the change, so that undoing it can put
// the very same bytes back.
enum class OldIndex { untouched, saved, absent };

struct Journal {
    bool removal = false;  // committed when the index no longer has `record`
    bool undo = false;     // recovery undoes it: hooks still to run, or it failed
    OldIndex old_index = OldIndex::untouched;
    IndexRecord record;
    std::vector<std::string> moves;     // relative paths whose pending copy goes into place
    std::vector<std::string> replaced;  // moves onto a file that waits as its backup
    std::vector<std::string> deletes;   // relative paths to delete (saved, for an install)
};

std::string format_journal(const Journal& journal) {
    std::string text = journal.removal ? "remove\n" : "install\n";
    text += journal.record.name + "\n" + std::to_string(journal.record.version) + "\n";
    if (journal.undo) text += "undo\n";
    if (journal.old_index == OldIndex::saved) text += "index saved\n";
    if (journal.old_index == OldIndex::absent) text += "index absent\n";
    for (const auto& [key, path] : journal.record.files)
        text += "file\n" + key + "\n" + path + "\n";
    const std::pair<const char*, const std::vector<std::string>*> lists[] = {
        {"move", &journal.moves}, {"replaced", &journal.replaced}, {"delete", &journal.deletes}};
    for (const auto& [tag, paths] : lists)
        for (const std::string& path : *paths) text += std::string(tag) + "\n" + path + "\n";
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
    const std::pair<const char*, std::vector<std::string>*> lists[] = {
        {"move", &journal->moves}, {"replaced", &journal->replaced}, {"delete", &journal->deletes}};
    while (read_line(in, &tag)) {
        if (tag == "end") return true;
        const auto list = std::find_if(std::begin(lists), std::end(lists),
                                       [&](const auto& l) { return tag == l.first; });
        if (tag == "undo")
            journal->undo = true;
        else if (tag == "index saved" || tag == "index absent")
            journal->old_index = tag == "index saved" ? OldIndex::saved : OldIndex::absent;
        else if (tag == "file" && read_line(in, &a) && read_line(in, &b))
            journal->record.files.emplace_back(a, b);
        else if (list != std::end(lists) && read_line(in, &a))
            list->second->push_back(a);
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

bool listed(const std::vector<std::string>& paths, const std::string& path) {
    return std::any_of(paths.begin(), paths.end(),
                       [&](const std::string& p) { return same_path(p, path); });
}

bool move_file(const std::string& from, const std::string& to) {
    return platform().replace_file(from.c_str(), to.c_str());
}

// Puts the new files in place. What they replace, and what the new version
// no longer has, waits under its saved name until the install is kept.
// Repeatable: each step looks at what an earlier, killed run already did.
// Gives the first file that could not be moved (one in use, say), if any.
std::string swap_in(const FilePath& directory, const Journal& journal) {
    std::string stuck;
    auto move = [&](const std::string& from, const std::string& to) {
        if (!move_file(from, to) && stuck.empty()) stuck = from + system_reason();
    };
    for (const std::string& path : journal.moves) {
        const std::string live = directory.text() + path;
        if (!FilePath(live + kPendingSuffix).exists()) continue;
        if (FilePath(live).exists()) move(live, live + kBackupSuffix);
        move(live + kPendingSuffix, live);
    }
    for (const std::string& path : journal.deletes) {
        const std::string live = directory.text() + path;
        if (FilePath(live).exists()) move(live, live + kBackupSuffix);
    }
    return stuck;
}

// The install is kept: the saved old files and index go.
void drop_saved(const FilePath& directory, const FilePath& index, const Journal& journal) {
    for (const auto* paths : {&journal.moves, &journal.deletes})
        for (const std::string& path : *paths)
            FilePath(directory.text() + path + kBackupSuffix).delete_file();
    FilePath(index.text() + kBackupSuffix).delete_file();
}

// Undoes an install at whatever step it stopped: every file and the index as
// they were before it (the sweep below takes the folders it made). Repeatable,
// like `swap_in`.
void undo_install(const FilePath& directory, const FilePath& index, const Journal& journal) {
    for (const std::string& path : journal.moves) {
        const FilePath live(directory.text() + path), saved(live.text() + kBackupSuffix);
        FilePath(live.text() + kPendingSuffix).delete_file();
        if (saved.exists())
            move_file(saved.text(), live.text());
        else if (!listed(journal.replaced, path))
            live.delete_file();
    }
    for (const std::string& path : journal.deletes) {
        const FilePath live(directory.text() + path), saved(live.text() + kBackupSuffix);
        if (saved.exists()) move_file(saved.text(), live.text());
    }
    const FilePath saved_index(index.text() + kBackupSuffix);
    if (journal.old_index == OldIndex::saved && saved_index.exists())
        move_file(saved_index.text(), index.text());
    else if (journal.old_index == OldIndex::absent)
        index.delete_file();
}

// Deletes what an interrupted change left: pending and saved copies, the
// index's unfinished rewrite, and the folders that are left empty (a
// component's folders only ever hold its files).
bool sweep_entry(const FilePath& entry, void* argument, bool is_directory) {
    const std::string name = entry.file_name();
    if (name == "." || name == "..") return true;
    if (is_directory) {
        const FilePath folder(entry.text() + "\\");
        folder.for_each_entry(sweep_entry, argument);
        platform().remove_directory(folder.c_str());  // only when empty
    } else if (ends_with(name, kPendingSuffix) || ends_with(name, kBackupSuffix) ||
               equals_ignoring_ascii_case(name, std::string(kIndexFileName) + ".new")) {
        entry.delete_file();
    }
    return true;
}

void sweep(const FilePath& directory) { directory.for_each_entry(sweep_entry, nullptr); }

// The index's record of `name` (`present` tells whether it has one); false
// when the index cannot be read.
bool find_in_index(const FilePath& index, const std::string& name, bool* present,
                   IndexRecord* record) {
    std::vector<IndexRecord> records;
    if (!read_index(index, &records)) return false;
    const auto found = std::find_if(records.begin(), records.end(),
                                    [&](const IndexRecord& r) { return same_component(r, name); });
    *present = found != records.end();
    if (*present) *record = *found;
    return true;
}

// Under the index lock, before anything else: an install or removal killed
// part-way is finished when its index was written (and it had no hooks left
// to run, nor failed), undone otherwise; copies it left pending or saved are
// deleted.
// While the index cannot be read, everything waits for a later run.
void recover_interrupted(const FilePath& directory, const FilePath& index) {
    const FilePath journal_path(index.text() + kJournalSuffix);
    if (std::FILE* in = journal_path.open_stream("rb")) {
        Journal journal;
        const bool whole = parse_journal(in, &journal);
        std::fclose(in);
        IndexRecord found;
        bool present = false;
        if (whole && !find_in_index(index, journal.record.name, &present, &found)) return;
        if (whole && journal.removal && !present) {
            for (const std::string& path : journal.deletes)
                FilePath(directory.text() + path).delete_file();
        } else if (whole && !journal.removal) {
            if (present && same_record(found, journal.record) && !journal.undo) {
                swap_in(directory, journal);
                drop_saved(directory, index, journal);
            } else {
                undo_install(directory, index, journal);
            }
        }
        journal_path.delete_file();
    }
    sweep(directory);
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

namespace {

bool check_request(const InstallRequest& request, std::string* error) {
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
    return true;
}

// Makes the component directory and every missing folder above it, each
// creation checked: a folder that cannot be made is named at once, with the
// system's reason, rather than found out later as a lock that never comes.
bool make_component_directory(const FilePath& directory, std::string* error) {
    bool is_directory = false;
    if (directory.exists(&is_directory)) {
        if (!is_directory)
            *error = "cannot create the component directory: " + directory.text() + " is a file";
        return is_directory;
    }
    FilePath parent(directory);
    parent.to_parent();
    if (!parent.empty() && parent.text() + "\\" != directory.text() &&
        parent.text() != directory.text() && !make_component_directory(parent, error))
        return false;
    if (platform().create_directory(directory.c_str())) return true;
    *error = "cannot create the component directory " + directory.text() + system_reason();
    return directory.exists(&is_directory) && is_directory;  // another installer made it
}

bool check_owners(const std::vector<IndexRecord>& records, const InstallRequest& request,
                  std::string* error) {
    for (const ComponentFile& file : request.files) {
        const IndexRecord* owner = owner_of(records, request.name, file.relative_path);
        if (owner && !request.force) {
            *error = backslashes(file.relative_path) + " belongs to the component " + owner->name +
                     " (--force takes it over)";
            return false;
        }
    }
    return true;
}

// Copies one file to its pending name (listed first, so that an undo finds
// a half-made copy); a file already at its place will wait under its saved
// name.
bool stage(const FilePath& directory, const FilePath& source, const std::string& relative,
           Journal* journal, std::string* error) {
    journal->moves.push_back(relative);
    if (FilePath(directory.text() + relative).exists()) journal->replaced.push_back(relative);
    return copy_into(directory, source, relative, error);
}

bool stage_files(const FilePath& directory, const InstallRequest& request, Journal* journal,
                 std::string* error) {
    for (const FilePath& folder : request.folders) {
        std::vector<std::pair<FilePath, std::string>> found;
        FolderWalk walk{"", &found};
        if (!as_directory(folder).for_each_entry(visit_entry, &walk) || !walk.ok) {
            *error = "cannot list the folder " + folder.text();
            return false;
        }
        for (const auto& [source, relative] : found) {
            // A folder copied from another component directory brings its
            // index along; ours is written afterwards.
            if (reserved_file_name(relative)) continue;
            if (!stage(directory, source, relative, journal, error)) return false;
        }
    }
    for (const ComponentFile& file : request.files) {
        const std::string relative = backslashes(file.relative_path);
        if (!file.source.empty()) {
            if (!stage(directory, file.source, relative, journal, error)) return false;
        } else if (!FilePath(directory.text() + relative).exists() &&
                   !listed(journal->moves, relative)) {
            *error = "the entry " + file.key +
                     " names a file that is not installed: " + file.relative_path;
            return false;
        }
    }
    // A file the old version listed and the new one copies with a folder
    // stays: it is replaced, not dropped.
    auto& deletes = journal->deletes;
    deletes.erase(
        std::remove_if(deletes.begin(), deletes.end(),
                       [&](const std::string& path) { return listed(journal->moves, path); }),
        deletes.end());
    return true;
}

// The new record takes the place of the old one, so the index keeps its
// order; files only the old version had go once it is kept, unless another
// component lists them too.
void plan_update(std::vector<IndexRecord>* records, const IndexRecord& record, Journal* journal) {
    auto old = std::find_if(records->begin(), records->end(),
                            [&](const IndexRecord& r) { return same_component(r, record.name); });
    journal->record = record;
    if (old == records->end()) {
        records->push_back(record);
        return;
    }
    for (const auto& entry : old->files) {
        const bool kept = std::any_of(record.files.begin(), record.files.end(),
                                      [&](const std::pair<std::string, std::string>& f) {
                                          return same_path(f.second, entry.second);
                                      });
        if (!kept && valid_relative_path(entry.second) &&
            !owner_of(*records, record.name, entry.second) &&
            !listed(journal->deletes, entry.second))
            journal->deletes.push_back(entry.second);
    }
    *old = record;
    records->erase(
        std::remove_if(old + 1, records->end(),
                       [&](const IndexRecord& r) { return same_component(r, record.name); }),
        records->end());
}

// Saves the old index, writes the journal and then the new index, and swaps
// the files in. On failure `undo_install` puts everything back.
bool commit(const FilePath& directory, const FilePath& index,
            const std::vector<IndexRecord>& records, Journal* journal, std::string* error) {
    const FilePath saved(index.text() + kBackupSuffix);
    journal->old_index = index.exists() ? OldIndex::saved : OldIndex::absent;
    if (journal->old_index == OldIndex::saved && !copy_durably(index, saved)) {
        *error = "cannot save the index as " + saved.text() + system_reason();
        journal->old_index = OldIndex::untouched;
        return false;
    }
    const FilePath journal_path(index.text() + kJournalSuffix);
    if (!write_journal(journal_path, *journal)) {
        *error = "cannot write " + journal_path.text() + system_reason();
        return false;
    }
    if (!write_index(index, records)) {
        *error = "cannot write the index " + index.text() + system_reason();
        return false;
    }
    const std::string stuck = swap_in(directory, *journal);
    if (stuck.empty()) return true;
    *error = "cannot move " + stuck;
    journal->undo = true;  // a recovery must not finish what failed
    write_journal(journal_path, *journal);
    return false;
}

}  // namespace

bool install_component(const InstallRequest& request, std::string* error) {
    if (!check_request(request, error)) return false;
    const FilePath directory = as_directory(request.directory);
    if (directory.empty()) {
        *error = "no component directory given";
        return false;
    }
    if (!make_component_directory(directory, error)) return false;

    const FilePath index(directory.text() + kIndexFileName);
    // Held from the first copied file until the hooks ran: two installers
    // never mix their files, nobody else sees an install that is still to be
    // undone, and readers wait briefly for a whole index.
    FileLockHolder lock = lock_index(index, request.lock_timeout_ms, error);
    if (!lock) return false;
    recover_interrupted(directory, index);
    std::vector<IndexRecord> records;
    if (!read_index(index, &records)) {
        *error = index_read_error(index);
        return false;
    }
    if (!check_owners(records, request, error)) return false;

    Journal journal;
    journal.undo = !request.hooks.empty();
    IndexRecord record;
    record.name = request.name;
    record.version = request.version;
    for (const ComponentFile& file : request.files)
        record.files.emplace_back(file.key, backslashes(file.relative_path));
    plan_update(&records, record, &journal);
    const FilePath journal_path(index.text() + kJournalSuffix);
    // A component that failed part-way is not installed: its files, the ones
    // it replaced and the index are put back as they were.
    auto undo = [&] {
        undo_install(directory, index, journal);
        journal_path.delete_file();
        sweep(directory);
        return false;
    };
    if (!stage_files(directory, request, &journal, error) ||
        !commit(directory, index, records, &journal, error))
        return undo();
    for (const std::string& hook : request.hooks) {
        if (call_hook(directory, request, hook, error)) continue;
        *error += "; the install was undone";
        return undo();
    }
    journal_path.delete_file();
    drop_saved(directory, index, journal);
    return true;
}

bool remove_component(const FilePath& folder, const std::string& name, std::string* error,
                      unsigned lock_timeout_ms, bool force) {
    const FilePath directory = as_directory(folder);
    const FilePath index(directory.text() + kIndexFileName);
    FileLockHolder lock = lock_index(index, lock_timeout_ms, error);
    if (!lock) return false;
    recover_interrupted(directory, index);
    std::vector<IndexRecord> records;
    if (!read_index(index, &records)) {
        *error = index_read_error(index);
        return false;
    }
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
    for (const std::string& path : journal.deletes) FilePath(directory.text() + path).delete_file();
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
