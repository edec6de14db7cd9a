// Triangulation of the leaf cells: each cell is cut by the trim polygons into
// the faces of a small planar graph (cell boundary with every vertex lying on
// it, polygon pieces inside the cell), the faces are triangulated by an
// advancing front that always takes the vertex seeing the front edge under the
// largest angle, and the faces inside the trimmed region are kept. Vertices on
// a cell's boundary are shared with the neighbouring cells, so the pieces of
// neighbouring cells meet edge to edge and the mesh has no T-junctions.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "nurbs/tessellation/tess_internal.h"
#include "nurbs/tessellation/tessellation.h"

namespace ruvane::tess {

namespace {

constexpr double kTwoPi = 6.283185307179586;

struct Node {
    double u, v;
    int vertex;  // mesh vertex, always set
    double s;    // position along the cell boundary, or -1 inside the cell
};

struct Seg {
    int a, b;
};

struct Half {
    int from, to;
    int next;
    int cycle;
    double angle;
};

struct FrontEdge {
    int a, b;
};

// Map from exact coordinates of boundary crossings to mesh vertices, so that
// the two cells beside a crossing give it the same vertex.
struct CrossingMap {
    Table<double> ku, kv;
    Table<int> value;  // -1 for an empty slot
    int used = 0;

    static uint64_t bits(double x) {
        uint64_t b;
        if (x == 0.0) x = 0.0;  // one key for +0 and -0
        std::memcpy(&b, &x, sizeof b);
        return b;
    }
    static uint32_t hash(double u, double v) {
        uint64_t h = bits(u) * 0x9E3779B97F4A7C15ull ^ (bits(v) + 0x632BE59BD9B4E019ull);
        h ^= h >> 29;
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 32;
        return static_cast<uint32_t>(h);
    }
    bool init(Scratch& s, int cap) {
        return ku.resize(s, cap, 0.0) && kv.resize(s, cap, 0.0) && value.resize(s, cap, -1);
    }
    int find(double u, double v) const {
        const int mask = value.size - 1;
        for (int i = static_cast<int>(hash(u, v)) & mask;; i = (i + 1) & mask) {
            if (value[i] < 0) return -1;
            if (ku[i] == u && kv[i] == v) return value[i];
        }
    }
    bool insert(Scratch& s, double u, double v, int vertex) {
        if (2 * (used + 1) > value.size) {
            CrossingMap bigger;
            if (!bigger.init(s, value.size * 2)) return false;
            for (int i = 0; i < value.size; ++i)
                if (value[i] >= 0) bigger.put(ku[i], kv[i], value[i]);
            s.put(ku.data);
            s.put(kv.data);
            s.put(value.data);
            *this = bigger;
        }
        put(u, v, vertex);
        return true;
    }
    void put(double u, double v, int vertex) {
        const int mask = value.size - 1;
        int i = static_cast<int>(hash(u, v)) & mask;
        while (value[i] >= 0) i = (i + 1) & mask;
        ku[i] = u;
        kv[i] = v;
        value[i] = vertex;
        ++used;
    }
};

double cross(double au, double av, double bu, double bv) { return to_double(au * bv - av * bu); }

// Angle of (du, dv) in [0, 2*pi).
double direction(double du, double dv) {
    double a = to_double(std::atan2(dv, du));
    if (a < 0.0) a = to_double(a + kTwoPi);
    return a;
}

// Counter-clockwise turn from angle `from` to angle `to`, in [0, 2*pi).
double ccw_turn(double from, double to) {
    double d = to_double(to - from);
    while (d < 0.0) d = to_double(d + kTwoPi);
    while (d >= kTwoPi) d = to_double(d - kTwoPi);
    return d;
}

// fmax(p, q) < x and fmin(p, q) > x, without a library call: a NaN is
// passed over as fmax and fmin pass it over, and two NaNs fail.
bool all_below(double p, double q, double x) {
    if (p != p) return q < x;
    if (q != q) return p < x;
    return p < x && q < x;
}

bool all_above(double p, double q, double x) {
    if (p != p) return q > x;
    if (q != q) return p > x;
    return p > x && q > x;
}

// Whether the open segments PQ and RS cross at a single interior point.
bool proper_cross(const Node& p, const Node& q, const Node& r, const Node& s) {
    const double d1 = cross(q.u - p.u, q.v - p.v, r.u - p.u, r.v - p.v);
    const double d2 = cross(q.u - p.u, q.v - p.v, s.u - p.u, s.v - p.v);
    const double d3 = cross(s.u - r.u, s.v - r.v, p.u - r.u, p.v - r.v);
    const double d4 = cross(s.u - r.u, s.v - r.v, q.u - r.u, q.v - r.v);
    return ((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0));
}

// Distance from P to the open segment AB when P's foot lies strictly inside
// it, else a huge value.
double distance_inside_segment(const Node& p, const Node& a, const Node& b) {
    const double du = b.u - a.u, dv = b.v - a.v;
    const double len2 = du * du + dv * dv;
    if (len2 <= 0.0) return 1e300;
    const double t = ((p.u - a.u) * du + (p.v - a.v) * dv) / len2;
    if (t <= 0.0 || t >= 1.0) return 1e300;
    return std::fabs(cross(du, dv, p.u - a.u, p.v - a.v)) / std::sqrt(len2);
}

class CellTriangulator {
public:
    CellTriangulator(Scratch& s, LoopSet& set, const CellGrid& grid, VertexTable& verts, double eps,
                     Table<Tri>& tris, bool quads)
        : s_(s), set_(set), grid_(grid), verts_(verts), eps_(eps), tris_(tris), quads_(quads) {}

    int run() {
        // Sized to the face (a small face has a few crossings, not a
        // thousand); the map grows when it fills.
        int points = 0;
        for (int k = 0; k < set_.loops.size; ++k) points += set_.loops[k].u.size;
        int cap = 64;
        while (cap < 1024 && cap < 2 * points) cap *= 2;
        if (!crossings_.init(s_, cap)) return kErrStorage;
        for (int k = 0; k < set_.loops.size; ++k) {
            Loop& loop = set_.loops[k];
            // A polygon point within eps of a grid line is put on it, so that
            // every cell agrees on which side of the line it lies.
            for (int i = 0; i < loop.u.size; ++i) {
                loop.u[i] = snap(grid_.us, loop.u[i]);
                loop.v[i] = snap(grid_.vs, loop.v[i]);
            }
            update_box(loop);
            if (!loop.vertex.resize(s_, loop.u.size, -1)) return kErrStorage;
        }
        for (int c = 0; c < grid_.leaves.size; ++c) {
            const Leaf& leaf = grid_.leaves[c];
            if (leaf.code == -1) continue;
            const int rc = N_TESPOL(leaf);
            if (rc != 0) return rc;
        }
        return 0;
    }

private:
    double snap(const Table<double>& lines, double x) const {
        int lo = 0, hi = lines.size - 1;
        if (hi < 0) return x;
        while (hi - lo > 1) {
            const int mid = (lo + hi) / 2;
            if (lines[mid] <= x)
                lo = mid;
            else
                hi = mid;
        }
        const double best =
            std::fabs(lines[lo] - x) <= std::fabs(lines[hi] - x) ? lines[lo] : lines[hi];
        return std::fabs(best - x) <= eps_ ? best : x;
    }

    int new_vertex(double u, double v) {
        if (!verts_.u.push(s_, u) || !verts_.v.push(s_, v)) return -1;
        return verts_.u.size - 1;
    }

    double boundary_position(double u, double v) const {
        const double w = ub_ - ua_, h = vb_ - va_;
        if (v == va_) return u - ua_;
        if (u == ub_) return w + (v - va_);
        if (v == vb_) return w + h + (ub_ - u);
        if (u == ua_) return 2.0 * w + h + (vb_ - v);
        return -1.0;
    }

    // Adds a node or finds the one within eps; returns its index or -1 on
    // storage failure. `vertex` < 0 asks for a new mesh vertex when the node
    // is new; `loop`/`point` name a polygon point whose vertex is cached.
    int add_node(double u, double v, int vertex, int loop = -1, int point = -1,
                 bool crossing = false) {
        for (int i = 0; i < nodes_.size; ++i) {
            Node& n = nodes_[i];
            if (std::fabs(n.u - u) <= eps_ && std::fabs(n.v - v) <= eps_) {
                if (loop >= 0 && set_.loops[loop].vertex[point] < 0)
                    set_.loops[loop].vertex[point] = n.vertex;
                return i;
            }
        }
        if (vertex < 0 && loop >= 0) vertex = set_.loops[loop].vertex[point];
        if (vertex < 0 && crossing) vertex = crossings_.find(u, v);
        if (vertex < 0) {
            vertex = new_vertex(u, v);
            if (vertex < 0) return -1;
            if (crossing && !crossings_.insert(s_, u, v, vertex)) return -1;
        }
        if (loop >= 0) set_.loops[loop].vertex[point] = vertex;
        // Coordinates on the boundary are exact, so the position test is exact.
        Node n{verts_.u[vertex], verts_.v[vertex], vertex, -1.0};
        if (loop >= 0 || crossing) {
            n.u = u;
            n.v = v;
        }
        n.s = boundary_position(n.u, n.v);
        if (!nodes_.push(s_, n)) return -1;
        return nodes_.size - 1;
    }

    // Clips the polygon edge P(i) -> P(i+1) of a loop to the cell and records
    // its piece inside. Returns false on storage failure.
    bool N_TESLPI(int k, int i) {
        Loop& loop = set_.loops[k];
        const int j = (i + 1) % loop.u.size;
        const double pu = loop.u[i], pv = loop.v[i], qu = loop.u[j], qv = loop.v[j];
        if (all_below(pu, qu, ua_ - eps_) || all_above(pu, qu, ub_ + eps_) ||
            all_below(pv, qv, va_ - eps_) || all_above(pv, qv, vb_ + eps_))
            return true;
        int side0 = -1, side1 = -1;
        if (!clip_to_box(pu, pv, qu, qv, ua_, ub_, va_, vb_, side0, side1)) return true;
        // A crossing that falls on an end point is that point: the cell on
        // the other side sees the point itself, not a computed crossing.
        auto end_node = [&](int side) {
            if (side >= 0) {
                double cu, cv;
                crossing_point(side, pu, pv, qu, qv, cu, cv);
                if (std::fabs(cu - pu) <= eps_ && std::fabs(cv - pv) <= eps_)
                    return add_node(pu, pv, -1, k, i);
                if (std::fabs(cu - qu) <= eps_ && std::fabs(cv - qv) <= eps_)
                    return add_node(qu, qv, -1, k, j);
                return add_node(cu, cv, -1, -1, -1, true);
            }
            return side == -1 ? add_node(pu, pv, -1, k, i) : add_node(qu, qv, -1, k, j);
        };
        const int a = end_node(side0 >= 0 ? side0 : -1);
        if (a < 0) return false;
        const int b = end_node(side1 >= 0 ? side1 : -2);
        if (b < 0) return false;
        if (a == b) return true;
        return segs_.push(s_, Seg{a, b});
    }

    // Point where the edge PQ meets the cell side m (0: u = ua, 1: u = ub,
    // 2: v = va, 3: v = vb). The formula depends only on the edge and the
    // line, so the cell on the other side of the line finds the same point.
    void crossing_point(int m, double pu, double pv, double qu, double qv, double& cu,
                        double& cv) const {
        if (m < 2) {
            cu = m == 0 ? ua_ : ub_;
            cv = pv + (cu - pu) / (qu - pu) * (qv - pv);
            cv = std::fmin(std::fmax(cv, va_), vb_);
        } else {
            cv = m == 2 ? va_ : vb_;
            cu = pu + (cv - pv) / (qv - pv) * (qu - pu);
            cu = std::fmin(std::fmax(cu, ua_), ub_);
        }
    }

    // Whether both nodes lie on one side of the cell boundary.
    bool same_side(const Node& a, const Node& b) const {
        if (a.s < 0.0 || b.s < 0.0) return false;
        return (a.v == va_ && b.v == va_) || (a.u == ub_ && b.u == ub_) ||
               (a.v == vb_ && b.v == vb_) || (a.u == ua_ && b.u == ua_);
    }

    int N_TESPOL(const Leaf& leaf) {
        ua_ = leaf.ua;
        ub_ = leaf.ub;
        va_ = leaf.va;
        vb_ = leaf.vb;
        nodes_.clear();
        segs_.clear();
        if (!boundary_nodes(leaf)) return kErrStorage;
        const bool plain = leaf.code == 1;
        if (plain && quads_ && nodes_.size == 4 && plain_quad()) return 0;
        if (!plain) {
            const int rc = clip_loops();
            if (rc) return rc;
        }
        if (!boundary_pieces()) return kErrStorage;
        begin_angles();
        if (plain) return plain_face();
        return faces();
    }

    // Boundary vertices from the corner grid, counter-clockwise.
    bool boundary_nodes(const Leaf& leaf) {
        for (int i = leaf.i0; i <= leaf.i1; ++i)
            if (!grid_node(i, leaf.j0)) return false;
        for (int j = leaf.j0 + 1; j <= leaf.j1; ++j)
            if (!grid_node(leaf.i1, j)) return false;
        for (int i = leaf.i1 - 1; i >= leaf.i0; --i)
            if (!grid_node(i, leaf.j1)) return false;
        for (int j = leaf.j1 - 1; j > leaf.j0; --j)
            if (!grid_node(leaf.i0, j)) return false;
        return true;
    }

    // The polygon pieces inside the cell, split into a planar graph.
    int clip_loops() {
        for (int k = 0; k < set_.loops.size; ++k) {
            const Loop& loop = set_.loops[k];
            if (loop.u.size < 2) continue;
            if (loop.umax < ua_ - eps_ || loop.umin > ub_ + eps_ || loop.vmax < va_ - eps_ ||
                loop.vmin > vb_ + eps_)
                continue;
            if (loop.index.nu == 0) {
                for (int i = 0; i < loop.u.size; ++i)
                    if (!N_TESLPI(k, i)) return kErrStorage;
                continue;
            }
            // Only the segments near the cell, in loop order as above: for
            // a loop of up to 64, a bit per segment keeps them in order.
            if (loop.u.size <= 64) {
                std::uint64_t near = 0;
                for_segments_near(loop, ua_ - eps_, ub_ + eps_, va_ - eps_, vb_ + eps_,
                                  [&](int i) { near |= std::uint64_t{1} << i; });
                for (; near != 0; near &= near - 1)
                    if (!N_TESLPI(k, __builtin_ctzll(near))) return kErrStorage;
                continue;
            }
            near_.clear();
            bool stored = true;
            for_segments_near(loop, ua_ - eps_, ub_ + eps_, va_ - eps_, vb_ + eps_,
                              [&](int i) { stored = stored && near_.push(s_, i); });
            if (!stored) return kErrStorage;
            std::sort(near_.data, near_.data + near_.size);
            const int* end = std::unique(near_.data, near_.data + near_.size);
            for (const int* i = near_.data; i < end; ++i)
                if (!N_TESLPI(k, *i)) return kErrStorage;
        }
        return split_segments();
    }

    // Cell boundary pieces between consecutive boundary nodes, which are left
    // in order_ sorted along the boundary. Returns false on storage failure.
    bool boundary_pieces() {
        order_.clear();
        for (int i = 0; i < nodes_.size; ++i)
            if (nodes_[i].s >= 0.0 && !order_.push(s_, i)) return false;
        for (int x = 1; x < order_.size; ++x) {  // insertion sort: nearly sorted
            const int key = order_[x];
            int y = x - 1;
            while (y >= 0 && nodes_[order_[y]].s > nodes_[key].s) {
                order_[y + 1] = order_[y];
                --y;
            }
            order_[y + 1] = key;
        }
        for (int x = 0; x < order_.size; ++x) {
            const int a = order_[x], b = order_[(x + 1) % order_.size];
            if (a != b && !segs_.push(s_, Seg{a, b})) return false;
        }
        return true;
    }

    // The whole cell lies in the region: one face, its boundary.
    int plain_face() {
        cycles_.clear();
        cycle_nodes_.clear();
        if (!cycle_start_.resize(s_, 0, 0)) return kErrStorage;
        if (!cycle_start_.push(s_, 0)) return kErrStorage;
        for (int x = 0; x < order_.size; ++x)
            if (!cycle_nodes_.push(s_, order_[x])) return kErrStorage;
        if (!cycle_start_.push(s_, cycle_nodes_.size)) return kErrStorage;
        face_cycles_.clear();
        if (!face_cycles_.push(s_, 0)) return kErrStorage;
        return triangulate_face(true);
    }

    // A cell wholly in the region with only its four corners (0 to 3
    // counter-clockwise from (ua, va)), most of a face's cells: the front
    // takes (3, 0, 1), corners 1 and 2 seeing its closing side under the
    // same angle and 1 met first, then (2, 3, 1). Those two triangles are
    // made at once where every test of the front is sure to pass (the
    // cell's sides within a factor kQuadShape of each other, so that no
    // direction rounds onto an axis; corner 2 off the diagonal by more than
    // the coincidence distance); false, and nothing made, elsewhere.
    static constexpr double kQuadShape = 1e-6;

    bool plain_quad() {
        const Node& n0 = nodes_[0];
        const Node& n1 = nodes_[1];
        const Node& n2 = nodes_[2];
        const Node& n3 = nodes_[3];
        const double w = ub_ - ua_, h = vb_ - va_;
        if (!(n0.s == 0.0 && n0.s < n1.s && n1.s < n2.s && n2.s < n3.s)) return false;
        if (!(w > kQuadShape * h && h > kQuadShape * w)) return false;
        double sigma1 = 0.0, sigma2 = 0.0, sigma = 0.0;
        if (candidate(3, 0, 1, &sigma1) != 1 || candidate(3, 0, 2, &sigma2) != 1 ||
            !(sigma1 == sigma2) || candidate(2, 3, 1, &sigma) != 1)
            return false;
        if (distance_inside_segment(n2, n3, n1) <= eps_) return false;
        const int v0 = n0.vertex, v1 = n1.vertex, v2 = n2.vertex, v3 = n3.vertex;
        if (v0 == v1 || v0 == v2 || v0 == v3 || v1 == v2 || v1 == v3 || v2 == v3) return false;
        return tris_.push(s_, Tri{v3, v0, v1}) && tris_.push(s_, Tri{v2, v3, v1});
    }

    bool grid_node(int i, int j) {
        const int g = grid_.at(i, j);
        if (g < 0) return true;
        // Grid coordinates are exact copies, so boundary tests are exact.
        Node n{grid_.us[i], grid_.vs[j], g, 0.0};
        n.s = boundary_position(n.u, n.v);
        return nodes_.push(s_, n);
    }

    // Splits polygon pieces where they cross one another or pass through a
    // node, drops pieces lying along the cell boundary and duplicates, so
    // that the segments form a planar graph.
    int split_segments() {
        const int base = segs_.size;
        if (!add_crossings(base)) return kErrStorage;
        if (!split_at_nodes(base)) return kErrStorage;
        return drop_boundary_and_repeats() ? 0 : kErrStorage;
    }

    // Adds a node where two of the first `base` polygon pieces cross (touching or
    // crossing loops). Returns false on storage failure.
    bool add_crossings(int base) {
        for (int x = 0; x < base; ++x) {
            for (int y = x + 1; y < base; ++y) {
                const Node a = nodes_[segs_[x].a], b = nodes_[segs_[x].b];
                const Node c = nodes_[segs_[y].a], d = nodes_[segs_[y].b];
                if (!proper_cross(a, b, c, d)) continue;
                const double den = cross(b.u - a.u, b.v - a.v, d.u - c.u, d.v - c.v);
                if (den == 0.0) continue;
                const double t = cross(c.u - a.u, c.v - a.v, d.u - c.u, d.v - c.v) / den;
                const double u = a.u + t * (b.u - a.u), v = a.v + t * (b.v - a.v);
                if (add_node(u, v, -1) < 0) return false;
            }
        }
        return true;
    }

    // Splits each of the first `base` pieces at the nodes lying on it, into
    // split_. Returns false on storage failure.
    bool split_at_nodes(int base) {
        split_.clear();
        for (int x = 0; x < base; ++x) {
            const Seg sg = segs_[x];
            params_.clear();
            const Node a = nodes_[sg.a], b = nodes_[sg.b];
            const double du = b.u - a.u, dv = b.v - a.v;
            const double len2 = du * du + dv * dv;
            for (int i = 0; i < nodes_.size; ++i) {
                if (i == sg.a || i == sg.b) continue;
                if (distance_inside_segment(nodes_[i], a, b) > eps_) continue;
                const double t = ((nodes_[i].u - a.u) * du + (nodes_[i].v - a.v) * dv) / len2;
                if (!params_.push(s_, t) || !param_nodes_.resize(s_, params_.size, 0)) return false;
                param_nodes_[params_.size - 1] = i;
            }
            sort_params();
            int prev = sg.a;
            for (int p = 0; p <= params_.size; ++p) {
                const int next = p < params_.size ? param_nodes_[p] : sg.b;
                if (next != prev && !split_.push(s_, Seg{prev, next})) return false;
                prev = next;
            }
        }
        return true;
    }

    // Sorts the nodes found on a piece along it (insertion sort, stable).
    void sort_params() {
        for (int p = 1; p < params_.size; ++p) {
            const double t = params_[p];
            const int n = param_nodes_[p];
            int q = p - 1;
            while (q >= 0 && params_[q] > t) {
                params_[q + 1] = params_[q];
                param_nodes_[q + 1] = param_nodes_[q];
                --q;
            }
            params_[q + 1] = t;
            param_nodes_[q + 1] = n;
        }
    }

    // Keeps in segs_ the pieces of split_ that are not along the boundary and
    // not repeated. Returns false on storage failure.
    bool drop_boundary_and_repeats() {
        segs_.clear();
        for (int x = 0; x < split_.size; ++x) {
            const Seg sg = split_[x];
            if (same_side(nodes_[sg.a], nodes_[sg.b])) continue;
            bool repeated = false;
            for (int y = 0; y < segs_.size && !repeated; ++y)
                repeated = (segs_[y].a == sg.a && segs_[y].b == sg.b) ||
                           (segs_[y].a == sg.b && segs_[y].b == sg.a);
            if (!repeated && !segs_.push(s_, sg)) return false;
        }
        return true;
    }

    // Traces the faces of the planar graph, triangulates each bounded face
    // and keeps those inside the trimmed region.
    int faces() {
        int rc = build_half_edges();
        if (rc) return rc;
        rc = link_half_edges();
        if (rc) return rc;
        rc = trace_cycles();
        if (rc) return rc;
        // The most negative cycle runs around the cell boundary outside; other
        // negative cycles bound components floating inside a face.
        int outside = -1;
        for (int c = 0; c < cycles_.size; ++c)
            if (outside < 0 || cycles_[c] < cycles_[outside]) outside = c;
        rc = assign_owners(outside);
        if (rc) return rc;
        for (int f = 0; f < cycles_.size; ++f) {
            if (cycles_[f] <= 0.0) continue;
            face_cycles_.clear();
            if (!face_cycles_.push(s_, f)) return kErrStorage;
            for (int c = 0; c < cycles_.size; ++c)
                if (owner_[c] == f && !face_cycles_.push(s_, c)) return kErrStorage;
            rc = triangulate_face(false);
            if (rc) return rc;
        }
        return 0;
    }

    // Both half-edges of every segment, and the outgoing half-edges of every
    // node sorted counter-clockwise.
    int build_half_edges() {
        halves_.clear();
        for (int x = 0; x < segs_.size; ++x) {
            const Seg sg = segs_[x];
            if (!halves_.push(s_, Half{sg.a, sg.b, -1, -1, angle_of(sg.a, sg.b)}) ||
                !halves_.push(s_, Half{sg.b, sg.a, -1, -1, angle_of(sg.b, sg.a)}))
                return kErrStorage;
        }
        // Outgoing half-edges of every node, sorted counter-clockwise.
        if (!out_start_.resize(s_, 0, 0) || !out_start_.resize(s_, nodes_.size + 1, 0))
            return kErrStorage;
        for (int h = 0; h < halves_.size; ++h) ++out_start_[halves_[h].from + 1];
        for (int i = 0; i < nodes_.size; ++i) out_start_[i + 1] += out_start_[i];
        if (!out_.resize(s_, 0, 0) || !out_.resize(s_, halves_.size, 0)) return kErrStorage;
        if (!fill_.resize(s_, 0, 0) || !fill_.resize(s_, nodes_.size, 0)) return kErrStorage;
        for (int h = 0; h < halves_.size; ++h) {
            const int f = halves_[h].from;
            out_[out_start_[f] + fill_[f]++] = h;
        }
        for (int i = 0; i < nodes_.size; ++i) {
            for (int x = out_start_[i] + 1; x < out_start_[i + 1]; ++x) {
                const int key = out_[x];
                int y = x - 1;
                while (y >= out_start_[i] && halves_[out_[y]].angle > halves_[key].angle) {
                    out_[y + 1] = out_[y];
                    --y;
                }
                out_[y + 1] = key;
            }
        }
        return 0;
    }

    // next(a->b) is the edge out of b just clockwise from b->a.
    int link_half_edges() {
        for (int h = 0; h < halves_.size; ++h) {
            const int twin = h ^ 1;
            const int b = halves_[h].to;
            int pos = -1;
            for (int x = out_start_[b]; x < out_start_[b + 1]; ++x)
                if (out_[x] == twin) pos = x;
            if (pos < 0) return kErrDegenerate;
            const int prev = pos == out_start_[b] ? out_start_[b + 1] - 1 : pos - 1;
            halves_[h].next = out_[prev];
        }
        return 0;
    }

    // Follows the next links into cycles, with the signed area of each.
    int trace_cycles() {
        cycle_start_.clear();
        cycle_nodes_.clear();
        cycles_.clear();
        if (!cycle_start_.push(s_, 0)) return kErrStorage;
        for (int h = 0; h < halves_.size; ++h) {
            if (halves_[h].cycle >= 0) continue;
            const int id = cycles_.size;
            double area = 0.0;
            int e = h, guard = 0;
            do {
                if (++guard > halves_.size) return kErrDegenerate;
                halves_[e].cycle = id;
                const Node& a = nodes_[halves_[e].from];
                const Node& b = nodes_[halves_[e].to];
                area += cross(a.u - ua_, a.v - va_, b.u - ua_, b.v - va_);
                if (!cycle_nodes_.push(s_, halves_[e].from)) return kErrStorage;
                e = halves_[e].next;
            } while (e != h);
            if (!cycle_start_.push(s_, cycle_nodes_.size) || !cycles_.push(s_, 0.5 * area))
                return kErrStorage;
        }
        return 0;
    }

    // Gives every inner negative cycle the face it floats in, or -1.
    int assign_owners(int outside) {
        // Connected parts of the graph: a component's outer cycle belongs to
        // the smallest face of another component around it.
        if (!part_.resize(s_, 0, 0) || !part_.resize(s_, nodes_.size, 0)) return kErrStorage;
        for (int i = 0; i < nodes_.size; ++i) part_[i] = i;
        auto root = [&](int i) {
            while (part_[i] != i) i = part_[i] = part_[part_[i]];
            return i;
        };
        for (int x = 0; x < segs_.size; ++x) part_[root(segs_[x].a)] = root(segs_[x].b);
        if (!owner_.resize(s_, 0, 0) || !owner_.resize(s_, cycles_.size, -1)) return kErrStorage;
        for (int c = 0; c < cycles_.size; ++c) {
            if (c == outside || cycles_[c] > 0.0) continue;
            const int first = cycle_nodes_[cycle_start_[c]];
            const Node& p = nodes_[first];
            int best = -1;
            for (int f = 0; f < cycles_.size; ++f) {
                if (cycles_[f] <= 0.0) continue;
                if (root(cycle_nodes_[cycle_start_[f]]) == root(first)) continue;
                if (!inside_cycle(f, p.u, p.v)) continue;
                if (best < 0 || cycles_[f] < cycles_[best]) best = f;
            }
            owner_[c] = best;
        }
        return 0;
    }

    bool inside_cycle(int c, double u, double v) const {
        bool in = false;
        const int b = cycle_start_[c], e = cycle_start_[c + 1];
        for (int i = b, j = e - 1; i < e; j = i++) {
            const Node& p = nodes_[cycle_nodes_[i]];
            const Node& q = nodes_[cycle_nodes_[j]];
            if ((p.v > v) != (q.v > v)) {
                const double x = p.u + (v - p.v) / (q.v - p.v) * (q.u - p.u);
                if (u < x) in = !in;
            }
        }
        return in;
    }

    // --- Advancing front over the cycles in face_cycles_ ---

    int find_front(int a, int b) const {
        for (int x = 0; x < front_.size; ++x)
            if (front_[x].a == a && front_[x].b == b) return x;
        return -1;
    }

    void remove_front(int x) {
        --degree_[front_[x].a];
        --degree_[front_[x].b];
        front_[x] = front_[front_.size - 1];
        --front_.size;
    }

    bool add_front(int a, int b) {
        ++degree_[a];
        ++degree_[b];
        return front_.push(s_, FrontEdge{a, b});
    }

    // The cell's nodes are fixed from here on: the direction from one node
    // to another is worked out once per cell and remembered (the front
    // tests ask for the same ones for every candidate). Up to kAngleNodes
    // nodes; a larger cell, or one whose table cannot be had, works every
    // direction out afresh, to the same value.
    static constexpr int kAngleNodes = 128;

    void begin_angles() {
        angle_n_ = 0;
        const int n = nodes_.size;
        if (n > kAngleNodes) return;
        if (n * n > angle_stamp_.size) {
            if (!angle_.resize(s_, n * n, 0.0) || !angle_stamp_.resize(s_, n * n, 0)) return;
            for (int i = 0; i < angle_stamp_.size; ++i) angle_stamp_[i] = 0;
            angle_gen_ = 0;
        }
        if (++angle_gen_ == 0) {  // the stamps came round: forget them all
            for (int i = 0; i < angle_stamp_.size; ++i) angle_stamp_[i] = 0;
            angle_gen_ = 1;
        }
        angle_n_ = n;
    }

    double angle_of(int from, int to) const {
        if (angle_n_ == 0)
            return direction(nodes_[to].u - nodes_[from].u, nodes_[to].v - nodes_[from].v);
        const int k = from * angle_n_ + to;
        if (angle_stamp_[k] != angle_gen_) {
            angle_[k] = direction(nodes_[to].u - nodes_[from].u, nodes_[to].v - nodes_[from].v);
            angle_stamp_[k] = angle_gen_;
        }
        return angle_[k];
    }

    // Whether the triangle (a, b, w) fits into the untriangulated region.
    bool valid(int a, int b, int w) const {
        return fits_at_a(a, b, w) && fits_at_b(a, b, w) && fits_at_w(a, b, w) &&
               clear_of_front(a, b, w);
    }

    // At a: w lies inside the sector that opens counter-clockwise from a->b.
    bool fits_at_a(int a, int b, int w) const { return fits_at_end(a, b, w, true); }

    // At b: w lies inside the sector that opens clockwise from b->a.
    bool fits_at_b(int a, int b, int w) const { return fits_at_end(b, a, w, false); }

    // The sector at `end` is bounded by end->other and by the nearest front
    // edge turning from it: counter-clockwise over edges ending at `end` when
    // `ccw`, clockwise over edges starting there otherwise.
    bool fits_at_end(int end, int other, int w, bool ccw) const {
        const double base = angle_of(end, other);
        auto turn = [&](int to) {
            return ccw ? ccw_turn(base, angle_of(end, to)) : ccw_turn(angle_of(end, to), base);
        };
        const double tw = turn(w);
        double lim = kTwoPi;
        int lim_node = -1;
        for (int x = 0; x < front_.size; ++x) {
            if ((ccw ? front_[x].b : front_[x].a) != end) continue;
            const int next = ccw ? front_[x].a : front_[x].b;
            double t = turn(next);
            if (t == 0.0) t = kTwoPi;
            if (t < lim) {
                lim = t;
                lim_node = next;
            }
        }
        return (tw < lim || (tw == lim && lim_node == w)) && !(tw == 0.0);
    }

    // At w: the wedge from w->a to w->b lies within one sector of w.
    bool fits_at_w(int a, int b, int w) const {
        const double wa = angle_of(w, a), wb = angle_of(w, b);
        bool fits = false;
        for (int x = 0; x < front_.size && !fits; ++x) {
            if (front_[x].a != w) continue;
            const int y = front_[x].b;
            const double base = angle_of(w, y);
            double lim = kTwoPi;
            int lim_node = -1;
            for (int z = 0; z < front_.size; ++z) {
                if (front_[z].b != w) continue;
                double t = ccw_turn(base, angle_of(w, front_[z].a));
                if (t == 0.0) t = kTwoPi;
                if (t < lim) {
                    lim = t;
                    lim_node = front_[z].a;
                }
            }
            const double ta = a == y ? 0.0 : ccw_turn(base, wa);
            double tb = b == lim_node ? lim : ccw_turn(base, wb);
            if (b == y) tb = kTwoPi;  // w->b would close the sector backwards
            fits = ta <= tb && tb <= lim;
        }
        return fits;
    }

    bool clear_of_front(int a, int b, int w) const {
        const Node& na = nodes_[a];
        const Node& nb = nodes_[b];
        const Node& nw = nodes_[w];
        // No front edge crosses the new edges, no front node lies on them or
        // inside the triangle. The piece is a face of the cell cut by the
        // trim polygons, so every trim edge it touches is on its front until
        // a triangle takes it: testing the front covers the trim edges too.
        for (int x = 0; x < front_.size; ++x) {
            const Node& p = nodes_[front_[x].a];
            const Node& q = nodes_[front_[x].b];
            if (proper_cross(na, nw, p, q) || proper_cross(nw, nb, p, q)) return false;
        }
        const double area = cross(nb.u - na.u, nb.v - na.v, nw.u - na.u, nw.v - na.v);
        for (int i = 0; i < nodes_.size; ++i) {
            if (i == a || i == b || i == w || degree_[i] == 0) continue;
            const Node& p = nodes_[i];
            if (distance_inside_segment(p, na, nw) <= eps_ ||
                distance_inside_segment(p, nw, nb) <= eps_)
                return false;
            const double c1 = cross(nb.u - na.u, nb.v - na.v, p.u - na.u, p.v - na.v);
            const double c2 = cross(nw.u - nb.u, nw.v - nb.v, p.u - nb.u, p.v - nb.v);
            const double c3 = cross(na.u - nw.u, na.v - nw.v, p.u - nw.u, p.v - nw.v);
            if (c1 > 0 && c2 > 0 && c3 > 0 && area > 0) return false;
        }
        return true;
    }

    int triangulate_face(bool keep) {
        front_.clear();
        if (!degree_.resize(s_, 0, 0) || !degree_.resize(s_, nodes_.size, 0)) return kErrStorage;
        int boundary = 0;
        if (!seed_front(boundary)) return kErrStorage;
        const int first_tri = local_.size;
        const int rc = advance_front(boundary);
        if (rc) return rc;
        if (!keep && local_.size > first_tri) keep = face_inside(first_tri);
        if (keep) {
            for (int t = first_tri; t < local_.size; ++t) {
                const Tri& lt = local_[t];
                const int va = nodes_[lt.a].vertex, vb = nodes_[lt.b].vertex,
                          vc = nodes_[lt.c].vertex;
                if (va == vb || vb == vc || va == vc) return kErrDegenerate;
                if (!tris_.push(s_,
                                Tri{nodes_[lt.a].vertex, nodes_[lt.b].vertex, nodes_[lt.c].vertex}))
                    return kErrStorage;
            }
        }
        local_.size = first_tri;
        return 0;
    }

    // The front starts as the edges of the face's cycles; `boundary` counts
    // them. Returns false on storage failure.
    bool seed_front(int& boundary) {
        for (int x = 0; x < face_cycles_.size; ++x) {
            const int c = face_cycles_[x];
            const int b = cycle_start_[c], e = cycle_start_[c + 1];
            for (int i = b; i < e; ++i) {
                const int p = cycle_nodes_[i], q = cycle_nodes_[i + 1 < e ? i + 1 : b];
                if (p != q && !add_front(p, q)) return false;
                ++boundary;
            }
        }
        return true;
    }

    // Adds triangles to local_ until the front is closed.
    int advance_front(int boundary) {
        // Every triangle takes one boundary edge or joins two front parts, so
        // the count is bounded; more means the front went wrong.
        int budget = 4 * boundary + 16;
        int stalled = 0;
        while (front_.size > 0) {
            const int x = front_.size - 1 - stalled;
            if (x < 0) return kErrDegenerate;  // no front edge can advance
            const int a = front_[x].a, b = front_[x].b;
            const int w = best_vertex(a, b);
            if (w == -2) return kErrDivision;
            if (w == -3) return kErrStorage;
            if (w < 0) {
                ++stalled;
                continue;
            }
            if (--budget < 0) return kErrDegenerate;
            stalled = 0;
            if (!local_.push(s_, Tri{a, b, w})) return kErrStorage;
            remove_front(x);
            int r = find_front(w, a);
            if (r >= 0)
                remove_front(r);
            else if (!add_front(a, w))
                return kErrStorage;
            r = find_front(b, w);
            if (r >= 0)
                remove_front(r);
            else if (!add_front(w, b))
                return kErrStorage;
        }
        return 0;
    }

    // The face lies wholly on one side of every polygon, so the centre of its
    // largest triangle tells which.
    bool face_inside(int first_tri) const {
        int best = first_tri;
        double best_area = -1.0;
        for (int t = first_tri; t < local_.size; ++t) {
            const Node& a = nodes_[local_[t].a];
            const Node& b = nodes_[local_[t].b];
            const Node& c = nodes_[local_[t].c];
            const double ar = cross(b.u - a.u, b.v - a.v, c.u - a.u, c.v - a.v);
            if (ar > best_area) {
                best_area = ar;
                best = t;
            }
        }
        const Node& a = nodes_[local_[best].a];
        const Node& b = nodes_[local_[best].b];
        const Node& c = nodes_[local_[best].c];
        return inside_region(set_, (a.u + b.u + c.u) / 3.0, (a.v + b.v + c.v) / 3.0);
    }

    // Whether node i lies clearly left of a->b (1, with *sigma the signed
    // squared cosine of the angle it sees a->b under: smaller is wider), not
    // (0), or the angle cannot be had (-2).
    int candidate(int a, int b, int i, double* sigma) const {
        const Node& na = nodes_[a];
        const Node& nb = nodes_[b];
        const double eu = nb.u - na.u, ev = nb.v - na.v;
        return candidate(na, nb, eu, ev, std::sqrt(eu * eu + ev * ev), nodes_[i], sigma);
    }
    // The same with the edge's vector and length worked out once for all nodes.
    static int candidate(const Node& na, const Node& nb, double eu, double ev, double elen,
                         const Node& w, double* sigma) {
        const double wu = w.u - na.u, wv = w.v - na.v;
        const double c = cross(eu, ev, wu, wv);
        if (!(c > 1e-12 * elen * std::sqrt(wu * wu + wv * wv))) return 0;
        const double d1u = na.u - w.u, d1v = na.v - w.v, d2u = nb.u - w.u, d2v = nb.v - w.v;
        const double dot = d1u * d2u + d1v * d2v;
        const double den = (d1u * d1u + d1v * d1v) * (d2u * d2u + d2v * d2v);
        if (!(den > 0.0) || !std::isfinite(den)) return -2;
        *sigma = dot * std::fabs(dot) / den;
        return 1;
    }

    // The front node that sees a->b under the largest angle and whose
    // triangle fits; -1 when none fits, -2 when a division was refused.
    int best_vertex(int a, int b) {
        const Node& na = nodes_[a];
        const Node& nb = nodes_[b];
        const double eu = nb.u - na.u, ev = nb.v - na.v;
        const double elen = std::sqrt(eu * eu + ev * ev);
        cand_.clear();
        cand_sigma_.clear();
        for (int i = 0; i < nodes_.size; ++i) {
            if (i == a || i == b || degree_[i] == 0) continue;
            double sigma = 0.0;
            const int c = candidate(na, nb, eu, ev, elen, nodes_[i], &sigma);
            if (c == 0) continue;
            if (c < 0) return c;
            if (!cand_.push(s_, i) || !cand_sigma_.push(s_, sigma)) return -3;
        }
        // Best first; among equal angles the first met keeps its place. The
        // best one mostly fits: the others are put in order only when not.
        if (cand_.size == 0) return -1;
        int best = 0;
        for (int x = 1; x < cand_.size; ++x)
            if (cand_sigma_[x] < cand_sigma_[best]) best = x;
        if (valid(a, b, cand_[best])) return cand_[best];
        if (!order_keys_.resize(s_, cand_.size, 0)) return -3;
        for (int x = 0; x < cand_.size; ++x) order_keys_[x] = x;
        std::sort(order_keys_.data, order_keys_.data + cand_.size, [&](int x, int y) {
            return cand_sigma_[x] != cand_sigma_[y] ? cand_sigma_[x] < cand_sigma_[y] : x < y;
        });
        for (int x = 1; x < cand_.size; ++x)
            if (valid(a, b, cand_[order_keys_[x]])) return cand_[order_keys_[x]];
        return -1;
    }

    Scratch& s_;
    LoopSet& set_;
    const CellGrid& grid_;
    VertexTable& verts_;
    double eps_;
    Table<Tri>& tris_;
    bool quads_;  // plain four-corner cells made at once
    CrossingMap crossings_;

    double ua_ = 0, ub_ = 0, va_ = 0, vb_ = 0;
    Table<Node> nodes_;
    Table<Seg> segs_, split_;
    Table<double> params_;
    Table<int> param_nodes_;
    Table<int> order_;
    Table<Half> halves_;
    Table<int> out_start_, out_, fill_;
    Table<int> cycle_start_, cycle_nodes_;
    Table<double> cycles_;  // signed area per cycle
    Table<int> owner_;
    Table<int> part_;
    Table<int> face_cycles_;
    Table<FrontEdge> front_;
    Table<int> degree_;
    Table<Tri> local_;
    Table<int> cand_;
    Table<double> cand_sigma_;
    Table<int> order_keys_;
    Table<int> near_;
    mutable Table<double> angle_;          // direction from node i to node j at i * angle_n_ + j
    mutable Table<unsigned> angle_stamp_;  // angle_gen_ where that direction is known
    unsigned angle_gen_ = 0;
    int angle_n_ = 0;
};

}  // namespace

int triangulate_cells(Scratch& s, LoopSet& set, const CellGrid& grid, VertexTable& verts,
                      double eps, Table<Tri>& tris, bool quads) {
    CellTriangulator t(s, set, grid, verts, eps, tris, quads);
    return t.run();
}

namespace {

// The fan edges d -> e of every triangle around each of its corners, grouped
// by vertex: the edges of vertex j are fan_d/fan_e[first[j] .. first[j + 1]).
struct Fans {
    Table<int> first, fan_d, fan_e;
};

int group_fans(Scratch& s, int vertex_count, const Table<Tri>& tris, Fans& f) {
    if (!f.first.resize(s, vertex_count + 1, 0)) return kErrStorage;
    for (int t = 0; t < tris.size; ++t) {
        ++f.first[tris[t].a + 1];
        ++f.first[tris[t].b + 1];
        ++f.first[tris[t].c + 1];
    }
    for (int i = 0; i < vertex_count; ++i) f.first[i + 1] += f.first[i];
    const int total = f.first[vertex_count];
    Table<int> fill;
    if (!fill.resize(s, vertex_count, 0) || !f.fan_d.resize(s, total, 0) ||
        !f.fan_e.resize(s, total, 0))
        return kErrStorage;
    auto put = [&](int j, int d, int e) {
        const int x = f.first[j] + fill[j]++;
        f.fan_d[x] = d;
        f.fan_e[x] = e;
    };
    for (int t = 0; t < tris.size; ++t) {
        const Tri& tr = tris[t];
        put(tr.a, tr.b, tr.c);
        put(tr.b, tr.c, tr.a);
        put(tr.c, tr.a, tr.b);
    }
    return 0;
}

// How one fan edge of a vertex links up: the edge whose d is this edge's e
// (next) and the one whose e is its d (prev), -1 for none; and whether a
// ring has taken it yet.
struct Link {
    int next, prev;
    bool used;
};
using Links = Table<Link>;

// Links the edges b .. e of one vertex in one pass over their pairs. False
// when two of them share a d or an e: their triangles overlap (and then
// each edge has at most one next and one prev).
bool link_fan(const Fans& f, Links& l, int b, int e) {
    for (int x = b; x < e; ++x) {
        const int dx = f.fan_d[x], ex = f.fan_e[x];
        l[x - b] = {ex == dx ? x : -1, ex == dx ? x : -1, false};
    }
    for (int x = b; x < e; ++x) {
        const int dx = f.fan_d[x], ex = f.fan_e[x];
        for (int y = x + 1; y < e; ++y) {
            if (dx == f.fan_d[y] || ex == f.fan_e[y]) return false;
            if (ex == f.fan_d[y]) l[x - b].next = y, l[y - b].prev = x;
            if (dx == f.fan_e[y]) l[x - b].prev = y, l[y - b].next = x;
        }
    }
    return true;
}

// The unused edge a fan starts at: one whose d ends no other unused edge (an
// open fan), else any unused edge (a closed one).
int fan_start(const Links& l, int b, int e) {
    for (int x = b; x < e; ++x) {
        if (l[x - b].used) continue;
        const int p = l[x - b].prev;
        if (p < 0 || l[p - b].used) return x;
    }
    for (int x = b; x < e; ++x)
        if (!l[x - b].used) return x;
    return -1;
}

// Appends the ring of vertex j: its fans one after another, each following
// edge starting where the last ended, separated by j itself.
int append_ring(Scratch& s, int j, const Fans& f, Links& l, Rings& rings) {
    const int b = f.first[j], e = f.first[j + 1];
    rings.start[j] = rings.entries.size;
    if (b == e) {
        rings.count[j] = 0;
        return rings.entries.push(s, -1) ? 0 : kErrStorage;
    }
    if (!l.resize(s, e - b, Link{})) return kErrStorage;
    if (!link_fan(f, l, b, e)) return kErrDegenerate;
    for (int placed = 0; placed < e - b;) {
        const int start = fan_start(l, b, e);
        if (placed > 0 && !rings.entries.push(s, j)) return kErrStorage;
        if (!rings.entries.push(s, f.fan_d[start])) return kErrStorage;
        for (int x = start; x >= 0;) {
            l[x - b].used = true;
            ++placed;
            if (!rings.entries.push(s, f.fan_e[x])) return kErrStorage;
            const int next = l[x - b].next;
            x = next >= 0 && !l[next - b].used ? next : -1;
        }
    }
    rings.count[j] = rings.entries.size - rings.start[j] - 1;
    return 0;
}

}  // namespace

int build_rings(Scratch& s, int vertex_count, const Table<Tri>& tris, Rings& rings) {
    Fans f;
    const int rc = group_fans(s, vertex_count, tris, f);
    if (rc != 0) return rc;
    if (!rings.start.resize(s, vertex_count, 0) || !rings.count.resize(s, vertex_count, 0))
        return kErrStorage;
    rings.entries.clear();
    Links l;
    for (int j = 0; j < vertex_count; ++j) {
        const int ring_rc = append_ring(s, j, f, l, rings);
        if (ring_rc != 0) return ring_rc;
    }
    return 0;
}

}  // namespace ruvane::tess

namespace ruvane {

Status N_TESDEL(const SurfaceMeasures& g, tess::Scratch& s, tess::LoopSet& loops,
                const tess::CellGrid& grid, tess::VertexTable& verts, double c_prime,
                tess::Rings& rings, tess::FixedSettle* settle) {
    // Coincidence distance: a hundredth of C', but well below the thinnest
    // cell so that a cell's corners never merge.
    double thinnest = std::fmax(g.Lu, g.Lv);
    for (int k = 0; k < grid.leaves.size; ++k) {
        const tess::Leaf& l = grid.leaves[k];
        thinnest = std::fmin(thinnest, std::fmin(l.ub - l.ua, l.vb - l.va));
    }
    double eps = std::fmin(0.01 * c_prime, 0.001 * thinnest);
    eps = std::fmax(eps, 1e-13 * std::fmax(g.Lu, g.Lv));
    tess::Table<tess::Tri> tris;
    int rc = tess::triangulate_cells(s, loops, grid, verts, eps, tris);
    if (rc == 0 && settle) rc = tess::settle_fixed_loops(s, *settle, loops, verts, eps, tris);
    if (rc == 0) rc = tess::build_rings(s, verts.u.size, tris, rings);
    if (rc != 0) {
        set_error(rc, "N_TESDEL");
        return kFail;
    }
    return kOk;
}

}  // namespace ruvane
