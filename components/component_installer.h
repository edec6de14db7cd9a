// The component installer: copies a component's files into a component
// directory, keeps that directory's "compindx.dat" and calls the component's
// install hooks. The setup program and sxinstall both install through it.
#pragma once

#include <string>
#include <vector>

#include "components/component_index.h"
#include "components/component_search.h"
#include "components/file_path.h"

namespace sx::install {

// One file of a component: its key in the index, its path relative to the
// component directory and, when it is to be copied, where it comes from.
struct ComponentFile {
    std::string key;
    std::string relative_path;
    FilePath source;  // empty: already in place (copied with a folder)
};

struct InstallRequest {
    std::string name;
    int version = 0;
    FilePath directory;                // the component directory
    std::vector<FilePath> folders;     // copied whole into the directory
    std::vector<ComponentFile> files;  // the index entries
    std::vector<std::string> hooks;    // keys of entries that are hook libraries
    unsigned lock_timeout_ms = 10000;  // wait for readers and other installers
    bool force = false;                // take over files other components list
};

// Texts that can stand in an index line: no line breaks, no white space at
// either end, not empty; keys also without ";".
bool valid_component_name(const std::string& name);
bool valid_file_key(const std::string& key);
// A relative path inside the component directory: no drive, no leading
// separator, no empty, "." or ".." element. "/" counts as "\".
bool valid_relative_path(const std::string& path);

// `file` (relative to the component directory) as seen from the folder that
// holds `hook` (also relative to it): "..\" for every level up.
std::string path_relative_to_hook(const std::string& hook, const std::string& file);

// The folder as a directory path (with its trailing backslash).
FilePath as_directory(const FilePath& folder);

// "Components-System" (or "Components-User") as the components find it.
bool default_component_directory(bool per_user, FilePath* directory);

// Each gives false with a message for the user on failure.
bool install_component(const InstallRequest& request, std::string* error);
bool remove_component(const FilePath& directory, const std::string& name, std::string* error,
                      unsigned lock_timeout_ms = 10000, bool force = false);
bool list_components(const FilePath& directory, std::vector<IndexRecord>* records,
                     std::string* error);

}  // namespace sx::install
