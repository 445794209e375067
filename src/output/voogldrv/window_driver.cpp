// vodrvwin: the output driver of a desktop window, made by voogldrv's start.
// OpenGL frames draw into its window; every other renderer writes its rows
// into the window's client area.
#include "host/desktop.h"
#include "output/vodriver/face.h"
#include "output/voogldrv/ogldrv.h"
#include "kernel/vosystem/face.h"

namespace vo::ogldrv {

namespace {

// The driver's window while it is the one set, else null.
VtWindow *Window() {
  VtOGLDrvRecord *r = Record();
  if (r == nullptr || !platform::WindowIsNamed(r->driver_window, r->driver_window_serial)) return nullptr;
  return r->driver_window;
}

VtStatus WindowControlSet(uint32_t code, const VtTypedValue *value) {
  VtOGLDrvRecord *r = Record();
  if (value == nullptr || code != VO_CONTROL_DRIVER_WINDOW) return VO_STATUS_UNKNOWN_CODE;
  if (r == nullptr) return VO_STATUS_UNAVAILABLE;
  auto *window = static_cast<VtWindow *>(value->value.p);
  if (!platform::IsWindow(window) || window == platform::GetDesktopWindow()) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kOGLNotAWindow, VO_MODULE_OPENGL_DRIVERS);
    return VO_STATUS_BAD_ARGUMENT;
  }
  r->driver_window = window;
  r->driver_window_serial = platform::WindowSerial(window);
  return 0;
}

VtStatus WindowControlGet(uint32_t code, VtTypedValue *value) {
  if (value == nullptr) return VO_STATUS_UNKNOWN_CODE;
  const VtWindow *w = Window();
  switch (code) {
    case VO_CONTROL_DRIVER_NAME: *value = TypedString("vodrvwin"); return 0;
    case VO_CONTROL_DRIVER_WINDOW: *value = TypedPointer(const_cast<VtWindow *>(w)); return 0;
    case VO_CONTROL_DRIVER_WIDTH:
      *value = TypedNat32(w != nullptr ? static_cast<uint32_t>(w->width) : 0);
      return 0;
    case VO_CONTROL_DRIVER_HEIGHT:
      *value = TypedNat32(w != nullptr ? static_cast<uint32_t>(w->height) : 0);
      return 0;
    default: return VO_STATUS_UNKNOWN_CODE;
  }
}

VtStatus FrameBegin(int32_t x0, int32_t, int32_t y0, int32_t) {
  VtOGLDrvRecord *r = Record();
  if (r == nullptr || DriverWindowLive(r) == nullptr) return VO_STATUS_UNAVAILABLE;
  r->driver_x0 = x0;
  r->driver_y0 = y0;
  return 0;
}

// One row of red, green, blue bytes from the frame's first column, into
// the client area (clipped to it and to the screen).
VtStatus RowWrite(uint32_t y, void *pixels) {
  VtOGLDrvRecord *r = Record();
  VtWindow *w = Window();
  if (r == nullptr || w == nullptr) return VO_STATUS_UNAVAILABLE;
  if (pixels == nullptr) return VO_STATUS_UNKNOWN_CODE;
  if (y >= static_cast<uint32_t>(w->height)) return 0;
  const platform::PixelView screen = platform::ScreenView();
  if (screen.base == nullptr) return VO_STATUS_UNAVAILABLE;
  const auto *in = static_cast<const uint8_t *>(pixels);
  const int32_t sy = w->y + static_cast<int32_t>(y);
  if (sy < 0 || sy >= screen.height) return 0;
  for (int32_t cx = r->driver_x0 < 0 ? 0 : r->driver_x0; cx < w->width; ++cx) {
    const int32_t sx = w->x + cx;
    if (sx < 0 || sx >= screen.width) continue;
    const uint8_t *p = in + static_cast<size_t>(cx - r->driver_x0) * 3;
    platform::PixelWrite(screen, sx, sy, platform::Colour8{p[0], p[1], p[2], 255});
  }
  return 0;
}

struct WindowTable {
  template <uint32_t Code>
  static VtProc Get() {
    using P = typename driver::Op<Code>::Proc;
    if constexpr (Code == VO_DRIVER_BEGIN_FRAME)
      return reinterpret_cast<VtProc>(&FrameBegin);
    else if constexpr (Code == 0x1a000f)
      return reinterpret_cast<VtProc>(&RowWrite);
    else if constexpr (Code == VO_DRIVER_END_FRAME || Code == VO_DRIVER_OPEN || Code == VO_DRIVER_CLOSE ||
                       Code == VO_DRIVER_CLEAR || Code == 0x1a000a || Code == 0x1a000b || Code == 0x1a0020)
      return reinterpret_cast<VtProc>(&driver::Answer<P, 0>::Call);
    else
      return nullptr;
  }
};

}  // namespace

VtWindow *DriverWindowLive(VtOGLDrvRecord *r) {
  if (platform::WindowIsNamed(r->driver_window, r->driver_window_serial)) return r->driver_window;
  if (r->driver_window != nullptr)
    Post(VO_STATUS_UNAVAILABLE, messages::kOGLWindowGone, VO_MODULE_OPENGL_DRIVERS,
         static_cast<const void *>(r->driver_window), VO_CONTROL_DRIVER_WINDOW);
  return nullptr;
}

VtStatus WindowDriverEntry(uint32_t query, VtTypedValue *answer) {
  static constexpr driver::BuiltInDriver kDriver = {"vodrvwin", &WindowControlSet, &WindowControlGet,
                                                    &driver::file::TableLookup<WindowTable>};
  return driver::BuiltInAnswer(kDriver, query, answer);
}

}  // namespace vo::ogldrv
