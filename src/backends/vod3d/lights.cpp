// Light records made from the scene's light shaders, and their evaluation
// at a vertex. An argument a light class lacks keeps the record's default
// (the class's labels are asked first, so no look-up of a missing label is
// refused). A list is built whole before it joins the context: a record the
// pool cannot give leaves the list and the ambient sum as they were.
#include <cfloat>
#include <cmath>
#include <cstring>

#include "backends/vod3d/d3d.h"
#include "backends/vod3d/vec.h"
#include "kernel/vosystem/face.h"
#include "shading/voshader/face.h"

namespace vo::d3d {

namespace {

constexpr uint32_t kTypeNone = 0x7fffffff, kTypePoint = 1, kTypeSpot = 2, kTypeDirectional = 3;
constexpr float kDegrees = 3.14159265358979f / 180.0f;

int32_t Unlit(const float *, const float *, const VtD3DLight *, VtD3DLightResult *, const VtD3DItem *) {
  return -1;
}

// The normal as the lights see it: a two-sided item turns it toward the eye.
// Answers e - p in *to_eye.
[[gnu::always_inline]] inline Vec3 FacingNormal(const float *p, const float *n, const VtD3DItem *item,
                                                const float *eye, Vec3 *to_eye) {
  *to_eye = vec::Sub(Load(eye), Load(p));
  Vec3 normal = Load(n);
  if (item->two_sided != 0 && vec::Dot(*to_eye, normal) < 0.0f) normal = vec::Scale(normal, -1.0f);
  return normal;
}

// Diffuse n.L and specular n.h for a unit direction L toward the light;
// false when the light is behind the surface.
[[gnu::always_inline]] inline bool Shade(const Vec3 &normal, const Vec3 &to_light, float n_dot_l,
                                         const Vec3 &to_eye, VtD3DLightResult *out) {
  if (!(n_dot_l > 0.0f)) return false;
  const Vec3 h = Unit(vec::Add(to_light, Unit(to_eye)));
  out->diffuse = n_dot_l;
  out->specular = vec::Dot(normal, h);
  return true;
}

// A light at a position: a spot light (cone) also answers -1 outside its
// hard cone edge.
[[gnu::always_inline]] inline int32_t PositionLit(const float *p, const float *n, const VtD3DLight *light,
                                                  VtD3DLightResult *out, const VtD3DItem *item, bool cone) {
  Vec3 to_eye;
  const Vec3 normal = FacingNormal(p, n, item, Context()->eye, &to_eye);
  const Vec3 unit_l = Unit(vec::Sub(Load(light->vector), Load(p)));
  if (cone && !(vec::Dot(unit_l, Load(light->axis)) > light->cos_half_cone)) return -1;
  out->colour = light->colour;
  return Shade(normal, unit_l, vec::Dot(normal, unit_l), to_eye, out) ? 0 : -1;
}

int32_t PointLit(const float *p, const float *n, const VtD3DLight *light, VtD3DLightResult *out,
                 const VtD3DItem *item) {
  return PositionLit(p, n, light, out, item, false);
}

int32_t SpotLit(const float *p, const float *n, const VtD3DLight *light, VtD3DLightResult *out,
                const VtD3DItem *item) {
  return PositionLit(p, n, light, out, item, true);
}

int32_t DistantLit(const float *p, const float *n, const VtD3DLight *light, VtD3DLightResult *out,
                   const VtD3DItem *item) {
  Vec3 to_eye;
  const Vec3 normal = FacingNormal(p, n, item, Context()->eye, &to_eye);
  const Vec3 to_light = Load(light->vector);
  out->colour = light->colour;
  return Shade(normal, to_light, vec::Dot(normal, to_light), to_eye, out) ? 0 : -1;
}

int32_t EyeLit(const float *p, const float *n, const VtD3DLight *light, VtD3DLightResult *out,
               const VtD3DItem *item) {
  Vec3 to_eye;
  const Vec3 normal = FacingNormal(p, n, item, Context()->eye, &to_eye);
  float t = vec::Dot(to_eye, normal);
  if (item->two_sided != 0) {
    t = std::fabs(t);
  } else if (!(t > 0.0f)) {
    return -1;
  }
  out->colour = light->colour;
  out->diffuse = out->specular = t * VoInvSqrtFast(vec::Dot(to_eye, to_eye));
  return 0;
}

void Defaults(VtD3DLight *r, VtShader *shader) {
  std::memset(static_cast<void *>(r), 0, sizeof *r);
  r->shader = shader;
  platform::LightData &l = r->light;
  l.size = sizeof(platform::LightData);
  l.type = kTypeNone;
  l.colour = platform::ColourValue{1, 1, 1, 1};
  l.position = platform::Vector3{1, 0, 0};
  l.direction = platform::Vector3{1, 0, 0};
  l.range = std::sqrt(FLT_MAX);
  l.falloff = 1.0f;
  l.attenuation0 = 1.0f;
  l.theta = l.phi = 3.1241393f;
  r->evaluate = &Unlit;
}

// The unit direction from "location" to "to", (0, 0, 1) when they nearly meet.
void Aim(VtD3DLight *r, const ShaderArgs &a) {
  float from[3] = {r->light.position.x, r->light.position.y, r->light.position.z};
  a.Three("location", from);
  float to[3] = {from[0] + r->light.direction.x, from[1] + r->light.direction.y,
                 from[2] + r->light.direction.z};
  a.Three("to", to);
  const Vec3 d = vec::Sub(Load(to), Load(from));
  const float length = std::sqrt(vec::Dot(d, d));
  const Vec3 unit = length < 0.001f ? Vec3{0, 0, 1} : vec::Scale(d, 1.0f / length);
  r->light.position = platform::Vector3{from[0], from[1], from[2]};
  r->light.direction = platform::Vector3{unit.x, unit.y, unit.z};
}

void Convert(VtD3DLight *r, const char *name, const ShaderArgs &a, float lift, float *ambient_sum) {
  float colour[3] = {1, 1, 1};
  a.Three("colour", colour);
  float intensity = 1.0f;
  a.One("intensity", &intensity);
  if (intensity < 1.0f)
    for (float &c : colour) c *= intensity;
  ColourLift(colour, lift);
  std::memcpy(r->colour, colour, sizeof colour);
  r->light.colour = platform::ColourValue{colour[0], colour[1], colour[2], 1.0f};
  if (name == nullptr) return;
  platform::LightData &l = r->light;
  if (std::strcmp(name, "ambient") == 0) {
    for (int i = 0; i < 3; ++i) ambient_sum[i] += colour[i];
  } else if (std::strcmp(name, "eye") == 0) {
    l.type = kTypePoint;
    r->evaluate = &EyeLit;
  } else if (std::strcmp(name, "distant") == 0) {
    l.type = kTypeDirectional;
    Aim(r, a);
    Store(r->vector, Vec3{-l.direction.x, -l.direction.y, -l.direction.z});
    r->evaluate = &DistantLit;
  } else if (std::strcmp(name, "point") == 0) {
    l.type = kTypePoint;
    float position[3] = {l.position.x, l.position.y, l.position.z};
    a.Three("location", position);
    VtTypedValue fall_off;
    (void)a.Get("fall off",
                &fall_off);  // read, as the device's own lights would; the vertex lighting has none
    l.position = platform::Vector3{position[0], position[1], position[2]};
    std::memcpy(r->vector, position, sizeof position);
    r->evaluate = &PointLit;
  } else if (std::strcmp(name, "spot") == 0) {
    l.type = kTypeSpot;
    Aim(r, a);
    float cone = l.phi / kDegrees, delta = (l.phi - l.theta) / kDegrees;
    a.One("cone angle", &cone);
    a.One("cone delta angle", &delta);
    l.phi = cone * kDegrees;
    l.theta = l.phi - delta * kDegrees;
    Store(r->vector, Vec3{l.position.x, l.position.y, l.position.z});
    Store(r->axis, Vec3{-l.direction.x, -l.direction.y, -l.direction.z});
    r->cos_half_cone = std::cos(l.phi * 0.5f);
    r->evaluate = &SpotLit;
  }
}

void RecordsFree(VtD3DContext *c, VtD3DLight *first) {
  while (first != nullptr) {
    VtD3DLight *next = first->next;
    (void)VoPoolFree(c->light_pool, first);
    first = next;
  }
}

}  // namespace

void ColourLift(float *c, float lift) {
  if (lift < 0.0f) {
    for (int i = 0; i < 3; ++i) c[i] = c[i] / (1.0f - lift);
  } else if (lift > 0.0f) {
    for (int i = 0; i < 3; ++i) c[i] = (c[i] + lift) / (1.0f + lift);
  }
}

}  // namespace vo::d3d

namespace vo {

VtStatus VoD3DLightListCreate(VtReference *list) {
  d3d::VtD3DContext *c = d3d::Context();
  if (c == nullptr) return VO_STATUS_UNAVAILABLE;
  if (!RingAccepted(list, "VoD3DLightListCreate", d3d::kModule, "shader", [](void *data) {
        return data == nullptr || shader::ShaderIsLive(static_cast<const VtShader *>(data));
      }))
    return VO_STATUS_BAD_ARGUMENT;
  float ambient[3] = {0, 0, 0};
  d3d::VtD3DLight *first = nullptr, **tail = &first;
  const VtStatus status = d3d::RingWalk(list, [&](void *data) -> VtStatus {
    auto *shader = static_cast<VtShader *>(data);
    auto *r = static_cast<d3d::VtD3DLight *>(VoPoolAllocate(c->light_pool));
    if (r == nullptr) return VO_STATUS_NO_MEMORY;
    d3d::Defaults(r, shader);
    *tail = r;
    tail = &r->next;
    uint32_t type = 0, count = 0;
    const char *name = nullptr;
    void *labels = nullptr;
    if (VoShaderEnquire(shader, &type, &name, &count, &labels) != 0) name = nullptr;
    const d3d::ShaderArgs args{shader, static_cast<const char *const *>(labels), count};
    d3d::Convert(r, name, args, c->colour_lift, ambient);
    return 0;
  });
  if (status != 0) {
    d3d::RecordsFree(c, first);
    Post(VO_STATUS_NO_MEMORY, messages::kD3DListNoMemory, d3d::kModule, "VoD3DLightListCreate");
    return VO_STATUS_NO_MEMORY;
  }
  std::memcpy(c->ambient_sum, ambient, sizeof ambient);
  *tail = c->lights;
  c->lights = first;
  return 0;
}

VtStatus VoD3DLightListDestroy() {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  d3d::VtD3DContext *c = d3d::Context();
  if (c == nullptr) return VO_STATUS_UNAVAILABLE;
  d3d::RecordsFree(c, c->lights);
  c->lights = nullptr;
  return 0;
}

}  // namespace vo

namespace vo::d3d {

bool Argument(VtShader *shader, const char *const *labels, uint32_t count, const char *label,
              VtTypedValue *v) {
  for (uint32_t i = 0; labels != nullptr && i < count; ++i)
    if (labels[i] != nullptr && std::strcmp(labels[i], label) == 0) {
      *v = VtTypedValue{};
      return VoShaderGetArg(shader, label, v) == 0 && v->type != 0;
    }
  return false;
}

ShaderArgs ShaderArgs::Of(VtShader *shader) {
  uint32_t type = 0, count = 0;
  const char *name = nullptr;
  void *labels = nullptr;
  if (shader == nullptr || VoShaderEnquire(shader, &type, &name, &count, &labels) != 0)
    return {shader, nullptr, 0};
  return {shader, static_cast<const char *const *>(labels), count, name};
}

void ShaderArgs::Three(const char *label, float *out) const {
  VtTypedValue v;
  if (Get(label, &v)) std::memcpy(out, v.value.v, 3 * sizeof(float));
}

void ShaderArgs::One(const char *label, float *out) const {
  VtTypedValue v;
  if (Get(label, &v)) *out = v.value.f;
}

bool ShaderArgs::Is(const char *class_name) const {
  return name != nullptr && std::strcmp(name, class_name) == 0;
}

}  // namespace vo::d3d
