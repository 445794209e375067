// The lite library's shared pieces (see lite_common.h) and the module
// record of its shared tables.

#include "shading/voshlite/lite_common.h"

#include "shading/voshlite/voshlite.h"
#include "kernel/vosystem/face.h"

namespace vo::lite {

namespace {

constinit Tables g_record{};
constinit ModuleState<Tables> g_tables(VO_MODULE_LITE);

constexpr double kEdge = 0.05;

double Step(float lo, float hi, float x) { return VoSmoothStep(lo, hi, x); }

// The distance of a wrapped coordinate from its nearest half-cell edge.
float Folded(float a) {
  float x = 2 * a;
  if (x > 1) x -= 1;
  return x > 0.5f ? 1 - x : x;
}

}  // namespace

Entries BaseEntries(VtShaderDataProc evaluate) {
  return DataEntries<kEmptyDefault>(evaluate, nullptr, &ArgumentNone, &ArgumentNone);
}

void TablesInstall() { g_tables.SetMaster(&g_record); }

float HardChecker(float s, float t, float k) {
  const float a = Wrap(s * k, 1.0f), b = Wrap(t * k, 1.0f);
  return (a > 0.5f) != (b > 0.5f) ? 1.0f : 0.0f;
}

float FilteredChecker(float s, float t, float k) {
  const float a = Wrap(s * k, 1.0f), b = Wrap(t * k, 1.0f);
  const bool same = (a > 0.5f) == (b > 0.5f);
  const float x = Folded(a), y = Folded(b);
  double e;
  if (x > kEdge && y > kEdge)
    e = 1;
  else if (x > kEdge)
    e = VoSmoothStep(-kEdge, kEdge, y);
  else if (y > kEdge)
    e = VoSmoothStep(-kEdge, kEdge, x);
  else
    e = 0.5 + (0.5 - VoSmoothStep(-kEdge, kEdge, y)) * (1 - 2 * VoSmoothStep(-kEdge, kEdge, x));
  return static_cast<float>(same ? 1 - e : e);
}

Ramps RampsMake(double w, double h, double m, double W, double H) {
  const double r[8] = {m / 4 / W, 3 * m / 4 / W, (w + m / 4) / W, (w + 3 * m / 4) / W,
                       m / 4 / H, 3 * m / 4 / H, (h + m / 4) / H, (h + 3 * m / 4) / H};
  auto f = [](double x) { return static_cast<float>(x); };
  return {f(r[0]), f(r[1]), f(r[2]), f(r[3]), f(r[4]), f(r[5]), f(r[6]), f(r[7])};
}

float BrickWeight(const Ramps &r, float u, float v) {
  return static_cast<float>(Step(r.a0, r.a1, u) * (1 - Step(r.b0, r.b1, u)) * Step(r.c0, r.c1, v) *
                            (1 - Step(r.d0, r.d1, v)));
}

Cell CellMake(float scale, float width, float height, float mortar, bool brick) {
  const double k = scale, w = std::fabs(width * k), h = std::fabs(height * k), m = std::fabs(mortar * k);
  double W = std::fabs((static_cast<double>(width) + mortar) * k),
         H = std::fabs((static_cast<double>(height) + mortar) * k);
  if (brick) {
    W = W < 0.0001 ? 0.0001 : W;
    H = H < 0.0001 ? 0.0001 : H;
  } else {
    W = W == 0 ? 1 : W;
    H = H == 0 ? 1 : H;
  }
  return {RampsMake(w, h, m, W, H), W, H};
}

float GridWeight(const Cell &c, float s, float t) {
  return BrickWeight(c.ramps, static_cast<float>(Wrap<double>(s, c.W) / c.W),
                     static_cast<float>(Wrap<double>(t, c.H) / c.H));
}

Clouds CloudsMake(float scale, int32_t detail) {
  const int32_t n = detail < 1 ? 1 : detail > 10 ? 10 : detail;
  float sum = 0, a = 0.5f;
  for (int32_t i = 0; i < n; ++i, a /= 2) sum += a;
  return {std::fabs(scale) < 0.0001f ? 100000.0f : 10.0f / scale, n, 1.0f / sum};
}

float CloudsSum(const Clouds &c, const float *p) {
  float q[3] = {p[0] * c.f, p[1] * c.f, p[2] * c.f};
  float sum = 0, a = c.first;
  for (int32_t i = 0; i < c.octaves; ++i, a /= 2) {
    sum += a * static_cast<float>(std::fabs(0.5 - VoNoise3(q)));
    for (float &x : q) x *= 2;
  }
  return sum;
}

VtStatus CloudsPrepare(void *block) {
  auto *b = static_cast<CloudsData *>(block);
  ShadersReset(b->shaders, 2);
  b->clouds = CloudsMake(b->scale, b->detail);
  return 0;
}

Polka PolkaMake(float scale, float separation, float radius, float softness) {
  const float S = Period(separation * scale), r = radius * scale;
  return {S, S / 2, r * r, (r + softness * scale) * (r + softness * scale)};
}

float PolkaWeight(const Polka &p, const float *x, int n) {
  float d2 = 0;
  for (int i = 0; i < n; ++i) {
    const float e = p.half - Wrap(x[i], p.period);
    d2 += e * e;
  }
  return static_cast<float>(VoSmoothStep(p.r0, p.r1, d2));
}

void ColoursShaded(float (*out)[3], float (*colours)[3], VtShader *const *shaders, int n,
                   const int32_t *prepared) {
  for (int i = 0; i < n; ++i) {
    for (int c = 0; c < 3; ++c) out[i][c] = colours[i][c];
    int32_t flag = *prepared;
    ShadeableColour(out[i], shaders[i], &flag, false);
    shaderlib::ShadedKeep(colours[i], out[i], shaders[i]);
  }
}

void ShadersReset(VtShader *const *shaders, int n) {
  for (int i = 0; i < n; ++i)
    if (shaders[i] != nullptr) (void)VoShaderReset(shaders[i]);
}

void TableTake(TableMember which, uint32_t floats, void (*fill)(float *), const char *identifier,
               int32_t *holds) {
  Tables *t = g_tables.Get();
  if (t != nullptr) shaderlib::TableTake(&(t->*which), floats, fill, VO_MODULE_LITE, identifier, holds);
}

void TableGive(TableMember which, int32_t *holds) {
  Tables *t = g_tables.Get();
  if (t != nullptr) shaderlib::TableGive(&(t->*which), holds);
}

const float *TableValues(TableMember which) {
  const Tables *t = g_tables.Get();
  return t != nullptr ? (t->*which).values : nullptr;
}

}  // namespace vo::lite
