#include "components/data_directories.h"

#include <map>

#include "components/text_util.h"

namespace sx {

namespace {

constexpr const char* kUserShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr const char* kShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* kPlayerKey = "SOFTWARE\\Stellarix\\Stellarix Player\\";
constexpr const char* kWindowsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

struct DirectoryEntry {
    bool present = false;
    FilePath directory;
};

std::map<std::string, DirectoryEntry>& directory_registry() {
    static std::map<std::string, DirectoryEntry> registry;
    return registry;
}

void register_directory(const std::string& name, bool present, const FilePath& directory) {
    // The first registration of a name stays.
    directory_registry().emplace(name, DirectoryEntry{present, directory});
}

bool player_folder_under(const std::string& base, FilePath* directory) {
    FilePath path(base);
    path.append_dir("Stellarix");
    path.append_dir("Stellarix Player");
    *directory = path;
    return path.ensure_directory();
}

}  // namespace

bool user_data_directory(FilePath* directory) {
    std::string value;
    if (read_registry_string(kHkeyCurrentUser, kUserShellFolders, "AppData", &value)) {
        FilePath found;
        if (player_folder_under(expand_environment(value), &found)) {
            *directory = found;
            return true;
        }
    }
    if (read_registry_string(kHkeyCurrentUser, kShellFolders, "AppData", &value)) {
        FilePath found;
        if (player_folder_under(expand_environment(value), &found)) {
            *directory = found;
            return true;
        }
    }
    return false;
}

bool system_data_directory(FilePath* directory) {
    std::string value;
    if (read_registry_string(kHkeyLocalMachine, kPlayerKey, "SystemDataPath", &value)) {
        FilePath path(value);
        if (path.ensure_directory()) {
            *directory = path;
            return true;
        }
    }
    if (read_registry_string(kHkeyLocalMachine, kWindowsKey, "ProgramFilesDir", &value)) {
        FilePath found;
        if (player_folder_under(value, &found)) {
            *directory = found;
            return true;
        }
    }
    return false;
}

void register_component_directories() {
    FilePath directory;
    if (system_data_directory(&directory)) {
        directory.append_dir("components");
        register_directory("Components-System", true, directory);
    } else {
        register_directory("Components-System", false, FilePath());
    }
    if (user_data_directory(&directory)) {
        directory.append_dir("components");
        register_directory("Components-User", true, directory);
    } else {
        register_directory("Components-User", false, FilePath());
    }
}

bool find_component_directory(const std::string& name, FilePath* directory) {
    const auto& registry = directory_registry();
    auto it = registry.find(name);
    if (it == registry.end() || !it->second.present) return false;
    *directory = it->second.directory;
    return true;
}

void reset_component_directories() { directory_registry().clear(); }

}  // namespace sx
