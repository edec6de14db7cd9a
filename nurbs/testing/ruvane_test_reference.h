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

// The rational combination of `count` control points with basis values b(e).
template <class Basis>
RefPoint weighted_mean(int count, const std::vector<double>& w, const std::vector<double>& pts,
                       Basis b) {
    Real s[4] = {0, 0, 0, 0};
    for (int e = 0; e < count; ++e) {
        const Real f = b(e) * w[e];
        for (int k = 0; k < 3; ++k) s[k] += f * pts[3 * e + k];
        s[3] += f;
    }
    return {s[0] / s[3], s[1] / s[3], s[2] / s[3]};
}

struct CurveData {
    int p = 0;
    std::vector<double> knots;    // n + p + 2
    std::vector<double> weights;  // n + 1
    std::vector<double> points;   // 3 (n + 1)
    int count() const { return static_cast<int>(weights.size()); }
};

inline RefPoint reference_curve_point(const CurveData& c, double u, bool right_closed) {
    return weighted_mean(c.count(), c.weights, c.points,
                         [&](int i) { return basis(c.knots, i, c.p, u, right_closed); });
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
    return weighted_mean(s.nu * s.nv, s.weights, s.points, [&](int e) {
        return basis(s.uknots, e % s.nu, s.p, u, ru) * basis(s.vknots, e / s.nu, s.q, v, rv);
    });
}

// Knot vector of `count` points and degree p whose valid domain covers
// [a, b]; clamped ends sit exactly on a and b, unclamped ones spread beyond.
inline std::vector<double> random_knots(std::mt19937& rng, int count, int p, double a, double b,
                                        bool clamped) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> knots;
    for (int i = 0; i < p; ++i) knots.push_back(clamped ? a : a - unit(rng));
    knots.push_back(a);
    while (static_cast<int>(knots.size()) < count) {  // inner knots, mostly single
        const double k = a + (b - a) * unit(rng);
        const int repeat = std::min(p, 1 + static_cast<int>(unit(rng) * 4.0 * unit(rng) * p));
        for (int r = 0; r < repeat && static_cast<int>(knots.size()) < count; ++r)
            knots.push_back(k);
    }
    knots.push_back(b);
    for (int i = 0; i < p; ++i) knots.push_back(clamped ? b : b + unit(rng));
    std::sort(knots.begin(), knots.end());  // the three groups do not overlap
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
