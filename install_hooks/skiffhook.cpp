// skiffhook: the launcher component's install hook.
#define SX_BUILDING_INSTALL_HOOK
#include "include/install_hook.h"

#include "components/install_hook.h"
#include "install_hooks/hook_registration.h"
#include "install_hooks/hook_texts.h"

extern "C" SX_INSTALL_HOOK_API void SX_INSTALL_HOOK_CALL component_install_initialize(
    const char* library_path, int32_t count, const char* const* names, const char* const* values) {
    // The installer is not ours: nothing may escape into it.
    try {
        sx::FilePath launcher;
        if (sx::find_install_entry(library_path, count, names, values, sx::hooks::kSkiffKey,
                                   &launcher))
            sx::hooks::register_applet_association(launcher);
    } catch (...) {
    }
}
