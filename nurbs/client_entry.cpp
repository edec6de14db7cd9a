// The component client trio: the player's entry protocol.
#include "include/ruvane.h"
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
    // A host without a table gives us no memory at all; refuse rather than
    // fault later on a null slot.
    if (services == nullptr) return false;
    ruvane::set_host_services(services);
    return true;
}

RUVANE_API void component_client_shutdown(void) {}

}  // extern "C"
