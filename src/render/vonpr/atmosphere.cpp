// "npr atmospheric": a fog whose thickness varies with the viewing
// elevation and with 2-D noise over the image, and two layers of snow
// flakes (the lite snow's, weighted by "snow amount") over the shaded
// colour.
//
// Invariants a reader must know:
// - the flake flags are drawn only by the first prepare after a set
//   argument, never while shading: an attached colour shader changes
//   neither the flakes nor the global random sequence;
// - the jitter table is the module's (in its record, with its count of
//   users), taken at initialise data and given back at release; the snow
//   record lives in the instance;
// - the view frame (f, u, h) is made at pre-render; an elevation that
//   cannot be measured (up along the view direction, or I square to the
//   (u, h) plane) counts as level (g = 1), and the fog's half distance is
//   at least 1e-6;
// - evaluation writes nothing into the instance.

#include <cmath>

#include <vo/vo_view.h>

#include "render/vonpr/classes.h"
#include "shading/shaderlib/face.h"

namespace vo::npr {

namespace {

using namespace shaderlib;

constexpr const char *kIdentifier = "vxs_npr_atmospheric_foreground";

struct Atmospheric {
  int32_t prepared;
  float fog_half, fog_min_half, fog_max, fog_vertical, fog_noise, fog_noise_scale;
  float fog_colour[3];
  float fog_amount;
  float snow_near, snow_far, flake_size, flake_density, snow_noise, snow_noise_scale;
  float flake_colour[3];
  float snow_amount;
  VtShader *fog_shader, *flake_shader;
  float k_near, k_far;
  int32_t holds;  // a reference on the module's jitter table
  int32_t drawn;  // the flags are drawn for the arguments as set
  lite::SnowLayers snow;
  float f[3], u[3], h[3];
};

constexpr Atmospheric kDefault{0,       1000,  100,  10000, 0.5f, 0.1f,  1,         {1, 1, 1}, 1,
                               0.1f,    0.02f, 0.4f, 0.4f,  0.2f, 0.03f, {1, 1, 1}, 1,         nullptr,
                               nullptr, 0,     0,    0,     0,    {},    {0, 0, 0}, {0, 0, 0}, {0, 0, 0}};

#define VO_AT(f) offsetof(Atmospheric, f)
constexpr Field kFields[] = {
    {VtFloat, VO_AT(fog_half)},
    {VtFloat, VO_AT(fog_min_half)},
    {VtFloat, VO_AT(fog_max)},
    {VtFloat, VO_AT(fog_vertical)},
    {VtFloat, VO_AT(fog_noise)},
    {VtFloat, VO_AT(fog_noise_scale)},
    {VtColourType, VO_AT(fog_colour), kFieldShadeable, VO_AT(fog_shader)},
    {VtFloat, VO_AT(fog_amount)},
    {VtFloat, VO_AT(snow_near)},
    {VtFloat, VO_AT(snow_far)},
    {VtFloat, VO_AT(flake_size)},
    {VtFloat, VO_AT(flake_density)},
    {VtFloat, VO_AT(snow_noise)},
    {VtFloat, VO_AT(snow_noise_scale)},
    {VtColourType, VO_AT(flake_colour), kFieldShadeable, VO_AT(flake_shader)},
    {VtFloat, VO_AT(snow_amount)},
};
#undef VO_AT

SharedTable *Jitter() {
  Context *c = ContextGet();
  return c != nullptr ? &c->snow_jitter : nullptr;
}

VtStatus Initialise(void *block) {
  auto *b = static_cast<Atmospheric *>(block);
  b->holds = 0;
  b->drawn = 0;
  TableTake(Jitter(), lite::kSnowTable, &lite::SnowTableFill, VO_MODULE_NPR, kIdentifier, &b->holds);
  return 0;
}

VtStatus Release(void *block) {
  if (block != nullptr) TableGive(Jitter(), &static_cast<Atmospheric *>(block)->holds);
  return 0;
}

VtStatus Set(void *block, uint32_t index, VtTypedValue *value) {
  if (block == nullptr || value == nullptr) return 0;
  static_cast<Atmospheric *>(block)->drawn = 0;
  return FieldSet(kFields, block, index, value);
}

VtStatus Prepare(void *block) {
  auto *b = static_cast<Atmospheric *>(block);
  for (VtShader *s : {b->fog_shader, b->flake_shader})
    if (s != nullptr) (void)VoShaderReset(s);
  b->k_near = lite::ScaleFrequency(b->snow_near);
  b->k_far = lite::ScaleFrequency(b->snow_far);
  lite::SnowLayersMake(&b->snow, b->flake_size, b->flake_density, b->snow_noise, b->snow_noise_scale,
                       b->drawn == 0);
  b->drawn = 1;
  return 0;
}

VtStatus Prerender(void *block) {
  auto *b = static_cast<Atmospheric *>(block);
  float eye[3], reference[3], up[3];
  int32_t projection = 0;
  double angle = 0;
  Set3(b->f, 0, 0, 0), Set3(b->u, 0, 0, 0), Set3(b->h, 0, 0, 0);
  if (VoViewGetPinhole(nullptr, eye, reference, up, &projection, &angle) != 0) return 0;
  Set3(b->f, reference[0] - eye[0], reference[1] - eye[1], reference[2] - eye[2]);
  Copy3(b->u, up);
  if (!Normalise(b->f, 1e-6f) || !Normalise(b->u, 1e-6f)) return 0;
  float side[3];
  Cross(b->u, b->f, side);
  Cross(side, b->u, b->h);
  if (!Normalise(b->h, 1e-6f)) Set3(b->h, 0, 0, 0);
  return 0;
}

// The elevation factor g from I against the frame.
float Elevation(const Atmospheric *b, const float *I) {
  if (b->fog_vertical <= 0.001f) return 1;
  if (Length(b->u) < 1e-6f || Length(b->h) < 1e-6f) return 1;
  const float iu = Dot(I, b->u), ih = Dot(I, b->h);
  float p[3] = {iu * b->u[0] + ih * b->h[0], iu * b->u[1] + ih * b->h[1], iu * b->u[2] + ih * b->h[2]};
  if (!Normalise(p, 1e-6f)) return 1;
  float c[3];
  Cross(p, b->h, c);
  float s = Length(c);
  if (Dot(p, b->u) < 0) s = -s;
  return std::fmax(s * b->fog_vertical + 1, 0.001f);
}

VtStatus Evaluate(void *block) {
  const auto *b = static_cast<const Atmospheric *>(block);
  float fog[3], flake[3];
  Copy3(fog, b->fog_colour);
  Copy3(flake, b->flake_colour);
  int32_t flag = b->prepared;
  ShadeableColour(fog, b->fog_shader, &flag, false);
  ShadeableColour(flake, b->flake_shader, &flag, false);
  VtShaderGlobals *g = VoShaderGetGlobals();
  if (b->fog_amount > 0) {
    const float ge = Elevation(b, g->unitI);
    float m = 1;
    if (b->fog_noise > 0.001f)
      m = std::fmax(static_cast<float>(
                        VoNoise2(double{g->xi} * b->fog_noise_scale, double{g->yi} * b->fog_noise_scale) *
                            b->fog_noise +
                        1),
                    0.001f);
    const float hd = std::fmax(std::fmax(m * b->fog_half * ge, b->fog_min_half), 1e-6f);
    const float d = std::fmin(g->modI, b->fog_max);
    float t = std::exp(-d / hd);
    t = 1 - (1 - t) * b->fog_amount;
    for (int i = 0; i < 3; ++i) g->Co[i] = t <= 0.001f ? fog[i] : fog[i] + (g->Co[i] - fog[i]) * t;
  }
  const SharedTable *jitter = Jitter();
  if (b->snow_amount > 0 && jitter != nullptr && jitter->values != nullptr && b->holds != 0) {
    lite::FlakeLayer(&b->snow, jitter->values, b->k_far, flake, b->snow_amount, g);
    lite::FlakeLayer(&b->snow, jitter->values, b->k_near, flake, b->snow_amount, g);
  }
  return 0;
}

constexpr Entries AtmosphericEntries() {
  Entries e = DataEntries<kDefault>(&Evaluate, &Prepare, &TableGet<kFields>, &Set);
  e.prerender = &Prerender;
  e.initialise = &Initialise;
  e.release = &Release;
  return e;
}

constexpr const char *kLabels[] = {"fog half distance",
                                   "fog min half distance",
                                   "fog max distance",
                                   "fog vertical variation",
                                   "fog noise",
                                   "fog noise scale",
                                   "fog colour",
                                   "fog amount",
                                   "snow near scale",
                                   "snow far scale",
                                   "snow flake size",
                                   "snow flake density",
                                   "snow noise amplitude",
                                   "snow noise scale",
                                   "snow flake colour",
                                   "snow amount"};
constexpr const char *kMeanings[] = {
    "distance over which the fog lets through 1/e of the colour, before elevation and noise change it",
    "least that distance may become",
    "distance beyond which points get no more fog",
    "how much the fog thins as the view looks up (and thickens looking down)",
    "how much 2-D noise over the picture varies the fog's thickness",
    "size of that noise across the picture",
    "colour of the fog; may be a colour shader",
    "strength of the fog, 0 (none) to 1",
    "size of the near flakes' cells as a fraction of the picture",
    "size of the far flakes' cells as a fraction of the picture",
    "diameter of a flake as a fraction of its cell",
    "fraction of the cells that hold a flake",
    "how much noise roughens a flake's outline",
    "size of that noise as a fraction of the picture",
    "colour of the flakes; may be a colour shader",
    "strength of the snow, 0 (none) to 1"};
constexpr const char *kGlobals[] = {"Co", "xi", "yi", "unitI", "modI"};

}  // namespace

const uint8_t *AtmosphericFlags(const void *block) {
  return static_cast<const Atmospheric *>(block)->snow.flags;
}

const ClassDescription kAtmospheric{kIdentifier, "npr atmospheric", VO_SHADER_FOREGROUND, kLabels,
                                    kMeanings,   kGlobals,          AtmosphericEntries()};

}  // namespace vo::npr
