/*
 * Codes of the view module (voview, number 9): view kinds, projection kinds,
 * the value codes of VoViewGetValue, the module's controls and its
 * procedure look-ups.
 *
 * This header is plain C (C99) and C++ compatible.
 */
#ifndef VO_VIEW_H
#define VO_VIEW_H

#include <vo/vo_types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* View kinds. */
#define VO_VIEW_KIND_UNAVAILABLE 1 /* evaluating it answers 2 */
#define VO_VIEW_KIND_PINHOLE 2     /* eye, reference point, up vector and angle */
#define VO_VIEW_KIND_MATRIX 3      /* a projection matrix and its inverse */

/* Projection kinds of a pinhole camera: 2 perspective, any other parallel. */
#define VO_PROJECTION_PARALLEL 1
#define VO_PROJECTION_PERSPECTIVE 2

/* Value codes of VoViewGetValue: the address of one evaluated value of the
 * current view, with the value type (VtInt32Array 13, VtFloatArray 14,
 * VtDoubleArray 15, VtWordAddress 16). The addresses stay valid while the
 * module runs; neighbouring values follow the one answered. */
#define VO_VIEW_VALUE_WINDOW 1           /* 14: x0, x1, y0, y1, then depth 0.0, 1.0 */
#define VO_VIEW_VALUE_ASPECT 3           /* 14: image aspect, then its reciprocal */
#define VO_VIEW_VALUE_EYE 4              /* 14: eye point */
#define VO_VIEW_VALUE_PROJECTION 6       /* 15: projection matrix, then its inverse */
#define VO_VIEW_VALUE_VIEWPORT 9         /* 13: xmin, xmax, ymin, ymax in pixels */
#define VO_VIEW_VALUE_PROJECTION_KIND 11 /* 16 */
#define VO_VIEW_VALUE_RESOLUTION 12      /* 13: x, y */
#define VO_VIEW_VALUE_EDGES 14           /* 14: horizontal then vertical window edge */
#define VO_VIEW_VALUE_CORNER 15          /* 14: window corner, then side and down axes */
#define VO_VIEW_VALUE_SIDE 16            /* 14: side axis */
#define VO_VIEW_VALUE_REFERENCE 17       /* 14: reference point */
#define VO_VIEW_VALUE_UP 18              /* 14: up vector as used */
#define VO_VIEW_VALUE_DIRECTION 19       /* 14: viewing direction */
#define VO_VIEW_VALUE_HITHER 20          /* 16: float */
#define VO_VIEW_VALUE_YON 21             /* 16: float */
#define VO_VIEW_VALUE_SERIAL 22          /* 13: evaluation serial */
#define VO_VIEW_VALUE_PLANE_NORMAL 23    /* 14: view-plane normal */
#define VO_VIEW_VALUE_ANGLE 24           /* 14: angle term */
#define VO_VIEW_VALUE_ANGLE_PER_PIXEL 25 /* 14 */
#define VO_VIEW_VALUE_ANGLE_TANGENT 26   /* 14: tangent of the angle per pixel */
#define VO_VIEW_VALUE_CORNER_DOUBLE 27   /* 15: window corner, then side and down axes */
#define VO_VIEW_VALUE_EDGES_DOUBLE 28    /* 15: horizontal then vertical window edge */
#define VO_VIEW_VALUE_SIDE_DOUBLE 29     /* 15: side axis */
#define VO_VIEW_VALUE_USER_WORD 30       /* 13: a word of the current view free for its user */

/* Controls (VtBoolean). */
#define VO_CONTROL_VIEW_KEEP_UP 0x90001u   /* orbit and pan keep the up vector (true) */
#define VO_CONTROL_VIEW_AUTO_CLIP 0x90002u /* camera motions set hither and yon from the scene (false) */

/* Procedure look-ups (VoCallBackGet; they cannot be set). */
#define VO_CALLBACK_VIEW_CLIP_SIDES 0x90001u   /* VoPolygonClipSides */
#define VO_CALLBACK_VIEW_CLIP_DISCARD 0x90002u /* VoPolygonClipDiscard */

/* Where clipping finds its data in the elements of one contents record
 * (VoClipLayoutGet(VoPrimitiveGetContents(p), &layout)): byte offsets in the
 * vertex and polygon data blocks, -1 for a property the contents lack.
 * Renderers look the layout up once per primitive and pass it to the culling
 * and clipping procedures. */
typedef struct VtClipLayout {
  int32_t screen;       /* vertex screen point (1027) */
  int32_t vertex_next;  /* vertex next (1026): null for a vertex made by clipping */
  int32_t vrefs;        /* polygon vertex references (514) */
  int32_t vrefsclip;    /* polygon clipped boundary (515) */
  int32_t polygon_next; /* polygon next (516); -1: the polygons are not on a ring */
} VtClipLayout;

/* Results of VoViewProjectBounds and VoViewClassifyPoints. */
#define VO_CLIP_OUTSIDE 0 /* wholly outside one side */
#define VO_CLIP_PARTLY 1  /* partly inside */
#define VO_CLIP_INSIDE 2  /* wholly inside every side */

/* Side indices of VoPolygonClipSides, with the window fraction each reads. */
#define VO_CLIP_SIDE_LEFT 0   /* x0 */
#define VO_CLIP_SIDE_RIGHT 1  /* x1 */
#define VO_CLIP_SIDE_TOP 2    /* y0 */
#define VO_CLIP_SIDE_BOTTOM 3 /* y1 */
#define VO_CLIP_SIDE_NEAR 4
#define VO_CLIP_SIDE_FAR 5

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(VtClipLayout) == 20, "clip layouts are passed by address");
#endif

#endif /* VO_VIEW_H */
