// Processing of the current edge list, in double: joining edges that
// continue each other as seen from the eye, one orientation on screen,
// jitter, resampling on a world-aligned grid and two noise wobbles.
//
// Invariants a reader must know:
// - edges of fewer than two points pass every step unchanged;
// - join keeps the partner order of the written design: the remaining
//   entries are tried from the list's last entry on, each first as the one
//   E attaches to, then as the one attached to E;
// - resampling never loops without end or writes past its array: a spacing
//   that is not positive and finite copies the edge, the bound is counted
//   in size_t and every write is checked;
// - the phase plane is the next multiple of the grid step beyond the first
//   point in the direction of travel;
// - a zero amplitude leaves the points bit for bit.

#include <algorithm>
#include <cmath>
#include <numbers>

#include "scene/vogeom/face.h"
#include "render/vonpr/npr.h"
#include "kernel/vosystem/face.h"

namespace vo::npr {

namespace {

double Distance(const float *a, const float *b) {
  const double d[3] = {double{b[0]} - a[0], double{b[1]} - a[1], double{b[2]} - a[2]};
  return std::sqrt(vec::Dot(d, d));
}

// The owner's transform when the flag asks for it; null is the identity.
VtTransform *TransformOf(const VtNPREdge *e, const Parameters &p) {
  auto *owner = static_cast<VtPrimitive *>(e->owner);
  if ((p.flags & VO_NPR_FLAG_TRANSFORM) == 0 || !PrimitiveLive(owner)) return nullptr;
  return VoPrimitiveGetTransform(owner);
}

void InverseMapped(VtTransform *t, const float *in, double out[3]) {
  float m[3] = {in[0], in[1], in[2]};
  if (t != nullptr) (void)VoTransformPointInverse(m, in, t);
  vec::ToDoubles(m, out);
}

// ---- Resampling pieces -------------------------------------------------------------

// The distance along the first segment of non-zero length to the next grid
// plane of the dominant axis in the direction of travel.
double Phase(const VtNPREdge *e, const Parameters &p, VtTransform *t) {
  const double s = p.spacing;
  for (uint32_t j = 0; j + 1 < e->count; ++j) {
    double q0[3], q1[3], d[3];
    InverseMapped(t, e->points + size_t{j} * 3, q0);
    InverseMapped(t, e->points + size_t{j + 1} * 3, q1);
    for (int i = 0; i < 3; ++i) d[i] = q1[i] - q0[i];
    const double len = std::sqrt(vec::Dot(d, d));
    if (!(len > 0)) continue;
    const double ax = std::fabs(d[0]), ay = std::fabs(d[1]), az = std::fabs(d[2]);
    int a = ax > ay && ax > az ? 0 : (ay > ax && ay > az ? 1 : 2);
    // A tie leaves the written rule on an axis the segment does not move
    // along; the largest component is taken instead.
    if (d[a] == 0) a = ax >= ay && ax >= az ? 0 : (ay >= az ? 1 : 2);
    const double g = std::fabs(s * d[a] / len);
    const double plane = d[a] > 0 ? (std::floor(q0[a] / g) + 1) * g : (std::ceil(q0[a] / g) - 1) * g;
    double phase = std::fabs(plane - q0[a]) * s / g;
    if (t != nullptr) {
      float v[3], w[3];
      for (int i = 0; i < 3; ++i) v[i] = static_cast<float>(d[i] / len * phase);
      (void)VoTransformVector(w, v, t);
      double wd[3];
      vec::ToDoubles(w, wd);
      phase = std::sqrt(vec::Dot(wd, wd));
    }
    return std::isfinite(phase) ? phase : s;
  }
  return s;
}

float *PlainCopy(const VtNPREdge *e) {
  const size_t bytes = size_t{e->count} * 3 * sizeof(float);
  if (bytes == 0 || bytes > UINT32_MAX) return nullptr;
  auto *out = static_cast<float *>(VoAllocate(static_cast<uint32_t>(bytes)));
  if (out != nullptr) std::copy(e->points, e->points + size_t{e->count} * 3, out);
  return out;
}

// ---- Wobble ----------------------------------------------------------------------------

double NoiseAt(const float *point, VtTransform *t, float offset, float scale) {
  double q[3];
  InverseMapped(t, point, q);
  float at[3];
  for (int i = 0; i < 3; ++i) at[i] = static_cast<float>((q[i] + offset) / scale);
  if (!std::isfinite(at[0]) || !std::isfinite(at[1]) || !std::isfinite(at[2])) return 0;
  return VoNoise3(at);
}

void Jitter(VtNPREdge *e, const Parameters &p) {
  if ((p.flags & VO_NPR_FLAG_PROCESSING) == 0 || p.jitter == 0) return;
  for (size_t i = 0; i < size_t{e->count} * 3; ++i)
    e->points[i] = static_cast<float>(e->points[i] + (VoRandomFloat() - 0.5) * p.jitter);
}

}  // namespace

void EdgeOrient(const Context *c, VtNPREdge *e) {
  if (e->count < 2) return;
  double first[3], last[3], a[2], b[2];
  vec::ToDoubles(e->points, first);
  vec::ToDoubles(e->points + size_t{e->count - 1} * 3, last);
  if (!Normalised(c, first, a) || !Normalised(c, last, b)) return;
  const double dx = b[0] - a[0], dy = b[1] - a[1];
  const bool reverse = std::fabs(dx) <= std::fabs(dy) ? dy < 0 : dx < 0;
  if (!reverse) return;
  for (uint32_t i = 0; i < e->count / 2; ++i)
    for (int k = 0; k < 3; ++k)
      std::swap(e->points[size_t{i} * 3 + k], e->points[size_t{e->count - 1 - i} * 3 + k]);
}

bool EdgeResample(const Context *, const VtNPREdge *e, const Parameters &p, float **points, uint32_t *count) {
  *points = nullptr;
  *count = 0;
  const uint32_t n = e->count;
  const double s = p.spacing;
  if (n < 2 || !(s > 0) || !std::isfinite(s)) {
    *points = PlainCopy(e);
    *count = n;
    return n == 0 || *points != nullptr;
  }
  double length = 0;
  for (uint32_t i = 0; i + 1 < n; ++i)
    length += Distance(e->points + size_t{i} * 3, e->points + size_t{i + 1} * 3);
  const double bound = std::floor(length / s) + n + 1;
  if (!(bound * 3 * sizeof(float) <= UINT32_MAX)) return false;
  const auto capacity = static_cast<size_t>(bound);
  auto *out = static_cast<float *>(VoAllocate(static_cast<uint32_t>(capacity * 3 * sizeof(float))));
  if (out == nullptr) return false;
  size_t k = 0;
  auto put = [&](const double q[3]) {
    if (k == capacity) return false;
    vec::ToFloats(q, out + k * 3);
    ++k;
    return true;
  };
  const double phase = Phase(e, p, TransformOf(e, p));
  double t = phase < 0.001 ? s : phase, lambda = 0;
  bool room = true;
  for (uint32_t i = 0; i + 1 < n && room; ++i) {
    double a[3], b[3], u[3];
    vec::ToDoubles(e->points + size_t{i} * 3, a);
    vec::ToDoubles(e->points + size_t{i + 1} * 3, b);
    room = put(a);
    const double len = Distance(e->points + size_t{i} * 3, e->points + size_t{i + 1} * 3);
    const double before = lambda;
    lambda += len;
    for (int j = 0; j < 3; ++j) u[j] = len > 0 ? (b[j] - a[j]) / len : 0;
    while (room && lambda > t + 0.001) {
      double q[3];
      for (int j = 0; j < 3; ++j) q[j] = a[j] + (t - before) * u[j];
      room = put(q);
      t += s;
    }
    if (lambda + 0.001 > t) t += s;
  }
  double last[3];
  vec::ToDoubles(e->points + size_t{n - 1} * 3, last);
  if (!room || !put(last)) {
    VoDeallocate(out);
    return false;
  }
  *points = out;
  *count = static_cast<uint32_t>(k);
  return true;
}

void EdgeWobble(const Context *c, VtNPREdge *e, const Parameters &p) {
  if ((p.flags & VO_NPR_FLAG_PROCESSING) == 0 || e->count < 2) return;
  VtTransform *t = TransformOf(e, p);
  const double *up = c->frame.up, *dir = c->frame.dir;
  double side[3];
  vec::Cross(dir, up, side);
  if (p.wobble != 0)
    for (uint32_t k = 0; k < e->count; ++k) {
      float *f = e->points + size_t{k} * 3;
      const double n = NoiseAt(f, t, c->noise_offset, p.wobble_scale);
      const double theta = 20 * std::numbers::pi * n;
      double q[3];
      vec::ToDoubles(f, q);
      for (int i = 0; i < 3; ++i)
        q[i] += p.wobble * (n * std::sin(theta) * up[i] + n * std::cos(theta) * side[i]);
      vec::ToFloats(q, f);
    }
  if (p.twist == 0) return;
  double tangent[3] = {0, 0, 0};
  for (uint32_t k = 0; k < e->count; ++k) {
    float *f = e->points + size_t{k} * 3;
    if (k + 1 < e->count)
      for (int i = 0; i < 3; ++i) tangent[i] = double{f[3 + i]} - f[i];
    double across[3], turn[3];
    vec::Cross(tangent, dir, across);
    const double len = std::sqrt(vec::Dot(across, across));
    // A tangent along the viewing direction has no side to twist to.
    if (!(len > 1e-12 * std::sqrt(vec::Dot(tangent, tangent)) * std::sqrt(vec::Dot(dir, dir)))) continue;
    for (int i = 0; i < 3; ++i) across[i] /= len;
    vec::Cross(tangent, across, turn);
    const double n = NoiseAt(f, t, c->noise_offset, p.twist_scale);
    const double theta = 2 * std::numbers::pi * n;
    double q[3];
    vec::ToDoubles(f, q);
    for (int i = 0; i < 3; ++i) q[i] += p.twist * (std::cos(theta) * across[i] + std::sin(theta) * turn[i]);
    vec::ToFloats(q, f);
  }
}

VtStatus ProcessEdges(Context *c) {
  VtStatus st = 0;
  if (c->join != 0 && c->hidden_line_mode != 0) st |= JoinAll(c);
  ForEachNode(c->edges, [&](VtReference *n) { EdgeOrient(c, static_cast<VtNPREdge *>(n->data)); });
  ForEachNode(c->edges, [&](VtReference *n) {
    auto *e = static_cast<VtNPREdge *>(n->data);
    Jitter(e, ParametersOf(c, e->owner));
  });
  VtReference *fresh = nullptr;
  ForEachNode(c->edges, [&](VtReference *n) {
    auto *e = static_cast<VtNPREdge *>(n->data);
    const Parameters p = ParametersOf(c, e->owner);
    Parameters plain = p;
    if ((p.flags & VO_NPR_FLAG_PROCESSING) == 0) plain.spacing = 0;
    float *points = nullptr;
    uint32_t count = 0;
    VtNPREdge *made = nullptr;
    if (EdgeResample(c, e, plain, &points, &count) &&
        (made = EdgeMake(c, points, count, e->owner, e->user)) == nullptr && points != nullptr)
      VoDeallocate(points);
    VtReference *node = made != nullptr ? VoNPREdgeReferenceCreate(made) : nullptr;
    if (node == nullptr) {
      if (made != nullptr) EdgeFree(c, made);
      st |= kNoMemory;  // the edge is dropped
      return;
    }
    fresh = VoNPREdgeReferenceAppend(fresh, node);
  });
  EdgeListFree(c, c->edges, true);
  c->edges = fresh;
  ForEachNode(fresh, [&](VtReference *n) {
    auto *e = static_cast<VtNPREdge *>(n->data);
    EdgeWobble(c, e, ParametersOf(c, e->owner));
  });
  return st;
}

}  // namespace vo::npr
