// vodrvbmp as a module and a driver: one query function answers both the
// kernel's queries and the driver framework's (VoDriverCreate(&VoEntryBMPDriver)).
// Start makes the state and the driver; terminate destroys both.

#include "output/vodrvbmp/bmp.h"
#include "output/vodriver/face.h"
#include "kernel/vosystem/face.h"

namespace vo::bmp {
namespace {

constexpr uint32_t kBuildTime = 904643049;
constinit ModuleState<BmpState> g_state(VO_MODULE_BMP);
constexpr driver::file::FileControls kControls = {"vodrvbmp", ".bmp"};

VtStatus ControlGet(uint32_t code, VtTypedValue *value) {
  const BmpState *s = State();
  return driver::file::FileControlGet(kControls, s != nullptr ? s->out : nullptr, code, value);
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *value) {
  BmpState *s = State();
  if (s == nullptr) return VO_STATUS_UNAVAILABLE;
  return driver::file::FileControlSet(code, value, &s->out);
}

// Rows, clears and colours are answered; lines are not (258, as from the
// Targa and JPEG drivers): a line render into a file says it drew nothing.
struct BmpTable {
  template <uint32_t Code>
  static VtProc Get() {
    if constexpr (Code == VO_DRIVER_OPEN || Code == VO_DRIVER_CLOSE || Code == VO_DRIVER_CLEAR ||
                  Code == 0x1a000a || Code == 0x1a000b || Code == 0x1a0020)
      return driver::file::AnswersZero<Code>();
    else
      return driver::file::FileOperation<&FrameBegin, &RowStore, &FrameEnd, &HeaderRead, &ImageRead, Code>();
  }
};

VtStatus Start() { return driver::file::ModuleStart(g_state, BmpState{}, &VoEntryBMPDriver); }

VtStatus Terminate() { return driver::file::ModuleTerminate(g_state, "vodrvbmp", &FrameRelease); }

}  // namespace

BmpState *State() { return g_state.Get(); }

}  // namespace vo::bmp

namespace vo {

VtStatus VoEntryBMPDriver(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kBmp = {
      .number = VO_MODULE_BMP,
      .name = "vodrvbmp",
      .banner = "mrvx20 BMP file driver",
      .build_time = bmp::kBuildTime,
      .control_set = &bmp::ControlSet,
      .control_get = &bmp::ControlGet,
      .start = &bmp::Start,
      .terminate = &bmp::Terminate,
      .callback = &driver::file::TableLookup<bmp::BmpTable>,
  };
  return ModuleQueryAnswer(kBmp, query, answer);
}

}  // namespace vo
