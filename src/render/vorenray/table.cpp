// The object table over the trace list: each traced polygon becomes a table
// entry, a hit record, a box and its vertices projected onto the plane of
// the two axes other than its normal's dominant one; its object word goes to
// the root's words or, for an unbounded primitive, to the unbounded words.
// Polygons with non-finite planes or positions, or fewer than three
// vertices, are left out; so, without a word, is a polygon whose vertices
// span no plane by the geometry's own test (one collapsed after its plane
// was set keeps that plane, and every hit on it would fall outside it), as
// the scanline renderers draw no pixel of it.
//
// The build runs in steps so that helper threads can share it and still
// write what one thread writes, index for index:
//   1. the calling thread walks the trace list: material and shader resets
//      and each primitive's layout offsets;
//   2. the primitives' polygons in ring order into one list: the rings
//      measured side by side, then each walked again into its place (or,
//      for few primitives or a ring that loops, walked one after another);
//   3. the threads count the list in slices: per polygon its kind and how
//      many vertices it keeps (reading positions only);
//   4. the calling thread runs over the counts in order: the limits, the
//      diagnostics, the sizes, and where each slice starts (prefix sums);
//   5. the threads fill their slices from those starts.
// When the octree a pass kept was built over a table of the same sizes,
// step 5 fills that table's hit records, boxes and projected vertices in
// place, writing only what differs: a repeated scene then takes no fresh
// pages and needs no comparison afterwards (each slice tells whether it
// wrote anything).
// On one thread (a worker count of 0 or 1, or a small scene) steps 2 to 5
// are one walk over the rings in order, each polygon counted and placed as
// it comes.
// The helper threads read the scene model's records and layouts in place
// and write only their own slice of the arrays; they touch no module state
// (nothing allocates, posts or reads a context on them), and they are
// joined before the step that follows. Every allocation is the calling
// thread's, so that the memory count and the allocation-failure hook see
// the serial order.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <utility>

#include "scene/vogeom/face.h"
#include "render/vorenray/vorenray.h"
#include "kernel/vomultit/face.h"
#include "kernel/vosystem/face.h"

namespace vo::ray {

namespace {

// One primitive of the trace list: where its polygons keep what the build
// reads, its ring and the ring's length, and the end of its polygons in the
// build's list (they start at the previous primitive's end).
struct Source {
  VtPrimitive *p;
  int32_t vrefs, plane, world, next;
  uint32_t type;
  void *ring;
  uint32_t length, end;
  double plane_tolerance;  // the geometry's, below which a ring spans no plane
};

// What counting found of one polygon: its kind word (low 3 bits) or the
// marks below, and the vertices whose positions were read (the table's
// vertex limit is checked against them, as it is as each is read).
constexpr uint32_t kCountOut = 0x100;      // not in the table
constexpr uint32_t kCountLeftOut = 0x200;  // and worth a diagnostic
struct PolygonCount {
  uint32_t vertices;
  uint32_t kind;
};

// Where a slice's fill starts in each array.
struct Start {
  uint32_t object, uv, bounded, unbounded;
};

struct Table {
  RayContext *c;
  Source *sources = nullptr;
  uint32_t source_count = 0, source_cap = 0;
  double plane_tolerance = 0;
  void **polygons = nullptr;
  uint32_t polygon_count = 0, polygon_cap = 0;
  PolygonCount *counts = nullptr;
  uint32_t threads = 1;
  uint32_t begin[kMostBuildThreads + 1] = {};
  Start starts[kMostBuildThreads] = {};
  double boxes[kMostBuildThreads][6];
  bool changed[kMostBuildThreads] = {};  // a slice wrote over the kept arrays
  bool kept_arrays = false;              // the arrays are the kept octree's
  uint32_t *bounded = nullptr;
  uint32_t bounded_count = 0;
  // How the walk over the trace list stopped early, if it did: the status,
  // and whether it was a ring that loops (refused once the polygons walked
  // so far are counted, as a polygon at a time would).
  VtStatus stop = 0;
  bool ring_refused = false;
  VtPrimitive *stopped_at = nullptr;
};

// An array of exactly `count` elements (none for 0); false when out of
// memory or beyond VoAllocate's size.
template <class T>
bool Exact(T *&array, size_t count) {
  if (count == 0) return true;
  if (count > UINT32_MAX / sizeof(T)) return false;
  array = static_cast<T *>(VoAllocate(static_cast<uint32_t>(count * sizeof(T))));
  return array != nullptr;
}

// ---- Step 1: the trace list ------------------------------------------------

VtStatus Stop(Table &t, VtPrimitive *p, VtStatus st, bool ring) {
  t.stop = st;
  t.ring_refused = ring;
  t.stopped_at = p;
  return st;
}

// Shaders left unprepared would shade wrongly: a failed reset ends the
// build.
VtStatus ShadersReset(VtPrimitive *p) {
  if (VoModuleCheckStarted(VO_MODULE_SHADER, 0) != 0) return 0;
  VtStatus st = 0;
  if (VtMaterial *m = VoPrimitiveGetMaterial(p)) st |= VoMaterialReset(m);
  if (VtShader *space = VoPrimitiveGetTextureSpace(p)) st |= VoShaderReset(space);
  return st;
}

// Types 1 and 3, with their layouts and rings.
VtStatus SourceAdd(Table &t, VtPrimitive *p) {
  if (!PrimitiveLive(p) || p->data == nullptr) return 0;
  const uint32_t type = PrimitiveType(p);
  if (type != VO_PRIMITIVE_POLYGON && type != VO_PRIMITIVE_MESH) return 0;
  if (VtStatus st = ShadersReset(p)) return Stop(t, p, st, false);
  const VtContents *contents = p->contents;
  const int32_t polys = PropertyOffset(contents, VO_PRIM_POLYS);
  if (polys < 0) return 0;
  if (!Reserve(t.sources, t.source_cap, size_t{t.source_count} + 1))
    return Stop(t, p, VO_STATUS_NO_MEMORY, false);
  t.sources[t.source_count++] = Source{p,
                                       PropertyOffset(contents, VO_POLY_VREFS),
                                       PropertyOffset(contents, VO_POLY_PLANE),
                                       PropertyOffset(contents, VO_VERT_WORLD),
                                       PropertyOffset(contents, VO_POLY_NEXT),
                                       type,
                                       *ElementField<void *>(p->data, polys),
                                       0,
                                       0,
                                       t.plane_tolerance};
  return 0;
}

// ---- A polygon -------------------------------------------------------------

// A walk over a polygon's vertex ring: the box of the positions read, the
// projected positions of the first `room` vertices into `uv`; it stops at a
// vertex without a position or at the first non-finite one.
// While it reads, the walk sums what decides whether the points span a
// plane, as the geometry decides it when it sets a plane from them: the
// Newell vector (twice the vector area) against the tolerance times the sum
// of the squared distances from the centre. The sums are taken about the
// first point: float positions of one scale less a float are exact in
// double, so points in a line, or all at one, give an exactly zero vector.
struct Ring {
  uint32_t n = 0;
  bool finite = true;
  double first[3] = {0, 0, 0}, previous[3] = {0, 0, 0};
  double newell[3] = {0, 0, 0}, sum[3] = {0, 0, 0}, squares = 0;

  void Add(const float *p) {
    double q[3];
    for (int a = 0; a < 3; ++a) {
      if (n == 0) first[a] = p[a];
      q[a] = double{p[a]} - first[a];
      sum[a] += q[a];
      squares += q[a] * q[a];
    }
    newell[0] += previous[1] * q[2] - previous[2] * q[1];
    newell[1] += previous[2] * q[0] - previous[0] * q[2];
    newell[2] += previous[0] * q[1] - previous[1] * q[0];
    std::memcpy(previous, q, sizeof q);
  }
  bool SpansPlane(double tolerance) const {
    const double length = std::sqrt(newell[0] * newell[0] + newell[1] * newell[1] + newell[2] * newell[2]);
    const double size = squares - (sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]) / n;
    return length > 0 && length > tolerance * size;
  }
};
Ring RingRead(const Source &s, void *polygon, uint32_t kind, float *box6, float *uv, uint32_t room) {
  Ring r;
  for (int a = 0; a < 3; ++a) box6[2 * a] = INFINITY, box6[2 * a + 1] = -INFINITY;
  auto *ring = *ElementField<VtReference *>(polygon, s.vrefs);
  if (ring == nullptr || s.world < 0) {
    r.finite = false;
    return r;
  }
  const int u = (kind & 3) == 3 ? 1 : 0, v = (kind & 3) == 1 ? 1 : 2;
  ForEachNodeUntil(ring, [&](VtReference *node) -> VtStatus {
    if (node->data == nullptr) {
      r.finite = false;
      return 1;
    }
    const float *p = ElementField<float>(node->data, s.world);
    for (int a = 0; a < 3; ++a) {
      r.finite = r.finite && std::isfinite(p[a]);
      box6[2 * a] = std::min(box6[2 * a], p[a]);
      box6[2 * a + 1] = std::max(box6[2 * a + 1], p[a]);
    }
    r.Add(p);
    if (r.n < room) {
      uv[2 * r.n] = p[u];
      uv[2 * r.n + 1] = p[v];
    }
    ++r.n;
    return r.finite ? 0 : 1;
  });
  return r;
}

const float *PlaneOf(const Source &s, void *polygon) { return ElementField<float>(polygon, s.plane); }

// Counts a polygon; its box and the projected positions of its first
// `room` vertices go to box6 and uv.
PolygonCount Count(const Source &s, void *polygon, float *box6, float *uv, uint32_t room) {
  if (s.plane < 0 || s.vrefs < 0) return {0, kCountOut};
  const float *plane = PlaneOf(s, polygon);
  if (!(std::isfinite(plane[0]) && std::isfinite(plane[1]) && std::isfinite(plane[2]) &&
        std::isfinite(plane[3])))
    return {0, kCountOut | kCountLeftOut};
  const double a = std::fabs(plane[0]), b = std::fabs(plane[1]), cz = std::fabs(plane[2]);
  const uint32_t kind = (a >= b && a >= cz) ? 3 : (b >= cz ? 2 : 1);
  const Ring r = RingRead(s, polygon, kind, box6, uv, room);
  const uint32_t n = r.finite ? r.n : 0;
  if (n == 0) return {r.n, kCountOut | kCountLeftOut};
  if (n < 3 || !r.SpansPlane(s.plane_tolerance)) return {n, kCountOut};
  return {n, n != 3 ? kind | 4 : kind};
}

// Convexity and turn of the projected polygon: every edge keeps all other
// vertices on one side (polygons of up to 16 vertices; others count as
// concave, which only makes overlap tests less sharp).
uint32_t Shape(const float *uv, uint32_t n) {
  if (n > 16) return 0;
  if (n == 3) {
    // The three tests of a triangle are one determinant with its points
    // turned round, whose sign the predicate gives exactly: one suffices.
    const int side = pred::Orient2DFiltered({uv[0], uv[1]}, {uv[2], uv[3]}, {uv[4], uv[5]});
    return side == 0 ? 0 : kHitConvex | (side < 0 ? kHitClockwise : 0);
  }
  int turn = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const pred::Point2 a{uv[2 * i], uv[2 * i + 1]}, b{uv[2 * ((i + 1) % n)], uv[2 * ((i + 1) % n) + 1]};
    for (uint32_t k = 0; k < n; ++k) {
      if (k == i || k == (i + 1) % n) continue;
      const int side = pred::Orient2DFiltered(a, b, {uv[2 * k], uv[2 * k + 1]});
      if (side == 0 || (turn != 0 && side != turn)) return 0;
      turn = side;
    }
  }
  return kHitConvex | (turn < 0 ? kHitClockwise : 0);
}

PolygonCount Count(const Source &s, void *polygon) {
  float box6[6];
  return Count(s, polygon, box6, nullptr, 0);
}

// The hit record of a table entry whose projected vertices are in place.
ObjectHit HitOf(const RayContext *c, const Source &s, void *polygon, uint32_t kind, uint32_t count,
                uint32_t first) {
  ObjectHit h;
  std::memcpy(h.plane, PlaneOf(s, polygon), sizeof h.plane);
  h.kind = kind;
  h.first = first;
  h.count = count;
  h.flags = (s.p->flags & (kHitTwoSided | kHitNoShadow)) | Shape(c->uv + 2 * first, count);
  return h;
}

// One table entry whose box and projected vertices are in place: its hit
// record and object.
void ObjectRecord(RayContext *c, const Source &s, void *polygon, uint32_t kind, uint32_t count,
                  uint32_t index, uint32_t first) {
  c->hits[index] = HitOf(c, s, polygon, kind, count, first);
  c->objects[index] = VtRayObject{polygon, s.p};
}

// One table entry: its box and projected vertices read, then the rest.
void ObjectFill(RayContext *c, const Source &s, void *polygon, uint32_t kind, uint32_t count, uint32_t index,
                uint32_t first) {
  RingRead(s, polygon, kind, c->boxes + 6 * index, c->uv + 2 * first, count);
  ObjectRecord(c, s, polygon, kind, count, index, first);
}

// Writes `bytes` from `from` over `to` unless `to` holds them already, byte
// for byte; answers whether it wrote.
bool Update(void *to, const void *from, size_t bytes) {
  if (std::memcmp(to, from, bytes) == 0) return false;
  std::memcpy(to, from, bytes);
  return true;
}

// The projected vertices of a polygon over those at uv, each pair written
// where it differs; answers whether any was. (Counting found `count`
// vertices, all with finite positions.)
bool UvUpdate(const Source &s, void *polygon, uint32_t kind, float *uv, uint32_t count) {
  const int u = (kind & 3) == 3 ? 1 : 0, v = (kind & 3) == 1 ? 1 : 2;
  bool changed = false;
  uint32_t n = 0;
  ForEachNodeUntil(*ElementField<VtReference *>(polygon, s.vrefs), [&](VtReference *node) -> VtStatus {
    const float *p = ElementField<float>(node->data, s.world);
    const float at[2] = {p[u], p[v]};
    changed = Update(uv + 2 * n, at, sizeof at) || changed;
    return ++n < count ? 0 : 1;
  });
  return changed;
}

// ObjectFill over the kept octree's arrays: only what differs is written.
// Answers whether anything was.
constexpr uint32_t kKeptVertices = 16;
bool ObjectUpdate(RayContext *c, const Source &s, void *polygon, uint32_t kind, uint32_t count,
                  uint32_t index, uint32_t first) {
  float box6[6], uv[2 * kKeptVertices];
  const bool kept = count <= kKeptVertices;
  RingRead(s, polygon, kind, box6, uv, kept ? count : 0);
  bool changed = kept ? Update(c->uv + 2 * first, uv, 2 * count * sizeof(float))
                      : UvUpdate(s, polygon, kind, c->uv + 2 * first, count);
  changed = Update(c->boxes + 6 * index, box6, sizeof box6) || changed;
  const ObjectHit h = HitOf(c, s, polygon, kind, count, first);
  changed = Update(&c->hits[index], &h, sizeof h) || changed;
  c->objects[index] = VtRayObject{polygon, s.p};
  return changed;
}

// ---- Threads ---------------------------------------------------------------

// A helper thread is worth its start from this many polygons, or this many
// primitives whose rings it walks, on.
constexpr uint32_t kPolygonsPerThread = 8192;
constexpr uint32_t kPrimitivesPerThread = 4;

// The threads for `pieces` shares of work: as many as asked (a test),
// else the work farm's worker count (control 0x520001; a negative count
// asks for the machine's cores) but no more than the pieces, and one on a
// worker thread.
uint32_t ThreadsAsked(RayContext *c, uint32_t asked, uint32_t pieces) {
  if (asked != 0) return std::clamp<uint32_t>(asked, 1, kMostBuildThreads);
  if (OnWorker(c)) return 1;
  return std::clamp<uint32_t>(std::min(multit::WorkerCount(), pieces), 1, kMostBuildThreads);
}

// The polygons of each thread's slice.
void Slice(Table &t) {
  for (uint32_t j = 0; j <= t.threads; ++j)
    t.begin[j] = static_cast<uint32_t>(uint64_t{t.polygon_count} * j / t.threads);
}

// ---- Step 2: the rings -----------------------------------------------------

// Walks a ring in order, put(q) for each polygon until put answers false; a
// walk ends at null or at the first polygon again. Answers whether the ring
// loops back to another polygon than the first, caught by a marker moved to
// the current polygon at every power of two.
template <class F>
bool RingWalk(const Source &s, F &&put) {
  void *marker = s.ring;
  uint64_t steps = 0, next_move = 1;
  for (void *q = s.ring; q != nullptr;) {
    if (!put(q)) return false;
    if (s.type == VO_PRIMITIVE_POLYGON || s.next < 0) return false;
    q = *ElementField<void *>(q, s.next);
    if (q == s.ring) return false;
    if (q == marker) return true;
    if (++steps == next_move) {
      marker = q;
      next_move *= 2;
    }
  }
  return false;
}

// The rings one after another into a growing list; a ring that loops ends
// the list (and the build, once the polygons before it are counted).
VtStatus RingsInOrder(Table &t) {
  t.polygon_count = 0;
  for (uint32_t k = 0; k < t.source_count; ++k) {
    Source &s = t.sources[k];
    bool made = true;
    const bool loops = RingWalk(s, [&](void *q) {
      made = Reserve(t.polygons, t.polygon_cap, size_t{t.polygon_count} + 1);
      if (made) t.polygons[t.polygon_count++] = q;
      return made;
    });
    s.end = t.polygon_count;
    if (!made) return Stop(t, s.p, VO_STATUS_NO_MEMORY, false);
    if (loops) {
      t.source_count = k + 1;
      return Stop(t, s.p, VO_STATUS_BAD_ARGUMENT, true);
    }
  }
  return 0;
}

// The rings' lengths, walked side by side (each thread takes the next
// primitive not yet walked, and counts in a local: neighbouring records
// share cache lines); false when a ring loops or is too long.
bool RingsMeasured(Table &t) {
  std::atomic<uint32_t> next{0};
  std::atomic<bool> refused{false};
  OnHelperThreads(t.threads, [&](uint32_t) {
    for (uint32_t k; (k = next.fetch_add(1, std::memory_order_relaxed)) < t.source_count;) {
      Source &s = t.sources[k];
      uint32_t length = 0;
      if (RingWalk(s, [&length](void *) { return ++length < UINT32_MAX; }) || length == UINT32_MAX)
        refused.store(true, std::memory_order_relaxed);
      s.length = length;
    }
  });
  return !refused.load(std::memory_order_relaxed);
}

// The rings measured, then placed in the list by their lengths and walked
// again side by side, each by one thread, which counts its polygons as it
// places them (step 3 done); kInOrder when the list is to be made in order
// (a ring that loops, a list beyond VoAllocate's size).
enum class Rings { kPlaced, kInOrder, kNoMemory };
Rings RingsPlaced(Table &t) {
  if (!RingsMeasured(t)) return Rings::kInOrder;
  uint64_t total = 0;
  for (uint32_t k = 0; k < t.source_count; ++k) {
    total += t.sources[k].length;
    t.sources[k].end = static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX));
  }
  if (total >= UINT32_MAX / sizeof(void *)) return Rings::kInOrder;
  if (!Exact(t.polygons, total) || !Exact(t.counts, total)) return Rings::kNoMemory;
  t.polygon_cap = t.polygon_count = static_cast<uint32_t>(total);
  Slice(t);
  OnHelperThreads(t.threads, [&t](uint32_t j) {
    const uint32_t from = t.begin[j], to = j + 1 == t.threads ? UINT32_MAX : t.begin[j + 1];
    for (uint32_t k = 0; k < t.source_count; ++k) {
      const Source &s = t.sources[k];
      const uint32_t first = s.end - s.length;
      if (first < from || first >= to) continue;
      void **at = t.polygons + first;
      PolygonCount *count = t.counts + first;
      RingWalk(s, [&](void *q) {
        *at++ = q;
        *count++ = Count(s, q);
        return true;
      });
    }
  });
  return Rings::kPlaced;
}

// ---- Steps 3 and 5: slices ------------------------------------------------

// The primitive whose polygons hold list index i.
uint32_t SourceOf(const Table &t, uint32_t i) {
  const Source *found = std::upper_bound(t.sources, t.sources + t.source_count, i,
                                         [](uint32_t index, const Source &s) { return index < s.end; });
  return static_cast<uint32_t>(found - t.sources);
}

void SliceCount(Table &t, uint32_t slice) {
  uint32_t si = SourceOf(t, t.begin[slice]);
  for (uint32_t i = t.begin[slice]; i < t.begin[slice + 1]; ++i) {
    while (t.sources[si].end <= i) ++si;
    t.counts[i] = Count(t.sources[si], t.polygons[i]);
  }
}

// A placed polygon's word and, when bounded, its box into the root's box;
// `at` moves on past it.
void Index(Table &t, const Source &s, const PolygonCount &k, Start &at, double *box) {
  RayContext *c = t.c;
  const uint32_t word = at.object * 8 + k.kind;
  if (s.p->flags & VO_PRIMITIVE_NOT_IN_OCTREE) {
    c->unbounded[at.unbounded++] = word;
  } else {
    t.bounded[at.bounded++] = word;
    const float *box6 = c->boxes + 6 * at.object;
    for (int a = 0; a < 6; a += 2) {
      box[a] = std::min<double>(box[a], box6[a]);
      box[a + 1] = std::max<double>(box[a + 1], box6[a + 1]);
    }
  }
  at.uv += k.vertices;
  ++at.object;
}

// The slice's box and flag are gathered in locals: the slices' records
// share cache lines, which a write per polygon would pass to and fro.
void SliceFill(Table &t, uint32_t slice) {
  RayContext *c = t.c;
  Start at = t.starts[slice];
  double box[6];
  std::memcpy(box, t.boxes[slice], sizeof box);
  bool changed = false;
  uint32_t si = SourceOf(t, t.begin[slice]);
  for (uint32_t i = t.begin[slice]; i < t.begin[slice + 1]; ++i) {
    while (t.sources[si].end <= i) ++si;
    const PolygonCount k = t.counts[i];
    if (k.kind & kCountOut) continue;
    const Source &s = t.sources[si];
    if (t.kept_arrays)
      changed = ObjectUpdate(c, s, t.polygons[i], k.kind, k.vertices, at.object, at.uv) || changed;
    else
      ObjectFill(c, s, t.polygons[i], k.kind, k.vertices, at.object, at.uv);
    Index(t, s, k, at, box);
  }
  std::memcpy(t.boxes[slice], box, sizeof box);
  t.changed[slice] = changed;
}

// ---- Step 4: the counts in order -------------------------------------------

void LeftOut(void *polygon) {
  Post(VO_CLASS_DEBUG | VO_COND_BAD_ARGUMENT, messages::kRayObjectLeftOut, VO_MODULE_RAYTRACER,
       static_cast<const void *>(polygon));
}

VtStatus RingRefused(VtPrimitive *p) {
  Post(VO_STATUS_BAD_ARGUMENT, messages::kRayRingRefused, VO_MODULE_RAYTRACER, static_cast<const void *>(p));
  return VO_STATUS_BAD_ARGUMENT;
}

// The table's limits on a counted polygon, objects first; 0 within them.
VtStatus Limits(const Source &s, const PolygonCount &k, const Start &at) {
  if (at.object >= kMaxObjects - 1) return RingRefused(s.p);
  if (k.vertices != 0 && at.uv + uint64_t{k.vertices} >= kMaxObjects) return VO_STATUS_NO_MEMORY;
  return 0;
}

// How the walk over the trace list stopped, once the polygons before are
// in.
VtStatus Stopped(const Table &t) {
  if (t.stop == 0) return 0;
  return t.ring_refused ? RingRefused(t.stopped_at) : t.stop;
}

void Sizes(Table &t, const Start &at) {
  t.c->object_count = at.object;
  t.c->uv_count = at.uv;
  t.c->unbounded_count = at.unbounded;
  t.bounded_count = at.bounded;
}

// The hit records, boxes and projected vertices: the kept octree's when its
// table has these sizes (they are then this table's, filled in place),
// else new ones.
bool ArraysTake(Table &t, const Start &at) {
  RayContext *c = t.c;
  RayContext::Kept &k = c->kept;
  if (at.object != 0 && k.hits != nullptr && k.object_count == at.object && k.uv_count == at.uv) {
    c->hits = std::exchange(k.hits, nullptr);
    c->boxes = std::exchange(k.boxes, nullptr);
    c->uv = std::exchange(k.uv, nullptr);
    t.kept_arrays = true;
    return true;
  }
  return Exact(c->hits, at.object) && Exact(c->boxes, size_t{at.object} * 6) &&
         Exact(c->uv, size_t{at.uv} * 2);
}

// The table's sizes and each slice's starts, with the limits and
// diagnostics in the order a polygon at a time meets them.
VtStatus Totals(Table &t) {
  RayContext *c = t.c;
  Start at{};
  uint32_t slice = 0, si = 0;
  for (uint32_t i = 0; i < t.polygon_count; ++i) {
    while (t.sources[si].end <= i) ++si;
    while (slice < t.threads && t.begin[slice] == i) t.starts[slice++] = at;
    const PolygonCount k = t.counts[i];
    if (VtStatus st = Limits(t.sources[si], k, at)) return st;
    if (k.kind & kCountLeftOut) LeftOut(t.polygons[i]);
    if (k.kind & kCountOut) continue;
    ((t.sources[si].p->flags & VO_PRIMITIVE_NOT_IN_OCTREE) != 0 ? at.unbounded : at.bounded) += 1;
    at.uv += k.vertices;
    ++at.object;
  }
  while (slice < t.threads) t.starts[slice++] = at;
  if (VtStatus st = Stopped(t)) return st;
  Sizes(t, at);
  const bool made = Exact(c->objects, at.object) && Exact(c->unbounded, at.unbounded) &&
                    Exact(t.bounded, at.bounded) && ArraysTake(t, at);
  return made ? 0 : VO_STATUS_NO_MEMORY;
}

// The capacities of the arrays a build on one thread grows.
struct Capacities {
  uint32_t objects = 0, hits = 0, boxes = 0, uv = 0, unbounded = 0, bounded = 0;
};

// One polygon counted and placed at once, the arrays grown to hold it; a
// polygon of up to kKeptVertices vertices is read once.
VtStatus Take(Table &t, Capacities &cap, const Source &s, void *polygon, Start &at) {
  RayContext *c = t.c;
  float read[6 + 2 * kKeptVertices];
  const PolygonCount k = Count(s, polygon, read, read + 6, kKeptVertices);
  if (VtStatus st = Limits(s, k, at)) return st;
  if (k.kind & kCountLeftOut) LeftOut(polygon);
  if (k.kind & kCountOut) return 0;
  const size_t objects = size_t{at.object} + 1;
  const bool grown = Reserve(c->objects, cap.objects, objects) && Reserve(c->hits, cap.hits, objects) &&
                     Reserve(c->boxes, cap.boxes, objects * 6) &&
                     Reserve(c->uv, cap.uv, (size_t{at.uv} + k.vertices) * 2) &&
                     ((s.p->flags & VO_PRIMITIVE_NOT_IN_OCTREE) != 0
                          ? Reserve(c->unbounded, cap.unbounded, size_t{at.unbounded} + 1)
                          : Reserve(t.bounded, cap.bounded, size_t{at.bounded} + 1));
  if (!grown) return VO_STATUS_NO_MEMORY;
  if (k.vertices <= kKeptVertices) {
    std::memcpy(c->boxes + 6 * at.object, read, 6 * sizeof(float));
    std::memcpy(c->uv + 2 * at.uv, read + 6, 2 * k.vertices * sizeof(float));
    ObjectRecord(c, s, polygon, k.kind, k.vertices, at.object, at.uv);
  } else {
    ObjectFill(c, s, polygon, k.kind, k.vertices, at.object, at.uv);
  }
  Index(t, s, k, at, t.boxes[0]);
  return 0;
}

// On one thread: the rings walked in order and each polygon counted and
// placed as it comes, so that no list is made and each polygon's vertices
// are read while they are at hand.
VtStatus InOrder(Table &t) {
  Capacities cap;
  Start at{};
  for (uint32_t k = 0; k < t.source_count; ++k) {
    const Source &s = t.sources[k];
    VtStatus st = 0;
    const bool loops = RingWalk(s, [&](void *q) { return (st = Take(t, cap, s, q, at)) == 0; });
    if (st != 0) return st;
    if (loops) return RingRefused(s.p);
  }
  if (VtStatus st = Stopped(t)) return st;
  Sizes(t, at);
  return 0;
}

// The geometry's plane tolerance (its default when no geometry module
// answers for it).
double PlaneTolerance() {
  VtTypedValue v{};
  if (VoModuleCheckStarted(VO_MODULE_GEOMETRY, 0) != 0) return 1e-15;
  return VoControlGet(VO_CONTROL_GEOMETRY_PLANE_TOLERANCE, &v) == 0 && v.type == VtDouble ? v.value.d : 1e-15;
}

VtStatus Build(Table &t, uint32_t threads) {
  t.plane_tolerance = PlaneTolerance();
  (void)ForEachNodeUntil(static_cast<VtReference *>(t.c->share.trace), [&](VtReference *node) {
    return SourceAdd(t, static_cast<VtPrimitive *>(node->data));
  });
  if (t.stop == VO_STATUS_NO_MEMORY) return t.stop;
  for (double *box : t.boxes)
    for (int a = 0; a < 6; ++a) box[a] = a % 2 == 0 ? INFINITY : -INFINITY;
  t.threads = ThreadsAsked(t.c, threads, UINT32_MAX);
  if (t.threads == 1) return InOrder(t);
  // The rings side by side when there are primitives enough to share.
  t.threads = ThreadsAsked(t.c, threads, t.source_count / kPrimitivesPerThread);
  const Rings rings = t.threads > 1 ? RingsPlaced(t) : Rings::kInOrder;
  if (rings == Rings::kNoMemory || (rings == Rings::kInOrder && RingsInOrder(t) == VO_STATUS_NO_MEMORY))
    return VO_STATUS_NO_MEMORY;
  t.threads = ThreadsAsked(t.c, threads, t.polygon_count / kPolygonsPerThread);
  if (t.threads == 1) return InOrder(t);
  Slice(t);
  if (rings != Rings::kPlaced) {
    if (!Exact(t.counts, t.polygon_count)) return VO_STATUS_NO_MEMORY;
    OnHelperThreads(t.threads, [&t](uint32_t j) { SliceCount(t, j); });
  }
  if (VtStatus st = Totals(t)) return st;
  OnHelperThreads(t.threads, [&t](uint32_t j) { SliceFill(t, j); });
  return 0;
}

}  // namespace

VtStatus TableBuild(RayContext *c, uint32_t threads, TableMade *made) {
  Table t;
  t.c = c;
  c->split_threads = ThreadsAsked(c, threads, UINT32_MAX);
  const VtStatus st = Build(t, threads);
  VoDeallocate(t.sources);
  VoDeallocate(t.polygons);
  VoDeallocate(t.counts);
  made->bounded = t.bounded;
  made->bounded_count = t.bounded_count;
  made->kept_arrays = st == 0 && t.kept_arrays;
  made->changed = false;
  for (uint32_t j = 0; j < t.threads; ++j) made->changed = made->changed || t.changed[j];
  for (int a = 0; a < 6; ++a) made->box[a] = a % 2 == 0 ? INFINITY : -INFINITY;
  for (uint32_t j = 0; st == 0 && j < t.threads; ++j)
    for (int a = 0; a < 6; a += 2) {
      made->box[a] = std::min(made->box[a], t.boxes[j][a]);
      made->box[a + 1] = std::max(made->box[a + 1], t.boxes[j][a + 1]);
    }
  return st;
}

}  // namespace vo::ray
