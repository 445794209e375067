// What the shader kernel asks of other modules: the services cached when
// callbacks change (ray tracer, transforms, driver poll, filter module, work
// farm), and whether an image is one the driver framework holds live. Each
// stand-in answers "nothing yet" or what the missing module would leave;
// replacing one is a change in this file only. Also which of the
// super-lite library's classes shade a point from the point alone: only that
// library knows its entries.

#include <vo/vo_view.h>

#include "shading/voshader/voshader.h"
#include "shading/voshslte/face.h"

#include "output/vodriver/face.h"

namespace vo::shader {

namespace {

uint32_t NoTransformType(VtTransform *) { return 0; }
// Without a ray tracer a secondary ray sees black and hits nothing, and a
// shadow ray finds nothing within any distance.
VtStatus NoTracerShade(float *colour, const float *, const float *, double) {
  if (colour != nullptr) colour[0] = colour[1] = colour[2] = 0.0f;
  return 0;
}
float NoTracerShadow(const float *, const float *, double, double, VtPolygon *) { return 1e20f; }

template <class Proc>
Proc Service(uint32_t code) {
  return reinterpret_cast<Proc>(VoCallBackGet(code));
}

// The view values the kernel reads at image set-up: whether each is there.
VtStatus ViewValuesLookUp() {
  static const uint32_t kCodes[] = {
      VO_VIEW_VALUE_RESOLUTION, VO_VIEW_VALUE_EYE,        VO_VIEW_VALUE_REFERENCE,
      VO_VIEW_VALUE_DIRECTION,  VO_VIEW_VALUE_PROJECTION, VO_VIEW_VALUE_PROJECTION_KIND,
      VO_VIEW_VALUE_SERIAL,     VO_VIEW_VALUE_ANGLE,      VO_VIEW_VALUE_ANGLE_TANGENT};
  VtStatus st = 0;
  for (uint32_t code : kCodes) {
    VtTypedValue v{};
    st |= VoViewGetValue(code, &v);
  }
  return st;
}

void RayServicesRead(ShadingContext *s) {
  s->ray_prepare = Service<VtStatus (*)()>(0x70001);
  s->ray_end = Service<VtStatus (*)()>(0x70002);
  const bool tracer = s->ray_prepare != nullptr;
  s->ray_shade = tracer ? Service<decltype(s->ray_shade)>(0x70004) : nullptr;
  s->ray_shadow = tracer ? Service<RayShadowProc>(0x70005) : nullptr;
  s->ray_hit = tracer ? Service<RayHitProc>(0x70006) : nullptr;
  s->ray_hit_polygon = tracer ? Service<VtPolygon *(*)()>(0x70007) : nullptr;
  if (s->ray_shade == nullptr) s->ray_shade = &NoTracerShade;
  if (s->ray_shadow == nullptr) s->ray_shadow = &NoTracerShadow;
}

// Without the transforms module no transform is kept for a primitive.
void TransformServicesRead(ShadingContext *s) {
  s->transform_type = Service<TransformTypeProc>(0xf000a);
  const bool present = s->transform_type != nullptr;
  s->transform_vector = present ? Service<TransformMapProc>(0xf0009) : nullptr;
  s->transform_point = present ? Service<TransformMapProc>(0xf0008) : nullptr;
  s->transform_normal_inverse = present ? Service<TransformNormalProc>(0xf000c) : nullptr;
  s->transform_normal = present ? Service<TransformNormalProc>(0xf000b) : nullptr;
  if (!present) s->transform_type = &NoTransformType;
}

void DriverServicesRead(ShadingContext *s) {
  s->interrupt_poll = Service<VtStatus (*)()>(VO_CALLBACK_DRIVER_INTERRUPT);
  VtTypedValue sticky{};
  s->sticky = VoControlGet(VO_CONTROL_STICKY_STATUS, &sticky) == 0 ? static_cast<uint32_t *>(sticky.value.p)
                                                                   : nullptr;
}

// Only modules that run are asked: a stopped one answers nothing useful.
void FilterAndFarmServicesRead(ShadingContext *s) {
  const bool filter = ModuleStarted(VO_MODULE_FILTER);
  s->filter_loop = filter ? Service<FilterLoopProc>(0x620002) : nullptr;
  s->filter_polygon = filter ? Service<FilterPolygonProc>(0x620003) : nullptr;
  s->work_farm_active = ModuleStarted(VO_MODULE_MULTITHREAD) ? Service<uint32_t (*)()>(0x52000b) : nullptr;
}

}  // namespace

VtStatus CallbackCacheRead(ShadingContext *s) {
  const VtStatus st = ViewValuesLookUp();
  RayServicesRead(s);
  TransformServicesRead(s);
  DriverServicesRead(s);
  FilterAndFarmServicesRead(s);
  return st;
}

bool ShaderColourAccepted() { return VoModuleCompatibilityGet(VO_MODULE_CLASSIC) == 0; }

bool PointShadingAlone(const VtShaderGlobals *g, bool colourToo) {
  if (colourToo && !shaderlib::ColourOfPointAlone(g->colourCall.entry, g->colourCall.data)) return false;
  return shaderlib::ReflectanceOfPointAlone(g->reflectanceCall.entry, g->reflectanceCall.data);
}

// The driver framework keeps the register of live images; without it (the
// shader kernel on its own) any image record is taken as given.
bool ImageUsable(const VtImage *image) {
  return VoModuleCheckStarted(VO_MODULE_DRIVER, 0) != 0 || driver::ImageIsLive(image);
}

}  // namespace vo::shader
