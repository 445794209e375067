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

namespace {

struct Waiting {
  WaitingChange kind;
  VtMaterial *material;
  uint32_t code;
  void *object;
  std::vector<VtShader *> lights;  // a light list's, each holding a reference
};

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
    if (w->kind != WaitingChange::kEnvironment && w->kind != WaitingChange::kLightList && shader != nullptr)
      ShaderReferenceDrop(s, shader);
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
  } catch (const std::bad_alloc &) {
    delete w;
    return false;
  }
  if (!RenderAfter(w, &ChangeMake)) {
    delete w;
    return false;
  }
  for (VtShader *light : w->lights) ++light->references;
  if (kind != WaitingChange::kEnvironment && kind != WaitingChange::kLightList && object != nullptr)
    ++static_cast<VtShader *>(object)->references;
  return true;
}

}  // namespace vo::shader
