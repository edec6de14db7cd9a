// A host for the tests: a ComponentServices table whose allocator counts live
// blocks and can be told to fail on its N-th call.
#pragma once

#include <cstdlib>

#include "include/component_services.h"
#include "include/ruvane.h"

namespace ruvane_test {

struct HostCounters {
    long calls = 0;    // allocate calls since reset
    long live = 0;     // blocks handed out and not yet released
    long fail_at = 0;  // 0: never fail; N: the N-th call returns null
};

inline HostCounters& counters() {
    static HostCounters c;
    return c;
}

inline void* counting_allocate(size_t size) {
    HostCounters& c = counters();
    ++c.calls;
    if (c.fail_at != 0 && c.calls == c.fail_at) return nullptr;
    void* block = std::malloc(size);
    if (block != nullptr) ++c.live;
    return block;
}

inline void counting_release(void* block) {
    if (block == nullptr) return;
    --counters().live;
    std::free(block);
}

inline ComponentServices counting_table() {
    ComponentServices table = {};
    table.table_version = 1;
    table.allocate = counting_allocate;
    table.release = counting_release;
    return table;
}

// Installs the counting host into the statically linked core.
inline void install_counting_host() {
    ComponentServices table = counting_table();
    component_client_init(&table);
}

// Starts a measured run: the N-th allocation from now fails (0: none).
inline void arm(long fail_at) {
    counters().calls = 0;
    counters().fail_at = fail_at;
}

}  // namespace ruvane_test
