#include "uninstaller/removal.h"

#include <cstdlib>
#include <cstring>

#include "components/registry.h"
#include "components/text_util.h"
#include "platform/platform.h"
#include "uninstaller/uninstaller_texts.h"

namespace sx {

namespace texts = uninstaller_texts;

namespace {

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_link(uint32_t attributes) {
    return attributes != kInvalidFileAttributes && (attributes & kFileAttributeReparsePoint) != 0;
}

bool is_directory(uint32_t attributes) {
    return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory) != 0;
}

// A link goes as what it stands for says: a directory link with
// RemoveDirectory, a file link with DeleteFile; neither touches the target.
void remove_link(const std::string& path, uint32_t attributes) {
    if (is_directory(attributes)) {
        platform().remove_directory(path.c_str());
    } else {
        platform().delete_file(path.c_str());
    }
}

bool empty_directory_visit(const FilePath& entry, void* argument, bool entry_is_directory);

void empty_directory(const FilePath& directory) {
    directory.for_each_entry(empty_directory_visit, nullptr);
}

bool empty_directory_visit(const FilePath& entry, void*, bool entry_is_directory) {
    const std::string name = entry.file_name();
    if (name == "." || name == "..") return true;
    const uint32_t attributes = platform().get_file_attributes(entry.c_str());
    if (is_link(attributes)) {
        remove_link(entry.text(), attributes);
    } else if (entry_is_directory) {
        empty_directory(entry);
        entry.remove_directory();
    } else {
        entry.delete_file();
    }
    return true;
}

bool same_name(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    }
    return true;
}

// The text of a string-typed value, up to its first zero and `limit` bytes.
bool read_string_value(RegKey key, const char* name, size_t limit, std::string* text) {
    RegistryValue value;
    if (read_registry_value(key, name, &value) != kErrorSuccess) return false;
    if (!is_registry_string_type(value.type)) return false;
    *text = registry_value_text(value).substr(0, limit);
    return true;
}

bool read_install_directory(RegKey root, const std::string& subkey, std::string* directory) {
    RegistryKey key;
    if (key.open(root, subkey.c_str(), kKeyAllAccess) != kErrorSuccess) return false;
    std::string text;
    // An empty value names no directory: the plug-in names would otherwise be
    // taken relative to the drive root.
    if (!read_string_value(key.get(), texts::kNetscapeInstallValue, 260, &text) || text.empty())
        return false;
    *directory = text;
    return true;
}

// The version subkey with the greatest number above 0 (the first of equal
// ones); empty when there is none.
std::string newest_netscape_version(RegKey key) {
    std::string best;
    double best_number = 0.0;
    for (uint32_t index = 0;; ++index) {
        char name[261] = {};
        uint32_t size = sizeof name;
        long result = platform().reg_enum_key(key, index, name, &size);
        if (result == kErrorMoreData) continue;
        if (result != kErrorSuccess) break;
        double number = std::strtod(name, nullptr);
        if (number > best_number) {
            best_number = number;
            best = name;
        }
    }
    return best;
}

// A file value of the player's keys: deleted when it names a file (never a
// folder, nor what a link points at).
void delete_named_file(RegKey root, const char* subkey, const char* name) {
    std::string path;
    if (!read_registry_string(root, subkey, name, &path)) return;
    path = path.substr(0, 1043);
    if (path.empty()) return;
    const uint32_t attributes = platform().get_file_attributes(path.c_str());
    if (attributes == kInvalidFileAttributes || is_directory(attributes)) return;
    platform().delete_file(path.c_str());
}

void store_run_once(const char* name, const std::string& command) {
    RegistryKey key;
    if (key.create(kHkeyLocalMachine, texts::kRunOnceKey) != kErrorSuccess) return;
    platform().reg_set_value(key.get(), name, kRegSz, command.c_str(),
                             static_cast<uint32_t>(command.size() + 1));
}

std::string system_directory() {
    char buffer[260] = {};
    uint32_t length = platform().get_system_directory(buffer, sizeof buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

// Every profile root, expanded, from both profile lists.
std::vector<std::string> profile_roots() {
    std::vector<std::string> roots;
    for (const char* list : texts::kProfileLists) {
        RegistryKey key;
        if (key.open(kHkeyLocalMachine, list, kKeyRead) != kErrorSuccess) continue;
        for (uint32_t index = 0;; ++index) {
            char name[261] = {};
            uint32_t size = sizeof name;
            long result = platform().reg_enum_key(key.get(), index, name, &size);
            if (result == kErrorMoreData) continue;
            if (result != kErrorSuccess) break;
            RegistryKey profile;
            if (profile.open(key.get(), name, kKeyQueryValue) != kErrorSuccess) continue;
            std::string path;
            RegistryValue value;
            if (read_registry_value(profile.get(), texts::kProfileImagePath, &value) ==
                kErrorSuccess) {
                path = registry_value_text(value).substr(0, 1043);
            }
            roots.push_back(expand_environment(path));
        }
    }
    return roots;
}

void remove_data_directory(bool user, const ProtectedFolders& protect) {
    FilePath directory;
    if (user) {
        directory.set_to_user_data_directory();
    } else {
        directory.set_to_system_data_directory();
    }
    if (directory.exists()) remove_directory_tree(directory, protect);
}

void remove_control_panel() {
    const std::string system = system_directory();
    if (system.empty()) return;
    FilePath file(system + texts::kControlPanelFile);
    if (!file.exists()) return;
    if (!file.delete_file()) {
        store_run_once(texts::kRunOnceControlPanel,
                       delete_command(file.text(), platform().os_version().platform_id));
    }
}

void remove_netscape_plugins() {
    std::string directory;
    // Without an install directory nothing is deleted: bare names would be
    // taken relative to whatever the current directory is.
    if (!find_netscape_directory(&directory)) return;
    if (directory.back() != '\\') directory += '\\';
    directory += texts::kNetscapePluginDir;
    for (const char* name : texts::kNetscapePlugins) {
        FilePath(directory + "\\" + name).delete_file();
    }
}

void remove_profile_folders(const std::vector<std::string>& roots,
                            const ProtectedFolders& protect) {
    for (const std::string& root : roots) {
        if (root.empty()) continue;
        std::string path = root;
        if (path.back() != '\\') path += '\\';
        path += texts::kPlayerFolderParent;
        path += '\\';
        path += texts::kPlayerFolder;
        remove_directory_tree(FilePath(path), protect);
    }
}

constexpr struct {
    RegKey root;
    const char* subkey;
} kPlayerKeys[] = {
    {kHkeyClassesRoot, ".sxv"},
    {kHkeyClassesRoot, ".sxvm"},
    {kHkeyClassesRoot, ".sgv"},
    {kHkeyClassesRoot, ".sgvm"},
    {kHkeyClassesRoot, "StellarixBytecode"},
    {kHkeyClassesRoot, "StellarixSGVM"},
    {kHkeyCurrentUser, "SOFTWARE\\Stellarix\\Stellarix3D"},
    {kHkeyLocalMachine, "SOFTWARE\\Stellarix\\Stellarix3D"},
    {kHkeyLocalMachine, "SOFTWARE\\Stellarix\\ActiveXStellarix"},
    {kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Internet Explorer\\Plugins\\Extension\\.sxvm"},
    {kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Internet Explorer\\Plugins\\Extension\\.sgvm"},
    {kHkeyLocalMachine,
     "SOFTWARE\\Microsoft\\Internet Explorer\\Plugins\\MIME\\application/x-Stellarix-3D-Applet"},
    {kHkeyLocalMachine,
     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Stellarix 3D Player"},
};

}  // namespace

std::string normalized_folder(const std::string& path) {
    std::string text = path;
    for (char& c : text) c = c == '/' ? '\\' : ascii_lower(c);
    std::string head;
    size_t start = 0;
    if (text.size() >= 3 && text[1] == ':' && text[2] == '\\' && text[0] >= 'a' && text[0] <= 'z') {
        head = text.substr(0, 2);
        start = 3;
    } else if (text.compare(0, 2, "\\\\") == 0) {
        head = "\\";
        start = 2;
    } else {
        return std::string();
    }
    std::vector<std::string> parts;
    while (start <= text.size()) {
        size_t end = text.find('\\', start);
        if (end == std::string::npos) end = text.size();
        std::string part = text.substr(start, end - start);
        // Windows drops trailing dots and blanks from a path element.
        while (!part.empty() && (part.back() == '.' || part.back() == ' ') && part != "." &&
               part != "..")
            part.pop_back();
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string result = head;
    for (const std::string& part : parts) result += "\\" + part;
    // A UNC path needs its server and share before it names a folder.
    if (head == "\\" && parts.size() < 2) return std::string();
    return result;
}

void ProtectedFolders::add(const std::string& path) {
    std::string folder = normalized_folder(path);
    if (!folder.empty()) folders_.push_back(folder);
}

bool ProtectedFolders::covers(const std::string& path) const {
    const std::string folder = normalized_folder(path);
    if (folder.empty()) return true;
    // A drive root ("c:") or a share root ("\\server\share").
    if (folder.size() == 2 && folder[1] == ':') return true;
    if (folder[0] == '\\' && folder.find('\\', folder.find('\\', 2) + 1) == std::string::npos)
        return true;
    for (const std::string& protected_folder : folders_) {
        if (protected_folder == folder) return true;
        if (protected_folder.size() > folder.size() &&
            protected_folder.compare(0, folder.size(), folder) == 0 &&
            protected_folder[folder.size()] == '\\')
            return true;
    }
    return false;
}

ProtectedFolders ProtectedFolders::from_system() {
    ProtectedFolders result;
    FilePath temp;
    temp.set_to_temp_directory();
    result.add(temp.text());
    const std::string system = system_directory();
    result.add(system);
    FilePath windows(system);
    windows.to_parent();
    result.add(windows.text());
    for (const char* name :
         {"SystemRoot", "windir", "ProgramFiles", "USERPROFILE", "TEMP", "TMP"}) {
        std::string value;
        if (platform().get_environment_variable(name, &value)) result.add(value);
    }
    std::string program_files;
    if (read_registry_string(kHkeyLocalMachine, texts::kWindowsKey, texts::kProgramFilesValue,
                             &program_files))
        result.add(expand_environment(program_files));
    for (const std::string& root : profile_roots()) {
        result.add(root);
        FilePath parent(root);
        parent.to_parent();
        result.add(parent.text());
    }
    return result;
}

void remove_directory_tree(const FilePath& directory, const ProtectedFolders& protect) {
    if (protect.covers(directory.text())) return;
    const uint32_t attributes = platform().get_file_attributes(directory.c_str());
    if (attributes == kInvalidFileAttributes) return;
    if (is_link(attributes)) {
        remove_link(directory.text(), attributes);
    } else if (is_directory(attributes)) {
        empty_directory(directory);
        directory.remove_directory();
    } else {
        return;
    }
    FilePath parent(directory);
    parent.to_parent();
    // Only the player's own parent folder goes with it, and only when empty.
    if (same_name(parent.file_name(), texts::kPlayerFolderParent) && !protect.covers(parent.text()))
        parent.remove_directory();
}

std::string delete_command(const std::string& path, uint32_t platform_id) {
    const char* shell = platform_id == 2 ? "cmd.exe /c del " : "command.com /c del ";
    return shell + ("\"" + path + "\"");
}

bool find_netscape_directory(std::string* directory) {
    std::string from_user;
    std::string from_machine;
    const bool user = read_install_directory(kHkeyCurrentUser, texts::kNetscapeUserKey, &from_user);
    bool machine = false;
    RegistryKey key;
    if (key.open(kHkeyLocalMachine, texts::kNetscapeMachineKey, kKeyAllAccess) == kErrorSuccess) {
        const std::string version = newest_netscape_version(key.get());
        if (!version.empty())
            machine = read_install_directory(key.get(), version + "\\Main", &from_machine);
    }
    if (machine) {
        *directory = from_machine;
    } else if (user) {
        *directory = from_user;
    }
    return machine || user;
}

void remove_player() {
    // Gathered before anything changes; the profile list is read again below
    // exactly as the system holds it.
    const ProtectedFolders protect = ProtectedFolders::from_system();
    remove_data_directory(true, protect);
    remove_data_directory(false, protect);
    remove_control_panel();
    remove_netscape_plugins();
    delete_named_file(kHkeyLocalMachine, texts::kPlayerMachineKey, texts::kIePluginValue);
    delete_named_file(kHkeyLocalMachine, texts::kIeExtensionKey, texts::kIeExtensionValue);
    remove_profile_folders(profile_roots(), protect);
    for (const auto& entry : kPlayerKeys) {
        delete_registry_tree(entry.root, entry.subkey, kKeyRead | kKeyDelete);
    }
}

}  // namespace sx
