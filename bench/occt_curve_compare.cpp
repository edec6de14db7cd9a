// One curve point from ruvane's exported evaluation against OpenCASCADE's
// Geom_BSplineCurve::D0, on the same curves (degrees 1 to 5, rational or not,
// 24 points, uniform interior knots) and the same parameter stream.
//
//   occt-curve-compare [rounds]          interleaved timing, a Markdown table
//   occt-curve-compare --count ruvane|occt DEGREE RATIONAL N
//                                        N points only, for an instruction
//                                        counter (valgrind --tool=callgrind)
//
// The machine is shared: each round times every curve with both evaluators
// in turn (processor time of this thread), and the table gives the median
// and the spread of the rounds' ratios.
#include <Geom_BSplineCurve.hxx>
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColgp_Array1OfPnt.hxx>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "include/ruvane.h"

namespace {

void* bench_allocate(size_t size) { return std::malloc(size); }
void bench_release(void* block) { std::free(block); }

double thread_ns() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return 1e9 * static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec);
}

constexpr int kPoints = 24;
constexpr double kStep = 0.0061803398875;  // irrational step: every span, no pattern

struct TestCurve {
    CurveHandle* ruvane = nullptr;
    Handle(Geom_BSplineCurve) occt;
};

TestCurve make_curve(int degree, bool rational) {
    std::mt19937 rng(degree * 10 + rational);
    std::uniform_real_distribution<double> coord(-10.0, 10.0);
    std::uniform_real_distribution<double> weight(0.5, 2.0);
    std::vector<double> knots, points, weights;
    for (int i = 0; i <= degree; ++i) knots.push_back(0.0);
    for (int i = 1; i < kPoints - degree; ++i) knots.push_back(double(i) / (kPoints - degree));
    for (int i = 0; i <= degree; ++i) knots.push_back(1.0);
    for (int i = 0; i < kPoints; ++i) {
        for (int k = 0; k < 3; ++k) points.push_back(coord(rng));
        weights.push_back(rational ? weight(rng) : 1.0);
    }
    TestCurve c;
    const CurveDesc desc{degree + 1, kPoints, points.data(), weights.data(), 0, knots.data()};
    if (!ruvane_create_nurbs_curve(&desc, &c.ruvane)) std::abort();

    TColgp_Array1OfPnt poles(1, kPoints);
    TColStd_Array1OfReal occt_weights(1, kPoints);
    for (int i = 0; i < kPoints; ++i) {
        poles.SetValue(i + 1, gp_Pnt(points[3 * i], points[3 * i + 1], points[3 * i + 2]));
        occt_weights.SetValue(i + 1, weights[i]);
    }
    const int distinct = kPoints - degree + 1;
    TColStd_Array1OfReal occt_knots(1, distinct);
    TColStd_Array1OfInteger mults(1, distinct);
    for (int i = 0; i < distinct; ++i) {
        occt_knots.SetValue(i + 1, double(i) / (distinct - 1));
        mults.SetValue(i + 1, i == 0 || i == distinct - 1 ? degree + 1 : 1);
    }
    c.occt = rational ? new Geom_BSplineCurve(poles, occt_weights, occt_knots, mults, degree)
                      : new Geom_BSplineCurve(poles, occt_knots, mults, degree);
    return c;
}

// `n` points of the stream; the sum keeps the work from being optimised away.
double run_ruvane(CurveHandle* handle, long n) {
    double u = 0.0, sum = 0.0, p[3];
    for (long i = 0; i < n; ++i) {
        u += kStep;
        if (u > 1.0) u -= 1.0;
        if (!ruvane_evaluate_nurbs_curve(&handle, u, p)) std::abort();
        sum += p[0] + p[1] + p[2];
    }
    return sum;
}

double run_occt(const Handle(Geom_BSplineCurve) & curve, long n) {
    double u = 0.0, sum = 0.0;
    gp_Pnt p;
    for (long i = 0; i < n; ++i) {
        u += kStep;
        if (u > 1.0) u -= 1.0;
        curve->D0(u, p);
        sum += p.X() + p.Y() + p.Z();
    }
    return sum;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

}  // namespace

int main(int argc, char** argv) {
    ComponentServices table = {};
    table.table_version = 1;
    table.allocate = bench_allocate;
    table.release = bench_release;
    if (!component_client_init(&table)) return 1;

    if (argc == 6 && std::strcmp(argv[1], "--count") == 0) {
        TestCurve c = make_curve(std::atoi(argv[3]), std::atoi(argv[4]) != 0);
        const long n = std::atol(argv[5]);
        const double s =
            std::strcmp(argv[2], "occt") == 0 ? run_occt(c.occt, n) : run_ruvane(c.ruvane, n);
        std::printf("%g\n", s);
        ruvane_destroy_nurbs_curve(&c.ruvane);
        return 0;
    }

    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const long n = 200000;
    std::printf(
        "| degree | rational | ruvane ns/point | D0 ns/point | ratio, median | ratio, "
        "min-max over %d rounds |\n|---|---|---|---|---|---|\n",
        rounds);
    for (int degree = 1; degree <= 5; ++degree) {
        for (int rational = 0; rational <= 1; ++rational) {
            TestCurve c = make_curve(degree, rational != 0);
            std::vector<double> ours, theirs, ratios;
            volatile double sink = run_ruvane(c.ruvane, n / 10) + run_occt(c.occt, n / 10);
            for (int r = 0; r < rounds; ++r) {
                double t0 = thread_ns();
                sink = sink + run_ruvane(c.ruvane, n);
                double t1 = thread_ns();
                sink = sink + run_occt(c.occt, n);
                double t2 = thread_ns();
                ours.push_back((t1 - t0) / n);
                theirs.push_back((t2 - t1) / n);
                ratios.push_back((t1 - t0) / (t2 - t1));
            }
            std::printf("| %d | %s | %.1f | %.1f | **%.2f** | %.2f-%.2f |\n", degree,
                        rational ? "yes" : "no", median(ours), median(theirs), median(ratios),
                        *std::min_element(ratios.begin(), ratios.end()),
                        *std::max_element(ratios.begin(), ratios.end()));
            ruvane_destroy_nurbs_curve(&c.ruvane);
        }
    }
    return 0;
}
