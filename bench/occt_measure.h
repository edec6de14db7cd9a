// Mesh quality against the true geometry of a face, measured the same way
// for every mesher: distances of mesh points to the surface, distance of the
// mesh's open boundary to the face's edges, and covered area.
#pragma once

#include <Geom_Surface.hxx>
#include <TopoDS_Face.hxx>
#include <array>
#include <vector>

#include <gp_Pnt.hxx>

namespace occt_bench {

// A triangle mesh with shared vertices. Triangles index `nodes`.
struct Mesh {
    std::vector<gp_Pnt> nodes;
    std::vector<std::array<int, 3>> triangles;
};

// Undirected edges used by exactly one triangle (degenerate triangles count
// like the others), each as a pair of node indices, smaller first.
std::vector<std::array<int, 2>> open_edges(const Mesh& mesh);

// The triangles the mesh would keep with the same boundary points and no
// vertex inside: a mesh of genus 0 with T triangles and n_i vertices off its
// open boundary has T = n_b + 2 n_i + 2 b - 4 (b boundary loops of n_b
// points in all), so each inner vertex costs two triangles and what is left,
// T - 2 n_i (at least 0), is set by the boundary points alone.
long edge_bound_triangles(const Mesh& mesh);

// Every distinct undirected edge of the mesh.
std::vector<std::array<int, 2>> all_edges(const Mesh& mesh);

double triangle_area(const gp_Pnt& a, const gp_Pnt& b, const gp_Pnt& c);

// Distance from p to the segment [a, b].
double segment_distance(const gp_Pnt& p, const gp_Pnt& a, const gp_Pnt& b);

// Nearest-point queries on a parametric surface: a dense sample grid (per
// knot span where the surface has knots) gives the start, then damped
// Gauss-Newton iterations in (u, v) inside the parameter domain.
class SurfaceProbe {
public:
    SurfaceProbe(const Handle(Geom_Surface) & surface, double u0, double u1, double v0, double v1);
    // Distance to the nearest surface point, which goes to *foot if given.
    double distance(const gp_Pnt& p, gp_Pnt* foot = nullptr) const;

private:
    struct Sample {
        gp_Pnt point;
        double u, v;
    };
    std::vector<const Sample*> nearest_samples(const gp_Pnt& p) const;
    double descend(const gp_Pnt& p, double u, double v, gp_Pnt& foot) const;
    long cell_key(int i, int j, int k) const;

    Handle(Geom_Surface) surface_;
    double u0_, u1_, v0_, v1_;
    std::vector<Sample> samples_;
    // Uniform grid over the samples: sorted (cell key, sample index).
    std::vector<std::pair<long, int>> cells_;
    gp_Pnt low_;
    double cell_ = 1.0;
    int dims_[3] = {1, 1, 1};
};

// The face's edges as 3D polylines whose chords stay within `chord` of the
// edge; a degenerate edge is its vertex.
class EdgeProbe {
public:
    EdgeProbe(const TopoDS_Face& face, double chord);
    double distance(const gp_Pnt& p) const;
    size_t segment_count() const { return a_.size(); }

private:
    std::vector<gp_Pnt> a_, b_;
    // Bounding boxes of consecutive runs of segments, for pruning.
    struct Run {
        gp_Pnt low, high;
        size_t first, last;
    };
    std::vector<Run> runs_;
};

struct Quality {
    double deviation = 0;  // largest distance of a vertex, edge midpoint or centroid
    double boundary = 0;   // largest distance of an open-boundary vertex or midpoint
    double area = 0;       // area covered on the surface (see measure)
};

Quality measure(const Mesh& mesh, const SurfaceProbe& surface, const EdgeProbe& edges);

}  // namespace occt_bench
