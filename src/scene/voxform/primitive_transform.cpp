// The primitive property "transform" (291) and VoPrimitiveSetTransform.
//
// A primitive holds its transform in property 291, and every primitive that
// holds a transform owns one reference to it: the property's destroy
// handler releases it, its copy handler gives the copy a reference of its
// own. So a transform lives on after VoTransformDestroy for as long as a
// primitive holds it.
//
// The property is registered with the geometry module's registry, so the
// geometry module starts first. Without it (no registry) the transform
// module starts all the same and registers nothing: there are no primitives
// then.

#include <cstdio>
#include <cstring>

#include "scene/vogeom/face.h"
#include "kernel/vosystem/face.h"
#include "scene/voxform/transform.h"

namespace vo::xform {

namespace {

constexpr const char *kPropertyName = "voxform:transform";

// The transform slot of a primitive that carries the property, or null.
VtTransform **Held(VtPrimitive *p) {
  return p != nullptr ? PropertyField<VtTransform *>(p, nullptr, VO_PRIM_TRANSFORM) : nullptr;
}

// True for a transform record this module handed out and has not freed;
// anything else is reported (message 2050) and left alone.
bool LiveOrReported(const VtTransform *t) {
  if (TransformLive(t)) return true;
  Post(kErrorBadArgument, messages::kTransformNotLive, VO_MODULE_TRANSFORMS, static_cast<const void *>(t));
  return false;
}

// ---- Handlers of property 291 -------------------------------------------------

VtStatus HeldInitialise(VtPrimitive *p) {
  if (VtTransform **slot = Held(p)) *slot = nullptr;
  return 0;
}

VtStatus HeldDestroy(VtPrimitive *p) {
  VtTransform **slot = Held(p);
  if (slot == nullptr || *slot == nullptr) return 0;
  VtTransform *t = *slot;
  *slot = nullptr;
  // A record that is no longer live (the module was terminated since) is
  // not touched.
  return LiveOrReported(t) ? VoTransformRelease(t) : kErrorBadArgument;
}

VtStatus HeldCopy(VtPrimitive *source, VtPrimitive *destination) {
  VtTransform **from = Held(source);
  VtTransform **to = Held(destination);
  if (to == nullptr) return 0;
  VtTransform *t = from != nullptr ? *from : nullptr;
  *to = nullptr;
  if (t == nullptr) return 0;
  if (!LiveOrReported(t)) return kErrorBadArgument;
  const VtStatus s = TransformReference(t);
  if (s == 0) *to = t;
  return s;
}

// A primitive without the property reads a null transform.
VtStatus HeldEnquire(VtPrimitive *, VtTypedValue *answer) {
  static void *spare_word = nullptr;  // while the module is not started
  TransformModuleState *s = State();
  void **word = s != nullptr ? &s->enquiry_word : &spare_word;
  *word = nullptr;
  if (answer != nullptr) *answer = TypedPointer(word);
  return 0;
}

// The property's set operation reports the held transform.
VtStatus HeldReport(VtPrimitive *p) {
  VtTypedValue v{};
  const VtStatus s = VoPrimitiveGetProperty(p, VO_PRIM_TRANSFORM, &v);
  VtTransform *t =
      (v.type == VtGenericPtr && v.value.p != nullptr) ? *static_cast<VtTransform **>(v.value.p) : nullptr;
  if (t != nullptr && !LiveOrReported(t)) return s | kErrorBadArgument;
  return s | VoTransformPrint(t);
}

// ---- Setting a primitive's transform ----------------------------------------

bool IsList(const VtPrimitive *p) { return (p->flags & VO_PRIMITIVE_TYPE_MASK) == VO_PRIMITIVE_LIST; }

// One primitive that is not a list: property 291 takes t, with its
// reference, and flag 0x200 follows.
VtStatus SetOnPrimitive(VtPrimitive *p, VtTransform *t) {
  if (t != nullptr && t->references == 1) (void)VoTransformUpdate(t);
  VtTypedValue v{};
  const VtStatus got = VoPrimitiveGetProperty(p, VO_PRIM_TRANSFORM, &v);
  if (got != 0) return got;
  if (v.type != VtGenericPtr || v.value.p == nullptr) return kErrorBadArgument;
  auto *storage = static_cast<VtTransform **>(v.value.p);
  const bool held = Held(p) != nullptr;  // an absent property answers a zeroed module word
  VtTransform *old = *storage;
  VtStatus set = 0;
  if (old != t) {
    if (t != nullptr) {
      if (VtStatus s = TransformReference(t)) return s;
    }
    if (old != nullptr) set |= LiveOrReported(old) ? VoTransformRelease(old) : kErrorBadArgument;
    *storage = t;
    const VtTypedValue in = TypedPointer(storage);
    const VtStatus written = VoPrimitiveSetProperty(p, VO_PRIM_TRANSFORM, &in);
    set |= written;
    if (!held && Held(p) == nullptr) {
      // The property could not be added (out of memory): the primitive
      // holds nothing, so the reference taken for it goes back.
      if (t != nullptr) (void)VoTransformRelease(t);
      return got | set;
    }
  }
  const uint32_t flags = VoPrimitiveGetFlags(p);
  const uint32_t want =
      t != nullptr ? (flags | VO_PRIMITIVE_HAS_TRANSFORM) : (flags & ~VO_PRIMITIVE_HAS_TRANSFORM);
  const VtStatus flagged = VoPrimitiveSetFlags(p, want);
  return got | set | flagged;
}

// A list primitive passes t to each member in order; the first non-zero
// status ends the walk. A list that contains itself is refused.
VtStatus SetTransform(VtPrimitive *p, VtTransform *t, ListPath &path) {
  if (p == nullptr) return kErrorBadArgument;
  if (!PrimitiveLive(p)) {
    Post(kErrorBadArgument, messages::kPrimitiveNotLive, VO_MODULE_TRANSFORMS, static_cast<const void *>(p));
    return kErrorBadArgument;
  }
  if (!IsList(p)) return SetOnPrimitive(p, t);
  if (VtStatus s = path.Enter(p)) return s;
  VtStatus s = 0;
  s = ForEachNodeUntil(ListMembers(p), [&](VtReference *node) {
    return SetTransform(static_cast<VtPrimitive *>(node->data), t, path);
  });
  path.Leave();
  return s;
}

}  // namespace

VtStatus TransformPropertyStart(TransformModuleState *s) {
  s->enquiry_word = nullptr;
  if (PropertyRegistry() == nullptr) return 0;  // no geometry module: no primitives
  // Registered by an earlier start of this module (the registry outlives
  // it): the handlers are installed again.
  const VtPropertyDescriptor *d = PropertyDescriptor(VO_PRIM_TRANSFORM);
  const bool ours = d != nullptr && d->name != nullptr && std::strcmp(d->name, kPropertyName) == 0;
  if (!ours) {
    char name[64];
    std::snprintf(name, sizeof name, "%s:%d", kPropertyName, static_cast<int>(VO_PRIM_TRANSFORM));
    if (VoPrimitivePropertyRegister(name, VtGenericPtr, 1) != VO_PRIM_TRANSFORM)
      return VO_STATUS_BAD_ARGUMENT;
  }
  const struct {
    uint32_t operation;
    VtProc procedure;
  } kHandlers[] = {
      {VO_PROPERTY_PRIMITIVE_INITIALISE, reinterpret_cast<VtProc>(&HeldInitialise)},
      {VO_PROPERTY_PRIMITIVE_DESTROY, reinterpret_cast<VtProc>(&HeldDestroy)},
      {VO_PROPERTY_PRIMITIVE_COPY, reinterpret_cast<VtProc>(&HeldCopy)},
      {VO_PROPERTY_PRIMITIVE_ENQUIRE, reinterpret_cast<VtProc>(&HeldEnquire)},
      {VO_PROPERTY_PRIMITIVE_SET, reinterpret_cast<VtProc>(&HeldReport)},
  };
  VtStatus st = 0;
  for (const auto &h : kHandlers) st |= VoPropertySetHandler(VO_PRIM_TRANSFORM, h.operation, h.procedure);
  return st;
}

}  // namespace vo::xform

namespace vo {

VtStatus VoPrimitiveSetTransform(VtPrimitive *primitive, VtTransform *transform) {
  using namespace xform;
  if (primitive == nullptr) return kErrorBadArgument;
  // Only records this module handed out can be held: a freed record or one
  // of the module's own uncounted transforms is refused.
  if (transform != nullptr && !LiveOrReported(transform)) return kErrorBadArgument;
  // The geometry module started after this one: the property is not there.
  if (PropertyDescriptor(VO_PRIM_TRANSFORM) == nullptr) {
    Post(kErrorBadArgument, messages::kPropertyNotRegistered, VO_MODULE_TRANSFORMS,
         uint32_t{VO_PRIM_TRANSFORM});
    return kErrorBadArgument;
  }
  SceneBoundsInvalidate();
  ListPath path;
  return SetTransform(primitive, transform, path);
}

}  // namespace vo
