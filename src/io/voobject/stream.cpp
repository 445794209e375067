// Object streams: their records, the byte writer and reader (permutation,
// byte order and the reader's running checksum), skipping, words, doubles,
// and the default hooks over a buffered file.
//
// A memory stream grows by the write's size plus 51,200 bytes whenever
// fewer than 1,024 bytes would stay free; sizes are worked out in size_t and
// a stream past 4 GiB refuses the write rather than wrap. The reader never
// copies past the end of a memory stream or past its limit. A block whose
// length a file gives is read from a file or hook stream in growing pieces
// (1 MiB, then doubling), so that a crafted length costs no more memory than
// about twice the bytes that really arrive.

#include <bit>
#include <cstring>

#include "io/voobject/object.h"

namespace vo::object {

namespace {

uint32_t Swapped(uint32_t w) { return __builtin_bswap32(w); }

// Big-endian bytes of a word (the byte-swap flag is always set: files hold
// big-endian words on every host).
void WordBytes(const VtObjectStream *s, uint32_t w, uint8_t out[4]) {
  if (s->swap != 0) w = Swapped(w);
  std::memcpy(out, &w, 4);
}

VtStatus MemoryReserve(VtObjectStream *s, size_t n) {
  if (s->base == nullptr) {
    auto *b = static_cast<uint8_t *>(VoAllocate(kMemoryStep));
    if (b == nullptr) return kFailed;
    s->base = s->cursor = b;
    s->used = 0;
    s->capacity = kMemoryStep;
  }
  const size_t used = static_cast<size_t>(s->used);
  if (n > SIZE_MAX - used - 1024) return kFailed;
  if (used + n + 1024 < s->capacity) return 0;
  const size_t grown = s->capacity + n + kMemoryStep;
  if (grown < s->capacity || grown > UINT32_MAX) return kFailed;
  auto *b = static_cast<uint8_t *>(VoMemoryReallocate(s->base, static_cast<uint32_t>(grown)));
  if (b == nullptr) return kFailed;
  s->base = b;
  s->cursor = b + used;
  s->capacity = grown;
  return 0;
}

VtStatus HookRead(VtObjectStream *s, void *bytes, uint32_t n) {
  if (s->file != nullptr) {
    if (bytes == nullptr) return std::fseek(s->file, static_cast<long>(n), SEEK_CUR) == 0 ? 0 : kFailed;
    return std::fread(bytes, 1, n, s->file) == n ? 0 : kFailed;
  }
  ObjectState *st = State();
  if (st == nullptr || st->read_hook == nullptr) return kFailed;
  return st->read_hook(bytes, n, s->id) == 0 ? 0 : kFailed;
}

// Byte i of a value adds (byte << (i mod 24)); whole runs of 24 bytes
// starting at shift 0 go in one loop of fixed shifts, which vectorises
// (clang does at -O2; gcc is asked to).
#if defined(__GNUC__) && !defined(__clang__)
[[gnu::optimize("tree-vectorize")]]
#endif
void SumAdd(VtObjectStream *s, const uint8_t *bytes, size_t n) {
  uint32_t shift = static_cast<uint32_t>(s->sum_position % 24);
  uint32_t sum = s->sum;
  size_t i = 0;
  for (; i < n && shift != 0; ++i) {
    sum += static_cast<uint32_t>(bytes[i]) << shift;
    shift = shift == 23 ? 0 : shift + 1;
  }
  for (; n - i >= 24; i += 24) {
    uint32_t run = 0;
    for (uint32_t k = 0; k < 24; ++k) run += static_cast<uint32_t>(bytes[i + k]) << k;
    sum += run;
  }
  for (; i < n; ++i) {
    sum += static_cast<uint32_t>(bytes[i]) << shift;
    ++shift;
  }
  s->sum = sum;
  s->sum_position += n;
}

#if defined(__GNUC__) && !defined(__clang__)
[[gnu::optimize("tree-vectorize")]]
#endif
void Map(const uint8_t table[256], const uint8_t *from, uint8_t *to, size_t n) {
  for (size_t i = 0; i < n; ++i) to[i] = table[from[i]];
}

}  // namespace

VtObjectStream *StreamCreate(uint32_t kind, bool writer) {
  auto *s = static_cast<VtObjectStream *>(VoAllocate(sizeof(VtObjectStream)));
  if (s == nullptr) return nullptr;
  std::memset(static_cast<void *>(s), 0, sizeof *s);
  s->kind = kind;
  s->writer = writer ? 1 : 0;
  s->swap = 1;
  s->sum = s->sum_seed = kChecksumSeed;
  s->sums_on = 1;
  s->last_id_issued = 1;
  for (int i = 0; i < 256; ++i) s->forward[i] = s->inverse[i] = static_cast<uint8_t>(i);
  s->version = 3;
  s->second = 1;
  s->substitution = 1;
  s->header_pending = 1;
  s->limit = kNoLimit;
  s->root = s;
  return s;
}

VtObjectStream *ChildCreate(VtObjectStream *parent, uint8_t *buffer, size_t capacity) {
  VtObjectStream *c = StreamCreate(1, parent->writer != 0);
  if (c == nullptr) return nullptr;
  c->child = 1;
  c->header_pending = 0;
  c->swap = parent->swap;
  c->substitution = parent->substitution;
  c->shared = parent->shared;
  c->shared_types = parent->shared_types;
  c->last_id_issued = parent->last_id_issued;
  c->last_id_read = parent->last_id_read;
  c->file_types = parent->file_types;
  c->version = parent->version;
  c->root = parent->root;
  std::memcpy(c->forward, parent->forward, sizeof c->forward);
  std::memcpy(c->inverse, parent->inverse, sizeof c->inverse);
  if (buffer != nullptr) {
    c->base = c->cursor = buffer;
    c->capacity = capacity;
  } else if (MemoryReserve(c, 0) != 0) {
    VoDeallocate(c);
    return nullptr;
  }
  return c;
}

void StreamRelease(VtObjectStream *s) {
  if (s == nullptr) return;
  if (s->file != nullptr) std::fclose(s->file);
  if (s->child == 0) {
    VoHashTableDestroy(s->file_types);
    VoHashTableDestroy(s->shared);
    VoHashTableDestroy(s->shared_types);
    VoDeallocate(s->made.entries);
  }
  VoDeallocate(s->base);
  VoDeallocate(s);
}

VtStatus BytesWrite(VtObjectStream *s, const void *bytes, size_t n) {
  if (n == 0) return 0;
  if (bytes == nullptr) return kFailed;
  const auto *from = static_cast<const uint8_t *>(bytes);
  if (s->kind == 1) {
    if (MemoryReserve(s, n) != 0) return kFailed;
    if (s->substitution != 0)
      Map(s->forward, from, s->cursor, n);
    else
      std::memcpy(s->cursor, from, n);
    s->cursor += n;
    s->used += n;
    return 0;
  }
  if (n > UINT32_MAX) return kFailed;
  if (s->substitution == 0) return RawWrite(s, from, n);
  auto *mapped = static_cast<uint8_t *>(VoAllocate(static_cast<uint32_t>(n)));
  if (mapped == nullptr) return kFailed;
  Map(s->forward, from, mapped, n);
  const VtStatus st = RawWrite(s, mapped, n);
  VoDeallocate(mapped);
  return st;
}

VtStatus RawWrite(VtObjectStream *s, const void *bytes, size_t n) {
  if (n > UINT32_MAX) return kFailed;
  VtStatus st;
  if (s->file != nullptr) {
    st = std::fwrite(bytes, 1, n, s->file) == n ? 0 : kFailed;
  } else {
    ObjectState *o = State();
    const bool written = o != nullptr && o->write_hook != nullptr &&
                         o->write_hook(const_cast<void *>(bytes), static_cast<uint32_t>(n), s->id) == 0;
    st = written ? 0 : kFailed;
  }
  if (st == 0) s->used += n;
  return st;
}

VtStatus BytesRead(VtObjectStream *s, void *bytes, size_t n) {
  if (n == 0) return 0;
  if (bytes == nullptr || s->writer != 0) return kFailed;
  if (s->limit != kNoLimit && (n > s->limit || s->used > s->limit - n)) return kFailed;
  auto *to = static_cast<uint8_t *>(bytes);
  if (s->kind == 1) {
    const size_t left = s->capacity - static_cast<size_t>(s->cursor - s->base);
    if (n > left) return kFailed;
    std::memcpy(to, s->cursor, n);
    s->cursor += n;
  } else {
    if (n > UINT32_MAX || HookRead(s, to, static_cast<uint32_t>(n)) != 0) return kFailed;
  }
  s->used += n;
  if (s->sums_on != 0) SumAdd(s, to, n);
  if (s->substitution != 0) Map(s->inverse, to, to, n);
  return 0;
}

VtStatus BlockRead(VtObjectStream *s, size_t n, uint8_t **block) {
  *block = nullptr;
  if (n == 0) return 0;
  const bool in_memory = s->kind == 1;
  if (s->limit != kNoLimit && (n > s->limit || s->used > s->limit - n)) return kFailed;
  if (in_memory && n > s->capacity - static_cast<size_t>(s->cursor - s->base)) return kFailed;
  uint8_t *p = nullptr;
  size_t have = 0;
  while (have < n) {
    const size_t want = in_memory || n <= kReadPiece ? n
                        : have == 0                  ? kReadPiece
                        : n - have < have            ? n
                                                     : have * 2;
    if (want > UINT32_MAX) break;
    auto *grown = static_cast<uint8_t *>(VoMemoryReallocate(p, static_cast<uint32_t>(want)));
    if (grown == nullptr) break;
    p = grown;
    if (BytesRead(s, p + have, want - have) != 0) break;
    have = want;
  }
  if (have < n) {
    VoDeallocate(p);
    return kFailed;
  }
  *block = p;
  return 0;
}

VtStatus Skip(VtObjectStream *s, uint64_t n) {
  if (n == 0) return 0;
  if (s->writer != 0) return kFailed;
  if (s->limit != kNoLimit && (n > s->limit || s->used > s->limit - n)) return kFailed;
  if (s->kind == 1) {
    const size_t left = s->capacity - static_cast<size_t>(s->cursor - s->base);
    if (n > left) return kFailed;
    s->cursor += n;
  } else {
    // The hook takes 32-bit counts: a longer skip goes in pieces.
    for (uint64_t left = n; left > 0;) {
      const uint32_t step = left > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<uint32_t>(left);
      if (HookRead(s, nullptr, step) != 0) return kFailed;
      left -= step;
    }
  }
  s->used += n;
  return 0;
}

VtStatus WordWrite(VtObjectStream *s, uint32_t w) {
  uint8_t b[4];
  WordBytes(s, w, b);
  return BytesWrite(s, b, 4);
}

VtStatus WordRead(VtObjectStream *s, uint32_t *w) {
  uint32_t v = 0;
  const VtStatus st = BytesRead(s, &v, 4);
  if (st != 0) return st;
  *w = s->swap != 0 ? Swapped(v) : v;
  return 0;
}

// A double as two words, the high word first: eight big-endian bytes.
VtStatus DoubleWrite(VtObjectStream *s, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  const VtStatus st = WordWrite(s, static_cast<uint32_t>(bits >> 32));
  return st != 0 ? st : WordWrite(s, static_cast<uint32_t>(bits));
}

VtStatus DoubleRead(VtObjectStream *s, double *d) {
  uint32_t high = 0, low = 0;
  VtStatus st = WordRead(s, &high);
  if (st == 0) st = WordRead(s, &low);
  if (st != 0) return st;
  const uint64_t bits = (static_cast<uint64_t>(high) << 32) | low;
  std::memcpy(d, &bits, 8);
  return 0;
}

void WordPatch(VtObjectStream *s, uint64_t at, uint32_t w) {
  uint8_t b[4];
  WordBytes(s, w, b);
  uint8_t *to = s->base + at;
  if (s->substitution != 0)
    Map(s->forward, b, to, 4);
  else
    std::memcpy(to, b, 4);
}

void SumRestart(VtObjectStream *s) {
  s->sum = s->sum_seed;
  s->sum_position = 0;
}

uint32_t Checksum(const uint8_t *bytes, size_t n) {
  VtObjectStream s{};
  s.sum = kChecksumSeed;
  SumAdd(&s, bytes, n);
  return s.sum;
}

VtStatus MadeAppend(VtObjectStream *s, uintptr_t id, void *object, const DataObjectType *type) {
  MadeObjects &m = s->root->made;
  if (m.count == m.capacity) {
    const uint32_t grown = m.capacity == 0 ? 16 : m.capacity * 2;
    if (static_cast<uint64_t>(grown) * sizeof(MadeObject) > UINT32_MAX) return kFailed;
    auto *e = static_cast<MadeObject *>(
        VoMemoryReallocate(m.entries, static_cast<uint32_t>(grown * sizeof(MadeObject))));
    if (e == nullptr) return kFailed;
    m.entries = e;
    m.capacity = grown;
  }
  m.entries[m.count++] = MadeObject{id, object, type, false, 0};
  return 0;
}

VtStatus SharedEnter(VtObjectStream *s, uint32_t id, void *object, const DataObjectType *type) {
  VtObjectStream *r = s->root;
  if (id != 0) {
    if (VoHashTableStoreRecord(r->shared, id, reinterpret_cast<uintptr_t>(object)) != 0) return kFailed;
    if (VoHashTableStoreRecord(r->shared_types, id, type->id) != 0) {
      (void)VoHashTableRemoveRecord(r->shared, id, nullptr);
      return kFailed;
    }
  }
  if (MadeAppend(s, id, object, type) == 0) return 0;
  if (id != 0) {
    (void)VoHashTableRemoveRecord(r->shared, id, nullptr);
    (void)VoHashTableRemoveRecord(r->shared_types, id, nullptr);
  }
  return kFailed;
}

}  // namespace vo::object

namespace vo {

using object::kFailed;

VtStatus vx_lo_object_write(void *buffer, uint32_t count, void *file) {
  if (file == nullptr || (buffer == nullptr && count != 0)) return kFailed;
  if (count == 0) return 0;
  return std::fwrite(buffer, 1, count, static_cast<std::FILE *>(file)) == count ? 0 : kFailed;
}

VtStatus vx_lo_object_read(void *buffer, uint32_t count, void *file) {
  if (file == nullptr) return kFailed;
  auto *f = static_cast<std::FILE *>(file);
  if (buffer == nullptr) return std::fseek(f, static_cast<long>(count), SEEK_CUR) == 0 ? 0 : kFailed;
  return std::fread(buffer, 1, count, f) == count ? 0 : kFailed;
}

VtStatus VoDataObjectWriteBytes(void *buffer, uint32_t count, VtObjectStream *stream) {
  if (stream == nullptr || stream->writer == 0) return kFailed;
  return object::BytesWrite(stream, buffer, count);
}

VtStatus VoDataObjectReadBytes(void *buffer, uint32_t count, VtObjectStream *stream) {
  if (stream == nullptr) return kFailed;
  return object::BytesRead(stream, buffer, count);
}

uint32_t vo_htons(uint32_t value) {
  const auto v = static_cast<uint16_t>(value);
  if constexpr (std::endian::native == std::endian::big) return v;
  return static_cast<uint16_t>((v >> 8) | (v << 8));
}

uint32_t vo_ntohs(uint32_t value) { return vo_htons(value); }

}  // namespace vo
