// vodrvnul: the driver that is current when nothing else is, and the
// source of every operation another driver leaves empty. It accepts
// nothing and draws nothing; its poll is where the interrupt signal
// becomes the interrupt answer 64.

#include "platform/interrupt.h"
#include "output/vodriver/driver.h"
#include "kernel/vosystem/face.h"

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

struct NullTable {
  template <uint32_t Code>
  static VtProc Get() {
    using P = typename Op<Code>::Proc;
    if constexpr (Code == 0x1a001a)
      return reinterpret_cast<VtProc>(&Poll);
    else if constexpr (Code == 0x1a0016)
      return reinterpret_cast<VtProc>(&Answer<P, -1>::Call);
    else if constexpr (Code == 0x1a001c)
      return reinterpret_cast<VtProc>(&Answer<P, kRefused>::Call);
    else if constexpr (Code == 0x1a0020)
      return reinterpret_cast<VtProc>(&Answer<P, 0>::Call);
    else if constexpr (Code == 0x1a002e)
      return reinterpret_cast<VtProc>(&NoColourMapImage);
    else
      return reinterpret_cast<VtProc>(&Answer<P, kNotHandled>::Call);
  }
};

VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
  if (set == 0 && slot != nullptr) *slot = ProcedureByCode<NullTable>(code);
  return 0;
}

}  // namespace

VtStatus EntryNullDriver(uint32_t query, VtTypedValue *answer) {
  LibraryPollSet(reinterpret_cast<VtProc>(&Poll));
  static constexpr BuiltInDriver kDriver = {"vodrvnul", &ControlSetRefused, &NullControlGet, &Lookup};
  return BuiltInAnswer(kDriver, query, answer);
}

}  // namespace vo::driver
