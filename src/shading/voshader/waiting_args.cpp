// A light's argument set on the application's thread while a render that
// lists it runs (from its callbacks, or a map or cube face render's): the
// render reads the light as it prepared it (its place, cone and maps made
// at the image's set-up, and again by a worker that found them out of date,
// which is refused there), so the value waits in the kernel's queue and is
// set when the outermost render ends, through VoShaderSetArg as the
// application called it; until then VoShaderGetArg answers what the
// render reads. A light not in the running render's chain is set at once.
//
// Invariants a reader must know:
// - the value was checked (label, type, finite) before it waits: the set
//   at the end answers nothing to anyone, and a light given back meanwhile
//   (out of the register by then) is passed over without a word;
// - a string value is copied, the label too: the application's may go.

#include <cstring>

#include "shading/voshader/voshader.h"
#include "kernel/vosystem/face.h"

namespace vo::shader {
namespace {

struct WaitingArg {
  VtShader *light;
  VtTypedValue value;
  char *text;  // a string value's copy, or null
  char label[1];
};

bool Chained(const ShadingContext *s, const VtShader *light) {
  for (const VtShader *l = s->light_head; l != nullptr; l = l->link)
    if (l == light) return true;
  return false;
}

char *Copy(const char *text) {
  const size_t n = std::strlen(text) + 1;
  if (n > UINT32_MAX) return nullptr;
  auto *copy = static_cast<char *>(VoAllocate(static_cast<uint32_t>(n)));
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

void WaitingArgFree(WaitingArg *w) {
  VoDeallocate(w->text);
  VoDeallocate(w);
}

void WaitingArgSet(void *object) {
  auto *w = static_cast<WaitingArg *>(object);
  ShadingContext *s = StateGet();
  if (s != nullptr && ShaderLive(s, w->light)) (void)VoShaderSetArg(w->light, w->label, &w->value);
  WaitingArgFree(w);
}

}  // namespace

bool LightArgWaits(ShadingContext *s, VtShader *light, const char *label, const VtTypedValue &value) {
  if (light->type != VO_SHADER_LIGHT || !RenderAfterWaits() || !Chained(s, light)) return false;
  const size_t label_bytes = std::strlen(label);
  if (label_bytes > UINT32_MAX - sizeof(WaitingArg)) return false;
  auto *w = static_cast<WaitingArg *>(VoAllocate(static_cast<uint32_t>(sizeof(WaitingArg) + label_bytes)));
  if (w == nullptr) return false;  // set at once, as before
  w->light = light;
  w->value = value;
  w->text = nullptr;
  std::memcpy(w->label, label, label_bytes + 1);
  if (value.type == VtString && value.value.s != nullptr) {
    w->text = Copy(value.value.s);
    w->value.value.s = w->text;
  }
  if ((value.type == VtString && value.value.s != nullptr && w->text == nullptr) ||
      !RenderAfter(w, &WaitingArgSet)) {
    WaitingArgFree(w);
    return false;
  }
  return true;
}

}  // namespace vo::shader
