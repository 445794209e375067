// The register of live primitive records: the one answer to "is this a live
// primitive?" (PrimitiveLive), for a handle the application passes and for a
// member a reference list names alike.
//
// Why a register and not the record's check word: a list may still name a
// primitive the application destroyed, and the record's memory may be gone
// by the time a render walks the list (a pool gives back a chunk once every
// block in it is free: a light's map render tidies memory at its end, and
// the ray tracer then gathers the list). The register is asked with the
// address alone and never reads at it.
//
// A list names an address, and the address must not come back as another
// primitive while a list still names the destroyed one: the register counts
// the reference nodes naming each live record (the kernel tells it of every
// node made and given back, RingNameCountSet), and a record destroyed while
// nodes name it is parked: out of the answer, its memory kept from its pool,
// until the last such node goes. So a list's member once destroyed stays
// "no live primitive" for as long as the list names it, whatever is made
// meanwhile.
//
// Invariants:
// - An address answers live from the record's creation (VoPrimitiveCreate)
//   to its destroy (PrimitiveRecordFree), and at no other time; a record
//   waiting for the outermost render's end before its pool takes it back is
//   already out.
// - An entry's count is the number of nodes made naming the record (live or
//   parked) and not yet given back. A parked entry (its key's bit 1 set)
//   goes, and its record to the pool, when its count reaches 0. Nodes whose
//   datum an application rewrites, or whose sub-pool goes whole, are not
//   seen: such a record stays parked until the module stops.
// - The register is split into shards by a hash of the address. Writers
//   (creation and destroy, from any thread) take the shard's mutex; readers
//   take no lock: PrimitiveLive runs per point (interpolation, ray hits).
//   A reader probes the table it loaded; a table outgrown is kept until the
//   register goes, so that a reader still probing it reads live memory. A
//   table purged of its gone entries in place moves the shard's sequence
//   word (odd while the purge runs), and a reader that saw it move probes
//   again.
// - Key 0 marks a free slot and key 1 a gone entry; no record lies at
//   either address. Records are 8-byte aligned, so bit 1 of a key is free
//   to mark a parked record: a reader asking for the address never finds it.

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

#include "scene/vogeom/geom_state.h"

namespace vo {

namespace {

constexpr uintptr_t kFree = 0, kGone = 1, kParked = 2, kAddressBits = ~uintptr_t{7};
constexpr uint32_t kShardBits = 4, kShards = 1u << kShardBits;
constexpr uint32_t kFirstCapacity = 64;

struct Slot {
  std::atomic<uintptr_t> key;  // read by any thread
  uint64_t names;              // nodes naming the record (under the shard's lock)
};

struct Table {
  uint32_t mask;    // capacity - 1, a power of two less one
  Table *outgrown;  // tables this one replaced, kept until the register goes
  Slot slots[1];    // capacity of them
};

Table *TableMake(uint32_t capacity) {
  const size_t bytes = offsetof(Table, slots) + sizeof(Slot) * size_t{capacity};
  auto *t = static_cast<Table *>(VoAllocate(static_cast<uint32_t>(bytes)));
  if (t == nullptr) return nullptr;
  t->mask = capacity - 1;
  t->outgrown = nullptr;
  for (uint32_t i = 0; i < capacity; ++i) new (&t->slots[i]) Slot{{kFree}, 0};
  return t;
}

bool Entry(uintptr_t k) { return k != kFree && k != kGone; }

uint64_t Hash(uintptr_t key) { return (uint64_t{key} >> 3) * 0x9E3779B97F4A7C15ull; }

struct Shard {
  std::mutex lock;                    // writers only
  std::atomic<uint32_t> sequence{0};  // odd while a purge rewrites the table in place
  std::atomic<Table *> table{nullptr};
  uint32_t live = 0, used = 0;  // entries (parked ones too), and entries plus gone marks (under the lock)
};

// Puts an entry in a table known to have a free slot (under the shard's lock).
void Place(Table *t, uintptr_t key, uint64_t names) {
  for (uint64_t i = Hash(key & kAddressBits) >> kShardBits;; ++i) {
    Slot &slot = t->slots[i & t->mask];
    if (!Entry(slot.key.load(std::memory_order_relaxed))) {
      slot.names = names;
      slot.key.store(key, std::memory_order_release);
      return;
    }
  }
}

// The entry of an address, live or parked, or null (under the shard's lock).
Slot *Find(Table *t, uintptr_t address) {
  if (t == nullptr) return nullptr;
  for (uint64_t i = Hash(address) >> kShardBits, n = 0; n <= t->mask; ++i, ++n) {
    Slot &slot = t->slots[i & t->mask];
    const uintptr_t k = slot.key.load(std::memory_order_relaxed);
    if (k == kFree) return nullptr;
    if (k != kGone && (k & kAddressBits) == address) return &slot;
  }
  return nullptr;
}

}  // namespace

struct PrimitiveRegister {
  Shard shards[kShards];
};

namespace {

Shard &ShardOf(PrimitiveRegister *r, uintptr_t key) { return r->shards[Hash(key) >> (64 - kShardBits)]; }

// Makes room for one more entry (under the shard's lock): a table three
// quarters used doubles when half of it is live, and is otherwise purged of
// its gone marks in place. False when memory runs out.
bool RoomMake(Shard &s) {
  Table *t = s.table.load(std::memory_order_relaxed);
  const uint32_t capacity = t == nullptr ? 0 : t->mask + 1;
  if (t != nullptr && (s.used + 1) * 4 < capacity * 3) return true;
  if (t == nullptr || (s.live + 1) * 2 >= capacity) {
    Table *grown = TableMake(t == nullptr ? kFirstCapacity : capacity * 2);
    if (grown == nullptr) return false;
    if (t != nullptr) {
      for (uint32_t i = 0; i < capacity; ++i)
        if (const uintptr_t k = t->slots[i].key.load(std::memory_order_relaxed); Entry(k))
          Place(grown, k, t->slots[i].names);
      grown->outgrown = t;
    }
    s.table.store(grown, std::memory_order_release);
    s.used = s.live;
    return true;
  }
  // Purge in place: the live keys are set aside and placed again while the
  // sequence word is odd, so a reader meanwhile probes again.
  struct Kept {
    uintptr_t key;
    uint64_t names;
  };
  auto *keep = static_cast<Kept *>(VoAllocate(static_cast<uint32_t>(sizeof(Kept) * (s.live + 1))));
  if (keep == nullptr) return false;
  uint32_t n = 0;
  for (uint32_t i = 0; i < capacity; ++i)
    if (const uintptr_t k = t->slots[i].key.load(std::memory_order_relaxed); Entry(k))
      keep[n++] = Kept{k, t->slots[i].names};
  const uint32_t seq = s.sequence.load(std::memory_order_relaxed);
  s.sequence.store(seq + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  for (uint32_t i = 0; i < capacity; ++i) t->slots[i].key.store(kFree, std::memory_order_relaxed);
  for (uint32_t i = 0; i < n; ++i) Place(t, keep[i].key, keep[i].names);
  s.sequence.store(seq + 2, std::memory_order_release);
  VoDeallocate(keep);
  s.used = s.live;
  return true;
}

}  // namespace

PrimitiveRegister *PrimitiveRegisterMake() {
  auto *r = static_cast<PrimitiveRegister *>(VoAllocate(sizeof(PrimitiveRegister)));
  return r != nullptr ? new (r) PrimitiveRegister : nullptr;
}

void PrimitiveRegisterFree(PrimitiveRegister *r) {
  if (r == nullptr) return;
  for (Shard &s : r->shards)
    for (Table *t = s.table.load(std::memory_order_relaxed); t != nullptr;) {
      Table *older = t->outgrown;
      VoDeallocate(t);
      t = older;
    }
  r->~PrimitiveRegister();
  VoDeallocate(r);
}

bool PrimitiveRegisterAdd(PrimitiveRegister *r, const VtPrimitive *p) {
  const auto key = reinterpret_cast<uintptr_t>(p);
  Shard &s = ShardOf(r, key);
  std::lock_guard hold(s.lock);
  if (!RoomMake(s)) return false;
  Place(s.table.load(std::memory_order_relaxed), key, 0);
  ++s.live;
  ++s.used;
  return true;
}

bool PrimitiveRegisterRetire(PrimitiveRegister *r, const VtPrimitive *p) {
  const auto key = reinterpret_cast<uintptr_t>(p);
  Shard &s = ShardOf(r, key);
  std::lock_guard hold(s.lock);
  Slot *slot = Find(s.table.load(std::memory_order_relaxed), key);
  if (slot == nullptr) return true;
  if (slot->names != 0) {
    slot->key.store(key | kParked, std::memory_order_release);
    return false;
  }
  slot->key.store(kGone, std::memory_order_release);
  --s.live;
  return true;
}

namespace {

// Whether the shard's table holds an entry for address that matches,
// asked without the lock: a reader that saw a purge begin or end while it
// looked looks again.
template <typename Matches>
bool Seen(const Shard &s, uintptr_t address, Matches matches) {
  for (;;) {
    const uint32_t before = s.sequence.load(std::memory_order_acquire);
    if ((before & 1u) != 0) continue;  // a purge is rewriting the table
    const Table *t = s.table.load(std::memory_order_acquire);
    bool found = false;
    if (t != nullptr)
      for (uint64_t i = Hash(address) >> kShardBits, n = 0; n <= t->mask; ++i, ++n) {
        const uintptr_t k = t->slots[i & t->mask].key.load(std::memory_order_acquire);
        if (k == kFree) break;
        if (matches(k)) {
          found = true;
          break;
        }
      }
    std::atomic_thread_fence(std::memory_order_acquire);
    if (s.sequence.load(std::memory_order_relaxed) == before) return found;
  }
}

// Whether the address has an entry, live or parked, asked without the lock:
// the count hooks run for every node, most of them naming no primitive.
bool Known(PrimitiveRegister *r, uintptr_t address) {
  return Seen(ShardOf(r, address), address,
              [address](uintptr_t k) { return k != kGone && (k & kAddressBits) == address; });
}

}  // namespace

void PrimitiveRegisterNamed(PrimitiveRegister *r, const void *data) {
  const auto key = reinterpret_cast<uintptr_t>(data);
  if ((key & ~kAddressBits) != 0 || !Known(r, key)) return;
  Shard &s = ShardOf(r, key);
  std::lock_guard hold(s.lock);
  // A parked record gains names too (a copy of a list that still names it):
  // each node given back takes one away, so the count must hold them all.
  if (Slot *slot = Find(s.table.load(std::memory_order_relaxed), key)) ++slot->names;
}

bool PrimitiveRegisterUnnamed(PrimitiveRegister *r, const void *data) {
  const auto key = reinterpret_cast<uintptr_t>(data);
  if ((key & ~kAddressBits) != 0 || !Known(r, key)) return false;
  Shard &s = ShardOf(r, key);
  std::lock_guard hold(s.lock);
  Slot *slot = Find(s.table.load(std::memory_order_relaxed), key);
  if (slot == nullptr) return false;
  if (slot->names != 0) --slot->names;
  if (slot->names != 0 || slot->key.load(std::memory_order_relaxed) != (key | kParked)) return false;
  slot->key.store(kGone, std::memory_order_release);
  --s.live;
  return true;
}

bool PrimitiveLive(const VtPrimitive *p) {
  const GeomState *g = Geom();
  if (p == nullptr || g == nullptr || g->live == nullptr) return false;
  const auto key = reinterpret_cast<uintptr_t>(p);
  if ((key & ~kAddressBits) != 0) return false;  // no record lies there
  return Seen(ShardOf(g->live, key), key, [key](uintptr_t k) { return k == key; });
}

}  // namespace vo
