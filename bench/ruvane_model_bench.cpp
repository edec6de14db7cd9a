// Model meshing of the IGES samples (iges/samples/) at 1e-3 and 1e-4 of each
// model's bounding-box diagonal, read once and meshed over and over: time
// per model and triangles, without OpenCASCADE, so that the mesher's own
// cost can be profiled and compared between builds.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "iges/iges_model.h"
#include "iges/model_mesh.h"

namespace {

std::string samples_folder() {
    std::string here = __FILE__;
    return here.substr(0, here.find_last_of("/\\")) + "/../iges/samples/";
}

// The host table is handed over on the first run, once every static of the
// library is in place.
bool start_library() {
    static ComponentServices host{};
    host.table_version = 1;
    host.allocate = [](size_t size) { return std::malloc(size); };
    host.release = [](void* block) { std::free(block); };
    return component_client_init(&host);
}

void mesh(benchmark::State& state, const std::string& file, double relative) {
    static const bool started = start_library();
    if (!started) {
        state.SkipWithError("the library refused the host table");
        return;
    }
    std::ifstream in(samples_folder() + file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string bytes = text.str();
    ruvane::iges::Model model;
    std::string why;
    if (!ruvane::iges::read_model(bytes.data(), bytes.size(), ruvane::iges::Limits{}, &model, &why)) {
        state.SkipWithError(("cannot read " + file + ": " + why).c_str());
        return;
    }
    ruvane::iges::MeshOptions options;
    options.deflection = relative * ruvane::iges::net_diagonal(model);
    size_t triangles = 0;
    for (auto _ : state) {
        ruvane::iges::ModelMesh out;
        if (!ruvane::iges::mesh_model(model, options, &out)) {
            state.SkipWithError(("mesher failed: " + std::to_string(options.deflection)).c_str());
            break;
        }
        triangles = out.triangles.size();
    }
    state.counters["triangles"] = static_cast<double>(triangles);
}

const char* const kModels[] = {"box_brep.igs",       "cylinder_brep.igs", "plate_12_holes.igs",
                               "bracket_brep.igs",   "bracket_faces.igs", "turned_brep.igs",
                               "turned_faces.igs",   "skin_faces.igs",    "pockets_brep.igs",
                               "assembly_brep.igs"};

const bool registered = [] {
    for (const char* file : kModels)
        for (double relative : {1e-3, 1e-4}) {
            std::ostringstream name;
            name << file << "/" << relative;
            benchmark::RegisterBenchmark(name.str().c_str(), mesh, std::string(file), relative)
                ->Unit(benchmark::kMillisecond);
        }
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
