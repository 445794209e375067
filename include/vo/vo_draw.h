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

/* A drawing record: a kind word (0 for the point forms below), a pad word
 * and the address of an array of point addresses, one per point of the
 * shape. For the projection point form each address is that of four floats
 * x, y, z, w in homogeneous projection coordinates of the current view
 * (inside the view: 0 <= x, y, z <= w). 16 bytes. */
typedef struct VtDrawRecord {
  int32_t kind;
  int32_t pad;
  void *points;
} VtDrawRecord;

/* Draw type codes: shape | point form. */
#define VO_DRAW_SHAPE_LINE 0x400u     /* a line or polyline */
#define VO_DRAW_POINTS_RASTER 0x2u    /* raster points */
#define VO_DRAW_POINTS_PROJECTED 0x4u /* four-float homogeneous projection points */
#define VO_DRAW_POINTS_3D 0x8u        /* three-coordinate points */
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
static_assert(offsetof(VtDrawRecord, pad) == 4, "drawing record layout");
static_assert(offsetof(VtDrawRecord, points) == 8, "drawing record layout");
static_assert(sizeof(VtDrawRecord) == 16, "drawing record layout");
#endif

#endif /* VO_DRAW_H */
