#include "tools/sxplayer/host_services.h"

#include <cstdlib>

#include "components/component_search.h"
#include "platform/platform.h"

namespace sxplayer {

namespace {

constexpr char kLibraryKey[] = "library";
constexpr int kPathSize = 260;

void* allocate(size_t size) { return std::malloc(size == 0 ? 1 : size); }
void release(void* block) { std::free(block); }

void* load_component(const char* component, int32_t, int32_t) {
    char path[kPathSize] = {};
    if (!component || sx::find_component_file(component, kLibraryKey, path, kPathSize) <= 0) {
        return nullptr;
    }
    return sx::platform().load_library(path);
}

void unload_component(void* handle) {
    if (handle) sx::platform().free_library(static_cast<sx::ModuleHandle>(handle));
}

void* get_component_entry(void* handle, const char* entry) {
    if (!handle || !entry) return nullptr;
    return sx::platform().find_symbol(static_cast<sx::ModuleHandle>(handle), entry);
}

}  // namespace

int32_t find_component_item(const char* component, const char* key, char* buffer, int32_t size) {
    if (!component || !key || !buffer || size <= 0) return 0;
    return sx::find_component_file(component, key, buffer, size);
}

ComponentServices host_services() {
    ComponentServices table = {};
    table.table_version = 2;
    table.allocate = allocate;
    table.release = release;
    table.load_component = load_component;
    table.unload_component = unload_component;
    table.get_component_entry = get_component_entry;
    table.find_component_item = find_component_item;
    return table;
}

}  // namespace sxplayer
