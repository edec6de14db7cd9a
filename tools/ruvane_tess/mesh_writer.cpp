#include "tools/ruvane_tess/mesh_writer.h"

#include <iomanip>

namespace ruvane_tess {

int Mesh::vertex(const TessVertex& v, bool flip) {
    auto [it, fresh] =
        index_[flip].emplace(std::make_pair(v.u, v.v), static_cast<int>(positions.size()));
    if (fresh) {
        positions.push_back({v.position[0], v.position[1], v.position[2]});
        const double s = flip ? -1.0 : 1.0;
        normals.push_back({s * v.normal[0], s * v.normal[1], s * v.normal[2]});
    }
    return it->second;
}

void Mesh::add(const TessTriangle& t) {
    double along = 0.0;
    for (int k = 0; k < 3; ++k)
        along += t.face_normal[k] *
                 (t.vertex[0].normal[k] + t.vertex[1].normal[k] + t.vertex[2].normal[k]);
    const bool flip = along < 0.0;
    const int a = vertex(t.vertex[0], flip), b = vertex(t.vertex[1], flip),
              c = vertex(t.vertex[2], flip);
    faces.push_back(flip ? std::array<int, 3>{a, c, b} : std::array<int, 3>{a, b, c});
}

void write_obj(const Mesh& mesh, std::ostream& out) {
    out << std::setprecision(17);
    out << "# ruvane-tess: " << mesh.positions.size() << " vertices, " << mesh.faces.size()
        << " triangles\n";
    for (const auto& p : mesh.positions) out << "v " << p[0] << ' ' << p[1] << ' ' << p[2] << '\n';
    for (const auto& n : mesh.normals) out << "vn " << n[0] << ' ' << n[1] << ' ' << n[2] << '\n';
    for (const auto& f : mesh.faces) {
        out << 'f';
        for (int k : f) out << ' ' << k + 1 << "//" << k + 1;
        out << '\n';
    }
}

void write_ply(const Mesh& mesh, std::ostream& out) {
    out << std::setprecision(17);
    out << "ply\nformat ascii 1.0\ncomment ruvane-tess\n"
        << "element vertex " << mesh.positions.size() << '\n'
        << "property double x\nproperty double y\nproperty double z\n"
        << "property double nx\nproperty double ny\nproperty double nz\n"
        << "element face " << mesh.faces.size() << '\n'
        << "property list uchar int vertex_indices\nend_header\n";
    for (size_t i = 0; i < mesh.positions.size(); ++i) {
        const auto& p = mesh.positions[i];
        const auto& n = mesh.normals[i];
        out << p[0] << ' ' << p[1] << ' ' << p[2] << ' ' << n[0] << ' ' << n[1] << ' ' << n[2]
            << '\n';
    }
    for (const auto& f : mesh.faces) out << "3 " << f[0] << ' ' << f[1] << ' ' << f[2] << '\n';
}

}  // namespace ruvane_tess
