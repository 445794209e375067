// The NPR reflectances: "phong cartoon" (two flat bands and a highlight),
// "phong cartoon 3" (three bands), "3band mphong" (three colour bands of
// the diffuse light) and "technical" (a cool-to-warm blend by how much the
// lights face the surface).
//
// Invariants a reader must know:
// - evaluation writes nothing into the instance: colours a shader stands in
//   for are evaluated into locals and the thresholds and powers that derive
//   from the arguments are worked out per call, so a colour shader never
//   makes the class prepare again and one instance serves every worker;
// - "technical" records its point, spot and distant lights at prepare, so
//   a light moved afterwards counts from the class's next set argument on;
//   the records are the instance's and go at release;
// - the integer highlight power is the whole power of the exponent raised
//   to at least 1; the phong cartoons write it into phong_power before
//   their highlight; "technical" uses its own exponent's whole power and
//   gives phong_power back as it found it.

#include <algorithm>
#include <cstring>

#include "render/vonpr/classes.h"

namespace vo::npr {

namespace {

using namespace shaderlib;

// ---- phong cartoon -----------------------------------------------------------

struct PhongCartoon {
  int32_t prepared;
  float ambient_factor;  // kept, not used by the shading
  float light_intensity;
  float light_filter[3];
  float shade_factor, shade_area, shade_smooth;
  float shade_filter[3];
  float highlight_intensity;
  float highlight_colour[3];
  float exponent;
  VtShader *light_filter_shader, *shade_filter_shader, *highlight_shader;
};

constexpr PhongCartoon kPhongCartoonDefault{0,         1,    0.75f,     {1, 1, 1}, 0.5f,    0.15f,   0.05f,
                                            {1, 1, 1}, 0.5f, {1, 1, 1}, 10,        nullptr, nullptr, nullptr};

constexpr Field kPhongCartoonFields[] = {
    {VtFloat, offsetof(PhongCartoon, ambient_factor)},
    {VtFloat, offsetof(PhongCartoon, light_intensity)},
    {VtColourType, offsetof(PhongCartoon, light_filter), kFieldShadeable,
     offsetof(PhongCartoon, light_filter_shader)},
    {VtFloat, offsetof(PhongCartoon, shade_factor)},
    {VtFloat, offsetof(PhongCartoon, shade_area)},
    {VtFloat, offsetof(PhongCartoon, shade_smooth)},
    {VtColourType, offsetof(PhongCartoon, shade_filter), kFieldShadeable,
     offsetof(PhongCartoon, shade_filter_shader)},
    {VtFloat, offsetof(PhongCartoon, highlight_intensity)},
    {VtColourType, offsetof(PhongCartoon, highlight_colour), kFieldShadeable,
     offsetof(PhongCartoon, highlight_shader)},
    {VtFloat, offsetof(PhongCartoon, exponent)},
};

void Reset(std::initializer_list<VtShader *> shaders) {
  for (VtShader *s : shaders)
    if (s != nullptr) (void)VoShaderReset(s);
}

// A colour argument, or what its shader gives now.
void Shaded(float out[3], const float colour[3], VtShader *shader, int32_t prepared) {
  Copy3(out, colour);
  int32_t flag = prepared;
  ShadeableColour(out, shader, &flag, false);
}

// Co += highlight x colour, after phong_power took the whole power.
void Highlight(VtShaderGlobals *g, float exponent, float intensity, const float colour[3]) {
  if (intensity == 0) return;
  const float e = exponent > 1 ? exponent : 1;
  g->phong_power = WholePower(e);
  float h[3];
  VoPhongTerm(h, e);
  for (int c = 0; c < 3; ++c) g->Co[c] += h[c] * intensity * colour[c];
}

VtStatus PhongCartoonPrepare(void *block) {
  const auto *b = static_cast<const PhongCartoon *>(block);
  Reset({b->light_filter_shader, b->shade_filter_shader, b->highlight_shader});
  return 0;
}

VtStatus PhongCartoonEvaluate(void *block) {
  const auto *b = static_cast<const PhongCartoon *>(block);
  float lf[3], sf[3], hc[3], d[3];
  Shaded(lf, b->light_filter, b->light_filter_shader, b->prepared);
  Shaded(sf, b->shade_filter, b->shade_filter_shader, b->prepared);
  Shaded(hc, b->highlight_colour, b->highlight_shader, b->prepared);
  VtShaderGlobals *g = VoShaderGetGlobals();
  VoDiffuseTerm(d);
  const float t0 = b->shade_area, t1 = b->shade_area + b->shade_smooth;
  for (int c = 0; c < 3; ++c) {
    const float lit = lf[c] * b->light_intensity * g->Co[c];
    if (b->shade_area <= 0) {
      g->Co[c] = lit;
      continue;
    }
    const auto a = static_cast<float>(VoSmoothStep(t0, t1, d[c]));
    g->Co[c] = (1 - a) * sf[c] * b->shade_factor * g->Co[c] + a * lit;
  }
  Highlight(g, b->exponent, b->highlight_intensity, hc);
  return 0;
}

// ---- phong cartoon 3 ---------------------------------------------------------

struct PhongCartoon3 {
  int32_t prepared;
  float ambient_factor;  // kept, not used by the shading
  float light_intensity;
  float light_filter[3];
  int32_t light_filter_on;
  float light_shade_factor, light_shade_area, light_shade_smooth;
  float light_shade_filter[3];
  int32_t light_shade_filter_on;
  float dark_shade_factor, dark_shade_area, dark_shade_smooth;
  float dark_shade_filter[3];
  int32_t dark_shade_filter_on;
  float highlight_intensity;
  float highlight_colour[3];
  float exponent;
  VtShader *light_filter_shader, *light_shade_shader, *dark_shade_shader, *highlight_shader;
};

constexpr PhongCartoon3 kPhongCartoon3Default{
    0,     1,     0.75f,     {1, 1, 1}, 1,    0.5f,      0.15f, 0.05f,   {1, 1, 1}, 1,       0.25f,
    0.15f, 0.05f, {1, 1, 1}, 1,         0.5f, {1, 1, 1}, 10,    nullptr, nullptr,   nullptr, nullptr};

#define VO_P3(f) offsetof(PhongCartoon3, f)
constexpr Field kPhongCartoon3Fields[] = {
    {VtFloat, VO_P3(ambient_factor)},
    {VtFloat, VO_P3(light_intensity)},
    {VtColourType, VO_P3(light_filter), kFieldShadeable, VO_P3(light_filter_shader)},
    {VtBoolean, VO_P3(light_filter_on)},
    {VtFloat, VO_P3(light_shade_factor)},
    {VtFloat, VO_P3(light_shade_area)},
    {VtFloat, VO_P3(light_shade_smooth)},
    {VtColourType, VO_P3(light_shade_filter), kFieldShadeable, VO_P3(light_shade_shader)},
    {VtBoolean, VO_P3(light_shade_filter_on)},
    {VtFloat, VO_P3(dark_shade_factor)},
    {VtFloat, VO_P3(dark_shade_area)},
    {VtFloat, VO_P3(dark_shade_smooth)},
    {VtColourType, VO_P3(dark_shade_filter), kFieldShadeable, VO_P3(dark_shade_shader)},
    {VtBoolean, VO_P3(dark_shade_filter_on)},
    {VtFloat, VO_P3(highlight_intensity)},
    {VtColourType, VO_P3(highlight_colour), kFieldShadeable, VO_P3(highlight_shader)},
    {VtFloat, VO_P3(exponent)},
};
#undef VO_P3

VtStatus PhongCartoon3Prepare(void *block) {
  const auto *b = static_cast<const PhongCartoon3 *>(block);
  Reset({b->light_filter_shader, b->light_shade_shader, b->dark_shade_shader, b->highlight_shader});
  return 0;
}

VtStatus PhongCartoon3Evaluate(void *block) {
  const auto *b = static_cast<const PhongCartoon3 *>(block);
  float lf[3], sf[3], df[3], hc[3], d[3];
  Shaded(lf, b->light_filter, b->light_filter_shader, b->prepared);
  Shaded(sf, b->light_shade_filter, b->light_shade_shader, b->prepared);
  Shaded(df, b->dark_shade_filter, b->dark_shade_shader, b->prepared);
  Shaded(hc, b->highlight_colour, b->highlight_shader, b->prepared);
  VtShaderGlobals *g = VoShaderGetGlobals();
  VoDiffuseTerm(d);
  const float t[4] = {b->dark_shade_area, b->dark_shade_area + b->dark_shade_smooth,
                      b->dark_shade_area + b->light_shade_area,
                      b->dark_shade_area + b->light_shade_area + b->light_shade_smooth};
  for (int c = 0; c < 3; ++c) {
    const float cs = g->Co[c];
    const float lb = b->light_intensity * lf[c] * (b->light_filter_on == 1 ? cs : 1.0f);
    const float sb = b->light_shade_factor * sf[c] * (b->light_shade_filter_on == 1 ? cs : 1.0f);
    const float db = b->dark_shade_factor * df[c] * (b->dark_shade_filter_on == 1 ? cs : 1.0f);
    g->Co[c] = Band(t, d[c], db, sb, lb);
  }
  Highlight(g, b->exponent, b->highlight_intensity, hc);
  return 0;
}

// ---- 3band mphong ------------------------------------------------------------

struct ThreeBand {
  int32_t prepared;
  float band1[3];
  float band2_max, band2_smooth;
  float band2[3];
  float band3_max, band3_smooth;
  float band3[3];
  VtShader *band1_shader, *band2_shader, *band3_shader;
};

constexpr ThreeBand kThreeBandDefault{0,     {1, 1, 1}, 0.15f,   0.05f,   {1, 1, 1}, 0.15f,
                                      0.05f, {1, 1, 1}, nullptr, nullptr, nullptr};

constexpr Field kThreeBandFields[] = {
    {VtColourType, offsetof(ThreeBand, band1), kFieldShadeable, offsetof(ThreeBand, band1_shader)},
    {VtFloat, offsetof(ThreeBand, band2_max)},
    {VtFloat, offsetof(ThreeBand, band2_smooth)},
    {VtColourType, offsetof(ThreeBand, band2), kFieldShadeable, offsetof(ThreeBand, band2_shader)},
    {VtFloat, offsetof(ThreeBand, band3_max)},
    {VtFloat, offsetof(ThreeBand, band3_smooth)},
    {VtColourType, offsetof(ThreeBand, band3), kFieldShadeable, offsetof(ThreeBand, band3_shader)},
};

VtStatus ThreeBandPrepare(void *block) {
  const auto *b = static_cast<const ThreeBand *>(block);
  Reset({b->band1_shader, b->band2_shader, b->band3_shader});
  return 0;
}

VtStatus ThreeBandEvaluate(void *block) {
  const auto *b = static_cast<const ThreeBand *>(block);
  float b1[3], b2[3], b3[3], d[3], t[4];
  Shaded(b1, b->band1, b->band1_shader, b->prepared);
  Shaded(b2, b->band2, b->band2_shader, b->prepared);
  Shaded(b3, b->band3, b->band3_shader, b->prepared);
  ThreeBandThresholds(b->band2_max, b->band2_smooth, b->band3_max, b->band3_smooth, t);
  VtShaderGlobals *g = VoShaderGetGlobals();
  VoDiffuseTerm(d);
  for (int c = 0; c < 3; ++c) g->Co[c] = Band(t, d[c], b3[c], b2[c], b1[c]);
  return 0;
}

// ---- technical ---------------------------------------------------------------

struct LightRecord {
  float location[3];
  float direction[3];  // unit, or 0 for a point light
  LightRecord *next;
};

struct Technical {
  int32_t prepared;
  float cool[3], warm[3];
  float cool_factor, warm_factor, diffuse_factor, specular_factor, exponent;
  VtShader *cool_shader, *warm_shader;
  LightRecord *lights;
};

constexpr Technical kTechnicalDefault{0,  {0, 0, 0.45f}, {0.35f, 0.35f, 0}, 0.25f,  0.5f, 0.75f, 0.5f,
                                      10, nullptr,       nullptr,           nullptr};

constexpr Field kTechnicalFields[] = {
    {VtColourType, offsetof(Technical, cool), kFieldShadeable, offsetof(Technical, cool_shader)},
    {VtColourType, offsetof(Technical, warm), kFieldShadeable, offsetof(Technical, warm_shader)},
    {VtFloat, offsetof(Technical, cool_factor)},
    {VtFloat, offsetof(Technical, warm_factor)},
    {VtFloat, offsetof(Technical, diffuse_factor)},
    {VtFloat, offsetof(Technical, specular_factor)},
    {VtFloat, offsetof(Technical, exponent)},
};

void LightsFree(Technical *b) {
  for (LightRecord *r = b->lights; r != nullptr;) {
    LightRecord *next = r->next;
    VoDeallocate(r);
    r = next;
  }
  b->lights = nullptr;
}

bool PointOf(VtShader *light, const char *label, float out[3]) {
  VtTypedValue v{};
  if (!ArgumentRead(light, label, &v)) return false;
  Copy3(out, v.value.v);
  return true;
}

VtStatus TechnicalPrepare(void *block) {
  auto *b = static_cast<Technical *>(block);
  Reset({b->cool_shader, b->warm_shader});
  LightsFree(b);
  ForEachNode(VoLightListGet(), [&](VtReference *node) {
    auto *light = static_cast<VtShader *>(node->data);
    const char *name = nullptr;
    uint32_t type = 0;
    if (light == nullptr || VoShaderEnquire(light, &type, &name, nullptr, nullptr) != 0 || name == nullptr ||
        type != VO_SHADER_LIGHT)
      return;
    const bool point = std::strcmp(name, "point") == 0;
    const bool aimed = std::strcmp(name, "spot") == 0 || std::strcmp(name, "distant") == 0;
    LightRecord r{{0, 0, 0}, {0, 0, 0}, nullptr};
    if (!(point || aimed) || !PointOf(light, "location", r.location)) return;
    float to[3];
    if (aimed && PointOf(light, "to", to)) {
      Set3(r.direction, to[0] - r.location[0], to[1] - r.location[1], to[2] - r.location[2]);
      if (!Normalise(r.direction, 1e-6f)) Set3(r.direction, 0, 0, 0);
    }
    auto *made = static_cast<LightRecord *>(VoAllocate(sizeof(LightRecord)));
    if (made == nullptr) return;  // skipped
    r.next = b->lights;
    *made = r;
    b->lights = made;
  });
  return 0;
}

VtStatus TechnicalEvaluate(void *block) {
  const auto *b = static_cast<const Technical *>(block);
  float cool[3], warm[3], h[3] = {0, 0, 0};
  Shaded(cool, b->cool, b->cool_shader, b->prepared);
  Shaded(warm, b->warm, b->warm_shader, b->prepared);
  VtShaderGlobals *g = VoShaderGetGlobals();
  if (b->specular_factor != 0) {
    // The highlight takes this exponent's whole power, not one another
    // class left in phong_power.
    const int32_t kept = g->phong_power;
    g->phong_power = WholePower(b->exponent);
    VoPhongTerm(h, b->exponent);
    g->phong_power = kept;
  }
  float s = 0;
  if (g->Pw != nullptr && g->N != nullptr)
    for (const LightRecord *r = b->lights; r != nullptr; r = r->next) {
      float l[3] = {r->location[0] - g->Pw[0], r->location[1] - g->Pw[1], r->location[2] - g->Pw[2]};
      if (!Normalise(l, 1e-12f)) continue;
      float term = Dot(l, g->N);
      if (Length(r->direction) >= 1e-5f) term *= -Dot(l, r->direction);
      s += term;
    }
  s = std::clamp(s, -1.0f, 1.0f);
  const float k = (1 - s) * 0.5f, w = 1 - k;
  for (int c = 0; c < 3; ++c) {
    const float kd = b->diffuse_factor * g->Co[c];
    g->Co[c] =
        (kd * b->cool_factor + cool[c]) * k + (kd * b->warm_factor + warm[c]) * w + b->specular_factor * h[c];
  }
  return 0;
}

VtStatus TechnicalInitialise(void *block) {
  static_cast<Technical *>(block)->lights = nullptr;
  return 0;
}
VtStatus TechnicalRelease(void *block) {
  if (block != nullptr) LightsFree(static_cast<Technical *>(block));
  return 0;
}

constexpr Entries TechnicalEntries() {
  Entries e = DataEntries<kTechnicalDefault>(&TechnicalEvaluate, &TechnicalPrepare,
                                             &TableGet<kTechnicalFields>, &TableSet<kTechnicalFields>);
  e.initialise = &TechnicalInitialise;
  e.release = &TechnicalRelease;
  return e;
}

constexpr const char *kPhongCartoonLabels[] = {
    "ambient factor", "light intensity", "light filter",        "shade factor",     "shade area",
    "shade smooth",   "shade filter",    "highlight intensity", "highlight colour", "exponent"};
constexpr const char *kPhongCartoonMeanings[] = {
    "stored and answered; not used",
    "brightness of the lit band",
    "colour of the lit band, times the surface colour; may be a colour shader",
    "brightness of the shaded band",
    "diffuse light below which the surface is shaded; 0 or less shades nothing",
    "width of the seam between shaded and lit",
    "colour of the shaded band, times the surface colour; may be a colour shader",
    "strength of the Phong highlight; 0 draws none",
    "colour of the highlight; may be a colour shader",
    "Phong exponent of the highlight (1 at least)"};
constexpr const char *kPhongCartoon3Labels[] = {"ambient factor",
                                                "light intensity",
                                                "light filter",
                                                "light filter on",
                                                "light shade factor",
                                                "light shade area",
                                                "light shade smooth",
                                                "light shade filter",
                                                "light shade filter on",
                                                "dark shade factor",
                                                "dark shade area",
                                                "dark shade smooth",
                                                "dark shade filter",
                                                "dark shade filter on",
                                                "highlight intensity",
                                                "highlight colour",
                                                "exponent"};
constexpr const char *kPhongCartoon3Meanings[] = {"stored and answered; not used",
                                                  "brightness of the lit band",
                                                  "colour of the lit band; may be a colour shader",
                                                  "multiply the lit band by the surface colour",
                                                  "brightness of the light shade band",
                                                  "width of the light shade band in diffuse light",
                                                  "width of the seam between light shade and lit",
                                                  "colour of the light shade band; may be a colour shader",
                                                  "multiply the light shade band by the surface colour",
                                                  "brightness of the dark shade band",
                                                  "diffuse light up to which the dark shade band reaches",
                                                  "width of the seam between dark and light shade",
                                                  "colour of the dark shade band; may be a colour shader",
                                                  "multiply the dark shade band by the surface colour",
                                                  "strength of the Phong highlight; 0 draws none",
                                                  "colour of the highlight; may be a colour shader",
                                                  "Phong exponent of the highlight (1 at least)"};
constexpr const char *kThreeBandLabels[] = {"band1 colour", "band2 max",    "band2 smooth", "band2 colour",
                                            "band3 max",    "band3 smooth", "band3 colour"};
constexpr const char *kThreeBandMeanings[] = {"colour of the brightest band; may be a colour shader",
                                              "width of the middle band in diffuse light",
                                              "width of the seam between the middle and the brightest band",
                                              "colour of the middle band; may be a colour shader",
                                              "diffuse light up to which the darkest band reaches",
                                              "width of the seam between the darkest and the middle band",
                                              "colour of the darkest band; may be a colour shader"};
constexpr const char *kTechnicalLabels[] = {"cool colour",    "warm colour",     "cool factor", "warm factor",
                                            "diffuse factor", "specular factor", "exponent"};
constexpr const char *kTechnicalMeanings[] = {
    "tone of the surfaces facing away from the lights; may be a colour shader",
    "tone of the surfaces facing the lights; may be a colour shader",
    "share of the surface colour in the cool tone",
    "share of the surface colour in the warm tone",
    "weight of the surface colour in both tones",
    "weight of the Phong highlight",
    "Phong exponent of the highlight"};
constexpr const char *kCartoonGlobals[] = {"Co", "phong_power"};
constexpr const char *kBandGlobals[] = {"Co"};
constexpr const char *kTechnicalGlobals[] = {"Co", "Pw", "N"};

}  // namespace

void ThreeBandThresholds(float band2_max, float band2_smooth, float band3_max, float band3_smooth,
                         float t[4]) {
  t[0] = std::max(band3_max - band3_smooth / 2, 0.0f);
  t[1] = band3_max + band3_smooth / 2;
  t[2] = band3_max + band2_max - band2_smooth / 2;
  t[3] = std::min(band3_max + band2_max + band2_smooth / 2, 1.0f);
}

float Band(const float t[4], float x, float low, float middle, float high) {
  if (x <= t[0]) return low;
  if (x < t[1]) {
    const auto a = static_cast<float>(VoSmoothStep(t[0], t[1], x));
    return low * (1 - a) + middle * a;
  }
  if (x <= t[2]) return middle;
  if (x < t[3]) {
    const auto a = static_cast<float>(VoSmoothStep(t[2], t[3], x));
    return middle * (1 - a) + high * a;
  }
  return high;
}

const ClassDescription kPhongCartoon{
    "vxs_phong_cartoon_reflectance",
    "phong cartoon",
    VO_SHADER_REFLECTANCE,
    kPhongCartoonLabels,
    kPhongCartoonMeanings,
    kCartoonGlobals,
    DataEntries<kPhongCartoonDefault>(&PhongCartoonEvaluate, &PhongCartoonPrepare,
                                      &TableGet<kPhongCartoonFields>, &TableSet<kPhongCartoonFields>)};
const ClassDescription kPhongCartoon3{
    "vxs_phong_cartoon_3_reflectance",
    "phong cartoon 3",
    VO_SHADER_REFLECTANCE,
    kPhongCartoon3Labels,
    kPhongCartoon3Meanings,
    kCartoonGlobals,
    DataEntries<kPhongCartoon3Default>(&PhongCartoon3Evaluate, &PhongCartoon3Prepare,
                                       &TableGet<kPhongCartoon3Fields>, &TableSet<kPhongCartoon3Fields>)};
const ClassDescription kThreeBand{
    "vxs_3band_mphong_reflectance",
    "3band mphong",
    VO_SHADER_REFLECTANCE,
    kThreeBandLabels,
    kThreeBandMeanings,
    kBandGlobals,
    DataEntries<kThreeBandDefault>(&ThreeBandEvaluate, &ThreeBandPrepare, &TableGet<kThreeBandFields>,
                                   &TableSet<kThreeBandFields>)};
const ClassDescription kTechnical{
    "vxs_technical_reflectance", "technical",       VO_SHADER_REFLECTANCE, kTechnicalLabels,
    kTechnicalMeanings,          kTechnicalGlobals, TechnicalEntries()};

}  // namespace vo::npr
