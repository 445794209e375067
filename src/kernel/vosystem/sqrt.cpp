// Table-driven square root and reciprocal square root of floats, 12
// mantissa bits of the argument.

#include <bit>
#include <cmath>

#include "kernel/vosystem/kernel.h"

namespace vo {

namespace {

constexpr uint32_t kPrecision = 12;
constexpr uint32_t kShift = 23 - kPrecision;
constexpr uint32_t kEntries = 1u << kPrecision;
constexpr uint32_t kMantissa = 0x7FFFFF;

struct SqrtTables {
  uint32_t sqrt_exponent[256];
  uint32_t sqrt_low[kEntries];   // mantissas for arguments in [0.5, 1)
  uint32_t sqrt_high[kEntries];  // and in [1, 2)
  uint32_t inv_exponent[256];
  uint32_t inv_low[kEntries];
  uint32_t inv_high[kEntries];

  SqrtTables() {
    for (uint32_t e = 0; e < 256; ++e) {
      sqrt_exponent[e] = ((e + 127) / 2) << 23;
      inv_exponent[e] = 0x7F000000u - (((e + 128) >> 1) << 23);
    }
    for (uint32_t i = 0; i < kEntries; ++i) {
      const double low = std::bit_cast<float>((126u << 23) | (i << kShift));
      const double high = std::bit_cast<float>((127u << 23) | (i << kShift));
      sqrt_low[i] = std::bit_cast<uint32_t>(static_cast<float>(std::sqrt(low))) & kMantissa;
      sqrt_high[i] = std::bit_cast<uint32_t>(static_cast<float>(std::sqrt(high))) & kMantissa;
      inv_low[i] = std::bit_cast<uint32_t>(static_cast<float>(1.0 / std::sqrt(low))) & kMantissa;
      inv_high[i] = std::bit_cast<uint32_t>(static_cast<float>(1.0 / std::sqrt(high))) & kMantissa;
    }
  }
};

// Built once when the library is loaded; they depend on nothing else.
const SqrtTables g_tables;

}  // namespace

float VoSqrtFast(float x) {
  const uint32_t b = std::bit_cast<uint32_t>(x);
  const uint32_t e = (b >> 23) & 0xFF;
  // Zero, subnormals, infinities and NaN fall outside the tables.
  if (e == 0 || e == 255) [[unlikely]]
    return std::sqrt(std::fabs(x));
  const uint32_t i = (b & kMantissa) >> kShift;
  const uint32_t m = (e & 1) ? g_tables.sqrt_high[i] : g_tables.sqrt_low[i];
  return std::bit_cast<float>(g_tables.sqrt_exponent[e] | m);
}

float VoInvSqrtFast(float x) {
  const uint32_t b = std::bit_cast<uint32_t>(x);
  const uint32_t e = (b >> 23) & 0xFF;
  if (e == 0 || e == 255) [[unlikely]]  // 1/sqrt(0) is +infinity
    return 1.0f / std::sqrt(std::fabs(x));
  const uint32_t i = (b & kMantissa) >> kShift;
  if ((e & 1) == 0) return std::bit_cast<float>(g_tables.inv_exponent[e] | g_tables.inv_low[i]);
  const uint32_t exponent = g_tables.inv_exponent[e] - (i != 0 ? 0x800000u : 0u);
  return std::bit_cast<float>(exponent | g_tables.inv_high[i]);
}

}  // namespace vo
