// A complete component environment for tests: system and user data
// directories inside a scratch folder, registered as the process's component
// directories, and c:\ComponentSearch.txt under the test's control.
#pragma once

#include <string>

#include "components/data_directories.h"
#include "components/testing/registry_guard.h"
#include "components/testing/scratch.h"

namespace sx::testing {

constexpr const char* kSearchListFile = "c:\\ComponentSearch.txt";

class ComponentEnvironment {
public:
    ComponentEnvironment() {
        had_search_list_ = read_file(kSearchListFile, &saved_search_list_);
        FilePath(kSearchListFile).delete_file();
        system_path_.set(scratch_ / "system");
        // Shell folders exist on a real machine before anything is put in them.
        FilePath(scratch_ / "appdata\\").ensure_directory();
        user_shell_.set(scratch_ / "appdata");
        reset_component_directories();
        register_component_directories();
    }
    ~ComponentEnvironment() {
        if (had_search_list_) {
            write_file(kSearchListFile, saved_search_list_);
        } else {
            FilePath(kSearchListFile).delete_file();
        }
        reset_component_directories();
    }

    const ScratchDir& scratch() const { return scratch_; }
    std::string system_components() const { return scratch_ / "system\\components\\"; }
    std::string user_components() const {
        return scratch_ / "appdata\\Stellarix\\Stellarix Player\\components\\";
    }
    // Writes `content` as the index of a folder (created if needed).
    static bool write_index(const std::string& directory, const std::string& content) {
        return FilePath(directory).ensure_directory() &&
               write_file(directory + "compindx.dat", content);
    }
    static bool write_search_list(const std::string& content) {
        return write_file(kSearchListFile, content);
    }

    RegistryValueGuard& system_path() { return system_path_; }
    RegistryValueGuard& program_files() { return program_files_; }

private:
    ScratchDir scratch_;
    RegistryValueGuard system_path_{kHkeyLocalMachine, "SOFTWARE\\Stellarix\\Stellarix Player\\",
                                    "SystemDataPath"};
    RegistryValueGuard program_files_{
        kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir"};
    RegistryValueGuard user_shell_{
        kHkeyCurrentUser,
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", "AppData"};
    bool had_search_list_ = false;
    std::string saved_search_list_;
};

}  // namespace sx::testing
