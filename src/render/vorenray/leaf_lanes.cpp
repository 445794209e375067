// The leaf test several triangles at a time: the same hits, bit for bit, as
// the one-at-a-time test of walk.cpp.
//
// A run of object words goes in chunks. Gathering keeps the run's order:
// stamps, the excluded polygon and the test count exactly as the one-at-a-
// time test treats them. The lanes then work out, for every object of the
// chunk, the plane's facing, the hit distance and the hit point, and for
// triangles their containment, with the very operations of the scalar test
// in the same order (double precision, no fused multiply-add): the values are
// the scalar test's own. The filters, the hit windows and the tie-break then
// run over the chunk in order, so the nearest hit and every tie are decided
// as one object after another would decide them.
//
// Containment in the lanes: the tolerance rule as computed by the scalar
// test, and the orientation of each edge the hit line crosses from the
// double-precision filter of the robust predicate. Where that filter cannot
// decide a sign (rounding, tiny differences, a degenerate edge), and for
// polygons of more than three vertices, the one-at-a-time containment test
// decides instead.
//
// AVX2 is used only when the processor has it (chosen at run time); SSE2 is
// the baseline of x86-64, whose two lanes the tests hold to the same hits.

#include <cstring>

#include "render/vorenray/vorenray.h"

// The helpers that take or give vectors are always inlined into the lane
// procedures, so no vector crosses a call whose convention AVX would change.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace vo::ray {

namespace {

constexpr double kParallel = 1e-6;  // as the one-at-a-time test's
constexpr uint32_t kChunk = 8;      // a multiple of every lane count

// One chunk of gathered objects, one row per quantity (structure of arrays).
struct Chunk {
  alignas(32) double plane[4][kChunk];
  alignas(32) double corner[6][kChunk];  // a triangle's projected vertices u0 v0 u1 v1 u2 v2
  alignas(32) int64_t u_is_y[kChunk];    // masks: the projection's u axis is y, its v axis y
  alignas(32) int64_t v_is_y[kChunk];
  alignas(32) int64_t refuse_front[kChunk];  // masks: the filter refuses a positive facing, a negative
  alignas(32) int64_t refuse_back[kChunk];
  // Worked out by the lanes.
  alignas(32) double facing[kChunk];
  alignas(32) double distance[kChunk];
  alignas(32) double point[3][kChunk];
  alignas(32) int64_t inside[kChunk];  // masks: decided inside, undecided
  alignas(32) int64_t undecided[kChunk];
  uint32_t index[kChunk];
  uint32_t word[kChunk];
  bool triangle[kChunk];
  uint32_t count;
};

// The ray, the nearest hit so far and the run's words, as the one-at-a-time
// test holds them in locals.
struct Run {
  double origin[3], direction[3];
  double near_distance, far_distance, facing, e, tolerance;
  const ObjectHit *hits;
  const float *uv;
  uint32_t hit_word;
  double hit_point[3];
  bool accepted;
  bool trace;
  LaneCounts counts;
};

void Gather(Chunk &k, const Run &r, uint32_t word) {
  const uint32_t n = k.count++, index = word >> 3;
  const ObjectHit &h = r.hits[index];
  k.index[n] = index;
  k.word[n] = word;
  for (int a = 0; a < 4; ++a) k.plane[a][n] = h.plane[a];
  k.u_is_y[n] = (h.kind & 3) == 3 ? -1 : 0;
  k.v_is_y[n] = (h.kind & 3) == 1 ? -1 : 0;
  const bool one_sided = (h.flags & kHitTwoSided) == 0, no_shadow = !r.trace && (h.flags & kHitNoShadow);
  k.refuse_front[n] = (r.trace && one_sided) || no_shadow ? -1 : 0;
  k.refuse_back[n] = (!r.trace && one_sided) || no_shadow ? -1 : 0;
  k.triangle[n] = h.count == 3;
  const float *uv = r.uv + 2 * h.first;
  for (int a = 0; a < 6; ++a) k.corner[a][n] = k.triangle[n] ? uv[a] : 0.0;
}

// Fills the lanes past the chunk's objects with a harmless copy of its
// first, so that every lane computes on finite values.
void Pad(Chunk &k, uint32_t lanes) {
  for (uint32_t n = k.count; n % lanes != 0; ++n) {
    for (int a = 0; a < 4; ++a) k.plane[a][n] = k.plane[a][0];
    for (int a = 0; a < 6; ++a) k.corner[a][n] = k.corner[a][0];
    k.u_is_y[n] = k.u_is_y[0];
    k.v_is_y[n] = k.v_is_y[0];
    k.refuse_front[n] = k.refuse_front[0];
    k.refuse_back[n] = k.refuse_back[0];
  }
}

template <class D>
[[gnu::always_inline]] inline D Load(const void *p) {
  D v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class D>
[[gnu::always_inline]] inline D Broadcast(double x) {
  D v;
  for (size_t l = 0; l < sizeof(D) / sizeof(double); ++l) v[l] = x;
  return v;
}

template <class D, class M>
[[gnu::always_inline]] inline D Blend(M m, D yes, D no) {
  return D(((M)yes & m) | ((M)no & ~m));
}

template <class D, class M = decltype(D{} < D{})>
[[gnu::always_inline]] inline D Magnitude(D x) {
  return D((M)x & ~(M)Broadcast<D>(-0.0));
}

// A mask of the lanes whose value is nonzero and smaller in magnitude than
// the orientation filter leaves to the exact evaluation.
template <class D, class M = decltype(D{} < D{})>
[[gnu::always_inline]] inline M Tiny(D x) {
  return (Magnitude(x) < Broadcast<D>(0x1p-140)) & (x != Broadcast<D>(0.0));
}

template <class M>
[[gnu::always_inline]] inline bool Every(M m) {
  for (size_t l = 0; l < sizeof(M) / sizeof(m[0]); ++l)
    if (m[l] == 0) return false;
  return true;
}

// The lanes' work on the chunk's objects from `at`: facing, distance and
// point as WordsTestScalar computes them, and containment as PolygonInside
// decides it, wherever the orientation filter decides every crossing edge.
// Point and containment are left unset for lanes Decide refuses before.
template <class D>
[[gnu::always_inline]] inline void LanesWork(Chunk &k, uint32_t at, const Run &r) {
  using M = decltype(D{} < D{});
  const D n0 = Load<D>(k.plane[0] + at), n1 = Load<D>(k.plane[1] + at), n2 = Load<D>(k.plane[2] + at),
          n3 = Load<D>(k.plane[3] + at);
  const D o0 = Broadcast<D>(r.origin[0]), o1 = Broadcast<D>(r.origin[1]), o2 = Broadcast<D>(r.origin[2]);
  const D d0 = Broadcast<D>(r.direction[0]), d1 = Broadcast<D>(r.direction[1]),
          d2 = Broadcast<D>(r.direction[2]);
  const D f = d0 * n0 + d1 * n1 + d2 * n2;
  const D t = -(o0 * n0 + o1 * n1 + o2 * n2 + n3) / f;
  D p0 = o0 + t * d0, p1 = o1 + t * d1, p2 = o2 + t * d2;
  const D s = p0 * n0 + p1 * n1 + p2 * n2 + n3;
  p0 -= n0 * s;
  p1 -= n1 * s;
  p2 -= n2 * s;
  std::memcpy(k.facing + at, &f, sizeof f);
  std::memcpy(k.distance + at, &t, sizeof t);
  // Lanes that the filter, the parallel test or the window refuse before
  // containment are refused again by Decide (far only falls): when all
  // are, nothing more is needed of them.
  const D zero = Broadcast<D>(0.0), e = Broadcast<D>(r.e);
  const M refused = (Load<M>(k.refuse_front + at) & (f > zero)) | (Load<M>(k.refuse_back + at) & (f < zero)) |
                    (Magnitude(f) <= Broadcast<D>(kParallel)) | (t - Broadcast<D>(r.near_distance) < e) |
                    (t - Broadcast<D>(r.far_distance) > e);
  if (Every(refused)) return;
  std::memcpy(k.point[0] + at, &p0, sizeof p0);
  std::memcpy(k.point[1] + at, &p1, sizeof p1);
  std::memcpy(k.point[2] + at, &p2, sizeof p2);

  const D pu = Blend(Load<M>(k.u_is_y + at), p1, p0), pv = Blend(Load<M>(k.v_is_y + at), p1, p2);
  const D tolerance = Broadcast<D>(r.tolerance);
  const D error = Broadcast<D>(5 * 0x1p-53);
  M near = zero != zero, undecided = near, parity = near;
  for (int j = 0; j < 3; ++j) {
    const int i = (j + 2) % 3;  // the edge from vertex i to vertex j
    const D ax = Load<D>(k.corner[2 * i] + at), ay = Load<D>(k.corner[2 * i + 1] + at);
    const D bx = Load<D>(k.corner[2 * j] + at), by = Load<D>(k.corner[2 * j + 1] + at);
    // The tolerance rule.
    const D dx = bx - ax, dy = by - ay, wx = pu - ax, wy = pv - ay;
    const D length2 = dx * dx + dy * dy, along = wx * dx + wy * dy;
    const D ux = pu - bx, uy = pv - by, cross = wx * dy - wy * dx;
    const D distance2 = Blend(along <= zero, (wx * wx + wy * wy) * length2,
                              Blend(along >= length2, (ux * ux + uy * uy) * length2, cross * cross));
    near |= (length2 > zero) & (distance2 <= tolerance * length2 * length2);
    // The crossing count, with the orientation filter's sign.
    const M crossing = (ay > pv) ^ (by > pv);
    const D q0 = ax - pu, q1 = ay - pv, q2 = bx - pu, q3 = by - pv;
    const M small = Tiny(q0) | Tiny(q1) | Tiny(q2) | Tiny(q3);
    const D left = q0 * q3, right = q1 * q2;
    const D value = left - right, bound = error * (Magnitude(left) + Magnitude(right));
    const M positive = (value > bound) & ~small, negative = (value < -bound) & ~small;
    undecided |= crossing & ~(positive | negative);
    parity ^= crossing & ~(positive ^ (by > ay));
  }
  const M inside = near | (parity & ~undecided);
  undecided &= ~near;
  std::memcpy(k.inside + at, &inside, sizeof inside);
  std::memcpy(k.undecided + at, &undecided, sizeof undecided);
}

using Double2 = double __attribute__((vector_size(16)));
using Double4 = double __attribute__((vector_size(32)));

void LanesSse2(Chunk &k, const Run &r) {
  Pad(k, 2);
  for (uint32_t at = 0; at < k.count; at += 2) LanesWork<Double2>(k, at, r);
}

__attribute__((target("avx2"))) void LanesAvx2(Chunk &k, const Run &r) {
  Pad(k, 4);
  for (uint32_t at = 0; at < k.count; at += 4) LanesWork<Double4>(k, at, r);
}

// The filters, windows and tie-break of WordsTestScalar over the chunk, in
// its order.
void Decide(const Chunk &k, Run &r) {
  for (uint32_t n = 0; n < k.count; ++n) {
    const ObjectHit &h = r.hits[k.index[n]];
    const double f = k.facing[n];
    if (r.trace) {
      if ((h.flags & kHitTwoSided) == 0 && f > 0) continue;
    } else if ((h.flags & kHitNoShadow) || ((h.flags & kHitTwoSided) == 0 && f < 0)) {
      continue;
    }
    if (__builtin_fabs(f) <= kParallel) continue;
    const double t = k.distance[n], e = r.e, far_distance = r.far_distance;
    if (t - r.near_distance < e || t - far_distance > e) continue;
    if (t > far_distance - e &&
        (f > r.facing ||
         (f == r.facing && (t > far_distance || (t == far_distance && k.index[n] > (r.hit_word >> 3))))))
      continue;
    const double p[3] = {k.point[0][n], k.point[1][n], k.point[2][n]};
    bool inside;
    if (k.triangle[n] && k.undecided[n] == 0) {
      inside = k.inside[n] != 0;
      ++r.counts.lanes;
    } else {
      inside = PolygonInside(h, r.uv + 2 * h.first, r.tolerance, p);
      ++(k.triangle[n] ? r.counts.undecided : r.counts.polygons);
    }
    if (!inside) continue;
    r.far_distance = t;
    r.facing = f;
    r.hit_word = k.word[n];
    for (int a = 0; a < 3; ++a) r.hit_point[a] = p[a];
    r.accepted = true;
  }
}

void ChunkTest(Chunk &k, Run &r, LeafPath path) {
  if (path == LeafPath::kAvx2)
    LanesAvx2(k, r);
  else
    LanesSse2(k, r);
  Decide(k, r);
  k.count = 0;
}

}  // namespace

// Two lanes (SSE2) measured slower than one object at a time on the
// 10^6-triangle sphere field: the gathering costs what the lanes save.
LeafPath LeafPathFastest() { return __builtin_cpu_supports("avx2") ? LeafPath::kAvx2 : LeafPath::kScalar; }

void WordsTestLanes(Query &q, const uint32_t *words, uint32_t count, LeafPath path, LaneCounts *counts) {
  if (path == LeafPath::kScalar) return WordsTestScalar(q, words, count);
  RayContext *c = q.ctx;
  uint16_t *const stamps = c->stamps;
  const uint16_t stamp = c->stamp;
  const VtRayObject *const objects = c->objects;
  const void *const excluded = q.excluded;
  Run r{};
  for (int a = 0; a < 3; ++a) {
    r.origin[a] = q.origin[a];
    r.direction[a] = q.direction[a];
  }
  r.near_distance = q.near_distance;
  r.far_distance = q.far_distance;
  r.facing = c->facing;
  r.e = c->min_distance;
  r.tolerance = c->tolerance;
  r.hits = c->hits;
  r.uv = c->uv;
  r.hit_word = c->hit_word;
  r.trace = q.filter == Filter::kTrace;
  // The records of a leaf lie apart in the table, and each one's vertices
  // apart from it: asked for all at once, so that their fetches overlap.
  for (uint32_t k = 0; k < count; ++k) {
    __builtin_prefetch(&stamps[words[k] >> 3]);
    __builtin_prefetch(&r.hits[words[k] >> 3]);
  }
  for (uint32_t k = 0; k < count; ++k) __builtin_prefetch(r.uv + 2 * r.hits[words[k] >> 3].first);
  Chunk chunk;
  chunk.count = 0;
  uint32_t tests = 0;
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t index = words[k] >> 3;
    if (stamps[index] == stamp) continue;  // tested already by this walk
    stamps[index] = stamp;
    if (excluded != nullptr && objects[index].polygon == excluded) continue;
    ++tests;
    Gather(chunk, r, words[k]);
    if (chunk.count == kChunk) ChunkTest(chunk, r, path);
  }
  if (chunk.count != 0) ChunkTest(chunk, r, path);
  c->tests += tests;
  if (counts != nullptr) {
    counts->lanes += r.counts.lanes;
    counts->undecided += r.counts.undecided;
    counts->polygons += r.counts.polygons;
  }
  if (!r.accepted) return;
  q.far_distance = r.far_distance;
  c->facing = r.facing;
  c->hit_distance = r.far_distance;
  c->hit_word = r.hit_word;
  for (int a = 0; a < 3; ++a) c->hit_point[a] = static_cast<float>(r.hit_point[a]);
}

}  // namespace vo::ray
