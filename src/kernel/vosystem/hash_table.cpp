// Hash tables keyed by pointer-sized words, with an odd prime bucket count.
// Table records come from a keeper of their own and never go back to the
// heap, so a destroyed table's check word stays readable and refuses it.

#include <cstring>

#include "kernel/vosystem/hash_table.h"
#include "kernel/vosystem/message_numbers.h"
#include "kernel/vosystem/process_wide.h"

namespace vo {

namespace {

bool OddPrime(uint64_t n) {
  for (uint64_t d = 3; d * d <= n; d += 2)
    if (n % d == 0) return false;
  return true;
}

// The smallest odd prime not below max(n, 5).
uint64_t BucketCount(uint32_t n) {
  uint64_t c = n < 5 ? 5 : n;
  if (c % 2 == 0) ++c;
  while (!OddPrime(c)) c += 2;
  return c;
}

void EntriesFree(VtHashTable *t) {
  for (uint32_t i = 0; i < t->bucket_count; ++i) {
    for (VtHashEntry *e = t->buckets[i]; e != nullptr;) {
      VtHashEntry *next = e->next;
      VoDeallocate(e);
      e = next;
    }
    t->buckets[i] = nullptr;
  }
  t->walk_next = nullptr;
  t->walk_bucket = 0;
}

// Moves the walk to the first entry at or after bucket b.
void WalkSeek(VtHashTable *t, uint32_t b) {
  for (; b < t->bucket_count; ++b)
    if (t->buckets[b] != nullptr) {
      t->walk_bucket = b;
      t->walk_next = t->buckets[b];
      return;
    }
  t->walk_bucket = t->bucket_count;
  t->walk_next = nullptr;
}

bool WalkStep(VtHashTable *t, uintptr_t *key, uintptr_t *value) {
  VtHashEntry *e = t->walk_next;
  if (e == nullptr) return false;
  if (key) *key = e->key;
  if (value) *value = e->value;
  if (e->next != nullptr)
    t->walk_next = e->next;
  else
    WalkSeek(t, t->walk_bucket + 1);
  return true;
}

constexpr uint32_t kHashTableLive = 0x4a5e7ab1;

using TableRecords = RecordKeeper<VtHashTable>;

__attribute__((destructor)) void TableRecordsFree() { TableRecords::Free(); }

// True, with a diagnostic naming the procedure, for a table argument that is
// not null and not a live hash table: only its check word is read.
bool Refused(const VtHashTable *t, const char *procedure) {
  if (t == nullptr || t->check == kHashTableLive) [[likely]]
    return false;
  Post(VO_STATUS_BAD_ARGUMENT, messages::kObjectNotLive, VO_MODULE_SYSTEM, procedure,
       static_cast<const void *>(t), "hash table");
  return true;
}

}  // namespace

VtHashTable *VoHashTableCreate(uint32_t size) {
  const uint64_t count = BucketCount(size);
  if (count * sizeof(VtHashEntry *) > UINT32_MAX) return nullptr;
  VtHashTable *t = TableRecords::Get().Take();
  if (t == nullptr) return nullptr;
  const auto bytes = static_cast<uint32_t>(count * sizeof(VtHashEntry *));
  t->buckets = static_cast<VtHashEntry **>(VoAllocate(bytes));
  if (t->buckets == nullptr) {
    TableRecords::Get().Keep(t);
    return nullptr;
  }
  std::memset(t->buckets, 0, bytes);
  t->bucket_count = static_cast<uint32_t>(count);
  t->check = kHashTableLive;
  t->walk_bucket = 0;
  t->walk_next = nullptr;
  return t;
}

VtStatus VoHashTableStoreRecord(VtHashTable *t, uintptr_t key, uintptr_t value) {
  if (t == nullptr || Refused(t, "VoHashTableStoreRecord")) return VO_STATUS_BAD_ARGUMENT;
  auto *e = static_cast<VtHashEntry *>(VoAllocate(sizeof(VtHashEntry)));
  if (e == nullptr) return VO_STATUS_NO_MEMORY;
  VtHashEntry **bucket = &t->buckets[key % t->bucket_count];
  e->key = key;
  e->value = value;
  e->next = *bucket;
  *bucket = e;
  return 0;
}

uintptr_t VoHashTableExtractRecord(VtHashTable *t, uintptr_t key) {
  if (t == nullptr || Refused(t, "VoHashTableExtractRecord")) return 0;
  for (VtHashEntry *e = t->buckets[key % t->bucket_count]; e != nullptr; e = e->next)
    if (e->key == key) return e->value;
  return 0;
}

uint32_t VoHashTableRemoveRecord(VtHashTable *t, uintptr_t key, uintptr_t *value) {
  if (t == nullptr || Refused(t, "VoHashTableRemoveRecord")) return 0;
  for (VtHashEntry **link = &t->buckets[key % t->bucket_count]; *link != nullptr; link = &(*link)->next) {
    VtHashEntry *e = *link;
    if (e->key != key) continue;
    if (t->walk_next == e) WalkStep(t, nullptr, nullptr);  // a walk goes on past it
    *link = e->next;
    if (value) *value = e->value;
    VoDeallocate(e);
    return 1;
  }
  return 0;
}

uint32_t VoHashTableFirst(VtHashTable *t, uintptr_t *key, uintptr_t *value) {
  if (t == nullptr || Refused(t, "VoHashTableFirst")) return 0;
  WalkSeek(t, 0);
  return WalkStep(t, key, value) ? 1 : 0;
}

uint32_t VoHashTableNext(VtHashTable *t, uintptr_t *key, uintptr_t *value) {
  if (t == nullptr || Refused(t, "VoHashTableNext")) return 0;
  return WalkStep(t, key, value) ? 1 : 0;
}

VtStatus VoHashTableDestroy(VtHashTable *t) {
  if (t == nullptr) return 0;
  if (Refused(t, "VoHashTableDestroy")) return VO_STATUS_BAD_ARGUMENT;
  EntriesFree(t);
  VoDeallocate(t->buckets);
  TableRecords::Get().Keep(t);
  return 0;
}

VtStatus VoHashTableReset(VtHashTable **table, uint32_t size) {
  if (table == nullptr) return VO_STATUS_BAD_ARGUMENT;
  VtHashTable *t = *table;
  if (Refused(t, "VoHashTableReset")) return VO_STATUS_BAD_ARGUMENT;
  if (t == nullptr) {
    *table = VoHashTableCreate(size);
    return *table ? 0 : VO_STATUS_NO_MEMORY;
  }
  if (size <= t->bucket_count) {
    EntriesFree(t);
    return 0;
  }
  VtHashTable *made = VoHashTableCreate(size);
  if (made == nullptr) {
    EntriesFree(t);  // emptied as asked, at its old size
    return VO_STATUS_NO_MEMORY;
  }
  VoHashTableDestroy(t);
  *table = made;
  return 0;
}

}  // namespace vo
