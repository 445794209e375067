// Changes of what a running render prepared, made on the application's
// thread while it runs: each waits in the kernel's queue (RenderAfter) and
// is made when the outermost render ends, through the same setter the
// application called, so a render never meets a shader it did not prepare
// nor loses one it reads, and the next render sees the change. A waiting
// change holds one reference on the shader it sets, and one on every light
// of the list it sets, so that a destroy made meanwhile frees nothing the
// change is to set; the references go once the change is made. An
// environment set waits with its handle: destroyed meanwhile, it leaves the
// register at once and is freed after the change (its free clears the
// global environment then).

#include <new>
#include <vector>

#include "shading/voshader/voshader.h"
#include "kernel/vosystem/face.h"

namespace vo::shader {

struct Waiting {
  WaitingChange kind;
  VtMaterial *material;
  uint32_t code;
  void *object;
  std::vector<VtShader *> lights;  // a light list's, each holding a reference
};

namespace {

// Whether the change holds a reference on object itself (an environment
// waits with its handle alone, a light list through its lights).
bool HoldsObject(const Waiting *w) {
  return w->kind != WaitingChange::kEnvironment && w->kind != WaitingChange::kLightList &&
         w->object != nullptr;
}

// The holder a refused destroy names: the setter, and the material when
// the change is a slot's.
ShaderHolder WaitingNamed(const Waiting *w) {
  switch (w->kind) {
    case WaitingChange::kMainSlot:
      return {"the slot set while a render ran (VoMaterialSetShader) of material", w->material};
    case WaitingChange::kSecondarySlot:
      return {"the secondary slot set while a render ran (VoMaterialSetSecondaryShader) of material",
              w->material};
    case WaitingChange::kGlobalFilter:
      return {"the global filter set while a render ran (VoShadingSetGlobalFilter)", nullptr};
    case WaitingChange::kBackground:
      return {"the background set while a render ran (VoBackgroundSet)", nullptr};
    case WaitingChange::kForeground:
      return {"the foreground set while a render ran (VoForegroundSet)", nullptr};
    case WaitingChange::kEnvironment: break;
    case WaitingChange::kLightList:
      return {"the light list set while a render ran (VoLightListSet)", nullptr};
  }
  return {"a change waiting for the render's end", nullptr};
}

void WaitingEnrol(ShadingContext *s, const Waiting *w) {
  RegisterGuard hold;
  s->shared->waiting.push_back(w);
}

void WaitingLeave(ShadingContext *s, const Waiting *w) {
  RegisterGuard hold;
  std::vector<const Waiting *> &all = s->shared->waiting;
  for (size_t i = 0; i < all.size(); ++i)
    if (all[i] == w) {
      all.erase(all.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
}

bool Chainable(ShadingContext *s, void *data) {
  auto *shader = static_cast<VtShader *>(data);
  return shader != nullptr && ShaderLive(s, shader) && shader->data != nullptr &&
         shader->type == VO_SHADER_LIGHT;
}

// The list set: the ring itself while it is whole, else (its nodes given
// back meanwhile) a ring of the lights it held, which the chain takes and
// which then goes.
void LightListMake(ShadingContext *s, const Waiting *w) {
  auto *ring = static_cast<VtReference *>(w->object);
  if (ring == nullptr || RingLength(ring) != kRingBroken) {
    (void)LightListHold(s, ring);
    return;
  }
  VtReference *copy = nullptr;
  for (VtShader *light : w->lights)
    if (VtReference *node = VoShaderReferenceCreate(light))
      copy = copy != nullptr ? VoShaderReferenceAppend(copy, node) : node;
  (void)LightListHold(s, copy);
  s->light_list = nullptr;
  (void)VoReferenceListDestroy(copy, nullptr);
}

void ChangeMake(void *object) {
  auto *w = static_cast<Waiting *>(object);
  ShadingContext *s = StateGet();
  auto *shader = static_cast<VtShader *>(w->object);
  if (s != nullptr) {
    // Off the register before it is made: the setter it calls takes its
    // own reference, and the change's goes below.
    WaitingLeave(s, w);
    switch (w->kind) {
      case WaitingChange::kMainSlot: (void)VoMaterialSetShader(w->material, shader); break;
      case WaitingChange::kSecondarySlot:
        (void)VoMaterialSetSecondaryShader(w->material, w->code, shader);
        break;
      case WaitingChange::kGlobalFilter: (void)VoShadingSetGlobalFilter(w->code, shader); break;
      case WaitingChange::kBackground: (void)VoBackgroundSet(shader); break;
      case WaitingChange::kForeground: (void)VoForegroundSet(shader); break;
      case WaitingChange::kEnvironment:
        s->imaging.global_environment = static_cast<VtEnvironment *>(w->object);
        break;
      case WaitingChange::kLightList: LightListMake(s, w); break;
    }
    if (HoldsObject(w)) ShaderReferenceDrop(s, shader);
    for (VtShader *light : w->lights) ShaderReferenceDrop(s, light);
  }
  delete w;
}

}  // namespace

bool ChangeWaits(ShadingContext *s, WaitingChange kind, VtMaterial *material, uint32_t code, void *object) {
  if (!RenderAfterWaits()) return false;
  Waiting *w = nullptr;
  try {
    w = new Waiting{kind, material, code, object, {}};
    if (kind == WaitingChange::kLightList)
      ForEachNode(static_cast<VtReference *>(object), [&](VtReference *node) {
        if (Chainable(s, node->data)) w->lights.push_back(static_cast<VtShader *>(node->data));
      });
    WaitingEnrol(s, w);
  } catch (const std::bad_alloc &) {
    delete w;
    return false;
  }
  if (!RenderAfter(w, &ChangeMake)) {
    WaitingLeave(s, w);
    delete w;
    return false;
  }
  for (VtShader *light : w->lights) ++light->references;
  if (HoldsObject(w)) ++static_cast<VtShader *>(object)->references;
  return true;
}

uint32_t WaitingHolds(ShadingContext *s, const VtShader *shader, ShaderHolder *one) {
  uint32_t held = 0;
  RegisterGuard hold;
  for (const Waiting *w : s->shared->waiting) {
    uint32_t n = HoldsObject(w) && w->object == shader ? 1 : 0;
    for (const VtShader *light : w->lights) n += light == shader ? 1 : 0;
    if (n != 0 && held == 0 && one->kind == nullptr) *one = WaitingNamed(w);
    held += n;
  }
  return held;
}

}  // namespace vo::shader
