// vodrvjpg as a module and a driver: its controls (quality 0x4f0001,
// smoothing 0x4f0002, rewind 0x4f0003 and the driver controls), the frame
// it compresses and the files it reads, all through jpeg_glue.
//
// A row or end frame without a begun frame is refused; a second begin
// frame abandons the first compression. A frame side past 65535 (the
// format's 16-bit field) is refused with message 2853 naming both sides. Both reads rewind the stream first:
// a driver does not rely on where its caller left it. A frame writes to the
// stream set as it began; one set while it runs is the next frame's.

#include <cstring>

#include "output/vodriver/face.h"
#include "output/vodrvjpg/jpeg_glue.h"
#include "kernel/vosystem/face.h"

namespace vo::jpg {
namespace {

using driver::file::FrameRefuse;

constexpr uint32_t kBuildTime = 904643049;
constexpr uint32_t kQuality = 0x4f0001;
constexpr uint32_t kSmoothing = 0x4f0002;
constexpr uint32_t kRewind = 0x4f0003;
constexpr uint32_t kSideLimit = 65535;
constexpr VtStatus kWriteFailed = driver::file::kWriteFailed;
constexpr driver::file::FileControls kControls = {"vodrvjpg", ".jpg"};
constexpr driver::file::FileDriverName kDriver = {VO_MODULE_JPEG, "vodrvjpg"};

struct JpegState {
  std::FILE *out;  // standard output at start and when set to null
  uint32_t quality;
  uint32_t smoothing;
  uint32_t rewind;
  JpegWriter *writer;    // the begun frame's compression, or null
  std::FILE *frame_out;  // the stream it writes to, the one set as it began
  uint32_t height;
  uint32_t rows;
};

constinit ModuleState<JpegState> g_state(VO_MODULE_JPEG);

JpegState *State() { return g_state.Get(); }

VtStatus ControlGet(uint32_t code, VtTypedValue *value) {
  const JpegState *s = State();
  if (s == nullptr || value == nullptr) return VO_STATUS_UNAVAILABLE;
  switch (code) {
    case kQuality: *value = TypedNat32(s->quality); return 0;
    case kSmoothing: *value = TypedNat32(s->smoothing); return 0;
    case kRewind: *value = TypedBoolean(s->rewind != 0); return 0;
    default: return driver::file::FileControlGet(kControls, s->out, code, value);
  }
}

VtStatus ControlSet(uint32_t code, const VtTypedValue *value) {
  JpegState *s = State();
  if (s == nullptr || value == nullptr) return VO_STATUS_UNAVAILABLE;
  switch (code) {
    case kQuality: s->quality = std::min(value->value.u, 100u); return 0;
    case kSmoothing: s->smoothing = std::min(value->value.u, 100u); return 0;
    case kRewind: s->rewind = value->value.u != 0; return 0;
    default: {
      const VtStatus st = driver::file::FileControlSet(code, value, &s->out);
      if (st == 0 && s->out == nullptr) s->out = stdout;
      return st;
    }
  }
}

void WriterRelease(JpegState *s) {
  JpegWriterFree(s->writer);
  s->writer = nullptr;
}

VtStatus FrameBegin(int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
  JpegState *s = State();
  if (s == nullptr) return kWriteFailed;
  WriterRelease(s);
  if (s->rewind) (void)fseeko(s->out, 0, SEEK_SET);
  const int64_t width = int64_t{x1} - x0 + 1;
  const int64_t height = int64_t{y1} - y0 + 1;
  if (width < 1 || height < 1) return kWriteFailed;
  if (width > kSideLimit || height > kSideLimit) {
    Post(kWriteFailed, messages::kJpegSideRefused, VO_MODULE_JPEG, kDriver.name, static_cast<double>(width),
         static_cast<double>(height), static_cast<double>(kSideLimit));
    FileRemoveIfLeftEmpty(s->out);  // nothing was written
    return kWriteFailed;
  }
  const CompressSettings settings = {static_cast<uint32_t>(width), static_cast<uint32_t>(height), s->quality,
                                     s->smoothing, driver::file::FrameworkTitle()};
  VtStatus st = 0;
  s->writer = JpegWriterBegin(s->out, settings, &st);
  s->frame_out = s->out;
  s->height = settings.height;
  s->rows = 0;
  return st;
}

VtStatus RowCompress(uint32_t, void *pixels) {
  JpegState *s = State();
  if (s == nullptr || s->writer == nullptr)
    return FrameRefuse(kDriver, VO_STATUS_UNKNOWN_CODE, "a row without a begun frame");
  if (s->rows >= s->height || pixels == nullptr)
    return FrameRefuse(kDriver, VO_STATUS_UNKNOWN_CODE, "a row past the frame");
  ++s->rows;
  return JpegWriterRow(s->writer, static_cast<const uint8_t *>(pixels)) ? 0 : kWriteFailed;
}

VtStatus FrameEnd() {
  JpegState *s = State();
  if (s == nullptr || s->writer == nullptr)
    return FrameRefuse(kDriver, kWriteFailed, "an end frame without a begun frame");
  const bool ok = JpegWriterFinish(s->writer) && std::fflush(s->frame_out) == 0;
  WriterRelease(s);
  return ok ? 0 : kWriteFailed;
}

// A reader of the image's file from its start; null with *status.
JpegReader *ReaderOpen(VtImage *image, uint32_t *width, uint32_t *height, VtStatus *status) {
  *status = VO_STATUS_UNAVAILABLE;
  if (image == nullptr || image->file == nullptr || fseeko(image->file, 0, SEEK_SET) != 0) return nullptr;
  return JpegReaderOpen(image->file, image->name, width, height, status);
}

VtStatus HeaderRead(VtImage *image) {
  uint32_t width = 0, height = 0;
  VtStatus st = 0;
  JpegReader *r = ReaderOpen(image, &width, &height, &st);
  if (r == nullptr) return st == VO_STATUS_NO_MEMORY ? st : VO_STATUS_UNAVAILABLE;
  JpegReaderFree(r);
  if (width < 1 || height < 1 || width > kSideLimit || height > kSideLimit) return VO_STATUS_UNAVAILABLE;
  image->width = static_cast<int32_t>(width);
  image->height = static_cast<int32_t>(height);
  return 0;
}

VtStatus RowsRead(VtImage *image, JpegReader *r) {
  driver::file::Block row;
  if (!row.Make(3 * static_cast<size_t>(image->width))) return VO_STATUS_NO_MEMORY;
  driver::file::ImageDelivery out(image, false);
  VtStatus st = out.Begin();
  if (st == 0) st = JpegReaderStart(r);
  for (int32_t y = 0; y < image->height && st == 0; ++y)
    st = JpegReaderRow(r, row.Bytes()) ? out.Row(y, row.Bytes()) : VO_STATUS_UNAVAILABLE;
  if (st == 0 && !JpegReaderFinish(r)) st = VO_STATUS_UNAVAILABLE;
  return st | out.End();
}

VtStatus ImageRead(VtImage *image) {
  uint32_t width = 0, height = 0;
  VtStatus st = 0;
  JpegReader *r = ReaderOpen(image, &width, &height, &st);
  if (r == nullptr) return st;
  if (static_cast<int64_t>(width) != image->width || static_cast<int64_t>(height) != image->height)
    st = VO_STATUS_UNAVAILABLE;
  else if (image->data == nullptr)
    st = driver::ImageReaderAllocate(image);
  if (st != 0) {
    JpegReaderFree(r);
    return st;
  }
  st = RowsRead(image, r);
  JpegReaderFree(r);
  return st;
}

VtStatus Accept(uint32_t kind) { return kind == 2 ? 0 : VO_DRIVER_NOT_HANDLED; }

struct JpegTable {
  template <uint32_t Code>
  static VtProc Get() {
    if constexpr (Code == 0x1a0020)
      return reinterpret_cast<VtProc>(&Accept);
    else if constexpr (Code == VO_DRIVER_OPEN || Code == VO_DRIVER_CLOSE)
      return driver::file::AnswersZero<Code>();
    else
      return driver::file::FileOperation<&FrameBegin, &RowCompress, &FrameEnd, &HeaderRead, &ImageRead,
                                         Code>();
  }
};

VtStatus Start() {
  return driver::file::ModuleStart(g_state, JpegState{stdout, 85, 0, 1, nullptr, nullptr, 0, 0},
                                   &VoEntryJPEGDriver);
}

VtStatus Terminate() { return driver::file::ModuleTerminate(g_state, "vodrvjpg", &WriterRelease); }

}  // namespace
}  // namespace vo::jpg

namespace vo {

VtStatus VoEntryJPEGDriver(uint32_t query, VtTypedValue *answer) {
  static const ModuleDescription kJpeg = {
      .number = VO_MODULE_JPEG,
      .name = "vodrvjpg",
      .banner = "mrvx20 JPEG file driver",
      .build_time = jpg::kBuildTime,
      .control_set = &jpg::ControlSet,
      .control_get = &jpg::ControlGet,
      .start = &jpg::Start,
      .terminate = &jpg::Terminate,
      .callback = &driver::file::TableLookup<jpg::JpegTable>,
  };
  return ModuleQueryAnswer(kJpeg, query, answer);
}

}  // namespace vo
