// Pixel modes: the writers of one shaded pixel and of a run of background
// pixels in each mode, their choice, and the averaging writers that take an
// oversampled render down to the requested resolution.
//
// The averaging writers are driver row procedures of the loop: they add each
// source line into the frame's accumulator and hand an output line to the
// driver when the last source line of its block has come; the driver's
// status is passed back (a failed write under oversampling is not success).

#include <cstring>

#include "render/vorenstd/renderer.h"

namespace vo::renstd {

namespace {

inline float Clamped(float c) {
  if (c > 1.0f) return 1.0f;
  return c >= 0.0f ? c : 0.0f;  // not a number fails both tests
}

uint8_t *PixelBytes(uint8_t *d, const float *c) {
  d[0] = Quantise(c[0]);
  d[1] = Quantise(c[1]);
  d[2] = Quantise(c[2]);
  return d + 3;
}

uint8_t *PixelFloats(uint8_t *d, const float *c) {
  std::memcpy(d, c, 12);
  return d + 12;
}

uint8_t *PixelFloatsClamped(uint8_t *d, const float *c) {
  const float out[3] = {Clamped(c[0]), Clamped(c[1]), Clamped(c[2])};
  std::memcpy(d, out, 12);
  return d + 12;
}

uint8_t *PixelRgbaClamped(uint8_t *d, const float *c) {
  const float out[4] = {Clamped(c[0]), Clamped(c[1]), Clamped(c[2]), Clamped(*AlphaOfContext())};
  std::memcpy(d, out, 16);
  return d + 16;
}

uint8_t *PixelRgba(uint8_t *d, const float *c) {
  const float out[4] = {c[0], c[1], c[2], *AlphaOfContext()};
  std::memcpy(d, out, 16);
  return d + 16;
}

const uint8_t *BackgroundBytes(uint8_t *scratch) {
  if (RenderFrame *f = Frame()) return f->background_bytes;
  const float *cb = State()->g_Cb;
  for (int i = 0; i < 3; ++i) scratch[i] = Quantise(cb[i]);
  return scratch;
}

// The first pixel written, then the run doubled from what is written.
uint8_t *BackgroundRunBytes(uint8_t *d, uint32_t count) {
  if (count == 0) return d;
  uint8_t scratch[3];
  const uint8_t *b = BackgroundBytes(scratch);
  d[0] = b[0];
  d[1] = b[1];
  d[2] = b[2];
  const size_t bytes = size_t{count} * 3;
  for (size_t done = 3; done < bytes;) {
    const size_t more = done < bytes - done ? done : bytes - done;
    std::memcpy(d + done, d, more);
    done += more;
  }
  return d + bytes;
}

uint8_t *BackgroundRunFloats(uint8_t *d, uint32_t count) {
  const float *cb = State()->g_Cb;
  for (uint32_t i = 0; i < count; ++i, d += 12) std::memcpy(d, cb, 12);
  return d;
}

uint8_t *BackgroundRunRgba(uint8_t *d, uint32_t count) {
  const float *cb = State()->g_Cb;
  const float pixel[4] = {cb[0], cb[1], cb[2], 0.0f};
  for (uint32_t i = 0; i < count; ++i, d += 16) std::memcpy(d, pixel, 16);
  return d;
}

// Adds the source line into the accumulator (N source pixels per output
// pixel); true when the line completes its block.
template <class Sum, class Source>
bool Accumulate(const Averaging &a, uint32_t y, const Source *source, uint32_t components) {
  auto *sums = static_cast<Sum *>(a.sums);
  const uint32_t n = a.factor;
  for (uint32_t i = 0; i < a.final_width; ++i)
    for (uint32_t k = 0; k < n; ++k)
      for (uint32_t c = 0; c < components; ++c)
        sums[i * components + c] += source[(i * n + k) * components + c];
  return y % n == n - 1;
}

VtStatus AverageBytes(const Averaging &a, uint32_t y, void *row) {
  auto *line = static_cast<uint8_t *>(row);
  if (!Accumulate<uint16_t>(a, y, line, 3)) return 0;
  auto *sums = static_cast<uint16_t *>(a.sums);
  const uint32_t area = a.factor * a.factor;
  for (uint32_t i = 0; i < a.final_width * 3; ++i) {
    line[i] = static_cast<uint8_t>(sums[i] / area);
    sums[i] = 0;
  }
  return a.output != nullptr ? a.output(y / a.factor, row) : 0;
}

template <uint32_t kComponents, bool kClampAbove>
VtStatus AverageFloats(const Averaging &a, uint32_t y, void *row) {
  auto *line = static_cast<float *>(row);
  if (!Accumulate<float>(a, y, line, kComponents)) return 0;
  auto *sums = static_cast<float *>(a.sums);
  const float scale = 1.0f / static_cast<float>(a.factor * a.factor);
  for (uint32_t i = 0; i < a.final_width * kComponents; ++i) {
    const float v = sums[i] * scale;
    line[i] = kClampAbove && v > 1.0f ? 1.0f : v;
    sums[i] = 0.0f;
  }
  return a.output != nullptr ? a.output(y / a.factor, row) : 0;
}

// The loop's writer of an oversampled render: the frame's averaging.
VtStatus AverageFrameLine(uint32_t y, void *row) {
  const RenderFrame *f = Frame();
  return AverageLine(Averaging{f->pixel_mode, f->factor, f->final_width, f->accumulator, f->driver_row}, y,
                     row);
}

}  // namespace

uint32_t BytesPerPixel(uint32_t mode) {
  switch (mode) {
    case kModeBytes: return 3;
    case kModeFloats:
    case kModeFloatsClamped: return 12;
    case kModeRgbaClamped:
    case kModeRgba: return 16;
    default: return 0;
  }
}

PixelWriter BytesPixelWriter() { return &PixelBytes; }

void WritersChoose(VtStandardRendererContext *s) {
  switch (s->pixel_mode) {
    case kModeFloats: s->pixel = &PixelFloats, s->background = &BackgroundRunFloats; break;
    case kModeFloatsClamped: s->pixel = &PixelFloatsClamped, s->background = &BackgroundRunFloats; break;
    case kModeRgbaClamped: s->pixel = &PixelRgbaClamped, s->background = &BackgroundRunRgba; break;
    case kModeRgba: s->pixel = &PixelRgba, s->background = &BackgroundRunRgba; break;
    default: s->pixel = &PixelBytes, s->background = &BackgroundRunBytes; break;
  }
}

VtStatus AverageLine(const Averaging &a, uint32_t y, void *row) {
  switch (a.mode) {
    case kModeFloats: return AverageFloats<3, false>(a, y, row);
    case kModeFloatsClamped: return AverageFloats<3, true>(a, y, row);
    case kModeRgbaClamped: return AverageFloats<4, true>(a, y, row);
    case kModeRgba: return AverageFloats<4, false>(a, y, row);
    default: return AverageBytes(a, y, row);
  }
}

VtDriverRowProc AveragingWriter() { return &AverageFrameLine; }

void BackgroundPaint(RenderFrame *f, int32_t first, int32_t last) {
  if (last < first) return;
  (void)f->background(f->line + static_cast<size_t>(first - f->xmin) * f->bytes_per_pixel,
                      static_cast<uint32_t>(last - first + 1));
}

}  // namespace vo::renstd
