// The light list and the light chain of each context: VoLightListSet turns a
// ring of light shaders into the chain the light loop walks, and a worker
// context gets a chain of its own.
//
// The list set by the application (or the default one) holds a reference on
// every light of its chain, given back when another list replaces it, so a
// light the application destroys while listed lives on until then; a
// destroy that would free a light still held is refused. The shadow-map
// builder clears and restores the chain around its passes without touching
// the references.
//
// A worker's copy of a prepared light is a clone the kernel owns: the light
// record is copied byte for byte into the worker's transient-light pool,
// with `self`, its links and its pointers into the globals re-pointed to the
// worker's context. The blocks the light class made (shadow maps, class
// data) stay the source's: a clone never calls the class's entries and
// frees only its own record. Clones are not on the register of live
// shaders, so no application call can reach one. Unprepared lights, and
// area lights not yet built, are copied through VoShaderCopy; a built area
// light is cloned like a prepared one, sharing its class's records (the
// emitter and its build) with the area flags carried over: its class's
// build and release leave the build to the record that made it.

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "shading/voshader/voshader.h"
#include "kernel/vosystem/face.h"

namespace vo::shader {

namespace {

VtLightData *LightOf(const VtShader *shader) { return static_cast<VtLightData *>(shader->data); }

void GlobalsPointersTake(VtLightData *d, VtShaderGlobals *g) {
  d->globalsPw = &g->Pw;
  d->globalsLightVector = g->lightVector;
  d->globalsLightColour = g->lightColour;
}

VtShader *LightClone(ShadingContext *to, const VtShader *source) {
  auto *shader = static_cast<VtShader *>(VoPoolAllocate(to->shared->shader_pool));
  auto *d = static_cast<VtLightData *>(VoPoolAllocate(to->light_pool));
  if (shader == nullptr || d == nullptr) {
    if (shader != nullptr) (void)VoPoolFree(to->shared->shader_pool, shader);
    if (d != nullptr) (void)VoPoolFree(to->light_pool, d);
    return nullptr;
  }
  std::memcpy(d, source->data, sizeof *d);
  d->self = d;
  d->nextCurrent = nullptr;
  d->nextLit = nullptr;
  GlobalsPointersTake(d, to->globals);
  *shader = VtShader{nullptr, source->cls, source->type, d, 1, kShaderLive};
  return shader;
}

void LightCloneFree(ShadingContext *s, VtShader *clone) {
  (void)VoPoolFree(s->light_pool, clone->data);
  *clone = VtShader{};
  (void)VoPoolFree(s->shared->shader_pool, clone);
}

// A prepared light is cloned: the clone shares its record's maps, made on
// the main thread. An area light's clone lights from its source's samples,
// so it is cloned once they are made, or when this image makes none (the
// second light pass off); a copy of its own would make its maps again on
// the worker, where no render may run.
VtShader *LightCopy(ShadingContext *to, VtShader *source) {
  const VtLightData *d = LightOf(source);
  if (d != nullptr && d->prepared != 0 &&
      (d->kind != VO_LIGHT_AREA || d->areaPrepared != 0 || to->second_pass == 0))
    return LightClone(to, source);
  VtShader *copy = VoShaderCopy(source);
  if (copy != nullptr && copy->data != nullptr) {
    GlobalsPointersTake(LightOf(copy), to->globals);
    LightOf(copy)->lightClass = d != nullptr ? d->lightClass : nullptr;
    LightOf(copy)->areaStarted = 1;  // its data is valid, its samples not yet made in this context
    LightOf(copy)->areaPrepared = 0;
  }
  return copy;
}

// A light the list may chain: a light shader with its record. The list's
// entries are null or live shaders (VoLightListSet checks the ring before
// anything is changed, and each chainable light holds a reference until
// the chain is made), so that liveness is not asked again for each.
bool Chainable(const VtShader *shader) {
  return shader != nullptr && shader->data != nullptr && shader->type == VO_SHADER_LIGHT;
}

// A light named twice in a list is chained once (twice would close the
// chain on itself). Before the chain is built every light the list may
// chain has its link set to this mark, which no chained light's link holds:
// a light is on the chain being built when its link is no longer the mark.
const VtShader kUnchainedMark{};
VtShader *const kUnchained = const_cast<VtShader *>(&kUnchainedMark);

void UnchainedMark(VtReference *list) {
  ForEachNode(list, [&](VtReference *node) {
    auto *shader = static_cast<VtShader *>(node->data);
    if (Chainable(shader)) shader->link = kUnchained;
  });
}

// The held chain's lights sorted, so that asking whether a light is held
// (at each destroy of a light) does not walk the chain; left empty when
// memory runs out, and the chain is walked.
void HeldSort(ShaderShared *shared) {
  std::vector<const VtShader *> &held = shared->held_sorted;
  held.clear();
  try {
    for (const VtShader *light = shared->held_lights; light != nullptr; light = light->link)
      held.push_back(light);
    std::sort(held.begin(), held.end());
  } catch (const std::bad_alloc &) {
    held.clear();
  }
}

}  // namespace

VtStatus LightListSet(ShadingContext *s, VtReference *list) {
  s->light_list = list;
  s->light_head = nullptr;
  s->light_count = 0;
  s->globals->currentLights = nullptr;
  if (list == nullptr) return 0;
  UnchainedMark(list);
  VtShader *tail = nullptr;
  VtReference *node = list;
  do {
    auto *shader = static_cast<VtShader *>(node->data);
    node = node->next;
    // Only light shaders carry light records.
    if (!Chainable(shader) || shader->link != kUnchained) continue;
    VtLightData *d = LightOf(shader);
    ++s->light_count;
    if (s->light_head == nullptr) {
      shader->link = nullptr;
      s->light_head = tail = shader;
      if (d->kind != VO_LIGHT_AMBIENT) d->lightClass = shader->cls;
    } else if (d->kind == VO_LIGHT_AMBIENT) {
      shader->link = s->light_head;
      s->light_head = shader;
    } else {
      d->lightClass = shader->cls;
      shader->link = nullptr;
      tail->link = shader;
      tail = shader;
    }
  } while (node != list);
  if (s->light_head != nullptr) s->globals->currentLights = LightOf(s->light_head);
  return 0;
}

VtStatus LightListHold(ShadingContext *s, VtReference *list) {
  // Every light the new list may chain takes a reference first (one per
  // naming), so that giving back the old chain's frees none of them; the
  // chain then takes its one and the extra ones go.
  auto each_chainable = [&](int step) {
    ForEachNode(list, [&](VtReference *node) {
      auto *shader = static_cast<VtShader *>(node->data);
      if (Chainable(shader)) shader->references += step;
    });
  };
  each_chainable(+1);
  VtShader *old = s->shared->held_lights;
  s->shared->held_lights = nullptr;  // no last destroy below is refused
  while (old != nullptr) {
    VtShader *next = old->link;  // read before the light may go
    ShaderReferenceDrop(s, old);
    old = next;
  }
  const VtStatus st = LightListSet(s, list);
  for (VtShader *light = s->light_head; light != nullptr; light = light->link) ++light->references;
  s->shared->held_lights = s->light_head;
  s->shared->held_sorted.clear();  // sorted when first asked
  each_chainable(-1);
  return st;
}

bool LightHeld(const ShadingContext *s, const VtShader *light) {
  const std::vector<const VtShader *> &held = s->shared->held_sorted;
  if (s->shared->held_lights == nullptr) return false;
  RegisterGuard hold;  // destroys on two threads would sort at once
  if (held.empty()) HeldSort(s->shared);
  if (!held.empty()) return std::binary_search(held.begin(), held.end(), light);
  for (const VtShader *l = s->shared->held_lights; l != nullptr; l = l->link)
    if (l == light) return true;
  return false;
}

VtStatus LightChainCopy(const ShadingContext *from, ShadingContext *to) {
  to->light_head = nullptr;
  to->light_list = nullptr;
  to->light_count = 0;
  VtShader *tail = nullptr;
  for (VtShader *source = from->light_head; source != nullptr; source = source->link) {
    VtShader *copy = LightCopy(to, source);
    if (copy == nullptr) return kNoMemory;
    copy->link = nullptr;
    (tail != nullptr ? tail->link : to->light_head) = copy;
    tail = copy;
    ++to->light_count;
    VtReference *node = VoShaderReferenceCreate(copy);
    if (node == nullptr) return kNoMemory;
    to->light_list = VoShaderReferenceAppend(to->light_list, node);
  }
  to->globals->currentLights = to->light_head != nullptr ? LightOf(to->light_head) : nullptr;
  return 0;
}

VtStatus LightChainFree(ShadingContext *s) {
  VtStatus st = 0;
  for (VtShader *light = s->light_head; light != nullptr;) {
    VtShader *next = light->link;
    VtLightData *d = LightOf(light);
    // The maps belong to the source light.
    d->shadowValid = 0;
    std::memset(d->shadowMaps, 0, sizeof d->shadowMaps);
    d->shadowMapBytes = 0;
    if (ShaderLive(s, light))
      st |= VoShaderDestroy(light);
    else
      LightCloneFree(s, light);
    light = next;
  }
  s->light_head = nullptr;
  s->light_count = 0;
  st |= VoReferenceListDestroy(s->light_list, nullptr);
  s->light_list = nullptr;
  return st;
}

}  // namespace vo::shader

namespace vo {

using namespace shader;

VtStatus VoLightListSet(VtReference *list) {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  if (s == nullptr) return st;
  // The ring is checked before anything is changed: a refused one leaves
  // the current list as it was. Null entries and live shaders of other
  // types are passed over as ever.
  if (!RingAccepted(list, "VoLightListSet", VO_MODULE_SHADER, "shader", [&](void *data) {
        return data == nullptr || ShaderLive(s, static_cast<VtShader *>(data));
      }))
    return kRefused;
  // A running render keeps the lights it prepared; the list is made when
  // it ends.
  return LightListHold(s, list);
}

VtReference *VoLightListGet() {
  VtStatus st;
  const ShadingContext *s = StateFor(&st);
  return s != nullptr ? s->light_list : nullptr;
}

}  // namespace vo
