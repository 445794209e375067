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

#include <cmath>

#include "vorenhid/hidden_line.h"
#include "vosystem/message_numbers.h"

namespace vo::hid {

// A stored segment (pool 0x190008).
struct VtHiddenLineEdge {
  VtPrimitive *primitive;
  void *element;
  uintptr_t user;  // the word callback 0x190005 left
  uint32_t flags;
  uint32_t ordinal;  // of the segment among those stored, for the last priority tie
  float end[2][4];
  float pairs[2][2];  // -1.0 when none travel
  VtHiddenLineEdge *next_source;
  VtHiddenLineEdge *next;  // the stored, admitted or group list
};

struct VtHiddenLineBypassNode {
  VtHiddenLineEdge *edge;
  VtHiddenLineBypassNode *next;
};

// A bypass group (pool 0x19000b): edges of one first polygon and flag word.
struct VtHiddenLineBypass {
  void *polygon;
  uint32_t flags;
  VtHiddenLineBypassNode *edges;
  VtHiddenLineBypass *next;
};

namespace {

enum : int { kEdges, kNodes, kInfos, kGroups };
constexpr uint32_t kStoredTags[4] = {kPoolStored, kPoolStoredNode, kPoolStoredInfo, 0x19000b};
constexpr uint32_t kStoredSizes[4] = {sizeof(VtHiddenLineEdge), sizeof(VtHiddenLineBypassNode),
                                      sizeof(VtHiddenLineEdgeInfo), sizeof(VtHiddenLineBypass)};
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

void EdgeFree(VtHiddenLineContext *s, VtHiddenLineEdge *e) {
  while (e != nullptr) {
    VtHiddenLineEdge *source = e->next_source;
    (void)VoPoolFree(s->stored_pools[kEdges], e);
    e = source;
  }
}

// Frees every edge of a list linked through next (hlEdgeListRelease).
void EdgeListRelease(VtHiddenLineContext *s, VtHiddenLineEdge *list) {
  while (list != nullptr) {
    VtHiddenLineEdge *next = list->next;
    EdgeFree(s, list);
    list = next;
  }
}

void BypassRelease(VtHiddenLineContext *s) {
  while (VtHiddenLineBypass *g = s->bypass) {
    s->bypass = g->next;
    while (VtHiddenLineBypassNode *n = g->edges) {
      g->edges = n->next;
      EdgeFree(s, n->edge);
      (void)VoPoolFree(s->stored_pools[kNodes], n);
    }
    (void)VoPoolFree(s->stored_pools[kGroups], g);
  }
}

// Puts an edge of bit 0x80 into the group of its first polygon and flags.
VtStatus BypassAdd(VtHiddenLineContext *s, VtHiddenLineEdge *e) {
  void *const *polys = EdgePolygons(LayoutFor(s, e->primitive), e->element);
  void *polygon = polys != nullptr ? polys[0] : nullptr;
  VtHiddenLineBypass **at = &s->bypass;
  while (*at != nullptr && !((*at)->polygon == polygon && (*at)->flags == e->flags)) at = &(*at)->next;
  if (*at == nullptr) {
    auto *g = static_cast<VtHiddenLineBypass *>(VoPoolAllocate(s->stored_pools[kGroups]));
    if (g == nullptr) return EdgeFree(s, e), VO_STATUS_NO_MEMORY;
    *g = VtHiddenLineBypass{polygon, e->flags, nullptr, nullptr};
    *at = g;
  }
  auto *n = static_cast<VtHiddenLineBypassNode *>(VoPoolAllocate(s->stored_pools[kNodes]));
  if (n == nullptr) return EdgeFree(s, e), VO_STATUS_NO_MEMORY;
  *n = VtHiddenLineBypassNode{e, (*at)->edges};
  (*at)->edges = n;
  return 0;
}

// Bypass groups go out unchanged: their primitive and pen unguarded, one
// group and one two-point request each; the driver's answers are ORed.
VtStatus BypassOutput(VtHiddenLineContext *s) {
  VtStatus st = 0;
  for (VtHiddenLineBypass *g = s->bypass; g != nullptr; g = g->next) {
    for (VtHiddenLineBypassNode *n = g->edges; n != nullptr; n = n->next) {
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
  BypassRelease(s);
  return st;
}

// Admission of one stored edge: an edge shorter than half the point
// tolerance in x and in y is dropped, any other is kept for drawing.
void EdgeAdmit(VtHiddenLineContext *s, VtHiddenLineEdge *e) {
  const float h = s->point_tolerance * 0.5f;
  if (std::fabs(e->end[1][0] - e->end[0][0]) < h && std::fabs(e->end[1][1] - e->end[0][1]) < h) {
    EdgeFree(s, e);
    return;
  }
  e->next = s->admitted;
  s->admitted = e;
}

VtStatus StoredAdmit(VtHiddenLineContext *s, VtHiddenLineEdge *list) {
  VtStatus st = 0;
  while (list != nullptr) {
    VtHiddenLineEdge *e = list;
    list = e->next;
    e->next = nullptr;
    e->flags &= ~VO_HIDDEN_LINE_INTERNAL_MASK;
    if ((e->flags & VO_HL_CLASS_BYPASS) != 0)
      st |= BypassAdd(s, e);
    else
      EdgeAdmit(s, e);
    (void)ProgressStep(s, 5);
  }
  return st;
}

}  // namespace

VtStatus SecondPassBegin(VtHiddenLineContext *s) {
  if (s->stored_pools[0] != nullptr) return VO_STATUS_UNAVAILABLE;
  s->not_finite_posted = 0;
  s->ordinal = 0;
  for (int i = 0; i < 4; ++i) {
    s->stored_pools[i] = VoPoolCreate(kStoredTags[i], kStoredSizes[i]);
    if (s->stored_pools[i] == nullptr) {
      SecondPassRelease(s);
      return VO_STATUS_NO_MEMORY;
    }
  }
  return 0;
}

VtStatus SegmentStore(VtHiddenLineContext *s, VtPrimitive *p, void *element, uint32_t cls, const float *attr_a,
                      const float *attr_b, const float a[4], const float b[4]) {
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
  if (auto store = reinterpret_cast<VtHiddenLineStoreProc>(s->user[VO_CALLBACK_HL_STORE - VO_CALLBACK_HL_ADMIT])) {
    VtHiddenLineEdgeInfo info;
    InfoFill(&info, p, element, cls, a, b, attr_a, attr_b, 0);
    if (store(&info) == 0) return 0;
    cls = info.flags;
    user = info.user;
  }
  auto *e = static_cast<VtHiddenLineEdge *>(VoPoolAllocate(s->stored_pools[kEdges]));
  if (e == nullptr) return VO_STATUS_NO_MEMORY;
  const int list = (cls & VO_HL_CLASS_HIDDEN) != 0 ? 1 : 0;
  *e = VtHiddenLineEdge{p, element, user, cls, s->ordinal++, {}, {}, nullptr, s->stored[list]};
  for (int c = 0; c < 4; ++c) e->end[0][c] = a[c], e->end[1][c] = b[c];
  for (int c = 0; c < 2; ++c) {
    e->pairs[0][c] = attr_a != nullptr ? attr_a[c] : -1.0f;
    e->pairs[1][c] = attr_b != nullptr ? attr_b[c] : -1.0f;
  }
  s->stored[list] = e;
  ++s->stored_count[list];
  return 0;
}

VtStatus SecondPassAdmit(VtHiddenLineContext *s) {
  s->work_counter = 0;
  s->work_count = s->stored_count[0] + s->stored_count[1];
  VtHiddenLineEdge *visible = s->stored[0], *hidden = s->stored[1];
  s->stored[0] = s->stored[1] = nullptr;
  s->stored_count[0] = s->stored_count[1] = 0;
  VtStatus st = StoredAdmit(s, visible);
  if (s->identity != 0 || (s->output_mask & VO_HL_CLASS_HIDDEN) != 0)
    st |= StoredAdmit(s, hidden);
  else
    EdgeListRelease(s, hidden);
  return st;
}

VtStatus SecondPassDraw(VtHiddenLineContext *s) {
  VtStatus st = 0;
  while (VtHiddenLineEdge *e = s->admitted) {
    s->admitted = e->next;
    VtHiddenLineEdgeInfo info;
    InfoFill(&info, e->primitive, e->element, e->flags, e->end[0], e->end[1], e->pairs[0], e->pairs[1], e->user);
    const bool pairs = s->attributes != 0 && e->pairs[0][0] != -1.0f;
    st |= DrawLine(s, e->primitive, e->element, e->flags, pairs ? e->pairs[0] : nullptr,
                   pairs ? e->pairs[1] : nullptr, e->end[0], e->end[1], &info);
    EdgeFree(s, e);
  }
  return st | BypassOutput(s);
}

void SecondPassRelease(VtHiddenLineContext *s) {
  if (s->stored_pools[0] != nullptr) {
    EdgeListRelease(s, s->stored[0]);
    EdgeListRelease(s, s->stored[1]);
    EdgeListRelease(s, s->admitted);
    BypassRelease(s);
  }
  s->stored[0] = s->stored[1] = s->admitted = nullptr;
  s->stored_count[0] = s->stored_count[1] = 0;
  WindowEdgesDestroy(s, s->deferred);
  s->deferred = nullptr;
  for (VtPool *&pool : s->stored_pools) (void)PoolDisposeClear(&pool);
}

}  // namespace vo::hid
