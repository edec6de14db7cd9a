// Planar faces: the fixed boundary polygons are moved into the plane's own
// frame (from their points in space, so that the triangles stay flat and
// unfolded whatever the parametrisation), the holes bridged to the outer
// loop and the one polygon left cut into ears, the best-shaped ear first.
#include "nurbs/tessellation/tess_planar.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "nurbs/nurbs.h"
#include "nurbs/tessellation/tess_fixed.h"

namespace ruvane::tess {

namespace {

// Work allowed for the bridge searches, in segment tests per boundary point
// squared: a hostile outline gives up instead of running long.
constexpr double kBridgeWork = 8.0;

struct P2 {
    double x, y;
};

// Signed distance of c from the line through a and b (left positive); the
// caller has made sure a and b are apart.
double side(const P2& a, const P2& b, const P2& c) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    return to_double((dx * (c.y - a.y) - dy * (c.x - a.x)) / std::sqrt(dx * dx + dy * dy));
}

double point_segment(const P2& p, const P2& a, const P2& b) {
    const double dx = b.x - a.x, dy = b.y - a.y, l2 = dx * dx + dy * dy;
    double t = l2 > 0.0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / l2 : 0.0;
    t = smaller(1.0, larger(0.0, t));
    return std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy);
}

// Whether segments pq and rs cross or come within eps of each other.
bool touch(const P2& p, const P2& q, const P2& r, const P2& s, double eps) {
    const double d1 = side(r, s, p), d2 = side(r, s, q), d3 = side(p, q, r), d4 = side(p, q, s);
    if (((d1 > eps && d2 < -eps) || (d1 < -eps && d2 > eps)) &&
        ((d3 > eps && d4 < -eps) || (d3 < -eps && d4 > eps)))
        return true;
    return point_segment(p, r, s) <= eps || point_segment(q, r, s) <= eps ||
           point_segment(r, p, q) <= eps || point_segment(s, p, q) <= eps;
}

// Whether the boxes of segments pq and rs lie more than `gap` apart along x
// or y. With `gap` at twice the outline's eps the segments are then farther
// apart than eps, so touch() could only answer no: the rounding of its
// products is some millionths of eps on coordinates the outline's size.
bool boxes_apart(const P2& p, const P2& q, const P2& r, const P2& s, double gap) {
    return smaller(r.x, s.x) > larger(p.x, q.x) + gap ||
           smaller(p.x, q.x) > larger(r.x, s.x) + gap ||
           smaller(r.y, s.y) > larger(p.y, q.y) + gap || smaller(p.y, q.y) > larger(r.y, s.y) + gap;
}

// Whether the direction from b to m lies strictly inside the region's angle
// at b, the region lying left of a -> b -> c.
bool in_wedge(const P2& a, const P2& b, const P2& c, const P2& m, double eps) {
    const double l = side(a, b, m), r = side(b, c, m);
    if (side(a, b, c) > eps) return l > eps && r > eps;
    return l > eps || r > eps;
}

// Signed area of one loop of the point table (counter-clockwise positive).
double loop_area(const Table<P2>& p, int first, int count) {
    double a = 0.0;
    for (int i = 0, j = count - 1; i < count; j = i++)
        a += p[first + j].x * p[first + i].y - p[first + i].x * p[first + j].y;
    return 0.5 * a;
}

bool inside_loop(const Table<P2>& p, int first, int count, const P2& q) {
    bool in = false;
    for (int i = 0, j = count - 1; i < count; j = i++) {
        const P2 &a = p[first + i], &b = p[first + j];
        if ((a.y > q.y) != (b.y > q.y) && q.x < a.x + (q.y - a.y) * (b.x - a.x) / (b.y - a.y))
            in = !in;
    }
    return in;
}

// The boundary in the plane's frame: every point, its loop, its segment
// (point k to its successor) and the bridges made so far.
struct Outline {
    Table<P2> p;
    Table<int> first, count;  // per loop
    Table<int> next;          // per point, its successor in its loop
    Table<int> bridge_a, bridge_b;
    double eps = 0.0;
    double work = 0.0, budget = 0.0;
    bool refused = false;  // the host refused storage: not a reason to decline
    bool room(bool got) {
        refused = refused || !got;
        return got;
    }
};

// No two segments of the loops cross or touch, none folds back on its
// predecessor. Segments are swept in order of their lowest x.
bool simple_outline(Scratch& s, Outline& o) {
    const int n = o.p.size;
    Table<int> order;
    if (!o.room(order.resize(s, n, 0))) return false;
    for (int k = 0; k < n; ++k) order[k] = k;
    auto lo = [&](int k) { return smaller(o.p[k].x, o.p[o.next[k]].x); };
    std::sort(order.data, order.data + n, [&](int a, int b) {
        const double la = lo(a), lb = lo(b);
        return la < lb || (la == lb && a < b);
    });
    for (int a = 0; a < n; ++a) {
        const int i = order[a], in = o.next[i];
        const P2 &p = o.p[i], &q = o.p[in];
        if (std::hypot(q.x - p.x, q.y - p.y) <= o.eps) return false;
        const P2& after = o.p[o.next[in]];
        if (std::fabs(side(p, q, after)) <= o.eps &&
            (q.x - p.x) * (after.x - q.x) + (q.y - p.y) * (after.y - q.y) < 0.0)
            return false;
        const double hi = larger(p.x, q.x) + o.eps;
        for (int b = a + 1; b < n && lo(order[b]) <= hi; ++b) {
            const int j = order[b], jn = o.next[j];
            if (jn == i || in == j) continue;  // neighbours share a point
            if (boxes_apart(p, q, o.p[j], o.p[jn], 2.0 * o.eps)) continue;
            if (touch(p, q, o.p[j], o.p[jn], o.eps)) return false;
        }
    }
    return true;
}

// Whether the bridge m - v meets no segment nor earlier bridge.
bool bridge_clear(Outline& o, int m, int v) {
    const P2 &a = o.p[m], &b = o.p[v];
    const int n = o.p.size;
    o.work += n + o.bridge_a.size;
    for (int k = 0; k < n; ++k) {
        const int kn = o.next[k];
        if (k == m || k == v || kn == m || kn == v) continue;
        if (boxes_apart(a, b, o.p[k], o.p[kn], 2.0 * o.eps)) continue;
        if (touch(a, b, o.p[k], o.p[kn], o.eps)) return false;
    }
    for (int k = 0; k < o.bridge_a.size; ++k) {
        const int x = o.bridge_a[k], y = o.bridge_b[k];
        if (x == m || x == v || y == m || y == v) continue;
        if (boxes_apart(a, b, o.p[x], o.p[y], 2.0 * o.eps)) continue;
        if (touch(a, b, o.p[x], o.p[y], o.eps)) return false;
    }
    return true;
}

// Joins hole h to the chain (the outer loop and the holes joined before) by
// a bridge from its point of largest x to the nearest chain point it sees.
bool bridge_hole(Scratch& s, Outline& o, int h, Table<int>& chain) {
    const int f = o.first[h], c = o.count[h];
    int m = f;
    for (int k = f + 1; k < f + c; ++k)
        if (o.p[k].x > o.p[m].x) m = k;
    const int mp = m == f ? f + c - 1 : m - 1;
    Table<int> cand;
    Table<double> d2;
    if (!o.room(cand.resize(s, chain.size, 0)) || !o.room(d2.resize(s, chain.size, 0.0)))
        return false;
    for (int k = 0; k < chain.size; ++k) {
        const P2& q = o.p[chain[k]];
        cand[k] = k;
        d2[k] = (q.x - o.p[m].x) * (q.x - o.p[m].x) + (q.y - o.p[m].y) * (q.y - o.p[m].y);
    }
    // Nearest first (the earlier of equally near ones), taken from a heap
    // one at a time: the first few usually see the hole, so ordering the
    // whole chain would mostly go to waste.
    const auto later = [&](int a, int b) { return d2[a] > d2[b] || (d2[a] == d2[b] && a > b); };
    std::make_heap(cand.data, cand.data + cand.size, later);
    const int n = chain.size;
    for (int t = 0; t < n && o.work <= o.budget; ++t) {
        std::pop_heap(cand.data, cand.data + (n - t), later);
        const int pos = cand[n - 1 - t], v = chain[pos];
        const P2& before = o.p[chain[(pos + n - 1) % n]];
        const P2& after = o.p[chain[(pos + 1) % n]];
        if (!in_wedge(before, o.p[v], after, o.p[m], o.eps)) continue;
        if (!in_wedge(o.p[mp], o.p[m], o.p[o.next[m]], o.p[v], o.eps)) continue;
        if (!bridge_clear(o, m, v)) continue;
        // chain[0..pos], m, the hole round to m again, v, chain[pos + 1..].
        Table<int> joined;
        if (!o.room(joined.reserve(s, n + c + 2))) return false;
        for (int k = 0; k <= pos; ++k) joined.push(s, chain[k]);
        for (int k = 0, at = m; k <= c; ++k, at = o.next[at]) joined.push(s, at);
        joined.push(s, v);
        for (int k = pos + 1; k < n; ++k) joined.push(s, chain[k]);
        s.put(chain.data);
        s.put(d2.data);
        chain = joined;
        return o.room(o.bridge_a.push(s, m) && o.bridge_b.push(s, v));
    }
    s.put(d2.data);
    return false;
}

// The chain's places in square cells over the outline's box, so that an
// ear asks only the places near it whether they lie inside it. Places are
// marked gone as their ears are cut.
struct PlaceGrid {
    double x0 = 0.0, y0 = 0.0, scale = 0.0;
    int side = 0;
    Table<int> first, items;  // per cell its places, in order
    Table<char> gone;

    // The cell's number is clamped after the conversion too: x87 code may
    // compare a wider value than the one it then converts (just under
    // `side`, rounded up to it).
    int cell(double t, double t0) const {
        const double c = (t - t0) * scale;
        if (!(c > 0.0)) return 0;  // NaN too
        if (!(c < side)) return side - 1;
        return std::min(static_cast<int>(c), side - 1);
    }

    // False when the storage is refused: the ears then look at every place.
    bool build(Scratch& s, const Outline& o, const Table<int>& chain) {
        const int n = chain.size;
        double x1 = o.p[chain[0]].x, y1 = o.p[chain[0]].y;
        x0 = x1, y0 = y1;
        for (int j = 1; j < n; ++j) {
            const P2& q = o.p[chain[j]];
            x0 = smaller(x0, q.x), x1 = larger(x1, q.x);
            y0 = smaller(y0, q.y), y1 = larger(y1, q.y);
        }
        const double extent = larger(x1 - x0, y1 - y0);
        side = std::max(1, static_cast<int>(std::sqrt(static_cast<double>(n))));
        scale = extent > 0.0 ? side / extent : 0.0;
        if (!first.resize(s, side * side + 1, 0) || !items.resize(s, n, 0) || !gone.resize(s, n, 0))
            return false;
        auto at = [&](int j) {
            const P2& q = o.p[chain[j]];
            return cell(q.y, y0) * side + cell(q.x, x0);
        };
        for (int j = 0; j < n; ++j) ++first[at(j) + 1];
        for (int c = 0; c < side * side; ++c) first[c + 1] += first[c];
        Table<int> fill;
        if (!fill.resize(s, side * side, 0)) return false;
        for (int c = 0; c < side * side; ++c) fill[c] = first[c];
        for (int j = 0; j < n; ++j) items[fill[at(j)]++] = j;
        s.put(fill.data);
        return true;
    }
};

// Ear clipping of the chain (points may repeat where bridges run).
struct Ears {
    const Outline& o;
    const Table<int>& chain;
    const double* u;  // metric-plane coordinates per point
    const double* v;
    Table<int> prev, next;
    const PlaceGrid* grid = nullptr;  // null: every place is looked at
    // On a curved surface: the points and unit normals, and the height a cut
    // may bend to (chord times normal turn) at which its ear's worth halves.
    const Point3* at = nullptr;
    const Point3* normal = nullptr;
    double bend = 0.0;

    // Counter-clockwise in the metric plane too: a plane parametrised
    // other than affinely bends straight lines of one plane in the other.
    bool turns_left(int a, int b, int c) const {
        return to_double((u[b] - u[a]) * (v[c] - v[a]) - (v[b] - v[a]) * (u[c] - u[a])) > 0.0;
    }

    // The ear's area over the sum of its squared sides (largest for an
    // equilateral one); -1 when k is no ear: not strictly convex, or some
    // other point of the chain inside or on its triangle.
    double quality(int k) const {
        const int ia = chain[prev[k]], ib = chain[k], ic = chain[next[k]];
        const P2 &a = o.p[ia], &b = o.p[ib], &c = o.p[ic];
        const double lab = std::sqrt((b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y));
        const double lbc = std::sqrt((c.x - b.x) * (c.x - b.x) + (c.y - b.y) * (c.y - b.y));
        const double lca = std::sqrt((a.x - c.x) * (a.x - c.x) + (a.y - c.y) * (a.y - c.y));
        if (!(lab > o.eps) || !(lbc > o.eps) || !(lca > o.eps)) return -1.0;
        const double twice = to_double((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x));
        if (!(twice > o.eps * lab) || !turns_left(ia, ib, ic)) return -1.0;
        // x is outside when it lies more than eps to the right of a side.
        auto out = [&](const P2& p, const P2& q, double len, const P2& x) {
            return to_double((q.x - p.x) * (x.y - p.y) - (q.y - p.y) * (x.x - p.x)) < -o.eps * len;
        };
        auto inside = [&](int j) {
            const int q = chain[j];
            if (q == ia || q == ib || q == ic) return false;
            const P2& x = o.p[q];
            return !out(a, b, lab, x) && !out(b, c, lbc, x) && !out(c, a, lca, x);
        };
        double shape = 0.5 * twice / (lab * lab + lbc * lbc + lca * lca);
        // The cut a-c that bends least across the surface first: along a
        // strip between two curves its cuts then join the points facing
        // each other, rather than those the metric plane's shape prefers.
        if (normal)
            shape /=
                1.0 +
                std::fabs(vec_dot(vec_sub(at[ic], at[ia]), vec_sub(normal[ic], normal[ia]))) / bend;
        double box[4];
        if (grid && reach(a, b, c, lab, lbc, lca, twice, box)) {
            // Whether any place is inside does not depend on the order the
            // places are looked at in: only those near the ear are.
            const PlaceGrid& g = *grid;
            const int cx0 = g.cell(box[0], g.x0), cx1 = g.cell(box[1], g.x0);
            const int cy0 = g.cell(box[2], g.y0), cy1 = g.cell(box[3], g.y0);
            for (int cy = cy0; cy <= cy1; ++cy)
                for (int cx = cx0; cx <= cx1; ++cx) {
                    const int cell = cy * g.side + cx;
                    for (int i = g.first[cell]; i < g.first[cell + 1]; ++i) {
                        const int j = g.items[i];
                        if (g.gone[j] || j == k || j == prev[k] || j == next[k]) continue;
                        // Beyond the box is beyond eps outside a side: not
                        // inside, as the cells beyond it are not.
                        const P2& x = o.p[chain[j]];
                        if (x.x < box[0] || x.x > box[1] || x.y < box[2] || x.y > box[3]) continue;
                        if (inside(j)) return -1.0;
                    }
                }
            return shape;
        }
        for (int j = next[next[k]]; j != prev[k]; j = next[j])
            if (inside(j)) return -1.0;
        return shape;
    }

    // The box of every point no more than eps outside the ear's sides (by
    // their rounded tests): the ear grown about its incentre until its
    // inradius r is r + 2 eps, then widened by a margin for the rounding of
    // this very sum. False when that is no finite box.
    bool reach(const P2& a, const P2& b, const P2& c, double lab, double lbc, double lca,
               double twice, double* box) const {
        const double perimeter = lab + lbc + lca;
        const double r = twice / perimeter;
        const double grow = (r + 2.0 * o.eps) / r;
        const double ix = (lbc * a.x + lca * b.x + lab * c.x) / perimeter;
        const double iy = (lbc * a.y + lca * b.y + lab * c.y) / perimeter;
        box[0] = box[1] = ix;
        box[2] = box[3] = iy;
        for (const P2* p : {&a, &b, &c}) {
            const double x = ix + grow * (p->x - ix), y = iy + grow * (p->y - iy);
            box[0] = smaller(box[0], x), box[1] = larger(box[1], x);
            box[2] = smaller(box[2], y), box[3] = larger(box[3], y);
        }
        const double margin = 1e-6 * larger(box[1] - box[0], box[3] - box[2]) + 2.0 * o.eps;
        box[0] -= margin, box[1] += margin, box[2] -= margin, box[3] += margin;
        return std::isfinite(box[0]) && std::isfinite(box[1]) && std::isfinite(box[2]) &&
               std::isfinite(box[3]);
    }
};

// The ears' qualities over the chain's places, with the best of any run of
// places at hand: a tree of maxima, the first place winning a tie.
struct BestEar {
    int leaves = 0;
    Table<int> best;  // per node: the place of its best leaf
    const Table<double>* q = nullptr;

    int better(int a, int b) const {
        if (a < 0) return b;
        if (b < 0) return a;
        return (*q)[b] > (*q)[a] ? b : a;  // a is the earlier place
    }
    bool build(Scratch& s, const Table<double>& quality) {
        q = &quality;
        leaves = 1;
        while (leaves < quality.size) leaves *= 2;
        if (!best.resize(s, 2 * leaves, -1)) return false;
        for (int k = 0; k < quality.size; ++k) best[leaves + k] = k;
        for (int i = leaves - 1; i >= 1; --i) best[i] = better(best[2 * i], best[2 * i + 1]);
        return true;
    }
    // After quality[k] changed, or place k went (gone: no longer a candidate).
    void update(int k, bool gone) {
        int i = leaves + k;
        best[i] = gone ? -1 : k;
        for (i /= 2; i >= 1; i /= 2) best[i] = better(best[2 * i], best[2 * i + 1]);
    }
    // The best place in [lo, hi), -1 for none.
    int range(int lo, int hi) const {
        int left = -1, right = -1;
        for (int a = lo + leaves, b = hi + leaves; a < b; a /= 2, b /= 2) {
            if (a & 1) left = better(left, best[a++]);
            if (b & 1) right = better(best[--b], right);
        }
        return better(left, right);
    }
    // The best place met going round from `start`: of equal ones the first.
    int from(int start) const {
        const int ahead = range(start, q->size), behind = range(0, start);
        if (ahead < 0) return behind;
        if (behind < 0) return ahead;
        return (*q)[behind] > (*q)[ahead] ? behind : ahead;
    }
};

bool clip_ears(Scratch& s, Outline& o, const Table<int>& chain, const PlanarMesh& m,
               Table<Tri>& tris) {
    const int n = chain.size;
    Ears e{o, chain, m.u.data, m.v.data, {}, {}};
    if (m.normals.size == m.at.size) {
        e.at = m.at.data;
        e.normal = m.normals.data;
        e.bend = m.bend;
    }
    Table<double> q;
    if (!o.room(e.prev.resize(s, n, 0) && e.next.resize(s, n, 0) && q.resize(s, n, -1.0) &&
                tris.reserve(s, n)))
        return false;
    for (int k = 0; k < n; ++k) {
        e.prev[k] = (k + n - 1) % n;
        e.next[k] = (k + 1) % n;
    }
    PlaceGrid grid;
    if (grid.build(s, o, chain)) e.grid = &grid;
    for (int k = 0; k < n; ++k) q[k] = e.quality(k);
    BestEar ears;
    const bool tree = ears.build(s, q);
    int start = 0;
    for (int left = n; left > 3; --left) {
        int best = -1;
        if (tree) {
            best = ears.from(start);
            if (best >= 0 && !(q[best] > 0.0)) best = -1;
        } else {
            int k = start;
            for (int i = 0; i < left; ++i, k = e.next[k])
                if (q[k] > 0.0 && (best < 0 || q[k] > q[best])) best = k;
        }
        if (best < 0) return false;
        tris.push(s, {chain[e.prev[best]], chain[best], chain[e.next[best]]});
        const int a = e.prev[best], c = e.next[best];
        e.next[a] = c;
        e.prev[c] = a;
        if (e.grid) grid.gone[best] = 1;
        start = a;
        q[a] = e.quality(a);
        q[c] = e.quality(c);
        if (tree) {
            ears.update(best, true);
            ears.update(a, false);
            ears.update(c, false);
        }
    }
    // The last three: a proper triangle, or the outline was degenerate.
    if (!(e.quality(start) > 0.0)) return false;
    tris.push(s, {chain[e.prev[start]], chain[start], chain[e.next[start]]});
    return true;
}

// The surface's parameters of a metric-plane point, as the general path
// evaluates it.
void to_parameters(const SurfaceMeasures& g, double mu, double mv, double* u, double* v) {
    *u = smaller(mu == g.Lu ? g.u_max : g.u_min + mu / g.su, g.u_max);
    *v = smaller(mv == g.Lv ? g.v_max : g.v_min + mv / g.sv, g.v_max);
}

// The fixed loops in the metric plane (as the general path moves them) and
// their surface points; false on storage failure or a degenerate loop.
Planar gather(Scratch& s, const Surface& sur, const FixedLoops& fixed, double C, PlanarMesh& out,
              Outline& o, SurfaceMeasures& g) {
    int total = 0;
    for (int k = 0; k < fixed.loops; ++k) {
        if (fixed.count[k] < 3) return Planar::kDeclined;
        total += fixed.count[k];
        if (total > kPlanarMaxPoints) return Planar::kDeclined;
    }
    if (take_measures(sur, g) != kOk) return Planar::kDeclined;
    for (int k = 0; k < fixed.loops; ++k) {
        Loop loop;
        if (!build_fixed_loop(fixed.at(k), s, loop)) return Planar::kNoStorage;
        finish_fixed_loop(g, loop, C);
        if (loop.u.size < 3) return Planar::kDeclined;
        if (!o.first.push(s, out.u.size) || !o.count.push(s, loop.u.size))
            return Planar::kNoStorage;
        for (int i = 0; i < loop.u.size; ++i) {
            double u, v;
            to_parameters(g, loop.u[i], loop.v[i], &u, &v);
            Point3 S;
            if (N_SUREVN(sur, 1, u, v, &S) != kOk) return Planar::kDeclined;
            const int next = i + 1 < loop.u.size ? out.u.size + 1 : o.first[k];
            if (!out.u.push(s, loop.u[i]) || !out.v.push(s, loop.v[i]) ||
                !out.id.push(s, loop.id[i]) || !out.at.push(s, S) || !o.next.push(s, next))
                return Planar::kNoStorage;
        }
        s.put(loop.u.data);
        s.put(loop.v.data);
        s.put(loop.id.data);
    }
    return Planar::kMeshed;
}

// The outer loop counter-clockwise and the holes clockwise, each clearly
// (the outline's box has diagonal `size`).
bool loops_turn(const Outline& o, double size) {
    const double floor = o.eps * size;
    for (int h = 0; h < o.first.size; ++h) {
        const double a = loop_area(o.p, o.first[h], o.count[h]);
        if (h == 0 ? !(a > floor) : !(a < -floor)) return false;
    }
    return true;
}

// The points in the plane's frame, turned so that the outer loop runs
// counter-clockwise (as it does in the parameter plane): false when the
// holes do not then run the other way or the outline is degenerate.
bool to_frame(Scratch& s, PlanarMesh& out, Outline& o) {
    Point3 n = out.normal;
    const Point3 axis = std::fabs(n.x) < 0.6 ? Point3{1, 0, 0} : Point3{0, 1, 0};
    Point3 e1 = vec_cross(axis, n);
    e1 = vec_scale(e1, 1.0 / vec_length(e1));
    Point3 e2 = vec_cross(n, e1);
    const Point3 origin = out.at[0];
    double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    for (int k = 0; k < out.at.size; ++k) {
        const Point3 d = vec_sub(out.at[k], origin);
        const P2 q{vec_dot(d, e1), vec_dot(d, e2)};
        if (!o.room(o.p.push(s, q))) return false;
        x0 = smaller(x0, q.x), x1 = larger(x1, q.x);
        y0 = smaller(y0, q.y), y1 = larger(y1, q.y);
    }
    o.eps = 1e-9 * std::hypot(x1 - x0, y1 - y0);
    if (loop_area(o.p, o.first[0], o.count[0]) < 0.0) {
        for (int k = 0; k < o.p.size; ++k) o.p[k].y = -o.p[k].y;
        out.normal = vec_scale(n, -1.0);
    }
    return loops_turn(o, std::hypot(x1 - x0, y1 - y0));
}

// The metric-plane points themselves as the frame.
bool metric_frame(Scratch& s, const PlanarMesh& out, Outline& o) {
    double x0 = out.u[0], x1 = x0, y0 = out.v[0], y1 = y0;
    for (int k = 0; k < out.u.size; ++k) {
        const P2 q{out.u[k], out.v[k]};
        if (!o.room(o.p.push(s, q))) return false;
        x0 = smaller(x0, q.x), x1 = larger(x1, q.x);
        y0 = smaller(y0, q.y), y1 = larger(y1, q.y);
    }
    const double size = std::hypot(x1 - x0, y1 - y0);
    o.eps = 1e-9 * size;
    return loops_turn(o, size);
}

// Every hole inside the outer loop and outside every other hole (the loops
// are known not to cross, so one point of each decides).
bool holes_placed(const Outline& o) {
    for (int h = 1; h < o.first.size; ++h) {
        const P2& q = o.p[o.first[h]];
        if (!inside_loop(o.p, o.first[0], o.count[0], q)) return false;
        for (int k = 1; k < o.first.size; ++k)
            if (k != h && inside_loop(o.p, o.first[k], o.count[k], q)) return false;
    }
    return true;
}

// The outline, simple and with its holes inside the outer loop, bridged
// into one polygon and cut into ears, counter-clockwise in the metric plane.
Planar triangulate(Scratch& s, Outline& o, PlanarMesh& out) {
    if (!simple_outline(s, o)) return o.refused ? Planar::kNoStorage : Planar::kDeclined;
    if (!holes_placed(o)) return Planar::kDeclined;
    // Holes in order of their largest x, each bridged to what is joined so far.
    Table<int> chain, order;
    if (!chain.reserve(s, o.p.size + 3 * o.first.size)) return Planar::kNoStorage;
    for (int k = 0; k < o.count[0]; ++k) chain.push(s, o.first[0] + k);
    for (int h = 1; h < o.first.size; ++h)
        if (!order.push(s, h)) return Planar::kNoStorage;
    auto right = [&](int h) {
        double x = o.p[o.first[h]].x;
        for (int k = 1; k < o.count[h]; ++k) x = larger(x, o.p[o.first[h] + k].x);
        return x;
    };
    std::sort(order.data, order.data + order.size, [&](int a, int b) {
        const double ra = right(a), rb = right(b);
        return ra > rb || (ra == rb && a < b);
    });
    o.budget = kBridgeWork * static_cast<double>(o.p.size) * o.p.size;
    for (int k = 0; k < order.size; ++k)
        if (!bridge_hole(s, o, order[k], chain))
            return o.refused ? Planar::kNoStorage : Planar::kDeclined;
    if (!clip_ears(s, o, chain, out, out.tris))
        return o.refused ? Planar::kNoStorage : Planar::kDeclined;
    out.first = o.first;
    out.count = o.count;
    // Counter-clockwise in the plane must be so in the metric plane too.
    for (int t = 0; t < out.tris.size; ++t) {
        const Tri& r = out.tris[t];
        const double a = (out.u[r.b] - out.u[r.a]) * (out.v[r.c] - out.v[r.a]) -
                         (out.v[r.b] - out.v[r.a]) * (out.u[r.c] - out.u[r.a]);
        if (!(a > 0.0)) return Planar::kDeclined;
    }
    return Planar::kMeshed;
}

// The unit normal of the surface at every point, on the side of Su x Sv;
// false at a pole or an apex (told by a small cross product of the
// tangents, which have about unit length in the metric plane) or where the
// surface cannot be evaluated.
Planar surface_normals(Scratch& s, const Surface& sur, const SurfaceMeasures& g, PlanarMesh& m) {
    if (!m.normals.resize(s, m.u.size, Point3{})) return Planar::kNoStorage;
    for (int k = 0; k < m.u.size; ++k) {
        double u, v;
        to_parameters(g, m.u[k], m.v[k], &u, &v);
        Point3 row0[2], row1[2];
        Point3* skl[2] = {row0, row1};
        if (N_SURDER(sur, 1, u, v, 1, 1, 1, skl) != kOk) return Planar::kDeclined;
        const Point3 c = vec_cross(vec_scale(row1[0], 1.0 / g.su), vec_scale(row0[1], 1.0 / g.sv));
        const double len = vec_length(c);
        if (!(len >= kBoundaryDegenerate) || !std::isfinite(len)) return Planar::kDeclined;
        m.normals[k] = vec_scale(c, 1.0 / len);
    }
    return Planar::kMeshed;
}

// The check of a curved face's boundary triangles against the surface: how
// far each fixed chord's middle strays from it, and the samples of every
// triangle.
class SurfaceCheck {
public:
    SurfaceCheck(Scratch& s, const Surface& sur, const SurfaceMeasures& g, double A,
                 const Outline& o, const PlanarMesh& m)
        : s_(s), sur_(sur), g_(g), o_(o), m_(m), margin_(kBoundaryMargin * A) {}

    // kMeshed when every triangle fits, kDeclined at the first that does not.
    Planar run() {
        const int n = m_.u.size;
        if (!stray_.resize(s_, n, 0.0)) return Planar::kNoStorage;
        for (int k = 0; k < n; ++k) {
            stray_[k] = off(k, o_.next[k], 0.5, 0.5, 0.0, k);
            if (!(stray_[k] >= 0.0)) return Planar::kDeclined;
        }
        for (int t = 0; t < m_.tris.size; ++t)
            if (!fits(m_.tris[t])) return Planar::kDeclined;
        return Planar::kMeshed;
    }

private:
    // Whether the triangle (turning left in the metric plane, as the
    // triangulation made sure) faces as the surface does and stays near it
    // at every sample.
    bool fits(const Tri& t) {
        if (!facing(t)) return false;
        // A diagonal as long across the curvature as a chord strays exactly
        // as far (a cylinder's): the rounding of the two distances must not
        // tell them apart.
        const double allow = allowance(t) * (1.0 + 1e-9);
        for (int k = 0; k < kSamples; ++k) {
            // The middle of a fixed chord strays as the chord does.
            if (k < 3 && chord_middle(t, k)) continue;
            const double* w = kBarycentric[k];
            if (!(off(t.a, t.b, w[0], w[1], w[2], t.c) <= allow)) return false;
        }
        return true;
    }

    // The middles of the edges, the centroid and the points halfway from it
    // to the edge middles.
    static constexpr int kSamples = 7;
    static constexpr double kBarycentric[kSamples][3] = {{0.5, 0.5, 0},
                                                         {0, 0.5, 0.5},
                                                         {0.5, 0, 0.5},
                                                         {1.0 / 3, 1.0 / 3, 1.0 / 3},
                                                         {5.0 / 12, 5.0 / 12, 1.0 / 6},
                                                         {1.0 / 6, 5.0 / 12, 5.0 / 12},
                                                         {5.0 / 12, 1.0 / 6, 5.0 / 12}};

    // The triangle's normal within about 45 degrees of the surface's at
    // each corner.
    bool facing(const Tri& t) const {
        const Point3 n =
            vec_cross(vec_sub(m_.at[t.b], m_.at[t.a]), vec_sub(m_.at[t.c], m_.at[t.a]));
        const double len = vec_length(n);
        if (!(len > 0.0)) return false;
        for (int k : {t.a, t.b, t.c})
            if (!(vec_dot(n, m_.normals[k]) > kBoundaryFacing * len)) return false;
        return true;
    }

    // Whether sample `edge` (0 to 2, the middle of a-b, b-c or c-a) is the
    // middle of a fixed chord.
    bool chord_middle(const Tri& t, int edge) const {
        const int p = edge == 0 ? t.a : edge == 1 ? t.b : t.c;
        const int q = edge == 0 ? t.b : edge == 1 ? t.c : t.a;
        return o_.next[p] == q || o_.next[q] == p;
    }

    // The stray of edge p-q when it is a fixed chord, else 0.
    double chord(int p, int q) const {
        if (o_.next[p] == q) return stray_[p];
        if (o_.next[q] == p) return stray_[q];
        return 0.0;
    }

    // The margin, or the larger stray of a fixed chord among the triangle's
    // edges: the model mesher chose those chords, and the samples near them
    // cannot come closer to the surface than the chords themselves.
    double allowance(const Tri& t) const {
        return larger(margin_, larger(chord(t.a, t.b), larger(chord(t.b, t.c), chord(t.c, t.a))));
    }

    // The distance between the triangle's point of barycentric weights
    // (wa, wb, wc) and the surface at the same weights in the metric
    // plane; negative when the surface cannot be evaluated there.
    double off(int a, int b, double wa, double wb, double wc, int c) {
        const int k[3] = {a, b, c};
        const double w[3] = {wa, wb, wc};
        double mu = 0.0, mv = 0.0;
        Point3 Q{0, 0, 0};
        for (int j = 0; j < 3; ++j) {
            if (w[j] == 0.0) continue;
            mu += w[j] * m_.u[k[j]];
            mv += w[j] * m_.v[k[j]];
            Q = vec_add(Q, vec_scale(m_.at[k[j]], w[j]));
        }
        double u, v;
        to_parameters(g_, mu, mv, &u, &v);
        Point3 S{};
        if (surface_point_near(sur_, u, v, hint_, &S) != kOk) return -1.0;
        return vec_distance(S, Q);
    }

    Scratch& s_;
    const Surface& sur_;
    const SurfaceMeasures& g_;
    const Outline& o_;
    const PlanarMesh& m_;
    double margin_;
    Table<double> stray_;  // per point k: of the chord from k to its successor
    int hint_[2] = {-1, -1};
};

}  // namespace

bool plane_of_net(const Surface& sur, double tol, Point3* n) {
    const ControlNet& net = *sur.net;
    Point3 sum{0, 0, 0}, mid{0, 0, 0};
    for (int i = 0; i <= net.n; ++i)
        for (int j = 0; j <= net.m; ++j) {
            const double w = net.Pw[i][j].w;
            if (w != kNonRationalW && !(w > 0.0)) return false;
            mid = vec_add(mid, project_point(net.Pw[i][j]));
            if (i == net.n || j == net.m) continue;
            const Point3 a = project_point(net.Pw[i][j]), b = project_point(net.Pw[i + 1][j]);
            const Point3 c = project_point(net.Pw[i + 1][j + 1]);
            const Point3 d = project_point(net.Pw[i][j + 1]);
            sum = vec_add(sum, vec_cross(vec_sub(c, a), vec_sub(d, b)));
        }
    const double len = vec_length(sum);
    if (!(len > 0.0) || !std::isfinite(len)) return false;
    const Point3 u = vec_scale(sum, 1.0 / len);
    mid = vec_scale(mid, 1.0 / ((net.n + 1.0) * (net.m + 1.0)));
    for (int i = 0; i <= net.n; ++i)
        for (int j = 0; j <= net.m; ++j)
            if (!(std::fabs(vec_dot(u, vec_sub(project_point(net.Pw[i][j]), mid))) <= tol))
                return false;
    *n = u;
    return true;
}

Planar mesh_planar(Scratch& s, const Surface& sur, const FixedLoops& fixed, double A, double C,
                   PlanarMesh& out) {
    Point3 net_normal;
    if (!plane_of_net(sur, kPlanarShare * A, &net_normal)) return Planar::kDeclined;
    Outline o;
    SurfaceMeasures g{};
    const Planar got = gather(s, sur, fixed, C, out, o, g);
    if (got != Planar::kMeshed) return got;
    out.normal = net_normal;
    if (!to_frame(s, out, o)) return o.refused ? Planar::kNoStorage : Planar::kDeclined;
    // A net turned against its boundary: the parametrisation folds.
    if (vec_dot(out.normal, net_normal) < 0.0) return Planar::kDeclined;
    return triangulate(s, o, out);
}

Planar mesh_boundary(Scratch& s, const Surface& sur, const FixedLoops& fixed, double A, double C,
                     PlanarMesh& out) {
    // Planes are the plane triangulation's (or the general path's).
    Point3 n;
    if (plane_of_net(sur, kPlanarShare * A, &n)) return Planar::kDeclined;
    Outline o;
    SurfaceMeasures g{};
    const Planar got = gather(s, sur, fixed, C, out, o, g);
    if (got != Planar::kMeshed) return got;
    out.measures = g;
    const Planar faced = surface_normals(s, sur, g, out);
    if (faced != Planar::kMeshed) return faced;
    out.bend = 8.0 * kBoundaryMargin * A;
    if (!metric_frame(s, out, o)) return o.refused ? Planar::kNoStorage : Planar::kDeclined;
    const Planar cut = triangulate(s, o, out);
    if (cut != Planar::kMeshed) return cut;
    return SurfaceCheck(s, sur, g, A, o, out).run();
}

void to_metric_plane(Surface& sur, const SurfaceMeasures& g) {
    struct Axis {
        KnotVector& k;
        int p;
        double L;
    };
    for (const Axis& x : {Axis{*sur.uknt, sur.p, g.Lu}, Axis{*sur.vknt, sur.q, g.Lv}}) {
        KnotVector& k = x.k;
        const double a = k.U[0], b = k.U[k.m];
        if (a == 0.0 && b == x.L) continue;
        const double scale = x.L / (b - a);
        for (int i = 0; i <= k.m; ++i)
            k.U[i] = i <= x.p ? 0.0 : i >= k.m - x.p ? x.L : scale * (k.U[i] - a);
    }
}

}  // namespace ruvane::tess
