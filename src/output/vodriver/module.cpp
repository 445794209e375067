// The driver framework as a module: VoEntryDriver's answers. The built-in
// drivers' query functions answer their own queries and pass the rest here.

#include "output/vodriver/driver.h"
#include "kernel/vosystem/face.h"

namespace vo::driver {
namespace {

constexpr uint32_t kBuildTime = 916159187;

}  // namespace

VtStatus BuiltInAnswer(const BuiltInDriver &d, uint32_t query, VtTypedValue *answer) {
  if (answer == nullptr) return 0;
  switch (query) {
    case VO_QUERY_CONTROL_SET: *answer = TypedFunc(d.control_set); return 0;
    case VO_QUERY_CONTROL_GET: *answer = TypedFunc(d.control_get); return 0;
    case VO_QUERY_START:
    case VO_QUERY_TERMINATE: *answer = TypedFunc(&exported::VoCallBackNull); return 0;
    case VO_QUERY_REGISTRY_NAME: *answer = TypedString(d.name); return 0;
    case VO_QUERY_CALLBACK: *answer = d.lookup != nullptr ? TypedFunc(d.lookup) : VtTypedValue{}; return 0;
    default: break;
  }
  return VoEntryDriver(query, answer);
}

}  // namespace vo::driver

namespace vo {

VtStatus VoEntryDriver(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kDriver = {
      .number = VO_MODULE_DRIVER,
      .name = "vodriver",
      .banner = "mrvx20 output drivers",
      .build_time = driver::kBuildTime,
      .control_set = &driver::ControlSet,
      .control_get = &driver::ControlGet,
      .start = &driver::FrameworkStart,
      .terminate = &driver::FrameworkTerminate,
      .callbacks_changed = &exported::VoCallBackNull,
      .callback = &driver::CallbackProcedure,
  };
  return ModuleQueryAnswer(kDriver, query, answer);
}

}  // namespace vo
