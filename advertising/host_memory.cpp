#include "advertising/host_memory.h"

namespace ad {

namespace {
ComponentServices g_host = {};
}

ComponentServices& host_table() { return g_host; }

void* host_allocate(std::size_t size) {
    void* block = g_host.allocate ? g_host.allocate(size) : nullptr;
    if (!block) throw std::bad_alloc();
    return block;
}

void host_release(void* block) {
    if (block && g_host.release) g_host.release(block);
}

}  // namespace ad
