// The per-primitive record (primitive property 322) and its handlers,
// invalidation of primitives and lists, and procedural classes.
//
// Copies of a primitive share its record (the count says how many); the
// record dies with its last sharer. Every live record is on the context's
// list, so that terminate can let go of what records hold before their pool
// goes; after terminate the handlers do nothing (the words they would read
// point into a pool that is gone).
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "scene/vogeom/face.h"
#include "backends/voopengl/opengl.h"
#include "kernel/vosystem/face.h"

namespace vo::opengl {

namespace {

VtOpenGLPrimitiveData **Field(VtPrimitive *p) {
  return PrimitiveLive(p) ? PropertyField<VtOpenGLPrimitiveData *>(p, nullptr, VO_PRIM_GL_PROPS) : nullptr;
}

VtOpenGLPrimitiveData *RecordNew(VtOpenGLContext *c) {
  auto *r = static_cast<VtOpenGLPrimitiveData *>(VoPoolAllocate(c->record_pool));
  if (r == nullptr) return nullptr;
  std::memset(static_cast<void *>(r), 0, sizeof *r);
  r->references = 1;
  r->list_group = -1;
  r->next = c->records;
  if (c->records != nullptr) c->records->prev = r;
  c->records = r;
  return r;
}

void RecordFree(VtOpenGLContext *c, VtOpenGLPrimitiveData *r) {
  if (r->prev != nullptr)
    r->prev->next = r->next;
  else
    c->records = r->next;
  if (r->next != nullptr) r->next->prev = r->prev;
  VoPoolFree(c->record_pool, r);
}

// Drops the display list, the triangulated copy and the inverse.
VtStatus GeometryDrop(VtOpenGLPrimitiveData *r) {
  VtStatus s = 0;
  if (r->display_list != 0) ListDelete(r->list_group, r->display_list);
  r->display_list = 0;
  r->list_group = -1;
  if (r->copy_made != 0 || r->copy != nullptr) {
    if (r->copy != nullptr) s |= VoPrimitiveReferenceDestroy(r->copy, 1);
    r->copy = nullptr;
    r->copy_made = 0;
  }
  if (r->inverse != nullptr) s |= VoTransformDestroy(r->inverse);
  r->inverse = nullptr;
  r->inverse_looked_up = 0;
  return s;
}

VtStatus Invalidate(VtOpenGLContext *c, VtPrimitive *p, VtOpenGLPrimitiveData *r, uint32_t flags) {
  const uint32_t given = flags;
  if ((flags & VO_OPENGL_INVALID_APPEARANCE) != 0 && c->display_list_mode == 1) flags += 1;
  VtStatus s = 0;
  if ((flags & (VO_OPENGL_INVALID_GEOMETRY | VO_OPENGL_INVALID_TRANSFORM)) != 0) s |= GeometryDrop(r);
  if ((flags & (VO_OPENGL_INVALID_MATERIAL | VO_OPENGL_INVALID_APPEARANCE)) != 0 &&
      r->material_cache != nullptr) {
    CacheRelease(c, r->material_cache);
    r->material_cache = nullptr;
  }
  if (r->procedural_class != nullptr && r->procedural_class->invalidate != nullptr)
    s |= r->procedural_class->invalidate(p, r->user_data, given);
  return s;
}

// ---- Handlers of property 322 -----------------------------------------------

VtStatus Enquire(VtPrimitive *, VtTypedValue *answer) {
  static VtOpenGLPrimitiveData *const kNone = nullptr;
  if (answer != nullptr) *answer = TypedPointer(const_cast<VtOpenGLPrimitiveData **>(&kNone));
  return 0;
}

VtStatus Destroy(VtPrimitive *p) {
  VtOpenGLContext *c = Context();
  VtOpenGLPrimitiveData **f = Field(p);
  if (c == nullptr || f == nullptr || *f == nullptr) return 0;
  VtOpenGLPrimitiveData *r = *f;
  *f = nullptr;
  if (--r->references != 0) return 0;
  VtStatus s = Invalidate(c, p, r, VO_OPENGL_INVALID_DEAD);
  if (r->procedural_class != nullptr && r->procedural_class->release != nullptr)
    s |= r->procedural_class->release(p, r->user_data);
  RecordFree(c, r);
  return s;
}

VtStatus Report(VtPrimitive *p) {
  VtTypedValue v{};
  if (VoPrimitiveGetProperty(p, VO_PRIM_GL_PROPS, &v) == 0 && v.value.p != nullptr)
    Post(VO_CLASS_DEBUG, messages::kOpenGLRecordSet, kModule,
         static_cast<const void *>(*static_cast<VtOpenGLPrimitiveData **>(v.value.p)));
  return 0;
}

VtStatus Copy(VtPrimitive *source, VtPrimitive *destination) {
  VtOpenGLPrimitiveData **to = Field(destination);
  if (to == nullptr) return 0;
  VtOpenGLPrimitiveData **from = Field(source);
  *to = nullptr;
  // Nothing to share once the module stopped.
  if (from == nullptr || *from == nullptr || Context() == nullptr) return 0;
  ++(*from)->references;
  *to = *from;
  return 0;
}

// Writes the record as the primitive's property 322.
VtStatus RecordStore(VtPrimitive *p, VtOpenGLPrimitiveData *r) {
  const VtTypedValue v = TypedPointer(&r);
  return VoPrimitiveSetProperty(p, VO_PRIM_GL_PROPS, &v);
}

bool IsList(VtPrimitive *p) {
  const uint32_t type = VoPrimitiveGetFlags(p) & VO_PRIMITIVE_TYPE_MASK;
  return type == VO_PRIMITIVE_LIST || type == VO_PRIMITIVE_LIST_COPY;
}

// live_only: primitives the application destroyed while a list still
// named them (a legal destroy outside a render) are passed over in silence.
VtStatus InvalidateTree(VtPrimitive *p, uint32_t flags, ListPath &path, bool live_only = false) {
  if (live_only && !PrimitiveLive(p)) return 0;
  VtStatus s = VoOpenGLPrimitiveInvalidate(p, flags);
  if (p == nullptr || !IsList(p)) return s;
  if (VtStatus e = path.Enter(p)) return s | e;
  ForEachNode(ListMembers(p), [&](VtReference *node) {
    s |= InvalidateTree(static_cast<VtPrimitive *>(node->data), flags, path, live_only);
  });
  path.Leave();
  return s;
}

}  // namespace

VtOpenGLPrimitiveData *RecordOf(VtPrimitive *p, VtStatus *status) {
  VtTypedValue v{};
  const VtStatus s = VoPrimitiveGetProperty(p, VO_PRIM_GL_PROPS, &v);
  if (status != nullptr) *status = s;
  if (s != 0 || v.value.p == nullptr) return nullptr;
  return *static_cast<VtOpenGLPrimitiveData **>(v.value.p);
}

VtOpenGLPrimitiveData *RecordMake(VtOpenGLContext *c, VtPrimitive *p, VtStatus *status) {
  VtOpenGLPrimitiveData *r = RecordNew(c);
  if (r == nullptr) {
    *status = VO_STATUS_NO_MEMORY;
    return nullptr;
  }
  if (VtStatus s = RecordStore(p, r); s != 0 || RecordOf(p) != r) {
    RecordFree(c, r);
    *status = s != 0 ? s : VO_STATUS_NO_MEMORY;
    return nullptr;
  }
  return r;
}

VtStatus PropertyStart(VtOpenGLContext *) {
  static const char kName[] = "voopengl:gl_prim_props";
  char name[64];
  std::snprintf(name, sizeof name, "%s:%d", kName, static_cast<int>(VO_PRIM_GL_PROPS));
  const VtPropertyDescriptor *d = PropertyDescriptor(VO_PRIM_GL_PROPS);
  // Registered by an earlier start (the registry keeps the name without its number).
  const bool ours = d != nullptr && d->name != nullptr && std::strcmp(d->name, kName) == 0;
  if (!ours && VoPrimitivePropertyRegister(name, VtGenericPtr, 1) == 0) return VO_STATUS_UNAVAILABLE;
  const struct {
    uint32_t operation;
    VtProc procedure;
  } kHandlers[] = {
      {VO_PROPERTY_PRIMITIVE_ENQUIRE, reinterpret_cast<VtProc>(&Enquire)},
      {VO_PROPERTY_PRIMITIVE_DESTROY, reinterpret_cast<VtProc>(&Destroy)},
      {VO_PROPERTY_PRIMITIVE_SET, reinterpret_cast<VtProc>(&Report)},
      {VO_PROPERTY_PRIMITIVE_COPY, reinterpret_cast<VtProc>(&Copy)},
  };
  VtStatus s = 0;
  for (const auto &h : kHandlers) s |= VoPropertySetHandler(VO_PRIM_GL_PROPS, h.operation, h.procedure);
  return s;
}

// A procedural class with the links of the module's register before it
// (the class's layout is the application's, so the links cannot be in it).
struct ProceduralBlock {
  ProceduralBlock *older, *newer;
  VtOpenGLContext *owner;  // whose register holds it, or null
  VtOpenGLProceduralClass procedural_class;
};

namespace {

ProceduralBlock *BlockOf(VtOpenGLProceduralClass *k) {
  return reinterpret_cast<ProceduralBlock *>(reinterpret_cast<char *>(k) -
                                             offsetof(ProceduralBlock, procedural_class));
}

void ProceduralEnlist(VtOpenGLContext *c, ProceduralBlock *b) {
  b->owner = c;
  b->older = c->procedural_classes;
  if (b->older != nullptr) b->older->newer = b;
  c->procedural_classes = b;
}

void ProceduralDelist(ProceduralBlock *b) {
  if (b->owner == nullptr) return;
  if (b->newer != nullptr) b->newer->older = b->older;
  if (b->older != nullptr) b->older->newer = b->newer;
  if (b->owner->procedural_classes == b) b->owner->procedural_classes = b->older;
  b->owner = nullptr;
}

// Every class from its creation to its destroy, process-wide: a class made
// before VoInitialise (no module list takes it) is destroyed whether or not
// the library runs, as VoFileClose closes, and one destroyed already, or
// freed by the terminate of the start that made it, is refused unread.
using LiveProceduralClasses = AddressRegister<VtOpenGLProceduralClass>;

__attribute__((destructor)) void LiveProceduralClassesFree() { LiveProceduralClasses::Free(); }

// Whether a primitive's record draws through the class: the record would
// be left reading a freed class at the next render.
bool ProceduralClassInUse(const VtOpenGLContext *c, const VtOpenGLProceduralClass *k) {
  for (const VtOpenGLPrimitiveData *r = c->records; r != nullptr; r = r->next)
    if (r->procedural_class == k) return true;
  return false;
}

}  // namespace

void ProceduralClassesFree(VtOpenGLContext *c) {
  while (c->procedural_classes != nullptr) {
    ProceduralBlock *b = c->procedural_classes;
    ProceduralDelist(b);
    (void)LiveProceduralClasses::Get().Take(&b->procedural_class);
    VoDeallocate(b);
  }
}

VtStatus SceneRecordsInvalidate(uint32_t flags) {
  VtReference *list = VoPrimitiveListGet();
  if (list == nullptr || RingLength(list) == kRingBroken) return 0;
  ListPath path;
  VtStatus s = 0;
  ForEachNode(list, [&](VtReference *node) {
    s |= InvalidateTree(static_cast<VtPrimitive *>(node->data), flags, path, true);
  });
  return s;
}

void RecordsStop(VtOpenGLContext *c) {
  for (VtOpenGLPrimitiveData *r = c->records; r != nullptr; r = r->next) {
    (void)GeometryDrop(r);
    if (r->material_cache != nullptr) CacheRelease(c, r->material_cache);
    r->material_cache = nullptr;
  }
}

}  // namespace vo::opengl

namespace vo {

using namespace opengl;

VtStatus VoOpenGLPrimitiveInvalidate(VtPrimitive *primitive, uint32_t flags) {
  VtOpenGLContext *c = Context();
  if (primitive == nullptr || c == nullptr) return VO_STATUS_UNAVAILABLE;
  VtStatus read = 0;
  VtOpenGLPrimitiveData *r = RecordOf(primitive, &read);
  if (r == nullptr) return read;
  return Invalidate(c, primitive, r, flags);
}

VtStatus VoOpenGLPrimitiveListInvalidate(VtReference *list, uint32_t flags) {
  if (list == nullptr) list = VoPrimitiveListGet();
  if (!RingAccepted(list, "VoOpenGLPrimitiveListInvalidate")) return VO_STATUS_BAD_ARGUMENT;
  ListPath path;
  VtStatus s = 0;
  ForEachNode(list, [&](VtReference *node) {
    s |= InvalidateTree(static_cast<VtPrimitive *>(node->data), flags, path);
  });
  return s;
}

VtStatus VoOpenGLPrimitiveSetProceduralClass(VtPrimitive *primitive,
                                             VtOpenGLProceduralClass *procedural_class, uintptr_t user_data) {
  VtOpenGLContext *c = Context();
  if (primitive == nullptr || c == nullptr) return VO_STATUS_UNAVAILABLE;
  VtStatus read = 0;
  VtOpenGLPrimitiveData *r = RecordOf(primitive, &read);
  if (read != 0) return read;
  if (r != nullptr) {
    VtOpenGLProceduralClass *old = r->procedural_class;
    if (r->user_data != 0 && old != nullptr && old->release != nullptr)
      (void)old->release(primitive, r->user_data);
    // What the old class drew must not replay for the new one.
    if (old != procedural_class) (void)GeometryDrop(r);
  } else {
    r = RecordNew(c);
    if (r == nullptr) return VO_COND_NO_MEMORY;
    if (VtStatus s = RecordStore(primitive, r); s != 0 || RecordOf(primitive) != r) {
      RecordFree(c, r);
      return s != 0 ? s : VO_COND_NO_MEMORY;
    }
  }
  r->procedural_class = procedural_class;
  r->user_data = user_data;
  return 0;
}

VtOpenGLProceduralClass *VoOpenGLProceduralClassCreate() {
  auto *b = static_cast<ProceduralBlock *>(VoAllocate(sizeof(ProceduralBlock)));
  if (b == nullptr) return nullptr;
  *b = ProceduralBlock{};
  if (!LiveProceduralClasses::Get().Add(&b->procedural_class)) {
    VoDeallocate(b);
    return nullptr;
  }
  if (VtOpenGLContext *c = Context()) ProceduralEnlist(c, b);
  return &b->procedural_class;
}

VtStatus VoOpenGLProceduralClassDestroy(void *procedural_class) {
  if (procedural_class == nullptr) return 0;
  auto *k = static_cast<VtOpenGLProceduralClass *>(procedural_class);
  const VtOpenGLContext *c = Context();
  if (c != nullptr && ProceduralClassInUse(c, k)) {
    Post(VO_STATUS_BAD_ARGUMENT, messages::kOpenGLProceduralClassInUse, kModule, procedural_class);
    return VO_STATUS_BAD_ARGUMENT;
  }
  if (!LiveProceduralClasses::Get().Take(k)) {
    // Freed by a terminate, and asked after it: answered as every handle
    // kept past the terminate is.
    if (LibraryStopped()) return VO_STATUS_NOT_INITIALISED;
    Post(VO_STATUS_BAD_ARGUMENT, messages::kObjectNotLive, kModule, "VoOpenGLProceduralClassDestroy",
         procedural_class, "procedural class");
    return VO_STATUS_BAD_ARGUMENT;
  }
  ProceduralBlock *b = BlockOf(k);
  ProceduralDelist(b);
  VoDeallocate(b);
  return 0;
}

VtStatus VoOpenGLProceduralClassSetCallback(VtOpenGLProceduralClass *procedural_class, uint32_t slot,
                                            VtProc procedure) {
  if (procedural_class == nullptr || slot > VO_OPENGL_SLOT_QUERY) return VO_STATUS_UNAVAILABLE;
  switch (slot) {
    case VO_OPENGL_SLOT_DRAW: procedural_class->draw = reinterpret_cast<VtOpenGLDrawProc>(procedure); break;
    case VO_OPENGL_SLOT_INVALIDATE:
      procedural_class->invalidate = reinterpret_cast<VtOpenGLInvalidateProc>(procedure);
      break;
    case VO_OPENGL_SLOT_RELEASE:
      procedural_class->release = reinterpret_cast<VtOpenGLReleaseProc>(procedure);
      break;
    default: procedural_class->query = reinterpret_cast<VtOpenGLQueryProc>(procedure); break;
  }
  return 0;
}

}  // namespace vo
