// The image component is loaded once per process and kept while any
// component_client_init is outstanding.
#include "advertising/host_memory.h"
#include "advertising/pixmill_api.h"

namespace ad {

namespace {

struct Binding {
    int use_count = 0;
    void* component = nullptr;
    ComponentUnloadFn unload = nullptr;
    PixmillEntries entries = {};
};
Binding g_binding;

template <class Fn>
bool look_up(ComponentEntryFn get_entry, void* component, const char* name, Fn* out) {
    *out = reinterpret_cast<Fn>(get_entry(component, name));
    return *out != nullptr;
}

bool look_up_all(ComponentEntryFn get, void* c, PixmillEntries* e) {
    return look_up(get, c, "pixmill_open", &e->open) &&
           look_up(get, c, "pixmill_height", &e->height) &&
           look_up(get, c, "pixmill_width", &e->width) &&
           look_up(get, c, "pixmill_frames", &e->frames) &&
           look_up(get, c, "pixmill_duration", &e->duration) &&
           look_up(get, c, "pixmill_has_alpha", &e->has_alpha) &&
           look_up(get, c, "pixmill_load", &e->load) &&
           look_up(get, c, "pixmill_close", &e->close) &&
           look_up(get, c, "pixmill_save", &e->save) &&
           look_up(get, c, "pixmill_scale", &e->scale) &&
           look_up(get, c, "pixmill_get_format", &e->get_format);
}

}  // namespace

bool bind_pixmill() {
    if (g_binding.use_count++ != 0) return true;
    const ComponentServices& host = host_table();
    void* component = host.load_component ? host.load_component("pixmill", 1, 1) : nullptr;
    if (!component) {
        --g_binding.use_count;
        return false;
    }
    g_binding.component = component;
    g_binding.unload = host.unload_component;
    if (!host.get_component_entry ||
        !look_up_all(host.get_component_entry, component, &g_binding.entries)) {
        release_pixmill();
        return false;
    }
    return true;
}

void release_pixmill() {
    if (g_binding.use_count <= 0) return;
    if (--g_binding.use_count != 0) return;
    if (g_binding.unload && g_binding.component) g_binding.unload(g_binding.component);
    g_binding = Binding{};
}

const PixmillEntries* pixmill() {
    return g_binding.component && g_binding.entries.open ? &g_binding.entries : nullptr;
}

}  // namespace ad
