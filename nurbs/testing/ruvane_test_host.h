// A host for the tests: a ComponentServices table whose allocator counts live
// blocks and can be told to fail on its N-th call, and a fixture built on it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#include "include/component_services.h"
#include "include/ruvane.h"
#include "nurbs/storage.h"

namespace sx::testing {

struct HostCounters {
    long calls = 0;    // allocate calls since arm()
    long live = 0;     // blocks handed out and not yet released
    long fail_at = 0;  // 0: never fail; N: the N-th call returns null
    size_t largest = 0;  // the largest block asked for since arm()
};

inline HostCounters& counters() {
    static HostCounters c;
    return c;
}

inline ComponentServices counting_table() {
    ComponentServices table = {};
    table.table_version = 1;
    table.allocate = [](size_t size) -> void* {
        if (++counters().calls == counters().fail_at) return nullptr;
        if (size > counters().largest) counters().largest = size;
        void* block = std::malloc(size);
        counters().live += block != nullptr;
        return block;
    };
    table.release = [](void* block) {
        counters().live -= block != nullptr;
        std::free(block);
    };
    return table;
}

// Installs the counting host into the statically linked core.
inline void install_counting_host() {
    ComponentServices table = counting_table();
    component_client_init(&table);
}

// Starts a measured run: the N-th allocation from now fails (0: none).
inline void arm(long fail_at) { counters() = {0, counters().live, fail_at}; }

// Each test starts with the host installed and nothing armed, and must end
// with its pool released and no block left live.
class CountingHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        install_counting_host();
        arm(0);
    }
    void TearDown() override {
        ruvane::pool_release_all(&pool_);
        EXPECT_EQ(counters().live, 0);
    }
    ruvane::Pool pool_;
};

}  // namespace sx::testing
