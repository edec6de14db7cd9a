// The counting host fixture under the name the tessellation tests include.
#pragma once

#include "nurbs/testing/ruvane_test_host.h"

namespace ruvane_test = sx::testing;
