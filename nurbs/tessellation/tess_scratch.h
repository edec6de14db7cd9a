// Scratch storage of one tessellation.
//
// The tessellator builds many tables whose final size is only known at the
// end (vertices, cells, polygons, triangles). They live in a `Scratch`: every
// block comes from the host allocator, is linked in one list and goes back in
// one pass when the tessellation ends, on success and on every failure path,
// exactly like a storage pool. Growing a table allocates the bigger block
// first and gives the old one back early, so a failed growth leaves the table
// as it was.
#pragma once

#include <cstddef>
#include <cstring>

#include "nurbs/conventions.h"

namespace ruvane::tess {

class Scratch {
public:
    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() { release_all(); }

    // A block of `bytes` bytes, or null when the host refuses.
    void* get(size_t bytes);
    // Gives one block back before the end; null is ignored.
    void put(void* block);
    void release_all();

private:
    struct Header {
        Header* prev;
        Header* next;
        // Keeps the payload aligned for doubles on 32-bit builds.
        double align;
    };
    Header* head_ = nullptr;
};

// A growable table in scratch storage, for plain records only.
template <class T>
struct Table {
    T* data = nullptr;
    int size = 0;
    int cap = 0;

    T& operator[](int i) { return data[i]; }
    const T& operator[](int i) const { return data[i]; }

    bool reserve(Scratch& s, int wanted) {
        if (wanted <= cap) return true;
        int grown = cap < 8 ? 8 : cap;
        while (grown < wanted) {
            if (grown > (1 << 28)) return false;
            grown *= 2;
        }
        T* fresh = static_cast<T*>(s.get(sizeof(T) * static_cast<size_t>(grown)));
        if (!fresh) return false;
        if (size > 0) std::memcpy(static_cast<void*>(fresh), data, sizeof(T) * size);
        s.put(data);
        data = fresh;
        cap = grown;
        return true;
    }
    bool push(Scratch& s, const T& value) {
        if (size == cap && !reserve(s, size + 1)) return false;
        data[size++] = value;
        return true;
    }
    // Sets the size to `n` (growing when needed) and fills new slots with `fill`.
    bool resize(Scratch& s, int n, const T& fill) {
        if (!reserve(s, n)) return false;
        for (int i = size; i < n; ++i) data[i] = fill;
        size = n;
        return true;
    }
    void clear() { size = 0; }
};

}  // namespace ruvane::tess
