// Building curves and surfaces: validation, clipping to a parameter range by
// knot insertion, knot cleaning, and the segment tools built on them.
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "nurbs/nurbs.h"

namespace ruvane {

namespace {

bool finite(double x) { return std::isfinite(x); }

// Inserts `ubar` once into the B-spline sequence K[0..nk-1], Q[0..nq-1]
// (Boehm); the arrays must have room for one more entry. Requires that ubar
// lies strictly inside the knots' last span boundary and has multiplicity below p.
void insert_knot(double* K, int* nk, Point4* Q, int* nq, int p, double ubar) {
    int k = *nk - 2;
    while (k > 0 && !(K[k] <= ubar && ubar < K[k + 1])) --k;
    int s = 0;
    for (int i = 0; i < *nk; ++i) {
        if (K[i] == ubar) ++s;
    }
    for (int i = *nq; i >= k - s + 1; --i) Q[i] = Q[i - 1];
    for (int i = k - s; i >= k - p + 1; --i) {
        const double alpha = (ubar - K[i]) / (K[i + p] - K[i]);
        Q[i] = combine_points(alpha, Q[i], 1.0 - alpha, Q[i - 1]);
    }
    for (int i = *nk; i > k + 1; --i) K[i] = K[i - 1];
    K[k + 1] = ubar;
    ++*nk;
    ++*nq;
}

int multiplicity(const double* K, int nk, double x) {
    int s = 0;
    for (int i = 0; i < nk; ++i) {
        if (K[i] == x) ++s;
    }
    return s;
}

// The knots of a sequence clamped to [a, b] once a and b have been inserted
// p times into WK[0..nk-1]: written to outK; returns the count of points
// kept and sets *first to the first of them.
int clipped_knots(const double* WK, int nk, int p, double a, double b, double* outK, int* first) {
    int r = 0;
    for (int i = 0; i < nk; ++i) {
        if (WK[i] == a) r = i;
    }
    int l = nk - 1;
    for (int i = nk - 1; i >= 0; --i) {
        if (WK[i] == b) l = i;
    }
    int k = 0;
    for (int i = 0; i <= p; ++i) outK[k++] = a;
    for (int i = r + 1; i <= l - 1; ++i) outK[k++] = WK[i];
    for (int i = 0; i <= p; ++i) outK[k++] = b;
    *first = r - p;
    return l - r + p;
}

// Clamps the sequence K[0..n+p+1], Q[0..n] to [a, b] (inside its domain),
// writing the result to outK / outQ (which may be K / Q). Work arrays need
// room for n + p + 2 + 2p knots and n + 1 + 2p points. Returns the new
// highest point index.
int clip_sequence(const double* K, const Point4* Q, int n, int p, double a, double b, double* WK,
                  Point4* WQ, double* outK, Point4* outQ) {
    int nk = n + p + 2;
    int nq = n + 1;
    for (int i = 0; i < nk; ++i) WK[i] = K[i];
    for (int i = 0; i < nq; ++i) WQ[i] = Q[i];
    for (int times = p - multiplicity(WK, nk, a); times > 0; --times)
        insert_knot(WK, &nk, WQ, &nq, p, a);
    for (int times = p - multiplicity(WK, nk, b); times > 0; --times)
        insert_knot(WK, &nk, WQ, &nq, p, b);
    int first = 0;
    const int count = clipped_knots(WK, nk, p, a, b, outK, &first);
    for (int i = 0; i < count; ++i) outQ[i] = WQ[first + i];
    return count - 1;
}

bool clamped_at(const double* K, int m, int p, double a, double b) {
    for (int i = 0; i <= p; ++i) {
        if (K[i] != a || K[m - i] != b) return false;
    }
    return true;
}

// Knot cleaning of one sequence in place; returns the new highest point index
// and sets *m to the new highest knot index.
int clean_sequence(double* K, int* m, Point4* Q, int n, int p) {
    // End runs longer than p + 1: their extra knots carry only points whose
    // basis functions vanish everywhere.
    int run = 1;
    while (run <= *m && K[run] == K[0]) ++run;
    if (run > p + 1) {
        const int drop = run - p - 1;
        for (int i = 0; i + drop <= *m; ++i) K[i] = K[i + drop];
        for (int i = 0; i + drop <= n; ++i) Q[i] = Q[i + drop];
        *m -= drop;
        n -= drop;
    }
    run = 1;
    while (run <= *m && K[*m - run] == K[*m]) ++run;
    if (run > p + 1) {
        const int drop = run - p - 1;
        *m -= drop;
        n -= drop;
    }
    // Interior runs above multiplicity p.
    int e = 1;
    while (e < *m) {
        if (K[e] == K[0]) {
            ++e;
            continue;
        }
        int h = 1;
        while (e + h <= *m && K[e + h] == K[e]) ++h;
        if (e + h - 1 >= *m) break;  // the end run
        if (h > p) {
            const int extra = h - p;
            Point4 sum = Q[e - 1];
            for (int i = e; i <= e + extra - 1; ++i) sum = combine_points(1.0, sum, 1.0, Q[i]);
            const double scale = 1.0 / (extra + 1);
            Q[e - 1] = combine_points(scale, sum, 0.0, sum);
            for (int i = e; i + extra <= n; ++i) Q[i] = Q[i + extra];
            for (int i = e; i + extra <= *m; ++i) K[i] = K[i + extra];
            n -= extra;
            *m -= extra;
            h = p;
        }
        e += h;
    }
    return n;
}

// Whether clean_sequence would change the sequence with knots K[0..m]: an
// end run longer than p + 1 or an interior run longer than p (the same scan
// as there). Most pieces of a subdivision are clean already, and cleaning
// them row by row only copied every row out and back.
bool needs_cleaning(const double* K, int m, int p) {
    int run = 1;
    while (run <= m && K[run] == K[0]) ++run;
    if (run > p + 1) return true;
    run = 1;
    while (run <= m && K[m - run] == K[m]) ++run;
    if (run > p + 1) return true;
    int e = 1;
    while (e < m) {
        if (K[e] == K[0]) {
            ++e;
            continue;
        }
        int h = 1;
        while (e + h <= m && K[e + h] == K[e]) ++h;
        if (e + h - 1 >= m) break;
        if (h > p) return true;
        e += h;
    }
    return false;
}

Status clip_curve(Curve* cur, double V0, double V1) {
    const int p = cur->p;
    const int n = cur->pol->n;
    const int m = cur->knt->m;
    double* U = cur->knt->U;
    if (clamped_at(U, m, p, V0, V1)) return kOk;
    PrivatePool work;
    double* WK = S_GETR1D(m + 2 * p + 1, work.get());
    if (WK == nullptr) return kFail;
    Point4* WQ = S_GETC1D(n + 2 * p + 1, work.get());
    if (WQ == nullptr) return kFail;
    const int n2 = clip_sequence(U, cur->pol->Pw, n, p, V0, V1, WK, WQ, U, cur->pol->Pw);
    cur->pol->n = n2;
    cur->knt->m = n2 + p + 1;
    return kOk;
}

// Rows of a control net along u (direction 1) or v (direction 2): the
// clipping and cleaning of a surface work on one row at a time.
void gather_row(const ControlNet* net, int direction, int r, int n, Point4* G) {
    for (int i = 0; i <= n; ++i) G[i] = direction == 1 ? net->Pw[i][r] : net->Pw[r][i];
}

void scatter_row(ControlNet* net, int direction, int r, int n, const Point4* G) {
    for (int i = 0; i <= n; ++i) {
        if (direction == 1) {
            net->Pw[i][r] = G[i];
        } else {
            net->Pw[r][i] = G[i];
        }
    }
}

// Stores the new knot vector of a direction and the net's new count there.
void store_direction(KnotVector* knt, const double* K, int m2, ControlNet* net, int direction,
                     int n2) {
    for (int i = 0; i <= m2; ++i) knt->U[i] = K[i];
    knt->m = m2;
    if (direction == 1) {
        net->n = n2;
    } else {
        net->m = n2;
    }
}

// Work arrays of the clipping and cleaning: on the stack while they fit
// (the cells of a subdivision cut small nets, many times over), else from
// a pool of their own.
class RowWork {
public:
    // Knot arrays of k + 1 values and point arrays of q + 1 points.
    double* knots(int k) {
        if (k >= 0 && k + 1 <= kLocal - used_k_) {
            double* out = local_k_ + used_k_;
            used_k_ += k + 1;
            for (int i = 0; i <= k; ++i) out[i] = 0.0;  // as the pool gives them
            return out;
        }
        return S_GETR1D(k, pool_.get());
    }
    Point4* points(int q) {
        if (q >= 0 && q + 1 <= kLocal - used_q_) {
            Point4* out = local_q_ + used_q_;
            used_q_ += q + 1;
            for (int i = 0; i <= q; ++i) out[i] = Point4{};
            return out;
        }
        return S_GETC1D(q, pool_.get());
    }

private:
    static constexpr int kLocal = 96;
    double local_k_[kLocal];
    Point4 local_q_[kLocal];
    int used_k_ = 0, used_q_ = 0;
    PrivatePool pool_;
};

// The knot insertions that clip a net's rows along one direction: the rows
// share their knots, so the spans, multiplicities and ratios of
// clip_sequence are found once and only the points are worked row by row,
// with the same arithmetic in the same order.
struct ClipPlan {
    int p = 0;
    int inserts = 0;
    int span[2 * kMaxDegree];
    int mult[2 * kMaxDegree];
    double* alpha = nullptr;  // p ratios per insertion
    int first = 0;            // the first point kept
    int count = 0;            // points kept
};

// Plans clip_sequence's insertions of a and b into K[0..n+p+1] in WK (room
// for n + p + 2 + 2p knots) and leaves the clipped knots in outK.
void plan_clip(const double* K, int n, int p, double a, double b, double* WK, double* outK,
               ClipPlan* plan) {
    int nk = n + p + 2;
    for (int i = 0; i < nk; ++i) WK[i] = K[i];
    plan->p = p;
    plan->inserts = 0;
    auto insert = [&](double ubar) {
        int k = nk - 2;
        while (k > 0 && !(WK[k] <= ubar && ubar < WK[k + 1])) --k;
        const int s = multiplicity(WK, nk, ubar);
        double* alpha = plan->alpha + plan->inserts * p;
        for (int i = k - s; i >= k - p + 1; --i)
            alpha[k - s - i] = (ubar - WK[i]) / (WK[i + p] - WK[i]);
        plan->span[plan->inserts] = k;
        plan->mult[plan->inserts] = s;
        ++plan->inserts;
        for (int i = nk; i > k + 1; --i) WK[i] = WK[i - 1];
        WK[k + 1] = ubar;
        ++nk;
    };
    for (int times = p - multiplicity(WK, nk, a); times > 0; --times) insert(a);
    for (int times = p - multiplicity(WK, nk, b); times > 0; --times) insert(b);
    plan->count = clipped_knots(WK, nk, p, a, b, outK, &plan->first);
}

// insert_knot's point steps for every planned insertion, on the n + 1
// points of one row in Q (room for 2p more).
void apply_clip(const ClipPlan& plan, int n, Point4* Q) {
    const int p = plan.p;
    int nq = n + 1;
    for (int t = 0; t < plan.inserts; ++t) {
        const int k = plan.span[t], s = plan.mult[t];
        const double* alpha = plan.alpha + t * p;
        for (int i = nq; i >= k - s + 1; --i) Q[i] = Q[i - 1];
        for (int i = k - s; i >= k - p + 1; --i)
            Q[i] = combine_points(alpha[k - s - i], Q[i], 1.0 - alpha[k - s - i], Q[i - 1]);
        ++nq;
    }
}

// Clip of a surface in place along u (direction 1) or v (direction 2).
Status clip_surface_direction(Surface* sur, int direction, double a, double b) {
    ControlNet* net = sur->net;
    KnotVector* knt = direction == 1 ? sur->uknt : sur->vknt;
    const int p = direction == 1 ? sur->p : sur->q;
    const int n = direction == 1 ? net->n : net->m;     // along the clipped direction
    const int rows = direction == 1 ? net->m : net->n;  // across it
    if (clamped_at(knt->U, knt->m, p, a, b)) return kOk;
    RowWork work;
    ClipPlan plan;
    double* WK = work.knots(knt->m + 2 * p + 1);
    double* K1 = WK == nullptr ? nullptr : work.knots(knt->m);
    plan.alpha = K1 == nullptr ? nullptr : work.knots(2 * p * p - 1);
    Point4* WQ = plan.alpha == nullptr ? nullptr : work.points(n + 2 * p + 1);
    if (WQ == nullptr) return kFail;
    plan_clip(knt->U, n, p, a, b, WK, K1, &plan);
    const int n2 = plan.count - 1;
    for (int r = 0; r <= rows; ++r) {
        gather_row(net, direction, r, n, WQ);
        apply_clip(plan, n, WQ);
        scatter_row(net, direction, r, n2, WQ + plan.first);
    }
    store_direction(knt, K1, n2 + p + 1, net, direction, n2);
    return kOk;
}

// plan_clip's two plans and knots for a cut at t inside one Bezier span
// [a, b] of degree p (knots K), worked out without searching the knots:
// the j-th insertion (from 0) falls in span p + j, where t already has
// multiplicity j, and every ratio is (t - a) / (b - a); the lower half
// keeps the first p + 1 points, the upper one the last. False, with
// nothing done, for any other knots.
bool bezier_plan(const KnotVector& K, int p, double a, double t, double b, ClipPlan* lo,
                 ClipPlan* hi, double* K_lo, double* K_hi) {
    if (K.m != 2 * p + 1 || !clamped_at(K.U, K.m, p, a, b) || !(a < t && t < b)) return false;
    const double ratio = (t - a) / (b - a);
    lo->p = p;
    lo->inserts = p;
    for (int j = 0; j < p; ++j) {
        lo->span[j] = p + j;
        lo->mult[j] = j;
        for (int i = 0; i < p; ++i) lo->alpha[j * p + i] = ratio;
    }
    lo->first = 0;
    hi->first = p;
    lo->count = hi->count = p + 1;
    for (int i = 0; i <= p; ++i) {
        K_lo[i] = a;
        K_lo[p + 1 + i] = K_hi[i] = t;
        K_hi[p + 1 + i] = b;
    }
    return true;
}

// Whether two plans make the same insertions (the same spans,
// multiplicities and ratios, bit for bit): then one pass over a row gives
// the points of both.
bool same_insertions(const ClipPlan& a, const ClipPlan& b) {
    if (a.p != b.p || a.inserts != b.inserts) return false;
    for (int t = 0; t < a.inserts; ++t)
        if (a.span[t] != b.span[t] || a.mult[t] != b.mult[t]) return false;
    return std::memcmp(a.alpha, b.alpha, sizeof(double) * a.inserts * a.p) == 0;
}

// Clips `from` (a net clipped already in the other direction) along
// `direction` to [a, t] into `lo` and to [t, b] into `hi` (each with room
// for from's sizes; `lo` may be `from`, clipped in place), when both clips
// make the same insertions; false, with both left alone, when they do not
// or work storage runs out.
bool split_direction(const Surface& from, Surface* lo, Surface* hi, int direction, double a,
                     double t, double b) {
    const ControlNet* net = from.net;
    const KnotVector* knt = direction == 1 ? from.uknt : from.vknt;
    const int p = direction == 1 ? from.p : from.q;
    const int n = direction == 1 ? net->n : net->m;
    const int rows = direction == 1 ? net->m : net->n;
    if (clamped_at(knt->U, knt->m, p, a, t) || clamped_at(knt->U, knt->m, p, t, b)) return false;
    RowWork work;
    ClipPlan plan_lo, plan_hi;
    double* WK = work.knots(knt->m + 2 * p + 1);
    double* K_lo = WK == nullptr ? nullptr : work.knots(knt->m);
    double* K_hi = K_lo == nullptr ? nullptr : work.knots(knt->m);
    plan_lo.alpha = K_hi == nullptr ? nullptr : work.knots(2 * p * p - 1);
    plan_hi.alpha = plan_lo.alpha == nullptr ? nullptr : work.knots(2 * p * p - 1);
    Point4* WQ = plan_hi.alpha == nullptr ? nullptr : work.points(n + 2 * p + 1);
    if (WQ == nullptr) return false;
    if (!bezier_plan(*knt, p, a, t, b, &plan_lo, &plan_hi, K_lo, K_hi)) {
        // Ends already clamped (a cell's piece always is) take no
        // insertions: both clips then insert t alone, the same way, and
        // the upper one's knots are read off the lower one's work.
        const int nk = n + p + 2;  // as plan_clip counts them
        const bool ends_kept = multiplicity(knt->U, nk, a) >= p && multiplicity(knt->U, nk, b) >= p;
        plan_clip(knt->U, n, p, a, t, WK, K_lo, &plan_lo);
        if (ends_kept) {
            plan_hi.count = clipped_knots(WK, nk + plan_lo.inserts, p, t, b, K_hi, &plan_hi.first);
        } else {
            plan_clip(knt->U, n, p, t, b, WK, K_hi, &plan_hi);
            if (!same_insertions(plan_lo, plan_hi)) return false;
        }
    }
    const int n_lo = plan_lo.count - 1, n_hi = plan_hi.count - 1;
    for (int r = 0; r <= rows; ++r) {
        gather_row(net, direction, r, n, WQ);
        apply_clip(plan_lo, n, WQ);
        scatter_row(hi->net, direction, r, n_hi, WQ + plan_hi.first);
        scatter_row(lo->net, direction, r, n_lo, WQ + plan_lo.first);
    }
    // The other direction as `from` has it.
    const KnotVector* other = direction == 1 ? from.vknt : from.uknt;
    for (Surface* half : {lo, hi}) {
        if (half == &from) continue;
        KnotVector* to = direction == 1 ? half->vknt : half->uknt;
        for (int i = 0; i <= other->m; ++i) to->U[i] = other->U[i];
        to->m = other->m;
        if (direction == 1)
            half->net->m = net->m;
        else
            half->net->n = net->n;
        half->p = from.p;
        half->q = from.q;
    }
    store_direction(direction == 1 ? hi->uknt : hi->vknt, K_hi, n_hi + p + 1, hi->net, direction,
                    n_hi);
    store_direction(direction == 1 ? lo->uknt : lo->vknt, K_lo, n_lo + p + 1, lo->net, direction,
                    n_lo);
    return true;
}

Status clean_surface_direction(Surface* sur, int direction) {
    ControlNet* net = sur->net;
    KnotVector* knt = direction == 1 ? sur->uknt : sur->vknt;
    const int p = direction == 1 ? sur->p : sur->q;
    if (!needs_cleaning(knt->U, knt->m, p)) return kOk;
    const int n = direction == 1 ? net->n : net->m;
    const int rows = direction == 1 ? net->m : net->n;
    RowWork work;
    double* K = work.knots(knt->m);
    Point4* G = K == nullptr ? nullptr : work.points(n);
    if (G == nullptr) return kFail;
    int n2 = n;
    int m2 = knt->m;
    for (int r = 0; r <= rows; ++r) {
        for (int i = 0; i <= knt->m; ++i) K[i] = knt->U[i];
        gather_row(net, direction, r, n, G);
        m2 = knt->m;
        n2 = clean_sequence(K, &m2, G, n, p);
        scatter_row(net, direction, r, n2, G);
    }
    store_direction(knt, K, m2, net, direction, n2);
    return kOk;
}

bool degree_ok(int M) { return M >= 1 && M <= kMaxDegree; }
bool weight_ok(double w) { return w >= kMinWeight && w <= kMaxWeight; }  // false for NaN

// Homogeneous point from a caller's point and weight; false when a coordinate
// is not finite or would overflow once weighted.
bool make_point(const Point3& P, double w, bool rational, Point4* out) {
    if (rational) {
        *out = {w * P.x, w * P.y, w * P.z, w};
    } else {
        *out = {P.x, P.y, P.z, kNonRationalW};
    }
    return finite(out->x) && finite(out->y) && finite(out->z);
}

}  // namespace

Status N_IGSVKB(const double* T, int m, int p, double V0, double V1) {
    bool ok = T != nullptr && p >= 1 && m - p - 1 >= p && finite(V0) && finite(V1);
    if (ok) ok = T[p] <= V0 && V0 < V1 && T[m - p] >= V1;
    for (int i = 0; ok && i < m; ++i) ok = T[i] <= T[i + 1];
    // Clipping and evaluation divide by differences of knots. The knots do not
    // decrease, so every such difference lies between 0 and the whole span
    // (rounding keeps that order): a finite span keeps them all finite.
    if (ok) ok = finite(T[0]) && finite(T[m]) && finite(T[m] - T[0]);
    if (!ok) {
        set_error(kErrKnots, "N_IGSVKB");
        return kFail;
    }
    return kOk;
}

Status N_IGSCCP(Curve* cur, double V0, double V1) { return clip_curve(cur, V0, V1); }

Status N_IGSCSK(Curve* cur) {
    int m = cur->knt->m;
    cur->pol->n = clean_sequence(cur->knt->U, &m, cur->pol->Pw, cur->pol->n, cur->p);
    cur->knt->m = m;
    return kOk;
}

Status N_IGSSCP(Surface* sur, double U0, double U1, double V0, double V1) {
    if (clip_surface_direction(sur, 1, U0, U1) != kOk) return kFail;
    return clip_surface_direction(sur, 2, V0, V1);
}

Status N_IGSSSK(Surface* sur) {
    if (clean_surface_direction(sur, 1) != kOk) return kFail;
    return clean_surface_direction(sur, 2);
}

Status N_IGS126(int K, int M, const double* T, const double* W, const Point3* P, double V0,
                double V1, Curve* cur, Pool* pool) {
    if (!degree_ok(M)) {
        set_error(kErrDegree, "N_IGS126");
        return kFail;
    }
    if (K < 0 || W == nullptr || P == nullptr || cur == nullptr) {
        set_error(kErrKnots, "N_IGSVKB");
        return kFail;
    }
    bool rational = false;
    for (int i = 0; i <= K; ++i) {
        if (!weight_ok(W[i])) {
            set_error(kErrWeight, "N_IGS126");
            return kFail;
        }
        if (W[i] != W[0]) rational = true;
    }
    if (N_IGSVKB(T, K + M + 1, M, V0, V1) != kOk) return kFail;
    // Points that cannot be stored as finite homogeneous values are refused
    // like a bad weight: the curve could not be evaluated anywhere.
    for (int i = 0; i <= K; ++i) {
        Point4 unused;
        if (!make_point(P[i], W[i], rational, &unused)) {
            set_error(kErrWeight, "N_IGS126");
            return kFail;
        }
    }
    if (curve_storage(cur, K, K + M + 1, "N_IGS126", pool) != kOk) return kFail;
    cur->p = static_cast<std::int16_t>(M);
    for (int i = 0; i <= K + M + 1; ++i) cur->knt->U[i] = T[i];
    bool planar = true;
    for (int i = 0; i <= K; ++i) {
        make_point(P[i], W[i], rational, &cur->pol->Pw[i]);
        if (P[i].z != 0.0) planar = false;
    }
    if (planar) {
        for (int i = 0; i <= K; ++i) cur->pol->Pw[i].z = kPlanarZ;
    }
    if (N_IGSCCP(cur, V0, V1) != kOk) return kFail;
    return N_IGSCSK(cur);
}

Status N_IGS128(int K1, int K2, int M1, int M2, const double* S, const double* T,
                const double* const* W, const Point3* const* P, double U0, double U1, double V0,
                double V1, Surface* sur, Pool* pool) {
    if (!degree_ok(M1) || !degree_ok(M2)) {
        set_error(kErrDegree, "N_IGS128");
        return kFail;
    }
    if (K1 < 0 || K2 < 0 || W == nullptr || P == nullptr || sur == nullptr) {
        set_error(kErrKnots, "N_IGSVKB");
        return kFail;
    }
    bool rational = false;
    for (int i = 0; i <= K1; ++i) {
        for (int j = 0; j <= K2; ++j) {
            if (!weight_ok(W[i][j])) {
                set_error(kErrWeight, "N_IGS128");
                return kFail;
            }
            if (W[i][j] != W[0][0]) rational = true;
        }
    }
    if (N_IGSVKB(S, K1 + M1 + 1, M1, U0, U1) != kOk) return kFail;
    if (N_IGSVKB(T, K2 + M2 + 1, M2, V0, V1) != kOk) return kFail;
    for (int i = 0; i <= K1; ++i) {
        for (int j = 0; j <= K2; ++j) {
            Point4 unused;
            if (!make_point(P[i][j], W[i][j], rational, &unused)) {
                set_error(kErrWeight, "N_IGS128");
                return kFail;
            }
        }
    }
    if (surface_storage(sur, K1, K2, K1 + M1 + 1, K2 + M2 + 1, "N_IGS128", pool) != kOk) {
        return kFail;
    }
    sur->p = static_cast<std::int16_t>(M1);
    sur->q = static_cast<std::int16_t>(M2);
    for (int i = 0; i <= K1 + M1 + 1; ++i) sur->uknt->U[i] = S[i];
    for (int j = 0; j <= K2 + M2 + 1; ++j) sur->vknt->U[j] = T[j];
    for (int i = 0; i <= K1; ++i) {
        for (int j = 0; j <= K2; ++j) make_point(P[i][j], W[i][j], rational, &sur->net->Pw[i][j]);
    }
    if (N_IGSSCP(sur, U0, U1, V0, V1) != kOk) return kFail;
    return N_IGSSSK(sur);
}

Status N_TOOCCP(const Curve& src, double a, double b, Curve* dst, Pool* pool) {
    const KnotVector& knt = *src.knt;
    const int p = src.p;
    if (!(a < b) || !(knt.U[p] <= a) || !(b <= knt.U[knt.m - p])) {
        set_error(kErrOrderedSet, "N_TOOCCP");
        return kFail;
    }
    const int n = src.pol->n;
    if (dst != &src) {
        if (curve_storage(dst, n, knt.m, "N_TOOCCP", pool) != kOk) return kFail;
        dst->p = src.p;
        for (int i = 0; i <= knt.m; ++i) dst->knt->U[i] = knt.U[i];
        for (int i = 0; i <= n; ++i) dst->pol->Pw[i] = src.pol->Pw[i];
    }
    if (clip_curve(dst, a, b) != kOk) return kFail;
    return N_IGSCSK(dst);
}

namespace {

// Whether the box [u0, u1] x [v0, v1] (box[0..3]) is not empty and lies
// in the surface's domain; false for NaN.
bool box_inside(const Surface& src, const double box[4]) {
    const KnotVector& U = *src.uknt;
    const KnotVector& V = *src.vknt;
    return box[0] < box[1] && box[2] < box[3] && U.U[src.p] <= box[0] &&
           box[1] <= U.U[U.m - src.p] && V.U[src.q] <= box[2] && box[3] <= V.U[V.m - src.q];
}

// Copies src into dst (fresh, or reused when large enough).
Status copy_surface(const Surface& src, Surface* dst, Pool* pool) {
    const KnotVector& U = *src.uknt;
    const KnotVector& V = *src.vknt;
    const int n = src.net->n, m = src.net->m;
    if (surface_storage(dst, n, m, U.m, V.m, "N_TOOSSG", pool) != kOk) return kFail;
    dst->p = src.p;
    dst->q = src.q;
    for (int i = 0; i <= U.m; ++i) dst->uknt->U[i] = U.U[i];
    for (int j = 0; j <= V.m; ++j) dst->vknt->U[j] = V.U[j];
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= m; ++j) dst->net->Pw[i][j] = src.net->Pw[i][j];
    return kOk;
}

// The split with its shared insertions: N_TOOSSG's clips in its order (u,
// then v), the cut direction's once for both halves. False where the
// halves' insertions differ; lo and hi are then to be made afresh.
bool split_shared(const Surface& src, const double lo_box[4], const double hi_box[4], int direction,
                  Surface* lo, Surface* hi) {
    if (surface_storage(hi, src.net->n, src.net->m, src.uknt->m, src.vknt->m, "N_TOOSSG",
                        nullptr) != kOk)
        return false;
    if (direction == 2) {
        // The same u clip for both halves: once.
        if (copy_surface(src, lo, nullptr) != kOk ||
            clip_surface_direction(lo, 1, lo_box[0], lo_box[1]) != kOk)
            return false;
        return split_direction(*lo, lo, hi, 2, lo_box[2], lo_box[3], hi_box[3]);
    }
    if (copy_surface(src, lo, nullptr) != kOk ||
        !split_direction(*lo, lo, hi, 1, lo_box[0], lo_box[1], hi_box[1]))
        return false;
    return clip_surface_direction(lo, 2, lo_box[2], lo_box[3]) == kOk &&
           clip_surface_direction(hi, 2, hi_box[2], hi_box[3]) == kOk;
}

// split_shared for a box that is the whole of the piece's domain, where
// the piece is clamped (a subdivision cell's piece): the clip across the
// cut would leave it as it is, so the halves are worked straight from the
// piece, without copying it first. False, with nothing done that
// split_shared would not do again, where that does not hold, the other
// direction's knots would be cleaned, or storage runs out; on true the cut
// direction of each half is still to be cleaned.
bool split_whole(const Surface& src, const double lo_box[4], const double hi_box[4], int direction,
                 Surface* lo, Surface* hi) {
    const KnotVector& U = *src.uknt;
    const KnotVector& V = *src.vknt;
    if (lo == &src || hi == &src || !clamped_at(U.U, U.m, src.p, lo_box[0], hi_box[1]) ||
        !clamped_at(V.U, V.m, src.q, lo_box[2], hi_box[3]))
        return false;
    if (direction == 1 ? needs_cleaning(V.U, V.m, src.q) : needs_cleaning(U.U, U.m, src.p))
        return false;
    const int n = src.net->n, m = src.net->m;
    if (surface_storage(hi, n, m, U.m, V.m, "N_TOOSSG", nullptr) != kOk ||
        surface_storage(lo, n, m, U.m, V.m, "N_TOOSSG", nullptr) != kOk)
        return false;
    const int d = direction - 1;
    return split_direction(src, lo, hi, direction, lo_box[2 * d], lo_box[2 * d + 1],
                           hi_box[2 * d + 1]);
}

}  // namespace

Status N_TOOSSG(const Surface& src, double u0, double u1, double v0, double v1, Surface* dst,
                Pool* pool) {
    const double box[4] = {u0, u1, v0, v1};
    if (!box_inside(src, box)) {
        set_error(kErrOrderedSet, "N_TOOSSG");
        return kFail;
    }
    if (dst != &src && copy_surface(src, dst, pool) != kOk) return kFail;
    if (N_IGSSCP(dst, u0, u1, v0, v1) != kOk) return kFail;
    return N_IGSSSK(dst);
}

Status segment_halves(const Surface& src, double u0, double u1, double v0, double v1, int direction,
                      double t, Surface* lo, Surface* hi) {
    const bool at_v = direction == 2;
    const double lo_box[4] = {u0, at_v ? u1 : t, v0, at_v ? t : v1};
    const double hi_box[4] = {at_v ? u0 : t, u1, at_v ? t : v0, v1};
    if (box_inside(src, lo_box) && box_inside(src, hi_box)) {
        if (split_whole(src, lo_box, hi_box, direction, lo, hi))
            return clean_surface_direction(lo, direction) == kOk &&
                           clean_surface_direction(hi, direction) == kOk
                       ? kOk
                       : kFail;
        if (split_shared(src, lo_box, hi_box, direction, lo, hi))
            return N_IGSSSK(lo) == kOk && N_IGSSSK(hi) == kOk ? kOk : kFail;
    }
    if (N_TOOSSG(src, lo_box[0], lo_box[1], lo_box[2], lo_box[3], lo, nullptr) != kOk) return kFail;
    return N_TOOSSG(src, hi_box[0], hi_box[1], hi_box[2], hi_box[3], hi, nullptr);
}

}  // namespace ruvane
