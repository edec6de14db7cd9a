// libFuzzer target: the surface-description reader of ruvane-tess, and the
// tessellator on every small description the reader accepts (at coarse
// tolerances, so that each input stays quick).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "include/ruvane.h"
#include "tools/ruvane_tess/surface_json.h"

namespace {

void* fuzz_allocate(size_t size) { return std::malloc(size); }
void fuzz_release(void* block) { std::free(block); }
void ignore(const TessTriangle*, void*) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool installed = [] {
        static ComponentServices host = {};
        host.table_version = 2;
        host.allocate = fuzz_allocate;
        host.release = fuzz_release;
        return component_client_init(&host);
    }();
    (void)installed;
    ruvane_tess::SurfaceData s;
    std::string error;
    if (!ruvane_tess::read_surface_description(
            std::string(reinterpret_cast<const char*>(data), size), s, error))
        return 0;
    size_t curve_points = 0;
    for (const auto& c : s.outer) curve_points += c.weights.size();
    for (const auto& h : s.holes)
        for (const auto& c : h) curve_points += c.weights.size();
    if (s.weights.size() > 64 || curve_points > 64) return 0;
    // Tolerances relative to the net's extent keep the subdivision small.
    double extent = 0.0;
    for (double x : s.points) extent = std::fmax(extent, std::fabs(x));
    const double tol = std::fmax(0.05 * extent, 1e-3);
    if (!std::isfinite(tol)) return 0;
    const ruvane_tess::SurfaceRecords records(s);
    int32_t status = 0;
    ruvane_tesselate_ruvane(ignore, records.get(), &status, tol, tol, 1e-4, nullptr);
    return 0;
}
