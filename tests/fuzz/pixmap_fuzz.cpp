// libFuzzer target: pixmap expansion of the Direct3D back end (seeds in
// corpus/pixmap_fuzz). The first byte gives the width (1 to 64), the second
// the height (1 to 64); the rest is the compressed stream of row
// differences. Every input must end in an image of that size, whole or
// with the bytes it did not reach zero.
#include <cstdint>

#include <vo/vo_api.h>

namespace {

VtStatus Quiet(VtStatus, uint32_t, uint32_t, uint32_t, VtTypedValue *) { return 0; }

bool Started() {
  static const bool started = [] {
    if (VoInitialise() != 0) return false;
    VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&Quiet));
    return true;
  }();
  return started;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2 || !Started()) return 0;
  const int32_t width = data[0] % 64 + 1, height = data[1] % 64 + 1;
  VtImage *image =
      VoD3DPixmapExpand(width, height, const_cast<uint8_t *>(data + 2), static_cast<uint32_t>(size - 2));
  if (image == nullptr || image->width != width || image->height != height) __builtin_trap();
  VoImageDestroy(image);
  return 0;
}
