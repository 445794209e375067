// The light loop: per shading point, each current light is evaluated by its
// kind and the lights that reach the point are linked into the lit chain;
// the optional second pass turns area-light samples into transient lights.
//
// Transient light records come from the context's free list and go back to
// it when the point ends; the light pool is asked for a block only when a
// point needs more samples than any point before, so the loop allocates
// nothing in the steady state. Ending a point clears the lit chain with the
// transient records, so no chain is left on records given back. A point at
// a light's own position (distance below 1e-12) is not lit by it: its
// direction is undefined. Distances reach the fall-off procedure in metres,
// with the factors read once per image.

#include <cmath>
#include <cstring>

#include "shading/voshader/voshader.h"
#include "kernel/vosystem/face.h"

namespace vo::shader {

namespace {

constexpr float kNear = 1e-12f;

struct PointArgs {
  const float *P;
  const float *N;  // null: no normal
  const float *S;
};

void UnitToLight(const VtLightData *d, float L[3]) {
  for (int i = 0; i < 3; ++i) L[i] = d->toLight[i] / d->distance;
}

// The shadow and visibility step common to kinds 1, 2, 3, 4 and 7: answers
// whether the light is lit. A null L is toLight / distance, worked out only
// when a shadow procedure reads it.
bool ShadowStep(const ShadingContext *s, VtLightData *d, const PointArgs &a, const float *L,
                VtLightData *record) {
  const bool receives = a.N != nullptr ? s->globals->receivesShadows != 0 : true;
  const bool shadowed = s->shadows != 0 && d->castsShadows != 0 && receives && d->shadow != nullptr;
  d->intensity = 1;
  float unit[3];
  if (shadowed && a.N == nullptr && L == nullptr) {
    UnitToLight(d, unit);
    L = unit;
  }
  if (shadowed)
    d->intensity = 1 - static_cast<float>(d->shadow(a.P, nullptr, a.N != nullptr ? a.S : L, record));
  d->visibility = d->intensity;
  d->lit = d->intensity > 0;
  return d->lit != 0;
}

void FallOffStep(const ShadingContext *s, VtLightData *d) {
  if (d->fallOff == nullptr) return;
  const auto fall = reinterpret_cast<VtLightFallOffProc>(d->fallOff);
  d->intensity *= static_cast<float>(fall(d->fallOffMode, d->fallOffData, d->distance * s->length_factor,
                                          d->distanceSquared * s->area_factor));
}

// toLight from the position, N . toLight and the distances; false when the
// light cannot reach the point.
bool Reaches(VtLightData *d, const PointArgs &a) {
  for (int i = 0; i < 3; ++i) d->toLight[i] = d->position[i] - a.P[i];
  d->nDotToLight = a.N != nullptr ? vec::Dot(a.N, d->toLight) : 1;
  d->distanceSquared = vec::Dot(d->toLight, d->toLight);
  d->distance = std::sqrt(d->distanceSquared);
  d->lit = 0;
  return d->nDotToLight > 0 && d->distance >= kNear;
}

bool PointEvaluate(const ShadingContext *s, VtLightData *d, const PointArgs &a) {
  if (!Reaches(d, a)) return false;
  d->colourAtPoint = d->colour;
  if (!ShadowStep(s, d, a, nullptr, d)) return false;
  FallOffStep(s, d);
  return true;
}

bool SpotEvaluate(const ShadingContext *s, VtLightData *d, const PointArgs &a) {
  if (!Reaches(d, a)) return false;
  d->axisDotToLight = vec::Dot(d->direction, d->toLight);
  d->cosAxis = d->axisDotToLight / d->distance;
  if (!(d->cosAxis > d->cosOuter)) return false;
  d->colourAtPoint = d->colour;
  if (!ShadowStep(s, d, a, nullptr, d)) return false;
  d->intensity *= std::pow(d->cosAxis, d->spotExponent);
  FallOffStep(s, d);
  if (d->cosAxis < d->cosInner)
    d->intensity *= static_cast<float>(VoSmoothStep(d->cosOuter, d->cosInner, d->cosAxis));
  return true;
}

bool DistantEvaluate(const ShadingContext *s, VtLightData *d, const PointArgs &a) {
  d->nDotToLight = a.N != nullptr ? vec::Dot(a.N, d->direction) : 1;
  d->lit = 0;
  if (d->nDotToLight <= 0) return false;
  d->colourAtPoint = d->colour;
  if (s->shadows != 0 && d->castsShadows != 0) d->distance = 1e20f;
  return ShadowStep(s, d, a, d->direction, d);
}

bool ClassVectorEvaluate(const ShadingContext *s, VtLightData *d, const PointArgs &a) {
  const VtShaderGlobals *g = s->globals;
  d->lit = 0;
  if (d->lightClass == nullptr || d->lightClass->evaluateImage == nullptr) return false;
  (void)d->lightClass->evaluateImage(d->self);
  d->colourAtPoint = VtColour{g->lightColour[0], g->lightColour[1], g->lightColour[2]};
  d->nDotToLight = a.N != nullptr ? vec::Dot(a.N, g->lightVector) : 1;
  d->distanceSquared = vec::Dot(g->lightVector, g->lightVector);
  d->distance = std::sqrt(d->distanceSquared);
  if (d->nDotToLight <= 0 || d->distance < kNear) return false;
  for (int i = 0; i < 3; ++i) d->toLight[i] = g->lightVector[i] / d->distance;
  if (!ShadowStep(s, d, a, d->toLight, d->self)) return false;
  FallOffStep(s, d);
  return true;
}

bool EyeEvaluate(const ShadingContext *s, VtLightData *d, const PointArgs &a) {
  d->colourAtPoint = d->colour;
  d->nDotToLight = a.N != nullptr ? -vec::Dot(a.N, s->globals->unitI) : 1;
  d->lit = 1;
  d->intensity = d->visibility = 1;
  return true;
}

bool ProjectorEvaluate(ShadingContext *s, VtLightData *d, const PointArgs &a) {
  if (!Reaches(d, a)) return false;
  d->axisDotToLight = vec::Dot(d->direction, d->toLight);
  d->cosAxis = d->axisDotToLight / d->distance;
  if (!(d->cosAxis > 0)) return false;
  const float depth = d->planeOffset - vec::Dot(d->direction, a.P);
  float from[3];
  for (int i = 0; i < 3; ++i) from[i] = a.P[i] - d->projectorOrigin[i];
  const float sp = vec::Dot(from, d->axisU) / depth, tp = vec::Dot(from, d->axisV) / depth;
  if (!(sp >= -0.5f && sp <= 0.5f && tp >= -0.5f && tp <= 0.5f)) return false;
  float sample[3] = {1, 1, 1};
  if (VoShaderPushEnvironment() == 0) {
    VtShaderGlobals *g = s->globals;
    g->dPds = d->axisU;
    g->dPdt = d->axisV;
    g->ds = g->dt = depth;
    g->s = sp + 0.5f;
    g->t = tp + 0.5f;
    ProjectorSample(d->projectorTexture, sample);
    (void)VoShaderPopEnvironment();
  }
  d->colourAtPoint =
      VtColour{sample[0] * d->colour.red, sample[1] * d->colour.green, sample[2] * d->colour.blue};
  if (!ShadowStep(s, d, a, nullptr, d)) return false;
  FallOffStep(s, d);
  return true;
}

bool LightEvaluate(ShadingContext *s, VtLightData *d, const PointArgs &a) {
  switch (d->kind) {
    case VO_LIGHT_DISTANT: return DistantEvaluate(s, d, a);
    case VO_LIGHT_POINT: return PointEvaluate(s, d, a);
    case VO_LIGHT_SPOT: return SpotEvaluate(s, d, a);
    case VO_LIGHT_GONIOMETRIC: return ClassVectorEvaluate(s, d, a);
    case VO_LIGHT_EYE: return EyeEvaluate(s, d, a);
    case VO_LIGHT_PROJECTOR: return ProjectorEvaluate(s, d, a);
    case VO_LIGHT_TRANSIENT: return true;
    default: return false;
  }
}

// A transient record from the free list, or a new block of the light pool.
VtLightData *TransientTake(ShadingContext *s) {
  VtLightData *d = s->transient_free;
  if (d != nullptr) {
    s->transient_free = d->nextCurrent;
    return d;
  }
  return static_cast<VtLightData *>(VoPoolAllocate(s->light_pool));
}

VtLightData *TransientMake(ShadingContext *s, const VtLightData *area, const VtAreaLightSample *sample) {
  VtLightData *t = TransientTake(s);
  if (t == nullptr) return nullptr;
  std::memset(t, 0, sizeof *t);
  t->kind = VO_LIGHT_TRANSIENT;
  t->colourAtPoint = sample->colour;
  for (int i = 0; i < 3; ++i) t->toLight[i] = sample->direction[i] * sample->distance;
  t->nDotToLight = sample->cosine * sample->distance;
  t->distance = sample->distance;
  t->distanceSquared = sample->distanceSquared;
  t->intensity = t->visibility = 1;
  t->lit = 1;
  t->shadow = area->shadow;
  t->fallOffMode = area->fallOffMode;
  t->classFallOff = area->classFallOff;
  t->fallOffData = area->fallOffData;
  t->self = t;
  return t;
}

// Into the current chain after *after, in front of the lit chain.
void TransientLink(VtShaderGlobals *g, VtLightData **after, VtLightData *t) {
  t->nextCurrent = (*after)->nextCurrent;
  (*after)->nextCurrent = t;
  *after = t;
  t->nextLit = g->litLights;
  g->litLights = t;
}

VtStatus AreaLightSample(ShadingContext *s, VtLightData *area, uint32_t shadow) {
  VtShaderGlobals *g = s->globals;
  VtAreaLightSampler &a = area->areaSampler;
  if (a.begin == nullptr) return 0;
  void *handle = nullptr;
  VtStatus st = a.begin(&a, g->prim, g->poly, g->Pw, g->N, shadow, &handle);
  if (handle == nullptr) return st;
  void *cursor = nullptr, *item = nullptr;
  if (a.first != nullptr) st |= a.first(handle, nullptr, nullptr, &cursor);
  if (a.fetch != nullptr) st |= a.fetch(handle, cursor, &item);
  const auto *selection = static_cast<const VtAreaLightSelection *>(handle);
  if (st == 0 && selection->samples != nullptr) {
    VtLightData *after = area;
    if (selection->singleSample) {
      // A ring's handle is its last node: the first sample follows it.
      VtLightData *t =
          TransientMake(s, area, static_cast<const VtAreaLightSample *>(selection->samples->next->data));
      if (t != nullptr)
        TransientLink(g, &after, t);
      else
        st |= kNoMemory;
    } else {
      for (uint32_t more = 1; more != 0 && a.next != nullptr && selection->samples != nullptr;) {
        (void)a.next(handle, cursor, nullptr, nullptr, nullptr, &more);
        if (more != 0 && a.fetch != nullptr) (void)a.fetch(handle, cursor, &item);
      }
      const VtReference *ring = selection->samples;
      for (const VtReference *node = ring != nullptr ? ring->next : nullptr; node != nullptr;
           node = node == ring ? nullptr : node->next) {
        VtLightData *t = TransientMake(s, area, static_cast<const VtAreaLightSample *>(node->data));
        if (t == nullptr) {
          st |= kNoMemory;  // the remaining samples are dropped
          break;
        }
        TransientLink(g, &after, t);
      }
    }
  }
  if (a.finish != nullptr) (void)a.finish(handle, cursor);
  if (a.end != nullptr) (void)a.end(handle);
  return st;
}

VtStatus SecondPass(ShadingContext *s) {
  VtShaderGlobals *g = s->globals;
  const uint32_t shadow = g->receivesShadows != 0 && s->shadows != 0;
  VtStatus st = 0;
  for (VtLightData *d = g->currentLights; d != nullptr; d = d->nextCurrent)
    if (d->kind == VO_LIGHT_AREA) st |= AreaLightSample(s, d, shadow);
  return st;
}

}  // namespace

void PointLightsEnd(ShadingContext *s, VtShaderGlobals *g) {
  g->lightsEvaluated = 0;
  if (g->areaPassDone != 0) {
    g->areaPassDone = 0;
    g->litLights = nullptr;  // it may run through the records given back below
    for (VtLightData **link = &g->currentLights; *link != nullptr;) {
      VtLightData *d = *link;
      if (d->kind != VO_LIGHT_TRANSIENT) {
        link = &d->nextCurrent;
        continue;
      }
      *link = d->nextCurrent;
      d->nextCurrent = s->transient_free;
      s->transient_free = d;
    }
  }
}

}  // namespace vo::shader

namespace vo {

using namespace shader;

VtStatus VoShadingInitialisePoint(const float *point, const float *normal) {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  if (s == nullptr) return st;
  VtShaderGlobals *g = s->globals;
  if (normal != nullptr) {
    if (g->N == nullptr) g->N = g->NStorage;
    std::memcpy(g->N, normal, 3 * sizeof(float));
    std::memcpy(g->Ng, normal, 3 * sizeof(float));
  }
  if (point != nullptr) {
    if (g->Pw == nullptr) g->Pw = g->PwStorage;
    std::memcpy(g->Pw, point, 3 * sizeof(float));
  }
  g->receivesShadows = 1;
  return 0;
}

VtStatus VoShadingInitLightsShadingPoint(VtShader *light, const float *point, const float *normal,
                                         const float *extra) {
  ShadingContext *s = StateGet();
  if (s == nullptr || point == nullptr) return 0;
  if (light != nullptr && light->check != kShaderLive) [[unlikely]]
    return Refuse(kRefused, messages::kShaderNotLive, static_cast<const void *>(light));
  if (light != nullptr && light->type != VO_SHADER_LIGHT) [[unlikely]]
    return Refuse(kRefused, messages::kShaderNotLight, "VoShadingInitLightsShadingPoint",
                  static_cast<const void *>(light), light->type);
  VtShaderGlobals *g = s->globals;
  if (normal == nullptr) {
    g->prim = nullptr;
    g->poly = nullptr;
    g->xs = g->ys = -1.0f;
  }
  const PointArgs a{point, normal, extra};
  if (light != nullptr && light->data != nullptr) {
    (void)LightEvaluate(s, static_cast<VtLightData *>(light->data), a);
    return 0;
  }
  VtLightData **tail = &g->litLights;
  for (VtLightData *d = g->currentLights; d != nullptr; d = d->nextCurrent) {
    if (!LightEvaluate(s, d, a)) continue;
    *tail = d;
    tail = &d->nextLit;
  }
  *tail = nullptr;
  return 0;
}

VtStatus VoShadingInitialiseLights() {
  ShadingContext *s = StateGet();
  if (s == nullptr) return 0;
  VtShaderGlobals *g = s->globals;
  VtStatus st = 0;
  if (g->lightsEvaluated == 0) {
    g->lightsEvaluated = 1;
    st |= VoShadingInitLightsShadingPoint(nullptr, g->Pw, g->N, g->Ng);
  }
  if (g->areaPassDone == 0 && s->second_pass != 0) {
    g->areaPassDone = 1;
    st |= SecondPass(s);
  }
  return st;
}

VtStatus VoShadingTerminateLights() {
  ShadingContext *s = StateGet();
  if (s != nullptr) PointLightsEnd(s, s->globals);
  return 0;
}

VtStatus VoLightGetIntensity(VtShader *light, int32_t *lit, float *visibility, float *colour) {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  if (s == nullptr) return st;
  if (light == nullptr || (!ContextLightCopy(s, light) && !ShaderKnownOrNull(s, light)) ||
      light->data == nullptr)
    return kRefused;
  const auto *d = static_cast<const VtLightData *>(light->data);
  const bool ambient = d->kind == VO_LIGHT_AMBIENT;
  const bool on = !ambient && d->lit != 0;
  if (lit != nullptr) *lit = ambient ? 0 : d->lit;
  if (visibility != nullptr) *visibility = ambient ? 0 : d->visibility;
  if (colour != nullptr) {
    colour[0] = on ? d->intensity * d->colourAtPoint.red : 0;
    colour[1] = on ? d->intensity * d->colourAtPoint.green : 0;
    colour[2] = on ? d->intensity * d->colourAtPoint.blue : 0;
  }
  return 0;
}

}  // namespace vo
