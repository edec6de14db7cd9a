#include "components/install_hook.h"

#include <cstring>

namespace sx {

bool find_install_entry(const char* library_path, int count, const char* const* names,
                        const char* const* values, const char* key, FilePath* file) {
    if (!library_path || !names || !values || !key || count <= 0) return false;
    for (int i = 0; i < count; ++i) {
        if (!names[i] || std::strcmp(names[i], key) != 0) continue;
        if (!values[i]) return false;
        FilePath path(library_path);
        path.append_file(values[i]);
        *file = path;
        return true;
    }
    return false;
}

}  // namespace sx
