// The guarded access operations: whole region rows in the four float
// formats, single pixels as typed values, clearing, and changing a
// channel's precision.
//
// Row r counts from the region's first row. The range check is r <= y1 - y0
// (never y0 + r, which wraps for a huge r). A precision change converts
// into new storage first and keeps the old storage when anything fails.

#include <cstring>

#include "render/voscrbuf/screenbuf.h"
#include "kernel/vosystem/face.h"

namespace vo::sb {
namespace {

constexpr uint32_t kBits[kChannels] = {VO_SB_COLOUR, VO_SB_ALPHA, VO_SB_DEPTH, VO_SB_STENCIL};
constexpr uint32_t kPixelTypes[kChannels] = {VtColourType, VtFloat, VtFloat, VtNat32};

template <class Operation>
VtStatus Guarded(VtScreenBuffer *buffer, uint32_t r, const void *pixels, const char *name, uint32_t bad,
                 uint32_t failure, Operation operation) {
  VtScreenBuffer *b = Checked(buffer, bad);
  if (b == nullptr) return kRefused;
  const uint32_t y0 = b->region[2], y1 = b->region[3];
  if (r > y1 - y0) {
    Post(kRefused, messages::kScreenBufferRowOutside, kModule, name, r, y0, y1);
    return kRefused;
  }
  if (pixels == nullptr) return Refuse(name, "no pixels");
  const VtStatus st = operation(State(), b, y0 + r);
  if (st != 0) Post(st, failure, kModule, st);
  return st;
}

VtStatus Reader(VtScreenBuffer *buffer, uint32_t r, float *pixels, const char *name, uint32_t bad,
                const RowFormat &format) {
  return Guarded(buffer, r, pixels, name, bad, messages::kScreenBufferReadFailed,
                 [&](Context *, VtScreenBuffer *b, uint32_t y) { return ReadRow(b, y, pixels, format); });
}

// A row written into a checked buffer. (A row the application writes into
// the target a running render holds waited at the exported wrapper.)
VtStatus Writer(VtScreenBuffer *buffer, uint32_t r, const float *pixels, const char *name, uint32_t bad,
                VtStatus (*write)(Context *, VtScreenBuffer *, uint32_t, const float *)) {
  return Guarded(buffer, r, pixels, name, bad, messages::kScreenBufferWriteFailed,
                 [&](Context *c, VtScreenBuffer *b, uint32_t y) { return write(c, b, y, pixels); });
}

struct PixelMessages {
  uint32_t no_channel, type, outside;
};

// Each channel of the mask in turn: refused (its message posted) without
// storage, with a value of another type (when a value is given) or with
// (x, y) outside the buffer; else visit(channel, pixel index).
template <class Visit>
VtStatus EachPixelChannel(const VtScreenBuffer *b, uint32_t mask, uint32_t x, uint32_t y,
                          const VtTypedValue *typed, const PixelMessages &m, Visit visit) {
  for (uint32_t i = 0; i < kChannels; ++i) {
    if ((mask & kBits[i]) == 0) continue;
    uint32_t message = 0;
    if ((b->mask & kBits[i]) == 0)
      message = m.no_channel;
    else if (typed != nullptr && typed->type != kPixelTypes[i])
      message = m.type;
    else if (x >= b->width || y >= b->height)
      message = m.outside;
    if (message != 0) {
      Post(kRefused, message, kModule);
      return kRefused;
    }
    visit(i, PixelIndex(b, x, y));
  }
  return 0;
}

// The floats of a typed pixel value for a channel.
void ValueFloats(uint32_t channel, const VtTypedValue *value, float *v) {
  if (channel == 0)
    std::memcpy(v, value->value.v, 3 * sizeof(float));
  else if (channel == 3)
    v[0] = static_cast<float>(value->value.u & 0xFFu) * kByteScale;
  else
    v[0] = value->value.f;
}

// Converts one channel into another precision; without storage only the
// descriptor changes.
VtStatus Convert(VtScreenBuffer *b, uint32_t channel, uint32_t precision) {
  VtScreenBufferChannel &old = b->channels[channel];
  if (old.precision == precision) return 0;
  VtScreenBufferChannel made = old;
  made.precision = precision;
  made.elements = channel == 0 && precision != VO_SB_RGBE ? 3 : 1;
  made.data = nullptr;
  if ((b->mask & kBits[channel]) == 0) {
    old = made;
    return 0;
  }
  if (StorageMake(&made, b->width, b->height) != 0) return kNoMemory;
  // Rows of the whole width pass through one float row.
  const size_t floats = static_cast<size_t>(Components(channel)) * b->width;
  auto *row = static_cast<float *>(floats <= UINT32_MAX / sizeof(float)
                                       ? VoAllocate(static_cast<uint32_t>(floats * sizeof(float)))
                                       : nullptr);
  if (row == nullptr) {
    StorageFree(&made);
    return kNoMemory;
  }
  for (uint32_t y = 0; y < b->height; ++y) {
    ChannelGet(old, channel, PixelIndex(b, 0, y), b->width, row, Components(channel));
    ChannelPut(made, channel, PixelIndex(b, 0, y), b->width, row, Components(channel));
  }
  VoDeallocate(row);
  StorageFree(&old);
  old = made;
  return 0;
}

bool KnownPrecision(uint32_t p) { return p == VO_SB_FLOAT || p == VO_SB_RGBE || p == VO_SB_BYTE; }

}  // namespace

VtStatus ReadRow(const VtScreenBuffer *b, uint32_t y, float *out, const RowFormat &f) {
  const uint32_t need = VO_SB_COLOUR | (f.alpha >= 0 ? VO_SB_ALPHA : 0) | (f.depth >= 0 ? VO_SB_DEPTH : 0);
  if ((b->mask & need) != need) return kRefused;
  const uint32_t n = b->region[1] - b->region[0] + 1;
  const size_t p = PixelIndex(b, b->region[0], y);
  ChannelGet(b->channels[0], 0, p, n, out, f.step);
  if (f.alpha >= 0) ChannelGet(b->channels[1], 1, p, n, out + f.alpha, f.step);
  if (f.depth >= 0) ChannelGet(b->channels[2], 2, p, n, out + f.depth, f.step);
  return 0;
}

VtStatus ReadColumns(const VtScreenBuffer *b, uint32_t y, uint32_t x0, uint32_t n, float *out,
                     const RowFormat &f) {
  if ((b->mask & VO_SB_COLOUR) == 0 || y >= b->height || x0 > b->width || n > b->width - x0) return kRefused;
  const size_t p = PixelIndex(b, x0, y);
  ChannelGet(b->channels[0], 0, p, n, out, f.step);
  const int places[2] = {f.alpha, f.depth};
  for (uint32_t k = 0; k < 2; ++k) {
    if (places[k] < 0) continue;
    const uint32_t channel = k + 1;
    if ((b->mask & (1u << channel)) != 0) {
      ChannelGet(b->channels[channel], channel, p, n, out + places[k], f.step);
    } else {
      const float start = StartValue(channel)[0];
      for (uint32_t i = 0; i < n; ++i) out[static_cast<size_t>(i) * f.step + places[k]] = start;
    }
  }
  return 0;
}

VtStatus WriteColumns(VtScreenBuffer *b, uint32_t channel, uint32_t y, uint32_t x0, uint32_t n,
                      const float *in, size_t step) {
  if (channel > 1 || (b->mask & (1u << channel)) == 0 || y >= b->height || x0 > b->width || n > b->width - x0)
    return kRefused;
  const size_t p = PixelIndex(b, x0, y);
  VtScreenBufferChannel &c = b->channels[channel];
  if (!b->accumulate) {
    ChannelPut(c, channel, p, n, in, step);
    return 0;
  }
  const uint32_t k = Components(channel);
  for (uint32_t i = 0; i < n; ++i) {
    float v[3];
    ChannelGet(c, channel, p + i, 1, v, k);
    for (uint32_t j = 0; j < k; ++j) v[j] += b->weight * in[i * step + j];
    ChannelPut(c, channel, p + i, 1, v, k);
  }
  return 0;
}

}  // namespace vo::sb

namespace vo {

using namespace sb;

VtStatus VoScreenBufferGetScanRGBFloat(VtScreenBuffer *b, uint32_t r, float *pixels) {
  return Reader(b, r, pixels, "GetScanRGBFloat", messages::kScreenBufferGetRGBBad, kRGB);
}
VtStatus VoScreenBufferGetScanRGBAFloat(VtScreenBuffer *b, uint32_t r, float *pixels) {
  return Reader(b, r, pixels, "GetScanRGBAFloat", messages::kScreenBufferGetRGBABad, kRGBA);
}
VtStatus VoScreenBufferGetScanRGBZFloat(VtScreenBuffer *b, uint32_t r, float *pixels) {
  return Reader(b, r, pixels, "GetScanRGBZFloat", messages::kScreenBufferReadBad, kRGBZ);
}
VtStatus VoScreenBufferGetScanRGBAZFloat(VtScreenBuffer *b, uint32_t r, float *pixels) {
  return Reader(b, r, pixels, "GetScanRGBAZFloat", messages::kScreenBufferReadBad, kRGBAZ);
}
VtStatus VoScreenBufferSetScanRGBFloat(VtScreenBuffer *b, uint32_t r, const float *pixels) {
  return Writer(b, r, pixels, "SetScanRGBFloat", messages::kScreenBufferSetRGBBad, &WriteRGB);
}
VtStatus VoScreenBufferSetScanRGBAFloat(VtScreenBuffer *b, uint32_t r, const float *pixels) {
  return Writer(b, r, pixels, "SetScanRGBAFloat", messages::kScreenBufferSetRGBABad, &WriteRGBA);
}
VtStatus VoScreenBufferSetScanRGBZFloat(VtScreenBuffer *b, uint32_t r, const float *pixels) {
  return Writer(b, r, pixels, "SetScanRGBZFloat", messages::kScreenBufferReadBad, &WriteRGBZ);
}

VtStatus VoScreenBufferSetPixel(VtScreenBuffer *buffer, uint32_t mask, uint32_t x, uint32_t y,
                                const VtTypedValue *value) {
  VtScreenBuffer *b = Checked(buffer, messages::kScreenBufferSetPixelBad);
  if (b == nullptr) return kRefused;
  if (value == nullptr) return Refuse("VoScreenBufferSetPixel", "no value");
  const PixelMessages refusals = {messages::kScreenBufferSetPixelNoChannel,
                                  messages::kScreenBufferSetPixelType,
                                  messages::kScreenBufferSetPixelOutside};
  return EachPixelChannel(b, mask, x, y, value, refusals, [&](uint32_t i, size_t p) {
    VtScreenBufferChannel &c = b->channels[i];
    if (i == 3) {
      static_cast<uint8_t *>(c.data)[p] = static_cast<uint8_t>(value->value.u);
      return;
    }
    float v[3];
    ValueFloats(i, value, v);
    if (i <= 1 && b->accumulate) {
      float stored[3];
      ChannelGet(c, i, p, 1, stored, Components(i));
      for (uint32_t k = 0; k < Components(i); ++k) v[k] = stored[k] + b->weight * v[k];
    }
    ChannelPut(c, i, p, 1, v, Components(i));
  });
}

VtStatus VoScreenBufferGetPixel(VtScreenBuffer *buffer, uint32_t mask, uint32_t x, uint32_t y,
                                VtTypedValue *value) {
  VtScreenBuffer *b = Readable(buffer, messages::kScreenBufferGetPixelBad);
  if (b == nullptr) return kRefused;
  if (value == nullptr) return Refuse("VoScreenBufferGetPixel", "no output");
  const PixelMessages refusals = {messages::kScreenBufferGetPixelNoChannel, 0,
                                  messages::kScreenBufferGetPixelOutside};
  return EachPixelChannel(b, mask, x, y, nullptr, refusals, [&](uint32_t i, size_t p) {
    *value = VtTypedValue{};
    value->type = kPixelTypes[i];
    if (i == 3)
      value->value.u = static_cast<const uint8_t *>(b->channels[3].data)[p];
    else
      ChannelGet(b->channels[i], i, p, 1, value->value.v, Components(i));
  });
}

VtStatus VoScreenBufferClear(VtScreenBuffer *buffer, uint32_t mask, const VtTypedValue *value) {
  VtScreenBuffer *b = Checked(buffer, messages::kScreenBufferClearBad);
  if (b == nullptr) return kRefused;
  if (value == nullptr) return Refuse("VoScreenBufferClear", "no value");
  for (uint32_t i = 0; i < kChannels; ++i) {
    if ((mask & kBits[i]) == 0) continue;
    if ((b->mask & kBits[i]) == 0) {
      Post(kRefused, messages::kScreenBufferClearBad, kModule);
      return kRefused;
    }
    if (value->type != kPixelTypes[i]) {
      Post(kRefused, messages::kScreenBufferClearType, kModule);
      return kRefused;
    }
    float v[3];
    ValueFloats(i, value, v);
    ChannelFill(b, i, v);
  }
  return 0;
}

VtStatus VoScreenBufferSetPrecision(VtScreenBuffer *buffer, uint32_t mask, uint32_t precision) {
  VtScreenBuffer *b = Checked(buffer, messages::kScreenBufferPrecisionBad);
  if (b == nullptr) return kRefused;
  if (!KnownPrecision(precision)) return Refuse("VoScreenBufferSetPrecision", "not a precision code");
  VtStatus st = 0, memory = 0;
  if (mask & VO_SB_COLOUR) memory |= Convert(b, 0, precision);
  if (mask & VO_SB_ALPHA) {
    if (precision == VO_SB_RGBE) {
      Post(kRefused, messages::kScreenBufferAlphaRGBE, kModule);
      st |= kRefused;
    } else {
      memory |= Convert(b, 1, precision);
    }
  }
  if ((mask & VO_SB_DEPTH) && precision != VO_SB_RGBE) {
    Post(kRefused, messages::kScreenBufferDepthPrecision, kModule);
    st |= kRefused;
  }
  if (mask & VO_SB_STENCIL) {
    Post(kRefused, messages::kScreenBufferStencilPrecision, kModule);
    st |= kRefused;
  }
  if (memory != 0) Post(memory, messages::kScreenBufferPrecisionNoMemory, kModule);
  return st | memory;
}

VtStatus VoScreenBufferGetPrecision(VtScreenBuffer *buffer, uint32_t mask, uint32_t *precision) {
  VtScreenBuffer *b = Checked(buffer, messages::kScreenBufferGetPrecisionBad);
  if (b == nullptr) return kRefused;
  if (precision == nullptr) return Refuse("VoScreenBufferGetPrecision", "no output");
  for (uint32_t i = 0; i < 3; ++i)
    if (mask & kBits[i]) *precision = b->channels[i].precision;
  if (mask & VO_SB_STENCIL) {
    Post(kRefused, messages::kScreenBufferStencilPrecision, kModule);
    return kRefused;
  }
  return 0;
}

}  // namespace vo
