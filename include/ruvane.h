/*
 * ruvane: NURBS curves and trimmed-surface tessellation, as the player loads it.
 *
 * Call order: component_client_interface_version, component_client_init with
 * the host table (all memory comes from its allocate/release slots), then the
 * curve and tessellation functions, then component_client_shutdown.
 * The library is not reentrant: one thread at a time.
 *
 * Records are laid out as 32-bit words and IEEE doubles; the win32 build checks
 * the offsets at compile time (nurbs/ruvane_module.cpp).
 */
#ifndef SX_INCLUDE_RUVANE_H
#define SX_INCLUDE_RUVANE_H

#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#include "component_services.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define RUVANE_API __declspec(dllexport)
#else
#define RUVANE_API __attribute__((visibility("default")))
#endif

/* A NURBS curve as the caller describes it; also every trim curve. */
typedef struct CurveDesc {
    int32_t order;         /* degree + 1 */
    int32_t count;         /* number of control points */
    const double* points;  /* count triples x, y, z */
    const double* weights; /* count weights */
    int32_t reserved;      /* not read */
    const double* knots;   /* count + order knots, non-decreasing */
} CurveDesc;

/* One closed trim loop: curves joined end to start. */
typedef struct TrimLoopDesc {
    int32_t count;
    const CurveDesc* curves;
} TrimLoopDesc;

typedef struct TrimmedSurfaceDesc {
    int32_t u_order;
    int32_t v_order;
    int32_t u_knot_count;
    int32_t v_knot_count;
    const double* u_knots;
    const double* v_knots;
    int32_t reserved;
    /* nu x nv points, nu = u_knot_count - u_order, nv = v_knot_count - v_order;
       point (i, j) is entry j * nu + i (u runs fastest) */
    const double* points;
    const double* weights; /* one per control point, same order */
    int32_t outer_count;
    const CurveDesc* outer_curves;
    int32_t inner_count;
    const TrimLoopDesc* inner_loops;
} TrimmedSurfaceDesc;

typedef struct TessVertex {
    double position[3]; /* S(u, v) */
    double u;           /* metric-plane coordinates */
    double v;
    double reserved;  /* always 0.0 */
    double normal[3]; /* unit surface normal */
} TessVertex;

typedef struct TessTriangle {
    TessVertex vertex[3];
    double face_normal[3];
} TessTriangle;

/* Called once per triangle; the record is valid only during the call. */
typedef void (*TriangleSink)(const TessTriangle* triangle, void* user);

/* Opaque: a kept curve and the storage it lives in. */
typedef struct CurveHandle CurveHandle;

/* Tessellation status values written through the status argument. */
enum {
    RUVANE_TESS_OK = 0,
    RUVANE_TESS_BAD_SURFACE = 1,
    RUVANE_TESS_BAD_OUTER_CURVE = 2,
    RUVANE_TESS_BAD_HOLE_CURVE = 3,
    RUVANE_TESS_NO_TRIANGLES = 4,
    RUVANE_TESS_SKIPPED_TRIANGLES = 5
};

RUVANE_API int32_t component_client_interface_version(void);
RUVANE_API bool component_client_init(const ComponentServices* services);
RUVANE_API void component_client_shutdown(void);

RUVANE_API bool ruvane_create_nurbs_curve(const CurveDesc* desc, CurveHandle** out);
RUVANE_API bool ruvane_evaluate_nurbs_curve(CurveHandle* const* handle, double u, double point[3]);
RUVANE_API bool ruvane_destroy_nurbs_curve(CurveHandle** handle);

RUVANE_API bool ruvane_tesselate_ruvane(TriangleSink sink, const TrimmedSurfaceDesc* surface,
                                        int32_t* status, double surface_tolerance,
                                        double trim_tolerance, double param_tolerance, void* user);

/* A trim loop given as a fixed boundary polyline: count (u, v) pairs in the
   surface's parameter plane, in loop order, the first point not repeated at
   the end. count 0 leaves the loop to its curves. */
typedef struct FixedLoopDesc {
    int32_t count;
    const double* points;
} FixedLoopDesc;

/* ruvane_tesselate_ruvane with some trim loops fixed: loops[0] stands for the
   outer loop and loops[1 + h] for hole h (loops may be null: none fixed).
   A fixed loop becomes the trim polygon exactly; its curves are not read
   (their count may be 0), its direction comes from its signed area, and the
   mesh places no vertex on it besides its own points, except where removing
   one would fold a triangle or leave the surface tolerance. In the delivered
   triangles a vertex's `reserved` holds k + 1 for the k-th point of the fixed
   loops (counted through loops[0], loops[1], ... in their given order), -1
   for a vertex left on a fixed loop between two of its points, and 0 for
   every other vertex. *left (when not null) receives the number of vertices
   left so. A fixed loop of fewer than three points, more than 2^22 points or
   a point that is not finite gives status 2 (outer) or 3 (hole). */
RUVANE_API bool ruvane_tesselate_fixed(TriangleSink sink, const TrimmedSurfaceDesc* surface,
                                       const FixedLoopDesc* loops, int32_t* status,
                                       double surface_tolerance, double trim_tolerance,
                                       double param_tolerance, void* user, int32_t* left);

/* Whether ruvane_tesselate_fixed meshes the face, its loops fixed, as closed
   rows round the direction its surface closes in (a ball, a ring, a profile
   turned a full turn: one loop, running along the domain's bounds), and in
   *seam_sag the most a chord of its seams may sag at this surface tolerance
   for the rows to sit on the seam's points without rows between them. False,
   with nothing written, for any other face or an unusable description. */
RUVANE_API bool ruvane_rows_seam(const TrimmedSurfaceDesc* surface, double surface_tolerance,
                                 double* seam_sag);

/* The library's error record: the code of the last error any routine
   recorded (0 when none has yet) and, when routine is not null, its
   eight-character routine name, terminated (9 bytes). Nothing clears it; a
   caller that wants the cause of one call's failure compares codes, e.g. 19
   (a tolerance refused: NaN, infinite, below 1e-7, or a parameter tolerance
   that is zero, negative or denormal) or 9 with "N_TESSUB" (the subdivision
   reached its cell-corner limit, RUVANE_TESS_CORNER_LIMIT). */
enum { RUVANE_TESS_CORNER_LIMIT = 1500000 };
RUVANE_API int32_t ruvane_last_error(char* routine);

#ifdef __cplusplus
}
#endif

#endif
