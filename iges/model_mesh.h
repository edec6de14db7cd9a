// Meshes a whole IGES model with one deflection: each edge shared by two
// faces is discretised once in 3D, its points are placed on each face's
// parameter plane and handed to ruvane's tessellator as a fixed boundary
// polyline, so that neighbouring faces meet at the very same points without
// a crack or a T-junction. A loop whose points cannot be placed on its face
// is polygonised from the face's trim curves instead, and such boundaries
// (and the few vertices the tessellator must leave on a fixed loop) are
// brought onto the shared points afterwards.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "iges/iges_model.h"
#include "include/ruvane.h"

namespace ruvane::iges {

// A face as the tessellator's description, with the storage it points to.
struct FaceDesc {
    std::vector<double> u_knots, v_knots, points, weights;
    std::vector<std::vector<double>> curve_points, curve_weights, curve_knots;
    std::vector<CurveDesc> outer;
    std::vector<std::vector<CurveDesc>> holes;
    std::vector<TrimLoopDesc> inner;
    TrimmedSurfaceDesc desc{};
};

// Fills `out` from the face: Cartesian control points and weights, trim
// curves over [0, 1] in the surface's parameter plane.
void face_desc(const Face& face, FaceDesc* out);

struct MeshOptions {
    double deflection = 0.0;  // D, model units (millimetres)
    double param_tolerance = 1e-6;
    // Called after each face with the number done and the total.
    std::function<void(size_t, size_t)> progress;
};

struct FaceOutcome {
    int entity = 0;
    int status = 0;       // the tessellator's status
    std::string failure;  // empty when the face was meshed
    size_t triangles = 0;
};

struct ModelMesh {
    std::vector<std::array<double, 3>> vertices;
    std::vector<std::array<int, 3>> triangles;
    std::vector<int> triangle_face;  // index into `faces`
    std::vector<FaceOutcome> faces;
    int shared_edges = 0;     // model edges bounding two faces
    int unmatched_edges = 0;  // boundary curves no other face shares
    // Face loops meshed with their shared edge points fixed on the boundary,
    // and loops whose points could not be placed on the face (polygonised
    // from the face's own trim curves instead).
    int fixed_loops = 0;
    int curve_loops = 0;
    // Points of the fixed loops, and the vertices the tessellator had to
    // leave on them between shared points (brought onto the shared edges
    // afterwards).
    int fixed_points = 0;
    int left_vertices = 0;
};

// Meshes every face; a face that fails is recorded with its reason and the
// rest delivered. False only when the component could not run at all.
bool mesh_model(const Model& model, const MeshOptions& options, ModelMesh* out);

// Edges of the mesh not used by exactly two triangles in opposite
// directions: `free` used once, `bad` used otherwise (three times, or
// twice the same way).
struct EdgeCheck {
    int free = 0;
    int bad = 0;
};
EdgeCheck check_edges(const ModelMesh& mesh);

// The points of a model edge, `at` over [0, 1], within `deflection` of the
// curve: both ends exactly, at least `least_chords` chords, a closed curve
// at least three.
std::vector<std::array<double, 3>> edge_polyline(
    const std::function<std::array<double, 3>(double)>& at, double deflection,
    int least_chords = 1);

// Edge ends meeting at a vertex made one point, in place: an end within
// `tight` of an earlier end takes the point of the first such; an end left
// alone then takes the point of the nearest end within `tol` (the first of
// equally near ones). Near ends are found through a grid, so a file with a
// hundred thousand edges does not cost every pair.
void pair_ends(const std::vector<std::array<double, 3>*>& ends, double tight, double tol);

}  // namespace ruvane::iges
