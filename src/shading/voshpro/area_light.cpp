// The area light: a scene primitive turned into an emitter. The kernel
// reaches it through the sampler table in its light record (build at image
// start, a selection of samples per shaded point, release at image end;
// area_sampling.cpp); this file holds the class: its arguments, the
// preparation (the shadow-map grid, the emitter's centre as the light's
// position, the emission colour before it is shared over the area) and the
// shadow procedure of shadow maps.
//
// The shadow procedure sizes its filter to the penumbra at each point: the
// softness and grid it works out go into the calling context's record for
// the one look-up and are put back, so no point depends on another.

#include <cmath>
#include <numbers>

#include "scene/vogeom/face.h"
#include "shading/vophoto/face.h"
#include "shading/voshpro/area_light.h"
#include "kernel/vosystem/face.h"

namespace vo::pro {

namespace {

constexpr float kShadowBias = 0.005f;
constexpr int32_t kLargestGrid = 36;
constexpr VtStatus kNoColour = VO_CLASS_ERROR | 2u;

#define VO_RECORD(field) VO_LIGHT_RECORD_OFFSET(field)
#define VO_WORD(field) VO_LIGHT_WORD_OFFSET(AreaWords, field)

enum Argument : uint32_t {
  kPrimitive,
  kUnshot,
  kShadows,
  kPowerUnits,
  kPower,
  kColour,
  kTemperature,
  kNoise,
  kMinLod,
  kMidLod,
  kMaxLod,
  kErrorBound,
  kShadowResolution,
  kShadowQuality
};

constexpr Field kAreaFields[] = {
    {VtGenericPtr, VO_RECORD(areaGeometry)},
    {VtColourType, VO_WORD(unshot)},
    {VtBoolean, VO_RECORD(castsShadows)},
    {VtString, 0},
    {VtFloat, VO_WORD(power)},
    {VtColourType, VO_WORD(common.colour)},
    {VtFloat, VO_WORD(colourTemperature), kFieldTemperature},
    {VtFloat, 0},
    {VtFloat, 0},
    {VtFloat, 0},
    {VtFloat, 0},
    {VtFloat, 0},
    {VtInt32, VO_RECORD(shadowResolution), kFieldInvalidates | kFieldNotNegative},
    {VtInt32, VO_WORD(common.shadowQuality)}};

#undef VO_RECORD
#undef VO_WORD

constexpr const char *kAreaLabels[] = {
    "primitive",          "unshot",        "shadows", "power units", "power",   "colour",
    "colour temperature", "noise factor",  "min lod", "mid lod",     "max lod", "error bound",
    "shadow resolution",  "shadow quality"};
constexpr const char *kAreaMeanings[] = {
    "scene primitive whose polygons emit the light; the light lights only with the second light pass on "
    "(control 0x5000b, VO_CONTROL_SHADER_SECOND_LIGHT_PASS): without it a render leaves it out and warns "
    "(2945) once",
    "emitted colour, used directly when the power units are \"undefined\"",
    "whether the samples are tested for visibility",
    "\"lumens\" or \"watts\" (once set, \"undefined\" cannot be set back)",
    "light output in the power units",
    "filter colour of the colour temperature",
    "colour temperature in kelvin; only values above 1000 are stored",
    "jitter of the point each element's visibility is tested at, 0 to 1",
    "level of detail at which elements are first split: higher values split finer",
    "level of detail of further splits (the larger of it and min lod is used)",
    "finest level of detail that splitting may reach",
    "error allowed in a sample's light when choosing whether to split it",
    "side of each shadow depth map in texels; 0 traces the samples' shadows with the ray tracer",
    "samples per shadow test"};
static_assert(std::size(kAreaFields) == std::size(kAreaLabels));

// The emitter's own argument words (the lods, error bound, noise factor).
float *EmitterWord(AreaEmitters *e, uint32_t index) {
  switch (index) {
    case kNoise: return &e->noiseFactor;
    case kMinLod: return &e->minLod;
    case kMidLod: return &e->midLod;
    case kMaxLod: return &e->maxLod;
    case kErrorBound: return &e->errorBound;
    default: return nullptr;
  }
}

// The mean of the vertex positions of each polygon, averaged over the
// polygons; false for a primitive without polygons.
bool PolygonsCentre(VtPrimitive *p, float centre[3]) {
  VtPolygon *const *first = PropertyField<VtPolygon *>(p, nullptr, VO_PRIM_POLYS);
  const int32_t next = PropertyOffset(p->contents, VO_POLY_NEXT);
  const int32_t world = PropertyOffset(p->contents, VO_VERT_WORLD);
  if (first == nullptr || *first == nullptr || world < 0) return false;
  double sum[3] = {0, 0, 0};
  uint32_t polygons = 0;
  for (void *poly = *first; poly != nullptr;) {
    VtReference *const *ring = PropertyField<VtReference *>(p, poly, VO_POLY_VREFS);
    if (ring != nullptr && *ring != nullptr) {
      double mean[3] = {0, 0, 0};
      uint32_t n = 0;
      const VtReference *node = (*ring)->next;
      do {
        const float *xyz = ElementField<float>(node->data, world);
        for (int i = 0; i < 3; ++i) mean[i] += xyz[i];
        ++n;
        node = node->next;
      } while (node != (*ring)->next && n < (1u << 24));
      for (int i = 0; i < 3; ++i) sum[i] += mean[i] / n;
      ++polygons;
    }
    if (next < 0) break;  // one polygon, no ring
    void *after = *ElementField<void *>(poly, next);
    poly = after == *first || after == poly ? nullptr : after;
  }
  if (polygons == 0) return false;
  for (int i = 0; i < 3; ++i) centre[i] = static_cast<float>(sum[i] / polygons);
  return true;
}

// The light's position: the emitter's centre, in the world.
VtStatus CentreSet(VtLightData *d) {
  VtPrimitive *p = d->areaGeometry;
  if (!PrimitiveLive(p)) return VO_STATUS_BAD_ARGUMENT;
  float centre[3];
  if (!PolygonsCentre(p, centre)) {
    VtBounds b{};
    if (VoPrimitiveGetBounds(p, &b) != 0) return VO_STATUS_BAD_ARGUMENT;
    Set3(centre, (b.xmin + b.xmax) / 2, (b.ymin + b.ymax) / 2, (b.zmin + b.zmax) / 2);
  }
  if (VtTransform *t = VoPrimitiveGetTransform(p); t != nullptr) {
    float moved[3];
    if (VoTransformPoint(moved, centre, t) == 0) Copy3(centre, moved);
  }
  if (!(std::isfinite(centre[0]) && std::isfinite(centre[1]) && std::isfinite(centre[2])))
    return VO_STATUS_BAD_ARGUMENT;
  Copy3(d->position, centre);
  return 0;
}

// The emission before it is shared over the emitter's area.
VtStatus BaseColour(AreaWords *w) {
  if (w->powerUnits != 2 && w->powerUnits != 3) {
    w->base = w->unshot;
    return 0;
  }
  const float filter[3] = {w->common.colour.red, w->common.colour.green, w->common.colour.blue};
  float c[3] = {0, 0, 0};
  w->base = VtColour{0, 0, 0};
  if (VoPhotometryColourFromTemperature(w->colourTemperature, filter, c) == 0) return kNoColour;
  if (w->powerUnits == 3) {
    const double sum = static_cast<double>(c[0]) + c[1] + c[2];
    if (!(sum >= 1e-6) || !std::isfinite(w->power)) return 0;
    const double k = w->power / sum;
    w->base =
        VtColour{static_cast<float>(c[0] * k), static_cast<float>(c[1] * k), static_cast<float>(c[2] * k)};
    return 0;
  }
  float out[3] = {0, 0, 0};
  (void)VoPhotometryColourFromLuminance(std::isfinite(w->power) ? w->power : 0.0, c, out);
  w->base = VtColour{out[0], out[1], out[2]};
  return 0;
}

VtStatus AreaPrepare(void *block) {
  if (block == nullptr) return 0;
  auto *d = static_cast<VtLightData *>(block);
  AreaWords *w = Area(d);
  const SamplingCounts c = SamplingGrid(d, w->common.shadowSoftness, w->common.shadowQuality, kLargestGrid);
  w->softness = c.softness;
  w->fewest = c.fewest;
  w->most = c.most;
  VtStatus status = CentreSet(d);
  status |= BaseColour(w);
  if (!(std::isfinite(w->base.red) && std::isfinite(w->base.green) && std::isfinite(w->base.blue)))
    w->base = VtColour{0, 0, 0};
  d->colour = w->base;
  if (status != 0) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kProAreaNoPrimitive, VO_MODULE_PRO, static_cast<const void *>(d));
    return VO_STATUS_BAD_ARGUMENT;
  }
  return 0;
}

VtStatus AreaGet(void *block, uint32_t index, VtTypedValue *value) {
  if (block == nullptr || value == nullptr) return 0;
  auto *d = static_cast<VtLightData *>(block);
  if (value->type == VtShaderColour || index >= std::size(kAreaFields))
    return LightGet<kAreaFields>(block, index, value);
  const AreaWords *w = Area(d);
  AreaEmitters *e = Emitters(d);
  if (index == kPowerUnits) {
    value->type = VtString;
    value->value.s = w->powerUnits == 3 ? "watts" : w->powerUnits == 2 ? "lumens" : "undefined";
    return 0;
  }
  if (float *f = e != nullptr ? EmitterWord(e, index) : nullptr; f != nullptr) {
    value->type = VtFloat;
    value->value.f = index == kMidLod && e->midSet == 0 ? e->minLod : *f;
    return 0;
  }
  return LightGet<kAreaFields>(block, index, value);
}

VtStatus AreaSet(void *block, uint32_t index, VtTypedValue *value) {
  if (block == nullptr || value == nullptr) return 0;
  auto *d = static_cast<VtLightData *>(block);
  AreaWords *w = Area(d);
  AreaEmitters *e = Emitters(d);
  d->prepared = 0;
  if (index == kPowerUnits) {
    const char *s = value->value.s != nullptr ? value->value.s : "";
    if (std::strcmp(s, "lumens") == 0) w->powerUnits = 2;
    if (std::strcmp(s, "watts") == 0) w->powerUnits = 3;
    return 0;
  }
  if (float *f = e != nullptr ? EmitterWord(e, index) : nullptr; f != nullptr) {
    *f = value->value.f;
    if (index == kMidLod) e->midSet = 1;
    return 0;
  }
  if (index == kPrimitive && value->value.p != d->areaGeometry)
    d->shadowValid = 0;  // the maps stand elsewhere
  return FieldSet(kAreaFields, block, index, value);
}

VtStatus AreaDestroy(void *block) {
  if (block == nullptr) return 0;
  auto *d = static_cast<VtLightData *>(block);
  if (AreaEmitters *e = Emitters(d); e != nullptr) {
    if (e->owner == d && e->build != nullptr) AreaBuildFree(e->build);
    VoDeallocate(e);
  }
  VoDeallocate(d);
  return 0;
}

void *AreaCreate() {
  auto *d = static_cast<VtLightData *>(VoAllocate(sizeof(VtLightData)));
  if (d == nullptr) return nullptr;
  std::memset(static_cast<void *>(d), 0, sizeof *d);
  auto *e = static_cast<AreaEmitters *>(VoAllocate(sizeof(AreaEmitters)));
  if (e == nullptr) {
    VoDeallocate(d);
    return nullptr;
  }
  std::memset(static_cast<void *>(e), 0, sizeof *e);
  e->table = VtAreaLightSampler{&AreaBuildMake,   &AreaBuildRelease, &AreaSelect, &AreaSelectionFree,
                                &AreaRefineStart, &AreaFinish,       &AreaRefine, &AreaFetch};
  e->owner = d;
  e->maxLod = 1.0f;
  e->errorBound = 0.1f;
  AreaWords *w = Area(d);
  w->common.emitters = e;
  d->areaSampler = e->table;
  d->kind = VO_LIGHT_AREA;
  d->self = d;
  d->fallOffMode = 1;
  d->castsShadows = 1;
  d->shadowResolution = 256;
  d->shadowMapSide = 256;
  d->classShadow = &AreaShadow;
  FallOffDefaults(d, &w->common.inverseFallOff);
  w->common.intensity = 1;
  w->common.colour = VtColour{1, 1, 1};
  w->common.shadowQuality = 9;
  w->common.shadowSoftness = 1;
  w->common.shadowBias = kShadowBias;
  w->unshot = VtColour{1, 1, 1};
  w->powerUnits = 1;
  w->power = 1;
  w->base = w->unshot;
  if (VoMultiThreadIsActive() == 0) d->areaPrepared = d->areaStarted = 0;
  const SamplingCounts c = SamplingGrid(d, 1, 9, kLargestGrid);
  w->softness = c.softness;
  w->fewest = c.fewest;
  w->most = c.most;
  return d;
}

// The face's axis: +x, -x, +y, -y, +z, -z.
void FaceAxis(int face, float axis[3]) {
  Set3(axis, 0, 0, 0);
  axis[face / 2] = face % 2 == 0 ? 1.0f : -1.0f;
}

// The grid fields the shadow procedure sizes per point.
struct GridWords {
  float halfWidth, halfHeight;
  int32_t samplesX, samplesY;
  float stepX, stepY, jitterX, jitterY;
};
GridWords GridKeep(const VtLightData *d) {
  return {d->pcfHalfWidth, d->pcfHalfHeight, d->pcfSamplesX, d->pcfSamplesY,
          d->pcfStepX,     d->pcfStepY,      d->pcfJitterX,  d->pcfJitterY};
}
void GridPut(VtLightData *d, const GridWords &g) {
  d->pcfHalfWidth = g.halfWidth;
  d->pcfHalfHeight = g.halfHeight;
  d->pcfSamplesX = g.samplesX;
  d->pcfSamplesY = g.samplesY;
  d->pcfStepX = g.stepX;
  d->pcfStepY = g.stepY;
  d->pcfJitterX = g.jitterX;
  d->pcfJitterY = g.jitterY;
}

}  // namespace

// From the emitter's centre: an occluder found near the point's texel sets
// the penumbra's width, 256 (D_r - D_b) R / (2 c D_r D_b) texels held to
// [1, the map's side], and the percentage-closer test runs with that grid.
// The maps hold squared distances.
double AreaShadow(const float *point, void *, const float *normal, VtLightData *d) {
  if (d == nullptr || point == nullptr || d->shadowValid == 0) return 0;
  const AreaEmitters *e = Emitters(d);
  const AreaBuild *b = e != nullptr ? e->build : nullptr;
  const double R = b != nullptr ? b->radius : 0.0;
  float q[3], u, v;
  Biased(d, point, normal, Area(d)->common.shadowBias, q);
  const int face = CubeFaceProject(q, &u, &v);
  if (face < 0 || d->shadowMaps[face].data == nullptr) return 0;
  const double Dr = Length(q);
  float axis[3];
  FaceAxis(face, axis);
  const double c = Dr > 0 ? Dot(axis, q) / Dr : 0.0;
  if (!(Dr >= 1e-6) || !(c > 0) || !(R > 0)) return 0;
  double occluder = 0;
  if (VoShadowMapFindOccluder(u, v, 0.2, d, &d->shadowMaps[face], Dr * Dr, &occluder) == 0) return 0;
  const double Db = std::sqrt(std::fabs(occluder));
  if (Db < R && Db < Dr * R / (Dr + R)) return 0;
  if (!(Db > 0)) return 0;
  const double side = d->shadowMapSide > 0 ? d->shadowMapSide : 1;
  double softness = 256.0 * (Dr - Db) * R / (Dr * 2.0 * c * Db);
  if (!(softness >= 1.0)) softness = 1.0;
  if (softness > side) softness = side;
  const GridWords kept = GridKeep(d);
  (void)SamplingGrid(d, static_cast<float>(softness), Area(d)->common.shadowQuality, kLargestGrid);
  const double shadow = VoLightSampleShadow(u, v, Dr * Dr, d, &d->shadowMaps[face]);
  GridPut(d, kept);
  return shadow;
}

const ClassDescription kArea{
    "vxs_area_light",
    "area",
    VO_SHADER_LIGHT,
    kAreaLabels,
    kAreaMeanings,
    {},
    LightEntries(nullptr, &AreaPrepare, &AreaGet, &AreaSet, &AreaCreate, &AreaDestroy),
    true};

}  // namespace vo::pro
