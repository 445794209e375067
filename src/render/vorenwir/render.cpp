// The render of the wireframe renderer: the walk of the scene list, the
// class of each primitive's box, outlines, polygon edge rings, edge lists
// and boxes, drawn as strokes.
//
// Invariants a reader must know:
// - a begin frame that fails ends the render with its status; otherwise the
//   frame is always ended and its status ORed in, also after an interrupt;
// - the statuses of single segments are not the render's, except a driver's
//   258 (it draws no lines): the render answers it with one diagnostic, so
//   that a file written without its lines is not taken for the picture;
// - every walk is bounded: a polygon's edge ring by its primitive's edge
//   count (or a null link), expansions by the list depth limit, so a broken
//   ring or a procedural primitive expanding into itself cannot hang it.

#include <vo/vo_view.h>

#include "scene/vogeom/face.h"
#include "scene/voview/face.h"
#include "render/vorenwir/wireframe.h"
#include "kernel/vosystem/face.h"

namespace vo::wire {

namespace {

constexpr uint32_t kPolylineDraw = VO_DRAW_PROJECTED_LINE;  // 0x404
constexpr uint32_t kWireframeCode = 0xa0001;                // the render, as its diagnostics name it

template <class T>
T Field(const void *block, int32_t offset, T fallback = T{}) {
  return offset >= 0 && block != nullptr ? *ElementField<T>(block, offset) : fallback;
}

void Offsets(WireState *s, const VtContents *c) {
  if (c == s->cached) return;
  s->cached = c;
  s->polys = PropertyOffset(c, VO_PRIM_POLYS);
  s->edges = PropertyOffset(c, VO_PRIM_EDGES);
  s->vrefs = PropertyOffset(c, VO_POLY_VREFS);
  s->poly_next = PropertyOffset(c, VO_POLY_NEXT);
  s->poly_edges = PropertyOffset(c, VO_POLY_EDGES);
  s->edge_next = PropertyOffset(c, VO_EDGE_NEXT);
  s->edge_flags = PropertyOffset(c, VO_EDGE_FLAGS);
  s->edge_vrefs = PropertyOffset(c, VO_EDGE_VREFS);
  s->edge_polys = PropertyOffset(c, VO_EDGE_POLYS);
  s->edge_links = PropertyOffset(c, VO_EDGE_EDGES);
  s->world = PropertyOffset(c, VO_VERT_WORLD);
  s->covert = PropertyOffset(c, VO_VERT_COVERT);
}

bool Polled(WireState *s) {
  if (s->poll != nullptr && s->poll() != 0 && s->sticky != nullptr) *s->sticky |= VO_COND_INTERRUPTED;
  return s->sticky != nullptr && (*s->sticky & VO_COND_INTERRUPTED) != 0;
}

void Corner(const VtBounds &b, int i, float out[3]) {
  out[0] = (i & 4) ? b.xmax : b.xmin;
  out[1] = (i & 2) ? b.ymax : b.ymin;
  out[2] = (i & 1) ? b.zmax : b.zmin;
}

// 0 wholly outside one clip plane, 2 wholly inside, 1 otherwise.
int32_t Classify(const VtBounds &b) {
  float projected[8][4];
  for (int i = 0; i < 8; ++i) {
    float corner[3];
    Corner(b, i, corner);
    (void)VoViewProjectPoint(corner, projected[i]);
  }
  return VoViewClassifyPoints(8, &projected[0][0]);
}

VtStatus BoxDraw(const VtBounds &b) {
  static constexpr int kPath[16] = {0, 1, 3, 2, 0, 4, 5, 7, 6, 4, 5, 1, 3, 7, 6, 2};
  VtStatus st = VoViewPolylineBegin();
  for (int i : kPath) {
    float corner[3], projected[4];
    Corner(b, i, corner);
    (void)VoViewProjectPoint(corner, projected);
    st |= VoViewPolylineAddProjected(projected);
  }
  return st | VoViewPolylineEnd();
}

// A sequence of points in class 1 (through the view's clipping polyline)
// or 2 (projected and sent as segments).
class Stroke {
 public:
  Stroke(WireState *s, VtPrimitive *p, int32_t cls) : s_(s), clipped_(cls == 1) {
    if (s->primitive != nullptr) (void)s->primitive(p);
    Open();
  }
  ~Stroke() {
    if (clipped_)
      (void)VoViewPolylineEnd();
    else if (s_->run_close != nullptr)
      (void)s_->run_close();
  }
  Stroke(const Stroke &) = delete;
  Stroke &operator=(const Stroke &) = delete;

  void Add(const float *world) {
    if (world == nullptr) return;
    if (clipped_) {
      (void)VoViewPolylineAddPoint(world);
      return;
    }
    float *next = points_[have_ ? 1 : 0];
    (void)VoViewProjectPoint(world, next);
    if (have_ && s_->draw != nullptr) {
      void *pair[2] = {points_[0], points_[1]};
      VtDrawRecord record{nullptr, pair, nullptr, nullptr};
      s_->drawn |= s_->draw(kPolylineDraw, 2, &record);
      for (int c = 0; c < 4; ++c) points_[0][c] = points_[1][c];
    }
    have_ = true;
  }
  void Break() {
    if (clipped_) {
      (void)VoViewPolylineEnd();
    } else if (s_->run_close != nullptr) {
      (void)s_->run_close();
    }
    Open();
  }

 private:
  void Open() {
    have_ = false;
    if (clipped_)
      (void)VoViewPolylineBegin();
    else if (s_->run_open != nullptr)
      (void)s_->run_open(0);
  }
  WireState *s_;
  bool clipped_;
  bool have_ = false;
  float points_[2][4] = {};
};

const float *WorldOf(const WireState *s, const void *vertex) {
  return s->world >= 0 && vertex != nullptr ? ElementField<float>(vertex, s->world) : nullptr;
}

void OutlineDraw(WireState *s, VtPrimitive *p, const void *polygon, int32_t cls) {
  const auto *ring = Field<const VtReference *>(polygon, s->vrefs);
  if (ring == nullptr) return;
  Stroke stroke(s, p, cls);
  ForEachNode(const_cast<VtReference *>(ring),
              [&](VtReference *node) { stroke.Add(WorldOf(s, node->data)); });
  if ((p->flags & kPrimitiveOpen) == 0) stroke.Add(WorldOf(s, ring->next->data));
}

// The vertex compared (and the start drawn) through the vertex indirection.
const void *Canonical(const WireState *s, const void *v) {
  const void *twin = Field<const void *>(v, s->covert);
  return twin != nullptr ? twin : v;
}

uint32_t EdgeCount(const WireState *s, const VtPrimitive *p) {
  const void *first = Field<const void *>(p->data, s->edges);
  uint32_t n = 0;
  for (const void *e = first; e != nullptr && n < (1u << 28);) {
    ++n;
    e = Field<const void *>(e, s->edge_next);
    if (e == first) break;
  }
  return n;
}

// A polygon's edge ring, from side to side through the neighbour links.
void PolygonEdgesDraw(WireState *s, VtPrimitive *p, const void *polygon, int32_t cls, uint32_t limit) {
  const void *e = Field<const void *>(polygon, s->poly_edges);
  if (e == nullptr) return;
  auto node = Field<const VtReference *>(e, s->edge_vrefs);
  if (node == nullptr || node->next == nullptr) return;
  const void *start_s = Field<const void *>(e, s->edge_polys) == polygon ? node->data : node->next->data;
  const void *first = e, *v = start_s;
  uint32_t flags = Field<uint32_t>(e, s->edge_flags);
  Stroke stroke(s, p, cls);
  const bool shown_hidden = s->flagged != 0;
  if ((flags & kEdgeHidden) == 0 || shown_hidden) stroke.Add(WorldOf(s, Canonical(s, start_s)));
  for (uint32_t steps = 0;; ++steps) {
    const bool far_is_next = Canonical(s, node->data) == Canonical(s, v);
    const void *t = far_is_next ? node->next->data : node->data;
    if ((flags & kEdgeHidden) != 0 && !shown_hidden) stroke.Break();
    stroke.Add(WorldOf(s, t));
    const auto *links = s->edge_links >= 0 ? ElementField<const void *const>(e, s->edge_links) : nullptr;
    e = links == nullptr ? nullptr : links[far_is_next ? 0 : 1];
    v = t;
    if (e == nullptr || steps >= limit || (node = Field<const VtReference *>(e, s->edge_vrefs)) == nullptr ||
        node->next == nullptr) {
      Post(VO_CLASS_WARNING, messages::kWireRingBroken, VO_MODULE_WIREFRAME, polygon);
      return;
    }
    flags = Field<uint32_t>(e, s->edge_flags);
    if (e == first && Canonical(s, v) == Canonical(s, start_s)) return;
  }
}

void EdgeListDraw(WireState *s, VtPrimitive *p, int32_t cls, bool all) {
  const void *first = Field<const void *>(p->data, s->edges);
  if (first == nullptr) return;
  Stroke stroke(s, p, cls);
  const void *last_end = nullptr;
  uint32_t n = 0;
  for (const void *e = first; e != nullptr && n < (1u << 28); ++n) {
    const uint32_t flags = Field<uint32_t>(e, s->edge_flags);
    const bool drawn = ((flags & kEdgeHidden) == 0 && (all || (flags & s->edge_mask) != 0)) || s->flagged;
    const auto *node = Field<const VtReference *>(e, s->edge_vrefs);
    if (drawn && node != nullptr && node->next != nullptr) {
      if (last_end != nullptr && last_end != node->data) stroke.Break();
      if (last_end != node->data) stroke.Add(WorldOf(s, node->data));
      stroke.Add(WorldOf(s, node->next->data));
      last_end = node->next->data;
    }
    e = Field<const void *>(e, s->edge_next);
    if (e == first) break;
  }
}

VtStatus ListDraw(WireState *s, VtReference *ring, int32_t cls, bool boxes, int32_t depth, ListPath &path);

void PrimitiveDraw(WireState *s, VtPrimitive *p, int32_t cls) {
  Offsets(s, p->contents);
  const uint32_t type = p->flags & VO_PRIMITIVE_TYPE_MASK;
  const bool has_edges = (p->flags & VO_PRIMITIVE_HAS_EDGES) != 0;
  const void *polygon = Field<const void *>(p->data, s->polys);
  if (type == VO_PRIMITIVE_POLYGON || type == VO_PRIMITIVE_LINE) {
    if (has_edges)
      EdgeListDraw(s, p, cls, true);
    else if (polygon != nullptr)
      OutlineDraw(s, p, polygon, cls);
    return;
  }
  const uint32_t limit = has_edges ? EdgeCount(s, p) : 0;
  for (const void *q = polygon; q != nullptr;) {
    if (!has_edges)
      OutlineDraw(s, p, q, cls);
    else if (s->poly_edges >= 0)
      PolygonEdgesDraw(s, p, q, cls, limit);
    q = Field<const void *>(q, s->poly_next);
    if (q == polygon) break;
  }
  if (has_edges) EdgeListDraw(s, p, cls, s->poly_edges < 0);
}

VtStatus MemberDraw(WireState *s, VtPrimitive *p, int32_t cls, bool boxes, int32_t depth, ListPath &path) {
  VtBounds b{};
  (void)VoPrimitiveGetWorldBounds(p, &b);
  if (boxes && depth <= 0) return BoxDraw(b);
  const int32_t cp = cls == 1 ? Classify(b) : cls;
  if (cp == 0) return 0;
  const uint32_t type = p->flags & VO_PRIMITIVE_TYPE_MASK;
  const bool plain = (p->flags & VO_PRIMITIVE_HAS_TRANSFORM) == 0;
  if (plain && (type == VO_PRIMITIVE_POLYGON || type == VO_PRIMITIVE_LINE || type == VO_PRIMITIVE_MESH ||
                type == VO_PRIMITIVE_LINE_MESH)) {
    PrimitiveDraw(s, p, cp);
    return 0;
  }
  if (depth == 0) return 0;
  // Each expansion is a step of the list walk: nested as deep as lists may
  // nest, and no deeper, as in every renderer.
  if (VtStatus st = path.Enter(p)) return st;
  VtReference *pieces = VoPrimitiveExpandToList(p, nullptr, 1);
  const VtStatus st = ListDraw(s, pieces, cls, boxes, depth - 1, path);
  (void)VoPrimitiveReferenceListDestroy(pieces);
  path.Leave();
  return st;
}

VtStatus ListDraw(WireState *s, VtReference *ring, int32_t cls, bool boxes, int32_t depth, ListPath &path) {
  if (Polled(s)) return VO_COND_INTERRUPTED;
  if (cls == 0 || ring == nullptr) return 0;
  return ForEachNodeUntil(ring, [&](VtReference *node) -> VtStatus {
    auto *p = static_cast<VtPrimitive *>(node->data);
    if (p != nullptr) {
      const VtStatus st = MemberDraw(s, p, cls, boxes, depth, path);
      if (Polled(s)) return VO_COND_INTERRUPTED;
      if (st != 0) return st;
    }
    return 0;
  });
}

// 258 with diagnostic 2930 when the driver answered 258 to the lines (it
// draws none), or to the vector output the render asked of it first (so
// that a render with nothing in view answers as one with lines does),
// else 0.
VtStatus LinesNotDrawn(VtStatus drawn) {
  if ((drawn & VO_DRIVER_NOT_HANDLED) != VO_DRIVER_NOT_HANDLED) return 0;
  VtTypedValue name{};
  const bool named =
      VoControlGet(VO_CONTROL_DRIVER_NAME, &name) == 0 && name.type == VtString && name.value.s != nullptr;
  Post(VO_CLASS_WARNING | VO_DRIVER_NOT_HANDLED, messages::kLinesNotDrawn, VO_MODULE_WIREFRAME,
       named ? name.value.s : "(unnamed)", kWireframeCode);
  return VO_DRIVER_NOT_HANDLED;
}

}  // namespace

VtStatus Render() {
  WireState *s = State();
  if (s == nullptr) return VO_STATUS_NOT_INITIALISED;
  if (s->sticky != nullptr) *s->sticky = 0;
  VtStatus st = VoViewEvaluate(nullptr);
  s->drawn = 0;
  (void)view::PolylineDrawnTake();  // another render's segments are not this one's
  const VtStatus refused = s->accept != nullptr ? s->accept(VO_DRIVER_OUTPUT_VECTOR) : 0;
  VtReference *list = VoPrimitiveListGet();
  const int32_t *r = s->region;
  if (s->begin_frame != nullptr && r != nullptr) {
    const VtStatus begun = s->begin_frame(r[0], r[1], r[2], r[3]);
    if (begun != 0) return st | begun;
  }
  if (list != nullptr) {
    VtBounds b{};
    (void)VoBoundsGet(&b);
    const int32_t cls = Classify(b);
    ListPath path;
    if (s->depth != 0)
      st |= ListDraw(s, list, cls, s->boxes != 0, s->depth - 1, path);
    else if (s->boxes != 0)
      st |= BoxDraw(b);
  }
  if (s->end_frame != nullptr) st |= s->end_frame();
  const VtStatus vectors = refused == VO_DRIVER_NOT_HANDLED ? refused : 0;
  return st | LinesNotDrawn(s->drawn | view::PolylineDrawnTake() | vectors);
}

}  // namespace vo::wire
