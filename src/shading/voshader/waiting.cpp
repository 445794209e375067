// What a call waiting for the outermost render's end holds of shaders. A
// change of what a running render holds waits through the kernel's one path
// (CallAfterRender); the keepers registered here make a call that sets a
// shader or a light list into a holder (a material's slots, a global filter,
// the background, the foreground, the light list: the interface
// description's "sets" lines) hold, from its queueing until it was made, one
// reference on the shader it sets and one on every light of the list it
// sets, so that a destroy made meanwhile frees nothing the call is to set,
// and counts the call among the holders (CallAfterRenderNames in
// ShaderHolderReferences: a destroy that would leave the references at or
// below the holders is refused with message 2903 naming the call). A call
// that only changes a shader (an argument) holds nothing, as the same call
// made after the render would find it.
//
// Invariants a reader must know:
// - what a keeper took goes back after the call was made, so a shader the
//   call set is held by its new holder alone, and one the call failed to set
//   goes if nothing else holds it;
// - a list given back meanwhile (its nodes parked, its ring broken) is made
//   again of the lights it held when the call was queued; the list made for
//   the call is given back after it, leaving the light chain in place and no
//   current list handle, as the application's list given back after the set.

#include <new>
#include <vector>

#include "shading/voshader/face.h"
#include "shading/voshader/voshader.h"
#include "kernel/vosystem/face.h"

namespace vo::shader {
namespace {

void ShaderDrop(void *, void *held) {
  ShadingContext *s = StateGet();
  if (s != nullptr && held != nullptr) ShaderReferenceDrop(s, static_cast<VtShader *>(held));
}

uint32_t ShaderNames(const void *, const void *held, const void *target) { return held == target ? 1 : 0; }

// A list argument holds the lights its ring chains when queued.
struct ListHeld {
  std::vector<VtShader *> lights;
  VtReference *stand_in = nullptr;  // the list made again, once given back
};

bool Chainable(ShadingContext *s, void *data) {
  auto *shader = static_cast<VtShader *>(data);
  return shader != nullptr && ShaderLive(s, shader) && shader->data != nullptr &&
         shader->type == VO_SHADER_LIGHT;
}

void *ListHold(void *object) {
  ShadingContext *s = StateGet();
  auto *ring = static_cast<VtReference *>(object);
  if (s == nullptr || RingLength(ring) == kRingBroken) return nullptr;
  auto *held = new (std::nothrow) ListHeld;
  if (held == nullptr) return nullptr;
  try {
    ForEachNode(ring, [&](VtReference *node) {
      if (Chainable(s, node->data)) held->lights.push_back(static_cast<VtShader *>(node->data));
    });
  } catch (const std::bad_alloc &) {
    delete held;
    return nullptr;
  }
  if (held->lights.empty()) {  // no list of lights: nothing to keep
    delete held;
    return nullptr;
  }
  for (VtShader *light : held->lights) ++light->references;
  return held;
}

void *ListStandIn(void *object, void *held_data) {
  auto *held = static_cast<ListHeld *>(held_data);
  auto *ring = static_cast<VtReference *>(object);
  if (held == nullptr || RingLength(ring) != kRingBroken) return object;
  VtReference *copy = nullptr;
  for (VtShader *light : held->lights)
    if (VtReference *node = VoShaderReferenceCreate(light))
      copy = copy != nullptr ? VoShaderReferenceAppend(copy, node) : node;
  held->stand_in = copy;
  return copy;
}

void ListDrop(void *, void *held_data) {
  auto *held = static_cast<ListHeld *>(held_data);
  ShadingContext *s = StateGet();
  if (held == nullptr) return;
  if (s != nullptr) {
    if (held->stand_in != nullptr) {
      if (s->light_list == held->stand_in) s->light_list = nullptr;
      (void)VoReferenceListDestroy(held->stand_in, nullptr);
    }
    for (VtShader *light : held->lights) ShaderReferenceDrop(s, light);
  }
  delete held;
}

uint32_t ListNames(const void *, const void *held_data, const void *target) {
  const auto *held = static_cast<const ListHeld *>(held_data);
  uint32_t n = 0;
  if (held != nullptr)
    for (const VtShader *light : held->lights) n += light == target ? 1 : 0;
  return n;
}

// A shader argument holds the shader when it is live (one given back
// already is held by nothing), as a render-and-post run holds its steps.
constexpr WaitedKeeper kShaderKeeper{"VtShader", &ShaderRunHold, &ShaderDrop, nullptr, &ShaderNames};
constexpr WaitedKeeper kListKeeper{"VtReference", &ListHold, &ListDrop, &ListStandIn, &ListNames};

// What a render holds of the shading module: the lights, the background,
// the foreground, the global filters and environment, the defaults a
// primitive without its own reads; a material reaches its shaders, and a
// shader the shaders and objects its arguments hold, read through its
// class's argument entry (a shadeable argument asked for its shader), so no
// class has code of its own here. Only what the registers know live is
// expanded: an argument's address that is no object is held as itself.
void ShadingRoots(HeldWalk *walk) {
  ShadingContext *s = StateGet();
  if (s == nullptr) return;
  HeldAdd(walk, s->light_list, "VtReference");
  for (const VtShader *l = s->light_head; l != nullptr; l = l->link) HeldAdd(walk, l, "VtShader");
  for (const VtShader *shader : {s->background, s->foreground, s->default_light, s->default_texture_space})
    HeldAdd(walk, shader, "VtShader");
  for (const VtShader *filter : s->global_filters) HeldAdd(walk, filter, "VtShader");
  HeldAdd(walk, s->default_material, "VtMaterial");
  HeldAdd(walk, s->imaging.global_environment, "VtEnvironment");
}

void MaterialExpand(HeldWalk *walk, const void *object) {
  const auto *m = static_cast<const VtMaterial *>(object);
  for (const VtShader *slot :
       {m->colour, m->reflectance, m->second_reflectance, m->displacement, m->transparency,
        m->secondary_colour, m->secondary_displacement, m->secondary_reflectance})
    HeldAdd(walk, slot, "VtShader");
}

void ShaderExpand(HeldWalk *walk, const void *object) {
  ShadingContext *s = StateGet();
  const auto *shader = static_cast<const VtShader *>(object);
  if (s == nullptr || !ShaderLive(s, shader)) return;
  const VtShaderPrototype *c = shader->cls;
  if (c == nullptr || c->getArg == nullptr) return;
  for (uint32_t i = 0; i < c->parameterCount; ++i) {
    VtTypedValue v{};
    v.type = VtShaderColour;
    (void)c->getArg(shader->data, i, &v);
    if (v.type == VtShaderColour) HeldAdd(walk, v.value.p, "VtShader");
    if (v.type == VtGenericPtr) HeldAdd(walk, v.value.p, nullptr);
  }
}

bool ShaderLiveHeld(const void *object) {
  ShadingContext *s = StateGet();
  return s != nullptr && ShaderLive(s, static_cast<const VtShader *>(object));
}

bool MaterialLiveHeld(const void *object) {
  ShadingContext *s = StateGet();
  if (s == nullptr) return false;
  RegisterGuard hold;
  return s->shared->materials.count(static_cast<const VtMaterial *>(object)) != 0;
}

// A class's instance data stands for its shader.
const void *InstanceShader(const void *data) {
  ShadingContext *s = StateGet();
  if (s == nullptr || data == nullptr) return data;
  RegisterGuard hold;
  auto it = s->shared->instance_data.find(data);
  return it != s->shared->instance_data.end() ? it->second : data;
}

constexpr HeldType kHeldShader{"VtShader", &ShaderExpand, nullptr, &ShaderLiveHeld};
constexpr HeldType kHeldMaterial{"VtMaterial", &MaterialExpand, nullptr, &MaterialLiveHeld};
constexpr HeldType kHeldInstanceData{"VtGenericPtr", nullptr, &InstanceShader, nullptr};

}  // namespace

void WaitingKeepersRegister() {
  CallAfterRenderKeeper(&kShaderKeeper);
  CallAfterRenderKeeper(&kListKeeper);
  HeldRootsRegister(&ShadingRoots);
  HeldTypeRegister(&kHeldShader);
  HeldTypeRegister(&kHeldMaterial);
  HeldTypeRegister(&kHeldInstanceData);
}

}  // namespace vo::shader
