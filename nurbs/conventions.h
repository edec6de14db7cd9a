// Conventions shared by every numerical routine of ruvane: the 16-bit result,
// the process-wide error record, the division guard, host memory.
#pragma once

#include <cfloat>
#include <cstddef>
#include <cstdint>

namespace ruvane {

// 0 success, 1 failure (after the routine has filled the error record).
using Status = std::int16_t;
constexpr Status kOk = 0;
constexpr Status kFail = 1;

constexpr double kMinTolerance = 1e-7;  // smallest tessellation tolerance; degenerate-normal base
constexpr double kZeroTest = 1e-12;     // coincidence of parameter values
constexpr double kMinPivot = 1e-9;      // smallest LU pivot magnitude
constexpr double kMinWeight = 1e-4;
constexpr double kMaxWeight = 200.0;
constexpr int kMaxDegree = 28;

// Sentinels stored in homogeneous points.
constexpr double kPlanarZ = DBL_MAX;        // z of a two-dimensional point
constexpr double kNonRationalW = -DBL_MAX;  // w of a point stored unweighted

// Error codes recorded by the routines.
enum ErrorCode : int {
    kErrDegree = 3,
    kErrKnots = 4,
    kErrWeight = 5,
    kErrRange = 6,
    kErrTool = 7,
    kErrCapacity = 9,
    kErrDivision = 11,
    kErrSelector = 13,
    kErrOrderedSet = 14,
    kErrStorage = 15,
    kErrDegenerate = 17,
    kErrTolerance = 19,
    kErrRational = 20,
};

struct ErrorRecord {
    int code;
    const char* routine;
};

// The one error record of the process. Nothing in the library clears it.
ErrorRecord& error_record();
void set_error(int code, const char* routine);

// 0 when a / b is safe, 1 when it would divide by zero, overflow or underflow.
int guard_div(double a, double b);

// Host memory from the copied ComponentServices table. Null when no host is
// installed or the host refuses.
void* host_allocate(std::size_t size);
void host_release(void* block);

// How many requests the host has refused since the library was loaded. A
// step that takes a refusal for "not this way" (a cell left uncut, a
// lattice not laid) would make another mesh than the host would get with
// the memory; a tessellation compares the count before and after and
// fails as out of storage instead of delivering such a mesh.
unsigned long host_refusals();

}  // namespace ruvane
