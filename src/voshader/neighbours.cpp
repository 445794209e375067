// What the shader kernel asks of the parts that come later: the services
// cached when callbacks change. Each stand-in answers "nothing yet";
// replacing one is a change in this file only.

#include "voshader/voshader.h"

namespace vo::shader {

namespace {
uint32_t NoTransformType(VtTransform *) { return 0; }
// Without a ray tracer a secondary ray sees black and hits nothing.
VtStatus NoTracerShade(float *colour, const float *, const float *, double) {
  if (colour != nullptr) colour[0] = colour[1] = colour[2] = 0.0f;
  return 0;
}

}  // namespace

// The transforms module's services and the ray tracer's image steps; without
// the transforms module no transform is kept for a primitive. No filter
// service is cached yet.
void CallbackCacheRead(ShadingContext *s) {
  s->transform_type = reinterpret_cast<TransformTypeProc>(VoCallBackGet(0xf000a));
  s->transform_point = nullptr;
  s->transform_vector = nullptr;
  if (s->transform_type == nullptr) {
    s->transform_type = &NoTransformType;
  } else {
    s->transform_point = reinterpret_cast<TransformMapProc>(VoCallBackGet(0xf0008));
    s->transform_vector = reinterpret_cast<TransformMapProc>(VoCallBackGet(0xf0009));
  }
  s->ray_prepare = reinterpret_cast<VtStatus (*)()>(VoCallBackGet(0x70001));
  s->ray_end = reinterpret_cast<VtStatus (*)()>(VoCallBackGet(0x70002));
  s->ray_shade = nullptr;
  if (s->ray_prepare != nullptr) s->ray_shade = reinterpret_cast<decltype(s->ray_shade)>(VoCallBackGet(0x70004));
  if (s->ray_shade == nullptr) s->ray_shade = &NoTracerShade;
}

bool ShaderColourAccepted() { return VoModuleCompatibilityGet(VO_MODULE_CLASSIC) == 0; }

}  // namespace vo::shader
