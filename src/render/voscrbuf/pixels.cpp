// Pixels: the conversions between a channel's precision and floats, the
// scratch rows, and the unguarded row writers with their compositing
// (accumulation, stencil, alpha blend, depth test).
//
// Non-compositing writes convert straight into the channel; float channels
// are copied with plain word copies. A compositing writer reads the
// destination row into a scratch row, combines in floats and writes the
// row back. Scratch rows grow to twice the need, so a render stops
// allocating after its first rows. A null selected procedure is never
// called: no combine means destination = source, no stencil test passes,
// no stencil operation keeps.

#include <algorithm>
#include <cstring>
#include <limits>

#include "scene/vocolour/face.h"
#include "render/voscrbuf/screenbuf.h"

namespace vo::sb {
namespace {

// Below 0 and NaN give 0, above 1 255, else v x 255 + 0.5 truncated.
inline uint8_t ToByte(float v) {
  uint8_t b;
  colour::BytesFromFloats(&v, &b, 1);
  return b;
}

struct Scratch {
  ScratchRow *row;
  float *data;
};

// A scratch row of n pixels of the channel, filled from pixel index p.
// Null data when all four rows are in use or memory runs out.
Scratch ScratchFetch(Context *c, const VtScreenBufferChannel &ch, uint32_t channel, size_t p, uint32_t n) {
  const size_t need = static_cast<size_t>(Components(channel)) * n * sizeof(float);
  ScratchRow *row = nullptr;
  for (ScratchRow &r : c->scratch)
    if (!r.in_use && r.size >= need) {
      row = &r;
      break;
    }
  if (row == nullptr) {
    for (ScratchRow &r : c->scratch)
      if (!r.in_use) {
        row = &r;
        break;
      }
    if (row == nullptr || need > std::numeric_limits<uint32_t>::max() / 2) return {nullptr, nullptr};
    VoDeallocate(row->data);
    row->size = 0;
    row->data = static_cast<float *>(VoAllocate(static_cast<uint32_t>(2 * need)));
    if (row->data == nullptr) return {nullptr, nullptr};
    row->size = 2 * need;
  }
  row->in_use = 1;
  ChannelGet(ch, channel, p, n, row->data, Components(channel));
  return {row, row->data};
}

void ScratchBack(Scratch &s, VtScreenBufferChannel &ch, uint32_t channel, size_t p, uint32_t n) {
  ChannelPut(ch, channel, p, n, s.data, Components(channel));
  s.row->in_use = 0;
}

void Copy3(float *d, const float *s) {
  d[0] = s[0];
  d[1] = s[1];
  d[2] = s[2];
}

// Accumulation of a term: D + T, or D + T x w unless the weight is exactly 1.
inline float Accumulated(float d, float t, float w) { return w == 1.0f ? d + t : d + t * w; }

// A row of four floats per pixel into colour and a second channel (alpha
// or depth): straight in without compositing, else through two scratch rows
// that the loop combines (the depth row is only read).
template <class Loop>
VtStatus WritePair(Context *c, VtScreenBuffer *b, uint32_t y, const float *src, uint32_t second,
                   bool compositing, Loop loop) {
  const uint32_t need = VO_SB_COLOUR | 1u << second;
  if ((b->mask & need) != need) return kRefused;
  const uint32_t n = b->region[1] - b->region[0] + 1;
  const size_t p = PixelIndex(b, b->region[0], y);
  VtScreenBufferChannel &colour = b->channels[0], &other = b->channels[second];
  if (!compositing) {
    ChannelPut(colour, 0, p, n, src, 4);
    ChannelPut(other, second, p, n, src + 3, 4);
    return 0;
  }
  Scratch d = ScratchFetch(c, colour, 0, p, n);
  if (d.data == nullptr) return kNoMemory;
  Scratch e = ScratchFetch(c, other, second, p, n);
  if (e.data == nullptr) {
    d.row->in_use = 0;
    return kNoMemory;
  }
  loop(d.data, e.data, n);
  ScratchBack(d, colour, 0, p, n);
  if (second == 2)
    e.row->in_use = 0;
  else
    ScratchBack(e, other, second, p, n);
  return 0;
}

}  // namespace

size_t PixelBytes(const VtScreenBufferChannel &c) {
  switch (c.precision) {
    case VO_SB_FLOAT: return c.elements * sizeof(float);
    case VO_SB_RGBE: return sizeof(uint32_t);
    default: return c.elements;
  }
}

VtStatus StorageMake(VtScreenBufferChannel *c, uint32_t width, uint32_t height) {
  size_t count = 0, bytes = 0;
  if (__builtin_mul_overflow(static_cast<size_t>(width), static_cast<size_t>(height), &count) ||
      __builtin_mul_overflow(count, PixelBytes(*c), &bytes) || bytes > std::numeric_limits<uint32_t>::max())
    return kNoMemory;
  c->data = VoAllocate(static_cast<uint32_t>(bytes));
  if (c->data == nullptr) return kNoMemory;
  c->count = count;
  c->stride = static_cast<size_t>(c->elements) * width;
  return 0;
}

void ChannelGet(const VtScreenBufferChannel &c, uint32_t channel, size_t p, uint32_t n, float *out,
                size_t step) {
  const uint32_t k = Components(channel);
  switch (c.precision) {
    case VO_SB_FLOAT: {
      const float *s = static_cast<const float *>(c.data) + p * k;
      if (step == k) {
        std::memcpy(out, s, static_cast<size_t>(n) * k * sizeof(float));
        return;
      }
      for (uint32_t i = 0; i < n; ++i, s += k, out += step)
        for (uint32_t j = 0; j < k; ++j) out[j] = s[j];
      return;
    }
    case VO_SB_RGBE: {
      const uint32_t *s = static_cast<const uint32_t *>(c.data) + p;
      for (uint32_t i = 0; i < n; ++i, out += step) colour::RGBEUnpack(s[i], out);
      return;
    }
    default: {
      const uint8_t *s = static_cast<const uint8_t *>(c.data) + p * k;
      if (step == k) {
        for (size_t i = 0; i < static_cast<size_t>(n) * k; ++i)
          out[i] = static_cast<float>(s[i]) * kByteScale;
        return;
      }
      for (uint32_t i = 0; i < n; ++i, s += k, out += step)
        for (uint32_t j = 0; j < k; ++j) out[j] = static_cast<float>(s[j]) * kByteScale;
      return;
    }
  }
}

void ChannelPut(VtScreenBufferChannel &c, uint32_t channel, size_t p, uint32_t n, const float *in,
                size_t step) {
  const uint32_t k = Components(channel);
  switch (c.precision) {
    case VO_SB_FLOAT: {
      float *d = static_cast<float *>(c.data) + p * k;
      if (step == k) {
        std::memcpy(d, in, static_cast<size_t>(n) * k * sizeof(float));
        return;
      }
      for (uint32_t i = 0; i < n; ++i, d += k, in += step)
        for (uint32_t j = 0; j < k; ++j) d[j] = in[j];
      return;
    }
    case VO_SB_RGBE: {
      uint32_t *d = static_cast<uint32_t *>(c.data) + p;
      for (uint32_t i = 0; i < n; ++i, in += step) d[i] = colour::RGBEPack(in);
      return;
    }
    default: {
      uint8_t *d = static_cast<uint8_t *>(c.data) + p * k;
      if (step == k) {
        colour::BytesFromFloats(in, d, static_cast<size_t>(n) * k);
        return;
      }
      for (uint32_t i = 0; i < n; ++i, d += k, in += step)
        for (uint32_t j = 0; j < k; ++j) d[j] = ToByte(in[j]);
      return;
    }
  }
}

void ChannelFill(VtScreenBuffer *b, uint32_t channel, const float *value) {
  VtScreenBufferChannel &c = b->channels[channel];
  const size_t bytes = PixelBytes(c);
  const uint32_t x0 = b->region[0], n = b->region[1] - x0 + 1;
  // The value is converted once, into the region's first pixel, then
  // repeated byte for byte.
  const size_t first = PixelIndex(b, x0, b->region[2]);
  ChannelPut(c, channel, first, 1, value, Components(channel));
  const auto *pixel = static_cast<const uint8_t *>(c.data) + first * bytes;
  for (uint32_t y = b->region[2]; y <= b->region[3]; ++y) {
    auto *d = static_cast<uint8_t *>(c.data) + PixelIndex(b, x0, y) * bytes;
    for (uint32_t i = 0; i < n; ++i, d += bytes)
      if (d != pixel) std::memcpy(d, pixel, bytes);
  }
}

const float *StartValue(uint32_t channel) {
  static constexpr float kStart[kChannels][3] = {{0, 0, 0}, {1.0f, 0, 0}, {kNoDepth, 0, 0}, {0, 0, 0}};
  return kStart[channel];
}

void ScratchFree(Context *c) {
  for (ScratchRow &r : c->scratch) {
    VoDeallocate(r.data);
    r = ScratchRow{};
  }
}

VtStatus WriteRGB(Context *c, VtScreenBuffer *b, uint32_t y, const float *src) {
  if ((b->mask & VO_SB_COLOUR) == 0) return kRefused;
  const uint32_t n = b->region[1] - b->region[0] + 1;
  const size_t p = PixelIndex(b, b->region[0], y);
  VtScreenBufferChannel &colour = b->channels[0];
  if (!b->accumulate && !b->stencil) {
    ChannelPut(colour, 0, p, n, src, 3);
    return 0;
  }
  Scratch s = ScratchFetch(c, colour, 0, p, n);
  if (s.data == nullptr) return kNoMemory;
  const uint32_t ref = b->stencil_reference & b->stencil_mask;
  // Held in locals: stores through the byte stencil row may alias the record.
  const VtScreenBufferStencilTestProc test = b->stencil_test_proc;
  const VtScreenBufferStencilOpProc fail = b->stencil_fail_proc, op = b->stencil_op_proc;
  const VtScreenBufferCombineProc combine = b->accumulate ? b->combine_proc : nullptr;
  const bool replace = !b->accumulate || combine == nullptr;  // no combine: destination = source
  const float w = b->weight;
  float *D = s.data;
  if (b->stencil && (b->mask & VO_SB_STENCIL)) {
    uint8_t *stencil = static_cast<uint8_t *>(b->channels[3].data) + p;
    for (uint32_t i = 0; i < n; ++i) {
      if (test != nullptr && !test(stencil[i], ref)) {
        if (fail != nullptr) fail(&stencil[i], ref);
        continue;
      }
      if (replace)
        Copy3(D + 3 * i, src + 3 * i);
      else
        combine(D + 3 * i, src + 3 * i, w, stencil[i]);
      if (op != nullptr) op(&stencil[i], ref);
    }
  } else if (replace) {
    std::memcpy(D, src, 3 * sizeof(float) * n);
  } else {
    for (uint32_t i = 0; i < n; ++i) combine(D + 3 * i, src + 3 * i, w, ref);
  }
  ScratchBack(s, colour, 0, p, n);
  return 0;
}

VtStatus WriteRGBA(Context *c, VtScreenBuffer *b, uint32_t y, const float *src) {
  const float w = b->weight;
  const bool accumulate = b->accumulate != 0, blend = b->alpha_blend != 0;
  return WritePair(c, b, y, src, 1, accumulate || blend,
                   [&](float *__restrict D, float *__restrict Da, uint32_t n) {
                     if (!accumulate) {
                       // One loop per mode, without branches inside.
                       for (uint32_t i = 0; i < n; ++i) {
                         const float a = src[4 * i + 3];
                         for (int k = 0; k < 3; ++k)
                           D[3 * i + k] = (src[4 * i + k] - D[3 * i + k]) * a + D[3 * i + k];
                         Da[i] = std::min(Da[i] + a, 1.0f);
                       }
                       return;
                     }
                     float coverage = 1.0f;
                     for (uint32_t i = 0; i < n; ++i, src += 4, D += 3) {
                       const float a = src[3];
                       float t[3], term = a;
                       if (blend) {
                         for (int k = 0; k < 3; ++k) t[k] = (src[k] - D[k]) * a + D[k];
                         term = coverage;
                         coverage = std::min(coverage + a, 1.0f);
                       } else {
                         Copy3(t, src);
                       }
                       for (int k = 0; k < 3; ++k) D[k] = Accumulated(D[k], t[k], w);
                       Da[i] += term * w;
                     }
                   });
}

VtStatus WriteBytes(Context *c, VtScreenBuffer *b, uint32_t y, const uint8_t *src) {
  if ((b->mask & VO_SB_COLOUR) == 0) return kRefused;
  const uint32_t n = b->region[1] - b->region[0] + 1;
  const size_t p = PixelIndex(b, b->region[0], y);
  VtScreenBufferChannel &colour = b->channels[0];
  if (!b->accumulate) {
    switch (colour.precision) {
      case VO_SB_BYTE:
        std::memcpy(static_cast<uint8_t *>(colour.data) + 3 * p, src, 3 * static_cast<size_t>(n));
        break;
      case VO_SB_RGBE: {
        uint32_t *d = static_cast<uint32_t *>(colour.data) + p;
        for (uint32_t i = 0; i < n; ++i) d[i] = colour::RGBEFromBytes(src + 3 * i);
        break;
      }
      default: {
        float *d = static_cast<float *>(colour.data) + 3 * p;
        for (size_t i = 0; i < 3 * static_cast<size_t>(n); ++i)
          d[i] = static_cast<float>(src[i]) * kByteScale;
        break;
      }
    }
    return 0;
  }
  Scratch s = ScratchFetch(c, colour, 0, p, n);
  if (s.data == nullptr) return kNoMemory;
  for (size_t i = 0; i < 3 * static_cast<size_t>(n); ++i)
    s.data[i] = Accumulated(s.data[i], static_cast<float>(src[i]) * kByteScale, b->weight);
  ScratchBack(s, colour, 0, p, n);
  return 0;
}

// RGBZ rows keep the stored depth: the depth channel is a fixed depth image.
VtStatus WriteRGBZ(Context *c, VtScreenBuffer *b, uint32_t y, const float *src) {
  const bool test = b->depth_test != 0, accumulate = b->accumulate != 0;
  const float w = b->weight;
  return WritePair(c, b, y, src, 2, accumulate || test,
                   [&](float *__restrict D, const float *__restrict Z, uint32_t n) {
                     // One loop per mode, without branches inside but the test.
                     if (!accumulate) {
                       for (uint32_t i = 0; i < n; ++i)
                         if (!(test && Z[i] != kNoDepth && src[4 * i + 3] > Z[i]))
                           for (int k = 0; k < 3; ++k) D[3 * i + k] = src[4 * i + k];
                     } else {
                       for (uint32_t i = 0; i < n; ++i)
                         if (!(test && Z[i] != kNoDepth && src[4 * i + 3] > Z[i]))
                           for (int k = 0; k < 3; ++k)
                             D[3 * i + k] = Accumulated(D[3 * i + k], src[4 * i + k], w);
                     }
                   });
}

}  // namespace vo::sb
