// The area light's records: the class words of its light record, the
// emitter record the light points at (the sampler table the kernel drives,
// the owner, the levels of detail and the build of the current image), the
// build (the emitter's triangles as elements) and the per-call selection.
//
// Ownership: the build belongs to the light record that made it (the
// emitter record's owner). A worker's clone of a built light shares the
// emitter record and the build; its build and release entries do nothing.
// Elements hold geometry only; the values one shaded point works out live
// in that call's samples, so every worker reads the build without locks but
// for the making of children, done once under the build's lock and
// published complete.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>

#include "shading/voshpro/voshpro.h"

namespace vo::pro {

extern const ClassDescription kArea;

constexpr int kAreaLevels = 6;                     // subdivision depth on every path
constexpr uint32_t kAreaElementBudget = 1u << 20;  // elements of one build
constexpr float kAreaFormFactorLeast = 1e-6f;      // a piece below it does not count

// One emitting piece: a triangle of the emitter's triangulated copy, or a
// quarter of one.
struct AreaElement {
  float corner[3][3];
  float centroid[3];
  float normal[3];                      // unit, facing where the piece emits
  float area;                           // square metres
  uint32_t id;                          // the same in every context: seeds the jitter
  uint32_t level;                       // 0 for the emitter's own triangles
  std::atomic<AreaElement *> children;  // four, or null until split
};

struct AreaBuild {
  VtLightData *owner;
  VtPrimitive *copy;   // the emitter's copy, triangulated through its parts
  VtReference *parts;  // the copy expanded into plain pieces
  AreaElement *elements;
  uint32_t count;
  double area;       // square metres
  double worldArea;  // in the scene's units
  float T1, T2, T3;  // form-factor thresholds
  float errorBound;
  float noiseFactor;
  VtColour emission;                   // per square metre ("unshot" as given)
  float radius;                        // of the disc or sphere of the emitter's area
  float rayBias;                       // the ray tracer's shadow bias
  float squareMetres;                  // per square unit of the scene
  std::atomic<uint32_t> made;          // elements in the build, children included
  std::atomic<uint32_t> budgetPosted;  // 2580 once per image
  std::mutex lock;                     // the making of children
};

// The emitter record: the sampler table first (the kernel's order), then the
// owner and the arguments that live here.
struct AreaEmitters {
  VtAreaLightSampler table;
  VtLightData *owner;
  void *reserved;
  float minLod, midLod, maxLod, errorBound, noiseFactor;
  int32_t midSet;  // "mid lod" given; else it reads as "min lod"
  AreaBuild *build;
};

// The area light's words in its light record's class area: common.colour
// is the filter of the colour temperature, common.emitters the emitter
// record.
struct AreaWords {
  VtAdvancedLightWords common;
  VtColour unshot;
  int32_t powerUnits;  // 1 undefined, 2 lumens, 3 watts
  float power;
  float colourTemperature;
  VtColour base;  // the emission before it is shared over the area
  float softness;
  int32_t fewest, most;
};
static_assert(sizeof(AreaWords) <= VO_LIGHT_CLASS_AREA_BYTES);
static_assert(offsetof(AreaWords, common) == 0);

inline AreaWords *Area(VtLightData *d) { return reinterpret_cast<AreaWords *>(d->classArea.bytes); }
inline const AreaWords *Area(const VtLightData *d) {
  return reinterpret_cast<const AreaWords *>(d->classArea.bytes);
}
inline AreaEmitters *Emitters(const VtLightData *d) {
  return static_cast<AreaEmitters *>(Area(d)->common.emitters);
}
// The light record holding the sampler the kernel called with.
inline VtLightData *SamplerLight(VtAreaLightSampler *sampler) {
  return reinterpret_cast<VtLightData *>(reinterpret_cast<char *>(sampler) -
                                         offsetof(VtLightData, areaSampler));
}

// 10^(-2 lod - 1.7).
double AreaThreshold(double lod);

// What an element subtends at a point: F = 0 when it does not reach it.
struct FormFactor {
  float F;
  float direction[3];  // unit, from the point to the centroid
  float distance, distanceSquared;
  float cosine;  // at the receiver; 1 without a normal
};
FormFactor AreaFormFactor(const AreaElement &e, const float *point, const float *normal, float squareMetres);

// The four children of the element, made on first use; null past the
// budget (posting 2580 once per image) or without memory (*noMemory set).
const AreaElement *AreaChildren(AreaBuild *b, const AreaElement &e, bool *noMemory);

// The sampler's entries (area_sampling.cpp).
VtStatus AreaBuildMake(VtAreaLightSampler *sampler);
VtStatus AreaBuildRelease(VtAreaLightSampler *sampler);
VtStatus AreaSelect(VtAreaLightSampler *sampler, VtPrimitive *primitive, VtPolygon *polygon,
                    const float *point, const float *normal, uint32_t shadow, void **handle);
VtStatus AreaSelectionFree(void *handle);
VtStatus AreaRefineStart(void *handle, void *, void *, void **cursor);
VtStatus AreaFinish(void *handle, void *cursor);
VtStatus AreaRefine(void *handle, void *cursor, void *, void *, void *, uint32_t *more);
VtStatus AreaFetch(void *handle, void *cursor, void **item);
// Frees a build (the owner's, at release or destroy).
void AreaBuildFree(AreaBuild *b);

// The shadow procedure of shadow maps, from the emitter's centre.
double AreaShadow(const float *point, void *, const float *normal, VtLightData *d);

}  // namespace vo::pro
