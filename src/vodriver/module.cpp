// The driver framework as a module: VoEntryDriver's answers. The built-in
// drivers' query functions answer their own queries and pass the rest here.

#include "vodriver/driver.h"
#include "vosystem/module_entry.h"

namespace vo::driver {
namespace {

constexpr uint32_t kBuildTime = 916158299;

VtStatus Nothing() { return 0; }

}  // namespace
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
      .callbacks_changed = &driver::Nothing,
      .callback = &driver::CallbackProcedure,
  };
  return ModuleQueryAnswer(kDriver, query, answer);
}

}  // namespace vo
