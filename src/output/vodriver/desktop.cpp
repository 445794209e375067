// The desktop's procedures for applications: the screen mode, windows to
// name as output targets, and the screen or a bitmap read back as a 24-bit
// image. Refusals answer 0x20000012 (null for the procedures that make
// something) with message 2742 naming the procedure and the reason.
#include <cstring>

#include "host/desktop.h"
#include "kernel/vosystem/face.h"

namespace vo {

namespace {

using namespace platform;

VtStatus Refused(const char *procedure, const char *why) {
  Post(VO_STATUS_BAD_ARGUMENT, messages::kDesktopArgument, VO_MODULE_DRIVER, procedure, why);
  return VO_STATUS_BAD_ARGUMENT;
}

// A new 24-bit image of the size, its pixels black.
VtImage *ImageOfSize(int32_t width, int32_t height) {
  VtImage *image = VoImageCreate();
  if (image == nullptr) return nullptr;
  image->width = width;
  image->height = height;
  if (VoImageAllocateData(image) != 0) {
    (void)VoImageDestroy(image);
    return nullptr;
  }
  std::memset(image->data, 0, static_cast<size_t>(image->bytes_per_row) * static_cast<size_t>(height));
  return image;
}

void ImagePixelSet(VtImage *image, int32_t x, int32_t y, Colour8 c) {
  uint8_t *p = image->data + static_cast<size_t>(y) * static_cast<size_t>(image->bytes_per_row) +
               static_cast<size_t>(x) * 3;
  p[0] = c.r;
  p[1] = c.g;
  p[2] = c.b;
}

bool SideOk(int32_t side) { return side >= 1 && side <= kSideLimit; }

}  // namespace

VtStatus VoDesktopSetMode(int32_t width, int32_t height, int32_t bits) {
  switch (ScreenSetMode(width, height, bits)) {
    case kOk: return 0;
    case DDERR_WRONGMODE: return Refused("VoDesktopSetMode", "a DirectDraw object holds the mode");
    case E_OUTOFMEMORY: return VO_STATUS_NO_MEMORY;
    default: return Refused("VoDesktopSetMode", "sides 1 to 16384 and 8, 16, 24 or 32 bits");
  }
}

VtWindow *VoDesktopWindowCreate(int32_t x, int32_t y, int32_t width, int32_t height) {
  if (!SideOk(width) || !SideOk(height)) {
    (void)Refused("VoDesktopWindowCreate", "sides 1 to 16384");
    return nullptr;
  }
  return WindowCreate(x, y, width, height);
}

VtStatus VoDesktopWindowMove(VtWindow *window, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (!IsWindow(window) || window == GetDesktopWindow())
    return Refused("VoDesktopWindowMove", "no live window");
  if (!SideOk(width) || !SideOk(height)) return Refused("VoDesktopWindowMove", "sides 1 to 16384");
  return WindowMove(window, x, y, width, height) == kOk ? 0 : VO_STATUS_BAD_ARGUMENT;
}

VtStatus VoDesktopWindowDestroy(VtWindow *window) {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  return WindowDestroy(window) == kOk ? 0 : Refused("VoDesktopWindowDestroy", "no live window");
}

VtImage *VoDesktopGetImage(int32_t x, int32_t y, int32_t width, int32_t height) {
  if (!SideOk(width) || !SideOk(height)) {
    (void)Refused("VoDesktopGetImage", "sides 1 to 16384");
    return nullptr;
  }
  const PixelView screen = ScreenView();
  VtImage *image = screen.base != nullptr ? ImageOfSize(width, height) : nullptr;
  if (image == nullptr) return nullptr;
  const Rect inside =
      RectIntersect(Rect{x, y, x + width, y + height}, Rect{0, 0, screen.width, screen.height});
  for (int32_t sy = inside.top; sy < inside.bottom; ++sy)
    for (int32_t sx = inside.left; sx < inside.right; ++sx)
      ImagePixelSet(image, sx - x, sy - y, PixelRead(screen, sx, sy));
  return image;
}

VtImage *VoDesktopBitmapGetImage(VtBitmap *bitmap) {
  if (!IsBitmap(bitmap)) {
    (void)Refused("VoDesktopBitmapGetImage", "no live bitmap");
    return nullptr;
  }
  VtImage *image = ImageOfSize(bitmap->width, bitmap->height);
  if (image == nullptr) return nullptr;
  const PixelView view = PixelView{bitmap->pixels,
                                   bitmap->pitch,
                                   bitmap->width,
                                   bitmap->height,
                                   bitmap->bits == 8 ? PixelKind::Indexed8 : PixelKind::Rgb888,
                                   bitmap->colours,
                                   nullptr};
  for (int32_t y = 0; y < bitmap->height; ++y)
    for (int32_t x = 0; x < bitmap->width; ++x) ImagePixelSet(image, x, y, PixelRead(view, x, y));
  return image;
}

}  // namespace vo
