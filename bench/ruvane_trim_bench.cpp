// Trim work as the loops grow: one outer loop of many line segments, and a
// grid of many small square holes, on a gently curved bicubic face (10 x 8
// units, tolerance 0.01). Time per tessellation; the triangle count and the
// status are shown so that a faster run that meshes less is seen.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "include/ruvane.h"

namespace {

void* bench_allocate(size_t size) { return std::malloc(size); }
void bench_release(void* block) { std::free(block); }
void count(const TessTriangle*, void* user) { ++*static_cast<long*>(user); }

struct Face {
    std::vector<double> uk{0, 0, 0, 0, 0.5, 1, 1, 1, 1}, vk{0, 0, 0, 0, 0.5, 1, 1, 1, 1};
    std::vector<double> points, weights;
    // Every curve is a degree-1 polyline; curve c uses points[c], knots[c].
    std::vector<std::vector<double>> pts, ws, knots;
    std::vector<CurveDesc> outer;
    std::vector<std::vector<CurveDesc>> hole_curves;
    std::vector<TrimLoopDesc> holes;
    TrimmedSurfaceDesc desc{};

    Face() {
        for (int j = 0; j < 5; ++j)
            for (int i = 0; i < 5; ++i) {
                points.insert(points.end(), {2.5 * i, 2.0 * j, 0.3 * std::sin(i + 0.7 * j)});
                weights.push_back(1.0);
            }
    }
    // A polyline through (u, v) pairs as one curve.
    CurveDesc polyline(const std::vector<std::pair<double, double>>& uv) {
        const int n = static_cast<int>(uv.size());
        pts.emplace_back();
        ws.emplace_back(n, 1.0);
        knots.emplace_back();
        for (auto [u, v] : uv) pts.back().insert(pts.back().end(), {u, v, 0});
        knots.back().push_back(0);
        for (int i = 0; i < n; ++i) knots.back().push_back(static_cast<double>(i) / (n - 1));
        knots.back().push_back(1);
        return CurveDesc{2, n, pts.back().data(), ws.back().data(), 0, knots.back().data()};
    }
    const TrimmedSurfaceDesc* finish() {
        for (const auto& h : hole_curves)
            holes.push_back(TrimLoopDesc{static_cast<int32_t>(h.size()), h.data()});
        desc = TrimmedSurfaceDesc{4,
                                  4,
                                  9,
                                  9,
                                  uk.data(),
                                  vk.data(),
                                  0,
                                  points.data(),
                                  weights.data(),
                                  static_cast<int32_t>(outer.size()),
                                  outer.data(),
                                  static_cast<int32_t>(holes.size()),
                                  holes.data()};
        return &desc;
    }
};

void run(benchmark::State& state, const TrimmedSurfaceDesc* d) {
    long triangles = 0;
    int32_t status = 0;
    for (auto _ : state) {
        triangles = 0;
        if (!ruvane_tesselate_ruvane(count, d, &status, 0.01, 0.01, 1e-6, &triangles))
            state.SkipWithError("out of memory");
    }
    state.counters["triangles"] = static_cast<double>(triangles);
    state.counters["status"] = status;
}

// An outer loop of n segments: a wavy circle, counter-clockwise.
void BM_OuterLoopSegments(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Face f;
    f.pts.reserve(4);
    std::vector<std::pair<double, double>> uv;
    for (int k = 0; k <= n; ++k) {
        const double a = 2 * M_PI * (k % n) / n, r = 0.45 + 0.03 * std::sin(7 * a);
        uv.push_back({0.5 + r * std::cos(a), 0.5 + r * std::sin(a)});
    }
    f.outer.push_back(f.polyline(uv));
    run(state, f.finish());
}
BENCHMARK(BM_OuterLoopSegments)->Arg(1000)->Arg(4000)->Arg(20000)->Unit(benchmark::kMillisecond);

// k x k square holes inside a square outer loop.
void BM_SquareHoles(benchmark::State& state) {
    const int k = static_cast<int>(std::lround(std::sqrt(static_cast<double>(state.range(0)))));
    Face f;
    f.pts.reserve(2 + k * k);  // the curves keep pointers into these vectors
    f.ws.reserve(2 + k * k);
    f.knots.reserve(2 + k * k);
    f.outer.push_back(
        f.polyline({{0.02, 0.02}, {0.98, 0.02}, {0.98, 0.98}, {0.02, 0.98}, {0.02, 0.02}}));
    const double step = 0.94 / k, side = 0.4 * step;
    for (int i = 0; i < k; ++i)
        for (int j = 0; j < k; ++j) {
            const double u = 0.04 + i * step, v = 0.04 + j * step;
            f.hole_curves.push_back(
                {f.polyline({{u, v}, {u, v + side}, {u + side, v + side}, {u + side, v}, {u, v}})});
        }
    run(state, f.finish());
}
BENCHMARK(BM_SquareHoles)->Arg(100)->Arg(400)->Arg(1600)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    ComponentServices host = {};
    host.table_version = 2;
    host.allocate = bench_allocate;
    host.release = bench_release;
    component_client_init(&host);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
