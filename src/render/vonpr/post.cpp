// Pieces the NPR post-process classes share: the run's buffers and region,
// allocation in size_t, refusals, random positions, midpoint discs and RGBA
// rows on buffers with or without an alpha plane.

#include <cmath>
#include <cstring>

#include "render/vonpr/post.h"
#include "kernel/vosystem/face.h"

namespace vo::npr::post {

VtStatus ImageOpen(Image *image) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  image->in = g->Bi;
  image->out = g->Bo;
  VtStatus st = VoScreenBufferGetRegion(image->in, image->region);
  st |= VoScreenBufferGetDataMask(image->in, &image->inMask);
  st |= VoScreenBufferGetDataMask(image->out, &image->outMask);
  if (st != 0) return st;
  image->w = image->region[1] - image->region[0] + 1;
  image->h = image->region[3] - image->region[2] + 1;
  if (image->out != image->in) {
    st = VoScreenBufferGetRegion(image->out, image->outRegion);
    if (st != 0) return st;
    image->outKept = true;
    st = VoScreenBufferSetRegion(image->out, image->region);
  }
  return st;
}

VtStatus ImageClose(Image *image) {
  if (!image->outKept) return 0;
  image->outKept = false;
  return VoScreenBufferSetRegion(image->out, image->outRegion);
}

void *Allocate(size_t count, size_t size, const char *cls) {
  void *p = nullptr;
  if (count != 0 && count <= UINT32_MAX / size) p = VoAllocate(static_cast<uint32_t>(count * size));
  if (p == nullptr) Post(kNoMemory, messages::kNprPostNoMemory, VO_MODULE_NPR, cls);
  return p;
}

VtStatus Refuse(const char *cls, const char *label, double value) {
  Post(kRefused, messages::kNprPostArgumentRefused, VO_MODULE_NPR, cls, label, value);
  return kRefused;
}

uint32_t Pick(float r, uint32_t n) {
  if (n == 0) return 0;
  const double v = std::trunc(static_cast<double>(r) * n);
  if (!(v >= 0)) return 0;
  return v >= n - 1.0 ? n - 1 : static_cast<uint32_t>(v);
}

// The spans the midpoint rule fills for (a, b): rows +-b from -a to a and,
// when a != b, rows +-a from -b to b. Every row keeps its widest span.
void DiscRows(int32_t r, int32_t *half) {
  for (int32_t i = 0; i <= r; ++i) half[i] = -1;
  auto spans = [&](int32_t a, int32_t b) {
    if (b <= r && half[b] < a) half[b] = a;
    if (a != b && a <= r && half[a] < b) half[a] = b;
  };
  int32_t x = 0, y = r;
  double d = 1.25 - r;
  spans(0, r);
  while (y > x) {
    if (d >= 0) {
      d += 2.0 * (x - y) + 5;
      --y;
    } else {
      d += 2.0 * x + 3;
    }
    ++x;
    spans(x, y);
  }
}

VtStatus InputRowRGBA(const Image &image, uint32_t y, float *row, float *scratch) {
  if ((image.inMask & VO_SB_ALPHA) != 0) return VoScreenBufferGetScanRGBAFloat(image.in, y, row);
  const VtStatus st = VoScreenBufferGetScanRGBFloat(image.in, y, scratch);
  for (uint32_t i = 0; i < image.w; ++i) {
    std::memcpy(row + 4 * static_cast<size_t>(i), scratch + 3 * static_cast<size_t>(i), 3 * sizeof(float));
    row[4 * static_cast<size_t>(i) + 3] = 1.0f;
  }
  return st;
}

VtStatus OutputRowRGBA(const Image &image, uint32_t y, const float *row, float *scratch, bool alpha) {
  if (alpha && (image.outMask & VO_SB_ALPHA) != 0) return VoScreenBufferSetScanRGBAFloat(image.out, y, row);
  for (uint32_t i = 0; i < image.w; ++i)
    std::memcpy(scratch + 3 * static_cast<size_t>(i), row + 4 * static_cast<size_t>(i), 3 * sizeof(float));
  return VoScreenBufferSetScanRGBFloat(image.out, y, scratch);
}

void *BackgroundLive(void *background) {
  if (background == nullptr) return nullptr;
  // A background that is not live leaves the colour as it was (and says so
  // once); a live one always writes it (the fill colour outside its image).
  VtColour c{NAN, NAN, NAN};
  (void)VoNPRBackgroundSample(static_cast<VtNPRBackground *>(background), 0, 0, &c);
  return std::isnan(c.red) ? nullptr : background;
}

bool BackgroundSample(void *background, uint32_t x, uint32_t y, float rgb[3]) {
  if (background == nullptr) return false;
  VtColour c{};
  (void)VoNPRBackgroundSample(static_cast<VtNPRBackground *>(background), static_cast<int32_t>(x),
                              static_cast<int32_t>(y), &c);
  rgb[0] = c.red, rgb[1] = c.green, rgb[2] = c.blue;
  return true;
}

}  // namespace vo::npr::post
