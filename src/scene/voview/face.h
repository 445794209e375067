// The view module's face: what other modules ask of views beyond the
// exported procedures. Culling and picking decide facing with the module's
// polygon planes; the Direct3D back end takes a pinhole camera's hither and
// yon as the view's evaluation does; the work farm cuts a pass's bands from
// the current view's viewport.
#pragma once

#include <cstdint>

#include <vo/vo_view.h>

#include "kernel/vosystem/face.h"

namespace vo::view {

// ---------------------------------------------------------------------------
// Facing, shared by culling (clip.cpp) and picking
// ---------------------------------------------------------------------------

// A polygon's plane (a, b, c, d): in its data block at the offset, else
// through the polygon enquiry; null when it has none.
const float *PolygonPlane(VtPrimitive *p, void *polygon, int32_t offset);
// What culling hands each polygon it keeps (a renderer's set-up), while the
// polygon's record is at hand.
using KeptPolygonProc = int32_t (*)(VtPrimitive *primitive, VtPolygon *polygon);
// VoPolygonCullBackFacing, with each polygon kept handed to kept (null:
// none) straight after its decision, in ring order; every vertex is
// projected before the first is handed on.
uint32_t CullBackFacingEach(VtPrimitive *primitive, VtPolygon *first, const VtClipLayout *layout,
                            KeptPolygonProc kept);
// Gives back a polygon's clipped boundary when it is not the polygon's own
// vertex ring, with the vertices clipping made on it (those a sub-window
// clip keeps stay), and leaves the boundary null. A renderer that puts a
// boundary of its own in place of one another renderer left calls it
// first. Nothing for a primitive whose layout has no clipped boundaries.
void ClippedBoundaryFree(VtPrimitive *primitive, VtPolygon *polygon);
// True when the plane faces the eye: the homogeneous eye point (elements 8
// to 11 of the inverse projection; the viewing direction at infinity for a
// parallel projection) lies on its negative side.
inline bool FacesEye(const float *plane, const double *inverse) {
  const double *eye = inverse + 8;
  return plane[0] * eye[0] + plane[1] * eye[1] + plane[2] * eye[2] + plane[3] * eye[3] < 0;
}

// ---------------------------------------------------------------------------
// Pinhole clipping (evaluate.cpp) and the current viewport (module.cpp)
// ---------------------------------------------------------------------------

// Hither and yon as a pinhole evaluation takes them: a perspective hither
// below 0.001 becomes yon x 0.001 (1 when yon is not above 0.001). True
// when yon then lies beyond hither.
bool PinholeClipping(bool perspective, double &hither, double &yon);

// For a line renderer: the driver's answers to the segments the screen
// polylines drew since the last call, ORed (258 when it handled none of
// them), and cleared.
VtStatus PolylineDrawnTake();

// For the work farm: the current view's viewport in pixels (ordered, inside
// the image); false when the view module is not started.
bool CurrentViewportBounds(uint32_t out[4]);

// ---------------------------------------------------------------------------
// The view a library render pushed, lent to the application's callbacks
// ---------------------------------------------------------------------------

// What ViewPushLend took off the stack, for ViewPushTake.
struct PushLent {
  VtView *copy;  // the view the push made current; null: nothing lent
  VtView *link;  // the stack below the view pushed
};
// Takes the push on top of the view stack off for a while: the view it
// saved is current again (with the stack below it) and the copy it made
// current keeps its data. Nothing when the stack is empty.
void ViewPushLend(PushLent *lent);
// Pushes again with the copy lent: whatever view is current now is the one
// saved on the stack (the application's choice, made while lent), and the
// copy is current with the data it had.
void ViewPushTake(const PushLent *lent);

// What a render's copy of a view gave back to the view it was made from: the
// warning it gave (a hither moved) counts as the view's own when their
// clipping is the same, so it is told once; and a view its callbacks left
// as it was is evaluated as the copy was, as if the render had drawn it.
void ViewEvaluationCarry(VtView *from, VtView *to);

// ---------------------------------------------------------------------------
// The view a render keeps from its start
// ---------------------------------------------------------------------------

// A render's copy of the view current as it starts, current while the render
// runs (on the application's thread): the application's callbacks are given
// the application's view in its place (a CallerState), so a pinhole,
// resolution or viewport they set is the next render's, and a view they make
// current is current after.
class ViewKept {
 public:
  ViewKept() {
    application_ = vo::VoViewGet();
    copy_ = application_ != nullptr ? vo::VoViewCopy(application_) : nullptr;
    if (copy_ == nullptr) return;
    if (vo::VoViewSet(copy_) != 0) {
      (void)vo::VoViewDestroy(copy_);
      copy_ = nullptr;
      return;
    }
    CallerStateEnter(&state_.state);
  }
  ~ViewKept() {
    if (copy_ == nullptr) return;
    CallerStateLeave(&state_.state);
    ViewEvaluationCarry(copy_, application_);
    (void)vo::VoViewSet(application_);
    (void)vo::VoViewDestroy(copy_);
  }
  // False when the copy could not be made (out of memory): the render
  // answers so and renders nothing.
  bool ok() const { return copy_ != nullptr || application_ == nullptr; }
  ViewKept(const ViewKept &) = delete;
  ViewKept &operator=(const ViewKept &) = delete;

 private:
  struct Lent {
    CallerState state;  // first: the procedures find the record by it
    ViewKept *kept;
    VtView *replaced;  // the render's view current when lent
  };
  static void Lend(CallerState *state) {
    auto *l = reinterpret_cast<Lent *>(state);
    l->replaced = vo::VoViewGet();
    if (l->replaced != l->kept->application_) (void)vo::VoViewSet(l->kept->application_);
  }
  static void Take(CallerState *state) {
    auto *l = reinterpret_cast<Lent *>(state);
    l->kept->application_ = vo::VoViewGet();
    if (l->replaced == nullptr || l->replaced == l->kept->application_) return;
    (void)vo::VoViewSet(l->replaced);
    (void)vo::VoViewEvaluate(nullptr);
  }
  VtView *application_ = nullptr, *copy_ = nullptr;
  Lent state_{{&Lend, &Take, nullptr, false}, this, nullptr};
};

}  // namespace vo::view
