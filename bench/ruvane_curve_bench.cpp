// Cost of one curve point (degrees 1, 3, 5, rational or not) and of one
// surface point and normal on bicubic surfaces, through the library routines.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "include/ruvane.h"
#include "nurbs/nurbs.h"

namespace {

void* bench_allocate(size_t size) { return std::malloc(size); }
void bench_release(void* block) { std::free(block); }

void install_host() {
    ComponentServices table = {};
    table.table_version = 1;
    table.allocate = bench_allocate;
    table.release = bench_release;
    component_client_init(&table);
}

// A curve of `count` points with uniform interior knots, through the C API.
CurveHandle* make_curve(int degree, bool rational, int count) {
    std::mt19937 rng(degree * 10 + rational);
    std::uniform_real_distribution<double> coord(-10.0, 10.0);
    std::uniform_real_distribution<double> weight(0.5, 2.0);
    std::vector<double> knots, points, weights;
    for (int i = 0; i <= degree; ++i) knots.push_back(0.0);
    for (int i = 1; i < count - degree; ++i) knots.push_back(double(i) / (count - degree));
    for (int i = 0; i <= degree; ++i) knots.push_back(1.0);
    for (int i = 0; i < count; ++i) {
        for (int k = 0; k < 3; ++k) points.push_back(coord(rng));
        weights.push_back(rational ? weight(rng) : 1.0);
    }
    const CurveDesc desc{degree + 1, count, points.data(), weights.data(), 0, knots.data()};
    CurveHandle* handle = nullptr;
    if (!ruvane_create_nurbs_curve(&desc, &handle)) std::abort();
    return handle;
}

// ns per point: the counter is reported per evaluated point.
void BM_CurvePoint(benchmark::State& state) {
    install_host();
    const int degree = static_cast<int>(state.range(0));
    const bool rational = state.range(1) != 0;
    CurveHandle* handle = make_curve(degree, rational, 24);
    double u = 0.0;
    double point[3];
    for (auto _ : state) {
        u += 0.0061803398875;
        if (u > 1.0) u -= 1.0;
        if (!ruvane_evaluate_nurbs_curve(&handle, u, point)) std::abort();
        benchmark::DoNotOptimize(point);
    }
    state.SetItemsProcessed(state.iterations());
    ruvane_destroy_nurbs_curve(&handle);
}
BENCHMARK(BM_CurvePoint)
    ->ArgNames({"degree", "rational"})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({3, 0})
    ->Args({3, 1})
    ->Args({5, 0})
    ->Args({5, 1});

struct BenchSurface {
    ruvane::Pool pool;
    ruvane::Surface sur;
};

BenchSurface* make_bicubic(bool rational) {
    const int n = 8;  // 8 x 8 points: 5 x 5 spans
    std::vector<double> knots = {0, 0, 0, 0, 0.2, 0.4, 0.6, 0.8, 1, 1, 1, 1};
    std::vector<std::vector<ruvane::Point3>> pts(n, std::vector<ruvane::Point3>(n));
    std::vector<std::vector<double>> wts(n, std::vector<double>(n));
    std::vector<const ruvane::Point3*> prow;
    std::vector<const double*> wrow;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            pts[i][j] = {double(i), double(j), std::sin(0.7 * i) * std::cos(0.5 * j)};
            wts[i][j] = rational ? 1.0 + 0.3 * ((i * 3 + j) % 4) : 1.0;
        }
        prow.push_back(pts[i].data());
        wrow.push_back(wts[i].data());
    }
    auto* s = new BenchSurface();
    if (ruvane::N_IGS128(n - 1, n - 1, 3, 3, knots.data(), knots.data(), wrow.data(), prow.data(),
                         0.0, 1.0, 0.0, 1.0, &s->sur, &s->pool) != ruvane::kOk) {
        std::abort();
    }
    return s;
}

void BM_SurfacePoint(benchmark::State& state) {
    install_host();
    BenchSurface* s = make_bicubic(state.range(0) != 0);
    double u = 0.0, v = 0.5;
    ruvane::Point3 S;
    for (auto _ : state) {
        u += 0.0061803398875;
        if (u > 1.0) u -= 1.0;
        v += 0.0038196601125;
        if (v > 1.0) v -= 1.0;
        if (ruvane::N_SUREVN(s->sur, 1, u, v, &S) != ruvane::kOk) std::abort();
        benchmark::DoNotOptimize(S);
    }
    state.SetItemsProcessed(state.iterations());
    ruvane::pool_release_all(&s->pool);
    delete s;
}
BENCHMARK(BM_SurfacePoint)->ArgName("rational")->Arg(0)->Arg(1);

void BM_SurfacePointAndNormal(benchmark::State& state) {
    install_host();
    BenchSurface* s = make_bicubic(state.range(0) != 0);
    double u = 0.0, v = 0.5;
    ruvane::Point3 S, tu, tv, n;
    for (auto _ : state) {
        u += 0.0061803398875;
        if (u > 1.0) u -= 1.0;
        v += 0.0038196601125;
        if (v > 1.0) v -= 1.0;
        if (ruvane::N_SURNOR(s->sur, 1, u, v, &S, &tu, &tv, &n) != ruvane::kOk) std::abort();
        benchmark::DoNotOptimize(n);
    }
    state.SetItemsProcessed(state.iterations());
    ruvane::pool_release_all(&s->pool);
    delete s;
}
BENCHMARK(BM_SurfacePointAndNormal)->ArgName("rational")->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
