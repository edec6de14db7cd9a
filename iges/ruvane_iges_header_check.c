/* Keeps the model interface's header compiling as C in every build. */
#include "include/ruvane_iges.h"

/* Referenced so that the unit is not empty and the C view of the prototypes
   is checked against their use. */
typedef int32_t (*RuvaneIgesMeshFn)(const RuvaneIgesModel*, double, double, RuvaneIgesMesh**);
const RuvaneIgesMeshFn ruvane_iges_c_view_of_mesh = ruvane_iges_mesh;
