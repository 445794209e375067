// Bounds of primitives in their own and in world coordinates, the cached
// bounds of the scene list, and the length unit conversions.

#include <algorithm>
#include <array>
#include <cmath>

#include "scene/vogeom/geom_state.h"
#include "scene/vogeom/list_walk.h"
#include "scene/vogeom/scene_hooks.h"
#include "scene/vogeom/view_frame.h"
#include "kernel/vosystem/face.h"

namespace vo {

namespace {

// The bare answer of the bounds procedures to a null address.
constexpr VtStatus kNullArgument = 16;

// The lists whose bounds are being computed on this thread: a list met
// again below itself is refused instead of recursing without end.
thread_local ListPath *t_bounds_path = nullptr;

void Widen(VtBounds *box, const VtBounds &b) {
  box->xmin = std::min(box->xmin, b.xmin);
  box->xmax = std::max(box->xmax, b.xmax);
  box->ymin = std::min(box->ymin, b.ymin);
  box->ymax = std::max(box->ymax, b.ymax);
  box->zmin = std::min(box->zmin, b.zmin);
  box->zmax = std::max(box->zmax, b.zmax);
}

// The union of the members' world bounds; an empty list gives zeros and
// 0x20000012.
VtStatus ListBounds(VtPrimitive *p, VtBounds *box) {
  ListPath own;
  ListPath *path = t_bounds_path ? t_bounds_path : &own;
  if (VtStatus s = path->Enter(p)) return s;
  ListPath *outer = t_bounds_path;
  t_bounds_path = path;
  VtStatus s = 0;
  bool any = false;
  VtBounds sum{};
  ForEachNode(ListMembers(p), [&](VtReference *node) {
    auto *member = static_cast<VtPrimitive *>(node->data);
    if (!PrimitiveLive(member)) return;
    VtBounds b{};
    s |= VoPrimitiveGetWorldBounds(member, &b);
    if (any)
      Widen(&sum, b);
    else
      sum = b;
    any = true;
  });
  t_bounds_path = outer;
  path->Leave();
  *box = sum;
  return any ? s : VO_STATUS_BAD_ARGUMENT;
}

}  // namespace

VtStatus PrimitiveBoundsCompute(VtPrimitive *p, VtBounds *box) {
  const uint32_t type = PrimitiveType(p);
  if (type == VO_PRIMITIVE_LIST || type == VO_PRIMITIVE_LIST_COPY) return ListBounds(p, box);
  const int32_t world = PropertyOffset(p->contents, VO_VERT_WORLD);
  void *first = RingFirst(p, VO_ELEMENT_VERTEX);
  if (first == nullptr || world < 0) return 0;
  const float *w = ElementField<float>(first, world);
  VtBounds b = {w[0], w[0], w[1], w[1], w[2], w[2]};
  ForEachElement(p, VO_ELEMENT_VERTEX, [&](void *v) {
    w = ElementField<float>(v, world);
    Widen(&b, VtBounds{w[0], w[0], w[1], w[1], w[2], w[2]});
  });
  *box = b;
  if (type == VO_PRIMITIVE_LINE || type == VO_PRIMITIVE_LINE_MESH) return LineBoundsWiden(p, box);
  return 0;
}

// Each corner of the box is widened by the world distance that half the
// line width spans there on the screen of the current view (diagonally, so
// that both screen axes take their share); a corner at the eye adds
// nothing. Without a view the box stays as the vertices give it.
VtStatus LineBoundsWiden(VtPrimitive *p, VtBounds *box) {
  ViewFrame view{};
  if (!ViewFrameGet(&view)) return 0;
  VtTypedValue width{};
  (void)VoPrimitiveGetProperty(p, VO_PRIM_LINE_WIDTH, &width);
  const double half = (width.value.p != nullptr ? *static_cast<const uint32_t *>(width.value.p) : 1u) / 2.0;
  const double fx = 0.7071067811865476 / view.rx * half, fy = 0.7071067811865476 / view.ry * half;
  const VtBounds b = *box;
  for (int i = 0; i < 8; ++i) {
    const std::array<double, 3> corner = BoundsCorner(b, i);
    const std::array<double, 4> h = view.Project(corner);
    if (h[3] == 0) continue;
    const std::array<double, 3> moved = view.Unproject({h[0] + fx * h[3], h[1] + fy * h[3], h[2], h[3]});
    const float r = static_cast<float>(std::sqrt((moved[0] - corner[0]) * (moved[0] - corner[0]) +
                                                 (moved[1] - corner[1]) * (moved[1] - corner[1]) +
                                                 (moved[2] - corner[2]) * (moved[2] - corner[2])));
    if (!(r > 0)) continue;
    const float c[3] = {static_cast<float>(corner[0]), static_cast<float>(corner[1]),
                        static_cast<float>(corner[2])};
    Widen(box, VtBounds{c[0] - r, c[0] + r, c[1] - r, c[1] + r, c[2] - r, c[2] + r});
  }
  return 0;
}

void SceneBoundsInvalidate() {
  if (GeomState *g = Geom()) g->scene_bounds_valid = 0;
}

VtStatus VoPrimitiveGetBounds(VtPrimitive *p, VtBounds *box) {
  if (p == nullptr || box == nullptr) return kNullArgument;
  if (VtStatus s = PrimitiveCheck(p)) return s;
  VtStatus s = 0;
  if ((p->flags & VO_PRIMITIVE_BOUNDS_HELD) == 0) {
    // A procedural primitive made otherwise: its class refreshes the bounds.
    const VtProceduralClass *c = HeldPointer<VtProceduralClass>(p, VO_PRIM_PROCCLASS);
    if (c != nullptr && c->bounds != nullptr) s = c->bounds(p, HeldPointer<void>(p, VO_PRIM_PROCDATA));
  }
  VtTypedValue v{};
  s |= VoPrimitiveGetProperty(p, VO_PRIM_BOUNDS, &v);
  *box = v.value.p != nullptr ? *static_cast<const VtBounds *>(v.value.p) : VtBounds{};
  return s;
}

VtStatus VoPrimitiveGetWorldBounds(VtPrimitive *p, VtBounds *box) {
  VtStatus s = VoPrimitiveGetBounds(p, box);
  GeomState *g = Geom();
  if (p == nullptr || box == nullptr || g == nullptr || !PrimitiveLive(p) ||
      (p->flags & VO_PRIMITIVE_HAS_TRANSFORM) == 0)
    return s;
  const VtBounds own = *box;
  return s | g->transform_bounds(reinterpret_cast<float *>(box), reinterpret_cast<const float *>(&own),
                                 VoPrimitiveGetTransform(p));
}

VtStatus VoBoundsGet(VtBounds *box) {
  GeomState *g = Geom();
  if (box == nullptr || g == nullptr) return box ? VO_STATUS_UNAVAILABLE : kNullArgument;
  // The scene's bounds are one cache for every context: workers of a
  // threaded pass made and read it at once.
  RegisterGuard hold;
  if (const VtReference *current = SceneList(g); !g->scene_bounds_valid && current != nullptr) {
    const VtReference *node = current;
    VtBounds sum{};
    for (uint32_t i = 0; i < g->scene_count; ++i, node = node->next) {
      VtBounds b{};
      VoPrimitiveGetWorldBounds(static_cast<VtPrimitive *>(node->data), &b);
      if (i == 0)
        sum = b;
      else
        Widen(&sum, b);
    }
    g->scene_bounds = sum;
    g->scene_bounds_valid = 1;
  }
  *box = g->scene_bounds;
  return 0;
}

VtStatus VoSceneBoundsSet(const VtBounds *box) {
  GeomState *g = Geom();
  if (box == nullptr || g == nullptr) return box ? VO_STATUS_UNAVAILABLE : kNullArgument;
  g->scene_bounds = *box;
  g->scene_bounds_valid = 1;
  return 0;
}

VtStatus VoSceneBoundsInvalidate() {
  SceneBoundsInvalidate();
  return 0;
}

VtStatus VoBoundsCopy(VtBounds *destination, const VtBounds *source, VtTransform *) {
  if (destination == nullptr || source == nullptr) return kNullArgument;
  if (destination != source) *destination = *source;
  return 0;
}

// ---------------------------------------------------------------------------
// Length units
// ---------------------------------------------------------------------------

namespace {

constexpr uint32_t kUnitMetre = 6;  // its factors are all 1

VtStatus UnitScale(float *value, uint32_t factor) {
  GeomState *g = Geom();
  if (value == nullptr) return kNullArgument;
  if (g != nullptr && g->unit_index != kUnitMetre) *value *= g->unit_factors[factor];
  return 0;
}

}  // namespace

VtStatus VoLengthToMetres(float *length) { return UnitScale(length, 0); }

VtStatus VoAreaToSquareMetres(float *area) { return UnitScale(area, 3); }

}  // namespace vo
