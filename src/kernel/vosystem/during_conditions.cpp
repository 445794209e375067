// The conditions under which a running render refuses a call whose class
// depends on its arguments, as the interface description declares them
// ("if" on a during line, VtApiFunction::conditions), judged by the exported
// wrapper before the procedure runs: the one place, so no procedure judges
// them again. The kernel judges what it holds (values given, the rings the
// running renders started with); the module owning primitives and materials
// gives its tests at its start (ConditionTestSet). A test only compares the
// value given with what the renders hold, or reads a record it first finds
// live, so any value an application passes is judged without harm.

#include <atomic>
#include <cstring>

#include "kernel/vosystem/api_guard.h"
#include "kernel/vosystem/kernel.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::api {

namespace {

std::atomic<ApiConditionTest> g_condition_tests[kConditionCount];

// The argument's storage: argv[i] points at it.
const void *Handle(const void *const *argv, uint32_t i) { return *static_cast<const void *const *>(argv[i]); }

bool Given(const VtApiParam &p, const void *const *argv, uint32_t i) {
  if ((p.flags & kParamOut) == 0) {
    if (p.kind == kKindHandle) return Handle(argv, i) != nullptr;
    return *static_cast<const uint32_t *>(argv[i]) != 0;
  }
  const void *address = Handle(argv, i);
  if ((p.flags & kParamIn) == 0 || address == nullptr) return address != nullptr;
  return *static_cast<const uint32_t *>(address) != 0;  // an in-out value
}

bool AtomHolds(const VtApiFunction *fn, uint32_t kind, uint32_t i, const void *const *argv) {
  switch (kind) {
    case kConditionGiven: return Given(fn->params[i], argv, i);
    // A ring is held as a primitive list a running render started with; any
    // other object (a driver: none given stands for the current one) as
    // the running render's held set names it. The calls a render's
    // callback makes on a list find the light list the render prepared
    // held too.
    case kConditionHeld:
      if (std::strcmp(fn->params[i].type_name, "VtReference") == 0)
        return RingRendered(static_cast<const VtReference *>(Handle(argv, i)));
      return RenderHoldsObject(HeldObjectOf(fn->params[i], Handle(argv, i)));
    case kConditionHeldByCaller:
      return RingRenderedByCaller(static_cast<const VtReference *>(Handle(argv, i))) ||
             RenderHoldsObject(Handle(argv, i));
    default: break;
  }
  const ApiConditionTest test = kind < kConditionCount ? g_condition_tests[kind].load() : nullptr;
  return test != nullptr && test(Handle(argv, i));
}

// Whether clause c of the condition holds: each of its atoms for some of
// its parameters.
bool ClauseHolds(const VtApiFunction *fn, uint32_t c, const void *const *argv) {
  for (uint32_t a = 0; a < fn->condition_count; ++a) {
    const VtApiCondition &atom = fn->conditions[a];
    if (atom.clause != c) continue;
    bool holds = false;
    for (uint32_t i = 0; i < fn->param_count && !holds; ++i)
      holds = (atom.params >> i & 1u) != 0 && AtomHolds(fn, atom.kind, i, argv);
    if (!holds) return false;
  }
  return true;
}

// A refused call hands out nothing: its output handles are left null.
void OutputsClear(const VtApiFunction *fn, const void *const *argv) {
  for (uint32_t i = 0; i < fn->param_count; ++i) {
    const VtApiParam &p = fn->params[i];
    if (p.flags == kParamOut && p.kind == kKindHandle)
      if (void *address = const_cast<void *>(Handle(argv, i))) *static_cast<void **>(address) = nullptr;
  }
}

}  // namespace

void ConditionTestSet(ApiCondition kind, ApiConditionTest test) {
  if (kind < kConditionCount) g_condition_tests[kind].store(test);
}

bool ConditionRefused(const VtApiFunction *fn, const void *const *argv) noexcept {
  if (!RenderRunning()) return false;
  const uint32_t clauses = fn->conditions[fn->condition_count - 1].clause + 1;
  bool holds = false;
  for (uint32_t c = 0; c < clauses && !holds; ++c) holds = ClauseHolds(fn, c, argv);
  if (!holds) return false;
  OutputsClear(fn, argv);
  try {
    Post(VO_STATUS_BAD_ARGUMENT, fn->during_message, VO_MODULE_SYSTEM, fn->name);
  } catch (...) {
    // No memory for the diagnostic: the call is refused all the same.
  }
  return true;
}

}  // namespace vo::api
