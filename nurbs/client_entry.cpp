// The component client trio: the player's entry protocol.
#include "include/ruvane.h"
#include "nurbs/conventions.h"
#include "nurbs/fp_state.h"
#include "nurbs/host.h"

namespace ruvane {

namespace {
ComponentServices g_host = {};
}  // namespace

const ComponentServices& host_services() { return g_host; }

void set_host_services(const ComponentServices* table) { copy_component_services(table, &g_host); }

}  // namespace ruvane

extern "C" {

RUVANE_API int32_t component_client_interface_version(void) { return 1; }

RUVANE_API bool component_client_init(const ComponentServices* services) {
    ruvane::FpStateGuard fp;
    // A host without a table gives us no memory at all; refuse rather than
    // fault later on a null slot.
    if (services == nullptr) return false;
    ruvane::set_host_services(services);
    return true;
}

RUVANE_API void component_client_shutdown(void) {}

RUVANE_API int32_t ruvane_last_error(char* routine) {
    const ruvane::ErrorRecord& e = ruvane::error_record();
    if (routine != nullptr) {
        int k = 0;
        for (; e.routine != nullptr && e.routine[k] != '\0' && k < 8; ++k)
            routine[k] = e.routine[k];
        routine[k] = '\0';
    }
    return e.code;
}

}  // extern "C"
