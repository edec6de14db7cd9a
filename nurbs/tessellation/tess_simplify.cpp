// Vertex removal after triangulation. Each vertex that may go is collapsed
// into one of its neighbours (the nearest that works) when every triangle
// the collapse changes keeps its turn and a fair shape in the metric plane,
// faces the way the surface does at its corners, and stays within a margin
// of the surface tolerance on a set of samples. Vertices are visited
// flattest first, in a few passes.
#include "nurbs/tessellation/tess_simplify.h"

#include <algorithm>
#include <cmath>

namespace ruvane::tess {
namespace {

// Below this |Su x Sv| (tangents of about unit length in the metric plane)
// a point is degenerate: a pole or an apex, which never moves.
constexpr double kDegenerate = 1e-6;
// A changed triangle must keep twice its area above this share of its
// longest side squared (a needle would hide its deviation between samples).
constexpr double kShape = 0.05;
// And its normal within about 45 degrees of the surface's at each corner.
constexpr double kFacing = 0.7;
// Vertices with more triangles than this are left alone: it bounds the work
// per vertex, and such a vertex is rare in a cell mesh.
constexpr int kMaxFan = 24;
constexpr int kRounds = 2;
constexpr int kPasses = 5;
// Bend (chord times normal turn) beyond which an edge's middle is taken to
// stray more than the margin allows: 8 for a circle, with room.
constexpr double kBendCut = 8.0;

enum Role : char { kKeep = 0, kInterior = 1, kBoundary = 2 };

// Barycentric samples of a triangle (y, b, c), corners left out, in the
// order they are taken over all new triangles: the middles of the edges at
// y, the centroid, the three points halfway from the centroid to the edge
// middles. The middle of b-c is not taken: that edge does not change.
// Quarter points of an edge are not taken either: where the edge bends
// evenly they stray three quarters of its middle.
constexpr int kSamples = 6;
constexpr double kBary[kSamples][3] = {{0.5, 0.5, 0},
                                       {0.5, 0, 0.5},
                                       {1.0 / 3, 1.0 / 3, 1.0 / 3},
                                       {1.0 / 6, 5.0 / 12, 5.0 / 12},
                                       {5.0 / 12, 1.0 / 6, 5.0 / 12},
                                       {5.0 / 12, 5.0 / 12, 1.0 / 6}};

class Simplifier {
public:
    Simplifier(Scratch& s, const SimplifyInput& in, Table<Tri>& tris)
        : s_(s), in_(in), tris_(tris), tol_(kSimplifyMargin * in.A) {}

    int run(int* removed) {
        *removed = 0;
        const int n = in_.count;
        if (!state_.resize(s_, n, 0) || !P_.resize(s_, n, Point3{}) ||
            !N_.resize(s_, n, Point3{}) || !dirty_.resize(s_, n, 1) || !mark_.resize(s_, n, 0) ||
            !fan_.resize(s_, n, FanCount{0, 0, -1}))
            return kErrStorage;
        // Collapses get stuck where the grid's diagonals run across the
        // surface's curvature; turning such diagonals frees more of them.
        for (int round = 0; round < kRounds; ++round) {
            int gone = 0, flipped = 0;
            if (!index_triangles() || !collapse_passes(&gone)) return kErrStorage;
            compact();
            *removed += gone;
            if (round + 1 == kRounds) break;
            if (!flip_pass(&flipped)) return kErrStorage;
            if (flipped == 0 || (round > 0 && gone == 0)) break;
        }
        return 0;
    }

private:
    void compact() {
        int live = 0;
        for (int t = 0; t < tris_.size; ++t)
            if (tris_[t].a >= 0) tris_[live++] = tris_[t];
        tris_.size = live;
    }

    // The triangles of each vertex, from the live ones.
    bool index_triangles() {
        const int n = in_.count;
        first_.clear();
        merged_.clear();
        if (!first_.resize(s_, n + 1, 0) || !merged_.resize(s_, n, -1)) return false;
        for (int t = 0; t < tris_.size; ++t)
            for (int c : {tris_[t].a, tris_[t].b, tris_[t].c}) ++first_[c + 1];
        for (int k = 0; k < n; ++k) first_[k + 1] += first_[k];
        if (!items_.resize(s_, first_[n], 0) || !fill_.resize(s_, n, 0)) return false;
        for (int k = 0; k < n; ++k) fill_[k] = first_[k];
        for (int t = 0; t < tris_.size; ++t)
            for (int c : {tris_[t].a, tris_[t].b, tris_[t].c}) items_[fill_[c]++] = t;
        return true;
    }

    bool collapse_passes(int* removed) {
        const int n = in_.count;
        for (int pass = 0; pass < kPasses; ++pass) {
            order_.clear();
            for (int x = 0; x < n; ++x) {
                if (!dirty_[x] || first_[x] == first_[x + 1] || !movable(x)) continue;
                if (!around(x, rx_)) return false;
                if (rx_.size == 0 || rx_.size > kMaxFan) continue;
                if (!order_.push(s_, {height(x), x})) return false;
            }
            std::sort(order_.data, order_.data + order_.size,
                      [this](const Order& p, const Order& q) {
                          return p.cost < q.cost || (p.cost == q.cost && before(p.x, q.x));
                      });
            int done = 0;
            for (int k = 0; k < order_.size; ++k) {
                bool gone = false;
                if (!try_remove(order_[k].x, &gone)) return false;
                done += gone;
            }
            *removed += done;
            if (done * 50 < order_.size) break;
        }
        return true;
    }

    // The height of the surface over the chord p-q from the normals at its
    // ends (a circle's sagitta is its chord times the turn over 8).
    double bend(int p, int q) const {
        return std::fabs(vec_dot(vec_sub(P_[q], P_[p]), vec_sub(N_[q], N_[p])));
    }

    // Turns the diagonal of two triangles when the other diagonal bends
    // clearly less and both new triangles fit. Each vertex takes part in one
    // turn per pass, so no edge is made twice.
    bool flip_pass(int* flipped) {
        const int n = in_.count;
        if (!sort_halves()) return false;
        Table<char>& busy = busy_;
        busy.clear();
        if (!busy.resize(s_, n, 0)) return false;
        auto exists = [&](int p, int q) {
            const long long key = static_cast<long long>(std::min(p, q)) * n + std::max(p, q);
            const Half* at = std::lower_bound(halves_.data, halves_.data + halves_.size, key,
                                              [](const Half& h, long long k) { return h.key < k; });
            return at != halves_.data + halves_.size && at->key == key;
        };
        // Interior edges, visited by the position of their middles.
        pairs_.clear();
        for (int i = 0; i + 1 < halves_.size; ++i) {
            if (halves_[i].key != halves_[i + 1].key) continue;
            const int p = static_cast<int>(halves_[i].key / n),
                      q = static_cast<int>(halves_[i].key % n);
            ++i;
            // An edge that does not bend is never turned (the other
            // diagonal must bend less than half as much), nor one with an
            // end that is not regular: such are left out before the sort.
            if (!regular(p) || !regular(q) || !(bend(p, q) > 0.0)) continue;
            if (!pairs_.push(s_, {in_.u[p] + in_.u[q], in_.v[p] + in_.v[q], i})) return false;
        }
        std::sort(pairs_.data, pairs_.data + pairs_.size, [](const Pair& x, const Pair& y) {
            return x.u < y.u || (x.u == y.u && (x.v < y.v || (x.v == y.v && x.i < y.i)));
        });
        for (int m = 0; m < pairs_.size; ++m) {
            const int i = pairs_[m].i;
            const Tri t1 = tris_[halves_[i - 1].t], t2 = tris_[halves_[i].t];
            // t1 turned to (a, b, c); t2 then holds b -> a with d opposite.
            const int a = static_cast<int>(halves_[i].key / n),
                      b = static_cast<int>(halves_[i].key % n);
            Tri r1 = turn(t1, a), r2 = turn(t2, a);
            if (r1.b != b) std::swap(r1, r2);
            if (r1.b != b || r2.c != b) continue;
            const int c = r1.c, d = r2.b;
            if (busy[a] || busy[b] || busy[c] || busy[d]) continue;
            if (!regular(a) || !regular(b) || !regular(c) || !regular(d)) continue;
            if (!(bend(c, d) < 0.5 * bend(a, b)) || exists(c, d)) continue;
            fresh_.clear();
            if (!fresh_.push(s_, {d, c, r1.a}) || !fresh_.push(s_, {c, d, r1.b})) return false;
            if (!shaped(d, c, r1.a) || !shaped(c, d, r1.b) || !near_all(fresh_)) continue;
            const int i1 = halves_[i - 1].t, i2 = halves_[i].t;
            tris_[i1] = {r1.a, d, c};
            tris_[i2] = {d, r1.b, c};
            busy[a] = busy[b] = busy[c] = busy[d] = 1;
            dirty_[a] = dirty_[b] = dirty_[c] = dirty_[d] = 1;
            ++*flipped;
        }
        return true;
    }

    // Every triangle's edges by key, and by triangle within a key: counted
    // into one bucket per smaller vertex, in triangle order, then each
    // (short) bucket put in order of the larger vertex, keeping that order.
    bool sort_halves() {
        const int n = in_.count;
        const int m = 3 * tris_.size;
        bucket_.clear();
        if (!bucket_.resize(s_, n + 1, 0) || !halves_.resize(s_, m, Half{}) ||
            !spare_.resize(s_, m, Half{}))
            return false;
        for (int t = 0; t < tris_.size; ++t) {
            const int c[3] = {tris_[t].a, tris_[t].b, tris_[t].c};
            for (int k = 0; k < 3; ++k) ++bucket_[std::min(c[k], c[(k + 1) % 3]) + 1];
        }
        for (int k = 0; k < n; ++k) bucket_[k + 1] += bucket_[k];
        for (int t = 0; t < tris_.size; ++t) {
            const int c[3] = {tris_[t].a, tris_[t].b, tris_[t].c};
            for (int k = 0; k < 3; ++k) {
                const int p = std::min(c[k], c[(k + 1) % 3]), q = std::max(c[k], c[(k + 1) % 3]);
                spare_[bucket_[p]++] = {static_cast<long long>(p) * n + q, t};
            }
        }
        int begin = 0;
        for (int p = 0; p < n; ++p) {
            const int end = bucket_[p];
            for (int x = begin; x < end; ++x) {
                const Half h = spare_[x];
                int y = x;
                for (; y > begin && halves_[y - 1].key > h.key; --y) halves_[y] = halves_[y - 1];
                halves_[y] = h;
            }
            begin = end;
        }
        return true;
    }

    // Ties are broken by position, not by number, so that the result does
    // not hang on the order the triangulation made the vertices in (the
    // driver's retries with other loop orientations number them otherwise).
    bool before(int p, int q) const {
        return in_.u[p] < in_.u[q] || (in_.u[p] == in_.u[q] && in_.v[p] < in_.v[q]);
    }

    static Tri turn(const Tri& t, int y) {
        if (t.b == y) return {t.b, t.c, t.a};
        if (t.c == y) return {t.c, t.a, t.b};
        return t;
    }

private:
    struct Order {
        double cost;
        int x;
    };
    struct Half {
        long long key;  // the edge's smaller vertex times the count, plus the larger
        int t;
    };
    Table<Order> order_;
    Table<Half> halves_, spare_;
    Table<int> bucket_;  // end of each smaller vertex's edges in spare_
    struct Pair {
        double u, v;  // twice the edge's middle
        int i;        // its second half in halves_
    };
    Table<Pair> pairs_;
    Table<char> busy_;
    Table<int> fill_;
    Table<char> dirty_;  // the fan changed since the vertex last failed to go
    Scratch& s_;
    const SimplifyInput& in_;
    Table<Tri>& tris_;
    double tol_;
    Table<int> first_, items_;  // triangles of each vertex as first made
    Table<int> merged_;         // next vertex collapsed into the same survivor
    Table<char> state_;         // 0 not evaluated, 1 regular, 2 failed, 3 degenerate
    Table<Point3> P_, N_;       // point and unit normal per vertex
    Table<Tri> rx_, ry_;        // fans of the vertex going and of its target
    Table<Tri> fresh_;          // the triangles a change would make
    Table<int> mark_;           // neighbours of a collapse's target, by token
    int token_ = 0;
    struct FanCount {
        int stamp;   // fan_token_ when the counts below are this call's
        int ends;    // triangles of the fan ending at the vertex (its c)
        int leaves;  // the last triangle leaving it (its b), -1 none
    };
    Table<FanCount> fan_;  // fan_role's counts per neighbour
    int fan_token_ = 0;
    int hint_[2] = {-1, -1};  // the spans of the last sample: the next lies close by

    // Asked over a hundred thousand times on a fine mesh, almost always of
    // a vertex already evaluated: the look-up stays inline, the evaluation
    // does not.
    bool regular(int k) {
        if (state_[k] == 0) find_state(k);
        return state_[k] == 1;
    }

    // The vertex's point, normal and state (1 regular, 2 failed, 3 degenerate).
    __attribute__((noinline)) void find_state(int k) {
        Point3 row0[2], row1[2];
        state_[k] = 2;
        if (!evaluate(k, row0, row1)) return;
        P_[k] = row0[0];
        const Point3 m = vec_cross(row1[0], row0[1]);
        const double len = vec_length(m);
        const Point3& p = P_[k];
        if (len >= kDegenerate && std::isfinite(len) && std::isfinite(p.x + p.y + p.z)) {
            N_[k] = {m.x / len, m.y / len, m.z / len};
            state_[k] = 1;
        } else if (std::isfinite(p.x + p.y + p.z)) {
            state_[k] = 3;
        }
    }

    // Copies of one degenerate point (a pole, an apex): a point but no
    // normal, and both in the same place.
    bool same_pole(int p, int q) {
        return !regular(p) && !regular(q) && state_[p] == 3 && state_[q] == 3 &&
               vec_distance(P_[p], P_[q]) <= 1e-9 * in_.A;
    }

    // N_SURDER's point (row0[0]) and first derivatives (row1[0] along u,
    // row0[1] along v) at vertex k, taken from or kept in in_.known.
    bool evaluate(int k, Point3 row0[2], Point3 row1[2]) {
        const VertexDerivatives& known = in_.known;
        if (known.state && known.state[k] >= 0) {
            row0[0] = known.S[k];
            row1[0] = known.Su[k];
            row0[1] = known.Sv[k];
            return known.state[k] == 1;
        }
        Point3* skl[2] = {row0, row1};
        const bool ok = N_SURDER(*in_.sur, 1, in_.u[k], in_.v[k], 1, 1, 1, skl) == kOk;
        if (known.state) {
            known.state[k] = ok ? 1 : 0;
            if (ok) known.S[k] = row0[0], known.Su[k] = row1[0], known.Sv[k] = row0[1];
        }
        return ok;
    }

    // Which of the domain's bounds the vertex lies on.
    struct Sides {
        bool u0, u1, v0, v1;
        int count() const { return u0 + u1 + v0 + v1; }
    };
    Sides sides(int k) const {
        const double e = 1e-9 * std::fmax(in_.Lu, in_.Lv);
        const double u = in_.u[k], v = in_.v[k];
        return {!(u > e), !(u < in_.Lu - e), !(v > e), !(v < in_.Lv - e)};
    }

    // Which of the domain's bounds the vertex lies on: 0 none, 1 one that
    // is an open edge of the surface, 2 two bounds, or a bound the surface
    // closes over (a seam, whose partner vertex must stay paired).
    int on_bound(int k) {
        const Sides at = sides(k);
        const int count = at.count();
        if (count == 0) return 0;
        if (count > 1 || !regular(k)) return 2;
        Point3 S{};
        const double u = in_.u[k], v = in_.v[k];
        const double pu = at.u0 ? in_.Lu : at.u1 ? 0.0 : u, pv = at.v0 ? in_.Lv : at.v1 ? 0.0 : v;
        if (N_SUREVN(*in_.sur, 1, pu, pv, &S) != kOk) return 2;
        return vec_distance(S, P_[k]) > 1e-3 * in_.A ? 1 : 2;
    }

    bool movable(int x) {
        if (in_.fixed_id && in_.fixed_id[x] != -1) return false;
        // A degenerate point's copy may go into another copy along the
        // domain edge it stands for (try_remove), never from a domain corner.
        if (!regular(x)) return state_[x] == 3 && sides(x).count() == 1;
        return on_bound(x) < 2;
    }

    // The live triangles around y, each turned so that y comes first.
    bool around(int y, Table<Tri>& out) {
        out.clear();
        for (int z = y; z >= 0; z = merged_[z])
            for (int k = first_[z]; k < first_[z + 1]; ++k) {
                const Tri t = tris_[items_[k]];
                Tri r;
                if (t.a == y)
                    r = t;
                else if (t.b == y)
                    r = {t.b, t.c, t.a};
                else if (t.c == y)
                    r = {t.c, t.a, t.b};
                else
                    continue;  // dead (a < 0) or moved to another vertex
                if (!out.push(s_, r)) return false;
            }
        return true;
    }

    // How far the neighbours stand off x's tangent plane: flat vertices go
    // first, so the removal spreads from where it is safest.
    double height(int x) {
        if (!regular(x)) return HUGE_VAL;
        double h = 0.0;
        for (int k = 0; k < rx_.size; ++k) {
            const int b = rx_[k].b;
            if (!regular(b)) return HUGE_VAL;
            h = std::fmax(h, std::fabs(vec_dot(vec_sub(P_[b], P_[x]), N_[x])));
        }
        return h;
    }

    // The fan of x as one chain: the triangle whose b has no triangle
    // before it starts the chain (none: x is interior and any starts).
    // Returns the role x can take and its two boundary neighbours.
    Role fan_role(int x, int* nb, int* nc) {
        const int m = rx_.size;
        // Per neighbour, stamped with this call's token: how many triangles
        // end at it (c) and the last triangle that leaves it (b).
        ++fan_token_;
        for (int j = 0; j < m; ++j) {
            const int b = rx_[j].b, c = rx_[j].c;
            if (fan_[c].stamp != fan_token_) fan_[c] = {fan_token_, 0, -1};
            if (fan_[b].stamp != fan_token_) fan_[b] = {fan_token_, 0, -1};
            ++fan_[c].ends;
            fan_[b].leaves = j;
        }
        int start = -1, starts = 0;
        for (int k = 0; k < m; ++k) {
            const int before = fan_[rx_[k].b].ends;
            if (before > 1) return kKeep;
            if (before == 0) start = k, ++starts;
        }
        if (starts > 1) return kKeep;
        const bool closed = starts == 0;
        if (closed) start = 0;
        // Walk the chain; it must take in every triangle once.
        int at = start, steps = 1;
        while (steps <= m) {
            const int c = rx_[at].c;
            const int next = fan_[c].stamp == fan_token_ ? fan_[c].leaves : -1;
            if (next < 0 || next == start) break;
            at = next;
            ++steps;
        }
        if (steps != m) return kKeep;
        if (closed) return kInterior;
        *nb = rx_[start].b;
        *nc = rx_[at].c;
        // On the straight line between its boundary neighbours, between them.
        const double du = in_.u[*nc] - in_.u[*nb], dv = in_.v[*nc] - in_.v[*nb];
        const double pu = in_.u[x] - in_.u[*nb], pv = in_.v[x] - in_.v[*nb];
        const double len2 = du * du + dv * dv;
        const double along = pu * du + pv * dv;
        if (!(len2 > 0.0) || !(along > 0.0) || !(along < len2) || m < 2) return kKeep;
        const double off = std::fabs(pu * dv - pv * du);
        return off <= 1e-9 * len2 ? kBoundary : kKeep;
    }

    // The farthest sample of (y, b, c) from the surface is within tol_ (the
    // samples on b-c are left out: that edge does not change).
    bool near_surface(const Tri& t, int sample) {
        const double* w = kBary[sample];
        const int k[3] = {t.a, t.b, t.c};
        double u = 0, v = 0;
        Point3 Q{0, 0, 0};
        for (int j = 0; j < 3; ++j) {
            // A corner of no weight would add a zero of either sign to a
            // sum that is never -0 (it starts at +0): nothing changes.
            if (w[j] == 0.0) continue;
            u += w[j] * in_.u[k[j]];
            v += w[j] * in_.v[k[j]];
            Q = {Q.x + w[j] * P_[k[j]].x, Q.y + w[j] * P_[k[j]].y, Q.z + w[j] * P_[k[j]].z};
        }
        Point3 S{};
        return surface_point_near(*in_.sur, u, v, hint_, &S) == kOk && vec_distance(S, Q) <= tol_;
    }

    // Whether the new triangle (y, b, c) has a fair shape, faces the way
    // the surface does and bends little enough to be worth sampling.
    bool shaped(int y, int b, int c) { return bends_little(y, b, c) && fair(y, b, c); }

    // `shaped` less the bend: the shape in the metric plane and the facing,
    // for regular b and c.
    bool fair(int y, int b, int c) {
        const double eu = in_.u[b] - in_.u[y], ev = in_.v[b] - in_.v[y];
        const double fu = in_.u[c] - in_.u[y], fv = in_.v[c] - in_.v[y];
        const double gu = in_.u[c] - in_.u[b], gv = in_.v[c] - in_.v[b];
        const double longest =
            std::fmax(eu * eu + ev * ev, std::fmax(fu * fu + fv * fv, gu * gu + gv * gv));
        if (!(to_double(eu * fv - ev * fu) > kShape * longest)) return false;
        const Point3 n = vec_cross(vec_sub(P_[b], P_[y]), vec_sub(P_[c], P_[y]));
        const double len = vec_length(n);
        if (!(len > 0.0)) return false;
        for (int k : {y, b, c})
            if (!(vec_dot(n, N_[k]) > kFacing * len)) return false;
        return true;
    }

    // An edge whose ends' normals turn by theta over a chord L stands about
    // L theta / 8 off the surface: far beyond the margin, the samples need
    // not be taken. False too where b or c is not regular, as for `shaped`.
    bool bends_little(int y, int b, int c) {
        if (!regular(b) || !regular(c)) return false;
        return !(bend(y, b) > kBendCut * tol_ || bend(y, c) > kBendCut * tol_);
    }

    // Whether the surface stays near every new triangle (y, b, c) of
    // `fresh` (each already `shaped`): each sample over all triangles
    // before the next, those most likely to stray first, so that a refusal
    // costs few evaluations.
    bool near_all(const Table<Tri>& fresh) {
        for (int sample = 0; sample < kSamples; ++sample)
            for (int k = 0; k < fresh.size; ++k) {
                // The middle of y-c is the middle of another's y-b when
                // two new triangles share that edge.
                bool shared = false;
                for (int j = 0; sample == 1 && j < fresh.size && !shared; ++j)
                    shared = fresh[j].a == fresh[k].a && fresh[j].b == fresh[k].c;
                if (!shared && !near_surface(fresh[k], sample)) return false;
            }
        return true;
    }

    // x's triangles moved to y into fresh_, but for those on the edge x-y:
    // returns how many of those die (0: x and y are no neighbours), -1 on
    // storage failure.
    int moved_fan(int y) {
        int dying = 0;
        fresh_.clear();
        for (int k = 0; k < rx_.size; ++k) {
            const Tri& t = rx_[k];
            if (t.b == y || t.c == y)
                ++dying;
            else if (!fresh_.push(s_, {y, t.b, t.c}))
                return -1;
        }
        return dying;
    }

    // Whether x may go into y: the triangles on the edge x-y die (two inside,
    // one on the boundary), x and y share no other neighbour (that would
    // double an edge or pinch the mesh), and every other triangle of x fits.
    // 1 yes, 0 no, -1 on storage failure.
    int may_collapse(int y) {
        if (!regular(y)) return 0;
        const int dying = moved_fan(y);
        if (dying <= 0) return dying;
        // Most refusals come from an edge at y that bends too much; that
        // test alone, ahead of the others, refuses what they would.
        for (int k = 0; k < fresh_.size; ++k)
            if (!bends_little(y, fresh_[k].b, fresh_[k].c)) return 0;
        for (int k = 0; k < fresh_.size; ++k)
            if (!fair(y, fresh_[k].b, fresh_[k].c)) return 0;
        const int shared = shares_no_other(y);
        if (shared <= 0) return shared;
        return near_all(fresh_) ? 1 : 0;
    }

    // Whether x (its fan in rx_) and y share no neighbour but the third
    // corners of the triangles on their edge: 1 yes, 0 no, -1 on storage
    // failure.
    int shares_no_other(int y) {
        // Neighbours of y marked; those of the dying triangles' third
        // corners unmarked again, as they may be shared.
        if (!around(y, ry_)) return -1;
        ++token_;
        for (int k = 0; k < ry_.size; ++k) mark_[ry_[k].b] = mark_[ry_[k].c] = token_;
        for (int k = 0; k < rx_.size; ++k)
            if (rx_[k].b == y || rx_[k].c == y) mark_[rx_[k].b == y ? rx_[k].c : rx_[k].b] = 0;
        for (int k = 0; k < rx_.size; ++k)
            for (int w : {rx_[k].b, rx_[k].c})
                if (w != y && mark_[w] == token_) return 0;
        return 1;
    }

    // Whether a degenerate point's copy x may go into another copy y: the
    // same as `may_collapse` less what measures the surface and the shape,
    // as every triangle stays where it was in space; each changed triangle
    // need only keep its turn in the parameter plane.
    int may_join(int y) {
        const int dying = moved_fan(y);
        if (dying <= 0) return dying;
        for (int k = 0; k < fresh_.size; ++k) {
            const Tri& t = fresh_[k];
            const double eu = in_.u[t.b] - in_.u[y], ev = in_.v[t.b] - in_.v[y];
            const double fu = in_.u[t.c] - in_.u[y], fv = in_.v[t.c] - in_.v[y];
            if (!(to_double(eu * fv - ev * fu) > 0.0)) return 0;
        }
        return shares_no_other(y);
    }

    void collapse(int x, int y) {
        for (int z = x; z >= 0; z = merged_[z])
            for (int k = first_[z]; k < first_[z + 1]; ++k) {
                Tri& t = tris_[items_[k]];
                if (t.a < 0 || !(t.a == x || t.b == x || t.c == x)) continue;
                if (t.a == y || t.b == y || t.c == y) {
                    t.a = t.b = t.c = -1;
                    continue;
                }
                for (int* p : {&t.a, &t.b, &t.c})
                    if (*p == x) *p = y;
            }
        int tail = y;
        while (merged_[tail] >= 0) tail = merged_[tail];
        merged_[tail] = x;
    }

    // How far the chord p-q strays from the surface at its middle; negative
    // when the surface cannot be evaluated there.
    double chord(int p, int q) {
        Point3 S{};
        const Point3 mid{0.5 * (P_[p].x + P_[q].x), 0.5 * (P_[p].y + P_[q].y),
                         0.5 * (P_[p].z + P_[q].z)};
        if (surface_point_near(*in_.sur, 0.5 * (in_.u[p] + in_.u[q]), 0.5 * (in_.v[p] + in_.v[q]),
                               hint_, &S) != kOk)
            return -1.0;
        return vec_distance(S, mid);
    }

    // Whether the boundary chords p-x and x-q along an open domain edge may
    // become one: the new chord strays no farther than the worse of the two
    // did (the subdivision held those chords finer, so that a narrow face
    // loses no more than a percent of its area) and within the margin.
    bool chord_fits(int p, int x, int q) {
        const double now = chord(p, q);
        if (!(now >= 0.0 && now <= tol_)) return false;
        const double before = std::fmax(chord(p, x), chord(x, q));
        return now <= before + 1e-9 * in_.A;
    }

    // Tries x's neighbours nearest first (only the two along the line for
    // a boundary vertex). False only on storage failure.
    bool try_remove(int x, bool* gone) {
        dirty_[x] = 0;
        if (!around(x, rx_)) return false;
        if (rx_.size == 0 || rx_.size > kMaxFan) return true;
        int nb = -1, nc = -1;
        const Role role = fan_role(x, &nb, &nc);
        // On an open edge of the domain a vertex may only move along it.
        if (role == kKeep || (role == kInterior && on_bound(x) != 0)) return true;
        int targets[kMaxFan];
        int count = 0;
        if (!regular(x)) {
            // A copy of a degenerate point between two others on its domain
            // edge: the collapse changes no triangle in space and drops the
            // one of no area on the edge.
            if (role != kBoundary || !same_pole(x, nb) || !same_pole(x, nc)) return true;
            targets[count++] = nb;
            targets[count++] = nc;
        } else if (role == kBoundary) {
            if (regular(nb) && regular(nc) && (on_bound(x) == 0 || chord_fits(nb, x, nc))) {
                targets[count++] = nb;
                targets[count++] = nc;
            }
        } else {
            for (int k = 0; k < rx_.size; ++k) targets[count++] = rx_[k].b;
        }
        // Each distance taken once, before the sort compares them.
        Order near[kMaxFan];
        for (int k = 0; k < count; ++k) {
            const int y = targets[k];
            near[k] = {regular(y) || same_pole(x, y) ? vec_distance(P_[y], P_[x]) : HUGE_VAL, y};
        }
        std::sort(near, near + count, [&](const Order& p, const Order& q) {
            return p.cost < q.cost || (p.cost == q.cost && before(p.x, q.x));
        });
        for (int k = 0; k < count; ++k) {
            const int r = same_pole(x, near[k].x) ? may_join(near[k].x) : may_collapse(near[k].x);
            if (r < 0) return false;
            if (r > 0) {
                for (int j = 0; j < rx_.size; ++j) dirty_[rx_[j].b] = dirty_[rx_[j].c] = 1;
                collapse(x, near[k].x);
                *gone = true;
                return true;
            }
        }
        return true;
    }
};

}  // namespace

int simplify_mesh(Scratch& s, const SimplifyInput& in, Table<Tri>& tris, int* removed) {
    Simplifier run(s, in, tris);
    return run.run(removed);
}

}  // namespace ruvane::tess
