// Copying a caller's CurveDesc into a pool and building the curve from it:
// shared by the kept curves and the trim curves of a tessellation.
#pragma once

#include "include/ruvane.h"
#include "nurbs/nurbs.h"

namespace ruvane {

enum class DescCopy {
    kOk,         // the curve is built in the target record
    kRejected,   // the description is invalid (or N_IGS126 failed, storage included)
    kNoStorage,  // the copy arrays themselves could not be allocated
};

// Largest control-point count a description may give: keeps every array size
// far inside 32-bit sizes.
constexpr int kMaxDescCount = 1 << 24;

// Copies the description (values within +-1e-9 stored as 0) and builds the
// curve over [0, 1] with N_IGS126 into `cur`, all storage from `pool`.
DescCopy copy_curve_desc(const CurveDesc* desc, Curve* cur, Pool* pool);

}  // namespace ruvane
