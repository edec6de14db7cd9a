/* The entry point of install hooks, for component installers written in C or
 * C++.
 *
 * After installing a component, the installer loads each of its hook
 * libraries (skiffhook, purgehook, stellarix.cpl) and calls
 * component_install_initialize once:
 *
 *   library_path  full path of the hook library as installed;
 *   count         number of entries;
 *   names         `count` keys of the component's files;
 *   values        `count` paths of those files, relative to the folder that
 *                 holds the hook library, paired with `names` by index.
 *
 * The hook registers what its component needs (file types, Add/Remove
 * Programs entry) and reports nothing. On 32-bit Windows the function is
 * cdecl and exported under its plain name, so
 * GetProcAddress(module, "component_install_initialize") finds it.
 */
#ifndef SX_INCLUDE_INSTALL_HOOK_H
#define SX_INCLUDE_INSTALL_HOOK_H

#include <stdint.h>

#if defined(_WIN32)
#define SX_INSTALL_HOOK_CALL __cdecl
#if defined(SX_BUILDING_INSTALL_HOOK)
#define SX_INSTALL_HOOK_API __declspec(dllexport)
#else
#define SX_INSTALL_HOOK_API
#endif
#else
#define SX_INSTALL_HOOK_CALL
#define SX_INSTALL_HOOK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define SX_INSTALL_HOOK_ENTRY_NAME "component_install_initialize"

typedef void(SX_INSTALL_HOOK_CALL* component_install_initialize_function)(
    const char* library_path, int32_t count, const char* const* names, const char* const* values);

SX_INSTALL_HOOK_API void SX_INSTALL_HOOK_CALL component_install_initialize(
    const char* library_path, int32_t count, const char* const* names, const char* const* values);

#ifdef __cplusplus
}
#endif

#endif /* SX_INCLUDE_INSTALL_HOOK_H */
