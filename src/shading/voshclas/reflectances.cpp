// The ray-traced reflectances (mirror, wrapped mirror map, glass, dielectric,
// conductor) and the environment reflectance. Each combines the kernel's
// lighting terms with rays traced from Pw through VoRayTrace (black without
// a ray tracer) and writes its result to Co, the surface colour Cs being
// what Co held on entry.
//
// Glass and dielectric turn the normals about with VoReverseNormals for a
// point seen from inside and turn them back on every path out, so N and Ng
// leave as they came (but for the clamp every class but the environment
// reflectance applies first).

#include <algorithm>

#include "shading/voshclas/voshclas.h"
#include "kernel/vosystem/face.h"

namespace vo::classic {

namespace {

constexpr float kDefaultIndex = 1.59144f;

void Scale(float *c, float k) {
  for (int i = 0; i < 3; ++i) c[i] *= k;
}
void AddScaled(float *to, const float *c, float k) {
  for (int i = 0; i < 3; ++i) to[i] += k * c[i];
}
void Tint(float *c, const float *by) {
  for (int i = 0; i < 3; ++i) c[i] *= by[i];
}
float Largest(const float *w) { return std::max(w[0], std::max(w[1], w[2])); }

// Adds m x the colour traced from Pw along the direction.
void TraceAdd(VtShaderGlobals *g, float *c, const float *direction, float m) {
  float traced[3] = {0, 0, 0};
  (void)VoRayTrace(traced, g->Pw, direction, m);
  AddScaled(c, traced, m);
}
// Adds w x the colour traced along the direction, channel by channel, with
// w = k x by and the ray weighed by the largest channel of w.
void TintedTraceAdd(VtShaderGlobals *g, float *c, const float *direction, float k, const float *by) {
  float w[3], traced[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) w[i] = k * by[i];
  (void)VoRayTrace(traced, g->Pw, direction, Largest(w));
  for (int i = 0; i < 3; ++i) c[i] += w[i] * traced[i];
}
void ReflectAdd(VtShaderGlobals *g, float *c, float m) {
  float R[3];
  VoReflect(R, g->unitI, g->N);
  TraceAdd(g, c, R, m);
}

// Ka x ambient (when Ka > 0) + Kd x diffuse (when Kd > 0), times Cs.
void Matte(float *c, float ka, float kd, const float *cs) {
  float t[3];
  c[0] = c[1] = c[2] = 0;
  if (ka > 0) {
    VoAmbientTerm(t);
    AddScaled(c, t, ka);
  }
  if (kd > 0) {
    VoDiffuseTerm(t);
    AddScaled(c, t, kd);
  }
  Tint(c, cs);
}

// The refractive index: below 1 (or NaN) the default.
float Index(float refraction) { return refraction >= 1.0f ? refraction : kDefaultIndex; }

// --- mirror and wrapped mirror map ---------------------------------------

struct MirrorFactors {
  float ka, kd, ks, km, roughness;
};

struct Mirror {
  int32_t prepared;
  MirrorFactors k;
  float power;
};

struct MirrorMap {
  VtShaderFileNameArgs names;  // file name, texture
  MirrorFactors k;
  VtImage *image;
  float power;
};

constexpr Mirror kMirrorDefault{0, {0.1f, 0.1f, 0.8f, 0.8f, 0.0625f}, 0};
constexpr MirrorMap kMirrorMapDefault{{}, {0.1f, 0.1f, 0.8f, 0.8f, 0.0625f}, nullptr, 0};

#define VO_FLOAT(T, f) \
  Field { VtFloat, static_cast<uint32_t>(offsetof(T, f)) }

constexpr Field kMirrorFields[] = {VO_FLOAT(Mirror, k.ka), VO_FLOAT(Mirror, k.kd), VO_FLOAT(Mirror, k.ks),
                                   VO_FLOAT(Mirror, k.km), VO_FLOAT(Mirror, k.roughness)};
constexpr Field kMirrorMapFields[] = {VO_FLOAT(MirrorMap, k.ka),
                                      VO_FLOAT(MirrorMap, k.kd),
                                      VO_FLOAT(MirrorMap, k.ks),
                                      VO_FLOAT(MirrorMap, k.km),
                                      VO_FLOAT(MirrorMap, k.roughness),
                                      {VtGenericPtr, offsetof(MirrorMap, image)},
                                      {VtString, offsetof(MirrorMap, names.fileName)}};

constexpr const char kMirrorMapIdentifier[] = "vxs_wrapped_mirror_map_reflecta";

// Mirror, step 1 to 5 of both classes: the lit surface and its highlight.
void MirrorSurface(VtShaderGlobals *g, const MirrorFactors &k, float power, float *c) {
  VoClampNormal(g->N, g->Ng, g->unitI);
  float cs[3];
  Copy3(cs, g->Co);
  Matte(c, k.ka, k.kd, cs);
  if (k.ks > 0) {
    float t[3];
    VoSpecularTerm(t, power);
    AddScaled(c, t, k.ks);
  }
}

VtStatus MirrorPrepare(void *block) {
  auto *b = static_cast<Mirror *>(block);
  b->power = Reciprocal(b->k.roughness);
  return 0;
}

VtStatus MirrorEvaluate(void *block) {
  const auto *b = static_cast<const Mirror *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  float c[3];
  MirrorSurface(g, b->k, b->power, c);
  if (b->k.km > 0) ReflectAdd(g, c, b->k.km);
  Copy3(g->Co, c);
  return 0;
}

// The texture from the image (refused: none, with a diagnostic), else from
// the file name (cached by name in the kernel), else none.
VtStatus MirrorMapPrepare(void *block) {
  auto *b = static_cast<MirrorMap *>(block);
  b->power = Reciprocal(b->k.roughness);
  (void)exported::VoShaderTextureRelease(block);
  if (b->image != nullptr) {
    if (const char *why = ImageRefusal(b->image)) {
      Post(VO_CLASS_WARNING, messages::kLiteImageUnusable, VO_MODULE_CLASSIC, kMirrorMapIdentifier, "image",
           why);
      return 0;
    }
    b->names.handle.texture = VoTextureCreate(b->image, 3);
  } else if (b->names.fileName != nullptr && b->names.fileName[0] != '\0') {
    b->names.handle.texture = VoTextureRead(b->names.fileName, 3);
  }
  return 0;
}

VtStatus MirrorMapEvaluate(void *block) {
  const auto *b = static_cast<const MirrorMap *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  float c[3];
  MirrorSurface(g, b->k, b->power, c);
  float m = b->k.km;
  if (b->names.handle.texture != nullptr) {
    float sample[3] = {1, 1, 1};
    (void)VoTextureSampleArea(sample, 3, b->names.handle.texture);
    m *= sample[0];
  }
  if (m > 0) ReflectAdd(g, c, m);
  Copy3(g->Co, c);
  return 0;
}

// --- glass and dielectric ------------------------------------------------

struct Glass {
  int32_t prepared;
  float ks, kt, km, roughness, refraction;
  float power, index;
};
constexpr Glass kGlassDefault{0, 0.5f, 0.9f, 0.1f, 0.1f, kDefaultIndex, 0, 0};
constexpr Field kGlassFields[] = {VO_FLOAT(Glass, ks), VO_FLOAT(Glass, kt), VO_FLOAT(Glass, km),
                                  VO_FLOAT(Glass, roughness), VO_FLOAT(Glass, refraction)};

struct Dielectric {
  int32_t prepared;
  float ka, kd, ks, kt, km, roughness, refraction;
  float power, index;
};
constexpr Dielectric kDielectricDefault{0, 0, 0, 0.9f, 0.9f, 0.9f, 0.1f, kDefaultIndex, 0, 0};
constexpr Field kDielectricFields[] = {VO_FLOAT(Dielectric, ka),        VO_FLOAT(Dielectric, kd),
                                       VO_FLOAT(Dielectric, ks),        VO_FLOAT(Dielectric, kt),
                                       VO_FLOAT(Dielectric, km),        VO_FLOAT(Dielectric, roughness),
                                       VO_FLOAT(Dielectric, refraction)};

template <class T>
VtStatus SolidPrepare(void *block) {
  auto *b = static_cast<T *>(block);
  b->power = Reciprocal(b->roughness);
  b->index = Index(b->refraction);
  return 0;
}

// The glass's colour with the normals turned for a point seen from inside.
void GlassShade(const Glass *b, VtShaderGlobals *g, const float *cs, float *c) {
  const bool inside = g->reverse != 0;
  VoSpecularSolidTerm(c, b->index, b->power);
  Scale(c, b->ks);
  if (inside) Tint(c, cs);
  float m = b->km;
  if (b->kt <= 0) {
    if (inside) return;
  } else {
    float T[3];
    if (VoRefract(T, g->unitI, g->N, b->index) != 0) {
      TintedTraceAdd(g, c, T, b->kt, cs);
      if (inside) return;
    } else {
      m = b->kt;  // the transmitted share goes to the reflection
    }
  }
  if (m > 0) ReflectAdd(g, c, m);
}

void DielectricShade(const Dielectric *b, VtShaderGlobals *g, const float *cs, float *c) {
  const bool inside = g->reverse != 0;
  c[0] = c[1] = c[2] = 0;
  if (inside) Matte(c, b->ka, b->kd, cs);
  float S[3];
  VoSpecularSolidFresnelTerm(S, b->index, b->power);
  Scale(S, b->ks);
  if (inside) Tint(S, cs);
  AddScaled(c, S, 1);
  float F = 0, R[3], T[3];
  float m = b->km;
  if (VoFresnelSolidReflect(&F, R, T, b->index) != 0) {
    TintedTraceAdd(g, c, T, (1 - F) * b->kt, cs);
    if (inside) return;
    m = F * b->km;
  }
  if (m > 0) TraceAdd(g, c, R, m);
}

// Glass and dielectric: the normals clamped, turned for a point seen from
// inside while the class shades, and turned back.
template <class T, void (*Shade)(const T *, VtShaderGlobals *, const float *, float *)>
VtStatus SolidEvaluate(void *block) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  VoClampNormal(g->N, g->Ng, g->unitI);
  float cs[3], c[3];
  Copy3(cs, g->Co);
  VoReverseNormals();
  Shade(static_cast<const T *>(block), g, cs, c);
  VoReverseNormals();
  Copy3(g->Co, c);
  return 0;
}

// --- conductor -------------------------------------------------------------

struct Conductor {
  int32_t prepared;
  float ka, kd, ks, km, roughness;
  float refraction[3], absorption[3];
  float power, n[3], k[3];
};
constexpr Conductor kConductorDefault{
    0, 0.1f, 0.1f, 0.8f, 0.8f, 0.1f, {0.13764f, 0.128079f, 0.156556f}, {3.75633f, 4.37743f, 2.3437f},
    0, {},   {}};
constexpr Field kConductorFields[] = {VO_FLOAT(Conductor, ka),
                                      VO_FLOAT(Conductor, kd),
                                      VO_FLOAT(Conductor, ks),
                                      VO_FLOAT(Conductor, km),
                                      VO_FLOAT(Conductor, roughness),
                                      VO_FLOAT(Conductor, refraction[0]),
                                      VO_FLOAT(Conductor, refraction[1]),
                                      VO_FLOAT(Conductor, refraction[2]),
                                      VO_FLOAT(Conductor, absorption[0]),
                                      VO_FLOAT(Conductor, absorption[1]),
                                      VO_FLOAT(Conductor, absorption[2])};

VtStatus ConductorPrepare(void *block) {
  auto *b = static_cast<Conductor *>(block);
  b->power = Reciprocal(b->roughness);
  Copy3(b->n, b->refraction);
  Copy3(b->k, b->absorption);
  return 0;
}

VtStatus ConductorEvaluate(void *block) {
  const auto *b = static_cast<const Conductor *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  VoClampNormal(g->N, g->Ng, g->unitI);
  float cs[3], c[3];
  Copy3(cs, g->Co);
  Matte(c, b->ka, b->kd, cs);
  if (b->ks > 0) {
    float t[3];
    VoSpecularFresnelTerm(t, b->n, b->k, b->power);
    AddScaled(c, t, b->ks);
  }
  if (b->km > 0) {
    float F[3] = {0, 0, 0}, R[3];
    VoFresnelReflect(F, R, b->n, b->k);
    TintedTraceAdd(g, c, R, b->km, F);
  }
  Copy3(g->Co, c);
  return 0;
}

// --- environment reflectance ----------------------------------------------

// Every factor is tested against 0, not for being positive: negative
// factors act.
struct Environment {
  int32_t prepared;
  float ka, kd, ks, ke, roughness, angleScale;
  float power;
};
constexpr Environment kEnvironmentDefault{0, 1.0f, 0.5f, 0.5f, 0.3f, 0.1f, 1.0f, 0};
constexpr Field kEnvironmentFields[] = {VO_FLOAT(Environment, ka),        VO_FLOAT(Environment, kd),
                                        VO_FLOAT(Environment, ks),        VO_FLOAT(Environment, ke),
                                        VO_FLOAT(Environment, roughness), VO_FLOAT(Environment, angleScale)};

VtStatus EnvironmentPrepare(void *block) {
  auto *b = static_cast<Environment *>(block);
  b->power = Reciprocal(b->roughness);
  return 0;
}

VtStatus EnvironmentEvaluate(void *block) {
  const auto *b = static_cast<const Environment *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  float cs[3], c[3] = {0, 0, 0}, t[3];
  Copy3(cs, g->Co);
  if (b->ka != 0) {
    VoAmbientTerm(t);
    AddScaled(c, t, b->ka);
  }
  if (b->kd != 0) {
    VoDiffuseTerm(t);
    AddScaled(c, t, b->kd);
  }
  Tint(c, cs);
  if (b->ks != 0) {
    VoSpecularTerm(t, b->power);
    AddScaled(c, t, b->ks);
  }
  if (b->ke != 0) {
    float R[3];
    VoReflect(R, g->unitI, g->N);
    const double cone = b->angleScale > 0 ? VoSurfaceCurvature() * b->angleScale : 0.0;
    float sample[3] = {0, 0, 0};
    (void)VoEnvironmentSample(sample, nullptr, g->Pw, R, cone);
    AddScaled(c, sample, b->ke);
  }
  Copy3(g->Co, c);
  return 0;
}

#undef VO_FLOAT

constexpr const char *kMirrorLabels[] = {"ambient factor", "diffuse factor", "specular factor",
                                         "mirror factor", "roughness"};
constexpr const char *kMirrorMeanings[] = {
    "weight of the ambient light on the surface colour", "weight of the diffuse light on the surface colour",
    "weight of the highlight (not tinted by the surface)",
    "weight of the colour seen along the reflected ray the ray tracer traces",
    "size of the highlight: its exponent is 1 / roughness (10000 below 0.0001)"};
constexpr const char *kMirrorMapLabels[] = {"ambient factor", "diffuse factor", "specular factor",
                                            "mirror factor",  "roughness",      "image",
                                            "file name"};
constexpr const char *kMirrorMapMeanings[] = {
    "weight of the ambient light on the surface colour",
    "weight of the diffuse light on the surface colour",
    "weight of the highlight (not tinted by the surface)",
    "weight of the reflected ray's colour, scaled by the map's first channel where there is a map",
    "size of the highlight: its exponent is 1 / roughness (10000 below 0.0001)",
    "image whose first channel, wrapped by s and t, scales the mirror factor; used before the file",
    "image file read for the map when no image is given"};
constexpr const char *kGlassLabels[] = {"specular factor", "transmission factor", "mirror factor",
                                        "roughness", "refraction"};
constexpr const char *kGlassMeanings[] = {
    "weight of the highlight, as on a solid of the refractive index",
    "weight of the refracted ray's colour, tinted by the surface colour",
    "weight of the reflected ray's colour",
    "size of the highlight: its exponent is 1 / roughness (10000 below 0.0001)",
    "refractive index (1.59144 when below 1); a closed glass solid must be two-sided "
    "(VO_PRIMITIVE_TWO_SIDED): traced rays meet no back face of a one-sided one, so a ray inside never "
    "leaves by its far faces"};
constexpr const char *kDielectricLabels[] = {"ambient factor",      "diffuse factor", "specular factor",
                                             "transmission factor", "mirror factor",  "roughness",
                                             "refraction"};
constexpr const char *kDielectricMeanings[] = {
    "weight of the ambient light, seen from inside the solid only",
    "weight of the diffuse light, seen from inside the solid only",
    "weight of the Fresnel highlight",
    "weight of the refracted ray's colour, scaled by 1 minus the Fresnel reflectance",
    "weight of the reflected ray's colour, scaled by the Fresnel reflectance",
    "size of the highlight: its exponent is 1 / roughness (10000 below 0.0001)",
    "refractive index (1.59144 when below 1); a closed glass solid must be two-sided "
    "(VO_PRIMITIVE_TWO_SIDED): traced rays meet no back face of a one-sided one, so a ray inside never "
    "leaves by its far faces"};
constexpr const char *kConductorLabels[] = {"ambient factor",   "diffuse factor",  "specular factor",
                                            "mirror factor",    "roughness",       "refraction red",
                                            "refraction green", "refraction blue", "absorption red",
                                            "absorption green", "absorption blue"};
constexpr const char *kConductorMeanings[] = {
    "weight of the ambient light on the surface colour",
    "weight of the diffuse light on the surface colour",
    "weight of the Fresnel highlight of the metal",
    "weight of the reflected ray's colour, scaled per channel by the Fresnel reflectance",
    "size of the highlight: its exponent is 1 / roughness (10000 below 0.0001)",
    "real part of the metal's refractive index for red",
    "real part of the metal's refractive index for green",
    "real part of the metal's refractive index for blue",
    "absorption (imaginary part of the index) for red",
    "absorption (imaginary part of the index) for green",
    "absorption (imaginary part of the index) for blue"};
constexpr const char *kEnvironmentLabels[] = {"ambient factor",     "diffuse factor", "specular factor",
                                              "environment factor", "roughness",      "angle scale"};
constexpr const char *kEnvironmentMeanings[] = {
    "weight of the ambient light on the surface colour (a negative one darkens)",
    "weight of the diffuse light on the surface colour",
    "weight of the highlight",
    "weight of the environment cube's colour seen along the reflected direction",
    "size of the highlight: its exponent is 1 / roughness (10000 below 0.0001)",
    "widens the environment look-up's cone by the surface's curvature; 0 or less samples a single direction"};

constexpr const char *kMirrorGlobals[] = {"Co", "Pw", "Ng", "N", "unitI", "raytrace"};
constexpr const char *kMirrorMapGlobals[] = {"Co", "Pw", "Ng", "N", "s", "t", "unitI", "raytrace"};
constexpr const char *kSolidGlobals[] = {"Co", "Pw", "Ng", "N", "unitI", "reverse", "raytrace"};
constexpr const char *kEnvironmentGlobals[] = {"Co", "Pw", "N", "unitI"};

template <const auto &Default, const auto &Fields>
constexpr Entries ReflectanceEntries(VtShaderDataProc evaluate, VtShaderDataProc prepare) {
  return DataEntries<Default>(evaluate, prepare, &TableGet<Fields>, &TableSet<Fields>);
}

constexpr Entries MirrorMapEntries() {
  Entries e = ReflectanceEntries<kMirrorMapDefault, kMirrorMapFields>(&MirrorMapEvaluate, &MirrorMapPrepare);
  e.initialise = &exported::VoShaderTextureClear;
  e.release = &exported::VoShaderTextureRelease;
  e.destroy = &exported::VoShaderFileNameInstanceFree;
  return e;
}

}  // namespace

const ClassDescription kMirror{
    "vxs_mirror_reflectance",
    "mirror",
    VO_SHADER_REFLECTANCE,
    kMirrorLabels,
    kMirrorMeanings,
    kMirrorGlobals,
    ReflectanceEntries<kMirrorDefault, kMirrorFields>(&MirrorEvaluate, &MirrorPrepare)};
const ClassDescription kMirrorMap{kMirrorMapIdentifier, "wrapped mirror map", VO_SHADER_REFLECTANCE,
                                  kMirrorMapLabels,     kMirrorMapMeanings,   kMirrorMapGlobals,
                                  MirrorMapEntries()};
const ClassDescription kGlass{"vxs_glass_reflectance",
                              "glass",
                              VO_SHADER_REFLECTANCE,
                              kGlassLabels,
                              kGlassMeanings,
                              kSolidGlobals,
                              ReflectanceEntries<kGlassDefault, kGlassFields>(
                                  &SolidEvaluate<Glass, &GlassShade>, &SolidPrepare<Glass>)};
const ClassDescription kDielectric{
    "vxs_dielectric_reflectance",
    "dielectric",
    VO_SHADER_REFLECTANCE,
    kDielectricLabels,
    kDielectricMeanings,
    kSolidGlobals,
    ReflectanceEntries<kDielectricDefault, kDielectricFields>(&SolidEvaluate<Dielectric, &DielectricShade>,
                                                              &SolidPrepare<Dielectric>)};
const ClassDescription kConductor{
    "vxs_conductor_reflectance",
    "conductor",
    VO_SHADER_REFLECTANCE,
    kConductorLabels,
    kConductorMeanings,
    kMirrorGlobals,
    ReflectanceEntries<kConductorDefault, kConductorFields>(&ConductorEvaluate, &ConductorPrepare)};
const ClassDescription kEnvironmentReflectance{
    "vxs_environment_reflectance",
    "environment",
    VO_SHADER_REFLECTANCE,
    kEnvironmentLabels,
    kEnvironmentMeanings,
    kEnvironmentGlobals,
    ReflectanceEntries<kEnvironmentDefault, kEnvironmentFields>(&EnvironmentEvaluate, &EnvironmentPrepare)};

}  // namespace vo::classic
