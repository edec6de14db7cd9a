// iges-models: writes the IGES sample models of iges/samples/. Parts that
// look like real ones are built and written by OpenCASCADE
// (IGESControl_Writer), as B-rep solids (186/514/510/508/504/502) and, where
// a CAD exchange often carries them so, as loose trimmed faces (144/142);
// the small solids of iges/testing/models.h come from our own writer. The
// time stamps in the Global section are fixed, so that a rerun writes the
// same bytes.
//
//   iges-models DIRECTORY
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepFilletAPI_MakeChamfer.hxx>
#include <BRepFilletAPI_MakeFillet.hxx>
#include <BRepLib.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakeRevol.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepPrimAPI_MakeTorus.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <GCE2d_MakeEllipse.hxx>
#include <Geom2d_Circle.hxx>
#include <GeomAPI_PointsToBSplineSurface.hxx>
#include <Geom_BSplineSurface.hxx>
#include <IGESControl_Controller.hxx>
#include <IGESControl_Writer.hxx>
#include <Interface_Static.hxx>
#include <ShapeFix_Shape.hxx>
#include <TColgp_Array2OfPnt.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <gp_Ax2.hxx>
#include <gp_Circ2d.hxx>
#include <gp_Elips2d.hxx>

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "iges/testing/models.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Edges of `shape` whose two faces meet at a right angle along a line
// parallel to `dir` (the box's sharp edges of one direction); `where`
// picks among them by the edge's middle point.
template <typename Pick>
std::vector<TopoDS_Edge> straight_edges(const TopoDS_Shape& shape, const gp_Dir& dir, Pick where) {
    std::vector<TopoDS_Edge> out;
    for (TopExp_Explorer ex(shape, TopAbs_EDGE); ex.More(); ex.Next()) {
        const TopoDS_Edge e = TopoDS::Edge(ex.Current());
        TopoDS_Vertex a, b;
        TopExp::Vertices(e, a, b);
        if (a.IsNull() || b.IsNull()) continue;
        const gp_Pnt p = BRep_Tool::Pnt(a), q = BRep_Tool::Pnt(b);
        if (p.Distance(q) < 1e-9) continue;
        const gp_Vec v(p, q);
        if (v.Normalized().CrossMagnitude(gp_Vec(dir)) > 1e-9) continue;
        if (where(gp_Pnt((p.XYZ() + q.XYZ()) / 2))) out.push_back(e);
    }
    return out;
}

// A bracket: a block with rounded vertical corners, chamfered top edges,
// four through holes and a central counterbored hole.
TopoDS_Shape bracket() {
    const double L = 80, W = 50, H = 16;
    TopoDS_Shape s = BRepPrimAPI_MakeBox(L, W, H).Shape();
    {
        BRepFilletAPI_MakeFillet f(s);
        for (const TopoDS_Edge& e : straight_edges(s, gp::DZ(), [](const gp_Pnt&) { return true; }))
            f.Add(6, e);
        s = f.Shape();
    }
    {
        BRepFilletAPI_MakeChamfer c(s);
        TopTools_IndexedDataMapOfShapeListOfShape edge_faces;
        TopExp::MapShapesAndAncestors(s, TopAbs_EDGE, TopAbs_FACE, edge_faces);
        for (int i = 1; i <= edge_faces.Extent(); ++i) {
            const TopoDS_Edge e = TopoDS::Edge(edge_faces.FindKey(i));
            TopoDS_Vertex a, b;
            TopExp::Vertices(e, a, b);
            if (a.IsNull() || b.IsNull()) continue;
            if (std::fabs(BRep_Tool::Pnt(a).Z() - H) > 1e-7 ||
                std::fabs(BRep_Tool::Pnt(b).Z() - H) > 1e-7)
                continue;
            c.Add(1.5, e);
        }
        s = c.Shape();
    }
    for (const gp_Pnt& at : {gp_Pnt(12, 12, -1), gp_Pnt(L - 12, 12, -1), gp_Pnt(12, W - 12, -1),
                             gp_Pnt(L - 12, W - 12, -1)})
        s = BRepAlgoAPI_Cut(s, BRepPrimAPI_MakeCylinder(gp_Ax2(at, gp::DZ()), 3.5, H + 2).Shape())
                .Shape();
    s = BRepAlgoAPI_Cut(
            s,
            BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(L / 2, W / 2, -1), gp::DZ()), 6, H + 2).Shape())
            .Shape();
    s = BRepAlgoAPI_Cut(
            s,
            BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(L / 2, W / 2, H - 5), gp::DZ()), 10, 6).Shape())
            .Shape();
    return s;
}

// A turned shaft: a profile in the xz-plane (radius, height) revolved about
// z, with steps, two grooves, chamfered ends and an axial bore.
TopoDS_Shape turned_part() {
    const double bore = 5;
    const double profile[][2] = {
        {bore, 0},  {13, 0},  {14, 1},  {14, 12},       {11.5, 12}, {11.5, 15},
        {14, 15},   {14, 24}, {20, 24}, {20, 32},       {17, 32},   {17, 35},
        {20, 35},   {20, 44}, {10, 44}, {10, 62},       {8.5, 62},  {8.5, 64.5},
        {10, 64.5}, {10, 74}, {9, 75},  {bore + 1, 75}, {bore, 74},
    };
    BRepBuilderAPI_MakePolygon poly;
    for (const auto& p : profile) poly.Add(gp_Pnt(p[0], 0, p[1]));
    poly.Close();
    const TopoDS_Face face = BRepBuilderAPI_MakeFace(poly.Wire(), true).Face();
    return BRepPrimAPI_MakeRevol(face, gp_Ax1(gp::Origin(), gp::DZ()), 2 * kPi).Shape();
}

// A free-form skin: a bicubic B-spline surface through a wavy grid,
// trimmed to an ellipse in its parameter plane, with a round hole.
TopoDS_Shape skin() {
    const int n = 9;
    TColgp_Array2OfPnt grid(1, n, 1, n);
    for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= n; ++j) {
            const double x = 100.0 * (i - 1) / (n - 1), y = 70.0 * (j - 1) / (n - 1);
            grid(i, j) = gp_Pnt(x, y, 8 * std::sin(x / 23) * std::cos(y / 17) + 0.002 * x * y);
        }
    const Handle(Geom_BSplineSurface) surface =
        GeomAPI_PointsToBSplineSurface(grid, 3, 3, GeomAbs_C2, 1e-6).Surface();
    double u0, u1, v0, v1;
    surface->Bounds(u0, u1, v0, v1);
    const gp_Pnt2d centre((u0 + u1) / 2, (v0 + v1) / 2);
    const gp_Elips2d outline(gp_Ax2d(centre, gp_Dir2d(1, 0.2)), 0.45 * (u1 - u0), 0.32 * (v1 - v0));
    const gp_Circ2d hole(
        gp_Ax2d(gp_Pnt2d(centre.X() + 0.18 * (u1 - u0), centre.Y()), gp_Dir2d(1, 0)),
        0.07 * (u1 - u0), false);
    const TopoDS_Edge outer = BRepBuilderAPI_MakeEdge(new Geom2d_Ellipse(outline), surface).Edge();
    const TopoDS_Edge inner = BRepBuilderAPI_MakeEdge(new Geom2d_Circle(hole), surface).Edge();
    BRepBuilderAPI_MakeFace make(surface, BRepBuilderAPI_MakeWire(outer).Wire(), true);
    TopoDS_Wire hole_wire = BRepBuilderAPI_MakeWire(inner).Wire();
    hole_wire.Reverse();
    make.Add(hole_wire);
    TopoDS_Shape face = make.Face();
    BRepLib::BuildCurves3d(face);
    ShapeFix_Shape fix(face);
    fix.Perform();
    return fix.Shape();
}

// A plate with a grid of pockets whose vertical corners are rounded:
// hundreds of small faces.
TopoDS_Shape pocket_plate() {
    const int nx = 6, ny = 4;
    const double pitch = 16, pw = 11, depth = 4, t = 8;
    const double L = nx * pitch + 6, W = ny * pitch + 6;
    TopoDS_Shape plate = BRepPrimAPI_MakeBox(L, W, t).Shape();
    TopoDS_Shape tool = BRepPrimAPI_MakeBox(gp_Pnt(0, 0, t - depth), pw, pw, depth + 1).Shape();
    {
        BRepFilletAPI_MakeFillet f(tool);
        for (const TopoDS_Edge& e :
             straight_edges(tool, gp::DZ(), [](const gp_Pnt&) { return true; }))
            f.Add(2.5, e);
        tool = f.Shape();
    }
    TopTools_ListOfShape tools;
    for (int i = 0; i < nx; ++i)
        for (int j = 0; j < ny; ++j) {
            gp_Trsf move;
            move.SetTranslation(
                gp_Vec(3 + (pitch - pw) / 2 + i * pitch, 3 + (pitch - pw) / 2 + j * pitch, 0));
            tools.Append(BRepBuilderAPI_Transform(tool, move, true).Shape());
        }
    BRepAlgoAPI_Cut cut;
    TopTools_ListOfShape args;
    args.Append(plate);
    cut.SetArguments(args);
    cut.SetTools(tools);
    cut.Build();
    return cut.Shape();
}

// An assembly: a base plate, two pillars standing on it, a cross beam
// with rounded edges, a bolt head, a ball on the beam and a ring round a
// pillar, as separate solids.
TopoDS_Shape assembly() {
    BRep_Builder b;
    TopoDS_Compound c;
    b.MakeCompound(c);
    b.Add(c, BRepPrimAPI_MakeBox(gp_Pnt(0, 0, 0), 90, 40, 6).Shape());
    for (double x : {15.0, 75.0})
        b.Add(c, BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(x, 20, 6), gp::DZ()), 5, 40).Shape());
    TopoDS_Shape beam = BRepPrimAPI_MakeBox(gp_Pnt(5, 12, 46), 80, 16, 8).Shape();
    {
        BRepFilletAPI_MakeFillet f(beam);
        for (const TopoDS_Edge& e :
             straight_edges(beam, gp::DX(), [](const gp_Pnt&) { return true; }))
            f.Add(2, e);
        beam = f.Shape();
    }
    b.Add(c, beam);
    BRepBuilderAPI_MakePolygon outline;
    for (const auto& q : {std::array<double, 2>{0, 0}, {7, 0}, {7, 3}, {6, 4}, {0, 4}})
        outline.Add(gp_Pnt(q[0], 0, q[1]));
    outline.Close();
    const TopoDS_Shape head =
        BRepPrimAPI_MakeRevol(BRepBuilderAPI_MakeFace(outline.Wire(), true).Face(),
                              gp_Ax1(gp::Origin(), gp::DZ()), 2 * kPi)
            .Shape();
    gp_Trsf up;
    up.SetTranslation(gp_Vec(45, 20, 54));
    b.Add(c, BRepBuilderAPI_Transform(head, up, true).Shape());
    b.Add(c, BRepPrimAPI_MakeSphere(gp_Pnt(70, 20, 60), 6).Shape());
    b.Add(c, BRepPrimAPI_MakeTorus(gp_Ax2(gp_Pnt(15, 20, 20), gp::DZ()), 7, 2).Shape());
    return c;
}

// The writer's time stamps replaced by a fixed one of the same length.
std::string fixed_stamps(const std::string& text) {
    static const std::regex stamp("15H[0-9]{8}\\.[0-9]{6}");
    return std::regex_replace(text, stamp, "15H20261207.120000");
}

bool write_occt(const TopoDS_Shape& shape, bool brep, const std::string& path) {
    Interface_Static::SetCVal("write.iges.header.author", "ruvane");
    Interface_Static::SetCVal("write.iges.header.company", "ruvane");
    IGESControl_Writer writer("MM", brep ? 1 : 0);
    if (!writer.AddShape(shape)) return false;
    writer.ComputeModel();
    std::ostringstream text;
    if (!writer.Write(text)) return false;
    std::ofstream(path, std::ios::binary) << fixed_stamps(text.str());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: iges-models DIRECTORY\n");
        return 2;
    }
    const std::string dir = argv[1];
    IGESControl_Controller::Init();
    struct Part {
        const char* file;
        TopoDS_Shape (*make)();
        bool brep;
    };
    const Part parts[] = {
        {"bracket_brep.igs", bracket, true},    {"bracket_faces.igs", bracket, false},
        {"turned_brep.igs", turned_part, true}, {"turned_faces.igs", turned_part, false},
        {"skin_faces.igs", skin, false},        {"pockets_brep.igs", pocket_plate, true},
        {"assembly_brep.igs", assembly, true},
    };
    int failures = 0;
    for (const Part& p : parts) {
        const TopoDS_Shape shape = p.make();
        int faces = 0;
        for (TopExp_Explorer ex(shape, TopAbs_FACE); ex.More(); ex.Next()) ++faces;
        const bool ok = !shape.IsNull() && write_occt(shape, p.brep, dir + "/" + p.file);
        std::printf("%-20s %4d faces %s\n", p.file, faces, ok ? "" : "NOT WRITTEN");
        failures += !ok;
    }
    using namespace ruvane::iges::testing;
    const struct {
        const char* file;
        void (*make)(IgesBuilder*);
    } ours[] = {
        {"box_brep.igs",
         [](IgesBuilder* b) {
             box_brep(b, {10, 6, 4});
         }},
        {"box_sewn.igs",
         [](IgesBuilder* b) {
             box_sewn(b, {10, 6, 4});
         }},
        {"cylinder_brep.igs", [](IgesBuilder* b) { cylinder_brep(b, 3, 5); }},
        {"plate_12_holes.igs", [](IgesBuilder* b) { plate_sewn(b, 60, 40, 8, 4, 3, 3); }},
    };
    for (const auto& o : ours) {
        IgesBuilder b;
        o.make(&b);
        std::ofstream(dir + "/" + o.file, std::ios::binary) << b.str();
        std::printf("%-20s (ruvane's test writer)\n", o.file);
    }
    return failures ? 1 : 0;
}
