// Fixed boundary polylines: trim loops the caller gives as points in the
// parameter plane, taken as the trim polygon exactly. The cell grid still
// crosses them; the vertices it leaves on a fixed segment are collapsed
// along the loop onto a neighbour afterwards, so that the caller's points
// are the only vertices on the loop and a neighbouring face that uses the
// same points meets this one without a T-junction.
#include <cmath>
#include <cstdint>
#include <initializer_list>

#include "nurbs/tessellation/tess_fixed.h"

namespace ruvane::tess {
namespace {

double cross2(double au, double av, double bu, double bv) { return to_double(au * bv - av * bu); }

double segment_distance(double pu, double pv, double au, double av, double bu, double bv) {
    const double du = bu - au, dv = bv - av;
    const double len2 = du * du + dv * dv;
    double t = len2 > 0.0 ? ((pu - au) * du + (pv - av) * dv) / len2 : 0.0;
    t = smaller(larger(t, 0.0), 1.0);
    // Metric-plane coordinates are bounded by the surface's size: the
    // squares cannot overflow, and a library hypot call costs more than
    // the whole rest of this test.
    const double eu = pu - (au + t * du), ev = pv - (av + t * dv);
    return std::sqrt(eu * eu + ev * ev);
}

// Whether p lies more than `far` outside the box of segment ab along u or v:
// then no point of the segment is within `far` of it.
// Fixed loop points are finite (clamped to the surface's box), so a plain
// comparison picks the same bound as fmin/fmax, without a library call.
bool beyond_box(double pu, double pv, double au, double av, double bu, double bv, double far) {
    return pu < (au < bu ? au : bu) - far || pu > (au > bu ? au : bu) + far ||
           pv < (av < bv ? av : bv) - far || pv > (av > bv ? av : bv) + far;
}

double distance3(const Point3& p, const Point3& a, const Point3& b) {
    const Point3 ab = vec_sub(b, a);
    const double len2 = vec_dot(ab, ab);
    double t = len2 > 0.0 ? vec_dot(vec_sub(p, a), ab) / len2 : 0.0;
    t = smaller(larger(t, 0.0), 1.0);
    return vec_distance(p, {a.x + t * ab.x, a.y + t * ab.y, a.z + t * ab.z});
}

// Results already worked out, by up to three vertex numbers: open
// addressing in scratch storage, half full at most. Remembering is only a
// saving: when storage runs out the value is simply worked out again.
template <class V>
class Memo {
public:
    struct Key {
        int a, b, c;
        bool operator==(const Key& o) const { return a == o.a && b == o.b && c == o.c; }
    };

    const V* find(const Key& k) const {
        if (slots_.size == 0) return nullptr;
        for (int i = first(k);; i = (i + 1) & (slots_.size - 1)) {
            const Slot& x = slots_[i];
            if (!x.used) return nullptr;
            if (x.key == k) return &x.value;
        }
    }

    void put(Scratch& s, const Key& k, const V& v) {
        if (2 * (count_ + 1) > slots_.size && !grow(s)) return;
        int i = first(k);
        while (slots_[i].used && !(slots_[i].key == k)) i = (i + 1) & (slots_.size - 1);
        if (!slots_[i].used) ++count_;
        slots_[i] = {k, v, true};
    }

    // Room for about n results before the first regrowth (a power of two
    // at least twice n): rehashing as it fills cost more than the lookups.
    void reserve(Scratch& s, int n) {
        int size = 256;
        while (size < 2 * n && size < (1 << 20)) size *= 2;
        if (count_ == 0 && size > slots_.size) {
            s.put(slots_.data);
            slots_ = Table<Slot>{};
            if (!slots_.resize(s, size, Slot{{0, 0, 0}, V{}, false})) slots_ = Table<Slot>{};
        }
    }

private:
    struct Slot {
        Key key;
        V value;
        bool used;
    };
    Table<Slot> slots_;
    int count_ = 0;

    int first(const Key& k) const {
        uint64_t h = static_cast<uint32_t>(k.a);
        h = h * 0x9E3779B97F4A7C15ull ^ static_cast<uint32_t>(k.b);
        h = h * 0x9E3779B97F4A7C15ull ^ static_cast<uint32_t>(k.c);
        h *= 0x9E3779B97F4A7C15ull;
        return static_cast<int>(h >> 33) & (slots_.size - 1);
    }

    bool grow(Scratch& s) {
        const int n = slots_.size == 0 ? 256 : 2 * slots_.size;
        if (n > (1 << 26)) return false;
        Table<Slot> old = slots_;
        Table<Slot> fresh;
        if (!fresh.resize(s, n, Slot{{0, 0, 0}, V{}, false})) return false;
        slots_ = fresh;
        count_ = 0;
        for (int i = 0; i < old.size; ++i)
            if (old[i].used) put(s, old[i].key, old[i].value);
        s.put(old.data);
        return true;
    }
};

// Twice a triangle's area over its squared sides (about 0.29 when
// equilateral); below this a changed triangle counts as folded: a sliver of
// nearly collinear points would only be a crack in the making.
constexpr double kMinShape = 1e-8;

// A seam pair's collapses keep their new triangles within this share of A
// at the points measured (edge middles, centre). A seam's pair stretches
// triangles along a whole parallel, and a single vertex's rule (within A at
// those points) let the assembly's torus reach the deflection itself
// between them; vertex removal keeps the same margin for the same reason.
constexpr double kPairShare = 0.8;

class Settler {
public:
    Settler(Scratch& s, FixedSettle& fs, const LoopSet& set, const VertexTable& verts, double tol,
            Table<Tri>& tris)
        : s_(s), fs_(fs), set_(set), verts_(verts), tol_(tol), tris_(tris) {}

    int run() {
        const int rc = index_triangles();
        if (rc != 0) return rc;
        closed_u_ = net_closes(*fs_.sur->net, 1);
        closed_v_ = net_closes(*fs_.sur->net, 2);
        Table<int> candidates, seam;
        for (int x = 0; x < verts_.u.size; ++x) {
            if (own_[x] || first_[x] == first_[x + 1] || !on_fixed(verts_.u[x], verts_.v[x]))
                continue;
            if (!(on_seam(x) ? seam.push(s_, x) : candidates.push(s_, x))) return kErrStorage;
        }
        // Each candidate asks about a few triangles and their edges.
        deviations_.reserve(s_, 4 * candidates.size);
        middles_.reserve(s_, 4 * candidates.size);
        // A collapse may wait for its neighbour to go first; a few passes
        // settle every chain of such vertices along one segment.
        for (int pass = 0; pass < 4 && candidates.size > 0; ++pass) {
            int kept = 0;
            for (int k = 0; k < candidates.size; ++k) {
                bool done = false;
                if (!try_remove(candidates[k], &done)) return kErrStorage;
                if (!done) candidates[kept++] = candidates[k];
            }
            if (kept == candidates.size) break;
            candidates.size = kept;
        }
        for (int k = 0; k < candidates.size; ++k)
            if (!fs_.left.push(s_, candidates[k])) return kErrStorage;
        if (!settle_seam(seam)) return kErrStorage;
        if (!unfold_poles()) return kErrStorage;
        int live = 0;
        for (int t = 0; t < tris_.size; ++t)
            if (tris_[t].a >= 0) tris_[live++] = tris_[t];
        tris_.size = live;
        return 0;
    }

private:
    Scratch& s_;
    FixedSettle& fs_;
    const LoopSet& set_;
    const VertexTable& verts_;
    double tol_;
    Table<Tri>& tris_;
    Table<int> first_, items_;  // the triangles of each vertex as first made
    Table<int> merged_;         // next vertex collapsed into the same survivor, -1 at the end
    Table<Table<int>> more_;    // triangles written later (a refilled star) per vertex
    Table<char> own_;           // a point of a fixed loop
    Table<char> pole_;          // a vertex on a side collapsed to a point (fixed or left)
    bool closed_u_ = false, closed_v_ = false;
    // Each vertex's surface point, evaluated once: the collapse and refill
    // tests ask for the same corners over and over.
    mutable Table<Point3> point_;
    mutable Table<char> point_state_;  // 0 not yet evaluated, 1 done, 2 evaluation failed
    // The surface at the middle of each edge asked about (state 0: on a
    // fixed loop, not evaluated; 1 done; 2 evaluation failed), and the
    // deviation of each triangle, corners in the order asked: the passes
    // and the two collapse targets ask for the same ones again.
    struct Middle {
        Point3 at;
        char state;
    };
    mutable Memo<Middle> middles_;
    mutable Memo<double> deviations_;
    mutable int hint_[2] = {-1, -1};  // the spans of the last point evaluated
    // Working tables, reused from one vertex to the next.
    Table<int> taken_, slots_, link_;  // taken_: around's stamp per triangle slot
    int token_ = 0;
    Table<Tri> rx_, ry_, ring_, made_, rx2_, ry2_;
    Table<int> slots2_;

    int index_triangles() {
        const int n = verts_.u.size;
        if (!first_.resize(s_, n + 1, 0) || !merged_.resize(s_, n, -1) || !own_.resize(s_, n, 0) ||
            !more_.resize(s_, n, Table<int>{}) || !point_.resize(s_, n, Point3{}) ||
            !point_state_.resize(s_, n, 0) || !taken_.resize(s_, tris_.size, 0))
            return kErrStorage;
        for (int k = 0; k < set_.loops.size; ++k) {
            const Loop& l = set_.loops[k];
            if (!l.fixed) continue;
            for (int i = 0; i < l.vertex.size; ++i)
                if (l.vertex[i] >= 0) own_[l.vertex[i]] = 1;
        }
        for (int t = 0; t < tris_.size; ++t)
            for (int c : {tris_[t].a, tris_[t].b, tris_[t].c}) ++first_[c + 1];
        for (int k = 0; k < n; ++k) first_[k + 1] += first_[k];
        if (!items_.resize(s_, first_[n], 0)) return kErrStorage;
        Table<int> fill;
        if (!fill.resize(s_, n, 0)) return kErrStorage;
        for (int k = 0; k < n; ++k) fill[k] = first_[k];
        for (int t = 0; t < tris_.size; ++t)
            for (int c : {tris_[t].a, tris_[t].b, tris_[t].c}) items_[fill[c]++] = t;
        return 0;
    }

    // A vertex on a bound the surface closes over is settled together with
    // its partner on the opposite bound (the same coordinate along the
    // bound, which the cells give both exactly): both collapse onto the
    // matching copies of one fixed point, or both stay (and are counted as
    // left). Settled each on its own, rounding could remove one and keep
    // the other (the x87 build folded a ball's pole so); kept, the two carry
    // one point and close the mesh across the seam by themselves. A ball's
    // seam kept a vertex per parallel and a torus' two seams one per row
    // and column, with the triangles around them.
    bool settle_seam(const Table<int>& seam) {
        Table<int> low, high;  // the pairs still to settle
        for (int k = 0; k < seam.size; ++k) {
            const int x = seam[k];
            if (seam_side(x) == 2) continue;
            const int partner = seam_side(x) == 1 ? seam_partner(x, seam) : -1;
            if (partner < 0) {
                if (!fs_.left.push(s_, x)) return false;
            } else if (!low.push(s_, x) || !high.push(s_, partner)) {
                return false;
            }
        }
        for (int k = 0; k < seam.size; ++k) {
            bool paired = false;
            for (int m = 0; m < high.size; ++m) paired = paired || high[m] == seam[k];
            if (seam_side(seam[k]) == 2 && !paired && !fs_.left.push(s_, seam[k])) return false;
        }
        for (int pass = 0; pass < 4 && low.size > 0; ++pass) {
            int kept = 0;
            for (int k = 0; k < low.size; ++k) {
                bool done = false;
                if (!try_remove_pair(low[k], high[k], &done)) return false;
                if (!done) low[kept] = low[k], high[kept++] = high[k];
            }
            if (kept == low.size) break;
            low.size = high.size = kept;
        }
        for (int k = 0; k < low.size; ++k)
            if (!fs_.left.push(s_, low[k]) || !fs_.left.push(s_, high[k])) return false;
        return true;
    }

    // 1 on the low copy of a seam (u = 0 of a surface closed in u, or v = 0
    // of one closed in v), 2 on the high copy, 0 on both seams at once (a
    // corner of a surface closed both ways, left alone).
    int seam_side(int x) const {
        const Surface& sur = *fs_.sur;
        const double Lu = sur.uknt->U[sur.uknt->m], Lv = sur.vknt->U[sur.vknt->m];
        const double u = verts_.u[x], v = verts_.v[x];
        const bool su = closed_u_ && (u == 0.0 || u == Lu), sv = closed_v_ && (v == 0.0 || v == Lv);
        if (su == sv) return 0;
        return (su ? u : v) == 0.0 ? 1 : 2;
    }

    // The vertex across the seam from x at exactly its coordinate along
    // the bound, or -1.
    int seam_partner(int x, const Table<int>& seam) const {
        const bool along_v = closed_u_ && (verts_.u[x] == 0.0);
        for (int k = 0; k < seam.size; ++k) {
            const int y = seam[k];
            if (seam_side(y) != 2) continue;
            if (along_v ? verts_.v[y] == verts_.v[x] && verts_.u[y] != 0.0
                        : verts_.u[y] == verts_.u[x] && verts_.v[y] != 0.0)
                return y;
        }
        return -1;
    }

    // Whether the net's side (0: u = 0, 1: u at its end, 2: v = 0, 3: v at
    // its end) is one point: a pole, a cone's apex.
    bool side_collapses(int side) const {
        const ControlNet& net = *fs_.sur->net;
        const int count = side < 2 ? net.m : net.n;
        const int fixed_index = side == 0 || side == 2 ? 0 : side == 1 ? net.n : net.m;
        auto at = [&](int k) {
            return project_point(side < 2 ? net.Pw[fixed_index][k] : net.Pw[k][fixed_index]);
        };
        const Point3 first = at(0);
        for (int k = 1; k <= count; ++k)
            if (vec_distance(at(k), first) > 1e-7) return false;
        return true;
    }

    // A side collapsed to a point carries a fixed loop's points, all one
    // point in space, but the cells see them apart: beside the next side
    // of the loop they can fan out from them to that side's points, each
    // triangle (one point of the pole, two of the side) lying along the
    // side's curve, turned away from the surface. Joined by position (as
    // the caller joins a ball's seam, or two faces along that side) those
    // triangles double one another's edges. Each such triangle's edge from
    // the pole to the side point farther from it is flipped into the mesh,
    // so that the side's points fan out to inner vertices instead. False
    // only on storage failure.
    bool unfold_poles() {
        const Surface& sur = *fs_.sur;
        const double L[4] = {0.0, sur.uknt->U[sur.uknt->m], 0.0, sur.vknt->U[sur.vknt->m]};
        bool collapsed[4], any = false;
        for (int side = 0; side < 4; ++side) any = (collapsed[side] = side_collapses(side)) || any;
        if (!any) return true;
        if (!pole_.resize(s_, verts_.u.size, 0)) return false;
        Table<int> poles;
        for (int x = 0; x < verts_.u.size; ++x) {
            for (int side = 0; side < 4; ++side)
                if (collapsed[side] && (side < 2 ? verts_.u[x] : verts_.v[x]) == L[side])
                    pole_[x] = 1;
            if (pole_[x] && !poles.push(s_, x)) return false;
        }
        // A flip can leave another such triangle nearer the pole (the side
        // point it joined still fans out from a pole point), taken in the
        // next pass; the passes are bounded all the same.
        for (int pass = 0; pass < 64; ++pass) {
            bool flipped = false;
            for (int k = 0; k < poles.size; ++k) {
                bool done = false;
                if (!unfold_at(poles[k], &done)) return false;
                flipped = flipped || done;
            }
            if (!flipped) break;
        }
        return true;
    }

    // One flip at pole point p, if a triangle of its star lies along a
    // side. False only on storage failure.
    bool unfold_at(int p, bool* done) {
        Table<Tri>& rx = rx_;
        Table<int>& slots = slots_;
        if (!around(p, rx, &slots)) return false;
        for (int k = 0; k < rx.size; ++k) {
            const Tri t = rx[k];
            if (pole_[t.b] || pole_[t.c] || !own_[t.b] || !own_[t.c] || faces_surface(t)) continue;
            bool ok = true;
            const Point3 P = vertex_point(p, &ok);
            const bool far_b =
                vec_distance(vertex_point(t.b, &ok), P) >= vec_distance(vertex_point(t.c, &ok), P);
            if (!ok) continue;
            // Across the edge p-b the triangle (p, q, b); across c-p, (p, c, q).
            int across = -1;
            for (int m = 0; m < rx.size; ++m)
                if (far_b ? rx[m].c == t.b : rx[m].b == t.c) across = m;
            if (across < 0) continue;
            const int q = far_b ? rx[across].b : rx[across].c;
            const Tri one = far_b ? Tri{q, t.b, t.c} : Tri{t.b, t.c, q};
            const Tri two = far_b ? Tri{p, q, t.c} : Tri{p, t.b, q};
            const int joined = far_b ? t.c : t.b;  // the new edge is q-joined
            if (!(shape(one.a, one.b, one.c) > kMinShape) ||
                !(shape(two.a, two.b, two.c) > kMinShape))
                continue;
            Table<Tri>& ring = ry_;
            if (!around(q, ring)) return false;
            if (has(ring, joined)) continue;
            const double before = larger(deviation(t), deviation(rx[across]));
            const double after = larger(deviation(one), deviation(two));
            // A triangle along the side is a fold, not a near miss: the
            // two that replace it may stray past A (up to twice the worse
            // of A and what was there) when neither lies along a side.
            const double limit = larger(fs_.A, before);
            if (before < 0.0 || after < 0.0 || after > 2.0 * limit) continue;
            if (after > limit && !(faces_surface(one) && faces_surface(two))) continue;
            const int slot_t = slots[k], slot_across = slots[across];
            tris_[slot_t] = one;
            tris_[slot_across] = two;
            if (!more_[q].push(s_, slot_t) || !more_[joined].push(s_, slot_across)) return false;
            *done = true;
            return true;
        }
        return true;
    }

    // Whether the triangle's normal lies within 60 degrees of the
    // surface's at its centre (a triangle the surface cannot be measured
    // at counts as facing: nothing is known against it).
    bool faces_surface(const Tri& t) const {
        bool ok = true;
        const Point3 A = vertex_point(t.a, &ok), B = vertex_point(t.b, &ok),
                     C = vertex_point(t.c, &ok);
        if (!ok) return true;
        const double cu = (verts_.u[t.a] + verts_.u[t.b] + verts_.u[t.c]) / 3.0;
        const double cv = (verts_.v[t.a] + verts_.v[t.b] + verts_.v[t.c]) / 3.0;
        Point3 row0[2], row1[2];
        Point3* skl[2] = {row0, row1};
        if (N_SURDER(*fs_.sur, 1, cu, cv, 1, 1, 1, skl) != kOk) return true;
        const Point3 N = vec_cross(row1[0], row0[1]);
        const Point3 n = vec_cross(vec_sub(B, A), vec_sub(C, A));
        const double scale = vec_length(N) * vec_length(n);
        if (!(vec_length(N) > 0.0)) return true;
        return vec_dot(n, N) > 0.5 * scale;
    }

    // The neighbours of x along the mesh boundary, when x is a simple
    // boundary vertex.
    bool boundary_neighbours(const Table<Tri>& rx, int* next, int* prev) const {
        int nexts = 0, prevs = 0;
        for (int k = 0; k < rx.size; ++k) {
            bool inner_next = false, inner_prev = false;
            for (int m = 0; m < rx.size; ++m) {
                inner_next = inner_next || rx[m].c == rx[k].b;
                inner_prev = inner_prev || rx[m].b == rx[k].c;
            }
            if (!inner_next) *next = rx[k].b, ++nexts;
            if (!inner_prev) *prev = rx[k].c, ++prevs;
        }
        return nexts == 1 && prevs == 1;
    }

    // Collapses x and its partner x2 onto the two copies of one boundary
    // neighbour (the nearer first), when both collapses keep the rules.
    // False only on storage failure.
    bool try_remove_pair(int x, int x2, bool* done) {
        Table<Tri>& rx = rx_;
        Table<Tri>& ry = ry_;
        Table<int>& slots = slots_;
        if (!around(x, rx, &slots) || !around(x2, rx2_, &slots2_)) return false;
        int next = -1, prev = -1, next2 = -1, prev2 = -1;
        if (!boundary_neighbours(rx, &next, &prev) || !boundary_neighbours(rx2_, &next2, &prev2))
            return true;
        for (int k = 0; k < slots.size; ++k)
            for (int m = 0; m < slots2_.size; ++m)
                if (slots[k] == slots2_[m]) return true;  // the stars touch: a narrow domain
        const bool along_v = verts_.u[x] == 0.0;
        auto along = [&](int y) { return along_v ? verts_.v[y] : verts_.u[y]; };
        auto d = [&](int y) { return std::fabs(along(y) - along(x)); };
        const int first = d(next) <= d(prev) ? next : prev;
        for (int y : {first, first == next ? prev : next}) {
            int y2 = -1;
            for (int w : {next2, prev2})
                if (std::fabs(along(w) - along(y)) <= tol_) y2 = w;
            if (y2 < 0) continue;
            if (!around(y, ry)) return false;
            if (!may_collapse(x, y, rx, ry, kPairShare * fs_.A)) continue;
            if (!around(y2, ry2_)) return false;
            if (!may_collapse(x2, y2, rx2_, ry2_, kPairShare * fs_.A)) continue;
            collapse(x, y, slots);
            collapse(x2, y2, slots2_);
            *done = true;
            return true;
        }
        return true;
    }

    bool on_seam(int x) const {
        const Surface& sur = *fs_.sur;
        const double Lu = sur.uknt->U[sur.uknt->m], Lv = sur.vknt->U[sur.vknt->m];
        const double u = verts_.u[x], v = verts_.v[x];
        return (closed_u_ && (u == 0.0 || u == Lu)) || (closed_v_ && (v == 0.0 || v == Lv));
    }

    bool on_fixed(double u, double v) const {
        for (int k = 0; k < set_.loops.size; ++k) {
            const Loop& l = set_.loops[k];
            if (!l.fixed || u < l.umin - tol_ || u > l.umax + tol_ || v < l.vmin - tol_ ||
                v > l.vmax + tol_)
                continue;
            bool on = false;
            // The box test leaves twice the tolerance: the distance itself
            // decides every point near the tolerance, whatever the rounding.
            const double far = 2.0 * tol_;
            for_segments_near(l, u - tol_, u + tol_, v - tol_, v + tol_, [&](int i) {
                if (on) return;
                const int j = i + 1 < l.u.size ? i + 1 : 0;
                if (beyond_box(u, v, l.u[i], l.v[i], l.u[j], l.v[j], far)) return;
                if (segment_distance(u, v, l.u[i], l.v[i], l.u[j], l.v[j]) <= tol_) on = true;
            });
            if (on) return true;
        }
        return false;
    }

    // The live triangles around y, each rotated so that y comes first, and
    // (when asked) their slots.
    bool around(int y, Table<Tri>& out, Table<int>* ids = nullptr) {
        out.clear();
        if (ids) ids->clear();
        // A slot listed twice (first made, then refilled) is taken once:
        // stamped with this call's token when taken.
        ++token_;
        auto take = [&](int slot) {
            const Tri t = tris_[slot];
            if (t.a < 0) return true;
            Tri r = t;
            if (t.b == y)
                r = {t.b, t.c, t.a};
            else if (t.c == y)
                r = {t.c, t.a, t.b};
            else if (t.a != y)
                return true;
            if (taken_[slot] == token_) return true;
            taken_[slot] = token_;
            return out.push(s_, r) && (!ids || ids->push(s_, slot));
        };
        for (int z = y; z >= 0; z = merged_[z]) {
            for (int k = first_[z]; k < first_[z + 1]; ++k)
                if (!take(items_[k])) return false;
            for (int k = 0; k < more_[z].size; ++k)
                if (!take(more_[z][k])) return false;
        }
        return true;
    }

    // The surface point at (u, v), N_SUREVN's: the points asked for lie
    // close together (one vertex's star after another along a loop), so
    // the span search starts from the last point's spans.
    Point3 at(double u, double v, bool* ok) const {
        Point3 S{};
        if (surface_point_near(*fs_.sur, u, v, hint_, &S) != kOk) *ok = false;
        return S;
    }

    Point3 vertex_point(int v, bool* ok) const {
        if (point_state_[v] == 0) {
            bool good = true;
            point_[v] = at(verts_.u[v], verts_.v[v], &good);
            point_state_[v] = good ? 1 : 2;
        }
        if (point_state_[v] == 2) *ok = false;
        return point_[v];
    }

    // How far the surface strays from the triangle: its centre from the
    // triangle's plane, the middle of each edge from the edge, leaving out
    // edges along a fixed loop (the caller's chords). Negative on failure.
    double deviation(const Tri& t) const {
        if (const double* known = deviations_.find({t.a, t.b, t.c})) return *known;
        const int c[3] = {t.a, t.b, t.c};
        bool ok = true;
        Point3 P[3];
        for (int i = 0; i < 3; ++i) P[i] = vertex_point(c[i], &ok);
        double worst = 0.0;
        for (int i = 0; i < 3; ++i) {
            const Middle m = middle(c[i], c[(i + 1) % 3]);
            if (m.state == 0) continue;
            if (m.state == 2) ok = false;
            worst = larger(worst, distance3(m.at, P[i], P[(i + 1) % 3]));
        }
        const double cu = (verts_.u[c[0]] + verts_.u[c[1]] + verts_.u[c[2]]) / 3.0;
        const double cv = (verts_.v[c[0]] + verts_.v[c[1]] + verts_.v[c[2]]) / 3.0;
        const Point3 n = vec_cross(vec_sub(P[1], P[0]), vec_sub(P[2], P[0]));
        const double len = vec_length(n);
        if (len > 0.0)
            worst = larger(worst, std::fabs(vec_dot(vec_sub(at(cu, cv, &ok), P[0]), n)) / len);
        const double result = ok ? worst : -1.0;
        deviations_.put(s_, {t.a, t.b, t.c}, result);
        return result;
    }

    // The middle of edge ab (the same point whichever way it is run).
    Middle middle(int a, int b) const {
        const Memo<Middle>::Key key{a < b ? a : b, a < b ? b : a, -1};
        if (const Middle* known = middles_.find(key)) return *known;
        const double mu = 0.5 * (verts_.u[a] + verts_.u[b]);
        const double mv = 0.5 * (verts_.v[a] + verts_.v[b]);
        Middle m{Point3{}, 0};
        if (!on_fixed(mu, mv)) {
            bool good = true;
            m.at = at(mu, mv, &good);
            m.state = good ? 1 : 2;
        }
        middles_.put(s_, key, m);
        return m;
    }

    double area2(int a, int b, int c) const {
        return cross2(verts_.u[b] - verts_.u[a], verts_.v[b] - verts_.v[a],
                      verts_.u[c] - verts_.u[a], verts_.v[c] - verts_.v[a]);
    }

    static bool has(const Table<Tri>& ring, int w) {
        for (int k = 0; k < ring.size; ++k)
            if (ring[k].b == w || ring[k].c == w) return true;
        return false;
    }

    // Whether x may go onto y: the one triangle they share dies, every
    // other triangle of x keeps its turn and stays within `limit` of the
    // surface (or no farther than before), and no other neighbour is
    // shared (that would double an edge).
    bool may_collapse(int x, int y, const Table<Tri>& rx, const Table<Tri>& ry,
                      double limit) const {
        int shared = -1;
        for (int k = 0; k < rx.size; ++k) {
            const Tri& t = rx[k];
            if (t.b == y || t.c == y) {
                if (shared >= 0) return false;
                shared = t.b == y ? t.c : t.b;
                continue;
            }
            if (!(shape(y, t.b, t.c) > kMinShape)) return false;
            // The triangle as it was matters only when the new one is
            // farther than the limit: fmax(limit, before) >= limit.
            const double after = deviation({y, t.b, t.c});
            if (after < 0.0) return false;
            if (after > limit && after > larger(limit, deviation({x, t.b, t.c}))) return false;
        }
        if (shared < 0) return false;
        for (int k = 0; k < rx.size; ++k)
            for (int w : {rx[k].b, rx[k].c})
                if (w != y && w != shared && has(ry, w)) return false;
        return true;
    }

    void collapse(int x, int y, const Table<int>& slots) {
        for (int k = 0; k < slots.size; ++k) {
            Tri& t = tris_[slots[k]];
            if (t.a == y || t.b == y || t.c == y) {
                t.a = -1;
                continue;
            }
            for (int* p : {&t.a, &t.b, &t.c})
                if (*p == x) *p = y;
        }
        int tail = y;
        while (merged_[tail] >= 0) tail = merged_[tail];
        merged_[tail] = x;
    }

    // The star of x refilled without it: its link, from the boundary
    // neighbour `next` round to `prev`, is a polygon whose closing side
    // (prev to next) passes through x; it is cut into ears, each
    // counter-clockwise, holding no other link vertex, adding no edge the
    // mesh has already, and within A of the surface (or no farther than
    // x's triangles were). The k triangles of x become k - 1 in their
    // slots. False only on storage failure; *done tells whether it was
    // done.
    bool refill(int next, int prev, const Table<Tri>& rx, const Table<int>& slots, bool* done) {
        Table<int>& link = link_;
        link.clear();
        if (!link.push(s_, next)) return false;
        for (int step = 0; step < rx.size; ++step) {
            int to = -1;
            for (int k = 0; k < rx.size; ++k)
                if (rx[k].b == link[link.size - 1]) to = rx[k].c;
            if (to < 0) return true;
            if (!link.push(s_, to)) return false;
        }
        // A star of one triangle has nothing left without x; and the
        // closing side must not be an edge already.
        if (link[link.size - 1] != prev || link.size != rx.size + 1 || link.size < 3) return true;
        Table<Tri>& ring = ring_;
        if (!around(prev, ring)) return false;
        if (has(ring, next)) return true;
        // The star's own deviation is worked out only when a new triangle
        // strays farther than A: below that it cannot change a decision.
        double allowed = -1.0;
        auto refused = [&](double dev) {
            if (dev < 0.0) return true;
            if (dev <= fs_.A) return false;
            if (allowed < 0.0) {
                double before = 0.0;
                for (int k = 0; k < rx.size; ++k) before = larger(before, deviation(rx[k]));
                allowed = larger(fs_.A, before);
            }
            return dev > allowed;
        };
        Table<Tri>& made = made_;
        made.clear();
        while (link.size > 3) {
            int best = -1;
            double quality = 0.0;
            for (int i = 0; i < link.size; ++i) {
                const int a = link[(i + link.size - 1) % link.size], b = link[i],
                          c = link[(i + 1) % link.size];
                const double q = ear_quality(a, b, c, link);
                if (!(q > quality)) continue;
                if (!around(a, ring)) return false;
                if (has(ring, c)) continue;
                if (refused(deviation({a, b, c}))) continue;
                best = i;
                quality = q;
            }
            if (best < 0) return true;
            const int n = link.size;
            if (!made.push(s_, {link[(best + n - 1) % n], link[best], link[(best + 1) % n]}))
                return false;
            for (int k = best; k + 1 < n; ++k) link[k] = link[k + 1];
            --link.size;
        }
        const Tri last{link[0], link[1], link[2]};
        if (!(shape(last.a, last.b, last.c) > kMinShape)) return true;
        if (refused(deviation(last))) return true;
        if (!made.push(s_, last)) return false;
        for (int k = 0; k < slots.size; ++k) {
            tris_[slots[k]] = k < made.size ? made[k] : Tri{-1, -1, -1};
            if (k >= made.size) continue;
            for (int v : {made[k].a, made[k].b, made[k].c})
                if (!more_[v].push(s_, slots[k])) return false;
        }
        *done = true;
        return true;
    }

    // How well shaped the ear (a, b, c) of the link is (twice its area over
    // its squared sides), 0 when it is no ear: turned the wrong way, or
    // holding another link vertex.
    double ear_quality(int a, int b, int c, const Table<int>& link) const {
        const double q = shape(a, b, c);
        if (!(q > kMinShape)) return 0.0;
        for (int k = 0; k < link.size; ++k) {
            const int p = link[k];
            if (p == a || p == b || p == c) continue;
            if (area2(a, b, p) >= 0.0 && area2(b, c, p) >= 0.0 && area2(c, a, p) >= 0.0) return 0.0;
        }
        return q;
    }

    double shape(int a, int b, int c) const {
        auto sq = [&](int i, int j) {
            const double du = verts_.u[i] - verts_.u[j], dv = verts_.v[i] - verts_.v[j];
            return du * du + dv * dv;
        };
        const double sides = sq(a, b) + sq(b, c) + sq(c, a);
        return sides > 0.0 ? area2(a, b, c) / sides : 0.0;
    }

    // Collapses x onto the nearer of its two neighbours along the mesh
    // boundary, else the farther, else refills its star. False only on
    // storage failure.
    bool try_remove(int x, bool* done) {
        Table<Tri>& rx = rx_;
        Table<Tri>& ry = ry_;
        Table<int>& slots = slots_;
        if (!around(x, rx, &slots)) return false;
        int next = -1, prev = -1;
        if (!boundary_neighbours(rx, &next, &prev)) return true;
        auto d = [&](int y) {
            return std::hypot(verts_.u[y] - verts_.u[x], verts_.v[y] - verts_.v[x]);
        };
        const int first = d(next) <= d(prev) ? next : prev;
        for (int y : {first, first == next ? prev : next}) {
            if (!around(y, ry)) return false;
            if (may_collapse(x, y, rx, ry, fs_.A)) {
                collapse(x, y, slots);
                *done = true;
                return true;
            }
        }
        return refill(next, prev, rx, slots, done);
    }
};

}  // namespace

int settle_fixed_loops(Scratch& s, FixedSettle& settle, LoopSet& set, const VertexTable& verts,
                       double eps, Table<Tri>& tris) {
    settle.left.clear();
    bool any = false;
    for (int k = 0; k < set.loops.size; ++k) any = any || set.loops[k].fixed;
    if (!any) return 0;
    const double tol = 4.0 * eps;
    // Every vertex is looked up against the fixed loops: long ones need
    // their segment index (a subdivision that split nothing dropped it).
    for (int k = 0; k < set.loops.size; ++k)
        if (set.loops[k].fixed && set.loops[k].index.nu == 0 && !index_loop(s, set.loops[k], tol))
            return kErrStorage;
    Settler settler(s, settle, set, verts, tol, tris);
    return settler.run();
}

bool net_closes(const ControlNet& net, int direction) {
    const int rows = direction == 1 ? net.m : net.n;
    for (int r = 0; r <= rows; ++r) {
        const Point3 a = project_point(direction == 1 ? net.Pw[0][r] : net.Pw[r][0]);
        const Point3 b = project_point(direction == 1 ? net.Pw[net.n][r] : net.Pw[r][net.m]);
        if (vec_distance(a, b) > 1e-7) return false;
    }
    return true;
}

bool build_fixed_loop(const FixedLoop& in, Scratch& s, Loop& loop) {
    loop.fixed = true;
    loop.u.clear();
    loop.v.clear();
    loop.id.clear();
    for (int i = 0; i < in.count; ++i)
        if (!loop.u.push(s, in.u[i]) || !loop.v.push(s, in.v[i]) || !loop.id.push(s, in.id[i]))
            return false;
    return true;
}

void finish_fixed_loop(const SurfaceMeasures& g, Loop& loop, double C) {
    const int n = loop.u.size;
    const double snap = 7.0 * C;
    int kept = 0;
    for (int i = 0; i < n; ++i) {
        double u = smaller(larger(loop.u[i], g.u_min), g.u_max);
        double v = smaller(larger(loop.v[i], g.v_min), g.v_max);
        if (u - g.u_min <= snap) u = g.u_min;
        if (g.u_max - u <= snap) u = g.u_max;
        if (v - g.v_min <= snap) v = g.v_min;
        if (g.v_max - v <= snap) v = g.v_max;
        u = u == g.u_max ? g.Lu : g.su * (u - g.u_min);
        v = v == g.v_max ? g.Lv : g.sv * (v - g.v_min);
        // A repeated point carries no edge; the first of the two stays.
        if (kept > 0 && u == loop.u[kept - 1] && v == loop.v[kept - 1]) continue;
        loop.u[kept] = u;
        loop.v[kept] = v;
        loop.id[kept] = loop.id[i];
        ++kept;
    }
    while (kept > 1 && loop.u[kept - 1] == loop.u[0] && loop.v[kept - 1] == loop.v[0]) --kept;
    loop.u.size = loop.v.size = loop.id.size = kept;
    update_box(loop);
}

int* fixed_vertex_ids(const LoopSet& set, const FixedSettle& settle, int vertex_count, Pool* pool) {
    int* ids = S_GETI1D(vertex_count > 0 ? vertex_count - 1 : 0, pool);
    if (!ids) return nullptr;
    for (int k = 0; k < vertex_count; ++k) ids[k] = -1;
    for (int k = 0; k < set.loops.size; ++k) {
        const Loop& l = set.loops[k];
        if (!l.fixed) continue;
        for (int i = 0; i < l.vertex.size && i < l.id.size; ++i) {
            const int x = l.vertex[i];
            if (x >= 0 && x < vertex_count && ids[x] == -1) ids[x] = l.id[i];
        }
    }
    for (int k = 0; k < settle.left.size; ++k) ids[settle.left[k]] = -2;
    return ids;
}

}  // namespace ruvane::tess
