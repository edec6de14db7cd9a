// The registry work of the two install hooks, apart from their exported entry
// points so that it can be exercised in-process.
#pragma once

#include <string>

#include "components/file_path.h"
#include "platform/platform.h"

namespace sx::hooks {

// Associates ".sxvm" files with the launcher and records its path. Stops at
// the first key that cannot be created (earlier keys stay); false then.
bool register_applet_association(const FilePath& launcher);

// Deletes `path` under `root` with all its subkeys. Ends also when a subkey
// cannot be deleted or its name does not fit the enumeration buffer (the
// rest of the tree then stays); true only when the key itself is gone.
bool delete_registry_tree(RegKey root, const std::string& path);

// Removes the older Add/Remove Programs entry and writes the current one for
// the uninstaller program. False when the entry's key cannot be created.
bool register_uninstall_entry(const FilePath& uninstaller);

}  // namespace sx::hooks
