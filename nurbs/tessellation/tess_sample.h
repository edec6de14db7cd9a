// The surface at the crossings of a few parameter lines: the subdivision's
// flatness samples and its lattice's bend samples lie on such grids, where
// N_SUREVN would find the same basis functions again at every point.
#pragma once

#include <cstring>

#include "nurbs/basis.h"
#include "nurbs/nurbs.h"

namespace ruvane::tess {

// One parameter line's span and basis functions, found at its first use.
struct LineBasis {
    double N[kMaxDegree + 1];
    int span = 0;
    bool ready = false;
};

// Points at (us[i], vs[j]) with the caller's storage for the lines' bases
// (as many as there are values). Each point is N_SUREVN's to the bit, with
// its range checks and error records in the order the points are asked.
class LineSampler {
public:
    LineSampler(const Surface& sur, const double* us, LineBasis* ub, const double* vs,
                LineBasis* vb)
        : sur_(sur), us_(us), vs_(vs), ub_(ub), vb_(vb) {}

    // A line whose basis is ready has passed its range check: the checks
    // are asked again only where they could fail, in N_SUREVN's order.
    bool at(int i, int j, Point3* S) {
        LineBasis& a = ub_[i];
        LineBasis& b = vb_[j];
        if (!a.ready && check_range(*sur_.uknt, "N_SUREVN", us_[i]) != kOk) return false;
        if (!b.ready && check_range(*sur_.vknt, "N_SUREVN", vs_[j]) != kOk) return false;
        if (!a.ready && basis_in_range(*sur_.uknt, sur_.p, us_[i], 1, a.N, &a.span) != kOk)
            return false;
        a.ready = true;
        if (!b.ready && basis_in_range(*sur_.vknt, sur_.q, vs_[j], 1, b.N, &b.span) != kOk)
            return false;
        b.ready = true;
        *S = surface_point_of_basis(sur_, a.N, a.span, b.N, b.span);
        return true;
    }

private:
    const Surface& sur_;
    const double* us_;
    const double* vs_;
    LineBasis* ub_;
    LineBasis* vb_;
};

// Points at the crossings of parameter lines named by value, each line's
// basis and each crossing's point computed once however often it is asked
// for (the same value being the same bits, not merely equal): one cell's
// flatness and area tests ask for the same lines again. At most kLines
// distinct values in each direction; a further one is refused (-1).
class PointCache {
public:
    static constexpr int kLines = 16;
    explicit PointCache(const Surface& sur) : sur_(sur) {}

    int u_line(double u) { return line(us_, nu_, u); }
    int v_line(double v) { return line(vs_, nv_, v); }

    // The point at lines i and j, with the same checks and records as
    // LineSampler::at, in its order, for the lines met the first time.
    bool at(int i, int j, Point3* S) {
        if (i < 0 || j < 0) return false;
        const unsigned bit = 1u << j;
        if (have_[i] & bit) {
            *S = points_[i][j];
            return true;
        }
        LineSampler sample(sur_, us_, ub_, vs_, vb_);
        if (!sample.at(i, j, S)) return false;
        points_[i][j] = *S;
        have_[i] |= bit;
        return true;
    }

private:
    static int line(double* values, int& count, double x) {
        for (int k = 0; k < count; ++k)
            if (std::memcmp(&values[k], &x, sizeof x) == 0) return k;
        if (count == kLines) return -1;
        values[count] = x;
        return count++;
    }

    const Surface& sur_;
    double us_[kLines], vs_[kLines];
    LineBasis ub_[kLines], vb_[kLines];
    int nu_ = 0, nv_ = 0;
    unsigned have_[kLines] = {};  // per u line, a bit per v line
    Point3 points_[kLines][kLines];
};

}  // namespace ruvane::tess
