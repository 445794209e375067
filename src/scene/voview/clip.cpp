// View clipping and culling: the clip distances of point sets and boxes,
// back-face culling of a primitive's polygons, the polygon clipper that
// builds each polygon's clipped boundary (polygon property vrefsclip), and
// the sub-window clipper renderers reach through look-ups 0x90001 and
// 0x90002.
//
// A clipped boundary is a ring of reference nodes of its own (or, straight
// after culling, the polygon's vertex ring itself). Vertices made by
// clipping are not on the primitive's vertex ring: their next link is null,
// and they are destroyed when the node naming them is released, unless a
// sub-window clip has put a keep mark on them. A polygon a sub-window clip
// makes carries a mark of its own (kClipMade) until it is given back.

#include <algorithm>
#include <cmath>

#include "scene/vogeom/face.h"
#include "kernel/vosystem/face.h"
#include "scene/voview/view.h"

namespace vo::view {

namespace {

VtStatus Refused(const char *procedure, const char *why) {
  Post(kRefused, messages::kClipRefused, VO_MODULE_VIEW, procedure, why);
  return kRefused;
}

// The layout of a contents record; false when it lacks what clipping needs
// (screen points, vertex links, vertex references, clipped boundaries).
bool LayoutOf(const VtContents *c, VtClipLayout *l) {
  l->screen = PropertyOffset(c, VO_VERT_SCREEN);
  l->vertex_next = PropertyOffset(c, VO_VERT_NEXT);
  l->vrefs = PropertyOffset(c, VO_POLY_VREFS);
  l->vrefsclip = PropertyOffset(c, VO_POLY_VREFSCLIP);
  l->polygon_next = PropertyOffset(c, VO_POLY_NEXT);
  return l->screen >= 0 && l->vertex_next >= 0 && l->vrefs >= 0 && l->vrefsclip >= 0;
}

bool SameLayout(const VtClipLayout &a, const VtClipLayout &b) {
  return a.screen == b.screen && a.vertex_next == b.vertex_next && a.vrefs == b.vrefs &&
         a.vrefsclip == b.vrefsclip && a.polygon_next == b.polygon_next;
}

// Puts a node at the end of a ring (held by its last node).
void Append(VtReference *&ring, VtReference *node) {
  if (ring == nullptr) {
    node->next = node;
  } else {
    node->next = ring->next;
    ring->next = node;
  }
  ring = node;
}

// One clipping or culling run over the polygons of one primitive.
struct Clipper {
  VtPrimitive *p;
  VtClipLayout l;
  ViewState *s;

  VtReference *&Vrefs(void *polygon) const { return *ElementField<VtReference *>(polygon, l.vrefs); }
  VtReference *&Clipped(void *polygon) const { return *ElementField<VtReference *>(polygon, l.vrefsclip); }
  const float *Screen(const void *vertex) const { return ElementField<float>(vertex, l.screen); }
  void *&VertexNext(void *vertex) const { return *ElementField<void *>(vertex, l.vertex_next); }

  // The polygon after q on the ring that starts at first; null at its end.
  void *NextPolygon(void *q, void *first) const {
    if (l.polygon_next < 0) return nullptr;
    void *next = *ElementField<void *>(q, l.polygon_next);
    return (next == first || next == q) ? nullptr : next;
  }

  // A vertex made by an earlier clip step and held by nothing else.
  bool Disposable(void *vertex) const {
    return VertexNext(vertex) == nullptr && ElementHeaderOf(vertex)->keep == 0;
  }

  void Release(VtReference *node) const {
    if (void *v = node->data; v != nullptr && Disposable(v)) (void)ElementDiscard(p, VO_ELEMENT_VERTEX, v);
    ReferenceNodeFree(node);
  }
  void RingRelease(VtReference *ring) const {
    if (ring == nullptr) return;
    VtReference *node = ring->next;
    ring->next = nullptr;  // the walk ends at the handle
    while (node != nullptr) {
      VtReference *next = node->next;
      Release(node);
      node = next;
    }
  }
  // Lets go of a polygon's clipped boundary (the vertex ring is not touched).
  void ClippedFree(void *polygon) const {
    VtReference *&clipped = Clipped(polygon);
    if (clipped != nullptr && clipped != Vrefs(polygon)) RingRelease(clipped);
    clipped = nullptr;
  }

  // Adds one to (step > 0) or takes one from the keep mark of every vertex
  // of a clipped boundary that clipping made.
  void KeepMarks(VtReference *boundary, int step) const {
    if (boundary == nullptr) return;
    VtReference *node = boundary;
    do {
      node = node->next;
      if (VertexNext(node->data) != nullptr) continue;
      uint16_t &keep = ElementHeaderOf(node->data)->keep;
      if (step > 0)
        ++keep;
      else if (keep != 0)
        --keep;
    } while (node != boundary);
  }

  // One clip step: the ring clipped against one side. Nodes of vertices
  // inside move to the output, the others are released; every edge that
  // crosses the side gets a new vertex. Null when nothing is left inside or
  // a vertex or node cannot be made (every node is released then).
  VtReference *Step(VtReference *ring, VtClipDistanceProc distance) const {
    VtReference *const first = ring->next, *const last = ring;
    VtReference *out = nullptr;
    bool failed = false;

    // A new vertex where the edge between an inside and an outside vertex
    // meets the side. It is always blended from the inside vertex, so that
    // the two polygons sharing an edge make bit-identical vertices.
    auto cross = [&](void *inside, double d_in, void *outside, double d_out) {
      if (failed || std::isnan(d_in) || std::isnan(d_out)) return;
      VtVertex *v = VoVertexCreate(p);
      VtReference *node = v != nullptr ? VoReferenceNodeCreate(v) : nullptr;
      if (node == nullptr) {
        if (v != nullptr) (void)ElementDiscard(p, VO_ELEMENT_VERTEX, v);
        failed = true;
        return;
      }
      const double t = d_in / (d_in - d_out);
      VtVertex *sources[2] = {static_cast<VtVertex *>(inside), static_cast<VtVertex *>(outside)};
      const float weights[2] = {static_cast<float>(1 - t), static_cast<float>(t)};
      (void)VoVertexInterpolate(p, 0, 2, sources, weights, v);
      Append(out, node);
    };

    void *const v_first = first->data;
    const double d_first = distance(Screen(v_first), s);
    const bool in_first = d_first > 0;  // 0 and not a number are outside
    VtReference *node = first->next;
    if (in_first) Append(out, first);
    VtReference *prev = first;
    void *v_prev = v_first;
    double d_prev = d_first;
    bool in_prev = in_first;
    if (first != last) {
      for (;;) {
        VtReference *const after = node->next;  // read before the node moves
        const bool at_last = node == last;
        void *const v = node->data;
        const double d = distance(Screen(v), s);
        const bool in = d > 0;
        if (in_prev && !in) cross(v_prev, d_prev, v, d);
        if (!in_prev && in) cross(v, d, v_prev, d_prev);
        if (!in_prev && prev != first) Release(prev);
        if (in) Append(out, node);
        prev = node;
        v_prev = v;
        d_prev = d;
        in_prev = in;
        if (at_last) break;
        node = after;
      }
      // The closing edge, from the last vertex back to the first.
      if (in_prev && !in_first) cross(v_prev, d_prev, v_first, d_first);
      if (!in_prev && in_first) cross(v_first, d_first, v_prev, d_prev);
      if (!in_prev) Release(last);
    }
    if (!in_first) Release(first);
    if (failed) {
      RingRelease(out);
      return nullptr;
    }
    return out;
  }

  // Clips one polygon's vertex ring against count sides, side(i) giving
  // the clip-distance procedure of the i-th: its clipped boundary becomes
  // the result, null when it is clipped away (or was culled). A boundary
  // left by an earlier clip is released first.
  template <class Side>
  bool Polygon(void *q, uint32_t count, Side side) const {
    VtReference *&clipped = Clipped(q);
    if (clipped == nullptr) return false;
    VtReference *const vrefs = Vrefs(q);
    if (clipped != vrefs) RingRelease(clipped);
    clipped = nullptr;
    if (vrefs == nullptr) return false;
    VtReference *ring = VoReferenceListCopy(vrefs, nullptr);
    for (uint32_t i = 0; i < count && ring != nullptr; ++i) ring = Step(ring, side(i));
    clipped = ring;
    return ring != nullptr;
  }

  // True when every vertex of the ring lies inside each of the count sides:
  // clipping would give back a copy of the ring, the same vertices in the
  // same order from the same start.
  template <class Side>
  bool WhollyInside(const VtReference *ring, uint32_t count, Side side) const {
    const VtReference *node = ring;
    do {
      const float *screen = Screen(node->data);
      for (uint32_t i = 0; i < count; ++i)
        if (!(side(i)(screen, s) > 0)) return false;  // 0 and not a number are outside
      node = node->next;
    } while (node != ring);
    return true;
  }

  // A polygon of a primitive the view cuts that lies wholly inside keeps
  // its own ring as its clipped boundary, as culling leaves it, rather than
  // a copy clipping would make node by node; the others are clipped.
  template <class Side>
  bool PolygonOfCutPrimitive(void *q, Side side) const {
    VtReference *&clipped = Clipped(q);
    VtReference *const vrefs = Vrefs(q);
    if (clipped == nullptr || vrefs == nullptr || !WhollyInside(vrefs, kClipSides, side))
      return Polygon(q, kClipSides, side);
    if (clipped != vrefs) RingRelease(clipped);
    clipped = vrefs;
    return true;
  }

  // Clips the polygon, or every polygon of the ring from first, against the
  // view's six sides.
  bool Polygons(void *first, void *polygon) const {
    const auto side = [sides = s->current_copy.clip](uint32_t i) { return sides[i]; };
    if (polygon != nullptr) return Polygon(polygon, kClipSides, side);
    bool any = false;
    for (void *q = first; q != nullptr; q = NextPolygon(q, first))
      any = PolygonOfCutPrimitive(q, side) || any;
    return any;
  }

  // Projects the vertex ring and keeps the polygons that face the eye,
  // handing each one kept to kept (when given) straight after its decision.
  bool Cull(void *first, KeptPolygonProc kept_proc = nullptr) const {
    void *const *verts = PropertyField<void *>(p, nullptr, VO_PRIM_VERTS);
    void *const v_first = verts != nullptr ? *verts : nullptr;
    if (v_first == nullptr) return false;
    const VtViewEvaluation *e = EvaluationNow(s, &s->current_copy);
    const int32_t world = PropertyOffset(p->contents, VO_VERT_WORLD);
    for (void *v = v_first; v != nullptr;) {
      Project(e, ElementField<float>(v, world), ElementField<float>(v, l.screen));
      void *next = VertexNext(v);
      v = (next == v_first || next == v) ? nullptr : next;
    }
    const bool two_sided = (p->flags & VO_PRIMITIVE_TWO_SIDED) != 0;
    const int32_t plane_offset = PropertyOffset(p->contents, VO_POLY_PLANE);
    bool kept = false;
    for (void *q = first; q != nullptr;) {
      // While this one is decided (and handed on): the record after the
      // next is asked for, and the next one's first ring node (its record
      // was asked for the time before).
      void *const next = NextPolygon(q, first);
      if (next != nullptr) {
        if (void *const after = NextPolygon(next, first)) __builtin_prefetch(after);
        if (const VtReference *ring = Vrefs(next)) __builtin_prefetch(ring);
      }
      ClippedFree(q);
      const float *plane = two_sided ? nullptr : PolygonPlane(p, q, plane_offset);
      if (two_sided || (plane != nullptr && FacesEye(plane, e->inverse))) {
        Clipped(q) = Vrefs(q);
        kept = true;
        if (kept_proc != nullptr) (void)kept_proc(p, static_cast<VtPolygon *>(q));
      }
      q = next;
    }
    return two_sided || kept;
  }
};

// Sets up a clipper for a primitive (its layout in c->l once the primitive
// is known to be live) and checks the layout a caller passed (null: none);
// not 0, with a refusal posted, when they cannot be used.
VtStatus Prepare(Clipper *c, VtPrimitive *p, const VtClipLayout *layout, const char *procedure) {
  VtStatus st;
  c->s = StateFor(&st);
  if (c->s == nullptr) return st;
  if (!PrimitiveLive(p) || p->contents == nullptr)
    return Refused(procedure, "the primitive is not a live primitive");
  c->p = p;
  if (!LayoutOf(p->contents, &c->l))
    return Refused(procedure, "the primitive's layout lacks screen points or clipped boundaries");
  if (layout != nullptr && !SameLayout(*layout, c->l))
    return Refused(procedure, "the clip layout is not that of the primitive");
  return 0;
}

bool PolygonOf(const VtPrimitive *p, const void *polygon, const char *procedure) {
  const VtPrimitive *owner = ElementOwner(polygon, VO_ELEMENT_POLYGON);
  if (owner != nullptr &&
      KindTable(owner->contents, VO_ELEMENT_POLYGON) == KindTable(p->contents, VO_ELEMENT_POLYGON))
    return true;
  Refused(procedure, "the polygon is not a polygon of the primitive");
  return false;
}

// The mark a polygon VoPolygonClipSides made carries in its header's keep
// word (which only vertices use otherwise) until VoPolygonClipDiscard gives
// it back: any other polygon, or one given back, is refused there.
constexpr uint16_t kClipMade = 1;

// Side indices of VoPolygonClipSides, in their own order, to the view's
// clip-distance procedures (the viewport-scaled ones).
constexpr VtClipSide kSideOfIndex[6] = {kClipLeft, kClipRight, kClipTop, kClipBottom, kClipNear, kClipFar};

}  // namespace

const float *PolygonPlane(VtPrimitive *p, void *polygon, int32_t offset) {
  if (offset >= 0) return ElementField<float>(polygon, offset);
  VtTypedValue answer{};
  if (VoPolygonGetProperty(p, static_cast<VtPolygon *>(polygon), VO_POLY_PLANE, &answer) != 0) return nullptr;
  return static_cast<const float *>(answer.value.p);
}

}  // namespace vo::view

namespace vo {

using namespace view;

VtStatus VoClipLayoutGet(VtContents *contents, VtClipLayout *layout) {
  VtStatus st;
  if (StateFor(&st) == nullptr) return st;
  if (layout == nullptr) return Refused("VoClipLayoutGet", "the layout is missing");
  if (contents == nullptr) return Refused("VoClipLayoutGet", "the contents record is missing");
  if (ContentsRefused(contents, "VoClipLayoutGet", VO_MODULE_VIEW)) return VO_STATUS_BAD_ARGUMENT;
  if (!LayoutOf(contents, layout))
    return Refused("VoClipLayoutGet", "the contents lack screen points or clipped boundaries");
  return 0;
}

VtPolygon *VoPrimitiveGetPolygons(VtPrimitive *primitive) {
  if (!PrimitiveLive(primitive) || primitive->contents == nullptr) return nullptr;
  VtPolygon *const *polys = PropertyField<VtPolygon *>(primitive, nullptr, VO_PRIM_POLYS);
  return polys != nullptr ? *polys : nullptr;
}

uint32_t VoPolygonCullBackFacing(VtPrimitive *primitive, VtPolygon *first, const VtClipLayout *layout) {
  return view::CullBackFacingEach(primitive, first, layout, nullptr);
}

uint32_t view::CullBackFacingEach(VtPrimitive *primitive, VtPolygon *first, const VtClipLayout *layout,
                                  KeptPolygonProc kept) {
  Clipper c{};
  if (Prepare(&c, primitive, layout, "VoPolygonCullBackFacing") != 0) return 0;
  if (first != nullptr && !PolygonOf(primitive, first, "VoPolygonCullBackFacing")) return 0;
  return c.Cull(first, kept) ? 1 : 0;
}

void view::ClippedBoundaryFree(VtPrimitive *primitive, VtPolygon *polygon) {
  Clipper c{};
  if (primitive == nullptr || polygon == nullptr || primitive->contents == nullptr) return;
  if (!LayoutOf(primitive->contents, &c.l)) return;
  c.p = primitive;
  c.ClippedFree(polygon);
}

uint32_t VoPolygonClipWithLayout(VtPrimitive *primitive, VtPolygon *first, VtPolygon *polygon,
                                 const VtClipLayout *layout) {
  Clipper c{};
  if (Prepare(&c, primitive, layout, "VoPolygonClipWithLayout") != 0) return 0;
  for (const VtPolygon *q : {first, polygon})
    if (q != nullptr && !PolygonOf(primitive, q, "VoPolygonClipWithLayout")) return 0;
  return c.Polygons(first, polygon) ? 1 : 0;
}

uint32_t VoPolygonClip(VtPrimitive *primitive, VtPolygon *polygon) {
  Clipper c{};
  if (Prepare(&c, primitive, nullptr, "VoPolygonClip") != 0) return 0;
  if (polygon != nullptr && !PolygonOf(primitive, polygon, "VoPolygonClip")) return 0;
  return c.Polygons(VoPrimitiveGetPolygons(primitive), polygon) ? 1 : 0;
}

VtPolygon *VoPolygonClipSides(VtPrimitive *primitive, VtPolygon *source, const uint32_t *sides,
                              const float *fractions, uint32_t count) {
  Clipper c{};
  if (Prepare(&c, primitive, nullptr, "VoPolygonClipSides") != 0) return nullptr;
  if (source == nullptr || !PolygonOf(primitive, source, "VoPolygonClipSides")) return nullptr;
  if (count != 0 && (sides == nullptr || fractions == nullptr)) {
    Refused("VoPolygonClipSides", "the sides or their fractions are missing");
    return nullptr;
  }
  if (std::any_of(sides, sides + count, [](uint32_t side) { return side >= 6; })) {
    Refused("VoPolygonClipSides", "a side index is not 0 to 5");
    return nullptr;
  }
  VtPolygon *made = VoPolygonCreate(primitive);
  if (made == nullptr) return nullptr;
  ElementHeaderOf(made)->keep = kClipMade;
  // The made polygon starts from the source's clipped boundary; the
  // vertices earlier clips made on it get a keep mark, so that this clip
  // never destroys them.
  VtReference *const boundary = c.Clipped(source);
  c.Vrefs(made) = boundary;
  c.Clipped(made) = boundary;
  c.KeepMarks(boundary, 1);
  // The listed sides read the given fractions for the duration of the clip
  // (the last one given for a side listed twice); then the window is as it
  // was.
  float *window = CurrentEvaluation(c.s)->window;
  float saved[6];
  std::copy(window, window + 6, saved);
  for (uint32_t i = 0; i < count; ++i) window[sides[i]] = fractions[i];
  c.Polygon(made, count, [sides](uint32_t i) { return kScaledClip[kSideOfIndex[sides[i]]]; });
  std::copy(saved, saved + 6, window);
  c.Vrefs(made) = c.Clipped(made);
  return made;
}

VtStatus VoPolygonClipDiscard(VtPrimitive *primitive, VtPolygon *made, VtPolygon *source) {
  Clipper c{};
  if (Prepare(&c, primitive, nullptr, "VoPolygonClipDiscard") != 0) return kRefused;
  if (made == nullptr || !PolygonOf(primitive, made, "VoPolygonClipDiscard")) return kRefused;
  if (source != nullptr && !PolygonOf(primitive, source, "VoPolygonClipDiscard")) return kRefused;
  if (ElementHeaderOf(made)->keep != kClipMade)
    return Refused("VoPolygonClipDiscard",
                   "the polygon is not one that clipping made and has not given back");
  ElementHeaderOf(made)->keep = 0;
  // Destroying the made polygon releases its boundary, and with it the
  // vertices this clip made; those of the source keep their marks until
  // the made polygon is gone.
  c.Vrefs(made) = nullptr;
  const VtStatus st = ElementDiscard(primitive, VO_ELEMENT_POLYGON, made);
  if (source != nullptr) c.KeepMarks(c.Clipped(source), -1);
  return st;
}

int32_t VoViewProjectBounds(const VtBounds *bounds, uint32_t *rectangle) {
  VtStatus st;
  ViewState *s = StateFor(&st);
  if (s == nullptr) return VO_CLIP_OUTSIDE;
  if (bounds == nullptr || rectangle == nullptr) {
    Refused("VoViewProjectBounds", "the bounds or the rectangle are missing");
    return VO_CLIP_OUTSIDE;
  }
  const VtViewEvaluation *e = EvaluationNow(s, &s->current_copy);
  const float *w = e->window;
  const int32_t *vp = e->viewport;
  enum { kLeft, kRight, kTop, kBottom, kNear, kFar };
  uint32_t beyond[6] = {};
  uint32_t outside = 0;
  bool started = false;
  int32_t r[4] = {vp[0], vp[1], vp[2], vp[3]};
  // One pixel coordinate of a corner, counting the side it lies beyond.
  auto pixel = [&](double c, float low, float high, int32_t first, int32_t last, int32_t resolution,
                   int below, int above, bool *out) {
    if (c < low) {
      ++beyond[below];
      *out = true;
      return first;
    }
    if (c > high) {
      ++beyond[above];
      *out = true;
      return last;
    }
    return static_cast<int32_t>(
        std::clamp(std::trunc(c * resolution), static_cast<double>(first), static_cast<double>(last)));
  };
  for (int i = 0; i < 8; ++i) {
    const std::array<double, 3> c = BoundsCorner(*bounds, i);
    const float corner[3] = {static_cast<float>(c[0]), static_cast<float>(c[1]), static_cast<float>(c[2])};
    float h[4];
    Project(e, corner, h);
    const double x = h[0] / static_cast<double>(h[3]), y = h[1] / static_cast<double>(h[3]),
                 z = h[2] / static_cast<double>(h[3]);
    // A corner behind the eye, or one whose projection is no number (bounds
    // at the float limit, a projective transform), has no pixel: it lies
    // beyond the near plane.
    if (!(h[3] > 0) || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) {
      ++beyond[kNear];
      ++outside;
      continue;
    }
    bool out = false;
    const int32_t px = pixel(x, w[0], w[1], vp[0], vp[1], e->resolution[0], kLeft, kRight, &out);
    const int32_t py = pixel(y, w[2], w[3], vp[2], vp[3], e->resolution[1], kTop, kBottom, &out);
    if (z < 0) {
      ++beyond[kNear];
      out = true;
    } else if (z > 1) {
      ++beyond[kFar];
      out = true;
    }
    if (out) ++outside;
    if (!started) {
      r[0] = r[1] = px;
      r[2] = r[3] = py;
      started = true;
    } else {
      if (px < r[0])
        r[0] = px;
      else if (px > r[1])
        r[1] = px;
      if (py < r[2])
        r[2] = py;
      else if (py > r[3])
        r[3] = py;
    }
  }
  int32_t result = VO_CLIP_PARTLY;
  if (outside == 0) {
    result = VO_CLIP_INSIDE;
  } else if (beyond[kNear] != 0 || outside == 8) {
    // Behind the eye the corners have no pixels: the whole viewport.
    std::copy(vp, vp + 4, r);
    if (outside == 8 && std::find(beyond, beyond + 6, 8u) != beyond + 6) result = VO_CLIP_OUTSIDE;
  }
  for (int i = 0; i < 4; ++i) rectangle[i] = static_cast<uint32_t>(r[i]);
  return result;
}

int32_t VoViewClassifyPoints(uint32_t count, const float *points) {
  VtStatus st;
  const ViewState *s = StateFor(&st);
  if (s == nullptr) return VO_CLIP_OUTSIDE;
  if (count == 0) return VO_CLIP_INSIDE;
  if (points == nullptr) {
    Refused("VoViewClassifyPoints", "the points are missing");
    return VO_CLIP_OUTSIDE;
  }
  uint32_t clear = 0;
  for (VtClipDistanceProc distance : s->current_copy.clip) {
    uint32_t out = 0;
    for (uint32_t i = 0; i < count; ++i) out += distance(points + 4 * i, s) > 0 ? 0 : 1;
    if (out == count) return VO_CLIP_OUTSIDE;
    if (out == 0) ++clear;
  }
  return clear == kClipSides ? VO_CLIP_INSIDE : VO_CLIP_PARTLY;
}

}  // namespace vo
