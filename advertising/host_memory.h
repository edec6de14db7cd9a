// Every byte the library holds comes from the host's allocate slot and goes
// back through its release slot. A null from allocate is the standard
// allocation failure; each export catches it, so it never reaches the host.
#pragma once

#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

#include "include/component_services.h"

namespace ad {

// The library's copy of the host table (taken at component_client_init).
ComponentServices& host_table();

void* host_allocate(std::size_t size);  // throws std::bad_alloc
void host_release(void* block);

template <class T, class... Args>
T* host_new(Args&&... args) {
    void* block = host_allocate(sizeof(T));
    try {
        return new (block) T(std::forward<Args>(args)...);
    } catch (...) {
        host_release(block);
        throw;
    }
}

template <class T>
void host_delete(T* object) {
    if (!object) return;
    object->~T();
    host_release(object);
}

// An owned byte buffer.
class HostBuffer {
public:
    HostBuffer() = default;
    explicit HostBuffer(std::size_t size)
        : data_(static_cast<unsigned char*>(host_allocate(size))) {}
    ~HostBuffer() { host_release(data_); }
    HostBuffer(HostBuffer&& other) noexcept : data_(std::exchange(other.data_, nullptr)) {}
    HostBuffer& operator=(HostBuffer&& other) noexcept {
        std::swap(data_, other.data_);
        return *this;
    }
    unsigned char* data() const { return data_; }
    explicit operator bool() const { return data_ != nullptr; }
    void reset() { HostBuffer().swap(*this); }
    void swap(HostBuffer& other) noexcept { std::swap(data_, other.data_); }

private:
    unsigned char* data_ = nullptr;
};

// An owned zero-terminated text; never null once constructed.
class HostText {
public:
    HostText() = default;
    explicit HostText(const char* text) { assign(text); }
    HostText(const HostText& other) { assign(other.c_str()); }
    HostText& operator=(const HostText& other) {
        if (this != &other) HostText(other).swap(*this);
        return *this;
    }
    ~HostText() { host_release(text_); }
    // Strong guarantee: the old text stays when the copy cannot be made.
    void assign(const char* text) {
        if (!text) text = "";
        std::size_t size = std::strlen(text) + 1;
        char* copy = static_cast<char*>(host_allocate(size));
        std::memcpy(copy, text, size);
        host_release(text_);
        text_ = copy;
    }
    const char* c_str() const { return text_ ? text_ : ""; }
    bool empty() const { return c_str()[0] == '\0'; }
    bool operator==(const char* other) const {
        return std::strcmp(c_str(), other ? other : "") == 0;
    }
    void swap(HostText& other) noexcept { std::swap(text_, other.text_); }

private:
    char* text_ = nullptr;
};

// For the few standard containers the library keeps (the bitmap cache).
template <class T>
struct HostAllocator {
    using value_type = T;
    HostAllocator() = default;
    template <class U>
    HostAllocator(const HostAllocator<U>&) {}
    T* allocate(std::size_t n) { return static_cast<T*>(host_allocate(n * sizeof(T))); }
    void deallocate(T* p, std::size_t) { host_release(p); }
    template <class U>
    bool operator==(const HostAllocator<U>&) const {
        return true;
    }
};

}  // namespace ad
