// What a running render holds, as one set, and the wait of a call that
// changes or gives back something in it: decided by the exported wrapper
// (api_guard.h) from the interface description's "object" lines, never by
// the procedure's body.
//
// Invariants a reader must know:
// - the set is built by a walk from the roots the modules register (the
//   primitive lists the running renders began with, the light list, the
//   background, the view, the driver, the target...), each object expanded
//   by its type's expander (a primitive to its material, transform, texture
//   space and members; a shader to the handles its arguments hold, read
//   through its class's argument entry, so no class has code here);
// - the walk is made at the first change or release the application makes
//   while the outermost render runs, not as a render starts, so a render of
//   a million primitives starts as fast as ever; the set then stands for the
//   whole outermost render: every change of what it holds waits, so what it
//   holds does not change meanwhile. It is forgotten as the render's waiting
//   calls are made (RenderAfterRun) and as the library stops;
// - a release of a held object waits as a change does: the object stays
//   what the render reads, later changes of it wait behind the release,
//   and the calls are made in order as the render ends, as the same calls
//   made after it (one that fails then posts warning 3000); a second release
//   of the same object is refused at once (message 2919), as the same call
//   after the render would find the object gone;
// - only the application's thread that owns the renders asks: another
//   thread's change or release is refused with 2908 before (api_guard.h).

#include <atomic>
#include <cstring>
#include <new>
#include <unordered_set>
#include <vector>

#include "kernel/vosystem/api_guard.h"
#include "kernel/vosystem/api_table.h"
#include "kernel/vosystem/kernel.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo {

struct HeldWalk {
  std::unordered_set<const void *> objects;
  std::vector<std::pair<const void *, const char *>> pending;  // to expand, with the type's name or null
};

// The kernel's word for the set (VtKernelContext::held): built once a
// render, outside the kernel's pools as the waiting queue is.
struct HeldSet {
  HeldWalk walk;
  bool built = false;
  std::unordered_set<const void *> released;  // held objects whose release waits
};

namespace {

constexpr size_t kMostTypes = 24;
constexpr size_t kMostRoots = 12;
constinit std::atomic<const HeldType *> g_types[kMostTypes];
constinit std::atomic<void (*)(HeldWalk *)> g_roots[kMostRoots];

bool Named(const HeldType *type, const char *type_name) {
  return type_name != nullptr && std::strcmp(type->type_name, type_name) == 0;
}

// A value whose type the walk does not know (a shader argument's handle):
// the name of the type whose live test holds for it, or null.
const char *TypeFound(const void *object) {
  for (const std::atomic<const HeldType *> &slot : g_types) {
    const HeldType *type = slot.load(std::memory_order_acquire);
    if (type == nullptr) return nullptr;
    if (type->live != nullptr && type->live(object)) return type->type_name;
  }
  return nullptr;
}

// Every module's expansion of an object of the type: each module adds what
// it knows the object reaches.
void Expand(HeldWalk *walk, const void *object, const char *type_name) {
  if (type_name == nullptr) type_name = TypeFound(object);
  for (const std::atomic<const HeldType *> &slot : g_types) {
    const HeldType *type = slot.load(std::memory_order_acquire);
    if (type == nullptr) return;
    if (type->expand != nullptr && Named(type, type_name)) type->expand(walk, object);
  }
}

HeldSet *Set(bool make) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return nullptr;
  if (k->held == nullptr && make) k->held = new HeldSet;
  return k->held;
}

void Build(HeldSet *set) {
  HeldWalk &walk = set->walk;
  for (const std::atomic<void (*)(HeldWalk *)> &slot : g_roots)
    if (void (*roots)(HeldWalk *) = slot.load(std::memory_order_acquire)) roots(&walk);
  while (!walk.pending.empty()) {
    const auto [object, type_name] = walk.pending.back();
    walk.pending.pop_back();
    Expand(&walk, object, type_name);
  }
  set->built = true;
}

}  // namespace

// The object a value of the parameter stands for: its type's owner (an
// element's primitive, a class's instance data's shader, the current
// driver for none), else the value itself.
const void *api::HeldObjectOf(const api::VtApiParam &p, const void *value) noexcept {
  for (const std::atomic<const HeldType *> &slot : g_types) {
    const HeldType *type = slot.load(std::memory_order_acquire);
    if (type == nullptr) break;
    if (type->owner != nullptr && Named(type, p.type_name)) return type->owner(value);
  }
  return value;
}

namespace {

bool Holds(const void *object) {
  if (object == nullptr) return false;
  try {
    HeldSet *set = Set(true);
    if (!set->built) Build(set);
    return set->walk.objects.count(object) != 0;
  } catch (const std::bad_alloc &) {
    // No memory for the walk: whatever the call names is taken as held, so
    // the call waits (or is refused) rather than reach the render.
    HeldForget();
    return true;
  }
}

void Refuse(const char *procedure, const void *released = nullptr) {
  try {
    if (released != nullptr)
      Post(VO_STATUS_BAD_ARGUMENT, messages::kGivenBackTwice, VO_MODULE_SYSTEM, procedure, released);
    else
      Post(VO_STATUS_BAD_ARGUMENT, messages::kRenderRunning, VO_MODULE_SYSTEM, procedure);
  } catch (...) {
    // No memory for the diagnostic: the call is refused all the same.
  }
}

// A call that cannot wait: it answers a new handle or a value, or writes
// an output, which a call made later cannot give now.
bool AnswersNow(const api::VtApiFunction *fn) {
  if (fn->result_type != 0 && fn->result_type != VtStatusType) return true;
  for (uint32_t i = 0; i < fn->param_count; ++i)
    if ((fn->params[i].flags & api::kParamOut) != 0) return true;
  return false;
}

}  // namespace

void HeldAdd(HeldWalk *walk, const void *object, const char *type_name) {
  if (object == nullptr || !walk->objects.insert(object).second) return;
  walk->pending.emplace_back(object, type_name);
}

void HeldTypeRegister(const HeldType *type) {
  for (std::atomic<const HeldType *> &slot : g_types) {
    const HeldType *expected = nullptr;
    if (slot.compare_exchange_strong(expected, type, std::memory_order_acq_rel) || expected == type) return;
  }
}

void HeldRootsRegister(void (*roots)(HeldWalk *walk)) {
  for (std::atomic<void (*)(HeldWalk *)> &slot : g_roots) {
    void (*expected)(HeldWalk *) = nullptr;
    if (slot.compare_exchange_strong(expected, roots, std::memory_order_acq_rel) || expected == roots) return;
  }
}

bool RenderHoldsObject(const void *object) { return RenderAfterWaits() && Holds(object); }

void HeldForget() {
  VtKernelContext *k = Kernel();
  if (k == nullptr || k->held == nullptr) return;
  delete k->held;
  k->held = nullptr;
}

void HeldStale() {
  VtKernelContext *k = Kernel();
  if (k == nullptr || k->held == nullptr) return;
  k->held->built = false;
  k->held->walk.objects.clear();
  k->held->walk.pending.clear();
}

namespace api {

HeldAnswer HeldCallWaits(const VtApiFunction *fn, const void *const *argv) noexcept {
  if (!RenderAfterWaits()) return kHeldActs;
  const void *object = nullptr;
  if (fn->object != kObjectScene) {
    const VtApiParam &p = fn->params[fn->object];
    object = HeldObjectOf(p, *static_cast<const void *const *>(argv[fn->object]));
    if (!Holds(object)) return kHeldActs;
  }
  const bool release = fn->during == kDuringRelease && object != nullptr;
  HeldSet *set = release ? Set(false) : nullptr;
  if (set != nullptr && set->released.count(object) != 0) {
    Refuse(fn->name, object);
    return kHeldRefused;
  }
  if (AnswersNow(fn) || !CallAfterRender()) {
    Refuse(fn->name);
    return kHeldRefused;
  }
  try {
    if (set != nullptr) set->released.insert(object);
  } catch (const std::bad_alloc &) {
    // The release waits all the same; only a second one is not refused early.
  }
  return kHeldQueued;
}

}  // namespace api
}  // namespace vo
