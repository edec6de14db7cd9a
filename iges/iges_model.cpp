#include "iges/iges_model.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <new>
#include <set>
#include <stdexcept>

namespace ruvane::iges {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kMaxDegree = 28;  // the tessellator's own limit

// A broken entity: unwinds to the face (or entity) being read, which is
// then skipped with this reason.
struct Broken {
    std::string reason;
};

[[noreturn]] void broken(const std::string& why) { throw Broken{why}; }

struct Affine {
    double r[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    double t[3] = {0, 0, 0};
};

Affine compose(const Affine& outer, const Affine& inner) {
    Affine c;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            double s = 0;
            for (int k = 0; k < 3; ++k) s += outer.r[i * 3 + k] * inner.r[k * 3 + j];
            c.r[i * 3 + j] = s;
        }
        double s = outer.t[i];
        for (int k = 0; k < 3; ++k) s += outer.r[i * 3 + k] * inner.t[k];
        c.t[i] = s;
    }
    return c;
}

bool is_identity(const Affine& a) {
    const Affine id;
    return std::equal(a.r, a.r + 9, id.r) && std::equal(a.t, a.t + 3, id.t);
}

// Homogeneous points (x w, y w, z w, w) through an affine map.
void apply(const Affine& a, std::vector<double>* points) {
    for (size_t i = 0; i + 3 < points->size(); i += 4) {
        double* p = &(*points)[i];
        const double x = p[0], y = p[1], z = p[2], w = p[3];
        for (int k = 0; k < 3; ++k)
            p[k] = a.r[k * 3] * x + a.r[k * 3 + 1] * y + a.r[k * 3 + 2] * z + a.t[k] * w;
    }
}

Affine scaling(double s) {
    Affine a;
    a.r[0] = a.r[4] = a.r[8] = s;
    return a;
}

Vec3 sub(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 add(const Vec3& a, const Vec3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 mul(const Vec3& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double norm(const Vec3& a) { return std::sqrt(dot(a, a)); }

// A curve entity as NURBS pieces in order, with the map from its IGES
// parameter to the NURBS parameter when it is one arc.
struct Path {
    std::vector<HCurve> pieces;
    ParamMap map;
};

// A surface with the maps of its two IGES parameters; a plane (108) is a
// frame whose extent the face's loops decide.
struct SurfaceInfo {
    HSurface s;
    ParamMap mu, mv;
    bool plane = false;
    Vec3 origin, e1, e2;
    // 192 to 198: a surface of revolution about the axis through `origin`
    // along `axis`, angles measured from e1 towards e2; its extent, like a
    // plane's, comes from the face's loops (model-space curves mapped
    // exactly), so it is built by finish_face.
    int analytic = 0;
    Vec3 axis;
    double radius = 0, slope = 0, minor = 0;
    bool frame_only() const { return plane || analytic != 0; }
};

// A surface moved by an affine map: the net, or the frame of a plane or an
// analytic surface (directions move without the translation).
void place(const Affine& a, SurfaceInfo* s) {
    if (is_identity(a)) return;
    if (!s->frame_only()) {
        apply(a, &s->s.points);
        return;
    }
    std::vector<double> frame = {s->origin.x, s->origin.y, s->origin.z, 1,       s->e1.x, s->e1.y,
                                 s->e1.z,     0,           s->e2.x,     s->e2.y, s->e2.z, 0,
                                 s->axis.x,   s->axis.y,   s->axis.z,   0};
    apply(a, &frame);
    s->origin = {frame[0], frame[1], frame[2]};
    s->e1 = {frame[4], frame[5], frame[6]};
    s->e2 = {frame[8], frame[9], frame[10]};
    s->axis = {frame[12], frame[13], frame[14]};
}

// The parameter accessors of one entity.
struct Params {
    std::vector<Param> v;
    int seq = 0;
    size_t size() const { return v.size(); }
    double num(size_t i) const {
        if (i >= v.size() || v[i].kind == Param::kEmpty) return 0.0;
        if (v[i].kind != Param::kNumber) broken("parameter " + std::to_string(i) + " is no number");
        return v[i].number;
    }
    int integer(size_t i) const {
        const double d = num(i);
        if (d != std::floor(d) || std::fabs(d) > 1e9)
            broken("parameter " + std::to_string(i) + " is no integer");
        return static_cast<int>(d);
    }
    void need(size_t n) const {
        if (v.size() < n) broken("too few parameters");
    }
};

class Reader {
public:
    Reader(const File& f, const Limits& l, Model* m) : file_(f), limits_(l), model_(m) {
        units_ = scaling(f.global.unit_to_mm);
    }
    void run();

private:
    const File& file_;
    const Limits& limits_;
    Model* model_;
    Affine units_;
    size_t used_doubles_ = 0;
    int depth_ = 0;
    std::set<int> taken_;                               // entities meshed as (part of) a face
    std::map<std::pair<int, int>, size_t> edge_slots_;  // (list, index) -> model_->edges
    std::map<int, Affine> transforms_;
    std::map<int, Params> edge_lists_;  // 504 lists by DE sequence number

    const DirEntry& entry(int seq) const {
        const int i = entry_index(file_, seq);
        if (i < 0) broken("pointer " + std::to_string(seq) + " to no entity");
        return file_.entries[static_cast<size_t>(i)];
    }
    Params params(int seq, int type) const;
    void charge(size_t doubles) {
        used_doubles_ += doubles;
        if (used_doubles_ > limits_.max_doubles)
            broken("the model exceeds the reader's size limit");
    }
    struct Depth {
        Reader* r;
        explicit Depth(Reader* reader) : r(reader) {
            if (++r->depth_ > r->limits_.max_depth) {
                --r->depth_;
                broken("entity references nested too deep (or a cycle)");
            }
        }
        ~Depth() { --r->depth_; }
    };

    Affine transform_of(int seq);
    Affine within(const DirEntry& e, const Affine& parent);
    Path curve(int seq, bool model_space);
    Path curve_raw(const DirEntry& e);
    HCurve nurbs_curve(const Params& p);
    HCurve conic(const Params& p, int form, ParamMap* map);
    HCurve copious(const Params& p, int form);
    SurfaceInfo surface(int seq);
    SurfaceInfo surface_raw(const DirEntry& e);
    HSurface nurbs_surface(const Params& p);
    SurfaceInfo revolution(const Params& p);
    SurfaceInfo tabulated(const Params& p);
    SurfaceInfo ruled(const Params& p);
    SurfaceInfo analytic(const Params& p, int type, int form);
    Vec3 point_116(int seq);
    Vec3 direction_123(int seq);

    std::vector<TrimCurve> param_loop(const Path& path, const SurfaceInfo& s);
    std::vector<TrimCurve> model_loop(const Path& path, const SurfaceInfo& s);
    std::vector<TrimCurve> loop_piece(const SurfaceInfo& s, const std::vector<int>& param_curves,
                                      const std::function<Path()>& model_curve, bool backwards);
    Face start_face(const DirEntry& e, int type, int surface_seq, const Affine& here,
                    SurfaceInfo* s);
    std::vector<TrimCurve> curve_on_surface(int seq, const SurfaceInfo& s, const Affine& parent);
    void finish_face(SurfaceInfo& s, Face* face);
    void build_analytic(SurfaceInfo& s, Face* face);

    void face_144(const DirEntry& e, const Affine& parent);
    void face_143(const DirEntry& e, const Affine& parent);
    void face_108(const DirEntry& e);
    void face_plain(const DirEntry& e);
    void face_510(const DirEntry& e, const Affine& parent, bool reversed, int shell);
    void shell_514(const DirEntry& e, const Affine& parent, bool reversed);
    void solid_186(const DirEntry& e);
    const Edge& edge(int list, int index);

    void skip(const DirEntry& e, const std::string& why) {
        model_->skipped.push_back({e.seq, e.type, why});
    }
    template <typename F>
    void guarded(const DirEntry& e, F&& f);
};

Params Reader::params(int seq, int type) const {
    const DirEntry& e = entry(seq);
    if (type != 0 && e.type != type)
        broken("entity " + std::to_string(seq) + " is type " + std::to_string(e.type) +
               ", expected " + std::to_string(type));
    Params p;
    p.seq = seq;
    if (!entity_params(file_, e, limits_, &p.v)) broken("parameter data out of range or too long");
    if (p.v.empty() || p.v[0].kind != Param::kNumber || p.v[0].number != e.type)
        broken("parameter data of another entity type");
    return p;
}

Affine Reader::transform_of(int seq) {
    auto found = transforms_.find(seq);
    if (found != transforms_.end()) return found->second;
    Depth guard(this);
    const DirEntry& e = entry(seq);
    if (e.type != 124) broken("transformation pointer to entity type " + std::to_string(e.type));
    const Params p = params(seq, 124);
    p.need(13);
    Affine a;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) a.r[row * 3 + col] = p.num(1 + row * 4 + col);
        a.t[row] = p.num(4 + row * 4);
    }
    // A transformation may itself be transformed: the outer one applies last.
    if (e.transform != 0) a = compose(transform_of(e.transform), a);
    transforms_[seq] = a;
    return a;
}

// Where an entity lies: its own transformation first, then its parent's.
Affine Reader::within(const DirEntry& e, const Affine& parent) {
    return e.transform ? compose(parent, transform_of(e.transform)) : parent;
}

HCurve Reader::nurbs_curve(const Params& p) {
    const int k = p.integer(1), m = p.integer(2);
    if (m < 1 || m > kMaxDegree || k < m || k > (1 << 22))
        broken("B-spline curve of degree " + std::to_string(m) + " with " + std::to_string(k + 1) +
               " points");
    const size_t n = static_cast<size_t>(k) + 1;
    const size_t nk = n + static_cast<size_t>(m) + 1;
    const size_t first_knot = 7, first_weight = first_knot + nk, first_point = first_weight + n;
    p.need(first_point + 3 * n + 2);
    charge(5 * n + nk);
    HCurve c;
    c.degree = m;
    for (size_t i = 0; i < nk; ++i) c.knots.push_back(p.num(first_knot + i));
    for (size_t i = 0; i < n; ++i) {
        const double w = p.num(first_weight + i);
        if (!(w > 0) || !std::isfinite(w)) broken("B-spline curve weight not positive");
        c.points.insert(c.points.end(),
                        {p.num(first_point + 3 * i) * w, p.num(first_point + 3 * i + 1) * w,
                         p.num(first_point + 3 * i + 2) * w, w});
    }
    if (!valid(c)) broken("B-spline curve knots not increasing or not finite");
    double v0 = p.num(first_point + 3 * n), v1 = p.num(first_point + 3 * n + 1);
    v0 = std::max(v0, c.first());
    v1 = std::min(v1, c.last());
    if (!(v0 < v1)) v0 = c.first(), v1 = c.last();
    if (!clip(&c, v0, v1)) broken("B-spline curve range not usable");
    return c;
}

HCurve Reader::conic(const Params& p, int form, ParamMap* map) {
    p.need(12);
    const double A = p.num(1), B = p.num(2), C = p.num(3), D = p.num(4), E = p.num(5), F = p.num(6),
                 z = p.num(7);
    const double x1 = p.num(8), y1 = p.num(9), x2 = p.num(10), y2 = p.num(11);
    if (form == 1 || (form == 0 && A * C > 0)) {
        // An ellipse in standard position: the unit circle's arc, scaled.
        if (!(A * C > 0) || !(-F / A > 0) || B != 0 || D != 0 || E != 0)
            broken("ellipse not in standard position");
        const double a = std::sqrt(-F / A), b = std::sqrt(-F / C);
        double t0 = std::atan2(y1 / b, x1 / a), t1 = std::atan2(y2 / b, x2 / a);
        if (t1 <= t0 + 1e-12) t1 += 2 * kPi;
        HCurve c = arc(0, 0, 0, 1, t0, t1, map);
        for (size_t i = 0; i < c.points.size(); i += 4) {
            c.points[i] *= a;
            c.points[i + 1] *= b;
            c.points[i + 2] = z * c.points[i + 3];
        }
        return c;
    }
    // Parabola or hyperbola arc: one rational quadratic through the end
    // points, its middle point where the end tangents meet, its weight from
    // the conic's point on the line from the chord's middle to it.
    auto f = [&](double x, double y) {
        return A * x * x + B * x * y + C * y * y + D * x + E * y + F;
    };
    const Vec3 g0{2 * A * x1 + B * y1 + D, B * x1 + 2 * C * y1 + E, 0};
    const Vec3 g2{2 * A * x2 + B * y2 + D, B * x2 + 2 * C * y2 + E, 0};
    const double det = g0.x * g2.y - g0.y * g2.x;
    if (std::fabs(det) < 1e-14 * (norm(g0) * norm(g2) + 1e-300))
        broken("conic arc tangents parallel");
    const double r0 = g0.x * x1 + g0.y * y1, r2 = g2.x * x2 + g2.y * y2;
    const double px = (r0 * g2.y - g0.y * r2) / det, py = (g0.x * r2 - r0 * g2.x) / det;
    const double mx = (x1 + x2) / 2, my = (y1 + y2) / 2;
    const double dx = px - mx, dy = py - my;
    // f(M + s d) = a s^2 + b s + c
    const double qa = A * dx * dx + B * dx * dy + C * dy * dy;
    const double qc = f(mx, my);
    const double qb = f(mx + dx, my + dy) - qa - qc;
    double s = -1;
    if (std::fabs(qa) < 1e-300) {
        if (qb != 0) s = -qc / qb;
    } else {
        const double disc = qb * qb - 4 * qa * qc;
        if (disc >= 0) {
            const double r = std::sqrt(disc);
            for (double cand : {(-qb - r) / (2 * qa), (-qb + r) / (2 * qa)})
                if (cand > 0 && cand < 1 && (s < 0 || cand < s)) s = cand;
        }
    }
    if (!(s > 0 && s < 1)) broken("conic arc end points not on one branch");
    const double w = s / (1 - s);
    HCurve c;
    c.degree = 2;
    c.knots = {0, 0, 0, 1, 1, 1};
    c.points = {x1, y1, z, 1, px * w, py * w, z * w, w, x2, y2, z, 1};
    return c;
}

HCurve Reader::copious(const Params& p, int form) {
    const int ip = p.integer(1), n = p.integer(2);
    if ((ip != 1 && ip != 2) || n < 2 || n > (1 << 22)) broken("copious data not a polyline");
    const size_t un = static_cast<size_t>(n);
    const size_t stride = ip == 1 ? 2 : 3, first = ip == 1 ? 4 : 3;
    p.need(first + stride * un);
    charge(5 * un);
    (void)form;
    HCurve c;
    c.degree = 1;
    const double z = ip == 1 ? p.num(3) : 0.0;
    for (size_t i = 0; i < un; ++i) {
        const size_t a = first + stride * i;
        c.points.insert(c.points.end(), {p.num(a), p.num(a + 1), ip == 1 ? z : p.num(a + 2), 1});
        c.knots.push_back(static_cast<double>(i));
    }
    c.knots.insert(c.knots.begin(), 0.0);
    c.knots.push_back(static_cast<double>(n - 1));
    if (!valid(c)) broken("copious data not finite");
    return c;
}

Path Reader::curve_raw(const DirEntry& e) {
    Path path;
    const Params p = params(e.seq, e.type);
    switch (e.type) {
        case 100: {
            p.need(8);
            const double z = p.num(1), cx = p.num(2), cy = p.num(3);
            const double sx = p.num(4) - cx, sy = p.num(5) - cy, ex = p.num(6) - cx,
                         ey = p.num(7) - cy;
            const double r = std::hypot(sx, sy);
            if (!(r > 0) || !std::isfinite(r)) broken("circular arc of no radius");
            const double a0 = std::atan2(sy, sx);
            double a1 = std::atan2(ey, ex);
            if (a1 <= a0 + 1e-12) a1 += 2 * kPi;
            path.pieces.push_back(arc(cx, cy, z, r, a0, a1, &path.map));
            break;
        }
        case 102: {
            const int n = p.integer(1);
            if (n < 1 || static_cast<size_t>(n) + 2 > p.size() + 1)
                broken("composite curve of no curves");
            p.need(2 + static_cast<size_t>(n));
            for (int i = 0; i < n; ++i) {
                Path sub = curve(p.integer(2 + static_cast<size_t>(i)), true);
                for (HCurve& c : sub.pieces) path.pieces.push_back(std::move(c));
            }
            break;
        }
        case 104: {
            HCurve c = conic(p, e.form, &path.map);
            if (e.form != 1) path.map = ParamMap{};
            path.pieces.push_back(std::move(c));
            break;
        }
        case 106:
            if (e.form != 1 && e.form != 2 && e.form != 11 && e.form != 12 && e.form != 63)
                broken("copious data form " + std::to_string(e.form) + " is no curve");
            path.pieces.push_back(copious(p, e.form));
            break;
        case 110: {
            p.need(7);
            path.pieces.push_back(
                line({p.num(1), p.num(2), p.num(3)}, {p.num(4), p.num(5), p.num(6)}));
            break;
        }
        case 126:
            path.pieces.push_back(nurbs_curve(p));
            break;
        default:
            broken("unsupported curve type " + std::to_string(e.type));
    }
    for (const HCurve& c : path.pieces)
        for (double v : c.points)
            if (!std::isfinite(v)) broken("curve not finite");
    return path;
}

// The curve with its own transformation (and those it nests) applied.
Path Reader::curve(int seq, bool model_space) {
    Depth guard(this);
    const DirEntry& e = entry(seq);
    Path path = curve_raw(e);
    if (e.transform != 0) {
        const Affine t = transform_of(e.transform);
        for (HCurve& c : path.pieces) apply(t, &c.points);
    }
    (void)model_space;
    for (const HCurve& c : path.pieces) charge(c.points.size() + c.knots.size());
    return path;
}

HSurface Reader::nurbs_surface(const Params& p) {
    const int k1 = p.integer(1), k2 = p.integer(2), m1 = p.integer(3), m2 = p.integer(4);
    if (m1 < 1 || m2 < 1 || m1 > kMaxDegree || m2 > kMaxDegree || k1 < m1 || k2 < m2 ||
        k1 > (1 << 20) || k2 > (1 << 20))
        broken("B-spline surface degrees or counts not usable");
    const size_t n1 = static_cast<size_t>(k1) + 1, n2 = static_cast<size_t>(k2) + 1;
    // In 64 bits: on the 32-bit product n1 * n2 would wrap and pass.
    if (static_cast<unsigned long long>(n1) * n2 > (1ULL << 22))
        broken("B-spline surface too large");
    const size_t nk1 = n1 + static_cast<size_t>(m1) + 1, nk2 = n2 + static_cast<size_t>(m2) + 1;
    const size_t s0 = 10, t0 = s0 + nk1, w0 = t0 + nk2, p0 = w0 + n1 * n2;
    p.need(p0 + 3 * n1 * n2 + 4);
    charge(4 * n1 * n2 + nk1 + nk2);
    HSurface s;
    s.du = m1;
    s.dv = m2;
    s.nu = static_cast<int>(n1);
    s.nv = static_cast<int>(n2);
    for (size_t i = 0; i < nk1; ++i) s.uk.push_back(p.num(s0 + i));
    for (size_t i = 0; i < nk2; ++i) s.vk.push_back(p.num(t0 + i));
    for (size_t i = 0; i < n1 * n2; ++i) {
        const double w = p.num(w0 + i);
        if (!(w > 0) || !std::isfinite(w)) broken("B-spline surface weight not positive");
        s.points.insert(s.points.end(), {p.num(p0 + 3 * i) * w, p.num(p0 + 3 * i + 1) * w,
                                         p.num(p0 + 3 * i + 2) * w, w});
    }
    const size_t r = p0 + 3 * n1 * n2;
    HCurve cu = along_u(s), cv;
    if (!valid(cu)) broken("B-spline surface u knots not usable");
    double u0 = std::max(p.num(r), cu.first()), u1 = std::min(p.num(r + 1), cu.last());
    if (!(u0 < u1)) u0 = cu.first(), u1 = cu.last();
    if (!clip(&cu, u0, u1)) broken("B-spline surface u range not usable");
    from_u(cu, &s);
    cv = along_v(s);
    if (!valid(cv)) broken("B-spline surface v knots not usable");
    double v0 = std::max(p.num(r + 2), cv.first()), v1 = std::min(p.num(r + 3), cv.last());
    if (!(v0 < v1)) v0 = cv.first(), v1 = cv.last();
    if (!clip(&cv, v0, v1)) broken("B-spline surface v range not usable");
    from_v(cv, &s);
    return s;
}

SurfaceInfo Reader::ruled(const Params& p) {
    p.need(5);
    Path a = curve(p.integer(1), true), b = curve(p.integer(2), true);
    if (a.pieces.empty() || b.pieces.empty()) broken("ruled surface without its curves");
    HCurve c1 = a.pieces.size() == 1 ? a.pieces[0] : join(a.pieces);
    HCurve c2 = b.pieces.size() == 1 ? b.pieces[0] : join(b.pieces);
    if (p.integer(3) == 1) reverse(&c2);
    make_compatible(&c1, &c2);
    charge(2 * c1.points.size());
    SurfaceInfo info;
    HSurface& s = info.s;
    s.du = c1.degree;
    s.uk = c1.knots;
    s.nu = c1.count();
    s.dv = 1;
    s.nv = 2;
    s.vk = {0, 0, 1, 1};
    s.points = c1.points;
    s.points.insert(s.points.end(), c2.points.begin(), c2.points.end());
    return info;
}

SurfaceInfo Reader::revolution(const Params& p) {
    p.need(5);
    const Path axis = curve(p.integer(1), true);
    const HCurve& l = axis.pieces.at(0);
    if (entry(p.integer(1)).type != 110) broken("surface of revolution axis is no line");
    const Vec3 o = point3(l, l.first()), dir = sub(point3(l, l.last()), o);
    if (!(norm(dir) > 0)) broken("surface of revolution axis of no length");
    const Vec3 a = mul(dir, 1 / norm(dir));
    Path gen = curve(p.integer(2), true);
    SurfaceInfo info;
    HCurve g = gen.pieces.size() == 1 ? gen.pieces[0] : join(gen.pieces);
    if (gen.pieces.size() == 1) info.mu = gen.map;
    const double sa = p.num(3), ta = p.num(4);
    if (!(ta > sa) || ta - sa > 2 * kPi + 1e-9) broken("surface of revolution angles not usable");
    const HCurve circle = arc(0, 0, 0, 1, sa, ta, &info.mv);
    const int nc = circle.count();
    charge(static_cast<size_t>(g.count() * nc) * 4);
    HSurface& s = info.s;
    s.du = g.degree;
    s.uk = g.knots;
    s.nu = g.count();
    s.dv = 2;
    s.vk = circle.knots;
    s.nv = nc;
    s.points.resize(static_cast<size_t>(s.nu * nc) * 4);
    for (int i = 0; i < s.nu; ++i) {
        const double* h = &g.points[static_cast<size_t>(i) * 4];
        const Vec3 P{h[0] / h[3], h[1] / h[3], h[2] / h[3]};
        const Vec3 foot = add(o, mul(a, dot(sub(P, o), a)));
        const Vec3 r = sub(P, foot), q = cross(a, r);
        for (int k = 0; k < nc; ++k) {
            const double* c = &circle.points[static_cast<size_t>(k) * 4];
            const double w = c[3];
            // The circle's control point (x, y) in the frame (r, q) around foot.
            const Vec3 Q = add(foot, add(mul(r, c[0] / w), mul(q, c[1] / w)));
            double* out = &s.points[(static_cast<size_t>(k) * s.nu + i) * 4];
            const double ww = w * h[3];
            out[0] = Q.x * ww, out[1] = Q.y * ww, out[2] = Q.z * ww, out[3] = ww;
        }
    }
    return info;
}

SurfaceInfo Reader::tabulated(const Params& p) {
    p.need(5);
    Path d = curve(p.integer(1), true);
    SurfaceInfo info;
    HCurve c = d.pieces.size() == 1 ? d.pieces[0] : join(d.pieces);
    if (d.pieces.size() == 1 && d.map.angular)
        info.mu = ParamMap{true, 0, 1, d.map.sweep, d.map.segments};
    remap(&c, 0, 1);
    const Vec3 start = point3(c, 0), end{p.num(2), p.num(3), p.num(4)};
    const Vec3 shift = sub(end, start);
    HSurface& s = info.s;
    s.du = c.degree;
    s.uk = c.knots;
    s.nu = c.count();
    s.dv = 1;
    s.nv = 2;
    s.vk = {0, 0, 1, 1};
    s.points = c.points;
    for (int i = 0; i < s.nu; ++i) {
        const double* h = &c.points[static_cast<size_t>(i) * 4];
        s.points.insert(s.points.end(), {h[0] + shift.x * h[3], h[1] + shift.y * h[3],
                                         h[2] + shift.z * h[3], h[3]});
    }
    charge(s.points.size());
    return info;
}

SurfaceInfo Reader::surface_raw(const DirEntry& e) {
    const Params p = params(e.seq, e.type);
    switch (e.type) {
        case 108: {
            p.need(5);
            const Vec3 n{p.num(1), p.num(2), p.num(3)};
            const double len = norm(n);
            if (!(len > 0) || !std::isfinite(len)) broken("plane of no normal");
            SurfaceInfo info;
            info.plane = true;
            const Vec3 un = mul(n, 1 / len);
            info.origin = mul(un, p.num(4) / len);
            const Vec3 helper = std::fabs(un.x) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
            info.e1 = mul(cross(helper, un), 1 / norm(cross(helper, un)));
            info.e2 = cross(un, info.e1);
            return info;
        }
        case 190:
        case 192:
        case 194:
        case 196:
        case 198:
            return analytic(p, e.type, e.form);
        case 118:
            return ruled(p);
        case 120:
            return revolution(p);
        case 122:
            return tabulated(p);
        case 128: {
            SurfaceInfo info;
            info.s = nurbs_surface(p);
            return info;
        }
        default:
            broken("unsupported surface type " + std::to_string(e.type));
    }
}

Vec3 Reader::point_116(int seq) {
    Depth guard(this);
    const Params p = params(seq, 116);
    p.need(4);
    std::vector<double> h = {p.num(1), p.num(2), p.num(3), 1};
    const DirEntry& e = entry(seq);
    if (e.transform != 0) iges::apply(transform_of(e.transform), &h);
    return {h[0], h[1], h[2]};
}

// A unit direction; a transformation turns it without moving it.
Vec3 Reader::direction_123(int seq) {
    Depth guard(this);
    const Params p = params(seq, 123);
    p.need(4);
    std::vector<double> h = {p.num(1), p.num(2), p.num(3), 0};
    const DirEntry& e = entry(seq);
    if (e.transform != 0) iges::apply(transform_of(e.transform), &h);
    const Vec3 d{h[0], h[1], h[2]};
    const double n = norm(d);
    if (!(n > 0) || !std::isfinite(n)) broken("direction of no length");
    return mul(d, 1 / n);
}

// The plane (190), right circular cylinder (192) and cone (194), sphere
// (196) and torus (198). Form 1 names the reference direction from which
// angles are measured; without it any perpendicular serves (the faces'
// loops are mapped from model space, so the choice only moves the seam).
SurfaceInfo Reader::analytic(const Params& p, int type, int form) {
    SurfaceInfo info;
    Vec3 axis{0, 0, 1};
    int ref = 0;
    double angle = 0;
    const auto reference = [&](size_t i) {
        if (form == 1) p.need(i + 1), ref = p.integer(i);
    };
    switch (type) {
        case 190:
            p.need(3);
            info.origin = point_116(p.integer(1));
            axis = direction_123(p.integer(2));
            reference(3);
            break;
        case 192:
        case 194:
            p.need(type == 192 ? 4 : 5);
            info.origin = point_116(p.integer(1));
            axis = direction_123(p.integer(2));
            info.radius = p.num(3);
            if (type == 194) angle = p.num(4);
            reference(type == 192 ? 4 : 5);
            break;
        case 196:
            p.need(3);
            info.origin = point_116(p.integer(1));
            info.radius = p.num(2);
            if (form == 1) {
                p.need(5);
                axis = direction_123(p.integer(3));
                ref = p.integer(4);
            }
            break;
        default:  // 198
            p.need(5);
            info.origin = point_116(p.integer(1));
            axis = direction_123(p.integer(2));
            info.radius = p.num(3);
            info.minor = p.num(4);
            reference(5);
            break;
    }
    const bool cone = type == 194;
    if (type != 190 && (!(cone ? info.radius >= 0 : info.radius > 0) || info.radius > 1e12))
        broken("radius not usable");
    if (cone) {
        // The semi-angle is in degrees; the radius grows by its tangent
        // per unit along the axis.
        if (!(angle > 0 && angle < 90)) broken("cone semi-angle not usable");
        info.slope = std::tan(angle * kPi / 180);
    }
    if (type == 198 && !(info.minor > 0 && info.minor < info.radius))
        broken("torus radii not usable");
    Vec3 x;
    if (ref != 0) {
        x = direction_123(ref);
        x = sub(x, mul(axis, dot(x, axis)));
    }
    if (!(norm(x) > 1e-9)) x = cross(std::fabs(axis.x) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0}, axis);
    info.e1 = mul(x, 1 / norm(x));
    info.e2 = cross(axis, info.e1);
    if (type == 190) {
        info.plane = true;  // e1 x e2 is the normal
        return info;
    }
    info.analytic = type;
    info.axis = axis;
    return info;
}

SurfaceInfo Reader::surface(int seq) {
    Depth guard(this);
    const DirEntry& e = entry(seq);
    SurfaceInfo info = surface_raw(e);
    if (e.transform != 0) place(transform_of(e.transform), &info);
    taken_.insert(seq);
    return info;
}

void place(const Affine& a, Path* p) {
    if (is_identity(a)) return;
    for (HCurve& c : p->pieces) apply(a, &c.points);
}

// Four lines around the surface's parameter rectangle, counter-clockwise.
std::vector<TrimCurve> domain_loop(const HSurface& s) {
    const double u0 = s.uk[static_cast<size_t>(s.du)], u1 = s.uk[static_cast<size_t>(s.nu)];
    const double v0 = s.vk[static_cast<size_t>(s.dv)], v1 = s.vk[static_cast<size_t>(s.nv)];
    const Vec3 c[4] = {{u0, v0, 0}, {u1, v0, 0}, {u1, v1, 0}, {u0, v1, 0}};
    std::vector<TrimCurve> loop(4);
    for (int i = 0; i < 4; ++i) loop[static_cast<size_t>(i)].curve = line(c[i], c[(i + 1) % 4]);
    return loop;
}

// Affine coordinates (a, b) of the homogeneous point h in the frame
// (o; e1, e2), homogeneous again (a w, b w): exact for a curve in the plane.
void frame_coordinates(const Vec3& o, const Vec3& e1, const Vec3& e2, const double* h, double* a,
                       double* b) {
    const Vec3 d{h[0] - o.x * h[3], h[1] - o.y * h[3], h[2] - o.z * h[3]};
    const double g11 = dot(e1, e1), g12 = dot(e1, e2), g22 = dot(e2, e2);
    const double r1 = dot(d, e1), r2 = dot(d, e2);
    const double det = g11 * g22 - g12 * g12;
    *a = (r1 * g22 - r2 * g12) / det;
    *b = (g11 * r2 - g12 * r1) / det;
}

// A bilinear patch that is a parallelogram with equal weights: its
// parameters are an affine function of the point.
bool affine_patch(const HSurface& s, Vec3* o, Vec3* e1, Vec3* e2) {
    if (s.du != 1 || s.dv != 1 || s.nu != 2 || s.nv != 2) return false;
    const double* p = s.points.data();
    for (int i = 1; i < 4; ++i)
        if (p[i * 4 + 3] != p[3]) return false;
    Vec3 q[4];
    for (int i = 0; i < 4; ++i) q[i] = {p[i * 4] / p[3], p[i * 4 + 1] / p[3], p[i * 4 + 2] / p[3]};
    const Vec3 twist = sub(add(q[3], q[0]), add(q[1], q[2]));
    const double size = norm(sub(q[3], q[0])) + norm(sub(q[1], q[2]));
    if (norm(twist) > 1e-12 * size) return false;
    const double du = s.uk[2] - s.uk[1], dv = s.vk[2] - s.vk[1];
    *e1 = mul(sub(q[1], q[0]), 1 / du);
    *e2 = mul(sub(q[2], q[0]), 1 / dv);
    *o = sub(q[0], add(mul(*e1, s.uk[1]), mul(*e2, s.vk[1])));
    return norm(cross(*e1, *e2)) > 0;
}

bool axis_aligned(const HCurve& c) {
    if (c.degree != 1) return false;
    for (int i = 1; i < c.count(); ++i) {
        const double* a = &c.points[static_cast<size_t>(i - 1) * 4];
        const double* b = &c.points[static_cast<size_t>(i) * 4];
        if (a[0] / a[3] != b[0] / b[3] && a[1] / a[3] != b[1] / b[3]) return false;
    }
    return true;
}

int sample_count(const HCurve& c) { return std::clamp(8 * c.count(), 16, 256); }

HCurve polyline(const std::vector<Vec3>& pts) {
    HCurve c;
    c.degree = 1;
    c.knots.push_back(0);
    for (size_t i = 0; i < pts.size(); ++i) {
        c.points.insert(c.points.end(), {pts[i].x, pts[i].y, 0, 1});
        c.knots.push_back(static_cast<double>(i));
    }
    c.knots.push_back(c.knots.back());
    return c;
}

// Surface parameters of the point nearest `target`, Gauss-Newton from
// `guess` with finite-difference tangents, kept in the domain.
void invert(const HSurface& s, const Vec3& target, double* u, double* v) {
    const double u0 = s.uk[static_cast<size_t>(s.du)], u1 = s.uk[static_cast<size_t>(s.nu)];
    const double v0 = s.vk[static_cast<size_t>(s.dv)], v1 = s.vk[static_cast<size_t>(s.nv)];
    const double hu = (u1 - u0) * 1e-7, hv = (v1 - v0) * 1e-7;
    for (int it = 0; it < 30; ++it) {
        const Vec3 p = surface_point(s, *u, *v);
        const double su = *u + hu <= u1 ? hu : -hu, sv = *v + hv <= v1 ? hv : -hv;
        const Vec3 pu = mul(sub(surface_point(s, *u + su, *v), p), 1 / su);
        const Vec3 pv = mul(sub(surface_point(s, *u, *v + sv), p), 1 / sv);
        const Vec3 d = sub(target, p);
        const double a = dot(pu, pu), b = dot(pu, pv), c = dot(pv, pv);
        const double det = a * c - b * b;
        if (!(std::fabs(det) > 0)) return;
        const double r1 = dot(d, pu), r2 = dot(d, pv);
        const double du = (r1 * c - r2 * b) / det, dv = (a * r2 - b * r1) / det;
        *u = std::clamp(*u + du, u0, u1);
        *v = std::clamp(*v + dv, v0, v1);
        if (std::fabs(du) <= (u1 - u0) * 1e-12 && std::fabs(dv) <= (v1 - v0) * 1e-12) return;
    }
}

void nearest_on_grid(const HSurface& s, const Vec3& target, double* u, double* v) {
    const double u0 = s.uk[static_cast<size_t>(s.du)], u1 = s.uk[static_cast<size_t>(s.nu)];
    const double v0 = s.vk[static_cast<size_t>(s.dv)], v1 = s.vk[static_cast<size_t>(s.nv)];
    constexpr int kGrid = 12;
    double best = -1;
    for (int i = 0; i <= kGrid; ++i)
        for (int j = 0; j <= kGrid; ++j) {
            const double uu = u0 + (u1 - u0) * i / kGrid, vv = v0 + (v1 - v0) * j / kGrid;
            const double d = norm(sub(surface_point(s, uu, vv), target));
            if (best < 0 || d < best) best = d, *u = uu, *v = vv;
        }
}

std::vector<TrimCurve> Reader::param_loop(const Path& path, const SurfaceInfo& s) {
    if (s.frame_only()) broken("surface trimmed in a parameter space it does not define");
    std::vector<TrimCurve> out;
    for (const HCurve& piece : path.pieces) {
        TrimCurve t;
        t.curve = piece;
        if (!s.mu.angular && !s.mv.angular) {
            for (size_t i = 0; i + 3 < t.curve.points.size(); i += 4) t.curve.points[i + 2] = 0;
        } else if (axis_aligned(piece)) {
            // Lines along the parameter axes stay such lines under the
            // angle maps: mapping their ends is exact.
            for (size_t i = 0; i + 3 < t.curve.points.size(); i += 4) {
                double* h = &t.curve.points[i];
                const double x = s.mu.apply(h[0] / h[3]), y = s.mv.apply(h[1] / h[3]);
                h[0] = x, h[1] = y, h[2] = 0, h[3] = 1;
            }
        } else {
            const int n = sample_count(piece);
            std::vector<Vec3> pts;
            for (int i = 0; i <= n; ++i) {
                const Vec3 q =
                    point3(piece, piece.first() + (piece.last() - piece.first()) * i / n);
                pts.push_back({s.mu.apply(q.x), s.mv.apply(q.y), 0});
            }
            t.curve = polyline(pts);
            t.approximated = true;
        }
        charge(t.curve.points.size());
        out.push_back(std::move(t));
    }
    return out;
}

// Where a model point lies on an analytic surface: (angle about the axis,
// position along the generator: height on a cylinder or cone, latitude on
// a sphere, angle round the tube of a torus). The angle is NaN on the axis.
Vec3 analytic_coordinates(const SurfaceInfo& s, const Vec3& q) {
    const Vec3 d = sub(q, s.origin);
    const double det = dot(s.e1, cross(s.e2, s.axis));
    const double a = dot(d, cross(s.e2, s.axis)) / det, b = dot(s.e1, cross(d, s.axis)) / det,
                 h = dot(s.e1, cross(s.e2, d)) / det;
    const double r = std::hypot(a, b);
    const double theta = r > 1e-12 * (s.radius + std::fabs(h) + 1)
                             ? std::atan2(b, a)
                             : std::numeric_limits<double>::quiet_NaN();
    switch (s.analytic) {
        case 196:
            return {theta, std::atan2(h, r), 0};
        case 198:
            return {theta, std::atan2(h, r - s.radius), 0};
        default:
            return {theta, h, 0};
    }
}

std::vector<TrimCurve> Reader::model_loop(const Path& path, const SurfaceInfo& s) {
    std::vector<TrimCurve> out;
    if (s.analytic != 0) {
        // Sampled now, the angles unwound and the surface built by
        // finish_face once every loop is known.
        const double det = dot(s.e1, cross(s.e2, s.axis));
        if (!(std::fabs(det) > 1e-200) || !std::isfinite(det))
            broken("analytic surface flattened by its transformation");
        for (const HCurve& piece : path.pieces) {
            TrimCurve t;
            const int n = sample_count(piece);
            std::vector<Vec3> pts;
            for (int i = 0; i <= n; ++i)
                pts.push_back(analytic_coordinates(
                    s, point3(piece, piece.first() + (piece.last() - piece.first()) * i / n)));
            t.curve = polyline(pts);
            t.approximated = true;
            charge(t.curve.points.size());
            out.push_back(std::move(t));
        }
        return out;
    }
    Vec3 o = s.origin, e1 = s.e1, e2 = s.e2;
    const bool exact = s.plane || affine_patch(s.s, &o, &e1, &e2);
    double u = 0, v = 0;
    bool seeded = false;
    for (const HCurve& piece : path.pieces) {
        TrimCurve t;
        if (exact) {
            t.curve = piece;
            for (size_t i = 0; i + 3 < t.curve.points.size(); i += 4) {
                double* h = &t.curve.points[i];
                double a = 0, b = 0;
                frame_coordinates(o, e1, e2, h, &a, &b);
                h[0] = a, h[1] = b, h[2] = 0;
            }
        } else {
            const int n = sample_count(piece);
            std::vector<Vec3> pts;
            for (int i = 0; i <= n; ++i) {
                const Vec3 q =
                    point3(piece, piece.first() + (piece.last() - piece.first()) * i / n);
                if (!seeded) nearest_on_grid(s.s, q, &u, &v), seeded = true;
                invert(s.s, q, &u, &v);
                pts.push_back({u, v, 0});
            }
            t.curve = polyline(pts);
            t.approximated = true;
        }
        charge(t.curve.points.size());
        out.push_back(std::move(t));
    }
    return out;
}

std::vector<TrimCurve> Reader::curve_on_surface(int seq, const SurfaceInfo& s,
                                                const Affine& parent) {
    Depth guard(this);
    const Params p = params(seq, 142);
    p.need(6);
    const int bptr = p.integer(3), cptr = p.integer(4);
    const Affine here = within(entry(seq), parent);
    if (bptr != 0 && !s.frame_only()) {
        try {
            return param_loop(curve(bptr, false), s);
        } catch (const Broken&) {
            if (cptr == 0) throw;
        }
    }
    if (cptr == 0) broken("curve on surface without a usable curve");
    Path model = curve(cptr, true);
    place(here, &model);
    return model_loop(model, s);
}

// The analytic surface over the extent of its loops, and the loops'
// sampled (angle, generator) points as its parameters. Angles are unwound
// along each loop, so that a loop crossing the seam stays whole, and each
// hole is turned by whole revolutions next to the outer loop.
void Reader::build_analytic(SurfaceInfo& s, Face* face) {
    constexpr double kTurn = 2 * kPi;
    const bool tube = s.analytic == 198;  // the generator's coordinate is an angle too
    const auto unwind = [&](double prev, double x) {
        return x + kTurn * std::round((prev - x) / kTurn);
    };
    double lo[2] = {0, 0}, hi[2] = {0, 0};
    for (size_t l = 0; l < face->loops.size(); ++l) {
        auto& loop = face->loops[l];
        // A point on the axis takes the angle of the point before it (of
        // the first point off the axis at the loop's start).
        double prev[2] = {std::numeric_limits<double>::quiet_NaN(), 0};
        for (const TrimCurve& t : loop)
            for (size_t i = 0; i + 3 < t.curve.points.size() && std::isnan(prev[0]); i += 4)
                if (!std::isnan(t.curve.points[i])) prev[0] = t.curve.points[i];
        if (std::isnan(prev[0])) broken("trim loop on the surface's axis");
        prev[1] = loop[0].curve.points[1];
        double llo[2] = {prev[0], prev[1]}, lhi[2] = {prev[0], prev[1]};
        double glo = prev[1], ghi = prev[1];
        for (const TrimCurve& t : loop)
            for (size_t i = 1; i < t.curve.points.size(); i += 4)
                glo = std::min(glo, t.curve.points[i]), ghi = std::max(ghi, t.curve.points[i]);
        const double middle = (glo + ghi) / 2;
        for (TrimCurve& t : loop) {
            // Along a pole the angle moves on: an outer loop runs counter-
            // clockwise, so forwards at the lower pole and backwards at the
            // upper, by the angle to the next curve (a whole turn when that
            // is back at the same angle).
            for (size_t i = 0; t.after_pole && i < t.curve.points.size(); i += 4) {
                const double x = t.curve.points[i];
                if (std::isnan(x)) continue;
                const double d = unwind(prev[0], x) - prev[0];
                if (prev[1] < middle)
                    prev[0] += d > 1e-9 ? d : d + kTurn;
                else
                    prev[0] += d < -1e-9 ? d : d - kTurn;
                break;
            }
            for (size_t i = 0; i + 3 < t.curve.points.size(); i += 4) {
                double* h = &t.curve.points[i];
                h[0] = std::isnan(h[0]) ? prev[0] : unwind(prev[0], h[0]);
                if (tube) h[1] = unwind(prev[1], h[1]);
                for (int k = 0; k < 2; ++k) {
                    prev[k] = h[k];
                    llo[k] = std::min(llo[k], h[k]);
                    lhi[k] = std::max(lhi[k], h[k]);
                }
            }
        }
        for (int k = 0; k < (tube ? 2 : 1); ++k) {
            if (l == 0) continue;
            const double turn =
                kTurn * std::round(((lo[k] + hi[k]) - (llo[k] + lhi[k])) / (2 * kTurn));
            for (TrimCurve& t : loop)
                for (size_t i = k; i < t.curve.points.size(); i += 4) t.curve.points[i] += turn;
            llo[k] += turn;
            lhi[k] += turn;
        }
        for (int k = 0; k < 2; ++k) {
            lo[k] = l == 0 ? llo[k] : std::min(lo[k], llo[k]);
            hi[k] = l == 0 ? lhi[k] : std::max(hi[k], lhi[k]);
        }
    }
    for (int k = 0; k < (tube ? 2 : 1); ++k) {
        if (hi[k] - lo[k] > kTurn * (1 + 1e-9)) broken("trim loop winds round the surface twice");
        hi[k] = std::min(hi[k], lo[k] + kTurn);
    }
    if (s.analytic == 196) lo[1] = std::max(lo[1], -kPi / 2), hi[1] = std::min(hi[1], kPi / 2);
    if (!(hi[0] - lo[0] > 1e-9) || !(hi[1] - lo[1] > 1e-9 * (1 + std::fabs(lo[1]))))
        broken("trimmed analytic surface of no extent");
    // The generator in the (radius, height) plane, over [lo[1], hi[1]].
    const double r = s.radius;
    ParamMap gmap;
    HCurve g;
    switch (s.analytic) {
        case 192:
        case 194: {
            const double r0 = r + s.slope * lo[1], r1 = r + s.slope * hi[1];
            if (r0 < -1e-9 * (r + 1) || r1 < -1e-9 * (r + 1)) broken("cone face beyond its apex");
            g = line({std::max(r0, 0.0), lo[1], 0}, {std::max(r1, 0.0), hi[1], 0});
            g.knots = {lo[1], lo[1], hi[1], hi[1]};
            break;
        }
        case 196:
            g = arc(0, 0, 0, r, lo[1], hi[1], &gmap);
            break;
        default:
            g = arc(r, 0, 0, s.minor, lo[1], hi[1], &gmap);
            break;
    }
    ParamMap tmap;
    const HCurve c = arc(0, 0, 0, 1, lo[0], hi[0], &tmap);
    HSurface& q = s.s;
    q.du = c.degree;
    q.uk = c.knots;
    q.nu = c.count();
    q.dv = g.degree;
    q.vk = g.knots;
    q.nv = g.count();
    charge(static_cast<size_t>(q.nu) * static_cast<size_t>(q.nv) * 4);
    q.points.clear();
    for (int j = 0; j < q.nv; ++j) {
        const double* gh = &g.points[static_cast<size_t>(j) * 4];
        const double rho = gh[0] / gh[3], height = gh[1] / gh[3];
        for (int i = 0; i < q.nu; ++i) {
            const double* ch = &c.points[static_cast<size_t>(i) * 4];
            const Vec3 p =
                add(s.origin, add(mul(s.e1, rho * ch[0] / ch[3]),
                                  add(mul(s.e2, rho * ch[1] / ch[3]), mul(s.axis, height))));
            const double w = gh[3] * ch[3];
            q.points.insert(q.points.end(), {p.x * w, p.y * w, p.z * w, w});
        }
    }
    // The loops in the surface's parameters; a piece that runs along a
    // parameter line keeps only its ends.
    const double tol[2] = {1e-12 * (hi[0] - lo[0]), 1e-12 * (hi[1] - lo[1])};
    for (auto& loop : face->loops)
        for (TrimCurve& t : loop) {
            std::vector<double>& pts = t.curve.points;
            for (size_t i = 0; i + 3 < pts.size(); i += 4) {
                pts[i] = tmap.apply(pts[i]);
                pts[i + 1] =
                    gmap.angular ? gmap.apply(pts[i + 1]) : std::clamp(pts[i + 1], lo[1], hi[1]);
            }
            for (int k = 0; k < 2; ++k) {
                bool along = true;
                for (size_t i = 4; i < pts.size() && along; i += 4)
                    along = std::fabs(pts[i + k] - pts[static_cast<size_t>(k)]) <= tol[k];
                if (along && pts.size() > 8) {
                    std::vector<Vec3> ends = {{pts[0], pts[1], 0},
                                              {pts[pts.size() - 4], pts[pts.size() - 3], 0}};
                    t.curve = polyline(ends);
                    break;
                }
            }
        }
}

void Reader::finish_face(SurfaceInfo& s, Face* face) {
    for (const auto& loop : face->loops)
        if (loop.empty()) broken("empty trim loop");
    if (s.analytic != 0) build_analytic(s, face);
    if (s.plane) {
        // The plane's patch: the loops' extent with a margin.
        double lo[2] = {0, 0}, hi[2] = {0, 0};
        bool first = true;
        for (const auto& loop : face->loops)
            for (const TrimCurve& t : loop)
                for (size_t i = 0; i + 3 < t.curve.points.size(); i += 4) {
                    const double* h = &t.curve.points[i];
                    for (int k = 0; k < 2; ++k) {
                        const double x = h[k] / h[3];
                        if (first || x < lo[k]) lo[k] = x;
                        if (first || x > hi[k]) hi[k] = x;
                    }
                    first = false;
                }
        const double margin = std::max(hi[0] - lo[0], hi[1] - lo[1]) * 0.01 + 1e-9;
        const double u0 = lo[0] - margin, u1 = hi[0] + margin, v0 = lo[1] - margin,
                     v1 = hi[1] + margin;
        HSurface& q = s.s;
        q.du = q.dv = 1;
        q.nu = q.nv = 2;
        q.uk = {u0, u0, u1, u1};
        q.vk = {v0, v0, v1, v1};
        q.points.clear();
        for (double v : {v0, v1})
            for (double u : {u0, u1}) {
                const Vec3 p = add(s.origin, add(mul(s.e1, u), mul(s.e2, v)));
                q.points.insert(q.points.end(), {p.x, p.y, p.z, 1});
            }
    }
    for (double x : s.s.points)
        if (!std::isfinite(x)) broken("surface not finite");
    for (auto& loop : face->loops)
        for (TrimCurve& t : loop)
            for (double x : t.curve.points)
                if (!std::isfinite(x)) broken("trim curve not finite");
    face->surface = std::move(s.s);
    model_->faces.push_back(std::move(*face));
}

// One piece of a loop: its parameter-space curves when the file gives them
// and the surface has a parameter plane, else its model-space curve mapped
// onto the surface; turned round where the loop runs it backwards.
std::vector<TrimCurve> Reader::loop_piece(const SurfaceInfo& s,
                                          const std::vector<int>& param_curves,
                                          const std::function<Path()>& model_curve,
                                          bool backwards) {
    std::vector<TrimCurve> part;
    if (!param_curves.empty() && !s.frame_only()) {
        for (int pc : param_curves) {
            auto more = param_loop(curve(pc, false), s);
            part.insert(part.end(), more.begin(), more.end());
        }
    } else {
        part = model_loop(model_curve(), s);
    }
    if (backwards) {
        std::reverse(part.begin(), part.end());
        for (TrimCurve& t : part) reverse(&t.curve);
    }
    return part;
}

// A face of entity `e` on the surface `surface_seq`, placed by `here`.
Face Reader::start_face(const DirEntry& e, int type, int surface_seq, const Affine& here,
                        SurfaceInfo* s) {
    *s = surface(surface_seq);
    place(here, s);
    Face face;
    face.entity = e.seq;
    face.type = type;
    return face;
}

void Reader::face_144(const DirEntry& e, const Affine& parent) {
    const Params p = params(e.seq, 144);
    p.need(5);
    const int n1 = p.integer(2), n2 = p.integer(3);
    if (n2 < 0 || static_cast<size_t>(n2) + 5 > p.size()) broken("trimmed surface hole count");
    const Affine here = within(e, parent);
    SurfaceInfo s;
    Face face = start_face(e, 144, p.integer(1), here, &s);
    if (n1 == 0) {
        if (s.frame_only()) broken("unbounded surface without a boundary");
        face.loops.push_back(domain_loop(s.s));
    } else {
        face.loops.push_back(curve_on_surface(p.integer(4), s, here));
    }
    for (int i = 0; i < n2; ++i)
        face.loops.push_back(curve_on_surface(p.integer(5 + static_cast<size_t>(i)), s, here));
    finish_face(s, &face);
}

void Reader::face_143(const DirEntry& e, const Affine& parent) {
    const Params p = params(e.seq, 143);
    p.need(4);
    const int n = p.integer(3);
    if (n < 1 || static_cast<size_t>(n) + 4 > p.size()) broken("bounded surface boundary count");
    const Affine here = within(e, parent);
    SurfaceInfo s;
    Face face = start_face(e, 143, p.integer(2), here, &s);
    for (int b = 0; b < n; ++b) {
        Depth guard(this);
        const Params q = params(p.integer(4 + static_cast<size_t>(b)), 141);
        q.need(5);
        const int count = q.integer(4);
        if (count < 1) broken("boundary of no curves");
        std::vector<TrimCurve> loop;
        size_t at = 5;
        for (int c = 0; c < count; ++c) {
            q.need(at + 3);
            const int model = q.integer(at), sense = q.integer(at + 1), k = q.integer(at + 2);
            if (k < 0) broken("negative parameter curve count");
            q.need(at + 3 + static_cast<size_t>(k));
            std::vector<int> param_curves;
            for (int j = 0; j < k; ++j)
                param_curves.push_back(q.integer(at + 3 + static_cast<size_t>(j)));
            const std::vector<TrimCurve> part = loop_piece(
                s, param_curves,
                [&] {
                    Path m = curve(model, true);
                    place(here, &m);
                    return m;
                },
                sense == 2);
            loop.insert(loop.end(), part.begin(), part.end());
            at += 3 + static_cast<size_t>(k);
        }
        face.loops.push_back(std::move(loop));
    }
    finish_face(s, &face);
}

void Reader::face_108(const DirEntry& e) {
    const Params p = params(e.seq, 108);
    p.need(6);
    const int boundary = p.integer(5);
    if (boundary == 0) broken("bounded plane without its boundary");
    const Affine here = within(e, units_);
    SurfaceInfo s = surface(e.seq);
    place(units_, &s);
    Path b = curve(boundary, true);
    place(here, &b);
    Face face;
    face.entity = e.seq;
    face.type = 108;
    face.loops.push_back(model_loop(b, s));
    finish_face(s, &face);
}

void Reader::face_plain(const DirEntry& e) {
    SurfaceInfo s = surface(e.seq);
    place(units_, &s);
    Face face;
    face.entity = e.seq;
    face.type = e.type;
    face.loops.push_back(domain_loop(s.s));
    finish_face(s, &face);
}

const Edge& Reader::edge(int list, int index) {
    const auto known = edge_slots_.find({list, index});
    if (known != edge_slots_.end()) return model_->edges[known->second];
    Depth guard(this);
    // A solid's edges are usually all in one list: its parameters are read
    // once, not once per edge.
    auto cached = edge_lists_.find(list);
    if (cached == edge_lists_.end()) cached = edge_lists_.emplace(list, params(list, 504)).first;
    const Params& p = cached->second;
    const int n = p.integer(1);
    if (index < 1 || index > n) broken("edge index outside its list");
    const size_t at = 2 + 5 * static_cast<size_t>(index - 1);
    p.need(at + 5);
    Path c = curve(p.integer(at), true);
    place(units_, &c);
    Edge ed;
    ed.list = list;
    ed.index = index;
    ed.curve = c.pieces.size() == 1 ? c.pieces[0] : join(c.pieces);
    edge_slots_[{list, index}] = model_->edges.size();
    model_->edges.push_back(std::move(ed));
    return model_->edges.back();
}

void Reader::face_510(const DirEntry& e, const Affine& parent, bool reversed, int shell) {
    const Params p = params(e.seq, 510);
    p.need(4);
    const int n = p.integer(2), outer = p.integer(3);
    if (n < 0 || static_cast<size_t>(n) + 4 > p.size()) broken("face loop count");
    const Affine here = within(e, parent);
    SurfaceInfo s;
    Face face = start_face(e, 510, p.integer(1), here, &s);
    face.reversed = reversed;
    face.shell = shell;
    if (outer != 1) {
        if (s.frame_only()) broken("unbounded surface without an outer loop");
        face.loops.push_back(domain_loop(s.s));
    }
    for (int l = 0; l < n; ++l) {
        Depth guard(this);
        const Params q = params(p.integer(4 + static_cast<size_t>(l)), 508);
        const int count = q.integer(1);
        std::vector<TrimCurve> loop;
        size_t at = 2;
        bool pole = false;
        for (int c = 0; c < count; ++c) {
            q.need(at + 5);
            const int type = q.integer(at), list = q.integer(at + 1), index = q.integer(at + 2);
            const bool agrees = q.integer(at + 3) != 0;
            const int k = q.integer(at + 4);
            if (k < 0) broken("negative parameter curve count");
            q.need(at + 5 + 2 * static_cast<size_t>(k));
            if (type == 0) {
                const Edge& ed = edge(list, index);
                std::vector<int> param_curves;
                for (int j = 0; j < k; ++j)
                    param_curves.push_back(q.integer(at + 6 + 2 * static_cast<size_t>(j)));
                std::vector<TrimCurve> part = loop_piece(
                    s, param_curves,
                    [&] {
                        Path m;
                        m.pieces.push_back(ed.curve);
                        return m;
                    },
                    !agrees);
                for (TrimCurve& t : part) {
                    t.edge_list = list;
                    t.edge_index = index;
                    t.edge_reversed = !agrees;
                }
                if (pole && !loop.empty() && !part.empty()) part.front().after_pole = true;
                pole = false;
                loop.insert(loop.end(), part.begin(), part.end());
            } else if (type == 1 && s.analytic != 0) {
                pole = true;  // a vertex as an edge: the loop crosses a pole
            }
            at += 5 + 2 * static_cast<size_t>(k);
        }
        face.loops.push_back(std::move(loop));
    }
    finish_face(s, &face);
}

void Reader::shell_514(const DirEntry& e, const Affine& parent, bool reversed) {
    const Params p = params(e.seq, 514);
    const int n = p.integer(1);
    if (n < 0 || 2 * static_cast<size_t>(n) + 2 > p.size()) broken("shell face count");
    const Affine here = within(e, parent);
    taken_.insert(e.seq);
    ++model_->shells;
    for (int i = 0; i < n; ++i) {
        const int seq = p.integer(2 + 2 * static_cast<size_t>(i));
        const bool agrees = p.integer(3 + 2 * static_cast<size_t>(i)) != 0;
        const int index = entry_index(file_, seq);
        if (index < 0) {
            model_->skipped.push_back({seq, 510, "shell names no face entity"});
            continue;
        }
        const DirEntry& face = file_.entries[static_cast<size_t>(index)];
        taken_.insert(seq);
        guarded(face, [&] { face_510(face, here, reversed != !agrees, e.seq); });
    }
}

void Reader::solid_186(const DirEntry& e) {
    const Params p = params(e.seq, 186);
    p.need(4);
    const int voids = p.integer(3);
    if (voids < 0 || 2 * static_cast<size_t>(voids) + 4 > p.size()) broken("solid void count");
    const Affine here = within(e, units_);
    ++model_->solids;
    std::vector<std::pair<int, bool>> shells{{p.integer(1), p.integer(2) != 0}};
    for (int i = 0; i < voids; ++i)
        shells.push_back({p.integer(4 + 2 * static_cast<size_t>(i)),
                          p.integer(5 + 2 * static_cast<size_t>(i)) != 0});
    for (const auto& shell_ref : shells) {
        const DirEntry& shell = entry(shell_ref.first);
        const bool turned = !shell_ref.second;
        taken_.insert(shell_ref.first);
        guarded(shell, [&] { shell_514(shell, here, turned); });
    }
}

template <typename F>
void Reader::guarded(const DirEntry& e, F&& f) {
    const int saved = depth_;
    try {
        f();
    } catch (const Broken& b) {
        skip(e, b.reason);
    } catch (const std::bad_alloc&) {
        skip(e, "out of memory");
    } catch (const std::exception&) {
        skip(e, "inconsistent entity data");
    }
    depth_ = saved;
}

bool independent(const DirEntry& e) { return (e.subordinate & 1) == 0; }

bool known_type(int type) {
    static const int kKnown[] = {100, 102, 104, 106, 108, 110, 116, 118, 120, 122, 123, 124,
                                 126, 128, 141, 142, 143, 144, 186, 502, 504, 508, 510, 514};
    return std::find(std::begin(kKnown), std::end(kKnown), type) != std::end(kKnown);
}

// Annotation, display and structure entities: nothing to mesh, nothing lost.
bool ignorable_type(int type) {
    return type == 0 || (type >= 202 && type <= 230) || (type >= 300 && type <= 330) ||
           (type >= 402 && type <= 430);
}

void Reader::run() {
    model_->entities = static_cast<int>(file_.entries.size());
    model_->global = file_.global;
    model_->tolerance = file_.global.resolution * file_.global.unit_to_mm;
    for (const std::string& s : file_.problems)
        if (std::find(model_->problems.begin(), model_->problems.end(), s) ==
            model_->problems.end())
            model_->problems.push_back(s);
    // Surfaces that a face trims are never faces of their own, whatever
    // their status says (and even when that face is broken).
    for (const DirEntry& e : file_.entries) {
        const size_t slot = e.type == 143 ? 2 : (e.type == 144 || e.type == 510) ? 1 : 0;
        if (slot == 0) continue;
        try {
            const Params p = params(e.seq, e.type);
            if (p.size() > slot) taken_.insert(p.integer(slot));
        } catch (const Broken&) {
        }
    }
    const auto pass = [&](std::initializer_list<int> types, auto&& build) {
        for (const DirEntry& e : file_.entries) {
            if (std::find(types.begin(), types.end(), e.type) == types.end()) continue;
            if (taken_.count(e.seq) || !independent(e)) continue;
            if (e.blank == 1) {
                ++model_->blanked;
                continue;
            }
            guarded(e, [&] { build(e); });
        }
    };
    pass({186}, [&](const DirEntry& e) { solid_186(e); });
    pass({514}, [&](const DirEntry& e) { shell_514(e, units_, false); });
    pass({510}, [&](const DirEntry& e) { face_510(e, units_, false, 0); });
    pass({144}, [&](const DirEntry& e) { face_144(e, units_); });
    pass({143}, [&](const DirEntry& e) { face_143(e, units_); });
    pass({108}, [&](const DirEntry& e) {
        if (e.form == 1) face_108(e);
    });
    pass({118, 120, 122, 128}, [&](const DirEntry& e) { face_plain(e); });
    for (const DirEntry& e : file_.entries) {
        if (e.type < 0)
            skip(e, "unreadable directory entry");
        else if (!known_type(e.type) && !ignorable_type(e.type) && independent(e))
            skip(e, "unsupported entity type " + std::to_string(e.type));
    }
}

}  // namespace

bool read_model(const char* data, size_t size, const Limits& limits, Model* out, std::string* why) {
    File file;
    try {
        switch (read_file(data, size, limits, &file)) {
            case ReadStatus::kOk:
                break;
            case ReadStatus::kNotIges:
                *why = "not an IGES file";
                return false;
            case ReadStatus::kTooLarge:
                *why = "file too large";
                return false;
            case ReadStatus::kUnsupportedForm:
                *why = "binary or compressed IGES is not read";
                return false;
        }
        Reader reader(file, limits, out);
        reader.run();
    } catch (const std::bad_alloc&) {
        *why = "out of memory";
        return false;
    }
    return true;
}

double net_diagonal(const Model& model) {
    double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    bool first = true;
    for (const auto& f : model.faces)
        for (size_t i = 0; i + 3 < f.surface.points.size(); i += 4)
            for (int k = 0; k < 3; ++k) {
                const double x =
                    f.surface.points[i + static_cast<size_t>(k)] / f.surface.points[i + 3];
                lo[k] = first ? x : std::min(lo[k], x);
                hi[k] = first ? x : std::max(hi[k], x);
                if (k == 2) first = false;
            }
    return std::sqrt((hi[0] - lo[0]) * (hi[0] - lo[0]) + (hi[1] - lo[1]) * (hi[1] - lo[1]) +
                     (hi[2] - lo[2]) * (hi[2] - lo[2]));
}

}  // namespace ruvane::iges
