// ruvane-tess on a whole IGES model: read, mesh every face with one
// deflection, write one mesh with a group per face, and summarise.
#pragma once

#include <cstdio>
#include <string>

#include "iges/model_mesh.h"

namespace ruvane_tess {

// Texts both modes print.
constexpr const char* kCannotWrite = "ruvane-tess: cannot write %s\n";
constexpr const char* kInitFailed = "ruvane-tess: the component refused its host table\n";
constexpr const char* kLibraryFailed = "ruvane-tess: the tessellator ran out of memory\n";

struct ModelRun {
    std::string input, output, format;  // format: obj, ply or stl
    double deflection = 0;              // absolute; 0 = relative applies
    double relative = 1e-3;             // of the bounding box diagonal
};

bool is_model_file(const std::string& path);

// Writes the mesh; per-face groups in OBJ. False when the stream failed.
bool write_model_obj(const ruvane::iges::ModelMesh& mesh, std::FILE* out);
bool write_model_ply(const ruvane::iges::ModelMesh& mesh, std::FILE* out);
bool write_model_stl(const ruvane::iges::ModelMesh& mesh, std::FILE* out);

// The whole run; returns the exit code (0 triangles delivered, 1 unreadable
// input or output, 2 nothing meshed).
int run_model(const ModelRun& run);

}  // namespace ruvane_tess
