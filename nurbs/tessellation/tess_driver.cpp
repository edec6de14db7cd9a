// ruvane_tesselate_ruvane: validates a trimmed surface description, orients
// its trim loops, runs the tessellator (retrying with the other orientation
// choices when it fails), evaluates every triangle vertex on the surface and
// hands the triangles to the caller one at a time.
#include <cfloat>
#include <cmath>
#include <cstring>

#include "include/ruvane.h"
#include "nurbs/curve_desc.h"
#include "nurbs/fp_state.h"
#include "nurbs/tessellation/tess_driver.h"
#include "nurbs/tessellation/tess_fixed.h"
#include "nurbs/tessellation/tess_planar.h"
#include "nurbs/tessellation/tess_rows.h"
#include "nurbs/tessellation/tess_simplify.h"
#include "nurbs/tessellation/tessellation.h"

namespace ruvane {

namespace {

// Orientation test of a loop; see tess_driver.h.
constexpr double kSame = 1e-6;

bool usable(const CurveDesc& c) {
    return c.count >= 1 && c.count <= kMaxDescCount && c.points != nullptr;
}

// What an attempt, or one step of it, came to.
enum class Attempt { kGoOn, kDone, kRetry, kNoMemory };

// A request the host refused on the way, even one a step took in its
// stride: the mesh might differ from the one the memory would have given,
// so none is delivered.
Attempt storage_refused() {
    set_error(kErrStorage, "N_TESSUR");
    return Attempt::kNoMemory;
}

// Below this |Su x Sv| marks a degenerate point (a pole, an apex, a collapsed
// edge). In the metric plane the tangents have about unit length, so the
// bound does not depend on the size of the part.
constexpr double kDegenerateNormal = 1e-6;

enum class Normal : std::int16_t { kFailed = 0, kRegular = 1, kDegenerate = 2 };

// The point and unit normal from a point and its derivatives along u (tu)
// and v (tv), the normal formed as N_SURNOR forms it. At a degenerate point
// the point is still given; the tangents there are rounding noise, and a
// normal made of them can point anywhere.
Normal normal_of(const Point3& point, Point3 tu, Point3 tv, Point3* S, Point3* n) {
    *S = point;
    if (vec_length(vec_cross(tu, tv)) < kDegenerateNormal) return Normal::kDegenerate;
    if (G_VECNIP(&tu) != kOk || G_VECNIP(&tv) != kOk) return Normal::kDegenerate;
    Point3 m = vec_cross(tu, tv);
    if (vec_length(m) < kMinTolerance * 0.01 || G_VECNIP(&m) != kOk) return Normal::kDegenerate;
    *n = m;
    return Normal::kRegular;
}

// The same at (u, v).
Normal surface_normal(const Surface& sur, double u, double v, Point3* S, Point3* n) {
    Point3 row0[2];
    Point3 row1[2];
    Point3* skl[2] = {row0, row1};
    if (N_SURDER(sur, 1, u, v, 1, 1, 1, skl) != kOk) return Normal::kFailed;
    return normal_of(row0[0], row1[0], row0[1], S, n);
}

// The normal at a degenerate vertex as approached from inside one of its
// triangles: at the nearest regular point on the way from the vertex to the
// triangle's centroid (cu, cv). False when there is none.
bool limit_normal(const Surface& sur, double u, double v, double cu, double cv, Point3* n) {
    static const double kSteps[] = {1e-4, 1e-3, 1e-2, 0.1, 0.5};
    for (double f : kSteps) {
        Point3 S;
        if (surface_normal(sur, u + f * (cu - u), v + f * (cv - v), &S, n) == Normal::kRegular)
            return true;
    }
    return false;
}

// One attempt of the driver: the copies of the description, the loop tables
// and the mesh, all in the attempt's own pool.
struct Work {
    TessContext& ctx;
    const TrimmedSurfaceDesc* d;
    int32_t* status;
    Pool* pool;
    Surface sur{};
    // One boundary group: its outer loop and its holes.
    Curve*** outer = nullptr;
    Curve**** holes = nullptr;
    int* outer_last = nullptr;
    int* hole_last = nullptr;
    int** hole_curve_last = nullptr;
    bool outer_test = false;  // orientation test of the given outer loop
    // The tessellation and its triangles (vertex triples).
    double* u = nullptr;
    double* v = nullptr;
    int last = -1;
    int** rings = nullptr;
    int* counts = nullptr;
    int* tri = nullptr;
    int made = 0;
    // Loops the caller fixed as polylines (null for none), turned for the
    // tessellator, and per mesh vertex the fixed point it carries.
    const FixedLoopDesc* fixed_desc = nullptr;
    FixedLoops fixed{};
    // Vertices the simplification evaluated, for the normals after it.
    tess::VertexDerivatives known{};
};

// Ends the attempt with a status (and, for the checks made here rather than
// in a library routine, the error record the routine would have written).
Attempt done(Work& w, int32_t status, int code = 0, const char* routine = nullptr) {
    if (routine) set_error(code, routine);
    *w.status = status;
    return Attempt::kDone;
}

// Copies the surface description into the pool and builds the surface.
Attempt build_surface(Work& w) {
    const TrimmedSurfaceDesc* d = w.d;
    if (d->u_order < 2 || d->u_order > kMaxDegree + 1 || d->v_order < 2 ||
        d->v_order > kMaxDegree + 1)
        return done(w, RUVANE_TESS_BAD_SURFACE, kErrDegree, "N_IGS128");
    const int p = d->u_order - 1, q = d->v_order - 1;
    const long long nu = static_cast<long long>(d->u_knot_count) - d->u_order;
    const long long nv = static_cast<long long>(d->v_knot_count) - d->v_order;
    if (nu < d->u_order || nv < d->v_order || nu * nv > (1LL << 22) || d->u_knots == nullptr ||
        d->v_knots == nullptr || d->points == nullptr || d->weights == nullptr)
        return done(w, RUVANE_TESS_BAD_SURFACE, kErrKnots, "N_IGSVKB");
    double* uk = S_GETR1D(d->u_knot_count - 1, w.pool);
    double* vk = S_GETR1D(d->v_knot_count - 1, w.pool);
    double** W = S_GETR2D(static_cast<int>(nu) - 1, static_cast<int>(nv) - 1, w.pool);
    Point3** P = S_GETP2D(static_cast<int>(nu) - 1, static_cast<int>(nv) - 1, w.pool);
    if (!uk || !vk || !W || !P) return Attempt::kNoMemory;
    for (int i = 0; i < d->u_knot_count; ++i) uk[i] = d->u_knots[i];
    for (int j = 0; j < d->v_knot_count; ++j) vk[j] = d->v_knots[j];
    for (long long j = 0; j < nv; ++j)
        for (long long i = 0; i < nu; ++i) {
            const long long k = j * nu + i;
            W[i][j] = d->weights[k];
            P[i][j] = {d->points[3 * k], d->points[3 * k + 1], d->points[3 * k + 2]};
        }
    if (N_IGS128(static_cast<int>(nu) - 1, static_cast<int>(nv) - 1, p, q, uk, vk, W, P, uk[0],
                 uk[d->u_knot_count - 1], vk[0], vk[d->v_knot_count - 1], &w.sur, w.pool) != kOk)
        return done(w, RUVANE_TESS_BAD_SURFACE);
    return Attempt::kGoOn;
}

// Copies the curves of one loop into its slots, reversed when `reverse`.
DescCopy place_loop(Work& w, const CurveDesc* descs, int count, bool reverse, Curve** slots) {
    for (int i = 0; i < count; ++i) {
        Curve* cur = S_GETCUS(w.pool);
        if (!cur) return DescCopy::kNoStorage;
        const int slot = reverse ? count - 1 - i : i;
        const DescCopy r = copy_curve_desc(&descs[i], cur, w.pool);
        if (r != DescCopy::kOk) return r;
        if (reverse && N_CURREV(cur, cur, w.pool) != kOk) return DescCopy::kRejected;
        slots[slot] = cur;
    }
    return DescCopy::kOk;
}

// Twice the signed area of a polyline of (u, v) pairs: positive
// counter-clockwise.
double twice_area(const double* p, int count) {
    double a = 0.0;
    for (int i = 0, j = count - 1; i < count; j = i++)
        a += p[2 * j] * p[2 * i + 1] - p[2 * i] * p[2 * j + 1];
    return a;
}

bool usable_fixed(const FixedLoopDesc& f) {
    if (f.count < 3 || f.count > (1 << 22) || f.points == nullptr) return false;
    for (int i = 0; i < 2 * f.count; ++i)
        if (!std::isfinite(f.points[i])) return false;
    return true;
}

// The fixed loops turned as the tessellator wants them (the outer loop
// counter-clockwise, every hole clockwise, unless a flip inverts that), each
// point keeping its number in the caller's order.
Attempt build_fixed(Work& w, int hole_count, bool flip_outer, bool flip_holes) {
    const int loops = 1 + hole_count;
    FixedLoops& out = w.fixed;
    out.u = S_GETR1P(loops - 1, w.pool);
    out.v = S_GETR1P(loops - 1, w.pool);
    out.id = S_GETI1P(loops - 1, w.pool);
    out.count = S_GETI1D(loops - 1, w.pool);
    if (!out.u || !out.v || !out.id || !out.count) return Attempt::kNoMemory;
    out.loops = loops;
    int number = 0;
    for (int k = 0; k < loops; ++k) {
        const FixedLoopDesc& f = w.fixed_desc[k];
        out.count[k] = 0;
        if (f.count == 0) continue;
        if (!usable_fixed(f))
            return done(w, k == 0 ? RUVANE_TESS_BAD_OUTER_CURVE : RUVANE_TESS_BAD_HOLE_CURVE,
                        kErrDegenerate, "N_TESSUR");
        const bool clockwise = !(twice_area(f.points, f.count) > 0.0);
        if (k == 0) w.outer_test = clockwise;
        const bool reverse = k == 0 ? clockwise != flip_outer : clockwise == flip_holes;
        double* u = S_GETR1D(f.count - 1, w.pool);
        double* v = S_GETR1D(f.count - 1, w.pool);
        int* id = S_GETI1D(f.count - 1, w.pool);
        if (!u || !v || !id) return Attempt::kNoMemory;
        for (int i = 0; i < f.count; ++i) {
            const int from = reverse ? f.count - 1 - i : i;
            u[i] = f.points[2 * from];
            v[i] = f.points[2 * from + 1];
            id[i] = number + from;
        }
        number += f.count;
        out.u[k] = u;
        out.v[k] = v;
        out.id[k] = id;
        out.count[k] = f.count;
    }
    return Attempt::kGoOn;
}

// The loop tables of the one boundary group: the outer loop made
// counter-clockwise and every hole clockwise, unless a flip inverts that.
Attempt build_loops(Work& w, bool flip_outer, bool flip_holes) {
    const TrimmedSurfaceDesc* d = w.d;
    const int outer_count = d->outer_count > 0 ? d->outer_count : 0;
    const int hole_count = d->inner_count > 0 ? d->inner_count : 0;
    if ((outer_count > 0 && d->outer_curves == nullptr) || outer_count > kMaxDescCount)
        return done(w, RUVANE_TESS_BAD_OUTER_CURVE, kErrKnots, "N_IGSVKB");
    if ((hole_count > 0 && d->inner_loops == nullptr) || hole_count > kMaxDescCount)
        return done(w, RUVANE_TESS_BAD_HOLE_CURVE, kErrKnots, "N_IGSVKB");
    w.outer = S_GETCUB(0, w.pool);
    Curve** outer_curves = S_GETCUA(outer_count > 0 ? outer_count - 1 : 0, w.pool);
    w.holes = S_GETCUC(0, w.pool);
    Curve*** hole_tables = S_GETCUB(hole_count > 0 ? hole_count - 1 : 0, w.pool);
    w.outer_last = S_GETI1D(0, w.pool);
    w.hole_last = S_GETI1D(0, w.pool);
    w.hole_curve_last = S_GETI1P(0, w.pool);
    int* curve_last = S_GETI1D(hole_count > 0 ? hole_count - 1 : 0, w.pool);
    if (!w.outer || !outer_curves || !w.holes || !hole_tables || !w.outer_last || !w.hole_last ||
        !w.hole_curve_last || !curve_last)
        return Attempt::kNoMemory;
    w.outer[0] = outer_curves;
    w.holes[0] = hole_tables;
    w.outer_last[0] = outer_count - 1;
    w.hole_last[0] = hole_count - 1;
    w.hole_curve_last[0] = curve_last;

    if (w.fixed_desc) {
        const Attempt f = build_fixed(w, hole_count, flip_outer, flip_holes);
        if (f != Attempt::kGoOn) return f;
    }
    const bool outer_fixed = w.fixed_desc && w.fixed_desc[0].count != 0;
    if (outer_fixed) {
        w.outer_last[0] = -1;
    } else {
        w.outer_test = loop_orientation(d->outer_curves, outer_count);
        const DescCopy r =
            place_loop(w, d->outer_curves, outer_count, w.outer_test != flip_outer, outer_curves);
        if (r == DescCopy::kNoStorage) return Attempt::kNoMemory;
        if (r == DescCopy::kRejected) return done(w, RUVANE_TESS_BAD_OUTER_CURVE);
    }
    for (int h = 0; h < hole_count; ++h) {
        const TrimLoopDesc& loop = d->inner_loops[h];
        if (w.fixed_desc && w.fixed_desc[1 + h].count != 0) {
            hole_tables[h] = nullptr;
            curve_last[h] = -1;
            continue;
        }
        const int count = loop.count > 0 ? loop.count : 0;
        if ((count > 0 && loop.curves == nullptr) || count > kMaxDescCount)
            return done(w, RUVANE_TESS_BAD_HOLE_CURVE, kErrKnots, "N_IGSVKB");
        Curve** slots = S_GETCUA(count > 0 ? count - 1 : 0, w.pool);
        if (!slots) return Attempt::kNoMemory;
        hole_tables[h] = slots;
        curve_last[h] = count - 1;
        const bool oh = loop_orientation(loop.curves, count) != flip_holes;
        const DescCopy r = place_loop(w, loop.curves, count, !oh, slots);
        if (r == DescCopy::kNoStorage) return Attempt::kNoMemory;
        if (r == DescCopy::kRejected) return done(w, RUVANE_TESS_BAD_HOLE_CURVE);
    }
    return Attempt::kGoOn;
}

// Triangles from the rings, each once from its smallest vertex.
bool extract_triangles(Work& w) {
    const int room = 2 * w.last + 1;
    w.tri = S_GETI1D(3 * room - 1, w.pool);
    if (!w.tri) return false;
    w.made = 0;
    for (int j = 0; j <= w.last; ++j) {
        const int* list = w.rings[j];
        if (list[0] == -1) continue;
        for (int k = 0; k < w.counts[j]; ++k) {
            const int a = list[k], b = list[k + 1];
            if (!(j < a && j < b)) continue;
            if (w.made == room) return false;
            w.tri[3 * w.made] = j;
            w.tri[3 * w.made + 1] = a;
            w.tri[3 * w.made + 2] = b;
            ++w.made;
        }
    }
    return true;
}

Attempt adopt_triangles(Work& w, tess::Scratch& s, const tess::Table<tess::Tri>& tris);

// Removes the vertices the surface tolerance does not need and, when any
// went, rebuilds the rings and the triangles from what is left.
Attempt simplify(Work& w) {
    tess::Scratch s;
    tess::Table<tess::Tri> tris;
    if (!tris.reserve(s, w.made)) return Attempt::kNoMemory;
    for (int t = 0; t < w.made; ++t)
        tris.push(s, {w.tri[3 * t], w.tri[3 * t + 1], w.tri[3 * t + 2]});
    tess::SimplifyInput in{};
    in.sur = &w.sur;
    in.u = w.u;
    in.v = w.v;
    in.count = w.last + 1;
    in.Lu = w.ctx.measures.Lu;
    in.Lv = w.ctx.measures.Lv;
    in.A = w.ctx.tol.surface;
    in.fixed_id = w.fixed.vertex_id;
    tess::VertexDerivatives& known = w.known;
    known.S = S_GETP1D(w.last, w.pool);
    known.Su = S_GETP1D(w.last, w.pool);
    known.Sv = S_GETP1D(w.last, w.pool);
    known.state = S_GETF1D(w.last, w.pool);
    if (known.S && known.Su && known.Sv && known.state) {
        for (int k = 0; k <= w.last; ++k) known.state[k] = -1;
        in.known = known;
    } else {
        known.state = nullptr;  // the simplification and the normals evaluate apart
    }
    int removed = 0;
    if (tess::simplify_mesh(s, in, tris, &removed) != 0) return Attempt::kNoMemory;
    if (removed == 0) return Attempt::kGoOn;
    return adopt_triangles(w, s, tris);
}

// Takes the triangles over as the attempt's rings and triangle table; the
// mesh stays as it was when they do not form one.
Attempt adopt_triangles(Work& w, tess::Scratch& s, const tess::Table<tess::Tri>& tris) {
    tess::Rings r;
    const int rc = tess::build_rings(s, w.last + 1, tris, r);
    if (rc == kErrStorage) return Attempt::kNoMemory;
    if (rc != 0) return Attempt::kGoOn;
    int** lists = S_GETI1P(w.last, w.pool);
    int* counts = S_GETI1D(w.last, w.pool);
    int* entries = S_GETI1D(r.entries.size - 1, w.pool);
    if (!lists || !counts || !entries) return Attempt::kNoMemory;
    for (int k = 0; k < r.entries.size; ++k) entries[k] = r.entries[k];
    for (int k = 0; k <= w.last; ++k) {
        lists[k] = entries + r.start[k];
        counts[k] = r.count[k];
    }
    w.rings = lists;
    w.counts = counts;
    return extract_triangles(w) ? Attempt::kGoOn : Attempt::kNoMemory;
}

// Per vertex: its point, and its normal unless the point is degenerate
// (then each triangle gets the normal approached from its own inside).
// Without room for the cache every vertex is evaluated afresh.
//
// A vertex on the far bound of a direction the surface closes in is
// evaluated on the near bound, where its seam partner is: the two then carry
// the very same point, whatever the arithmetic (evaluated from the last
// control points, the x87 build put the two copies of a seam point a last
// bit apart, and a caller that joins vertices by position got a crack along
// the seam, which its boundary repair folded).
// The first knot for a parameter on the last one (within what the metric
// plane's scaling leaves of it), else the parameter.
double near_bound(const KnotVector& k, double t) {
    const double a = k.U[0], b = k.U[k.m];
    return std::fabs(b - t) <= 1e-12 * (b - a) ? a : t;
}

struct VertexCache {
    Point3* points;
    Point3* normals;
    std::int16_t* state;  // -1 not yet, else a Normal
    bool closed_u = false, closed_v = false;

    Normal get(const Work& w, int k, Point3* S, Point3* n) {
        if (state && state[k] >= 0) {
            *S = points[k];
            *n = normals[k];
            return static_cast<Normal>(state[k]);
        }
        const double u = closed_u ? near_bound(*w.sur.uknt, w.u[k]) : w.u[k];
        const double v = closed_v ? near_bound(*w.sur.vknt, w.v[k]) : w.v[k];
        // The simplification's evaluation serves when it was made at the
        // very same parameters (a failed one is made again, for its error
        // record).
        const tess::VertexDerivatives& known = w.known;
        const bool same =
            std::memcmp(&u, &w.u[k], sizeof u) == 0 && std::memcmp(&v, &w.v[k], sizeof v) == 0;
        const Normal got = same && known.state && known.state[k] == 1
                               ? normal_of(known.S[k], known.Su[k], known.Sv[k], S, n)
                               : surface_normal(w.sur, u, v, S, n);
        if (state) {
            points[k] = *S;
            normals[k] = *n;
            state[k] = static_cast<std::int16_t>(got);
        }
        return got;
    }
};

// Fills one triangle record; false when a vertex has no normal at all.
bool fill_triangle(const Work& w, VertexCache& cache, const int* corner, TessTriangle* out) {
    const double cu = (w.u[corner[0]] + w.u[corner[1]] + w.u[corner[2]]) / 3.0;
    const double cv = (w.v[corner[0]] + w.v[corner[1]] + w.v[corner[2]]) / 3.0;
    for (int c = 0; c < 3; ++c) {
        const int k = corner[c];
        Point3 S{}, n{};
        const Normal got = cache.get(w, k, &S, &n);
        if (got == Normal::kFailed) return false;
        if (got == Normal::kDegenerate && !limit_normal(w.sur, w.u[k], w.v[k], cu, cv, &n))
            return false;
        TessVertex& tv = out->vertex[c];
        tv.position[0] = S.x;
        tv.position[1] = S.y;
        tv.position[2] = S.z;
        tv.u = w.u[k];
        tv.v = w.v[k];
        tv.reserved = 0.0;
        if (w.fixed.vertex_id) {
            const int id = w.fixed.vertex_id[k];
            tv.reserved = id >= 0 ? id + 1.0 : id == -2 ? -1.0 : 0.0;
        }
        tv.normal[0] = n.x;
        tv.normal[1] = n.y;
        tv.normal[2] = n.z;
    }
    const double third = 1.0 / 3.0;
    for (int x = 0; x < 3; ++x) {
        const double f =
            (out->vertex[0].normal[x] + out->vertex[1].normal[x] + out->vertex[2].normal[x]) *
            third;
        out->face_normal[x] = w.outer_test ? -f : f;
    }
    return true;
}

// Evaluates every triangle on the surface and hands it to the sink.
void deliver_triangles(Work& w, TriangleSink sink, void* user) {
    VertexCache cache{S_GETP1D(w.last, w.pool), S_GETP1D(w.last, w.pool), S_GETF1D(w.last, w.pool)};
    cache.closed_u = tess::net_closes(*w.sur.net, 1);
    cache.closed_v = tess::net_closes(*w.sur.net, 2);
    if (!cache.points || !cache.normals) cache.state = nullptr;
    if (cache.state)
        for (int k = 0; k <= w.last; ++k) cache.state[k] = -1;
    TessTriangle out;
    for (int t = 0; t < w.made; ++t) {
        if (!fill_triangle(w, cache, &w.tri[3 * t], &out)) {
            *w.status = RUVANE_TESS_SKIPPED_TRIANGLES;
            continue;
        }
        if (sink) sink(&out, user);
    }
}

// Whether the caller fixed every loop as a polyline.
bool all_fixed(const Work& w) {
    if (!w.fixed_desc) return false;
    for (int k = 0; k < w.fixed.loops; ++k)
        if (w.fixed.count[k] == 0) return false;
    return true;
}

// Takes a boundary mesh over as the attempt's vertices, rings and
// triangles: kDone when it is ready to deliver, kGoOn (with nothing
// changed) when its triangles do not form rings.
Attempt take_over(Work& w, tess::Scratch& s, const tess::PlanarMesh& m, unsigned long refused) {
    const int count = m.u.size;
    w.u = S_GETR1D(count - 1, w.pool);
    w.v = S_GETR1D(count - 1, w.pool);
    w.fixed.vertex_id = S_GETI1D(count - 1, w.pool);
    if (!w.u || !w.v || !w.fixed.vertex_id) return Attempt::kNoMemory;
    for (int k = 0; k < count; ++k) {
        w.u[k] = m.u[k];
        w.v[k] = m.v[k];
        w.fixed.vertex_id[k] = m.id[k];
    }
    w.last = count - 1;
    w.fixed.left = 0;
    w.rings = nullptr;
    const Attempt r = adopt_triangles(w, s, m.tris);
    if (r != Attempt::kGoOn) return r;
    if (!w.rings || w.made != m.tris.size) {
        // Triangles that do not form rings: the general path meshes the face.
        w.u = w.v = nullptr;
        w.fixed.vertex_id = nullptr;
        w.last = -1;
        w.made = 0;
        return Attempt::kGoOn;
    }
    if (TessObserver* watch = w.ctx.observer) {
        for (int k = 0; k < m.first.size; ++k)
            watch->on_loop(k, k == 0, w.u + m.first[k], w.v + m.first[k], m.count[k]);
        watch->on_mesh(w.u, w.v, w.last, w.rings, w.counts);
    }
    if (host_refusals() != refused) return storage_refused();
    return Attempt::kDone;
}

// A surface whose loops are all fixed, meshed from its boundary points
// alone. A plane's triangles carry its normal and the fixed points; a
// curved face's (whose triangles were found to fit it) are delivered as the
// general path delivers its mesh, the surface moved to the metric plane
// first as that path moves it. kGoOn when the general path is to mesh it.
Attempt from_boundary(Work& w, bool curved, TriangleSink sink, void* user, int32_t* left,
                      unsigned long refused) {
    if (!all_fixed(w)) return Attempt::kGoOn;
    tess::Scratch s;
    tess::PlanarMesh m;
    const double A = w.ctx.tol.surface, C = w.ctx.tol.parameter;
    const tess::Planar got = curved ? tess::mesh_boundary(s, w.sur, w.fixed, A, C, m)
                                    : tess::mesh_planar(s, w.sur, w.fixed, A, C, m);
    if (got == tess::Planar::kNoStorage) return Attempt::kNoMemory;
    if (got == tess::Planar::kDeclined) return Attempt::kGoOn;
    const Attempt r = take_over(w, s, m, refused);
    if (r != Attempt::kDone) return r;
    if (left) *left = 0;
    if (curved) {
        tess::to_metric_plane(w.sur, m.measures);
        deliver_triangles(w, sink, user);
        return Attempt::kDone;
    }
    const Point3 n = m.normal;
    const Point3 face = w.outer_test ? vec_scale(n, -1.0) : n;
    TessTriangle out;
    for (int t = 0; t < w.made; ++t) {
        for (int c = 0; c < 3; ++c) {
            const int k = w.tri[3 * t + c];
            TessVertex& tv = out.vertex[c];
            tv.position[0] = m.at[k].x;
            tv.position[1] = m.at[k].y;
            tv.position[2] = m.at[k].z;
            tv.u = w.u[k];
            tv.v = w.v[k];
            tv.reserved = m.id[k] + 1.0;
            tv.normal[0] = n.x;
            tv.normal[1] = n.y;
            tv.normal[2] = n.z;
        }
        out.face_normal[0] = face.x;
        out.face_normal[1] = face.y;
        out.face_normal[2] = face.z;
        if (sink) sink(&out, user);
    }
    return Attempt::kDone;
}

// A face that turns round an axis, meshed as zipped rings (every loop
// fixed, or none), delivered as a curved face from its boundary. kGoOn when
// the general path is to mesh it.
Attempt from_rows(Work& w, TriangleSink sink, void* user, int32_t* left, unsigned long refused) {
    const bool fixed = all_fixed(w);
    if (w.fixed_desc && !fixed) return Attempt::kGoOn;
    tess::Scratch s;
    tess::PlanarMesh m;
    tess::RowsInput in;
    in.sur = &w.sur;
    in.fixed = fixed ? &w.fixed : nullptr;
    in.outer = w.outer[0];
    in.outer_last = w.outer_last[0];
    in.holes = w.hole_last[0] + 1;
    in.A = w.ctx.tol.surface;
    in.B = w.ctx.tol.trim;
    in.C = w.ctx.tol.parameter;
    const tess::Planar got = tess::mesh_rows(s, in, m);
    if (got == tess::Planar::kNoStorage) return Attempt::kNoMemory;
    if (got == tess::Planar::kDeclined) return Attempt::kGoOn;
    const Attempt r = take_over(w, s, m, refused);
    if (r != Attempt::kDone) return r;
    if (left) *left = 0;
    tess::to_metric_plane(w.sur, m.measures);
    deliver_triangles(w, sink, user);
    return Attempt::kDone;
}

// Whether from_rows would try the face with its loops fixed (mesh_rows's
// own test, on the face's curves).
bool rows_seam(TessContext& ctx, const TrimmedSurfaceDesc* d) {
    int32_t status = RUVANE_TESS_OK;
    PrivatePool owner;
    Work w{ctx, d, &status, owner.get()};
    if (build_surface(w) != Attempt::kGoOn || build_loops(w, false, false) != Attempt::kGoOn)
        return false;
    tess::RowsInput in;
    in.sur = &w.sur;
    in.outer = w.outer[0];
    in.outer_last = w.outer_last[0];
    in.holes = w.hole_last[0] + 1;
    in.A = ctx.tol.surface;
    return tess::takes_rows(in);
}

Attempt attempt(TessContext& ctx, TriangleSink sink, const TrimmedSurfaceDesc* d, int32_t* status,
                void* user, bool flip_outer, bool flip_holes, const FixedLoopDesc* fixed,
                int32_t* left) {
    *status = RUVANE_TESS_OK;
    const unsigned long refused = host_refusals();
    PrivatePool owner;
    Work w{ctx, d, status, owner.get()};
    w.fixed_desc = fixed;
    Attempt r = build_surface(w);
    if (r != Attempt::kGoOn) return r;
    r = build_loops(w, flip_outer, flip_holes);
    if (r != Attempt::kGoOn) return r;
    if (ctx.planar && !flip_outer && !flip_holes) {
        r = from_boundary(w, false, sink, user, left, refused);
        if (r != Attempt::kGoOn) return r;
    }
    if (ctx.boundary && !flip_outer && !flip_holes) {
        r = from_boundary(w, true, sink, user, left, refused);
        if (r != Attempt::kGoOn) return r;
    }
    if (ctx.rows && !flip_outer && !flip_holes) {
        r = from_rows(w, sink, user, left, refused);
        if (r != Attempt::kGoOn) return r;
    }
    // The context points at this attempt's fixed loops only while it runs.
    struct Bind {
        TessContext& c;
        ~Bind() { c.fixed = nullptr; }
    } bind{ctx};
    ctx.fixed = fixed ? &w.fixed : nullptr;
    if (N_TESSUR(ctx, &w.sur, w.outer, w.holes, 0, w.outer_last, w.hole_last, w.hole_curve_last,
                 &w.u, &w.v, &w.last, &w.rings, &w.counts, w.pool) != kOk)
        // Another orientation cannot lift the cell-corner limit, nor find
        // the storage the host refused (it would only give another mesh).
        return error_record().code == kErrCapacity  ? Attempt::kDone
               : error_record().code == kErrStorage ? Attempt::kNoMemory
                                                    : Attempt::kRetry;
    if (!extract_triangles(w)) return done(w, RUVANE_TESS_NO_TRIANGLES);
    if (ctx.simplify) {
        r = simplify(w);
        if (r != Attempt::kGoOn) return r;
    }
    if (host_refusals() != refused) return storage_refused();
    if (ctx.observer) ctx.observer->on_mesh(w.u, w.v, w.last, w.rings, w.counts);
    if (left) *left = w.fixed.left;
    deliver_triangles(w, sink, user);
    return Attempt::kDone;
}

}  // namespace

const char* refused_tolerance(double surface, double trim, double param) {
    // Written so that NaN fails every test.
    auto usable = [](double x, double minimum) { return x >= minimum && x <= DBL_MAX; };
    if (!usable(surface, kMinTolerance)) return "N_TESSUB";
    if (!usable(trim, kMinTolerance)) return "N_TESPTC";
    if (!usable(param, DBL_MIN)) return "N_TESSUR";
    return nullptr;
}

bool loop_orientation(const CurveDesc* curves, int count) {
    // Position in the loop as (curve, point); curves that cannot be read are
    // passed over (their copy rejects them later).
    int total = 0;
    for (int c = 0; c < count; ++c)
        if (usable(curves[c])) total += curves[c].count;
    if (total == 0) return true;
    auto at = [&](int index, double* x, double* y) {
        for (int c = 0; c < count; ++c) {
            if (!usable(curves[c])) continue;
            if (index < curves[c].count) {
                *x = curves[c].points[3 * index];
                *y = curves[c].points[3 * index + 1];
                return;
            }
            index -= curves[c].count;
        }
    };
    int best = 0;
    double px = 0.0, py = 0.0;
    at(0, &px, &py);
    for (int k = 1; k < total; ++k) {
        double x = 0.0, y = 0.0;
        at(k, &x, &y);
        if (x < px || (x == px && y < py)) {
            best = k;
            px = x;
            py = y;
        }
    }
    auto distinct = [&](double x, double y) {
        return !(px - kSame <= x && x <= px + kSame && py - kSame <= y && y <= py + kSame);
    };
    // Nearest distinct points before and after P, one cycle at most.
    double ax = px, ay = py, bx = px, by = py;
    bool found_a = false, found_b = false;
    for (int step = 1; step < total && !found_a; ++step) {
        at(((best - step) % total + total) % total, &ax, &ay);
        found_a = distinct(ax, ay);
    }
    for (int step = 1; step < total && !found_b; ++step) {
        at((best + step) % total, &bx, &by);
        found_b = distinct(bx, by);
    }
    // All points within 1e-6 of P: the loop has no orientation to speak of.
    if (!found_a || !found_b) return true;
    const double z = (ax - px) * (by - py) - (ay - py) * (bx - px);
    return z >= 0.0;
}

}  // namespace ruvane

namespace {

// The caller's sink runs under the caller's floating-point state.
struct HostSink {
    TriangleSink sink;
    void* user;
    const ruvane::FpState* host;
};

void call_host_sink(const TessTriangle* triangle, void* context) {
    const HostSink* h = static_cast<const HostSink*>(context);
    ruvane::HostFpScope scope(*h->host);
    h->sink(triangle, h->user);
}

}  // namespace

namespace ruvane {

bool tessellate_surface(TessContext& ctx, TriangleSink sink, const TrimmedSurfaceDesc* surface,
                        int32_t* status, void* user, const FixedLoopDesc* fixed, int32_t* left) {
    if (left) *left = 0;
    int32_t ignored = 0;
    if (status == nullptr) status = &ignored;
    *status = RUVANE_TESS_OK;
    if (surface == nullptr) {
        set_error(kErrKnots, "N_IGSVKB");
        *status = RUVANE_TESS_BAD_SURFACE;
        return true;
    }
    if (const char* routine = refused_tolerance(ctx.tol.surface, ctx.tol.trim, ctx.tol.parameter)) {
        // Refused at once: no orientation choice can make such a tolerance
        // work, and NaN would otherwise slip through every comparison.
        set_error(kErrTolerance, routine);
        return true;
    }
    try {
        // The four orientation choices, tried in this order while the
        // tessellator fails; it fails before delivering any triangle.
        static const bool flips[4][2] = {
            {false, false}, {false, true}, {true, false}, {true, true}};
        for (const auto& f : flips) {
            switch (attempt(ctx, sink, surface, status, user, f[0], f[1], fixed, left)) {
                case Attempt::kDone:
                    return true;
                case Attempt::kNoMemory:
                    return false;
                case Attempt::kRetry:
                case Attempt::kGoOn:
                    break;
            }
        }
        *status = RUVANE_TESS_OK;
        return true;
    } catch (...) {
        // Nothing may cross the export; an escaped exception can only be the
        // standard allocation failure.
        return false;
    }
}

}  // namespace ruvane

namespace {

// Both exports: the host's floating-point state set aside for the call, and
// the sink called back in it.
bool tessellate_for_host(TriangleSink sink, const TrimmedSurfaceDesc* surface,
                         const FixedLoopDesc* loops, int32_t* status, double surface_tolerance,
                         double trim_tolerance, double param_tolerance, void* user, int32_t* left) {
    ruvane::FpStateGuard fp;
    HostSink host_sink{sink, user, &fp.host()};
    if (sink) {
        sink = call_host_sink;
        user = &host_sink;
    }
    ruvane::TessContext ctx;
    ctx.tol = {trim_tolerance, surface_tolerance, param_tolerance};
    return ruvane::tessellate_surface(ctx, sink, surface, status, user, loops, left);
}

}  // namespace

extern "C" RUVANE_API bool ruvane_tesselate_ruvane(TriangleSink sink,
                                                   const TrimmedSurfaceDesc* surface,
                                                   int32_t* status, double surface_tolerance,
                                                   double trim_tolerance, double param_tolerance,
                                                   void* user) {
    return tessellate_for_host(sink, surface, nullptr, status, surface_tolerance, trim_tolerance,
                               param_tolerance, user, nullptr);
}

extern "C" RUVANE_API bool ruvane_tesselate_fixed(TriangleSink sink,
                                                  const TrimmedSurfaceDesc* surface,
                                                  const FixedLoopDesc* loops, int32_t* status,
                                                  double surface_tolerance, double trim_tolerance,
                                                  double param_tolerance, void* user,
                                                  int32_t* left) {
    return tessellate_for_host(sink, surface, loops, status, surface_tolerance, trim_tolerance,
                               param_tolerance, user, left);
}

extern "C" RUVANE_API bool ruvane_rows_seam(const TrimmedSurfaceDesc* surface,
                                            double surface_tolerance, double* seam_sag) {
    ruvane::FpStateGuard fp;
    if (surface == nullptr || seam_sag == nullptr ||
        ruvane::refused_tolerance(surface_tolerance, surface_tolerance, 1.0))
        return false;
    ruvane::TessContext ctx;
    ctx.tol = {surface_tolerance, surface_tolerance, 1e-6};
    if (!ctx.rows) return false;
    try {
        if (!ruvane::rows_seam(ctx, surface)) return false;
    } catch (...) {
        return false;  // the standard allocation failure: nothing crosses the export
    }
    *seam_sag = ruvane::tess::kRowSpacing * ruvane::tess::kRowsMargin * surface_tolerance;
    return true;
}
