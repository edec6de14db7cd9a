/* A component installer written in C, as the outside ones are: it must be
 * able to use the public header as it stands. */
#include "include/install_hook.h"

void sx_c_installer_call(component_install_initialize_function entry, const char* library,
                         const char* key, const char* relative_path) {
    const char* names[2];
    const char* values[2];
    names[0] = "other";
    values[0] = "other.exe";
    names[1] = key;
    values[1] = relative_path;
    entry(library, 2, names, values);
}
