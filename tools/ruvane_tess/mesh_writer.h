// The triangles the tessellator delivers, gathered into an indexed mesh and
// written as Wavefront OBJ or ASCII PLY with vertex normals.
#pragma once

#include <array>
#include <map>
#include <ostream>
#include <utility>
#include <vector>

#include "include/ruvane.h"

namespace ruvane_tess {

struct Mesh {
    std::vector<std::array<double, 3>> positions;
    std::vector<std::array<double, 3>> normals;
    std::vector<std::array<int, 3>> faces;

    // Adds a delivered triangle. Vertices are shared by their metric-plane
    // coordinates, which the tessellator gives exactly the same for every
    // triangle around a vertex. A triangle whose face normal was negated
    // (clockwise outer loop) is stored with its winding and normals turned,
    // so that the file's faces and normals agree.
    void add(const TessTriangle& t);

private:
    int vertex(const TessVertex& v, bool flip);
    std::map<std::pair<double, double>, int> index_[2];
};

void write_obj(const Mesh& mesh, std::ostream& out);
void write_ply(const Mesh& mesh, std::ostream& out);

}  // namespace ruvane_tess
