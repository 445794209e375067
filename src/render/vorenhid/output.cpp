// How segments leave the hidden-line renderer: the pen prelude, two-point
// lines through the driver's shape request, and the whole edges that need
// no visibility test.
//
// Invariants a reader must know:
// - a driver callback that is not installed is never called;
// - the drawn points are homogenised copies: the scene's projection
//   positions are never written here;
// - the pen callback is called only when the class changes.

#include "render/vorenhid/hidden_line.h"

namespace vo::hid {

namespace {

// The primitive announced for a drawing: the one it was expanded from when
// stage 1 recorded it, else the prepared one.
void *Announced(VtHiddenLineContext *s, VtPrimitive *p) {
  const Layout &l = LayoutFor(s, p);
  void *parent = l.parent >= 0 && p->data != nullptr ? *ElementField<void *>(p->data, l.parent) : nullptr;
  return parent != nullptr ? parent : p;
}

void PenWord(VtHiddenLineContext *s, uint32_t cls) {
  if (cls == s->pen_word) return;
  s->pen_word = cls;
  if (s->cb.pen != nullptr) (void)s->cb.pen(cls);
}

}  // namespace

void PenSelect(VtHiddenLineContext *s, VtPrimitive *p, void *element, uint32_t cls,
               VtHiddenLineEdgeInfo *info) {
  if (s->identity != 0 && info != nullptr) {
    if (s->announce_primitive != 0 && s->cb.primitive != nullptr) (void)s->cb.primitive(info->primitive);
    if (s->announce_element != 0 && s->cb.element != nullptr)
      (void)s->cb.element(reinterpret_cast<uintptr_t>(info->primitive),
                          reinterpret_cast<uintptr_t>(info->element));
    if (auto pen = reinterpret_cast<VtHiddenLinePenProc>(s->user[VO_CALLBACK_HL_PEN - VO_CALLBACK_HL_ADMIT]))
      (void)pen(info);
    PenWord(s, info->flags & ~VO_HIDDEN_LINE_INTERNAL_MASK);
    return;
  }
  void *source = (s->announce_primitive | s->announce_element) != 0 ? Announced(s, p) : p;
  if (s->announce_primitive != 0 && s->cb.primitive != nullptr) (void)s->cb.primitive(source);
  if (s->announce_element != 0 && s->cb.element != nullptr)
    (void)s->cb.element(reinterpret_cast<uintptr_t>(source), reinterpret_cast<uintptr_t>(element));
  PenWord(s, cls);
}

VtStatus Shape(VtHiddenLineContext *s, uint32_t type, uint32_t count, VtDrawRecord *record) {
  if (s->cb.stroke_begin != nullptr) (void)s->cb.stroke_begin(0);
  const VtStatus st = s->cb.draw != nullptr ? s->cb.draw(type, count, record) : 0;
  if (s->cb.stroke_end != nullptr) (void)s->cb.stroke_end();
  return st;
}

VtStatus DrawLine(VtHiddenLineContext *s, VtPrimitive *p, void *element, uint32_t cls, const float *attr_a,
                  const float *attr_b, const float a[4], const float b[4], VtHiddenLineEdgeInfo *info) {
  if ((cls & s->output_mask) == 0 && s->identity == 0) return 0;
  PenSelect(s, p, element, cls, info);
  float points[2][4];
  void *pointers[2] = {points[0], points[1]};
  float attributes[2][2];
  void *attribute_pointers[2] = {attributes[0], attributes[1]};
  VtDrawRecord record{nullptr, nullptr, nullptr, nullptr};
  uint32_t type = VO_DRAW_SHAPE_LINE;
  const float *ends[2] = {a, b};
  for (int i = 0; i < 2; ++i) {
    const float *q = ends[i];
    const float w = s->world_output != 0 ? 1.0f : q[3];
    for (int c = 0; c < 3; ++c) points[i][c] = q[c] * w;
    points[i][3] = w;
  }
  if (s->world_output != 0) {
    type |= VO_DRAW_POINTS_3D;
    record.points3 = pointers;
  } else {
    type |= VO_DRAW_POINTS_PROJECTED;
    record.projected = pointers;
  }
  if (attr_a != nullptr && attr_b != nullptr) {
    type |= VO_DRAW_ATTRIBUTES;
    for (int c = 0; c < 2; ++c) attributes[0][c] = attr_a[c], attributes[1][c] = attr_b[c];
    record.attributes = attribute_pointers;
  }
  return Shape(s, type, 2, &record);
}

VtStatus SegmentOut(VtHiddenLineContext *s, VtPrimitive *p, void *element, uint32_t cls, const float *attr_a,
                    const float *attr_b, const float a[4], const float b[4]) {
  return s->two_pass != 0 ? SegmentStore(s, p, element, cls, attr_a, attr_b, a, b)
                          : DrawLine(s, p, element, cls, attr_a, attr_b, a, b);
}

VtStatus WholeEdgesOutput(VtHiddenLineContext *s) {
  VtStatus st = 0;
  const bool world = s->two_pass != 0 ? s->world_store != 0 : s->world_output != 0;
  for (VtHiddenLineEdgeNode *n = s->whole; n != nullptr; n = n->next) {
    const Layout &l = LayoutFor(s, n->primitive);
    const uint32_t cls = EdgeFlags(l, n->edge) | VO_HL_CLASS_HIDDEN;
    EdgeEnds e{};
    if (((cls & s->output_mask) == 0 && s->identity == 0) || !Ends(l, n->edge, &e)) continue;
    float ends[2][4];
    for (int i = 0; i < 2; ++i) {
      void *v = i == 0 ? e.v0 : e.v1;
      const float *q = world && l.world >= 0 ? ElementField<float>(v, l.world) : (i == 0 ? e.p0 : e.p1);
      for (int c = 0; c < 4; ++c) ends[i][c] = (c == 3 && world && l.world >= 0) ? 1.0f : q[c];
    }
    const bool pairs = s->attributes != 0 && l.attributes >= 0;
    const float *pa = pairs ? ElementField<float>(e.v0, l.attributes) : nullptr;
    const float *pb = pairs ? ElementField<float>(e.v1, l.attributes) : nullptr;
    st |= SegmentOut(s, n->primitive, n->edge, cls, pa, pb, ends[0], ends[1]);
  }
  return st;
}

}  // namespace vo::hid
