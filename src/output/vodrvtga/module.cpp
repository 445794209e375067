// vodrvtga as a module and a driver: one query function answers both the
// kernel's queries and the driver framework's (VoDriverCreate(&VoEntryTGADriver)).

#include "output/vodrvtga/tga.h"
#include "output/vodriver/face.h"
#include "kernel/vosystem/face.h"

namespace vo::tga {
namespace {

constexpr uint32_t kBuildTime = 904643049;
constinit ModuleState<TgaState> g_state(VO_MODULE_TARGA);
constexpr driver::file::FileControls kControls = {"vodrvtga", ".tga"};

VtStatus ControlGet(uint32_t code, VtTypedValue *value) {
  const TgaState *s = State();
  if (s == nullptr) return VO_STATUS_UNAVAILABLE;
  if (code == VO_CONTROL_DRIVER_COMPRESSION && value != nullptr) {
    *value = VtTypedValue{};
    value->type = VtEnum;
    value->value.u = s->compression;
    return 0;
  }
  return driver::file::FileControlGet(kControls, s->out, code, value);
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *value) {
  TgaState *s = State();
  if (s == nullptr) return VO_STATUS_UNAVAILABLE;
  if (code == VO_CONTROL_DRIVER_COMPRESSION && value != nullptr) {
    if (value->value.u > 1) return VO_STATUS_UNKNOWN_CODE;
    s->compression = value->value.u;
    return 0;
  }
  return driver::file::FileControlSet(code, value, &s->out);
}

struct TgaTable {
  template <uint32_t Code>
  static VtProc Get() {
    if constexpr (Code == VO_DRIVER_OPEN)
      return reinterpret_cast<VtProc>(&Open);
    else if constexpr (Code == VO_DRIVER_CLOSE)
      return driver::file::AnswersZero<Code>();
    else
      return driver::file::FileOperation<&FrameBegin, &RowWrite, &FrameEnd, &HeaderRead, &ImageRead, Code>();
  }
};

VtStatus Start() {
  TgaState initial{};
  initial.compression = 1;
  return driver::file::ModuleStart(g_state, initial, &VoEntryTGADriver);
}

VtStatus Terminate() { return driver::file::ModuleTerminate(g_state, "vodrvtga", &FrameRelease); }

}  // namespace

TgaState *State() { return g_state.Get(); }

}  // namespace vo::tga

namespace vo {

VtStatus VoEntryTGADriver(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kTga = {
      .number = VO_MODULE_TARGA,
      .name = "vodrvtga",
      .banner = "mrvx20 Targa file driver",
      .build_time = tga::kBuildTime,
      .control_set = &tga::ControlSet,
      .control_get = &tga::ControlGet,
      .start = &tga::Start,
      .terminate = &tga::Terminate,
      .callback = &driver::file::TableLookup<tga::TgaTable>,
  };
  return ModuleQueryAnswer(kTga, query, answer);
}

}  // namespace vo
