// iges-render: meshes an IGES model with ruvane's model mesher and draws it
// to a PNG (orthographic, flat shaded, a tint per face, the triangle edges
// drawn over), for the pictures in docs/.
//
//   iges-render MODEL.igs OUT.png [RELATIVE_DEFLECTION]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image_write.h"

#include "iges/model_mesh.h"

namespace {

constexpr int kW = 900, kH = 640;

struct V3 {
    double x, y, z;
};
V3 sub(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 cross(V3 a, V3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V3 unit(V3 a) {
    const double l = std::sqrt(dot(a, a));
    return l > 0 ? V3{a.x / l, a.y / l, a.z / l} : a;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: iges-render MODEL.igs OUT.png [RELATIVE_DEFLECTION]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string data = text.str();
    ruvane::iges::Model model;
    std::string why;
    if (!ruvane::iges::read_model(data.data(), data.size(), {}, &model, &why)) {
        std::fprintf(stderr, "iges-render: %s\n", why.c_str());
        return 1;
    }
    ComponentServices table = {};
    table.table_version = 1;
    table.allocate = [](size_t size) { return std::malloc(size); };
    table.release = [](void* block) { std::free(block); };
    component_client_init(&table);
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    for (const auto& f : model.faces)
        for (size_t i = 0; i + 3 < f.surface.points.size(); i += 4)
            for (int k = 0; k < 3; ++k) {
                const double x = f.surface.points[i + k] / f.surface.points[i + 3];
                lo[k] = std::min(lo[k], x);
                hi[k] = std::max(hi[k], x);
            }
    const double diag =
        std::sqrt((hi[0] - lo[0]) * (hi[0] - lo[0]) + (hi[1] - lo[1]) * (hi[1] - lo[1]) +
                  (hi[2] - lo[2]) * (hi[2] - lo[2]));
    ruvane::iges::MeshOptions o;
    o.deflection = (argc > 3 ? std::atof(argv[3]) : 2e-3) * diag;
    ruvane::iges::ModelMesh mesh;
    ruvane::iges::mesh_model(model, o, &mesh);
    component_client_shutdown();
    // View: turned about z, then tilted towards the viewer.
    const double az = 0.6, el = 0.55;
    const V3 centre{(lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2, (lo[2] + hi[2]) / 2};
    auto view = [&](const std::array<double, 3>& p) {
        const V3 q = sub({p[0], p[1], p[2]}, centre);
        const double x = q.x * std::cos(az) - q.y * std::sin(az);
        const double y = q.x * std::sin(az) + q.y * std::cos(az);
        const double up = q.z * std::cos(el) + y * std::sin(el);
        const double depth = y * std::cos(el) - q.z * std::sin(el);  // seen from above
        const double s = 0.9 * std::min(kW, kH) / diag;
        return V3{kW / 2.0 + x * s, kH / 2.0 - up * s, depth};
    };
    std::vector<unsigned char> rgb(static_cast<size_t>(kW) * kH * 3, 255);
    std::vector<double> zbuf(static_cast<size_t>(kW) * kH, std::numeric_limits<double>::infinity());
    const V3 light = unit({-0.4, -0.5, 1.0});
    for (size_t t = 0; t < mesh.triangles.size(); ++t) {
        const auto& k = mesh.triangles[t];
        const V3 a = view(mesh.vertices[k[0]]), b = view(mesh.vertices[k[1]]),
                 c = view(mesh.vertices[k[2]]);
        const V3 n = unit(cross(sub(b, a), sub(c, a)));
        const double shade = 0.35 + 0.65 * std::fabs(dot(n, light));
        const unsigned h = static_cast<unsigned>(mesh.triangle_face[t]) * 2654435761u;
        const double tint[3] = {0.75 + 0.25 * ((h >> 8) & 255) / 255.0,
                                0.75 + 0.25 * ((h >> 16) & 255) / 255.0,
                                0.85 + 0.15 * ((h >> 24) & 255) / 255.0};
        const int x0 = std::max(0, static_cast<int>(std::floor(std::min({a.x, b.x, c.x}))));
        const int x1 = std::min(kW - 1, static_cast<int>(std::ceil(std::max({a.x, b.x, c.x}))));
        const int y0 = std::max(0, static_cast<int>(std::floor(std::min({a.y, b.y, c.y}))));
        const int y1 = std::min(kH - 1, static_cast<int>(std::ceil(std::max({a.y, b.y, c.y}))));
        const double area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
        if (area == 0) continue;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                const double px = x + 0.5, py = y + 0.5;
                const double w0 = ((b.x - px) * (c.y - py) - (b.y - py) * (c.x - px)) / area;
                const double w1 = ((c.x - px) * (a.y - py) - (c.y - py) * (a.x - px)) / area;
                const double w2 = 1 - w0 - w1;
                if (w0 < 0 || w1 < 0 || w2 < 0) continue;
                const double z = w0 * a.z + w1 * b.z + w2 * c.z;
                // Near a triangle edge: the mesh line.
                const bool edge = std::min({w0, w1, w2}) * std::fabs(area) /
                                      std::max({std::hypot(b.x - c.x, b.y - c.y),
                                                std::hypot(c.x - a.x, c.y - a.y),
                                                std::hypot(a.x - b.x, a.y - b.y)}) <
                                  0.6;
                const size_t i = static_cast<size_t>(y) * kW + x;
                if (z >= zbuf[i]) continue;
                zbuf[i] = z;
                for (int ch = 0; ch < 3; ++ch)
                    rgb[i * 3 + ch] =
                        static_cast<unsigned char>(255 * shade * tint[ch] * (edge ? 0.55 : 1.0));
            }
    }
    if (!stbi_write_png(argv[2], kW, kH, 3, rgb.data(), kW * 3)) return 1;
    const auto e = ruvane::iges::check_edges(mesh);
    std::printf("%zu faces, %zu triangles, %d open edges, D %g\n", mesh.faces.size(),
                mesh.triangles.size(), e.free + e.bad, o.deflection);
    return 0;
}
