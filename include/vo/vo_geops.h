/*
 * Codes and records of the geometry operators (vogeops, number 22):
 * triangulation, triangle strips, intersection and the duplication of
 * two-sided primitives.
 *
 * The triangle mesh and strip records are read by the hardware back end by
 * layout. A strip's first word names the reference node of its first
 * vertex; walking first, first->next, ... back to first gives the strip's
 * vertex sequence. orientation is 1 when the strip's first triangle, taken
 * in strip order, runs against its polygon (the back end then sends the
 * first vertex twice), else 0.
 *
 * This header is plain C (C99) and C++ compatible.
 */
#ifndef VO_GEOPS_H
#define VO_GEOPS_H

#include <stddef.h>

#include <vo/vo_types.h>

#ifdef __cplusplus
extern "C" {
#endif

struct VtReference;

typedef struct VtTriangleStrip {
  struct VtReference *first;    /* node of the first vertex */
  struct VtTriangleStrip *next; /* next strip of the mesh, null at the end */
  uint32_t orientation;
} VtTriangleStrip;

typedef struct VtTriangleMesh {
  VtTriangleStrip *first; /* null when there is no strip */
  uint32_t references;    /* primitives sharing the mesh */
} VtTriangleMesh;

#ifdef __cplusplus
static_assert(offsetof(VtTriangleStrip, first) == 0 && offsetof(VtTriangleStrip, next) == 8 &&
                  offsetof(VtTriangleStrip, orientation) == 16,
              "triangle strips are read by layout");
static_assert(offsetof(VtTriangleMesh, first) == 0 && offsetof(VtTriangleMesh, references) == 8,
              "triangle meshes are read by layout");
#endif

/* Controls (module 22). */
#define VO_CONTROL_GEOPS_POLL_PAIRS 0x160001u       /* VtNat32, 20: pairs between interrupt polls */
#define VO_CONTROL_GEOPS_SELF 0x160002u             /* VtBoolean, 0 */
#define VO_CONTROL_GEOPS_CUT_BOTH 0x160003u         /* VtBoolean, 0 */
#define VO_CONTROL_GEOPS_STOP_FIRST 0x160004u       /* VtBoolean, 1 */
#define VO_CONTROL_GEOPS_TOLERANCE 0x160005u        /* VtFloat, 1e-5, at most 0.01 */
#define VO_CONTROL_GEOPS_FRACTION 0x160006u         /* VtFloat, 0.005, at most 0.1 */
#define VO_CONTROL_GEOPS_PARALLEL_ANGLE 0x160007u   /* VtFloat degrees, 0.5, at most 10 */
#define VO_CONTROL_GEOPS_GREEDY_STRIPS 0x160008u    /* VtBoolean, 0 */
#define VO_CONTROL_GEOPS_WELD_KEYHOLES 0x160009u    /* VtBoolean, 1 */
#define VO_CONTROL_GEOPS_COPLANAR 0x16000au         /* VtFlags, 0 */
#define VO_CONTROL_GEOPS_CLASSIC_ABOVE 0x16000bu    /* VtNat32, 150: classic ear test above this */
#define VO_CONTROL_GEOPS_SHORTEST_SEGMENT 0x16000cu /* VtFloat, 0 */
#define VO_CONTROL_GEOPS_EDGES_ONLY 0x16000du       /* VtBoolean, 0 */

/* Execute codes (module 22). */
#define VO_EXECUTE_GEOPS_TRIANGULATE 0x160001u
#define VO_EXECUTE_GEOPS_INTERSECT 0x160002u
#define VO_EXECUTE_GEOPS_DUPLICATE_TWO_SIDED 0x160003u

#ifdef __cplusplus
}
#endif

#endif /* VO_GEOPS_H */
