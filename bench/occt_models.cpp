#include "bench/occt_models.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepFilletAPI_MakeChamfer.hxx>
#include <BRepFilletAPI_MakeFillet.hxx>
#include <BRepLib.hxx>
#include <BRepOffsetAPI_ThruSections.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCone.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakeRevol.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepPrimAPI_MakeTorus.hxx>
#include <BRep_Builder.hxx>
#include <Geom2dAPI_Interpolate.hxx>
#include <Geom2d_BSplineCurve.hxx>
#include <GeomAPI_Interpolate.hxx>
#include <GeomAPI_PointsToBSpline.hxx>
#include <GeomAPI_PointsToBSplineSurface.hxx>
#include <Geom_BSplineSurface.hxx>
#include <ShapeFix_Face.hxx>
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColgp_Array2OfPnt.hxx>
#include <TColgp_HArray1OfPnt.hxx>
#include <TColgp_HArray1OfPnt2d.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Wire.hxx>
#include <cmath>
#include <functional>
#include <gp_Circ.hxx>
#include <gp_Pln.hxx>

namespace occt_bench {

namespace {

TopoDS_Shape filleted_box(double dx, double dy, double dz, double radius) {
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(dx, dy, dz).Shape();
    BRepFilletAPI_MakeFillet fillet(box);
    TopTools_IndexedMapOfShape edges;
    TopExp::MapShapes(box, TopAbs_EDGE, edges);
    for (int i = 1; i <= edges.Extent(); ++i) fillet.Add(radius, TopoDS::Edge(edges(i)));
    return fillet.Shape();
}

TopoDS_Shape cylinder_with_holes() {
    TopoDS_Shape body = BRepPrimAPI_MakeCylinder(15, 50).Shape();
    const double heights[] = {12, 25, 38};
    for (int k = 0; k < 3; ++k) {
        const double a = 0.7 * k;
        const gp_Ax2 axis(gp_Pnt(-30 * std::cos(a), -30 * std::sin(a), heights[k]),
                          gp_Dir(std::cos(a), std::sin(a), 0));
        body = BRepAlgoAPI_Cut(body, BRepPrimAPI_MakeCylinder(axis, 4.0 - 0.5 * k, 60).Shape())
                   .Shape();
    }
    return body;
}

TopoDS_Shape plate_with_holes() {
    TopoDS_Shape body = BRepPrimAPI_MakeBox(100, 60, 8).Shape();
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 2; ++j) {
            const gp_Ax2 axis(gp_Pnt(20 + 30 * i, 18 + 24 * j, -1), gp_Dir(0, 0, 1));
            body = BRepAlgoAPI_Cut(body, BRepPrimAPI_MakeCylinder(axis, 4 + i + 2 * j, 10).Shape())
                       .Shape();
        }
    return body;
}

Handle(Geom_BSplineCurve) spline_through(const std::vector<gp_Pnt>& points, bool periodic) {
    Handle(TColgp_HArray1OfPnt) pts = new TColgp_HArray1OfPnt(1, static_cast<int>(points.size()));
    for (size_t i = 0; i < points.size(); ++i) pts->SetValue(static_cast<int>(i) + 1, points[i]);
    GeomAPI_Interpolate interpolate(pts, periodic, 1e-9);
    interpolate.Perform();
    return interpolate.Curve();
}

TopoDS_Shape revolved_spline() {
    const std::vector<gp_Pnt> profile = {{10, 0, 0},  {14, 0, 8}, {9, 0, 20},
                                         {12, 0, 32}, {7, 0, 40}, {8, 0, 46}};
    const TopoDS_Edge edge = BRepBuilderAPI_MakeEdge(spline_through(profile, false)).Edge();
    return BRepPrimAPI_MakeRevol(edge, gp_Ax1(gp::Origin(), gp::DZ()), 2 * M_PI).Shape();
}

TopoDS_Shape lofted_spline() {
    BRepOffsetAPI_ThruSections loft(false, false, 1e-6);
    for (int s = 0; s < 4; ++s) {
        std::vector<gp_Pnt> ring;
        for (int k = 0; k < 9; ++k) {
            const double a = 2 * M_PI * k / 9;
            const double r = 20 + 4 * std::sin(3 * a + s) - 3 * s + 2 * (s % 2);
            ring.emplace_back(r * std::cos(a) + 2 * s, r * std::sin(a), 15.0 * s);
        }
        const TopoDS_Edge edge = BRepBuilderAPI_MakeEdge(spline_through(ring, true)).Edge();
        loft.AddWire(BRepBuilderAPI_MakeWire(edge).Wire());
    }
    loft.Build();
    return loft.Shape();
}

// A closed spline loop in the parameter plane around (cu, cv); clockwise
// when `hole`, so that it bounds a hole of a forward face.
Handle(Geom2d_BSplineCurve)
    blob(double cu, double cv, double ru, double rv, double wobble, bool hole) {
    const int n = 11;
    Handle(TColgp_HArray1OfPnt2d) pts = new TColgp_HArray1OfPnt2d(1, n);
    for (int k = 0; k < n; ++k) {
        const double a = (hole ? -1 : 1) * 2 * M_PI * k / n;
        const double r = 1 + wobble * std::sin(3 * a + 0.4);
        pts->SetValue(k + 1, gp_Pnt2d(cu + ru * r * std::cos(a), cv + rv * r * std::sin(a)));
    }
    Geom2dAPI_Interpolate interpolate(pts, true, 1e-9);
    interpolate.Perform();
    return interpolate.Curve();
}

TopoDS_Wire wire_on(const Handle(Geom_Surface) & surface, const Handle(Geom2d_Curve) & curve) {
    const TopoDS_Edge edge = BRepBuilderAPI_MakeEdge(curve, surface).Edge();
    TopoDS_Wire wire = BRepBuilderAPI_MakeWire(edge).Wire();
    BRepLib::BuildCurves3d(wire);
    return wire;
}

// A face of `surface` bounded by `outer` (its natural bounds when null)
// with the given holes.
TopoDS_Shape trimmed_face(const Handle(Geom_Surface) & surface, const Handle(Geom2d_Curve) & outer,
                          const std::vector<Handle(Geom2d_Curve)>& holes) {
    BRepBuilderAPI_MakeFace make = outer.IsNull()
                                       ? BRepBuilderAPI_MakeFace(surface, 1e-7)
                                       : BRepBuilderAPI_MakeFace(surface, wire_on(surface, outer));
    for (const auto& h : holes) make.Add(wire_on(surface, h));
    ShapeFix_Face fix(make.Face());
    fix.Perform();
    return fix.Face();
}

Handle(Geom_Surface) wavy_surface() {
    TColgp_Array2OfPnt grid(1, 12, 1, 10);
    for (int i = 1; i <= 12; ++i)
        for (int j = 1; j <= 10; ++j) {
            const double x = 100.0 * (i - 1) / 11, y = 80.0 * (j - 1) / 9;
            grid(i, j) = gp_Pnt(x, y, 6 * std::sin(x / 13) * std::cos(y / 11) + 0.05 * x);
        }
    GeomAPI_PointsToBSplineSurface fit;
    fit.Interpolate(grid);
    return Handle(Geom_Surface)(fit.Surface());
}

TopoDS_Shape freeform_with_holes() {
    const Handle(Geom_Surface) s = wavy_surface();
    double u0, u1, v0, v1;
    s->Bounds(u0, u1, v0, v1);
    auto at = [&](double a, double b) {
        return std::make_pair(u0 + a * (u1 - u0), v0 + b * (v1 - v0));
    };
    std::vector<Handle(Geom2d_Curve)> holes;
    const double spots[3][3] = {{0.25, 0.3, 0.10}, {0.7, 0.35, 0.14}, {0.45, 0.72, 0.12}};
    for (const auto& c : spots) {
        const auto [cu, cv] = at(c[0], c[1]);
        holes.push_back(blob(cu, cv, c[2] * (u1 - u0), c[2] * (v1 - v0), 0.25, true));
    }
    const auto [cu, cv] = at(0.5, 0.5);
    return trimmed_face(s, blob(cu, cv, 0.47 * (u1 - u0), 0.46 * (v1 - v0), 0.06, false), holes);
}

// A cubic patch whose knots crowd near one corner: equal steps in space
// become very unequal steps in the parameters.
Handle(Geom_Surface) crowded_knot_surface(bool rational) {
    const double knots[] = {0, 0.002, 0.005, 0.01, 0.03, 0.1, 0.4, 1.0};
    const int nk = 8, n = nk + 2;  // clamped cubic: poles = knots + degree - 1
    TColStd_Array1OfReal k(1, nk);
    TColStd_Array1OfInteger m(1, nk);
    for (int i = 1; i <= nk; ++i) {
        k(i) = knots[i - 1];
        m(i) = (i == 1 || i == nk) ? 4 : 1;
    }
    TColgp_Array2OfPnt poles(1, n, 1, n);
    TColStd_Array2OfReal weights(1, n, 1, n);
    for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= n; ++j) {
            const double x = 10.0 * (i - 1), y = 8.0 * (j - 1);
            poles(i, j) = gp_Pnt(x, y, 5 * std::sin(0.07 * x) + 4 * std::cos(0.09 * y));
            weights(i, j) = rational ? 1.0 + 0.6 * std::sin(0.5 * i + 0.3 * j) : 1.0;
        }
    return new Geom_BSplineSurface(poles, weights, k, k, m, m, 3, 3);
}

TopoDS_Shape crowded_knots_trimmed() {
    // The loop passes through the crowded spans: short in the parameters,
    // long on the part.
    const Handle(Geom_Surface) s = crowded_knot_surface(false);
    return trimmed_face(
        s, blob(0.31, 0.31, 0.28, 0.28, 0.05, false),
        {blob(0.08, 0.3, 0.035, 0.08, 0.2, true), blob(0.35, 0.25, 0.08, 0.08, 0.1, true)});
}

TopoDS_Shape crowded_knots_rational() {
    const Handle(Geom_Surface) s = crowded_knot_surface(true);
    return trimmed_face(
        s, nullptr,
        {blob(0.006, 0.006, 0.004, 0.004, 0.15, true), blob(0.5, 0.5, 0.2, 0.15, 0.2, true)});
}

// A machined part: a slab with a round boss, a bore through both, the boss
// blended into the slab and the slab's upright edges rounded.
TopoDS_Shape bracket() {
    TopoDS_Shape body =
        BRepAlgoAPI_Fuse(
            BRepPrimAPI_MakeBox(60, 40, 10).Shape(),
            BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(30, 20, 0), gp::DZ()), 10, 25).Shape())
            .Shape();
    body = BRepAlgoAPI_Cut(
               body, BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(30, 20, -1), gp::DZ()), 5, 30).Shape())
               .Shape();
    BRepFilletAPI_MakeFillet fillet(body);
    TopTools_IndexedMapOfShape edges;
    TopExp::MapShapes(body, TopAbs_EDGE, edges);
    for (int i = 1; i <= edges.Extent(); ++i) {
        const TopoDS_Edge& e = TopoDS::Edge(edges(i));
        const BRepAdaptor_Curve c(e);
        const gp_Pnt mid = c.Value(0.5 * (c.FirstParameter() + c.LastParameter()));
        if (c.GetType() == GeomAbs_Circle && std::abs(c.Circle().Radius() - 10) < 1e-6 &&
            std::abs(mid.Z() - 10) < 1e-6)
            fillet.Add(3, e);
        else if (c.GetType() == GeomAbs_Line && std::abs(c.Line().Direction().Z()) > 0.999 &&
                 c.LastParameter() - c.FirstParameter() < 10 + 1e-6)
            fillet.Add(5, e);
    }
    return fillet.Shape();
}

// A plate face pierced by a 20 x 20 grid of round holes: trim work.
TopoDS_Shape perforated_plate() {
    BRepBuilderAPI_MakeFace make(gp_Pln(), 0, 100, 0, 100);
    for (int i = 0; i < 20; ++i)
        for (int j = 0; j < 20; ++j) {
            gp_Circ circle(gp_Ax2(gp_Pnt(2.5 + 5 * i, 2.5 + 5 * j, 0), gp::DZ()),
                           1.2 + 0.02 * ((i * 7 + j) % 9));
            TopoDS_Wire hole =
                BRepBuilderAPI_MakeWire(BRepBuilderAPI_MakeEdge(circle).Edge()).Wire();
            make.Add(TopoDS::Wire(hole.Reversed()));
        }
    return make.Face();
}

// The edges of `shape` that pass `pick`, given the edge's midpoint and
// whether it is a straight line along z.
template <typename Pick>
TopTools_IndexedMapOfShape edges_where(const TopoDS_Shape& shape, Pick pick) {
    TopTools_IndexedMapOfShape all, picked;
    TopExp::MapShapes(shape, TopAbs_EDGE, all);
    for (int i = 1; i <= all.Extent(); ++i) {
        const BRepAdaptor_Curve c(TopoDS::Edge(all(i)));
        const gp_Pnt mid = c.Value(0.5 * (c.FirstParameter() + c.LastParameter()));
        const bool upright =
            c.GetType() == GeomAbs_Line && std::abs(c.Line().Direction().Z()) > 0.999;
        if (pick(mid, upright)) picked.Add(all(i));
    }
    return picked;
}

TopoDS_Shape fillet_edges(const TopoDS_Shape& shape, double radius,
                          const TopTools_IndexedMapOfShape& edges) {
    BRepFilletAPI_MakeFillet fillet(shape);
    for (int i = 1; i <= edges.Extent(); ++i) fillet.Add(radius, TopoDS::Edge(edges(i)));
    return fillet.Shape();
}

// A box whose upright edges are rounded: pocket tools and bodies.
TopoDS_Shape rounded_block(const gp_Pnt& corner, double dx, double dy, double dz, double r) {
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(corner, dx, dy, dz).Shape();
    return fillet_edges(box, r, edges_where(box, [](const gp_Pnt&, bool up) { return up; }));
}

TopoDS_Shape upright_cylinder(double x, double y, double z, double r, double h) {
    return BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(x, y, z), gp::DZ()), r, h).Shape();
}

// A forged tool: a rounded bar, its top edges chamfered, two bores with a
// counterbore, a rounded pocket and a cross slot; many small planar and
// cylindrical faces, fillets and chamfers between them.
TopoDS_Shape forged_tool() {
    TopoDS_Shape body = rounded_block(gp_Pnt(0, 0, 0), 90, 36, 14, 6);
    {
        BRepFilletAPI_MakeChamfer chamfer(body);
        const TopTools_IndexedMapOfShape top =
            edges_where(body, [](const gp_Pnt& m, bool) { return std::abs(m.Z() - 14) < 1e-6; });
        for (int i = 1; i <= top.Extent(); ++i) chamfer.Add(1.5, TopoDS::Edge(top(i)));
        body = chamfer.Shape();
    }
    body = BRepAlgoAPI_Cut(body, upright_cylinder(12, 18, -1, 5, 20)).Shape();
    body = BRepAlgoAPI_Cut(body, upright_cylinder(78, 18, -1, 4, 20)).Shape();
    body = BRepAlgoAPI_Cut(body, upright_cylinder(12, 18, 10, 8, 10)).Shape();
    body = BRepAlgoAPI_Cut(body, rounded_block(gp_Pnt(30, 10, 8), 32, 16, 10, 3)).Shape();
    body =
        BRepAlgoAPI_Cut(body, BRepPrimAPI_MakeBox(gp_Pnt(66, -1, 10), 4, 38, 10).Shape()).Shape();
    return body;
}

// A filleted box with a rounded pocket and a round well in its top.
TopoDS_Shape pocketed_box() {
    TopoDS_Shape body = filleted_box(60, 40, 25, 3);
    body = BRepAlgoAPI_Cut(body, rounded_block(gp_Pnt(8, 8, 15), 24, 24, 20, 4)).Shape();
    body = BRepAlgoAPI_Cut(body, upright_cylinder(45, 20, 18, 7, 20)).Shape();
    return body;
}

// A sheet 1.2 thick: long thin side faces, rounded corners and slots.
TopoDS_Shape thin_sheet() {
    TopoDS_Shape body = rounded_block(gp_Pnt(0, 0, 0), 70, 45, 1.2, 5);
    for (int k = 0; k < 3; ++k)
        body = BRepAlgoAPI_Cut(body, rounded_block(gp_Pnt(10 + 18 * k, 10, -1), 12, 4, 4, 1.9))
                   .Shape();
    body = BRepAlgoAPI_Cut(body, upright_cylinder(35, 32, -1, 6, 4)).Shape();
    return body;
}

// A free-form face that departs from its plane by a few tolerances only.
Handle(Geom_Surface) shallow_surface() {
    TColgp_Array2OfPnt grid(1, 8, 1, 7);
    for (int i = 1; i <= 8; ++i)
        for (int j = 1; j <= 7; ++j) {
            const double x = 100.0 * (i - 1) / 7, y = 70.0 * (j - 1) / 6;
            grid(i, j) = gp_Pnt(x, y, 0.25 * std::sin(x / 17) * std::cos(y / 13));
        }
    GeomAPI_PointsToBSplineSurface fit;
    fit.Interpolate(grid);
    return Handle(Geom_Surface)(fit.Surface());
}

TopoDS_Shape shallow_freeform() {
    const Handle(Geom_Surface) s = shallow_surface();
    double u0, u1, v0, v1;
    s->Bounds(u0, u1, v0, v1);
    const double du = u1 - u0, dv = v1 - v0;
    return trimmed_face(s, blob(u0 + 0.5 * du, v0 + 0.5 * dv, 0.46 * du, 0.45 * dv, 0.08, false),
                        {blob(u0 + 0.3 * du, v0 + 0.4 * dv, 0.08 * du, 0.1 * dv, 0.2, true),
                         blob(u0 + 0.68 * du, v0 + 0.6 * dv, 0.1 * du, 0.08 * dv, 0.2, true)});
}

// A small face cut from a large curved patch: its trim curve, a wavy loop
// over a few percent of the domain, carries nearly all of its shape.
TopoDS_Shape small_trimmed() {
    const Handle(Geom_Surface) s = wavy_surface();
    double u0, u1, v0, v1;
    s->Bounds(u0, u1, v0, v1);
    const double du = u1 - u0, dv = v1 - v0;
    return trimmed_face(s, blob(u0 + 0.4 * du, v0 + 0.55 * dv, 0.09 * du, 0.07 * dv, 0.3, false),
                        {});
}

}  // namespace

std::vector<Model> make_models(bool quick) {
    struct Entry {
        const char* name;
        const char* what;
        bool quick;
        std::function<TopoDS_Shape()> make;
    };
    const std::vector<Entry> entries = {
        {"filleted_box", "40x30x20 box, every edge filleted r=4", false,
         [] { return filleted_box(40, 30, 20, 4); }},
        {"filleted_slab", "80x50x10 slab, every edge filleted r=3", false,
         [] { return filleted_box(80, 50, 10, 3); }},
        {"sphere", "sphere r=15", true, [] { return BRepPrimAPI_MakeSphere(15).Shape(); }},
        {"cone", "cone r=10 h=25 with apex", true,
         [] { return BRepPrimAPI_MakeCone(10, 0, 25).Shape(); }},
        {"truncated_cone", "cone r=12..4 h=20", false,
         [] { return BRepPrimAPI_MakeCone(12, 4, 20).Shape(); }},
        {"cylinder_holes", "cylinder r=15 h=50 with three radial holes", false,
         cylinder_with_holes},
        {"plate_holes", "100x60x8 plate with six round holes", false, plate_with_holes},
        {"bracket", "slab with a filleted boss, a bore and rounded edges", false, bracket},
        {"perforated_plate", "plane face with 400 round holes", false, perforated_plate},
        {"torus", "torus R=30 r=8", true, [] { return BRepPrimAPI_MakeTorus(30, 8).Shape(); }},
        {"revolved_spline", "spline profile revolved a full turn", false, revolved_spline},
        {"lofted_spline", "loft through four closed spline sections", false, lofted_spline},
        {"freeform_holes", "interpolated bicubic patch, spline outer loop, three spline holes",
         true, freeform_with_holes},
        {"crowded_knots", "bicubic, knots crowded 500:1, spline loop and holes across them", true,
         crowded_knots_trimmed},
        {"crowded_rational", "rational bicubic, knots crowded 500:1, holes at both ends", false,
         crowded_knots_rational},
        {"forged_tool", "rounded bar, chamfered top, bores, counterbore, pocket and slot", false,
         forged_tool},
        {"pocketed_box", "60x40x25 box filleted r=3, a rounded pocket and a round well", false,
         pocketed_box},
        {"thin_sheet", "70x45x1.2 sheet, rounded corners, three slots and a hole", false,
         thin_sheet},
        {"shallow_freeform", "bicubic patch 0.25 off its plane, spline loop and two holes", false,
         shallow_freeform},
        {"small_trimmed", "wavy loop over a few percent of a curved bicubic patch", false,
         small_trimmed},
    };
    std::vector<Model> models;
    for (const Entry& e : entries)
        if (!quick || e.quick) models.push_back({e.name, e.what, e.make()});
    return models;
}

}  // namespace occt_bench
