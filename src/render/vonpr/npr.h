// The NPR module's private record and the procedures its files share.
//
// Invariants a reader must know:
// - the context is the module's master record (no worker copies: the
//   actions run on the calling thread and the shader classes do not read
//   it); null outside start..terminate, and every procedure answers that;
// - the edges the module or an application made through the exported
//   procedures are in the live register; only those are copied or
//   destroyed, so a stale or foreign pointer is refused, never freed;
// - the parameter records the module took from its pool are in the record
//   register: only those go back to the pool, an application's own record
//   is never freed here;
// - the backgrounds the module made are in the background register (locked
//   through RegisterGuard, only while threading is on: shaders sample from
//   workers); terminate frees those the application left;
// - the view frame is filled by ViewSetUp at the start of every action and
//   read by capture, processing and drawing.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_set>

#include <vo/vo_draw.h>
#include <vo/vo_driver.h>
#include <vo/vo_npr.h>

#include "shading/shaderlib/face.h"
#include "kernel/vosystem/face.h"

// An NPR background (opaque to applications).
struct VtNPRBackground {
  VtImage *image;              // not owned; unscaled modes read it at every sample
  float *scaled;               // width x height x 3 floats, owned; null for the unscaled modes
  int32_t width, height;       // the scaled size, or the image's at creation
  int32_t x_offset, y_offset;  // subtracted from a sample position
  uint32_t mode;
  VtColour fill;
  mutable std::atomic<bool> gone_posted;  // the dead image was reported
};

namespace vo::npr {

constexpr VtStatus kRefused = VO_STATUS_BAD_ARGUMENT;
constexpr VtStatus kNoMemory = VO_STATUS_NO_MEMORY;
constexpr VtStatus kUnavailable = VO_STATUS_UNAVAILABLE;
constexpr VtStatus kUnknownAction = 258;

// The camera of an action, in double: eye E, up U, unit viewing direction
// D, scaled image-plane right X and down Y, the plane's top-left corner K at
// unit distance; resolution, r = smaller over larger side, o = 0 when the x
// resolution is the smaller, the minimum stroke half-width h.
struct ViewFrame {
  double eye[3], up[3], dir[3], right[3], down[3], corner[3];
  int32_t projection;
  uint32_t xres, yres;
  double ratio;
  uint32_t orientation;
  double min_half;
};

// The live edges and the module's own parameter records (under lock), and
// the live backgrounds (under RegisterGuard).
struct Registers {
  std::mutex lock;
  std::unordered_set<const VtNPREdge *> edges;
  std::unordered_set<const void *> records;
  std::unordered_set<const VtNPRBackground *> backgrounds;
};

struct Context {
  // Capture state, meaningful while a capture runs.
  VtDriverRecord *driver;
  VtProc saved[6];  // 0x1a0030, 0x1a0022, 0x1a001f, begin and end frame, 0x1a0020
  uintptr_t begin_word;
  void *primitive;
  void *owner;
  uint32_t user;
  VtReference *building;
  VtStatus capture_failed;  // 0x20000006 once an edge could not be kept
  VtContents *capture_contents;

  uint32_t hidden_line_mode;
  uint32_t plane_projection;
  ViewFrame frame;
  double min_width_pixels;
  uint32_t flags;  // VO_NPR_FLAG_...
  VtMaterial *material;
  VtMaterial *own_material;  // made at start, destroyed at terminate
  float near_depth, near_width, far_depth, far_width, width_factor, taper_end, spacing, wobble, twist,
      wobble_scale, twist_scale, jitter, join_tolerance, noise_offset;
  uint32_t join;
  VtReference *edges;  // the current edge list
  uint32_t kept_flag, kept_word;
  uint32_t render_code;
  uint32_t running;  // an action is under way
  VtPool *parameter_pool, *edge_pool;
  Registers *registers;
  shaderlib::SharedTable snow_jitter;  // "npr atmospheric"'s flake jitter and its users
};

// The context, or null outside start..terminate.
Context *ContextGet();

// Parameters of an owner: its record's overrides over the context values
// (a null, dead or record-less owner reads the context alone).
struct Parameters {
  VtMaterial *material;
  float near_depth, near_width, far_depth, far_width, width_factor, taper_end, spacing, wobble, wobble_scale,
      twist, twist_scale, jitter;
  uint32_t flags;
};
Parameters ParametersOf(const Context *c, void *owner);

// Handlers of property 317: the destroy gives back only the module's own
// records; the copy gives the destination a record of its own.
VtStatus PrimitiveRecordDestroy(VtPrimitive *p);
VtStatus PrimitiveRecordCopy(VtPrimitive *source, VtPrimitive *destination);

// ---- Edges (edges.cpp) ----
bool EdgeLive(Context *c, const VtNPREdge *edge);
// An edge of the pool holding the points (taken over); null, the points
// not taken, when the pool or the register fails.
VtNPREdge *EdgeMake(Context *c, float *points, uint32_t count, void *owner, uint32_t user);
void EdgeFree(Context *c, VtNPREdge *edge);
// Destroys the list's nodes and, when edges is set, every live edge it
// holds except those the keep list holds.
void EdgeListFree(Context *c, VtReference *list, bool edges, VtReference *keep = nullptr);
// Records of property 317.
VtNPRPrimitiveData *RecordTake(Context *c);
void RecordGive(Context *c, void *record);
bool RecordOwn(Context *c, const void *record);

// ---- Actions ----
void ViewSetUp(Context *c);
// Normalised projection coordinates of a world point; false when the point
// is at or behind the eye (w <= 0) or does not project to finite values.
bool Normalised(const Context *c, const double p[3], double out[2]);
// The ray through normalised coordinates: origin and unit direction.
void ScreenRay(const Context *c, const double q[2], double origin[3], double direction[3]);
VtStatus CaptureEdges(Context *c);
// The capture's driver operations 0x1a0030, 0x1a001f and 0x1a0022.
VtStatus CaptureBeginPrimitive(uintptr_t primitive, uintptr_t word);
VtStatus CaptureSetUser(uint32_t word);
VtStatus CaptureSegment(uint32_t type, uint32_t count, VtDrawRecord *record);
VtStatus ProcessEdges(Context *c);
// Renders the edges as strokes; with background set a list that makes no
// stroke still renders (an empty frame: the background).
VtStatus DrawStrokes(Context *c, VtReference *list, bool background);

// ---- Processing pieces (join.cpp, process.cpp), open for tests ----
// Joins the current list's edges that continue each other.
VtStatus JoinAll(Context *c);
// Attaches b's polyline to a's (the design's four end orders); false when
// they do not meet. With take_b the caller drops b after a join, and b's
// point array may become a's.
bool EdgeJoin(Context *c, VtNPREdge *a, VtNPREdge *b, VtStatus *status, bool take_b = false);
bool EdgeEndMeets(const Context *c, const double p[3], const double s0[3], const double s1[3],
                  double tolerance, double q[3]);
void EdgeOrient(const Context *c, VtNPREdge *e);
// A resampled copy's points into a new array: false when out of memory.
bool EdgeResample(const Context *c, const VtNPREdge *e, const Parameters &p, float **points, uint32_t *count);
void EdgeWobble(const Context *c, VtNPREdge *e, const Parameters &p);

// ---- Strokes (strokes.cpp) ----
// The ribbon mesh of an edge, or null (fewer than two drawn segments is not
// a failure; *status gets 0x20000006 when memory ran out).
VtPrimitive *StrokeMeshCreate(Context *c, const VtNPREdge *e, const Parameters &p, VtStatus *status);

// The half-width of point i of the edge, in units of the larger image side.
double HalfWidth(const Context *c, const VtNPREdge *e, const Parameters &p, uint32_t i);

// ---- Backgrounds (background.cpp) ----
// Frees every background still live (at terminate).
void BackgroundsFree(Context *c);

// ---- Shader classes (classes.cpp) ----
void ClassesCreate();

// ---- Neighbours (neighbours.cpp) ----
bool PostprocessTypeKnown();

}  // namespace vo::npr
