// Noise and turbulence: classic lattice noise, Perlin gradient noise and
// sparse-convolution noise in one, two and three dimensions, the tables they
// read, the per-context family selection and the exported procedures.
//
// The tables are drawn once at start, in a fixed order, from the kernel
// generator seeded with 1, so every run gives the same values and modules
// drawing after this one see the numbers that follow the tables. They are
// shared by every context and never written after start. The arithmetic is
// float where the values are floats (the build keeps float expressions
// uncontracted), so results are bit-identical between runs and builds.
//
// A lattice cell is reduced modulo its table's period before it becomes a
// 32-bit integer: coordinates beyond 2^31 (turbulence doubles them ten
// times) then stay defined, and cells inside that range hash as before.
// Every point costs a few hundred instructions and no call: the corners
// share their outer hash look-ups and the classic weights are computed once
// per axis.

#include <algorithm>
#include <cmath>
#include <utility>

#include "shading/voshader/voshader.h"

namespace vo::shader {
namespace {

constexpr uint32_t kClassicGroups = 512;
constexpr uint32_t kPerlinSize = 256;
constexpr uint32_t kImpulseCount = kImpulsesMax + 1;
constexpr uint32_t kKernelSize = 101;
constexpr uint32_t kOctavesMax = 10;

// A coordinate's cell modulo the period (a power of two), as an integer in
// [0, period), and its fraction in the cell. Below 2^23 in magnitude the
// cell comes from the truncation, stepped down for negative fractions;
// within the 64-bit range it is reduced by its low bits, which is exactly
// the remainder; beyond it the remainder is taken in double. A coordinate
// that is not finite hashes as cell 0 (its fraction carries the NaN into
// the result).
[[gnu::always_inline]] inline void Cell(float v, int32_t period, float *f, int32_t *c) {
  if (std::fabs(v) < 0x1p23f) {
    int32_t i = static_cast<int32_t>(v);
    if (v < static_cast<float>(i)) --i;
    *f = v - static_cast<float>(i);
    *c = i & (period - 1);
    return;
  }
  const float cell = std::floor(v);
  *f = v - cell;
  if (std::fabs(cell) < 0x1p62f) {
    *c = static_cast<int32_t>(static_cast<int64_t>(cell) & (period - 1));
  } else if (!std::isfinite(cell)) {
    *c = 0;
  } else {
    const double d = cell;
    *c = static_cast<int32_t>(d - period * std::floor(d / period));
  }
}

template <int Dims>
[[gnu::always_inline]] inline void Cells(const float *p, int32_t period, float *f, int32_t *c) {
#pragma GCC unroll 3
  for (int a = 0; a < Dims; ++a) Cell(p[a], period, &f[a], &c[a]);
}

// --- Tables ------------------------------------------------------------------

template <class T>
T *TableMake(uint32_t count) {
  return static_cast<T *>(VoAllocate(static_cast<uint32_t>(count * sizeof(T))));
}

template <class T>
void TableFree(T *&table) {
  VoDeallocate(table);
  table = nullptr;
}

// Swaps each entry with one the draw picks; `pick` maps a draw to an index.
template <class T, class Pick>
void PermutationDraw(T *perm, uint32_t count, Pick pick) {
  for (uint32_t i = 0; i < count; ++i) perm[i] = static_cast<T>(i);
  for (uint32_t i = 0; i < count; ++i) std::swap(perm[i], perm[pick(VoRandomFloat())]);
}

uint32_t BytePick(float r) { return static_cast<uint32_t>(static_cast<int32_t>(r * 255.0 + 0.5) & 255); }

bool ClassicBuild(NoiseTables &t) {
  t.classic_gradients = TableMake<float>(kClassicGroups * 4);
  t.classic_perm = TableMake<int32_t>(kClassicGroups);
  if (t.classic_gradients == nullptr || t.classic_perm == nullptr) return false;
  for (uint32_t g = 0; g < kClassicGroups; ++g) {
    float r[4];
    for (float &v : r) v = VoRandomFloat();
    const float len = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    float *group = t.classic_gradients + 4 * g;
    for (int a = 0; a < 3; ++a) group[a] = len > 0.0f ? r[a] / len : r[a];
    group[3] = r[3];
  }
  PermutationDraw(t.classic_perm, kClassicGroups, [](float r) { return static_cast<uint32_t>(r * 511.0); });
  return true;
}

bool PerlinBuild(NoiseTables &t) {
  t.perlin_gradients = TableMake<float>(kPerlinSize * 3);
  t.perlin_perm = TableMake<uint8_t>(kPerlinSize);
  if (t.perlin_gradients == nullptr || t.perlin_perm == nullptr) return false;
  for (uint32_t g = 0; g < kPerlinSize; ++g) {
    const float r1 = VoRandomFloat();
    const float r2 = VoRandomFloat();
    const float z = 1.0f - 2.0f * r1;
    const float rho = std::sqrt(1.0f - z * z);
    const float phi = r2 * 6.2831855f;
    float *gradient = t.perlin_gradients + 3 * g;
    gradient[0] = rho * std::cos(phi);
    gradient[1] = rho * std::sin(phi);
    gradient[2] = z;
  }
  PermutationDraw(t.perlin_perm, kPerlinSize, BytePick);
  return true;
}

bool SparseBuild(NoiseTables &t) {
  t.impulses = TableMake<float>(kImpulseCount * 4);
  t.sparse_perm = TableMake<uint8_t>(kPerlinSize);
  t.kernel = TableMake<float>(kKernelSize);
  if (t.impulses == nullptr || t.sparse_perm == nullptr || t.kernel == nullptr) return false;
  for (uint32_t i = 0; i < kImpulseCount * 4; ++i) t.impulses[i] = VoRandomFloat();
  PermutationDraw(t.sparse_perm, kPerlinSize, BytePick);
  for (uint32_t i = 0; i + 1 < kKernelSize; ++i)
    t.kernel[i] = static_cast<float>((1.0 + std::cos(M_PI * std::sqrt(i * 0.01))) / 2.0);
  t.kernel[kKernelSize - 1] = 0.0f;
  return true;
}

// Entry n: the first of n halving amplitudes that sum to 1.
bool OctavesBuild(NoiseTables &t) {
  t.octave_amplitudes = TableMake<float>(kOctavesMax + 1);
  if (t.octave_amplitudes == nullptr) return false;
  t.octave_amplitudes[0] = 1.0f;
  for (uint32_t n = 1; n <= kOctavesMax; ++n)
    t.octave_amplitudes[n] = static_cast<float>(std::ldexp(1.0, static_cast<int>(n) - 1) /
                                                (std::ldexp(1.0, static_cast<int>(n)) - 1.0));
  return true;
}

// --- Families ----------------------------------------------------------------
// Each family's core takes a point of three floats (missing coordinates 0)
// and the number of dimensions in use.

using NoiseCore = double (*)(const ShadingContext *, const float *, int);

float Fade(float t) { return (3.0f - 2.0f * t) * t * t; }
float Mix(float a, float b, float s) { return a + s * (b - a); }

// The gradient of a hash dotted with a corner's offsets.
[[gnu::always_inline]] inline float PerlinCorner(const float *gradients, int hash, float x, float y,
                                                 float z) {
  const float *g = gradients + 3 * hash;
  return g[0] * x + g[1] * y + g[2] * z;
}

// The eight corners' hashes share their outer look-ups: two for z, four
// for (y, z), eight for (x, y, z). Offsets towards a corner's far side are
// the fraction less 1.
double PerlinCore(const ShadingContext *s, const float *p, int) {
  const NoiseTables &t = s->shared->noise;
  const uint8_t *P = t.perlin_perm;
  const float *G = t.perlin_gradients;
  float f[3];
  int32_t c[3];
  Cells<3>(p, kPerlinSize, f, c);
  const float x1 = f[0] - 1.0f, y1 = f[1] - 1.0f, z1 = f[2] - 1.0f;
  const int z0h = P[c[2] & 255], z1h = P[(c[2] + 1) & 255];
  const int h00 = P[(z0h + c[1]) & 255], h10 = P[(z0h + c[1] + 1) & 255];
  const int h01 = P[(z1h + c[1]) & 255], h11 = P[(z1h + c[1] + 1) & 255];
  const int x0 = c[0] & 255, xr = (c[0] + 1) & 255;
  // vYZ: the corners of row y, layer z, at x = 0 (a) and x = 1 (b).
  const float a00 = PerlinCorner(G, P[(h00 + x0) & 255], f[0], f[1], f[2]);
  const float b00 = PerlinCorner(G, P[(h00 + xr) & 255], x1, f[1], f[2]);
  const float a10 = PerlinCorner(G, P[(h10 + x0) & 255], f[0], y1, f[2]);
  const float b10 = PerlinCorner(G, P[(h10 + xr) & 255], x1, y1, f[2]);
  const float a01 = PerlinCorner(G, P[(h01 + x0) & 255], f[0], f[1], z1);
  const float b01 = PerlinCorner(G, P[(h01 + xr) & 255], x1, f[1], z1);
  const float a11 = PerlinCorner(G, P[(h11 + x0) & 255], f[0], y1, z1);
  const float b11 = PerlinCorner(G, P[(h11 + xr) & 255], x1, y1, z1);
  const float sx = Fade(f[0]), sy = Fade(f[1]), sz = Fade(f[2]);
  const float near = Mix(Mix(a00, b00, sx), Mix(a10, b10, sx), sy);
  const float far = Mix(Mix(a01, b01, sx), Mix(a11, b11, sx), sy);
  return (Mix(near, far, sz) + 0.6f) * 0.85f;
}

// fmod(v, 512) + 512 for a negative v: v / 512 and its truncation are
// exact, and so is the difference (the two lie within a factor of two), so
// this is the remainder itself without the library call.
float ClassicWrap(float v) { return v < 0.0f ? (v - 512.0f * std::trunc(v / 512.0f)) + 512.0f : v; }

// The corners' hashes run from the last coordinate to the first, each
// level's look-ups shared by the corners below it. A corner's contribution
// is its gradient dotted with its offsets (the first raised by 1), weighted
// per axis by 1 - 3x^2 + 2x^3 of the offset's size x, and nothing where an
// offset reaches 1.
template <int Dims>
double ClassicCoreOf(const ShadingContext *s, const float *p) {
  const NoiseTables &t = s->shared->noise;
  const int32_t *Q = t.classic_perm;
  float wrapped[3], f[3];
  int32_t c[3];
#pragma GCC unroll 3
  for (int a = 0; a < Dims; ++a) wrapped[a] = ClassicWrap(p[a]);
  Cells<Dims>(wrapped, kClassicGroups, f, c);
  // h[corner], bit a of the corner for coordinate a: each level appends its
  // bit below those of the levels before.
  int32_t h[1 << Dims];
  h[0] = Q[c[Dims - 1] & 511];
  h[1] = Q[(c[Dims - 1] + 1) & 511];
#pragma GCC unroll 2
  for (int a = Dims - 2, n = 2; a >= 0; --a, n *= 2)
#pragma GCC unroll 4
    for (int m = n - 1; m >= 0; --m) {
      const int32_t above = h[m];
      h[2 * m] = Q[(above + c[a]) & 511];
      h[2 * m + 1] = Q[(above + c[a] + 1) & 511];
    }
  float d[3][2], w[3][2];
#pragma GCC unroll 3
  for (int a = 0; a < Dims; ++a)
    for (int bit = 0; bit < 2; ++bit) {
      d[a][bit] = f[a] - static_cast<float>(bit);
      const float x = std::fabs(d[a][bit]);
      w[a][bit] = x >= 1.0f ? 0.0f : 1.0f - 3.0f * x * x + 2.0f * x * x * x;
    }
  const float first[2] = {d[0][0] + 1.0f, d[0][1] + 1.0f};
  float sum = 0.0f;
#pragma GCC unroll 8
  for (int corner = 0; corner < (1 << Dims); ++corner) {
    const float *g = t.classic_gradients + h[corner];
    float v = g[0] * first[corner & 1];
#pragma GCC unroll 2
    for (int a = 1; a < Dims; ++a) v += g[a] * d[a][(corner >> a) & 1];
      // A zero weight (an offset reaching 1) contributes nothing, as does a
      // zero dot product: neither may carry a sign into the sum.
#pragma GCC unroll 3
    for (int a = 0; a < Dims; ++a) v *= w[a][(corner >> a) & 1];
    if (v != 0.0f) sum += v;
  }
  return sum;
}

double ClassicCore(const ShadingContext *s, const float *p, int dims) {
  if (dims == 1) return ClassicCoreOf<1>(s, p);
  return dims == 2 ? ClassicCoreOf<2>(s, p) : ClassicCoreOf<3>(s, p);
}

float SparseKernel(const float *K, float d2) {
  if (!(d2 >= 0.0f && d2 < 1.0f)) return 0.0f;
  const float u = 100.0f * d2;
  const int i = std::min(static_cast<int>(u), 99);
  return K[i] + (K[i + 1] - K[i]) * (u - static_cast<float>(i));
}

double SparseCore(const ShadingContext *s, const float *p, int) {
  const uint32_t n = s->impulses;
  if (n == 0) return 0.0;  // nothing summed: no noise rather than 0/0
  const NoiseTables &t = s->shared->noise;
  const uint8_t *S = t.sparse_perm;
  float f[3];
  int32_t c[3];
  Cells<3>(p, kPerlinSize, f, c);
  float sum = 0.0f;
  for (int dx = -1; dx <= 1; ++dx)
    for (int dy = -1; dy <= 1; ++dy)
      for (int dz = -1; dz <= 1; ++dz) {
        uint32_t index = S[(S[(S[(c[2] + dz) & 255] + dy + c[1]) & 255] + dx + c[0]) & 255];
        for (uint32_t m = 0; m < n; ++m) {
          const float *im = t.impulses + 4 * index;
          const float ex = f[0] - (static_cast<float>(dx) + im[0]);
          const float ey = f[1] - (static_cast<float>(dy) + im[1]);
          const float ez = f[2] - (static_cast<float>(dz) + im[2]);
          sum += SparseKernel(t.kernel, ex * ex + ey * ey + ez * ez) * im[3];
          index = index == kImpulsesMax ? 0 : index + 1;
        }
      }
  return sum / static_cast<float>(n);
}

// --- Procedures of a family ----------------------------------------------

template <NoiseCore C>
double Noise1(const ShadingContext *s, double x) {
  const float p[3] = {static_cast<float>(x), 0.0f, 0.0f};
  return C(s, p, 1);
}
template <NoiseCore C>
double Noise2(const ShadingContext *s, double x, double y) {
  const float p[3] = {static_cast<float>(x), static_cast<float>(y), 0.0f};
  return C(s, p, 2);
}
template <NoiseCore C>
double Noise3(const ShadingContext *s, const float *p) {
  return C(s, p, 3);
}

// Octaves of halving amplitude at doubling coordinates; any count of 10 or
// more (a negative count taken as unsigned among them) gives 10 octaves.
template <NoiseCore C>
float Turbulence(const ShadingContext *s, float *q, int dims, uint32_t octaves) {
  const uint32_t n = std::min(octaves, kOctavesMax);
  if (n == 0) return 0.0f;
  float a = s->shared->noise.octave_amplitudes[n];
  float sum = 0.0f;
  for (uint32_t o = 0; o < n; ++o) {
    sum += static_cast<float>(std::fabs(C(s, q, dims) * a));
    for (int d = 0; d < dims; ++d) q[d] *= 2.0f;
    a *= 0.5f;
  }
  return sum;
}
template <NoiseCore C>
float Turbulence1(const ShadingContext *s, double x, uint32_t octaves) {
  float q[3] = {static_cast<float>(x), 0.0f, 0.0f};
  return Turbulence<C>(s, q, 1, octaves);
}
template <NoiseCore C>
float Turbulence2(const ShadingContext *s, double x, double y, uint32_t octaves) {
  float q[3] = {static_cast<float>(x), static_cast<float>(y), 0.0f};
  return Turbulence<C>(s, q, 2, octaves);
}
template <NoiseCore C>
float Turbulence3(const ShadingContext *s, const float *p, uint32_t octaves) {
  float q[3] = {p[0], p[1], p[2]};
  return Turbulence<C>(s, q, 3, octaves);
}

template <NoiseCore C>
constexpr NoiseProcs kFamily = {&Noise1<C>,      &Noise2<C>,      &Noise3<C>,
                                &Turbulence1<C>, &Turbulence2<C>, &Turbulence3<C>};

constexpr const NoiseProcs *kFamilies[] = {&kFamily<ClassicCore>, &kFamily<PerlinCore>, &kFamily<SparseCore>};

}  // namespace

VtStatus NoiseStart(ShaderShared *shared) {
  NoiseTables &t = shared->noise;
  if (ClassicBuild(t) && PerlinBuild(t) && SparseBuild(t) && OctavesBuild(t)) return 0;
  NoiseStop(shared);
  return kNoMemory;
}

void NoiseStop(ShaderShared *shared) {
  NoiseTables &t = shared->noise;
  TableFree(t.classic_gradients);
  TableFree(t.classic_perm);
  TableFree(t.perlin_gradients);
  TableFree(t.perlin_perm);
  TableFree(t.impulses);
  TableFree(t.sparse_perm);
  TableFree(t.kernel);
  TableFree(t.octave_amplitudes);
}

bool NoiseFamilySet(ShadingContext *s, uint32_t family) {
  if (family >= std::size(kFamilies)) return false;
  s->noise_family = family;
  s->noise_procs = *kFamilies[family];
  return true;
}

}  // namespace vo::shader

namespace vo {

using namespace shader;

// Every procedure answers 0 while the kernel is not started.
#define VO_NOISE_PROCEDURES(Suffix, procs)                                           \
  double VoNoise1##Suffix(double x) {                                                \
    const ShadingContext *s = StateGet();                                            \
    return s != nullptr ? (procs).noise1(s, x) : 0.0;                                \
  }                                                                                  \
  double VoNoise2##Suffix(double x, double y) {                                      \
    const ShadingContext *s = StateGet();                                            \
    return s != nullptr ? (procs).noise2(s, x, y) : 0.0;                             \
  }                                                                                  \
  double VoNoise3##Suffix(const float *p) {                                          \
    const ShadingContext *s = StateGet();                                            \
    return s != nullptr && p != nullptr ? (procs).noise3(s, p) : 0.0;                \
  }                                                                                  \
  float VoTurbulence1##Suffix(double x, uint32_t octaves) {                          \
    const ShadingContext *s = StateGet();                                            \
    return s != nullptr ? (procs).turbulence1(s, x, octaves) : 0.0f;                 \
  }                                                                                  \
  float VoTurbulence2##Suffix(double x, double y, uint32_t octaves) {                \
    const ShadingContext *s = StateGet();                                            \
    return s != nullptr ? (procs).turbulence2(s, x, y, octaves) : 0.0f;              \
  }                                                                                  \
  float VoTurbulence3##Suffix(const float *p, uint32_t octaves) {                    \
    const ShadingContext *s = StateGet();                                            \
    return s != nullptr && p != nullptr ? (procs).turbulence3(s, p, octaves) : 0.0f; \
  }

VO_NOISE_PROCEDURES(, s->noise_procs)
VO_NOISE_PROCEDURES(Classic, kFamily<ClassicCore>)
VO_NOISE_PROCEDURES(Perlin, kFamily<PerlinCore>)
VO_NOISE_PROCEDURES(SparseConv, kFamily<SparseCore>)

#undef VO_NOISE_PROCEDURES

}  // namespace vo
