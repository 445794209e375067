// The second pass (two-pass renders, execute 0x190002): the storage of
// stage 4's segments, their admission in stage 5 and the drawing of the
// admitted edges and the bypass groups inside the frame of stage 6.
//
// Invariants a reader must know:
// - stored points are those stage 4 hands in, already (x/w, y/w, z/w, w)
//   (or world points under 0x190016); storage never divides again;
// - a stored segment never carries the internal bits 0x078C0C00 past
//   admission, and callbacks only ever see copies with them cleared;
// - every stored edge, node, info copy and group is the second pass's and
//   is given back by SecondPassRelease, also after an interrupted render;
//   the window edges clipping made are destroyed only then, since stored
//   segments keep them as their element.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "render/vorenhid/chains.h"
#include "kernel/vosystem/face.h"

namespace vo::hid {

// A bypass group (pool 0x19000b): edges of one first polygon and flag word.
struct VtHiddenLineBypass {
  void *polygon;
  uint32_t flags;
  VtHiddenLineNode *edges;
  VtHiddenLineBypass *next;
};

namespace {

enum : int { kEdges, kNodes, kInfos, kGroups };
constexpr uint32_t kStoredTags[3] = {kPoolStored, kPoolStoredNode, kPoolStoredInfo};
constexpr uint32_t kStoredSizes[3] = {sizeof(VtHiddenLineEdge), sizeof(VtHiddenLineNode),
                                      sizeof(VtHiddenLineEdgeInfo)};
constexpr uint32_t kPoolBypass = 0x19000b;
constexpr float kPointSegment = 1e-6f;

void InfoFill(VtHiddenLineEdgeInfo *info, VtPrimitive *p, void *element, uint32_t cls, const float a[4],
              const float b[4], const float *pa, const float *pb, uintptr_t user) {
  info->primitive = p;
  info->element = element;
  info->flags = cls;
  for (int c = 0; c < 4; ++c) info->end0[c] = a[c], info->end1[c] = b[c];
  for (int c = 0; c < 2; ++c) {
    info->pairs[c] = pa != nullptr ? pa[c] : -1.0f;
    info->pairs[2 + c] = pb != nullptr ? pb[c] : -1.0f;
  }
  info->user = user;
  info->next = nullptr;
}

// Frees every edge of a list linked through next (hlEdgeListRelease).
void EdgeListRelease(VtHiddenLineContext *s, VtHiddenLineEdge *list) {
  while (list != nullptr) {
    VtHiddenLineEdge *next = list->next;
    EdgeDestroy(s, list);
    list = next;
  }
}

VtStatus BypassRelease(VtHiddenLineContext *s) {
  if (s->bypass_started == 0) return VO_STATUS_UNAVAILABLE;
  while (VtHiddenLineBypass *g = s->bypass) {
    s->bypass = g->next;
    while (VtHiddenLineNode *n = g->edges) {
      g->edges = n->next;
      EdgeDestroy(s, n->edge);
      (void)VoPoolFree(s->stored_pools[kNodes], n);
    }
    (void)VoPoolFree(s->stored_pools[kGroups], g);
  }
  (void)PoolDisposeClear(&s->stored_pools[kGroups]);
  s->bypass_started = 0;
  return 0;
}

VtStatus BypassSetUp(VtHiddenLineContext *s) {
  if (s->bypass_started != 0) return VO_STATUS_UNAVAILABLE;
  if ((s->stored_pools[kGroups] = VoPoolCreate(kPoolBypass, sizeof(VtHiddenLineBypass))) == nullptr)
    return VO_STATUS_NO_MEMORY;
  s->bypass_started = 1;
  return 0;
}

// Puts an edge of bit 0x80 into the group of its first polygon and flags.
VtStatus BypassAdd(VtHiddenLineContext *s, VtHiddenLineEdge *e) {
  void *const *polys = EdgePolygons(LayoutFor(s, e->primitive), e->element);
  void *polygon = polys != nullptr ? polys[0] : nullptr;
  VtHiddenLineBypass **at = &s->bypass;
  while (*at != nullptr && !((*at)->polygon == polygon && (*at)->flags == e->flags)) at = &(*at)->next;
  if (*at == nullptr) {
    auto *g = static_cast<VtHiddenLineBypass *>(VoPoolAllocate(s->stored_pools[kGroups]));
    if (g == nullptr) return EdgeDestroy(s, e), VO_STATUS_NO_MEMORY;
    *g = VtHiddenLineBypass{polygon, e->flags, nullptr, nullptr};
    *at = g;
  }
  auto *n = static_cast<VtHiddenLineNode *>(VoPoolAllocate(s->stored_pools[kNodes]));
  if (n == nullptr) return EdgeDestroy(s, e), VO_STATUS_NO_MEMORY;
  *n = VtHiddenLineNode{e, (*at)->edges};
  (*at)->edges = n;
  return 0;
}

// Bypass groups go out unchanged: their primitive and pen unguarded, one
// group and one two-point request each; the driver's answers are ORed.
VtStatus BypassOutput(VtHiddenLineContext *s) {
  VtStatus st = 0;
  for (VtHiddenLineBypass *g = s->bypass; g != nullptr; g = g->next) {
    for (VtHiddenLineNode *n = g->edges; n != nullptr; n = n->next) {
      VtHiddenLineEdge *e = n->edge;
      for (auto &end : e->end)
        for (int c = 0; c < 3; ++c) end[c] *= end[3];
      if (s->cb.primitive != nullptr) (void)s->cb.primitive(e->primitive);
      if (s->cb.pen != nullptr) (void)s->cb.pen(e->flags);
      s->pen_word = e->flags;
      void *pointers[2] = {e->end[0], e->end[1]};
      VtDrawRecord record{nullptr, pointers, nullptr, nullptr};
      st |= Shape(s, VO_DRAW_SHAPE_LINE | VO_DRAW_POINTS_PROJECTED, 2, &record);
    }
  }
  (void)BypassRelease(s);
  return st;
}

// Offers a circle piece (class bit 0x20000) to callback 0x190006; true
// when the arc stage took it.
bool CircleOffer(VtHiddenLineContext *s, VtHiddenLineEdge *e, VtStatus *st) {
  auto circle =
      reinterpret_cast<VtHiddenLineCircleProc>(s->user[VO_CALLBACK_HL_CIRCLE - VO_CALLBACK_HL_ADMIT]);
  if ((e->flags & VO_HL_CLASS_CIRCLE) == 0 || circle == nullptr) return false;
  VtHiddenLineCircleQuery q{};
  q.primitive = e->primitive;
  q.element = e->element;
  q.flags = e->flags;
  q.user = e->user;
  std::memcpy(q.end0, e->end[0], sizeof q.end0);
  std::memcpy(q.end1, e->end[1], sizeof q.end1);
  for (int c = 0; c < 4; ++c) q.pairs[c] = s->attributes != 0 ? e->pairs[c / 2][c % 2] : -1.0f;
  if (circle(&q) == 0) return false;
  return ArcCollect(s, e, q.centre, q.radius, st);
}

// Stage 5 over one stored list; the internal bits of every segment are
// cleared first (no end of a stored segment is a stop).
VtStatus StoredAdmit(VtHiddenLineContext *s, VtHiddenLineEdge *list) {
  VtStatus st = 0;
  while (list != nullptr) {
    VtHiddenLineEdge *e = list;
    list = e->next;
    e->next = nullptr;
    e->flags &= ~VO_HIDDEN_LINE_INTERNAL_MASK;
    if ((e->flags & VO_HL_CLASS_BYPASS) != 0)
      st |= BypassAdd(s, e);
    else if (!CircleOffer(s, e, &st))
      st |= EdgeAdmit(s, e);
    (void)ProgressStep(s, 5);
  }
  return st;
}

uint32_t OrdinalOf(const VtHiddenLineContext *s, const VtPrimitive *p) {
  const VtHiddenLineOrdinal *first = s->ordinals, *end = first + s->ordinal_count;
  const VtHiddenLineOrdinal *at = std::lower_bound(
      first, end, p, [](const VtHiddenLineOrdinal &o, const VtPrimitive *q) { return o.primitive < q; });
  return at != end && at->primitive == p ? at->ordinal : 0;
}

// The ordinal of every prepared primitive, sorted by handle for look-up.
VtStatus OrdinalsMake(VtHiddenLineContext *s) {
  uint32_t n = 0;
  ForEachNode(s->prepared, [&](VtReference *) { ++n; });
  if (n == 0) return 0;
  s->ordinals = static_cast<VtHiddenLineOrdinal *>(VoAllocate(size_t{n} * sizeof(VtHiddenLineOrdinal)));
  if (s->ordinals == nullptr) return VO_STATUS_NO_MEMORY;
  uint32_t i = 0;
  ForEachNode(s->prepared, [&](VtReference *node) {
    s->ordinals[i] = VtHiddenLineOrdinal{static_cast<const VtPrimitive *>(node->data), i + 1};
    ++i;
  });
  std::sort(s->ordinals, s->ordinals + n, [](const VtHiddenLineOrdinal &a, const VtHiddenLineOrdinal &b) {
    return a.primitive < b.primitive;
  });
  s->ordinal_count = n;
  return 0;
}

}  // namespace

VtStatus SecondPassBegin(VtHiddenLineContext *s) {
  if (s->stored_pools[0] != nullptr) return VO_STATUS_UNAVAILABLE;
  s->not_finite_posted = 0;
  for (int i = 0; i < 3; ++i) {
    s->stored_pools[i] = VoPoolCreate(kStoredTags[i], kStoredSizes[i]);
    if (s->stored_pools[i] == nullptr) {
      SecondPassRelease(s);
      return VO_STATUS_NO_MEMORY;
    }
  }
  if (OrdinalsMake(s) != 0) {
    SecondPassRelease(s);
    return VO_STATUS_NO_MEMORY;
  }
  return 0;
}

VtStatus SegmentStore(VtHiddenLineContext *s, VtPrimitive *p, void *element, uint32_t cls,
                      const float *attr_a, const float *attr_b, const float a[4], const float b[4]) {
  if ((cls & s->output_mask) == 0 && s->identity == 0) return 0;
  for (int c = 0; c < 4; ++c) {
    if (!std::isfinite(a[c]) || !std::isfinite(b[c])) {
      if (s->not_finite_posted++ == 0)
        Post(VO_CLASS_WARNING, messages::kHiddenLineEndNotFinite, VO_MODULE_HIDDEN_LINE,
             static_cast<const void *>(p));
      return 0;
    }
  }
  if (std::fabs(b[0] - a[0]) < kPointSegment && std::fabs(b[1] - a[1]) < kPointSegment) return 0;
  uintptr_t user = 0;
  if (auto store =
          reinterpret_cast<VtHiddenLineStoreProc>(s->user[VO_CALLBACK_HL_STORE - VO_CALLBACK_HL_ADMIT])) {
    VtHiddenLineEdgeInfo info;
    InfoFill(&info, p, element, cls, a, b, attr_a, attr_b, 0);
    if (store(&info) == 0) return 0;
    cls = info.flags;
    user = info.user;
  }
  VtHiddenLineEdge *e = EdgeNew(s);
  if (e == nullptr) return VO_STATUS_NO_MEMORY;
  const int list = (cls & VO_HL_CLASS_HIDDEN) != 0 ? 1 : 0;
  e->primitive = p;
  e->element = element;
  e->user = user;
  e->flags = cls;
  e->ordinal = OrdinalOf(s, p);
  for (int c = 0; c < 4; ++c) e->end[0][c] = a[c], e->end[1][c] = b[c];
  for (int c = 0; c < 2; ++c) {
    e->pairs[0][c] = attr_a != nullptr ? attr_a[c] : -1.0f;
    e->pairs[1][c] = attr_b != nullptr ? attr_b[c] : -1.0f;
  }
  e->next = s->stored[list];
  s->stored[list] = e;
  ++s->stored_count[list];
  return 0;
}

VtStatus SecondPassAdmit(VtHiddenLineContext *s) {
  VtHiddenLineEdge *visible = s->stored[0], *hidden = s->stored[1];
  const bool hidden_too = s->identity != 0 || (s->output_mask & VO_HL_CLASS_HIDDEN) != 0;
  s->stored[0] = s->stored[1] = nullptr;
  VtStatus made = BucketStart(s);
  if (made == 0) made = ChainStageSetUp(s);
  if (made == 0) made = ArcStageSetUp(s);
  if (made == 0) made = BypassSetUp(s);
  s->work_counter = 0;
  s->work_count = s->stored_count[0] + (hidden_too ? s->stored_count[1] : 0);
  s->stored_count[0] = s->stored_count[1] = 0;
  if (made != 0) {
    // Nothing can be admitted: everything stored goes.
    EdgeListRelease(s, visible);
    EdgeListRelease(s, hidden);
    return made == VO_STATUS_UNAVAILABLE ? made : VO_STATUS_NO_MEMORY;
  }
  VtStatus st = StoredAdmit(s, visible);
  if (hidden_too)
    st |= StoredAdmit(s, hidden);
  else
    EdgeListRelease(s, hidden);
  return st;
}

VtStatus SecondPassDraw(VtHiddenLineContext *s) {
  s->work_counter = 0;
  s->work_count = 0;
  if (s->grid.row_count != nullptr)
    for (int32_t r = 0; r <= s->grid.rows; ++r) s->work_count += s->grid.row_count[r];
  VtStatus st = ArcsDraw(s);
  st |= ChainsDraw(s);
  if (s->bypass_started != 0) st |= BypassOutput(s);
  return st;
}

void SecondPassRelease(VtHiddenLineContext *s) {
  // Each group goes only when it stands (releasing an absent one answers 2).
  (void)BucketRelease(s, false);
  (void)ChainStageRelease(s);
  (void)ArcStageRelease(s);
  ScratchFree(s);
  (void)BypassRelease(s);
  if (s->stored_pools[0] != nullptr) {
    EdgeListRelease(s, s->stored[0]);
    EdgeListRelease(s, s->stored[1]);
  }
  s->stored[0] = s->stored[1] = nullptr;
  s->stored_count[0] = s->stored_count[1] = 0;
  WindowEdgesDestroy(s, s->deferred);
  s->deferred = nullptr;
  VoDeallocate(s->ordinals);
  s->ordinals = nullptr;
  s->ordinal_count = 0;
  for (VtPool *&pool : s->stored_pools) (void)PoolDisposeClear(&pool);
}

}  // namespace vo::hid
