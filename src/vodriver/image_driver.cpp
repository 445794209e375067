// vodrvimg, the image driver, as far as the framework needs it: its name,
// its capability (2) and VO_CONTROL_DRIVER_IMAGE, which names an image of
// the framework's list. Its drawing operations are the null driver's until
// the driver that renders into images takes this place; its stack, colour
// map and conversion settings are already kept in the framework's state.

#include "vodriver/driver.h"
#include "vodriver/images.h"

namespace vo::driver {

namespace {

VtStatus ImageControlSet(uint32_t code, const VtTypedValue *value) {
  DriverState *s = State();
  if (code != VO_CONTROL_DRIVER_IMAGE || value == nullptr) return kUnknown;
  auto *image = static_cast<VtImage *>(value->value.p);
  if (image != nullptr && !ImageIsLive(image)) return kUnknown;
  s->image_driver_state.image = image;
  return 0;
}

VtStatus ImageControlGet(uint32_t code, VtTypedValue *value) {
  if (value == nullptr) return kUnknown;
  switch (code) {
    case VO_CONTROL_DRIVER_NAME: *value = TypedString("vodrvimg"); return 0;
    case VO_CONTROL_DRIVER_IMAGE: *value = TypedPointer(State()->image_driver_state.image); return 0;
    case VO_CONTROL_DRIVER_CAPABILITY:
      *value = VtTypedValue{};
      value->type = VtFlags;
      value->value.u = VO_DRIVER_CAPABILITY_IMAGE;
      return 0;
    default: return kUnknown;
  }
}


}  // namespace

VtStatus EntryImageDriver(uint32_t query, VtTypedValue *answer) {
  static constexpr BuiltInDriver kDriver = {"vodrvimg", &ImageControlSet, &ImageControlGet, nullptr};
  return BuiltInAnswer(kDriver, query, answer);
}

}  // namespace vo::driver
