// Nested items: a type word, a length word when the file's type table gives
// the type no fixed size or the item is held by reference, a reference id for an object held by reference,
// then the payload (the type's codec, or every field element in order as a
// nested item of its own).
//
// The length word counts the payload bytes after the reference id, so an
// item that ends at its id (a null or already-stored object) has length 0,
// and a reader that does not know the type skips exactly the length. A
// decoder reads inside its item's length: the stream's limit stops it at
// the end, and what it leaves unread is skipped with the warning bit.

#include <cstring>

#include "io/voobject/object.h"

namespace vo::object {

namespace {

// The in-memory distance of a field's elements: one pointer for a field of
// objects held by reference, else the field type's element size.
size_t Stride(const DataObjectType *t, uint32_t field) {
  return (t->field_types[field] & VO_OBJECT_REFERENCE) != 0 ? sizeof(void *)
                                                            : t->field_records[field]->element_size;
}

VtStatus FieldsEncode(VtObjectStream *s, uint32_t type_id, const DataObjectType *t, void *value) {
  auto *base = static_cast<uint8_t *>(value);
  VtStatus st = 0;
  for (uint32_t f = 0; f < t->field_count; ++f) {
    const uint32_t word = t->field_types[f];
    const size_t stride = Stride(t, f);
    for (uint32_t e = 0; e < t->field_counts[f]; ++e) {
      uint8_t *at = base + t->field_offsets[f] + e * stride;
      void *item = at;
      if ((word & VO_OBJECT_REFERENCE) != 0) std::memcpy(&item, at, sizeof item);
      st |= ItemWrite(s, type_id, word, item);
      if (Failed(st)) return st;
    }
  }
  return st;
}

// The contents of the elements decoded before field `field`'s element
// `element`, given back: objects held by reference belong to the stream's
// made list.
void FieldsDecodedRelease(const DataObjectType *t, uint8_t *base, uint32_t version, uint32_t field,
                          uint32_t element) {
  for (uint32_t f = 0; f <= field && f < t->field_count; ++f) {
    if (t->field_versions[f] > version || (t->field_types[f] & VO_OBJECT_REFERENCE) != 0) continue;
    const uint32_t reached = f < field ? t->field_counts[f] : element;
    for (uint32_t e = 0; e < reached; ++e)
      ValueContentsRelease(t->field_records[f], base + t->field_offsets[f] + e * Stride(t, f));
  }
}

// A failure gives back what the fields decoded so far hold: only a block of
// the default allocator is known to be clear where the decoder did not
// reach, so whoever releases the value cannot tell what to give back.
VtStatus FieldsDecode(VtObjectStream *s, uint32_t type_id, const DataObjectType *t, void *destination,
                      uint32_t version) {
  auto *base = static_cast<uint8_t *>(destination);
  VtStatus st = 0;
  for (uint32_t f = 0; f < t->field_count; ++f) {
    if (t->field_versions[f] > version) continue;  // absent from files of older versions
    const size_t stride = Stride(t, f);
    for (uint32_t e = 0; e < t->field_counts[f]; ++e) {
      st |= ItemRead(s, type_id, t->field_types[f], base + t->field_offsets[f] + e * stride) & ~kNotSaved;
      if (Failed(st)) {
        FieldsDecodedRelease(t, base, version, f, e);
        return st;
      }
    }
  }
  return st;
}

VtStatus Encode(VtObjectStream *s, uint32_t type_id, const DataObjectType *t, uint32_t word, void *value) {
  if (t->encoder != nullptr) return t->encoder(type_id, word, value, s);
  if (t->builtin_encoder != nullptr) return t->builtin_encoder(t, type_id, value, s);
  return FieldsEncode(s, type_id, t, value);
}

// Decodes the payload inside its length; what the decoder leaves unread is
// skipped and marks the item with the warning bit.
VtStatus Decode(VtObjectStream *s, uint32_t type_id, const ItemHead &head, void *destination) {
  const uint64_t saved = s->limit;
  if (saved != kNoLimit && (head.length > saved || s->used > saved - head.length)) return kFailed;
  if (head.length > kNoLimit - 1 - s->used) return kFailed;
  s->limit = s->used + head.length;
  const uint64_t start = s->used;
  const DataObjectType *t = head.type;
  VtStatus st;
  if (t->decoder != nullptr)
    st = t->decoder(type_id, head.word, destination, head.version, s);
  else if (t->builtin_decoder != nullptr)
    st = t->builtin_decoder(t, type_id, destination, head.version, s);
  else
    st = FieldsDecode(s, type_id, t, destination, head.version);
  const uint64_t consumed = s->used - start;
  if (!Failed(st) && ((st & kNotSaved) != 0 || consumed < head.length)) {
    st |= Skip(s, head.length - consumed) | kNotSaved;
    // A payload decoded whole whose rest cannot be skipped fails: what it
    // holds goes back now (what a decoder that makes objects made is on
    // the made list).
    if (Failed(st) && (t->flags & VO_OBJECT_FLAG_DECODER_CREATES) == 0)
      DecodedContentsRelease(t, destination, head.version);
  }
  s->limit = saved;
  return st;
}

// A new object for a pointer slot: made by the decoder (flag 4) or by the
// type's allocator, entered under the id (0: none), then decoded.
VtStatus ObjectDecode(VtObjectStream *s, uint32_t type_id, const ItemHead &head, void **slot) {
  DataObjectType *t = head.type;
  t->shared_reference = 0;
  if ((t->flags & VO_OBJECT_FLAG_DECODER_CREATES) != 0) {
    s->last_id_read = head.id;
    s->root->last_id_read = head.id;
    return Decode(s, type_id, head, slot);
  }
  void *object = TypeAllocate(t);
  if (object == nullptr) return kFailed;
  if (SharedEnter(s, head.reference ? head.id : 0, object, t) != 0) {
    ValueRelease(t, object);
    return kFailed;
  }
  const VtStatus st = Decode(s, type_id, head, object);
  if (Failed(st)) return st;
  MadeDecoded(s, object, head.version);
  *slot = object;
  return st;
}

}  // namespace

bool TypeReferenced(const DataObjectType *t, uint32_t word) {
  return (word & VO_OBJECT_REFERENCE) != 0 && (t->flags & VO_OBJECT_FLAG_NO_REFERENCE_IDS) == 0;
}

VtStatus ItemWrite(VtObjectStream *s, uint32_t type_id, uint32_t word, void *value) {
  const DataObjectType *t = TypeFind(word & VO_OBJECT_TYPE_MASK);
  if (t == nullptr || s->kind != 1) return kFailed;
  // A type without reference ids carries the payload of its object: its
  // items never claim an id, so a reader that does not know it still skips
  // them exactly.
  if ((t->flags & VO_OBJECT_FLAG_NO_REFERENCE_IDS) != 0) word &= ~VO_OBJECT_REFERENCE;
  // Items held by reference always carry a length: whether a payload
  // follows their id depends on what the file held before.
  const bool has_length = t->fixed_size == 0 || (word & VO_OBJECT_REFERENCE) != 0;
  VtStatus st = WordWrite(s, word);
  const uint64_t length_at = s->used;
  if (st == 0 && has_length) st = WordWrite(s, 0);
  if (st == 0 && (word & VO_OBJECT_REFERENCE) != 0) {
    uintptr_t id =
        value == nullptr ? kNullId : VoHashTableExtractRecord(s->shared, reinterpret_cast<uintptr_t>(value));
    if (id != 0) return WordWrite(s, static_cast<uint32_t>(id));  // the length stays 0
    if (s->last_id_issued == UINT32_MAX) return kFailed;
    id = s->last_id_issued + 1;
    if (VoHashTableStoreRecord(s->shared, reinterpret_cast<uintptr_t>(value), id) != 0) return kFailed;
    if (MadeAppend(s, id, value, t) != 0) {
      (void)VoHashTableRemoveRecord(s->shared, reinterpret_cast<uintptr_t>(value), nullptr);
      return kFailed;
    }
    s->last_id_issued = static_cast<uint32_t>(id);
    st = WordWrite(s, static_cast<uint32_t>(id));
  }
  if (Failed(st)) return st;
  const uint64_t start = s->used;
  st |= Encode(s, type_id, t, word, value);
  if (Failed(st) || !has_length) return st;
  if (s->used - start > UINT32_MAX) return kFailed;
  WordPatch(s, length_at, static_cast<uint32_t>(s->used - start));
  return st;
}

VtStatus HeadRead(VtObjectStream *s, uint32_t word, uint32_t expected, ItemHead *head) {
  const uint32_t id = word & VO_OBJECT_TYPE_MASK;
  *head = ItemHead{};
  head->word = word;
  head->type = TypeFind(id);
  const uintptr_t entry = VoHashTableExtractRecord(s->file_types, id);
  uint32_t fixed;
  if (entry != 0) {
    fixed = static_cast<uint32_t>(static_cast<uint64_t>(entry) >> 32);
    head->version = static_cast<uint32_t>(entry & 0xFFFFu);
  } else if (head->type != nullptr) {
    fixed = head->type->fixed_size;
    head->version = head->type->version;
  } else {
    return kFailed;  // neither the registry nor the file knows the type
  }
  head->slot = (expected & VO_OBJECT_REFERENCE) != 0;
  head->reference =
      head->type != nullptr ? TypeReferenced(head->type, word) : (word & VO_OBJECT_REFERENCE) != 0;
  head->length = fixed;
  if (fixed == 0 || head->reference) {
    uint32_t length = 0;
    if (WordRead(s, &length) != 0) return kFailed;
    head->length = length;
  }
  if (head->reference && WordRead(s, &head->id) != 0) return kFailed;
  return 0;
}

VtStatus PayloadRead(VtObjectStream *s, uint32_t type_id, const ItemHead &head, void *destination) {
  DataObjectType *t = head.type;
  if (!head.slot) {
    // An object a decoder makes for an item without a reference id is
    // entered under no id.
    if (t != nullptr && (t->flags & VO_OBJECT_FLAG_DECODER_CREATES) != 0)
      s->last_id_read = s->root->last_id_read = 0;
    return Decode(s, type_id, head, destination);
  }
  auto *slot = static_cast<void **>(destination);
  if (!head.reference) return ObjectDecode(s, type_id, head, slot);
  if (head.id == 0) return kFailed;
  void *known = nullptr;
  if (head.id != kNullId) {
    known = reinterpret_cast<void *>(VoHashTableExtractRecord(s->shared, head.id));
    if (known == nullptr) return ObjectDecode(s, type_id, head, slot);
    if (VoHashTableExtractRecord(s->shared_types, head.id) != t->id)
      return kFailed;  // an object of another type
  }
  if (head.length != 0) return kFailed;  // an item that ends at its id has no payload
  t->shared_reference = head.id != kNullId;
  *slot = known;
  return 0;
}

VtStatus ItemRead(VtObjectStream *s, uint32_t type_id, uint32_t word, void *destination) {
  DataObjectType *t = TypeFind(word & VO_OBJECT_TYPE_MASK);
  if (t == nullptr) return kFailed;
  uint32_t got = 0;
  if (WordRead(s, &got) != 0) return kFailed;
  const uint32_t mask = (t->flags & VO_OBJECT_FLAG_NO_REFERENCE_IDS) != 0 ? ~VO_OBJECT_REFERENCE : ~0u;
  if ((got & mask) != (word & mask)) return kFailed;
  ItemHead head;
  if (HeadRead(s, got, word, &head) != 0) return kFailed;
  return PayloadRead(s, type_id, head, destination);
}

void MadeRelease(VtObjectStream *s) {
  VtObjectStream *r = s->root;
  MadeObjects &m = r->made;
  while (m.count > 0) {
    const MadeObject &e = m.entries[--m.count];
    if (e.id != 0) {
      (void)VoHashTableRemoveRecord(r->shared, e.id, nullptr);
      (void)VoHashTableRemoveRecord(r->shared_types, e.id, nullptr);
    }
    if (e.type == nullptr) continue;
    if (e.decoded) DecodedContentsRelease(e.type, e.object, e.version);
    ValueRelease(e.type, e.object);
  }
}

void MadeDecoded(VtObjectStream *s, const void *object, uint32_t version) {
  MadeObjects &m = s->root->made;
  for (uint32_t i = m.count; i-- > 0;)
    if (m.entries[i].object == object && m.entries[i].type != nullptr) {
      m.entries[i].decoded = true;
      m.entries[i].version = version;
      return;
    }
}

uint32_t MadeMark(const VtObjectStream *s) { return s->root->made.count; }

bool MadeSince(const VtObjectStream *s, uint32_t mark, const void *object) {
  const MadeObjects &m = s->root->made;
  for (uint32_t i = mark; i < m.count; ++i)
    if (m.entries[i].object == object && m.entries[i].type != nullptr) return true;
  return false;
}

void MadeDisown(VtObjectStream *s, const void *object) {
  MadeObjects &m = s->root->made;
  for (uint32_t i = m.count; i-- > 0;)
    if (m.entries[i].object == object && m.entries[i].type != nullptr) {
      m.entries[i].type = nullptr;
      return;
    }
}

}  // namespace vo::object
