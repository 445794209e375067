// The view module (voview, number 9): view records and their evaluation, the
// module's state, the camera-motion record, and the procedures the module's
// files share with each other and with the clipping code built on the
// evaluation.
//
// Exactly one view is current. Its data lives in the state's current-view
// copy while it is current (the view's data pointer points there), so the
// addresses answered by VoViewGetValue, which lie in that copy and its
// evaluation block, never move. Every operation on a view reads and writes
// through the view's data pointer.
//
// Matrices are 16 doubles row by row and act on row vectors, p' = p x M.
// The projection maps a world point into homogeneous coordinates whose clip
// volume is 0 <= x, y, z <= w: after division by w, x runs from 0 at the
// left to 1 at the right of the image, y from 0 at the top to 1 at the
// bottom, z from 0 at the hither plane to 1 at the yon plane.
#pragma once

#include <cstddef>
#include <cstdint>

#include <vo/vo_draw.h>
#include <vo/vo_view.h>

#include "kernel/vosystem/face.h"
#include "scene/voview/face.h"

namespace vo::view {
struct ViewState;
}

// A clip-distance procedure: the signed distance of a homogeneous point (x,
// y, z, w) from one side of the clip volume, positive inside. The viewport-
// scaled ones read the window fractions of the current view's evaluation.
using VtClipDistanceProc = double (*)(const float *point, const vo::view::ViewState *state);

// The evaluation of a view (one block per view). Renderers read it through
// the addresses VoViewGetValue answers, and read the fields that follow the
// one answered, so the order and the offsets below are fixed.
struct VtViewEvaluation {
  float aspect;             // image aspect [3]
  float aspect_reciprocal;  //
  double corner[3];         // window corner at distance 1 along the viewing direction [27]
  double side[3];           // side axis, unit [29]
  double down[3];           // down axis, unit
  double horizontal[3];     // window edge from left to right [28]
  double vertical[3];       // window edge from top to bottom
  float corner_f[3];        // float copies of the five above [15]
  float side_f[3];          // [16]
  float down_f[3];          //
  float horizontal_f[3];    // [14]
  float vertical_f[3];      //
  float eye[3];             // [4]
  float reference[3];       // [17]
  float up[3];              // up vector as used [18]
  float direction[3];       // viewing direction, unit [19]
  float normal[3];          // view-plane normal, unit [23]
  double projection[16];    // [6]
  double inverse[16];       //
  float angle;              // angle term [24]
  float angle_per_pixel;    // [25]
  float angle_tangent;      // [26]
  int32_t projection_kind;  // 2 perspective, other parallel [11]
  float window[6];          // viewport fractions x0, x1, y0, y1, depth 0, 1 [1]
  float hither;             // as used [20]
  float yon;                // as used [21]
  int32_t resolution[2];    // each at least 1 [12]
  int32_t viewport[4];      // xmin, xmax, ymin, ymax in pixels [9]
};
static_assert(offsetof(VtViewEvaluation, aspect) == 0);
static_assert(offsetof(VtViewEvaluation, aspect_reciprocal) == 4);
static_assert(offsetof(VtViewEvaluation, corner) == 8);
static_assert(offsetof(VtViewEvaluation, side) == 32);
static_assert(offsetof(VtViewEvaluation, down) == 56);
static_assert(offsetof(VtViewEvaluation, horizontal) == 80);
static_assert(offsetof(VtViewEvaluation, vertical) == 104);
static_assert(offsetof(VtViewEvaluation, corner_f) == 128);
static_assert(offsetof(VtViewEvaluation, side_f) == 140);
static_assert(offsetof(VtViewEvaluation, down_f) == 152);
static_assert(offsetof(VtViewEvaluation, horizontal_f) == 164);
static_assert(offsetof(VtViewEvaluation, vertical_f) == 176);
static_assert(offsetof(VtViewEvaluation, eye) == 188);
static_assert(offsetof(VtViewEvaluation, reference) == 200);
static_assert(offsetof(VtViewEvaluation, up) == 212);
static_assert(offsetof(VtViewEvaluation, direction) == 224);
static_assert(offsetof(VtViewEvaluation, normal) == 236);
static_assert(offsetof(VtViewEvaluation, projection) == 248);
static_assert(offsetof(VtViewEvaluation, inverse) == 376);
static_assert(offsetof(VtViewEvaluation, angle) == 504);
static_assert(offsetof(VtViewEvaluation, angle_per_pixel) == 508);
static_assert(offsetof(VtViewEvaluation, angle_tangent) == 512);
static_assert(offsetof(VtViewEvaluation, projection_kind) == 516);
static_assert(offsetof(VtViewEvaluation, window) == 520);
static_assert(offsetof(VtViewEvaluation, hither) == 544);
static_assert(offsetof(VtViewEvaluation, yon) == 548);
static_assert(offsetof(VtViewEvaluation, resolution) == 552);
static_assert(offsetof(VtViewEvaluation, viewport) == 560);
static_assert(sizeof(VtViewEvaluation) == 576);

// A pinhole camera.
struct VtPinholeCamera {
  int32_t projection;  // 2 perspective, any other value parallel
  float eye[3];
  float reference[3];
  float up[3];
  float angle;    // as given: degrees (perspective) or the window width (parallel)
  float radians;  // angle x pi / 180
};

// A camera given as a projection matrix and its inverse.
struct VtMatrixCamera {
  double matrix[16];
  double inverse[16];
};

// Sides of the clip volume, in the order of a view's clip-distance procedures.
enum VtClipSide : uint32_t { kClipRight, kClipLeft, kClipTop, kClipBottom, kClipNear, kClipFar, kClipSides };

// A view record (one block of the view pool; the default view and the
// current-view copy live in the module state).
struct VtView {
  int32_t kind;                  // VO_VIEW_KIND_...
  uint32_t serial;               // evaluation counter at the last evaluation
  uint32_t current;              // Boolean
  uint32_t changed;              // Boolean: altered since the last evaluation
  VtView *data;                  // the record holding this view's data
  VtView *stack_link;            // the view saved below this one, or null
  uint32_t user_word;            // answered by value code 30, never read here
  uint32_t viewport_set;         // Boolean
  uint32_t resolution[2];        // pixels
  uint32_t viewport[4];          // xmin, xmax, ymin, ymax as set
  double pixel_aspect;           //
  VtViewEvaluation *evaluation;  // this record's own evaluation block
  double hither;                 // as set
  double yon;                    //
  VtClipDistanceProc clip[kClipSides];
  union {
    VtPinholeCamera pinhole;
    VtMatrixCamera matrix;
  } camera;
  // Beyond the written layout: while this view is on the stack, the copy
  // that VoViewPush made current over it (the one view its pop destroys).
  VtView *pushed_copy;
  // Set when the application gives the clipping distances, cleared when
  // automatic clipping chooses them and once evaluation has warned that it
  // moved the given hither plane out: one warning per change, none for the
  // distances the library chooses.
  uint32_t hither_unwarned;
};
static_assert(offsetof(VtView, serial) == 4);
static_assert(offsetof(VtView, current) == 8);
static_assert(offsetof(VtView, changed) == 12);
static_assert(offsetof(VtView, data) == 16);
static_assert(offsetof(VtView, stack_link) == 24);
static_assert(offsetof(VtView, user_word) == 32);
static_assert(offsetof(VtView, viewport_set) == 36);
static_assert(offsetof(VtView, resolution) == 40);
static_assert(offsetof(VtView, viewport) == 48);
static_assert(offsetof(VtView, pixel_aspect) == 64);
static_assert(offsetof(VtView, evaluation) == 72);
static_assert(offsetof(VtView, hither) == 80);
static_assert(offsetof(VtView, yon) == 88);
static_assert(offsetof(VtView, clip) == 96);
static_assert(offsetof(VtView, camera) == 144);
static_assert(offsetof(VtView, camera.pinhole.eye) == 148);
static_assert(offsetof(VtView, camera.pinhole.angle) == 184);
static_assert(offsetof(VtView, camera.matrix.inverse) == 272);
static_assert(offsetof(VtView, pushed_copy) == 400);

namespace vo::view {

// Pool tags.
constexpr uint32_t kPoolViews = 0x90001;
constexpr uint32_t kPoolEvaluations = 0x90002;

// Statuses.
constexpr VtStatus kRefused = VO_STATUS_BAD_ARGUMENT;  // 0x20000012
constexpr VtStatus kBareBad = VO_COND_BAD_ARGUMENT;    // 0x12: the resolution and pinhole setters
// What those setters post with their bare answer: the error class, so that a
// severity mask showing errors (the demo's 0x60000000) shows why a render
// then drew with the previous camera.
constexpr VtStatus kPostedBad = VO_STATUS_ERROR_BAD_ARGUMENT;  // 0x40000012
constexpr VtStatus kNoMemory = VO_STATUS_NO_MEMORY;            // 0x20000006
constexpr VtStatus kNotAvailable = VO_STATUS_UNAVAILABLE;
// A status with the bit of value 2 ends a walk (start, terminate, fit).
inline bool Fails(VtStatus s) { return (s & 0x2u) != 0; }

// Diagnostics of module 9.
constexpr uint32_t kMessageCopy = 208;        // VoViewCopy: null view
constexpr uint32_t kMessageDestroy = 209;     // VoViewDestroy: a view that cannot be destroyed
constexpr uint32_t kMessageSet = 210;         // VoViewSet: a view that cannot be made current
constexpr uint32_t kMessageResolution = 487;  // a resolution of 0
constexpr uint32_t kMessageAspect = 488;      // a pixel aspect not above 1e-5
constexpr uint32_t kMessageAngle = 489;       // a camera angle not above 1e-5
constexpr uint32_t kMessageUp = 496;          // an up vector shorter than 1e-5
constexpr uint32_t kMessageSingular = 514;    // a singular projection matrix

// Posts a refusal of module 9 (message 2090: procedure, reason) and answers
// the status.
VtStatus Refuse(VtStatus status, const char *procedure, const char *why);

// The screen-polyline pen and the output-driver procedures it draws with.
struct PenState {
  float pen[4];                 // the last point given, unclipped
  uint32_t move;                // Boolean: the next point only moves the pen
  uint32_t end_clipped;         // Boolean: the last drawn segment was cut at its end
  float *segment[2];            // segment start and end, each one of the buffers
  VtDrawRecord record;          // {null, segment, null, null}
  float buffers[2][4];          //
  VtDriverSegmentsEndProc end;  // driver callback 0x1a0006
  VtStatus drawn;               // the driver's answers to the segments, ORed (PolylineDrawnTake)
};

struct LiveViews;

// The module's state: the master, and one copy per worker context.
struct ViewState {
  VtView *current;
  VtView *stack_top;
  VtView current_copy;  // the current view's data while it is current
  VtView default_view;  // never destroyed
  VtViewEvaluation current_evaluation;
  VtViewEvaluation default_evaluation;
  VtPool *view_pool;        // shared with the copies
  VtPool *evaluation_pool;  // shared with the copies
  uint32_t counter;         // evaluation counter
  uint32_t is_copy;         // a worker context's copy
  PenState pen;
  LiveViews *live;  // every pooled view handed out; shared with the copies
};

// The camera-motion record (one per module).
struct CameraState {
  float *eye;  // inside the data of the view being moved
  float *reference;
  float *up;
  int32_t projection;
  float angle;  // radians within [0.1, 179] degrees (perspective) or the window width
  double hither;
  double yon;
  uint32_t flags;  // kKeepUp, kAutoClip
  VtView *data;
  double sin30;
  float fit_direction[3];
};
constexpr uint32_t kAutoClip = 1;  // control 0x90002
constexpr uint32_t kKeepUp = 2;    // control 0x90001

// Perspective angles are held within 0.1 and 179 degrees.
constexpr double kAngleMin = 0.0017453292;
constexpr double kAngleMax = 3.1241393;
constexpr double kRadians = 0.017453292519943295;
constexpr double kDegrees = 57.29577951308232;

// ---------------------------------------------------------------------------
// Module (module.cpp)
// ---------------------------------------------------------------------------

// The calling context's state, or null before start.
ViewState *StateGet();
CameraState *Camera();
// The checked state for an operation that returns a status: null with
// *status set when the module is not started.
ViewState *StateFor(VtStatus *status);
bool ViewKnown(const ViewState *s, const VtView *view);
VtStatus ViewRegister(ViewState *s, VtView *view);
void ViewForget(ViewState *s, const VtView *view);
// The number of pooled views handed out and not yet destroyed.
size_t LiveViewCount(const ViewState *s);

// ---------------------------------------------------------------------------
// Views (views.cpp)
// ---------------------------------------------------------------------------

// Gives a record the defaults of a new view (its evaluation pointer kept).
void ViewDefaults(VtView *v);
// Copies a view record (all but the evaluation pointer) and its evaluation
// block; the destination is not current and holds its own data.
void RecordCopy(VtView *to, const VtView *from);
// Makes the view current (no checks).
void MakeCurrent(ViewState *s, VtView *view);
// True when the view is on the view stack.
bool OnStack(const ViewState *s, const VtView *view);
// Pops the stack of the given state (VoViewPop; the worker copies' free).
VtStatus Pop(ViewState *s);
// The data record an operation of the procedure works on: the view's, or the
// current view's for null. Null, with *status set, when the module is not
// started or the view is not one of its views (a refusal is posted).
VtView *DataFor(VtView *view, const char *procedure, VtStatus *status);

// ---------------------------------------------------------------------------
// Evaluation (evaluate.cpp)
// ---------------------------------------------------------------------------

// Brings a data record's evaluation up to date when it changed.
VtStatus Evaluate(ViewState *s, VtView *data);
// The viewport in pixels as evaluation uses it: ordered, inside the image.
void ViewportBounds(const VtView *data, int32_t out[4]);
// Sets the six plain clip-distance procedures.
void ClipProceduresDefault(VtView *data);
// Sets a view's matrices (VoViewSetMatrices without the handle look-up).
VtStatus MatricesSet(VtView *data, const double *matrix, const double *inverse);
// out = (p, w) x m, four components.
inline void HomogeneousTimes(const double *m, const double *p, double w, double out[4]) {
  for (int c = 0; c < 4; ++c) out[c] = p[0] * m[c] + p[1] * m[4 + c] + p[2] * m[8 + c] + w * m[12 + c];
}
// The world point (x, y, z, 1) in homogeneous projection coordinates.
inline void Project(const VtViewEvaluation *e, const float *point, float out[4]) {
  const double p[3] = {point[0], point[1], point[2]};
  double q[4];
  HomogeneousTimes(e->projection, p, 1.0, q);
  for (int c = 0; c < 4; ++c) out[c] = static_cast<float>(q[c]);
}
// The current view's evaluation (the current-view copy's block).
inline VtViewEvaluation *CurrentEvaluation(const ViewState *s) { return s->current_copy.evaluation; }
// A data record's evaluation, brought up to date first (its status unasked).
inline VtViewEvaluation *EvaluationNow(ViewState *s, VtView *data) {
  (void)Evaluate(s, data);
  return data->evaluation;
}
// Plain and viewport-scaled clip distances (by VtClipSide).
extern const VtClipDistanceProc kPlainClip[kClipSides];
extern const VtClipDistanceProc kScaledClip[kClipSides];

// ---------------------------------------------------------------------------
// Camera (camera.cpp) and polylines (polyline.cpp)
// ---------------------------------------------------------------------------

VtStatus CameraCreate();
VtStatus CameraDestroy();
// Sets hither and yon of a data record from a box (VoViewAutoClipping with
// the box given).
VtStatus AutoClipBounds(ViewState *s, VtView *data, const VtBounds &bounds);
// Warning 2940 when the hither a perspective takes from the distances just
// chosen lies beyond the whole of a primitive in front of the eye.
void NearPlaneBeyondWarn(ViewState *s, const VtView *view, VtView *data);
// Starts the pen: buffers assigned, drawing record filled.
void PenStart(PenState *pen);

// ---------------------------------------------------------------------------
// What the module asks of other modules (neighbours.cpp); the driver
// framework's operations answer a fixed fallback while it is missing.
// ---------------------------------------------------------------------------

// The scene bounds (VoBoundsGet); 0x20000012 while the geometry module is
// not started.
VtStatus SceneBoundsGet(VtBounds *bounds);
// The first primitive of the current list whose world bounds lie, along
// the direction from the eye, wholly between the eye and the depth given
// (some of them in front of the eye); null for none, or without the
// geometry module.
const VtPrimitive *ScenePrimitiveNearer(const double eye[3], const double direction[3], double depth);
// Reads the output-driver callbacks the pen uses.
void DriverCallbacksRead(PenState *pen);
// Draws one shape through the current output driver (VoDriverDraw with the
// current driver); 2 when there is no drawing procedure.
VtStatus DriverDraw(uint32_t type, uint32_t count, VtDrawRecord *record);
// Closes a run of segments (driver callback 0x1a0006), when there is one.
void DriverSegmentsEnd(const PenState *pen);

}  // namespace vo::view
