// The standard renderer's face: what the advanced renderer and the ray
// tracer's passes build on. Render classes with their methods and the
// records the scanline loop hands them (scan polygons and edges, the
// per-render frame, the module record), the loop's steps a class of their
// own drives, and the pixel modes' byte writer and averaging.
//
// Invariants a reader must know:
// - everything one render holds lives in a RenderFrame on the stack of the
//   render call; the record keeps only what outlives a render and points at
//   the innermost running frame, so a render started from inside another
//   (shadow maps, environment cubes) leaves the outer one intact;
// - the line buffer has one owner, the loop: a begin method that needs
//   another size replaces it through LineBufferReplace, and no end method
//   frees it;
// - fixed point: x and y in 1/256 pixel, pixel p covers [256p, 256p + 256);
//   depth 0 (nearest) to 2147483647, computed in 64 bits and saturated.
#pragma once

#include <cstddef>
#include <cstdint>

#include <vo/vo_driver.h>
#include <vo/vo_render.h>
#include <vo/vo_shader.h>
#include <vo/vo_view.h>

#include "scene/vogeom/face.h"
#include "kernel/vosystem/face.h"

namespace vo::renstd {

// Pixel modes (control 0xc000f).
constexpr uint32_t kModeBytes = VO_STANDARD_PIXEL_BYTES;
constexpr uint32_t kModeFloats = VO_STANDARD_PIXEL_FLOATS;
constexpr uint32_t kModeFloatsClamped = VO_STANDARD_PIXEL_FLOATS_CLAMPED;
constexpr uint32_t kModeRgbaClamped = VO_STANDARD_PIXEL_RGBA_FLOATS_CLAMPED;
constexpr uint32_t kModeRgba = VO_STANDARD_PIXEL_RGBA_FLOATS;

// Property codes of a render class the advanced renderer's controls set.
constexpr uint32_t kPropertyFirstPoll = 0xc0010;
constexpr uint32_t kPropertyPollReload = 0xc0011;

constexpr int32_t kDepthFar = 2147483647;

struct ScanEdge;
struct PointBlock;
struct ScratchPoint;

// One polygon being scanned.
struct ScanPolygon {
  ScanPolygon *previous;
  ScanPolygon *next;
  VtPrimitive *primitive;
  VtPolygon *polygon;
  float plane[4];  // in screen space
  int32_t edge_count;
  uint32_t in_active;    // advanced classes
  uint32_t next_enters;  // advanced classes: 1 when made
  int32_t depth_dx;      // per pixel
  int32_t depth_dy;      // per line
  ScanEdge *left;
  ScanEdge *right;
  float flat[3];  // the flat colour; in byte mode its first three bytes
  ScanEdge *active_first;
  ScanEdge *active_last;
  ScanEdge *pending_first;
  ScanEdge *pending_last;
  // Words of the advanced classes.
  int32_t span_first, span_last;
  ScanEdge *span_left, *span_right;
  int32_t current_x, current_depth;
  VtVertex *scratch;
  int32_t screen_offset;
  // The projected points of the clipped ring, taken when the polygon was
  // set up (null block: read from the ring when it is activated).
  PointBlock *point_block;
  uint32_t point_first, point_count;
  // A render on the work farm: the line the polygon was filed for when it
  // was set up, the last line it may be scanned on, and the next of the
  // tall polygons of its line.
  int32_t sweep_line, last_line;
  ScanPolygon *tall_next;
};

struct ScanEdge {
  ScanEdge *previous;
  ScanEdge *next;
  ScanPolygon *polygon;
  int32_t ux, uy, uz;   // upper end (smaller y)
  int32_t lx, ly, lz;   // lower end
  int32_t adx, dy;      // |dx| and dy
  float slope;          // dx / dy; 1e20 when dy is 0
  int32_t x_step;       // floor(256 dx / dy)
  int32_t x_remainder;  // 0 <= remainder < dy
  int32_t depth_step;   // per line
  int32_t x, accumulator, y, zero, depth;
  float reciprocal;  // 1 / dy (1 / dx when dy is 0)
  float dw;          // screen w of the lower end minus the upper's
  VtVertex *upper_vertex;
  VtVertex *lower_vertex;
  VtVertex *scratch;   // the advanced classes make it at first use
  int32_t bound;       // first (left edge) or last (right edge) pixel on the line
  int32_t first_line;  // relative to the viewport's first line
  float upper_colour[3];
  float lower_colour[3];
  // Words of the advanced classes.
  uint32_t entering, starts_span;
  int32_t span_last;
  ScanEdge *span_right;
  ScanEdge *lower, *higher;  // search-tree links
  float parameter;
  double scratch_row;  // the screen row the scratch vertex holds the edge's point at
};

// Method slots.
using BeginProc = VtStatus (*)();
using PolygonProc = void (*)(ScanPolygon *polygon);
using EdgeVertexProc = void (*)(ScanEdge *edge, VtVertex *previous, VtVertex *current);
using EdgeStartProc = void (*)(ScanEdge *edge, int32_t *first_line, int32_t dx, int32_t dy, int32_t dz,
                               int32_t whole, int32_t remainder);
using EdgeInsertProc = void (*)(ScanPolygon *polygon, int32_t line, ScanEdge *edge);
using LineActivateProc = VtStatus (*)(int32_t line, ScanPolygon **bucket);
using LineScanProc = VtStatus (*)(int32_t y);
using ProgressProc = VtStatus (*)(double percentage);

// A render class: twelve methods, nine properties and the progress method.
struct VtRenderClass {
  BeginProc begin;
  BeginProc end;
  PolygonProc polygon_initialise;
  PolygonProc polygon_release;
  PolygonProc shading_start;
  PolygonProc shading_finish;
  EdgeVertexProc edge_from_current;
  EdgeVertexProc edge_from_previous;
  EdgeStartProc edge_start;
  EdgeInsertProc edge_insert;
  LineActivateProc line_activate;
  LineScanProc line_scan;
  uint32_t skip_flat_edges;
  uint32_t normals;
  uint32_t advanced;
  uint32_t first_poll;
  uint32_t poll_reload;
  uint32_t kind;  // 1 standard, 2 z-buffer, 3 A-buffer
  VtPool *polygon_pool;
  VtPool *edge_pool;
  uint32_t polygon_size;  // of its scan polygons: a ScanPolygon at their head
  void **line_buffer;     // the word the line buffer lives in
  ProgressProc progress;
  // A class of another module whose renders may be scanned in bands on the
  // work farm (null for the others): sets a class's methods as the module
  // configures this one, and answers the same class in the running
  // thread's context (a worker's own copy).
  void (*farm_configure)(VtRenderClass *cls);
  VtRenderClass *(*farm_class)();
  // What the class's line scan keeps of a line beyond its pixels, for a
  // band that steps over the lines above it without scanning them (null:
  // nothing); called with the line's active list before it is stepped.
  void (*farm_line_passed)(struct RenderFrame *f);
  // 1: the line scan draws a polygon only at the pixel centres between the
  // edges of its spans, and nothing else of the line depends on it (so a
  // polygon covering no centre may be given back at set-up).
  uint32_t centre_sampled;
  // 1: on the calling thread's scan, a polygon is made into a scan polygon
  // only when its first line is reached (a class whose scan polygons are
  // large and which keeps every polygon, however small): until then it is
  // held as a small node filed by that line.
  uint32_t setup_at_first_line;
};

// Writers of the pixel mode.
using PixelWriter = uint8_t *(*)(uint8_t *destination, const float *colour);
using BackgroundWriter = uint8_t *(*)(uint8_t *destination, uint32_t count);
using SpanProc = void (*)(ScanPolygon *polygon, ScanEdge *left, ScanEdge *right, int32_t first, int32_t last);

// What one render holds, on the stack of the render call.
struct RenderFrame {
  RenderFrame *outer;  // the frame this render runs inside, or null
  VtRenderClass *cls;
  void *class_state;  // the render class's own per-render state
  uint32_t execute_code;
  // Output.
  uint32_t pixel_mode;
  uint32_t bytes_per_pixel;
  PixelWriter pixel;
  BackgroundWriter background;
  SpanProc span;
  VtDriverRowProc writer;       // of each finished line
  VtDriverRowProc driver_row;   // the driver's row operation of the pixel mode
  VtDriverRowProc line_output;  // the line-output callback, or null
  void **line_word;             // the class's line-buffer word (the frame's own for a class without one)
  void *line_saved;             // what that word held before the render
  uint8_t *line;
  size_t line_bytes;  // of the line buffer
  uint8_t background_bytes[3];
  // Oversampling.
  uint32_t factor;
  uint32_t final_width;
  void *accumulator;  // final-width pixels of 16-bit or float sums
  VtView *saved_view;
  VtView *view_copy;
  // The evaluated view.
  int32_t xres, yres, xmin, ymin, width, height;
  float first_y, line_step;
  bool perspective;
  // Polygons set up draw only at pixel centres between their edges and
  // shade nothing that outlives them (a standard class with its own
  // methods, no shadow map's jitter): one lying wholly between two columns
  // of centres can be given back at set-up.
  bool centres_only;
  int32_t clip[4];  // x min, x max, y min, y max in 24.8
  VtContents *contents;
  // Scene.
  VtReference **primitive_buckets;  // height + 1 entries each
  VtReference **last_buckets;
  ScanPolygon **polygon_buckets;
  // A class that sets its polygons up at their first lines: the polygons
  // filed by line until then (height + 1 entries, null for other classes),
  // the blocks their nodes come from and the nodes given back.
  struct LaterSetUp **later_buckets;
  struct LaterBlock *later_blocks;
  struct LaterSetUp *later_spare;
  VtReference *temporaries;
  ScanPolygon *active_first;
  ScanPolygon *active_last;
  // Pending edges join their polygons' active lists at the end of the line
  // before theirs, in the walk that steps the edges: line_activated is the
  // line activated last plus one, pending_through the line every active
  // polygon's pending edges were moved for plus one (0 for none).
  int32_t line_activated, pending_through;
  int32_t *depth;                // one per pixel of the x resolution
  struct ScratchPoint *scratch;  // the projected points of the polygon being set up
  size_t scratch_points;
  // The points of the polygon whose edges are being made, wherever they are
  // kept (for the shading start to look ahead at).
  const struct ScratchPoint *edge_points;
  size_t edge_point_count;
  // The render's store of projected points, taken at set-up and read at
  // activation: every block made (freed when the render ends), the block
  // being filled, and blocks whose points have all been read.
  PointBlock *point_blocks;
  PointBlock *point_fill;
  PointBlock *point_spare;
  // Shading: the vertices of the polygon being set up shaded so far, with
  // the colour and alpha each left (the first kShadedMost of them).
  static constexpr uint32_t kShadedMost = 8;
  uint32_t shaded_count;
  VtVertex *shaded_vertex[kShadedMost];
  float shaded_colour[kShadedMost][4];
  float span_P[3], span_N[3], span_Ci[3];  // what the per-pixel span points the globals at
  // The vertex-colour class's shaded mesh vertices of this render (null
  // outside it): made at begin, freed at end.
  struct VertexCache *vertex_cache;
  // Where an edge's scratch vertex goes when the edge is given back (null:
  // destroyed), and what hears of the primitives whose last line has been
  // scanned, before they may be destroyed (null: nothing); for classes that
  // keep scratch vertices from one polygon to the next.
  void (*scratch_release)(VtPrimitive *owner, VtVertex *vertex);
  void (*primitives_ending)(VtReference *list);
  // A render on the work farm: the activation sweep the calling thread
  // makes before the bands are scanned (null otherwise), and, in a band's
  // frame, the point blocks are the render's, read by every band at once
  // and never given back by one.
  struct LineSweep *sweep;
  bool points_borrowed;
  // A band's frame of a render on the work farm: scratch vertices it makes
  // are its own (LooseVertexCreate), not the scene's.
  bool band;
};

// The module record: what outlives one render. A worker context has a copy
// of its own (is_copy), with its own pools, classes and line buffer; the
// class pool and the contents are the master's.
struct VtStandardRendererContext {
  VtPool *polygon_pool;  // tag 0xc0001
  VtPool *edge_pool;     // tag 0xc0002
  VtPool *class_pool;    // tag 0xc0003
  RenderFrame *frame;    // the innermost running render, or null
  void *line_buffer;     // the word the standard classes name
  uint32_t execute_code;
  VtRenderClass *classes[3];
  VtContents *with_normals;
  VtContents *without_normals;
  uint32_t ray_tracer_running;
  struct CallerControls *caller_controls;  // what the running render switched off, or null
  VtDriverRowProc line_output;             // callback 0xc0001
  uint32_t oversampling;                   // control 0xc000e
  uint32_t pixel_mode;                     // control 0xc000f
  uint32_t field_selection;                // control 0xc0012
  // Vertices the last vertex-colour render shaded, and the shadings it took
  // from its cache instead.
  uint64_t vertex_shades, vertex_cache_hits;
  PixelWriter pixel;            // callback 0xc0002
  BackgroundWriter background;  // callback 0xc0003
  // Driver-framework callbacks.
  VtDriverNoArgProc poll;
  VtDriverFrameProc begin_frame;
  VtDriverNoArgProc end_frame;
  VtDriverRowProc row_bytes;
  VtDriverRowProc row_floats;
  VtDriverRowProc row_rgba;
  VtDriverKindProc accept;
  // The transform module's VoTransformBounds (its own signature: six floats).
  VtStatus (*transform_bounds)(float *out, const float *in, VtTransform *transform);
  VtProgressProc progress;
  uint32_t *sticky;
  // View values (stable addresses in the view module).
  const int32_t *resolution;
  const int32_t *viewport;
  const float *eye;
  const float *direction;
  const float *window;
  const int32_t *projection_kind;
  const double *inverse;  // the inverse projection matrix, row-major
  // Shader globals.
  VtPrimitive **g_prim;
  VtPolygon **g_poly;
  float *g_xi, *g_yi;
  float *g_unitI;
  float *g_Co;
  float **g_Ci;
  float *g_alpha;
  float **g_Pw;
  float *g_Cb;
  float **g_N;
  float *g_Ng;
  float **g_P;
  float *g_I;
  float *g_E;
  float *g_xp, *g_yp;
  uint32_t *g_reverse;
  VtShaderGlobals *globals_fetched;  // the block the g_ addresses above point into
  uint32_t is_copy;
  // The render the work farm's workers scan in bands (null outside one); a
  // worker's copy of the record takes it from the master's.
  void *farmed;
  // Blocks of the farm's scan-polygon stores the last renders gave back,
  // linked through their first word: the next render writes them again
  // rather than new memory. Kept by a frame's own tidy (keep_spares set
  // meanwhile), given back by the application's.
  void *store_spares;
  uint32_t keep_spares;
  // Set: every polygon is set up, however few pixel centres it covers
  // (a picture to compare with).
  uint32_t set_up_every;
};

// The record, or null while the module is not started.
VtStandardRendererContext *State();
// The innermost running frame, or null.
inline RenderFrame *Frame() { return State()->frame; }
// Reports the percentage to the application's progress callback as the
// renderer `module` (this one, or a module whose classes it runs), in the
// application's view: the oversampled copy current during the render is the
// render's own.
VtStatus ProgressReportAs(uint32_t module, double percentage);
// A render of another renderer started inside a scanline render (from a
// shader it evaluates) renders with the application's controls, not those
// the scanline render switched off for itself (ray tracing, shader
// shadows): Lend sets the application's values, keeping the present ones,
// which GiveBack sets again. Nothing outside a scanline render.
struct ControlsLent {
  uint32_t codes[2];
  VtTypedValue values[2];
  bool held[2];
};
void CallerControlsLend(ControlsLent *lent);
void CallerControlsGiveBack(const ControlsLent *lent);

// ---- Render classes ---------------------------------------------------------

VtRenderClass *RenderClassCreate();
VtStatus RenderClassDestroy(VtRenderClass *cls);
VtStatus RenderClassSetProperty(VtRenderClass *cls, uint32_t code, const VtTypedValue *value);
VtStatus RenderClassGetProperty(const VtRenderClass *cls, uint32_t code, VtTypedValue *value);

// ---- The loop ---------------------------------------------------------------

// The whole render of the current scene with the class into the current
// output (or the line-output callback).
VtStatus Render(VtRenderClass *cls);
// Replaces the line buffer by one of the size given (the old one freed);
// for a begin method that needs another size or format.
VtStatus LineBufferReplace(size_t bytes);

// ---- Pixel modes and writers ---------------------------------------------------

// Bytes per pixel of a pixel mode; 0 for a mode that is not one.
uint32_t BytesPerPixel(uint32_t mode);
// The byte RGB writer, for callers that run without the module started.
PixelWriter BytesPixelWriter();
// Averaging of N x N blocks of source lines into rows of the final width,
// through an accumulator its caller owns (zero-filled: three 16-bit sums
// per pixel in byte mode, three or four floats in the others); each
// finished row goes to the output, whose status is answered.
struct Averaging {
  uint32_t mode;
  uint32_t factor;
  uint32_t final_width;
  void *sums;
  VtDriverRowProc output;
};
VtStatus AverageLine(const Averaging &averaging, uint32_t y, void *row);
// Paints the background over pixels first..last of the frame's line.
void BackgroundPaint(RenderFrame *f, int32_t first, int32_t last);

// ---- Scan polygons and edges ------------------------------------------------

void EdgeInsert(ScanPolygon *polygon, int32_t line, ScanEdge *edge);
VtStatus LineActivate(int32_t line, ScanPolygon **bucket);
VtStatus ScanEnd();
// Polls the driver: 0, or 0x40 (also ORed into the sticky status word). A
// class whose line scan polls too and is interrupted answers 0x40, and the
// line is not written.
VtStatus Poll();
// Steps every active edge to the next line; edges past their lower end and
// polygons left without edges are given back. A class that listed the
// active polygons in their order as it scanned the line hands the list
// (count of them), so that what the stepping reads is asked for well ahead
// of it, not as the active list is followed; the list is only asked for.
void ActiveAdvance(RenderFrame *f, ScanPolygon *const *listed = nullptr, size_t count = 0);
void EdgeListsEmpty(ScanPolygon *polygon);
// Saturates a 64-bit depth into 0..2147483647.
inline int32_t DepthSaturate(int64_t z) {
  return z < 0 ? 0 : (z > kDepthFar ? kDepthFar : static_cast<int32_t>(z));
}

// ---- What a class shares with the standard classes ---------------------------

// The common begin: span procedure, depth row.
VtStatus BeginCommon();

}  // namespace vo::renstd
