// Independent reference evaluation for the tests: B-spline basis functions by
// their defining recursion in long double (no span search, no triangular
// scheme), and random curve and surface descriptions.
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace sx::testing {

using Real = long double;

// N_{i,k}(u); 0/0 counts as 0. `right_closed` makes the degree-0 functions
// closed on the right, which gives the left limit at the end of the domain.
inline Real basis(const std::vector<double>& U, int i, int k, Real u, bool right_closed) {
    if (k == 0) {
        if (right_closed) return (U[i] < u && u <= U[i + 1]) ? 1 : 0;
        return (U[i] <= u && u < U[i + 1]) ? 1 : 0;
    }
    Real value = 0;
    const Real a = static_cast<Real>(U[i + k]) - U[i];
    if (a != 0) value += (u - U[i]) / a * basis(U, i, k - 1, u, right_closed);
    const Real b = static_cast<Real>(U[i + k + 1]) - U[i + 1];
    if (b != 0) value += (U[i + k + 1] - u) / b * basis(U, i + 1, k - 1, u, right_closed);
    return value;
}

struct RefPoint {
    Real x = 0, y = 0, z = 0;
};

struct CurveData {
    int p = 0;
    std::vector<double> knots;    // n + p + 2
    std::vector<double> weights;  // n + 1
    std::vector<double> points;   // 3 (n + 1)
    int count() const { return static_cast<int>(weights.size()); }
};

inline RefPoint reference_curve_point(const CurveData& c, double u, bool right_closed) {
    Real x = 0, y = 0, z = 0, w = 0;
    for (int i = 0; i < c.count(); ++i) {
        const Real b = basis(c.knots, i, c.p, u, right_closed) * c.weights[i];
        x += b * c.points[3 * i];
        y += b * c.points[3 * i + 1];
        z += b * c.points[3 * i + 2];
        w += b;
    }
    return {x / w, y / w, z / w};
}

struct SurfaceData {
    int p = 0, q = 0;
    int nu = 0, nv = 0;           // point counts
    std::vector<double> uknots;   // nu + p + 1
    std::vector<double> vknots;   // nv + q + 1
    std::vector<double> weights;  // entry j * nu + i
    std::vector<double> points;   // 3 per entry
};

inline RefPoint reference_surface_point(const SurfaceData& s, double u, double v, bool ru,
                                        bool rv) {
    std::vector<Real> Nu(s.nu), Nv(s.nv);
    for (int i = 0; i < s.nu; ++i) Nu[i] = basis(s.uknots, i, s.p, u, ru);
    for (int j = 0; j < s.nv; ++j) Nv[j] = basis(s.vknots, j, s.q, v, rv);
    Real x = 0, y = 0, z = 0, w = 0;
    for (int j = 0; j < s.nv; ++j) {
        for (int i = 0; i < s.nu; ++i) {
            const int e = j * s.nu + i;
            const Real b = Nu[i] * Nv[j] * s.weights[e];
            x += b * s.points[3 * e];
            y += b * s.points[3 * e + 1];
            z += b * s.points[3 * e + 2];
            w += b;
        }
    }
    return {x / w, y / w, z / w};
}

// Knot vector of `count` points and degree p whose valid domain covers
// [a, b]; clamped ends sit exactly on a and b, unclamped ones spread beyond.
inline std::vector<double> random_knots(std::mt19937& rng, int count, int p, double a, double b,
                                        bool clamped) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> knots;
    std::vector<double> below, above;
    for (int i = 0; i < p; ++i) {
        below.push_back(clamped ? a : a - unit(rng));
        above.push_back(clamped ? b : b + unit(rng));
    }
    std::sort(below.begin(), below.end());
    std::sort(above.begin(), above.end());
    std::vector<double> inner;
    while (static_cast<int>(inner.size()) < count - p - 1) {
        double k = a + (b - a) * unit(rng);
        const int repeat = 1 + static_cast<int>(unit(rng) * 4.0 * unit(rng) * p);  // mostly 1
        for (int r = 0; r < std::min(repeat, p) && static_cast<int>(inner.size()) < count - p - 1;
             ++r) {
            inner.push_back(k);
        }
    }
    std::sort(inner.begin(), inner.end());
    knots.insert(knots.end(), below.begin(), below.end());
    knots.push_back(a);
    knots.insert(knots.end(), inner.begin(), inner.end());
    knots.push_back(b);
    knots.insert(knots.end(), above.begin(), above.end());
    return knots;
}

inline CurveData random_curve(std::mt19937& rng, int p, bool clamped, bool rational, bool planar,
                              double a = 0.0, double b = 1.0) {
    std::uniform_real_distribution<double> coord(-10.0, 10.0);
    std::uniform_real_distribution<double> weight(0.25, 4.0);
    std::uniform_int_distribution<int> extra(0, 6);
    CurveData c;
    c.p = p;
    const int count = p + 1 + extra(rng);
    c.knots = random_knots(rng, count, p, a, b, clamped);
    const double common = weight(rng);
    for (int i = 0; i < count; ++i) {
        c.weights.push_back(rational ? weight(rng) : common);
        c.points.push_back(coord(rng));
        c.points.push_back(coord(rng));
        c.points.push_back(planar ? 0.0 : coord(rng));
    }
    return c;
}

inline double max_abs(const std::vector<double>& values) {
    double m = 0.0;
    for (double v : values) m = std::max(m, std::fabs(v));
    return m;
}

}  // namespace sx::testing
