// Frame averaging (a new frame blended into the running average held by the
// current screen buffer) and archive (the current buffer written through an
// output driver chosen by name), with the classes that run them. Both move
// whole rows through the screen-buffer module and hand the driver rows of
// bytes converted by the driver framework's converter.

#include <algorithm>
#include <cstdio>

#include "scene/vocolour/face.h"
#include "render/voscrbuf/face.h"
#include "render/voshpost/classes.h"
#include "kernel/vosystem/face.h"

namespace vo::post {

using namespace messages;

void DitherTable(int32_t accumulated, bool dither, float table[8][8]) {
  uint32_t s = 0x0C033003u;
  for (int row = 0; row < 8; ++row) {
    const uint32_t r = s & 255u;
    s ^= s >> 6;
    uint32_t t = r ^ ((static_cast<uint32_t>(accumulated) & 255u) ^ 0x08022002u);
    for (int cell = 0; cell < 8; ++cell) {
      table[row][cell] = dither ? static_cast<float>((t & 255u) + 128u) * 0.00390625f : 1.0f;
      t ^= t >> 6;
    }
  }
}

namespace {

struct Facts {
  uint32_t width = 0, height = 0, mask = 0;
};

// Mask and size of a buffer: 753 when a read fails (facts 0), 695 when the
// colour plane is missing; each with 0x20000012.
VtStatus ColourBuffer(VtScreenBuffer *b, Facts *f) {
  VtTypedValue v{};
  VtStatus st = 0;
  if (VoScreenBufferGetDataMask(b, &f->mask) != 0) {
    Post(kRefused, kPostBufferFact, kModule);
    return kRefused;
  }
  if ((f->mask & VO_SB_COLOUR) == 0) {
    Post(kRefused, kPostPlaneMissing, kModule, f->mask);
    st = kRefused;
  }
  if (VoScreenBufferGetControl(b, VO_SB_WIDTH, &v) == 0)
    f->width = v.value.u;
  else
    st = kRefused;
  if (VoScreenBufferGetControl(b, VO_SB_HEIGHT, &v) == 0)
    f->height = v.value.u;
  else
    st = kRefused;
  if (st != 0 && (f->mask & VO_SB_COLOUR) != 0) Post(kRefused, kPostBufferFact, kModule);
  return st;
}

// Rows of one pass: colour with alpha (4 floats a pixel), a second colour
// row, and the bytes for the driver.
struct Rows {
  float *pixels = nullptr;
  float *other = nullptr;
  uint8_t *bytes = nullptr;
  bool Make(uint32_t width) {
    const size_t n = width;
    if (n == 0 || n > 0x7fffffffu / (8 * sizeof(float) + 3)) return false;
    pixels = static_cast<float *>(VoAllocate(static_cast<uint32_t>(n * 7 * sizeof(float) + n * 3)));
    if (pixels == nullptr) return false;
    other = pixels + 4 * n;
    bytes = reinterpret_cast<uint8_t *>(other + 3 * n);
    return true;
  }
  ~Rows() { VoDeallocate(pixels); }
};

struct Averaging {
  VtScreenBuffer *target, *source;
  uint32_t width, height;  // used
  float accumulated, inverse;
  float table[8][8];
  bool dither, alpha;
  VtDriverRecord *driver;
  VtDriverRowProc scanline;
  Rows rows;
};

VtStatus PlainRow(Averaging &a, uint32_t y) {
  if (sb::ReadColumns(a.target, y, 0, a.width, a.rows.pixels, sb::kRGB) != 0 ||
      sb::ReadColumns(a.source, y, 0, a.width, a.rows.other, sb::kRGB) != 0) {
    Post(kRefused, kPostPixelRead, kModule, 0, y);
    return kRefused;
  }
  float *t = a.rows.pixels;
  const float *s = a.rows.other;
  for (uint32_t i = 0; i < 3 * a.width; ++i) t[i] = (t[i] * a.accumulated + s[i]) * a.inverse;
  if (sb::WriteColumns(a.target, 0, y, 0, a.width, t, 3) != 0) {
    Post(kRefused, kPostPixelWrite, kModule, 0, y);
    return kRefused;
  }
  return 0;
}

// The alpha plane holds the weight already in each pixel; the table's cell
// is the new frame's.
VtStatus DitheredRow(Averaging &a, uint32_t y) {
  VtStatus st = 0;
  if (sb::ReadColumns(a.target, y, 0, a.width, a.rows.pixels, sb::kRGBA) != 0 ||
      sb::ReadColumns(a.source, y, 0, a.width, a.rows.other, sb::kRGB) != 0) {
    Post(kRefused, kPostPixelRead, kModule, 0, y);
    return kRefused;
  }
  if (!a.alpha) {
    Post(kRefused, kPostPixelRead, kModule, 0, y);
    st = kRefused;
  }
  float *p = a.rows.pixels;
  const float *s = a.rows.other;
  for (uint32_t x = 0; x < a.width; ++x, p += 4, s += 3) {
    const float d = a.table[y & 7][x & 7];
    const float w = a.alpha ? p[3] : 0.0f;
    const float n = 1.0f / (w + d);
    for (int k = 0; k < 3; ++k) p[k] = p[k] * (w * n) + s[k] * (d * n);
    p[3] = w + d;
  }
  if (!a.alpha || sb::WriteColumns(a.target, 1, y, 0, a.width, a.rows.pixels + 3, 4) != 0) {
    Post(kRefused, kPostPixelWrite, kModule, 0, y);
    st = kRefused;
  }
  if (sb::WriteColumns(a.target, 0, y, 0, a.width, a.rows.pixels, 4) != 0) {
    Post(kRefused, kPostPixelWrite, kModule, 0, y);
    st = kRefused;
  }
  return st;
}

// The target's used area through the recorded driver's scanline operation.
void Show(Averaging &a) {
  (void)VoDriverBeginFrame(a.driver, 0, static_cast<int32_t>(a.width) - 1, 0,
                           static_cast<int32_t>(a.height) - 1);
  for (uint32_t y = 0; y < a.height; ++y) {
    if (sb::ReadColumns(a.target, y, 0, a.width, a.rows.other, sb::kRGB) != 0) break;
    colour::BytesFromFloats(a.rows.other, a.rows.bytes, 3 * static_cast<size_t>(a.width));
    (void)a.scanline(y, a.rows.bytes);
  }
  (void)VoDriverEndFrame(a.driver);
}

VtDriverRowProc Scanline(VtDriverRecord *driver) {
  return reinterpret_cast<VtDriverRowProc>(VoDriverOperationGet(driver, VO_DRIVER_ROW_BYTES));
}

}  // namespace

// ---- The classes ----

VtStatus AverageFramesEvaluate(void *data) {
  const auto *d = static_cast<const AverageFramesData *>(data);
  VtShaderGlobals *g = VoShaderGetGlobals();
  const VtPostprocessContext *c = State();
  Facts in, out;
  VtStatus st = ColourBuffer(g->Bi, &in) | ColourBuffer(g->Bo, &out);
  if (st == 0 && d->dither != 0 && (out.mask & VO_SB_ALPHA) == 0) {
    Post(kRefused, kPostPlaneMissing, kModule, out.mask);
    st = kRefused;
  }
  if (st == 0)
    st = VoPostprocessAverageFrames(d->source, d->accumulated, d->dither, d->updateRgb,
                                    c != nullptr ? c->quiet : 1, d->feedbackRate);
  (void)VoPostprocessStatusSet(st);
  return 0;
}

namespace {

// The image the image driver renders into while it is current: making the
// archive's driver current closes the image driver's record, and making it
// current again opens one without an image, which the archive puts back.
class ImageKept {
 public:
  explicit ImageKept(VtDriverRecord *previous) {
    if (previous != nullptr && VoDriverGetControl(previous, VO_CONTROL_DRIVER_IMAGE, &image_) != 0)
      image_ = TypedPointer(nullptr);
  }
  VtStatus Restore(VtDriverRecord *previous) const {
    VtTypedValue now = TypedPointer(nullptr);
    if (image_.value.p == nullptr || VoDriverGetControl(previous, VO_CONTROL_DRIVER_IMAGE, &now) != 0 ||
        now.value.p == image_.value.p)
      return 0;
    return VoDriverSetControl(previous, VO_CONTROL_DRIVER_IMAGE, &image_);
  }

 private:
  VtTypedValue image_ = TypedPointer(nullptr);
};

}  // namespace

// The file is never opened when the buffers fail their checks.
VtStatus ArchiveEvaluate(void *data) {
  const auto *d = static_cast<const ArchiveData *>(data);
  VtShaderGlobals *g = VoShaderGetGlobals();
  Facts in, out;
  VtStatus st = ColourBuffer(g->Bi, &in) | ColourBuffer(g->Bo, &out);
  if (st == 0 && VoPostprocessArchive(d->driverName != nullptr ? d->driverName : "",
                                      d->fileName != nullptr ? d->fileName : "") != 0) {
    Post(kRefused, kPostBufferFact, kModule);
    st = kRefused;
  }
  (void)VoPostprocessStatusSet(st);
  return 0;
}

}  // namespace vo::post

namespace vo {

using post::kModule;
using post::kRefused;
using namespace messages;

VtStatus VoPostprocessAverageFrames(VtScreenBuffer *source, int32_t accumulated, uint32_t dither,
                                    uint32_t update, uint32_t quiet, int32_t feedback) {
  // The new frame weighs 1 / (accumulated + 1): a negative count would
  // divide by zero (-1) or extrapolate past the frames given (below -1).
  if (accumulated < 0) {
    Post(kRefused, kAverageCountNegative, kModule, "VoPostprocessAverageFrames", accumulated);
    return kRefused;
  }
  post::Averaging a{};
  post::DitherTable(accumulated, dither != 0, a.table);
  a.accumulated = static_cast<float>(accumulated);
  a.inverse = 1.0f / (a.accumulated + 1.0f);
  a.dither = dither != 0;
  a.source = source;
  // A rate of 0 or below counts as 1: every row is shown.
  const uint32_t rate = feedback > 1 ? static_cast<uint32_t>(feedback) : 1;
  VtStatus st = 0;
  a.driver = VoDriverGet();
  if (a.driver == nullptr) {
    Post(kRefused, kPostNoDriver, kModule);
    st = kRefused;
  } else if ((a.scanline = post::Scanline(a.driver)) == nullptr) {
    Post(kRefused, kPostNoScanline, kModule, "");
    st = kRefused;
  }
  a.target = VoScreenBufferGet();
  post::Facts target, from;
  st |= post::ColourBuffer(a.target, &target) | post::ColourBuffer(source, &from);
  a.alpha = (target.mask & VO_SB_ALPHA) != 0;
  a.width = std::min(target.width, from.width);
  a.height = std::min(target.height, from.height);
  if (a.width == 0) {
    Post(kRefused, kPostWidthZero, kModule);
    st = kRefused;
  }
  if (a.height == 0) {
    Post(kRefused, kPostHeightZero, kModule);
    st = kRefused;
  }
  if (st == 0 && !a.rows.Make(a.width)) {
    Post(kRefused, kPostRowNoMemory, kModule);
    st = kRefused;
  }
  if (st != 0) return st;
  const bool feedbackOn = update != 0 && quiet == 0;
  (void)VoPostprocessReportProgress(0.0);
  const double step = 100.0 / a.height;
  double progress = 0;
  for (uint32_t y = 0; st == 0 && y < a.height; ++y) {
    st = a.dither ? post::DitheredRow(a, y) : post::PlainRow(a, y);
    if (feedbackOn && y % rate == 0) post::Show(a);
    progress += step;
    (void)VoPostprocessReportProgress(progress);
  }
  if (feedbackOn) post::Show(a);
  return st;
}

VtStatus VoPostprocessArchive(const char *driverName, const char *fileName) {
  VtDriverRecord *previous = VoDriverGet();
  const post::ImageKept image(previous);
  VtScreenBuffer *buffer = VoScreenBufferGet();
  if (buffer == nullptr) {
    Post(kRefused, kPostNoCurrentBuffer, kModule);
    return kRefused;
  }
  const char *name = driverName != nullptr ? driverName : "";
  VtDriverRecord *driver = VoDriverFindFromName(name);
  if (driver == nullptr) {
    // Nothing is opened: a misspelt name never truncates the file.
    Post(kRefused, kPostNoScanline, kModule, name);
    return kRefused;
  }
  VtStatus st = VoDriverSet(driver);
  const VtDriverRowProc scanline = post::Scanline(driver);
  if (st == 0 && scanline == nullptr) {
    Post(kRefused, kPostNoScanline, kModule, name);
    st = kRefused;
  }
  void *file = nullptr;
  // The driver's own file, the application's when it renders to this driver.
  VtTypedValue kept = TypedPointer(nullptr);
  if (st == 0) {
    if (VoDriverGetControl(driver, VO_CONTROL_DRIVER_FILE, &kept) != 0) kept = TypedPointer(nullptr);
    file = VoFileOpen(fileName != nullptr ? fileName : "", 2);
    if (file == nullptr) {
      Post(kRefused, kPostFileNotOpened, kModule, fileName != nullptr ? fileName : "");
      st = kRefused;
    }
  }
  post::Facts facts;
  post::Rows rows;
  bool begun = false;
  if (file != nullptr) {
    const VtTypedValue handle = TypedPointer(file);
    st |= VoDriverSetControl(driver, VO_CONTROL_DRIVER_FILE, &handle);
    st |= post::ColourBuffer(buffer, &facts);
    if (st == 0 && facts.width != 0 && facts.height != 0) {
      if (!rows.Make(facts.width)) {
        Post(kRefused, kPostRowNoMemory, kModule);
        st = kRefused;
      } else {
        st = VoDriverBeginFrame(driver, 0, static_cast<int32_t>(facts.width) - 1, 0,
                                static_cast<int32_t>(facts.height) - 1);
        begun = st == 0;
      }
    }
  }
  if (begun) {
    (void)VoPostprocessReportProgress(0.0);
    const double step = 100.0 / facts.height;
    double progress = 0;
    for (uint32_t y = 0; st == 0 && y < facts.height; ++y) {
      st |= sb::ReadColumns(buffer, y, 0, facts.width, rows.other, sb::kRGB);
      colour::BytesFromFloats(rows.other, rows.bytes, 3 * static_cast<size_t>(facts.width));
      st |= scanline(y, rows.bytes);
      progress += step;
      (void)VoPostprocessReportProgress(progress);
    }
    st |= VoDriverEndFrame(driver);
  }
  if (file != nullptr) {
    // The driver lets go of the archive's file before it is closed and
    // takes back the one it had; a write the disk refused is a failure.
    st |= VoDriverSetControl(driver, VO_CONTROL_DRIVER_FILE, &kept);
    auto *stream = static_cast<std::FILE *>(file);
    if (std::fflush(stream) != 0 || std::ferror(stream) != 0) st |= kRefused;
    st |= VoFileClose(file);
    if (st != 0) Post(kRefused, kArchiveNotWritten, kModule, fileName != nullptr ? fileName : "", name, st);
  }
  if (previous != nullptr) st |= VoDriverSet(previous) | image.Restore(previous);
  return st;
}

}  // namespace vo
