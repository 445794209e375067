// What a render started in the middle of another keeps of the outer one's
// scene. The scanline loop writes screen-space data into the scene's
// primitives as it activates them: every vertex's projected point and each
// polygon's clipped boundary, which the outer render reads again as it scans
// (the advanced classes read the points at every pixel, the edges name the
// boundary's vertices). A render started from a shader, the driver's poll or
// the progress callback may render the same primitives in another view.
//
// Invariants a reader must know:
// - the primitives kept are those the outer frame has bucketed and not yet
//   scanned to their last line (its last-line lists);
// - a kept polygon's boundary is taken off it while the inner render runs,
//   so the inner one's clipping neither frees nor reuses it; at the end the
//   inner one's boundary is freed and the kept one put back, and the points
//   are written back, in reverse order (a primitive listed twice ends with
//   what it had first).

#include <cstring>

#include "render/vorenstd/renderer.h"
#include "kernel/vosystem/face.h"
#include "scene/voview/face.h"

namespace vo::renstd {

// One vertex's projected point, or one polygon's clipped boundary.
struct ScreenKept::Entry {
  VtPrimitive *primitive;
  void *element;
  VtReference *boundary;  // a polygon's; the vertex's point otherwise
  float point[4];
  bool polygon;
};

namespace {

// Calls vertex(p, layout, v) for every vertex on the primitive's vertex
// ring and polygon(p, layout, q) for every polygon, for each primitive the
// frame has bucketed and not finished.
template <class VertexProc, class PolygonProc>
void ForEachScreenElement(const RenderFrame *f, VertexProc vertex, PolygonProc polygon) {
  if (f->last_buckets == nullptr) return;
  for (int32_t i = 0; i <= f->height; ++i)
    ForEachNode(f->last_buckets[i], [&](VtReference *node) {
      auto *p = static_cast<VtPrimitive *>(node->data);
      VtClipLayout l{};
      // A primitive the frame has not activated yet has read nothing.
      if (p == nullptr || p->contents == nullptr || VoClipLayoutGet(p->contents, &l) != 0 ||
          PropertyOffset(p->contents, VO_POLY_PLANE) < 0)
        return;
      void *const *verts = PropertyField<void *>(p, nullptr, VO_PRIM_VERTS);
      void *const first = verts != nullptr ? *verts : nullptr;
      for (void *v = first; v != nullptr;) {
        vertex(p, l, v);
        void *next = *ElementField<void *>(v, l.vertex_next);
        v = next == first || next == v ? nullptr : next;
      }
      VtPolygon *const head = VoPrimitiveGetPolygons(p);
      for (VtPolygon *q = head; q != nullptr;) {
        polygon(p, l, q);
        if (l.polygon_next < 0) break;
        VtPolygon *next = *ElementField<VtPolygon *>(q, l.polygon_next);
        q = next == head || next == q ? nullptr : next;
      }
    });
}

}  // namespace

VtStatus ScreenKeep(const RenderFrame *outer, ScreenKept *kept) {
  *kept = ScreenKept{};
  if (outer == nullptr) return 0;
  size_t count = 0;
  ForEachScreenElement(
      outer, [&](VtPrimitive *, const VtClipLayout &, void *) { ++count; },
      [&](VtPrimitive *, const VtClipLayout &, VtPolygon *) { ++count; });
  if (count == 0) return 0;
  if (count <= UINT32_MAX / sizeof(ScreenKept::Entry))
    kept->entries = static_cast<ScreenKept::Entry *>(
        VoAllocate(static_cast<uint32_t>(count * sizeof(ScreenKept::Entry))));
  if (kept->entries == nullptr) {
    Post(VO_STATUS_NO_MEMORY, messages::kOutOfMemoryIn, VO_MODULE_STANDARD_RENDERER,
         "a render inside another");
    return VO_STATUS_NO_MEMORY;
  }
  ScreenKept::Entry *e = kept->entries;
  ForEachScreenElement(
      outer,
      [&](VtPrimitive *p, const VtClipLayout &l, void *v) {
        *e = ScreenKept::Entry{p, v, nullptr, {}, false};
        std::memcpy(e++->point, ElementField<float>(v, l.screen), sizeof e->point);
      },
      [&](VtPrimitive *p, const VtClipLayout &l, VtPolygon *q) {
        VtReference *&boundary = *ElementField<VtReference *>(q, l.vrefsclip);
        *e++ = ScreenKept::Entry{p, q, boundary, {}, true};
        boundary = nullptr;
      });
  kept->count = count;
  return 0;
}

void ScreenGiveBack(ScreenKept *kept) {
  for (size_t i = kept->count; i-- > 0;) {
    const ScreenKept::Entry &e = kept->entries[i];
    VtClipLayout l{};
    if (!PrimitiveLive(e.primitive) || VoClipLayoutGet(e.primitive->contents, &l) != 0) continue;
    if (e.polygon) {
      view::ClippedBoundaryFree(e.primitive, static_cast<VtPolygon *>(e.element));
      *ElementField<VtReference *>(e.element, l.vrefsclip) = e.boundary;
    } else {
      std::memcpy(ElementField<float>(e.element, l.screen), e.point, sizeof e.point);
    }
  }
  VoDeallocate(kept->entries);
  *kept = ScreenKept{};
}

}  // namespace vo::renstd
