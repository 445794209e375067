// The one path by which a change the application makes while a render runs
// to an object that render holds waits for the outermost render's end
// (CallAfterRender, kernel.h): the exported call the application entered,
// kept with copies of its arguments, queued through RenderAfter and made
// again then through the table's thunk, so the procedure's own checks and
// effects are those of the same call made after the render.
//
// Invariants a reader must know:
// - only a call the application entered (api::EnteredCall::application)
//   whose class while a render runs is change or release waits here (the
//   interface description's "during" lines decide, not a list in the
//   callers); what the library calls for itself inside a render, or inside
//   a nested render the application entered, acts at once, through the
//   exported procedures too;
// - every argument is kept by value: a number, handle, address or procedure
//   in its slot; a text, a record and a typed value (with the text it
//   carries) in copies the entry owns, so the caller's storage may go at
//   once, an array of a fixed count too; an argument no copy keeps (an
//   output, an open array, a raw block) keeps the call from waiting;
// - the entry's memory comes from the process heap, as the queue's, so a
//   run of the library's allocation failures meets only what it counts;
// - a kept call that answers a failure when it is made posts warning 3000
//   naming it: the call answered 0 when it was queued;
// - an open array the procedure's shape sizes (a scan row) is kept at the
//   size the shape gave at the call; a call whose shape asks more when it is
//   made (the region grew meanwhile) is not made, and warning 3000 says so;
// - a handle the call sets into a holder (a "sets" line of the interface
//   description), of a type whose module registered a keeper, is held by it
//   from the queueing until the call was made, so the destroys of what the
//   waiting calls set count them (CallAfterRenderNames) and free nothing
//   they set; a handle the call only changes is held by nothing, as the
//   same call made after the render would find it.

#include <atomic>
#include <cstring>
#include <deque>
#include <new>
#include <string>
#include <vector>

#include "kernel/vosystem/api_guard.h"
#include "kernel/vosystem/api_table.h"
#include "kernel/vosystem/kernel.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo {
namespace {

constexpr size_t kMostArguments = 16;

struct WaitedCall {
  const api::VtApiFunction *fn = nullptr;
  alignas(16) uint64_t slots[kMostArguments][2] = {};
  void *argv[kMostArguments] = {};
  std::deque<std::string> texts;             // kept texts (a deque: a text never moves)
  std::deque<std::vector<uint64_t>> blocks;  // kept records and typed values
  uint64_t shaped[kMostArguments] = {};      // an open array's kept count, else 0
  const WaitedKeeper *keepers[kMostArguments] = {};
  void *objects[kMostArguments] = {};  // the handles the keepers hold
  void *held[kMostArguments] = {};     // what each keeper took
};

// The keepers the modules registered, one a handle type: process-wide, as
// the ring kinds' tests are, set as a module starts and read by any thread.
constexpr size_t kMostKeepers = 8;
constinit std::atomic<const WaitedKeeper *> g_keepers[kMostKeepers];

const WaitedKeeper *KeeperOf(const char *type_name) {
  for (const std::atomic<const WaitedKeeper *> &slot : g_keepers) {
    const WaitedKeeper *keeper = slot.load(std::memory_order_acquire);
    if (keeper == nullptr) return nullptr;
    if (std::strcmp(keeper->type_name, type_name) == 0) return keeper;
  }
  return nullptr;
}

template <class T>
T Load(const void *at) {
  T v;
  std::memcpy(&v, at, sizeof v);
  return v;
}

void Store(uint64_t *slot, const void *pointer) { std::memcpy(slot, &pointer, sizeof pointer); }

const char *TextKept(WaitedCall *w, const char *text) {
  if (text == nullptr) return nullptr;
  w->texts.emplace_back(text);
  return w->texts.back().c_str();
}

void *BlockKept(WaitedCall *w, const void *from, size_t bytes) {
  w->blocks.emplace_back((bytes + sizeof(uint64_t) - 1) / sizeof(uint64_t), 0);
  std::memcpy(w->blocks.back().data(), from, bytes);
  return w->blocks.back().data();
}

// The count of an open array parameter i as the procedure's shape gives it
// for the arguments in argv; 0 when none does.
uint64_t ShapedCount(const api::VtApiFunction *fn, const void *const *argv, size_t i) {
  api::VtApiShape shape{};
  if (fn->shape == nullptr || !fn->shape(argv, static_cast<uint32_t>(i), 0, &shape)) return 0;
  return shape.count;
}

// Keeps an array argument: of a fixed count (a region's four corners), or
// open and sized by the procedure's shape (a scan row).
bool ArrayKept(WaitedCall *w, const api::VtApiParam &p, const void *const *argv, size_t i, uint64_t *slot) {
  const api::VtApiType *type = api::FindType(p.type_name);
  const void *values = Load<const void *>(argv[i]);
  if (type == nullptr || type->size == 0 || p.count < 0) return false;
  uint64_t count = static_cast<uint64_t>(p.count);
  if (p.count == 0) {
    count = values != nullptr ? ShapedCount(w->fn, argv, i) : 0;
    if (values != nullptr && (count == 0 || count > SIZE_MAX / type->size)) return false;
    w->shaped[i] = count;
  }
  Store(slot, values != nullptr ? BlockKept(w, values, static_cast<size_t>(count) * type->size) : nullptr);
  return true;
}

// Keeps argument i in w; false for a kind no copy keeps.
bool ArgumentKept(WaitedCall *w, const void *const *argv, size_t i, uint64_t *slot) {
  const api::VtApiParam &p = w->fn->params[i];
  const void *at = argv[i];
  if ((p.flags & api::kParamOut) != 0) return false;
  if ((p.flags & api::kParamArray) != 0) return ArrayKept(w, p, argv, i, slot);
  const api::VtApiType *type = api::FindType(p.type_name);
  switch (p.kind) {
    case api::kKindScalar:
      if (type == nullptr || type->size > sizeof(uint64_t) * 2) return false;
      std::memcpy(slot, at, type->size);
      return true;
    case api::kKindHandle:
      std::memcpy(slot, at, sizeof(void *));
      w->objects[i] = Load<void *>(at);
      w->keepers[i] =
          w->objects[i] != nullptr && (p.flags & api::kParamSets) != 0 ? KeeperOf(p.type_name) : nullptr;
      return true;
    case api::kKindPointer:
    case api::kKindFunc: std::memcpy(slot, at, sizeof(void *)); return true;
    case api::kKindString: Store(slot, TextKept(w, Load<const char *>(at))); return true;
    case api::kKindStruct: {
      const void *record = Load<const void *>(at);
      if (record != nullptr && (type == nullptr || type->size == 0)) return false;
      Store(slot, record != nullptr ? BlockKept(w, record, type->size) : nullptr);
      return true;
    }
    case api::kKindTyped: {
      const auto *value = Load<const VtTypedValue *>(at);
      if (value == nullptr) {
        Store(slot, nullptr);
        return true;
      }
      auto *kept = static_cast<VtTypedValue *>(BlockKept(w, value, sizeof *value));
      if (kept->type == VtString) kept->value.s = const_cast<char *>(TextKept(w, value->value.s));
      Store(slot, kept);
      return true;
    }
    default: return false;
  }
}

// A kept scan row shorter than what the call would now read: the region
// grew while the call waited.
bool RowsOutgrown(const WaitedCall *w) {
  for (size_t i = 0; i < w->fn->param_count; ++i)
    if (w->shaped[i] != 0 && ShapedCount(w->fn, w->argv, i) > w->shaped[i]) return true;
  return false;
}

void WaitedCallMake(void *object) {
  auto *w = static_cast<WaitedCall *>(object);
  const size_t n = w->fn->param_count;
  for (size_t i = 0; i < n; ++i)
    if (w->keepers[i] != nullptr && w->keepers[i]->stand_in != nullptr)
      Store(w->slots[i], w->keepers[i]->stand_in(w->objects[i], w->held[i]));
  VtTypedValue result{};
  if (RowsOutgrown(w)) {
    result.value.u = VO_STATUS_BAD_ARGUMENT;
  } else {
    w->fn->thunk(w->argv, &result);
  }
  if (w->fn->result_type == VtStatusType && result.value.u != 0)
    Post(VO_CLASS_WARNING, messages::kWaitedCallFailed, VO_MODULE_SYSTEM, w->fn->name, result.value.u);
  for (size_t i = 0; i < n; ++i)
    if (w->keepers[i] != nullptr) w->keepers[i]->drop(w->objects[i], w->held[i]);
  delete w;
}

struct Naming {
  const void *target;
  uint32_t count;
  const char **procedure;
};

void NamesCount(void *object, void *context) {
  const auto *w = static_cast<const WaitedCall *>(object);
  auto *ask = static_cast<Naming *>(context);
  const uint32_t before = ask->count;
  for (size_t i = 0; i < w->fn->param_count; ++i)
    if (const WaitedKeeper *keeper = w->keepers[i])
      ask->count += keeper->names(w->objects[i], w->held[i], ask->target);
  if (before == 0 && ask->count != 0 && ask->procedure != nullptr) *ask->procedure = w->fn->name;
}

}  // namespace

bool CallAfterRender() {
  api::EnteredCall *entered = api::t_entered;
  if (entered == nullptr || !entered->application || !RenderAfterWaits()) return false;
  if (entered->queued) return true;  // one procedure of the call asked already
  const api::VtApiFunction *fn = entered->fn;
  if ((fn->during != api::kDuringChange && fn->during != api::kDuringRelease) ||
      fn->param_count > kMostArguments)
    return false;
  WaitedCall *w = nullptr;
  try {
    w = new WaitedCall;
    w->fn = fn;
    for (size_t i = 0; i < fn->param_count; ++i) {
      w->argv[i] = w->slots[i];
      if (!ArgumentKept(w, entered->argv, i, w->slots[i])) {
        delete w;
        return false;
      }
    }
  } catch (const std::bad_alloc &) {
    delete w;
    return false;
  }
  if (!RenderAfter(w, &WaitedCallMake)) {
    delete w;
    return false;
  }
  for (size_t i = 0; i < fn->param_count; ++i)
    if (w->keepers[i] != nullptr) w->held[i] = w->keepers[i]->hold(w->objects[i]);
  entered->queued = true;
  return true;
}

void CallAfterRenderKeeper(const WaitedKeeper *keeper) {
  for (std::atomic<const WaitedKeeper *> &slot : g_keepers) {
    const WaitedKeeper *expected = nullptr;
    if (slot.compare_exchange_strong(expected, keeper, std::memory_order_acq_rel) ||
        std::strcmp(expected->type_name, keeper->type_name) == 0)
      return;
  }
}

uint32_t CallAfterRenderNames(const void *target, const char **procedure) {
  Naming ask{target, 0, procedure};
  if (target != nullptr) RenderAfterVisit(&WaitedCallMake, &NamesCount, &ask);
  return ask.count;
}

}  // namespace vo
