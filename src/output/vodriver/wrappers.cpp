// The operation wrappers: each names a driver (0 for the current record),
// pushes it as the active driver, calls one slot and pops. A foreign
// driver handle is refused before anything is called. VoDriverReadLine
// answers -1 whenever no driver can be called (framework not started,
// foreign driver, stack full): its callers read until a negative answer, so
// a positive status there would be taken for a line.

#include "output/vodriver/driver.h"

namespace vo::driver {
namespace {

// Failure answers of a wrapper: statuses, or one value for every failure.
struct Statuses {
  static constexpr VtStatus unavailable = kUnavailable;
  static constexpr VtStatus bad_argument = kBadArgument;
  static constexpr VtStatus no_stack = kNoStack;
};
struct NoLine {
  static constexpr int32_t unavailable = -1;
  static constexpr int32_t bad_argument = -1;
  static constexpr int32_t no_stack = -1;
};

template <uint32_t Code, class R = VtStatus, class F = Statuses, class... A>
R Wrap(VtDriverRecord *driver, const char *procedure, A... args) {
  DriverState *s = State();
  if (s == nullptr) return static_cast<R>(F::unavailable);
  VtDriverRecord *d = DriverResolve(s, driver, procedure);
  if (d == nullptr) return static_cast<R>(F::bad_argument);
  if (!Push(s, d)) return static_cast<R>(F::no_stack);
  const R r = Slot<Code>(d)(args...);
  Pop(s);
  return r;
}

}  // namespace
}  // namespace vo::driver

namespace vo {

using driver::Wrap;

VtStatus VoDriverBeginFrame(VtDriverRecord *d, int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
  return Wrap<0x1a0003>(d, "VoDriverBeginFrame", x0, x1, y0, y1);
}
VtStatus VoDriverEndFrame(VtDriverRecord *d) { return Wrap<0x1a0004>(d, "VoDriverEndFrame"); }
VtStatus VoDriverWriteScanIndex(VtDriverRecord *d, uint32_t y, void *pixels) {
  return Wrap<0x1a000e>(d, "VoDriverWriteScanIndex", y, pixels);
}
VtStatus VoDriverWriteScan(VtDriverRecord *d, uint32_t y, void *pixels) {
  return Wrap<0x1a000f>(d, "VoDriverWriteScan", y, pixels);
}
VtStatus VoDriverWriteScanRGBFloat(VtDriverRecord *d, uint32_t y, void *pixels) {
  return Wrap<0x1a0010>(d, "VoDriverWriteScanRGBFloat", y, pixels);
}
VtStatus VoDriverWriteScanRGBAFloat(VtDriverRecord *d, uint32_t y, void *pixels) {
  return Wrap<0x1a0032>(d, "VoDriverWriteScanRGBAFloat", y, pixels);
}
VtStatus VoDriverOpen(VtDriverRecord *d) { return Wrap<0x1a0001>(d, "VoDriverOpen"); }
VtStatus VoDriverClose(VtDriverRecord *d) { return Wrap<0x1a0002>(d, "VoDriverClose"); }
VtStatus VoDriverAcceptOutput(VtDriverRecord *d, uint32_t kind) {
  return Wrap<0x1a0020>(d, "VoDriverAcceptOutput", kind);
}
VtStatus VoDriverWriteMessage(VtDriverRecord *d, const char *text) {
  return Wrap<0x1a0017>(d, "VoDriverWriteMessage", text);
}
int32_t VoDriverReadLine(VtDriverRecord *d, void *buffer, uint32_t size) {
  return Wrap<0x1a0016, int32_t, driver::NoLine>(d, "VoDriverReadLine", static_cast<char *>(buffer), size);
}
VtStatus VoDriverDraw(VtDriverRecord *d, uint32_t type, uint32_t count, VtDrawRecord *record) {
  return Wrap<0x1a0022>(d, "VoDriverDraw", type, count, record);
}
VtStatus VoDriverSubRegionBegin(VtDriverRecord *d, VtSubRegion *region) {
  return Wrap<0x1a0036>(d, "VoDriverSubRegionBegin", static_cast<const VtSubRegion *>(region));
}
VtStatus VoDriverSubRegionEnd(VtDriverRecord *d) { return Wrap<0x1a0037>(d, "VoDriverSubRegionEnd"); }
VtStatus VoDriverWriteBlock(VtDriverRecord *d, int32_t x, int32_t y, int32_t width, int32_t rows,
                            void *pixels) {
  return Wrap<0x1a0038>(d, "VoDriverWriteBlock", x, y, width, rows, static_cast<const uint8_t *>(pixels));
}

}  // namespace vo
