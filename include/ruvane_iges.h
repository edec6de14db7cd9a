/*
 * ruvane's IGES reader and model mesher, for hosts that load the library.
 *
 * Exported by ruvane_model (ruvane_model.dll, libruvane_model.so), which is
 * the whole ruvane component (include/ruvane.h) with the reader added; the
 * player's ruvane.dll does not carry them (its size limit). A host loads
 * ruvane_model in place of ruvane and starts it the same way.
 *
 * Call order: component_client_init with the host table (include/ruvane.h),
 * then ruvane_iges_open on the file's bytes, ruvane_iges_summary and
 * ruvane_iges_skipped_kind to see what was read, ruvane_iges_mesh with one
 * deflection, ruvane_iges_mesh_data and ruvane_iges_face_outcome to read the
 * result, and ruvane_iges_free_mesh and ruvane_iges_close to give everything
 * back. One thread at a time, as for the rest of the library.
 *
 * Ownership: every record and array these calls hand out belongs to the
 * library. It lives in memory taken from the host table's allocate slot and
 * stays valid until the handle it came from is freed through this API, which
 * returns it through the release slot that was current when it was taken. A
 * host never frees it itself, so a host whose heap differs from the
 * library's is safe. A mesh does not depend on its model: either may be
 * freed first.
 *
 * Every call returns a RUVANE_IGES_* status. A handle that is null, already
 * freed or never handed out is refused with RUVANE_IGES_BAD_HANDLE, never
 * followed. Output records are written only on RUVANE_IGES_OK.
 *
 * Records are laid out as 32-bit words and IEEE doubles; the win32 build
 * checks their offsets at compile time.
 */
#ifndef SX_INCLUDE_RUVANE_IGES_H
#define SX_INCLUDE_RUVANE_IGES_H

#include "ruvane.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque: a model read from a file, and a mesh made from one. */
typedef struct RuvaneIgesModel RuvaneIgesModel;
typedef struct RuvaneIgesMesh RuvaneIgesMesh;

enum {
    RUVANE_IGES_OK = 0,
    RUVANE_IGES_BAD_ARGUMENT = 1, /* null output, index out of range, bad tolerance */
    RUVANE_IGES_BAD_HANDLE = 2,   /* null, freed or unknown handle */
    RUVANE_IGES_NO_HOST = 3,      /* component_client_init has not given us memory */
    RUVANE_IGES_NO_MEMORY = 4,    /* the host's allocator or the library's heap refused */
    RUVANE_IGES_NOT_IGES = 5,     /* no IGES sections found */
    RUVANE_IGES_TOO_LARGE = 6,    /* over the reader's size or entity bounds */
    RUVANE_IGES_UNSUPPORTED = 7,  /* binary or compressed IGES */
    RUVANE_IGES_FAILED = 8        /* the mesher could not run at all */
};

/* What the reader took from the file. Texts are terminated and owned by the
   model. */
typedef struct RuvaneIgesSummary {
    int32_t faces;          /* trimmed faces read */
    int32_t entities;       /* directory entries */
    int32_t skipped;        /* unknown or broken entities passed over */
    int32_t skipped_kinds;  /* distinct entity types among them */
    int32_t blanked;        /* faces left out because they are blanked */
    int32_t shells;         /* B-rep shells and solids */
    int32_t solids;         /*   (entities 514 and 186) */
    int32_t units_flag;     /* the Global section's unit flag */
    double unit_to_mm;      /* one model unit in millimetres, scale applied */
    double tolerance_mm;    /* the model's resolution in millimetres */
    const char* units_name; /* the Global section's unit name */
    int32_t reserved;       /* 0 */
} RuvaneIgesSummary;

/* One entity type among the skipped entities. */
typedef struct RuvaneIgesSkippedKind {
    int32_t type;       /* IGES entity type number */
    int32_t count;      /* entities of that type skipped */
    const char* reason; /* why the first of them was skipped */
} RuvaneIgesSkippedKind;

/* The whole mesh, in millimetres. Vertex k is vertices[3k..3k+2]; triangle
   t is triangles[3t..3t+2] (0-based vertex indices, counter-clockwise seen
   from outside a closed shell) and belongs to face triangle_face[t]. */
typedef struct RuvaneIgesMeshData {
    int32_t vertex_count;
    int32_t triangle_count;
    int32_t face_count;      /* every face of the model, meshed or not */
    int32_t failed_faces;    /* faces with a failure text */
    int32_t free_edges;      /* mesh edges used by one triangle only */
    int32_t bad_edges;       /* used more than twice, or twice the same way */
    int32_t shared_edges;    /* model edges bounding two faces */
    int32_t unmatched_edges; /* boundary curves no other face shares */
    const double* vertices;
    const int32_t* triangles;
    const int32_t* triangle_face;
    int32_t reserved; /* 0 */
} RuvaneIgesMeshData;

/* How one face fared. */
typedef struct RuvaneIgesFaceOutcome {
    int32_t entity;      /* directory entry sequence number of the face */
    int32_t status;      /* the tessellator's RUVANE_TESS_* status */
    int32_t triangles;   /* triangles of this face in the mesh */
    const char* failure; /* "" when the face was meshed */
} RuvaneIgesFaceOutcome;

/* Reads a model from `size` bytes at `data` (not kept: the buffer may be
   reused at once). A broken or unknown entity is skipped and counted, not
   fatal. */
RUVANE_API int32_t ruvane_iges_open(const void* data, uint32_t size, RuvaneIgesModel** model);
RUVANE_API int32_t ruvane_iges_summary(const RuvaneIgesModel* model, RuvaneIgesSummary* out);
/* index from 0 to skipped_kinds - 1, by increasing type number. */
RUVANE_API int32_t ruvane_iges_skipped_kind(const RuvaneIgesModel* model, int32_t index,
                                            RuvaneIgesSkippedKind* out);
/* Meshes every face within `deflection` millimetres (at least 1e-7, finite)
   and a parameter tolerance (positive, finite; 1e-6 suits most models). A
   face that fails is reported in its outcome and the rest delivered. */
RUVANE_API int32_t ruvane_iges_mesh(const RuvaneIgesModel* model, double deflection,
                                    double param_tolerance, RuvaneIgesMesh** mesh);
RUVANE_API int32_t ruvane_iges_mesh_data(const RuvaneIgesMesh* mesh, RuvaneIgesMeshData* out);
/* face from 0 to face_count - 1, in the model's order. */
RUVANE_API int32_t ruvane_iges_face_outcome(const RuvaneIgesMesh* mesh, int32_t face,
                                            RuvaneIgesFaceOutcome* out);
/* Free the handle and everything read from it, and set *handle to null.
   A null pointer or a null *handle is nothing to do (OK). */
RUVANE_API int32_t ruvane_iges_free_mesh(RuvaneIgesMesh** mesh);
RUVANE_API int32_t ruvane_iges_close(RuvaneIgesModel** model);

#ifdef __cplusplus
}
#endif

#endif
