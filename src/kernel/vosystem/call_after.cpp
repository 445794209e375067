// The one path by which a change the application makes while a render runs
// to an object that render holds waits for the outermost render's end
// (CallAfterRender, kernel.h): the exported call the application entered,
// kept with copies of its arguments, queued through RenderAfter and made
// again then through the table's thunk, so the procedure's own checks and
// effects are those of the same call made after the render.
//
// Invariants a reader must know:
// - only an entered call whose class while a render runs is change or
//   release waits here (the interface description's "during" lines decide,
//   not a list in the callers); what the library calls for itself inside a
//   render, or inside a nested render the application entered, acts at once;
// - every argument is kept by value: a number, handle, address or procedure
//   in its slot; a text, a record and a typed value (with the text it
//   carries) in copies the entry owns, so the caller's storage may go at
//   once, an array of a fixed count too; an argument no copy keeps (an
//   output, an open array, a raw block) keeps the call from waiting;
// - the entry's memory comes from the process heap, as the queue's, so a
//   run of the library's allocation failures meets only what it counts;
// - a kept call that answers a failure when it is made posts warning 3000
//   naming it: the call answered 0 when it was queued.

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
};

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

// Keeps argument i in w; false for a kind no copy keeps.
bool ArgumentKept(WaitedCall *w, const api::VtApiParam &p, const void *at, uint64_t *slot) {
  if ((p.flags & api::kParamOut) != 0) return false;
  const api::VtApiType *type = api::FindType(p.type_name);
  if ((p.flags & api::kParamArray) != 0) {  // kept when its count is fixed (a region's four corners)
    const void *values = Load<const void *>(at);
    if (p.count <= 0 || type == nullptr || type->size == 0) return false;
    Store(slot,
          values != nullptr ? BlockKept(w, values, static_cast<size_t>(p.count) * type->size) : nullptr);
    return true;
  }
  switch (p.kind) {
    case api::kKindScalar:
      if (type == nullptr || type->size > sizeof(uint64_t) * 2) return false;
      std::memcpy(slot, at, type->size);
      return true;
    case api::kKindHandle:
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

void WaitedCallMake(void *object) {
  auto *w = static_cast<WaitedCall *>(object);
  VtTypedValue result{};
  w->fn->thunk(w->argv, &result);
  if (w->fn->result_type == VtStatusType && result.value.u != 0)
    Post(VO_CLASS_WARNING, messages::kWaitedCallFailed, VO_MODULE_SYSTEM, w->fn->name, result.value.u);
  delete w;
}

}  // namespace

bool CallAfterRender() {
  api::EnteredCall *entered = api::t_entered;
  if (entered == nullptr || !RenderAfterWaits()) return false;
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
      if (!ArgumentKept(w, fn->params[i], entered->argv[i], w->slots[i])) {
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
  entered->queued = true;
  return true;
}

}  // namespace vo
