#include "nurbs/tessellation/tess_scratch.h"

#include <cstring>

namespace ruvane::tess {

void* Scratch::get(size_t bytes) {
    if (bytes > static_cast<size_t>(-1) - sizeof(Header)) return nullptr;
    auto* h = static_cast<Header*>(host_allocate(sizeof(Header) + bytes));
    if (!h) return nullptr;
    h->prev = nullptr;
    h->next = head_;
    if (head_) head_->prev = h;
    head_ = h;
    return h + 1;
}

void Scratch::put(void* block) {
    if (!block) return;
    Header* h = static_cast<Header*>(block) - 1;
    if (h->prev)
        h->prev->next = h->next;
    else
        head_ = h->next;
    if (h->next) h->next->prev = h->prev;
    host_release(h);
}

bool Scratch::grow(void** data, int* cap, int size, int wanted, size_t record) {
    // No table grows beyond 2^29 records, nor past what a size_t can count
    // (a 32-bit one wraps long before).
    constexpr int kMostRecords = 1 << 29;
    if (wanted > kMostRecords) return false;
    int grown = *cap < 8 ? (wanted > 8 ? wanted : 8) : *cap;
    while (grown < wanted) {
        if (grown > kMostRecords / 2) return false;
        grown *= 2;
    }
    if (static_cast<size_t>(grown) > static_cast<size_t>(-1) / record) return false;
    void* fresh = get(record * static_cast<size_t>(grown));
    if (!fresh) return false;
    if (size > 0) std::memcpy(fresh, *data, record * static_cast<size_t>(size));
    put(*data);
    *data = fresh;
    *cap = grown;
    return true;
}

void Scratch::release_all() {
    while (head_) {
        Header* next = head_->next;
        host_release(head_);
        head_ = next;
    }
}

}  // namespace ruvane::tess
