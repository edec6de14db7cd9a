#include "iges/model_mesh.h"
#include "iges/model_mesh_parts.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <unordered_map>

namespace ruvane::iges {
namespace {

using P3 = std::array<double, 3>;

// The small vector helpers are forced inline: the mesher calls them for
// every point it places and looks at, and at -O2 they stayed calls.
#define RUVANE_HOT [[gnu::always_inline]] inline
RUVANE_HOT P3 to_p3(const Vec3& v) { return {v.x, v.y, v.z}; }
RUVANE_HOT P3 minus(const P3& a, const P3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
RUVANE_HOT double dot3(const P3& a, const P3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
RUVANE_HOT double dist(const P3& a, const P3& b) { return std::sqrt(dot3(minus(a, b), minus(a, b))); }
RUVANE_HOT P3 lerp(const P3& a, const P3& b, double f) {
    if (f == 0) return a;
    if (f == 1) return b;  // exactly, not a + (b - a)
    return {a[0] + f * (b[0] - a[0]), a[1] + f * (b[1] - a[1]), a[2] + f * (b[2] - a[2])};
}
RUVANE_HOT P3 cross3(const P3& a, const P3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// Hash of a point for the maps that give one vertex per position. Equal
// points must hash alike: -0 and +0 compare equal, so both hash as +0.
// The three coordinates' bits are turned apart before they are joined, so
// that a point and its coordinates swapped do not meet, and the product's
// high half is folded down: coordinates that differ only in their exponent
// (1, 2, 4) differ only in the high bits.
struct P3Hash {
    static uint64_t bits(double c) {
        c += 0.0;  // -0 becomes +0
        uint64_t b;
        std::memcpy(&b, &c, sizeof b);
        return b;
    }
    static uint64_t turn(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }
    size_t operator()(const P3& p) const {
        uint64_t h = bits(p[0]) ^ turn(bits(p[1]), 21) ^ turn(bits(p[2]), 42);
        h *= 0xC2B2AE3D27D4EB4Full;
        h ^= h >> 32;
        return static_cast<size_t>(h);
    }
};
// One number per distinct point, in an open table: no block per point, as
// the mesher looks up every corner of every triangle. Points are equal as
// doubles compare (a NaN point equals nothing and is always new).
class PointIndex {
public:
    // The number of p, or `value` when p is new (then stored for p), and
    // whether it was new.
    std::pair<int, bool> insert(const P3& p, int value) {
        if (2 * (count_ + 1) > slots_.size()) grow();
        size_t i = first(p);
        while (slots_[i].value >= 0) {
            if (slots_[i].p == p) return {slots_[i].value, false};
            i = (i + 1) & (slots_.size() - 1);
        }
        slots_[i] = {p, value};
        filled_.push_back(i);
        ++count_;
        return {value, true};
    }

    // Room for n points before the table first grows (its size alone
    // changes no number given).
    void reserve(size_t n) {
        if (count_ != 0) return;
        size_t size = 64;
        while (size < 2 * n + 2) size *= 2;
        if (size > slots_.size()) slots_.assign(size, Slot{{0, 0, 0}, -1});
    }

    // Forgets every point and keeps the room: the faces' meshes are
    // collected one after the other, and the table then grows only past the
    // largest face so far.
    void clear() {
        for (size_t i : filled_) slots_[i].value = -1;
        filled_.clear();
        count_ = 0;
    }

private:
    struct Slot {
        P3 p;
        int value;  // -1: empty
    };
    std::vector<Slot> slots_;
    std::vector<size_t> filled_;  // the slots in use
    size_t count_ = 0;

    size_t first(const P3& p) const {
        return static_cast<size_t>((P3Hash{}(p)*0x9E3779B97F4A7C15ull) >> 20) & (slots_.size() - 1);
    }
    void grow() {
        std::vector<Slot> old(slots_.empty() ? 0 : slots_.size());
        old.swap(slots_);
        slots_.assign(old.empty() ? 64 : 2 * old.size(), Slot{{0, 0, 0}, -1});
        filled_.clear();
        for (const Slot& x : old) {
            if (x.value < 0) continue;
            size_t i = first(x.p);
            while (slots_[i].value >= 0) i = (i + 1) & (slots_.size() - 1);
            slots_[i] = x;
            filled_.push_back(i);
        }
    }
};

using detail::PointGrid;

// A directed edge (a, b) as one number that sorts as the pair does: each
// index with its sign bit flipped, a in the high half. Sorting numbers costs
// about half what sorting pairs does.
uint64_t edge_key(int a, int b) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(a) ^ 0x80000000u) << 32) |
           (static_cast<uint32_t>(b) ^ 0x80000000u);
}
std::pair<int, int> edge_of_key(uint64_t key) {
    return {static_cast<int>(static_cast<uint32_t>(key >> 32) ^ 0x80000000u),
            static_cast<int>(static_cast<uint32_t>(key) ^ 0x80000000u)};
}

// The keys of every side of every triangle, run as the triangle turns, sorted.
std::vector<uint64_t> sorted_edge_keys(const std::vector<std::array<int, 3>>& tris) {
    std::vector<uint64_t> all;
    all.reserve(tris.size() * 3);
    for (const auto& k : tris)
        for (size_t i = 0; i < 3; ++i) all.push_back(edge_key(k[i], k[(i + 1) % 3]));
    std::sort(all.begin(), all.end());
    return all;
}

// The sides of a triangle list (vertex numbers from 0), each run as its
// triangle turns, listed by the vertex they start from: a face's own
// triangles meet few at a vertex, so looking a side up scans a handful.
struct Sides {
    std::vector<int> first, to;  // sides from a: to[first[a]] .. to[first[a + 1] - 1]
    std::vector<int> fill;       // working: where each list is filled up to

    Sides() = default;
    explicit Sides(const std::vector<std::array<int, 3>>& tris) { build(tris); }
    // The lists of `tris`, in the room of the last ones: the mesher lists
    // the sides of every face two or three times, one face after another.
    void build(const std::vector<std::array<int, 3>>& tris) {
        int n = 0;
        for (const auto& k : tris)
            for (int v : k) n = std::max(n, v + 1);
        first.assign(static_cast<size_t>(n) + 1, 0);
        for (const auto& k : tris)
            for (int v : k) ++first[static_cast<size_t>(v) + 1];
        for (size_t a = 0; a < static_cast<size_t>(n); ++a) first[a + 1] += first[a];
        fill.assign(first.begin(), first.end() - 1);
        to.resize(tris.size() * 3);
        for (const auto& k : tris)
            for (size_t i = 0; i < 3; ++i)
                to[static_cast<size_t>(fill[static_cast<size_t>(k[i])]++)] = k[(i + 1) % 3];
    }
    int vertices() const { return static_cast<int>(first.size()) - 1; }
    // Each vertex's list in ascending order, for runs_sorted.
    void sort_lists() {
        for (size_t a = 0; a + 1 < first.size(); ++a)
            std::sort(to.data() + first[a], to.data() + first[a + 1]);
    }
    // How often a -> b is run, by a binary search once the lists are sorted
    // (a vertex many triangles meet costs a logarithm, not its count).
    int runs_sorted(int a, int b) const {
        if (a < 0 || a >= vertices()) return 0;
        const int* lo = to.data() + first[static_cast<size_t>(a)];
        const int* hi = to.data() + first[static_cast<size_t>(a) + 1];
        const auto range = std::equal_range(lo, hi, b);
        return static_cast<int>(range.second - range.first);
    }
    // How often a -> b is run.
    int runs(int a, int b) const {
        if (a < 0 || a >= vertices()) return 0;
        int count = 0;
        for (int i = first[static_cast<size_t>(a)]; i < first[static_cast<size_t>(a) + 1]; ++i)
            count += to[static_cast<size_t>(i)] == b;
        return count;
    }
    // Whether a -> b is run at all (the scan stops at the first).
    bool any(int a, int b) const {
        if (a < 0 || a >= vertices()) return false;
        for (int i = first[static_cast<size_t>(a)]; i < first[static_cast<size_t>(a) + 1]; ++i)
            if (to[static_cast<size_t>(i)] == b) return true;
        return false;
    }
};

// The directed edges of a triangle list with how often each is run, sorted
// by edge: a sorted vector, as a map per edge costs a node allocation each.
struct DirectedEdges {
    using Edge = std::pair<int, int>;
    std::vector<std::pair<Edge, int>> runs;

    explicit DirectedEdges(const std::vector<std::array<int, 3>>& tris) {
        const std::vector<uint64_t> all = sorted_edge_keys(tris);
        for (size_t i = 0; i < all.size();) {
            size_t j = i;
            while (j < all.size() && all[j] == all[i]) ++j;
            runs.push_back({edge_of_key(all[i]), static_cast<int>(j - i)});
            i = j;
        }
    }
    int count(const Edge& e) const {
        const auto it = std::lower_bound(
            runs.begin(), runs.end(), e,
            [](const std::pair<Edge, int>& r, const Edge& x) { return r.first < x; });
        return it != runs.end() && it->first == e ? it->second : 0;
    }
};

P3 trim_point(const HSurface& s, const HCurve& c, double t) {
    const Vec3 uv = point3(c, c.first() + (c.last() - c.first()) * t);
    return to_p3(surface_point(s, uv.x, uv.y));
}

// A model edge's point at x in [0, 1]: on the file's edge curve, or on a
// face's trim curve taken onto its surface (a face without B-rep edges).
// A plain value rather than a std::function: the discretisation calls it
// for every point it looks at.
struct EdgeCurve {
    const HCurve* curve = nullptr;
    const HSurface* surface = nullptr;  // null: `curve` lies in model space
    explicit operator bool() const { return curve != nullptr; }
    P3 operator()(double x) const {
        if (surface) return trim_point(*surface, *curve, x);
        return to_p3(point3(*curve, curve->first() + (curve->last() - curve->first()) * x));
    }
};

// A model edge: its 3D evaluator over [0, 1] and, once discretised, its
// polyline.
struct SharedEdge {
    EdgeCurve at;
    std::vector<P3> q;
    int uses = 0;
    std::vector<std::vector<double>> cuts;  // per segment: fractions other faces put there
};

// One piece of a loop: an edge, run forwards or backwards, and the face's
// trim curves (first to last, in loop order) that run along it.
struct Part {
    int edge;
    bool reversed;
    int first_curve, last_curve;
};

// A loop's polyline as the face runs it, segment by segment.
struct Chain {
    std::vector<P3> points;  // closed: the last point is the first
    // Per point: the part it comes from and its place among that part's
    // points in loop order.
    std::vector<std::pair<int, int>> source;
    int loop = 0;  // the face's loop
    struct Seg {
        int edge, index;  // segment `index` of the edge, in the edge's direction
        bool reversed;
    };
    std::vector<Seg> segs;
};

// `sag`, when above 0, is what a chord may sag instead of kChordShare x D.
template <class At>
std::vector<P3> polyline_of(const At& at, double D, int least_chords, double sag = 0.0);

void discretise(SharedEdge* e, double D, int least_chords, double sag = 0.0) {
    e->q = polyline_of(e->at, D, least_chords, sag);
    e->cuts.assign(e->q.size() - 1, {});
}

// Boundary edges of faces without B-rep topology, matched pairwise by
// their ends and middle within `tol`; each trim curve becomes a part.
struct Topology {
    std::vector<SharedEdge> edges;
    std::vector<std::vector<std::vector<Part>>> loops;  // per face, per loop
};

void brep_parts(const Model& model, size_t f, Topology* t, std::map<std::pair<int, int>, int>* ids,
                const std::map<std::pair<int, int>, const Edge*>& model_edges) {
    const Face& face = model.faces[f];
    for (const auto& loop : face.loops) {
        std::vector<Part> parts;
        for (size_t k = 0; k < loop.size(); ++k) {
            const TrimCurve& c = loop[k];
            const int curve = static_cast<int>(k);
            const std::pair<int, int> key{c.edge_list, c.edge_index};
            auto found = ids->find(key);
            int id = 0;
            if (found == ids->end()) {
                const auto slot = model_edges.find(key);
                const Edge* edge = slot == model_edges.end() ? nullptr : slot->second;
                id = static_cast<int>(t->edges.size());
                SharedEdge se;
                if (edge) se.at.curve = &edge->curve;
                t->edges.push_back(se);
                (*ids)[key] = id;
            } else {
                id = found->second;
            }
            // Pieces of one edge run it one way; a seam run there and back by
            // one face is two uses of it.
            if (!parts.empty() && parts.back().edge == id &&
                parts.back().reversed == c.edge_reversed) {
                parts.back().last_curve = curve;
                continue;
            }
            parts.push_back({id, c.edge_reversed, curve, curve});
        }
        t->loops[f].push_back(parts);
    }
}

// `tol` matches curves; a curve whose ends and middle lie within `tight`
// (the model's resolution) is collapsed, a pole, and matches nothing.
void sew(const Model& model, const std::vector<size_t>& loose, double tol, double tight,
         Topology* t) {
    struct Candidate {
        size_t face, loop, curve;
        P3 a, m, b;
        // A closed curve's ends say nothing of its direction: these do.
        P3 quarter, three_quarters;
        int edge = -1;
        bool reversed = false;
    };
    std::vector<Candidate> cands;
    for (size_t f : loose) {
        const Face& face = model.faces[f];
        for (size_t l = 0; l < face.loops.size(); ++l)
            for (size_t c = 0; c < face.loops[l].size(); ++c) {
                const HCurve& curve = face.loops[l][c].curve;
                cands.push_back(
                    {f, l, c, trim_point(face.surface, curve, 0),
                     trim_point(face.surface, curve, 0.5), trim_point(face.surface, curve, 1),
                     trim_point(face.surface, curve, 0.25), trim_point(face.surface, curve, 0.75)});
            }
    }
    // Only curves whose middles lie within `tol` can match.
    PointGrid middles(2 * tol);
    for (size_t i = 0; i < cands.size(); ++i) middles.add(cands[i].m, static_cast<int>(i));
    std::vector<size_t> later;
    for (size_t i = 0; i < cands.size(); ++i) {
        Candidate& ci = cands[i];
        if (ci.edge >= 0) continue;
        // The model outlives the edges: a copy of the surface per curve
        // would cost a large net once for each of its many trim curves.
        const Face& face = model.faces[ci.face];
        SharedEdge se;
        se.at = {&face.loops[ci.loop][ci.curve].curve, &face.surface};
        ci.edge = static_cast<int>(t->edges.size());
        t->edges.push_back(se);
        if (dist(ci.a, ci.b) <= tight && dist(ci.a, ci.m) <= tight) continue;  // a pole
        // The curve that fits best (its ends and middle nearest), not the
        // first within the tolerance: under a coarse deflection the
        // tolerance spans a small chamfer, whose neighbours fit it too.
        size_t best = i;
        bool best_same = false;
        double best_fit = 0;
        later.clear();
        middles.near(ci.m, [&](int j) {
            if (static_cast<size_t>(j) > i) later.push_back(static_cast<size_t>(j));
            return false;
        });
        std::sort(later.begin(), later.end());
        for (size_t j : later) {
            Candidate& cj = cands[j];
            if (cj.edge >= 0 || dist(ci.m, cj.m) > tol) continue;
            const double fit_same = std::max(dist(ci.a, cj.a), dist(ci.b, cj.b));
            const double fit_opposite = std::max(dist(ci.a, cj.b), dist(ci.b, cj.a));
            bool same = fit_same <= tol;
            const bool opposite = fit_opposite <= tol;
            // A closed curve matches both ways: the other runs the same way
            // when its quarter point is nearer this one's quarter point.
            if (same && opposite)
                same = dist(ci.quarter, cj.quarter) <= dist(ci.quarter, cj.three_quarters);
            if (!same && !opposite) continue;
            const double fit = std::max(dist(ci.m, cj.m), same ? fit_same : fit_opposite);
            if (best != i && fit >= best_fit) continue;
            best = j, best_same = same, best_fit = fit;
        }
        if (best != i) {
            cands[best].edge = ci.edge;
            cands[best].reversed = !best_same;
        }
    }
    for (const Candidate& c : cands) {
        auto& loops = t->loops[c.face];
        if (loops.size() <= c.loop) loops.resize(c.loop + 1);
        const int curve = static_cast<int>(c.curve);
        loops[c.loop].push_back({c.edge, c.reversed, curve, curve});
    }
}

Chain make_chain(const std::vector<Part>& parts, const std::vector<SharedEdge>& edges) {
    Chain ch;
    for (size_t pi = 0; pi < parts.size(); ++pi) {
        const Part& p = parts[pi];
        const int part = static_cast<int>(pi);
        const SharedEdge& e = edges[static_cast<size_t>(p.edge)];
        const int n = static_cast<int>(e.q.size());
        for (int s = 0; s + 1 < n; ++s) {
            const int index = p.reversed ? n - 2 - s : s;
            const P3& from =
                p.reversed ? e.q[static_cast<size_t>(index + 1)] : e.q[static_cast<size_t>(index)];
            // Each part starts with its own point, even where the last
            // one ended at the same place: the face may be elsewhere in
            // its parameter plane there (a seam run there and back meets
            // itself at a pole). A gap between parts (a loop the file does
            // not close) or such a step is a segment of no edge.
            if (ch.points.empty() || ch.points.back() != from || s == 0) {
                if (!ch.points.empty()) ch.segs.push_back({-1, 0, false});
                ch.points.push_back(from);
                ch.source.push_back({part, s});
            }
            ch.points.push_back(p.reversed ? e.q[static_cast<size_t>(index)]
                                           : e.q[static_cast<size_t>(index + 1)]);
            ch.source.push_back({part, s + 1});
            ch.segs.push_back({p.edge, index, p.reversed});
        }
    }
    if (!ch.points.empty() && ch.points.back() != ch.points.front()) {
        ch.points.push_back(ch.points.front());
        ch.source.push_back(ch.source.front());
        ch.segs.push_back({-1, 0, false});
    }
    return ch;
}

using detail::PlaceList;

// Where a boundary vertex lies on a face's chains.
struct OnChain {
    int chain = -1;
    double s = 0;  // segment index + fraction, along the chain
    P3 point{};
    int edge = -1, index = 0;  // the shared edge's segment it lies on, and where
    double f = 0;
    bool reversed = false;  // the chain runs that segment against the edge
    // Every place of the vertex along the face's chains, as (chain, s): a
    // point where a loop passes twice (a seam's end) has two.
    PlaceList at;
};

// A face's boundary vertices' places, by vertex number (looked up only;
// running through them, the order does not matter).
struct Places {
    std::vector<OnChain> place;
    std::vector<char> known;
    bool has(int v) const {
        return v >= 0 && static_cast<size_t>(v) < known.size() && known[static_cast<size_t>(v)];
    }
    const OnChain& at(int v) const { return place[static_cast<size_t>(v)]; }
    void set(int v, OnChain&& p) {
        place[static_cast<size_t>(v)] = std::move(p);
        known[static_cast<size_t>(v)] = 1;
    }
    template <class F>
    void each(F f) {
        for (size_t v = 0; v < known.size(); ++v)
            if (known[v]) f(static_cast<int>(v), place[v]);
    }
};

// A face's open boundary edges as sorted keys, each struck off once used.
struct OpenEdges {
    std::vector<uint64_t> keys;  // ascending
    std::vector<char> used;
    std::vector<int> from;  // the keys of the edges from a: from[a] .. from[a + 1] - 1
    // Each vertex's first key, once the keys are sorted: a look-up then
    // scans the one or two open edges of its vertex instead of searching
    // them all (the fans look up every side of every triangle).
    void index(size_t vertices) {
        from.assign(vertices + 1, 0);
        for (uint64_t k : keys) ++from[static_cast<size_t>(edge_of_key(k).first) + 1];
        for (size_t a = 0; a < vertices; ++a) from[a + 1] += from[a];
    }
    size_t find(int a, int b) const {
        if (a < 0 || static_cast<size_t>(a) + 1 >= from.size()) return keys.size();
        const uint64_t k = edge_key(a, b);
        for (int i = from[static_cast<size_t>(a)]; i < from[static_cast<size_t>(a) + 1]; ++i)
            if (keys[static_cast<size_t>(i)] == k) return static_cast<size_t>(i);
        return keys.size();
    }
    bool open(int a, int b) const {
        const size_t i = find(a, b);
        return i < keys.size() && !used[i];
    }
    void close(int a, int b) {
        const size_t i = find(a, b);
        if (i < keys.size()) used[i] = 1;
    }
};

struct FaceMesh {
    std::vector<P3> vertex;
    std::vector<std::array<int, 3>> tri;
    std::vector<P3> normal_sum;
    // Per vertex: the numbers of the fixed points it carries (empty for a
    // vertex that is no shared point of a fixed loop).
    // The first number of each vertex is kept by itself (-1: none), any
    // further one (a point a loop passes twice) in `more`.
    std::vector<int> pinned;
    std::vector<std::pair<int, int>> more;  // (vertex, number), as found
    // Calls f(number) for each fixed point vertex v carries, in the order
    // found; `more` sorted by vertex (stably) once every triangle is in.
    template <class F>
    void pins(int v, F f) const {
        const int first = pinned[static_cast<size_t>(v)];
        if (first < 0) return;
        f(first);
        auto it = std::lower_bound(more.begin(), more.end(), std::make_pair(v, INT_MIN),
                                   [](const auto& x, const auto& y) { return x.first < y.first; });
        for (; it != more.end() && it->first == v; ++it) f(it->second);
    }
};

struct Collect {
    FaceMesh* mesh;
    PointIndex* index;  // empty at the start
    // The shared points of the fixed loops, by the number the tessellator
    // gives back in a vertex's `reserved` (one more than the index).
    const std::vector<P3>* fixed = nullptr;
    int vertex_of(const TessVertex& v) {
        P3 p{v.position[0], v.position[1], v.position[2]};
        const double id = v.reserved;
        const bool shared = fixed && id >= 1 && id <= static_cast<double>(fixed->size());
        if (shared) p = (*fixed)[static_cast<size_t>(id) - 1];
        const auto [number, fresh] = index->insert(p, static_cast<int>(mesh->vertex.size()));
        if (fresh) {
            mesh->vertex.push_back(p);
            mesh->pinned.push_back(-1);
        }
        if (shared) {
            const int k = static_cast<int>(id) - 1;
            int& first = mesh->pinned[static_cast<size_t>(number)];
            if (first < 0) {
                first = k;
            } else if (first != k &&
                       std::find(mesh->more.begin(), mesh->more.end(), std::make_pair(number, k)) ==
                           mesh->more.end()) {
                mesh->more.push_back({number, k});
            }
        }
        return number;
    }
};

void collect(const TessTriangle* t, void* user) {
    Collect* c = static_cast<Collect*>(user);
    std::array<int, 3> k{};
    P3 n{0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        k[static_cast<size_t>(i)] = c->vertex_of(t->vertex[i]);
        for (int x = 0; x < 3; ++x) n[static_cast<size_t>(x)] += t->vertex[i].normal[x];
    }
    if (k[0] == k[1] || k[1] == k[2] || k[0] == k[2]) return;
    c->mesh->tri.push_back(k);
    c->mesh->normal_sum.push_back(n);
}

// The canonical point of a fraction on a segment of a shared edge: the
// same doubles whichever face asks.
P3 edge_point(const SharedEdge& e, int index, double f) {
    return lerp(e.q[static_cast<size_t>(index)], e.q[static_cast<size_t>(index) + 1], f);
}

// A point of a part's trim curves: which curve (in the face's loop), its
// parameter, its (u, v) and the surface point there.
struct OnCurve {
    int curve = 0;
    double t = 0;
    Vec3 uv{};
    P3 at{};
};

OnCurve on_curve(const Face& face, const std::vector<TrimCurve>& loop, int curve, double t) {
    OnCurve o{curve, t, point3(loop[static_cast<size_t>(curve)].curve, t), {}};
    o.at = to_p3(surface_point(face.surface, o.uv.x, o.uv.y));
    return o;
}

// The point of one trim curve nearest q, between the parameters lo and hi,
// from `start`: Gauss-Newton on the curve parameter (the surface point's
// derivative along the curve by a one-sided difference), a few steps.
OnCurve nearest_on(const Face& face, const std::vector<TrimCurve>& loop, const OnCurve& start,
                   double lo, double hi, const P3& q) {
    OnCurve x = start;
    double x_off = dist(x.at, q);
    const double h = 1e-7 * (hi - lo);
    for (int k = 0; k < 6 && h > 0; ++k) {
        const double th = x.t + h <= hi ? x.t + h : x.t - h;
        const P3 d = minus(on_curve(face, loop, x.curve, th).at, x.at);
        const double span = th - x.t;
        const double dd = dot3(d, d);
        if (!(dd > 0) || span == 0) break;
        // P'(t) = d / span; step = -(P - q).P' / |P'|^2.
        const double step = -dot3(minus(x.at, q), d) * span / dd;
        const double t = std::clamp(x.t + step, lo, hi);
        // The same parameter gives the same point, no nearer: not evaluated.
        if (t == x.t) break;
        const OnCurve y = on_curve(face, loop, x.curve, t);
        const double y_off = dist(y.at, q);
        if (!(y_off < x_off)) break;
        const bool small = std::fabs(t - x.t) <= 1e-12 * (hi - lo);
        x = y;
        x_off = y_off;
        if (small) break;
    }
    return x;
}

// An edge's points as a part runs them, forwards or backwards, without a copy.
struct Run {
    const std::vector<P3>& points;
    bool reversed;
    size_t size() const { return points.size(); }
    const P3& operator[](size_t i) const { return points[reversed ? points.size() - 1 - i : i]; }
    const P3& front() const { return (*this)[0]; }
    const P3& back() const { return (*this)[points.size() - 1]; }
};

// The (u, v) of a part's shared points `q` (in loop order) on the face:
// each found on the part's trim curves near its place along the edge
// (its share of the edge's length, taken along the curves' image), then
// refined; the ends are the curves' ends. False when a point lies farther
// than `tol` from where the face puts it.
// Working lists of part_uv, kept from one part to the next.
struct PartRoom {
    std::vector<OnCurve> samples;
    std::vector<double> along, edge;
};

bool part_uv(const Face& face, const std::vector<TrimCurve>& loop, const Part& p,
             const Run& q, double tol, std::vector<Vec3>* uv, PartRoom* room) {
    const size_t n = q.size();
    const int curves = p.last_curve - p.first_curve + 1;
    const int per = std::clamp(static_cast<int>(n) / curves, 8, 512);
    std::vector<OnCurve>& samples = room->samples;
    std::vector<double>& along = room->along;
    samples.clear();
    along.assign(1, 0.0);
    samples.reserve(static_cast<size_t>(curves) * static_cast<size_t>(per) + 1);
    along.reserve(samples.capacity());
    for (int c = p.first_curve; c <= p.last_curve; ++c) {
        const HCurve& hc = loop[static_cast<size_t>(c)].curve;
        for (int k = c == p.first_curve ? 0 : 1; k <= per; ++k) {
            const double t = k == per ? hc.last() : hc.first() + (hc.last() - hc.first()) * k / per;
            samples.push_back(on_curve(face, loop, c, t));
            if (samples.size() > 1)
                along.push_back(along.back() +
                                dist(samples[samples.size() - 2].at, samples.back().at));
        }
    }
    std::vector<double>& edge = room->edge;
    edge.assign(1, 0.0);
    edge.reserve(n);
    for (size_t i = 1; i < n; ++i) edge.push_back(edge.back() + dist(q[i - 1], q[i]));
    uv->assign(n, {});
    const size_t last = samples.size() - 1;
    (*uv)[0] = samples.front().uv;
    (*uv)[n - 1] = samples.back().uv;
    if (dist(samples.front().at, q.front()) > tol || dist(samples.back().at, q.back()) > tol)
        return false;
    const bool point_like = edge.back() <= tol;  // a pole: spread by count
    if (!point_like && !(along.back() > 0)) return false;
    size_t from = 0;
    for (size_t i = 1; i + 1 < n; ++i) {
        if (point_like) {
            (*uv)[i] = samples[last * i / (n - 1)].uv;
            continue;
        }
        const double target = edge[i] / edge.back() * along.back();
        size_t j = from;
        while (j < last && along[j] < target) ++j;
        size_t best = j;
        double best_off = dist(samples[j].at, q[i]);
        for (size_t k = j > from + 4 ? j - 4 : from; k <= std::min(last, j + 4); ++k) {
            const double off = dist(samples[k].at, q[i]);
            if (off < best_off) best = k, best_off = off;
        }
        // Refined between the samples on either side (of the same curve).
        const size_t lo =
            best > 0 && samples[best - 1].curve == samples[best].curve ? best - 1 : best;
        const size_t hi =
            best < last && samples[best + 1].curve == samples[best].curve ? best + 1 : best;
        const OnCurve found =
            nearest_on(face, loop, samples[best], samples[lo].t, samples[hi].t, q[i]);
        if (dist(found.at, q[i]) > tol) return false;
        (*uv)[i] = found.uv;
        from = best;
    }
    return true;
}

// Whether two triangles run the same edge the same way.
bool doubles_an_edge(const std::vector<std::array<int, 3>>& tri, Sides* room) {
    Sides& sides = *room;
    sides.build(tri);
    // A side a -> b run twice is b twice in a's list: each entry is looked
    // for among the ones before it.
    for (int a = 0; a < sides.vertices(); ++a) {
        const int* list = sides.to.data() + sides.first[static_cast<size_t>(a)];
        const int n = sides.first[static_cast<size_t>(a) + 1] - sides.first[static_cast<size_t>(a)];
        for (int i = 1; i < n; ++i)
            for (int j = 0; j < i; ++j)
                if (list[j] == list[i]) return true;
    }
    return false;
}

// The keys of the edges a triangle list runs once and not the other way
// (its open edges), from its sides; each taken the other way when
// `reversed` (the list's triangles since turned over), unsorted.
void open_edges(const Sides& sides, bool reversed, std::vector<uint64_t>* keys) {
    for (int a = 0; a < sides.vertices(); ++a)
        for (int i = sides.first[static_cast<size_t>(a)]; i < sides.first[static_cast<size_t>(a) + 1];
             ++i) {
            const int b = sides.to[static_cast<size_t>(i)];
            // Most sides are run back by a neighbour: that is asked first.
            if (sides.any(b, a) || sides.runs(a, b) != 1) continue;
            keys->push_back(reversed ? edge_key(b, a) : edge_key(a, b));
        }
}

class Mesher {
public:
    Mesher(const Model& m, const MeshOptions& o, ModelMesh* out) : model_(m), opt_(o), out_(out) {}
    bool run();

private:
    const Model& model_;
    const MeshOptions& opt_;
    ModelMesh* out_;
    Topology topo_;
    std::vector<std::vector<Chain>> chains_;
    std::vector<FaceMesh> meshes_;
    // Per face: boundary vertex -> place, and its boundary edges (looked
    // up only, never run through in order).
    std::vector<Places> on_;
    std::vector<OpenEdges> open_;
    // Per face: the chain and place of each fixed point it was meshed with.
    std::vector<std::vector<std::pair<int, int>>> where_;
    double tol_ = 0;  // the model's tolerance for matching and placing points
    FaceDesc desc_;   // the face being meshed, its storage kept from face to face
    PointIndex index_;  // the face's vertices by position, its room kept likewise
    Sides sides_;       // a face's triangle sides, the room kept likewise
    FaceMesh room_;     // the face's mesh as it is collected, likewise
    // The (u, v) of each part of the loop being placed, and part_uv's lists.
    mutable std::vector<std::vector<Vec3>> part_uv_;
    mutable PartRoom part_room_;

    // A face's loops as fixed polylines of their shared points.
    struct FixedSet {
        std::vector<std::vector<double>> points;  // per loop: (u, v) pairs, empty: not fixed
        std::vector<FixedLoopDesc> descs;
        std::vector<P3> shared;  // the shared point of each fixed point, by its number
        std::vector<std::pair<int, int>> where;  // and its chain and place there
        int fixed = 0;
        std::vector<int> kept;  // working: the chain points a loop keeps
    };
    FixedSet fixed_;  // the face being meshed, its room kept from face to face
    void build_topology();
    bool chain_uv(size_t f, const Chain& ch, std::vector<double>* points,
                  std::vector<int>* kept) const;
    void fixed_loops(size_t f, FixedSet* out) const;
    bool tessellate(size_t f);
    void keep_mesh(size_t f);
    void project_boundary(size_t f);
    void merge_cuts();
    void orient_loose_faces();
    void emit(size_t f);
};

// Cuts that two faces made at almost the same place become one point, the
// boundary vertices that made them moved onto it.
void Mesher::merge_cuts() {
    const double close = opt_.deflection * 1e-3;
    for (SharedEdge& e : topo_.edges)
        for (size_t k = 0; k < e.cuts.size(); ++k) {
            auto& c = e.cuts[k];
            const double len = dist(e.q[k], e.q[k + 1]);
            const double tie = len > 0 ? close / len : 1.0;
            std::sort(c.begin(), c.end());
            std::vector<double> kept;
            for (double x : c)
                if (x > tie && x < 1 - tie && (kept.empty() || x - kept.back() > tie))
                    kept.push_back(x);
            c = kept;
        }
    for (auto& on : on_)
        on.each([&](int, OnChain& place) {
            if (place.edge < 0) return;
            const SharedEdge& e = topo_.edges[static_cast<size_t>(place.edge)];
            const auto& c = e.cuts[static_cast<size_t>(place.index)];
            double best = place.f < 0.5 ? 0.0 : 1.0;
            for (double x : c)
                if (std::fabs(x - place.f) < std::fabs(best - place.f)) best = x;
            place.f = best;
            place.point = edge_point(e, place.index, best);
            auto& [chain, s] = place.at.front();
            s = std::floor(s) + (place.reversed ? 1 - best : best);
            (void)chain;
        });
}

void Mesher::build_topology() {
    topo_.loops.assign(model_.faces.size(), {});
    std::map<std::pair<int, int>, int> ids;
    std::map<std::pair<int, int>, const Edge*> model_edges;
    for (const Edge& e : model_.edges) model_edges[{e.list, e.index}] = &e;
    std::vector<size_t> loose;
    for (size_t f = 0; f < model_.faces.size(); ++f) {
        bool brep = !model_.faces[f].loops.empty();
        for (const auto& loop : model_.faces[f].loops)
            for (const TrimCurve& c : loop) brep = brep && c.edge_list != 0;
        if (brep)
            brep_parts(model_, f, &topo_, &ids, model_edges);
        else
            loose.push_back(f);
    }
    const double tol = std::max(model_.tolerance * 10, opt_.deflection);
    tol_ = tol;
    // Ten times the model's resolution: ends this close are one vertex,
    // and a curve this short is a point.
    const double tight = std::min(tol, std::max(model_.tolerance * 10, 1e-6 * opt_.deflection));
    sew(model_, loose, tol, tight, &topo_);
    // A seam (an edge one face runs there and back, as on a torus or a
    // sphere) takes the chords its deflection asks for, as any edge does
    // (the tessellator keeps the vertices its cells leave on a seam, in
    // pairs), but two at least where it bends: one chord of a ball's
    // meridian runs through the ball from pole to pole, and the x87 build
    // lost that face at the coarsest deflections. A straight seam keeps one.
    std::vector<char> seam(topo_.edges.size(), 0);
    for (const auto& face_loops : topo_.loops) {
        std::vector<int> seen;
        for (const auto& loop : face_loops)
            for (const Part& p : loop) seen.push_back(p.edge);
        std::sort(seen.begin(), seen.end());
        for (size_t k = 1; k < seen.size(); ++k)
            if (seen[k] == seen[k - 1]) seam[static_cast<size_t>(seen[k])] = 1;
    }
    for (size_t k = 0; k < topo_.edges.size(); ++k)
        if (topo_.edges[k].at) discretise(&topo_.edges[k], opt_.deflection, seam[k] ? 2 : 1);
    // The seams of a face the tessellator meshes as closed rows (a ball, a
    // ring) set those rows: the seam across them gives the rows their places,
    // a ring's other seam is a whole row the triangles stand on. Their chords
    // sag no more than the rows' spacing, or rows between their points (ending
    // on one of them) and thin triangles on their chords cost more than the
    // closer points do. A straight seam (a cylinder's) keeps its one chord
    // whatever the sag: its face is not asked.
    for (size_t f = 0; f < topo_.loops.size(); ++f) {
        const auto& face_loops = topo_.loops[f];
        if (face_loops.size() != 1) continue;
        auto bends = [&](const Part& p) {
            const SharedEdge& e = topo_.edges[static_cast<size_t>(p.edge)];
            return seam[static_cast<size_t>(p.edge)] && e.at && e.q.size() > 2;
        };
        if (std::none_of(face_loops[0].begin(), face_loops[0].end(), bends)) continue;
        face_desc(model_.faces[f], &desc_);
        double sag = 0.0;
        if (!ruvane_rows_seam(&desc_.desc, opt_.deflection, &sag)) continue;
        for (const Part& p : face_loops[0])
            if (bends(p)) {
                discretise(&topo_.edges[static_cast<size_t>(p.edge)], opt_.deflection, 2, sag);
                seam[static_cast<size_t>(p.edge)] = 0;  // its run back is the same edge
            }
    }
    // Edges meeting at a vertex end at the very same point (their ends were
    // evaluated from different curves, a closed edge's two ends from one).
    // Ends within ten times the model's resolution are one vertex; only an
    // end with no such partner goes to the nearest end within the matching
    // tolerance (a file whose curves miss each other). The matching
    // tolerance alone would join distinct vertices under a coarse deflection
    // (the two ends of a small fillet's arc, or the two long edges that meet
    // them).
    std::vector<P3*> ends;
    for (SharedEdge& e : topo_.edges)
        if (!e.q.empty()) ends.push_back(&e.q.front()), ends.push_back(&e.q.back());
    pair_ends(ends, tight, tol);
    chains_.assign(model_.faces.size(), {});
    for (size_t f = 0; f < model_.faces.size(); ++f)
        for (size_t l = 0; l < topo_.loops[f].size(); ++l) {
            const auto& parts = topo_.loops[f][l];
            bool ok = true;
            for (const Part& p : parts)
                ok = ok && static_cast<bool>(topo_.edges[static_cast<size_t>(p.edge)].at);
            if (ok) {
                chains_[f].push_back(make_chain(parts, topo_.edges));
                chains_[f].back().loop = static_cast<int>(l);
            }
            for (const Part& p : parts) ++topo_.edges[static_cast<size_t>(p.edge)].uses;
        }
    for (const SharedEdge& e : topo_.edges) {
        if (e.uses >= 2) ++out_->shared_edges;
        if (e.uses == 1 && e.q.size() >= 2 &&
            dist(e.q.front(), e.q.back()) + dist(e.q.front(), e.q[e.q.size() / 2]) > tight)
            ++out_->unmatched_edges;
    }
}

// The (u, v) of a chain's points on face f, part by part, and the chain
// points they belong to: a point that repeats the one before it in space
// and on the face is left out, as is the closing point. False when a
// part's points cannot be placed on the face.
bool Mesher::chain_uv(size_t f, const Chain& ch, std::vector<double>* points,
                      std::vector<int>* kept) const {
    const Face& face = model_.faces[f];
    const auto& loop = face.loops[static_cast<size_t>(ch.loop)];
    const auto& parts = topo_.loops[f][static_cast<size_t>(ch.loop)];
    std::vector<std::vector<Vec3>>& uv = part_uv_;
    if (uv.size() < parts.size()) uv.resize(parts.size());
    for (size_t pi = 0; pi < parts.size(); ++pi) {
        const Part& p = parts[pi];
        const Run q{topo_.edges[static_cast<size_t>(p.edge)].q, p.reversed};
        if (q.size() < 2 || !part_uv(face, loop, p, q, tol_, &uv[pi], &part_room_)) return false;
    }
    const HSurface& sur = face.surface;
    const double near = opt_.param_tolerance *
                        std::max(sur.uk.back() - sur.uk.front(), sur.vk.back() - sur.vk.front());
    points->clear();
    kept->clear();
    auto same = [&](size_t i, size_t j, const Vec3& x) {
        const double* y = points->data() + 2 * j;
        return ch.points[i] == ch.points[static_cast<size_t>((*kept)[j])] &&
               std::fabs(x.x - y[0]) + std::fabs(x.y - y[1]) <= near;
    };
    for (size_t i = 0; i < ch.points.size(); ++i) {
        const auto [part, pos] = ch.source[i];
        const Vec3& x = uv[static_cast<size_t>(part)][static_cast<size_t>(pos)];
        if (!kept->empty() && same(i, kept->size() - 1, x)) continue;
        if (i + 1 == ch.points.size() && !kept->empty() && same(i, 0, x)) continue;
        points->insert(points->end(), {x.x, x.y});
        kept->push_back(static_cast<int>(i));
    }
    return points->size() >= 6;
}

void Mesher::fixed_loops(size_t f, FixedSet* out) const {
    const Face& face = model_.faces[f];
    // Refilled in the room of the last face's.
    FixedSet& set = *out;
    const size_t loops = std::max<size_t>(1, face.loops.size());
    set.points.resize(loops);
    for (auto& p : set.points) p.clear();
    set.descs.clear();
    set.shared.clear();
    set.where.clear();
    set.fixed = 0;
    std::vector<const Chain*> chain(loops, nullptr);
    std::vector<int> chain_index(loops, -1);
    for (size_t c = 0; c < chains_[f].size(); ++c) {
        const Chain& ch = chains_[f][c];
        if (static_cast<size_t>(ch.loop) >= loops) continue;
        chain[static_cast<size_t>(ch.loop)] = &ch;
        chain_index[static_cast<size_t>(ch.loop)] = static_cast<int>(c);
    }
    std::vector<int>& kept = set.kept;
    for (size_t l = 0; l < loops; ++l) {
        if (!chain[l] || !chain_uv(f, *chain[l], &set.points[l], &kept)) {
            set.points[l].clear();
            continue;
        }
        ++set.fixed;
        for (int i : kept) {
            set.shared.push_back(chain[l]->points[static_cast<size_t>(i)]);
            set.where.push_back({chain_index[l], i});
        }
    }
    for (const auto& p : set.points)
        set.descs.push_back({static_cast<int32_t>(p.size() / 2), p.empty() ? nullptr : p.data()});
}

bool Mesher::tessellate(size_t f) {
    const Face& face = model_.faces[f];
    FaceDesc& d = desc_;
    face_desc(face, &d);
    // A face's mesh collected afresh: nothing in it, its vertex index empty.
    // It is collected in the room of the last face's and copied out once
    // done: grown afresh for every face, its lists cost more in regrowth
    // than the copy does.
    FaceMesh& m = room_;
    auto fresh = [&]() {
        m.vertex.clear();
        m.tri.clear();
        m.normal_sum.clear();
        m.pinned.clear();
        m.more.clear();
        index_.clear();
        return Collect{&m, &index_};
    };
    Collect c = fresh();
    int32_t status = 0;
    const double D = opt_.deflection;
    FaceOutcome& o = out_->faces[f];
    o.entity = face.entity;
    // First with the shared points fixed on the face's boundary; the face's
    // own trim curves where that cannot be done.
    fixed_loops(f, &fixed_);
    const FixedSet& fixed = fixed_;
    const int loops = static_cast<int>(fixed.points.size());
    // A surface closed on itself and thinner than the deflection (a ring's
    // tube) can get only two vertices round its closed direction: the two
    // halves then share every edge across it in space. Such a face is
    // meshed again with a finer surface tolerance (the boundary points stay).
    bool fixed_used = false;
    bool listed = false;  // sides_ holds the sides of the face's mesh
    int32_t left = 0;
    for (double A = D;; A /= 4) {
        c = fresh();
        fixed_used = false;
        left = 0;
        if (fixed.fixed > 0) {
            c.fixed = &fixed.shared;
            if (!ruvane_tesselate_fixed(collect, &d.desc, fixed.descs.data(), &status, A, D,
                                        opt_.param_tolerance, &c, &left))
                return false;
            fixed_used = !m.tri.empty() && status == RUVANE_TESS_OK;
            if (!fixed_used) c = fresh();
        }
        if (!fixed_used &&
            !ruvane_tesselate_ruvane(collect, &d.desc, &status, A, D, opt_.param_tolerance, &c))
            return false;
        listed = false;
        if (m.tri.empty() || A < D / 60) break;
        listed = true;
        if (!doubles_an_edge(m.tri, &sides_)) break;
    }
    if (fixed_used) {
        out_->fixed_loops += fixed.fixed;
        out_->curve_loops += loops - fixed.fixed;
        out_->left_vertices += left;
        out_->fixed_points += static_cast<int>(fixed.shared.size());
        where_[f] = fixed.where;
    } else {
        out_->curve_loops += loops;
    }
    o.status = status;
    if (m.tri.empty()) {
        keep_mesh(f);
        char routine[9] = {0};
        const int code = ruvane_last_error(routine);
        o.failure = "no triangles (status " + std::to_string(status) + ", error " +
                    std::to_string(code) + " in " + routine + ")";
        return true;
    }
    // The face's triangles come turned one way in its parameter plane:
    // they are turned together, to the surface's normal by their summed
    // agreement with it, then to the shell's side. One by one, a triangle
    // that folds over in space (a coarse chord of a narrow chamfer passing
    // inside a row of inner vertices) would be turned alone and double an
    // edge with its neighbour.
    double agree = 0;
    for (size_t t = 0; t < m.tri.size(); ++t) {
        const auto& k = m.tri[t];
        const P3 g =
            cross3(minus(m.vertex[static_cast<size_t>(k[1])], m.vertex[static_cast<size_t>(k[0])]),
                   minus(m.vertex[static_cast<size_t>(k[2])], m.vertex[static_cast<size_t>(k[0])]));
        const double n = std::sqrt(dot3(m.normal_sum[t], m.normal_sum[t]));
        if (n > 0) agree += dot3(g, m.normal_sum[t]) / n;
    }
    const bool turn = (agree < 0) != face.reversed;
    // The open edges, from the sides as the tessellator ran them (each
    // taken the other way when the triangles are turned).
    if (!listed) sides_.build(m.tri);
    open_edges(sides_, turn, &open_[f].keys);
    if (turn)
        for (auto& k : m.tri) std::swap(k[1], k[2]);
    keep_mesh(f);
    return true;
}

// The face's mesh out of the working room, as long as its lists and no
// longer (the normals served only to turn it).
void Mesher::keep_mesh(size_t f) {
    FaceMesh& kept = meshes_[f];
    kept.vertex = room_.vertex;
    kept.tri = room_.tri;
    kept.pinned = room_.pinned;
    kept.more = room_.more;
}

void Mesher::project_boundary(size_t f) {
    FaceMesh& m = meshes_[f];
    // The open edges were listed with the face's mesh; their ends are the
    // boundary vertices.
    OpenEdges& open = open_[f];
    std::vector<int> boundary;
    boundary.reserve(2 * open.keys.size());
    for (uint64_t k : open.keys) {
        const auto [a, b] = edge_of_key(k);
        boundary.push_back(a);
        boundary.push_back(b);
    }
    std::sort(open.keys.begin(), open.keys.end());
    open.used.assign(open.keys.size(), 0);
    open.index(m.vertex.size());
    on_[f].place.assign(m.vertex.size(), OnChain{});
    on_[f].known.assign(m.vertex.size(), 0);
    std::sort(boundary.begin(), boundary.end());
    boundary.erase(std::unique(boundary.begin(), boundary.end()), boundary.end());
    std::stable_sort(m.more.begin(), m.more.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    const double snap = opt_.deflection * 1e-3;
    // Per chain segment its box (low and high x, y, z), and a bound far
    // above the rounding of a computed distance at the chains' scale.
    std::vector<std::vector<double>> boxes(chains_[f].size());
    double scale = 1;
    for (size_t c = 0; c < chains_[f].size(); ++c) {
        const Chain& ch = chains_[f][c];
        boxes[c].reserve(6 * ch.segs.size());
        for (size_t s = 0; s < ch.segs.size(); ++s)
            for (size_t k = 0; k < 3; ++k) {
                const double a = ch.points[s][k], b = ch.points[s + 1][k];
                boxes[c].push_back(std::min(a, b));
                boxes[c].push_back(std::max(a, b));
                scale = std::max({scale, std::fabs(a), std::fabs(b)});
            }
    }
    const double slack = 1e-9 * scale;
    for (int v : boundary) {
        const P3 p = m.vertex[static_cast<size_t>(v)];
        OnChain best;
        if (m.pinned[static_cast<size_t>(v)] >= 0) {  // a shared point already
            best.point = p;
            m.pins(v, [&](int k) {
                const auto [c, i] = where_[f][static_cast<size_t>(k)];
                best.chain = c;
                best.at.push_back({c, static_cast<double>(i)});
            });
            on_[f].set(v, std::move(best));
            continue;
        }
        double best_d = -1;
        for (size_t c = 0; c < chains_[f].size(); ++c) {
            const Chain& ch = chains_[f][c];
            const std::vector<double>& box = boxes[c];
            for (size_t s = 0; s < ch.segs.size(); ++s) {
                // A segment whose box lies farther than the best distance
                // (with room for rounding) cannot come nearer.
                if (best_d >= 0) {
                    const double* x = &box[6 * s];
                    const double reach = best_d + slack;
                    if (p[0] < x[0] - reach || p[0] > x[1] + reach || p[1] < x[2] - reach ||
                        p[1] > x[3] + reach || p[2] < x[4] - reach || p[2] > x[5] + reach)
                        continue;
                }
                const P3 a = ch.points[s], b = ch.points[s + 1];
                const P3 ab = minus(b, a);
                const double len2 = dot3(ab, ab);
                double t = len2 > 0 ? dot3(minus(p, a), ab) / len2 : 0;
                t = std::clamp(t, 0.0, 1.0);
                const double d = dist(p, lerp(a, b, t));
                if (best_d >= 0 && d >= best_d) continue;
                best_d = d;
                best.chain = static_cast<int>(c);
                if (t * std::sqrt(len2) <= snap) t = 0;
                if ((1 - t) * std::sqrt(len2) <= snap) t = 1;
                best.s = static_cast<double>(s) + t;
            }
        }
        if (best.chain < 0 || best_d > 4 * opt_.deflection + snap) continue;
        // The canonical point, in the shared edge's own terms.
        const Chain& ch = chains_[f][static_cast<size_t>(best.chain)];
        size_t s = static_cast<size_t>(std::floor(best.s));
        double t = best.s - static_cast<double>(s);
        if (s >= ch.segs.size()) s = ch.segs.size() - 1, t = 1;
        const Chain::Seg& seg = ch.segs[s];
        if (seg.edge < 0 || t == 0 || t == 1) {
            best.point = lerp(ch.points[s], ch.points[s + 1], t);
        } else {
            SharedEdge& e = topo_.edges[static_cast<size_t>(seg.edge)];
            const double f_edge = seg.reversed ? 1 - t : t;
            best.point = edge_point(e, seg.index, f_edge);
            best.edge = seg.edge;
            best.index = seg.index;
            best.f = f_edge;
            best.reversed = seg.reversed;
            e.cuts[static_cast<size_t>(seg.index)].push_back(f_edge);
        }
        best.at.push_back({best.chain, static_cast<double>(s) + t});
        on_[f].set(v, std::move(best));
    }
}

void Mesher::emit(size_t f) {
    FaceMesh& m = meshes_[f];
    auto& on = on_[f];
    on.each([&](int v, const OnChain& place) { m.vertex[static_cast<size_t>(v)] = place.point; });
    // A boundary edge between two places on one chain passes the chain's
    // points and the cuts any face made between them, taken the shorter way
    // round (by length along the chain), in order from a to b. Only the
    // chain decides: a point of another edge can lie near a chord where a
    // face is narrow (a chamfer one deflection wide).
    std::vector<std::vector<double>> along(chains_[f].size());
    for (size_t c = 0; c < chains_[f].size(); ++c) {
        const Chain& ch = chains_[f][c];
        along[c].push_back(0);
        for (size_t i = 0; i + 1 < ch.points.size(); ++i)
            along[c].push_back(along[c].back() + dist(ch.points[i], ch.points[i + 1]));
    }
    auto length_at = [&](size_t c, double s) {
        const auto& L = along[c];
        const size_t i = std::min(static_cast<size_t>(std::floor(s)), L.size() - 2);
        return L[i] + (s - static_cast<double>(i)) * (L[i + 1] - L[i]);
    };
    // Working list, kept from one boundary edge to the next.
    std::vector<std::pair<double, P3>> pts;
    auto between = [&](int ia, int ib) -> const std::vector<std::pair<double, P3>>& {
        pts.clear();
        double best = -1;
        size_t chain = 0;
        double from = 0, to = 0;
        bool forward = true;
        for (const auto& [ca, sa] : on.at(ia).at)
            for (const auto& [cb, sb] : on.at(ib).at) {
                if (ca != cb || ca < 0) continue;
                const size_t c = static_cast<size_t>(ca);
                const double total = along[c].back();
                double ahead = length_at(c, sb) - length_at(c, sa);
                if (ahead < 0) ahead += total;
                for (const bool fwd : {true, false}) {
                    const double len = fwd ? ahead : total - ahead;
                    if (best >= 0 && len >= best) continue;
                    best = len, chain = c, from = sa, to = sb, forward = fwd;
                }
            }
        if (best < 0) return pts;
        const Chain& ch = chains_[f][chain];
        const double n = static_cast<double>(ch.segs.size());
        // Places measured from a in the edge's direction.
        auto offset = [&](double s) {
            double d = forward ? s - from : from - s;
            if (d < 0) d += n;
            return d;
        };
        const double span = offset(to);  // 0: both at one place (a pole's vertices)
        const P3 pa = m.vertex[static_cast<size_t>(ia)], pb = m.vertex[static_cast<size_t>(ib)];
        auto take = [&](double s, const P3& p) {
            const double d = offset(s);
            if (d > 1e-9 && d < span - 1e-9 && p != pa && p != pb) pts.push_back({d, p});
        };
        auto visit = [&](size_t s) {
            take(static_cast<double>(s), ch.points[s]);
            const Chain::Seg& seg = ch.segs[s];
            if (seg.edge < 0) return;
            const SharedEdge& e = topo_.edges[static_cast<size_t>(seg.edge)];
            for (double c : e.cuts[static_cast<size_t>(seg.index)])
                take(static_cast<double>(s) + (seg.reversed ? 1 - c : c),
                     edge_point(e, seg.index, c));
        };
        // Only the segments the way from a to b runs over can give points
        // (with one to spare at each end for rounding); they are visited in
        // chain order as the whole chain was, so the sort sees the same list.
        const double reach = std::ceil(span) + 3;
        if (!(reach < n)) {
            for (size_t s = 0; s < ch.segs.size(); ++s) visit(s);
        } else {
            const long ns = static_cast<long>(ch.segs.size());
            const long base = static_cast<long>(std::floor(forward ? from : from - span));
            // The segments base - 1 .. base + reach round the chain, in
            // ascending order: the run from the first to the chain's end
            // after the one from its start, when it wraps.
            const long count = std::min(static_cast<long>(reach) + 2, ns);
            const long start = ((base - 1) % ns + ns) % ns;
            const long wrapped = std::max(0L, start + count - ns);
            for (long s = 0; s < wrapped; ++s) visit(static_cast<size_t>(s));
            for (long s = start; s < start + count - wrapped; ++s) visit(static_cast<size_t>(s));
        }
        std::sort(pts.begin(), pts.end(),
                  [](const auto& x, const auto& y) { return x.first < y.first; });
        pts.erase(std::unique(pts.begin(), pts.end(),
                              [](const auto& x, const auto& y) { return x.second == y.second; }),
                  pts.end());
        return pts;
    };
    // Each boundary edge gets the shared points it passes, as a fan from
    // the triangle's opposite corner; the fan's outer triangles keep the
    // triangle's other edges and are looked at again for theirs.
    std::vector<std::array<int, 3>> work(m.tri.rbegin(), m.tri.rend());
    std::vector<std::array<int, 3>> done;
    done.reserve(m.tri.size());
    while (!work.empty()) {
        const std::array<int, 3> k = work.back();
        work.pop_back();
        int split_at = -1;
        const std::vector<std::pair<double, P3>>* extra = nullptr;
        for (int i = 0; i < 3 && split_at < 0; ++i) {
            const int a = k[static_cast<size_t>(i)], b = k[static_cast<size_t>((i + 1) % 3)];
            if (!open_[f].open(a, b) || !on.has(a) || !on.has(b)) continue;
            extra = &between(a, b);
            if (!extra->empty()) split_at = i;
        }
        if (split_at < 0) {
            done.push_back(k);
            continue;
        }
        const int a = k[static_cast<size_t>(split_at)],
                  b = k[static_cast<size_t>((split_at + 1) % 3)],
                  c = k[static_cast<size_t>((split_at + 2) % 3)];
        open_[f].close(a, b);
        int prev = a;
        std::vector<std::array<int, 3>> fan;
        for (const auto& e : *extra) {
            const int x = static_cast<int>(m.vertex.size());
            m.vertex.push_back(e.second);
            fan.push_back({prev, x, c});
            prev = x;
        }
        fan.push_back({prev, b, c});
        for (auto it = fan.rbegin(); it != fan.rend(); ++it) work.push_back(*it);
    }
    const int base = static_cast<int>(out_->vertices.size());
    for (const P3& p : m.vertex) out_->vertices.push_back(p);
    for (const auto& k : done) {
        if (k[0] == k[1] || k[1] == k[2] || k[0] == k[2]) continue;
        out_->triangles.push_back({base + k[0], base + k[1], base + k[2]});
        out_->triangle_face.push_back(static_cast<int>(f));
        ++out_->faces[f].triangles;
    }
}

// Faces without a shell say nothing of their side: each is turned so that
// it runs every shared mesh edge against its neighbour (B-rep faces hold
// still), and a closed group of them that then encloses a negative volume
// is turned inside out.
void Mesher::orient_loose_faces() {
    const size_t nf = model_.faces.size();
    bool loose = false;
    for (size_t f = 0; f < nf; ++f) loose = loose || model_.faces[f].shell == 0;
    if (!loose) return;  // every face is oriented by its shell
    // Each triangle side as (edge, face, forward), grouped by edge in
    // triangle order: counted out by the edge's lower end (in order), then
    // each end's few sides put in order of the upper end, stably.
    struct Use {
        std::pair<int, int> edge;
        int face;
        bool forward;
    };
    const size_t nv = out_->vertices.size();
    std::vector<int> start(nv + 1, 0);
    for (const auto& k : out_->triangles)
        for (size_t i = 0; i < 3; ++i) ++start[static_cast<size_t>(std::min(k[i], k[(i + 1) % 3])) + 1];
    for (size_t v = 0; v < nv; ++v) start[v + 1] += start[v];
    std::vector<Use> uses(out_->triangles.size() * 3);
    {
        std::vector<int> fill(start.begin(), start.end() - 1);
        for (size_t t = 0; t < out_->triangles.size(); ++t) {
            const auto& k = out_->triangles[t];
            for (size_t i = 0; i < 3; ++i) {
                const int a = k[i], b = k[(i + 1) % 3];
                uses[static_cast<size_t>(fill[static_cast<size_t>(std::min(a, b))]++)] = {
                    {std::min(a, b), std::max(a, b)}, out_->triangle_face[t], a < b};
            }
        }
    }
    const auto by_upper = [](const Use& x, const Use& y) { return x.edge.second < y.edge.second; };
    for (size_t v = 0; v < nv; ++v) {
        Use* lo = uses.data() + start[v];
        Use* hi = uses.data() + start[v + 1];
        if (hi - lo > 16) {
            std::stable_sort(lo, hi, by_upper);
            continue;
        }
        for (Use* i = lo + 1; i < hi; ++i)  // insertion: stable, no buffer
            for (Use* j = i; j > lo && by_upper(*j, j[-1]); --j) std::swap(*j, j[-1]);
    }
    std::vector<std::vector<std::pair<size_t, bool>>> next(nf);  // neighbour, must differ
    for (size_t i = 0; i < uses.size();) {
        size_t j = i;
        while (j < uses.size() && uses[j].edge == uses[i].edge) ++j;
        const Use* u = &uses[i];
        if (j - i == 2 && u[0].face != u[1].face) {
            const bool same = u[0].forward == u[1].forward;
            next[static_cast<size_t>(u[0].face)].push_back({static_cast<size_t>(u[1].face), same});
            next[static_cast<size_t>(u[1].face)].push_back({static_cast<size_t>(u[0].face), same});
        }
        i = j;
    }
    std::vector<int> flip(nf, -1);
    for (size_t f = 0; f < nf; ++f)
        if (model_.faces[f].shell != 0) flip[f] = 0;
    for (size_t start = 0; start < nf; ++start) {
        if (flip[start] >= 0) continue;
        // A group reached from a loose face; anchored when it touches a shell face.
        std::vector<size_t> group{start}, queue{start};
        flip[start] = 0;
        bool anchored = false;
        while (!queue.empty()) {
            const size_t f = queue.back();
            queue.pop_back();
            for (const auto& [g, differ] : next[f]) {
                const int want = flip[f] ^ static_cast<int>(differ);
                if (model_.faces[g].shell != 0) {
                    anchored = true;
                    continue;
                }
                if (flip[g] >= 0) continue;
                flip[g] = want;
                group.push_back(g);
                queue.push_back(g);
            }
        }
        (void)anchored;
    }
    for (size_t t = 0; t < out_->triangles.size(); ++t)
        if (flip[static_cast<size_t>(out_->triangle_face[t])] == 1)
            std::swap(out_->triangles[t][1], out_->triangles[t][2]);
    // Closed groups of loose faces enclose a positive volume.
    std::vector<int> group_of(nf, -1);
    int groups = 0;
    for (size_t start = 0; start < nf; ++start) {
        if (group_of[start] >= 0 || model_.faces[start].shell != 0) continue;
        std::vector<size_t> queue{start};
        group_of[start] = groups;
        while (!queue.empty()) {
            const size_t f = queue.back();
            queue.pop_back();
            for (const auto& [g, differ] : next[f])
                if (group_of[g] < 0 && model_.faces[g].shell == 0)
                    group_of[g] = groups, queue.push_back(g);
        }
        ++groups;
    }
    std::vector<double> volume(static_cast<size_t>(groups), 0.0);
    for (size_t t = 0; t < out_->triangles.size(); ++t) {
        const int g = group_of[static_cast<size_t>(out_->triangle_face[t])];
        if (g < 0) continue;
        const auto& k = out_->triangles[t];
        const P3& a = out_->vertices[static_cast<size_t>(k[0])];
        const P3& b = out_->vertices[static_cast<size_t>(k[1])];
        const P3& c = out_->vertices[static_cast<size_t>(k[2])];
        volume[static_cast<size_t>(g)] += dot3(a, cross3(b, c)) / 6;
    }
    if (groups == 0) return;
    const EdgeCheck open = check_edges(*out_);
    if (open.free != 0) return;  // not closed: no inside to speak of
    for (size_t t = 0; t < out_->triangles.size(); ++t) {
        const int g = group_of[static_cast<size_t>(out_->triangle_face[t])];
        if (g >= 0 && volume[static_cast<size_t>(g)] < 0)
            std::swap(out_->triangles[t][1], out_->triangles[t][2]);
    }
}

bool Mesher::run() {
    out_->faces.assign(model_.faces.size(), {});
    meshes_.assign(model_.faces.size(), {});
    on_.assign(model_.faces.size(), {});
    open_.assign(model_.faces.size(), {});
    where_.assign(model_.faces.size(), {});
    build_topology();
    for (size_t f = 0; f < model_.faces.size(); ++f) {
        if (!tessellate(f)) return false;
        if (opt_.progress) opt_.progress(f + 1, model_.faces.size());
    }
    for (size_t f = 0; f < model_.faces.size(); ++f) project_boundary(f);
    merge_cuts();
    // Room for every face's vertices and triangles at once (the fans along
    // the boundary add a few more).
    size_t vertices = 0, triangles = 0;
    for (const FaceMesh& m : meshes_) vertices += m.vertex.size(), triangles += m.tri.size();
    out_->vertices.reserve(vertices + vertices / 8);
    out_->triangles.reserve(triangles + triangles / 8);
    out_->triangle_face.reserve(triangles + triangles / 8);
    for (size_t f = 0; f < model_.faces.size(); ++f) emit(f);
    // One vertex per position: faces meet at the very same points. The
    // lists are compacted in place: an entry only ever moves forward.
    PointIndex index;
    index.reserve(out_->vertices.size());
    std::vector<int> remap(out_->vertices.size());
    size_t unique = 0;
    for (size_t i = 0; i < out_->vertices.size(); ++i) {
        const P3 p = out_->vertices[i];
        const auto [number, fresh] = index.insert(p, static_cast<int>(unique));
        if (fresh) out_->vertices[unique++] = p;
        remap[i] = number;
    }
    out_->vertices.resize(unique);
    size_t kept = 0;
    for (size_t t = 0; t < out_->triangles.size(); ++t) {
        auto k = out_->triangles[t];
        for (int& v : k) v = remap[static_cast<size_t>(v)];
        if (k[0] == k[1] || k[1] == k[2] || k[0] == k[2]) {
            --out_->faces[static_cast<size_t>(out_->triangle_face[t])].triangles;
            continue;
        }
        out_->triangles[kept] = k;
        out_->triangle_face[kept] = out_->triangle_face[t];
        ++kept;
    }
    out_->triangles.resize(kept);
    out_->triangle_face.resize(kept);
    orient_loose_faces();
    return true;
}

}  // namespace

void pair_ends(const std::vector<P3*>& ends, double tight, double tol) {
    const int n = static_cast<int>(ends.size());
    std::vector<char> paired(ends.size(), 0);
    // Cubes twice the distance asked: rounding cannot then put two points
    // that near each other in cubes that are not neighbours.
    PointGrid earlier(2 * tight);
    for (int i = 0; i < n; ++i) {
        int first = -1;
        earlier.near(*ends[static_cast<size_t>(i)], [&](int j) {
            if (first >= 0 && j >= first) return true;  // the lists ascend
            if (dist(*ends[static_cast<size_t>(i)], *ends[static_cast<size_t>(j)]) <= tight)
                first = j;
            return false;
        });
        if (first >= 0) {
            *ends[static_cast<size_t>(i)] = *ends[static_cast<size_t>(first)];
            paired[static_cast<size_t>(i)] = paired[static_cast<size_t>(first)] = 1;
        }
        earlier.add(*ends[static_cast<size_t>(i)], i);
    }
    PointGrid all(2 * tol);
    for (int i = 0; i < n; ++i) all.add(*ends[static_cast<size_t>(i)], i);
    for (int i = 0; i < n; ++i) {
        if (paired[static_cast<size_t>(i)]) continue;
        const P3 p = *ends[static_cast<size_t>(i)];
        int best = -1;
        double best_d = 0;
        all.near(p, [&](int j) {
            if (j == i) return false;
            const double d = dist(p, *ends[static_cast<size_t>(j)]);
            if (!(d <= tol)) return false;
            if (best < 0 || d < best_d || (d == best_d && j < best)) best = j, best_d = d;
            return false;
        });
        if (best < 0) continue;
        all.remove(p, i);
        *ends[static_cast<size_t>(i)] = *ends[static_cast<size_t>(best)];
        all.add(*ends[static_cast<size_t>(i)], i);
        paired[static_cast<size_t>(i)] = paired[static_cast<size_t>(best)] = 1;
    }
}

void face_desc(const Face& face, FaceDesc* out) {
    const HSurface& s = face.surface;
    out->u_knots = s.uk;
    out->v_knots = s.vk;
    out->points.clear();
    out->weights.clear();
    out->points.reserve(s.points.size() / 4 * 3);
    out->weights.reserve(s.points.size() / 4);
    for (size_t i = 0; i + 3 < s.points.size(); i += 4) {
        const double w = s.points[i + 3];
        out->points.insert(out->points.end(),
                           {s.points[i] / w, s.points[i + 1] / w, s.points[i + 2] / w});
        out->weights.push_back(w);
    }
    size_t total = 0;
    for (const auto& loop : face.loops) total += loop.size();
    // Emptied rather than made anew: a mesher reuses one description for
    // every face, and the blocks of the last face serve the next.
    auto empty = [](auto* lists, size_t n) {
        lists->resize(n);
        for (auto& l : *lists) l.clear();
    };
    empty(&out->curve_points, total);
    empty(&out->curve_weights, total);
    empty(&out->curve_knots, total);
    out->outer.clear();
    empty(&out->holes, face.loops.empty() ? 0 : face.loops.size() - 1);
    size_t k = 0;
    for (size_t l = 0; l < face.loops.size(); ++l)
        for (const TrimCurve& t : face.loops[l]) {
            const HCurve& c = t.curve;
            auto& pts = out->curve_points[k];
            auto& ws = out->curve_weights[k];
            auto& ks = out->curve_knots[k];
            pts.reserve(c.points.size() / 4 * 3);
            ws.reserve(c.points.size() / 4);
            ks.reserve(c.knots.size());
            for (size_t i = 0; i + 3 < c.points.size(); i += 4) {
                const double w = c.points[i + 3];
                pts.insert(pts.end(), {c.points[i] / w, c.points[i + 1] / w, 0.0});
                ws.push_back(w);
            }
            const double a = c.first(), b = c.last();
            for (double x : c.knots) ks.push_back((x - a) / (b - a));
            ks[static_cast<size_t>(c.degree)] = 0;
            ks[static_cast<size_t>(c.count())] = 1;
            const CurveDesc d{c.degree + 1, c.count(), pts.data(), ws.data(), 0, ks.data()};
            if (l == 0)
                out->outer.push_back(d);
            else
                out->holes[l - 1].push_back(d);
            ++k;
        }
    out->inner.clear();
    for (const auto& h : out->holes)
        out->inner.push_back({static_cast<int32_t>(h.size()), h.data()});
    TrimmedSurfaceDesc& d = out->desc;
    d.u_order = s.du + 1;
    d.v_order = s.dv + 1;
    d.u_knot_count = static_cast<int32_t>(s.uk.size());
    d.v_knot_count = static_cast<int32_t>(s.vk.size());
    d.u_knots = out->u_knots.data();
    d.v_knots = out->v_knots.data();
    d.reserved = 0;
    d.points = out->points.data();
    d.weights = out->weights.data();
    d.outer_count = static_cast<int32_t>(out->outer.size());
    d.outer_curves = out->outer.data();
    d.inner_count = static_cast<int32_t>(out->inner.size());
    d.inner_loops = out->inner.data();
}

bool mesh_model(const Model& model, const MeshOptions& options, ModelMesh* out) {
    *out = ModelMesh{};
    if (!(options.deflection > 0)) return false;
    Mesher m(model, options, out);
    return m.run();
}

namespace {

// One directed edge a -> b run n times, and b -> a m times, counted.
void count_edge(int a, int b, int n, int m, EdgeCheck* c) {
    if (a > b && m > 0) return;  // seen from the other side
    if (n == 1 && m == 0)
        ++c->free;
    else if (!(n == 1 && m == 1))
        ++c->bad;
}

}  // namespace

// Each vertex's sides in order (linear in the mesh, as few triangles meet
// at a vertex); a mesh whose triangles name no vertex of its own (a
// caller's) goes through one sort of every side instead.
EdgeCheck check_edges(const ModelMesh& mesh) {
    bool own = true;
    for (const auto& k : mesh.triangles)
        for (int v : k) own = own && v >= 0 && static_cast<size_t>(v) < mesh.vertices.size();
    EdgeCheck c;
    if (own) {
        Sides sides(mesh.triangles);
        sides.sort_lists();
        for (int a = 0; a < sides.vertices(); ++a) {
            const int* i = sides.to.data() + sides.first[static_cast<size_t>(a)];
            const int* end = sides.to.data() + sides.first[static_cast<size_t>(a) + 1];
            while (i < end) {
                const int b = *i;
                const int* j = i;
                while (j < end && *j == b) ++j;
                count_edge(a, b, static_cast<int>(j - i), sides.runs_sorted(b, a), &c);
                i = j;
            }
        }
        return c;
    }
    const DirectedEdges directed(mesh.triangles);
    for (const auto& [e, n] : directed.runs) {
        count_edge(e.first, e.second, n, directed.count({e.second, e.first}), &c);
    }
    return c;
}

namespace {

// The edge's own sag bound: a chord may stray this share of D from its
// curve, by the measure below, so that what lies between the points that
// measure looks at stays within D.
constexpr double kChordShare = 0.97;
// And at most this share of its own length (tan(a / 4) / 2 for an arc of
// angle a: 60 degrees), so that a coarse deflection still leaves a circle
// six chords: with fewer, the polygons of a narrow ring's two circles
// crossed (a groove's floor 1.5 mm wide at a deflection of 2.8 mm) and the
// face lost triangles between them.
constexpr double kBendShare = 0.134;

// How far points stray from the chord a -> b (to its nearest point), its
// direction and squared length worked out once for the many points
// measured against one chord.
struct Chord {
    P3 a, b, ab;
    double len2;
    Chord(const P3& from, const P3& to) : a(from), b(to), ab(minus(to, from)), len2(dot3(ab, ab)) {}
    RUVANE_HOT double off(const P3& p) const {
        const double f = len2 > 0 ? std::clamp(dot3(minus(p, a), ab) / len2, 0.0, 1.0) : 0.0;
        return dist(p, lerp(a, b, f));
    }
};

// A curve looked at: every point evaluated while splitting it into pieces
// within D (by increasing parameter), and the pieces with their sags.
struct CurveSamples {
    std::vector<double> t;
    std::vector<P3> p;
    struct Piece {
        double t0, t1, sag, length;
    };
    std::vector<Piece> pieces;
};

// Pieces within D of the curve: a piece is split while a quarter, half or
// three-quarter point is further than D from its chord. A chord's sagitta
// falls with the square of the number of pieces, so a piece that strays by
// d is cut into about sqrt(d / D) equal pieces at once rather than halved
// until it fits; each piece is checked again.
template <class At>
CurveSamples sample_curve(const At& at, double D) {
    CurveSamples c;
    auto split = [&](auto& self, double t0, const P3& a, double t1, const P3& b,
                     int depth) -> void {
        double worst = 0;
        P3 seen[3];
        int i = 0;
        for (double f : {0.25, 0.5, 0.75}) {
            seen[i] = at(t0 + (t1 - t0) * f);
            worst = std::max(worst, dist(seen[i++], lerp(a, b, f)));
        }
        if (!(worst > D) || depth >= 24) {
            for (int k = 0; k < 3; ++k) {
                c.t.push_back(t0 + (t1 - t0) * (k + 1) / 4);
                c.p.push_back(seen[k]);
            }
            c.t.push_back(t1);
            c.p.push_back(b);
            c.pieces.push_back({t0, t1, std::isfinite(worst) ? worst : D, dist(a, b)});
            return;
        }
        const int k = static_cast<int>(std::clamp(std::ceil(std::sqrt(worst / D)), 2.0, 64.0));
        double s0 = t0;
        P3 p0 = a;
        for (int j = 1; j <= k; ++j) {
            const double s1 = j == k ? t1 : t0 + (t1 - t0) * j / k;
            // Cut in two or four, the cuts fall on the quarter points just
            // looked at (j / k of the span is that quarter's fraction to the
            // bit: the two differ by a power of two), so they are not
            // evaluated again.
            const bool seen_there = j < k && (k == 2 || k == 4);
            const P3 p1 = j == k ? b : seen_there ? seen[j * 4 / k - 1] : at(s1);
            self(self, s0, p0, s1, p1, depth + 1);
            s0 = s1;
            p0 = p1;
        }
    };
    // Eight starting pieces, so that a curve straight at its quarters is
    // still looked at in between.
    constexpr int kStart = 8;
    P3 prev = at(0);
    c.t.push_back(0);
    c.p.push_back(prev);
    for (int k = 0; k < kStart; ++k) {
        const double t1 = (k + 1.0) / kStart;
        const P3 next = at(t1);
        split(split, k * 1.0 / kStart, prev, t1, next, 0);
        prev = next;
    }
    return c;
}

// How far the curve strays from the chord a = at(t0), b = at(t1): the
// farthest of the points the splitting looked at between them and of the
// chord's own quarter points (a chord shorter than a piece may hold none of
// the former). Chords kept to 0.97 D by this measure stay within 0.98 D
// looked at densely (the tests' curves of changing bend); seven points of
// its own instead of three changed no chord of the samples and cost 2 % of
// the instructions of meshing the bracket.
template <class At>
double chord_sag(const At& at, const CurveSamples& c, double t0, const P3& a, double t1,
                 const P3& b) {
    double worst = 0;
    const Chord chord(a, b);
    const auto first = std::upper_bound(c.t.begin(), c.t.end(), t0) - c.t.begin();
    for (size_t k = static_cast<size_t>(first); k < c.t.size() && c.t[k] < t1; ++k)
        worst = std::max(worst, chord.off(c.p[k]));
    for (int j = 1; j < 4; ++j) worst = std::max(worst, chord.off(at(t0 + (t1 - t0) * j / 4)));
    return worst;
}

// Whether a chord from a to b straying `sag` from its curve keeps both
// bounds. A sag that cannot be measured (a curve evaluated to NaN there)
// keeps: halving would not make it measurable, only cut the chord 2^24
// times.
bool chord_keeps(double sag, const P3& a, const P3& b, double w) {
    return !(sag > w) && !(sag > kBendShare * dist(a, b));
}

// The chords a piece needs: one of sag s and length L cut in m has chords
// of sag s / m^2 and length L / m (a chord's sag grows with the square of
// its length), so sqrt(s / w) of them keep w and s / (k L) keep the share
// k of their length.
double piece_need(const CurveSamples::Piece& piece, double w) {
    const double by_bend = piece.length > 0 ? piece.sag / (kBendShare * piece.length) : 0.0;
    return std::max(std::sqrt(piece.sag / w), by_bend);
}

// The parameters of n chords spread so that each holds an equal share of
// the curve's need, spread evenly inside each piece.
std::vector<double> spread_chords(const CurveSamples& c, double w, size_t n) {
    std::vector<double> need(c.pieces.size());
    double total = 0;
    for (size_t i = 0; i < need.size(); ++i) total += need[i] = piece_need(c.pieces[i], w);
    std::vector<double> t{0.0};
    size_t i = 0;
    double before = 0;  // the need of the pieces before piece i
    for (size_t k = 1; k < n; ++k) {
        if (!(total > 0)) {
            t.push_back(static_cast<double>(k) / static_cast<double>(n));
            continue;
        }
        const double goal = total * static_cast<double>(k) / static_cast<double>(n);
        while (i + 1 < need.size() && before + need[i] < goal) before += need[i++];
        const auto& piece = c.pieces[i];
        const double f = need[i] > 0 ? std::clamp((goal - before) / need[i], 0.0, 1.0) : 1.0;
        const double x = piece.t0 + (piece.t1 - piece.t0) * f;
        if (x > t.back()) t.push_back(x);
    }
    t.push_back(1.0);
    return t;
}

// Points within D of the curve, the fewest chords its sag allows: the
// curve is split into pieces within D, the count of chords of sag
// kChordShare x D is added up from the pieces' sags and spread over them by
// that need, and each chord is measured against the curve. A spread with a
// chord beyond takes one chord more (three times at most); a chord still
// beyond is then halved until it keeps. A greedy join over the split points
// left chords well below D (a circle at three quarters of it), and runs
// joined apart left short chords at their ends.
template <class At>
std::vector<P3> polyline_of(const At& at, double D, int least_chords, double sag) {
    const CurveSamples c = sample_curve(at, D);
    const P3 front = c.p.front(), back = c.p.back();
    // At least `least` chords; a closed edge at least three, so it never
    // collapses to a point. A straight edge (within D / 1000) needs no inner
    // points whatever `least_chords` asks.
    size_t least = static_cast<size_t>(std::max(least_chords, 1));
    bool straight = true;
    const Chord whole(front, back);
    for (size_t k = 1; k + 1 < c.p.size() && straight; ++k)
        straight = whole.off(c.p[k]) <= D * 1e-3;
    if (straight) least = 1;
    if (dist(front, back) <= D) least = std::max<size_t>(least, 3);
    const double w = sag > 0.0 ? sag : kChordShare * D;
    double need = 0;
    for (const auto& piece : c.pieces) need += piece_need(piece, w);
    size_t n = std::max(least, static_cast<size_t>(std::max(1.0, std::ceil(need - 1e-9))));
    std::vector<double> t;
    std::vector<P3> q;
    std::vector<char> beyond;
    for (int round = 0; round < 4; ++round, ++n) {
        t = spread_chords(c, w, n);
        q.assign(t.size(), P3{});
        q.front() = front;
        q.back() = back;
        for (size_t k = 1; k + 1 < t.size(); ++k) q[k] = at(t[k]);
        beyond.assign(t.size() - 1, 0);
        bool all = true;
        for (size_t k = 0; k + 1 < t.size(); ++k)
            all &= !(beyond[k] = !chord_keeps(chord_sag(at, c, t[k], q[k], t[k + 1], q[k + 1]),
                                              q[k], q[k + 1], w));
        if (all || straight) return q;
    }
    std::vector<P3> kept{front};
    auto halve = [&](auto& self, double t0, const P3& a, double t1, const P3& b,
                     int depth) -> void {
        if (depth >= 24 || chord_keeps(chord_sag(at, c, t0, a, t1, b), a, b, w)) {
            kept.push_back(b);
            return;
        }
        const double tm = 0.5 * (t0 + t1);
        const P3 m = at(tm);
        self(self, t0, a, tm, m, depth + 1);
        self(self, tm, m, t1, b, depth + 1);
    };
    for (size_t k = 0; k + 1 < t.size(); ++k) {
        if (beyond[k])
            halve(halve, t[k], q[k], t[k + 1], q[k + 1], 0);
        else
            kept.push_back(q[k + 1]);
    }
    return kept;
}

}  // namespace

std::vector<std::array<double, 3>> edge_polyline(
    const std::function<std::array<double, 3>(double)>& at, double D, int least_chords) {
    return polyline_of(at, D, least_chords);
}

}  // namespace ruvane::iges
