/*
 * Pen-and-ink strokes (module vonpr, number 96): the NPR edge, the
 * per-primitive parameter record an application attaches as primitive
 * property VO_PRIM_NPR_DATA (317), and the module's controls and actions.
 *
 * An NPR edge is a world-space polyline with its owner primitive and a line
 * attribute word; its points are count x three floats, owned by the edge.
 * The owner a capture stamps on every primitive is property
 * VO_PRIM_NPR_PRIM (318).
 *
 * A parameter record overrides, per primitive, the context value of every
 * parameter whose mask bit is set; the others are read from the controls.
 *
 * An NPR background places an image behind a rendering of a given size:
 * tiled, centred or scaled (resampled once, at creation, into a float copy),
 * with a fill colour where the image does not reach. It is opaque; the
 * unscaled modes read the image at every sample, so a destroyed image
 * answers the fill colour from then on.
 *
 * The "pencil seed" colour writes a vector field into the NPR context: one
 * float pair per pixel of the rendered resolution, row-major, entry
 * y x width + x; the line integral convolution reads it.
 *
 * This header is plain C (C99) and C++ compatible.
 */
#ifndef VO_NPR_H
#define VO_NPR_H

#include <vo/vo_types.h>

#ifdef __cplusplus
#include <cstddef>
extern "C" {
#else
#include <stddef.h>
#endif

/* Controls (value type in brackets). */
#define VO_CONTROL_NPR_EDGE_LIST 0x600001u        /* VtGenericPtr: the current edge list */
#define VO_CONTROL_NPR_PLANE_PROJECTION 0x600002u /* VtBoolean (1) */
#define VO_CONTROL_NPR_HIDDEN_LINE_MODE 0x600003u /* VtBoolean (1): two-pass capture */
#define VO_CONTROL_NPR_MATERIAL 0x600004u         /* VtGenericPtr: the stroke material */
#define VO_CONTROL_NPR_NEAR_DEPTH 0x600005u       /* VtFloat (0) */
#define VO_CONTROL_NPR_NEAR_WIDTH 0x600006u       /* VtFloat (0.002) */
#define VO_CONTROL_NPR_FAR_DEPTH 0x600007u        /* VtFloat (0) */
#define VO_CONTROL_NPR_FAR_WIDTH 0x600008u        /* VtFloat (0.002) */
#define VO_CONTROL_NPR_WIDTH_FACTOR 0x600009u     /* VtFloat (1): edges whose user word has bit 4 */
#define VO_CONTROL_NPR_TAPER 0x60000au            /* VtBoolean: flags bit 1 */
#define VO_CONTROL_NPR_TAPER_END 0x60000bu        /* VtFloat (1) */
#define VO_CONTROL_NPR_PROCESSING 0x60000cu       /* VtBoolean: flags bit 2 */
#define VO_CONTROL_NPR_SPACING 0x60000du          /* VtFloat (1) */
#define VO_CONTROL_NPR_WOBBLE 0x60000eu           /* VtFloat (1) */
#define VO_CONTROL_NPR_TWIST 0x60000fu            /* VtFloat (1) */
#define VO_CONTROL_NPR_WOBBLE_SCALE 0x600010u     /* VtFloat (10) */
#define VO_CONTROL_NPR_TWIST_SCALE 0x600011u      /* VtFloat (10) */
#define VO_CONTROL_NPR_JITTER 0x600012u           /* VtFloat (0) */
#define VO_CONTROL_NPR_TRANSFORM 0x600013u        /* VtBoolean: flags bit 3 */
#define VO_CONTROL_NPR_JOIN_TOLERANCE 0x600014u   /* VtFloat (0) */
#define VO_CONTROL_NPR_NOISE_OFFSET 0x600015u     /* VtFloat (0) */
#define VO_CONTROL_NPR_KEPT 0x600016u             /* VtBoolean (0): kept, unused */
#define VO_CONTROL_NPR_JOIN 0x600017u             /* VtBoolean (0) */
#define VO_CONTROL_NPR_KEPT_WORD 0x600018u        /* 39 (4): kept, unused */
#define VO_CONTROL_NPR_MIN_WIDTH 0x600019u        /* VtDouble (1): minimum stroke width in pixels */

/* Actions (VoExecute). */
#define VO_EXECUTE_NPR_CAPTURE 0x600001u      /* the hidden lines become the current edge list */
#define VO_EXECUTE_NPR_PROCESS 0x600002u      /* join, orient, jitter, resample, wobble */
#define VO_EXECUTE_NPR_DRAW 0x600003u         /* the edges drawn as strokes (A-buffer) */
#define VO_EXECUTE_NPR_STROKES 0x600004u      /* capture, process, draw (A-buffer), list freed */
#define VO_EXECUTE_NPR_STROKES_ZBUF 0x600005u /* the same through the z-buffer */

/* Flags word bits (context and parameter record word 1). */
#define VO_NPR_FLAG_CAPTURE 0x1u
#define VO_NPR_FLAG_TAPER 0x2u
#define VO_NPR_FLAG_PROCESSING 0x4u
#define VO_NPR_FLAG_TRANSFORM 0x8u

/* Mask bits of a parameter record: the overrides present. */
#define VO_NPR_MASK_MATERIAL 0x1u
#define VO_NPR_MASK_NEAR_DEPTH 0x2u
#define VO_NPR_MASK_NEAR_WIDTH 0x4u
#define VO_NPR_MASK_FAR_DEPTH 0x8u
#define VO_NPR_MASK_FAR_WIDTH 0x10u
#define VO_NPR_MASK_WIDTH_FACTOR 0x20u
#define VO_NPR_MASK_TAPER 0x40u
#define VO_NPR_MASK_TAPER_END 0x80u
#define VO_NPR_MASK_CAPTURE 0x100u
#define VO_NPR_MASK_PROCESSING 0x200u
#define VO_NPR_MASK_SPACING 0x400u
#define VO_NPR_MASK_WOBBLE 0x800u
#define VO_NPR_MASK_TWIST 0x1000u
#define VO_NPR_MASK_JITTER 0x2000u
#define VO_NPR_MASK_TRANSFORM 0x4000u

/* Background modes. */
#define VO_NPR_BACKGROUND_TILED 0x8000u         /* image size, tiled from (0, 0) */
#define VO_NPR_BACKGROUND_TILED_CENTRED 0x8001u /* image size, tiled, centred */
#define VO_NPR_BACKGROUND_CENTRED 2u            /* image size, centred, once */
#define VO_NPR_BACKGROUND_STRETCHED 0x4003u     /* scaled to W x H */
#define VO_NPR_BACKGROUND_FIT_WIDTH 0x4004u     /* scaled to width W, aspect kept */
#define VO_NPR_BACKGROUND_FIT_HEIGHT 0x4005u    /* scaled to height H, aspect kept */
#define VO_NPR_BACKGROUND_FIT_WIDTH_CENTRED 0x6006u
#define VO_NPR_BACKGROUND_FIT_HEIGHT_CENTRED 0x6007u

typedef struct VtNPRBackground VtNPRBackground;

/* Block pools of the module. */
#define VO_POOL_NPR_PARAMETERS 0x600001u
#define VO_POOL_NPR_EDGES 0x600002u

/* An NPR edge: 24 bytes. */
typedef struct VtNPREdge {
  void *owner;    /* the primitive the edge belongs to */
  uint32_t user;  /* line attribute word */
  uint32_t count; /* points */
  float *points;  /* count x (x, y, z), owned by the edge */
} VtNPREdge;

/* The per-primitive parameter record (property 317): 64 bytes. */
typedef struct VtNPRPrimitiveData {
  uint32_t mask;  /* VO_NPR_MASK_... */
  uint32_t flags; /* VO_NPR_FLAG_... (read under the mask bits 0x40, 0x100, 0x200, 0x4000) */
  void *material; /* stroke material */
  float near_depth;
  float near_width;
  float far_depth;
  float far_width;
  float width_factor;
  float taper_end;
  float spacing;
  float wobble;
  float wobble_scale;
  float twist;
  float twist_scale;
  float jitter;
} VtNPRPrimitiveData;

#ifdef __cplusplus
}
static_assert(sizeof(VtNPREdge) == 24 && offsetof(VtNPREdge, user) == 8 && offsetof(VtNPREdge, count) == 12 &&
                  offsetof(VtNPREdge, points) == 16,
              "NPR edges are read by layout");
static_assert(sizeof(VtNPRPrimitiveData) == 64 && offsetof(VtNPRPrimitiveData, material) == 8 &&
                  offsetof(VtNPRPrimitiveData, near_depth) == 16 &&
                  offsetof(VtNPRPrimitiveData, jitter) == 60,
              "NPR parameter records are read by layout");
#else
typedef char vo_npr_edge_size[sizeof(VtNPREdge) == 24 ? 1 : -1];
typedef char vo_npr_data_size[sizeof(VtNPRPrimitiveData) == 64 ? 1 : -1];
#endif

#endif /* VO_NPR_H */
