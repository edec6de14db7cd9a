// Tessellation of the ruvane-tess sample surfaces through the C interface,
// each at its own tolerances and at 1/3 and 1/10 of them: time per surface
// and triangles per second.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "include/ruvane.h"
#include "tools/ruvane_tess/surface_json.h"

namespace {

void* bench_allocate(size_t size) { return std::malloc(size); }
void bench_release(void* block) { std::free(block); }

void count(const TessTriangle*, void* user) { ++*static_cast<long*>(user); }

std::string samples_folder() {
    std::string here = __FILE__;
    return here.substr(0, here.find_last_of("/\\")) + "/../tools/ruvane_tess/samples/";
}

void tessellate(benchmark::State& state, const ruvane_tess::SurfaceData* s, double scale) {
    const ruvane_tess::SurfaceRecords records(*s);
    long triangles = 0;
    int32_t status = 0;
    for (auto _ : state) {
        triangles = 0;
        const bool ok =
            ruvane_tesselate_ruvane(count, records.get(), &status, s->tolerances.surface * scale,
                                    s->tolerances.trim * scale, s->tolerances.param, &triangles);
        if (!ok) state.SkipWithError("out of memory");
    }
    state.counters["triangles"] = static_cast<double>(triangles);
    state.counters["triangles/s"] =
        benchmark::Counter(static_cast<double>(triangles) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
    state.counters["status"] = status;
}

}  // namespace

int main(int argc, char** argv) {
    ComponentServices host = {};
    host.table_version = 2;
    host.allocate = bench_allocate;
    host.release = bench_release;
    component_client_init(&host);
    static std::vector<ruvane_tess::SurfaceData> surfaces;
    const char* names[] = {"planar_hole", "bicubic_bump", "cylinder", "torus", "sphere_pole"};
    surfaces.reserve(std::size(names));
    for (const char* name : names) {
        std::ifstream in(samples_folder() + name + ".json", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        ruvane_tess::SurfaceData s;
        std::string error;
        if (!ruvane_tess::read_surface_description(text.str(), s, error)) {
            std::fprintf(stderr, "%s: %s\n", name, error.c_str());
            return 1;
        }
        surfaces.push_back(std::move(s));
        for (double scale : {1.0, 1.0 / 3.0, 0.1}) {
            const std::string label = std::string(name) + "/tolerance x" +
                                      (scale == 1.0  ? "1"
                                       : scale < 0.2 ? "0.1"
                                                     : "0.33");
            benchmark::RegisterBenchmark(label.c_str(), tessellate, &surfaces.back(), scale)
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
