// How chains, circles and arcs leave the second pass: polylines through the
// driver's shape request with the polyline callback's records, circles and
// arcs as one shape block each, and the dot output of a chain inside one
// pixel.
//
// Invariants a reader must know:
// - drawn points are copies: a stored edge is never written here, so the
//   joint test and the callbacks always see divided stored points;
// - the scratch arrays only grow while stage 6 runs and are freed at its
//   end (ScratchFree); a failed reservation leaves a capacity of 0;
// - a circle or arc the driver does not handle (258) is drawn again as a
//   polyline inside the same stroke group, and the drawing answers that.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "render/vorenhid/chains.h"

namespace vo::hid {

namespace {

// Bytes per entry of each scratch array.
constexpr size_t kEntry[4] = {sizeof(VtHiddenLineEdgeInfo) + sizeof(void *),
                              sizeof(float *) + 4 * sizeof(float), sizeof(float *), 3 * sizeof(float)};
constexpr uint32_t kMostFallbackPoints = 4097;

VtStatus Reserve(VtHiddenLineContext *s, int which, uint32_t n) {
  if (s->scratch_capacity[which] >= n) return 0;
  VoDeallocate(s->scratch[which]);
  s->scratch[which] = nullptr;
  s->scratch_capacity[which] = 0;
  s->scratch[which] = VoAllocate(size_t{n} * kEntry[which]);  // n < 2^32, entries < 2^8: no overflow
  if (s->scratch[which] == nullptr) return VO_STATUS_NO_MEMORY;
  s->scratch_capacity[which] = n;
  return 0;
}

VtHiddenLineEdgeInfo *Records(VtHiddenLineContext *s) {
  return static_cast<VtHiddenLineEdgeInfo *>(s->scratch[kScratchInfos]);
}
VtHiddenLineEdgeInfo **RecordPointers(VtHiddenLineContext *s) {
  return reinterpret_cast<VtHiddenLineEdgeInfo **>(Records(s) + s->scratch_capacity[kScratchInfos]);
}
float **PointPointers(VtHiddenLineContext *s) { return static_cast<float **>(s->scratch[kScratchPoints]); }
float *PointCopies(VtHiddenLineContext *s) {
  return reinterpret_cast<float *>(PointPointers(s) + s->scratch_capacity[kScratchPoints]);
}

// The world point of a stored point: the stored x, y, z when stored in
// world coordinates, else the divided projection point unprojected.
void WorldOf(const VtHiddenLineContext *s, const float *q, float out[3]) {
  if (s->world_store != 0) {
    for (int c = 0; c < 3; ++c) out[c] = q[c];
    return;
  }
  float in[4] = {q[0], q[1], q[2], 1.0f};
  if (VoCurrentViewUnprojectPoint(in, out) != 0) out[0] = out[1] = out[2] = 0.0f;
}

// Adds a stored point (x/w, y/w, z/w, w) to the polyline being built as a
// drawn copy.
void PointAdd(VtHiddenLineContext *s, uint32_t i, const float *q) {
  if (s->world_output != 0) {
    WorldOf(s, q, static_cast<float *>(s->scratch[kScratchWorld]) + 3 * size_t{i});
    return;
  }
  float *copy = PointCopies(s) + 4 * size_t{i};
  for (int c = 0; c < 3; ++c) copy[c] = q[c] * q[3];
  copy[3] = q[3];
  PointPointers(s)[i] = copy;
}

const float *EndPoint(const VtHiddenLineEdge *e, int end, const VtPrimitive *p) {
  return ChainMember(e, p)->end[end];
}
const float *EndPair(const VtHiddenLineEdge *e, int end, const VtPrimitive *p) {
  return ChainMember(e, p)->pairs[end];
}

// The joint from P -> Q to R is straight: R lies on the line through P
// and Q within the limit, measured across the major axis of P -> Q.
bool Straight(const float *p, const float *q, const float *r, double limit) {
  const double dx = double{q[0]} - p[0], dy = double{q[1]} - p[1];
  const int major = std::fabs(dx) >= std::fabs(dy) ? 0 : 1, minor = 1 - major;
  const double extent = major == 0 ? dx : dy;
  const double t = std::fabs(extent) < 1e-6 ? 0.0 : (double{r[major]} - p[major]) / extent;
  const double at = p[minor] + t * (double{q[minor]} - p[minor]);
  return std::fabs(at - r[minor]) < limit;
}

// The shape block of a circle (arc false) or arc and its record word.
struct ShapeBlock {
  float block[13];
  float pairs[4];
  void *block_pointer[1];
  void *pair_pointer[1];
};

// A point of the circle at angle a, in the drawn form: homogeneous with
// the centre's w, or world.
void CirclePoint(const VtHiddenLineContext *s, const float *centre, double r, double a, float *out,
                 bool world) {
  const float divided[4] = {static_cast<float>(centre[0] + r * std::cos(a)),
                            static_cast<float>(centre[1] + r * std::sin(a)), centre[2], centre[3]};
  if (world) {
    if (s->world_store != 0) {
      for (int c = 0; c < 3; ++c) out[c] = divided[c];
      return;
    }
    WorldOf(s, divided, out);
    return;
  }
  for (int c = 0; c < 3; ++c) out[c] = divided[c] * centre[3];
  out[3] = centre[3];
}

// Draws a circle (sweep 2 pi from a0) or arc again as a polyline whose
// chords stray at most half a pixel from it, at least 8 points a circle.
VtStatus ShapeFallback(VtHiddenLineContext *s, const float *centre, double a0, double a1, double r) {
  const double two_pi = 2 * std::numbers::pi;
  const double sweep = std::clamp(a1 - a0, 0.0, two_pi);
  double ppu = std::max(s->grid.ppu_x, s->grid.ppu_y);
  if (!(ppu > 0) && s->resolution != nullptr) ppu = std::max(s->resolution[0], s->resolution[1]);
  const double r_px = std::fabs(r) * std::max(ppu, 1.0);
  const double step = r_px > 0.5 ? 2 * std::acos(1 - 0.5 / r_px) : two_pi;
  double chords = std::max(std::ceil(sweep / step), std::ceil(8 * sweep / two_pi));
  chords = std::clamp(chords, 1.0, double{kMostFallbackPoints - 1});
  const auto n = static_cast<uint32_t>(chords) + 1;
  const bool world = s->world_output != 0;
  if (Reserve(s, world ? kScratchWorld : kScratchPoints, n) != 0) return VO_STATUS_NO_MEMORY;
  for (uint32_t i = 0; i < n; ++i) {
    const double a = a0 + sweep * i / (n - 1);
    if (world) {
      CirclePoint(s, centre, r, a, static_cast<float *>(s->scratch[kScratchWorld]) + 3 * size_t{i}, true);
    } else {
      float *copy = PointCopies(s) + 4 * size_t{i};
      CirclePoint(s, centre, r, a, copy, false);
      PointPointers(s)[i] = copy;
    }
  }
  VtDrawRecord record{nullptr, world ? nullptr : PointPointers(s), nullptr,
                      world ? s->scratch[kScratchWorld] : nullptr};
  return s->cb.draw(VO_DRAW_SHAPE_LINE | (world ? VO_DRAW_POINTS_3D : VO_DRAW_POINTS_PROJECTED), n, &record);
}

}  // namespace

VtHiddenLineEdge *ChainMember(const VtHiddenLineEdge *e, const VtPrimitive *p) {
  if (e->primitive != p)
    for (VtHiddenLineEdge *m = e->next_source; m != nullptr; m = m->next_source)
      if (m->primitive == p) return m;
  return const_cast<VtHiddenLineEdge *>(e);
}

void ScratchFree(VtHiddenLineContext *s) {
  for (int i = 0; i < 4; ++i) {
    VoDeallocate(s->scratch[i]);
    s->scratch[i] = nullptr;
    s->scratch_capacity[i] = 0;
  }
}

VtStatus DrawPolyline(VtHiddenLineContext *s, VtPrimitive *p, void *element, uint32_t cls,
                      VtHiddenLineEdgeInfo *info, VtHiddenLineEdgeInfo **records, float **points,
                      float **attributes, float *points3, uint32_t count) {
  if ((cls & s->output_mask) == 0 && s->identity == 0) return 0;
  PenSelect(s, p, element, cls, info);
  if (s->cb.stroke_begin != nullptr) (void)s->cb.stroke_begin(0);
  if (auto polyline = UserProc<VtHiddenLinePolylineProc>(s, VO_CALLBACK_HL_POLYLINE))
    (void)polyline(static_cast<int32_t>(count) - 1, count > 1 ? records : nullptr);
  VtStatus st = 0;
  if (count != 0 && s->cb.draw != nullptr) {
    uint32_t type =
        VO_DRAW_SHAPE_LINE | (s->world_output != 0 ? VO_DRAW_POINTS_3D : VO_DRAW_POINTS_PROJECTED);
    if (attributes != nullptr) type |= VO_DRAW_ATTRIBUTES;
    VtDrawRecord record{nullptr, s->world_output != 0 ? nullptr : points, attributes,
                        s->world_output != 0 ? points3 : nullptr};
    st = s->cb.draw(type, count, &record);
  }
  if (s->cb.stroke_end != nullptr) (void)s->cb.stroke_end();
  return st;
}

VtStatus DrawCircleArc(VtHiddenLineContext *s, VtPrimitive *p, void *element, uint32_t cls,
                       VtHiddenLineEdgeInfo *info, const float *attr_a, const float *attr_b,
                       const float centre[4], double a0, double a1, double r, bool arc) {
  if ((cls & s->output_mask) == 0 && s->identity == 0) return 0;
  PenSelect(s, p, element, cls, info);
  ShapeBlock b{};
  const bool world = s->world_output != 0;
  const int size = world ? 3 : 4;
  float *at = b.block;
  // Centre, then the rim point (circle) or the start and end points (arc).
  if (world) {
    if (s->world_store != 0)
      for (int c = 0; c < 3; ++c) at[c] = centre[c];
    else
      WorldOf(s, centre, at);
  } else {
    for (int c = 0; c < 3; ++c) at[c] = centre[c] * centre[3];
    at[3] = centre[3];
  }
  at += size;
  CirclePoint(s, centre, r, arc ? a0 : 0.0, at, world);
  at += size;
  if (arc) {
    CirclePoint(s, centre, r, a1, at, world);
    at += size;
  }
  if (world && s->world_store == 0) {
    const float *rim = b.block + 3;
    at[0] = static_cast<float>(std::sqrt(std::pow(double{rim[0]} - b.block[0], 2) +
                                         std::pow(double{rim[1]} - b.block[1], 2) +
                                         std::pow(double{rim[2]} - b.block[2], 2)));
  } else {
    at[0] = static_cast<float>(r);
  }
  b.block_pointer[0] = b.block;
  uint32_t type = (arc ? VO_DRAW_SHAPE_ARC : VO_DRAW_SHAPE_CIRCLE) |
                  (world ? VO_DRAW_POINTS_3D : VO_DRAW_POINTS_PROJECTED);
  VtDrawRecord record{nullptr, world ? nullptr : b.block_pointer, nullptr, world ? b.block_pointer : nullptr};
  if (s->attributes != 0 && attr_a != nullptr && attr_b != nullptr) {
    for (int c = 0; c < 2; ++c) b.pairs[c] = attr_a[c], b.pairs[2 + c] = attr_b[c];
    b.pair_pointer[0] = b.pairs;
    record.attributes = b.pair_pointer;
    type |= VO_DRAW_ATTRIBUTES;
  }
  if (s->cb.stroke_begin != nullptr) (void)s->cb.stroke_begin(0);
  VtStatus st = s->cb.draw != nullptr ? s->cb.draw(type, 1, &record) : 0;
  if (st == VO_DRIVER_NOT_HANDLED)
    st = ShapeFallback(s, centre, arc ? a0 : 0.0, arc ? a1 : 2 * std::numbers::pi, r);
  if (s->cb.stroke_end != nullptr) (void)s->cb.stroke_end();
  return st;
}

VtStatus ChainOutput(VtHiddenLineContext *s, VtPrimitive *p, void *element, uint32_t cls,
                     VtHiddenLineEdgeInfo *info, VtHiddenLineEdge *first, uint32_t count) {
  const bool records = UserProc<VtHiddenLinePolylineProc>(s, VO_CALLBACK_HL_POLYLINE) != nullptr;
  const bool pairs = s->attributes != 0;
  VtStatus st = 0;
  if (records) st |= Reserve(s, kScratchInfos, count + 1);
  st |= Reserve(s, s->world_output != 0 ? kScratchWorld : kScratchPoints, count + 1);
  if (pairs) st |= Reserve(s, kScratchPairs, count + 1);
  if (st != 0) {
    s->work_counter += 2 * count - 1;
    (void)ProgressStep(s, 6);
    return VO_STATUS_NO_MEMORY;
  }
  auto pair_pointers = static_cast<float **>(s->scratch[kScratchPairs]);
  auto from = [](const VtHiddenLineEdge *e) { return (e->flags & kChainForward) != 0 ? 0 : 1; };
  uint32_t n = 0;
  const float *last_point = nullptr;
  const float *last_pair = nullptr;
  auto add = [&](const VtHiddenLineEdge *e, int end, bool record) {
    const float *q = EndPoint(e, end, p);
    if (record) {
      VtHiddenLineEdgeInfo &r = Records(s)[n - 1];
      InfoOf(e, &r);
      std::memcpy(r.end0, last_point, sizeof r.end0);
      std::memcpy(r.end1, q, sizeof r.end1);
      const float *pa = pairs ? last_pair : nullptr, *pb = pairs ? EndPair(e, end, p) : nullptr;
      for (int c = 0; c < 2; ++c) {
        r.pairs[c] = pa != nullptr ? pa[c] : -1.0f;
        r.pairs[2 + c] = pb != nullptr ? pb[c] : -1.0f;
      }
      RecordPointers(s)[n - 1] = &r;
    }
    PointAdd(s, n, q);
    if (pairs) pair_pointers[n] = const_cast<float *>(EndPair(e, end, p));
    last_point = q;
    last_pair = EndPair(e, end, p);
    ++n;
  };
  add(first, from(first), false);
  const double limit = 0.1 * s->point_tolerance;
  for (VtHiddenLineEdge *e = first; e != nullptr; e = e->chain) {
    VtHiddenLineEdge *next = e->chain;
    const int to = 1 - from(e);
    if (next != nullptr && Straight(last_point, e->end[to], next->end[1 - from(next)], limit)) continue;
    add(e, to, records);
  }
  st = DrawPolyline(s, p, element, cls, info, records ? RecordPointers(s) : nullptr, PointPointers(s),
                    pairs ? pair_pointers : nullptr, static_cast<float *>(s->scratch[kScratchWorld]), n);
  s->work_counter += 2 * count - 1;
  (void)ProgressStep(s, 6);
  return st;
}

void ChainEmpty(VtHiddenLineContext *s, VtPrimitive *p, void *element, uint32_t cls,
                VtHiddenLineEdgeInfo *info, uint32_t count) {
  (void)DrawPolyline(s, p, element, cls, info, nullptr, nullptr, nullptr, nullptr, 0);
  s->work_counter += 2 * count - 1;
  (void)ProgressStep(s, 6);
}

}  // namespace vo::hid
