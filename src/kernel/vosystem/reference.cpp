// Reference lists: rings of {next, data} nodes from the kernel's list-node
// pool, named by their last node.
//
// Every node is made by NodeCreate and given back by NodeGone, which keep
// the kernel's count of live nodes: the bound of the check that a ring an
// application hands in is one (RingLength). Each exported procedure that
// follows an application's links checks the ring first and changes nothing
// when it is refused; an append, which follows none, checks its two handle
// nodes only (AppendAccepted).
//
// A ring of the kernel's pool given back on the application's side while a
// render runs is parked, not freed (RingParks): its destructor runs at once,
// but its nodes keep their records until the outermost render ends, so that
// no list the library makes meanwhile (a depth map's casters, a cube face's
// list) takes a record whose old handle the application still has. Each
// parked node's next word is cleared: no walk takes it for a ring, and a
// procedure handed it refuses it as a destroyed list, during the render and,
// its nodes then back in the pool, after it.
//
// The handle node of a list the application gives back (the node its call
// named) is retired, not freed, render or none: it keeps its cleared next
// word, so that the handle stays refused as a destroyed list, and no list
// the library makes for itself (a cube face's, a depth map's casters) ever
// takes it. Only a list the application's own call makes and hands it (a
// call whose answer is a list) takes a retired node again, as its own
// handle may name an address it gave back, and a node given back within
// such a call is retired too: the retired nodes stay as many as the lists
// given back and not yet made again.

#include "kernel/vosystem/reference.h"

#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "kernel/vosystem/api_guard.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo {

static_assert(offsetof(VtReference, next) == 0 && offsetof(VtReference, data) == 8 &&
                  sizeof(VtReference) == 16,
              "reference nodes are read by layout");

namespace {

std::atomic_ref<uint64_t> NodesLive(VtKernelContext *k) {
  return std::atomic_ref<uint64_t>(k->memory.reference_nodes);
}

// The counting procedures of RingNameCountSet, read by any thread.
std::atomic<void (*)(const void *)> g_named{nullptr}, g_unnamed{nullptr};

// Whether the call running is the application's own and hands it a list.
bool ApplicationListMade() {
  const api::EnteredCall *e = api::t_entered;
  return e != nullptr && e->application && e->fn->result_name != nullptr &&
         std::strcmp(e->fn->result_name, "VtReference") == 0;
}

// Whether `list` is the list the application's own call names first: the
// handle the application holds.
bool ApplicationHandle(const VtReference *list) {
  const api::EnteredCall *e = api::t_entered;
  return e != nullptr && e->application && e->fn->param_count != 0 && e->argv[0] != nullptr &&
         std::strcmp(e->fn->params[0].type_name, "VtReference") == 0 &&
         *static_cast<VtReference *const *>(e->argv[0]) == list;
}

// A retired handle node for a list the application's call makes, or null.
VtReference *RetiredTake(VtPool *pool) {
  if (!ApplicationListMade()) return nullptr;
  VtKernelContext *k = Kernel();
  if (k == nullptr || pool != k->memory.node_pool) return nullptr;
  RegisterGuard hold;
  VtReference *node = k->memory.retired;
  if (node != nullptr) k->memory.retired = static_cast<VtReference *>(node->data);
  return node;
}

VtReference *NodeCreate(VtPool *pool, void *data) {
  if (pool == nullptr) return nullptr;
  auto *node = RetiredTake(pool);
  if (node == nullptr) node = static_cast<VtReference *>(VoPoolAllocate(pool));
  if (node == nullptr) return nullptr;
  node->next = node;
  node->data = data;
  NodesLive(Kernel()).fetch_add(1, std::memory_order_relaxed);
  if (data != nullptr)
    if (auto named = g_named.load(std::memory_order_acquire)) named(data);
  return node;
}

// The application's handle node retired (its block kept, its next word
// cleared), counted as given back.
void NodeRetire(VtReference *node) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return;
  const void *data = node->data;
  node->next = nullptr;
  {
    RegisterGuard hold;
    node->data = k->memory.retired;
    k->memory.retired = node;
  }
  if (data != nullptr)
    if (auto unnamed = g_unnamed.load(std::memory_order_acquire)) unnamed(data);
  std::atomic_ref<uint64_t> live = NodesLive(k);
  uint64_t n = live.load(std::memory_order_relaxed);
  while (n != 0 && !live.compare_exchange_weak(n, n - 1, std::memory_order_relaxed)) {
  }
}

// A node back to its pool. The count may run above the truth (the nodes of
// a sub-pool destroyed whole stay counted), which only lengthens the walk
// that refuses a broken ring; it never wraps below 0.
void NodeGone(VtPool *pool, VtReference *node) {
  // A node given back within the application's own list-making call may
  // be one it took retired: it stays among them, never the library's.
  if (ApplicationListMade() && pool == VoReferencePoolGet()) return NodeRetire(node);
  const void *data = node->data;  // read before the pool may mark the block
  if (VoPoolFree(pool, node) != 0) return;
  if (data != nullptr)
    if (auto unnamed = g_unnamed.load(std::memory_order_acquire)) unnamed(data);
  VtKernelContext *k = Kernel();
  if (k == nullptr) return;
  std::atomic_ref<uint64_t> live = NodesLive(k);
  uint64_t n = live.load(std::memory_order_relaxed);
  while (n != 0 && !live.compare_exchange_weak(n, n - 1, std::memory_order_relaxed)) {
  }
}

VtReference *Append(VtReference *a, VtReference *b) {
  if (b == nullptr) return a;
  if (a == nullptr) return b;
  VtReference *first_of_a = a->next;
  a->next = b->next;
  b->next = first_of_a;
  return b;
}

VtReference *RemoveFirst(VtReference *list, VtReference **entry) {
  if (entry == nullptr) return list;  // nowhere to hand the node out
  if (list == nullptr) {
    *entry = nullptr;
    return nullptr;
  }
  VtReference *first = list->next;
  if (first != list) {
    list->next = first->next;
    first->next = first;
    *entry = first;
    return list;
  }
  *entry = list;
  return nullptr;
}

// The nodes of a ring given back while a render ran, freed as the outermost
// render ends.
struct ParkedRing {
  std::vector<VtReference *> nodes;  // the handle first
  bool handle_retires;               // the handle is the application's
};

void ParkedFree(void *object) {
  auto *parked = static_cast<ParkedRing *>(object);
  VtPool *pool = VoReferencePoolGet();
  for (size_t i = 0; i < parked->nodes.size(); ++i)
    if (i == 0 && parked->handle_retires)
      NodeRetire(parked->nodes[0]);
    else
      NodeGone(pool, parked->nodes[i]);
  delete parked;
}

// Parks the ring (RingParks) when a render reads on the application's side
// and the ring is of the kernel's pool, the one the library's lists share;
// false when it is to be freed at once (no render, a worker, a pool of the
// application's or of a module's own, no memory for the entry).
bool RingParked(VtPool *pool, VtReference *list) {
  if (pool != VoReferencePoolGet() || !RenderAfterWaits()) return false;
  auto *parked = new (std::nothrow) ParkedRing;
  if (parked == nullptr) return false;
  parked->handle_retires = ApplicationHandle(list);
  try {
    VtReference *node = list;
    do {
      parked->nodes.push_back(node);
      node = node->next;
    } while (node != list);
  } catch (const std::bad_alloc &) {
    delete parked;
    return false;
  }
  if (!RenderAfter(parked, &ParkedFree)) {
    delete parked;
    return false;
  }
  for (VtReference *node : parked->nodes) node->next = nullptr;
  return true;
}

// A node parked until the render's end: its next word cleared, which a
// live node's never is, in a block the pool handed out (a record of another
// kind whose first word is null is no node, and is left to the ring's
// check).
bool NodeParked(VtPool *pool, const VtReference *node) {
  return node->next == nullptr && PoolBlockLive(pool, const_cast<VtReference *>(node));
}

// A node given back: back in its pool (its block marked free), or parked.
bool NodeGivenBack(VtPool *pool, const VtReference *node) {
  return PoolBlockFreed(pool, const_cast<VtReference *>(node)) || NodeParked(pool, node);
}

VtStatus ListDestroy(VtPool *pool, VtReference *list, VtReferenceDestructor destructor) {
  if (list == nullptr) return 0;
  // A list destroyed already: its handle node carries the pool's mark of a
  // block given back, and its next word is a free-list link, not the ring.
  if (PoolBlockFreed(pool, list)) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kObjectNotLive, VO_MODULE_SYSTEM, "VoReferenceListDestroy",
         static_cast<const void *>(list), "reference list");
    return VO_STATUS_BAD_ARGUMENT;
  }
  // The data from the handle node round, as the nodes are given back.
  for (VtReference *node = list; destructor != nullptr;) {
    VtReference *next = node->next;
    if (node->data != nullptr) destructor(node->data);
    node = next;
    if (node == list) break;
  }
  if (RingParked(pool, list)) return 0;
  const bool retires = pool == VoReferencePoolGet() && ApplicationHandle(list);
  // From the handle node round the ring; each next is read before its node
  // goes back to the pool, and the end is found by address alone.
  const uintptr_t stop = reinterpret_cast<uintptr_t>(list);
  VtReference *node = list;
  do {
    VtReference *next = node->next;
    if (node == list && retires)
      NodeRetire(node);
    else
      NodeGone(pool, node);
    node = next;
  } while (reinterpret_cast<uintptr_t>(node) != stop);
  return 0;
}

void ListRefusedGone(const VtReference *list, const char *procedure) {
  Post(VO_STATUS_BAD_ARGUMENT, messages::kObjectNotLive, VO_MODULE_SYSTEM, procedure,
       static_cast<const void *>(list), "reference list");
}

}  // namespace

// A node goes back to the kernel's list-node pool.
void ReferenceNodeFree(VtReference *node) {
  if (node != nullptr) NodeGone(VoReferencePoolGet(), node);
}

VtReference *ReferenceRemoveFirst(VtReference *list, VtReference **entry) { return RemoveFirst(list, entry); }

uint64_t ReferenceNodesLive() {
  VtKernelContext *k = Kernel();
  return k != nullptr ? NodesLive(k).load(std::memory_order_relaxed) : 0;
}

namespace {

// A node is a pool block: 8-aligned and never in the first page.
bool Plausible(const VtReference *node) {
  const auto a = reinterpret_cast<uintptr_t>(node);
  return a >= 4096 && a % alignof(VtReference) == 0;
}

void RingRefused(const VtReference *ring, const char *procedure) {
  const uint64_t live = ReferenceNodesLive();
  Post(VO_STATUS_BAD_ARGUMENT, messages::kRingRefused, VO_MODULE_SYSTEM, procedure,
       static_cast<const void *>(ring), static_cast<uint32_t>(live > UINT32_MAX ? UINT32_MAX : live));
}

// The check of an append's handle nodes. Applications build long lists one
// append at a time, so it looks at the handle node alone, in constant time,
// never round the ring: the node and its next link are plausible node
// addresses, and the node does not carry its pool's mark of a block given
// back. Left undetected (the walking procedures refuse these when the list
// reaches them): a live record of another kind whose first word is an
// address, a ring broken past the handle's next node, a destroyed node whose
// block was handed out again or whose chunk went back to the heap, and a
// second list that is already part of the first (the join then splits it).
bool AppendAccepted(VtReference *node, const char *procedure) {
  if (node == nullptr) return true;
  if (!Plausible(node)) {
    RingRefused(node, procedure);
    return false;
  }
  if (NodeGivenBack(VoReferencePoolGet(), node)) {
    ListRefusedGone(node, procedure);
    return false;
  }
  if (!Plausible(node->next)) {
    RingRefused(node, procedure);
    return false;
  }
  return true;
}

// The tests of the kinds whose records can be told (RingKindTestSet), each
// set once by its module and read by any thread.
std::atomic<RingMemberTest> g_ring_member[static_cast<uint32_t>(RingKind::kCount)];
constexpr const char *kRingKindNames[] = {"shader", "primitive", "NPR edge"};

// Whether the elements of an accepted handle node and its next node are no
// live record of a kind other than the append's.
bool AppendKindAccepted(const VtReference *node, RingKind kind, const char *procedure) {
  if (node == nullptr) return true;
  for (const void *data : {node->next->data, node->data})
    for (uint32_t k = 0; k < static_cast<uint32_t>(RingKind::kCount); ++k) {
      const RingMemberTest member = g_ring_member[k].load(std::memory_order_acquire);
      if (k == static_cast<uint32_t>(kind) || member == nullptr || data == nullptr || !member(data)) continue;
      const char *const due = kRingKindNames[static_cast<uint32_t>(kind)];
      Post(VO_STATUS_BAD_ARGUMENT, messages::kRingElementRefused, VO_MODULE_SYSTEM, procedure,
           static_cast<const void *>(data), due);
      return false;
    }
  return true;
}

VtReference *AppendChecked(VtReference *a, VtReference *b, RingKind kind, const char *procedure) {
  if (!AppendAccepted(a, procedure) || !AppendAccepted(b, procedure)) return nullptr;
  if (!AppendKindAccepted(a, kind, procedure) || !AppendKindAccepted(b, kind, procedure)) return nullptr;
  return Append(a, b);
}

}  // namespace

void RingNameCountSet(RingNameCount count) {
  g_unnamed.store(count.unnamed, std::memory_order_release);
  g_named.store(count.named, std::memory_order_release);
}

void RingKindTestSet(RingKind kind, RingMemberTest test) {
  if (kind < RingKind::kCount)
    g_ring_member[static_cast<uint32_t>(kind)].store(test, std::memory_order_release);
}

uint64_t RingLength(const VtReference *ring) {
  if (ring == nullptr) return 0;
  const uint64_t bound = ReferenceNodesLive();
  const VtReference *node = ring;
  for (uint64_t steps = 1; steps <= bound; ++steps) {
    if (!Plausible(node)) return kRingBroken;
    node = node->next;
    if (node == ring) return steps;
  }
  return kRingBroken;
}

bool RingAccepted(const VtReference *ring, const char *procedure, uint64_t *length) {
  const uint64_t n = RingLength(ring);
  if (n != kRingBroken) {
    if (length != nullptr) *length = n;
    return true;
  }
  RingRefused(ring, procedure);
  return false;
}

VtReference *VoReferenceNodeCreate(void *data) { return NodeCreate(VoReferencePoolGet(), data); }
VtReference *VoShaderReferenceCreate(void *data) { return VoReferenceNodeCreate(data); }
VtReference *VoPrimitiveReferenceCreate(void *data) { return VoReferenceNodeCreate(data); }
VtReference *VoNPREdgeReferenceCreate(void *data) { return VoReferenceNodeCreate(data); }
VtReference *VoReferencePoolNodeCreate(VtPool *pool, void *data) { return NodeCreate(pool, data); }

VtReference *VoShaderReferenceAppend(VtReference *a, VtReference *b) {
  return AppendChecked(a, b, RingKind::kShader, "VoShaderReferenceAppend");
}
VtReference *VoPrimitiveReferenceAppend(VtReference *a, VtReference *b) {
  return AppendChecked(a, b, RingKind::kPrimitive, "VoPrimitiveReferenceAppend");
}
VtReference *VoNPREdgeReferenceAppend(VtReference *a, VtReference *b) {
  return AppendChecked(a, b, RingKind::kNPREdge, "VoNPREdgeReferenceAppend");
}

namespace {

// Remove first for an application's list: a list that is not a ring hands
// out nothing and answers null, so that a loop draining it ends.
VtReference *RemoveChecked(VtReference *list, VtReference **entry, const char *procedure) {
  if (RingAccepted(list, procedure)) return RemoveFirst(list, entry);
  if (entry != nullptr) *entry = nullptr;
  return nullptr;
}

}  // namespace

VtReference *VoShaderReferenceRemove(VtReference *list, VtReference **entry) {
  return RemoveChecked(list, entry, "VoShaderReferenceRemove");
}
VtReference *VoPrimitiveReferenceRemove(VtReference *list, VtReference **entry) {
  return RemoveChecked(list, entry, "VoPrimitiveReferenceRemove");
}
VtReference *VoNPREdgeReferenceRemove(VtReference *list, VtReference **entry) {
  return RemoveChecked(list, entry, "VoNPREdgeReferenceRemove");
}

namespace {

// Who holds a ring: the geometry module as the current primitive list, and
// running renders as the list they started with. Any node of the ring may
// be the handle they keep, so one walk round it (RingAccepted passed) looks
// for every holder's handle.
struct RingHolders {
  bool current = false, rendered = false;
};

RingHolders RingHoldersOf(const VtReference *ring) {
  RingHolders h;
  const VtKernelContext *k = Kernel();
  if (k == nullptr || ring == nullptr || (k->scene_ring == nullptr && ExecuteFrames() == nullptr)) return h;
  const VtReference *node = ring;
  do {
    h.current = h.current || node == k->scene_ring;
    for (const ExecuteFrame *f = ExecuteFrames(); f != nullptr && !h.rendered; f = f->outer)
      h.rendered = node == f->scene_ring;
    node = node->next;
  } while (node != ring);
  return h;
}

}  // namespace

// A render's callback appending to or removing from the list the render
// started with would reach it (a callback's join of the light list to it
// put shaders among the primitives a ray tracer gathers after the maps).
// Only the entry asks, for a call from a callback, so the library's own
// appends while it renders (a light's casters) stay constant-time.
bool RingRendered(const VtReference *ring) {
  return ring != nullptr && RingLength(ring) != kRingBroken && RingHoldersOf(ring).rendered;
}

bool RingRenderedByCaller(const VtReference *ring) {
  return ring != nullptr && InCallbackOf(ExecuteSerial()) && RingRendered(ring);
}

// The node freed may be the handle the library keeps as the current list,
// which then moves to the handle answered (the entry refuses the list a
// running render started with).
VtReference *VoReferenceListRemoveData(VtReference *list, void *data) {
  if (list == nullptr) return nullptr;
  // A list that is not a ring is answered as given: nothing removed.
  if (!RingAccepted(list, "VoReferenceListRemoveData")) return list;
  VtReference *previous = list;
  VtReference *node = list->next;
  while (node->data != data) {
    if (node == list) return list;  // every node looked at
    previous = node;
    node = node->next;
  }
  const RingHolders held = RingHoldersOf(list);
  VtReference *handle = nullptr;
  if (node != previous) {  // not the only node
    previous->next = node->next;
    handle = (node == list) ? previous : list;
  }
  node->next = node;  // a ring of its own, parked or freed as one
  if (!RingParked(VoReferencePoolGet(), node)) ReferenceNodeFree(node);
  // The geometry module follows the kernel's word (its SceneList).
  if (held.current) SceneRingSet(handle);
  return handle;
}

VtStatus RingHeldRefuse(const VtReference *ring, const char *procedure) {
  if (!RingHoldersOf(ring).current) return 0;
  Post(VO_STATUS_BAD_ARGUMENT, messages::kSceneListCurrent, VO_MODULE_SYSTEM, procedure,
       static_cast<const void *>(ring));
  return VO_STATUS_BAD_ARGUMENT;
}

VtStatus ReferenceListDestroy(VtPool *pool, VtReference *list, VtReferenceDestructor destructor,
                              const char *procedure) {
  // A list given back during a render is refused as destroyed; one freed
  // or retired since, or a pointer that is no node, by the ring's check.
  if (list != nullptr && Plausible(list) && RenderAfterWaits() && NodeParked(pool, list)) {
    ListRefusedGone(list, procedure);
    return VO_STATUS_BAD_ARGUMENT;
  }
  if (!RingAccepted(list, procedure)) return VO_STATUS_BAD_ARGUMENT;
  if (VtStatus held = RingHeldRefuse(list, procedure)) return held;
  return ListDestroy(pool, list, destructor);
}

VtStatus VoReferenceListDestroy(VtReference *list, VtReferenceDestructor destructor) {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  return ReferenceListDestroy(VoReferencePoolGet(), list, destructor, "VoReferenceListDestroy");
}

VtStatus VoReferencePoolListDestroy(VtPool *pool, VtReference *list, VtReferenceDestructor destructor) {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  // The pool first: its nodes would go back to a pool that is none.
  if (PoolRecordRefused(pool, "VoReferencePoolListDestroy")) return VO_STATUS_BAD_ARGUMENT;
  return ReferenceListDestroy(pool, list, destructor, "VoReferencePoolListDestroy");
}

VtReference *VoReferenceListCopy(VtReference *list, VtReferenceCopyProc copy) {
  return ReferenceListCopy(list, copy, "VoReferenceListCopy");
}

VtReference *ReferenceListCopy(VtReference *list, VtReferenceCopyProc copy, const char *procedure) {
  if (list == nullptr) return nullptr;
  if (!RingAccepted(list, procedure)) return nullptr;
  VtPool *pool = VoReferencePoolGet();
  VtReference *head = nullptr, *last = nullptr;
  VtReference *node = list;
  do {
    VtReference *made = NodeCreate(pool, copy ? copy(node->data) : node->data);
    if (made == nullptr) {
      if (head != nullptr) {
        last->next = head;
        ListDestroy(pool, head, nullptr);
      }
      return nullptr;
    }
    if (head == nullptr)
      head = made;
    else
      last->next = made;
    last = made;
    node = node->next;
  } while (node != list);
  last->next = head;  // the copy of the handle node is the handle
  return head;
}

VtReference *VoReferenceListCreateFromArray(uint32_t count, void **array) {
  if (count == 0 || array == nullptr) return nullptr;
  VtReference *list = nullptr;
  for (uint32_t i = 0; i < count; ++i) {
    if (array[i] == nullptr) continue;
    VtReference *node = VoReferenceNodeCreate(array[i]);
    if (node == nullptr) {
      VoReferenceListDestroy(list, nullptr);
      return nullptr;
    }
    list = Append(list, node);
  }
  return list;
}

}  // namespace vo
