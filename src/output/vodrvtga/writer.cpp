// The Targa writer: begin frame rewinds the stream and writes the 18-byte
// header and the title; every row goes to the file as it arrives (raw, or
// run-length packets per row); end frame adds the version 2 extension area
// and footer and patches the height when fewer rows came than the frame
// holds. Rows and end frame write to the stream that was set as the frame
// began: a stream set while it runs (from a render's callback, null among
// them) is the next frame's.
//
// Frames outside 1..65535 pixels a side are refused (the header holds 16
// bits); titles are cut to the 255 characters the one-byte ID length holds;
// a file whose extension area would start beyond 32 bits keeps none.

#include <cstdlib>
#include <cstring>

#include "platform/clock.h"
#include "output/vodrvtga/tga.h"
#include "output/vodriver/face.h"
#include "kernel/vosystem/face.h"

namespace vo::tga {

using driver::file::FrameRefuse;
using driver::file::FrameSizeRefuse;
using driver::file::kWriteFailed;
using driver::file::Put16;
using driver::file::Put32;
using driver::file::WriteAll;

namespace {

constexpr uint32_t kSideLimit = 65535;
constexpr size_t kTitleLimit = 255;
constexpr char kSignature[] = "TRUEVISION-XFILE.";  // 17 characters and the zero byte
constexpr driver::file::FileDriverName kDriver = {VO_MODULE_TARGA, "vodrvtga"};

VtStatus WriteFailure() {
  Post(VO_CLASS_ERROR, messages::kFileWriteFailed, VO_MODULE_TARGA);
  return kWriteFailed;
}

void TextField(uint8_t *field, size_t size, const char *text) {
  const size_t n = std::min(std::strlen(text), size - 1);
  std::memcpy(field, text, n);
}

void ExtensionFill(uint8_t *e) {
  std::memset(e, 0, kExtensionBytes);
  Put16(e, kExtensionBytes);
  const char *user = std::getenv("USER");
  TextField(e + 2, 41, user != nullptr && *user != '\0' ? user : "Unknown");
  int when[6];
  (void)platform::LocalTime(when);
  for (int i = 0; i < 6; ++i) Put16(e + 367 + 2 * i, static_cast<uint32_t>(when[i]));
  TextField(e + 426, 41, "vodrvtga");
}

// The extension area and footer at the stream's position; false on a
// write failure. A position beyond 32 bits drops both.
bool ExtensionWrite(std::FILE *out) {
  const off_t at = ftello(out);
  if (at < 0) return false;
  if (static_cast<uint64_t>(at) > UINT32_MAX) {
    Post(VO_CLASS_DEBUG, messages::kTargaExtensionDropped, VO_MODULE_TARGA);
    return true;
  }
  uint8_t e[kExtensionBytes];
  ExtensionFill(e);
  uint8_t footer[kFooterBytes] = {};
  Put32(footer, static_cast<uint32_t>(at));
  std::memcpy(footer + 8, kSignature, sizeof kSignature);
  return WriteAll(out, e, sizeof e) && WriteAll(out, footer, sizeof footer);
}

// Patches type (none written) and height to the rows that came.
VtStatus HeightPatch(TgaState *s) {
  VtStatus st = 0;
  uint8_t word[2];
  if (s->rows_written == 0) {
    word[0] = 0;
    if (fseeko(s->frame_out, 2, SEEK_SET) != 0)
      st |= VO_STATUS_UNAVAILABLE;
    else if (!WriteAll(s->frame_out, word, 1))
      st |= WriteFailure();
  }
  Put16(word, s->rows_written);
  if (fseeko(s->frame_out, 14, SEEK_SET) != 0)
    st |= VO_STATUS_UNAVAILABLE;
  else if (!WriteAll(s->frame_out, word, 2))
    st |= WriteFailure();
  (void)fseeko(s->frame_out, 0, SEEK_END);
  Post(VO_CLASS_DEBUG, messages::kTargaRowsShort, VO_MODULE_TARGA, s->rows_written, s->height);
  return st;
}

}  // namespace

void FrameRelease(TgaState *s) {
  VoDeallocate(s->packets);
  s->packets = nullptr;
}

VtStatus Open() {
  TgaState *s = State();
  if (s != nullptr && s->packets == nullptr) s->width = s->height = 0;
  return 0;
}

size_t RowEncode(const uint8_t *rgb, uint32_t width, uint8_t *out) {
  auto same = [rgb](uint32_t a, uint32_t b) { return std::memcmp(rgb + 3 * a, rgb + 3 * b, 3) == 0; };
  auto bgr = [rgb](uint32_t i, uint8_t *to) {
    to[0] = rgb[3 * i + 2];
    to[1] = rgb[3 * i + 1];
    to[2] = rgb[3 * i];
  };
  size_t n = 0;
  uint32_t i = 0;
  while (i < width) {
    if (i + 1 < width && same(i, i + 1)) {
      uint32_t run = 2;
      while (i + run < width && run < 128 && same(i, i + run)) ++run;
      out[n++] = static_cast<uint8_t>(0x80 | (run - 1));
      bgr(i, out + n);
      n += 3;
      i += run;
      continue;
    }
    const size_t head = n++;
    uint32_t count = 0;
    do {
      bgr(i++, out + n);
      n += 3;
      ++count;
    } while (i < width && count < 128 && !(i + 1 < width && same(i, i + 1)));
    out[head] = static_cast<uint8_t>(count - 1);
  }
  return n;
}

VtStatus FrameBegin(int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
  TgaState *s = State();
  if (s == nullptr) return kWriteFailed;
  if (s->out == nullptr) return FrameRefuse(kDriver, kWriteFailed, driver::file::kNoOutputFile);
  FrameRelease(s);
  const int64_t width = int64_t{x1} - x0 + 1;
  const int64_t height = int64_t{y1} - y0 + 1;
  if (width < 1 || height < 1)
    return FrameRefuse(kDriver, VO_STATUS_UNKNOWN_CODE, "a frame side outside 1..65535");
  if (width > kSideLimit || height > kSideLimit)
    return FrameSizeRefuse(kDriver, s->out, VO_STATUS_UNKNOWN_CODE, width, height, "a side above 65535");
  s->packets = static_cast<uint8_t *>(VoAllocate(static_cast<uint32_t>(4 * width)));
  if (s->packets == nullptr) return VO_STATUS_NO_MEMORY;
  s->width = static_cast<uint32_t>(width);
  s->height = static_cast<uint32_t>(height);
  s->y0 = y0;
  s->y1 = y1;
  s->rows_written = 0;
  s->frame_out = s->out;
  const char *title = driver::file::FrameworkTitle();
  const size_t title_length = title != nullptr ? std::min(std::strlen(title), kTitleLimit) : 0;
  uint8_t h[kHeaderBytes] = {};
  h[0] = static_cast<uint8_t>(title_length);
  h[2] = s->compression != 0 ? 10 : 2;
  Put16(h + 12, s->width);
  Put16(h + 14, s->height);
  h[16] = 24;
  h[17] = 0x20;
  if (fseeko(s->frame_out, 0, SEEK_SET) != 0 || !WriteAll(s->frame_out, h, sizeof h) ||
      !WriteAll(s->frame_out, title, title_length))
    return WriteFailure();
  return 0;
}

VtStatus RowWrite(uint32_t y, void *pixels) {
  TgaState *s = State();
  if (s == nullptr || s->packets == nullptr)
    return FrameRefuse(kDriver, VO_STATUS_UNKNOWN_CODE, "a row without a begun frame");
  if (int64_t{y} < s->y0 || int64_t{y} > s->y1 || s->rows_written >= s->height || pixels == nullptr)
    return FrameRefuse(kDriver, VO_STATUS_UNKNOWN_CODE, "a row outside the frame");
  const auto *rgb = static_cast<const uint8_t *>(pixels);
  size_t n = 0;
  if (s->compression != 0) {
    n = RowEncode(rgb, s->width, s->packets);
  } else {
    driver::file::PixelsSwap(rgb, s->packets, s->width);
    n = 3 * size_t{s->width};
  }
  ++s->rows_written;
  return WriteAll(s->frame_out, s->packets, n) ? 0 : WriteFailure();
}

VtStatus FrameEnd() {
  TgaState *s = State();
  if (s == nullptr || s->packets == nullptr)
    return FrameRefuse(kDriver, kWriteFailed, "an end frame without a begun frame");
  VtStatus st = ExtensionWrite(s->frame_out) ? 0 : WriteFailure();
  if (s->rows_written != s->height) st |= HeightPatch(s);
  if (std::fflush(s->frame_out) != 0 && st == 0) st = WriteFailure();
  FrameRelease(s);
  return st;
}

}  // namespace vo::tga
