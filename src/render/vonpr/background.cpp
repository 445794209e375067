// NPR backgrounds: an image tiled, centred or scaled behind a rendering of
// a given size, sampled at integer pixels.
//
// Invariants a reader must know:
// - a background is in the module's register from its making to its
//   destruction; destroy and sample refuse anything else (0x20000012,
//   2630), so a stale pointer is never read or freed; the register is
//   locked while threading is on (shaders sample from workers);
// - scaled modes own a float copy made at creation in double precision,
//   every size at least 1 and computed in size_t (a copy beyond
//   VoAllocate's 32 bits is out of memory, nothing allocated); the
//   unscaled modes read the image at every sample and check first that it
//   is still a live, readable image: a dead one answers the fill colour
//   and 0, posted once per background;
// - an 8-bit pixel is grey: its byte gives red, green and blue alike, in
//   every mode.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "render/vonpr/npr.h"
#include "shading/shaderlib/face.h"
#include "kernel/vosystem/face.h"

namespace vo::npr {

namespace {

constexpr double kByte = 1.0 / 255.0;

VtNPRBackground *NotMade(VtStatus status, const char *reason) {
  Post(status, messages::kNprBackgroundNotMade, VO_MODULE_NPR, reason);
  return nullptr;
}

bool Live(Context *c, const VtNPRBackground *b, const char *procedure) {
  bool live = false;
  if (c != nullptr && b != nullptr) {
    RegisterGuard hold;
    live = c->registers->backgrounds.count(b) != 0;
  }
  if (!live) Post(kRefused, messages::kNprBackgroundRefused, VO_MODULE_NPR, procedure);
  return live;
}

// The image pixel at (x, y), inside the image, as three floats.
void Pixel(const VtImage *image, int32_t x, int32_t y, float out[3]) {
  const uint8_t *row = image->data + static_cast<ptrdiff_t>(y) * image->bytes_per_row;
  if (image->bits == 8) {
    out[0] = out[1] = out[2] = static_cast<float>(row[x] * kByte);
  } else {
    const uint8_t *p = row + static_cast<ptrdiff_t>(x) * 3;
    for (int i = 0; i < 3; ++i) out[i] = static_cast<float>(p[i] * kByte);
  }
}

// The input pixels one output pixel covers along a line of n inputs made
// into m outputs: the footprint [j r, (j + 1) r) with r = n / m; each
// covered input is weighted by its covered fraction over r. Shrinking this
// is the area mean, enlarging it copies an input or mixes the two an output
// straddles.
struct Taps {
  uint32_t *first = nullptr;  // m + 1 offsets into index and weight
  uint32_t *index = nullptr;
  double *weight = nullptr;
};

void TapsFree(Taps &t) {
  if (t.first != nullptr) VoDeallocate(t.first);
  if (t.index != nullptr) VoDeallocate(t.index);
  if (t.weight != nullptr) VoDeallocate(t.weight);
  t = Taps{};
}

template <class T>
T *Array(size_t count) {
  const size_t bytes = count * sizeof(T);
  if (count == 0 || bytes / sizeof(T) != count || bytes > UINT32_MAX) return nullptr;
  return static_cast<T *>(VoAllocate(static_cast<uint32_t>(bytes)));
}

bool TapsMake(Taps &t, uint32_t n, uint32_t m) {
  const double r = static_cast<double>(n) / m;
  // Each footprint covers at most ceil(r) + 1 inputs.
  const size_t most = size_t{m} * (static_cast<size_t>(std::ceil(r)) + 1);
  t.first = Array<uint32_t>(size_t{m} + 1);
  t.index = t.first != nullptr ? Array<uint32_t>(most) : nullptr;
  t.weight = t.index != nullptr ? Array<double>(most) : nullptr;
  if (t.weight == nullptr) {
    TapsFree(t);
    return false;
  }
  uint32_t k = 0;
  for (uint32_t j = 0; j < m; ++j) {
    t.first[j] = k;
    const double lo = j * r, hi = (j + 1) * r;
    const auto end = static_cast<uint32_t>(std::min<double>(std::ceil(hi), n));
    for (auto i = static_cast<uint32_t>(lo); i < end; ++i) {
      const double w = std::min(hi, i + 1.0) - std::max(lo, static_cast<double>(i));
      if (w <= 0) continue;
      t.index[k] = i;
      t.weight[k] = w / r;
      ++k;
    }
  }
  t.first[m] = k;
  return true;
}

// The horizontal pass, straight from the image's bytes: each row of n
// pixels into m outputs (an 8-bit pixel is grey).
void Across(const Taps &t, const VtImage *image, uint32_t m, float *out) {
  const bool grey = image->bits == 8;
  for (int32_t y = 0; y < image->height; ++y) {
    const uint8_t *src = image->data + static_cast<ptrdiff_t>(y) * image->bytes_per_row;
    float *dst = out + size_t(y) * m * 3;
    for (uint32_t j = 0; j < m; ++j) {
      double sum[3] = {0, 0, 0};
      for (uint32_t k = t.first[j]; k < t.first[j + 1]; ++k) {
        const double w = t.weight[k] * kByte;
        if (grey) {
          const double v = w * src[t.index[k]];
          sum[0] += v, sum[1] += v, sum[2] += v;
        } else {
          const uint8_t *p = src + size_t{t.index[k]} * 3;
          for (int c = 0; c < 3; ++c) sum[c] += w * p[c];
        }
      }
      for (int c = 0; c < 3; ++c) dst[size_t{j} * 3 + c] = static_cast<float>(sum[c]);
    }
  }
}

// The vertical pass, a row at a time: output row j is the weighted sum of
// the input rows its footprint covers (rows of `floats` floats), summed in
// double in `row`.
void Down(const Taps &t, uint32_t m, size_t floats, const float *in, float *out, double *row) {
  for (uint32_t j = 0; j < m; ++j) {
    std::fill(row, row + floats, 0.0);
    for (uint32_t k = t.first[j]; k < t.first[j + 1]; ++k) {
      const float *src = in + size_t{t.index[k]} * floats;
      const double w = t.weight[k];
      for (size_t i = 0; i < floats; ++i) row[i] += w * src[i];
    }
    float *dst = out + size_t{j} * floats;
    for (size_t i = 0; i < floats; ++i) dst[i] = static_cast<float>(row[i]);
  }
}

// The scaled copy of the image at sw x sh, or null when memory runs out
// (everything taken here given back).
float *Scale(const VtImage *image, uint32_t sw, uint32_t sh) {
  const auto iw = static_cast<uint32_t>(image->width), ih = static_cast<uint32_t>(image->height);
  float *across = Array<float>(size_t{sw} * ih * 3);
  float *scaled = across != nullptr ? Array<float>(size_t{sw} * sh * 3) : nullptr;
  double *row = scaled != nullptr ? Array<double>(size_t{sw} * 3) : nullptr;
  Taps h, v;
  const bool taps = row != nullptr && TapsMake(h, iw, sw) && TapsMake(v, ih, sh);
  if (taps) {
    Across(h, image, sw, across);
    Down(v, sh, size_t{sw} * 3, across, scaled, row);
  }
  TapsFree(h);
  TapsFree(v);
  if (across != nullptr) VoDeallocate(across);
  if (row != nullptr) VoDeallocate(row);
  if (!taps && scaled != nullptr) {
    VoDeallocate(scaled);
    scaled = nullptr;
  }
  return scaled;
}

// A scaled length: trunc(given / from x to), at least 1; 0 when it does not
// fit 32 bits.
int64_t Kept(int32_t given, int32_t from, int32_t to) {
  const double l = std::trunc(static_cast<double>(given) / from * to);
  if (!(l <= INT32_MAX)) return 0;
  return std::max<int64_t>(1, static_cast<int64_t>(l));
}

}  // namespace

void BackgroundsFree(Context *c) {
  if (c == nullptr || c->registers == nullptr) return;
  for (const VtNPRBackground *b : c->registers->backgrounds) {
    if (b->scaled != nullptr) VoDeallocate(b->scaled);
    b->~VtNPRBackground();
    VoDeallocate(const_cast<VtNPRBackground *>(b));
  }
  c->registers->backgrounds.clear();
}

}  // namespace vo::npr

namespace vo {

using npr::kNoMemory;
using npr::kRefused;

VtNPRBackground *VoNPRBackgroundCreate(VtImage *image, int32_t width, int32_t height, uint32_t mode,
                                       const VtColour *fill) {
  npr::Context *c = npr::ContextGet();
  if (c == nullptr) return npr::NotMade(npr::kUnavailable, "the NPR module is not started");
  if (width < 1 || height < 1) return npr::NotMade(kRefused, "an output size below 1");
  if (const char *why = shaderlib::ImageRefusal(image)) return npr::NotMade(kRefused, why);
  const int32_t iw = image->width, ih = image->height;
  int64_t sw = iw, sh = ih;
  int64_t xo = 0, yo = 0;
  switch (mode) {
    case VO_NPR_BACKGROUND_TILED: break;
    case VO_NPR_BACKGROUND_TILED_CENTRED:
    case VO_NPR_BACKGROUND_CENTRED:
      xo = (int64_t{width} - iw) / 2;
      yo = (int64_t{height} - ih) / 2;
      break;
    case VO_NPR_BACKGROUND_STRETCHED: sw = width, sh = height; break;
    case VO_NPR_BACKGROUND_FIT_WIDTH:
    case VO_NPR_BACKGROUND_FIT_WIDTH_CENTRED: sw = width, sh = npr::Kept(width, iw, ih); break;
    case VO_NPR_BACKGROUND_FIT_HEIGHT:
    case VO_NPR_BACKGROUND_FIT_HEIGHT_CENTRED: sh = height, sw = npr::Kept(height, ih, iw); break;
    default: return npr::NotMade(kRefused, "a mode outside the table");
  }
  const bool scaled = (mode & 0x4000u) != 0;
  if (sw == 0 || sh == 0 || (scaled && size_t(sw) * size_t(sh) * 3 * sizeof(float) > UINT32_MAX))
    return npr::NotMade(kNoMemory, "a scaled copy too large");
  if ((mode & 0x2000u) != 0) {
    xo = (int64_t{width} - sw) / 2;
    yo = (int64_t{height} - sh) / 2;
  }
  void *block = VoAllocate(sizeof(VtNPRBackground));
  if (block == nullptr) return npr::NotMade(kNoMemory, "out of memory");
  auto *b = new (block) VtNPRBackground{};
  b->image = image;
  b->width = static_cast<int32_t>(sw);
  b->height = static_cast<int32_t>(sh);
  b->x_offset = static_cast<int32_t>(xo);
  b->y_offset = static_cast<int32_t>(yo);
  b->mode = mode;
  if (fill != nullptr) b->fill = *fill;
  bool kept = !scaled || (b->scaled = npr::Scale(image, b->width, b->height)) != nullptr;
  if (kept) {
    try {
      RegisterGuard hold;
      c->registers->backgrounds.insert(b);
    } catch (const std::bad_alloc &) {
      kept = false;
    }
  }
  if (!kept) {
    if (b->scaled != nullptr) VoDeallocate(b->scaled);
    b->~VtNPRBackground();
    VoDeallocate(block);
    return npr::NotMade(kNoMemory, "out of memory");
  }
  return b;
}

VtStatus VoNPRBackgroundDestroy(VtNPRBackground *background) {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  npr::Context *c = npr::ContextGet();
  if (!npr::Live(c, background, "VoNPRBackgroundDestroy")) return kRefused;
  {
    RegisterGuard hold;
    c->registers->backgrounds.erase(background);
  }
  if (background->scaled != nullptr) VoDeallocate(background->scaled);
  background->~VtNPRBackground();
  VoDeallocate(background);
  return 0;
}

int32_t VoNPRBackgroundSample(VtNPRBackground *background, int32_t x, int32_t y, VtColour *colour) {
  npr::Context *c = npr::ContextGet();
  if (!npr::Live(c, background, "VoNPRBackgroundSample") || colour == nullptr) return 0;
  const VtNPRBackground *b = background;
  int64_t xs = int64_t{x} - b->x_offset, ys = int64_t{y} - b->y_offset;
  float rgb[3];
  if (b->scaled != nullptr) {
    if (xs < 0 || ys < 0 || xs >= b->width || ys >= b->height) {
      *colour = b->fill;
      return 0;
    }
    const float *p = b->scaled + (ys * b->width + xs) * 3;
    *colour = VtColour{p[0], p[1], p[2]};
    return 1;
  }
  // Unscaled: the image is read now, so it must still be there.
  const VtImage *image = b->image;
  if (shaderlib::ImageRefusal(image) != nullptr) {
    if (!b->gone_posted.exchange(true))
      Post(kRefused, messages::kNprBackgroundImageGone, VO_MODULE_NPR, static_cast<const void *>(b));
    *colour = b->fill;
    return 0;
  }
  const int64_t w = image->width, h = image->height;
  if ((b->mode & 0x8000u) != 0) {
    xs = ((xs % w) + w) % w;
    ys = ((ys % h) + h) % h;
  } else if (xs < 0 || ys < 0 || xs >= w || ys >= h) {
    *colour = b->fill;
    return 0;
  }
  npr::Pixel(image, static_cast<int32_t>(xs), static_cast<int32_t>(ys), rgb);
  *colour = VtColour{rgb[0], rgb[1], rgb[2]};
  return 1;
}

}  // namespace vo
