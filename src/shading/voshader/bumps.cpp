// Bump maps: an image turned into luminance gradients, kept as a 3-channel
// texture of kind 1 in the texture cache, and sampled into a tilted normal.
//
// The gradient pass works on rows bytes-per-row apart. A 24-bit image is
// rewritten in place (the caller's image keeps the gradient bytes); an 8-bit
// image is first widened into a 3-byte copy, so the caller's bytes are never
// read past their end. An image below 1 x 2 pixels has no vertical gradient
// and is refused.

#include <cmath>
#include <cstring>

#include "shading/voshader/imaging.h"
#include "shading/voshader/voshader.h"

namespace vo::shader {

namespace {

constexpr uint32_t kProgress = 0x08000000u;

// Rows of 3-byte pixels, bytes-per-row apart.
struct RgbRows {
  uint8_t *data;
  size_t row_bytes;
  int32_t width, height;
};

void Luminances(const uint8_t *row, int32_t width, int32_t *out) {
  for (int32_t x = 0; x < width; ++x) {
    const uint8_t *p = row + 3 * x;
    out[x] = static_cast<int32_t>(0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]);
  }
  out[width] = out[0];  // the row wraps round
}

void GradientRow(uint8_t *row, const int32_t *l, const int32_t *m, int32_t width) {
  for (int32_t x = 0; x < width; ++x) {
    uint8_t *p = row + 3 * x;
    p[0] = static_cast<uint8_t>(((l[x + 1] - l[x]) >> 1) + 128);
    p[1] = static_cast<uint8_t>(((m[x] - l[x]) >> 1) + 128);
    p[2] = 0;
  }
}

// Each row from its own luminances and the next row's (the last row takes
// row 0's, kept before anything was overwritten).
bool Gradients(const RgbRows &image) {
  const int32_t w = image.width;
  const size_t row = static_cast<size_t>(w) * 3, ints = (static_cast<size_t>(w) + 1) * sizeof(int32_t);
  const size_t bytes = row + 2 * ints;
  auto *work =
      static_cast<uint8_t *>(bytes < 0xFFFFFFFFu ? VoAllocate(static_cast<uint32_t>(bytes)) : nullptr);
  if (work == nullptr) return false;
  auto *l = reinterpret_cast<int32_t *>(work);  // the luminance rows first, for their alignment
  auto *m = reinterpret_cast<int32_t *>(work + ints);
  uint8_t *first = work + 2 * ints;
  std::memcpy(first, image.data, row);
  Luminances(image.data, w, l);
  for (int32_t y = 0; y < image.height; ++y) {
    const bool last = y == image.height - 1;
    Luminances(last ? first : image.data + (y + 1) * image.row_bytes, w, m);
    GradientRow(image.data + y * image.row_bytes, l, m, w);
    std::swap(l, m);
  }
  VoDeallocate(work);
  return true;
}

// An 8-bit image widened to tightly packed 3-byte rows.
uint8_t *Widened(const VtImage *image) {
  const size_t row = static_cast<size_t>(image->width) * 3, bytes = row * static_cast<size_t>(image->height);
  if (bytes / row != static_cast<size_t>(image->height) || bytes >= 0xFFFFFFFFu) return nullptr;
  auto *copy = static_cast<uint8_t *>(VoAllocate(static_cast<uint32_t>(bytes)));
  if (copy == nullptr) return nullptr;
  for (int32_t y = 0; y < image->height; ++y)
    for (int32_t x = 0; x < image->width; ++x)
      std::memset(copy + y * row + 3 * x, image->data[y * static_cast<size_t>(image->bytes_per_row) + x], 3);
  return copy;
}

VtTexture *BumpBuild(ShaderShared *shared, VtImage *image) {
  PixelSource source{};
  if (!ImageRows(image, &source) || image->height < 2) return nullptr;
  uint8_t *copy = nullptr;
  RgbRows rows{image->data, source.row_bytes, image->width, image->height};
  if (source.bits == 8) {
    copy = Widened(image);
    if (copy == nullptr) return nullptr;
    rows.data = copy;
    rows.row_bytes = static_cast<size_t>(image->width) * 3;
    source = PixelSource{nullptr, copy, 24, rows.row_bytes};
  }
  VtTexture *t = Gradients(rows)
                     ? TextureBuild(shared, TextureShape{0, 3, image->width, image->height, 0}, source)
                     : nullptr;
  VoDeallocate(copy);
  if (t != nullptr) t->kind = 1;
  return t;
}

VtTexture *BumpMake(VtImage *image, int32_t) { return VoBumpCreate(image); }

const CacheRead kBumpRead{1, 3, 579, 580, 530, &BumpMake};

void BumpSample(float *normal, double amplitude, VtTexture *bump, bool area) {
  ShadingContext *s = StateGet();
  if (s == nullptr || bump == nullptr || normal == nullptr) return;
  // Outside a shading call no point is being shaded: the normal and the
  // texture derivatives are null, and there is nothing to tilt.
  const VtShaderGlobals *g = s->globals;
  if (g == nullptr || g->N == nullptr || g->dPds == nullptr || g->dPdt == nullptr) return;
  float c[3] = {0, 0, 0};
  (void)(area ? VoTextureSampleArea(c, 3, bump) : VoTextureSamplePoint(c, 3, bump));
  const double a = -(2.0 * c[0] - 1.0) * amplitude, b = -(2.0 * c[1] - 1.0) * amplitude;
  for (int k = 0; k < 3; ++k) normal[k] = static_cast<float>(g->N[k] + a * g->dPds[k] + b * g->dPdt[k]);
  Normalise(normal);
}

}  // namespace

}  // namespace vo::shader

namespace vo {

using namespace shader;

VtTexture *VoBumpCreate(VtImage *image) {
  ShadingContext *s = StateGet();
  if (s == nullptr || image == nullptr) return nullptr;
  Post(kProgress, 576, VO_MODULE_SHADER);
  VtTexture *t = BumpBuild(s->shared, image);
  if (t == nullptr) {
    Post(kNoMemory, 578, VO_MODULE_SHADER);
    return nullptr;
  }
  Post(kProgress, 577, VO_MODULE_SHADER);
  TextureLink(s->shared, t);
  return t;
}

VtTexture *VoBumpRead(const char *name) { return TextureCacheRead(name, kBumpRead); }

VtStatus VoBumpDestroy(VtTexture *bump) { return VoTextureDestroy(bump); }

VtStatus VoBumpSamplePoint(float *normal, double amplitude, VtTexture *bump) {
  if (bump != nullptr && TextureRefused(bump, "VoBumpSamplePoint")) return kRefused;
  BumpSample(normal, amplitude, bump, false);
  return 0;
}

VtStatus VoBumpSampleArea(float *normal, double amplitude, VtTexture *bump) {
  if (bump != nullptr && TextureRefused(bump, "VoBumpSampleArea")) return kRefused;
  BumpSample(normal, amplitude, bump, true);
  return 0;
}

}  // namespace vo
