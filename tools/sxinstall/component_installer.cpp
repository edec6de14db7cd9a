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
    // execute permission, which installed programs need).
    if (!platform().copy_file(source.c_str(), destination.c_str(), false)) {
        *error = "cannot copy " + source.text() + " to " + destination.text();
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
        *error = "cannot create the component directory " + directory.text();
        return false;
    }

    IndexRecord record;
    record.name = request.name;
    record.version = request.version;
    for (const ComponentFile& file : request.files)
        record.files.emplace_back(file.key, backslashes(file.relative_path));

    {
        // Held from the first copied file to the new index: two installers
        // never mix their files, and readers wait briefly for a whole index.
        const FilePath index(directory.text() + kIndexFileName);
        FileLockHolder lock = acquire_lock(index, request.lock_timeout_ms);
        if (!lock) {
            *error = "the index " + index.text() + " stays locked by another program";
            return false;
        }
        for (const FilePath& folder : request.folders) {
            std::vector<std::pair<FilePath, std::string>> found;
            FolderWalk walk{"", &found};
            if (!as_directory(folder).for_each_entry(visit_entry, &walk) || !walk.ok) {
                *error = "cannot list the folder " + folder.text();
                return false;
            }
            for (const auto& [source, relative] : found) {
                // A folder copied from another component directory brings
                // its index along; ours is written below.
                if (starts_with_ignoring_ascii_case(relative, kIndexFileName)) continue;
                if (!copy_into(directory, source, relative, error)) return false;
            }
        }
        for (const ComponentFile& file : request.files) {
            if (!file.source.empty()) {
                if (!copy_into(directory, file.source, backslashes(file.relative_path), error))
                    return false;
            } else if (!FilePath(directory.text() + backslashes(file.relative_path)).exists()) {
                *error = "the entry " + file.key +
                         " names a file that is not installed: " + file.relative_path;
                return false;
            }
        }

        std::vector<IndexRecord> records;
        if (!read_index(index, &records)) {
            *error = "cannot read the index " + index.text();
            return false;
        }
        // The new record takes the place of the old one, so the index keeps
        // its order.
        auto old = std::find_if(records.begin(), records.end(), [&](const IndexRecord& r) {
            return same_component(r, request.name);
        });
        if (old != records.end()) {
            *old = record;
            records.erase(std::remove_if(old + 1, records.end(),
                                         [&](const IndexRecord& r) {
                                             return same_component(r, request.name);
                                         }),
                          records.end());
        } else {
            records.push_back(record);
        }
        if (!write_index(index, records)) {
            *error = "cannot write the index " + index.text();
            return false;
        }
    }

    for (const std::string& hook : request.hooks)
        if (!call_hook(directory, request, hook, error)) return false;
    return true;
}

bool remove_component(const FilePath& folder, const std::string& name, std::string* error,
                      unsigned lock_timeout_ms) {
    const FilePath directory = as_directory(folder);
    const FilePath index(directory.text() + kIndexFileName);
    std::vector<IndexRecord> removed;
    {
        FileLockHolder lock = acquire_lock(index, lock_timeout_ms);
        if (!lock) {
            *error = "the index " + index.text() + " is locked or its folder is missing";
            return false;
        }
        std::vector<IndexRecord> records;
        if (!read_index(index, &records)) {
            *error = "cannot read the index " + index.text();
            return false;
        }
        auto kept =
            std::stable_partition(records.begin(), records.end(),
                                  [&](const IndexRecord& r) { return !same_component(r, name); });
        removed.assign(kept, records.end());
        if (removed.empty()) {
            *error = "no component " + name + " in " + index.text();
            return false;
        }
        records.erase(kept, records.end());
        if (!write_index(index, records)) {
            *error = "cannot write the index " + index.text();
            return false;
        }
    }
    // The files go only after the index no longer names them.
    for (const IndexRecord& record : removed)
        for (const auto& entry : record.files)
            if (valid_relative_path(entry.second))
                FilePath(directory.text() + entry.second).delete_file();
    return true;
}

bool list_components(const FilePath& folder, std::vector<IndexRecord>* records,
                     std::string* error) {
    const FilePath index(as_directory(folder).text() + kIndexFileName);
    // Like every reader: wait a little for a writer, then read anyway.
    FileLockHolder lock = acquire_lock(index, 250);
    if (!read_index(index, records)) {
        *error = "cannot read the index " + index.text();
        return false;
    }
    return true;
}

}  // namespace sx::install
