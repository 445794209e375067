// The colour module's face: the RGBE word of the colour utilities, for the
// screen buffer's per-pixel paths (packing and unpacking inline, without the
// exported boundary), and float components to bytes, as drivers, the screen
// buffer and the post-processor write them.
//
// A word holds three 8-bit mantissas (red in the least significant byte)
// and a signed, unbiased 8-bit exponent E in the top byte; a component is
// mantissa x 2^(E - 8). Black is 0x80000000. Everything is done with shifts
// on the 32-bit word, never through a byte view of it.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace vo::colour {

constexpr uint32_t kRGBEBlack = 0x80000000u;
constexpr int kExponentLeast = -128;
constexpr int kExponentMost = 127;

// One component split for packing: a 16-bit mantissa (32768-65535, rounded
// by half of the last 8-bit place) and its exponent; m = 0, e = -128 for
// zero, negative and NaN; e above 127 for components too large to hold.
struct Split {
  uint32_t m;
  int e;
};

inline Split SplitComponent(float c) {
  if (!(c > 0.0f)) return {0, kExponentLeast};
  const uint32_t bits = std::bit_cast<uint32_t>(c);
  const uint32_t field = bits >> 23;                     // the sign is 0 here
  if (field == 0xFF) return {65535, kExponentMost + 2};  // infinite
  int e;
  uint32_t m;
  if (field != 0) {
    // c = (2^23 + fraction) x 2^(field - 150) = f x 2^(field - 126) with f
    // in [0.5, 1): f x 65536 truncated is the top 16 bits of the significand.
    e = static_cast<int>(field) - 126;
    m = (0x800000u | (bits & 0x7FFFFFu)) >> 8;
  } else {
    const float f = std::frexp(c, &e);  // subnormal
    m = static_cast<uint32_t>(f * 65536.0f);
  }
  m += 128;
  if (m >= 65536) {
    m >>= 1;
    ++e;
  }
  return {m, e};
}

// The byte of a component under the shared exponent.
inline uint32_t ComponentByte(const Split &s, int shared) {
  const int shift = shared + 8 - s.e;
  return shift >= 32 ? 0u : (s.m >> shift) & 0xFFu;
}

inline uint32_t RGBEPack(const float *rgb) {
  const Split s[3] = {SplitComponent(rgb[0]), SplitComponent(rgb[1]), SplitComponent(rgb[2])};
  int shared = s[0].e;
  if (s[1].e > shared) shared = s[1].e;
  if (s[2].e > shared) shared = s[2].e;
  if (shared < kExponentLeast) return kRGBEBlack;  // below the smallest exponent: black
  uint32_t word = 0;
  if (shared > kExponentMost) {
    // Too large to hold: the exponent saturates, and a component beyond it
    // takes the largest mantissa.
    for (int i = 0; i < 3; ++i)
      word |= (s[i].e > kExponentMost ? 0xFFu : ComponentByte(s[i], kExponentMost)) << (8 * i);
    shared = kExponentMost;
  } else {
    for (int i = 0; i < 3; ++i) word |= ComponentByte(s[i], shared) << (8 * i);
  }
  return word | (static_cast<uint32_t>(shared) & 0xFFu) << 24;
}

inline void RGBEUnpack(uint32_t word, float *rgb) {
  const int e = static_cast<int>(static_cast<int8_t>(static_cast<uint8_t>(word >> 24))) - 8;
  // 2^e as a double (e from -136 to 119 is always normal there); each
  // product is exact and rounds to the float that ldexp would give.
  const double scale = std::bit_cast<double>(static_cast<uint64_t>(e + 1023) << 52);
  for (int i = 0; i < 3; ++i)
    rgb[i] = static_cast<float>(static_cast<double>((word >> (8 * i)) & 0xFFu) * scale);
}

inline uint32_t RGBEFromBytes(const uint8_t *rgb) {
  return static_cast<uint32_t>(rgb[0]) | static_cast<uint32_t>(rgb[1]) << 8 |
         static_cast<uint32_t>(rgb[2]) << 16;
}

// n float components to n bytes, sixteen at a time: below 0 and not a
// number give 0, 1 and above 255, else c x 255 + 0.5 truncated (the float
// rows of every driver, the screen buffers' byte channels).
void BytesFromFloats(const float *in, uint8_t *out, size_t n);
// One float component to a byte by the rule above: clamping c x 255 + 0.5 to 0..255 gives the rule above, and
// is written so that rows vectorise (not a number fails the first test).
inline uint8_t ComponentToByte(float c) {
  float v = c * 255.0f + 0.5f;
  v = v > 0.0f ? v : 0.0f;
  v = v < 255.0f ? v : 255.0f;
  return static_cast<uint8_t>(static_cast<int>(v));
}

// One float RGB colour to three bytes, each component as above; inline, for
// the driver's per-pixel fallback loops call it.
inline void ColourToBytes(const float *colour, uint8_t *bytes) {
  bytes[0] = ComponentToByte(colour[0]);
  bytes[1] = ComponentToByte(colour[1]);
  bytes[2] = ComponentToByte(colour[2]);
}

}  // namespace vo::colour
