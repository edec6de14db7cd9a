// occt-export-faces: writes every face of the benchmark's models, converted
// to NURBS, as a ruvane-tess input file at tolerance FACTOR x the model's
// diagonal, for the programs that mesh single faces (ruvane-first-call).
//
//   occt-export-faces --out DIR [--factor F] [--only MODEL,...]
#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_NurbsConvert.hxx>
#include <Bnd_Box.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/occt_export.h"
#include "bench/occt_models.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::string out, only;
    double factor = 1e-3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--out")
            out = argv[i + 1];
        else if (a == "--factor")
            factor = std::atof(argv[i + 1]);
        else if (a == "--only")
            only = "," + std::string(argv[i + 1]) + ",";
        else
            out.clear();
    }
    if (out.empty() || argc % 2 == 0 || !(factor > 0)) {
        std::fputs("usage: occt-export-faces --out DIR [--factor F] [--only MODEL,...]\n", stderr);
        return 1;
    }
    fs::create_directories(out);
    int written = 0;
    for (const occt_bench::Model& model : occt_bench::make_models(false)) {
        if (!only.empty() && only.find("," + model.name + ",") == std::string::npos) continue;
        Bnd_Box box;
        BRepBndLib::Add(model.shape, box);
        const double d = factor * std::sqrt(box.SquareExtent());
        BRepBuilderAPI_NurbsConvert convert(model.shape, true);
        TopTools_IndexedMapOfShape faces;
        TopExp::MapShapes(model.shape, TopAbs_FACE, faces);
        for (int i = 1; i <= faces.Extent(); ++i) {
            const TopoDS_Face face = TopoDS::Face(convert.ModifiedShape(faces(i)));
            occt_bench::FaceRecord record;
            std::string why;
            if (!record.build(face, why)) {
                std::printf("%s face %d not exported: %s\n", model.name.c_str(), i - 1,
                            why.c_str());
                continue;
            }
            char name[64];
            std::snprintf(name, sizeof name, "_face%03d.json", i - 1);
            std::ofstream json(fs::path(out) / (model.name + name));
            record.write_json(json, d, d);
            written += json ? 1 : 0;
        }
    }
    std::printf("%d faces written to %s\n", written, out.c_str());
    return written > 0 ? 0 : 1;
}
