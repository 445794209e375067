// The intersection of polygons as the module holds it: the crossing and
// overlap pools made at start and disposed at terminate, execute 0x160002
// and VoPointLineSide.
//
// The run gathers the scene's plain primitives (types 1 and 3) in scene
// order, each once, at its first occurrence, with the transforms of its
// path: a list primitive is walked with its path, so a list that holds
// itself is refused before anything is touched. Pairs of primitives whose
// world boxes meet are walked polygon against polygon (a primitive against
// itself with control 0x160002, walk.cpp), the interrupt polled every
// control-0x160001 pairs; every exit rebuilds the edges and counts of the
// primitives that were cut and returns the status that ended the walk.
// Nothing is left on a primitive between runs: no working flags, no
// loops, positions and planes never moved.

#include "scene/vogeom/face.h"
#include "scene/vogeops/intersection.h"
#include "kernel/vosystem/face.h"

namespace vo::geops {

namespace {

constexpr VtStatus kNothingToCut = 16;

// The primitives of one run, in scene order, each once, with the
// transforms of their paths (flat; each primitive's run starts at
// transform_first).
struct Gathered {
  WorkArray<CutPrimitive> primitives;
  WorkArray<uint32_t> transform_first;
  WorkArray<VtTransform *> transforms;
  size_t count = 0, transform_count = 0;
  PointerIndex<uint32_t> seen;
  VtTransform *path[kListDepthMax];  // the enclosing lists' transforms, outermost first
  uint32_t path_count = 0;

  // Points every primitive at its transforms once the array stops moving.
  void Settle() {
    for (size_t i = 0; i < count; ++i) primitives[i].transforms = transforms.data() + transform_first[i];
  }
};

VtStatus NoMemory() {
  Post(VO_STATUS_ERROR_NO_MEMORY, kMessageNoMemory, VO_MODULE_GEOMETRY_OPERATORS);
  return VO_STATUS_ERROR_NO_MEMORY;
}

VtTransform *OwnTransform(const VtPrimitive *p) {
  return (p->flags & VO_PRIMITIVE_HAS_TRANSFORM) ? HeldPointer<VtTransform>(p, VO_PRIM_TRANSFORM) : nullptr;
}

VtStatus Gather(VtPrimitive *p, ListPath &path, Gathered *g);

VtStatus GatherList(VtPrimitive *list, ListPath &path, Gathered *g) {
  if (VtStatus st = path.Enter(list)) return st;
  VtTransform *t = OwnTransform(list);
  if (t != nullptr) g->path[g->path_count++] = t;
  const VtStatus st = ForEachNodeUntil(ListMembers(list), [&](VtReference *node) {
    return Gather(static_cast<VtPrimitive *>(node->data), path, g);
  });
  if (t != nullptr) --g->path_count;
  path.Leave();
  return st;
}

VtStatus Gather(VtPrimitive *p, ListPath &path, Gathered *g) {
  if (!PrimitiveLive(p)) return 0;
  const uint32_t type = PrimitiveType(p);
  if (type == VO_PRIMITIVE_LIST) return GatherList(p, path, g);
  if (type != VO_PRIMITIVE_POLYGON && type != VO_PRIMITIVE_MESH) return 0;
  if (g->seen.Find(p) != nullptr) {
    Post(VO_CLASS_WARNING, messages::kIntersectTakenOnce, VO_MODULE_GEOMETRY_OPERATORS,
         static_cast<const void *>(p));
    return 0;
  }
  VtTransform *own = OwnTransform(p);
  const size_t chain = g->path_count + (own != nullptr ? 1 : 0);
  if (!g->primitives.Fit(g->count + 1) || !g->transform_first.Fit(g->count + 1) ||
      !g->transforms.Fit(g->transform_count + chain + 1) || g->seen.Insert(p, 0) == nullptr)
    return NoMemory();
  CutPrimitive &c = g->primitives[g->count];
  c = CutPrimitive{};
  c.p = p;
  c.transform_count = static_cast<uint32_t>(chain);
  g->transform_first[g->count++] = static_cast<uint32_t>(g->transform_count);
  if (own != nullptr) g->transforms[g->transform_count++] = own;
  for (uint32_t i = g->path_count; i > 0; --i) g->transforms[g->transform_count++] = g->path[i - 1];
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
  VtStatus st = ForEachNodeUntil(
      scene, [&](VtReference *node) { return Gather(static_cast<VtPrimitive *>(node->data), path, &g); });
  if (st != 0) return st;
  if (g.count == 0 || (g.count == 1 && !c->self)) {
    Post(VO_CLASS_WARNING, kMessageNothingToCut, VO_MODULE_GEOMETRY_OPERATORS);
    return kNothingToCut;
  }
  g.Settle();
  SegmentLog log;
  for (size_t i = 0; i < g.count; ++i) g.primitives[i].log = &log;
  for (size_t i = 0; i < g.count && st == 0; ++i) st = CutPrepare(&g.primitives[i], c->edges_only != 0);
  if (st & VO_COND_NO_MEMORY) (void)NoMemory();
  if (st == 0) st = PairsCut(c, &g.primitives[0], g.count);
  // Every exit rebuilds what the cut primitives derive from their polygons.
  for (size_t i = 0; i < g.count; ++i) st |= CutFinish(&g.primitives[i]);
  return st;
}

}  // namespace vo::geops

namespace vo {

int32_t VoPointLineSide(double x0, double y0, double x1, double y1, double x2, double y2, double eps) {
  if (eps == 0) return pred::Orient2D({x1, y1}, {x2, y2}, {x0, y0});
  const double s = (x0 - x1) * (y1 - y2) - (y0 - y1) * (x1 - x2);
  return s < -eps ? -1 : s > eps ? 1 : 0;
}

}  // namespace vo
