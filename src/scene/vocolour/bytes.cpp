// Float components to bytes: the one conversion behind the drivers' float
// rows and colours, the screen buffers' byte channels and the
// post-processor's byte rows, so that a colour gives the same byte on
// every path.
//
// Below 0 and not a number give 0, 1 and above 255, else c x 255 + 0.5
// truncated; the SSE2 path and the one-at-a-time path agree on every float.

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "scene/vocolour/face.h"

namespace vo::colour {
// Sixteen components at a time with SSE2 (part of every x86-64 processor).
// maxps answers its second operand for not a number, so that becomes 0 as
// above.
void BytesFromFloats(const float *in, uint8_t *out, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128 scale = _mm_set1_ps(255.0f), half = _mm_set1_ps(0.5f), zero = _mm_setzero_ps();
  auto four = [&](const float *at) {
    const __m128 v = _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(at), scale), half);
    return _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(v, zero), scale));
  };
  for (; i + 16 <= n; i += 16) {
    const __m128i low = _mm_packs_epi32(four(in + i), four(in + i + 4));
    const __m128i high = _mm_packs_epi32(four(in + i + 8), four(in + i + 12));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_packus_epi16(low, high));
  }
#endif
  for (; i < n; ++i) out[i] = ComponentToByte(in[i]);
}

}  // namespace vo::colour
