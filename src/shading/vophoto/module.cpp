// The photometry module (vophoto, module 66) as the kernel sees it: no
// controls (both control procedures decline with 258), an execute that
// answers the bare error class, and no state: start and terminate have
// nothing to make or free, so the records, colours and readers work
// whether the module is started or not.

#include "shading/vophoto/vophoto.h"
#include "kernel/vosystem/face.h"

namespace vo {
namespace photo {
namespace {

constexpr uint32_t kBuildTime = 904643667;  // 1 September 1998, 09:54:27 UTC

// The set-form twin of VoControlDecline: one procedure cannot be called
// through both control-procedure types.
VtStatus ControlDeclineSet(uint32_t, const VtTypedValue *) { return kNotHandled; }

VtStatus Execute(uint32_t) { return VO_CLASS_ERROR; }

VtStatus Nothing() { return 0; }

}  // namespace
}  // namespace photo

VtStatus VoControlDecline(uint32_t, VtTypedValue *) { return photo::kNotHandled; }

VtStatus VoEntryPhotometry(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kPhotometry = {
      .number = VO_MODULE_PHOTOMETRY,
      .name = "vophoto",
      .banner = "mrvx20 photometry",
      .build_time = photo::kBuildTime,
      .control_set = &photo::ControlDeclineSet,
      .control_get = &exported::VoControlDecline,
      .start = &photo::Nothing,
      .execute = &photo::Execute,
      .terminate = &photo::Nothing,
      .callbacks_changed = &exported::VoCallBackNull,
  };
  return ModuleQueryAnswer(kPhotometry, query, answer);
}

}  // namespace vo
