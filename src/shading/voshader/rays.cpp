// Ray records, hit records and hit-list nodes from the context's own pools,
// for the area lights' ray queries, and the release of those pools with the
// context's shading state.
//
// A ray record's flags come from its owner's settings record, which the
// owner's first word points at; the kernel reads them and nothing else of
// the owner.

#include <cstring>

#include "shading/voshader/voshader.h"

namespace vo {

using namespace shader;

namespace {

// The settings of an owner; null for an owner that has none.
const VtRayOwnerSettings *OwnerSettings(void *owner) {
  return owner != nullptr ? *static_cast<const VtRayOwnerSettings *const *>(owner) : nullptr;
}

void RayFlagsSet(VtRayRecord *ray, const VtRayOwnerSettings *settings, uint32_t shadow) {
  ray->shadowRay = shadow != 0 && settings->shadowSwitch != 0;
  ray->opaqueOnly = settings->count == 0;
  ray->throughTransparent = settings->transparentSwitch != 0 || settings->count > 0;
  ray->shadowTransparency = 0;
  if (ray->shadowRay && ray->opaqueOnly) {
    VtTypedValue v{};
    if (VoControlGet(VO_CONTROL_SHADER_SHADOW_TRANSPARENCY, &v) == 0) ray->shadowTransparency = v.value.u;
  }
}

VtStatus HitDestroy(void *hit) { return VoHitRecordDestroy(static_cast<VtHitRecord *>(hit)); }

}  // namespace

VtStatus VoRayRecordCreate(void *owner, const float *origin, const float *direction, uint32_t shadow,
                           VtRayRecord **record) {
  if (record == nullptr) return kRefused;
  *record = nullptr;
  ShadingContext *s = StateGet();
  const VtRayOwnerSettings *settings = OwnerSettings(owner);
  if (s == nullptr || settings == nullptr || origin == nullptr) return kRefused;
  auto *ray = static_cast<VtRayRecord *>(VoPoolAllocate(s->ray_pool));
  if (ray == nullptr) return kNoMemory;
  ray->owner = owner;
  ray->tag = VO_RAY_TAG;
  std::memcpy(ray->origin, origin, sizeof ray->origin);
  if (direction != nullptr) std::memcpy(ray->direction, direction, sizeof ray->direction);
  RayFlagsSet(ray, settings, shadow);
  ray->distance = -1.0f;
  ray->spare[0] = ray->spare[1] = 0;
  *record = ray;
  return 0;
}

// A ray record destroyed already is told, as a hit record is, by the mark
// its pool leaves in a block given back.
VtStatus VoRayRecordDestroy(VtRayRecord *record) {
  ShadingContext *s = StateGet();
  if (record == nullptr || s == nullptr) return 0;
  if (PoolBlockFreed(s->ray_pool, record)) {
    Post(kRefused, messages::kObjectNotLive, VO_MODULE_SHADER, "VoRayRecordDestroy",
         static_cast<const void *>(record), "ray record");
    return kRefused;
  }
  return VoPoolFree(s->ray_pool, record);
}

VtHitRecord *VoHitRecordCreate() {
  ShadingContext *s = StateGet();
  auto *hit = s != nullptr ? static_cast<VtHitRecord *>(VoPoolAllocate(s->hit_pool)) : nullptr;
  if (hit == nullptr) return nullptr;
  std::memset(&hit->halves[0], 0, sizeof hit->halves[0]);
  std::memset(hit->halves[1].point, 0, sizeof hit->halves[1].point);
  std::memset(&hit->halves[1].words[4], 0, 3 * sizeof(uint32_t));  // the half's words 7 to 9
  hit->distances[0] = hit->distances[1] = -1.0f;
  hit->last = 0;
  return hit;
}

// A hit record's thirty words are all the caller's: a destroyed one is told
// by the mark its pool leaves in a block given back.
VtStatus VoHitRecordDestroy(VtHitRecord *record) {
  ShadingContext *s = StateGet();
  if (record == nullptr || s == nullptr) return 0;
  if (PoolBlockFreed(s->hit_pool, record)) {
    Post(kRefused, messages::kObjectNotLive, VO_MODULE_SHADER, "VoHitRecordDestroy",
         static_cast<const void *>(record), "hit record");
    return kRefused;
  }
  return VoPoolFree(s->hit_pool, record);
}

VtReference *VoHitListNodeCreate(void *value) {
  ShadingContext *s = StateGet();
  return s != nullptr ? VoReferencePoolNodeCreate(s->node_pool, value) : nullptr;
}

VtStatus VoHitListDestroy(VtReference *ring, uint32_t destroy_hits) {
  ShadingContext *s = StateGet();
  if (s == nullptr || ring == nullptr) return 0;
  return ReferenceListDestroy(s->node_pool, ring, destroy_hits != 0 ? &HitDestroy : nullptr,
                              "VoHitListDestroy");
}

// The four consecutive pool words of a shading state: rays, hits, transient
// lights and the list-node sub-pool.
VtStatus VoShadingRayPoolsDestroy(void *pools) {
  if (pools == nullptr) return kRefused;
  auto *words = static_cast<VtPool **>(pools);
  VtStatus st = PoolDisposeClear(&words[0]) | PoolDisposeClear(&words[1]) | PoolDisposeClear(&words[2]);
  if (words[3] != nullptr) st |= VoReferenceSubPoolRelease(words[3]);
  words[3] = nullptr;
  return st;
}

}  // namespace vo
