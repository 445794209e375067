// vodrvnul: the driver that is current when nothing else is, and the
// source of every operation another driver leaves empty. It accepts
// nothing and draws nothing; its poll is where the interrupt signal
// becomes the interrupt answer 64.

#include "platform/interrupt.h"
#include "vodriver/driver.h"
#include "vosystem/message_numbers.h"

namespace vo::driver {

namespace {

VtStatus Poll() {
  if (!platform::InterruptTake()) return 0;
  Post(0, messages::kInterruptReceived, VO_MODULE_DRIVER);
  return kInterrupted;
}

VtStatus NoColourMapImage(VtImage **image) {
  if (image != nullptr) *image = nullptr;
  return 0;
}

VtStatus ControlSetRefused(uint32_t, const VtTypedValue *) { return kRefused; }

VtStatus NullControlGet(uint32_t code, VtTypedValue *value) {
  if (value == nullptr) return kRefused;
  if (code == VO_CONTROL_DRIVER_NAME) {
    *value = TypedString("vodrvnul");
    return 0;
  }
  *value = TypedInt32(0);
  return kRefused;
}

template <uint32_t Code>
VtProc NullOperation() {
  using P = typename Op<Code>::Proc;
  if constexpr (Code == 0x1a001a) return reinterpret_cast<VtProc>(&Poll);
  else if constexpr (Code == 0x1a0016) return reinterpret_cast<VtProc>(&Answer<P, -1>::Call);
  else if constexpr (Code == 0x1a001c) return reinterpret_cast<VtProc>(&Answer<P, kRefused>::Call);
  else if constexpr (Code == 0x1a0020) return reinterpret_cast<VtProc>(&Answer<P, 0>::Call);
  else if constexpr (Code == 0x1a002e) return reinterpret_cast<VtProc>(&NoColourMapImage);
  else return reinterpret_cast<VtProc>(&Answer<P, kNotHandled>::Call);
}

VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
  if (set != 0 || slot == nullptr) return 0;
  switch (code) {
#define VO_NULL_CASE(code, form) \
  case code: *slot = NullOperation<code>(); break;
    VO_DRIVER_SLOTS(VO_NULL_CASE)
#undef VO_NULL_CASE
    default: *slot = nullptr; break;
  }
  return 0;
}

VtStatus Nothing() { return 0; }

}  // namespace

VtStatus EntryNullDriver(uint32_t query, VtTypedValue *answer) {
  if (answer == nullptr) return 0;
  switch (query) {
    case VO_QUERY_CONTROL_SET: *answer = TypedFunc(&ControlSetRefused); return 0;
    case VO_QUERY_CONTROL_GET: *answer = TypedFunc(&NullControlGet); return 0;
    case VO_QUERY_START:
    case VO_QUERY_TERMINATE: *answer = TypedFunc(&Nothing); return 0;
    case VO_QUERY_REGISTRY_NAME: *answer = TypedString("vodrvnul"); return 0;
    case VO_QUERY_CALLBACK: *answer = TypedFunc(&Lookup); return 0;
    default: return VoEntryDriver(query, answer);
  }
}

}  // namespace vo::driver
