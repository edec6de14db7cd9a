#include "bench/occt_measure.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRep_Tool.hxx>
#include <Geom_BSplineSurface.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Vertex.hxx>
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

namespace occt_bench {

namespace {

std::vector<std::array<int, 2>> edge_list(const Mesh& mesh, bool open_only) {
    std::vector<std::array<int, 2>> edges;
    edges.reserve(mesh.triangles.size() * 3);
    for (const auto& t : mesh.triangles)
        for (int k = 0; k < 3; ++k) {
            const int a = t[k], b = t[(k + 1) % 3];
            edges.push_back({std::min(a, b), std::max(a, b)});
        }
    std::sort(edges.begin(), edges.end());
    std::vector<std::array<int, 2>> out;
    for (size_t i = 0; i < edges.size();) {
        size_t j = i;
        while (j < edges.size() && edges[j] == edges[i]) ++j;
        if (!open_only || j - i == 1) out.push_back(edges[i]);
        i = j;
    }
    return out;
}

gp_Pnt midpoint(const gp_Pnt& a, const gp_Pnt& b) { return gp_Pnt((a.XYZ() + b.XYZ()) * 0.5); }

// Parameter values for sampling [lo, hi]: `per_span` steps in every knot span
// of `knots` that falls inside, or `fallback` uniform steps without knots.
std::vector<double> sample_params(const TColStd_Array1OfReal* knots, double lo, double hi,
                                  int per_span, int fallback) {
    std::vector<double> breaks{lo};
    if (knots)
        for (int i = knots->Lower(); i <= knots->Upper(); ++i)
            if (knots->Value(i) > breaks.back() && knots->Value(i) < hi)
                breaks.push_back(knots->Value(i));
    breaks.push_back(hi);
    const int spans = static_cast<int>(breaks.size()) - 1;
    int steps = knots ? per_span : fallback;
    if (knots && spans * steps > 240) steps = std::max(1, 240 / spans);
    if (!knots) {
        breaks = {lo, hi};
    }
    std::vector<double> out;
    for (size_t s = 0; s + 1 < breaks.size(); ++s)
        for (int k = 0; k < steps; ++k)
            out.push_back(breaks[s] + (breaks[s + 1] - breaks[s]) * k / steps);
    out.push_back(hi);
    return out;
}

}  // namespace

std::vector<std::array<int, 2>> open_edges(const Mesh& mesh) { return edge_list(mesh, true); }

long edge_bound_triangles(const Mesh& mesh) {
    std::vector<char> rim(mesh.nodes.size(), 0), used(mesh.nodes.size(), 0);
    for (const auto& e : open_edges(mesh))
        rim[static_cast<size_t>(e[0])] = rim[static_cast<size_t>(e[1])] = 1;
    for (const auto& t : mesh.triangles)
        for (int k : t) used[static_cast<size_t>(k)] = 1;
    long inner = 0;
    for (size_t k = 0; k < rim.size(); ++k) inner += used[k] && !rim[k];
    return std::max(0L, static_cast<long>(mesh.triangles.size()) - 2 * inner);
}
std::vector<std::array<int, 2>> all_edges(const Mesh& mesh) { return edge_list(mesh, false); }

double triangle_area(const gp_Pnt& a, const gp_Pnt& b, const gp_Pnt& c) {
    return 0.5 * (b.XYZ() - a.XYZ()).Crossed(c.XYZ() - a.XYZ()).Modulus();
}

double segment_distance(const gp_Pnt& p, const gp_Pnt& a, const gp_Pnt& b) {
    const gp_XYZ ab = b.XYZ() - a.XYZ(), ap = p.XYZ() - a.XYZ();
    const double len2 = ab.SquareModulus();
    double t = len2 > 0 ? ap.Dot(ab) / len2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return (ap - ab * t).Modulus();
}

SurfaceProbe::SurfaceProbe(const Handle(Geom_Surface) & surface, double u0, double u1, double v0,
                           double v1)
    : surface_(surface), u0_(u0), u1_(u1), v0_(v0), v1_(v1) {
    Handle(Geom_BSplineSurface) spline = Handle(Geom_BSplineSurface)::DownCast(surface);
    std::vector<double> us, vs;
    if (!spline.IsNull()) {
        us = sample_params(&spline->UKnots(), u0, u1, 8, 0);
        vs = sample_params(&spline->VKnots(), v0, v1, 8, 0);
    } else {
        us = sample_params(nullptr, u0, u1, 0, 64);
        vs = sample_params(nullptr, v0, v1, 0, 64);
    }
    {
        double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
        for (double v : vs)
            for (double u : us) {
                const gp_Pnt p = surface_->Value(u, v);
                samples_.push_back({p, u, v});
                for (int c = 0; c < 3; ++c) {
                    lo[c] = std::min(lo[c], p.Coord(c + 1));
                    hi[c] = std::max(hi[c], p.Coord(c + 1));
                }
            }
        const double diag =
            std::sqrt((hi[0] - lo[0]) * (hi[0] - lo[0]) + (hi[1] - lo[1]) * (hi[1] - lo[1]) +
                      (hi[2] - lo[2]) * (hi[2] - lo[2]));
        cell_ = std::max(diag / std::sqrt(static_cast<double>(samples_.size())), 1e-12);
        low_ = gp_Pnt(lo[0], lo[1], lo[2]);
        for (int c = 0; c < 3; ++c)
            dims_[c] = std::min(4096, static_cast<int>((hi[c] - lo[c]) / cell_) + 1);
    }
    cells_.reserve(samples_.size());
    for (size_t s = 0; s < samples_.size(); ++s) {
        int idx[3];
        for (int c = 0; c < 3; ++c)
            idx[c] = std::clamp(
                static_cast<int>((samples_[s].point.Coord(c + 1) - low_.Coord(c + 1)) / cell_), 0,
                dims_[c] - 1);
        cells_.push_back({cell_key(idx[0], idx[1], idx[2]), static_cast<int>(s)});
    }
    std::sort(cells_.begin(), cells_.end());
}

long SurfaceProbe::cell_key(int i, int j, int k) const {
    return (static_cast<long>(i) * dims_[1] + j) * dims_[2] + k;
}

std::vector<const SurfaceProbe::Sample*> SurfaceProbe::nearest_samples(const gp_Pnt& p) const {
    int at[3];
    for (int c = 0; c < 3; ++c)
        at[c] = std::clamp(static_cast<int>((p.Coord(c + 1) - low_.Coord(c + 1)) / cell_), 0,
                           dims_[c] - 1);
    // Samples that tie for the nearest (a seam or a pole repeats a point):
    // each is a start, since only one may lead to the foot point.
    std::vector<const Sample*> best;
    double best_d = std::numeric_limits<double>::infinity();
    const double tie = 1e-9 * cell_;
    const int max_ring = std::max({dims_[0], dims_[1], dims_[2]});
    for (int r = 0; r <= max_ring; ++r) {
        for (int i = at[0] - r; i <= at[0] + r; ++i)
            for (int j = at[1] - r; j <= at[1] + r; ++j)
                for (int k = at[2] - r; k <= at[2] + r; ++k) {
                    const bool shell = std::abs(i - at[0]) == r || std::abs(j - at[1]) == r ||
                                       std::abs(k - at[2]) == r;
                    if (!shell || i < 0 || j < 0 || k < 0 || i >= dims_[0] || j >= dims_[1] ||
                        k >= dims_[2])
                        continue;
                    const long key = cell_key(i, j, k);
                    auto it =
                        std::lower_bound(cells_.begin(), cells_.end(), std::make_pair(key, -1));
                    for (; it != cells_.end() && it->first == key; ++it) {
                        const Sample* s = &samples_[it->second];
                        const double d = p.Distance(s->point);
                        if (d < best_d - tie) best.clear();
                        if (d <= best_d + tie) best.push_back(s);
                        best_d = std::min(best_d, d);
                    }
                }
        // Every sample not yet seen lies at least r cells away from p's cell.
        if (!best.empty() && best_d + tie < r * cell_) break;
    }
    // A pole ties a whole row: keep starts spread over it, both ends included.
    const size_t keep = 12;
    if (best.size() > keep) {
        std::sort(best.begin(), best.end(), [](const Sample* x, const Sample* y) {
            return x->u != y->u ? x->u < y->u : x->v < y->v;
        });
        std::vector<const Sample*> spread;
        for (size_t k = 0; k < keep; ++k)
            spread.push_back(best[k * (best.size() - 1) / (keep - 1)]);
        best.swap(spread);
    }
    return best;
}

double SurfaceProbe::descend(const gp_Pnt& p, double u, double v, gp_Pnt& foot) const {
    foot = surface_->Value(u, v);
    double best = p.Distance(foot);
    double mu = 1e-3;
    const double enough = 1e-12 * cell_;  // an improvement below this ends the search
    for (int it = 0, misses = 0; it < 60 && best > 0 && misses < 6; ++it) {
        gp_Pnt s;
        gp_Vec su, sv;
        surface_->D1(u, v, s, su, sv);
        const gp_Vec r(p, s);
        const double a = su.Dot(su), b = su.Dot(sv), c = sv.Dot(sv);
        const double gu = r.Dot(su), gv = r.Dot(sv);
        // Marquardt's scaling keeps steps in u possible where Su nearly
        // vanishes (next to a pole).
        const double floor = 1e-14 * (a + c) + 1e-300;
        const double a2 = a + mu * std::max(a, floor), c2 = c + mu * std::max(c, floor);
        const double det = a2 * c2 - b * b;
        if (!(det > 0)) break;
        const double du = -(c2 * gu - b * gv) / det, dv = -(a2 * gv - b * gu) / det;
        const double nu = std::clamp(u + du, u0_, u1_), nv = std::clamp(v + dv, v0_, v1_);
        const gp_Pnt q = surface_->Value(nu, nv);
        const double d = p.Distance(q);
        if (d < best) {
            const bool done = best - d <= enough;
            foot = q, best = d, u = nu, v = nv, mu = std::max(mu / 4, 1e-9), misses = 0;
            if (done) break;
        } else {
            mu *= 8;
            ++misses;
        }
    }
    return best;
}

double SurfaceProbe::distance(const gp_Pnt& p, gp_Pnt* foot) const {
    double best = std::numeric_limits<double>::infinity();
    for (const Sample* s : nearest_samples(p)) {
        gp_Pnt q;
        const double d = descend(p, s->u, s->v, q);
        if (d < best) {
            best = d;
            if (foot) *foot = q;
        }
    }
    return best;
}

EdgeProbe::EdgeProbe(const TopoDS_Face& face, double chord) {
    auto add = [&](const gp_Pnt& a, const gp_Pnt& b) {
        a_.push_back(a);
        b_.push_back(b);
    };
    for (TopExp_Explorer ex(face, TopAbs_EDGE); ex.More(); ex.Next()) {
        const TopoDS_Edge& edge = TopoDS::Edge(ex.Current());
        if (BRep_Tool::Degenerated(edge)) {
            const gp_Pnt p = BRep_Tool::Pnt(TopExp::FirstVertex(edge));
            add(p, p);
            continue;
        }
        const BRepAdaptor_Curve curve(edge, face);
        const double t0 = curve.FirstParameter(), t1 = curve.LastParameter();
        // Split until the midpoint and quarter points of each piece lie
        // within `chord` of its chord.
        std::function<void(double, double, const gp_Pnt&, const gp_Pnt&, int)> split =
            [&](double s0, double s1, const gp_Pnt& p0, const gp_Pnt& p1, int depth) {
                const gp_Pnt pm = curve.Value(0.5 * (s0 + s1));
                const bool flat =
                    segment_distance(pm, p0, p1) <= chord &&
                    segment_distance(curve.Value(0.75 * s0 + 0.25 * s1), p0, p1) <= chord &&
                    segment_distance(curve.Value(0.25 * s0 + 0.75 * s1), p0, p1) <= chord;
                if (flat || depth > 18) {
                    add(p0, p1);
                    return;
                }
                split(s0, 0.5 * (s0 + s1), p0, pm, depth + 1);
                split(0.5 * (s0 + s1), s1, pm, p1, depth + 1);
            };
        const int pieces = 16;
        for (int k = 0; k < pieces; ++k) {
            const double s0 = t0 + (t1 - t0) * k / pieces, s1 = t0 + (t1 - t0) * (k + 1) / pieces;
            split(s0, s1, curve.Value(s0), curve.Value(s1), 0);
        }
    }
    for (size_t first = 0; first < a_.size(); first += 16) {
        Run run{a_[first], a_[first], first, std::min(first + 16, a_.size())};
        for (size_t s = first; s < run.last; ++s)
            for (const gp_Pnt& q : {a_[s], b_[s]})
                for (int c = 1; c <= 3; ++c) {
                    run.low.SetCoord(c, std::min(run.low.Coord(c), q.Coord(c)));
                    run.high.SetCoord(c, std::max(run.high.Coord(c), q.Coord(c)));
                }
        runs_.push_back(run);
    }
}

double EdgeProbe::distance(const gp_Pnt& p) const {
    double best = std::numeric_limits<double>::infinity();
    for (const Run& run : runs_) {
        double box2 = 0;
        for (int c = 1; c <= 3; ++c) {
            const double d =
                std::max({run.low.Coord(c) - p.Coord(c), 0.0, p.Coord(c) - run.high.Coord(c)});
            box2 += d * d;
        }
        if (box2 >= best * best) continue;
        for (size_t s = run.first; s < run.last; ++s)
            best = std::min(best, segment_distance(p, a_[s], b_[s]));
    }
    return best;
}

// The area a triangle covers on the surface: the triangle cut into
// kCoverSteps^2 smaller ones whose corners are carried to the surface. The
// chord height then hardly counts (its share of the area shrinks with the
// square of the steps), so what is missing shows as a gap in the mesh.
constexpr int kCoverSteps = 4;

double covered_area(const gp_Pnt& a, const gp_Pnt& b, const gp_Pnt& c,
                    const SurfaceProbe& surface) {
    constexpr int k = kCoverSteps;
    gp_Pnt lifted[k + 1][k + 1];
    for (int i = 0; i <= k; ++i)
        for (int j = 0; i + j <= k; ++j) {
            const gp_Pnt p(a.XYZ() + (b.XYZ() - a.XYZ()) * (double(i) / k) +
                           (c.XYZ() - a.XYZ()) * (double(j) / k));
            surface.distance(p, &lifted[i][j]);
        }
    double area = 0;
    for (int i = 0; i < k; ++i)
        for (int j = 0; i + j < k; ++j) {
            area += triangle_area(lifted[i][j], lifted[i + 1][j], lifted[i][j + 1]);
            if (i + j + 1 < k)
                area += triangle_area(lifted[i + 1][j], lifted[i + 1][j + 1], lifted[i][j + 1]);
        }
    return area;
}

Quality measure(const Mesh& mesh, const SurfaceProbe& surface, const EdgeProbe& edges) {
    Quality q;
    const auto& n = mesh.nodes;
    std::vector<char> used(n.size(), 0);
    for (const auto& t : mesh.triangles) {
        const gp_Pnt centroid((n[t[0]].XYZ() + n[t[1]].XYZ() + n[t[2]].XYZ()) / 3.0);
        q.deviation = std::max(q.deviation, surface.distance(centroid));
        q.area += covered_area(n[t[0]], n[t[1]], n[t[2]], surface);
        for (int k = 0; k < 3; ++k) used[t[k]] = 1;
    }
    for (size_t i = 0; i < n.size(); ++i)
        if (used[i]) q.deviation = std::max(q.deviation, surface.distance(n[i]));
    for (const auto& e : all_edges(mesh))
        q.deviation = std::max(q.deviation, surface.distance(midpoint(n[e[0]], n[e[1]])));
    for (const auto& e : open_edges(mesh))
        for (const gp_Pnt& p : {n[e[0]], n[e[1]], midpoint(n[e[0]], n[e[1]])})
            q.boundary = std::max(q.boundary, edges.distance(p));
    return q;
}

}  // namespace occt_bench
