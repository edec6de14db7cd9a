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

// The point at a u line and a v line whose bases (Na at span sa, Nb at
// span sb) are ready: from the u line's column sums (`sums`, room for
// kColumns of them from column `first`, a bit in `columns` for each one
// formed), formed where missing (the columns kept move to the point's v
// span when it lies beyond them); the whole sum where the degree in v is
// too high (`sums` may then be null).
inline Point3 point_of_bases(const Surface& sur, const double* Na, int sa, int& first,
                             unsigned& columns, ColumnSum* sums, const double* Nb, int sb) {
    constexpr int kColumns = LineBasis::kColumns;
    const int q = sur.q, j0 = sb - q;
    if (q + 1 > kColumns) return surface_point_of_basis(sur, Na, sa, Nb, sb);
    if (first < 0 || j0 < first || j0 + q >= first + kColumns) {
        first = j0;
        columns = 0;
    }
    const int k0 = j0 - first;
    const unsigned want = ((2u << q) - 1u) << k0;
    if ((columns & want) != want) {
        surface_column_sums(sur, Na, sa, j0, q + 1, &sums[k0]);
        columns |= want;
    }
    return surface_point_of_sums(sur, &sums[k0], Nb);
}

// The point at u line a and v line b, both ready (point_of_bases).
inline Point3 point_on_lines(const Surface& sur, LineBasis& a, const LineBasis& b) {
    return point_of_bases(sur, a.N, a.span, a.first, a.columns, a.sums, b.N, b.span);
}

// Makes the bases of the u line at u and the v line at v ready where they
// are not (`ready_u`, `ready_v`), with N_SUREVN's range checks and error
// records in its order: both values checked before either basis is found.
// A line whose basis is ready has passed its check already.
inline bool ready_bases(const Surface& sur, double u, bool& ready_u, double* Nu, int* su,
                        double v, bool& ready_v, double* Nv, int* sv) {
    if (!ready_u && check_range(*sur.uknt, "N_SUREVN", u) != kOk) return false;
    if (!ready_v && check_range(*sur.vknt, "N_SUREVN", v) != kOk) return false;
    if (!ready_u && basis_in_range(*sur.uknt, sur.p, u, 1, Nu, su) != kOk) return false;
    ready_u = true;
    if (!ready_v && basis_in_range(*sur.vknt, sur.q, v, 1, Nv, sv) != kOk) return false;
    ready_v = true;
    return true;
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
        return ready_bases(sur_, us_[i], a.ready, a.N, &a.span, vs_[j], b.ready, b.N, &b.span);
    }

private:
    const Surface& sur_;
    const double* us_;
    const double* vs_;
    LineBasis* ub_;
    LineBasis* vb_;
};

// The points at the crossings of a few lines across one direction with
// M + 1 lines along it, at L * k / M (direction 1: the lines across are u
// lines, those along v lines; direction 2 the other way round), each
// LineSampler's to the bit, with its checks and records in its order. Each
// line keeps only the basis functions its degree needs, and room for
// column sums where it is a u line; nothing but a line's flags is filled
// before its first use, and the storage goes back when the grid goes. (A
// lattice samples a few such sets of some 65 lines for a small face: whole
// LineBasis records, 504 bytes each, took 320 of the 469 KB a ball's corner
// patch asked of the heap.)
class LineGrid {
public:
    LineGrid() = default;
    LineGrid(const LineGrid&) = delete;
    LineGrid& operator=(const LineGrid&) = delete;
    ~LineGrid() {
        if (s_ == nullptr) return;
        s_->put(across_.block);
        s_->put(along_.block);
    }

    // Laid again along the same points of the same surface, the lines along
    // keep their bases (and column sums, which hold for any line across);
    // the lines across are found anew. False when storage fails.
    bool lay(const Surface& sur, int direction, double L, const double* across, int count, int M,
             Scratch& s) {
        const bool same_along =
            sur_ == &sur && direction_ == direction && along_.count == M + 1 && L_ == L;
        s_ = &s;
        sur_ = &sur;
        direction_ = direction;
        L_ = L;
        const bool u_across = direction == 1;
        if (!across_.make(s, count, u_across ? sur.p : sur.q, u_across && sur.q + 1 <= kColumns))
            return false;
        for (int i = 0; i < count; ++i) across_.values[i] = across[i];
        if (same_along) return true;
        if (!along_.make(s, M + 1, u_across ? sur.q : sur.p, !u_across && sur.q + 1 <= kColumns))
            return false;
        along_.values[0] = 0.0;
        for (int k = 1; k <= M; ++k) along_.values[k] = L * k / M;
        return true;
    }

    // The point at position k along line i across.
    bool at(int i, int k, Point3* S) {
        const bool u_across = direction_ == 1;
        Set& us = u_across ? across_ : along_;
        Set& vs = u_across ? along_ : across_;
        const int a = u_across ? i : k, b = u_across ? k : i;
        Head& ha = us.heads[a];
        Head& hb = vs.heads[b];
        double* Na = us.N + a * us.stride;
        double* Nb = vs.N + b * vs.stride;
        if (!ready_bases(*sur_, us.values[a], ha.ready, Na, &ha.span, vs.values[b], hb.ready, Nb,
                         &hb.span))
            return false;
        ColumnSum* sums = us.sums != nullptr ? us.sums + a * kColumns : nullptr;
        *S = point_of_bases(*sur_, Na, ha.span, ha.first, ha.columns, sums, Nb, hb.span);
        return true;
    }

private:
    static constexpr int kColumns = LineBasis::kColumns;
    struct Head {
        int span = 0;
        int first = -1;
        unsigned columns = 0;
        bool ready = false;
    };
    // One direction's lines in one block: values, bases, sums, flags.
    struct Set {
        void* block = nullptr;
        size_t bytes = 0;
        int count = 0;
        int stride = 1;  // basis functions per line
        double* values = nullptr;
        double* N = nullptr;
        ColumnSum* sums = nullptr;  // kColumns per line; null: none kept
        Head* heads = nullptr;

        bool make(Scratch& s, int n, int degree, bool with_sums) {
            // basis_in_range writes degree + 1 functions, none where the
            // degree is out of its range.
            stride = (degree >= 1 && degree <= kMaxDegree ? degree : 0) + 1;
            const size_t line = sizeof(double) * (1 + stride) +
                                (with_sums ? sizeof(ColumnSum) * kColumns : 0) + sizeof(Head);
            const size_t wanted = line * static_cast<size_t>(n);
            if (wanted > bytes) {
                s.put(block);
                block = s.get(wanted);
                bytes = block != nullptr ? wanted : 0;
                if (block == nullptr) return false;
            }
            count = n;
            values = static_cast<double*>(block);
            N = values + n;
            sums = with_sums ? reinterpret_cast<ColumnSum*>(N + n * stride) : nullptr;
            char* after = reinterpret_cast<char*>(N + n * stride) +
                          (with_sums ? sizeof(ColumnSum) * kColumns * n : 0);
            heads = reinterpret_cast<Head*>(after);
            for (int i = 0; i < n; ++i) heads[i] = Head{};
            return true;
        }
    };

    Scratch* s_ = nullptr;
    const Surface* sur_ = nullptr;
    int direction_ = 1;
    double L_ = 0.0;  // the length the points along were laid over
    Set across_, along_;
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
// than their bases), each as large as all before it.
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
            if (count_ == capacity_) {
                const int lines = capacity_ == 0 ? kFirst : capacity_;
                void* block = s.get(sizeof(Line) * lines);
                if (block == nullptr || !blocks_.push(s, static_cast<Line*>(block))) {
                    s.put(block);
                    return -1;
                }
                capacity_ += lines;
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
    // Block 0 holds lines 0 to kFirst - 1, block b > 0 the kFirst << (b - 1)
    // from kFirst << (b - 1) on.
    Line& operator[](int k) {
        if (k < kFirst) return blocks_[0][k];
        const int b = 32 - __builtin_clz(static_cast<unsigned>(k / kFirst));
        return blocks_[b][k - (kFirst << (b - 1))];
    }

private:
    // A small face's subdivision meets a few lines in each direction: the
    // blocks start small (a line is some 500 bytes) and double.
    static constexpr int kFirst = 8;
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

    Table<Line*> blocks_;  // kFirst, kFirst, 2 kFirst, 4 kFirst, ... lines
    int count_ = 0;
    int capacity_ = 0;  // the lines the blocks hold
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
        return ready_bases(sur_, a.value, ba.ready, ba.N, &ba.span, b.value, bb.ready, bb.N,
                           &bb.span);
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
