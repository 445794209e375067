// vodrvmul: one render reaching several outputs. While drivers are enabled
// its record is the framework's current record, and each of its
// operations passes the call to every enabled driver in enabling order
// (each pushed as the active driver), combining the answers by code.

#include <tuple>

#include "output/vodriver/driver.h"

namespace vo::driver {

namespace {

enum class Combine { Or, FirstZeroElseLast, FirstZeroElseOr, FirstPositiveElseLast, FirstImage };

constexpr Combine CombineOf(uint32_t code) {
  switch (code) {
    case 0x1a0015:
    case 0x1a0017:
    case 0x1a0019: return Combine::FirstZeroElseLast;
    case 0x1a0024:
    case 0x1a0025: return Combine::FirstZeroElseOr;
    case 0x1a0016: return Combine::FirstPositiveElseLast;
    case 0x1a002e: return Combine::FirstImage;
    default: return Combine::Or;
  }
}

template <uint32_t Code, class P = typename Op<Code>::Proc>
struct Fan;

template <uint32_t Code, class R, class... A>
struct Fan<Code, R (*)(A...)> {
  // The one-byte operations pass only the low byte of their argument.
  template <class T>
  static T Pass(T v) {
    if constexpr (Code == 0x1a0008 || Code == 0x1a0009) return v & 0xFFu;
    return v;
  }
  static R Call(A... args) {
    constexpr Combine kHow = CombineOf(Code);
    DriverState *s = State();
    R result = 0;
    for (EnabledNode *n = s->enabled_head; n != nullptr; n = n->next) {
      if (!Push(s, n->driver)) return static_cast<R>(kNoStack);
      const R r = Slot<Code>(n->driver)(Pass(args)...);
      Pop(s);
      if constexpr (kHow == Combine::Or) {
        result |= r;
      } else if constexpr (kHow == Combine::FirstZeroElseLast) {
        if (r == 0) return 0;
        result = r;
      } else if constexpr (kHow == Combine::FirstZeroElseOr) {
        if (r == 0) return 0;
        result |= r;
      } else if constexpr (kHow == Combine::FirstPositiveElseLast) {
        if (r > 0) return r;
        result = r;
      } else {
        VtImage **image = std::get<0>(std::tuple<A...>(args...));
        if (image != nullptr && *image != nullptr) return r;
      }
    }
    if constexpr (kHow == Combine::FirstImage) {
      VtImage **image = std::get<0>(std::tuple<A...>(args...));
      if (image != nullptr) *image = nullptr;
      return 0;
    }
    return result;
  }
};

struct MultiTable {
  template <uint32_t Code>
  static VtProc Get() {
    using P = typename Op<Code>::Proc;
    if constexpr (Code == 0x1a001f)
      return nullptr;  // the framework's style fallback reaches every driver
    else if constexpr (Code == 0x1a002b || Code == 0x1a002c || Code == 0x1a002d || Code == 0x1a0031)
      return reinterpret_cast<VtProc>(&Answer<P, kNotHandled>::Call);
    else
      return reinterpret_cast<VtProc>(&Fan<Code>::Call);
  }
};

VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
  if (set != 0) return kBadArgument;
  if (slot != nullptr) *slot = ProcedureByCode<MultiTable>(code);
  return 0;
}

// Asks the enabled drivers' control-get in order; the first success ends.
VtStatus GetFromEnabled(DriverState *s, uint32_t code, VtTypedValue *value) {
  if (s->enabled_head == nullptr) return kNotHandled;
  VtStatus st = 0;
  for (EnabledNode *n = s->enabled_head; n != nullptr; n = n->next) {
    const VtStatus r = VoDriverGetControl(n->driver, code, value);
    if (r == 0) return 0;
    st |= r;
  }
  return st;
}

VtStatus MultiControlSet(uint32_t code, const VtTypedValue *value) {
  DriverState *s = State();
  switch (code) {
    case VO_CONTROL_DRIVER_NAME:
    case VO_CONTROL_DRIVER_NBUFFERS:
    case VO_CONTROL_DRIVER_FILE_SUFFIX: return kUnknown;
    case VO_CONTROL_DRIVER_BUFFER: return kNotHandled;
    default: break;
  }
  if (s->enabled_head == nullptr) return kNotHandled;
  VtStatus st = 0;
  bool accepted = false;
  for (EnabledNode *n = s->enabled_head; n != nullptr; n = n->next) {
    const VtStatus r = VoDriverSetControl(n->driver, code, value);
    accepted |= r == 0;
    st |= r;
  }
  return accepted ? 0 : st;
}

VtStatus MultiControlGet(uint32_t code, VtTypedValue *value) {
  if (value == nullptr) return kUnknown;
  switch (code) {
    case VO_CONTROL_DRIVER_NAME: *value = TypedString("vodrvmul"); return 0;
    case VO_CONTROL_DRIVER_NBUFFERS: *value = TypedNat32(0); return 0;
    case VO_CONTROL_DRIVER_BUFFER: *value = TypedPointer(nullptr); return 0;
    default: return GetFromEnabled(State(), code, value);
  }
}

}  // namespace

VtStatus EntryMultiDriver(uint32_t query, VtTypedValue *answer) {
  static constexpr BuiltInDriver kDriver = {"vodrvmul", &MultiControlSet, &MultiControlGet, &Lookup};
  return BuiltInAnswer(kDriver, query, answer);
}

}  // namespace vo::driver
