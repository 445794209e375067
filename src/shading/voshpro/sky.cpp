// The sky light: daylight from the whole sky as a model of the dome, cut
// into triangular patches (25 to 10,000 by "complexity"), each with the
// luminance of one of six standard skies toward the scene and the colour of
// a daylight illuminant or a colour temperature. The light itself gives no
// direct light: its evaluation leaves black and a zero vector, so the kernel
// leaves it unlit, and "shadows" lives in the model only (no shadow rays
// for a light that gives none). Applications read the model through
// "handle".
//
// Geometry is computed in double. The dome's frame turns the sun's azimuth
// (measured from north) and the north and up directions into the world's;
// when it cannot be made the directions stay in the dome's own frame.

#include <cmath>
#include <array>
#include <numbers>
#include <vector>

#include <vo/vo_prolib.h>

#include "shading/vophoto/face.h"
#include "shading/voshpro/voshpro.h"
#include "kernel/vosystem/face.h"

namespace vo::pro {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDegree = kPi / 180;
constexpr VtStatus kNoDome = 6;                      // the dome's storage could not be had
constexpr VtStatus kNoColour = VO_CLASS_ERROR | 2u;  // no spectral colour (a filter outside the unit cube)

struct SkyWords {
  VtAdvancedLightWords common;  // classData: the model; colour: the filter
  float altitudeDegrees, azimuthDegrees;
};
static_assert(sizeof(SkyWords) <= VO_LIGHT_CLASS_AREA_BYTES);

SkyWords *Words(VtLightData *d) { return reinterpret_cast<SkyWords *>(d->classArea.bytes); }
VtSkyModel *Model(VtLightData *d) { return static_cast<VtSkyModel *>(Words(d)->common.classData); }

enum Argument : uint32_t {
  kFilter,
  kShadows,
  kAltitude,
  kAzimuth,
  kType,
  kNorth,
  kUp,
  kZenith,
  kComplexity,
  kTemperature,
  kSpectral,
  kHandle
};
constexpr const char *kSkyLabels[] = {
    "filter colour",    "shadows",    "sun altitude",       "sun azimuth",           "type",  "north", "up",
    "zenith luminance", "complexity", "colour temperature", "spectral distribution", "handle"};
constexpr const char *kSkyMeanings[] = {
    "colour the sky's colour is multiplied by",
    "whether the sky's patches cast shadows",
    "height of the sun above the horizon in degrees, 0 to 90",
    "direction of the sun in degrees from north, 0 to below 360",
    ("sky luminance distribution: \"CIE overcast\", \"CIE intermediate\", \"CIE clear\", \"IESNA overcast\", "
     "\"IESNA intermediate\" or \"IESNA clear\""),
    "direction of north",
    "direction of the zenith",
    "luminance of the zenith; 0 or less works it out from the sun",
    "how finely the sky dome is divided, 0 (25 patches) to 1 (10000 patches)",
    "colour temperature in kelvin, used with the \"temperature\" spectral distribution",
    "the sky's colour: \"D55\", \"D65\", \"D75\" or a colour temperature",
    "the sky model built at preparation (read only); the sky gives no direct light (its evaluation leaves "
    "the light's colour black): an application lights from the model it reads here"};

constexpr const char *kTypeNames[] = {"CIE overcast",   "CIE intermediate",   "CIE clear",
                                      "IESNA overcast", "IESNA intermediate", "IESNA clear"};
constexpr const char *kSpectralNames[] = {"D55", "D65", "D75", "temperature"};

int32_t NameCode(const char *text, const char *const *names, int count) {
  for (int i = 0; i < count; ++i)
    if (text != nullptr && std::strcmp(text, names[i]) == 0) return i + 1;
  return 0;
}

// Relative luminances (e elevation, s sun altitude, g angle to the sun).
double Overcast(double e, double, double) { return (1 + 2 * std::sin(e)) / 3; }
double CIEIntermediate(double e, double s, double g) {
  const double A = std::sin(2.6 * s + 0.316);
  return (1.35 * (std::sin(3.59 * e - 0.009) + 2.31) * A + e + 4.799) * 0.43 *
         std::exp(-0.563 * g * ((e + 1.059) * (s - 0.008) + 0.812)) /
         ((A + 2.772) * 0.988 * std::exp(-1.481 * (1.571 - s) * (s + 0.301)));
}
double Clear(double e, double s, double g) {
  const double zs = kPi / 2 - s;
  const double cg = std::cos(g), cz = std::cos(zs);
  const double gradation = e < 0.0001 ? 1.0 : 1 - std::exp(-0.32 / std::sin(e));
  return (10 * std::exp(-3 * g) + 0.45 * cg * cg + 0.91) * gradation /
         ((10 * std::exp(-3 * zs) + 0.45 * cz * cz + 0.91) * 0.27385);
}
double IESNAOvercast(double e, double, double) {
  const double se = std::sin(e);
  const double t = se <= 1e-6 ? 0.0 : std::exp(-0.52 / se);
  return 1.453 * t + 0.3354 * (1 - t);
}
double IESNAIntermediate(double e, double s, double g) {
  const double zs = kPi / 2 - s;
  const double gradation = e <= 1e-6 ? 1.0 : 1 - std::exp(-0.8 / std::sin(e));
  return (5 * std::exp(-1.5 * g) + 0.526) * gradation / ((5 * std::exp(-1.5 * zs) + 0.526) * 0.5507);
}

// Zenith luminances (candela per square metre).
constexpr double kClearCap = 1.5690509975429023;  // 89.9 degrees
double ClearPart(double s) { return 4.47 * std::pow(std::tan(std::fmin(s, kClearCap)), 1.13) + 0.14; }
double OvercastPart(double s) { return 15 * std::pow(std::sin(s), 1.68) + 0.07; }
double ZenithOvercast(double s) { return OvercastPart(s) * 1000; }
double ZenithClear(double s) { return ClearPart(s) * 1000; }
double ZenithIntermediate(double s) { return (0.47 * ClearPart(s) + 0.66 * OvercastPart(s)) * 1000; }
double ZenithIESNAOvercast(double s) { return (21 * std::sin(s) + 0.3) * 409; }
constexpr double kT1[] = {0.144, 0.140, 0.139, 0.139, 0.142, 0.148, 0.156, 0.169, 0.185, 0.206,
                          0.234, 0.269, 0.314, 0.371, 0.445, 0.541, 0.664, 0.825, 1.034, 1.034};
constexpr double kT2[] = {0.201, 0.202, 0.205, 0.209, 0.214, 0.221, 0.230, 0.241, 0.255, 0.272,
                          0.292, 0.315, 0.343, 0.375, 0.413, 0.457, 0.501, 0.567, 0.637, 0.637};
// The table at the altitude, by 5 degrees (the altitude is held to [0, pi/2]).
double Turbidity(const double (&t)[20], double s) {
  s = std::fmin(std::fmax(s, 0.0), kPi / 2);
  int i = static_cast<int>(s * 36 / kPi);
  if (i > 18) i = 18;
  const double f = (s - i * 0.0872664626) * 36 / kPi;
  return t[i] * (1 - f) + t[i + 1] * f;
}
double ZenithIESNAClear(double s) { return (15.5 * std::sqrt(std::sin(s)) + 0.8) * Turbidity(kT1, s) * 1000; }
double ZenithIESNAIntermediate(double s) { return (45 * std::sin(s) + 0.3) * Turbidity(kT2, s) * 1000; }

constexpr VtSkyLuminanceProc kLuminanceProcs[] = {&Overcast,      &CIEIntermediate,   &Clear,
                                                  &IESNAOvercast, &IESNAIntermediate, &Clear};
constexpr VtSkyZenithProc kZenithProcs[] = {
    &ZenithOvercast,      &ZenithIntermediate,      &ZenithClear,
    &ZenithIESNAOvercast, &ZenithIESNAIntermediate, &ZenithIESNAClear};

struct D3 {
  double x, y, z;
};

// The base meshes: vertices and triangles.
struct Base {
  std::vector<D3> vertices;
  std::vector<std::array<uint32_t, 3>> triangles;
};

D3 Horizon(double degrees) { return {std::cos(degrees * kDegree), std::sin(degrees * kDegree), 0}; }
D3 Ring(double degrees) {
  return {0.894427191 * std::cos(degrees * kDegree), 0.894427191 * std::sin(degrees * kDegree), 0.4472136};
}

Base BaseMesh(int b) {
  Base m;
  if (b == 3) {
    m.vertices = {{0, 1, 0}, {-0.866025, -0.5, 0}, {0.866025, -0.5, 0}, {0, 0, 1}};
    m.triangles = {{0, 1, 3}, {1, 2, 3}, {2, 0, 3}};
  } else if (b == 4) {
    m.vertices = {{-1, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, -1, 0}, {0, 0, 1}};
    m.triangles = {{0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4}};
  } else {
    m.vertices.resize(26);
    m.vertices[0] = {0, 0, 1};
    const double ring[] = {270, 198, 126, 54, 342};
    for (int i = 0; i < 5; ++i) m.vertices[6 + 2 * i] = Ring(ring[i]);
    for (int i = 0; i < 5; ++i) m.vertices[1 + i] = vec::Unit(vec::Add(m.vertices[0], m.vertices[6 + 2 * i]));
    for (int i = 0; i < 5; ++i)
      m.vertices[7 + 2 * i] = vec::Unit(vec::Add(m.vertices[6 + 2 * i], m.vertices[6 + 2 * ((i + 1) % 5)]));
    const double horizon[] = {252, 216, 180, 144, 108, 72, 36, 0, 324, 288};
    for (int i = 0; i < 10; ++i) m.vertices[16 + i] = Horizon(horizon[i]);
    m.triangles = {{0, 1, 2},  {0, 2, 3},  {0, 3, 4},   {0, 4, 5},   {0, 5, 1},   {1, 6, 7},   {2, 7, 8},
                   {2, 8, 9},  {3, 9, 10}, {3, 10, 11}, {4, 11, 12}, {4, 12, 13}, {5, 13, 14}, {5, 14, 15},
                   {1, 15, 6}, {1, 2, 7},  {2, 3, 9},   {3, 4, 11},  {4, 5, 13},  {5, 1, 15},  {6, 25, 16}};
    for (uint32_t i = 0; i <= 8; ++i) m.triangles.push_back({7 + i, 16 + i, 17 + i});
    for (uint32_t i = 0; i <= 8; ++i) m.triangles.push_back({6 + i, 7 + i, 16 + i});
    m.triangles.push_back({15, 6, 25});
  }
  return m;
}

// The spherical excess of the triangle of unit vectors.
double SolidAngle(D3 a, D3 b, D3 c) {
  const double triple = std::fabs(vec::Dot(a, vec::Cross(b, c)));
  const double below = 1 + vec::Dot(a, b) + vec::Dot(b, c) + vec::Dot(c, a);
  const double e = 2 * std::atan2(triple, below);
  return std::isfinite(e) ? e : 0.0;
}

void ModelEmpty(VtSkyModel *m) {
  VoDeallocate(m->vertices);
  VoDeallocate(m->patches);
  m->vertices = nullptr;
  m->patches = nullptr;
  m->vertexCapacity = m->vertexCount = m->patchCapacity = m->patchesInUse = m->patchCount = 0;
}

// Storage for the request: rounded up to the next multiple of 64 (a further
// 64 when it is one).
uint32_t Rounded(uint32_t n) { return (n / 64 + 1) * 64; }

// The dome's patches (solid angles and directions in the dome's frame);
// false when storage cannot be had (the model then empty).
bool Dome(VtSkyModel *m) {
  ModelEmpty(m);
  const uint32_t target = static_cast<uint32_t>(static_cast<double>(m->complexity) * 9975) + 25;
  int best = 3;
  uint32_t bestK = 1, bestDifference = 0xffffffffu;
  for (const int b : {3, 4, 40}) {
    const auto k = static_cast<uint32_t>(std::sqrt(static_cast<double>(target) / b) + 0.5);
    const uint32_t difference = static_cast<uint32_t>(b) * k * k - target;
    if (difference < bestDifference) best = b, bestK = k, bestDifference = difference;
  }
  const uint32_t k = bestK < 1 ? 1 : bestK;
  const Base base = BaseMesh(best);
  const auto count = static_cast<uint32_t>(base.triangles.size()) * k * k;
  const auto perTriangle = (k + 1) * (k + 2) / 2;
  const auto vertices = static_cast<uint32_t>(base.triangles.size()) * perTriangle;
  m->vertices = static_cast<float *>(VoAllocate(static_cast<size_t>(Rounded(vertices)) * 3 * sizeof(float)));
  m->patches =
      static_cast<VtSkyPatch *>(VoAllocate(static_cast<size_t>(Rounded(count)) * sizeof(VtSkyPatch)));
  if (m->vertices == nullptr || m->patches == nullptr) {
    ModelEmpty(m);
    return false;
  }
  m->vertexCapacity = Rounded(vertices);
  m->patchCapacity = Rounded(count);
  std::vector<D3> grid(perTriangle);
  uint32_t v = 0, p = 0;
  for (const auto &t : base.triangles) {
    const D3 A = base.vertices[t[0]], B = base.vertices[t[1]], C = base.vertices[t[2]];
    // Grid point (i, j): A + i/k (B - A) + j/k (C - A), on the sphere.
    const auto at = [&](uint32_t i, uint32_t j) { return v + (i * (2 * k + 3 - i)) / 2 + j; };
    for (uint32_t i = 0; i <= k; ++i)
      for (uint32_t j = 0; i + j <= k; ++j) {
        const double a = static_cast<double>(i) / k, c = static_cast<double>(j) / k;
        const D3 q =
            vec::Unit(D3{A.x + a * (B.x - A.x) + c * (C.x - A.x), A.y + a * (B.y - A.y) + c * (C.y - A.y),
                         A.z + a * (B.z - A.z) + c * (C.z - A.z)});
        float *out = m->vertices + 3 * static_cast<size_t>(at(i, j));
        out[0] = static_cast<float>(q.x), out[1] = static_cast<float>(q.y), out[2] = static_cast<float>(q.z);
        grid[at(i, j) - v] = q;
      }
    const auto patch = [&](uint32_t a, uint32_t b, uint32_t c) {
      VtSkyPatch &s = m->patches[p++];
      s = VtSkyPatch{};
      const D3 pa = grid[a - v], pb = grid[b - v], pc = grid[c - v];
      const D3 direction = vec::Unit(vec::Add(vec::Add(pa, pb), pc));
      s.direction[0] = static_cast<float>(direction.x);
      s.direction[1] = static_cast<float>(direction.y);
      s.direction[2] = static_cast<float>(direction.z);
      s.vertices[0] = a, s.vertices[1] = b, s.vertices[2] = c;
      s.solidAngle = static_cast<float>(SolidAngle(pa, pb, pc));
    };
    for (uint32_t i = 0; i < k; ++i)
      for (uint32_t j = 0; i + j < k; ++j) {
        patch(at(i, j), at(i + 1, j), at(i, j + 1));
        if (i + j + 1 < k) patch(at(i + 1, j), at(i + 1, j + 1), at(i, j + 1));
      }
    v += perTriangle;
  }
  m->vertexCount = v;
  m->patchesInUse = m->patchCount = p;
  return true;
}

// The dome's frame: north and up made orthonormal, east = north x up.
void Frame(VtSkyModel *m) {
  D3 north{m->north[0], m->north[1], m->north[2]}, up{m->up[0], m->up[1], m->up[2]};
  north = vec::Length(north) >= 0.001 && std::isfinite(vec::Length(north)) ? vec::Unit(north) : D3{0, 1, 0};
  up = vec::Length(up) >= 0.001 && std::isfinite(vec::Length(up)) ? vec::Unit(up) : D3{0, 0, 1};
  D3 east = vec::Cross(north, up);
  const double n = vec::Length(east);
  if (std::fabs(n - 1) > (n + 2) * 0.001) {
    if (n >= 0.001) {
      east = vec::Unit(east);
      up = vec::Cross(east, north);
    } else {
      const D3 axis = std::fabs(north.z) >= 0.5 ? D3{1, 0, 0} : D3{0, 0, 1};
      up = vec::Unit(vec::Cross(vec::Cross(north, axis), north));
      east = vec::Unit(vec::Cross(north, up));
    }
  }
  if (m->transform != nullptr) (void)VoTransformDestroy(m->transform);
  m->transform = nullptr;
  VtTransform *t = VoTransformCreate();
  const double origin[3] = {0, 0, 0}, axis[3] = {0, 0, 1};
  const double rows[16] = {east.x, east.y, east.z, 0, north.x, north.y, north.z, 0,
                           up.x,   up.y,   up.z,   0, 0,       0,       0,       1};
  VtTransform *frame = t != nullptr ? VoTransformDefine(rows) : nullptr;
  VtStatus s = t == nullptr || frame == nullptr ? VO_STATUS_NO_MEMORY : 0;
  if (s == 0) s = VoTransformRotateAxis(t, origin, axis, -static_cast<double>(m->sunAzimuth) / kDegree);
  if (s == 0) s = VoTransformConcatenate(t, frame);
  if (frame != nullptr) (void)VoTransformDestroy(frame);
  if (s != 0) {
    if (t != nullptr) (void)VoTransformDestroy(t);
    Post(VO_CLASS_WARNING, messages::kProDomeTransform, VO_MODULE_PRO);
    return;
  }
  m->transform = t;
}

VtStatus SkyPrepare(void *block) {
  if (block == nullptr) return 0;
  auto *d = static_cast<VtLightData *>(block);
  VtSkyModel *m = Model(d);
  const int32_t type = m->skyType >= 1 && m->skyType <= 6 ? m->skyType : 1;
  m->luminance = kLuminanceProcs[type - 1];
  m->zenith = kZenithProcs[type - 1];
  VtBounds bounds{};
  if (VoBoundsGet(&bounds) == 0) {
    const double dx = bounds.xmax - bounds.xmin, dy = bounds.ymax - bounds.ymin,
                 dz = bounds.zmax - bounds.zmin;
    const double size = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (std::isfinite(size) && size < 3.0e38) m->sceneSize = static_cast<float>(size);
  }
  Frame(m);
  if (!Dome(m)) return kNoDome;
  if (m->spectralDistribution >= VO_SKY_D55 && m->spectralDistribution <= VO_SKY_D75)
    m->colourTemperature = 5500.0f + 1000.0f * static_cast<float>(m->spectralDistribution - VO_SKY_D55);
  float spectral[3];
  if (VoPhotometryColourFromTemperature(m->colourTemperature, m->filterColour, spectral) == 0) {
    ModelEmpty(m);
    return kNoColour;
  }
  const double s = m->sunAltitude;
  const double Lz = m->zenithLuminance > 0 ? static_cast<double>(m->zenithLuminance) : m->zenith(s);
  if (m->patchCount == 0) return VO_STATUS_UNAVAILABLE;
  const double r = static_cast<double>(m->sceneSize) * 1.00001;
  VtStatus status = 0;
  for (uint32_t i = 0; i < m->patchCount; ++i) {
    VtSkyPatch &p = m->patches[i];
    const double z = std::fmin(std::fmax(static_cast<double>(p.direction[2]), -1.0), 1.0);
    const double e = std::asin(z);
    const double cg = std::fmin(std::fmax(std::sin(s) * z + std::cos(s) * p.direction[1], -1.0), 1.0);
    const double g = std::acos(cg);
    float world[3] = {p.direction[0], p.direction[1], p.direction[2]};
    if (m->transform != nullptr) {
      float out[3];
      if (VoTransformVector(out, world, m->transform) == 0) Copy3(world, out);
    }
    for (int c = 0; c < 3; ++c) {
      p.position[c] = static_cast<float>(r * world[c]);
      p.direction[c] = -world[c];
    }
    const double luminance = m->luminance(e, s, g) * p.solidAngle * Lz;
    status = VoPhotometryColourFromLuminance(luminance, spectral, p.colour);
  }
  return status;
}

VtStatus SkyEvaluate(void *block) {
  if (block == nullptr) return 0;
  auto *d = static_cast<VtLightData *>(block);
  float *vector = d->globalsLightVector, *colour = d->globalsLightColour;
  if (vector == nullptr || colour == nullptr) {
    VtShaderGlobals *g = VoShaderGetGlobals();
    if (g == nullptr) return 0;
    vector = g->lightVector;
    colour = g->lightColour;
  }
  Set3(vector, 0, 0, 0);
  Set3(colour, 0, 0, 0);
  return 0;
}

VtStatus SkyGet(void *block, uint32_t index, VtTypedValue *value) {
  if (block == nullptr || value == nullptr || index > kHandle) return 0;
  auto *d = static_cast<VtLightData *>(block);
  if (value->type == VtShaderColour) {
    value->value.p = nullptr;
    return 0;
  }
  const SkyWords *w = Words(d);
  const VtSkyModel *m = Model(d);
  const auto three = [&](uint32_t type, const float *f) {
    value->type = type;
    for (int i = 0; i < 3; ++i) value->value.v[i] = f[i];
  };
  const auto one = [&](float f) {
    value->type = VtFloat;
    value->value.f = f;
  };
  switch (index) {
    case kFilter: three(VtColourType, m->filterColour); return 0;
    case kShadows: value->type = VtBoolean, value->value.u = m->shadows; return 0;
    case kAltitude: one(w->altitudeDegrees); return 0;
    case kAzimuth: one(w->azimuthDegrees); return 0;
    case kType:
      value->type = VtString;
      value->value.s = kTypeNames[m->skyType >= 1 && m->skyType <= 6 ? m->skyType - 1 : 0];
      return 0;
    case kNorth: three(VtVector, m->north); return 0;
    case kUp: three(VtVector, m->up); return 0;
    case kZenith: one(m->zenithLuminance); return 0;
    case kComplexity: one(m->complexity); return 0;
    case kTemperature: one(m->colourTemperature); return 0;
    case kSpectral:
      value->type = VtString;
      value->value.s = kSpectralNames[m->spectralDistribution >= 1 && m->spectralDistribution <= 4
                                          ? m->spectralDistribution - 1
                                          : 1];
      return 0;
    default: value->type = VtGenericPtr, value->value.p = Words(d)->common.classData; return 0;
  }
}

// A value held to [lo, hi] with the debug message naming the value and the
// bound; NaN takes the lower bound.
float Held(float value, float lo, float hi, uint32_t message) {
  if (value >= lo && value <= hi) return value;
  const float bound = value > hi ? hi : lo;
  Post(VO_CLASS_DEBUG, message, VO_MODULE_PRO, static_cast<double>(value), static_cast<double>(bound));
  return bound;
}

VtStatus SkySet(void *block, uint32_t index, VtTypedValue *value) {
  if (block == nullptr || value == nullptr) return 0;
  auto *d = static_cast<VtLightData *>(block);
  d->prepared = 0;
  SkyWords *w = Words(d);
  VtSkyModel *m = Model(d);
  const float f = value->value.f;
  switch (index) {
    case kFilter:
      for (int i = 0; i < 3; ++i) m->filterColour[i] = value->value.v[i];
      w->common.colour = VtColour{value->value.v[0], value->value.v[1], value->value.v[2]};
      return 0;
    case kShadows: m->shadows = value->value.u; return 0;
    case kAltitude:
      w->altitudeDegrees = Held(f, 0, 90, messages::kProSunAltitude);
      m->sunAltitude = static_cast<float>(w->altitudeDegrees * kDegree);
      return 0;
    case kAzimuth:
      if (f >= 0 && f < 360) {
        w->azimuthDegrees = f;
      } else {
        Post(VO_CLASS_DEBUG, messages::kProSunAzimuth, VO_MODULE_PRO, static_cast<double>(f), 0.0);
        w->azimuthDegrees = 0;
      }
      m->sunAzimuth = static_cast<float>(w->azimuthDegrees * kDegree);
      return 0;
    case kType: {
      const int32_t code = NameCode(value->value.s, kTypeNames, 6);
      if (code == 0)
        Post(VO_CLASS_DEBUG, messages::kProSkyType, VO_MODULE_PRO,
             value->value.s != nullptr ? value->value.s : "", "CIE overcast");
      m->skyType = code != 0 ? code : 1;
      return 0;
    }
    case kNorth:
      for (int i = 0; i < 3; ++i) m->north[i] = value->value.v[i];
      return 0;
    case kUp:
      for (int i = 0; i < 3; ++i) m->up[i] = value->value.v[i];
      return 0;
    case kZenith: m->zenithLuminance = f; return 0;
    case kComplexity: m->complexity = Held(f, 0, 1, messages::kProComplexity); return 0;
    case kTemperature: m->colourTemperature = f; return 0;
    case kSpectral: {
      const int32_t code = NameCode(value->value.s, kSpectralNames, 4);
      if (code == 0)
        Post(VO_CLASS_DEBUG, messages::kProSpectral, VO_MODULE_PRO,
             value->value.s != nullptr ? value->value.s : "", "D65");
      m->spectralDistribution = code != 0 ? code : VO_SKY_D65;
      return 0;
    }
    default: return 0;  // "handle" is read only
  }
}

VtStatus SkyDestroy(void *block) {
  if (block == nullptr) return 0;
  auto *d = static_cast<VtLightData *>(block);
  VtSkyModel *m = Model(d);
  if (m != nullptr) {
    if (m->transform != nullptr) (void)VoTransformDestroy(m->transform);
    ModelEmpty(m);
    VoDeallocate(m);
  }
  VoDeallocate(d);
  return 0;
}

void *SkyCreate() {
  auto *d = static_cast<VtLightData *>(VoAllocate(sizeof(VtLightData)));
  if (d == nullptr) return nullptr;
  std::memset(static_cast<void *>(d), 0, sizeof *d);
  auto *m = static_cast<VtSkyModel *>(VoAllocate(sizeof(VtSkyModel)));
  if (m == nullptr) {
    VoDeallocate(d);
    return nullptr;
  }
  *m = VtSkyModel{};
  m->sunAltitude = static_cast<float>(kPi / 2);
  Set3(m->north, 0, 1, 0);
  Set3(m->up, 0, 0, 1);
  m->spectralDistribution = VO_SKY_D65;
  m->colourTemperature = 5000;
  Set3(m->filterColour, 1, 1, 1);
  m->skyType = VO_SKY_CIE_OVERCAST;
  SkyWords *w = Words(d);
  w->common.classData = m;
  w->common.colour = VtColour{1, 1, 1};
  w->altitudeDegrees = 90;
  d->kind = VO_LIGHT_GONIOMETRIC;
  d->self = d;
  d->shadowValid = 1;  // its shadows are always valid: it casts none
  return d;
}

}  // namespace

const ClassDescription kSky{
    "vxs_sky_light",
    "sky",
    VO_SHADER_LIGHT,
    kSkyLabels,
    kSkyMeanings,
    {},
    LightEntries(&SkyEvaluate, &SkyPrepare, &SkyGet, &SkySet, &SkyCreate, &SkyDestroy),
    true};

}  // namespace vo::pro
