// NPR edges: the exported procedures, the register of live edges, edge
// lists and the module's parameter records.
//
// Invariants a reader must know:
// - an edge is in the register from its making to its destruction; copy
//   and destroy refuse anything else (0x20000012, 2611), so a stale or
//   foreign pointer is never read or freed;
// - a list copy is made node by node: when a node or an edge cannot be
//   made, everything the copy made is given back and the answer is null;
// - point arrays are sized in size_t and refused beyond VoAllocate's 32
//   bits.

#include <cstring>
#include <new>

#include "render/vonpr/npr.h"
#include "kernel/vosystem/face.h"

namespace vo::npr {

namespace {

VtNPREdge *RefuseEdge(const char *procedure) {
  Post(kRefused, messages::kNprEdgeRefused, VO_MODULE_NPR, procedure, int32_t{0});
  return nullptr;
}

// A new array of count points, or null (also for an impossible size).
float *PointsAllocate(uint32_t count) {
  const size_t bytes = size_t{count} * 3 * sizeof(float);
  if (count == 0 || bytes > UINT32_MAX) return nullptr;
  return static_cast<float *>(VoAllocate(static_cast<uint32_t>(bytes)));
}

bool ListLive(Context *c, VtReference *list) {
  bool live = true;
  ForEachNode(list, [&](VtReference *n) { live = live && EdgeLive(c, static_cast<VtNPREdge *>(n->data)); });
  return live;
}

// A block of the pool entered in the register, or null (nothing kept).
template <class T>
void *Registered(Context *c, VtPool *pool, std::unordered_set<const T *> &set) {
  void *block = VoPoolAllocate(pool);
  if (block == nullptr) return nullptr;
  try {
    std::lock_guard hold(c->registers->lock);
    set.insert(static_cast<const T *>(block));
  } catch (const std::bad_alloc &) {
    (void)VoPoolFree(pool, block);
    return nullptr;
  }
  return block;
}

bool Holds(VtReference *list, const void *data) {
  bool held = false;
  ForEachNode(list, [&](VtReference *n) { held = held || n->data == data; });
  return held;
}

}  // namespace

bool EdgeLive(Context *c, const VtNPREdge *edge) {
  if (edge == nullptr) return false;
  std::lock_guard hold(c->registers->lock);
  return c->registers->edges.count(edge) != 0;
}

VtNPREdge *EdgeMake(Context *c, float *points, uint32_t count, void *owner, uint32_t user) {
  auto *e = static_cast<VtNPREdge *>(Registered(c, c->edge_pool, c->registers->edges));
  if (e != nullptr) *e = VtNPREdge{owner, user, count, points};
  return e;
}

void EdgeFree(Context *c, VtNPREdge *edge) {
  {
    std::lock_guard hold(c->registers->lock);
    c->registers->edges.erase(edge);
  }
  if (edge->points != nullptr) VoDeallocate(edge->points);
  (void)VoPoolFree(c->edge_pool, edge);
}

void EdgeListFree(Context *c, VtReference *list, bool edges, VtReference *keep) {
  if (list == nullptr) return;
  if (edges)
    ForEachNode(list, [&](VtReference *n) {
      auto *e = static_cast<VtNPREdge *>(n->data);
      // A list naming one edge twice frees it once.
      if (EdgeLive(c, e) && (keep == nullptr || !Holds(keep, e))) EdgeFree(c, e);
    });
  (void)VoReferenceListDestroy(list, nullptr);
}

VtNPRPrimitiveData *RecordTake(Context *c) {
  auto *r = static_cast<VtNPRPrimitiveData *>(Registered(c, c->parameter_pool, c->registers->records));
  if (r != nullptr) std::memset(static_cast<void *>(r), 0, sizeof *r);
  return r;
}

void RecordGive(Context *c, void *record) {
  {
    std::lock_guard hold(c->registers->lock);
    c->registers->records.erase(record);
  }
  (void)VoPoolFree(c->parameter_pool, record);
}

bool RecordOwn(Context *c, const void *record) {
  std::lock_guard hold(c->registers->lock);
  return c->registers->records.count(record) != 0;
}

}  // namespace vo::npr

namespace vo {

using namespace npr;

VtNPREdge *VoNPREdgeCreateFromVerts(float *points, uint32_t count, VtPrimitive *owner, uint32_t user) {
  Context *c = ContextGet();
  if (c == nullptr) return nullptr;
  if (points == nullptr && count != 0) return RefuseEdge("VoNPREdgeCreateFromVerts");
  return EdgeMake(c, points, count, owner, user);
}

VtNPREdge *VoNPREdgeCreateFromPoints(const float *points, uint32_t count, VtPrimitive *owner, uint32_t user) {
  Context *c = ContextGet();
  if (c == nullptr) return nullptr;
  if (points == nullptr && count != 0) return RefuseEdge("VoNPREdgeCreateFromPoints");
  float *copy = nullptr;
  if (count != 0) {
    if ((copy = PointsAllocate(count)) == nullptr) return nullptr;
    std::memcpy(copy, points, size_t{count} * 3 * sizeof(float));
  }
  VtNPREdge *e = EdgeMake(c, copy, count, owner, user);
  if (e == nullptr && copy != nullptr) VoDeallocate(copy);
  return e;
}

VtNPREdge *VoNPREdgeCreateFromHPoints(void **points, uint32_t count, VtPrimitive *owner, uint32_t user) {
  Context *c = ContextGet();
  if (c == nullptr) return nullptr;
  if (points == nullptr && count != 0) return RefuseEdge("VoNPREdgeCreateFromHPoints");
  for (uint32_t i = 0; i < count; ++i)
    if (points[i] == nullptr) return RefuseEdge("VoNPREdgeCreateFromHPoints");
  float *world = nullptr;
  if (count != 0 && (world = PointsAllocate(count)) == nullptr) return nullptr;
  for (uint32_t i = 0; i < count; ++i)
    (void)VoCurrentViewUnprojectPoint(static_cast<const float *>(points[i]), world + size_t{i} * 3);
  VtNPREdge *e = EdgeMake(c, world, count, owner, user);
  if (e == nullptr && world != nullptr) VoDeallocate(world);
  return e;
}

VtNPREdge *VoNPREdgeCopy(VtNPREdge *edge) {
  Context *c = ContextGet();
  if (c == nullptr) return nullptr;
  if (!EdgeLive(c, edge)) return RefuseEdge("VoNPREdgeCopy");
  return VoNPREdgeCreateFromPoints(edge->points, edge->count, static_cast<VtPrimitive *>(edge->owner),
                                   edge->user);
}

VtStatus VoNPREdgeDestroy(VtNPREdge *edge) {
  Context *c = ContextGet();
  if (c == nullptr) return kUnavailable;
  if (edge == nullptr) return 0;
  if (!EdgeLive(c, edge)) return RefuseEdge("VoNPREdgeDestroy"), kRefused;
  EdgeFree(c, edge);
  return 0;
}

VtReference *VoNPREdgeReferenceCopy(VtReference *list, uint32_t flag) {
  Context *c = ContextGet();
  if (c == nullptr || list == nullptr) return nullptr;
  if (!RingAccepted(list, "VoNPREdgeReferenceCopy")) return nullptr;
  if (flag != 0 && !ListLive(c, list)) return RefuseEdge("VoNPREdgeReferenceCopy"), nullptr;
  VtReference *copy = nullptr;
  const VtStatus failed = ForEachNodeUntil(list, [&](VtReference *n) -> VtStatus {
    void *data = n->data;
    if (flag != 0 && (data = VoNPREdgeCopy(static_cast<VtNPREdge *>(data))) == nullptr) return kNoMemory;
    VtReference *node = VoNPREdgeReferenceCreate(data);
    if (node == nullptr) {
      if (flag != 0) EdgeFree(c, static_cast<VtNPREdge *>(data));
      return kNoMemory;
    }
    copy = VoNPREdgeReferenceAppend(copy, node);
    return 0;
  });
  if (failed == 0) return copy;
  EdgeListFree(c, copy, flag != 0);
  return nullptr;
}

VtStatus VoNPREdgeReferenceDestroy(VtReference *list, uint32_t flag) {
  Context *c = ContextGet();
  if (c == nullptr) return kUnavailable;
  if (!RingAccepted(list, "VoNPREdgeReferenceDestroy")) return kRefused;
  // The current list is refused before any of its edges is freed (the
  // entry refuses the list a running render started with).
  if (const VtStatus held = RingHeldRefuse(list, "VoNPREdgeReferenceDestroy"); held != 0) return held;
  if (flag != 0 && !ListLive(c, list)) return RefuseEdge("VoNPREdgeReferenceDestroy"), kRefused;
  // The module no longer holds a list the application destroys.
  if (list == c->edges) c->edges = nullptr;
  EdgeListFree(c, list, flag != 0);
  return 0;
}

}  // namespace vo
