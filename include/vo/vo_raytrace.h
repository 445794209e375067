/*
 * Codes and service types of the ray tracer (module vorenray, number 7):
 * its controls, the ray services its callback procedure answers (the shader
 * kernel fetches them at every image start), its execute codes, and the
 * record through which the workers of a pass share one gathered scene.
 *
 * This header is plain C (C99) and C++ compatible.
 */
#ifndef VO_RAYTRACE_H
#define VO_RAYTRACE_H

#include <vo/vo_types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ */
/* Controls (VoControlSet / VoControlGet); start values in brackets     */
/* ------------------------------------------------------------------ */

/* The grid depth sets the speed of hit finding, never the hits: a scene
 * with a dense region small against its bounds (a detailed object in a
 * large room) is traced faster with a deeper grid, such as 14. */
#define VO_CONTROL_RAY_GRID_DEPTH 0x70001u /* VtNat32: octree grid 2^depth cells per axis, 0-15 (8) */
#define VO_CONTROL_RAY_LEAF_LIMIT                                                                           \
  0x70002u                                      /* VtNat32: objects a leaf holds before it splits; also the \
                                                   unbounded count above which building informs (8) */
#define VO_CONTROL_RAY_MAX_DEPTH 0x70003u       /* VtNat32: nested traced rays, at most 256 (16) */
#define VO_CONTROL_RAY_CUTOFF 0x70004u          /* VtFloat: least weight of a traced ray (0.05) */
#define VO_CONTROL_RAY_CONTRAST 0x70005u        /* VtFloat: contrast threshold of the full pass (0.1) */
#define VO_CONTROL_RAY_SHADOW_BIAS 0x70006u     /* VtFloat: added to every shadow ray's near (0.001) */
#define VO_CONTROL_RAY_MEMORY_LIMIT 0x70007u    /* VtNat32: octree bytes (0x40000000) */
#define VO_CONTROL_RAY_TRACING 0x70008u         /* VtBoolean: tracing switch (true) */
#define VO_CONTROL_RAY_TOLERANCE 0x70009u       /* VtDouble: on-edge tolerance (1e-10) */
#define VO_CONTROL_RAY_ALPHA_SUBDIVIDE 0x7000au /* VtBoolean: alpha-aware subdivision (false) */
#define VO_CONTROL_RAY_PREVIEW_POLL_FIRST 0x70011u /* VtNat32: preview lines before the first poll (0) */
#define VO_CONTROL_RAY_PREVIEW_POLL_EVERY 0x70012u /* VtNat32: preview lines between polls (1) */
#define VO_CONTROL_RAY_FULL_POLL_FIRST 0x70013u    /* VtNat32: full-pass lines before the first poll (0) */
#define VO_CONTROL_RAY_FULL_POLL_EVERY 0x70014u    /* VtNat32: full-pass lines between polls (1) */
#define VO_CONTROL_RAY_STICKY 0x70015u             /* VtStatus: sticky status (0) */
#define VO_CONTROL_RAY_CHANNELS 0x70016u           /* VtFlags: full pass's screen-buffer channels (0) */
#define VO_CONTROL_RAY_SPARE 0x70017u              /* VtFloat: stored only (1.0) */
#define VO_CONTROL_RAY_MIN_DISTANCE 0x70018u       /* VtDouble: hit window and continuation step (1e-5) */

/* ------------------------------------------------------------------ */
/* Services (VoCallBackGet; none can be replaced) and execute codes    */
/* ------------------------------------------------------------------ */

#define VO_RAY_SERVICE_PREPARE 0x70001u     /* VtRayPrepareProc: VoRayTracerScenePrepare */
#define VO_RAY_SERVICE_RELEASE 0x70002u     /* VtRayPrepareProc: VoRayTracerSceneRelease */
#define VO_RAY_SERVICE_HIT_FIND 0x70003u    /* VtRayHitFindProc: VoRayTracerHitFind */
#define VO_RAY_SERVICE_SHADE 0x70004u       /* VtRayShadeProc: VoRayTraceShade */
#define VO_RAY_SERVICE_SHADOW 0x70005u      /* VtRayShadowProc: VoRayTraceShadow */
#define VO_RAY_SERVICE_HIT 0x70006u         /* VtRayHitProc: VoRayTraceIntersect */
#define VO_RAY_SERVICE_HIT_POLYGON 0x70007u /* VtRayHitPolygonProc: VoRayTraceIntersectPolygon */

#define VO_EXECUTE_RAY_PREVIEW 0x70001u /* one eye ray through every pixel centre */
#define VO_EXECUTE_RAY_FULL 0x70002u    /* pixel corners with adaptive edge subdivision */

struct VtPrimitive;
struct VtPolygon;

typedef VtStatus (*VtRayPrepareProc)(void);
typedef struct VtPolygon *(*VtRayHitFindProc)(const float *origin, const float *direction,
                                              double near_distance, double far_distance,
                                              struct VtPolygon *excluded_polygon);
typedef VtStatus (*VtRayShadeProc)(float *colour, const float *origin, const float *direction, double weight);
typedef float (*VtRayShadowProc)(const float *origin, const float *direction, double near_distance,
                                 double far_distance, struct VtPolygon *excluded_polygon);
typedef VtStatus (*VtRayHitProc)(struct VtPrimitive **primitive, struct VtPolygon **polygon, float *point);
typedef struct VtPolygon *(*VtRayHitPolygonProc)(void);

/* The gathered scene that the contexts of one pass share: valid while a
 * gathering is shared; the primitives to trace, the sources given a
 * retained expansion for the pass, the temporary pieces made by expansion
 * (reference lists); then five words of octree set-up. */
typedef struct VtRaySceneShare {
  uintptr_t valid;
  void *trace;
  void *retained;
  void *temporary;
  uintptr_t octree[5];
} VtRaySceneShare;

#ifdef __cplusplus
}
#endif

#endif /* VO_RAYTRACE_H */
