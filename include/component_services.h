/*
 * The host-services table that the player hands to a component client library
 * in component_client_init, and the copy every client keeps of it.
 *
 * The table is an array of 32-bit slots read by position. A client copies the
 * first eleven slots; the twelfth exists only in tables of version 2 or later,
 * so an older host's table may end before it and must not be read there.
 *
 * Usable from C and C++; header-only so that every client library can keep its
 * own copy without linking anything else of the system.
 */
#ifndef SX_INCLUDE_COMPONENT_SERVICES_H
#define SX_INCLUDE_COMPONENT_SERVICES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void* (*ComponentAllocateFn)(size_t size);
typedef void (*ComponentReleaseFn)(void* block);
typedef void* (*ComponentLoadFn)(const char* component, int32_t a, int32_t b);
typedef void (*ComponentUnloadFn)(void* handle);
typedef void* (*ComponentEntryFn)(void* handle, const char* entry);
typedef int32_t (*ComponentFindItemFn)(const char* component, const char* key, char* buffer,
                                       int32_t size);

typedef struct ComponentServices {
    int32_t table_version;                   /* 0x00: 2 or more when slot 0x2C exists */
    ComponentAllocateFn allocate;            /* 0x04: null on failure */
    ComponentReleaseFn release;              /* 0x08 */
    void* host_slot_0c;                      /* 0x0C: not called by the clients */
    void* host_slot_10;                      /* 0x10 */
    void* host_slot_14;                      /* 0x14 */
    ComponentLoadFn load_component;          /* 0x18: (name, 1, 1) */
    ComponentUnloadFn unload_component;      /* 0x1C */
    ComponentEntryFn get_component_entry;    /* 0x20: null when missing */
    ComponentFindItemFn find_component_item; /* 0x24: non-zero when found */
    void* host_slot_28;                      /* 0x28 */
    void* host_slot_2c;                      /* 0x2C: only when table_version >= 2 */
} ComponentServices;

#if defined(_WIN32) && !defined(_WIN64)
#ifdef __cplusplus
#define SX_CS_STATIC_ASSERT static_assert
#else
#define SX_CS_STATIC_ASSERT _Static_assert
#endif
SX_CS_STATIC_ASSERT(offsetof(ComponentServices, table_version) == 0x00, "table_version");
SX_CS_STATIC_ASSERT(offsetof(ComponentServices, allocate) == 0x04, "allocate");
SX_CS_STATIC_ASSERT(offsetof(ComponentServices, release) == 0x08, "release");
SX_CS_STATIC_ASSERT(offsetof(ComponentServices, load_component) == 0x18, "load_component");
SX_CS_STATIC_ASSERT(offsetof(ComponentServices, unload_component) == 0x1C, "unload_component");
SX_CS_STATIC_ASSERT(offsetof(ComponentServices, get_component_entry) == 0x20, "entry");
SX_CS_STATIC_ASSERT(offsetof(ComponentServices, find_component_item) == 0x24, "find");
SX_CS_STATIC_ASSERT(offsetof(ComponentServices, host_slot_28) == 0x28, "slot 0x28");
SX_CS_STATIC_ASSERT(offsetof(ComponentServices, host_slot_2c) == 0x2C, "slot 0x2C");
SX_CS_STATIC_ASSERT(sizeof(ComponentServices) == 0x30, "table size");
#undef SX_CS_STATIC_ASSERT
#endif

/*
 * Copies a host table into a client's own record. Fields are copied one by one
 * (never the whole record at once) so that a version-1 table, which may end
 * after slot 0x28, is not read past its end. A null table clears the copy.
 */
static inline void copy_component_services(const ComponentServices* from, ComponentServices* to) {
    if (to == NULL) {
        return;
    }
    if (from == NULL) {
        ComponentServices empty = {0,    NULL, NULL, NULL, NULL, NULL,
                                   NULL, NULL, NULL, NULL, NULL, NULL};
        *to = empty;
        return;
    }
    to->table_version = from->table_version;
    to->allocate = from->allocate;
    to->release = from->release;
    to->host_slot_0c = from->host_slot_0c;
    to->host_slot_10 = from->host_slot_10;
    to->host_slot_14 = from->host_slot_14;
    to->load_component = from->load_component;
    to->unload_component = from->unload_component;
    to->get_component_entry = from->get_component_entry;
    to->find_component_item = from->find_component_item;
    to->host_slot_28 = from->host_slot_28;
    to->host_slot_2c = from->table_version >= 2 ? from->host_slot_2c : NULL;
}

#ifdef __cplusplus
}
#endif

#endif
