// The registry work of the two install hooks, apart from their exported entry
// points so that it can be exercised in-process.
#pragma once

#include <string>

#include "components/file_path.h"
#include "components/registry.h"
#include "platform/platform.h"

namespace sx::hooks {

// Associates ".sxvm" files with the launcher and records its path. Stops at
// the first key that cannot be created (earlier keys stay); false then.
bool register_applet_association(const FilePath& launcher);

// Removes the older Add/Remove Programs entry and writes the current one for
// the uninstaller program. False when the entry's key cannot be created.
bool register_uninstall_entry(const FilePath& uninstaller);

}  // namespace sx::hooks
