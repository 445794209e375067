// The fold the tests fingerprint renders with: FNV-1a's step over bytes, a
// 64-bit hash that changes with every byte and its place. A fingerprint
// recorded in a test is a function of its starting value and of every byte
// folded, in order, so the fold must never change: a different one would
// make every recorded fingerprint stale at once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vo::test {

// FNV-1a's offset basis, where a fingerprint starts.
constexpr uint64_t kFnvBasis = 14695981039346656037ull;

// h with the bytes folded in, first to last.
inline uint64_t FnvMix(uint64_t h, const void *data, size_t bytes) {
  const auto *p = static_cast<const unsigned char *>(data);
  for (size_t i = 0; i < bytes; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

}  // namespace vo::test
