#include "bench/occt_export.h"

#include <BRepTools.hxx>
#include <BRepTools_WireExplorer.hxx>
#include <BRep_Tool.hxx>
#include <Geom2dConvert.hxx>
#include <Geom2d_BSplineCurve.hxx>
#include <Geom2d_TrimmedCurve.hxx>
#include <GeomConvert.hxx>
#include <Geom_RectangularTrimmedSurface.hxx>
#include <Standard_Failure.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Wire.hxx>
#include <cstdio>

namespace occt_bench {

namespace {

Handle(Geom_BSplineSurface) as_spline(Handle(Geom_Surface) s) {
    while (auto t = Handle(Geom_RectangularTrimmedSurface)::DownCast(s)) s = t->BasisSurface();
    Handle(Geom_BSplineSurface) b = Handle(Geom_BSplineSurface)::DownCast(s);
    if (b.IsNull())
        b = GeomConvert::SurfaceToBSplineSurface(s);
    else
        b = Handle(Geom_BSplineSurface)::DownCast(b->Copy());
    // The record wants clamped knot vectors. A periodic spline becomes a
    // non-periodic one with open ends first; cutting it to its period then
    // clamps it without changing the surface.
    if (b->IsUPeriodic() || b->IsVPeriodic()) {
        double u0, u1, v0, v1;
        b->Bounds(u0, u1, v0, v1);
        if (b->IsUPeriodic()) b->SetUNotPeriodic();
        if (b->IsVPeriodic()) b->SetVNotPeriodic();
        b->Segment(u0, u1, v0, v1);
    }
    return b;
}

// The edge's parameter-plane curve, in the direction the wire runs, over [0, 1].
CurveArrays pcurve(const TopoDS_Edge& edge, const TopoDS_Face& face) {
    double first = 0, last = 0;
    const Handle(Geom2d_Curve) c = BRep_Tool::CurveOnSurface(edge, face, first, last);
    if (c.IsNull()) throw Standard_Failure("edge without a curve on the face");
    Handle(Geom2d_BSplineCurve) b =
        Geom2dConvert::CurveToBSplineCurve(new Geom2d_TrimmedCurve(c, first, last));
    if (b->IsPeriodic()) {
        const double t0 = b->FirstParameter(), t1 = b->LastParameter();
        b->SetNotPeriodic();
        b->Segment(t0, t1);
    }
    if (edge.Orientation() == TopAbs_REVERSED) b->Reverse();
    CurveArrays out;
    out.order = b->Degree() + 1;
    const TColStd_Array1OfReal& flat = b->KnotSequence();
    const double k0 = flat(flat.Lower() + b->Degree());
    const double k1 = flat(flat.Upper() - b->Degree());
    for (int i = flat.Lower(); i <= flat.Upper(); ++i)
        out.knots.push_back((flat(i) - k0) / (k1 - k0));
    for (int i = 1; i <= b->NbPoles(); ++i) {
        out.points.insert(out.points.end(), {b->Pole(i).X(), b->Pole(i).Y(), 0.0});
        out.weights.push_back(b->Weight(i));
    }
    return out;
}

CurveDesc describe(const CurveArrays& c) {
    return CurveDesc{
        c.order,       static_cast<int32_t>(c.weights.size()), c.points.data(), c.weights.data(), 0,
        c.knots.data()};
}

void write_numbers(std::ostream& out, const std::vector<double>& xs) {
    char buffer[32];
    out << "[";
    for (size_t i = 0; i < xs.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, "%s%.17g", i ? ", " : "", xs[i]);
        out << buffer;
    }
    out << "]";
}

void write_points(std::ostream& out, const std::vector<double>& xyz) {
    out << "[";
    for (size_t i = 0; i < xyz.size(); i += 3) {
        out << (i ? ", " : "");
        write_numbers(out, {xyz[i], xyz[i + 1], xyz[i + 2]});
    }
    out << "]";
}

void write_curve(std::ostream& out, const CurveArrays& c) {
    out << "{\"order\": " << c.order << ", \"points\": ";
    write_points(out, c.points);
    out << ", \"weights\": ";
    write_numbers(out, c.weights);
    out << ", \"knots\": ";
    write_numbers(out, c.knots);
    out << "}";
}

}  // namespace

bool FaceRecord::add_wire(const TopoDS_Face& face, const TopoDS_Shape& wire,
                          std::vector<CurveArrays>& loop, std::string& why) {
    for (BRepTools_WireExplorer ex(TopoDS::Wire(wire), face); ex.More(); ex.Next())
        loop.push_back(pcurve(ex.Current(), face));
    if (loop.empty()) {
        why = "empty wire";
        return false;
    }
    // Consecutive edges meet within the edge tolerance; the record wants the
    // curves joined, so both ends move to their middle.
    for (size_t i = 0; i < loop.size(); ++i) {
        std::vector<double>& a = loop[i].points;
        std::vector<double>& b = loop[(i + 1) % loop.size()].points;
        for (int c = 0; c < 2; ++c) {
            const double mid = 0.5 * (a[a.size() - 3 + c] + b[c]);
            a[a.size() - 3 + c] = b[c] = mid;
        }
    }
    return true;
}

bool FaceRecord::build(const TopoDS_Face& given, std::string& why) {
    try {
        const TopoDS_Face face = TopoDS::Face(given.Oriented(TopAbs_FORWARD));
        surface_ = as_spline(BRep_Tool::Surface(face));
        const TColStd_Array1OfReal& uk = surface_->UKnotSequence();
        const TColStd_Array1OfReal& vk = surface_->VKnotSequence();
        u_knots_.assign(uk.begin(), uk.end());
        v_knots_.assign(vk.begin(), vk.end());
        u_order_ = surface_->UDegree() + 1;
        v_order_ = surface_->VDegree() + 1;
        for (int j = 1; j <= surface_->NbVPoles(); ++j)
            for (int i = 1; i <= surface_->NbUPoles(); ++i) {
                const gp_Pnt p = surface_->Pole(i, j);
                points_.insert(points_.end(), {p.X(), p.Y(), p.Z()});
                weights_.push_back(surface_->Weight(i, j));
            }
        const TopoDS_Wire outer = BRepTools::OuterWire(face);
        if (outer.IsNull() || !add_wire(face, outer, outer_, why)) {
            if (why.empty()) why = "no outer wire";
            return false;
        }
        for (TopExp_Explorer ex(face, TopAbs_WIRE); ex.More(); ex.Next()) {
            if (ex.Current().IsSame(outer)) continue;
            holes_.emplace_back();
            if (!add_wire(face, ex.Current(), holes_.back(), why)) return false;
        }
    } catch (const Standard_Failure& f) {
        why = f.GetMessageString();
        return false;
    }
    link();
    return true;
}

void FaceRecord::link() {
    for (const CurveArrays& c : outer_) outer_desc_.push_back(describe(c));
    for (const auto& h : holes_) {
        hole_desc_.emplace_back();
        for (const CurveArrays& c : h) hole_desc_.back().push_back(describe(c));
    }
    for (const auto& h : hole_desc_)
        loops_.push_back(TrimLoopDesc{static_cast<int32_t>(h.size()), h.data()});
    desc_.u_order = u_order_;
    desc_.v_order = v_order_;
    desc_.u_knot_count = static_cast<int32_t>(u_knots_.size());
    desc_.v_knot_count = static_cast<int32_t>(v_knots_.size());
    desc_.u_knots = u_knots_.data();
    desc_.v_knots = v_knots_.data();
    desc_.points = points_.data();
    desc_.weights = weights_.data();
    desc_.outer_count = static_cast<int32_t>(outer_desc_.size());
    desc_.outer_curves = outer_desc_.data();
    desc_.inner_count = static_cast<int32_t>(loops_.size());
    desc_.inner_loops = loops_.data();
}

void FaceRecord::write_json(std::ostream& out, double surface_tolerance,
                            double trim_tolerance) const {
    out << "{\"u_order\": " << u_order_ << ", \"v_order\": " << v_order_ << ",\n\"u_knots\": ";
    write_numbers(out, u_knots_);
    out << ",\n\"v_knots\": ";
    write_numbers(out, v_knots_);
    out << ",\n\"points\": ";
    write_points(out, points_);
    out << ",\n\"weights\": ";
    write_numbers(out, weights_);
    out << ",\n\"outer_curves\": [";
    for (size_t i = 0; i < outer_.size(); ++i) {
        out << (i ? ",\n" : "\n");
        write_curve(out, outer_[i]);
    }
    out << "],\n\"inner_loops\": [";
    for (size_t h = 0; h < holes_.size(); ++h) {
        out << (h ? ",\n[" : "\n[");
        for (size_t i = 0; i < holes_[h].size(); ++i) {
            out << (i ? ",\n" : "\n");
            write_curve(out, holes_[h][i]);
        }
        out << "]";
    }
    char tail[160];
    std::snprintf(tail, sizeof tail,
                  "],\n\"surface_tolerance\": %.17g, \"trim_tolerance\": %.17g, "
                  "\"param_tolerance\": 1e-06}\n",
                  surface_tolerance, trim_tolerance);
    out << tail;
}

}  // namespace occt_bench
