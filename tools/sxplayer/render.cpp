#include "tools/sxplayer/render.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace sxplayer {

namespace {

using Vec = std::array<double, 3>;

double dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec cross(const Vec& a, const Vec& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
Vec unit(const Vec& a) {
    const double n = std::sqrt(dot(a, a));
    return n > 0 ? Vec{a[0] / n, a[1] / n, a[2] / n} : a;
}

// Each final pixel is the mean of kSamples x kSamples rendered ones, which
// smooths the silhouettes.
constexpr int kSamples = 2;
// Azimuth and elevation of the eye, in degrees.
constexpr double kAzimuth = -55.0, kElevation = 28.0;
constexpr double kAmbient = 0.22, kDiffuse = 0.75, kSpecular = 0.25, kShininess = 40.0;
// The inside of an open surface (seen through a hole or a mouth) is darker,
// so that a hole reads as one.
constexpr double kInside = 0.55;
constexpr double kMargin = 0.08;  // of the picture, on each side

struct Camera {
    Vec eye, right, up;  // eye: from the scene towards the viewer
    Vec light, half;     // light direction and the highlight's half vector
};

Camera make_camera() {
    const double pi = std::acos(-1.0);
    const double az = kAzimuth * pi / 180, el = kElevation * pi / 180;
    Camera c;
    c.eye = {std::cos(el) * std::cos(az), std::cos(el) * std::sin(az), std::sin(el)};
    c.right = unit(cross(Vec{-c.eye[0], -c.eye[1], -c.eye[2]}, Vec{0, 0, 1}));
    c.up = cross(c.right, Vec{-c.eye[0], -c.eye[1], -c.eye[2]});
    // From high above, over the viewer's left shoulder.
    c.light = unit(Vec{c.eye[0] - 0.5 * c.right[0] + 1.2 * c.up[0],
                       c.eye[1] - 0.5 * c.right[1] + 1.2 * c.up[1],
                       c.eye[2] - 0.5 * c.right[2] + 1.2 * c.up[2]});
    c.half = unit(Vec{c.light[0] + c.eye[0], c.light[1] + c.eye[1], c.light[2] + c.eye[2]});
    return c;
}

struct Target {
    int width, height;
    std::vector<double> depth;  // larger is nearer
    std::vector<float> colour;  // three per sample
};

struct ScreenVertex {
    double x, y, depth;
    Vec normal;
};

double shade(const Camera& cam, Vec n) {
    // Two-sided: the inside is lit as if it faced the viewer, only darker.
    const bool inside = dot(n, cam.eye) < 0;
    if (inside) n = {-n[0], -n[1], -n[2]};
    const double diffuse = std::max(0.0, dot(n, cam.light));
    const double highlight = std::pow(std::max(0.0, dot(n, cam.half)), kShininess);
    const double light = kAmbient + kDiffuse * diffuse + kSpecular * highlight;
    return inside ? light * kInside : light;
}

void draw_triangle(Target& t, const Camera& cam, const ScreenVertex (&v)[3], const Colour& colour) {
    const double area =
        (v[1].x - v[0].x) * (v[2].y - v[0].y) - (v[2].x - v[0].x) * (v[1].y - v[0].y);
    if (std::fabs(area) < 1e-12) return;
    // Clamped as doubles first: a huge or non-finite coordinate must not
    // reach an int conversion.
    for (const ScreenVertex& p : v)
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.depth)) return;
    auto clamp_to = [](double value, int size) {
        return int(std::clamp(value, 0.0, double(size - 1)));
    };
    const int x0 = clamp_to(std::floor(std::min({v[0].x, v[1].x, v[2].x})), t.width);
    const int x1 = clamp_to(std::ceil(std::max({v[0].x, v[1].x, v[2].x})), t.width);
    const int y0 = clamp_to(std::floor(std::min({v[0].y, v[1].y, v[2].y})), t.height);
    const int y1 = clamp_to(std::ceil(std::max({v[0].y, v[1].y, v[2].y})), t.height);
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const double px = x + 0.5, py = y + 0.5;
            // Barycentric weights from the edge functions.
            const double w0 =
                ((v[1].x - px) * (v[2].y - py) - (v[2].x - px) * (v[1].y - py)) / area;
            const double w1 =
                ((v[2].x - px) * (v[0].y - py) - (v[0].x - px) * (v[2].y - py)) / area;
            const double w2 = 1.0 - w0 - w1;
            if (w0 < 0 || w1 < 0 || w2 < 0) continue;
            const double depth = w0 * v[0].depth + w1 * v[1].depth + w2 * v[2].depth;
            const size_t at = size_t(y) * size_t(t.width) + size_t(x);
            if (depth <= t.depth[at]) continue;
            t.depth[at] = depth;
            Vec n;
            for (int k = 0; k < 3; ++k)
                n[k] = w0 * v[0].normal[k] + w1 * v[1].normal[k] + w2 * v[2].normal[k];
            const double light = shade(cam, unit(n));
            for (int k = 0; k < 3; ++k)
                t.colour[at * 3 + k] = float(std::min(255.0, colour[k] * light));
        }
    }
}

void fill_backdrop(Target& t) {
    for (int y = 0; y < t.height; ++y) {
        // A soft vertical gradient, lighter towards the bottom.
        const double s = double(y) / std::max(1, t.height - 1);
        const float r = float(222 + 26 * s), g = float(228 + 22 * s), b = float(236 + 16 * s);
        for (int x = 0; x < t.width; ++x) {
            float* p = &t.colour[(size_t(y) * size_t(t.width) + size_t(x)) * 3];
            p[0] = r, p[1] = g, p[2] = b;
        }
    }
}

}  // namespace

Picture render_scene(const Scene& scene, int width, int height) {
    Target t{width * kSamples, height * kSamples, {}, {}};
    t.depth.assign(size_t(t.width) * size_t(t.height), -std::numeric_limits<double>::infinity());
    t.colour.assign(t.depth.size() * 3, 0.0f);
    fill_backdrop(t);
    const Camera cam = make_camera();

    // The view plane's bounds of every vertex fix the scale and the centre.
    double lo[2] = {std::numeric_limits<double>::max(), std::numeric_limits<double>::max()};
    double hi[2] = {-lo[0], -lo[1]};
    for (const ScenePart& p : scene.parts) {
        for (const Vec& v : p.mesh.positions) {
            const double s[2] = {dot(v, cam.right), dot(v, cam.up)};
            for (int k = 0; k < 2; ++k)
                lo[k] = std::min(lo[k], s[k]), hi[k] = std::max(hi[k], s[k]);
        }
    }
    if (lo[0] <= hi[0]) {
        const double span = std::max({hi[0] - lo[0], (hi[1] - lo[1]) * width / height, 1e-12});
        const double scale = t.width * (1 - 2 * kMargin) / span;
        const double cx = (lo[0] + hi[0]) / 2, cy = (lo[1] + hi[1]) / 2;
        for (const ScenePart& p : scene.parts) {
            const ruvane_tess::Mesh& m = p.mesh;
            for (const auto& f : m.faces) {
                ScreenVertex sv[3];
                for (int k = 0; k < 3; ++k) {
                    const Vec& v = m.positions[size_t(f[k])];
                    sv[k] = {t.width / 2.0 + (dot(v, cam.right) - cx) * scale,
                             t.height / 2.0 - (dot(v, cam.up) - cy) * scale, dot(v, cam.eye),
                             m.normals[size_t(f[k])]};
                }
                draw_triangle(t, cam, sv, p.colour);
            }
        }
    }

    Picture picture{width, height, std::vector<uint8_t>(size_t(width) * size_t(height) * 3)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int k = 0; k < 3; ++k) {
                float sum = 0;
                for (int dy = 0; dy < kSamples; ++dy) {
                    for (int dx = 0; dx < kSamples; ++dx) {
                        const size_t at =
                            size_t(y * kSamples + dy) * size_t(t.width) + size_t(x * kSamples + dx);
                        sum += t.colour[at * 3 + size_t(k)];
                    }
                }
                picture.rgb[(size_t(y) * size_t(width) + size_t(x)) * 3 + size_t(k)] =
                    uint8_t(sum / (kSamples * kSamples) + 0.5f);
            }
        }
    }
    return picture;
}

}  // namespace sxplayer
