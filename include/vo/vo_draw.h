/*
 * The drawing record that line drawers hand to the output driver's drawing
 * operation (callback 0x1a0022, VoDriverDraw), its type codes, and the
 * driver callbacks that frame a run of drawn segments.
 *
 * This header is plain C (C99) and C++ compatible.
 */
#ifndef VO_DRAW_H
#define VO_DRAW_H

#include <vo/vo_types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A drawing record: four addresses, each of an array of point addresses,
 * one per point of the shape; the type code's point form says which is
 * used, the others may be null. 32 bytes.
 *  raster:     raster points (two 32-bit integers x, y), point form 2;
 *  projected:  four floats x, y, z, w in homogeneous projection coordinates
 *              of the current view (inside the view: 0 <= x, y, z <= w),
 *              point form 4;
 *  attributes: two floats per point, with type bit 0x1000;
 *  points3:    three-coordinate points, point form 8. */
typedef struct VtDrawRecord {
  void *raster;
  void *projected;
  void *attributes;
  void *points3;
} VtDrawRecord;

/* Draw type codes: shape | point form. */
#define VO_DRAW_SHAPE_POLYGON 0x200u         /* a filled convex polygon */
#define VO_DRAW_SHAPE_LINE 0x400u            /* a line or polyline */
#define VO_DRAW_SHAPE_CONVEX 0x600u          /* a filled convex polygon */
#define VO_DRAW_SHAPE_CIRCLE 0x2000u         /* a circle outline: centre, radius */
#define VO_DRAW_SHAPE_DISC 0x2200u           /* a filled circle */
#define VO_DRAW_SHAPE_ELLIPSE 0x4000u        /* an ellipse outline: centre, radii */
#define VO_DRAW_SHAPE_FILLED_ELLIPSE 0x4200u /* a filled ellipse */
#define VO_DRAW_SHAPE_ARC 0x8000u            /* an elliptical arc: centre, radii, start and end degrees */
#define VO_DRAW_SHAPE_ALL 0xee00u            /* the shape bits of a type code */
#define VO_DRAW_POINTS_RASTER 0x2u           /* raster points */
#define VO_DRAW_POINTS_PROJECTED 0x4u        /* four-float homogeneous projection points */
#define VO_DRAW_POINTS_3D 0x8u               /* three-coordinate points */
#define VO_DRAW_ATTRIBUTES 0x1000u           /* attributes are given */
#define VO_DRAW_SHAPE_MASK 0xe00u            /* the shape bits the line fallback reads */
#define VO_DRAW_RASTER_LINE (VO_DRAW_SHAPE_LINE | VO_DRAW_POINTS_RASTER)       /* 0x402 */
#define VO_DRAW_PROJECTED_LINE (VO_DRAW_SHAPE_LINE | VO_DRAW_POINTS_PROJECTED) /* 0x404 */

/* Driver callbacks of the drawing (module 26). */
#define VO_CALLBACK_DRIVER_SEGMENTS_END 0x1a0006u /* VtDriverSegmentsEndProc: closes a run of segments */
#define VO_CALLBACK_DRIVER_DRAW 0x1a0022u         /* VtDriverDrawProc: draws one shape */

/* (type code, point count, drawing record) -> status. */
typedef VtStatus (*VtDriverDrawProc)(uint32_t type, uint32_t count, VtDrawRecord *record);
/* () -> status. */
typedef VtStatus (*VtDriverSegmentsEndProc)(void);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(offsetof(VtDrawRecord, projected) == 8, "drawing record layout");
static_assert(offsetof(VtDrawRecord, points3) == 24, "drawing record layout");
static_assert(sizeof(VtDrawRecord) == 32, "drawing record layout");
#endif

#endif /* VO_DRAW_H */
