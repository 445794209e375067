// The projector light: a slide projector throwing an image from "location"
// towards "to" inside a cone of "angle" degrees. The class only prepares
// its light record (kind 7); the kernel's light loop lights points from
// position, direction, the cone cosines, the scaled axes, the projector
// origin, the plane offset and the texture, and renders its one shadow map
// from position, toPoint, up and coneAngle (or, for a cone wider than one
// map holds well, the six cube faces a point light has about position).
//
// The texture stays across preparations until "file name" changes; an image
// that cannot be read leaves the light dark (the kernel samples black) and
// the next preparation tries again. The "angle" argument keeps the value it
// was given: the prepared cone caps the half angle at 89 degrees and
// coneAngle is twice that, so the shadow map and the look-ups agree.

#include <cmath>

#include "shading/voshader/face.h"
#include "shading/voshclas/voshclas.h"

namespace vo::classic {

namespace {

constexpr float kDegrees = 0.017453292519943295f;

ProjectorWords *Words(VtLightData *d) { return reinterpret_cast<ProjectorWords *>(d->classArea.bytes); }
const ProjectorWords *Words(const VtLightData *d) {
  return reinterpret_cast<const ProjectorWords *>(d->classArea.bytes);
}

constexpr uint32_t Record(std::size_t offset) { return static_cast<uint32_t>(offset); }
constexpr uint32_t Word(std::size_t offset) {
  return static_cast<uint32_t>(offsetof(VtLightData, classArea) + offset);
}
#define VO_RECORD(field) Record(offsetof(VtLightData, field))
#define VO_WORD(field) Word(offsetof(ProjectorWords, field))

constexpr Field kProjectorFields[] = {
    {VtFloat, VO_WORD(common.intensity)},
    {VtColourType, VO_WORD(common.colour)},
    {VtPoint, VO_RECORD(position), kFieldInvalidates},
    {VtPoint, VO_RECORD(toPoint), kFieldInvalidates},
    {VtEnum, VO_RECORD(fallOffMode)},
    {VtFunc, VO_RECORD(classFallOff)},
    {VtGenericPtr, VO_RECORD(fallOffData)},
    {VtFloat, VO_WORD(angle), kFieldInvalidates},
    {VtBoolean, VO_RECORD(castsShadows)},
    {VtInt32, VO_RECORD(shadowResolution), kFieldInvalidates | kFieldNotNegative},
    {VtInt32, VO_WORD(common.shadowQuality)},
    {VtFloat, VO_WORD(common.shadowSoftness)},
    {VtString, VO_WORD(fileName)},
    {VtVector, VO_WORD(upVector), kFieldInvalidates},
    {VtBoolean, VO_WORD(common.scattering)},
    {VtFunc, VO_WORD(common.inverseFallOff)}};

#undef VO_RECORD
#undef VO_WORD

constexpr const char *kProjectorLabels[] = {"intensity",      "colour",
                                            "location",       "to",
                                            "fall off",       "fall off function",
                                            "fall off data",  "angle",
                                            "shadows",        "shadow resolution",
                                            "shadow quality", "shadow softness",
                                            "file name",      "up vector",
                                            "scattering",     "inverse fall off function"};
constexpr const char *kProjectorMeanings[] = {
    "brightness; the light's colour is intensity x colour",
    "colour of the light, filtering the projected image",
    "where the projector stands",
    "point the projector is aimed at",
    ("how the light weakens with distance d: 2 as 1/(d + 1), 3 as 1/(d^2 + 1), 4 as 1/d, 5 as 1/d^2, any "
     "other value not at all"),
    "procedure giving the attenuation at a distance (default VoLightFallOff)",
    "data handed to the fall off function",
    "full angle of the projected pyramid in degrees",
    "whether the light casts shadows",
    "side of the shadow depth map in texels; 0 lets the ray tracer trace this light's shadows",
    "samples per shadow test",
    "width of the shadow's soft edge",
    "image file projected by the light",
    "the projected image's up direction",
    "whether the light takes part in light scattering",
    "procedure giving the distance for an attenuation (default VoLightInverseFallOff)"};
static_assert(std::size(kProjectorFields) == std::size(kProjectorLabels));

// A point outside the projected frame is in shadow: the point's own frame,
// as the light loop lights it, not its offset point's, which for a point at
// the frame's edge may fall just outside (the taps of such an offset point
// that leave the map count lit). A cone wider than one map holds well has a
// point light's six maps.
double ProjectorShadow(const float *point, void *, const float *normal, VtLightData *d) {
  if (d->shadowValid == 0) return 0;
  float u, v, depth;
  if (!ProjectorProject(d, point, nullptr, &u, &v, &depth)) return 1;
  if (!(u >= 0 && u <= 1 && v >= 0 && v <= 1)) return 1;  // outside the projected frame
  if (shader::ConeMapsCube(d)) {
    float q[3];
    Biased(d, point, normal, Words(d)->common.shadowBias, q);
    const int face = CubeFaceProject(q, &u, &v);
    if (face < 0 || d->shadowMaps[face].data == nullptr) return 0;
    return VoLightSampleShadow(u, v, Dot(q, q), d, &d->shadowMaps[face]);
  }
  if (d->shadowMaps[0].data == nullptr) return 0;
  if (!ProjectorProject(d, point, normal, &u, &v, &depth)) return 1;
  return VoLightSampleShadow(u, v, depth, d, &d->shadowMaps[0]);
}

// The up direction of the image: the up vector, or a fixed one whenever it
// is (nearly) parallel to the beam or zero.
void Up(const float *upVector, const float *D, float *up) {
  Copy3(up, upVector);
  (void)Normalise(up, 1e-12f);
  float c[3];
  Cross(up, D, c);
  if (Length(c) >= 1e-3f) return;
  if (std::fabs(D[0]) < 0.001f && std::fabs(D[1]) < 0.001f)
    Set3(up, 1, 0, 0);
  else
    Set3(up, 0, 0, 1);
}

void Cone(VtLightData *d, ProjectorWords *w) {
  float angle = w->angle >= 179 ? 179.0f : w->angle > 0 ? w->angle : 0.0f;
  const float half = std::fmin(angle / 2, 89.0f);
  float delta = std::fmin(w->coneDelta, angle);
  if (!(delta > 0)) delta = 0;
  d->cosOuter = std::cos(half * kDegrees);
  d->cosInner = std::cos((half - delta) * kDegrees);
  d->coneAngle = 2 * half;
  w->halfTangent = std::tan(half * kDegrees);
  const float k = half * kDegrees >= 0.001f ? 0.5f / w->halfTangent : 0.0f;
  float R[3], U[3];
  Cross(d->up, d->direction, R);
  (void)Normalise(R, 0);
  Cross(R, d->direction, U);
  (void)Normalise(U, 0);
  for (int i = 0; i < 3; ++i) {
    d->axisU[i] = k * R[i];
    d->axisV[i] = k * U[i];
  }
}

void Image(VtLightData *d, ProjectorWords *w) {
  const char *name = w->fileName != nullptr ? w->fileName : "";
  if (w->loadedName != nullptr && std::strcmp(w->loadedName, name) != 0) {
    VoDeallocate(w->loadedName);
    w->loadedName = nullptr;
    if (d->projectorTexture != nullptr) (void)VoTextureDestroy(d->projectorTexture);
    d->projectorTexture = nullptr;
  }
  if (d->projectorTexture != nullptr || name[0] == '\0') return;
  d->projectorTexture = VoTextureRead(name, 3);
  if (d->projectorTexture != nullptr) w->loadedName = StringCopy(name);
}

VtStatus ProjectorPrepare(void *block) {
  auto *d = static_cast<VtLightData *>(block);
  ProjectorWords *w = Words(d);
  const float k = w->common.intensity;
  d->colour = VtColour{k * w->common.colour.red, k * w->common.colour.green, k * w->common.colour.blue};
  d->colourAtPoint = d->colour;
  for (int i = 0; i < 3; ++i) d->direction[i] = d->position[i] - d->toPoint[i];
  if (!Normalise(d->direction)) Set3(d->direction, 0, 0, 1);
  Up(w->upVector, d->direction, d->up);
  Cone(d, w);
  Copy3(d->projectorOrigin, d->position);
  d->planeOffset = Dot(d->position, d->direction);
  w->planeInverse = Reciprocal(d->planeOffset);
  const SamplingCounts c = SamplingGrid(d, w->common.shadowSoftness, w->common.shadowQuality, 16);
  w->softness = c.softness;
  w->fewest = c.fewest;
  w->most = c.most;
  Image(d, w);
  return 0;
}

void *ProjectorCreate() {
  auto *d = static_cast<VtLightData *>(VoAllocate(sizeof(VtLightData)));
  if (d == nullptr) return nullptr;
  std::memset(static_cast<void *>(d), 0, sizeof *d);
  ProjectorWords *w = Words(d);
  w->fileName = EmptyString();
  if (w->fileName == nullptr) {
    VoDeallocate(d);
    return nullptr;
  }
  d->kind = VO_LIGHT_PROJECTOR;
  d->self = d;
  d->fallOffMode = 1;
  d->shadowResolution = 256;
  d->shadowMapSide = 256;
  d->classShadow = &ProjectorShadow;
  Set3(d->position, 0, 0, 1);
  FallOffDefaults(d, &w->common.inverseFallOff);
  w->common.intensity = 1;
  w->common.colour = VtColour{1, 1, 1};
  w->common.shadowQuality = 4;
  w->common.shadowSoftness = 1;
  w->common.shadowBias = 0.005f;
  w->common.beam = 2;
  w->angle = 60;
  w->coneDelta = 5;
  Set3(w->upVector, 0, 1, 0);
  (void)ProjectorPrepare(d);
  return d;
}

VtStatus ProjectorDestroy(void *block) {
  if (block == nullptr) return 0;
  auto *d = static_cast<VtLightData *>(block);
  ProjectorWords *w = Words(d);
  VoDeallocate(w->fileName);
  VoDeallocate(w->loadedName);
  if (d->projectorTexture != nullptr) (void)VoTextureDestroy(d->projectorTexture);
  VoDeallocate(d);
  return 0;
}

constexpr Entries ProjectorEntries() {
  Entries e;
  e.prepare = &ProjectorPrepare;
  e.get = &LightGet<kProjectorFields>;
  e.set = &TableSet<kProjectorFields>;
  e.create = &ProjectorCreate;
  e.destroy = &ProjectorDestroy;
  return e;
}

}  // namespace

bool ProjectorProject(const VtLightData *d, const float *point, const float *normal, float *u, float *v,
                      float *depth) {
  float q[3];
  Biased(d, point, normal, Words(d)->common.shadowBias, q);
  const float along = -Dot(q, d->direction);
  if (!(along > 1e-9f)) return false;  // at or behind the projector
  *u = 0.5f + Dot(q, d->axisU) / along;
  *v = 0.5f + Dot(q, d->axisV) / along;
  *depth = Dot(q, q);
  return true;
}

const ClassDescription kProjector{"vxs_projector_light", "projector", VO_SHADER_LIGHT,    kProjectorLabels,
                                  kProjectorMeanings,    {},          ProjectorEntries(), true};

}  // namespace vo::classic
