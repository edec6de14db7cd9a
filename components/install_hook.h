// The arguments the component installer hands to an install hook: the hook
// library's installed path and the component's (key, relative path) entries.
#pragma once

#include <string>

#include "components/file_path.h"

namespace sx {

// Looks for `key` among the entries (byte-wise, first match). When found,
// `file` becomes the entry's file beside the hook library: the library path
// with its last element replaced by the entry's relative path. False when the
// key is absent, the count is not positive, or the arrays are missing.
bool find_install_entry(const char* library_path, int count, const char* const* names,
                        const char* const* values, const char* key, FilePath* file);

}  // namespace sx
