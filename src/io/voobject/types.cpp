// The registry of data-object types, the interface through which
// applications register their own, and the built-in types 1-7, 9-21 and 25
// with their codecs.
//
// A type's fixed size is what its payload takes in a file: the element size
// for the scalars 1-5; count x (4 + the element type's fixed size) summed
// over the fields for a type made only of fixed fields held by value (each
// element is a nested item with its own type word); 0 (a length word) for
// anything else. It is worked out again whenever an encoder is set, since
// every type built on the changed one changes with it.

#include <cstring>

#include "io/voobject/object.h"

namespace vo::object {

namespace {

constexpr uint32_t kRegistryBuckets = 100;

void *DefaultAllocate(uint32_t size) {
  if (size == 0) return nullptr;
  void *p = VoAllocate(size);
  if (p != nullptr) std::memset(p, 0, size);
  return p;
}

void DefaultDeallocate(void *block) { VoDeallocate(block); }

uint32_t FixedSize(const DataObjectType *t) {
  if (t->encoder != nullptr) return 0;
  if (t->builtin_encoder != nullptr) return t->id <= VO_OBJECT_DOUBLE ? t->element_size : 0;
  uint64_t sum = 0;
  for (uint32_t f = 0; f < t->field_count; ++f) {
    if ((t->field_types[f] & VO_OBJECT_REFERENCE) != 0) return 0;
    const uint32_t element = FixedSize(t->field_records[f]);
    if (element == 0) return 0;
    sum += static_cast<uint64_t>(t->field_counts[f]) * (4 + static_cast<uint64_t>(element));
    if (sum > UINT32_MAX) return 0;
  }
  return static_cast<uint32_t>(sum);
}

void FixedSizesRefresh(ObjectState *st) {
  uintptr_t key = 0, value = 0;
  for (uint32_t more = VoHashTableFirst(st->registry, &key, &value); more;
       more = VoHashTableNext(st->registry, &key, &value)) {
    auto *t = reinterpret_cast<DataObjectType *>(value);
    t->fixed_size = FixedSize(t);
  }
}

// The field arrays are one block, starting at field_records.
void TypeFree(DataObjectType *t) {
  VoDeallocate(t->field_records);
  VoDeallocate(t);
}

// Checks the fields of a new type: registered types, elements inside the
// element size.
bool FieldsFit(uint32_t count, const uint32_t *types, const uint32_t *counts, const uint32_t *offsets,
               uint32_t element_size, DataObjectType **records) {
  for (uint32_t f = 0; f < count; ++f) {
    records[f] = TypeFind(types[f] & VO_OBJECT_TYPE_MASK);
    if (records[f] == nullptr || (types[f] & ~(VO_OBJECT_TYPE_MASK | VO_OBJECT_REFERENCE)) != 0) return false;
    const uint64_t stride = (types[f] & VO_OBJECT_REFERENCE) != 0 ? sizeof(void *) : records[f]->element_size;
    if (counts[f] != 0 && static_cast<uint64_t>(offsets[f]) + counts[f] * stride > element_size) return false;
  }
  return true;
}

VtStatus TypeCreate(uint32_t id, uint32_t version, uint32_t count, const uint32_t *types,
                    const uint32_t *counts, const uint32_t *offsets, const uint32_t *versions,
                    uint32_t element_size, DataObjectType **made) {
  ObjectState *st = State();
  if (st == nullptr || id == 0 || id > VO_OBJECT_TYPE_MASK || version > kMostVersion ||
      TypeFind(id) != nullptr)
    return kFailed;
  if (count != 0 && (types == nullptr || counts == nullptr || offsets == nullptr || versions == nullptr))
    return kFailed;
  constexpr size_t kPerField = 4 * sizeof(uint32_t) + sizeof(DataObjectType *);
  if (count > UINT32_MAX / kPerField) return kFailed;
  auto *t = static_cast<DataObjectType *>(DefaultAllocate(sizeof(DataObjectType)));
  if (t == nullptr) return kFailed;
  if (count != 0) {
    auto *block = static_cast<uint8_t *>(DefaultAllocate(static_cast<uint32_t>(count * kPerField)));
    if (block == nullptr) {
      TypeFree(t);
      return kFailed;
    }
    t->field_records = reinterpret_cast<DataObjectType **>(block);
    t->field_types = reinterpret_cast<uint32_t *>(block + count * sizeof(DataObjectType *));
    t->field_counts = t->field_types + count;
    t->field_offsets = t->field_counts + count;
    t->field_versions = t->field_offsets + count;
    std::memcpy(t->field_types, types, count * sizeof(uint32_t));
    std::memcpy(t->field_counts, counts, count * sizeof(uint32_t));
    std::memcpy(t->field_offsets, offsets, count * sizeof(uint32_t));
    std::memcpy(t->field_versions, versions, count * sizeof(uint32_t));
    if (!FieldsFit(count, types, counts, offsets, element_size, t->field_records)) {
      TypeFree(t);
      return kFailed;
    }
  }
  t->element_size = element_size;
  t->id = id;
  t->version = version;
  t->tagged = 1;
  t->field_count = count;
  t->allocator = &DefaultAllocate;
  t->deallocator = &DefaultDeallocate;
  t->fixed_size = FixedSize(t);
  if (VoHashTableStoreRecord(st->registry, id, reinterpret_cast<uintptr_t>(t)) != 0) {
    TypeFree(t);
    return kFailed;
  }
  ++st->type_count;
  if (made != nullptr) *made = t;
  return 0;
}

// ---------------------------------------------------------------------------
// Built-in codecs
// ---------------------------------------------------------------------------

VtStatus ScalarEncode(const DataObjectType *t, uint32_t, void *value, VtObjectStream *s) {
  if (value == nullptr) return kFailed;
  if (t->id == VO_OBJECT_DOUBLE) {
    double d;
    std::memcpy(&d, value, 8);
    return DoubleWrite(s, d);
  }
  uint32_t w;
  std::memcpy(&w, value, 4);
  return WordWrite(s, w);
}

VtStatus ScalarDecode(const DataObjectType *t, uint32_t, void *destination, uint32_t, VtObjectStream *s) {
  if (t->id == VO_OBJECT_DOUBLE) {
    double d = 0;
    const VtStatus st = DoubleRead(s, &d);
    if (st == 0) std::memcpy(destination, &d, 8);
    return st;
  }
  uint32_t w = 0;
  const VtStatus st = WordRead(s, &w);
  if (st == 0) std::memcpy(destination, &w, 4);
  return st;
}

// n units of the given size, then the unit count, of a string that must
// end in a 0 unit; the units stay as they are in the file.
VtStatus UnitsWrite(VtObjectStream *s, const void *text, size_t units, size_t unit) {
  if (units > UINT32_MAX) return kFailed;
  VtStatus st = WordWrite(s, static_cast<uint32_t>(units));
  if (st == 0 && units != 0) st = BytesWrite(s, text, units * unit);
  return st;
}

// Reads bytes into a new block of the type's allocator. The bytes arrive
// first (in growing pieces past 1 MiB), so that a crafted count costs no
// more memory than the bytes the stream really holds; a type with an
// allocator of its own then gets them copied into its block.
VtStatus TypeBlockRead(VtObjectStream *s, const DataObjectType *t, size_t bytes, void **block) {
  uint8_t *read = nullptr;
  if (bytes > UINT32_MAX || BlockRead(s, bytes, &read) != 0) return kFailed;
  if (t->allocator == &DefaultAllocate) {
    *block = read;
    return 0;
  }
  void *p = t->allocator(static_cast<uint32_t>(bytes));
  if (p != nullptr) std::memcpy(p, read, bytes);
  VoDeallocate(read);
  *block = p;
  return p != nullptr ? 0 : kFailed;
}

// The unit count is bounded by what is left of the item, and the last unit
// must be 0: no huge block for a crafted count, no unterminated text.
VtStatus UnitsRead(VtObjectStream *s, const DataObjectType *t, size_t unit, void **text, uint32_t *count) {
  uint32_t units = 0;
  if (WordRead(s, &units) != 0) return kFailed;
  *count = units;
  if (units == 0) {
    *text = nullptr;
    return 0;
  }
  const uint64_t bytes = static_cast<uint64_t>(units) * unit;
  if (s->limit != kNoLimit && bytes > s->limit - s->used) return kFailed;
  void *block = nullptr;
  if (TypeBlockRead(s, t, bytes, &block) != 0) return kFailed;
  const auto *b = static_cast<const uint8_t *>(block);
  if (b[bytes - 1] != 0 || b[bytes - unit] != 0) {
    t->deallocator(block);
    return kFailed;
  }
  *text = block;
  return 0;
}

VtStatus StringEncode(const DataObjectType *, uint32_t, void *value, VtObjectStream *s) {
  if (value == nullptr) return kFailed;
  const char *text;
  std::memcpy(&text, value, sizeof text);
  return UnitsWrite(s, text, text == nullptr ? 0 : std::strlen(text) + 1, 1);
}

VtStatus StringDecode(const DataObjectType *t, uint32_t, void *destination, uint32_t, VtObjectStream *s) {
  void *text = nullptr;
  uint32_t units = 0;
  const VtStatus st = UnitsRead(s, t, 1, &text, &units);
  if (st == 0) std::memcpy(destination, &text, sizeof text);
  return st;
}

VtStatus WideEncode(const DataObjectType *, uint32_t, void *value, VtObjectStream *s) {
  if (value == nullptr) return kFailed;
  const uint16_t *text;
  std::memcpy(&text, value, sizeof text);
  if (text == nullptr) return WordWrite(s, 0);
  size_t n = 0;
  while (text[n] != 0) ++n;
  ++n;
  if (n > UINT32_MAX) return kFailed;
  VtStatus st = WordWrite(s, static_cast<uint32_t>(n));
  for (size_t i = 0; i < n && st == 0; ++i) {
    const uint8_t b[2] = {static_cast<uint8_t>(text[i] >> 8), static_cast<uint8_t>(text[i])};
    st = BytesWrite(s, b, 2);
  }
  return st;
}

VtStatus WideDecode(const DataObjectType *t, uint32_t, void *destination, uint32_t, VtObjectStream *s) {
  void *block = nullptr;
  uint32_t units = 0;
  const VtStatus st = UnitsRead(s, t, 2, &block, &units);
  if (st != 0) return st;
  auto *bytes = static_cast<uint8_t *>(block);
  for (uint32_t i = 0; i < units; ++i) {
    const auto unit = static_cast<uint16_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
    std::memcpy(bytes + 2 * i, &unit, 2);
  }
  std::memcpy(destination, &block, sizeof block);
  return 0;
}

// Typed values: the code, then the value by code. Codes without a way to
// be saved write the code alone and answer 0x20000000 on both sides.
VtStatus TypedEncode(const DataObjectType *, uint32_t type_id, void *value, VtObjectStream *s) {
  if (value == nullptr) return kFailed;
  VtTypedValue v;
  std::memcpy(&v, value, sizeof v);
  VtStatus st = WordWrite(s, v.type);
  if (st != 0) return st;
  switch (v.type) {
    case VtVoid:
    case VtFunc: return 0;
    case VtInt32:
    case VtNat32:
    case VtFloat:
    case VtEnum:
    case VtBoolean:
    case VtFlags: return WordWrite(s, v.value.u);
    case VtGenericPtr:  // an address means nothing to another process
      st = WordWrite(s, v.value.p == nullptr ? 0 : 1);
      return st != 0 || v.value.p == nullptr ? st : kNotSaved;
    case VtDouble: return DoubleWrite(s, v.value.d);
    case VtColourType: return ItemWrite(s, type_id, VO_OBJECT_COLOUR, v.value.v);
    case VtVector: return ItemWrite(s, type_id, VO_OBJECT_VECTOR, v.value.v);
    case VtPoint: return ItemWrite(s, type_id, VO_OBJECT_POINT, v.value.v);
    case VtBoundsType: return ItemWrite(s, type_id, VO_OBJECT_BOUNDS, v.value.v);
    case VtString: return StringEncode(nullptr, type_id, &v.value.s, s);
    case VtShaderColour:
      if (TypeFind(VO_OBJECT_SHADER) == nullptr) return kNotSaved;
      return ItemWrite(s, type_id, VO_OBJECT_SHADER | VO_OBJECT_REFERENCE, v.value.p);
    default: return kNotSaved;
  }
}

VtStatus TypedDecode(const DataObjectType *, uint32_t type_id, void *destination, uint32_t,
                     VtObjectStream *s) {
  VtTypedValue v{};
  if (WordRead(s, &v.type) != 0) return kFailed;
  VtStatus st = 0;
  switch (v.type) {
    case VtVoid:
    case VtFunc: break;
    case VtInt32:
    case VtNat32:
    case VtFloat:
    case VtEnum:
    case VtBoolean:
    case VtFlags: st = WordRead(s, &v.value.u); break;
    case VtGenericPtr: {
      uint32_t w = 0;
      st = WordRead(s, &w);
      if (st == 0 && w != 0) st = kNotSaved;
      break;
    }
    case VtDouble: st = DoubleRead(s, &v.value.d); break;
    case VtColourType: st = ItemRead(s, type_id, VO_OBJECT_COLOUR, v.value.v); break;
    case VtVector: st = ItemRead(s, type_id, VO_OBJECT_VECTOR, v.value.v); break;
    case VtPoint: st = ItemRead(s, type_id, VO_OBJECT_POINT, v.value.v); break;
    case VtBoundsType: st = ItemRead(s, type_id, VO_OBJECT_BOUNDS, v.value.v); break;
    case VtString: st = StringDecode(TypeFind(VO_OBJECT_STRING), type_id, &v.value.s, 0, s); break;
    case VtShaderColour:
      st = TypeFind(VO_OBJECT_SHADER) == nullptr
               ? kNotSaved
               : ItemRead(s, type_id, VO_OBJECT_SHADER | VO_OBJECT_REFERENCE, &v.value.p);
      break;
    default: st = kNotSaved; break;
  }
  if (!Failed(st)) std::memcpy(destination, &v, sizeof v);
  return st;
}

struct BuiltinFields {
  uint32_t id;
  uint32_t element_type;
  uint32_t count;
};

constexpr BuiltinFields kFieldTypes[] = {
    {VO_OBJECT_END, VO_OBJECT_NAT32, 1},
    {VO_OBJECT_VECTOR, VO_OBJECT_FLOAT, 3},
    {VO_OBJECT_POINT, VO_OBJECT_FLOAT, 3},
    {VO_OBJECT_COLOUR, VO_OBJECT_FLOAT, 3},
    {VO_OBJECT_BOUNDS, VO_OBJECT_FLOAT, 6},
    {VO_OBJECT_DOUBLE_POINT, VO_OBJECT_DOUBLE, 3},
    {VO_OBJECT_DOUBLE_VECTOR, VO_OBJECT_DOUBLE, 3},
    {VO_OBJECT_FLOAT2, VO_OBJECT_FLOAT, 2},
    {VO_OBJECT_FLOAT4, VO_OBJECT_FLOAT, 4},
    {VO_OBJECT_DOUBLE4, VO_OBJECT_DOUBLE, 4},
    {VO_OBJECT_MATRIX, VO_OBJECT_DOUBLE, 16},
    {VO_OBJECT_DOUBLE4_B, VO_OBJECT_DOUBLE, 4},
    {VO_OBJECT_FLOAT4_B, VO_OBJECT_FLOAT, 4},
};

}  // namespace

VtStatus BuiltinCreate(uint32_t id, uint32_t size, BuiltinEncoder encode, BuiltinDecoder decode,
                       DataObjectType **made) {
  DataObjectType *t = nullptr;
  const VtStatus st = TypeCreate(id, 1, 0, nullptr, nullptr, nullptr, nullptr, size, &t);
  if (st != 0) return st;
  t->builtin_encoder = encode;
  t->builtin_decoder = decode;
  t->fixed_size = FixedSize(t);
  if (made != nullptr) *made = t;
  return 0;
}

namespace {

VtStatus BuiltinsRegister() {
  VtStatus st = 0;
  for (uint32_t id = VO_OBJECT_INT32; id <= VO_OBJECT_DOUBLE && st == 0; ++id)
    st = BuiltinCreate(id, id == VO_OBJECT_DOUBLE ? 8 : 4, &ScalarEncode, &ScalarDecode);
  if (st == 0) st = BuiltinCreate(VO_OBJECT_STRING, sizeof(char *), &StringEncode, &StringDecode);
  if (st == 0) st = BuiltinCreate(VO_OBJECT_WIDE_STRING, sizeof(uint16_t *), &WideEncode, &WideDecode);
  for (const BuiltinFields &f : kFieldTypes) {
    if (st != 0) break;
    const DataObjectType *element = TypeFind(f.element_type);
    const uint32_t zero = 0, one = 1;
    st = TypeCreate(f.id, 1, 1, &f.element_type, &f.count, &zero, &one, f.count * element->element_size,
                    nullptr);
  }
  if (st == 0) st = BuiltinCreate(VO_OBJECT_TYPED_VALUE, sizeof(VtTypedValue), &TypedEncode, &TypedDecode);
  return st;
}

// The type a setter changes; null (answered 2) for an unknown id.
DataObjectType *Known(uint32_t id) { return TypeFind(id & VO_OBJECT_TYPE_MASK); }

}  // namespace

DataObjectType *TypeFind(uint32_t id) {
  ObjectState *st = State();
  if (st == nullptr || st->registry == nullptr) return nullptr;
  return reinterpret_cast<DataObjectType *>(VoHashTableExtractRecord(st->registry, id));
}

void *TypeAllocate(const DataObjectType *t) { return t->allocator(t->element_size); }

void ValueContentsRelease(const DataObjectType *t, void *value) {
  if (value == nullptr || t->encoder != nullptr || t->decoder != nullptr)
    return;  // a layout of the application's
  switch (t->id) {
    case VO_OBJECT_STRING:
    case VO_OBJECT_WIDE_STRING: {
      void *text = nullptr;
      std::memcpy(&text, value, sizeof text);
      if (text != nullptr) t->deallocator(text);
      std::memset(value, 0, sizeof text);
      return;
    }
    case VO_OBJECT_TYPED_VALUE: {
      auto *v = static_cast<VtTypedValue *>(value);
      if (v->type == VtString && v->value.s != nullptr) {
        const DataObjectType *string = TypeFind(VO_OBJECT_STRING);
        string->deallocator(const_cast<char *>(v->value.s));
        v->value.s = nullptr;
      }
      return;
    }
    default: break;
  }
  for (uint32_t f = 0; f < t->field_count; ++f) {
    if ((t->field_types[f] & VO_OBJECT_REFERENCE) != 0) continue;  // objects are shared, not owned
    const DataObjectType *element = t->field_records[f];
    for (uint32_t e = 0; e < t->field_counts[f]; ++e)
      ValueContentsRelease(element,
                           static_cast<uint8_t *>(value) + t->field_offsets[f] + e * element->element_size);
  }
}

void DecodedContentsRelease(const DataObjectType *t, void *value, uint32_t version) {
  if (value == nullptr || t->encoder != nullptr || t->decoder != nullptr) return;
  if (t->field_count == 0) return ValueContentsRelease(t, value);
  for (uint32_t f = 0; f < t->field_count; ++f) {
    if (t->field_versions[f] > version || (t->field_types[f] & VO_OBJECT_REFERENCE) != 0) continue;
    const DataObjectType *element = t->field_records[f];
    for (uint32_t e = 0; e < t->field_counts[f]; ++e)
      ValueContentsRelease(element,
                           static_cast<uint8_t *>(value) + t->field_offsets[f] + e * element->element_size);
  }
}

void ValueRelease(const DataObjectType *t, void *value) {
  if (value == nullptr) return;
  // Only blocks of the default allocator are known to be cleared where the
  // decoder did not reach.
  if (t->allocator == &DefaultAllocate) ValueContentsRelease(t, value);
  t->deallocator(value);
}

VtStatus RegistryCreate(ObjectState *st) {
  st->registry = VoHashTableCreate(kRegistryBuckets);
  if (st->registry == nullptr) return kFailed;
  VtStatus s = BuiltinsRegister();
  if (s == 0) s = SceneTypesRegister();
  if (s != 0) RegistryDestroy(st);
  return s;
}

void RegistryDestroy(ObjectState *st) {
  if (st->registry == nullptr) return;
  uintptr_t key = 0, value = 0;
  for (uint32_t more = VoHashTableFirst(st->registry, &key, &value); more;
       more = VoHashTableNext(st->registry, &key, &value)) {
    TypeFree(reinterpret_cast<DataObjectType *>(value));
  }
  VoHashTableDestroy(st->registry);
  st->registry = nullptr;
  st->type_count = 0;
}

}  // namespace vo::object

namespace vo {

using namespace object;

VtStatus VoDataObjectCreate(uint32_t id, uint32_t version, uint32_t field_count, const uint32_t *field_types,
                            const uint32_t *field_counts, const uint32_t *field_offsets,
                            const uint32_t *field_versions, uint32_t element_size) {
  return TypeCreate(id, version, field_count, field_types, field_counts, field_offsets, field_versions,
                    element_size, nullptr);
}

namespace {

// Applies a change to a registered type; 2 for an unknown id.
template <class Change>
VtStatus TypeChange(uint32_t id, Change change) {
  DataObjectType *t = Known(id);
  if (t == nullptr) return kFailed;
  change(t);
  return 0;
}

}  // namespace

VtStatus VoDataObjectSetEncoder(uint32_t id, VtDataObjectEncoder encoder) {
  const VtStatus st = TypeChange(id, [&](DataObjectType *t) { t->encoder = encoder; });
  if (st == 0) FixedSizesRefresh(State());
  return st;
}

VtStatus VoDataObjectSetDecoder(uint32_t id, VtDataObjectDecoder decoder) {
  return TypeChange(id, [&](DataObjectType *t) { t->decoder = decoder; });
}

VtStatus VoDataObjectSetAllocator(uint32_t id, VtDataObjectAllocator allocator) {
  return TypeChange(
      id, [&](DataObjectType *t) { t->allocator = allocator != nullptr ? allocator : &DefaultAllocate; });
}

VtStatus VoDataObjectSetDeallocator(uint32_t id, VtDataObjectDeallocator deallocator) {
  return TypeChange(id, [&](DataObjectType *t) {
    t->deallocator = deallocator != nullptr ? deallocator : &DefaultDeallocate;
  });
}

VtDataObjectDeallocator VoDataObjectGetDeallocator(uint32_t id) {
  const DataObjectType *t = Known(id);
  if (t == nullptr) return nullptr;
  // The default is the exported VoDeallocate itself.
  return t->deallocator == &DefaultDeallocate
             ? reinterpret_cast<VtDataObjectDeallocator>(&exported::VoDeallocate)
             : t->deallocator;
}

VtStatus VoDataObjectSetFlags(uint32_t id, uint32_t flags) {
  return TypeChange(id, [&](DataObjectType *t) { t->flags = flags; });
}

VtStatus VoDataObjectSetUserData(uint32_t id, uintptr_t data) {
  return TypeChange(id, [&](DataObjectType *t) { t->user_data = data; });
}

uintptr_t VoDataObjectGetUserData(uint32_t id) {
  const DataObjectType *t = Known(id);
  return t != nullptr ? t->user_data : 0;
}

VtStatus VoDataObjectIgnore(uint32_t id, uint32_t flag) {
  return TypeChange(id, [&](DataObjectType *t) { t->ignore = flag != 0 ? 1 : 0; });
}

}  // namespace vo
