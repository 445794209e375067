// The primitive properties "material" (271) and "texspace" (272), and the
// setters that put a material or a texture-space shader on a whole primitive
// tree.
//
// A primitive that does not store the property reads the shading state's
// default word; one that stores it starts with the default when it is made.
// The properties are registered with the geometry module's registry, so the
// geometry module starts first; without it there are no primitives and
// nothing is registered. A list that contains itself is refused (message
// 2012) instead of being walked for ever.

#include <cstdio>
#include <cstring>

#include "scene/vogeom/face.h"
#include "shading/voshader/voshader.h"
#include "kernel/vosystem/face.h"

namespace vo::shader {

namespace {

constexpr uint32_t kMsgMaterialNullPrimitive = 908;
constexpr uint32_t kMsgMaterialNull = 909;

// The state words the enquiries answer while the module is not running.
void *g_spare_word = nullptr;

void **MaterialWord() {
  ShadingContext *s = StateGet();
  if (s == nullptr) return &g_spare_word;
  if (s->default_material == nullptr) s->default_material = DefaultMaterial(s);  // made on first use
  return reinterpret_cast<void **>(&s->default_material);
}

void **TextureSpaceWord() {
  ShadingContext *s = StateGet();
  return s != nullptr ? reinterpret_cast<void **>(&s->default_texture_space) : &g_spare_word;
}

// The handlers of a property whose default is the state word Word answers:
// a new primitive's storage starts with the default; a primitive without
// the property reads the word itself.
template <uint32_t kCode, void **(*Word)()>
VtStatus DefaultInitialise(VtPrimitive *p) {
  if (auto **slot = PropertyField<void *>(p, nullptr, kCode)) *slot = *Word();
  return 0;
}

template <void **(*Word)()>
VtStatus DefaultEnquire(VtPrimitive *, VtTypedValue *answer) {
  if (answer != nullptr) *answer = TypedPointer(Word());
  return 0;
}

template <uint32_t kCode, void **(*Word)()>
VtStatus PropertyRegister(const char *word) {
  const uint32_t code = kCode;
  const auto initialise = reinterpret_cast<VtProc>(&DefaultInitialise<kCode, Word>);
  const auto enquire = reinterpret_cast<VtProc>(&DefaultEnquire<Word>);
  char stored[48], name[64];
  std::snprintf(stored, sizeof stored, "voshader:%s",
                word);  // the registry keeps the name without its number
  std::snprintf(name, sizeof name, "%s:%d", stored, static_cast<int>(code));
  // Registered by an earlier start (the registry outlives this module): only
  // the handlers are installed again.
  const VtPropertyDescriptor *d = PropertyDescriptor(code);
  const bool ours = d != nullptr && d->name != nullptr && std::strcmp(d->name, stored) == 0;
  if (!ours && VoPrimitivePropertyRegister(name, VtGenericPtr, 1) != code) return kRefused;
  return VoPropertySetHandler(code, VO_PROPERTY_PRIMITIVE_INITIALISE, initialise) |
         VoPropertySetHandler(code, VO_PROPERTY_PRIMITIVE_ENQUIRE, enquire);
}

VtStatus TreeSet(VtPrimitive *p, uint32_t code, const VtTypedValue *value, ListPath &path) {
  if (!PrimitiveLive(p)) return Refuse(kRefused, messages::kPrimitiveNotLive, static_cast<const void *>(p));
  VtStatus st = 0;
  if (PrimitiveType(p) == VO_PRIMITIVE_LIST) {
    if (VtStatus s = path.Enter(p)) return s;
    st = ForEachNodeUntil(ListMembers(p), [&](VtReference *node) {
      return TreeSet(static_cast<VtPrimitive *>(node->data), code, value, path);
    });
    path.Leave();
  }
  return st | VoPrimitiveSetProperty(p, code, value);
}

}  // namespace

VtStatus PropertiesStart(ShadingContext *s) {
  s->default_texture_space = nullptr;
  for (int32_t &offset : s->property_offsets) offset = -1;
  if (PropertyRegistry() == nullptr) return 0;  // no geometry module: no primitives
  return PropertyRegister<VO_PRIM_MATERIAL, &MaterialWord>("material") |
         PropertyRegister<VO_PRIM_TEXSPACE, &TextureSpaceWord>("texspace");
}

}  // namespace vo::shader

namespace vo {

using namespace shader;

VtStatus VoPrimitiveTreeSetProperty(VtPrimitive *primitive, uint32_t code, const VtTypedValue *value) {
  if (primitive == nullptr) return 0;
  ListPath path;
  return TreeSet(primitive, code, value, path);
}

// The shader is checked even when no primitive is given.
VtStatus VoPrimitiveSetTextureSpace(VtPrimitive *primitive, VtShader *shader) {
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  if (s == nullptr) return primitive == nullptr ? 0 : st;
  if (!ShaderKnownOrNull(s, shader)) return kRefused;
  if (primitive == nullptr) return 0;
  const VtTypedValue value = TypedPointer(&shader);
  return VoPrimitiveTreeSetProperty(primitive, VO_PRIM_TEXSPACE, &value);
}

VtStatus VoPrimitiveSetMaterial(VtPrimitive *primitive, VtMaterial *material) {
  if (primitive == nullptr)
    return Refuse(kRefused, kMsgMaterialNullPrimitive, static_cast<const void *>(nullptr));
  if (material == nullptr) return Refuse(kRefused, kMsgMaterialNull, static_cast<const void *>(nullptr));
  VtStatus st;
  ShadingContext *s = StateFor(&st);
  if (s == nullptr) return st;
  if (!MaterialKnown(s, material)) return kRefused;
  const VtTypedValue value = TypedPointer(&material);
  return VoPrimitiveTreeSetProperty(primitive, VO_PRIM_MATERIAL, &value);
}

}  // namespace vo
