// Block pools: the kernel's default pool and heap procedures, sub-pools with
// merge and compaction, and the pool interface that goes through the kernel
// callbacks. The records of the pools the default procedures and
// VoSubPoolCreate make come from a keeper of pool records and never go back
// to the heap: a destroyed pool's check word, read on every block allocated
// and freed, stays readable and refuses it, and an address that is no record
// of the keeper's is refused before any word at it is read. Every pool keeps
// a book of its chunks in every build, so that a block freed into a pool it
// does not belong to is refused before anything at it is read or written.
// The pools the library makes for itself are its own: an application's
// VoPoolDispose of one is refused.

#include "kernel/vomemman/pool.h"
#include "kernel/vosystem/face.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <new>
#include <set>
#include <unordered_set>

#include "platform/chunk_heap.h"

namespace vo {

// What a pool keeps to check the blocks given back to it: its chunks in
// every build, its free blocks in debug builds (release builds read the
// free mark instead, once the block is known to be the pool's).
struct PoolBook {
  std::set<uintptr_t> chunks;                 // chunk starts
  std::unordered_set<uintptr_t> free_blocks;  // blocks on the free list (debug builds)
};

namespace {

using platform::ChunkHeap;

void **LinkOf(void *chunk, uint32_t usable) {
  return reinterpret_cast<void **>(static_cast<char *>(chunk) + usable);
}

uintptr_t Address(const void *p) { return reinterpret_cast<uintptr_t>(p); }

// ---- The free mark ----------------------------------------------------------
// A block the default block free takes back carries, in the word after its
// free-list link, its own address mixed with a fixed key; the default block
// allocate clears that word again. A second free of the block, and a destroy
// procedure asking before it reads a record it is about to free, find the
// mark: one compare, in every build. Blocks of one word have no room for it:
// their pools write and read no mark, so only debug builds, which keep a book
// of the free blocks, refuse a second free there. The mark is read only at
// an address taken for a block of the pool: the address is looked up in the
// pool's book of chunks first, so a foreign one is refused before anything
// at it is read.

constexpr uintptr_t kFreeMarkKey = 0x5bd1e9955bd1e995u;

bool MarkRoom(const VtPool *pool) { return pool->element_size >= 2 * kLinkBytes; }

uintptr_t *MarkWord(void *block) { return static_cast<uintptr_t *>(block) + 1; }

bool Marked(const VtPool *pool, void *block) {
  return MarkRoom(pool) && *MarkWord(block) == (Address(block) ^ kFreeMarkKey);
}

// ---- The book of chunks -----------------------------------------------------

#ifdef NDEBUG
constexpr bool kBookFreeBlocks = false;
#else
constexpr bool kBookFreeBlocks = true;
#endif

PoolBook *BookMake() { return new (std::nothrow) PoolBook; }

// Enters a chunk just carved (all its blocks free); false when memory runs
// out, the book unchanged.
bool BookCarved(VtPool *p, void *chunk) {
  try {
    p->book->chunks.insert(Address(chunk));
    if (kBookFreeBlocks)
      for (uint32_t i = 0; i < p->blocks_per_chunk; ++i)
        p->book->free_blocks.insert(Address(chunk) + uintptr_t{i} * p->element_size);
  } catch (const std::bad_alloc &) {
    p->book->chunks.erase(Address(chunk));
    for (uint32_t i = 0; i < p->blocks_per_chunk; ++i)
      p->book->free_blocks.erase(Address(chunk) + uintptr_t{i} * p->element_size);
    return false;
  }
  return true;
}

void BookChunkGone(VtPool *p, void *chunk) {
  p->book->chunks.erase(Address(chunk));
  if (kBookFreeBlocks)
    for (uint32_t i = 0; i < p->blocks_per_chunk; ++i)
      p->book->free_blocks.erase(Address(chunk) + uintptr_t{i} * p->element_size);
}

void BookClear(VtPool *p) {
  p->book->chunks.clear();
  p->book->free_blocks.clear();
}

// Hands the sub-pool's entries to the parent (moving nodes: nothing is
// allocated).
void BookMerge(VtPool *parent, VtPool *sub) {
  parent->book->chunks.merge(sub->book->chunks);
  parent->book->free_blocks.merge(sub->book->free_blocks);
  BookClear(sub);
}

// The block lies on a block boundary inside one of the pool's chunks.
bool BookHolds(const VtPool *pool, const void *block) {
  const uintptr_t a = Address(block);
  const std::set<uintptr_t> &chunks = pool->book->chunks;
  auto it = chunks.upper_bound(a);
  if (it == chunks.begin()) return false;
  --it;
  const uintptr_t offset = a - *it;
  return offset < uintptr_t{pool->blocks_per_chunk} * pool->element_size && offset % pool->element_size == 0;
}

// ---- Chunks ----------------------------------------------------------------

bool DefaultHeapsInstalled(VtKernelContext *k) {
  return KernelSlot<VtHeapCreateProc>(k, VO_CALLBACK_HEAP_CREATE) == &HeapCreateDefault &&
         KernelSlot<VtHeapDestroyProc>(k, VO_CALLBACK_HEAP_DESTROY) == &HeapDestroyDefault &&
         KernelSlot<VtHeapAllocateProc>(k, VO_CALLBACK_HEAP_ALLOCATE) == &HeapAllocateDefault &&
         KernelSlot<VtHeapFreeProc>(k, VO_CALLBACK_HEAP_FREE) == &HeapFreeDefault;
}

// A chunk for the pool: a spare one when the sizes agree and the default
// heaps are in use, else one from the heap-allocate callback.
void *ChunkTake(VtKernelContext *k, VtPool *pool) {
  MemoryLockGuard guard(k);
  KernelMemory &m = k->memory;
  if (m.spare != nullptr && pool->chunk_bytes == m.chunk_bytes && DefaultHeapsInstalled(k)) {
    void *chunk = m.spare;
    void *next = *LinkOf(chunk, m.usable_bytes);
    if (platform::ChunkAttach(static_cast<ChunkHeap *>(pool->heap), chunk)) {
      m.spare = next;
      --m.spare_count;
      return chunk;
    }
  }
  auto allocate = KernelSlot<VtHeapAllocateProc>(k, VO_CALLBACK_HEAP_ALLOCATE);
  void *chunk = allocate ? allocate(pool->chunk_bytes, pool->heap) : nullptr;
  if (chunk != nullptr) ++m.chunks_in_use;
  return chunk;
}

void ChunksInUseLess(VtKernelContext *k, uint32_t n) {
  MemoryLockGuard guard(k);
  k->memory.chunks_in_use -= std::min(k->memory.chunks_in_use, n);
}

void HeapFreeChunk(VtKernelContext *k, VtPool *pool, void *chunk) {
  auto release = KernelSlot<VtHeapFreeProc>(k, VO_CALLBACK_HEAP_FREE);
  if (release != nullptr) release(pool->heap, chunk);
  ChunksInUseLess(k, 1);
}

// The chunk-release procedure: back to the heap, or onto the spare list
// (free-standing, so that it outlives its heap and serves any pool).
void ChunkRelease(VtKernelContext *k, VtPool *pool, void *chunk) {
  KernelMemory &m = k->memory;
  if (m.free_chunks || pool->chunk_bytes != m.chunk_bytes || !DefaultHeapsInstalled(k) ||
      !platform::ChunkHeapKnown(pool->heap)) {
    HeapFreeChunk(k, pool, chunk);
    return;
  }
  platform::ChunkDetach(chunk);
  MemoryLockGuard guard(k);
  *LinkOf(chunk, m.usable_bytes) = m.spare;
  m.spare = chunk;
  ++m.spare_count;
}

// Carves a new chunk into blocks and makes them the free list (which is
// empty when this is called).
[[gnu::noinline]] bool PoolGrow(VtPool *pool) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return false;
  void *chunk = ChunkTake(k, pool);
  if (chunk == nullptr) return false;
  if (!BookCarved(pool, chunk)) {
    ChunkRelease(k, pool, chunk);
    return false;
  }
  *LinkOf(chunk, pool->usable_bytes) = pool->chunk_list;
  pool->chunk_list = chunk;
  if (pool->chunk_tail == nullptr) pool->chunk_tail = chunk;
  ++pool->chunks;
  char *base = static_cast<char *>(chunk);
  const uint32_t n = pool->blocks_per_chunk, e = pool->element_size;
  for (uint32_t i = 0; i + 1 < n; ++i)
    *reinterpret_cast<void **>(base + size_t{i} * e) = base + size_t{i + 1} * e;
  char *last = base + size_t{n - 1} * e;
  *reinterpret_cast<void **>(last) = pool->free_list;
  if (pool->free_list == nullptr) pool->free_tail = last;
  pool->free_list = base;
  return true;
}

// Passes every chunk of the pool to the chunk-release procedure.
void ReleaseAllChunks(VtKernelContext *k, VtPool *pool) {
  for (void *chunk = pool->chunk_list; chunk != nullptr;) {
    void *next = *LinkOf(chunk, pool->usable_bytes);
    ChunkRelease(k, pool, chunk);
    chunk = next;
  }
  pool->chunks = 0;
  pool->chunk_list = pool->chunk_tail = nullptr;
  pool->free_list = pool->free_tail = nullptr;
  BookClear(pool);
}

// ---- The kernel's pool list -----------------------------------------------

void PoolListLink(VtKernelContext *k, VtPool *pool) {
  MemoryLockGuard guard(k);
  pool->previous = nullptr;
  pool->next = k->memory.pools;
  if (k->memory.pools) k->memory.pools->previous = pool;
  k->memory.pools = pool;
}

void PoolListUnlink(VtKernelContext *k, VtPool *pool) {
  MemoryLockGuard guard(k);
  if (pool->previous)
    pool->previous->next = pool->next;
  else if (k->memory.pools == pool)
    k->memory.pools = pool->next;
  if (pool->next) pool->next->previous = pool->previous;
  pool->next = pool->previous = nullptr;
}

// True, with a diagnostic naming the procedure, for a pool argument that is
// no live pool record (one destroyed, or a record of another kind).
[[gnu::noinline]] bool PoolRefusedSlow(const VtPool *pool, const char *procedure) {
  Post(VO_STATUS_BAD_ARGUMENT, messages::kObjectNotLive, VO_MODULE_MEMORY, procedure,
       static_cast<const void *>(pool), "pool");
  return true;
}

using PoolRecords = RecordKeeper<VtPool>;

// A record the keeper made whose check word says live: no word of any other
// address is read.
inline bool PoolRecordLive(const VtPool *pool) {
  return PoolRecords::Get().Made(pool) && pool->check == kPoolLive;
}

inline bool PoolRefused(const VtPool *pool, const char *procedure) {
  if (PoolRecordLive(pool)) [[likely]]
    return false;
  return PoolRefusedSlow(pool, procedure);
}

// Whether the exported procedure running innermost on this thread is one of
// the names: the call was made through the interface (by the application or
// a script it runs), not by the library's own code, which calls the
// procedures directly inside some other call.
bool ThroughInterface(std::initializer_list<const char *> names) {
  const api::VtApiFunction *fn = api::EnteredFunction();
  if (fn == nullptr) return false;
  for (const char *name : names)
    if (std::strcmp(fn->name, name) == 0) return true;
  return false;
}

// A pool made by the library for itself: not through VoPoolCreate,
// VoSubPoolCreate or VoReferenceSubPoolCreate called through the interface.
uint32_t MadeForLibrary() {
  return ThroughInterface({"VoPoolCreate", "VoSubPoolCreate", "VoReferenceSubPoolCreate"}) ? 0 : 1;
}

// VoPoolDispose called through the interface with a pool the library made
// for itself (its list nodes, its small blocks, a module's records): refused
// with a diagnostic, the pool left as it was.
bool LibraryPoolRefused(const VtPool *pool) {
  if (!pool->library || !ThroughInterface({"VoPoolDispose"})) return false;
  Post(VO_STATUS_BAD_ARGUMENT, messages::kLibraryPoolRefused, VO_MODULE_MEMORY,
       static_cast<const void *>(pool), pool->tag);
  return true;
}

__attribute__((destructor)) void PoolRecordsFree() { PoolRecords::Free(); }

// A zeroed pool record, or null.
VtPool *PoolRecordMake() { return PoolRecords::Get().Take(); }

void PoolRecordFree(VtPool *pool) {
  delete pool->book;
  PoolRecords::Get().Keep(pool);
}

void SubPoolDestroyInternal(VtKernelContext *k, VtPool *sub);

// Destroys every sub-pool made from the pool (their chunks belong to the
// pool's heap, which goes with it).
void DisposeChildren(VtKernelContext *k, VtPool *pool) {
  for (;;) {
    VtPool *child = nullptr;
    {
      MemoryLockGuard guard(k);
      for (VtPool *p = k->memory.pools; p; p = p->next)
        if (p->parent == pool) {
          child = p;
          break;
        }
    }
    if (child == nullptr) return;
    SubPoolDestroyInternal(k, child);
  }
}

void SubPoolDestroyInternal(VtKernelContext *k, VtPool *sub) {
  DisposeChildren(k, sub);
  {
    PoolLockGuard guard(sub);
    ReleaseAllChunks(k, sub);
  }
  PoolListUnlink(k, sub);
  PoolRecordFree(sub);
}

// The chunk table of a compaction: chunk starts in address order with the
// count of free blocks found in each.
struct ChunkEntry {
  uintptr_t start;
  uint32_t free;
};

// Index of the chunk that holds the address, or -1.
long ChunkFind(const ChunkEntry *table, uint32_t n, uintptr_t a, uintptr_t span) {
  const ChunkEntry *end = table + n;
  const ChunkEntry *it =
      std::upper_bound(table, end, a, [](uintptr_t v, const ChunkEntry &e) { return v < e.start; });
  if (it == table) return -1;
  --it;
  return a - it->start < span ? static_cast<long>(it - table) : -1;
}

}  // namespace

// ---- Locks -------------------------------------------------------------------

MemoryLockGuard::MemoryLockGuard(VtKernelContext *k) : lock_(nullptr) {
  if (ThreadingOn(k)) {
    lock_ = &k->memory.lock;
    LockTripleAcquire(&lock_->first, false, lock_);
  }
}

MemoryLockGuard::~MemoryLockGuard() {
  if (lock_ != nullptr) LockTripleRelease(&lock_->first);
}

// ---- Default heap procedures ---------------------------------------------------

void *HeapCreateDefault(VtPool *, uint32_t) {
  return AllocationFails(0) ? nullptr : platform::ChunkHeapCreate();
}

VtStatus HeapDestroyDefault(void *heap) {
  return platform::ChunkHeapDestroy(static_cast<ChunkHeap *>(heap)) ? 0 : VO_STATUS_BAD_ARGUMENT;
}

void *HeapAllocateDefault(uint32_t size, void *heap) {
  if (AllocationFails(size)) return nullptr;
  return platform::ChunkAllocate(static_cast<ChunkHeap *>(heap), size);
}

VtStatus HeapFreeDefault(void *, void *block) {
  platform::ChunkFree(block);
  return 0;
}

VtStatus HeapMergeDefault(void *, void *) { return 0; }
VtStatus HeapCompactDefault(void *) { return 0; }

void HeapCallbacksInstall(VtKernelContext *k) {
  KernelSlotSet(k, VO_CALLBACK_HEAP_CREATE, &HeapCreateDefault);
  KernelSlotSet(k, VO_CALLBACK_HEAP_DESTROY, &HeapDestroyDefault);
  KernelSlotSet(k, VO_CALLBACK_HEAP_ALLOCATE, &HeapAllocateDefault);
  KernelSlotSet(k, VO_CALLBACK_HEAP_FREE, &HeapFreeDefault);
  KernelSlotSet(k, VO_CALLBACK_HEAP_MERGE, &HeapMergeDefault);
  KernelSlotSet(k, VO_CALLBACK_HEAP_COMPACT, &HeapCompactDefault);
}

void SpareChunksFree(VtKernelContext *k) {
  MemoryLockGuard guard(k);
  KernelMemory &m = k->memory;
  while (m.spare != nullptr) {
    void *next = *LinkOf(m.spare, m.usable_bytes);
    platform::ChunkFree(m.spare);
    m.chunks_in_use -= std::min(m.chunks_in_use, 1u);
    m.spare = next;
  }
  m.spare_count = 0;
}

void BigSpareChunksFree(VtKernelContext *k) {
  MemoryLockGuard guard(k);
  KernelMemory &m = k->memory;
  while (m.big_spare != nullptr) {
    void *next = *LinkOf(m.big_spare, m.big_usable_bytes);
    platform::ChunkFree(m.big_spare);
    m.big_spare = next;
  }
  m.big_spare_count = 0;
}

// ---- Default pool procedures -------------------------------------------------

VtPool *PoolCreateDefault(uint32_t tag, uint32_t element_size) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || element_size == 0) return nullptr;
  const uint64_t rounded = (uint64_t{element_size} + 7) & ~uint64_t{7};
  if (rounded > k->memory.usable_bytes) return nullptr;
  VtPool *pool = PoolRecordMake();
  if (pool == nullptr) return nullptr;
  pool->check = kPoolLive;
  pool->tag = tag;
  pool->element_size = static_cast<uint32_t>(std::max<uint64_t>(rounded, kLinkBytes));
  pool->chunk_bytes = k->memory.chunk_bytes;
  pool->usable_bytes = k->memory.usable_bytes;
  pool->blocks_per_chunk = pool->usable_bytes / pool->element_size;
  pool->locked = 1;
  pool->lock = VoLockCreate();
  if (pool->lock == nullptr) {
    PoolRecordFree(pool);
    return nullptr;
  }
  pool->owner = ThreadIdentity();
  pool->library = MadeForLibrary();
  pool->book = BookMake();
  if (pool->book == nullptr) {
    VoLockDestroy(pool->lock);
    PoolRecordFree(pool);
    return nullptr;
  }
  auto heap_create = KernelSlot<VtHeapCreateProc>(k, VO_CALLBACK_HEAP_CREATE);
  pool->heap = heap_create ? heap_create(pool, pool->chunk_bytes) : nullptr;
  if (pool->heap == nullptr && heap_create == &HeapCreateDefault) {
    // Out of memory for the pool's own heap: the pool is not made, rather
    // than made without the heap its chunks belong to.
    VoLockDestroy(pool->lock);
    PoolRecordFree(pool);
    return nullptr;
  }
  PoolListLink(k, pool);
  return pool;
}

VtStatus PoolDestroyDefault(VtPool *pool) {
  VtKernelContext *k = Kernel();
  if (pool == nullptr) return VO_STATUS_BAD_ARGUMENT;
  if (k == nullptr) return VO_STATUS_NOT_INITIALISED;
  if (PoolRefused(pool, "the pool destroy")) return VO_STATUS_BAD_ARGUMENT;
  if (pool->parent != nullptr) {
    SubPoolDestroyInternal(k, pool);
    return 0;
  }
  DisposeChildren(k, pool);
  auto heap_destroy = KernelSlot<VtHeapDestroyProc>(k, VO_CALLBACK_HEAP_DESTROY);
  if (heap_destroy == &HeapDestroyDefault && !platform::ChunkHeapKnown(pool->heap)) {
    // No heap of our own was made (or another heap-create was in force):
    // the pool's chunks go back one by one.
    for (void *chunk = pool->chunk_list; chunk != nullptr;) {
      void *next = *LinkOf(chunk, pool->usable_bytes);
      HeapFreeChunk(k, pool, chunk);
      chunk = next;
    }
  } else {
    ChunksInUseLess(k, pool->chunks);
    if (heap_destroy != nullptr) heap_destroy(pool->heap);
  }
  PoolListUnlink(k, pool);
  VoLockDestroy(pool->lock);
  PoolRecordFree(pool);
  return 0;
}

void *BlockAllocateDefault(VtPool *pool) {
  if (pool == nullptr || PoolRefused(pool, "the block allocate")) return nullptr;
  PoolLockGuard guard(pool);
  void *block = pool->free_list;
  if (block == nullptr) [[unlikely]] {
    if (!PoolGrow(pool)) return nullptr;
    block = pool->free_list;
  }
  void *next = *static_cast<void **>(block);
  pool->free_list = next;
  if (next == nullptr)
    pool->free_tail = nullptr;
  else
    __builtin_prefetch(next, 1);  // the next allocation reads its link and its taker writes it
  ++pool->blocks_in_use;
  if (MarkRoom(pool)) *MarkWord(block) = 0;
  if (kBookFreeBlocks) pool->book->free_blocks.erase(Address(block));
  return block;
}

VtStatus BlockFreeDefault(VtPool *pool, void *block) {
  if (pool == nullptr || PoolRefused(pool, "the block free")) return VO_STATUS_BAD_ARGUMENT;
  if (block == nullptr) return 0;
  PoolLockGuard guard(pool);
  if (!PoolBlockCheck(pool, block)) [[unlikely]] {
    Post(VO_STATUS_BAD_ARGUMENT, kMessageBlockFreeRefused, VO_MODULE_MEMORY, static_cast<const void *>(block),
         static_cast<const void *>(pool));
    return VO_STATUS_BAD_ARGUMENT;
  }
  if (pool->blocks_in_use == 0) return 0;
  *static_cast<void **>(block) = pool->free_list;
  if (MarkRoom(pool)) *MarkWord(block) = Address(block) ^ kFreeMarkKey;
  pool->free_list = block;
  if (pool->free_tail == nullptr) pool->free_tail = block;
  --pool->blocks_in_use;
  if (kBookFreeBlocks) {
    try {
      pool->book->free_blocks.insert(Address(block));
    } catch (const std::bad_alloc &) {
      // The block is free all the same: only a second free of it goes unseen.
    }
  }
  return 0;
}

VtStatus PoolReleaseDefault(VtPool *pool) {
  VtKernelContext *k = Kernel();
  if (pool == nullptr || k == nullptr) return 0;
  if (PoolRefused(pool, "the pool release")) return VO_STATUS_BAD_ARGUMENT;
  PoolLockGuard guard(pool);
  if (pool->blocks_in_use == 0) ReleaseAllChunks(k, pool);
  auto compact = KernelSlot<VtHeapCompactProc>(k, VO_CALLBACK_HEAP_COMPACT);
  if (compact != nullptr) compact(pool->heap);
  return 0;
}

bool PoolBlockFreed(VtPool *pool, void *block) {
  VtKernelContext *k = Kernel();
  if (pool == nullptr || block == nullptr || k == nullptr) return false;
  if (KernelSlot<VtBlockFreeProc>(k, VO_CALLBACK_BLOCK_FREE) != &BlockFreeDefault) return false;
  if (!PoolRecordLive(pool)) return false;
  PoolLockGuard guard(pool);
  return BookHolds(pool, block) && Marked(pool, block);
}

bool PoolRecordRefused(const VtPool *pool, const char *procedure) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || KernelSlot<VtBlockFreeProc>(k, VO_CALLBACK_BLOCK_FREE) != &BlockFreeDefault)
    return false;
  if (pool != nullptr && PoolRecordLive(pool)) return false;
  return PoolRefusedSlow(pool, procedure);
}

bool PoolBlockLive(VtPool *pool, void *block) {
  bool live = false;
  return PoolBlocksLive(pool, &block, 1, &live) && live;
}

bool PoolBlocksLive(VtPool *pool, void *const *blocks, size_t n, bool *live) {
  std::fill(live, live + n, false);
  VtKernelContext *k = Kernel();
  if (pool == nullptr || k == nullptr || n == 0) return true;
  if (KernelSlot<VtBlockFreeProc>(k, VO_CALLBACK_BLOCK_FREE) != &BlockFreeDefault) {
    std::fill(live, live + n, true);
    return true;
  }
  if (!PoolRecordLive(pool)) return true;
  PoolLockGuard guard(pool);
  for (size_t i = 0; i < n; ++i) live[i] = blocks[i] != nullptr && PoolBlockCheck(pool, blocks[i]);
  return true;
}

bool PoolBlockCheck(VtPool *pool, void *block) {
  if (pool == nullptr || pool->book == nullptr || !BookHolds(pool, block)) return false;
  if (kBookFreeBlocks) return pool->book->free_blocks.count(Address(block)) == 0;
  return !Marked(pool, block);
}

namespace {

uint64_t FreeBlocks(const VtPool *pool) {
  const uint64_t total = uint64_t{pool->blocks_per_chunk} * pool->chunks;
  return total - std::min<uint64_t>(total, pool->blocks_in_use);
}

uint64_t ThresholdBlocks(const VtKernelContext *k, const VtPool *pool) {
  return uint64_t{k->memory.compact_threshold} * pool->blocks_per_chunk;
}

VtStatus ChunksCompact(VtKernelContext *k, VtPool *pool);

}  // namespace

VtStatus PoolCompact(VtPool *pool) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || pool == nullptr || !k->memory.compaction || pool->chunks == 0) return 0;
  if (pool->blocks_in_use == 0) {
    auto release = KernelSlot<VtPoolReleaseProc>(k, VO_CALLBACK_POOL_RELEASE);
    return release ? release(pool) : 0;
  }
  if (FreeBlocks(pool) <= ThresholdBlocks(k, pool)) return 0;
  return ChunksCompact(k, pool);
}

VtStatus PoolTidyCompact(VtPool *pool) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || pool == nullptr || !k->memory.compaction) return 0;
  PoolLockGuard guard(pool);
  if (pool->chunks == 0 || pool->blocks_in_use == 0) return 0;
  const uint64_t free_blocks = FreeBlocks(pool), threshold = ThresholdBlocks(k, pool);
  if (free_blocks <= threshold) {
    pool->tidy_free_mark = 0;  // fewer free blocks than at the fruitless walk: walk again once past it
    return 0;
  }
  if (pool->tidy_free_mark != 0 && free_blocks < pool->tidy_free_mark + threshold) return 0;
  const uint32_t chunks = pool->chunks;
  const VtStatus st = ChunksCompact(k, pool);
  pool->tidy_free_mark = st == 0 && pool->chunks == chunks ? free_blocks : 0;
  return st;
}

namespace {

// Gives back every chunk whose blocks are all free, keeping the order of
// the other free blocks.
VtStatus ChunksCompact(VtKernelContext *k, VtPool *pool) {
  const uint32_t n = pool->chunks;
  if (uint64_t{n} * sizeof(ChunkEntry) > UINT32_MAX) return VO_STATUS_NO_MEMORY;
  auto *table = static_cast<ChunkEntry *>(VoAllocate(static_cast<uint32_t>(n * sizeof(ChunkEntry))));
  if (table == nullptr) return VO_STATUS_NO_MEMORY;
  uint32_t count = 0;
  for (void *c = pool->chunk_list; c != nullptr && count < n; c = *LinkOf(c, pool->usable_bytes))
    table[count++] = {Address(c), 0};
  std::sort(table, table + count, [](const ChunkEntry &a, const ChunkEntry &b) { return a.start < b.start; });
  const uintptr_t span = uintptr_t{pool->blocks_per_chunk} * pool->element_size;
  for (void *b = pool->free_list; b != nullptr; b = *static_cast<void **>(b)) {
    long i = ChunkFind(table, count, Address(b), span);
    if (i >= 0) ++table[i].free;
  }
  auto empty = [&](uintptr_t a) {
    long i = ChunkFind(table, count, a, span);
    return i >= 0 && table[i].free == pool->blocks_per_chunk;
  };
  bool any = false;
  for (uint32_t i = 0; i < count && !any; ++i) any = table[i].free == pool->blocks_per_chunk;
  if (any) {
    // The free list without the blocks of empty chunks, in its order.
    void *head = nullptr, *tail = nullptr;
    for (void *b = pool->free_list; b != nullptr;) {
      void *next = *static_cast<void **>(b);
      if (!empty(Address(b))) {
        if (tail)
          *static_cast<void **>(tail) = b;
        else
          head = b;
        tail = b;
      }
      b = next;
    }
    if (tail) *static_cast<void **>(tail) = nullptr;
    pool->free_list = head;
    pool->free_tail = tail;
    // The chunk list without the empty chunks, which go back to the heap.
    void *previous = nullptr;
    for (void *c = pool->chunk_list; c != nullptr;) {
      void *next = *LinkOf(c, pool->usable_bytes);
      if (empty(Address(c))) {
        if (previous)
          *LinkOf(previous, pool->usable_bytes) = next;
        else
          pool->chunk_list = next;
        BookChunkGone(pool, c);
        HeapFreeChunk(k, pool, c);
        --pool->chunks;
      } else {
        previous = c;
      }
      c = next;
    }
    pool->chunk_tail = previous;
  }
  VoDeallocate(table);
  return 0;
}

}  // namespace

// ---- The pool interface ---------------------------------------------------------

VtPool *VoPoolCreate(uint32_t tag, uint32_t element_size) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return nullptr;
  auto create = KernelSlot<VtPoolCreateProc>(k, VO_CALLBACK_POOL_CREATE);
  return create ? create(tag, element_size) : nullptr;
}

void *VoPoolAllocate(VtPool *pool) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) [[unlikely]]
    return nullptr;
  auto allocate = KernelSlot<VtBlockAllocateProc>(k, VO_CALLBACK_BLOCK_ALLOCATE);
  return allocate ? allocate(pool) : nullptr;
}

VtStatus VoPoolFree(VtPool *pool, void *block) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) [[unlikely]]
    return VO_STATUS_NOT_INITIALISED;
  auto release = KernelSlot<VtBlockFreeProc>(k, VO_CALLBACK_BLOCK_FREE);
  return release ? release(pool, block) : VO_STATUS_BAD_ARGUMENT;
}

VtStatus VoPoolRelease(VtPool *pool) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return VO_STATUS_NOT_INITIALISED;
  auto release = KernelSlot<VtPoolReleaseProc>(k, VO_CALLBACK_POOL_RELEASE);
  return release ? release(pool) : VO_STATUS_BAD_ARGUMENT;
}

VtStatus VoPoolDispose(VtPool *pool) {
  VtKernelContext *k = Kernel();
  if (pool == nullptr) return 0;
  if (k == nullptr) return VO_STATUS_NOT_INITIALISED;
  auto destroy = KernelSlot<VtPoolDestroyProc>(k, VO_CALLBACK_POOL_DESTROY);
  // Under the library's own pool procedures every pool is a record of the
  // library's; under an application's, a pool is the application's record,
  // of a size of its own, unless it is one the library made (a sub-pool of
  // one of its own pools): no word of it is read before that is known.
  const bool library_record = destroy == &PoolDestroyDefault || PoolRecords::Get().Made(pool);
  if (library_record) {
    if (PoolRefused(pool, "VoPoolDispose") || LibraryPoolRefused(pool)) return VO_STATUS_BAD_ARGUMENT;
    if (pool->parent != nullptr) return VoSubPoolDestroy(pool);
  }
  return destroy ? destroy(pool) : VO_STATUS_BAD_ARGUMENT;
}

void VoPoolSetSingleThreaded(VtPool *pool, uint32_t flag) {
  if (pool != nullptr && !PoolRefused(pool, "VoPoolSetSingleThreaded")) pool->locked = flag ? 0 : 1;
}

VtPool *VoSubPoolCreate(VtPool *pool) {
  VtKernelContext *k = Kernel();
  if (k == nullptr || pool == nullptr || PoolRefused(pool, "VoSubPoolCreate")) return nullptr;
  VtPool *sub = PoolRecordMake();
  if (sub == nullptr) return nullptr;
  sub->check = kPoolLive;
  // The sub-pool starts empty: the parent keeps its chunks, free blocks and
  // count, so blocks live in the parent stay safe from the sub-pool's use.
  sub->tag = pool->tag;
  sub->element_size = pool->element_size;
  sub->blocks_per_chunk = pool->blocks_per_chunk;
  sub->chunk_bytes = pool->chunk_bytes;
  sub->usable_bytes = pool->usable_bytes;
  sub->heap = pool->heap;
  sub->locked = pool->locked;
  sub->lock = pool->lock;
  sub->owner = ThreadIdentity();
  sub->parent = pool;
  sub->library = MadeForLibrary();
  sub->book = BookMake();
  if (sub->book == nullptr) {
    PoolRecordFree(sub);
    return nullptr;
  }
  PoolListLink(k, sub);
  return sub;
}

VtStatus VoSubPoolMerge(VtPool *parent, VtPool *sub) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return VO_STATUS_NOT_INITIALISED;
  if (parent == nullptr || sub == nullptr) return VO_STATUS_BAD_ARGUMENT;
  if (PoolRefused(parent, "VoSubPoolMerge") || PoolRefused(sub, "VoSubPoolMerge") || sub->parent != parent)
    return VO_STATUS_BAD_ARGUMENT;
  VtStatus status = 0;
  {
    PoolLockGuard guard(parent);
    if (sub->chunks != 0) {
      status |= PoolCompact(sub);
      if (sub->chunk_list != nullptr) {
        if (parent->chunk_tail != nullptr)
          *LinkOf(parent->chunk_tail, parent->usable_bytes) = sub->chunk_list;
        else
          parent->chunk_list = sub->chunk_list;
        parent->chunk_tail = sub->chunk_tail;
        parent->chunks += sub->chunks;
      }
      if (sub->free_list != nullptr) {
        if (parent->free_tail != nullptr)
          *static_cast<void **>(parent->free_tail) = sub->free_list;
        else
          parent->free_list = sub->free_list;
        parent->free_tail = sub->free_tail;
      }
      parent->blocks_in_use += sub->blocks_in_use;
      BookMerge(parent, sub);
      sub->chunk_list = sub->chunk_tail = nullptr;
      sub->free_list = sub->free_tail = nullptr;
      sub->chunks = 0;
      sub->blocks_in_use = 0;
    }
  }
  auto merge = KernelSlot<VtHeapMergeProc>(k, VO_CALLBACK_HEAP_MERGE);
  if (merge != nullptr) status |= merge(parent->heap, sub->heap);
  return status;
}

VtStatus VoSubPoolDestroy(VtPool *sub) {
  VtKernelContext *k = Kernel();
  if (sub == nullptr) return 0;
  if (k == nullptr) return VO_STATUS_NOT_INITIALISED;
  if (PoolRefused(sub, "VoSubPoolDestroy")) return VO_STATUS_BAD_ARGUMENT;
  if (sub->parent == nullptr) return VO_STATUS_BAD_ARGUMENT;  // a pool of its own: VoPoolDispose
  SubPoolDestroyInternal(k, sub);
  return 0;
}

VtPool *VoReferencePoolGet() {
  VtKernelContext *k = Kernel();
  return k ? k->memory.node_pool : nullptr;
}

VtPool *VoReferenceSubPoolCreate() {
  VtPool *sub = VoSubPoolCreate(VoReferencePoolGet());
  VoPoolSetSingleThreaded(sub, 1);
  return sub;
}

VtStatus VoReferenceSubPoolRelease(VtPool *sub) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return VO_STATUS_NOT_INITIALISED;
  if (sub == nullptr) return 0;
  const uint32_t compaction = k->memory.compaction;
  k->memory.compaction = 0;
  VtStatus status = VoSubPoolMerge(k->memory.node_pool, sub);
  k->memory.compaction = compaction;
  if (status == VO_STATUS_BAD_ARGUMENT) return status;  // not a sub-pool of the list-node pool
  return status | VoSubPoolDestroy(sub);
}

void *VoSmallBlockCreate() {
  VtKernelContext *k = Kernel();
  if (k == nullptr || k->memory.small_pool == nullptr) return nullptr;
  void *block = VoPoolAllocate(k->memory.small_pool);
  if (block != nullptr) *static_cast<void **>(block) = nullptr;
  return block;
}

void PoolFreeListRewind(VtPool *pool) {
  if (pool == nullptr) return;
  PoolLockGuard guard(pool);
  if (pool->blocks_in_use != 0 || pool->chunk_list == nullptr) return;
  const uint32_t n = pool->blocks_per_chunk, e = pool->element_size;
  void **link = &pool->free_list;
  for (void *chunk = pool->chunk_list; chunk != nullptr; chunk = *LinkOf(chunk, pool->usable_bytes)) {
    char *base = static_cast<char *>(chunk);
    for (uint32_t i = 0; i < n; ++i) {
      *link = base + size_t{i} * e;
      link = static_cast<void **>(*link);
    }
    pool->free_tail = base + size_t{n - 1} * e;
  }
  *link = nullptr;
}

}  // namespace vo
