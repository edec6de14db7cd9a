// The install hook stellarix.cpl exports for the component installer.
#define SX_BUILDING_INSTALL_HOOK
#include "include/install_hook.h"

#include "control_panel/cpl_hook.h"

extern "C" SX_INSTALL_HOOK_API void SX_INSTALL_HOOK_CALL component_install_initialize(
    const char* library_path, int32_t count, const char* const* names, const char* const* values) {
    // The installer is not ours: nothing may escape into it.
    try {
        sx::cpl::install_control_panel(library_path, count, names, values);
    } catch (...) {
    }
}
