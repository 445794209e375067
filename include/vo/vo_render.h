/*
 * Execute codes of the scanline renderers: the wireframe renderer (module
 * vorenwir, number 10), the standard renderer (vorenstd, 12) and the
 * advanced renderer (vorenadv, 32). Each renders the current primitive list
 * through the current view into the current output driver when passed to
 * VoExecute. (The hidden-line renderer's codes are in vo_hidden_line.h, the
 * ray tracer's in vo_raytrace.h.)
 *
 * A scanline render writes screen-space data into the shared scene model, so
 * it is refused on a worker thread of the work farm (vo_multit.h).
 *
 * This header is plain C (C99) and C++ compatible.
 */
#ifndef VO_RENDER_H
#define VO_RENDER_H

#include <vo/vo_types.h>

/* The wireframe renderer: polygon outlines, shared edges or bounding boxes
 * drawn as lines through the driver's draw operation. */
#define VO_EXECUTE_WIREFRAME_RENDER 0xa0001u

/* The standard renderer's three classes; each draws into the current driver,
 * or into the line-output callback (0xc0001) when one is set. */
#define VO_EXECUTE_STANDARD_FLAT 0xc0001u          /* one flat colour a polygon */
#define VO_EXECUTE_STANDARD_VERTEX_COLOUR 0xc0002u /* colours shaded at the vertices, interpolated */
/* Shaded at every pixel: the material's average colour and its second
 * reflectance (its point shader) only, at a point interpolated linearly in
 * screen space (no perspective correction: on large polygons in perspective
 * lights and shadows shift; the z-buffer class is perspective-correct). */
#define VO_EXECUTE_STANDARD_PER_PIXEL 0xc0003u

/* The standard renderer's controls (VoControlSet, VoControlGet; a value of
 * another type is refused with 0x20000012, message 444) and its line-output
 * callback (VoCallBackSet). Each comment gives the value type and, in
 * brackets, the default. */
/* VtNat32: oversampling N, the picture rendered at N x N times its pixels
 * and averaged down, 1 to 16; 0 is taken as 1 and above 16 as 16 (message
 * 584) (1). */
#define VO_CONTROL_STANDARD_OVERSAMPLING 0xc000eu
/* VtEnum: the pixel format handed to the driver, one of the five below; any
 * other value is refused with 0x20000012 (VO_STANDARD_PIXEL_BYTES). */
#define VO_CONTROL_STANDARD_PIXEL_MODE 0xc000fu
#define VO_STANDARD_PIXEL_BYTES 0xc0001u               /* red, green, blue bytes */
#define VO_STANDARD_PIXEL_FLOATS 0xc0002u              /* red, green, blue floats, not clamped */
#define VO_STANDARD_PIXEL_FLOATS_CLAMPED 0xc0003u      /* red, green, blue floats held to 0 .. 1 */
#define VO_STANDARD_PIXEL_RGBA_FLOATS_CLAMPED 0xc0004u /* red, green, blue, alpha floats held to 0 .. 1 */
#define VO_STANDARD_PIXEL_RGBA_FLOATS 0xc0005u         /* red, green, blue, alpha floats, not clamped */
/* VtDriverRowProc (vo_driver.h): the line-output callback; when set, each
 * finished line goes to it instead of the current driver, and oversampling
 * is not applied (null). */
#define VO_CALLBACK_STANDARD_LINE_OUTPUT 0xc0001u

/* The advanced renderer: the standard renderer's loop with its own classes. */
#define VO_EXECUTE_ADVANCED_ZBUFFER 0x200001u /* visibility by span, perspective-correct shading */
#define VO_EXECUTE_ADVANCED_ABUFFER 0x200002u /* 8 x 4 coverage masks at edges, fragments composited */
/* Depth only: one float a pixel into the line-output callback, 1e20 where
 * nothing was drawn; refused without the callback. The float is, in a
 * perspective view, the squared distance from the eye to the pixel's point;
 * in a parallel view, the point's depth along the view direction from the
 * eye less (1 + the hither distance), negative for points between the
 * hither plane and one unit beyond it. */
#define VO_EXECUTE_ADVANCED_DEPTH 0x200003u

#endif /* VO_RENDER_H */
