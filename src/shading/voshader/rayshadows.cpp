// Ray-traced shadows: the four procedures image set-up installs in a light
// that casts shadows without a map when the ray tracer is present. The
// plain ones ask the tracer's shadow service; the transparent ones continue
// through glass, dielectric and transparency-shaded surfaces, shading each
// hit to attenuate and tint the light's colour at the point.
//
// Every level pushes the shader environment and pops it before returning,
// so the globals of the point being shaded are unchanged afterwards. Hit
// vertices are interpolated into a per-context block (nothing is made on
// the hit primitive). The recursion stops at kLevelsMost: coincident
// transmitting surfaces would otherwise recurse until the stack ran out;
// deeper counts as opaque.

#include <cstring>

#include "scene/vogeom/face.h"
#include "shading/voshader/imaging.h"
#include "shading/voshader/voshader.h"

namespace vo::shader {

namespace {

constexpr uint32_t kLevelsMost = 32;
constexpr uint32_t kAlwaysVertex = 0x4;  // control 0x50007 bit 2
constexpr uint32_t kDisplace = 0x10;     // control 0x50007 bit 4

using ShadowService = float (*)(const float *origin, const float *direction, double near, double far,
                                VtPolygon *ignored);
using HitService = VtStatus (*)(VtPrimitive **primitive, VtPolygon **polygon, float *point);

// The tracer's services, read when the procedure runs (only installed with
// the tracer present); without them nothing blocks.
struct Services {
  ShadowService shadow;
  HitService hit;
};

Services Tracer() {
  return {reinterpret_cast<ShadowService>(VoCallBackGet(0x70005)),
          reinterpret_cast<HitService>(VoCallBackGet(0x70006))};
}

double Cast(const Services &t, const float *origin, const float *direction, const VtLightData *d) {
  if (t.shadow == nullptr) return 0;
  return t.shadow(origin, direction, 0.0, d->distance, VoShaderGetGlobals()->poly);
}

// The hit polygon's vertex data at the hit point, in the context's block.
void *HitVertex(ShadingContext *s, VtPrimitive *p, VtPolygon *polygon, const float *normal,
                const float *point) {
  const VtContentsKindTable *vertices = KindTable(p->contents, VO_ELEMENT_VERTEX);
  const size_t size = vertices != nullptr ? vertices->block_size : 0;
  if (size == 0) return nullptr;
  ImagingContext &im = s->imaging;
  if (size > im.vertex_block_size) {
    void *grown = VoAllocate(static_cast<uint32_t>(size));
    if (grown == nullptr) return nullptr;
    VoDeallocate(im.vertex_block);
    im.vertex_block = grown;
    im.vertex_block_size = size;
  }
  float weights[4] = {0, 0, 0, 0};
  void *sources[4] = {nullptr, nullptr, nullptr, nullptr};
  if (VoRayHitWeights(p, polygon, normal, point, weights, sources) != 0 || sources[0] == nullptr)
    return nullptr;
  for (void *&v : sources)
    if (v == nullptr) v = sources[0];
  std::memset(im.vertex_block, 0, size);
  (void)VertexInterpolateInto(p, 0, 4, reinterpret_cast<VtVertex **>(sources), weights,
                              static_cast<VtVertex *>(im.vertex_block));
  return im.vertex_block;
}

// What one hit surface is made of.
struct HitSurface {
  VtPrimitive *primitive;
  VtPolygon *polygon;
  float point[3];
  VtMaterial *material;
  VtShader *transparency, *colour, *displacement, *reflectance, *texture_space;
};

bool Kind(const VtShader *shader, uint32_t kind) {
  return shader != nullptr && shader->cls->nameKind == kind;
}

// Steps a and b: the globals at the hit and, when needed, its texture
// coordinates; t is the signed distance term along the ray.
double HitSetUp(ShadingContext *s, const HitSurface &h, const float *origin, const float *direction,
                bool vertex) {
  VtShaderGlobals *g = s->globals;
  std::memcpy(g->PStorage, h.point, sizeof g->PStorage);
  std::memcpy(g->PwStorage, h.point, sizeof g->PwStorage);
  g->P = g->PStorage;
  g->Pw = g->PwStorage;
  g->poly = h.polygon;
  (void)VoShadingInitialisePolygon(h.primitive, h.polygon);
  const float *plane = PropertyField<float>(h.primitive, h.polygon, VO_POLY_PLANE);
  double t = 0;
  if (plane != nullptr) {
    const double div = plane[0] * direction[0] + plane[1] * direction[1] + plane[2] * direction[2];
    if (div > 0.0001 || div < -0.0001)
      t = (plane[0] * origin[0] + plane[1] * origin[1] + plane[2] * origin[2] + plane[3]) / div;
  }
  std::memcpy(g->unitI, direction, sizeof g->unitI);
  const bool uv = Kind(h.texture_space, VO_CLASS_NAME_UV);
  if (vertex || g->transform != nullptr || (s->shadow_transparency & kAlwaysVertex) != 0 || uv) {
    if (void *v = HitVertex(s, h.primitive, h.polygon, plane != nullptr ? plane : g->Ng, h.point))
      (void)VoShadingInitialiseVertex(h.primitive, v, g->E, 0);
  }
  if (h.texture_space != nullptr) {
    (void)VoShaderExecute(h.texture_space);
    if (g->transform != nullptr && s->transform_vector != nullptr) {
      float mapped[3];
      for (float *v : {g->dPds, g->dPdt}) {
        if (s->transform_vector(mapped, v, g->transform) == 0) std::memcpy(v, mapped, sizeof mapped);
      }
    }
  }
  return t;
}

float TransmissionFactor(VtShader *reflectance) {
  VtTypedValue v{};
  v.type = VtFloat;
  return VoShaderGetArg(reflectance, "transmission factor", &v) == 0 ? v.value.f : 0.0f;
}

double Transparent(const float *origin, const float *direction, const float *flag, VtLightData *d);

// Step d: the deeper value from the hit, the distance advanced by t.
double Deeper(const HitSurface &h, const float *direction, const float *flag, VtLightData *d, double t) {
  const float distance = d->distance;
  d->distance = static_cast<float>(distance + t);
  const double v = Transparent(h.point, direction, flag, d);
  d->distance = distance;
  return v;
}

double Through(ShadingContext *s, const HitSurface &h, const float *origin, const float *direction,
               const float *flag, VtLightData *d, double blocked) {
  VtShaderGlobals *g = s->globals;
  const bool none = h.transparency == nullptr || Kind(h.transparency, VO_CLASS_NAME_NONE);
  if (none) {
    if (!Kind(h.reflectance, VO_CLASS_NAME_GLASS) && !Kind(h.reflectance, VO_CLASS_NAME_DIELECTRIC))
      return blocked;
    const double t = HitSetUp(s, h, origin, direction, false);
    if ((s->shadow_transparency & kDisplace) != 0 && h.displacement != nullptr)
      (void)VoShaderExecute(h.displacement);
    if (h.colour != nullptr) (void)VoShaderExecute(h.colour);
    const double v = Deeper(h, direction, flag, d, t);
    const float tf = TransmissionFactor(h.reflectance);
    float *c = &d->colourAtPoint.red;
    for (int i = 0; i < 3; ++i) c[i] *= tf * g->Co[i];
    return 1 - (1 - v) * tf;
  }
  const bool special = h.texture_space == nullptr && h.material->special_global != 0;
  const double t = HitSetUp(s, h, origin, direction, special);
  if ((s->shadow_transparency & kDisplace) != 0 && h.displacement != nullptr)
    (void)VoShaderExecute(h.displacement);
  g->alpha = 1;
  g->To[0] = g->To[1] = g->To[2] = 0;
  (void)VoShaderExecute(h.transparency);
  if (h.colour != nullptr) (void)VoShaderExecute(h.colour);
  const bool tinted = g->To[0] > 0 || g->To[1] > 0 || g->To[2] > 0;
  if (!(g->alpha < 1) && !tinted) return blocked;
  const double v = Deeper(h, direction, flag, d, t);
  const double a = g->alpha, k = 1 - a;
  float *c = &d->colourAtPoint.red;
  for (int i = 0; i < 3; ++i) c[i] *= static_cast<float>(a * g->To[i] * g->Co[i] + k);
  return tinted ? v : 1 - (1 - v) * k;
}

double Transparent(const float *origin, const float *direction, const float *flag, VtLightData *d) {
  ShadingContext *s = StateGet();
  if (s == nullptr || VoShaderPushEnvironment() != 0) return 0;
  const Services tracer = Tracer();
  const double blocked = Cast(tracer, origin, direction, d);
  double result = blocked;
  HitSurface h{};
  if (blocked > 0 && tracer.hit != nullptr && s->imaging.transparent_depth < kLevelsMost &&
      tracer.hit(&h.primitive, &h.polygon, h.point) == 0 && h.primitive != nullptr) {
    h.material = VoPrimitiveGetMaterial(h.primitive);
    if (h.material != nullptr) {
      h.transparency = h.material->transparency;
      h.colour = h.material->colour;
      h.displacement = h.material->displacement;
      h.reflectance = h.material->reflectance;
      h.texture_space = VoPrimitiveGetTextureSpace(h.primitive);
      ++s->imaging.transparent_depth;
      result = Through(s, h, origin, direction, flag, d, blocked);
      --s->imaging.transparent_depth;
    }
  }
  (void)VoShaderPopEnvironment();
  return result;
}

// The direction the light evaluation hands over, or the way to the light.
const float *DirectionOf(void *given, const VtLightData *d, float *own) {
  if (given != nullptr) return static_cast<const float *>(given);
  if (d->kind == VO_LIGHT_DISTANT) return d->direction;
  std::memcpy(own, d->toLight, 3 * sizeof(float));
  Normalise(own);
  return own;
}

// The area variants: nothing when flagged and the point does not receive,
// nothing with shadows off.
bool AreaSkips(const float *flag) {
  const ShadingContext *s = StateGet();
  if (s == nullptr) return true;
  if (flag != nullptr && s->globals->receivesShadows == 0) return true;
  return s->shadows == 0;
}

double Plain(const float *origin, void *direction, const float *, VtLightData *d) {
  if (VoShaderPushEnvironment() != 0) return 0;
  float own[3];
  const double v = Cast(Tracer(), origin, DirectionOf(direction, d, own), d);
  (void)VoShaderPopEnvironment();
  return v;
}

double PlainArea(const float *origin, void *direction, const float *flag, VtLightData *d) {
  return AreaSkips(flag) ? 0 : Plain(origin, direction, flag, d);
}

double TransparentEntry(const float *origin, void *direction, const float *flag, VtLightData *d) {
  float own[3];
  return Transparent(origin, DirectionOf(direction, d, own), flag, d);
}

double TransparentArea(const float *origin, void *direction, const float *flag, VtLightData *d) {
  return AreaSkips(flag) ? 0 : TransparentEntry(origin, direction, flag, d);
}

}  // namespace

VtLightShadowProc RayTracedShadow(bool area, bool transparent) {
  if (transparent) return area ? &TransparentArea : &TransparentEntry;
  return area ? &PlainArea : &Plain;
}

}  // namespace vo::shader
