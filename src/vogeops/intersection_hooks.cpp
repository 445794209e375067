// The intersection of polygons as the module holds it: the crossing and
// overlap pools made at start and disposed at terminate, execute 0x160002
// and VoPointLineSide.
//
// The run gathers the scene's plain primitives (types 1 and 3) in scene
// order, each once, at its first occurrence: a list primitive is walked
// with its path, so a list that holds itself is refused before anything
// is touched. Cutting the gathered primitives along the segments of
// LoopSegments needs the loop machinery, which this build does not hold:
// a run with something to cut answers 2, as for a missing operation, and
// changes nothing.

#include <cmath>

#include "vogeom/edges.h"
#include "vogeom/list_walk.h"
#include "vogeom/polygon_measures.h"
#include "vogeom/predicates.h"
#include "vogeops/intersection.h"
#include "vosystem/reference.h"

namespace vo::geops {

namespace {

constexpr VtStatus kNothingToCut = 16;

// The primitives of one run, in scene order, each once.
struct Gathered {
  WorkArray<VtPrimitive *> primitives;
  size_t count = 0;
  PointerIndex<uint32_t> seen;
};

VtStatus Gather(VtPrimitive *p, ListPath &path, Gathered *g) {
  if (!PrimitiveLive(p)) return 0;
  const uint32_t type = PrimitiveType(p);
  if (type == VO_PRIMITIVE_LIST) {
    if (VtStatus st = path.Enter(p)) return st;
    const VtStatus st = ForEachNodeUntil(ListMembers(p), [&](VtReference *node) {
      return Gather(static_cast<VtPrimitive *>(node->data), path, g);
    });
    path.Leave();
    return st;
  }
  if (type != VO_PRIMITIVE_POLYGON && type != VO_PRIMITIVE_MESH) return 0;
  if (g->seen.Find(p) != nullptr) {
    Post(VO_CLASS_WARNING, messages::kIntersectTakenOnce, VO_MODULE_GEOMETRY_OPERATORS, static_cast<const void *>(p));
    return 0;
  }
  if (!g->primitives.Fit(g->count + 1) || g->seen.Insert(p, 0) == nullptr) {
    Post(VO_STATUS_ERROR_NO_MEMORY, kMessageNoMemory, VO_MODULE_GEOMETRY_OPERATORS);
    return VO_STATUS_ERROR_NO_MEMORY;
  }
  g->primitives[g->count++] = p;
  return 0;
}

VtStatus PoolMake(VtPool **pool, uint32_t tag, uint32_t size) {
  if (*pool != nullptr) return VO_STATUS_ERROR_BAD_ARGUMENT;
  *pool = VoPoolCreate(tag, size);
  if (*pool != nullptr) return 0;
  Post(VO_STATUS_ERROR_NO_MEMORY, kMessageNoMemory, VO_MODULE_GEOMETRY_OPERATORS);
  return VO_STATUS_ERROR_NO_MEMORY;
}

}  // namespace

VtStatus IntersectionStart(GeopsContext *c) {
  VtStatus st = PoolMake(&c->crossing_pool, kCrossingPoolTag, sizeof(Crossing));
  if (st == 0) st = PoolMake(&c->overlap_pool, kOverlapPoolTag, sizeof(Overlap));
  if (st == 0) c->intersection_started = 1;
  return st;
}

VtStatus IntersectionStop(GeopsContext *c) {
  c->intersection_started = 0;
  return PoolDisposeClear(&c->crossing_pool) | PoolDisposeClear(&c->overlap_pool);
}

VtStatus IntersectAll() {
  GeopsContext *c = Context();
  if (c == nullptr || !c->intersection_started) return VO_STATUS_UNAVAILABLE;
  VtReference *scene = VoPrimitiveListGet();
  if (scene == nullptr) return kNothingToCut;
  Gathered g;
  ListPath path;
  const VtStatus st = ForEachNodeUntil(scene, [&](VtReference *node) {
    return Gather(static_cast<VtPrimitive *>(node->data), path, &g);
  });
  if (st != 0) return st;
  if (g.count == 0 || (g.count == 1 && !c->self)) {
    Post(VO_CLASS_WARNING, kMessageNothingToCut, VO_MODULE_GEOMETRY_OPERATORS);
    return kNothingToCut;
  }
  return VO_STATUS_UNAVAILABLE;
}

}  // namespace vo::geops

namespace vo {

int32_t VoPointLineSide(double x0, double y0, double x1, double y1, double x2, double y2, double eps) {
  if (eps == 0) return pred::Orient2D({x1, y1}, {x2, y2}, {x0, y0});
  const double s = (x0 - x1) * (y1 - y2) - (y0 - y1) * (x1 - x2);
  return s < -eps ? -1 : s > eps ? 1 : 0;
}

}  // namespace vo
