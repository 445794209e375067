// A display driver for tests: capability 4 (it shows device pixels), it
// answers the RGB, mask, gamma, conversion and amplitude controls it is
// given, takes device-value rows (0x1a000e) and installs a colour
// conversion for its display mode on itself at begin frame.
#pragma once

#include <map>
#include <vector>

#include <vo/vo_driver.h>

#include "output/vodriver/colour_conversion.h"
#include "output/vodriver/driver.h"

namespace vo::test {

struct DisplayDriver {
  static inline std::map<uint32_t, VtTypedValue> controls;  // the answered gets
  static inline int32_t mode = 6;                           // display mode of its conversion
  static inline uint32_t width = 0;
  static inline std::vector<std::vector<uint32_t>> rows;  // the device rows received

  static void Reset(int32_t display_mode) {
    controls.clear();
    mode = display_mode;
    width = 0;
    rows.clear();
  }
  static VtStatus Open() { return 0; }
  static VtStatus Close() {
    return driver::Active(driver::State())->conversion != nullptr ? driver::ConversionRemove() : 0;
  }
  static VtStatus Frame(int32_t x0, int32_t x1, int32_t, int32_t) {
    width = static_cast<uint32_t>(x1 - x0 + 1);
    VtStatus st = 0;
    if (driver::Active(driver::State())->conversion == nullptr) st = driver::ConversionInstall(mode, nullptr);
    return st != 0 ? st : driver::ConversionFrameStart(width);
  }
  static VtStatus EndFrame() { return 0; }
  static VtStatus Words(uint32_t, void *pixels) {
    const auto *w = static_cast<const uint32_t *>(pixels);
    rows.emplace_back(w, w + width);
    return 0;
  }
  static VtStatus Accept(uint32_t) { return 0; }
  static VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
    if (set != 0 || slot == nullptr) return 0;
    auto p = [](auto f) { return reinterpret_cast<VtProc>(f); };
    switch (code) {
      case VO_DRIVER_OPEN: *slot = p(&Open); break;
      case VO_DRIVER_CLOSE: *slot = p(&Close); break;
      case VO_DRIVER_BEGIN_FRAME: *slot = p(&Frame); break;
      case VO_DRIVER_END_FRAME: *slot = p(&EndFrame); break;
      case VO_DRIVER_ROW_DEVICE: *slot = p(&Words); break;
      case VO_DRIVER_ACCEPT_OUTPUT: *slot = p(&Accept); break;
      default: *slot = nullptr;
    }
    return 0;
  }
  static VtStatus ControlGet(uint32_t code, VtTypedValue *v) {
    if (code == VO_CONTROL_DRIVER_CAPABILITY) {
      *v = VtTypedValue{};
      v->type = VtFlags;
      v->value.u = VO_DRIVER_CAPABILITY_DEVICE;
      return 0;
    }
    auto it = controls.find(code);
    if (it == controls.end()) return VO_DRIVER_REFUSED;
    *v = it->second;
    return 0;
  }
  static VtStatus ControlSet(uint32_t, const VtTypedValue *) { return VO_DRIVER_REFUSED; }
  static VtStatus Query(uint32_t query, VtTypedValue *a) {
    *a = VtTypedValue{};
    if (query == VO_QUERY_REGISTRY_NAME) *a = TypedString("display");
    if (query == VO_QUERY_CALLBACK) *a = TypedFunc(&Lookup);
    if (query == VO_QUERY_CONTROL_GET) *a = TypedFunc(&ControlGet);
    if (query == VO_QUERY_CONTROL_SET) *a = TypedFunc(&ControlSet);
    return 0;
  }
  static void Int(uint32_t code, int32_t value) { controls[code] = TypedInt32(value); }
  static void Real(uint32_t code, float value) {
    VtTypedValue v{};
    v.type = VtFloat;
    v.value.f = value;
    controls[code] = v;
  }
};

}  // namespace vo::test
