// Fuzzes the image readers: the first byte picks the file suffix (BMP,
// Targa, JPEG or PNG reader first; any reader whose header matches may take
// the file), the rest is the file's bytes, read from memory through
// VoImageReadFromFile. Every input must end in an image or a refusal.
#include <cstdint>
#include <cstdio>

#include <vo/vo_api.h>
#include <vo/vo_driver.h>

namespace {

VtStatus Quiet(VtStatus, uint32_t, uint32_t, uint32_t, VtTypedValue *) { return 0; }

bool Started() {
  static const bool started = [] {
    if (VoInitialise() != 0) return false;
    VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&Quiet));
    // Headers may declare any size: the readers' pixel limit keeps each
    // input's image small (2^20 pixels), so that time goes to decoding.
    VtTypedValue limit = {};
    limit.type = VtNat32;
    limit.value.u = 1u << 20;
    return VoControlSet(VO_CONTROL_IMAGE_PIXEL_LIMIT, &limit) == 0;
  }();
  return started;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const char *const kNames[] = {"fuzz.bmp", "fuzz.tga", "fuzz.jpg", "fuzz.png"};
  if (size < 2 || !Started()) return 0;
  std::FILE *file = fmemopen(const_cast<uint8_t *>(data + 1), size - 1, "rb");
  if (file == nullptr) return 0;
  if (VtImage *image = VoImageReadFromFile(file, kNames[data[0] % 4])) VoImageDestroy(image);
  std::fclose(file);
  return 0;
}
