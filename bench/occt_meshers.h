// The two meshers as the comparison runs them: timed, and their result as
// a mesh with shared vertices.
#pragma once

#include <TopoDS_Face.hxx>
#include <string>
#include <vector>

#include "bench/occt_export.h"
#include "bench/occt_measure.h"
#include "bench/occt_report.h"

namespace occt_bench {

// ruvane through its C interface with surface and trim tolerance d (the
// component must have been initialised).
Run mesh_with_ruvane(const FaceRecord& record, double d, Mesh& mesh);

// BRepMesh on `face` alone at linear deflection d, angular deflection 0.5;
// the face's previous triangulation is removed first.
Run mesh_with_brepmesh(const TopoDS_Face& face, double d, Mesh& mesh);

// Draws two meshes of one face side by side (left | right) as a PNG: seen
// along the left mesh's mean normal, both at one scale, every triangle edge
// drawn, the open boundary in red. False when the file cannot be written.
bool draw_side_by_side(const Mesh& left, const Mesh& right, const std::string& png_path);

// Triangle corners as (u, v, x, y, z), three per triangle, joined into a
// mesh by their (u, v).
Mesh weld(const std::vector<double>& corners);

}  // namespace occt_bench
