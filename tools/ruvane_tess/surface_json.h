// Reading a trimmed surface description from the tool's JSON format (see
// README.md): the fields of TrimmedSurfaceDesc, the trim loops and the three
// tolerances. The reader checks every count against the arrays it got, so
// the library never reads past what the file gave.
#pragma once

#include <string>
#include <vector>

#include "include/ruvane.h"

namespace ruvane_tess {

struct CurveData {
    int order = 0;
    std::vector<double> points;  // x, y, z triples
    std::vector<double> weights;
    std::vector<double> knots;
};

struct Tolerances {
    double surface = 0.0;
    double trim = 0.0;
    double param = 0.0;
};

struct SurfaceData {
    int u_order = 0, v_order = 0;
    std::vector<double> u_knots, v_knots;
    std::vector<double> points;  // (j * nu + i) * 3, u fastest
    std::vector<double> weights;
    std::vector<CurveData> outer;
    std::vector<std::vector<CurveData>> holes;
    Tolerances tolerances;
};

// Parses `text`; on failure returns false with a one-line reason in `error`.
bool read_surface_description(const std::string& text, SurfaceData& out, std::string& error);

// The C records over a SurfaceData (which must outlive it).
class SurfaceRecords {
public:
    explicit SurfaceRecords(const SurfaceData& s);
    const TrimmedSurfaceDesc* get() const { return &desc_; }

private:
    std::vector<CurveDesc> outer_;
    std::vector<std::vector<CurveDesc>> holes_;
    std::vector<TrimLoopDesc> loops_;
    TrimmedSurfaceDesc desc_{};
};

}  // namespace ruvane_tess
