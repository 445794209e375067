// The advanced renderer (vorenadv, module 32): its module record, the
// coverage masks, what its two classes share (view values, incident
// vectors, perspective-correct interpolation, the background pixel by
// pixel) and the two classes it runs the standard renderer's loop with.
//
// Invariants a reader must know:
// - the record keeps only what outlives a render (pools, classes, mask
//   table, controls, class index); everything one render holds lives in a
//   render record behind the class-state pointer of the standard
//   renderer's frame, a RenderCommon first, so a render started from inside
//   another (a depth map made at image set-up) leaves the outer one intact
//   and the services read the innermost running frame;
// - a z-buffer or depth render may be scanned in bands on the work farm:
//   each band's scratch vertices are its own blocks, and the A-buffer's
//   pixel-piece service clips its polygons into the scene's element pools
//   one band at a time;
// - a depth render (0x200003) writes one float per viewport column, 1e20
//   where nothing was drawn, and is refused without a line-output callback:
//   the driver's row writers would read three to sixteen bytes per pixel.
#pragma once

#include <vo/vo_render.h>

#include "render/vorenstd/face.h"

namespace vo::renadv {

constexpr uint32_t kExecuteZBuffer = VO_EXECUTE_ADVANCED_ZBUFFER;
constexpr uint32_t kExecuteABuffer = VO_EXECUTE_ADVANCED_ABUFFER;
constexpr uint32_t kExecuteDepth = VO_EXECUTE_ADVANCED_DEPTH;
constexpr uint32_t kClassIndexAfter = 2;
constexpr float kNoDepth = 1e20f;
constexpr uint32_t kFullMask = 0xffffffffu;

// ---- Coverage masks -----------------------------------------------------------

// Edge masks by pairs of grid points: entry p * points + q.
struct MaskTable {
  uint32_t *masks;
  uint32_t n, m;        // samples across and down
  uint32_t row_stride;  // grid points in a row
  uint32_t points;      // grid points in all
  float weight;         // 1 / samples
};

// A point inside the covered samples, in pixel units from the top-left
// corner; central when found in the two middle rows.
struct SamplePoint {
  float x, y;
  bool central;
};

// Builds the table for n x m samples and a u x v grid of edge points:
// 0x20000012 unless 1 <= n, m <= 8, n m <= 32 and 1 <= u, v <= 64.
VtStatus MaskTableBuild(MaskTable *table, uint32_t n, uint32_t m, uint32_t u, uint32_t v);
void MaskTableFree(MaskTable *table);
// Covered samples over 32 (counted in line: compositing asks for it at
// every step).
inline float Coverage(uint32_t mask) {
  mask -= (mask >> 1) & 0x55555555u;
  mask = (mask & 0x33333333u) + ((mask >> 2) & 0x33333333u);
  mask = (mask + (mask >> 4)) & 0x0f0f0f0fu;
  return static_cast<float>((mask * 0x01010101u) >> 24) * (1.0f / 32.0f);
}
// False for an empty mask.
bool SamplePosition(uint32_t mask, SamplePoint *out);
// The 8 x 4 grid point nearest a point (dx, dy) in 1/256 pixel from the
// pixel's top-left corner, clamped onto the pixel.
uint32_t GridPoint(int32_t dx, int32_t dy);
uint32_t EdgeMask(const MaskTable &table, uint32_t p, uint32_t q);
// The whole sample rows between the grid rows of p and q: the rows a piece
// from p to q crosses.
uint32_t RowsBetween(const MaskTable &table, uint32_t p, uint32_t q);
// Cuts the segment (xa, ya)-(xb, yb) (1/256 pixel) to the scanline band
// from band_top and into pixel columns; each piece is handed over with its
// column, its edge mask and the rows it crosses.
using PieceSink = void (*)(void *context, int64_t column, uint32_t mask, uint32_t rows);
void LineBandPieces(const MaskTable &table, int64_t xa, int64_t ya, int64_t xb, int64_t yb, int64_t band_top,
                    PieceSink sink, void *context);

// ---- The module record ---------------------------------------------------------

struct VtAdvancedRendererContext {
  VtPool *z_polygon_pool;  // tag 0x200001
  VtPool *z_edge_pool;     // tag 0x200002
  VtPool *a_polygon_pool;  // tag 0x200001
  VtPool *a_edge_pool;     // tag 0x200002
  renstd::VtRenderClass *z_class;
  renstd::VtRenderClass *a_class;
  MaskTable masks;
  uint32_t class_index;     // 0 z-buffer, 1 A-buffer, 2 after a render
  uint32_t composite_flag;  // control 0x200005
  VtProc none_image_entry;  // slot 3 of the transparency "none"
  VtPolygon *(*clip_sides)(VtPrimitive *, VtPolygon *, const uint32_t *, const float *, uint32_t);
  VtStatus (*clip_discard)(VtPrimitive *, VtPolygon *, VtPolygon *);
  float *g_To;
  float *g_modI;
  float *g_xs, *g_ys;
  VtShaderGlobals *globals_fetched;  // the block the g_ addresses above point into
  void *line_buffer;                 // the A-buffer class's line-buffer word
  // Edge pixels and the fragments composited there, over every A-buffer
  // render (for measurements).
  uint64_t edge_pixels, edge_fragments;
  // Fragments merged into one of their plane or left out of runs as hidden.
  uint64_t merged_fragments;
  uint32_t is_copy;  // a worker context's: its classes and pools its own, the masks the master's
};

VtAdvancedRendererContext *State();
// The master record (a worker context's copy is the running one's State()).
VtAdvancedRendererContext *MasterState();

// ---- What the two classes share ---------------------------------------------

// Scratch vertices given back are kept for the next polygon or edge of the
// primitive that made it, at most this many (a line of a big scene gives
// back hundreds of edges' vertices, which the next lines' edges take
// again), in words of 64 bits.
constexpr uint32_t kScratchSpares = 1024;
constexpr uint32_t kSpareWords = kScratchSpares / 64;

// The first member of either class's render record.
struct RenderCommon {
  uint32_t code;
  VtShader *background, *foreground;  // null when absent or without the entry used
  float U[3], V[3], O[3];             // window edges and corner
  float direction[3];                 // unit view direction
  float hither;
  bool out_of_memory;  // a scratch vertex could not be made: the line fails
  // A band's render on the work farm: its scratch vertices are its own
  // blocks (LooseVertexMake), as other bands scan the same primitives; the
  // blocks of those given back wait here (linked through their first word,
  // their size in the second) for the next, and are freed at the end.
  bool loose;
  void *loose_blocks;
  // The spares' primitives side by side, and their vertices; spare i's bit
  // (bit i % 64 of word i / 64) is set in its primitive's bucket, so a
  // look-up reads only the spares whose primitives share that bucket.
  VtPrimitive *spare_owner[kScratchSpares];
  VtVertex *spare_vertex[kScratchSpares];
  uint32_t spare_count;
  uint64_t spare_bucket[16][kSpareWords];
};
static_assert(kScratchSpares % 64 == 0, "a spare is one bit of a bucket's words");

// The spare bookkeeping (the render record zeroed is the empty list): one
// kept (room for it assumed), the one at i taken out (the last moves into its
// place), and the latest kept of a primitive taken out (null when none).
void SpareKeep(RenderCommon *c, VtPrimitive *owner, VtVertex *vertex);
VtVertex *SpareTake(RenderCommon *c, uint32_t i);
VtVertex *SpareFind(RenderCommon *c, const VtPrimitive *owner);

inline RenderCommon *CommonOf(const renstd::RenderFrame *f) {
  return static_cast<RenderCommon *>(f->class_state);
}

// The shader when its class has the entry slot, else null.
VtShader *Evaluating(VtShader *shader, uint32_t slot);
// Code, window and view direction of the render; the background and
// foreground shaders that have the entry slot.
void CommonTake(RenderCommon *c, uint32_t code, uint32_t slot);
// Pixel x's xi, xp and incident vector (and, in a parallel view, E); the
// image-plane point into window.
void Incident(renstd::VtStandardRendererContext *s, const renstd::RenderFrame *f, const RenderCommon *c,
              int32_t x, float *window);
// Pixel x's xi and xp alone: enough where the point's shading takes its
// incident vector from the eye to the point (a perspective view).
void PixelPosition(renstd::VtStandardRendererContext *s, const renstd::RenderFrame *f, int32_t x);
uint8_t *PixelAt(const renstd::RenderFrame *f, int32_t x);
// Shades the primitive's scratch vertex, the point seen at image position
// (x, y); the shadow maps' jitter starts again from that position, so a
// pixel's shadow is the same whatever was shaded before it (in this render
// or an earlier one).
void PointShade(VtPrimitive *primitive, void *scratch, double x, double y);
// The edge's point at screen row y (pixels) into its scratch vertex, and
// the point at screen column x between two such points into the polygon's
// scratch, both perspective-correct.
// Both false, with the render's out-of-memory flag set, when a scratch
// vertex (made at first use) cannot be made.
bool EdgePointAt(const renstd::RenderFrame *f, renstd::ScanPolygon *q, renstd::ScanEdge *e, double y);
bool SpanPointAt(const renstd::RenderFrame *f, renstd::ScanPolygon *q, const renstd::ScanEdge *l,
                 const renstd::ScanEdge *r, double x);
// A span's two end points, with their screen columns taken once for every
// pixel between them; SpanPointAt's point at column x from them.
struct SpanEnds {
  VtVertex *left, *right;
  float left_w, right_w;
  double from, to;  // screen columns of the ends (pixels)
};
bool SpanEndsTake(const renstd::RenderFrame *f, renstd::ScanPolygon *q, const renstd::ScanEdge *l,
                  const renstd::ScanEdge *r, SpanEnds *ends);
void SpanPointAtColumn(renstd::ScanPolygon *q, const SpanEnds &ends, double x);
// The background and foreground shaders at the current pixel; the colour
// they leave (Cb with a background only, else Co).
const float *BehindEvaluate(renstd::VtStandardRendererContext *s, const RenderCommon *c);
// Pixels x0..x1 of the line given the background pixel by pixel.
void BackgroundSpan(renstd::RenderFrame *f, int32_t x0, int32_t x1);
// Progress of either class to the kernel's callback.
VtStatus AdvancedProgress(double percentage);
// The polygon's screen offset, at initialise; its scratch vertex and its
// edges' are made at first use and freed with them.
void ScratchMake(renstd::ScanPolygon *q);
void ScratchFree(renstd::ScanPolygon *q);
// The frame's scratch vertices kept from one polygon to the next: a vertex
// given back waits with its primitive for the next use of that primitive,
// and is destroyed when its primitive's last line has been scanned, when
// more than kScratchSpares wait, and at the render's end (ScratchSparesEnd,
// after the scan records are given back).
void ScratchSparesBegin(renstd::RenderFrame *f);
void ScratchSparesEnd(renstd::RenderFrame *f);

// Sets up the classes' methods and properties (the z-buffer class's with
// what lets its renders go to the work farm).
void ZBufferConfigure(renstd::VtRenderClass *cls);
void ABufferConfigure(renstd::VtRenderClass *cls, void **line_buffer);
// Size of the A-buffer class's scan polygon.
size_t ABufferPolygonSize();
// Units of work (polygons visited) an A-buffer line scan does on the
// calling thread between two polls of the interrupt.
constexpr uint32_t kABufferPollWork = 1u << 16;
// The services, answering for the innermost running A-buffer render.
void *PixelPiece();
void *CurrentPrimitive();

}  // namespace vo::renadv
