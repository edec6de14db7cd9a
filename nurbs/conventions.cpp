#include "nurbs/conventions.h"

#include <cmath>

#include "nurbs/host.h"

namespace ruvane {

namespace {
ErrorRecord g_error = {0, " "};
}  // namespace

ErrorRecord& error_record() { return g_error; }

void set_error(int code, const char* routine) {
    g_error.code = code;
    g_error.routine = routine;
}

int guard_div(double a, double b) {
    if (b == 0.0 || std::isnan(a) || std::isnan(b)) return 1;
    if (a == 0.0) return 0;
    // |a / b| must lie strictly between DBL_MIN and DBL_MAX. Each bound is
    // compared as a product that cannot overflow: DBL_MAX * |b| only for
    // |b| <= 1, DBL_MIN * |b| (at most about 4) for any b. No logarithms, so
    // the test needs nothing from the maths library.
    const double fa = std::fabs(a);
    const double fb = std::fabs(b);
    if (!(fa <= DBL_MAX)) return 1;  // an infinite numerator
    if (fb <= 1.0 && fa >= DBL_MAX * fb) return 1;
    if (fa <= DBL_MIN * fb) return 1;
    return 0;
}

namespace {
unsigned long refusals = 0;
}  // namespace

void* host_allocate(std::size_t size) {
    const ComponentServices& host = host_services();
    if (host.allocate == nullptr || size == 0) return nullptr;
    void* block = host.allocate(size);
    if (block == nullptr) ++refusals;
    return block;
}

unsigned long host_refusals() { return refusals; }

void host_release(void* block) {
    if (block == nullptr) return;
    const ComponentServices& host = host_services();
    if (host.release != nullptr) host.release(block);
}

}  // namespace ruvane
