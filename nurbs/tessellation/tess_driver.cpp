// ruvane_tesselate_ruvane: validates a trimmed surface description, orients
// its trim loops, runs the tessellator (retrying with the other orientation
// choices when it fails), evaluates every triangle vertex on the surface and
// hands the triangles to the caller one at a time.
#include <cfloat>
#include <cmath>

#include "include/ruvane.h"
#include "nurbs/curve_desc.h"
#include "nurbs/fp_state.h"
#include "nurbs/tessellation/tess_driver.h"
#include "nurbs/tessellation/tessellation.h"

namespace ruvane {

namespace {

// Orientation test of a loop; see tess_driver.h.
constexpr double kSame = 1e-6;

bool usable(const CurveDesc& c) {
    return c.count >= 1 && c.count <= kMaxDescCount && c.points != nullptr;
}

enum class Attempt { kDone, kRetry, kNoMemory };

// Below this |Su x Sv| marks a degenerate point (a pole, an apex, a collapsed
// edge). In the metric plane the tangents have about unit length, so the
// bound does not depend on the size of the part.
constexpr double kDegenerateNormal = 1e-6;

enum class Normal : std::int16_t { kFailed = 0, kRegular = 1, kDegenerate = 2 };

// The point and unit normal at (u, v), the normal formed as N_SURNOR forms
// it. At a degenerate point the point is still given; the tangents there are
// rounding noise, and a normal made of them can point anywhere.
Normal surface_normal(const Surface& sur, double u, double v, Point3* S, Point3* n) {
    Point3 row0[2];
    Point3 row1[2];
    Point3* skl[2] = {row0, row1};
    if (N_SURDER(sur, 1, u, v, 1, 1, 1, skl) != kOk) return Normal::kFailed;
    *S = row0[0];
    Point3 tu = row1[0], tv = row0[1];
    if (vec_length(vec_cross(tu, tv)) < kDegenerateNormal) return Normal::kDegenerate;
    if (G_VECNIP(&tu) != kOk || G_VECNIP(&tv) != kOk) return Normal::kDegenerate;
    Point3 m = vec_cross(tu, tv);
    if (vec_length(m) < kMinTolerance * 0.01 || G_VECNIP(&m) != kOk) return Normal::kDegenerate;
    *n = m;
    return Normal::kRegular;
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

Attempt attempt(TriangleSink sink, const TrimmedSurfaceDesc* d, int32_t* status, double A, double B,
                double C, void* user, bool flip_outer, bool flip_holes) {
    *status = RUVANE_TESS_OK;
    PrivatePool owner;
    Pool* pool = owner.get();
    Surface sur;

    // Copy and build the surface.
    if (d->u_order < 2 || d->u_order > kMaxDegree + 1 || d->v_order < 2 ||
        d->v_order > kMaxDegree + 1) {
        set_error(kErrDegree, "N_IGS128");
        *status = RUVANE_TESS_BAD_SURFACE;
        return Attempt::kDone;
    }
    const int p = d->u_order - 1, q = d->v_order - 1;
    const long long nu = static_cast<long long>(d->u_knot_count) - d->u_order;
    const long long nv = static_cast<long long>(d->v_knot_count) - d->v_order;
    if (nu < d->u_order || nv < d->v_order || nu * nv > (1LL << 22) || d->u_knots == nullptr ||
        d->v_knots == nullptr || d->points == nullptr || d->weights == nullptr) {
        set_error(kErrKnots, "N_IGSVKB");
        *status = RUVANE_TESS_BAD_SURFACE;
        return Attempt::kDone;
    }
    double* uk = S_GETR1D(d->u_knot_count - 1, pool);
    double* vk = S_GETR1D(d->v_knot_count - 1, pool);
    double** W = S_GETR2D(static_cast<int>(nu) - 1, static_cast<int>(nv) - 1, pool);
    Point3** P = S_GETP2D(static_cast<int>(nu) - 1, static_cast<int>(nv) - 1, pool);
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
                 uk[d->u_knot_count - 1], vk[0], vk[d->v_knot_count - 1], &sur, pool) != kOk) {
        *status = RUVANE_TESS_BAD_SURFACE;
        return Attempt::kDone;
    }

    // Loop tables: one boundary group.
    const int outer_count = d->outer_count > 0 ? d->outer_count : 0;
    const int hole_count = d->inner_count > 0 ? d->inner_count : 0;
    if ((outer_count > 0 && d->outer_curves == nullptr) || outer_count > kMaxDescCount) {
        set_error(kErrKnots, "N_IGSVKB");
        *status = RUVANE_TESS_BAD_OUTER_CURVE;
        return Attempt::kDone;
    }
    if ((hole_count > 0 && d->inner_loops == nullptr) || hole_count > kMaxDescCount) {
        set_error(kErrKnots, "N_IGSVKB");
        *status = RUVANE_TESS_BAD_HOLE_CURVE;
        return Attempt::kDone;
    }
    Curve*** outer = S_GETCUB(0, pool);
    Curve** outer_curves = S_GETCUA(outer_count > 0 ? outer_count - 1 : 0, pool);
    Curve**** holes = S_GETCUC(0, pool);
    Curve*** hole_tables = S_GETCUB(hole_count > 0 ? hole_count - 1 : 0, pool);
    int* outer_last = S_GETI1D(0, pool);
    int* hole_last = S_GETI1D(0, pool);
    int** hole_curve_last = S_GETI1P(0, pool);
    int* curve_last = S_GETI1D(hole_count > 0 ? hole_count - 1 : 0, pool);
    if (!outer || !outer_curves || !holes || !hole_tables || !outer_last || !hole_last ||
        !hole_curve_last || !curve_last)
        return Attempt::kNoMemory;
    outer[0] = outer_curves;
    holes[0] = hole_tables;
    outer_last[0] = outer_count - 1;
    hole_last[0] = hole_count - 1;
    hole_curve_last[0] = curve_last;

    // Places the curves of one loop, reversed when `reverse` says so.
    auto place = [&](const CurveDesc* descs, int count, bool reverse, Curve** slots) {
        for (int i = 0; i < count; ++i) {
            Curve* cur = S_GETCUS(pool);
            if (!cur) return DescCopy::kNoStorage;
            const int slot = reverse ? count - 1 - i : i;
            const DescCopy r = copy_curve_desc(&descs[i], cur, pool);
            if (r != DescCopy::kOk) return r;
            if (reverse && N_CURREV(cur, cur, pool) != kOk) return DescCopy::kRejected;
            slots[slot] = cur;
        }
        return DescCopy::kOk;
    };
    const bool outer_test = loop_orientation(d->outer_curves, outer_count);
    const bool o = flip_outer ? !outer_test : outer_test;
    DescCopy r = place(d->outer_curves, outer_count, o, outer_curves);
    if (r == DescCopy::kNoStorage) return Attempt::kNoMemory;
    if (r == DescCopy::kRejected) {
        *status = RUVANE_TESS_BAD_OUTER_CURVE;
        return Attempt::kDone;
    }
    for (int h = 0; h < hole_count; ++h) {
        const TrimLoopDesc& loop = d->inner_loops[h];
        const int count = loop.count > 0 ? loop.count : 0;
        if ((count > 0 && loop.curves == nullptr) || count > kMaxDescCount) {
            set_error(kErrKnots, "N_IGSVKB");
            *status = RUVANE_TESS_BAD_HOLE_CURVE;
            return Attempt::kDone;
        }
        Curve** slots = S_GETCUA(count > 0 ? count - 1 : 0, pool);
        if (!slots) return Attempt::kNoMemory;
        hole_tables[h] = slots;
        curve_last[h] = count - 1;
        bool oh = loop_orientation(loop.curves, count);
        if (flip_holes) oh = !oh;
        r = place(loop.curves, count, !oh, slots);
        if (r == DescCopy::kNoStorage) return Attempt::kNoMemory;
        if (r == DescCopy::kRejected) {
            *status = RUVANE_TESS_BAD_HOLE_CURVE;
            return Attempt::kDone;
        }
    }

    double* u = nullptr;
    double* v = nullptr;
    int last = -1;
    int** rings = nullptr;
    int* counts = nullptr;
    if (N_TESSUR(&sur, outer, holes, 0, outer_last, hole_last, hole_curve_last, B, A, C, &u, &v,
                 &last, &rings, &counts, pool) != kOk)
        // Another orientation cannot lift the cell-corner limit.
        return error_record().code == kErrCapacity ? Attempt::kDone : Attempt::kRetry;
    notify_mesh(u, v, last, rings, counts);

    // Triangles from the rings, each once from its smallest vertex.
    const int room = 2 * last + 1;
    int* tri = S_GETI1D(3 * room - 1, pool);
    if (!tri) {
        *status = RUVANE_TESS_NO_TRIANGLES;
        return Attempt::kDone;
    }
    int made = 0;
    for (int j = 0; j <= last; ++j) {
        const int* list = rings[j];
        if (list[0] == -1) continue;
        for (int k = 0; k < counts[j]; ++k) {
            const int a = list[k], b = list[k + 1];
            if (!(j < a && j < b)) continue;
            if (made == room) {
                *status = RUVANE_TESS_NO_TRIANGLES;
                return Attempt::kDone;
            }
            tri[3 * made] = j;
            tri[3 * made + 1] = a;
            tri[3 * made + 2] = b;
            ++made;
        }
    }

    // Every vertex is evaluated once: its point, and its normal unless the
    // point is degenerate (then each triangle gets the normal approached
    // from its own inside).
    Point3* points = S_GETP1D(last, pool);
    Point3* normals = S_GETP1D(last, pool);
    std::int16_t* state = S_GETF1D(last, pool);
    if (state)
        for (int k = 0; k <= last; ++k) state[k] = -1;
    auto evaluate = [&](int k, Point3* S, Point3* n) {
        Normal got;
        if (points && normals && state && state[k] >= 0) {
            *S = points[k];
            *n = normals[k];
            got = static_cast<Normal>(state[k]);
        } else {
            got = surface_normal(sur, u[k], v[k], S, n);
            if (points && normals && state) {
                points[k] = *S;
                normals[k] = *n;
                state[k] = static_cast<std::int16_t>(got);
            }
        }
        return got;
    };
    const double third = 1.0 / 3.0;
    TessTriangle out;
    for (int t = 0; t < made; ++t) {
        bool ok = true;
        const int* corner = &tri[3 * t];
        const double cu = (u[corner[0]] + u[corner[1]] + u[corner[2]]) / 3.0;
        const double cv = (v[corner[0]] + v[corner[1]] + v[corner[2]]) / 3.0;
        for (int c = 0; c < 3 && ok; ++c) {
            const int k = corner[c];
            Point3 S{}, n{};
            const Normal got = evaluate(k, &S, &n);
            ok = got == Normal::kRegular ||
                 (got == Normal::kDegenerate && limit_normal(sur, u[k], v[k], cu, cv, &n));
            TessVertex& tv = out.vertex[c];
            tv.position[0] = S.x;
            tv.position[1] = S.y;
            tv.position[2] = S.z;
            tv.u = u[k];
            tv.v = v[k];
            tv.reserved = 0.0;
            tv.normal[0] = n.x;
            tv.normal[1] = n.y;
            tv.normal[2] = n.z;
        }
        if (!ok) {
            *status = RUVANE_TESS_SKIPPED_TRIANGLES;
            continue;
        }
        for (int x = 0; x < 3; ++x) {
            double f =
                (out.vertex[0].normal[x] + out.vertex[1].normal[x] + out.vertex[2].normal[x]) *
                third;
            if (outer_test) f = -f;
            out.face_normal[x] = f;
        }
        if (sink) sink(&out, user);
    }
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

extern "C" RUVANE_API bool ruvane_tesselate_ruvane(TriangleSink sink,
                                                   const TrimmedSurfaceDesc* surface,
                                                   int32_t* status, double surface_tolerance,
                                                   double trim_tolerance, double param_tolerance,
                                                   void* user) {
    ruvane::FpStateGuard fp;
    HostSink host_sink{sink, user, &fp.host()};
    if (sink) {
        sink = call_host_sink;
        user = &host_sink;
    }
    int32_t ignored = 0;
    if (status == nullptr) status = &ignored;
    *status = RUVANE_TESS_OK;
    if (surface == nullptr) {
        ruvane::set_error(ruvane::kErrKnots, "N_IGSVKB");
        *status = RUVANE_TESS_BAD_SURFACE;
        return true;
    }
    if (const char* routine =
            ruvane::refused_tolerance(surface_tolerance, trim_tolerance, param_tolerance)) {
        // Refused at once: no orientation choice can make such a tolerance
        // work, and NaN would otherwise slip through every comparison.
        ruvane::set_error(ruvane::kErrTolerance, routine);
        return true;
    }
    try {
        // The four orientation choices, tried in this order while the
        // tessellator fails; it fails before delivering any triangle.
        static const bool flips[4][2] = {
            {false, false}, {false, true}, {true, false}, {true, true}};
        for (const auto& f : flips) {
            switch (ruvane::attempt(sink, surface, status, surface_tolerance, trim_tolerance,
                                    param_tolerance, user, f[0], f[1])) {
                case ruvane::Attempt::kDone:
                    return true;
                case ruvane::Attempt::kNoMemory:
                    return false;
                case ruvane::Attempt::kRetry:
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
