// Object files over streams: opening and closing, the header with its seeds
// and byte permutation, the type table, writing records through a memory
// child, reading records (passing over the unknown, taking the rest), the
// checksummed values of encoders and decoders, and draining a reader at
// close.
//
// A record either reads whole or hands nothing out: a record that fails
// gives back every object it made and every string it read.

#include <cstring>
#include <utility>

#include "platform/clock.h"
#include "io/voobject/format.h"
#include "io/voobject/object.h"
#include "kernel/vosystem/face.h"

namespace vo::object {

namespace {

constexpr uint32_t kStreamBuckets = 11;
constexpr uint32_t kSharedBuckets = 1001;
constexpr uint32_t kFileTypeBuckets = 37;

VtObjectStream *StreamFind(void *id) {
  ObjectState *st = State();
  if (st == nullptr || id == nullptr) return nullptr;
  return reinterpret_cast<VtObjectStream *>(
      VoHashTableExtractRecord(st->streams, reinterpret_cast<uintptr_t>(id)));
}

void PutWord(uint8_t *at, uint32_t w) {
  at[0] = static_cast<uint8_t>(w >> 24);
  at[1] = static_cast<uint8_t>(w >> 16);
  at[2] = static_cast<uint8_t>(w >> 8);
  at[3] = static_cast<uint8_t>(w);
}

uint32_t GetWord(const uint8_t *at) {
  return (static_cast<uint32_t>(at[0]) << 24) | (static_cast<uint32_t>(at[1]) << 16) |
         (static_cast<uint32_t>(at[2]) << 8) | at[3];
}

void SeedsMake(uint32_t seeds[kSeedCount]) {
  SampleGenerator g{static_cast<uint32_t>(platform::CalendarSeconds())};
  for (uint32_t i = 0; i < kSeedCount; ++i) seeds[i] = g.Draw();
  for (uint32_t i = 0; i < kSeedCount; i += 2) std::swap(seeds[i], seeds[i + 1]);
}

void TablesFromSeeds(VtObjectStream *s, uint32_t seeds[kSeedCount]) {
  if (ObjectState *st = State(); st != nullptr && st->seed_hook != nullptr) st->seed_hook(s->version, seeds);
  ByteTablesBuild(&s->isaac, seeds, s->forward, s->inverse);
}

// The type table in the registry's order, through the new permutation.
// The type table as the file holds it before the permutation: a block of
// *bytes bytes from VoAllocate, or null.
uint8_t *TypeTableMake(uint32_t *bytes) {
  ObjectState *st = State();
  if (st->type_count > kMostTypes) return nullptr;
  *bytes = 4 + 12 * st->type_count;
  auto *table = static_cast<uint8_t *>(VoAllocate(*bytes));
  if (table == nullptr) return nullptr;
  PutWord(table, st->type_count);
  uint8_t *at = table + 4;
  uintptr_t key = 0, value = 0;
  for (uint32_t more = VoHashTableFirst(st->registry, &key, &value); more;
       more = VoHashTableNext(st->registry, &key, &value), at += 12) {
    const auto *t = reinterpret_cast<const DataObjectType *>(value);
    PutWord(at, t->id);
    PutWord(at + 4, t->version);
    PutWord(at + 8, t->fixed_size);
  }
  return table;
}

// The header and the type table. The table is made before the first byte
// goes out, so that running out of memory leaves the file as it was and the
// header pending, rather than a header without its table.
VtStatus HeaderWrite(VtObjectStream *s) {
  uint32_t bytes = 0;
  uint8_t *table = TypeTableMake(&bytes);
  if (table == nullptr) return kFailed;
  s->header_pending = 0;
  uint8_t header[kHeaderBytes];
  uint32_t seeds[kSeedCount];
  SeedsMake(seeds);
  std::memcpy(header, kMagic, 4);
  PutWord(header + 4, s->version);
  PutWord(header + 8, s->second);
  PutWord(header + 12, s->substitution);
  for (uint32_t i = 0; i < kSeedCount; ++i) PutWord(header + 16 + 4 * i, seeds[i]);
  VtStatus st = RawWrite(s, header, sizeof header);
  if (st == 0) {
    TablesFromSeeds(s, seeds);
    // The table is permuted in place, as the byte writer would permute a copy.
    if (s->substitution != 0)
      for (uint32_t i = 0; i < bytes; ++i) table[i] = s->forward[table[i]];
    st = RawWrite(s, table, bytes);
  }
  VoDeallocate(table);
  return st != 0 ? kFailed : 0;
}

VtStatus TypeTableRead(VtObjectStream *s) {
  uint32_t count = 0;
  if (WordRead(s, &count) != 0 || count > kMostTypes) return kFailed;
  s->file_types = VoHashTableCreate(kFileTypeBuckets);
  if (s->file_types == nullptr) return kFailed;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t entry[3] = {};
    for (uint32_t &w : entry)
      if (WordRead(s, &w) != 0) return kFailed;
    if (entry[1] > kMostVersion) return kFailed;
    const uintptr_t value = (static_cast<uintptr_t>(entry[2]) << 32) | kFileTypeKnown | entry[1];
    if (VoHashTableStoreRecord(s->file_types, entry[0] & VO_OBJECT_TYPE_MASK, value) != 0) return kFailed;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

// Forgets the objects a failed record entered in the writer's table, so that
// a later record stores them in full rather than naming an id no reader saw.
void WrittenForget(VtObjectStream *s) {
  MadeObjects &m = s->made;
  while (m.count > 0)
    (void)VoHashTableRemoveRecord(s->shared, reinterpret_cast<uintptr_t>(m.entries[--m.count].object),
                                  nullptr);
}

VtStatus RecordWrite(VtObjectStream *s, uint32_t word, void *value) {
  if (TypeFind(word & VO_OBJECT_TYPE_MASK) == nullptr) return kFailed;
  if (s->header_pending != 0 && HeaderWrite(s) != 0) return kFailed;
  VtObjectStream *child = ChildCreate(s, nullptr, 0);
  if (child == nullptr) return kFailed;
  s->made.count = 0;
  VtStatus st = VoDataObjectWrite(word, value, child);
  if (!Failed(st)) st |= RawWrite(s, child->base, static_cast<size_t>(child->used));
  if (Failed(st)) {
    WrittenForget(s);
  } else {
    s->last_id_issued = child->last_id_issued;
    s->made.count = 0;
  }
  StreamRelease(child);
  return st;
}

// The value record's type word and the value the record writer passes.
VtStatus ValueRecordWrite(VtObjectStream *s, const VtObjectValue *v) {
  const uint32_t id = v->type & VO_OBJECT_TYPE_MASK;
  // Encoders take values by a plain address and only read them.
  void *area = const_cast<void *>(static_cast<const void *>(&v->value));
  switch (id) {
    case VO_OBJECT_INT32:
    case VO_OBJECT_FLOAT:
    case VO_OBJECT_DOUBLE: return RecordWrite(s, id, area);
    case VO_OBJECT_NAT32:
    case VO_OBJECT_WORD: return RecordWrite(s, VO_OBJECT_NAT32, area);
    case VO_OBJECT_STRING:
    case VO_OBJECT_WIDE_STRING: return RecordWrite(s, id, area);  // the value word holds the string
    case VO_OBJECT_END: {
      uint32_t zero = 0;
      return RecordWrite(s, id, &zero);
    }
    case VO_OBJECT_TRANSFORM:
    case VO_OBJECT_SHADER:
    case VO_OBJECT_MATERIAL:
    case VO_OBJECT_VIEW:
    case VO_OBJECT_PRIMITIVE_LIST:
    case VO_OBJECT_RESERVED:
    case VO_OBJECT_IMAGE: return RecordWrite(s, id | VO_OBJECT_REFERENCE, v->value.p);
    default:
      if (id >= VO_OBJECT_VECTOR && id <= VO_OBJECT_FLOAT4_B) return RecordWrite(s, id, area);
      if (v->by_reference != 0 || (v->type & VO_OBJECT_REFERENCE) != 0)
        return RecordWrite(s, id | VO_OBJECT_REFERENCE, v->value.p);
      return RecordWrite(s, id, v->value.p);
  }
}

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

// Types the record reader copies into the value area: their values are
// decoded into a cleared area of its own rather than an allocated block.
bool CopiedType(uint32_t id) { return id >= VO_OBJECT_INT32 && id <= VO_OBJECT_FLOAT4_B && id != 8; }

VtStatus PassOver(VtObjectStream *s, const ItemHead &head) {
  if (Skip(s, head.length) != 0 || Skip(s, 4) != 0) return kFailed;
  return kNotSaved;
}

// A record of a type the writer stores only by value (a number, a string,
// the end, the vectors and matrices) that the file marks as held by
// reference: read so, it would come back as a block holding the value
// rather than the value, which an application freeing it as the value
// leaks. It is refused, and skipped so that the next record reads on.
VtStatus ByValueMarkedRefused(VtObjectStream *s, uint32_t id, const ItemHead &head) {
  Post(kFailed, messages::kObjectRecordRefused, VO_MODULE_OBJECT_IO, id,
       "the file marks by reference a value written by value only");
  (void)Skip(s, head.length);
  (void)Skip(s, 4);
  return kFailed;
}

// Reads the checksum word after a value and judges the value by it.
VtStatus ChecksumJudge(VtObjectStream *s, const DataObjectType *t, VtStatus st) {
  const uint32_t sum = s->sum;
  uint32_t stored = 0;
  if (WordRead(s, &stored) != 0) return st | kFailed;
  if ((st & kNotSaved) != 0) {
    s->sticky |= kNotSaved;
    return st;
  }
  if (stored != sum && t->ignore == 0) st |= kFailed;
  return st;
}

struct Decoded {
  alignas(8) uint8_t area[128];
  void *slot;
  void *block;
};

void DecodedRelease(const DataObjectType *t, Decoded *d, bool copied) {
  if (copied) ValueContentsRelease(t, d->area);
  if (d->block != nullptr) ValueRelease(t, d->block);
  d->block = nullptr;
}

// One record: passed over (*passed, 0x20000000), failed (2, nothing handed
// out), or taken into the value record (0, or 0x20000000 when a part of it
// was not saved).
VtStatus RecordRead(VtObjectStream *s, VtObjectValue *value, bool *passed) {
  *passed = false;
  SumRestart(s);
  s->made.count = 0;
  uint32_t word = 0;
  if (WordRead(s, &word) != 0) return kFailed;
  const uint32_t id = word & VO_OBJECT_TYPE_MASK;
  DataObjectType *t = TypeFind(id);
  if (t == nullptr && VoHashTableExtractRecord(s->file_types, id) == 0) {
    s->sticky = kFailed;  // nobody knows the record's size: the stream is lost
    return kFailed;
  }
  ItemHead head;
  if (HeadRead(s, word, word, &head) != 0) return kFailed;
  if (t == nullptr || t->ignore != 0) {
    *passed = true;
    return PassOver(s, head);
  }
  if (head.slot && CopiedType(id)) return ByValueMarkedRefused(s, id, head);
  Decoded d{};
  const bool copied = !head.slot && CopiedType(id);
  const bool slot = head.slot || (t->flags & VO_OBJECT_FLAG_DECODER_CREATES) != 0;
  void *destination = d.area;
  if (slot) {
    destination = &d.slot;
  } else if (!copied) {
    d.block = TypeAllocate(t);
    if (d.block == nullptr && t->element_size != 0) return kFailed;
    destination = d.block;
  }
  VtStatus st = PayloadRead(s, id, head, destination);
  const bool whole = !Failed(st);
  if (!Failed(st) || (st & kNotSaved) != 0) st = ChecksumJudge(s, t, st);
  if (Failed(st)) {
    MadeRelease(s);
    // A payload decoded whole that its checksum refuses: what it holds goes
    // back whatever made its block.
    if (whole) DecodedContentsRelease(t, d.block, head.version);
    DecodedRelease(t, &d, copied);
    return st;
  }
  s->made.count = 0;
  std::memset(&value->value, 0, sizeof value->value);
  value->type = id;
  value->by_reference = head.slot ? 1 : 0;
  if (slot)
    value->value.p = d.slot;
  else if (copied)
    std::memcpy(&value->value, d.area, t->element_size);
  else
    value->value.p = d.block;
  if (id == VO_OBJECT_END) s->end_met = 1;
  return st;
}

// VoDataObjectRead's body: a nested item and its checksum.
VtStatus CheckedRead(VtObjectStream *s, uint32_t word, void *destination) {
  const DataObjectType *t = TypeFind(word & VO_OBJECT_TYPE_MASK);
  if (t == nullptr || s->writer != 0) return kFailed;
  SumRestart(s);
  VtStatus st = ItemRead(s, word & VO_OBJECT_TYPE_MASK, word, destination);
  if (!(Failed(st) && (st & kNotSaved) == 0)) st = ChecksumJudge(s, t, st);
  st &= ~kNotSaved;
  s->sticky |= st;
  return st;
}

// An application's VoObjectReadSpecific: decoded apart and handed over
// only when whole.
VtStatus SpecificRead(VtObjectStream *s, uint32_t word, void *destination) {
  DataObjectType *t = TypeFind(word & VO_OBJECT_TYPE_MASK);
  if (t == nullptr || destination == nullptr) return kFailed;
  const bool slot = (word & VO_OBJECT_REFERENCE) != 0 || (t->flags & VO_OBJECT_FLAG_DECODER_CREATES) != 0;
  const size_t size = slot ? sizeof(void *) : t->element_size;
  Decoded d{};
  void *apart = d.area;
  if (size > sizeof d.area) {
    d.block = VoAllocate(static_cast<uint32_t>(size));
    if (d.block == nullptr) return kFailed;
    std::memset(d.block, 0, size);
    apart = d.block;
  }
  s->made.count = 0;
  const VtStatus st = CheckedRead(s, word, apart);
  if (Failed(st)) {
    MadeRelease(s);
    if (!slot) ValueContentsRelease(t, apart);
  } else {
    s->made.count = 0;
    std::memcpy(destination, apart, size);
  }
  VoDeallocate(d.block);
  return st;
}

// Reads on to the end record, skipping every record by its length.
VtStatus Drain(VtObjectStream *s) {
  if (s->header_pending != 0 && HeaderRead(s) != 0) return kFailed;
  for (;;) {
    uint32_t word = 0;
    ItemHead head;
    if (WordRead(s, &word) != 0 || HeadRead(s, word, word, &head) != 0) return kFailed;
    if (Skip(s, head.length) != 0 || Skip(s, 4) != 0) return kFailed;
    if ((word & VO_OBJECT_TYPE_MASK) == VO_OBJECT_END) {
      s->end_met = 1;
      return 0;
    }
  }
}

}  // namespace

VtStatus HeaderRead(VtObjectStream *s) {
  s->header_pending = 0;
  uint8_t header[kHeaderBytes];
  if (BytesRead(s, header, sizeof header) != 0 || std::memcmp(header, kMagic, 4) != 0) return kFailed;
  s->version = GetWord(header + 4);
  s->second = GetWord(header + 8);
  s->substitution = GetWord(header + 12) != 0 ? 1 : 0;
  if (s->version > kFileVersion) return kFailed;
  uint32_t seeds[kSeedCount];
  for (uint32_t i = 0; i < kSeedCount; ++i) seeds[i] = GetWord(header + 16 + 4 * i);
  TablesFromSeeds(s, seeds);
  return TypeTableRead(s);
}

VtStatus StreamsCreate(ObjectState *st) {
  st->streams = VoHashTableCreate(kStreamBuckets);
  return st->streams != nullptr ? 0 : kFailed;
}

VtStatus StreamFinish(VtObjectStream *s) {
  if (s->writer != 0) {
    // A file that lost a record gets no end record, so that reading it
    // fails at close as a cut file does; a type passed over (0x20000000)
    // loses nothing the reader expects and still ends the file.
    if (Failed(s->sticky)) return kFailed;
    VtObjectValue end{};
    end.type = VO_OBJECT_END;
    return ValueRecordWrite(s, &end);
  }
  if (s->sticky == kFailed) return kFailed;
  return s->end_met == 0 ? Drain(s) : 0;
}

void StreamsDestroy(ObjectState *st) {
  uintptr_t key = 0, value = 0;
  for (uint32_t more = VoHashTableFirst(st->streams, &key, &value); more;
       more = VoHashTableNext(st->streams, &key, &value)) {
    // A stream the application left open is closed as VoObjectClose closes
    // it, so that a file being written is left whole.
    (void)StreamFinish(reinterpret_cast<VtObjectStream *>(value));
    StreamRelease(reinterpret_cast<VtObjectStream *>(value));
  }
  VoHashTableDestroy(st->streams);
  st->streams = nullptr;
}

}  // namespace vo::object

namespace vo {

using namespace object;

VtStatus VoObjectOpen(void *stream_id, uint32_t mode) {
  ObjectState *st = State();
  if (st == nullptr || stream_id == nullptr || StreamFind(stream_id) != nullptr) return kFailed;
  const bool writer = (mode & 15u) == 2;
  VtObjectStream *s = StreamCreate(0, writer);
  if (s == nullptr) return kFailed;
  s->id = stream_id;
  s->shared = VoHashTableCreate(kSharedBuckets);
  if (!writer) s->shared_types = VoHashTableCreate(kSharedBuckets);
  if (s->shared == nullptr || (!writer && s->shared_types == nullptr) ||
      VoHashTableStoreRecord(st->streams, reinterpret_cast<uintptr_t>(stream_id),
                             reinterpret_cast<uintptr_t>(s)) != 0) {
    StreamRelease(s);
    return kFailed;
  }
  const VtStatus result = (mode & 15u) == 1 ? HeaderRead(s) : 0;
  s->sticky |= result;
  return result;
}

VtStatus VoObjectClose(void *stream_id) {
  VtObjectStream *s = StreamFind(stream_id);
  if (s == nullptr) return kFailed;
  const VtStatus st = StreamFinish(s);
  (void)VoHashTableRemoveRecord(State()->streams, reinterpret_cast<uintptr_t>(stream_id), nullptr);
  StreamRelease(s);
  return st;
}

VtStatus VoObjectWrite(void *stream_id, const VtObjectValue *value) {
  VtObjectStream *s = StreamFind(stream_id);
  if (s == nullptr || s->writer == 0 || value == nullptr) return kFailed;
  // A type nobody registered is refused before anything is written: the
  // file stays whole.
  if (TypeFind(value->type & VO_OBJECT_TYPE_MASK) == nullptr) return kFailed;
  const VtStatus st = ValueRecordWrite(s, value);
  s->sticky |= st;
  return st;
}

VtStatus VoObjectRead(void *stream_id, VtObjectValue *value) {
  VtObjectStream *s = StreamFind(stream_id);
  if (s == nullptr || s->writer != 0 || value == nullptr) return kFailed;
  if (s->end_met != 0) return kFailed;  // nothing follows the end record; the file is not at fault
  VtStatus passed_over = 0;
  VtStatus st;
  for (;;) {
    bool passed = false;
    st = RecordRead(s, value, &passed);
    if (!passed || Failed(st)) break;
    passed_over = kNotSaved;
  }
  st |= passed_over;
  s->sticky |= st;
  // A failure is answered alone: a record passed over on the way, or a
  // length word running past the end of the file (what was left of the
  // payload could not be skipped), does not make it a partial success.
  return Failed(st) ? st & ~kNotSaved : st;
}

VtStatus VoObjectReadSpecific(void *stream_id, uint32_t type_word, void *value) {
  VtObjectStream *s = StreamFind(stream_id);
  if (s == nullptr || s->writer != 0) return kFailed;
  if (s->header_pending != 0) {
    const VtStatus st = HeaderRead(s);
    s->sticky |= st;
    if (st != 0) return st;
  }
  return SpecificRead(s, type_word, value);
}

VtStatus VoDataObjectWrite(uint32_t type_word, void *value, VtObjectStream *stream) {
  VtObjectStream *s = stream;
  if (s == nullptr || s->writer == 0 || s->kind != 1 || TypeFind(type_word & VO_OBJECT_TYPE_MASK) == nullptr)
    return kFailed;
  s->value_start = s->used;
  VtStatus st = ItemWrite(s, type_word & VO_OBJECT_TYPE_MASK, type_word, value);
  if (Failed(st)) return st;
  // An encoder's own checksummed parts moved value_start: the sum covers
  // the bytes from the start of the last of them.
  const uint32_t sum = Checksum(s->base + s->value_start, static_cast<size_t>(s->used - s->value_start));
  st |= WordWrite(s, sum);
  return st;
}

VtStatus VoDataObjectRead(uint32_t type_word, void *value, VtObjectStream *stream) {
  if (stream == nullptr || value == nullptr) return kFailed;
  return CheckedRead(stream, type_word, value);
}

}  // namespace vo
