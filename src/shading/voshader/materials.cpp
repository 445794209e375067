// Materials: the shaders that describe a surface, the default material new
// ones are copied from, the controls on its classes, and the secondary and
// global filter shaders handed out through the kernel's callbacks.
//
// A material holds one reference to each shader in its slots (two when the
// reflectance also fills the second reflectance slot); the global filters
// hold one each, given back when replaced and at terminate. A material is
// fresh while its stamp equals the shared change counter, which any
// argument set, replacement or material change raises. Materials handed to
// applications are on the register of live materials; a stale or foreign
// handle is refused (message 2108), and the default material, which every
// primitive without its own material reads, is never destroyed before the
// kernel terminates (message 2109). Holders give their shader references
// back through ShaderHolderRelease; the application's VoShaderDestroy of a
// shader only holders hold is refused (message 2903).

#include <cstring>
#include <new>
#include <vector>

#include "shading/voshader/voshader.h"
#include "kernel/vosystem/face.h"
#include "scene/vogeom/face.h"

namespace vo::shader {

namespace {

constexpr uint32_t kMsgDestroyNull = 237;
constexpr uint32_t kMsgSetNull = 238;
constexpr uint32_t kMsgGetNull = 239;
constexpr uint32_t kMsgSetType = 240;
constexpr uint32_t kMsgGetCode = 241;
constexpr uint32_t kMsgResetNull = 299;
constexpr uint32_t kMsgAverageNull = 300;
constexpr uint32_t kMsgNotFilter = 361;

const void *const kNull = nullptr;

bool MaterialLive(ShadingContext *s, const VtMaterial *m) {
  RegisterGuard hold;
  return s->shared->materials.count(m) != 0;
}

// The state for a call on a material: started module, a non-null live
// material (message on null: the operation's own number, none when 0).
ShadingContext *MaterialCall(VtMaterial *m, uint32_t null_message, VtStatus *status) {
  ShadingContext *s = StateFor(status);
  if (s == nullptr) return nullptr;
  if (m == nullptr) {
    *status = null_message != 0 ? Refuse(kRefused, null_message, kNull) : kRefused;
    return nullptr;
  }
  if (!MaterialKnown(s, m)) {
    *status = kRefused;
    return nullptr;
  }
  return s;
}

VtMaterial *MaterialMake(ShadingContext *s) {
  ShaderShared *shared = s->shared;
  auto *m = static_cast<VtMaterial *>(VoPoolAllocate(shared->material_pool));
  if (m == nullptr) return nullptr;
  *m = VtMaterial{};
  m->enable_transparency = m->enable_displacement = 1;
  m->average = VtColour{1, 1, 1};
  try {
    RegisterGuard hold;
    shared->materials.insert(m);
  } catch (const std::bad_alloc &) {
    (void)VoPoolFree(shared->material_pool, m);
    return nullptr;
  }
  return m;
}

// Gives back every reference the material holds and its block.
VtStatus MaterialFree(ShadingContext *s, VtMaterial *m) {
  VtStatus st = 0;
  for (VtShader *shader : {m->colour, m->reflectance, m->second_reflectance, m->displacement, m->transparency,
                           m->secondary_colour, m->secondary_displacement, m->secondary_reflectance})
    if (shader != nullptr) st |= ShaderHolderRelease(shader);
  {
    RegisterGuard hold;
    s->shared->materials.erase(m);
  }
  *m = VtMaterial{};
  return st | VoPoolFree(s->shared->material_pool, m);
}

// The slot of a main shader type, or null.
VtShader **MainSlot(VtMaterial *m, uint32_t type) {
  switch (type) {
    case VO_SHADER_COLOUR: return &m->colour;
    case VO_SHADER_REFLECTANCE: return &m->reflectance;
    case VO_SHADER_TRANSPARENCY: return &m->transparency;
    case VO_SHADER_DISPLACEMENT: return &m->displacement;
    case VO_SHADER_SECOND_REFLECTANCE: return &m->second_reflectance;
    default: return nullptr;
  }
}

// The secondary slot of a code (0x50001, 0x50002, 0x50004), or null.
VtShader **SecondarySlot(VtMaterial *m, uint32_t code) {
  switch (code) {
    case VO_SHADER_COLOUR: return &m->secondary_colour;
    case VO_SHADER_REFLECTANCE: return &m->secondary_reflectance;
    case VO_SHADER_DISPLACEMENT: return &m->secondary_displacement;
    default: return nullptr;
  }
}

// The global filter index of a code, or -1.
int FilterIndex(uint32_t code) {
  switch (code) {
    case VO_SHADER_COLOUR: return 0;
    case VO_SHADER_REFLECTANCE: return 1;
    case VO_SHADER_DISPLACEMENT: return 2;
    default: return -1;
  }
}

void SecondaryFlag(VtMaterial *m) {
  m->secondary = m->secondary_colour != nullptr || m->secondary_reflectance != nullptr ||
                 m->secondary_displacement != nullptr;
}

// Puts the shader into the slot: the slot's old shader loses a reference,
// the new one gains one.
void SlotFill(VtShader **slot, VtShader *shader) {
  if (shader != nullptr) ++shader->references;
  if (*slot != nullptr) (void)ShaderHolderRelease(*slot);
  *slot = shader;
}

void ClassFlags(VtMaterial *m) {
  VtShader *const main[] = {m->colour, m->reflectance, m->transparency, m->displacement,
                            m->second_reflectance};
  for (const VtShader *shader : main)
    if (shader == nullptr) return;  // both flags stay until all five are set
  m->special_global = m->raytrace = 0;
  for (const VtShader *shader : main) {
    m->special_global |= shader->cls->specialGlobals != 0;
    m->raytrace |= shader->cls->raytrace != 0;
  }
}

// A copy of the shader for a copied material; the slot stays null when the
// source's is. False when the copy could not be made.
bool ShaderCopied(VtShader *from, VtShader **to) {
  *to = from != nullptr ? VoShaderCopy(from) : nullptr;
  return from == nullptr || *to != nullptr;
}

// The colour shader at a fixed point: what the calling thread shaded last
// (its texture coordinates, its polygon, its screen position) takes no
// part, so a material's average is the same on every thread and in every
// session.
VtStatus AverageColour(ShadingContext *s, VtMaterial *m) {
  if (VtStatus st = VoShaderPushEnvironment()) return st;
  VtShaderGlobals *g = s->globals;
  GlobalsFresh(g);
  g->dPds = g->dPdu = s->default_dPds;
  g->dPdt = s->default_dPdt;
  g->dPdv = s->default_dPdv;
  const float zero[3] = {0, 0, 0}, up[3] = {0, 0, 1};
  std::memcpy(g->NStorage, up, sizeof up);
  std::memcpy(g->PStorage, zero, sizeof zero);
  std::memcpy(g->PwStorage, zero, sizeof zero);
  std::memcpy(g->CiStorage, zero, sizeof zero);
  g->N = g->NStorage;
  g->P = g->PStorage;
  g->Pw = g->PwStorage;
  g->Ci = g->CiStorage;
  g->du = g->dv = 1;
  g->u = g->v = 0;
  const VtStatus st = VoShaderExecute(m->colour);
  m->average = VtColour{g->Co[0], g->Co[1], g->Co[2]};
  return st | VoShaderPopEnvironment();
}

// The default material's shader type behind a control code.
uint32_t ControlType(uint32_t code) {
  switch (code) {
    case 0x50001: return VO_SHADER_COLOUR;
    case 0x50002: return VO_SHADER_REFLECTANCE;
    case 0x50003: return VO_SHADER_DISPLACEMENT;
    case 0x50004: return VO_SHADER_TRANSPARENCY;
    default: return 0;
  }
}

// Prepares the shader as a reset does and leaves its flag as it found it.
VtStatus ResetForOneRender(VtShader *shader) {
  auto *flag = static_cast<uint32_t *>(shader->data);
  const bool unprepared = flag != nullptr && *flag == 0;
  const VtStatus st = VoShaderReset(shader);
  if (unprepared) *flag = 0;
  return st;
}

}  // namespace

bool MaterialKnown(ShadingContext *s, const VtMaterial *material) {
  if (MaterialLive(s, material)) return true;
  Post(kRefused, messages::kMaterialNotLive, VO_MODULE_SHADER, static_cast<const void *>(material));
  return false;
}

VtMaterial *DefaultMaterial(ShadingContext *s) {
  if (s->default_material != nullptr) return s->default_material;
  VtMaterial *m = MaterialMake(s);
  if (m == nullptr) return nullptr;
  m->stamp = ChangeCount(s);
  ChangeCountRaise(s);
  s->default_material = m;
  const AtOnce at_once;  // made as a render first reads it: whole at once
  (void)VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, "plain");
  (void)VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, "matte");
  (void)VoMaterialSetShaderByPrototype(m, VO_SHADER_TRANSPARENCY, "none");
  (void)VoMaterialSetShaderByPrototype(m, VO_SHADER_DISPLACEMENT, "none");
  return m;
}

VtMaterial *DefaultMaterialNow() {
  ShadingContext *s = StateGet();
  return s != nullptr ? DefaultMaterial(s) : nullptr;
}

VtStatus MaterialsStart(ShadingContext *s) {
  // A running render shades the primitives its list reaches with their
  // materials until it ends, whatever list is current meanwhile: the entry
  // refuses a destroy of such a material ("used"); the default material
  // is kept by its own refusal.
  vo::api::ConditionTestSet(vo::api::kConditionUsed, [](const void *material) -> bool {
    const ShadingContext *c = StateGet();
    return material != nullptr && (c == nullptr || material != c->default_material) &&
           RenderUsesMaterial(material);
  });
  static constexpr float kX[3] = {1, 0, 0}, kY[3] = {0, 1, 0}, kMinusY[3] = {0, -1, 0};
  std::memcpy(s->default_dPds, kX, sizeof kX);
  std::memcpy(s->default_dPdu, kX, sizeof kX);
  std::memcpy(s->default_dPdt, kMinusY, sizeof kMinusY);
  std::memcpy(s->default_dPdv, kY, sizeof kY);
  s->shared->material_pool = VoPoolCreate(kPoolMaterials, sizeof(VtMaterial));
  return s->shared->material_pool != nullptr ? 0 : kNoMemory;
}

bool MaterialIsLive(const VtMaterial *material) {
  ShadingContext *s = StateGet();
  return s != nullptr && MaterialLive(s, material);
}

uint32_t ShaderHolderReferences(ShadingContext *s, const VtShader *shader, ShaderHolder *one) {
  uint32_t held = 0;
  auto count = [&](const VtShader *slot, const char *kind, const void *holder) {
    if (slot != shader) return;
    if (held++ == 0) *one = ShaderHolder{kind, holder, nullptr};
  };
  // The scene's slots have no handle of their own: named by their setter.
  count(s->background, "the background (VoBackgroundSet)", nullptr);
  count(s->foreground, "the foreground (VoForegroundSet)", nullptr);
  for (const VtShader *filter : s->global_filters)
    count(filter, "the global filter (VoShadingSetGlobalFilter)", nullptr);
  if (shader->type == VO_SHADER_LIGHT && LightHeld(s, shader))
    count(shader, "the current light list (VoLightListSet)", nullptr);
  {
    RegisterGuard hold;
    for (const VtMaterial *m : s->shared->materials)
      for (const VtShader *slot :
           {m->colour, m->reflectance, m->second_reflectance, m->displacement, m->transparency,
            m->secondary_colour, m->secondary_displacement, m->secondary_reflectance})
        count(slot, m == s->default_material ? "the default material" : "material", m);
  }
  const char *procedure = nullptr;
  const uint32_t waiting = CallAfterRenderNames(shader, &procedure);
  if (held == 0)
    *one = ShaderHolder{waiting != 0 ? "the call waiting for the render's end" : nullptr, nullptr, procedure};
  return held + waiting;
}

VtStatus MaterialsStop(ShadingContext *s) {
  VtStatus st = 0;
  for (VtShader **held : {&s->background, &s->foreground}) {
    if (*held != nullptr) st |= ShaderHolderRelease(*held);
    *held = nullptr;
  }
  for (VtShader *&filter : s->global_filters) {
    if (filter != nullptr) st |= ShaderHolderRelease(filter);
    filter = nullptr;
  }
  if (s->default_material != nullptr) st |= MaterialFree(s, s->default_material);
  s->default_material = nullptr;
  {
    RegisterGuard hold;
    s->shared->materials.clear();
  }
  return st | PoolDisposeClear(&s->shared->material_pool);
}

bool MaterialControl(uint32_t code) { return ControlType(code) != 0; }

VtStatus MaterialControlSet(ShadingContext *s, uint32_t code, const VtTypedValue *v) {
  const uint32_t type = ControlType(code);
  const char *name = v->value.s;
  // An unknown class leaves the default as it was and says so.
  if (ClassFind(s->shared, type, name) == nullptr)
    return Refuse(kRefused, messages::kMaterialClassUnknown, name != nullptr ? name : "", type);
  VtMaterial *m = DefaultMaterial(s);
  if (m != nullptr) (void)VoMaterialSetShaderByPrototype(m, type, name);
  return 0;
}

VtStatus MaterialControlGet(ShadingContext *s, uint32_t code, VtTypedValue *v) {
  VtMaterial *m = DefaultMaterial(s);
  const VtShader *shader = m != nullptr ? *MainSlot(m, ControlType(code)) : nullptr;
  *v = TypedString(shader != nullptr ? shader->cls->name : nullptr);
  return 0;
}

VtProc MaterialCallback(uint32_t code) {
  switch (code) {
    case 0x50001: return reinterpret_cast<VtProc>(&exported::VoMaterialGetSecondaryShader);
    case 0x50002: return reinterpret_cast<VtProc>(&exported::VoMaterialSetSecondaryShader);
    case 0x50003: return reinterpret_cast<VtProc>(&exported::VoShadingGetGlobalFilter);
    case 0x50004: return reinterpret_cast<VtProc>(&exported::VoShadingSetGlobalFilter);
    default: return nullptr;
  }
}

}  // namespace vo::shader

namespace vo {

using namespace shader;

VtMaterial *VoMaterialCreate() { return VoMaterialCopy(nullptr); }

VtMaterial *VoMaterialCopy(VtMaterial *material) {
  VtStatus st;
  ShadingContext *s = material != nullptr ? MaterialCall(material, 0, &st) : StateFor(&st);
  if (s == nullptr) return nullptr;
  VtMaterial *from = material != nullptr ? material : DefaultMaterial(s);
  VtMaterial *m = MaterialMake(s);
  if (m == nullptr || from == nullptr) {
    if (m != nullptr) (void)MaterialFree(s, m);
    Post(kNoMemory, messages::kMaterialNoMemory, VO_MODULE_SHADER);
    return nullptr;
  }
  m->stamp = ChangeCount(s) - 1;  // stale
  m->enable_transparency = from->enable_transparency;
  m->enable_displacement = from->enable_displacement;
  m->special_global = from->special_global;
  m->raytrace = from->raytrace;
  m->pointer = from->pointer;
  bool made = ShaderCopied(from->colour, &m->colour) && ShaderCopied(from->transparency, &m->transparency) &&
              ShaderCopied(from->displacement, &m->displacement) &&
              ShaderCopied(from->reflectance, &m->reflectance) &&
              ShaderCopied(from->secondary_colour, &m->secondary_colour) &&
              ShaderCopied(from->secondary_displacement, &m->secondary_displacement) &&
              ShaderCopied(from->secondary_reflectance, &m->secondary_reflectance);
  // A distinct second reflectance is the material's point shader: it is
  // copied too, not replaced by the reflectance.
  if (made && from->second_reflectance != from->reflectance)
    made = ShaderCopied(from->second_reflectance, &m->second_reflectance);
  else if (made && m->reflectance != nullptr)
    SlotFill(&m->second_reflectance, m->reflectance);
  if (!made) {
    (void)MaterialFree(s, m);
    Post(kNoMemory, messages::kMaterialNoMemory, VO_MODULE_SHADER);
    return nullptr;
  }
  SecondaryFlag(m);
  return m;
}

VtStatus VoMaterialDestroy(VtMaterial *material) {
  if (LibraryStopped()) return VO_STATUS_DEBUG_NOT_STARTED;
  VtStatus st;
  ShadingContext *s = MaterialCall(material, kMsgDestroyNull, &st);
  if (s == nullptr) return st;
  if (material == s->default_material)
    return Refuse(kRefused, messages::kMaterialDefaultKept, static_cast<const void *>(material));
  return MaterialFree(s, material);
}

VtStatus VoMaterialSetShader(VtMaterial *material, VtShader *shader) {
  VtStatus st;
  ShadingContext *s = MaterialCall(material, kMsgSetNull, &st);
  if (s == nullptr) return st;
  if (!ShaderKnownOrNull(s, shader)) return kRefused;
  VtShader **slot = shader != nullptr ? MainSlot(material, shader->type) : nullptr;
  if (slot == nullptr)
    return Refuse(kRefused, kMsgSetType, static_cast<const void *>(shader),
                  static_cast<const void *>(material));
  if (*slot == shader) return 0;
  SlotFill(slot, shader);
  if (shader->type == VO_SHADER_REFLECTANCE) SlotFill(&material->second_reflectance, shader);
  ChangeCountRaise(s);
  ClassFlags(material);
  return 0;
}

VtShader *VoMaterialGetShader(VtMaterial *material, uint32_t type) {
  VtStatus st;
  if (MaterialCall(material, kMsgGetNull, &st) == nullptr) return nullptr;
  VtShader **slot = MainSlot(material, type);
  if (slot == nullptr) {
    Post(kRefused, kMsgGetCode, VO_MODULE_SHADER, type, static_cast<const void *>(material));
    return nullptr;
  }
  return *slot;
}

VtStatus VoMaterialSetShaderByPrototype(VtMaterial *material, uint32_t type, const char *name) {
  VtStatus st;
  if (MaterialCall(material, kMsgSetNull, &st) == nullptr) return st;
  VtShader *shader = VoShaderCreate(type, name);
  if (shader == nullptr) return kRefused;
  st = VoMaterialSetShader(material, shader);
  // The material keeps the only reference; a refused shader goes.
  if (st == 0 && shader->references > 1)
    --shader->references;
  else
    (void)VoShaderDestroy(shader);
  return st;
}

VtStatus VoMaterialReset(VtMaterial *material) {
  VtStatus st;
  ShadingContext *s = MaterialCall(material, kMsgResetNull, &st);
  if (s == nullptr) return st;
  // A light's map renders its casters with no lights listed: what a
  // shader prepares there (the lights a technical reflectance records) is
  // for that render alone, its flag left clear and the material stamped
  // apart, so the image's own reset prepares it again.
  const bool map = s->casters_render != 0;
  const uint64_t now = map ? ~ChangeCount(s) : ChangeCount(s);
  if (material->stamp != now) {
    for (VtShader *shader : {material->colour, material->reflectance, material->second_reflectance,
                             material->transparency, material->displacement, material->secondary_colour,
                             material->secondary_displacement, material->secondary_reflectance})
      if (shader != nullptr) st |= map ? ResetForOneRender(shader) : VoShaderReset(shader);
    st |= AverageColour(s, material);
    material->stamp = now;
  }
  // Also for a material made current before the image began: its shaders
  // trace rays in this image, so the tracer must know the scene.
  if (material->raytrace != 0 && s->image_initialised != 0 && s->ray_preparation != 0) {
    s->ray_preparation = 0;
    st |= s->ray_prepare();
  }
  return st;
}

VtStatus VoMaterialGetAverageColour(VtMaterial *material, VtColour *colour) {
  VtStatus st;
  if (MaterialCall(material, kMsgAverageNull, &st) == nullptr) {
    if (colour != nullptr) *colour = VtColour{0, 0, 0};
    return st;
  }
  st = VoMaterialReset(material);
  if (colour != nullptr) *colour = material->average;
  return st;
}

VtStatus VoMaterialSetColour(VtMaterial *material, const VtColour *colour) {
  VtStatus st;
  if (MaterialCall(material, 0, &st) == nullptr) return st;
  return VoShaderSetColour(material->colour, colour);
}

VtStatus VoMaterialSetGenericPtr(VtMaterial *material, void *pointer) {
  VtStatus st;
  if (MaterialCall(material, 0, &st) == nullptr) return st;
  material->pointer = pointer;
  return 0;
}

void *VoMaterialGetGenericPtr(VtMaterial *material) {
  VtStatus st;
  return material != nullptr && MaterialCall(material, 0, &st) != nullptr ? material->pointer : nullptr;
}

double VoMaterialDiffuseReflectance(VtMaterial *material) {
  VtStatus st;
  if (material == nullptr || MaterialCall(material, 0, &st) == nullptr || material->reflectance == nullptr)
    return 0.0;
  VtShader *shader = material->reflectance;
  const VtShaderPrototype *c = shader->cls;
  if (c->parameterCount == 0) return 0.0;
  auto argument = [&](const char *label, double *value) {
    for (uint32_t i = 0; i < c->parameterCount; ++i) {
      if (std::strcmp(c->labels[i], label) != 0) continue;
      VtTypedValue v{};
      (void)VoShaderGetArg(shader, label, &v);
      *value = v.value.f;
      return true;
    }
    return false;
  };
  double value = 0.0;
  if (std::strcmp(c->name, "energy") == 0) return argument("Kdr", &value) ? value : 0.0;
  if (argument("diffuse factor", &value)) return value;
  if (argument("specular factor", &value)) return 1.0 - value;
  return 1.0;
}

VtShader *VoMaterialGetSecondaryShader(VtMaterial *material, uint32_t code) {
  VtStatus st;
  if (MaterialCall(material, kMsgGetNull, &st) == nullptr) return nullptr;
  VtShader **slot = SecondarySlot(material, code);
  if (slot == nullptr) {
    Post(kRefused, kMsgGetCode, VO_MODULE_SHADER, code, static_cast<const void *>(material));
    return nullptr;
  }
  return *slot;
}

VtStatus VoMaterialSetSecondaryShader(VtMaterial *material, uint32_t code, VtShader *shader) {
  VtStatus st;
  ShadingContext *s = MaterialCall(material, kMsgSetNull, &st);
  if (s == nullptr) return st;
  if (!ShaderKnownOrNull(s, shader)) return kRefused;
  VtShader **slot = SecondarySlot(material, code);
  if (slot == nullptr) {
    SecondaryFlag(material);
    if (code == VO_SHADER_TRANSPARENCY) return kRefused;
    return Refuse(kRefused, kMsgSetType, static_cast<const void *>(shader),
                  static_cast<const void *>(material));
  }
  if (*slot != shader) {
    SlotFill(slot, shader);
    ChangeCountRaise(s);
  }
  SecondaryFlag(material);
  return 0;
}

VtShader *VoShadingGetGlobalFilter(uint32_t code) {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  const int index = FilterIndex(code);
  return s != nullptr && index >= 0 ? s->global_filters[index] : nullptr;
}

VtStatus VoShadingSetGlobalFilter(uint32_t code, VtShader *shader) {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  if (s == nullptr) return st;
  if (!ShaderKnownOrNull(s, shader)) return kRefused;
  if (shader != nullptr && shader->cls->type != VO_SHADER_FILTER)
    return Refuse(kRefused, kMsgNotFilter, static_cast<const void *>(shader), shader->cls->type);
  const int index = FilterIndex(code);
  if (index >= 0) SlotFill(&s->global_filters[index], shader);
  bool any = false;
  for (const VtShader *filter : s->global_filters) any |= filter != nullptr;
  s->global_filter_set = any;
  return 0;
}

}  // namespace vo
