// A face of a NURBS-converted shape as the tessellator's input record: the
// B-spline surface, the outer wire and the holes as chains of B-spline curves
// in the surface's parameter plane, each curve over [0, 1].
#pragma once

#include <Geom_BSplineSurface.hxx>
#include <TopoDS_Face.hxx>
#include <ostream>
#include <string>
#include <vector>

#include "include/ruvane.h"

namespace occt_bench {

struct CurveArrays {
    int order = 0;
    std::vector<double> points;  // x, y, z triples; z is 0
    std::vector<double> weights;
    std::vector<double> knots;
};

// Holds pointers into its own arrays: not copied.
class FaceRecord {
public:
    FaceRecord() = default;
    FaceRecord(const FaceRecord&) = delete;
    FaceRecord& operator=(const FaceRecord&) = delete;
    // False, with the reason, for a face whose surface or edges cannot be
    // written as B-splines.
    bool build(const TopoDS_Face& face, std::string& why);
    const TrimmedSurfaceDesc* get() const { return &desc_; }
    const Handle(Geom_BSplineSurface) & surface() const { return surface_; }
    // The description in the JSON form the ruvane-tess tool reads.
    void write_json(std::ostream& out, double surface_tolerance, double trim_tolerance) const;

private:
    bool add_wire(const TopoDS_Face& face, const TopoDS_Shape& wire, std::vector<CurveArrays>& loop,
                  std::string& why);
    void link();

    Handle(Geom_BSplineSurface) surface_;
    int u_order_ = 0, v_order_ = 0;
    std::vector<double> u_knots_, v_knots_, points_, weights_;
    std::vector<CurveArrays> outer_;
    std::vector<std::vector<CurveArrays>> holes_;
    std::vector<CurveDesc> outer_desc_;
    std::vector<std::vector<CurveDesc>> hole_desc_;
    std::vector<TrimLoopDesc> loops_;
    TrimmedSurfaceDesc desc_{};
};

}  // namespace occt_bench
