#include "tools/ruvane_tess/surface_json.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace ruvane_tess {

namespace {

using nlohmann::json;

// Sizes beyond any real trimmed surface: keep a hostile file from making us
// allocate gigabytes.
constexpr size_t kMaxPoints = 1 << 20;
constexpr size_t kMaxCurves = 1 << 16;
constexpr int kMaxOrder = 64;

struct Failure {
    std::string reason;
};

[[noreturn]] void fail(const std::string& reason) { throw Failure{reason}; }

double number(const json& j, const std::string& what) {
    if (!j.is_number()) fail(what + " must be a number");
    const double x = j.get<double>();
    if (!std::isfinite(x)) fail(what + " must be finite");
    return x;
}

int order_of(const json& j, const std::string& what) {
    if (!j.is_number_integer()) fail(what + " must be an integer");
    const long long x = j.get<long long>();
    if (x < 1 || x > kMaxOrder) fail(what + " must lie between 1 and 64");
    return static_cast<int>(x);
}

std::vector<double> numbers(const json& j, const std::string& what) {
    if (!j.is_array()) fail(what + " must be an array of numbers");
    if (j.size() > kMaxPoints) fail(what + " is too long");
    std::vector<double> out;
    out.reserve(j.size());
    for (size_t i = 0; i < j.size(); ++i) out.push_back(number(j[i], what));
    return out;
}

// Points as [x, y, z] (or [x, y] with z = 0 when `planar_ok`).
std::vector<double> points(const json& j, const std::string& what, bool planar_ok) {
    if (!j.is_array()) fail(what + " must be an array of points");
    if (j.size() > kMaxPoints) fail(what + " has too many points");
    std::vector<double> out;
    out.reserve(3 * j.size());
    for (size_t i = 0; i < j.size(); ++i) {
        const json& p = j[i];
        if (!p.is_array() || (p.size() != 3 && !(planar_ok && p.size() == 2)))
            fail(what + (planar_ok ? " entries must be [u, v] or [u, v, z]"
                                   : " entries must be [x, y, z]"));
        out.push_back(number(p[0], what));
        out.push_back(number(p[1], what));
        out.push_back(p.size() == 3 ? number(p[2], what) : 0.0);
    }
    return out;
}

std::vector<double> weights_or_ones(const json& obj, size_t count, const std::string& what) {
    if (!obj.contains("weights")) return std::vector<double>(count, 1.0);
    std::vector<double> w = numbers(obj["weights"], what + " weights");
    if (w.size() != count) fail(what + " needs one weight per control point");
    return w;
}

CurveData curve(const json& j, const std::string& what) {
    if (!j.is_object()) fail(what + " must be an object");
    for (const char* key : {"order", "points", "knots"})
        if (!j.contains(key)) fail(what + " lacks \"" + key + "\"");
    CurveData c;
    c.order = order_of(j["order"], what + " order");
    c.points = points(j["points"], what + " points", true);
    const size_t count = c.points.size() / 3;
    if (count < 1) fail(what + " has no control points");
    c.weights = weights_or_ones(j, count, what);
    c.knots = numbers(j["knots"], what + " knots");
    if (c.knots.size() != count + static_cast<size_t>(c.order))
        fail(what + " needs as many knots as control points plus order");
    return c;
}

std::vector<CurveData> loop(const json& j, const std::string& what) {
    if (!j.is_array()) fail(what + " must be an array of curves");
    if (j.size() > kMaxCurves) fail(what + " has too many curves");
    std::vector<CurveData> out;
    for (size_t i = 0; i < j.size(); ++i)
        out.push_back(curve(j[i], what + " curve " + std::to_string(i)));
    return out;
}

void parse(const std::string& text, SurfaceData& s) {
    const json j = json::parse(text);
    if (!j.is_object()) fail("the file must hold one JSON object");
    for (const char* key : {"u_order", "v_order", "u_knots", "v_knots", "points", "outer_curves"})
        if (!j.contains(key)) fail(std::string("missing \"") + key + "\"");
    s.u_order = order_of(j["u_order"], "u_order");
    s.v_order = order_of(j["v_order"], "v_order");
    s.u_knots = numbers(j["u_knots"], "u_knots");
    s.v_knots = numbers(j["v_knots"], "v_knots");
    const long long nu = static_cast<long long>(s.u_knots.size()) - s.u_order;
    const long long nv = static_cast<long long>(s.v_knots.size()) - s.v_order;
    if (nu < 1) fail("u_knots needs more entries than u_order");
    if (nv < 1) fail("v_knots needs more entries than v_order");
    if (nu * nv > static_cast<long long>(kMaxPoints)) fail("the control net is too large");
    s.points = points(j["points"], "points", false);
    if (s.points.size() != static_cast<size_t>(3 * nu * nv))
        fail("points must hold (u knots - u_order) x (v knots - v_order) = " +
             std::to_string(nu * nv) + " control points");
    s.weights = weights_or_ones(j, static_cast<size_t>(nu * nv), "surface");
    s.outer = loop(j["outer_curves"], "outer_curves");
    if (j.contains("inner_loops")) {
        const json& h = j["inner_loops"];
        if (!h.is_array()) fail("inner_loops must be an array of loops");
        if (h.size() > kMaxCurves) fail("inner_loops has too many loops");
        for (size_t i = 0; i < h.size(); ++i)
            s.holes.push_back(loop(h[i], "inner_loops[" + std::to_string(i) + "]"));
    }
    // Tolerances not given scale with the control net: a thousandth of its
    // bounding box diagonal, which suits a preview.
    double lo[3] = {s.points[0], s.points[1], s.points[2]}, hi[3] = {lo[0], lo[1], lo[2]};
    for (size_t k = 0; k < s.points.size(); ++k) {
        lo[k % 3] = std::fmin(lo[k % 3], s.points[k]);
        hi[k % 3] = std::fmax(hi[k % 3], s.points[k]);
    }
    const double diagonal =
        std::sqrt((hi[0] - lo[0]) * (hi[0] - lo[0]) + (hi[1] - lo[1]) * (hi[1] - lo[1]) +
                  (hi[2] - lo[2]) * (hi[2] - lo[2]));
    const double fallback = std::fmax(1e-3 * diagonal, 1e-7);
    s.tolerances.surface = j.contains("surface_tolerance")
                               ? number(j["surface_tolerance"], "surface_tolerance")
                               : fallback;
    s.tolerances.trim =
        j.contains("trim_tolerance") ? number(j["trim_tolerance"], "trim_tolerance") : fallback;
    s.tolerances.param =
        j.contains("param_tolerance") ? number(j["param_tolerance"], "param_tolerance") : 1e-6;
}

CurveDesc record(const CurveData& c) {
    return CurveDesc{
        c.order,       static_cast<int32_t>(c.weights.size()), c.points.data(), c.weights.data(), 0,
        c.knots.data()};
}

}  // namespace

bool read_surface_description(const std::string& text, SurfaceData& out, std::string& error) {
    try {
        SurfaceData s;
        parse(text, s);
        out = std::move(s);
        return true;
    } catch (const Failure& f) {
        error = f.reason;
    } catch (const nlohmann::json::exception& e) {
        error = std::string("not valid JSON: ") + e.what();
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    }
    return false;
}

SurfaceRecords::SurfaceRecords(const SurfaceData& s) {
    for (const CurveData& c : s.outer) outer_.push_back(record(c));
    for (const auto& h : s.holes) {
        holes_.emplace_back();
        for (const CurveData& c : h) holes_.back().push_back(record(c));
    }
    for (const auto& h : holes_)
        loops_.push_back(TrimLoopDesc{static_cast<int32_t>(h.size()), h.data()});
    desc_.u_order = s.u_order;
    desc_.v_order = s.v_order;
    desc_.u_knot_count = static_cast<int32_t>(s.u_knots.size());
    desc_.v_knot_count = static_cast<int32_t>(s.v_knots.size());
    desc_.u_knots = s.u_knots.data();
    desc_.v_knots = s.v_knots.data();
    desc_.reserved = 0;
    desc_.points = s.points.data();
    desc_.weights = s.weights.data();
    desc_.outer_count = static_cast<int32_t>(outer_.size());
    desc_.outer_curves = outer_.data();
    desc_.inner_count = static_cast<int32_t>(loops_.size());
    desc_.inner_loops = loops_.data();
}

}  // namespace ruvane_tess
