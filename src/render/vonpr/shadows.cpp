// The NPR coverage shaders: the "shadow" reflectance (a wash of the shadow
// colour where chosen lights are blocked, over the surface or a paper
// background, its coverage in alpha), the "shadow" transparency (the
// coverage alone) and the "edge" transparency (alpha faded towards both
// edges of t).
//
// Invariants a reader must know:
// - the shadow classes read their light list at prepare into a ring of
//   records, each holding a reference on its light shader, given back when
//   the ring is freed (next prepare, release): a light the application
//   destroys after prepare stays alive until then;
// - a record that cannot be made is skipped (2633, once per prepare); when
//   the intensities add up to 0 there are no records;
// - evaluation writes nothing into the instance.

#include <algorithm>

#include "render/vonpr/classes.h"
#include "kernel/vosystem/face.h"

namespace vo::npr {

namespace {

using namespace shaderlib;

struct ShadowLight {
  VtShader *light;  // a reference held
  float weight;
  float direction[3];  // unit, from "to" towards "location"
  int32_t direction_valid;
  float location[3];
  int32_t location_valid;
  ShadowLight *next;
};

void RingFree(ShadowLight **ring) {
  for (ShadowLight *r = *ring; r != nullptr;) {
    ShadowLight *next = r->next;
    (void)VoShaderDestroy(r->light);
    VoDeallocate(r);
    r = next;
  }
  *ring = nullptr;
}

bool Vector(VtShader *light, const char *label, float out[3]) {
  VtTypedValue v{};
  if (!ArgumentRead(light, label, &v)) return false;
  Copy3(out, v.value.v);
  return true;
}

// The records of the lights of the list that cast shadows (and, with
// use_normal, do not point along the normal), weighted by their share of
// the total intensity.
ShadowLight *RingMake(VtReference *list, const float normal[3], bool use_normal, const char *identifier) {
  // The light list is the application's ring, which it may have destroyed
  // since it set the argument: one that is no ring is left out (message
  // 2890 naming the class), as a list of no lights.
  if (!RingAccepted(list, identifier)) return nullptr;
  ShadowLight *ring = nullptr;
  float total = 0;
  bool refused = false;
  ForEachNode(list, [&](VtReference *node) {
    auto *light = static_cast<VtShader *>(node->data);
    uint32_t type = 0;
    if (light == nullptr || VoShaderEnquire(light, &type, nullptr, nullptr, nullptr) != 0 ||
        type != VO_SHADER_LIGHT)
      return;
    VtTypedValue v{};
    if (!ArgumentRead(light, "shadows", &v) || v.value.i == 0) return;
    ShadowLight r{light, 0, {0, 0, 0}, 0, {0, 0, 0}, 0, nullptr};
    float to[3];
    const bool has_to = Vector(light, "to", to);
    r.location_valid = Vector(light, "location", r.location);
    if (has_to && r.location_valid) {
      float d[3] = {to[0] - r.location[0], to[1] - r.location[1], to[2] - r.location[2]};
      if (Normalise(d, 1e-6f)) {
        if (use_normal && Dot(d, normal) > 0) return;
        Set3(r.direction, -d[0], -d[1], -d[2]);
        r.direction_valid = 1;
      }
    }
    if (!ArgumentRead(light, "intensity", &v)) return;
    r.weight = v.value.f;
    auto *made = static_cast<ShadowLight *>(VoAllocate(sizeof(ShadowLight)));
    if (made == nullptr) {
      if (!refused) Post(VO_STATUS_NO_MEMORY, messages::kNprLightRecordSkipped, VO_MODULE_NPR, identifier);
      refused = true;
      return;
    }
    ++light->references;
    (void)VoShaderReset(light);  // its direction and colour made from its arguments
    r.next = ring;
    *made = r;
    ring = made;
    total += r.weight;
  });
  if (!(total != 0)) {
    RingFree(&ring);
    return nullptr;
  }
  for (ShadowLight *r = ring; r != nullptr; r = r->next) r->weight /= total;
  return ring;
}

// The visibility of the record's light at the point, or -1 when unlit.
float Visibility(const ShadowLight *r, VtShaderGlobals *g) {
  (void)VoShadingInitLightsShadingPoint(r->light, g->Pw, g->N, g->Ng);
  int32_t lit = 0;
  float v = 0, colour[3];
  (void)VoLightGetIntensity(r->light, &lit, &v, colour);
  return lit != 0 ? v : -1;
}

// ---- shadow reflectance ------------------------------------------------------

struct ShadowReflectance {
  int32_t prepared;
  float shadow_colour[3];
  float blend, clamp;
  VtNPRBackground *background;
  VtReference *light_list;
  float normal[3];
  int32_t use_normal;
  VtShader *shadow_shader;
  ShadowLight *ring;
};

constexpr ShadowReflectance kShadowReflectanceDefault{0,       {0, 0, 0}, 0.1f, 0,       nullptr,
                                                      nullptr, {0, 0, 1}, 0,    nullptr, nullptr};

constexpr Field kShadowReflectanceFields[] = {
    {VtColourType, offsetof(ShadowReflectance, shadow_colour), kFieldShadeable,
     offsetof(ShadowReflectance, shadow_shader)},
    {VtFloat, offsetof(ShadowReflectance, blend)},
    {VtFloat, offsetof(ShadowReflectance, clamp)},
    {VtGenericPtr, offsetof(ShadowReflectance, background)},
    {VtGenericPtr, offsetof(ShadowReflectance, light_list)},
    {VtVector, offsetof(ShadowReflectance, normal)},
    {VtBoolean, offsetof(ShadowReflectance, use_normal)},
};

constexpr const char *kShadowReflectanceIdentifier = "vxs_shadow_reflectance";

VtStatus ShadowReflectancePrepare(void *block) {
  auto *b = static_cast<ShadowReflectance *>(block);
  if (b->shadow_shader != nullptr) (void)VoShaderReset(b->shadow_shader);
  RingFree(&b->ring);
  b->ring = RingMake(b->light_list, b->normal, b->use_normal != 0, kShadowReflectanceIdentifier);
  return 0;
}

VtStatus ShadowReflectanceEvaluate(void *block) {
  const auto *b = static_cast<const ShadowReflectance *>(block);
  float shadow[3];
  Copy3(shadow, b->shadow_colour);
  int32_t flag = b->prepared;
  ShadeableColour(shadow, b->shadow_shader, &flag, false);
  VtShaderGlobals *g = VoShaderGetGlobals();
  float lit = b->ring != nullptr ? 0.0f : 1.0f;
  if (g->Pw != nullptr && g->N != nullptr)
    for (const ShadowLight *r = b->ring; r != nullptr; r = r->next) {
      float v = Visibility(r, g);
      if (v < 0) continue;
      if (r->direction_valid != 0) {
        v *= static_cast<float>(VoSmoothStep(0, b->blend, Dot(g->N, r->direction)));
      } else if (r->location_valid != 0) {
        float l[3] = {r->location[0] - g->Pw[0], r->location[1] - g->Pw[1], r->location[2] - g->Pw[2]};
        if (Normalise(l, 1e-12f)) v *= static_cast<float>(VoSmoothStep(0, b->blend, Dot(g->N, l)));
      }
      if (v < b->clamp) v = 0;
      lit += v * r->weight;
    }
  lit = std::min(lit, 1.0f);
  float under[3];
  Copy3(under, g->Co);
  if (b->background != nullptr) {
    VtColour c{g->Co[0], g->Co[1], g->Co[2]};
    (void)VoNPRBackgroundSample(b->background, PixelOf(g->xp), PixelOf(g->yp), &c);
    Set3(under, c.red, c.green, c.blue);
  }
  for (int i = 0; i < 3; ++i) g->Co[i] = (1 - lit) * shadow[i] + lit * under[i];
  g->alpha = 1 - lit;
  return 0;
}

VtStatus ShadowReflectanceInitialise(void *block) {
  auto *b = static_cast<ShadowReflectance *>(block);
  b->ring = nullptr;
  b->background = nullptr;
  b->light_list = nullptr;
  return 0;
}
VtStatus ShadowReflectanceRelease(void *block) {
  if (block != nullptr) RingFree(&static_cast<ShadowReflectance *>(block)->ring);
  return 0;
}

// ---- shadow transparency -----------------------------------------------------

struct ShadowTransparency {
  int32_t prepared;
  VtReference *light_list;
  float normal[3];
  int32_t use_normal;
  ShadowLight *ring;
};

constexpr ShadowTransparency kShadowTransparencyDefault{0, nullptr, {0, 0, 1}, 0, nullptr};

constexpr Field kShadowTransparencyFields[] = {
    {VtGenericPtr, offsetof(ShadowTransparency, light_list)},
    {VtVector, offsetof(ShadowTransparency, normal)},
    {VtBoolean, offsetof(ShadowTransparency, use_normal)},
};

VtStatus ShadowTransparencyPrepare(void *block) {
  auto *b = static_cast<ShadowTransparency *>(block);
  RingFree(&b->ring);
  b->ring = RingMake(b->light_list, b->normal, b->use_normal != 0, "vxs_shadow_transparency");
  return 0;
}

VtStatus ShadowTransparencyEvaluate(void *block) {
  const auto *b = static_cast<const ShadowTransparency *>(block);
  VtShaderGlobals *g = VoShaderGetGlobals();
  float lit = 0;
  if (g->Pw != nullptr && g->N != nullptr)
    for (const ShadowLight *r = b->ring; r != nullptr; r = r->next) {
      const float v = Visibility(r, g);
      if (v >= 0) lit += v * r->weight;
    }
  g->alpha = b->ring != nullptr && lit < 1 ? 1 - lit : 0;
  return 0;
}

VtStatus ShadowTransparencyInitialise(void *block) {
  auto *b = static_cast<ShadowTransparency *>(block);
  b->ring = nullptr;
  b->light_list = nullptr;
  return 0;
}
VtStatus ShadowTransparencyRelease(void *block) {
  if (block != nullptr) RingFree(&static_cast<ShadowTransparency *>(block)->ring);
  return 0;
}

// ---- edge transparency -------------------------------------------------------

constexpr VtShaderWordArgs kEdgeDefault{0, 0, {{0.2f}, {0.0f}, {1.0f}}};

VtStatus EdgeEvaluate(void *block) {
  const auto *b = static_cast<const VtShaderWordArgs *>(block);
  const float step = b->word[0].f, edge = b->word[1].f, centre = b->word[2].f;
  VtShaderGlobals *g = VoShaderGetGlobals();
  const float e = g->t < 0.5f ? g->t : 1 - g->t;
  if (e < step) {
    const auto a = static_cast<float>(VoSmoothStep(0, step, e));
    g->alpha = (1 - a) * edge + a * centre;
  } else {
    g->alpha = centre;
  }
  return 0;
}

template <class T, const auto &Default, VtShaderDataProc Initialise, VtShaderDataProc Release,
          const auto &Fields>
constexpr Entries RingEntries(VtShaderDataProc evaluate, VtShaderDataProc prepare) {
  Entries e = DataEntries<Default>(evaluate, prepare, &TableGet<Fields>, &TableSet<Fields>);
  e.initialise = Initialise;
  e.release = Release;
  return e;
}

constexpr Entries EdgeEntries() {
  Entries e = DataEntries<kEdgeDefault>(&EdgeEvaluate, nullptr, &exported::VoShaderThreeFloatArgumentsGet,
                                        &exported::VoShaderThreeArgumentsSet);
  return e;
}

constexpr const char *kShadowReflectanceLabels[] = {
    "shadow colour", "shadow blend", "shadow clamp", "background", "light list", "normal", "use normal"};
constexpr const char *kShadowReflectanceMeanings[] = {
    "colour laid where the chosen lights are blocked; may be a colour shader",
    "width of the fade of a light's contribution as the surface turns from it",
    "visibility below which a light counts as fully blocked",
    "NPR background shown where the surface is lit; none keeps the surface colour",
    "ring of references to the lights whose shadows are painted (only lights with shadows on)",
    "direction that, with use normal, leaves out lights shining along it",
    "leave out the lights whose direction points along the normal"};
constexpr const char *kShadowTransparencyLabels[] = {"light list", "normal", "use normal"};
constexpr const char *kShadowTransparencyMeanings[] = {
    "ring of references to the lights whose shadows give the coverage (only lights with shadows on)",
    "direction that, with use normal, leaves out lights shining along it",
    "leave out the lights whose direction points along the normal"};
constexpr const char *kEdgeLabels[] = {"step size", "edge level", "centre level"};
constexpr const char *kEdgeMeanings[] = {
    "distance in t from each edge over which alpha fades to the centre level",
    "alpha at the two edges of t (0 and 1)", "alpha away from the edges"};
constexpr const char *kShadowReflectanceGlobals[] = {"Co", "Pw", "Ng", "N", "xp", "yp", "alpha"};
constexpr const char *kShadowTransparencyGlobals[] = {"Pw", "Ng", "N", "alpha"};
constexpr const char *kEdgeGlobals[] = {"t", "alpha"};

}  // namespace

const ClassDescription kShadowReflectance{
    kShadowReflectanceIdentifier,
    "shadow",
    VO_SHADER_REFLECTANCE,
    kShadowReflectanceLabels,
    kShadowReflectanceMeanings,
    kShadowReflectanceGlobals,
    RingEntries<ShadowReflectance, kShadowReflectanceDefault, &ShadowReflectanceInitialise,
                &ShadowReflectanceRelease, kShadowReflectanceFields>(&ShadowReflectanceEvaluate,
                                                                     &ShadowReflectancePrepare)};
const ClassDescription kShadowTransparency{
    "vxs_shadow_transparency",
    "shadow",
    VO_SHADER_TRANSPARENCY,
    kShadowTransparencyLabels,
    kShadowTransparencyMeanings,
    kShadowTransparencyGlobals,
    RingEntries<ShadowTransparency, kShadowTransparencyDefault, &ShadowTransparencyInitialise,
                &ShadowTransparencyRelease, kShadowTransparencyFields>(&ShadowTransparencyEvaluate,
                                                                       &ShadowTransparencyPrepare)};
const ClassDescription kEdgeTransparency{
    "vxs_edge_transparency", "edge",       VO_SHADER_TRANSPARENCY, kEdgeLabels,
    kEdgeMeanings,           kEdgeGlobals, EdgeEntries()};

}  // namespace vo::npr
