// The file drivers' shared pieces: stream fields, their refusal of a frame,
// their common controls and the delivery of decoded rows into an image
// through the image driver.

#include "output/vodriver/file_driver.h"

#include <cstring>

#include "kernel/vosystem/face.h"

namespace vo::driver::file {

bool ReadAll(std::FILE *f, void *bytes, size_t n) { return n == 0 || std::fread(bytes, 1, n, f) == n; }

bool WriteAll(std::FILE *f, const void *bytes, size_t n) {
  return n == 0 || std::fwrite(bytes, 1, n, f) == n;
}

off_t StreamSize(std::FILE *f) {
  const off_t here = ftello(f);
  if (here < 0 || fseeko(f, 0, SEEK_END) != 0) return -1;
  const off_t size = ftello(f);
  if (fseeko(f, here, SEEK_SET) != 0) return -1;
  return size;
}

VtStatus FrameRefuse(const FileDriverName &driver, VtStatus status, const char *why) {
  Post(status, messages::kFileFrameRefused, driver.module, driver.name, why);
  return status;
}

VtStatus FrameSizeRefuse(const FileDriverName &driver, std::FILE *out, VtStatus status, int64_t width,
                         int64_t height, const char *why) {
  const VtStatus shown =
      (status & 0xFFFFu) == VO_COND_NO_MEMORY ? VO_STATUS_NO_MEMORY : VO_STATUS_BAD_ARGUMENT;
  Post(shown, messages::kFileFrameSizeRefused, driver.module, driver.name, static_cast<double>(width),
       static_cast<double>(height), why);
  FileRemoveIfLeftEmpty(out);
  return status;
}

VtStatus FileControlGet(const FileControls &c, std::FILE *out, uint32_t code, VtTypedValue *value) {
  if (value == nullptr) return VO_STATUS_UNKNOWN_CODE;
  switch (code) {
    case VO_CONTROL_DRIVER_NAME: *value = TypedString(c.name); return 0;
    case VO_CONTROL_DRIVER_FILE_SUFFIX: *value = TypedString(c.suffix); return 0;
    case VO_CONTROL_DRIVER_FILE: *value = TypedPointer(out); return 0;
    default: return VO_STATUS_UNKNOWN_CODE;
  }
}

VtStatus FileControlSet(uint32_t code, const VtTypedValue *value, std::FILE **out) {
  if (code != VO_CONTROL_DRIVER_FILE || value == nullptr) return VO_STATUS_UNKNOWN_CODE;
  *out = static_cast<std::FILE *>(value->value.p);
  return 0;
}

const char *FrameworkTitle() {
  VtTypedValue v{};
  if (VoControlGet(VO_CONTROL_DRIVER_TITLE, &v) != 0 || v.type != VtString) return nullptr;
  return v.value.s;
}

ImageDelivery::ImageDelivery(VtImage *image, bool clear) : image_(image), clear_(clear) {
  if (image->file != nullptr) position_ = ftello(image->file);
}

ImageDelivery::~ImageDelivery() {
  (void)End();
  if (position_ >= 0) (void)fseeko(image_->file, position_, SEEK_SET);
}

VtStatus ImageDelivery::Begin() {
  begun_ = true;
  return ImageWriterBegin(&writer_, image_, clear_);
}

VtStatus ImageDelivery::End() {
  if (!begun_) return 0;
  begun_ = false;
  return ImageWriterEnd(&writer_);
}

Block::~Block() { VoDeallocate(bytes_); }

bool Block::Make(size_t n) {
  VoDeallocate(bytes_);
  bytes_ = nullptr;
  if (n == 0 || n > UINT32_MAX) return false;
  bytes_ = static_cast<uint8_t *>(VoAllocate(static_cast<uint32_t>(n)));
  if (bytes_ != nullptr) std::memset(bytes_, 0, n);
  return bytes_ != nullptr;
}

}  // namespace vo::driver::file
