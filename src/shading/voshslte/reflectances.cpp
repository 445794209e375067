// The reflectances (plastic, phong, metal, matte, constant), the plain and
// none transparencies, and the empty foreground and displacement. The
// reflectances turn the surface colour left in Co into the lit colour
// through the kernel's lighting terms; the transparency sets To.
//
// Plastic, phong and the plain transparency derive values from a colour a
// shader may stand in for: that colour is evaluated first at every point and
// the derived values are made again after it.

#include "shading/voshslte/voshslte.h"

namespace vo::shaderlib {

namespace {

struct Metal {
  VtShaderWordArgs args;  // ambient factor, specular factor, roughness
  float power;
  int32_t integerPower;
};

struct PlainTransparency {
  VtShaderColourArg colour;
  float complement[3];
};

constexpr VtPlasticParams kPlasticDefault{0, 1.0f, 0.75f, 0.5f, 0.1f, {1, 1, 1}, nullptr, 0, 0, {0, 0, 0}};
constexpr VtPlasticParams kPhongDefault{0, 1.0f, 0.75f, 0.5f, 10.0f, {1, 1, 1}, nullptr, 0, 0, {0, 0, 0}};
constexpr Metal kMetalDefault{{0, 0, {{1.0f}, {1.0f}, {0.25f}}}, 0, 0};
constexpr VtShaderWordArgs kMatteDefault{0, 0, {{1.0f}, {1.0f}, {0.0f}}};
constexpr PlainTransparency kPlainTransparencyDefault{{0, {1, 1, 1}, nullptr}, {0, 0, 0}};

constexpr Field kPlasticFields[] = {
    {VtFloat, offsetof(VtPlasticParams, ambientFactor)},
    {VtFloat, offsetof(VtPlasticParams, diffuseFactor)},
    {VtFloat, offsetof(VtPlasticParams, specularFactor)},
    {VtFloat, offsetof(VtPlasticParams, roughness)},
    {VtColourType, offsetof(VtPlasticParams, specularColour), kFieldShadeable,
     offsetof(VtPlasticParams, specularShader)},
};

VtStatus PhongPrepare(void *block) {
  auto *b = static_cast<VtPlasticParams *>(block);
  if (b->specularShader != nullptr) (void)VoShaderReset(b->specularShader);
  b->power = b->roughness > 1.0f ? b->roughness : 1.0f;
  b->integerPower = WholePower(b->power);
  for (int i = 0; i < 3; ++i) b->tint[i] = b->specularFactor * b->specularColour[i];
  return 0;
}

// Plastic and phong: ambient and diffuse on the surface colour, and a
// highlight in the specular tint. A specular colour given by a shader is
// evaluated into a local and the tint derived from it for this point: the
// instance is read-only while it shades.
template <bool Phong>
VtStatus HighlightEvaluate(void *block) {
  auto *b = static_cast<VtPlasticParams *>(block);
  if (b->prepared == 0) {
    (void)(Phong ? PhongPrepare(b) : VoPlasticReflectancePrepare(b));
    b->prepared = 1;
  }
  float tint[3];
  Copy3(tint, b->tint);
  if (b->specularShader != nullptr) {
    float specular[3];
    Copy3(specular, b->specularColour);
    int32_t flag = 1;
    ShadeableColour(specular, b->specularShader, &flag, false);
    for (int c = 0; c < 3; ++c) tint[c] = b->specularFactor * specular[c];
    ShadedKeep(b->specularColour, specular, b->specularShader);
    ShadedKeep(b->tint, tint, b->specularShader);
  }
  VtShaderGlobals *g = VoShaderGetGlobals();
  float a[3], d[3], s[3];
  VoAmbientTerm(a);
  VoDiffuseTerm(d);
  if constexpr (Phong) {
    g->phong_power = b->integerPower;
    VoPhongTerm(s, b->power);
  } else {
    g->specular_power = b->integerPower;
    VoSpecularTerm(s, b->power);
  }
  for (int c = 0; c < 3; ++c)
    g->Co[c] = (d[c] * b->diffuseFactor + a[c] * b->ambientFactor) * g->Co[c] + s[c] * tint[c];
  return 0;
}

VtStatus MetalPrepare(void *block) {
  auto *b = static_cast<Metal *>(block);
  const float roughness = b->args.word[2].f;
  b->power = std::fabs(roughness) >= 0.001f ? 1.0f / roughness : 1000.0f;
  b->integerPower = WholePower(b->power);
  return 0;
}

VtStatus MetalEvaluate(void *block) {
  const auto *b = static_cast<const Metal *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  float a[3], s[3];
  VoAmbientTerm(a);
  g->specular_power = b->integerPower;
  VoSpecularTerm(s, b->power);
  for (int c = 0; c < 3; ++c) g->Co[c] = (s[c] * b->args.word[1].f + a[c] * b->args.word[0].f) * g->Co[c];
  return 0;
}

VtStatus MatteEvaluate(void *block) {
  const auto *b = static_cast<const VtShaderWordArgs *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  float a[3], d[3];
  VoAmbientTerm(a);
  VoDiffuseTerm(d);
  for (int c = 0; c < 3; ++c) g->Co[c] = (d[c] * b->word[1].f + a[c] * b->word[0].f) * g->Co[c];
  return 0;
}

VtStatus TransparencyPrepare(void *block) {
  auto *b = static_cast<PlainTransparency *>(block);
  if (b->colour.shader != nullptr) (void)VoShaderReset(b->colour.shader);
  for (int i = 0; i < 3; ++i) b->complement[i] = 1.0f - b->colour.colour[i];
  return 0;
}

VtStatus TransparencyEvaluate(void *block) {
  auto *b = static_cast<PlainTransparency *>(block);
  if (b->colour.prepared == 0) {
    (void)TransparencyPrepare(b);
    b->colour.prepared = 1;
  }
  float *to = VoShaderGetGlobals()->To;
  if (b->colour.shader == nullptr) {
    for (int i = 0; i < 3; ++i) to[i] = b->complement[i];
    return 0;
  }
  // The colour of this point, into a local (the instance is read-only).
  float colour[3];
  Copy3(colour, b->colour.colour);
  int32_t flag = 1;
  ShadeableColour(colour, b->colour.shader, &flag, false);
  for (int i = 0; i < 3; ++i) to[i] = 1.0f - colour[i];
  ShadedKeep(b->colour.colour, colour, b->colour.shader);
  ShadedKeep(b->complement, to, b->colour.shader);
  return 0;
}

// Classes that do nothing: none transparency and displacement (null
// prepare too), constant reflectance and none foreground (no prepare).
constexpr Entries EmptyEntries(bool prepare) {
  Entries e;
  e.evaluate = e.evaluateImage = &exported::VoProcedureNull;
  if (prepare) e.prepare = &exported::VoProcedureNull;
  e.get = e.set = &ArgumentNone;
  e.create = &InstanceCreate<kEmptyDefault>;
  e.destroy = &exported::VoShaderInstanceFree;
  return e;
}

constexpr const char *kPlasticLabels[] = {"ambient factor", "diffuse factor", "specular factor", "roughness",
                                          "specular colour"};
constexpr const char *kPlasticMeanings[] = {
    "weight of the ambient light on the surface colour", "weight of the diffuse light on the surface colour",
    "weight of the highlight", "size of the highlight: its power is 1 / roughness (1000 below 0.001)",
    "colour of the highlight (not tinted by the surface); may be a colour shader"};
constexpr const char *kPhongLabels[] = {"ambient factor", "diffuse factor", "specular factor", "exponent",
                                        "specular colour"};
constexpr const char *kPhongMeanings[] = {
    "weight of the ambient light on the surface colour", "weight of the diffuse light on the surface colour",
    "weight of the Phong highlight", "Phong exponent of the highlight, larger for a sharper one; 1 at least",
    "colour of the highlight (not tinted by the surface); may be a colour shader"};
constexpr const char *kMetalLabels[] = {"ambient factor", "specular factor", "roughness"};
constexpr const char *kMetalMeanings[] = {
    "weight of the ambient light on the surface colour",
    "weight of the highlight, tinted by the surface colour",
    "size of the highlight: its power is 1 / roughness (1000 below 0.001)"};
constexpr const char *kMatteLabels[] = {"ambient factor", "diffuse factor"};
constexpr const char *kMatteMeanings[] = {"weight of the ambient light on the surface colour",
                                          "weight of the diffuse light on the surface colour"};
constexpr const char *kColourLabel[] = {"colour"};
constexpr const char *kColourMeaning[] = {
    "transparency per channel (To = 1 - colour), alpha staying 1: 1, 1, 1 is opaque; below it the surface's "
    "full colour is added over what lies behind, so 0, 0, 0 is brighter than opaque, not invisible (a "
    "coverage class, \"wrapped checker\", \"edge\" ..., gives a see-through surface); the ray tracer and "
    "the A-buffer layer it so, the z-buffer and the standard classes draw it opaque, OpenGL screen-doors it; "
    "may be a colour shader"};
constexpr const char *kSpecularGlobals[] = {"Co", "specular_power"};
constexpr const char *kPhongGlobals[] = {"Co", "phong_power"};
constexpr const char *kCo[] = {"Co"};
constexpr const char *kTo[] = {"To"};

const ClassDescription kSurfaces[] = {
    {"vxs_none_displacement", "none", VO_SHADER_DISPLACEMENT, {}, {}, {}, EmptyEntries(true)},
    {"vxs_none_foreground", "none", VO_SHADER_FOREGROUND, {}, {}, {}, EmptyEntries(false)},
    {"vxs_constant_reflectance", "constant", VO_SHADER_REFLECTANCE, {}, {}, {}, EmptyEntries(false)},
    {"vxs_matte_reflectance", "matte", VO_SHADER_REFLECTANCE, kMatteLabels, kMatteMeanings, kCo,
     DataEntries<kMatteDefault>(&MatteEvaluate, nullptr, &exported::VoShaderTwoFloatArgumentsGet,
                                &exported::VoShaderTwoArgumentsSet)},
    {"vxs_metal_reflectance", "metal", VO_SHADER_REFLECTANCE, kMetalLabels, kMetalMeanings, kSpecularGlobals,
     DataEntries<kMetalDefault>(&MetalEvaluate, &MetalPrepare, &exported::VoShaderThreeFloatArgumentsGet,
                                &exported::VoShaderThreeArgumentsSet)},
    {"vxs_phong_reflectance", "phong", VO_SHADER_REFLECTANCE, kPhongLabels, kPhongMeanings, kPhongGlobals,
     DataEntries<kPhongDefault>(&HighlightEvaluate<true>, &PhongPrepare, &TableGet<kPlasticFields>,
                                &TableSet<kPlasticFields>)},
    {"vxs_plastic_reflectance", "plastic", VO_SHADER_REFLECTANCE, kPlasticLabels, kPlasticMeanings,
     kSpecularGlobals,
     DataEntries<kPlasticDefault>(&HighlightEvaluate<false>, &exported::VoPlasticReflectancePrepare,
                                  &TableGet<kPlasticFields>, &TableSet<kPlasticFields>)},
    {"vxs_none_transparency", "none", VO_SHADER_TRANSPARENCY, {}, {}, {}, EmptyEntries(true)},
    {"vxs_plain_transparency", "plain", VO_SHADER_TRANSPARENCY, kColourLabel, kColourMeaning, kTo,
     DataEntries<kPlainTransparencyDefault>(&TransparencyEvaluate, &TransparencyPrepare,
                                            &exported::VoShaderColourArgumentGet,
                                            &exported::VoShaderColourArgumentSet)},
};

}  // namespace

std::span<const ClassDescription> SurfaceClasses() { return kSurfaces; }

bool ReflectanceOfPointAlone(VtShaderDataProc evaluate, const void *data) {
  if (evaluate == nullptr || data == nullptr) return false;
  if (evaluate == &HighlightEvaluate<true> || evaluate == &HighlightEvaluate<false>)
    return static_cast<const VtPlasticParams *>(data)->specularShader == nullptr;
  return evaluate == &MetalEvaluate || evaluate == &MatteEvaluate || evaluate == &exported::VoProcedureNull;
}

}  // namespace vo::shaderlib
