#include "uninstaller/removal.h"

#include <cstdlib>
#include <cstring>
#include <set>

#include "components/component_index.h"
#include "components/file_path.h"
#include "components/registry.h"
#include "components/text_util.h"
#include "platform/ascii_case.h"
#include "platform/platform.h"
#include "uninstaller/uninstaller_texts.h"

namespace sx {

namespace texts = uninstaller_texts;

namespace {

constexpr size_t kMaxPath = 260;
// An index of the player's lists a few dozen files; a bigger one is not read
// (its records would all be held at once).
constexpr long kMaxIndexBytes = 1L << 20;
// A data folder as big as a drive root must not flood the report.
constexpr size_t kKeptPerFolder = 20;

bool is_link(uint32_t attributes) {
    return attributes != kInvalidFileAttributes && (attributes & kFileAttributeReparsePoint) != 0;
}

bool is_directory(uint32_t attributes) {
    return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory) != 0;
}

uint32_t attributes_of(const std::string& path) {
    return platform().get_file_attributes(path.c_str());
}

// The entries of a folder without "." and "..", as the system lists them.
std::vector<std::string> entries_of(const std::string& folder) {
    std::vector<std::string> names, entries;
    platform().list_directory((folder + "\\*.*").c_str(), &names);
    for (std::string& name : names)
        if (name != "." && name != "..") entries.push_back(std::move(name));
    return entries;
}

std::string because(const std::string& path, const std::string& why) { return path + ": " + why; }

std::string failure_reason() {
    const long error = platform().last_error();
    if (error == kErrorSharingViolation) return texts::kWhyInUse;
    return format_text(texts::kWhyNotRemoved, error);
}

void delete_players_file(const std::string& path, RemovalReport* report) {
    if (!platform().delete_file(path.c_str()) && attributes_of(path) != kInvalidFileAttributes)
        report->left.push_back(because(path, failure_reason()));
}

// A folder of the player's: reported only when it could not go although
// nothing the report names is left in it.
void remove_players_folder(const std::string& path, RemovalReport* report) {
    if (platform().remove_directory(path.c_str())) return;
    if (platform().last_error() != kErrorDirNotEmpty && entries_of(path).empty())
        report->left.push_back(because(path, failure_reason()));
}

// A link goes as what it stands for: a directory link with RemoveDirectory,
// a file link with DeleteFile; neither touches its target.
void remove_link(const std::string& path, uint32_t attributes, RemovalReport* report) {
    const bool removed = is_directory(attributes) ? platform().remove_directory(path.c_str())
                                                  : platform().delete_file(path.c_str());
    if (!removed) report->left.push_back(because(path, failure_reason()));
}

// Everything inside a component folder of the player's.
void remove_tree(const std::string& folder, RemovalReport* report) {
    for (const std::string& name : entries_of(folder)) {
        const std::string path = folder + "\\" + name;
        const uint32_t attributes = attributes_of(path);
        if (attributes == kInvalidFileAttributes) continue;
        if (is_link(attributes)) {
            remove_link(path, attributes, report);
        } else if (is_directory(attributes)) {
            remove_tree(path, report);
        } else {
            delete_players_file(path, report);
        }
    }
    remove_players_folder(folder, report);
}

class KeptList {
public:
    KeptList(RemovalReport* report, std::string folder)
        : report_(report), folder_(std::move(folder)) {}
    ~KeptList() {
        if (more_ > 0)
            report_->kept.push_back(because(folder_, format_text(texts::kWhyMore, more_)));
    }
    KeptList(const KeptList&) = delete;
    KeptList& operator=(const KeptList&) = delete;
    void add(const std::string& path, const std::string& why) {
        if (count_++ < kKeptPerFolder) {
            report_->kept.push_back(because(path, why));
        } else {
            ++more_;
        }
    }

private:
    RemovalReport* report_;
    std::string folder_;
    size_t count_ = 0;
    unsigned more_ = 0;
};

bool is_data_file_name(const std::string& name) {
    for (const char* file : texts::kDataFiles)
        for (const char* companion : texts::kDataFileCompanions)
            if (equals_ignoring_ascii_case(name, std::string(file) + companion)) return true;
    return false;
}

bool is_name_character(char c) {
    return static_cast<unsigned char>(c) >= 32 &&
           std::string("<>:\"|?*/").find(c) == std::string::npos;
}

// Why an element of a path is not plainly a name; empty when it is.
std::string unsound_element_reason(const std::string& element) {
    if (element == "." || element == "..") return texts::kWhyDots;
    if (element.empty() || element.back() == '.' || element.back() == ' ')
        return texts::kWhyOddName;
    for (size_t i = 0; i < element.size(); ++i) {
        if (!is_name_character(element[i])) return texts::kWhyOddName;
        // A short name's tail: "PROGRA~1".
        if (element[i] == '~' && i + 1 < element.size() && element[i + 1] >= '0' &&
            element[i + 1] <= '9')
            return texts::kWhyShortName;
    }
    return std::string();
}

std::vector<std::string> split_elements(const std::string& text) {
    std::vector<std::string> elements;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\\', start);
        elements.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) return elements;
        start = end + 1;
    }
}

// The first folder on the way to `path` (or `path` itself) that is a link;
// empty when there is none. Only the part that exists is looked at.
std::string link_on_the_way(const std::string& path) {
    for (size_t at = path.find('\\', 3);; at = path.find('\\', at + 1)) {
        const std::string prefix = path.substr(0, at);
        const uint32_t attributes = attributes_of(prefix);
        if (attributes == kInvalidFileAttributes) return std::string();
        if (is_link(attributes)) return prefix;
        if (at == std::string::npos || at + 1 >= path.size()) return std::string();
    }
}

// A path relative to the component folder, as the index lists it, that stays
// inside that folder.
bool stays_inside(const std::string& relative) {
    if (relative.empty() || relative.size() >= kMaxPath) return false;
    for (const std::string& element : split_elements(relative))
        if (!unsound_element_reason(element).empty()) return false;
    return true;
}

struct IndexedNames {
    std::set<std::string> files;    // lower case, top level of the component folder
    std::set<std::string> folders;  // lower case, first element of a listed path
};

void add_listed_path(const std::string& component_folder, const std::string& relative,
                     IndexedNames* names, KeptList* kept) {
    if (!stays_inside(relative)) {
        kept->add(component_folder, format_text(texts::kWhyBadEntry, relative.c_str()));
        return;
    }
    const size_t separator = relative.find('\\');
    if (separator == std::string::npos) {
        names->files.insert(ascii_lower(relative));
    } else {
        names->folders.insert(ascii_lower(relative.substr(0, separator)));
    }
}

bool index_size_allowed(const std::string& index) {
    std::FILE* stream = FilePath(index).open_stream("rb");
    if (!stream) return false;
    const bool allowed =
        std::fseek(stream, 0, SEEK_END) == 0 && std::ftell(stream) <= kMaxIndexBytes;
    std::fclose(stream);
    return allowed;
}

bool is_index_file_name(const std::string& name) {
    return starts_with_ignoring_ascii_case(name, texts::kIndexName);
}

// The "components" folder of a data folder: what its own index lists, then
// the index and its companions, last, so that an interrupted removal still
// finds what is left listed.
void clean_component_folder(const std::string& folder, RemovalReport* report) {
    KeptList kept(report, folder);
    const std::string index = folder + "\\" + texts::kIndexName;
    const uint32_t index_attributes = attributes_of(index);
    if (index_attributes == kInvalidFileAttributes || is_link(index_attributes) ||
        is_directory(index_attributes)) {
        kept.add(folder, texts::kWhyNoIndex);
        return;
    }
    std::vector<IndexRecord> records;
    if (!index_size_allowed(index) || !read_index(FilePath(index), &records)) {
        report->left.push_back(because(folder, texts::kWhyIndexUnread));
        return;
    }
    IndexedNames names;
    for (const IndexRecord& record : records)
        for (const auto& file : record.files) add_listed_path(folder, file.second, &names, &kept);
    std::vector<std::string> index_files;
    for (const std::string& name : entries_of(folder)) {
        const std::string path = folder + "\\" + name;
        const std::string lower = ascii_lower(name);
        const uint32_t attributes = attributes_of(path);
        if (attributes == kInvalidFileAttributes) continue;
        const bool listed = names.files.count(lower) > 0;
        const bool component_folder = names.folders.count(lower) > 0;
        if (is_link(attributes)) {
            if (listed || component_folder) {
                remove_link(path, attributes, report);
            } else {
                kept.add(path, texts::kWhyLink);
            }
        } else if (is_directory(attributes)) {
            if (component_folder) {
                remove_tree(path, report);
            } else {
                kept.add(path, texts::kWhyNotPlayers);
            }
        } else if (is_index_file_name(name)) {
            index_files.push_back(path);
        } else if (listed) {
            delete_players_file(path, report);
        } else {
            kept.add(path, texts::kWhyNotPlayers);
        }
    }
    for (const std::string& path : index_files) delete_players_file(path, report);
    remove_players_folder(folder, report);
}

void clean_folder_content(const std::string& folder, RemovalReport* report) {
    KeptList kept(report, folder);
    for (const std::string& name : entries_of(folder)) {
        const std::string path = folder + "\\" + name;
        const uint32_t attributes = attributes_of(path);
        if (attributes == kInvalidFileAttributes) continue;
        if (is_link(attributes)) {
            kept.add(path, texts::kWhyLink);
        } else if (is_directory(attributes)) {
            if (equals_ignoring_ascii_case(name, texts::kComponentsFolder)) {
                clean_component_folder(path, report);
            } else {
                kept.add(path, texts::kWhyNotPlayers);
            }
        } else if (is_data_file_name(name)) {
            delete_players_file(path, report);
        } else {
            kept.add(path, texts::kWhyNotPlayers);
        }
    }
}

// A file value of the player's keys. The file goes only when it bears one of
// the player's plug-in names; a file of the player's components went with
// its component folder already.
void remove_named_file(RegKey root, const char* subkey, const char* name, RemovalReport* report) {
    std::string path;
    if (!read_registry_string(root, subkey, name, &path)) return;
    path = path.substr(0, 1043);
    if (path.empty()) return;
    const std::string source = std::string("\"") + name + "\"";
    const std::string why = unsound_path_reason(path);
    if (!why.empty()) {
        report->kept.push_back(
            because(path, format_text(texts::kWhyNamedUnsound, source.c_str(), why.c_str())));
        return;
    }
    const uint32_t attributes = attributes_of(path);
    if (attributes == kInvalidFileAttributes) return;
    if (is_directory(attributes) || !link_on_the_way(path).empty()) {
        report->kept.push_back(because(path, format_text(texts::kWhyNamedNotFile, source.c_str())));
        return;
    }
    const std::string file_name = path.substr(path.rfind('\\') + 1);
    for (const char* plugin : texts::kNetscapePlugins) {
        if (equals_ignoring_ascii_case(file_name, plugin)) {
            delete_players_file(path, report);
            return;
        }
    }
    report->kept.push_back(because(path, format_text(texts::kWhyNamedFile, source.c_str())));
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
    if (!read_string_value(key.get(), texts::kNetscapeInstallValue, kMaxPath, &text) ||
        text.empty())
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
        const double number = netscape_version_number(name);
        if (number > best_number) {
            best_number = number;
            best = name;
        }
    }
    return best;
}

void store_run_once(const char* name, const std::string& command) {
    RegistryKey key;
    if (key.create(kHkeyLocalMachine, texts::kRunOnceKey) != kErrorSuccess) return;
    // The byte count is the text's length, as every string value of the player's.
    platform().reg_set_value(key.get(), name, kRegSz, command.c_str(),
                             static_cast<uint32_t>(command.size()));
}

std::string system_directory() {
    char buffer[kMaxPath] = {};
    uint32_t length = platform().get_system_directory(buffer, sizeof buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

std::string without_trailing_separator(std::string path) {
    if (!path.empty() && path.back() == '\\') path.pop_back();
    return path;
}

std::string player_folder_under(const std::string& base) {
    return without_trailing_separator(base) + "\\" + texts::kPlayerFolderParent + "\\" +
           texts::kPlayerFolder;
}

struct DataFolder {
    std::string path;
    std::string source;  // the registry value that named it
};

// Every place the system's lookups could have put a data folder, found
// without creating any: the system folder by "SystemDataPath" and by the
// program-files default, the user folder by both shell-folder values, and
// each profile's.
std::vector<DataFolder> data_folders() {
    std::vector<DataFolder> folders;
    std::string value;
    // An empty value names no folder.
    for (const char* key : texts::kShellFolderKeys)
        if (read_registry_string(kHkeyCurrentUser, key, texts::kAppDataValue, &value) &&
            !value.empty())
            folders.push_back({player_folder_under(expand_environment(value)), "\"AppData\""});
    if (read_registry_string(kHkeyLocalMachine, texts::kPlayerSettingsKey, texts::kSystemDataValue,
                             &value) &&
        !value.empty())
        folders.push_back({value, "\"SystemDataPath\""});
    if (read_registry_string(kHkeyLocalMachine, texts::kWindowsKey, texts::kProgramFilesValue,
                             &value) &&
        !value.empty())
        folders.push_back({player_folder_under(value), "\"ProgramFilesDir\""});
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
            RegistryValue image;
            if (read_registry_value(profile.get(), texts::kProfileImagePath, &image) !=
                kErrorSuccess)
                continue;
            const std::string root = expand_environment(registry_value_text(image).substr(0, 1043));
            if (!root.empty())
                folders.push_back({player_folder_under(root), "\"ProfileImagePath\""});
        }
    }
    return folders;
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

void remove_netscape_plugins(RemovalReport* report) {
    std::string directory;
    // Without an install directory nothing is deleted: bare names would be
    // taken relative to whatever the current directory is.
    if (!find_netscape_directory(&directory)) return;
    if (directory.back() != '\\') directory += '\\';
    directory += texts::kNetscapePluginDir;
    for (const char* name : texts::kNetscapePlugins) {
        const std::string path = directory + "\\" + name;
        const uint32_t attributes = attributes_of(path);
        if (attributes == kInvalidFileAttributes || is_directory(attributes)) continue;
        delete_players_file(path, report);
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
    {kHkeyLocalMachine, texts::kUninstallKey},
};

}  // namespace

std::string unsound_path_reason(const std::string& path) {
    if (path.size() >= kMaxPath) return texts::kWhyTooLong;
    if (path.find('/') != std::string::npos) return texts::kWhySlash;
    const char drive = ascii_lower(path.empty() ? '\0' : path[0]);
    if (path.size() < 3 || drive < 'a' || drive > 'z' || path[1] != ':' || path[2] != '\\')
        return texts::kWhyNotFull;
    const std::string rest = without_trailing_separator(path.substr(3));
    if (rest.empty()) return texts::kWhyDriveRoot;
    for (const std::string& element : split_elements(rest)) {
        const std::string why = unsound_element_reason(element);
        if (!why.empty()) return why;
    }
    return std::string();
}

void clean_data_folder(const std::string& folder, const char* source, RemovalReport* report) {
    const std::string why = unsound_path_reason(folder);
    if (!why.empty()) {
        report->left.push_back(
            because(folder, format_text(texts::kWhyRefusedFolder, source, why.c_str())));
        return;
    }
    const std::string path = without_trailing_separator(folder);
    const uint32_t attributes = attributes_of(path);
    if (attributes == kInvalidFileAttributes || !is_directory(attributes)) return;
    const std::string link = link_on_the_way(path);
    if (!link.empty()) {
        report->left.push_back(
            because(path, format_text(texts::kWhyRefusedFolder, source, texts::kWhyLinkOnTheWay)));
        return;
    }
    clean_folder_content(path, report);
    const size_t cut = path.rfind('\\');
    if (!equals_ignoring_ascii_case(path.substr(cut + 1), texts::kPlayerFolder)) return;
    if (!entries_of(path).empty()) return;
    remove_players_folder(path, report);
    const std::string parent = path.substr(0, cut);
    const size_t parent_cut = parent.rfind('\\');
    // Only the player's own parent folder goes with it, and only when empty.
    if (parent_cut != std::string::npos && parent_cut > 2 &&
        equals_ignoring_ascii_case(parent.substr(parent_cut + 1), texts::kPlayerFolderParent))
        platform().remove_directory(parent.c_str());
}

std::string delete_command(const std::string& path, uint32_t platform_id) {
    const char* shell = platform_id == 2 ? "cmd.exe /c del " : "command.com /c del ";
    return shell + ("\"" + path + "\"");
}

double netscape_version_number(const std::string& name) {
    size_t digits = 0, dots = 0;
    for (char c : name) {
        if (c >= '0' && c <= '9') {
            ++digits;
        } else if (c == '.') {
            ++dots;
        } else {
            return 0.0;
        }
    }
    if (digits == 0 || dots > 1 || name.front() == '.' || name.back() == '.') return 0.0;
    // Only digits and one inner point are left: no sign, exponent, hex or "inf".
    return std::strtod(name.c_str(), nullptr);
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

RemovalReport remove_player() {
    RemovalReport report;
    // The same folder may be named twice (both shell-folder values, a profile
    // and the user's own); it is looked at once.
    std::set<std::string> seen;
    for (const DataFolder& folder : data_folders())
        if (seen.insert(ascii_lower(folder.path)).second)
            clean_data_folder(folder.path, folder.source.c_str(), &report);
    remove_control_panel();
    remove_netscape_plugins(&report);
    remove_named_file(kHkeyLocalMachine, texts::kPlayerMachineKey, texts::kIePluginValue, &report);
    remove_named_file(kHkeyLocalMachine, texts::kIeExtensionKey, texts::kIeExtensionValue, &report);
    for (const auto& entry : kPlayerKeys) {
        // The user can only come back to finish through the Add/Remove entry.
        if (std::strcmp(entry.subkey, texts::kUninstallKey) == 0 && !report.complete()) continue;
        delete_registry_tree(entry.root, entry.subkey, kKeyRead | kKeyDelete);
    }
    return report;
}

std::string write_uninstall_log(const RemovalReport& report) {
    FilePath log;
    log.set_to_temp_directory();
    log.append_file(texts::kLogName);
    // Deleting first removes a link of that name rather than writing through
    // it; the exclusive creation then makes a file of our own.
    log.delete_file();
    if (platform().create_new_file(log.c_str()) != CreateNewResult::created) return std::string();
    std::string text = texts::kLogHead;
    const auto add_part = [&text](const char* head, const std::vector<std::string>& lines,
                                  const char* tail) {
        if (lines.empty()) return;
        text += head;
        for (size_t i = 0; i < lines.size() && i < texts::kLogLinesPerPart; ++i)
            text += "  " + lines[i] + "\r\n";
        if (lines.size() > texts::kLogLinesPerPart)
            text += format_text(texts::kLogMore,
                                static_cast<unsigned>(lines.size() - texts::kLogLinesPerPart));
        text += tail;
    };
    add_part(texts::kLogLeftHead, report.left, texts::kLogLeftTail);
    add_part(texts::kLogKeptHead, report.kept, "");
    std::FILE* stream = log.open_stream("wb");
    if (!stream) return std::string();
    const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    if (std::fclose(stream) != 0 || !written) return std::string();
    return log.text();
}

}  // namespace sx
