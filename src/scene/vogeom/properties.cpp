// The property registry: registration, handlers, descriptions, and the get,
// set and reset of element properties.

#include <cstdio>
#include <cstring>

#include "scene/vogeom/geom_state.h"
#include "scene/vogeom/geom_messages.h"
#include "scene/vogeom/scene_hooks.h"

namespace vo {

namespace {

// Element sizes of the value types a property may have. Every type that
// carries an address is pointer-sized and lies in the 8-byte layout class.
struct PropertyValueType {
  uint32_t code;
  uint32_t size;
};
constexpr uint32_t kPointerBytes = sizeof(void *);
constexpr PropertyValueType kPropertyValueTypes[] = {
    {1, 4},
    {2, 4},
    {3, 4},
    {4, 8},
    {5, 4},
    {6, 4},
    {7, 12},
    {8, 12},
    {28, 32},
    {33, 2},
    {34, 2},
    {39, 4},
    // Pointer-carrying types: strings, generic pointers, handles, addresses
    // of values, and the reserved address types 17, 35, 36 and 40.
    {10, kPointerBytes},
    {11, kPointerBytes},
    {12, kPointerBytes},
    {13, kPointerBytes},
    {14, kPointerBytes},
    {15, kPointerBytes},
    {16, kPointerBytes},
    {17, kPointerBytes},
    {35, kPointerBytes},
    {36, kPointerBytes},
    {40, kPointerBytes},
};
static_assert(kPointerBytes == 8, "pointer-valued properties are 8 bytes on this platform");
constexpr bool PointerTypesArePointerSized() {
  for (const PropertyValueType &t : kPropertyValueTypes)
    if ((t.code >= 10 && t.code <= 17) || t.code == 35 || t.code == 36 || t.code == 40)
      if (t.size != sizeof(void *)) return false;
  return true;
}
static_assert(PointerTypesArePointerSized(), "every pointer-carrying property type is pointer-sized");

// Per thread: workers name properties at the same time.
thread_local char g_name_fallback[kPropertyNameBuffer];

constexpr uint32_t kAutomaticFirst[4] = {VO_PRIM_AUTOMATIC_FIRST, VO_POLY_AUTOMATIC_FIRST,
                                         VO_EDGE_AUTOMATIC_FIRST, VO_VERT_AUTOMATIC_FIRST};
constexpr uint32_t kNameNumberMax = 0xFFFF;

VtPropertyDescriptor *DescriptorOf(uint32_t code) {
  VtPropertyRegistry *r = PropertyRegistry();
  if (r == nullptr || !CodeValid(code)) return nullptr;
  VtPropertyDescriptor *d = &r->tables[CodeKind(code) - 1].descriptors[CodeSlot(code)];
  return d->registered ? d : nullptr;
}

// Splits "module:word:number" into the stored name (up to the second colon)
// and the number (0 when there is no second colon). False when the number
// part holds anything but decimal digits or is too large.
bool NameParse(const char *name, size_t *stored_length, uint32_t *number) {
  const char *first = std::strchr(name, ':');
  const char *second = first ? std::strchr(first + 1, ':') : nullptr;
  *number = 0;
  if (second == nullptr) {
    *stored_length = std::strlen(name);
    return true;
  }
  *stored_length = static_cast<size_t>(second - name);
  uint32_t n = 0;
  for (const char *c = second + 1; *c != 0; ++c) {
    if (*c < '0' || *c > '9') return false;
    n = n * 10 + static_cast<uint32_t>(*c - '0');
    if (n > kNameNumberMax) return false;
  }
  *number = n;
  return true;
}

// The enquiry a property of the kind has when none is set.
VtProc EnquireDefault(uint32_t kind) {
  return kind == VO_ELEMENT_PRIMITIVE ? reinterpret_cast<VtProc>(&PrimitiveEnquireDefault)
                                      : reinterpret_cast<VtProc>(&ElementEnquireDefault);
}

void DefaultHandlers(VtPropertyDescriptor *d, uint32_t kind) {
  const VtProc noop = PropertyNoOpSentinel();
  d->initialise = noop;
  d->destroy = noop;
  d->interpolate = noop;
  d->copy = nullptr;
  d->set = nullptr;
  d->enquire = EnquireDefault(kind);
}

// The data block of an element of a kind (the primitive's for kind 1).
void *BlockOf(VtPrimitive *p, uint32_t kind, void *element) {
  return kind == VO_ELEMENT_PRIMITIVE ? p->data : element;
}

VtStatus Enquire(const VtPropertyDescriptor *d, VtPrimitive *p, void *element, VtTypedValue *value) {
  const VtProc h = d->enquire ? d->enquire : EnquireDefault(CodeKind(d->code));
  if (CodeKind(d->code) == VO_ELEMENT_PRIMITIVE)
    return reinterpret_cast<VtPrimitivePropertyEnquire>(h)(p, value);
  return reinterpret_cast<VtElementPropertyEnquire>(h)(p, element, value);
}

VtStatus Get(uint32_t kind, VtPrimitive *p, void *element, uint32_t code, VtTypedValue *value) {
  // A property the layout holds (only registered ones are laid out) answers
  // its storage; the registry is read only for the others.
  const bool of_kind = CodeKind(code) == kind && CodeValid(code);
  const int32_t offset = of_kind && p->contents ? LayoutOffset(p->contents, kind, CodeSlot(code)) : -1;
  void *block = BlockOf(p, kind, element);
  if (offset >= 0 && block != nullptr && value != nullptr) {
    *value = TypedPointer(ElementField<char>(block, offset));
    return 0;
  }
  const VtPropertyDescriptor *d = of_kind ? DescriptorOf(code) : nullptr;
  if (d == nullptr || value == nullptr) {
    if (value != nullptr) *value = VtTypedValue{};
    return VO_STATUS_BAD_ARGUMENT;
  }
  return Enquire(d, p, element, value);
}

VtStatus Reset(uint32_t kind, VtPrimitive *p, void *element, uint32_t code) {
  const VtPropertyDescriptor *d = CodeKind(code) == kind ? DescriptorOf(code) : nullptr;
  if (d == nullptr) return VO_STATUS_BAD_ARGUMENT;
  SceneBoundsInvalidate();
  if (kind == VO_ELEMENT_VERTEX && code == VO_VERT_NORMAL && element == nullptr)
    return VertexNormalsGenerate(p);
  if (p->contents == nullptr || LayoutOffset(p->contents, kind, CodeSlot(code)) < 0) return 0;
  if (kind == VO_ELEMENT_PRIMITIVE) {
    VtStatus s = PropertyInitialise(d, p, nullptr);
    if (s == 0 && code == VO_PRIM_EDGES) s = PrimitiveEdgesLink(p);
    return s;
  }
  if (element != nullptr) return PropertyInitialise(d, p, element);
  VtStatus s = 0;
  ForEachElement(p, kind, [&](void *e) { s |= PropertyInitialise(d, p, e); });
  return s;
}

// Reset of one element, or (null element) of the primitive's whole ring.
VtStatus ElementReset(uint32_t kind, VtPrimitive *p, void *element, uint32_t code) {
  if (element != nullptr) {
    if (VtStatus s = ElementCheck(kind, p, element, &p)) return s;
  } else {
    if (p == nullptr) return 0;
    if (VtStatus s = PrimitiveCheck(p)) return s;
  }
  return Reset(kind, p, element, code);
}

}  // namespace

// ---------------------------------------------------------------------------
// Checks
// ---------------------------------------------------------------------------

VtStatus PrimitiveCheck(const VtPrimitive *p, uint32_t module) {
  if (PrimitiveLive(p) && p->contents != nullptr) return 0;
  Post(VO_STATUS_BAD_ARGUMENT, geom_msg::kPrimitiveNotLive, module, static_cast<const void *>(p));
  return VO_STATUS_BAD_ARGUMENT;
}

bool ContentsRefused(const VtContents *c, const char *procedure, uint32_t module) {
  if (c == nullptr || c->check == kContentsLive) return false;
  Post(VO_STATUS_BAD_ARGUMENT, messages::kObjectNotLive, module, procedure, static_cast<const void *>(c),
       "contents record");
  return true;
}

VtStatus ElementCheck(uint32_t kind, VtPrimitive *p, void *element, VtPrimitive **use, bool own) {
  VtPrimitive *owner = ElementOwner(element, kind);
  if (owner == nullptr) {
    Post(VO_STATUS_BAD_ARGUMENT, geom_msg::kElementNotLive, VO_MODULE_GEOMETRY,
         static_cast<const void *>(element), kind);
    return VO_STATUS_BAD_ARGUMENT;
  }
  if (p == nullptr) p = owner;
  if (!PrimitiveLive(p) || p->contents == nullptr || !PrimitiveLive(owner) ||
      (owner != p && (own || KindTable(owner->contents, kind) != KindTable(p->contents, kind)))) {
    Post(VO_STATUS_BAD_ARGUMENT, geom_msg::kElementForeign, VO_MODULE_GEOMETRY,
         static_cast<const void *>(element), static_cast<const void *>(p));
    return VO_STATUS_BAD_ARGUMENT;
  }
  *use = p;
  return 0;
}

// ---------------------------------------------------------------------------
// Registry
// ---------------------------------------------------------------------------

VtPropertyRegistry *PropertyRegistry() {
  GeomState *g = Geom();
  return g ? g->registry : nullptr;
}

const VtPropertyDescriptor *PropertyDescriptor(uint32_t code) { return DescriptorOf(code); }

uint32_t ValueElementSize(uint32_t value_type) {
  for (const PropertyValueType &t : kPropertyValueTypes)
    if (t.code == value_type) return t.size;
  return 0;
}

VtStatus RegistryCreate(GeomState *g) {
  auto *r = static_cast<VtPropertyRegistry *>(VoAllocate(sizeof(VtPropertyRegistry)));
  if (r == nullptr) return VO_STATUS_UNAVAILABLE;
  std::memset(static_cast<void *>(r), 0, sizeof *r);
  for (uint32_t k = 0; k < 4; ++k) {
    r->tables[k].capacity = kSlotCount;
    r->tables[k].next_code = kAutomaticFirst[k];
  }
  g->registry = r;
  return 0;
}

void RegistryDestroy(GeomState *g) {
  VtPropertyRegistry *r = g->registry;
  if (r == nullptr) return;
  for (VtPropertyTable &t : r->tables)
    for (VtPropertyDescriptor &d : t.descriptors) VoDeallocate(d.name);
  VoDeallocate(r);
  g->registry = nullptr;
}

uint32_t PropertyRegister(uint32_t kind, const char *name, uint32_t value_type, uint32_t count) {
  VtPropertyRegistry *r = PropertyRegistry();
  if (r == nullptr) return 0;
  // The privileged flag serves one registration, refused or not.
  const uint32_t privileged = r->privileged;
  r->privileged = 0;
  const uint32_t element = ValueElementSize(value_type);
  if (element == 0) {
    Post(VO_STATUS_BAD_ARGUMENT, geom_msg::kPropertyValueType, VO_MODULE_GEOMETRY,
         static_cast<int32_t>(value_type));
    return 0;
  }
  if (count == 0 && !privileged) {
    Post(VO_STATUS_BAD_ARGUMENT, geom_msg::kPropertyCountZero, VO_MODULE_GEOMETRY, int32_t{0});
    return 0;
  }
  const bool mandatory = privileged && count != 0;
  if (uint64_t{element} * count > VO_PROPERTY_BYTES_MAX) {
    Post(VO_STATUS_BAD_ARGUMENT, geom_msg::kPropertyTooLarge, VO_MODULE_GEOMETRY, name ? name : "", element,
         count);
    return 0;
  }
  size_t stored = 0;
  uint32_t number = 0;
  if (name == nullptr || !NameParse(name, &stored, &number)) {
    Post(VO_STATUS_BAD_ARGUMENT, geom_msg::kPropertySlot, VO_MODULE_GEOMETRY, kind);
    return 0;
  }
  VtPropertyTable &table = r->tables[kind - 1];
  if (number == 0) number = table.next_code++;
  const uint32_t slot = number & 0xFFu;
  if (slot >= kSlotCount) {
    Post(VO_STATUS_BAD_ARGUMENT, geom_msg::kPropertySlot, VO_MODULE_GEOMETRY, kind);
    return 0;
  }
  VtPropertyDescriptor *d = &table.descriptors[slot];
  if (d->registered) {
    Post(VO_STATUS_BAD_ARGUMENT, geom_msg::kPropertyRegistered, VO_MODULE_GEOMETRY,
         static_cast<int32_t>(slot), kind);
    return 0;
  }
  char *copy = static_cast<char *>(VoAllocate(static_cast<uint32_t>(stored + 1)));
  if (copy == nullptr) return 0;
  std::memcpy(copy, name, stored);
  copy[stored] = 0;
  std::memset(static_cast<void *>(d), 0, sizeof *d);
  d->code = VO_PROPERTY_CODE(kind, slot);
  d->registered = 1;
  d->mandatory = mandatory ? 1 : 0;
  d->name = copy;
  d->value_type = value_type;
  d->count = count;
  d->byte_size = static_cast<uint16_t>(element * count);
  d->element_size = static_cast<uint16_t>(element);
  SlotSetAdd(d->slot_mask, slot);
  DefaultHandlers(d, kind);
  if (mandatory) {
    SlotSetAdd(table.mandatory, slot);
    DefaultContentsWiden(kind, slot);
  }
  return d->code;
}

uint32_t VoPrimitivePropertyRegister(const char *name, uint32_t value_type, uint32_t count) {
  return PropertyRegister(VO_ELEMENT_PRIMITIVE, name, value_type, count);
}
uint32_t VoPolygonPropertyRegister(const char *name, uint32_t value_type, uint32_t count) {
  return PropertyRegister(VO_ELEMENT_POLYGON, name, value_type, count);
}
uint32_t VoEdgePropertyRegister(const char *name, uint32_t value_type, uint32_t count) {
  return PropertyRegister(VO_ELEMENT_EDGE, name, value_type, count);
}
uint32_t VoVertexPropertyRegister(const char *name, uint32_t value_type, uint32_t count) {
  return PropertyRegister(VO_ELEMENT_VERTEX, name, value_type, count);
}

VtStatus VoPropertyFlagMandatory() {
  VtPropertyRegistry *r = PropertyRegistry();
  if (r == nullptr) return VO_STATUS_UNAVAILABLE;
  r->privileged = 1;
  return 0;
}

const char *VoPropertyMakeName(const char *word, int32_t number) {
  VtPropertyRegistry *r = PropertyRegistry();
  char *buffer = r ? r->name_buffer : g_name_fallback;
  std::snprintf(buffer, kPropertyNameBuffer, "vogeom:%s:%d", word ? word : "", number);
  return buffer;
}

VtStatus VoPropertySetHandler(uint32_t code, uint32_t operation, VtProc procedure) {
  VtPropertyDescriptor *d = DescriptorOf(code);
  if (d == nullptr) return VO_STATUS_UNAVAILABLE;
  const VtProc noop = PropertyNoOpSentinel();
  if (operation == VO_PROPERTY_VERTEX_INTERPOLATE) {
    d->interpolate = procedure ? procedure : noop;
    // Layouts already built blend by the handler they were built with.
    if (CodeKind(code) == VO_ELEMENT_VERTEX) InterpolationRebuildForSlot(CodeSlot(code));
    return 0;
  }
  if (operation < VO_PROPERTY_PRIMITIVE_COPY || operation > VO_PROPERTY_VERTEX_DESTROY) return 0;
  // Five operations a kind: copy, initialise, set, enquire, destroy.
  switch ((operation - 1) % 5) {
    case 0: d->copy = procedure; break;
    case 1: d->initialise = procedure ? procedure : noop; break;
    case 2: d->set = procedure; break;
    case 3: d->enquire = procedure ? procedure : EnquireDefault((operation - 1) / 5 + 1); break;
    default: d->destroy = procedure ? procedure : noop; break;
  }
  return 0;
}

VtStatus VoPropertyGetDescription(uint32_t code, const char **name, uint32_t *value_type, uint32_t *count,
                                  uint32_t *byte_size) {
  const VtPropertyDescriptor *d = DescriptorOf(code);
  if (name) *name = d ? d->name : "";
  if (value_type) *value_type = d ? d->value_type : 0;
  if (count) *count = d ? d->count : 0;
  if (byte_size) *byte_size = d ? d->byte_size : 0;
  return d ? 0 : VO_STATUS_UNAVAILABLE;
}

int32_t VoPropertyGetOffset(VtContents *contents, uint32_t code) {
  if (ContentsRefused(contents, "VoPropertyGetOffset")) return -1;
  return PropertyOffset(contents, code);
}

// ---------------------------------------------------------------------------
// Handlers
// ---------------------------------------------------------------------------

VtStatus ElementInitialiseAll(VtPrimitive *p, uint32_t kind, void *element) {
  VtStatus s = 0;
  ForEachLaidOut(KindTable(p->contents, kind),
                 [&](const VtPropertyDescriptor &d, uint32_t) { s |= PropertyInitialise(&d, p, element); });
  return s;
}

VtStatus PrimitivePropertiesDestroy(VtPrimitive *p, const VtContentsKindTable *kept) {
  if (p->contents == nullptr || p->data == nullptr) return 0;
  const VtContentsKindTable *t = KindTable(p->contents, VO_ELEMENT_PRIMITIVE);
  const uint32_t edges = CodeSlot(VO_PRIM_EDGES);
  VtStatus s = 0;
  auto destroy = [&](const VtPropertyDescriptor &d, uint32_t slot) {
    if (kept == nullptr || kept->slots[slot].offset < 0) s |= PropertyDestroy(&d, p, nullptr);
  };
  if (t->slots[edges].offset >= 0)
    if (const VtPropertyDescriptor *d = DescriptorOf(VO_PRIM_EDGES)) destroy(*d, edges);
  ForEachLaidOut(t, [&](const VtPropertyDescriptor &d, uint32_t slot) {
    if (slot != edges) destroy(d, slot);
  });
  return s;
}

// ---------------------------------------------------------------------------
// Get, set and reset
// ---------------------------------------------------------------------------

VtStatus ElementPropertySet(uint32_t kind, VtPrimitive *p, void *element, uint32_t code,
                            const VtTypedValue *value, void **mapped) {
  if (mapped) *mapped = element;
  SceneBoundsInvalidate();
  const VtPropertyDescriptor *d = CodeKind(code) == kind ? DescriptorOf(code) : nullptr;
  if (d == nullptr) {
    Post(VO_STATUS_BAD_ARGUMENT, geom_msg::kPropertyNotRegistered, VO_MODULE_GEOMETRY, code);
    return VO_STATUS_BAD_ARGUMENT;
  }
  if (code == VO_PRIM_CONTENTS) {
    if (value == nullptr || value->value.p == nullptr) return VO_STATUS_UNAVAILABLE;
    return VoPrimitiveSetContents(p, *static_cast<VtContents *const *>(value->value.p));
  }
  if (value == nullptr || value->value.p == nullptr) return VO_STATUS_UNAVAILABLE;
  if (d->byte_size == 0) {
    Post(VO_STATUS_BAD_ARGUMENT, geom_msg::kPropertyNoStorage, VO_MODULE_GEOMETRY, code);
    return VO_STATUS_BAD_ARGUMENT;
  }
  const uint32_t slot = CodeSlot(code);
  int32_t offset = LayoutOffset(p->contents, kind, slot);
  if (offset >= 0) {
    std::memmove(ElementField<char>(BlockOf(p, kind, element), offset), value->value.p, d->byte_size);
    return 0;
  }
  // The property is added: the source bytes are kept aside first, as they
  // may lie in a block the conversion gives back.
  unsigned char saved[VO_PROPERTY_BYTES_MAX];
  std::memcpy(saved, value->value.p, d->byte_size);
  VtContents *wider = VoContentsUnion(p->contents, 1, &code);
  if (wider == nullptr) return VO_STATUS_NO_MEMORY;
  void *moved = element;
  const VtStatus s = PrimitiveConvert(p, wider, kind, element, &moved);
  if (p->contents != wider) return s;
  offset = LayoutOffset(p->contents, kind, slot);
  void *block = BlockOf(p, kind, moved);
  if (offset >= 0 && block != nullptr) std::memcpy(ElementField<char>(block, offset), saved, d->byte_size);
  if (mapped) *mapped = moved;
  return s;
}

VtStatus VoPrimitiveGetProperty(VtPrimitive *p, uint32_t code, VtTypedValue *value) {
  if (p == nullptr) return 0;
  if (VtStatus s = PrimitiveCheck(p)) return s;
  return Get(VO_ELEMENT_PRIMITIVE, p, nullptr, code, value);
}

// A primitive given with an element is checked first, with or without the
// element: a destroyed one, or a record of another kind, is refused.
VtStatus VoPolygonGetProperty(VtPrimitive *p, VtPolygon *polygon, uint32_t code, VtTypedValue *value) {
  if (p != nullptr)
    if (VtStatus s = PrimitiveCheck(p)) return s;
  if (polygon == nullptr) return 0;
  if (VtStatus s = ElementCheck(VO_ELEMENT_POLYGON, p, polygon, &p)) return s;
  return Get(VO_ELEMENT_POLYGON, p, polygon, code, value);
}

VtStatus VoEdgeGetProperty(VtPrimitive *p, VtEdge *edge, uint32_t code, VtTypedValue *value) {
  if (p == nullptr) return 0;
  if (VtStatus s = PrimitiveCheck(p)) return s;
  if (edge == nullptr) return 0;
  if (VtStatus s = ElementCheck(VO_ELEMENT_EDGE, p, edge, &p)) return s;
  return Get(VO_ELEMENT_EDGE, p, edge, code, value);
}

VtStatus VoVertexGetProperty(VtPrimitive *p, VtVertex *vertex, uint32_t code, VtTypedValue *value) {
  if (p == nullptr) return 0;
  if (VtStatus s = PrimitiveCheck(p)) return s;
  if (vertex == nullptr) return 0;
  if (VtStatus s = ElementCheck(VO_ELEMENT_VERTEX, p, vertex, &p)) return s;
  return Get(VO_ELEMENT_VERTEX, p, vertex, code, value);
}

VtStatus VoPrimitiveSetProperty(VtPrimitive *p, uint32_t code, const VtTypedValue *value) {
  if (p == nullptr) return 0;
  if (VtStatus s = PrimitiveCheck(p)) return s;
  return ElementPropertySet(VO_ELEMENT_PRIMITIVE, p, nullptr, code, value, nullptr);
}

VtStatus VoPolygonSetProperty(VtPrimitive *p, VtPolygon *polygon, uint32_t code, const VtTypedValue *value) {
  if (p == nullptr) return 0;
  if (VtStatus s = PrimitiveCheck(p)) return s;
  if (polygon == nullptr) return 0;
  if (VtStatus s = ElementCheck(VO_ELEMENT_POLYGON, p, polygon, &p, true)) return s;
  return ElementPropertySet(VO_ELEMENT_POLYGON, p, polygon, code, value, nullptr);
}

VtStatus VoPrimitiveResetProperty(VtPrimitive *p, uint32_t code) {
  if (p == nullptr) return 0;
  if (VtStatus s = PrimitiveCheck(p)) return s;
  return Reset(VO_ELEMENT_PRIMITIVE, p, nullptr, code);
}

VtStatus VoPolygonResetProperty(VtPrimitive *p, VtPolygon *polygon, uint32_t code) {
  return ElementReset(VO_ELEMENT_POLYGON, p, polygon, code);
}

VtStatus VoVertexResetProperty(VtPrimitive *p, VtVertex *vertex, uint32_t code) {
  return ElementReset(VO_ELEMENT_VERTEX, p, vertex, code);
}

}  // namespace vo
