// The translucency reflectances: light reaching the back of a thin surface
// shows on its front. The back-lit term is the kernel's diffuse term with N
// and Ng turned round; they are turned back (negation is exact, so they
// leave bit for bit as they came), and the lights evaluated for the turned
// normal are let go so that later terms see the front again.

#include <cstddef>

#include "shading/voshpro/surfaces.h"

namespace vo::pro {

namespace {

void TurnRound(VtShaderGlobals *g) {
  for (int i = 0; i < 3; ++i) {
    g->N[i] = -g->N[i];
    g->Ng[i] = -g->Ng[i];
  }
}

// The diffuse term of the lights reaching the back: the lights evaluated
// for the front are let go first.
void BackDiffuse(VtShaderGlobals *g, float *B) {
  TurnRound(g);
  (void)VoShadingTerminateLights();
  (void)VoShadingInitialiseLights();
  VoDiffuseTerm(B);
  TurnRound(g);
}

constexpr VtShaderWordArgs kTranslucencyDefault{0, 0, {{1.0f}, {1.0f}, {0.0f}}};

VtStatus TranslucencyEvaluate(void *block) {
  const auto *b = static_cast<const VtShaderWordArgs *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  float A[3], B[3];
  VoAmbientTerm(A);
  BackDiffuse(g, B);
  (void)VoShadingTerminateLights();
  const float ka = b->word[0].f, kt = b->word[1].f;
  float co[3];
  for (int i = 0; i < 3; ++i) co[i] = (B[i] * kt + A[i] * ka) * g->Co[i];
  StoreFinite(g->Co, co);
  return 0;
}

struct TranslucentPlastic {
  VtPlasticParams plastic;
  float translucencyFactor;
};

constexpr TranslucentPlastic kTranslucentPlasticDefault{
    {0, 1.0f, 0.75f, 0.5f, 0.1f, {1, 1, 1}, nullptr, 0, 0, {0, 0, 0}}, 1.0f};

constexpr Field kTranslucentPlasticFields[] = {
    {VtFloat, offsetof(TranslucentPlastic, plastic.ambientFactor)},
    {VtFloat, offsetof(TranslucentPlastic, plastic.diffuseFactor)},
    {VtFloat, offsetof(TranslucentPlastic, plastic.specularFactor)},
    {VtFloat, offsetof(TranslucentPlastic, plastic.roughness)},
    {VtColourType, offsetof(TranslucentPlastic, plastic.specularColour), kFieldShadeable,
     offsetof(TranslucentPlastic, plastic.specularShader)},
    {VtFloat, offsetof(TranslucentPlastic, translucencyFactor)},
};

VtStatus TranslucentPlasticEvaluate(void *block) {
  const auto *b = static_cast<const TranslucentPlastic *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  const VtPlasticParams k = PlasticLocal(b->plastic);
  float A[3], F[3], S[3], B[3];
  VoAmbientTerm(A);
  (void)VoShadingInitialiseLights();
  VoDiffuseTerm(F);
  g->specular_power = k.integerPower;
  VoSpecularTerm(S, k.power);
  BackDiffuse(g, B);
  const float kt = b->translucencyFactor;
  float co[3];
  for (int i = 0; i < 3; ++i)
    co[i] = (A[i] * k.ambientFactor + B[i] * kt + F[i] * k.diffuseFactor) * g->Co[i] + S[i] * k.tint[i];
  StoreFinite(g->Co, co);
  (void)VoShadingTerminateLights();
  return 0;
}

constexpr const char *kTranslucencyLabels[] = {"ambient factor", "translucency factor"};
constexpr const char *kTranslucencyMeanings[] = {"weight of the ambient light on the surface colour",
                                                 "weight of the light arriving at the back of the surface"};
constexpr const char *kTranslucentPlasticLabels[] = {"ambient factor",  "diffuse factor",
                                                     "specular factor", "roughness",
                                                     "specular colour", "translucency factor"};
constexpr const char *kTranslucentPlasticMeanings[] = {
    "weight of the ambient light on the surface colour",
    "weight of the diffuse light on the front of the surface",
    "weight of the highlight",
    "size of the highlight: its power is 1 / roughness (1000 below 0.001)",
    "colour of the highlight; may be a colour shader",
    "weight of the light arriving at the back of the surface"};
constexpr const char *kTranslucencyGlobals[] = {"Co", "Ng", "N"};
constexpr const char *kTranslucentPlasticGlobals[] = {"Co", "Ng", "N", "specular_power"};

}  // namespace

const ClassDescription kTranslucency{
    "vxs_translucency_reflectance",
    "translucency",
    VO_SHADER_REFLECTANCE,
    kTranslucencyLabels,
    kTranslucencyMeanings,
    kTranslucencyGlobals,
    DataEntries<kTranslucencyDefault>(&TranslucencyEvaluate, nullptr, &exported::VoShaderTwoFloatArgumentsGet,
                                      &exported::VoShaderTwoArgumentsSet)};

const ClassDescription kTranslucentPlastic{
    "vxs_translucent_plastic_reflect",
    "translucent plastic",
    VO_SHADER_REFLECTANCE,
    kTranslucentPlasticLabels,
    kTranslucentPlasticMeanings,
    kTranslucentPlasticGlobals,
    DataEntries<kTranslucentPlasticDefault>(
        &TranslucentPlasticEvaluate, &exported::VoPlasticReflectancePrepare,
        &TableGet<kTranslucentPlasticFields>, &TableSet<kTranslucentPlasticFields>)};

}  // namespace vo::pro
