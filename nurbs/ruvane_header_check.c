/* The public headers are for C callers too: this file keeps them compiling as
   C in every build (and, in the 32-bit build, checks the host table's layout
   from C as well). */
#include "include/ruvane.h"

/* Referenced so that the unit is not empty and the C view of the prototypes
   is checked against their use. */
typedef bool (*RuvaneCreateFn)(const CurveDesc*, CurveHandle**);
const RuvaneCreateFn ruvane_c_view_of_create = ruvane_create_nurbs_curve;
