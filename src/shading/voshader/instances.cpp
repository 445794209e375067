// Shader instances: creation by type and class name, reference counting,
// copies, class replacement, preparation, arguments by label, execution and
// the shadeable-colour evaluation.
//
// Every shader handed to an application is on the register of live shaders
// until its last reference goes; the object interface refuses any other
// address (message 2102) instead of reading it. The application's destroy
// never takes a reference a holder took (a material's slot, the background,
// the foreground, the light list): those holders give theirs back through
// ShaderHolderRelease, and a destroy that would leave fewer references than
// they hold is refused. VoShaderExecute is the
// per-point call: it takes no lock, allocates nothing and does not consult
// the register (renderers pass the shaders their materials hold); it only
// refuses a record whose class word was cleared when it was destroyed.
//
// A shader whose last reference goes while a render runs on the
// application's thread leaves the register at once but keeps its record and
// data, class word included, until the outermost render ends (the kernel's
// RenderAfter): the render may still be reading it.
//
// A class is instantiated only through its create and destroy entries and
// its arguments only through its get and set entries; a class without them
// is refused (message 2101) rather than called through null. Replacing a
// class makes the new data first and switches only on success. A failed
// environment push is never popped. A light argument carrying a number that
// is not finite is refused (message 2926) before its class sees it, so a
// light keeps the last sound value.

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "shading/voshader/voshader.h"
#include "kernel/vosystem/face.h"

namespace vo::shader {

namespace {

// Diagnostics of instances (established numbers).
constexpr uint32_t kMsgCreateNoClass = 242;
constexpr uint32_t kMsgCreateNoMemory = 243;
constexpr uint32_t kMsgDestroyNull = 244;
constexpr uint32_t kMsgCopyNull = 246;
constexpr uint32_t kMsgCopyNoMemory = 250;
constexpr uint32_t kMsgResetNull = 251;
constexpr uint32_t kMsgEnquireNull = 253;
constexpr uint32_t kMsgSetArgNull = 254;
constexpr uint32_t kMsgGetArgNull = 255;
constexpr uint32_t kMsgSetArgLabel = 256;
constexpr uint32_t kMsgGetArgLabel = 257;
constexpr uint32_t kMsgSetArgType = 258;
constexpr uint32_t kMsgReplaceNull = 631;
constexpr uint32_t kMsgReplaceNoClass = 632;
constexpr uint32_t kMsgPrerenderNull = 662;

const void *const kNull = nullptr;

// A class can be instantiated only with both its create and destroy entries.
VtStatus Instantiable(const VtShaderPrototype *c) {
  if (c->create == nullptr)
    return Refuse(kRefused, messages::kShaderEntryMissing, c->name, uint32_t{VO_SLOT_CREATE});
  if (c->destroy == nullptr)
    return Refuse(kRefused, messages::kShaderEntryMissing, c->name, uint32_t{VO_SLOT_DESTROY});
  return 0;
}

// New instance data through entries 7 and 5, its prepared flag clear; null
// when the create entry gives none.
void *DataMake(const VtShaderPrototype *c) {
  void *data = c->create();
  if (data == nullptr) return nullptr;
  if (c->initialise != nullptr) (void)c->initialise(data);
  *static_cast<uint32_t *>(data) = 0;
  return data;
}

// Enters the shader's instance data in the register the class entries ask;
// false when memory runs out.
bool DataRegister(ShaderShared *shared, const VtShader *shader) {
  try {
    RegisterGuard hold;
    shared->instance_data[shader->data] = shader;
  } catch (const std::bad_alloc &) {
    return false;
  }
  return true;
}

void DataGone(VtShader *shader) {
  const VtShaderPrototype *c = shader->cls;
  if (shader->data == nullptr) return;
  if (ShadingContext *s = StateGet()) {
    RegisterGuard hold;
    auto it = s->shared->instance_data.find(shader->data);
    if (it != s->shared->instance_data.end() && it->second == shader) s->shared->instance_data.erase(it);
  }
  if (c->release != nullptr) (void)c->release(shader->data);
  if (shader->type == VO_SHADER_LIGHT) LightShadowRelease(shader);
  (void)c->destroy(shader->data);
  shader->data = nullptr;
}

// A registered record with fresh data, reference count 1; null when memory
// or the create entry fails.
VtShader *ShaderMake(ShadingContext *s, VtShaderPrototype *c, uint32_t type) {
  ShaderShared *shared = s->shared;
  auto *shader = static_cast<VtShader *>(VoPoolAllocate(shared->shader_pool));
  if (shader == nullptr) return nullptr;
  *shader = VtShader{nullptr, c, type, nullptr, 0, kShaderLive};
  try {
    RegisterGuard hold;
    shared->live.insert(shader);
  } catch (const std::bad_alloc &) {
    (void)VoPoolFree(shared->shader_pool, shader);
    return nullptr;
  }
  shader->data = DataMake(c);
  if (shader->data != nullptr && !DataRegister(shared, shader)) {
    (void)c->destroy(shader->data);
    shader->data = nullptr;
  }
  if (shader->data == nullptr) {
    {
      RegisterGuard hold;
      shared->live.erase(shader);
    }
    (void)VoPoolFree(shared->shader_pool, shader);
    return nullptr;
  }
  shader->references = 1;
  return shader;
}

void ShaderFree(ShadingContext *s, VtShader *shader) {
  ShaderShared *shared = s->shared;
  {
    RegisterGuard hold;
    shared->live.erase(shader);
  }
  *shader = VtShader{};
  (void)VoPoolFree(shared->shader_pool, shader);
}

// The index of a label among the class's labels, or -1.
int LabelIndex(const VtShaderPrototype *c, const char *label) {
  if (label == nullptr) return -1;
  for (uint32_t i = 0; i < c->parameterCount; ++i)
    if (std::strcmp(c->labels[i], label) == 0) return static_cast<int>(i);
  return -1;
}

// The state for an object-interface call on a shader: started module, a
// non-null live shader (message on null: the operation's own number).
ShadingContext *ShaderCall(VtShader *shader, uint32_t null_message, VtStatus *status) {
  ShadingContext *s = StateFor(status);
  if (s == nullptr) return nullptr;
  if (shader == nullptr) {
    *status = Refuse(kRefused, null_message, kNull);
    return nullptr;
  }
  if (!ShaderKnownOrNull(s, shader)) {
    *status = kRefused;
    return nullptr;
  }
  return s;
}

// As ShaderCall, for the queries that only read the instance: a worker's
// copy of a light answers them too, so a class walking the current lights
// (light scattering) reads the same arguments on any thread.
ShadingContext *ShaderRead(VtShader *shader, uint32_t null_message, VtStatus *status) {
  ShadingContext *s = StateFor(status);
  if (s != nullptr && shader != nullptr && ContextLightCopy(s, shader)) return s;
  return ShaderCall(shader, null_message, status);
}

VtStatus DestroyListed(void *data) { return VoShaderDestroy(static_cast<VtShader *>(data)); }

// The colour a shader leaves, by its class's type.
void ResultRead(const VtShaderGlobals *g, uint32_t type, float out[3]) {
  const float *from = g->Co;
  switch (type) {
    case VO_SHADER_TRANSPARENCY: from = g->To; break;
    case VO_SHADER_DISPLACEMENT: from = g->N; break;
    case VO_SHADER_BACKGROUND: from = g->Cb; break;
    default: break;
  }
  if (from != nullptr) std::memcpy(out, from, 3 * sizeof(float));
}

// Executes inside a pushed environment and reads the result; false when the
// push failed (nothing is popped then).
bool ShadeableEvaluate(float colour[3], VtShader *shader) {
  if (shader->check != kShaderLive) {
    Post(kRefused, messages::kShaderNotLive, VO_MODULE_SHADER, static_cast<const void *>(shader));
    return false;
  }
  if (VoShaderPushEnvironment() != 0) return false;
  ShadingContext *s = StateGet();
  float result[3] = {0, 0, 0};
  if (VoShaderExecute(shader) == 0) ResultRead(s->globals, shader->cls->type, result);
  (void)VoShaderPopEnvironment();
  if (colour != nullptr) std::memcpy(colour, result, sizeof result);
  return true;
}

}  // namespace

bool ShaderLive(ShadingContext *s, const VtShader *shader) {
  RegisterGuard hold;
  return s->shared->live.count(shader) != 0;
}

bool ClassEntryDataRefused(const void *data, VtProc entry) {
  ShadingContext *s = StateGet();
  if (s == nullptr || data == nullptr) return false;
  const VtShaderPrototype *c = nullptr;
  {
    RegisterGuard hold;
    auto it = s->shared->instance_data.find(data);
    if (it != s->shared->instance_data.end()) c = it->second->cls;
  }
  if (c != nullptr) {
    const auto is = [entry](auto slot) { return reinterpret_cast<VtProc>(slot) == entry; };
    if (is(c->getArg) || is(c->setArg) || is(c->initialise) || is(c->prerender) || is(c->evaluate) ||
        is(c->evaluateImage) || is(c->destroy) || is(c->prepare) || is(c->release))
      return false;
    for (VtProc e : c->extension)
      if (e == entry) return false;
  }
  const api::VtApiFunction *named = api::FindFunctionByEntry(reinterpret_cast<const void *>(entry));
  Post(kRefused, messages::kEntryDataForeign, VO_MODULE_SHADER,
       named != nullptr ? named->name : "a class entry", data);
  return true;
}

bool ShaderIsLive(const VtShader *shader) {
  ShadingContext *s = StateGet();
  return s != nullptr && ShaderLive(s, shader);
}

bool ContextLightCopy(const ShadingContext *s, const VtShader *shader) {
  if (!s->is_copy) return false;
  for (const VtShader *light = s->light_head; light != nullptr; light = light->link)
    if (light == shader) return true;
  return false;
}

bool ShaderKnownOrNull(ShadingContext *s, const VtShader *shader) {
  if (shader == nullptr || ShaderLive(s, shader)) return true;
  Post(kRefused, messages::kShaderNotLive, VO_MODULE_SHADER, static_cast<const void *>(shader));
  return false;
}

namespace {

// A shader whose last reference went during a render, freed with its data
// (and whatever its class frees with it) once no render reads it.
void ShaderFreeAfterRender(void *object) {
  auto *shader = static_cast<VtShader *>(object);
  ShadingContext *s = StateGet();
  if (s == nullptr) return;
  DataGone(shader);
  ShaderFree(s, shader);
}

}  // namespace

void ShaderReferenceDrop(ShadingContext *s, VtShader *shader) {
  if (shader->references-- != 1) return;
  // Off the register at once: the application's later calls refuse it.
  {
    RegisterGuard hold;
    s->shared->live.erase(shader);
  }
  if (RenderAfter(shader, &ShaderFreeAfterRender)) return;
  DataGone(shader);
  ShaderFree(s, shader);
}

void ShadersGiveBack(ShadingContext *s) {
  ShaderShared *shared = s->shared;
  for (;;) {
    VtShader *shader = nullptr;
    {
      RegisterGuard hold;
      if (shared->live.empty()) return;
      shader = const_cast<VtShader *>(*shared->live.begin());
    }
    // A class that destroys shaders of its own when its data goes may reach
    // this one again: with no reference left to drop, that destroy frees
    // nothing, and this shader is freed once, here.
    shader->references = 0;
    DataGone(shader);
    ShaderFree(s, shader);
  }
}

}  // namespace vo::shader

namespace vo {

using namespace shader;

VtShader *VoShaderCreate(uint32_t type, const char *name) {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  if (s == nullptr) return nullptr;
  VtShaderPrototype *c = ClassFind(s->shared, type, name);
  if (c == nullptr) {
    Post(kRefused, kMsgCreateNoClass, VO_MODULE_SHADER, name != nullptr ? name : "", type);
    return nullptr;
  }
  if (Instantiable(c) != 0) return nullptr;
  VtShader *shader = ShaderMake(s, c, type);
  if (shader == nullptr) Post(kNoMemory, kMsgCreateNoMemory, VO_MODULE_SHADER);
  return shader;
}

VtStatus VoShaderDestroy(VtShader *shader) {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  VtStatus st;
  ShadingContext *s = ShaderCall(shader, kMsgDestroyNull, &st);
  if (s == nullptr) return st;
  // The last reference of a light the current list chains is the list's
  // own: the destroy is one too many, and freeing the light would leave
  // the chain (and a render walking it) on freed memory.
  if (shader->references == 1 && shader->type == VO_SHADER_LIGHT && LightHeld(s, shader))
    return Refuse(kRefused, messages::kLightStillListed, static_cast<const void *>(shader));
  // So with the references every other holder holds (materials, the
  // background, foreground and global filters, the light list, the calls
  // waiting for a render's end): when they are all that is left, the caller
  // holds none, and the destroy would free the shader under a holder the
  // running or the next render reads.
  ShaderHolder one{};
  if (shader->references <= ShaderHolderReferences(s, shader, &one)) {
    char holder[160];
    if (one.procedure != nullptr)
      std::snprintf(holder, sizeof holder, "%s (%s)", one.kind, one.procedure);
    else if (one.holder != nullptr)
      std::snprintf(holder, sizeof holder, "%s %p", one.kind, one.holder);
    else
      std::snprintf(holder, sizeof holder, "%s", one.kind);
    return Refuse(kRefused, messages::kShaderStillHeld, "VoShaderDestroy", static_cast<const void *>(shader),
                  static_cast<const char *>(holder));
  }
  ShaderReferenceDrop(s, shader);
  return 0;
}

namespace shader {

void *ShaderRunHold(void *object) {
  ShadingContext *s = StateGet();
  auto *shader = static_cast<VtShader *>(object);
  if (s == nullptr || !ShaderLive(s, shader)) return nullptr;
  ++shader->references;
  return shader;
}

VtStatus ShaderRunRelease(void *object) {
  ShadingContext *s = StateGet();
  if (s != nullptr && object != nullptr) ShaderReferenceDrop(s, static_cast<VtShader *>(object));
  return 0;
}

VtStatus ShaderHolderRelease(VtShader *shader) {
  VtStatus st;
  ShadingContext *s = ShaderCall(shader, kMsgDestroyNull, &st);
  if (s == nullptr) return st;
  ShaderReferenceDrop(s, shader);
  return 0;
}

}  // namespace shader

VtShader *VoShaderCopy(VtShader *shader) {
  VtStatus st;
  ShadingContext *s = ShaderCall(shader, kMsgCopyNull, &st);
  if (s == nullptr) return nullptr;
  VtShaderPrototype *c = shader->cls;
  VtShader *copy = ShaderMake(s, c, shader->type);
  if (copy == nullptr) {
    Post(kNoMemory, kMsgCopyNoMemory, VO_MODULE_SHADER);
    return nullptr;
  }
  // A class without its argument entries has no arguments to carry over.
  if (c->getArg == nullptr || c->setArg == nullptr) return copy;
  for (uint32_t i = 0; i < c->parameterCount; ++i) {
    VtTypedValue value{};
    (void)c->getArg(shader->data, i, &value);
    // A copy that cannot take an argument (a file name without memory) is
    // no copy: given back.
    if (const VtStatus set = c->setArg(copy->data, i, &value); set != 0) {
      (void)VoShaderDestroy(copy);
      if (set == kNoMemory) Post(kNoMemory, kMsgCopyNoMemory, VO_MODULE_SHADER);
      return nullptr;
    }
  }
  return copy;
}

VtStatus VoShaderReplace(VtShader *shader, const char *name) {
  VtStatus st;
  ShadingContext *s = ShaderCall(shader, kMsgReplaceNull, &st);
  if (s == nullptr) return st;
  VtShaderPrototype *c = ClassFind(s->shared, shader->type, name);
  if (c == nullptr) return Refuse(kRefused, kMsgReplaceNoClass, name != nullptr ? name : "", shader->type);
  if (VtStatus refused = Instantiable(c)) return refused;
  void *data = DataMake(c);
  if (data == nullptr) return Refuse(kNoMemory, kMsgCreateNoMemory);
  const VtShader made{nullptr, c, shader->type, data, 0, 0};
  if (!DataRegister(s->shared, &made)) {
    (void)c->destroy(data);
    return Refuse(kNoMemory, kMsgCreateNoMemory);
  }
  DataGone(shader);
  shader->cls = c;
  shader->data = data;
  {
    RegisterGuard hold;
    s->shared->instance_data[data] = shader;  // the entry made above: no allocation
  }
  ChangeCountRaise(s);
  return 0;
}

VtStatus VoShaderReset(VtShader *shader) {
  VtStatus st;
  if (ShaderCall(shader, kMsgResetNull, &st) == nullptr) return st;
  auto *prepared = static_cast<uint32_t *>(shader->data);
  if (prepared != nullptr && *prepared == 0) {
    *prepared = 1;
    if (shader->cls->prepare != nullptr) (void)shader->cls->prepare(shader->data);
  }
  return 0;
}

VtStatus VoShaderPrerender(VtShader *shader) {
  VtStatus st;
  if (ShaderCall(shader, kMsgPrerenderNull, &st) == nullptr) return st;
  if (shader->cls->prerender != nullptr) (void)shader->cls->prerender(shader->data);
  return 0;
}

namespace shader {
namespace {

// Every number a light class's arguments carry (a float, a point, a vector
// or a colour, as the class's own argument table types it) enters the
// light's colour, place, cone, shadow filter or power: the light loop
// multiplies and divides by them at every point, so one value that is no
// number spoils every lit pixel, darkens the light, or fails a render. No
// light class gives infinity a meaning, so none is exempt.
bool AllFinite(const float *x, int n) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(x[i])) return false;
  return true;
}

bool AllFinite(const double *x, int n) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(x[i])) return false;
  return true;
}

// Whether the numbers a value carries in itself are finite; a value of any
// other type carries none here.
bool ValueFinite(const VtTypedValue &v) {
  switch (v.type) {
    case VtFloat: return AllFinite(&v.value.f, 1);
    case VtDouble: return AllFinite(&v.value.d, 1);
    case VtColourType:
    case VtVector:
    case VtPoint: return AllFinite(v.value.v, 3);
    case VtDoublePoint:
    case VtDoubleVector: return AllFinite(v.value.dv, 3);
    default: return true;
  }
}

// A light argument whose numbers are not all finite is refused before the
// class stores it (the value's type is the argument's own, checked first).
VtStatus LightValueCheck(const VtShader *shader, const char *label, const VtTypedValue &value) {
  if (shader->type != VO_SHADER_LIGHT || ValueFinite(value)) return 0;
  return Refuse(kRefused, messages::kLightArgumentNotFinite, static_cast<const void *>(shader),
                shader->cls->name, label);
}

}  // namespace
}  // namespace shader

VtStatus VoShaderSetArg(VtShader *shader, const char *label, const VtTypedValue *value) {
  VtStatus st;
  ShadingContext *s = ShaderCall(shader, kMsgSetArgNull, &st);
  if (s == nullptr) return st;
  if (value == nullptr) return 0;
  const VtShaderPrototype *c = shader->cls;
  const int index = LabelIndex(c, label);
  if (index < 0) return Refuse(kRefused, kMsgSetArgLabel, label != nullptr ? label : "", c->name);
  if (c->getArg == nullptr || c->setArg == nullptr)
    return Refuse(kRefused, messages::kShaderEntryMissing, c->name, uint32_t{VO_SLOT_SET_ARG});
  VtTypedValue expected{};
  (void)c->getArg(shader->data, static_cast<uint32_t>(index), &expected);
  const bool colour_shader =
      value->type == VtShaderColour && expected.type == VtColourType && ShaderColourAccepted();
  if (value->type != expected.type && !colour_shader)
    return Refuse(kRefused, kMsgSetArgType, label, c->name, value->type, expected.type,
                  ValueTypeName(value->type), ValueTypeName(expected.type));
  // A shader standing in for a colour is evaluated by its check word at every
  // point: anything but a live shader is refused here, before it is kept.
  if (colour_shader && value->value.p != nullptr &&
      !shader::ShaderLive(s, static_cast<const VtShader *>(value->value.p)))
    return Refuse(kRefused, messages::kShaderNotLive, static_cast<const void *>(value->value.p));
  if (const VtStatus finite = shader::LightValueCheck(shader, label, *value); finite != 0) return finite;
  // A shader the running render reads as it prepared it (a light of its
  // chain whose place, cone and maps it made, a material's shader) takes the
  // value when the outermost render ends; until then VoShaderGetArg answers
  // what the render reads.
  VtTypedValue given = *value;
  // A class may refuse a value of the right type (the mixed background a
  // handle that is no live background); its status and diagnostic stand,
  // and nothing changed, so the counter stays.
  const VtStatus set = c->setArg(shader->data, static_cast<uint32_t>(index), &given);
  if (set != 0) return set;
  shader::BufferKeep(shader, label, static_cast<uint32_t>(index), given);
  ChangeCountRaise(s);
  return 0;
}

VtStatus VoShaderGetArg(VtShader *shader, const char *label, VtTypedValue *value) {
  VtStatus st;
  if (ShaderRead(shader, kMsgGetArgNull, &st) == nullptr) return st;
  if (value == nullptr) return 0;
  const VtShaderPrototype *c = shader->cls;
  const int index = LabelIndex(c, label);
  if (index < 0) return Refuse(kRefused, kMsgGetArgLabel, label != nullptr ? label : "", c->name);
  if (c->getArg == nullptr)
    return Refuse(kRefused, messages::kShaderEntryMissing, c->name, uint32_t{VO_SLOT_GET_ARG});
  (void)c->getArg(shader->data, static_cast<uint32_t>(index), value);
  return 0;
}

VtStatus VoShaderSetColour(VtShader *shader, const VtColour *colour) {
  if (colour == nullptr) return VoShaderSetArg(shader, "colour", nullptr);
  VtTypedValue v{};
  v.type = VtColourType;
  v.value.v[0] = colour->red;
  v.value.v[1] = colour->green;
  v.value.v[2] = colour->blue;
  return VoShaderSetArg(shader, "colour", &v);
}

VtStatus VoShaderEnquire(VtShader *shader, uint32_t *type, const char **name, uint32_t *count,
                         void **labels) {
  VtStatus st;
  const bool known = ShaderRead(shader, kMsgEnquireNull, &st) != nullptr;
  const VtShaderPrototype *c = known ? shader->cls : nullptr;
  if (type != nullptr) *type = c != nullptr ? c->type : 0;
  if (name != nullptr) *name = c != nullptr ? c->name : nullptr;
  if (count != nullptr) *count = c != nullptr ? c->parameterCount : 0;
  if (labels != nullptr) *labels = c != nullptr ? static_cast<void *>(c->labels) : nullptr;
  return known ? 0 : st;
}

void *VoShaderGetData(VtShader *shader) {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  if (s == nullptr || shader == nullptr || !ShaderKnownOrNull(s, shader)) return nullptr;
  return shader->data;
}

VtStatus VoShaderExecute(VtShader *shader) {
  if (shader == nullptr) return 0;
  ShadingContext *s = StateGet();
  if (s == nullptr) [[unlikely]]
    return 0;
  if (shader->check != kShaderLive) [[unlikely]] {
    // A destroyed record (cleared when it went back to the pool), or a
    // record of another kind.
    Post(kRefused, messages::kShaderNotLive, VO_MODULE_SHADER, static_cast<const void *>(shader));
    return kRefused;
  }
  const VtShaderPrototype *c = shader->cls;
  const VtShaderDataProc entry = s->selector == 1 ? c->evaluateImage : c->evaluate;
  if (entry == nullptr) return 0;
  VtShaderGlobals *g = s->globals;
  switch (c->type) {
    case VO_SHADER_REFLECTANCE:
      PointLightsEnd(s, g);
      g->litLights = nullptr;
      (void)entry(shader->data);
      PointLightsEnd(s, g);
      return 0;
    case VO_SHADER_BACKGROUND: {
      const bool own_dPds = g->dPds == nullptr, own_dPdt = g->dPdt == nullptr;
      if (own_dPds) g->dPds = s->temporary_dPds;
      if (own_dPdt) g->dPdt = s->temporary_dPdt;
      (void)entry(shader->data);
      if (own_dPds && g->dPds == s->temporary_dPds) g->dPds = nullptr;
      if (own_dPdt && g->dPdt == s->temporary_dPdt) g->dPdt = nullptr;
      return 0;
    }
    default: (void)entry(shader->data); return 0;
  }
}

VtStatus VoShaderExecuteEntry(VtShader *shader, uint32_t slot, void *argument) {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  if (s == nullptr) return st;
  if (shader == nullptr || !ShaderKnownOrNull(s, shader)) return kRefused;
  const VtShaderPrototype *c = shader->cls;
  auto data_call = [&](VtShaderDataProc entry) {
    return entry != nullptr ? (entry(shader->data), 0u) : kRefused;
  };
  switch (slot) {
    case VO_SLOT_NONE: return 0;
    case VO_SLOT_EVALUATE: return data_call(c->evaluate);
    case VO_SLOT_EVALUATE_IMAGE: return data_call(c->evaluateImage);
    case VO_SLOT_PREPARE: return data_call(c->prepare);
    case VO_SLOT_INITIALISE: return data_call(c->initialise);
    case VO_SLOT_RELEASE: return data_call(c->release);
    case VO_SLOT_DESTROY: return data_call(c->destroy);
    case VO_SLOT_CREATE:
      if (c->create == nullptr || argument == nullptr) return kRefused;
      *static_cast<VtTypedValue *>(argument) = TypedPointer(c->create());
      return 0;
    case VO_SLOT_GET_ARG:
    case VO_SLOT_SET_ARG: {
      const VtShaderArgProc entry = slot == VO_SLOT_GET_ARG ? c->getArg : c->setArg;
      if (entry == nullptr || argument == nullptr) return kRefused;
      auto *args = static_cast<VtShaderEntryArgs *>(argument);
      const uint32_t index = args->index.value.u;
      if (index >= c->parameterCount) return Refuse(kRefused, messages::kShaderIndexRefused, c->name, index);
      return entry(shader->data, index, &args->value);  // a set the class refused answers its status
    }
    default: return Refuse(kRefused, messages::kShaderSlotRefused, slot);
  }
}

VtStatus VoShaderReferenceDestroy(VtReference *list, uint32_t destroy_shaders) {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  return ReferenceListDestroy(VoReferencePoolGet(), list, destroy_shaders ? &DestroyListed : nullptr,
                              "VoShaderReferenceDestroy");
}

VtStatus VoShaderPushEnvironment() {
  ShadingContext *s = StateGet();
  if (s == nullptr) return VO_STATUS_DEBUG_NOT_STARTED;
  auto *copy = static_cast<VtShaderGlobals *>(VoPoolAllocate(s->globals_pool));
  if (copy == nullptr) return kNoMemory;
  std::memcpy(copy, s->globals, s->globals_size);
  copy->stackTop = s->stack_top;  // the previous top
  s->globals->stackTop = s->stack_top = copy;
  return 0;
}

VtStatus VoShaderPopEnvironment() {
  ShadingContext *s = StateGet();
  if (s == nullptr) return VO_STATUS_DEBUG_NOT_STARTED;
  VtShaderGlobals *top = s->stack_top;
  if (top == nullptr) return Refuse(kRefused, messages::kShaderNothingPushed);
  std::memcpy(s->globals, top, s->globals_size);
  s->stack_top = top->stackTop;
  return VoPoolFree(s->globals_pool, top);
}

uint32_t VoShaderEvaluateShadeableColour(float *colour, VtShader *shader, void *record) {
  auto *flag = static_cast<uint32_t *>(record);
  if (shader == nullptr || !ShadeableEvaluate(colour, shader)) return flag != nullptr ? *flag : 0;
  // The caller's derived values depend on the colour just made. In a
  // threaded pass the flag (instance data other workers read) stays as it
  // is: the answer tells the caller to derive them for this call.
  const ShadingContext *s = StateGet();
  const bool threaded = s != nullptr && s->work_farm_active != nullptr && s->work_farm_active() != 0;
  if (flag != nullptr && !threaded) *flag = 0;
  return 0;
}

void *VoShaderLazyEvaluateShadeableColour(float *colour, void *pending, VtShadeableCallback callback,
                                          void *flag) {
  auto **waiting = static_cast<VtShader **>(pending);
  if (waiting == nullptr || *waiting == nullptr) return colour;
  if (!ShadeableEvaluate(colour, *waiting)) return colour;
  *waiting = nullptr;
  if (callback != nullptr && flag != nullptr) {
    *static_cast<uint32_t *>(flag) = 1;
    callback(static_cast<uint32_t *>(flag));
  }
  return colour;
}

}  // namespace vo
