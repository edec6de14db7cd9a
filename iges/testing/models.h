// Small solid models written as IGES, for the tests, the samples and the
// benchmark: a box as a B-rep solid, the same box as loose trimmed faces
// that only share their edge positions, and a cylinder as a B-rep solid
// (side of revolution with a seam, two flat ends).
#pragma once

#include <array>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "iges/testing/iges_builder.h"

namespace ruvane::iges::testing {

using Strings = std::vector<std::string>;
using Point = std::array<double, 3>;

inline std::string fmt(double v) { return IgesBuilder::num(v); }
inline std::string fmt_int(long v) { return IgesBuilder::integer(v); }

// A bilinear patch through four corners, p00, p10, p01, p11, over [0, 1]^2.
inline int patch(IgesBuilder* b, const Point& p00, const Point& p10, const Point& p01,
                 const Point& p11, const char* status = "00010000") {
    Strings p = {"1",  "1",  "1",  "1",  "0",  "0",  "1",  "0",  "0",  "0.", "0.",
                 "1.", "1.", "0.", "0.", "1.", "1.", "1.", "1.", "1.", "1."};
    for (const Point* q : {&p00, &p10, &p01, &p11})
        for (double c : *q) p.push_back(fmt(c));
    p.insert(p.end(), {"0.", "1.", "0.", "1."});
    return b->add(128, p, 0, 0, status);
}

inline int line(IgesBuilder* b, const Point& a, const Point& c) {
    return b->add(110, {fmt(a[0]), fmt(a[1]), fmt(a[2]), fmt(c[0]), fmt(c[1]), fmt(c[2])}, 0, 0,
                  "00010500");
}

struct BoxShape {
    Point size;
    Point corner(int k) const {
        return {(k & 1) * size[0], ((k >> 1) & 1) * size[1], ((k >> 2) & 1) * size[2]};
    }
    // Faces as corner cycles, counter-clockwise seen from outside.
    static constexpr int kFaces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                         {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
};

// The box as a solid: 186 -> 514 -> six 510 faces on 128 patches, loops of
// 504 edges (110 lines) between 502 vertices. Returns the edge list's DE
// pointer; `edges_out` gets each edge's corners, in list order.
inline int box_brep(IgesBuilder* b, const Point& size,
                    std::vector<std::pair<int, int>>* edges_out = nullptr) {
    const BoxShape box{size};
    std::vector<std::pair<int, int>> edges;
    std::map<std::pair<int, int>, int> edge_of;
    for (const auto& f : BoxShape::kFaces)
        for (int k = 0; k < 4; ++k) {
            const int a = f[k], c = f[(k + 1) % 4];
            if (edge_of.count({c, a})) continue;
            edge_of[{a, c}] = static_cast<int>(edges.size()) + 1;
            edges.push_back({a, c});
        }
    Strings vp = {"8"};
    for (int k = 0; k < 8; ++k)
        for (double c : box.corner(k)) vp.push_back(fmt(c));
    const int vertices = b->add(502, vp, 1, 0, "00010000");
    Strings ep = {fmt_int(static_cast<long>(edges.size()))};
    for (const auto& e : edges) {
        const int l = line(b, box.corner(e.first), box.corner(e.second));
        ep.insert(ep.end(), {fmt_int(l), fmt_int(vertices), fmt_int(e.first + 1), fmt_int(vertices),
                             fmt_int(e.second + 1)});
    }
    const int list = b->add(504, ep, 1, 0, "00010000");
    Strings shell = {"6"};
    for (const auto& f : BoxShape::kFaces) {
        const int s =
            patch(b, box.corner(f[0]), box.corner(f[1]), box.corner(f[3]), box.corner(f[2]));
        Strings lp = {"4"};
        for (int k = 0; k < 4; ++k) {
            const int a = f[k], c = f[(k + 1) % 4];
            const bool agrees = edge_of.count({a, c}) != 0;
            const int index = agrees ? edge_of[{a, c}] : edge_of[{c, a}];
            lp.insert(lp.end(), {"0", fmt_int(list), fmt_int(index), agrees ? "1" : "0", "0"});
        }
        const int loop = b->add(508, lp, 1, 0, "00010000");
        const int face = b->add(510, {fmt_int(s), "1", "1", fmt_int(loop)}, 1, 0, "00010000");
        shell.insert(shell.end(), {fmt_int(face), "1"});
    }
    const int sh = b->add(514, shell, 1, 0, "00010000");
    b->add(186, {fmt_int(sh), "1", "0"});
    if (edges_out) *edges_out = edges;
    return list;
}

// The box as six trimmed surfaces, each bounded by model-space lines of its
// own: nothing but positions tells which faces meet. Faces whose bit is set
// in `turned` get a patch whose normal points into the box, as loose faces
// of real files often do.
inline void box_sewn(IgesBuilder* b, const Point& size, unsigned turned = 0) {
    const BoxShape box{size};
    for (int k = 0; k < 6; ++k) {
        const auto& f = BoxShape::kFaces[k];
        const int s =
            (turned >> k) & 1
                ? patch(b, box.corner(f[0]), box.corner(f[3]), box.corner(f[1]), box.corner(f[2]))
                : patch(b, box.corner(f[0]), box.corner(f[1]), box.corner(f[3]), box.corner(f[2]));
        Strings parts = {"4"};
        for (int e = 0; e < 4; ++e)
            parts.push_back(fmt_int(line(b, box.corner(f[e]), box.corner(f[(e + 1) % 4]))));
        const int loop = b->add(102, parts, 0, 0, "00010500");
        const int on = b->add(142, {"0", fmt_int(s), "0", fmt_int(loop), "2"}, 0, 0, "00010500");
        b->add(144, {fmt_int(s), "1", "0", fmt_int(on)});
    }
}

// A cylinder of radius r and height h on the z axis as a solid: the side a
// full turn of revolution with a seam edge (trimmed in its (t, angle)
// parameter plane), the ends flat patches bounded by the circles.
inline void cylinder_brep(IgesBuilder* b, double r, double h) {
    const double two_pi = 2 * 3.14159265358979323846;
    const int bottom =
        b->add(100, {"0.", "0.", "0.", fmt(r), "0.", fmt(r), "0."}, 0, 0, "00010500");
    const int lift =
        b->add(124, {"1.", "0.", "0.", "0.", "0.", "1.", "0.", "0.", "0.", "0.", "1.", fmt(h)});
    const int top =
        b->add(100, {"0.", "0.", "0.", fmt(r), "0.", fmt(r), "0."}, 0, lift, "00010500");
    const int seam = line(b, {r, 0, 0}, {r, 0, h});
    const int vertices =
        b->add(502, {"2", fmt(r), "0.", "0.", fmt(r), "0.", fmt(h)}, 1, 0, "00010000");
    const int list = b->add(504,
                            {"3", fmt_int(bottom), fmt_int(vertices), "1", fmt_int(vertices), "1",
                             fmt_int(top), fmt_int(vertices), "2", fmt_int(vertices), "2",
                             fmt_int(seam), fmt_int(vertices), "1", fmt_int(vertices), "2"},
                            1, 0, "00010000");
    const int axis = line(b, {0, 0, 0}, {0, 0, 1});
    const int gen = line(b, {r, 0, 0}, {r, 0, h});
    const int side =
        b->add(120, {fmt_int(axis), fmt_int(gen), "0.", fmt(two_pi)}, 0, 0, "00010000");
    // The side's loop in its (t, angle) plane: bottom circle, seam up at the
    // end angle, top circle back, seam down at angle 0.
    auto pline = [&](double t0, double a0, double t1, double a1) {
        return b->add(110, {fmt(t0), fmt(a0), "0.", fmt(t1), fmt(a1), "0."}, 0, 0, "00010500");
    };
    const int c_bottom = pline(0, 0, 0, two_pi);
    const int c_seam_up = pline(0, two_pi, 1, two_pi);
    const int c_top = pline(1, 0, 1, two_pi);  // along the edge's direction
    const int c_seam = pline(0, 0, 1, 0);
    // Edge directions: bottom and top run counter-clockwise (angle rising),
    // the seam upwards. The side's outward loop: bottom forwards, seam at
    // the end angle upwards, top backwards, seam at angle 0 downwards.
    const int side_loop = b->add(508,
                                 {"4",
                                  "0",
                                  fmt_int(list),
                                  "1",
                                  "1",
                                  "1",
                                  "0",
                                  fmt_int(c_bottom),  //
                                  "0",
                                  fmt_int(list),
                                  "3",
                                  "1",
                                  "1",
                                  "0",
                                  fmt_int(c_seam_up),  //
                                  "0",
                                  fmt_int(list),
                                  "2",
                                  "0",
                                  "1",
                                  "0",
                                  fmt_int(c_top),  //
                                  "0",
                                  fmt_int(list),
                                  "3",
                                  "0",
                                  "1",
                                  "0",
                                  fmt_int(c_seam)},
                                 1, 0, "00010000");
    const int side_face =
        b->add(510, {fmt_int(side), "1", "1", fmt_int(side_loop)}, 1, 0, "00010000");
    const double e = r * 1.5;
    // Bottom end: its patch's normal points down (outwards); its loop runs
    // the circle backwards seen from outside.
    const int bottom_patch = patch(b, {-e, -e, 0}, {-e, e, 0}, {e, -e, 0}, {e, e, 0});
    const int bottom_loop = b->add(508, {"1", "0", fmt_int(list), "1", "0", "0"}, 1, 0, "00010000");
    const int bottom_face =
        b->add(510, {fmt_int(bottom_patch), "1", "1", fmt_int(bottom_loop)}, 1, 0, "00010000");
    const int top_patch = patch(b, {-e, -e, h}, {e, -e, h}, {-e, e, h}, {e, e, h});
    const int top_loop = b->add(508, {"1", "0", fmt_int(list), "2", "1", "0"}, 1, 0, "00010000");
    const int top_face =
        b->add(510, {fmt_int(top_patch), "1", "1", fmt_int(top_loop)}, 1, 0, "00010000");
    // The side's own normal (d/dt x d/dangle) points inwards: the shell turns it.
    const int sh = b->add(
        514, {"3", fmt_int(side_face), "0", fmt_int(bottom_face), "1", fmt_int(top_face), "1"}, 1,
        0, "00010000");
    b->add(186, {fmt_int(sh), "1", "0"});
}

// A plate of w x h x t with an n x m grid of round through holes of radius
// r, as loose trimmed faces: top and bottom bounded by their outline and the
// hole circles (model-space curves), four sides, and per hole a wall of
// revolution trimmed by its whole parameter rectangle. Every surface's
// normal points out of the material.
inline void plate_sewn(IgesBuilder* b, double w, double h, double t, int n, int m, double r) {
    const double two_pi = 2 * 3.14159265358979323846;
    auto face = [&](int surface, const std::vector<std::vector<int>>& loops) {
        std::vector<int> on;
        for (const auto& loop : loops) {
            Strings parts = {fmt_int(static_cast<long>(loop.size()))};
            for (int c : loop) parts.push_back(fmt_int(c));
            const int curve = loop.size() == 1 ? loop[0] : b->add(102, parts, 0, 0, "00010500");
            on.push_back(
                b->add(142, {"0", fmt_int(surface), "0", fmt_int(curve), "2"}, 0, 0, "00010500"));
        }
        Strings p = {fmt_int(surface), "1", fmt_int(static_cast<long>(on.size()) - 1)};
        for (int o : on) p.push_back(fmt_int(o));
        b->add(144, p);
    };
    std::vector<Point> centres;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < m; ++j) centres.push_back({w * (i + 0.5) / n, h * (j + 0.5) / m, 0});
    for (double z : {0.0, t}) {
        const bool top = z > 0;
        const int s = top ? patch(b, {0, 0, z}, {w, 0, z}, {0, h, z}, {w, h, z})
                          : patch(b, {0, 0, z}, {0, h, z}, {w, 0, z}, {w, h, z});
        std::vector<std::vector<int>> loops(1);
        const Point c[4] = {{0, 0, z}, {w, 0, z}, {w, h, z}, {0, h, z}};
        for (int k = 0; k < 4; ++k) loops[0].push_back(line(b, c[k], c[(k + 1) % 4]));
        for (const Point& o : centres)
            loops.push_back({b->add(
                100,
                {fmt(z), fmt(o[0]), fmt(o[1]), fmt(o[0] + r), fmt(o[1]), fmt(o[0] + r), fmt(o[1])},
                0, 0, "00010500")});
        face(s, loops);
    }
    const Point c[4] = {{0, 0, 0}, {w, 0, 0}, {w, h, 0}, {0, h, 0}};
    for (int k = 0; k < 4; ++k) {
        const Point a = c[k], d = c[(k + 1) % 4];
        const Point a1 = {a[0], a[1], t}, d1 = {d[0], d[1], t};
        const int s = patch(b, a, d, a1, d1);
        face(s, {{line(b, a, d), line(b, d, d1), line(b, d1, a1), line(b, a1, a)}});
    }
    for (const Point& o : centres) {
        const int axis = line(b, {o[0], o[1], 0}, {o[0], o[1], 1});
        const int gen = line(b, {o[0] + r, o[1], 0}, {o[0] + r, o[1], t});
        const int s =
            b->add(120, {fmt_int(axis), fmt_int(gen), "0.", fmt(two_pi)}, 0, 0, "00010000");
        b->add(144, {fmt_int(s), "0", "0", "0"});
    }
}

}  // namespace ruvane::iges::testing
