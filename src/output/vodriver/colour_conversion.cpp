// Colour conversion: set-up of the display modes from a driver's settings,
// the five row converters, installation and removal on a driver record,
// and the line clipper on the driver record's clip window.
//
// Settings a driver does not give fall back to defaults with a debug
// message naming the control, the driver and the default; nothing fails.
// A cube whose levels would not fit a byte pixel, a mask wider than a byte
// and a size outside 2..256 are treated as not given.

#include <cmath>
#include <cstdio>
#include <cstring>

#include "output/vodriver/driver.h"
#include "output/vodriver/image_shapes.h"
#include "kernel/vosystem/face.h"

namespace vo::driver {

namespace {

constexpr int kMatrix[16] = {0, 14, 3, 13, 11, 5, 8, 6, 12, 2, 15, 1, 7, 9, 4, 10};

// Reads the settings of a driver through its control-get.
struct SettingReader {
  DriverState *s;
  VtDriverRecord *source;

  bool Ask(uint32_t code, VtTypedValue *v) const {
    *v = VtTypedValue{};
    if (!Push(s, source)) return false;
    const VtStatus st = source->control_get(code, v);
    Pop(s);
    return st == 0;
  }
  void Defaulted(uint32_t code, const char *text) const {
    char buffer[16];
    Post(VO_CLASS_DEBUG, messages::kConversionDefault, VO_MODULE_DRIVER,
         ControlName(code, buffer, sizeof buffer), source->name, text);
  }
  // An integer setting; answers within [low, high] are taken, else the default.
  int64_t Int(uint32_t code, int64_t low, int64_t high, int64_t fallback, const char *text) const {
    VtTypedValue v{};
    if (Ask(code, &v) && v.value.i >= low && v.value.i <= high) return v.value.i;
    Defaulted(code, text);
    return fallback;
  }
  float Gamma() const {
    VtTypedValue v{};
    if (Ask(VO_CONTROL_DRIVER_GAMMA, &v) && std::isfinite(v.value.f) && v.value.f != 0.0f) return v.value.f;
    Defaulted(VO_CONTROL_DRIVER_GAMMA, "1.5");
    return 1.5f;
  }
  int32_t Code() const {
    VtTypedValue v{};
    return Ask(VO_CONTROL_DRIVER_CONVERSION, &v) ? v.value.i : -1;
  }
  float Amplitude() const {
    VtTypedValue v{};
    return Ask(VO_CONTROL_DRIVER_DITHER_AMP, &v) ? v.value.f : 0.0f;
  }
};

uint32_t GammaLevel(uint32_t v, float gamma) {
  return static_cast<uint32_t>(std::floor(std::pow(v / 255.0, 1.0 / gamma) * 255.0 + 0.5));
}

int32_t Clamp255(int64_t v) { return v < 0 ? 0 : v > 255 ? 255 : static_cast<int32_t>(v); }

uint32_t Sum(const ColourConversion *c, const int32_t v[3]) {
  return c->base + c->level[0][v[0]] + c->level[1][v[1]] + c->level[2][v[2]];
}

// ---------------------------------------------------------------------------
// Row converters
// ---------------------------------------------------------------------------

void NearestRow(ColourConversion *c, const uint8_t *rgb, uint32_t *out, uint32_t n) {
  const uint32_t *r = c->level[0], *g = c->level[1], *b = c->level[2];
  for (uint32_t x = 0; x < n; ++x, rgb += 3) out[x] = c->base + r[rgb[0]] + g[rgb[1]] + b[rgb[2]];
}

void RandomRow(ColourConversion *c, const uint8_t *rgb, uint32_t *out, uint32_t n) {
  VoRandomTableSeek();
  for (uint32_t x = 0; x < n; ++x, rgb += 3) {
    const double noise = 2.0 * VoRandomTableNext() - 1.0;
    int32_t v[3];
    for (int k = 0; k < 3; ++k)
      v[k] = Clamp255(static_cast<int64_t>(c->step[k] * c->amplitude * noise + rgb[k] + 0.5));
    out[x] = Sum(c, v);
  }
}

void FloydSteinbergRow(ColourConversion *c, const uint8_t *rgb, uint32_t *out, uint32_t n) {
  int32_t *__restrict cur = c->errors[0];
  int32_t *__restrict next = c->errors[1];
  const bool noise = c->conversion == kConversionFloydSteinbergNoise;
  if (noise) VoRandomTableSeek();
  std::memset(next, 0, 9 * sizeof(int32_t));
  // Locals, so that the stores into the error rows do not reload the tables.
  const int32_t count = c->weight_count, low = c->weight_low;
  const int32_t *right = c->weights - low, *below = right + count, *below_left = below + count,
                *below_right = below_left + count;
  const uint32_t *level[3] = {c->level[0], c->level[1], c->level[2]};
  const int32_t *error[3] = {c->error[0], c->error[1], c->error[2]};
  const double spread[3] = {c->amplitude * static_cast<double>(c->step[0]),
                            c->amplitude * static_cast<double>(c->step[1]),
                            c->amplitude * static_cast<double>(c->step[2])};
  const uint32_t base = c->base;
  for (uint32_t x = 0; x < n; ++x, rgb += 3) {
    const double u = noise ? 2.0 * VoRandomTableNext() - 1.0 : 0.0;
    int32_t v[3];
    for (int k = 0; k < 3; ++k) {
      int64_t value = int64_t{rgb[k]} + cur[(x + 1) * 3 + k];
      if (noise) value = static_cast<int64_t>(u * spread[k] + static_cast<double>(value) + 0.5);
      v[k] = Clamp255(value);
    }
    out[x] = base + level[0][v[0]] + level[1][v[1]] + level[2][v[2]];
    for (int k = 0; k < 3; ++k) {
      const int32_t e = error[k][v[k]];
      cur[(x + 2) * 3 + k] += right[e];
      next[(x + 1) * 3 + k] += below[e];
      next[x * 3 + k] += below_left[e];
      next[(x + 2) * 3 + k] = below_right[e];
    }
  }
  c->errors[0] = next;
  c->errors[1] = cur;
}

void OrderedRow(ColourConversion *c, const uint8_t *rgb, uint32_t *out, uint32_t n) {
  const uint32_t ty = c->y % 16;
  for (uint32_t x = 0; x < n; ++x, rgb += 3) {
    uint32_t pixel = c->base;
    for (int k = 0; k < 3; ++k) {
      const uint32_t level = c->ordered_level[k][rgb[k]];
      const bool up = c->threshold[k][x % 16][ty] < c->remainder[k][rgb[k]] && level < c->top[k];
      pixel += up ? level + c->mult[k] : level;
    }
    out[x] = pixel;
  }
}

// ---------------------------------------------------------------------------
// Method set-up
// ---------------------------------------------------------------------------

VtStatus FloydSteinbergSetUp(ColourConversion *c) {
  if (VtStatus st = VoRandomTableCreate(100)) return st;
  int32_t low = 0, high = 0;
  for (const auto &table : c->error)
    for (int32_t e : table) {
      low = e < low ? e : low;
      high = e > high ? e : high;
    }
  c->weight_low = low;
  c->weight_count = high - low + 1;
  c->weights =
      static_cast<int32_t *>(VoAllocate(static_cast<uint32_t>(4 * c->weight_count * sizeof(int32_t))));
  if (c->weights == nullptr) return VO_STATUS_NO_MEMORY;
  const int32_t count = c->weight_count;
  for (int32_t e = low; e <= high; ++e) {
    int32_t *w = c->weights + (e - low);
    w[0] = (8 + 7 * e) / 16;
    w[count] = (8 + 5 * e) / 16;
    w[2 * count] = (8 + 3 * e) / 16;
    w[3 * count] = e - w[0] - w[count] - w[2 * count];
  }
  c->convert = &FloydSteinbergRow;
  return 0;
}

void OrderedSetUp(ColourConversion *c) {
  for (int k = 0; k < 3; ++k) {
    const int32_t s = c->step[k];
    c->top[k] = c->mult[k] * static_cast<uint32_t>(c->max[k]);
    for (int32_t v = 0; v < 256; ++v) {
      const int32_t q = v / s > c->max[k] ? c->max[k] : v / s;
      c->ordered_level[k][v] = c->mult[k] * static_cast<uint32_t>(q);
      c->remainder[k][v] = v == 255 ? 0 : v - s * (v / s);
    }
    const double f = k == 0 ? static_cast<double>((s - 1) / 16) : (s - 1) / 16.0;
    for (int l = 0; l < 4; ++l)
      for (int i = 0; i < 4; ++i)
        for (int kk = 0; kk < 4; ++kk)
          for (int j = 0; j < 4; ++j)
            c->threshold[k][4 * l + i][4 * kk + j] =
                static_cast<int32_t>((kMatrix[4 * i + j] + kMatrix[4 * l + kk] / 16.0) * f + 0.5);
  }
  c->convert = &OrderedRow;
}

VtStatus RandomSetUp(ColourConversion *c, float fallback) {
  if (c->amplitude == 0.0f || !std::isfinite(c->amplitude)) c->amplitude = fallback;
  c->conversion = kConversionRandom;
  c->convert = &RandomRow;
  return VoRandomTableCreate(200);
}

// The dithers of the palette modes (3 and 6).
VtStatus PaletteMethod(const SettingReader &r, ColourConversion *c, int32_t code) {
  c->amplitude = r.Amplitude();
  switch (code) {
    case kConversionRandom: return RandomSetUp(c, 0.375f);
    case kConversionNearest: c->conversion = kConversionNearest; return 0;
    case kConversionOrdered:
      c->conversion = kConversionOrdered;
      OrderedSetUp(c);
      return 0;
    case kConversionFloydSteinbergNoise:
      if (c->amplitude == 0.0f || !std::isfinite(c->amplitude)) c->amplitude = 0.15f;
      c->conversion = kConversionFloydSteinbergNoise;
      return FloydSteinbergSetUp(c);
    default:
      if (code != kConversionDefault && code != kConversionFloydSteinberg)
        r.Defaulted(VO_CONTROL_DRIVER_CONVERSION, "\"VO_CONVERSION_FS_RGB\"");
      c->conversion = kConversionFloydSteinberg;
      c->amplitude = 0.0f;
      return FloydSteinbergSetUp(c);
  }
}

VtStatus PackedSetUp(const SettingReader &r, ColourConversion *c) {
  static constexpr uint32_t kMult[3] = {VO_CONTROL_DRIVER_RGB_R_MULT, VO_CONTROL_DRIVER_RGB_G_MULT,
                                        VO_CONTROL_DRIVER_RGB_B_MULT};
  static constexpr const char *kText[3] = {"256 * 256", "256", "1"};
  static constexpr uint32_t kDefault[3] = {65536, 256, 1};
  for (int k = 0; k < 3; ++k) {
    c->mult[k] = static_cast<uint32_t>(r.Int(kMult[k], 1, INT32_MAX, kDefault[k], kText[k]));
    c->step[k] = 1;
    c->max[k] = 255;
  }
  c->gamma = r.Gamma();
  const int32_t code = r.Code();
  c->amplitude = r.Amplitude();
  for (uint32_t v = 0; v < 256; ++v)
    for (int k = 0; k < 3; ++k) c->level[k][v] = c->mult[k] * GammaLevel(v, c->gamma);
  if (code == kConversionRandom) return RandomSetUp(c, 2.0f);
  if (code != kConversionDefault && code != kConversionNearest)
    r.Defaulted(VO_CONTROL_DRIVER_CONVERSION, "\"VO_CONVERSION_NEAREST_RGB\"");
  c->conversion = kConversionNearest;
  return 0;
}

VtStatus CubeSetUp(const SettingReader &r, ColourConversion *c, int32_t *size_out) {
  c->base = static_cast<uint32_t>(r.Int(VO_CONTROL_DRIVER_RGB_BASE, 0, 255, 0, "0"));
  // A cube larger than the palette above the base is not given.
  int64_t size = r.Int(VO_CONTROL_DRIVER_RGB_SIZE, 2, 256, 6, "6");
  if (size * size * size > 256 - static_cast<int64_t>(c->base)) {
    r.Defaulted(VO_CONTROL_DRIVER_RGB_SIZE, "6");
    size = 6;
  }
  *size_out = static_cast<int32_t>(size);
  char square[32], side[16];
  std::snprintf(square, sizeof square, "%d * %d", static_cast<int>(size), static_cast<int>(size));
  std::snprintf(side, sizeof side, "%d", static_cast<int>(size));
  c->mult[0] = static_cast<uint32_t>(r.Int(VO_CONTROL_DRIVER_RGB_R_MULT, 1, INT32_MAX, size * size, square));
  c->mult[1] = static_cast<uint32_t>(r.Int(VO_CONTROL_DRIVER_RGB_G_MULT, 1, INT32_MAX, size, side));
  c->mult[2] = static_cast<uint32_t>(r.Int(VO_CONTROL_DRIVER_RGB_B_MULT, 1, INT32_MAX, 1, "1"));
  const int32_t max = static_cast<int32_t>(size) - 1;
  for (int k = 0; k < 3; ++k) {
    c->max[k] = max;
    c->step[k] = 255 / max;
    for (int32_t v = 0; v < 256; ++v) {
      const int32_t q = (max * v + 128) >> 8;
      c->level[k][v] = c->mult[k] * static_cast<uint32_t>(q);
      c->error[k][v] = v - c->step[k] * q;
    }
  }
  return PaletteMethod(r, c, r.Code());
}

VtStatus BitFieldSetUp(const SettingReader &r, ColourConversion *c) {
  static constexpr uint32_t kMask[3] = {VO_CONTROL_DRIVER_RGB_R_MASK, VO_CONTROL_DRIVER_RGB_G_MASK,
                                        VO_CONTROL_DRIVER_RGB_B_MASK};
  static constexpr uint32_t kMult[3] = {VO_CONTROL_DRIVER_RGB_R_MULT, VO_CONTROL_DRIVER_RGB_G_MULT,
                                        VO_CONTROL_DRIVER_RGB_B_MULT};
  static constexpr const char *kText[3] = {"0xe0", "0x1c", "0x03"};
  static constexpr uint32_t kDefault[3] = {0xe0, 0x1c, 0x03};
  for (int k = 0; k < 3; ++k) {
    c->mask[k] = static_cast<uint32_t>(r.Int(kMask[k], 1, 0xff, kDefault[k], kText[k]));
    const uint32_t low = c->mask[k] & (~c->mask[k] + 1);
    c->max[k] = static_cast<int32_t>(c->mask[k] / low);
    c->step[k] = 255 / c->max[k];
    char text[16];
    std::snprintf(text, sizeof text, "%x", low);
    c->mult[k] = static_cast<uint32_t>(r.Int(kMult[k], 1, INT32_MAX, low, text));
  }
  c->gamma = r.Gamma();
  const int32_t code = r.Code();
  for (uint32_t v = 0; v < 256; ++v) {
    const int32_t g = static_cast<int32_t>(GammaLevel(v, c->gamma));
    for (int k = 0; k < 3; ++k) {
      const int32_t q = (c->max[k] * g + 128) >> 8;
      c->level[k][v] = c->mult[k] * static_cast<uint32_t>(q);
      c->error[k][v] = g - c->step[k] * q;
    }
  }
  return PaletteMethod(r, c, code);
}

void GreySetUp(const SettingReader &r, ColourConversion *c, int32_t *size_out) {
  const int64_t size = r.Int(VO_CONTROL_DRIVER_RGB_SIZE, 2, 256, 256, "256");
  *size_out = static_cast<int32_t>(size);
  c->base = static_cast<uint32_t>(r.Int(VO_CONTROL_DRIVER_RGB_BASE, 0, 255, 0, "0"));
  const int64_t max = size - 1;
  static constexpr double kWeight[3] = {0.299, 0.587, 0.114};
  for (int k = 0; k < 3; ++k) {
    c->max[k] = static_cast<int32_t>(max);
    c->step[k] = static_cast<int32_t>(255 / max);
    for (int v = 0; v < 256; ++v)
      c->level[k][v] =
          static_cast<uint32_t>((static_cast<int64_t>(std::floor(kWeight[k] * v)) * max + 128) >> 8);
  }
  const int32_t code = r.Code();
  if (code != kConversionDefault && code != kConversionGreyscale)
    r.Defaulted(VO_CONTROL_DRIVER_CONVERSION, "\"VO_CONVERSION_GREYSCALE\"");
  c->conversion = kConversionGreyscale;
}

void MethodRelease(ColourConversion *c) {
  VoDeallocate(c->errors[0]);
  VoDeallocate(c->errors[1]);
  VoDeallocate(c->weights);
  VoDeallocate(c->row);
  VoDeallocate(c);
}

// The record that mirrors a: the current record and the current driver's
// list record are kept alike.
VtDriverRecord *Twin(const DriverState *s, const VtDriverRecord *a) {
  if (a == s->current_pointer) return s->current;
  if (a == s->current) return s->current_pointer;
  return nullptr;
}

void ConversionField(DriverState *s, VtDriverRecord *a, ColourConversion *c, VtDriverRowProc saved) {
  a->conversion = c;
  a->saved_byte_row = saved;
  if (VtDriverRecord *t = Twin(s, a)) {
    t->conversion = c;
    t->saved_byte_row = saved;
  }
}

// The list record a slot change goes through.
VtDriverRecord *Named(const DriverState *s, VtDriverRecord *a) {
  return a == s->current_pointer && s->current != nullptr ? s->current : a;
}

void SettingsCopy(DriverState *s, const ColourConversion *c, int32_t size) {
  ConversionSettings &h = s->conversion;
  h.valid = 1;
  h.gamma = c->gamma;
  h.dither_amplitude = c->amplitude;
  for (int k = 0; k < 3; ++k) {
    h.multiplier[k] = static_cast<int32_t>(c->mult[k]);
    h.mask[k] = c->mask[k];
  }
  h.size = size;
  h.base = static_cast<int32_t>(c->base);
  h.display_mode = c->display_mode;
  h.conversion = c->conversion;
}

}  // namespace

VtStatus ConversionInstall(int32_t display_mode, VtDriverRecord *source) {
  DriverState *s = State();
  VtDriverRecord *a = Active(s);
  if (a->conversion != nullptr) {
    Post(VO_CLASS_WARNING, messages::kConversionPresent, VO_MODULE_DRIVER, a->name);
    return kNotInList;
  }
  if (display_mode != 1 && display_mode != 3 && display_mode != 4 && display_mode != 6) return kRefused;
  auto *c = static_cast<ColourConversion *>(VoAllocate(sizeof(ColourConversion)));
  if (c == nullptr) return VO_STATUS_NO_MEMORY;
  std::memset(static_cast<void *>(c), 0, sizeof *c);
  c->display_mode = display_mode;
  c->convert = &NearestRow;
  c->gamma = 1.0f;
  const SettingReader r{s, source != nullptr ? source : a};
  int32_t size = 256;
  VtStatus st = 0;
  const VtDriverRowProc saved = Slot<0x1a000f>(a);
  switch (display_mode) {
    case 1: st = PackedSetUp(r, c); break;
    case 3: st = CubeSetUp(r, c, &size); break;
    case 4: GreySetUp(r, c, &size); break;
    default: st = BitFieldSetUp(r, c); break;
  }
  if (st == 0)
    st = VoDriverSetOperation(Named(s, a), VO_DRIVER_ROW_BYTES, reinterpret_cast<VtProc>(&ConversionRow));
  if (st != 0) {
    MethodRelease(c);
    return st;
  }
  ConversionField(s, a, c, saved);
  if ((Named(s, a)->capability & VO_DRIVER_CAPABILITY_DEVICE) != 0) SettingsCopy(s, c, size);
  return 0;
}

VtStatus ConversionRemove() {
  DriverState *s = State();
  VtDriverRecord *a = Active(s);
  if (a->conversion == nullptr || a->saved_byte_row == nullptr) {
    Post(VO_CLASS_WARNING, messages::kConversionAbsent, VO_MODULE_DRIVER, a->name);
    return kNotInList;
  }
  ColourConversion *c = a->conversion;
  const VtStatus st =
      VoDriverSetOperation(Named(s, a), VO_DRIVER_ROW_BYTES, reinterpret_cast<VtProc>(a->saved_byte_row));
  ConversionField(s, a, nullptr, nullptr);
  MethodRelease(c);
  return st;
}

void ConversionFree(ColourConversion *c) {
  if (c != nullptr) MethodRelease(c);
}

ColourConversion *ConversionSuspend() {
  DriverState *s = State();
  VtDriverRecord *a = Active(s);
  ColourConversion *c = a->conversion;
  if (c == nullptr) return nullptr;
  (void)VoDriverSetOperation(Named(s, a), VO_DRIVER_ROW_BYTES, reinterpret_cast<VtProc>(a->saved_byte_row));
  ConversionField(s, a, nullptr, nullptr);
  return c;
}

void ConversionResume(ColourConversion *c) {
  DriverState *s = State();
  VtDriverRecord *a = Active(s);
  if (c == nullptr || a->conversion != nullptr) return;
  const VtDriverRowProc saved = Slot<0x1a000f>(a);
  (void)VoDriverSetOperation(Named(s, a), VO_DRIVER_ROW_BYTES, reinterpret_cast<VtProc>(&ConversionRow));
  ConversionField(s, a, c, saved);
}

VtStatus ConversionFrameStart(uint32_t width) {
  DriverState *s = State();
  VtDriverRecord *a = Active(s);
  ColourConversion *c = a->conversion;
  if (c == nullptr) {
    Post(VO_CLASS_WARNING, messages::kConversionMissing, VO_MODULE_DRIVER, a->name);
    return kNotInList;
  }
  if (width == 0 || width > (UINT32_MAX / 12) - 2) return kUnknown;
  if (width != c->width || c->row == nullptr) {
    auto *row = static_cast<uint32_t *>(VoAllocate(width * 4));
    if (row == nullptr) return VO_STATUS_NO_MEMORY;
    VoDeallocate(c->row);
    c->row = row;
    c->width = width;
  }
  if (c->convert == &FloydSteinbergRow) {
    const uint32_t triples = (width + 2) * 3;
    if (c->error_width != width || c->errors[0] == nullptr) {
      auto *e0 = static_cast<int32_t *>(VoAllocate(triples * 4));
      auto *e1 = static_cast<int32_t *>(VoAllocate(triples * 4));
      if (e0 == nullptr || e1 == nullptr) {
        VoDeallocate(e0);
        VoDeallocate(e1);
        return VO_STATUS_NO_MEMORY;
      }
      VoDeallocate(c->errors[0]);
      VoDeallocate(c->errors[1]);
      c->errors[0] = e0;
      c->errors[1] = e1;
      c->error_width = width;
    }
    std::memset(c->errors[0], 0, triples * 4);
    std::memset(c->errors[1], 0, triples * 4);
  }
  return 0;
}

uint32_t ConversionColour(const uint8_t *rgb) {
  DriverState *s = State();
  VtDriverRecord *a = Active(s);
  const ColourConversion *c = a->conversion;
  if (c == nullptr) {
    Post(VO_CLASS_WARNING, messages::kConversionMissing, VO_MODULE_DRIVER, a->name);
    return 0;
  }
  const int32_t v[3] = {rgb[0], rgb[1], rgb[2]};
  return Sum(c, v);
}

VtStatus ConversionRow(uint32_t y, void *pixels) {
  DriverState *s = State();
  VtDriverRecord *a = Active(s);
  ColourConversion *c = a->conversion;
  if (c == nullptr || c->row == nullptr) {
    Post(VO_CLASS_WARNING, messages::kConversionNoWidth, VO_MODULE_DRIVER, a->name);
    return kNotInList;
  }
  if (pixels == nullptr) return kUnknown;
  c->y = y;
  c->convert(c, static_cast<const uint8_t *>(pixels), c->row, c->width);
  return Slot<0x1a000e>(a)(y, c->row);
}

void ClipWindowSet(int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
  VtDriverRecord *a = Active(State());
  a->clip[0] = x1;
  a->clip[1] = x0;
  a->clip[2] = y1;
  a->clip[3] = y0;
}

bool ClipLine(VtRasterPoint *p0, VtRasterPoint *p1) {
  const VtDriverRecord *a = Active(State());
  const ClipWindow w{a->clip[1], a->clip[0], a->clip[3], a->clip[2]};
  if (w.x0 > w.x1 || w.y0 > w.y1) return false;
  int64_t e[4] = {p0->x, p0->y, p1->x, p1->y};
  if (!LineClip(w, e)) return false;
  *p0 = VtRasterPoint{static_cast<int32_t>(e[0]), static_cast<int32_t>(e[1])};
  *p1 = VtRasterPoint{static_cast<int32_t>(e[2]), static_cast<int32_t>(e[3])};
  return true;
}

}  // namespace vo::driver
