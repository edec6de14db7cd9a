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
    // Compare magnitudes through logarithms so that the test itself can neither
    // overflow nor underflow.
    const double la = std::log(std::fabs(a));
    const double lb = std::log(std::fabs(b));
    if (la >= std::log(DBL_MAX) + lb) return 1;
    if (la > std::log(DBL_MIN) + lb) return 0;
    return 1;
}

void* host_allocate(std::size_t size) {
    const ComponentServices& host = host_services();
    if (host.allocate == nullptr || size == 0) return nullptr;
    return host.allocate(size);
}

void host_release(void* block) {
    if (block == nullptr) return;
    const ComponentServices& host = host_services();
    if (host.release != nullptr) host.release(block);
}

}  // namespace ruvane
