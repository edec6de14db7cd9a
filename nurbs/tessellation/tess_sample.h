// The surface at the crossings of a few parameter lines: the subdivision's
// flatness samples and its lattice's bend samples lie on such grids, where
// N_SUREVN would find the same basis functions again at every point.
#pragma once

#include <cstdint>
#include <cstring>

#include "nurbs/basis.h"
#include "nurbs/nurbs.h"
#include "nurbs/tessellation/tess_scratch.h"

namespace ruvane::tess {

// One parameter line's span and basis functions, found at its first use;
// along a u line also the net's column sums (surface_column_sums) for
// kColumns columns from `first`, where its points were asked last, a bit in
// `columns` for each one formed.
struct LineBasis {
    static constexpr int kColumns = 8;
    double N[kMaxDegree + 1];
    int span = 0;
    bool ready = false;
    int first = -1;
    unsigned columns = 0;
    ColumnSum sums[kColumns];
};

// The point at u line a and v line b, both ready: from a's column sums,
// formed where missing (the columns kept move to the point's v span when
// it lies beyond them); the whole sum where the degree in v is too high.
inline Point3 point_on_lines(const Surface& sur, LineBasis& a, const LineBasis& b) {
    const int q = sur.q, j0 = b.span - q;
    if (q + 1 > LineBasis::kColumns) return surface_point_of_basis(sur, a.N, a.span, b.N, b.span);
    if (a.first < 0 || j0 < a.first || j0 + q >= a.first + LineBasis::kColumns) {
        a.first = j0;
        a.columns = 0;
    }
    const int k0 = j0 - a.first;
    const unsigned want = ((2u << q) - 1u) << k0;
    if ((a.columns & want) != want) {
        surface_column_sums(sur, a.N, a.span, j0, q + 1, &a.sums[k0]);
        a.columns |= want;
    }
    return surface_point_of_sums(sur, &a.sums[k0], b.N);
}

// Points at (us[i], vs[j]) with the caller's storage for the lines' bases
// (as many as there are values). Each point is N_SUREVN's to the bit, with
// its range checks and error records in the order the points are asked.
class LineSampler {
public:
    LineSampler(const Surface& sur, const double* us, LineBasis* ub, const double* vs,
                LineBasis* vb)
        : sur_(sur), us_(us), vs_(vs), ub_(ub), vb_(vb) {}

    // A line whose basis is ready has passed its range check: the checks
    // are asked again only where they could fail, in N_SUREVN's order.
    bool at(int i, int j, Point3* S) {
        if (!bases(i, j)) return false;
        *S = point_on_lines(sur_, ub_[i], vb_[j]);
        return true;
    }

    // The two lines' bases made ready, with at's checks and records.
    bool bases(int i, int j) {
        LineBasis& a = ub_[i];
        LineBasis& b = vb_[j];
        if (!a.ready && check_range(*sur_.uknt, "N_SUREVN", us_[i]) != kOk) return false;
        if (!b.ready && check_range(*sur_.vknt, "N_SUREVN", vs_[j]) != kOk) return false;
        if (!a.ready && basis_in_range(*sur_.uknt, sur_.p, us_[i], 1, a.N, &a.span) != kOk)
            return false;
        a.ready = true;
        if (!b.ready && basis_in_range(*sur_.vknt, sur_.q, vs_[j], 1, b.N, &b.span) != kOk)
            return false;
        b.ready = true;
        return true;
    }

private:
    const Surface& sur_;
    const double* us_;
    const double* vs_;
    LineBasis* ub_;
    LineBasis* vb_;
};

// A hash of a value's bits that mixes every bit into the low ones:
// parameter values are often short binary fractions, whose low bits are
// all zero.
inline unsigned value_hash(uint64_t bits) {
    bits ^= bits >> 31;
    bits *= 0xBF58476D1CE4E5B9ull;
    bits ^= bits >> 29;
    return static_cast<unsigned>(bits);
}

// A parameter line met by the subdivision: its value and basis.
struct Line {
    double value;
    LineBasis basis;
};

// The lines of one subdivision by value (its bits): a cell shares most of
// its lines with its parent and its neighbours, so each line's basis is
// found once. Open addressing over the value's bits; the lines themselves
// sit in blocks that never move (copying them as a table grows cost more
// than their bases).
class LineStore {
public:
    // The number of the line of value x, added when new; -1 when storage
    // runs out (the caller then works without the store).
    int find(Scratch& s, double x) {
        if (2 * (count_ + 1) > slots_.size && !rehash(s)) return -1;
        uint64_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        const unsigned mask = static_cast<unsigned>(slots_.size - 1);
        for (unsigned h = hash(bits) & mask;; h = (h + 1) & mask) {
            const int k = slots_[h];
            if (k >= 0 && std::memcmp(&(*this)[k].value, &x, sizeof x) == 0) return k;
            if (k >= 0) continue;
            if (count_ % kBlock == 0) {
                void* block = s.get(sizeof(Line) * kBlock);
                if (block == nullptr || !blocks_.push(s, static_cast<Line*>(block))) {
                    s.put(block);
                    return -1;
                }
            }
            Line& fresh = (*this)[count_];
            fresh.value = x;
            fresh.basis.ready = false;
            fresh.basis.first = -1;
            fresh.basis.columns = 0;
            slots_[h] = count_;
            return count_++;
        }
    }
    Line& operator[](int k) { return blocks_[k / kBlock][k % kBlock]; }

private:
    static constexpr int kBlock = 32;
    static unsigned hash(uint64_t bits) { return value_hash(bits); }
    bool rehash(Scratch& s) {
        Table<int> fresh;
        if (!fresh.resize(s, slots_.size == 0 ? 64 : 2 * slots_.size, -1)) return false;
        const unsigned mask = static_cast<unsigned>(fresh.size - 1);
        for (int k = 0; k < count_; ++k) {
            uint64_t bits;
            std::memcpy(&bits, &(*this)[k].value, sizeof bits);
            unsigned h = hash(bits) & mask;
            while (fresh[h] >= 0) h = (h + 1) & mask;
            fresh[h] = k;
        }
        s.put(slots_.data);
        slots_ = fresh;
        return true;
    }

    Table<Line*> blocks_;  // kBlock lines each
    int count_ = 0;
    Table<int> slots_;  // a power of two of them, -1 where empty
};

// The lines of one subdivision in both directions.
struct LineStores {
    LineStore u;
    LineStore v;
};

// Points at the crossings of parameter lines named by value, for one cell:
// each point is computed once however often the cell's tests ask for it
// (the same value being the same bits, not merely equal), from its lines'
// bases and column sums in the subdivision's store. At most kLines distinct
// values in each direction; a further one is refused (-1).
class PointCache {
public:
    static constexpr int kLines = 16;
    PointCache(const Surface& sur, Scratch& s, LineStores& store)
        : sur_(sur), s_(s), store_(store) {}

    int u_line(double u) { return line(us_, lu_, nu_, top_u_, u, store_.u); }
    int v_line(double v) { return line(vs_, lv_, nv_, top_v_, v, store_.v); }

    // The point at lines i and j, with the same checks and records as
    // LineSampler::at, in its order, for the lines met the first time.
    bool at(int i, int j, Point3* S) {
        if (i < 0 || j < 0) return false;
        const unsigned bit = 1u << j;
        if (!(have_[i] & bit)) {
            if (!fill(i, j)) return false;
            have_[i] |= bit;
        }
        *S = points_[i][j];
        return true;
    }

private:
    // Works out the point at lines i and j into its slot. Lines whose bases
    // are ready (most: the store keeps them for the whole subdivision) go
    // straight to the sums; the rest take the checks first.
    bool fill(int i, int j) {
        Line* a = lu_[i];
        Line* b = lv_[j];
        if (a == nullptr || b == nullptr) return fill_alone(i, j);
        if (!(a->basis.ready && b->basis.ready) && !bases(*a, *b)) return false;
        points_[i][j] = point_on_lines(sur_, a->basis, b->basis);
        return true;
    }

    // A line not in the store: the point on the lines' own bases.
    __attribute__((noinline)) bool fill_alone(int i, int j) {
        LineBasis a, b;
        LineSampler one(sur_, &us_[i], &a, &vs_[j], &b);
        return one.at(0, 0, &points_[i][j]);
    }

    // The cell's tests ask for most lines in ascending order: a value above
    // the largest so far (`top`) is none of them, and needs no search.
    int line(double* values, Line** stored, int& count, double& top, double x, LineStore& store) {
        const bool above = count > 0 && x > top;
        for (int k = 0; k < count && !above; ++k)
            if (std::memcmp(&values[k], &x, sizeof x) == 0) return k;
        if (count == kLines) return -1;
        if (count == 0 || above) top = x;
        values[count] = x;
        const int k = store.find(s_, x);
        stored[count] = k < 0 ? nullptr : &store[k];
        return count++;
    }

    bool bases(Line& a, Line& b) {
        LineBasis& ba = a.basis;
        LineBasis& bb = b.basis;
        if (!ba.ready && check_range(*sur_.uknt, "N_SUREVN", a.value) != kOk) return false;
        if (!bb.ready && check_range(*sur_.vknt, "N_SUREVN", b.value) != kOk) return false;
        if (!ba.ready && basis_in_range(*sur_.uknt, sur_.p, a.value, 1, ba.N, &ba.span) != kOk)
            return false;
        ba.ready = true;
        if (!bb.ready && basis_in_range(*sur_.vknt, sur_.q, b.value, 1, bb.N, &bb.span) != kOk)
            return false;
        bb.ready = true;
        return true;
    }

    const Surface& sur_;
    Scratch& s_;
    LineStores& store_;
    double us_[kLines], vs_[kLines];
    Line* lu_[kLines];  // the lines in the store (which never moves them), null outside it
    Line* lv_[kLines];
    int nu_ = 0, nv_ = 0;
    double top_u_ = 0.0, top_v_ = 0.0;  // the largest value of each direction's lines
    unsigned have_[kLines] = {};        // per u line, a bit per v line
    Point3 points_[kLines][kLines];
};

}  // namespace ruvane::tess
