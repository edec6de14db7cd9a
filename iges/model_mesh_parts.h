// The model mesher's small tables, kept apart so that their tests reach
// them without the mesher.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace ruvane::iges::detail {

using P3 = std::array<double, 3>;

// Points in cubes of side `cell`, to find those within `cell` of a point
// without looking at all of them: a hostile file may have a hundred
// thousand edges. Each cube lists its points' numbers in the order added,
// chained through one table of successors (no block per cube or per point).
// The cubes sit in an open table of their own (a look-up of one of the 27
// neighbours costs a hash of three integers).
class PointGrid {
public:
    explicit PointGrid(double cell) : cell_(cell > 0 && std::isfinite(cell) ? cell : 0.0) {}

    // A number is in one cube at a time.
    void add(const P3& p, int id) {
        const size_t c = static_cast<size_t>(slot(cube(p), true));
        if (static_cast<size_t>(id) >= next_.size()) next_.resize(static_cast<size_t>(id) + 1, -1);
        next_[static_cast<size_t>(id)] = -1;
        if (tail_[c] < 0)
            head_[c] = id;
        else
            next_[static_cast<size_t>(tail_[c])] = id;
        tail_[c] = id;
    }

    void remove(const P3& p, int id) {
        const int found = slot(cube(p), false);
        if (found < 0) return;
        const size_t c = static_cast<size_t>(found);
        for (int x = head_[c], before = -1; x >= 0; before = x, x = next_[static_cast<size_t>(x)]) {
            if (x != id) continue;
            const int after = next_[static_cast<size_t>(x)];
            if (before < 0)
                head_[c] = after;
            else
                next_[static_cast<size_t>(before)] = after;
            if (tail_[c] == id) tail_[c] = before;
            return;
        }
    }

    // Calls f(id) for the points of the cubes round p that can hold a point
    // within half a cube of it (of p's own and its 26 neighbours, those on
    // the sides p is not well inside of), each cube's in the order added,
    // until f returns true for one (the rest of that cube is passed over).
    // Every caller asks for points within half a cube: a quarter of one to
    // spare covers any rounding.
    template <class F>
    void near(const P3& p, F f) const {
        Cube c{};
        int64_t lo[3], hi[3];
        for (size_t k = 0; k < 3; ++k) {
            double fraction = 0.5;
            bool clamped = false;
            c[k] = axis(p[k], &fraction, &clamped);
            lo[k] = clamped || fraction < 0.75 ? -1 : 0;
            hi[k] = clamped || fraction > 0.25 ? 1 : 0;
        }
        for (int64_t dx = lo[0]; dx <= hi[0]; ++dx)
            for (int64_t dy = lo[1]; dy <= hi[1]; ++dy)
                for (int64_t dz = lo[2]; dz <= hi[2]; ++dz) {
                    const int found = find({c[0] + dx, c[1] + dy, c[2] + dz});
                    if (found < 0) continue;
                    for (int x = head_[static_cast<size_t>(found)]; x >= 0;
                         x = next_[static_cast<size_t>(x)])
                        if (f(x)) break;
                }
    }

private:
    using Cube = std::array<int64_t, 3>;
    struct Slot {
        Cube cube;
        int list;  // -1: empty
    };
    double cell_;
    std::vector<Slot> slots_;       // a power of two, at most half full
    std::vector<int> head_, tail_;  // per cube: its first and last point, -1: none
    std::vector<int> next_;         // per point: the next in its cube, -1: the last

    // A coordinate's cube, clamped far from the int64 range (and NaN sent to
    // one side), which keeps points within a cube of each other in
    // neighbouring cubes; and where it lies across its cube. The floor of a
    // value inside the clamp is taken by conversion (exact there), without a
    // library call.
    int64_t axis(double v, double* fraction, bool* clamped) const {
        constexpr double kFar = 1e15;
        if (!(cell_ > 0)) return 0;
        const double q = v / cell_;
        *clamped = !(q > -kFar) || !(q < kFar);
        if (!(q > -kFar)) return static_cast<int64_t>(-kFar);
        if (!(q < kFar)) return static_cast<int64_t>(kFar);
        int64_t x = static_cast<int64_t>(q);
        if (static_cast<double>(x) > q) --x;
        *fraction = q - static_cast<double>(x);
        return x;
    }
    Cube cube(const P3& p) const {
        double fraction = 0;
        bool clamped = false;
        return {axis(p[0], &fraction, &clamped), axis(p[1], &fraction, &clamped),
                axis(p[2], &fraction, &clamped)};
    }
    size_t first(const Cube& c) const {
        uint64_t h = static_cast<uint64_t>(c[0]) * 0x9E3779B97F4A7C15ull;
        h = (h ^ static_cast<uint64_t>(c[1])) * 0xC2B2AE3D27D4EB4Full;
        h = (h ^ static_cast<uint64_t>(c[2])) * 0x165667B19E3779F9ull;
        return static_cast<size_t>(h ^ (h >> 29)) & (slots_.size() - 1);
    }
    int find(const Cube& c) const {
        if (slots_.empty()) return -1;
        for (size_t i = first(c);; i = (i + 1) & (slots_.size() - 1)) {
            if (slots_[i].list < 0) return -1;
            if (slots_[i].cube == c) return slots_[i].list;
        }
    }
    // The cube's list number; a new (empty) list when `make` and it has none.
    int slot(const Cube& c, bool make) {
        const int found = find(c);
        if (found >= 0 || !make) return found;
        if (2 * (head_.size() + 1) > slots_.size()) grow();
        size_t i = first(c);
        while (slots_[i].list >= 0) i = (i + 1) & (slots_.size() - 1);
        slots_[i] = {c, static_cast<int>(head_.size())};
        head_.push_back(-1);
        tail_.push_back(-1);
        return slots_[i].list;
    }
    void grow() {
        std::vector<Slot> old(slots_.empty() ? 64 : 2 * slots_.size(), Slot{{0, 0, 0}, -1});
        old.swap(slots_);  // slots_ now the larger table, empty
        for (const Slot& x : old) {
            if (x.list < 0) continue;
            size_t i = first(x.cube);
            while (slots_[i].list >= 0) i = (i + 1) & (slots_.size() - 1);
            slots_[i] = x;
        }
    }
};

// A boundary vertex's places along a face's chains, as (chain, s): nearly
// always one, two where a loop passes twice (a seam's end), so two are kept
// in place and only more take a block of their own (every boundary vertex
// of every face has such a list).
class PlaceList {
public:
    using Place = std::pair<int, double>;
    void push_back(const Place& x) {
        if (n_ < kInPlace) {
            here_[n_++] = x;
            return;
        }
        if (more_.empty()) more_.assign(here_, here_ + kInPlace);
        more_.push_back(x);
        ++n_;
    }
    Place* begin() { return n_ <= kInPlace ? here_ : more_.data(); }
    Place* end() { return begin() + n_; }
    const Place* begin() const { return n_ <= kInPlace ? here_ : more_.data(); }
    const Place* end() const { return begin() + n_; }
    Place& front() { return *begin(); }

private:
    static constexpr int kInPlace = 2;
    Place here_[kInPlace];
    int n_ = 0;
    std::vector<Place> more_;
};

}  // namespace ruvane::iges::detail
