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
// A lattice cell is reduced modulo its table's period in double before it
// becomes an integer: coordinates beyond 2^31 (turbulence doubles them ten
// times) then stay defined, and cells inside that range hash as before.

#include <algorithm>
#include <cmath>
#include <utility>

#include "voshader/voshader.h"

namespace vo::shader {
namespace {

constexpr uint32_t kClassicGroups = 512;
constexpr uint32_t kPerlinSize = 256;
constexpr uint32_t kImpulseCount = kImpulsesMax + 1;
constexpr uint32_t kKernelSize = 101;
constexpr uint32_t kOctavesMax = 10;

// A coordinate's lattice cell modulo the period, as an integer in [0, period).
// A coordinate that is not finite hashes as cell 0 (its fraction carries the
// NaN into the result).
int32_t Lattice(double cell, double period) {
  if (!std::isfinite(cell)) return 0;
  return static_cast<int32_t>(cell - period * std::floor(cell / period));
}

// Each coordinate's fraction in its cell and the cell's lattice index.
void Cells(const float *p, int dims, double period, float *f, int32_t *c) {
  for (int a = 0; a < dims; ++a) {
    const float cell = std::floor(p[a]);
    f[a] = p[a] - cell;
    c[a] = Lattice(cell, period);
  }
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
    t.octave_amplitudes[n] = static_cast<float>(std::ldexp(1.0, static_cast<int>(n) - 1) / (std::ldexp(1.0, static_cast<int>(n)) - 1.0));
  return true;
}

// --- Families ----------------------------------------------------------------
// Each family's core takes a point of three floats (missing coordinates 0)
// and the number of dimensions in use.

using NoiseCore = double (*)(const ShadingContext *, const float *, int);

float Fade(float t) { return (3.0f - 2.0f * t) * t * t; }
float Mix(float a, float b, float s) { return a + s * (b - a); }

double PerlinCore(const ShadingContext *s, const float *p, int) {
  const NoiseTables &t = s->shared->noise;
  const uint8_t *P = t.perlin_perm;
  float f[3];
  int32_t c[3];
  Cells(p, 3, kPerlinSize, f, c);
  float value[8];  // corner (i, j, k) at index i + 2j + 4k
  for (int corner = 0; corner < 8; ++corner) {
    const int i = corner & 1, j = (corner >> 1) & 1, k = corner >> 2;
    const int h = P[(P[(P[(c[2] + k) & 255] + c[1] + j) & 255] + c[0] + i) & 255];
    const float *g = t.perlin_gradients + 3 * h;
    value[corner] = g[0] * (f[0] - static_cast<float>(i)) + g[1] * (f[1] - static_cast<float>(j)) +
                    g[2] * (f[2] - static_cast<float>(k));
  }
  const float sx = Fade(f[0]), sy = Fade(f[1]), sz = Fade(f[2]);
  float along_y[2];
  for (int k = 0; k < 2; ++k)
    along_y[k] = Mix(Mix(value[4 * k], value[4 * k + 1], sx), Mix(value[4 * k + 2], value[4 * k + 3], sx), sy);
  return (Mix(along_y[0], along_y[1], sz) + 0.6f) * 0.85f;
}

float ClassicWrap(float v) { return v < 0.0f ? std::fmod(v, 512.0f) + 512.0f : v; }

// A corner's contribution with its gradient g and offsets d.
float ClassicCorner(const float *g, const float *d, int dims) {
  float v = g[0] * (d[0] + 1.0f);
  for (int a = 1; a < dims; ++a) v += g[a] * d[a];
  if (v == 0.0f) return 0.0f;
  for (int a = 0; a < dims; ++a) {
    const float x = std::fabs(d[a]);
    if (x >= 1.0f) return 0.0f;
    v *= 1.0f - 3.0f * x * x + 2.0f * x * x * x;
  }
  return v;
}

double ClassicCore(const ShadingContext *s, const float *p, int dims) {
  const NoiseTables &t = s->shared->noise;
  const int32_t *Q = t.classic_perm;
  float wrapped[3], f[3];
  int32_t c[3];
  for (int a = 0; a < dims; ++a) wrapped[a] = ClassicWrap(p[a]);
  Cells(wrapped, dims, kClassicGroups, f, c);
  float sum = 0.0f;
  for (int corner = 0; corner < (1 << dims); ++corner) {
    int32_t h = Q[(c[dims - 1] + ((corner >> (dims - 1)) & 1)) & 511];
    for (int a = dims - 2; a >= 0; --a) h = Q[(h + c[a] + ((corner >> a) & 1)) & 511];
    float d[3];
    for (int a = 0; a < dims; ++a) d[a] = f[a] - static_cast<float>((corner >> a) & 1);
    sum += ClassicCorner(t.classic_gradients + h, d, dims);
  }
  return sum;
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
  Cells(p, 3, kPerlinSize, f, c);
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
constexpr NoiseProcs kFamily = {&Noise1<C>, &Noise2<C>, &Noise3<C>, &Turbulence1<C>, &Turbulence2<C>, &Turbulence3<C>};

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
#define VO_NOISE_PROCEDURES(Suffix, procs)                                                              \
  double VoNoise1##Suffix(double x) {                                                                   \
    const ShadingContext *s = StateGet();                                                               \
    return s != nullptr ? (procs).noise1(s, x) : 0.0;                                                   \
  }                                                                                                     \
  double VoNoise2##Suffix(double x, double y) {                                                         \
    const ShadingContext *s = StateGet();                                                               \
    return s != nullptr ? (procs).noise2(s, x, y) : 0.0;                                                \
  }                                                                                                     \
  double VoNoise3##Suffix(const float *p) {                                                             \
    const ShadingContext *s = StateGet();                                                               \
    return s != nullptr && p != nullptr ? (procs).noise3(s, p) : 0.0;                                   \
  }                                                                                                     \
  float VoTurbulence1##Suffix(double x, uint32_t octaves) {                                             \
    const ShadingContext *s = StateGet();                                                               \
    return s != nullptr ? (procs).turbulence1(s, x, octaves) : 0.0f;                                    \
  }                                                                                                     \
  float VoTurbulence2##Suffix(double x, double y, uint32_t octaves) {                                   \
    const ShadingContext *s = StateGet();                                                               \
    return s != nullptr ? (procs).turbulence2(s, x, y, octaves) : 0.0f;                                 \
  }                                                                                                     \
  float VoTurbulence3##Suffix(const float *p, uint32_t octaves) {                                       \
    const ShadingContext *s = StateGet();                                                               \
    return s != nullptr && p != nullptr ? (procs).turbulence3(s, p, octaves) : 0.0f;                    \
  }

VO_NOISE_PROCEDURES(, s->noise_procs)
VO_NOISE_PROCEDURES(Classic, kFamily<ClassicCore>)
VO_NOISE_PROCEDURES(Perlin, kFamily<PerlinCore>)
VO_NOISE_PROCEDURES(SparseConv, kFamily<SparseCore>)

#undef VO_NOISE_PROCEDURES

}  // namespace vo
