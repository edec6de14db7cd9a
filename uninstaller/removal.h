// The removal run by the uninstaller's second stage: the player's data and
// component directories, the control panel file, the browser plug-ins, the
// per-user data of every profile and the registry keys of the installers.
// Every step is attempted whatever happened before; nothing is reported.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "components/file_path.h"

namespace sx {

// Folders that no removal may delete or empty, whatever the registry says: a
// wrong data path or profile path must not cost the user the system or other
// people's files.
class ProtectedFolders {
public:
    // Gathers them from the system: the Windows, system and temporary
    // directories, the program-files directory, every profile root and the
    // profiles' parents.
    static ProtectedFolders from_system();

    void add(const std::string& path);
    // True when removing `path` as a tree would touch a protected folder: the
    // path is one, contains one, is a drive root, or is not a full path.
    bool covers(const std::string& path) const;

private:
    std::vector<std::string> folders_;  // normalised
};

// "c:\a\b" form: backslashes, "." and ".." resolved, ASCII lower case, no
// trailing separator. Empty when the text is not a full path (drive or UNC).
std::string normalized_folder(const std::string& path);

// Removes the directory with everything in it, then its parent when that is
// the player's "Stellarix" folder and now empty. A link is removed as a link;
// the walk never enters what it points at.
void remove_directory_tree(const FilePath& directory, const ProtectedFolders& protect);

// The command that deletes `path` at the next system start.
std::string delete_command(const std::string& path, uint32_t platform_id);

// The Netscape install directory; false when none is recorded.
bool find_netscape_directory(std::string* directory);

// The whole removal, in order.
void remove_player();

}  // namespace sx
