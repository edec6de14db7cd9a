#include "nurbs/tessellation/tess_scratch.h"

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

void Scratch::release_all() {
    while (head_) {
        Header* next = head_->next;
        host_release(head_);
        head_ = next;
    }
}

}  // namespace ruvane::tess
