// An IGES model as ruvane faces: every surface as an exact rational
// B-spline in IGES parameter order, every trim loop as curves in the
// surface's parameter plane, and the shared edges the B-rep entities name.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "iges/iges_file.h"
#include "iges/iges_nurbs.h"

namespace ruvane::iges {

// A trim curve in the parameter plane (x = u, y = v, z = 0, homogeneous),
// with the model-space edge it bounds when the file names one.
struct TrimCurve {
    HCurve curve;
    int edge_list = 0;   // DE sequence number of the 504 entity, 0 when none
    int edge_index = 0;  // 1-based index in that list
    bool edge_reversed = false;
    bool approximated = false;  // mapped by sampling, not exactly
    // The loop passes a vertex just before this curve (a degenerate edge: a
    // sphere's pole or a cone's apex), where it runs along the pole in the
    // parameter plane.
    bool after_pole = false;
};

struct Face {
    int entity = 0;  // DE sequence number of the face's entity
    int type = 0;
    HSurface surface;
    std::vector<std::vector<TrimCurve>> loops;  // loops[0] is the outer loop
    bool reversed = false;                      // the shell turns the surface's normal
    int shell = 0;  // DE sequence number of the 514 shell, 0 for a loose face
};

// A model edge of a 504 edge list, in model space.
struct Edge {
    int list = 0;
    int index = 0;
    HCurve curve;
};

// An entity the reader passed over, and why.
struct Skipped {
    int entity = 0;
    int type = 0;
    std::string reason;
};

struct Model {
    Global global;
    std::vector<Face> faces;
    std::vector<Edge> edges;
    std::vector<Skipped> skipped;  // unknown or broken entities
    int entities = 0;
    int blanked = 0;  // faces not taken because they are blanked
    int shells = 0, solids = 0;
    double tolerance = 0;  // the model's resolution in millimetres
    std::vector<std::string> problems;
};

// Reads the whole file into millimetres. False only when it is no IGES
// file at all, too large, or in a form not read (binary, compressed);
// `why` then says which. Broken entities never fail the read.
bool read_model(const char* data, size_t size, const Limits& limits, Model* out, std::string* why);

// The diagonal of the box around every face's control points: the length a
// relative deflection is taken of (0 for a model without faces).
double net_diagonal(const Model& model);

}  // namespace ruvane::iges
