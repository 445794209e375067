// ISAAC (Bob Jenkins' published generator, RANDSIZL 8) as object files use
// it: only to turn the header's seed words into a byte permutation, so the
// words must match the published ones exactly; nothing here is meant to be
// cryptographically strong.

#include "io/voobject/isaac.h"

#include <cstring>

namespace vo::object {

namespace {

constexpr uint32_t kSize = 256;
constexpr uint32_t kGolden = 0x9e3779b9u;

struct Mix {
  uint32_t a, b, c, d, e, f, g, h;
  void Step() {
    a ^= b << 11;
    d += a;
    b += c;
    b ^= c >> 2;
    e += b;
    c += d;
    c ^= d << 8;
    f += c;
    d += e;
    d ^= e >> 16;
    g += d;
    e += f;
    e ^= f << 10;
    h += e;
    f += g;
    f ^= g >> 4;
    a += f;
    g += h;
    g ^= h << 8;
    b += g;
    h += a;
    h ^= a >> 9;
    c += h;
    a += b;
  }
  void Add(const uint32_t *w) {
    a += w[0];
    b += w[1];
    c += w[2];
    d += w[3];
    e += w[4];
    f += w[5];
    g += w[6];
    h += w[7];
  }
  void Store(uint32_t *w) const {
    w[0] = a;
    w[1] = b;
    w[2] = c;
    w[3] = d;
    w[4] = e;
    w[5] = f;
    w[6] = g;
    w[7] = h;
  }
};

// The word of memory that x's bits 2-9 index.
inline uint32_t Indirect(const uint32_t *mm, uint32_t x) { return mm[(x >> 2) & (kSize - 1)]; }

}  // namespace

void IsaacGenerate(IsaacState *s) {
  uint32_t *mm = s->memory;
  uint32_t *r = s->result;
  uint32_t a = s->a;
  uint32_t b = s->b + (++s->c);
  for (uint32_t i = 0; i < kSize; ++i) {
    const uint32_t x = mm[i];
    switch (i & 3) {
      case 0: a ^= a << 13; break;
      case 1: a ^= a >> 6; break;
      case 2: a ^= a << 2; break;
      default: a ^= a >> 16; break;
    }
    a += mm[(i + kSize / 2) & (kSize - 1)];
    const uint32_t y = Indirect(mm, x) + a + b;
    mm[i] = y;
    b = Indirect(mm, y >> 8) + x;
    r[i] = b;
  }
  s->a = a;
  s->b = b;
}

void IsaacInitialise(IsaacState *s) {
  s->a = s->b = s->c = 0;
  Mix m{kGolden, kGolden, kGolden, kGolden, kGolden, kGolden, kGolden, kGolden};
  for (int i = 0; i < 4; ++i) m.Step();
  for (uint32_t i = 0; i < kSize; i += 8) {
    m.Add(&s->result[i]);
    m.Step();
    m.Store(&s->memory[i]);
  }
  for (uint32_t i = 0; i < kSize; i += 8) {
    m.Add(&s->memory[i]);
    m.Step();
    m.Store(&s->memory[i]);
  }
  IsaacGenerate(s);
  s->count = kSize;
}

uint32_t IsaacDraw(IsaacState *s) {
  if (s->count == 0) {
    IsaacGenerate(s);
    s->count = kSize - 1;
    return s->result[kSize - 1];
  }
  --s->count;
  return s->result[s->count];
}

void ByteTablesBuild(IsaacState *s, const uint32_t seeds[256], uint8_t forward[256], uint8_t inverse[256]) {
  std::memcpy(s->result, seeds, sizeof s->result);
  IsaacInitialise(s);
  bool taken[256] = {};
  uint32_t k = 0;
  while (k < 256) {
    const uint32_t b = IsaacDraw(s) & 255u;
    if (taken[b]) continue;
    taken[b] = true;
    forward[k] = static_cast<uint8_t>(b);
    inverse[b] = static_cast<uint8_t>(k);
    ++k;
  }
}

}  // namespace vo::object
