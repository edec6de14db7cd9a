#!/usr/bin/env python3
"""Writes the sample applets. Their body, after the header line, is the
stand-in player's scene: trimmed NURBS surfaces in the ruvane-tess format.

  vase.sxvm       a glazed vase with four round windows, a gold rim, a bottom
                  and a plate with rounded corners (plays)
  stereo.sxvm     the same scene, but it requires a component the road does
                  not install (the launcher refuses it)
  test_ball.sxvm  the control panel's test applet: an old header (run by
                  "interpreter1") and a ball with a round opening

Run it again after changing the shapes: python3 samples/make_samples.py
"""
import json
import math
import os

W = math.sqrt(0.5)
# The rational quadratic circle: 9 points, 4 quarter arcs.
CIRCLE_KNOTS = [0, 0, 0, 0.25, 0.25, 0.5, 0.5, 0.75, 0.75, 1, 1, 1]
CIRCLE_UNIT = [(1, 0), (1, 1), (0, 1), (-1, 1), (-1, 0), (-1, -1), (0, -1), (1, -1), (1, 0)]
CIRCLE_W = [1, W, 1, W, 1, W, 1, W, 1]


def line(a, b):
    return {"order": 2, "points": [list(a), list(b)], "knots": [0, 0, 1, 1]}


def domain_square():
    c = [(0, 0), (1, 0), (1, 1), (0, 1)]
    return [line(c[i], c[(i + 1) % 4]) for i in range(4)]


def ellipse(cu, cv, ru, rv, clockwise=False):
    pts = [[cu + ru * x, cv + rv * y] for x, y in CIRCLE_UNIT]
    if clockwise:
        pts = [[cu + ru * x, cv - rv * y] for x, y in CIRCLE_UNIT]
    return [{"order": 3, "points": pts, "weights": CIRCLE_W, "knots": CIRCLE_KNOTS}]


def revolve(profile, v_order, v_knots):
    """Surface of revolution about z: u runs round the circle, v along the
    profile of (radius, height) points."""
    points, weights = [], []
    for r, z in profile:
        for (x, y), w in zip(CIRCLE_UNIT, CIRCLE_W):
            points.append([r * x, r * y, z])
            weights.append(w)
    return {"u_order": 3, "v_order": v_order, "u_knots": CIRCLE_KNOTS, "v_knots": v_knots,
            "points": points, "weights": weights}


def vase_parts():
    profile = [(2.0, 0.0), (3.1, 1.2), (3.5, 3.6), (1.5, 5.6), (1.25, 7.0), (2.1, 8.0)]
    body = revolve(profile, 4, [0, 0, 0, 0, 1 / 3, 2 / 3, 1, 1, 1, 1])
    body.update(name="body", color=[64, 112, 190], outer_curves=domain_square(),
                # Round windows about 1.3 units across on the belly; the
                # parameter plane is about 20 units round and 9 high there.
                inner_loops=[ellipse(0.125 + 0.25 * k, 0.42, 0.032, 0.075) for k in range(4)],
                surface_tolerance=0.01, trim_tolerance=0.004)
    # The rim: a torus round the mouth, a circle swept round a circle.
    rim_r, tube = 2.1, 0.16
    rim_points, rim_weights = [], []
    for (cx, cz), wv in zip(CIRCLE_UNIT, CIRCLE_W):
        for (x, y), wu in zip(CIRCLE_UNIT, CIRCLE_W):
            r = rim_r + tube * cx
            rim_points.append([r * x, r * y, 8.0 + tube * cz])
            rim_weights.append(wu * wv)
    rim = {"name": "rim", "color": [222, 172, 64], "u_order": 3, "v_order": 3,
           "u_knots": CIRCLE_KNOTS, "v_knots": CIRCLE_KNOTS, "points": rim_points,
           "weights": rim_weights, "outer_curves": domain_square(),
           "surface_tolerance": 0.005, "trim_tolerance": 0.005}
    # The bottom: a square trimmed to the body's first circle.
    bottom = {"name": "bottom", "color": [64, 112, 190], "u_order": 2, "v_order": 2,
              "u_knots": [0, 0, 1, 1], "v_knots": [0, 0, 1, 1],
              "points": [[-2, -2, 0.0], [2, -2, 0.0], [-2, 2, 0.0], [2, 2, 0.0]],
              "outer_curves": ellipse(0.5, 0.5, 0.5, 0.5),
              "surface_tolerance": 0.01, "trim_tolerance": 0.004}
    return [body, rim, bottom, plate()]


def plate():
    """A gently dished square plate under the vase, its corners rounded by
    the trim loop."""
    n, size, sag = 4, 6.0, 0.35
    pts = []
    for j in range(n):
        for i in range(n):
            x = -size + 2 * size * i / (n - 1)
            y = -size + 2 * size * j / (n - 1)
            edge = (i in (0, n - 1)) + (j in (0, n - 1))
            pts.append([x, y, -0.02 + sag * edge / 2 - 0.001])
    r, lo, hi = 0.12, 0.0, 1.0
    corners = []  # a rounded rectangle, counter-clockwise
    def arc(cx, cy, a0):
        c = [(math.cos(a0 + t), math.sin(a0 + t)) for t in (0, math.pi / 4, math.pi / 2)]
        p = [[cx + r * c[0][0], cy + r * c[0][1]],
             [cx + r * (c[0][0] + c[2][0]), cy + r * (c[0][1] + c[2][1])],
             [cx + r * c[2][0], cy + r * c[2][1]]]
        return {"order": 3, "points": p, "weights": [1, W, 1], "knots": [0, 0, 0, 1, 1, 1]}
    a = [arc(hi - r, lo + r, -math.pi / 2), arc(hi - r, hi - r, 0),
         arc(lo + r, hi - r, math.pi / 2), arc(lo + r, lo + r, math.pi)]
    for k in range(4):
        corners.append(a[k])
        corners.append(line(a[k]["points"][2], a[(k + 1) % 4]["points"][0]))
    return {"name": "plate", "color": [196, 170, 132], "u_order": 4, "v_order": 4,
            "u_knots": [0, 0, 0, 0, 1, 1, 1, 1], "v_knots": [0, 0, 0, 0, 1, 1, 1, 1],
            "points": pts, "outer_curves": corners,
            "surface_tolerance": 0.01, "trim_tolerance": 0.004}


def ball_parts():
    """A ball (circles swept about z, poles at both ends) with a round
    opening on its side."""
    half = [(0, -1), (1, -1), (1, 0), (1, 1), (0, 1)]  # half circle, x >= 0
    half_w = [1, W, 1, W, 1]
    pts, ws = [], []
    for (hx, hz), wv in zip(half, half_w):
        for (x, y), wu in zip(CIRCLE_UNIT, CIRCLE_W):
            pts.append([3 * hx * x, 3 * hx * y, 3 + 3 * hz])
            ws.append(wu * wv)
    return [{"name": "ball", "color": [200, 80, 70], "u_order": 3, "v_order": 3,
             "u_knots": CIRCLE_KNOTS, "v_knots": [0, 0, 0, 0.5, 0.5, 1, 1, 1],
             "points": pts, "weights": ws, "outer_curves": domain_square(),
             "inner_loops": [ellipse(0.875, 0.55, 0.06, 0.14)],
             "surface_tolerance": 0.01, "trim_tolerance": 0.004}]


def write(name, header, scene):
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), name)
    with open(path, "w", newline="\n") as f:
        f.write(header + "\n")
        json.dump(scene, f, separators=(",", ":"))
        f.write("\n")


if __name__ == "__main__":
    vase = {"name": "vase", "surfaces": vase_parts()}
    write("vase.sxvm", "Stellarix3D: 1 12 vase RUN=interpreter2:3 REQ=ruvane:1 REQ=advertising:1",
          vase)
    write("stereo.sxvm", "Stellarix3D: 1 12 stereo RUN=interpreter2:3 REQ=stereoview:2", vase)
    write("test_ball.sxvm", "Stellarix3D: 1 1 x", {"name": "test ball", "surfaces": ball_parts()})
