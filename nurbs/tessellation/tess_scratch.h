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

    // Grows a table of records of `record` bytes, `size` of them in use in
    // `*data` (`*cap` slots), to room for at least `wanted`: a fresh table
    // gets what it asks for (at least 8 slots), a full one doubles until it
    // fits. The bigger block is taken first and the old one given back
    // after the copy, so a refusal leaves the table as it was. One copy of
    // this for every record type, out of line: the tables' own code at each
    // use is then a test and a call, which keeps a small face's path short.
    bool grow(void** data, int* cap, int size, int wanted, size_t record);

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
        void* block = data;
        if (!s.grow(&block, &cap, size, wanted, sizeof(T))) return false;
        data = static_cast<T*>(block);
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
