// The BMP writer: a begun frame collects its rows in memory; end frame
// writes the 54-byte header field by field and the rows bottom-up, blue,
// green, red, each padded to a multiple of four bytes.
//
// A frame writes to the stream that was set as it began: a stream set
// while it runs (from a render's callback, null among them) is the next
// frame's.
//
// A row or end frame without a begun frame, and a row outside it, is
// refused; a second begin frame releases the first frame's rows. Files of
// 2^32 bytes or more are refused at begin frame: the size field has 32
// bits, and the rows fit VoAllocate's 32-bit size. A frame refused for its
// size (or for its rows' memory) is refused before anything is written, with
// a diagnostic that names the size.

#include <cstring>

#include "output/vodrvbmp/bmp.h"
#include "output/vodriver/face.h"
#include "kernel/vosystem/face.h"

namespace vo::bmp {

using driver::file::FrameRefuse;
using driver::file::FrameSizeRefuse;
using driver::file::Put16;
using driver::file::Put32;

namespace {

constexpr driver::file::FileDriverName kDriver = {VO_MODULE_BMP, "vodrvbmp"};

void HeaderFill(const BmpState *s, uint8_t *h) {
  const uint32_t width = static_cast<uint32_t>(s->x1 - s->x0 + 1);
  const uint32_t height = static_cast<uint32_t>(s->y1 - s->y0 + 1);
  std::memset(h, 0, kHeaderBytes);
  h[0] = 'B';
  h[1] = 'M';
  Put32(h + 2, static_cast<uint32_t>(kHeaderBytes + s->stride * height));
  Put32(h + 10, kHeaderBytes);
  Put32(h + 14, 40);
  Put32(h + 18, width);
  Put32(h + 22, height);
  Put16(h + 26, 1);
  Put16(h + 28, 24);
}

}  // namespace

void FrameRelease(BmpState *s) {
  VoDeallocate(s->rows);
  s->rows = nullptr;
}

VtStatus FrameBegin(int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
  BmpState *s = State();
  if (s == nullptr) return driver::file::kWriteFailed;
  if (s->out == nullptr) return FrameRefuse(kDriver, driver::file::kWriteFailed, driver::file::kNoOutputFile);
  FrameRelease(s);
  const int64_t width = int64_t{x1} - x0 + 1;
  const int64_t height = int64_t{y1} - y0 + 1;
  if (width < 1 || height < 1) return FrameRefuse(kDriver, VO_STATUS_UNKNOWN_CODE, "an empty frame");
  const uint64_t stride = (static_cast<uint64_t>(width) * 3 + 3) / 4 * 4;
  const uint64_t bytes = stride * static_cast<uint64_t>(height);
  if (bytes > UINT32_MAX - kHeaderBytes)
    return FrameSizeRefuse(kDriver, s->out, VO_STATUS_UNKNOWN_CODE, width, height, "a file of 4 GB or more");
  s->rows = static_cast<uint8_t *>(VoAllocate(static_cast<uint32_t>(bytes)));
  if (s->rows == nullptr)
    return FrameSizeRefuse(kDriver, s->out, VO_STATUS_NO_MEMORY, width, height, "no memory for its rows");
  std::memset(s->rows, 0, bytes);  // padding and undelivered rows go out as zeros
  s->frame_out = s->out;
  s->stride = stride;
  s->x0 = x0;
  s->x1 = x1;
  s->y0 = y0;
  s->y1 = y1;
  return 0;
}

VtStatus RowStore(uint32_t y, void *pixels) {
  BmpState *s = State();
  if (s == nullptr || s->rows == nullptr)
    return FrameRefuse(kDriver, VO_STATUS_UNKNOWN_CODE, "a row without a begun frame");
  if (int64_t{y} < s->y0 || int64_t{y} > s->y1 || pixels == nullptr)
    return FrameRefuse(kDriver, VO_STATUS_UNKNOWN_CODE, "a row outside the frame");
  const size_t width = static_cast<size_t>(s->x1 - s->x0 + 1);
  std::memcpy(s->rows + (static_cast<size_t>(y) - static_cast<size_t>(s->y0)) * s->stride, pixels, width * 3);
  return 0;
}

VtStatus FrameEnd() {
  BmpState *s = State();
  if (s == nullptr || s->rows == nullptr)
    return FrameRefuse(kDriver, driver::file::kWriteFailed, "an end frame without a begun frame");
  uint8_t header[kHeaderBytes];
  HeaderFill(s, header);
  bool ok = driver::file::WriteAll(s->frame_out, header, sizeof header);
  const size_t width = static_cast<size_t>(s->x1 - s->x0 + 1);
  for (int64_t y = s->y1 - s->y0; y >= 0 && ok; --y) {
    uint8_t *row = s->rows + static_cast<size_t>(y) * s->stride;
    for (size_t x = 0; x < width; ++x) std::swap(row[3 * x], row[3 * x + 2]);
    ok = driver::file::WriteAll(s->frame_out, row, s->stride);
  }
  ok = std::fflush(s->frame_out) == 0 && ok;
  FrameRelease(s);
  if (ok) return 0;
  Post(VO_CLASS_ERROR, messages::kFileWriteFailed, VO_MODULE_BMP);
  return driver::file::kWriteFailed;
}

}  // namespace vo::bmp
