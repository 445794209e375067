// The public allocator, the memory controls, the kernel's own pools and the
// memory module (vomemman, number 17).

#include <malloc.h>

#include <cstdlib>
#include <cstring>

#include "kernel/vomemman/pool.h"
#include "platform/chunk_heap.h"
#include "kernel/vosystem/face.h"

namespace vo {

// The allocation-failure hook's state: a test hook, the one piece of
// process-wide mutable state outside the module states, as allocations are
// counted before a kernel exists and after it is gone.
std::atomic<uint64_t> g_allocation_countdown{0};
namespace {
std::atomic<bool> g_allocation_failure_fired{false};
std::atomic<uint64_t> g_allocation_largest{0};

// The live-block count, another test hook of the same kind. Sizes are the
// allocator's own (malloc_usable_size), so a block given back subtracts
// what it added whichever of our procedures made it.
std::atomic<int64_t> g_live_blocks{0};
std::atomic<int64_t> g_live_bytes{0};

void LiveAdd(void *block, int64_t blocks) {
  g_live_blocks.fetch_add(blocks, std::memory_order_relaxed);
  g_live_bytes.fetch_add(static_cast<int64_t>(malloc_usable_size(block)), std::memory_order_relaxed);
}

void LiveRemove(void *block) {
  g_live_blocks.fetch_sub(1, std::memory_order_relaxed);
  g_live_bytes.fetch_sub(static_cast<int64_t>(malloc_usable_size(block)), std::memory_order_relaxed);
}
}  // namespace

LiveAllocations AllocationsLive() {
  return LiveAllocations{
      g_live_blocks.load(std::memory_order_relaxed) + static_cast<int64_t>(platform::ChunksLive()),
      g_live_bytes.load(std::memory_order_relaxed) + static_cast<int64_t>(platform::ChunkBytesLive())};
}

void AllocationFailureArm(uint64_t n) {
  g_allocation_failure_fired.store(false);
  g_allocation_largest.store(0);
  g_allocation_countdown.store(n);
}

bool AllocationFailureFired() { return g_allocation_failure_fired.load(); }

uint64_t AllocationLargest() { return g_allocation_largest.load(); }

bool AllocationFailureCount(uint64_t size) {
  uint64_t largest = g_allocation_largest.load();
  while (size > largest && !g_allocation_largest.compare_exchange_weak(largest, size)) {
  }
  uint64_t left = g_allocation_countdown.load();
  while (left != 0 && !g_allocation_countdown.compare_exchange_weak(left, left - 1)) {
  }
  if (left != 1) return false;
  g_allocation_failure_fired.store(true);
  return true;
}

void *VoAllocate(uint32_t size) {
  if (AllocationFails(size)) return nullptr;
  void *block = std::malloc(size == 0 ? 1 : size);
  if (block != nullptr) LiveAdd(block, 1);
  return block;
}

void *AllocateZeroed(uint64_t size) {
  if (size > UINT32_MAX || AllocationFails(size)) return nullptr;
  void *block = std::calloc(1, size == 0 ? 1 : size);
  if (block != nullptr) LiveAdd(block, 1);
  return block;
}

void VoDeallocate(void *block) {
  if (block == nullptr) return;
  LiveRemove(block);
  std::free(block);
}

// The old block is counted out only once realloc has taken it: a failed
// call leaves it live.
void *VoMemoryReallocate(void *block, uint32_t size) {
  if (AllocationFails(size)) return nullptr;
  const int64_t old_bytes = block != nullptr ? static_cast<int64_t>(malloc_usable_size(block)) : 0;
  void *moved = std::realloc(block, size == 0 ? 1 : size);
  if (moved == nullptr) return nullptr;
  g_live_bytes.fetch_sub(old_bytes, std::memory_order_relaxed);
  LiveAdd(moved, block != nullptr ? 0 : 1);
  return moved;
}

void MemoryCallbacksDefault(VtKernelContext *k) {
  KernelSlotSet(k, VO_CALLBACK_POOL_CREATE, &PoolCreateDefault);
  KernelSlotSet(k, VO_CALLBACK_POOL_DESTROY, &PoolDestroyDefault);
  KernelSlotSet(k, VO_CALLBACK_BLOCK_ALLOCATE, &BlockAllocateDefault);
  KernelSlotSet(k, VO_CALLBACK_BLOCK_FREE, &BlockFreeDefault);
  KernelSlotSet(k, VO_CALLBACK_POOL_RELEASE, &PoolReleaseDefault);
  HeapCallbacksInstall(k);
  KernelMemory &m = k->memory;
  m.chunk_bytes = 1016;
  m.usable_bytes = m.chunk_bytes - kLinkBytes;
  m.big_chunk_bytes = 65528;
  m.big_usable_bytes = m.big_chunk_bytes - kLinkBytes;
  m.compaction = 1;
  m.compact_threshold = 64;
  m.free_chunks = 0;  // true once the kernel pools are made
  m.lock.first.mutex = &m.lock_word;
}

VtStatus KernelPoolsMake() {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return 0;
  KernelMemory &m = k->memory;
  if (!m.pools_made) {
    // Chunk set-up, once. Chunks kept on the spare list so far are freed
    // rather than dropped.
    SpareChunksFree(k);
    m.free_chunks = 1;
    m.compact_threshold = 64;
    m.usable_bytes = m.chunk_bytes - kLinkBytes;
    m.big_usable_bytes = m.big_chunk_bytes ? m.big_chunk_bytes - kLinkBytes : 0;
    HeapCallbacksInstall(k);
    m.pools_made = 1;
  }
  // Each pool is made once; one that could not be made is tried again by a
  // later start.
  VtStatus status = 0;
  if (m.small_pool == nullptr) {
    m.small_pool = VoPoolCreate(VO_POOL_TAG_SMALL, 32);
    if (m.small_pool == nullptr) status |= VO_STATUS_NO_MEMORY;
  }
  if (m.node_pool == nullptr) {
    m.node_pool = VoPoolCreate(VO_POOL_TAG_NODES, sizeof(VtReference));
    if (m.node_pool == nullptr) status |= VO_STATUS_UNAVAILABLE;
  }
  if (m.random_pool == nullptr) {
    m.random_pool = VoPoolCreate(VO_POOL_TAG_RANDOM, sizeof(RandomState));
    status |= m.random_pool ? KernelRandomMake(k) : VO_STATUS_NO_MEMORY;
  }
  const uint32_t marshal_tags[2] = {VO_POOL_TAG_MARSHAL1, VO_POOL_TAG_MARSHAL2};
  for (int i = 0; i < 2; ++i) {
    if (m.marshal_pool[i] != nullptr) continue;
    m.marshal_pool[i] = VoPoolCreate(marshal_tags[i], 32);
    if (m.marshal_pool[i] == nullptr) status |= VO_STATUS_ERROR_NO_MEMORY;
  }
  return status;
}

bool KernelPoolsExist() {
  const VtKernelContext *k = Kernel();
  if (k == nullptr) return false;
  const KernelMemory &m = k->memory;
  return m.pools_made && m.small_pool && m.node_pool && m.random_pool && m.marshal_pool[0] &&
         m.marshal_pool[1];
}

VtStatus KernelMemoryTidyKeeping(VtPool *const *kept, size_t count) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return 0;
  VtStatus status = 0;
  const bool threading = ThreadingOn(k);
  auto release = KernelSlot<VtPoolReleaseProc>(k, VO_CALLBACK_POOL_RELEASE);
  const auto keeps = [&](const VtPool *p) {
    for (size_t i = 0; i < count; ++i)
      if (kept[i] == p) return true;
    return false;
  };
  if (release != nullptr)
    for (VtPool *p = k->memory.pools; p != nullptr; p = p->next)
      if (p->locked || !threading) {
        if (!keeps(p)) {
          // A pool whose live blocks are few keeps only the chunks they sit in.
          if (p->blocks_in_use != 0) status |= PoolTidyCompact(p);
          status |= release(p);
        } else
          PoolFreeListRewind(p);
      }
  BigSpareChunksFree(k);
  return status;
}

VtStatus KernelMemoryShutdown() {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return 0;
  KernelMemory &m = k->memory;
  VtStatus status = 0;
  for (VtPool *&p : m.marshal_pool) {
    status |= VoPoolDispose(p);
    p = nullptr;
  }
  status |= VoPoolDispose(m.node_pool);
  m.node_pool = nullptr;
  status |= VoPoolDispose(m.small_pool);
  m.small_pool = nullptr;
  // Every pool still on the kernel's list was made by the default procedures.
  while (m.pools != nullptr) {
    VtPool *p = m.pools;
    status |= VoPoolDispose(p);
    if (m.pools == p) PoolDestroyDefault(p);  // a replaced destroy left it
  }
  SpareChunksFree(k);
  BigSpareChunksFree(k);
  return status;
}

namespace {

bool ChunkSizeAcceptable(uint32_t bytes) {
  return bytes >= kChunkBytesMin && bytes <= kChunkBytesMax && bytes % kLinkBytes == 0;
}

VtStatus ChunkSizeRefuse(uint32_t code, uint32_t value, const char *why) {
  Post(VO_STATUS_BAD_ARGUMENT, kMessageChunkSizeRefused, VO_MODULE_SYSTEM, static_cast<int32_t>(code), value,
       why);
  return VO_STATUS_BAD_ARGUMENT;
}

}  // namespace

VtStatus MemoryControlSet(uint32_t code, const VtTypedValue *v) {
  VtKernelContext *k = Kernel();
  KernelMemory &m = k->memory;
  switch (code) {
    case VO_CONTROL_FREE_CHUNKS:
      m.free_chunks = v->value.u != 0;
      if (m.free_chunks) SpareChunksFree(k);
      return 0;
    case VO_CONTROL_CHUNK_SIZE:
      if (!ChunkSizeAcceptable(v->value.u))
        return ChunkSizeRefuse(code, v->value.u, "sizes from 64 bytes to 1 MiB in steps of 8");
      if (m.pools_made && v->value.u != m.chunk_bytes)
        return ChunkSizeRefuse(code, v->value.u, "the kernel pools exist");
      if (v->value.u != m.chunk_bytes) SpareChunksFree(k);  // spare chunks have the old size
      m.chunk_bytes = v->value.u;
      m.usable_bytes = m.chunk_bytes - kLinkBytes;
      HeapCallbacksInstall(k);
      return 0;
    case VO_CONTROL_COMPACT_SUBPOOLS: m.compaction = v->value.u != 0; return 0;
    case VO_CONTROL_BIG_CHUNK_SIZE:
      if (!ChunkSizeAcceptable(v->value.u))
        return ChunkSizeRefuse(code, v->value.u, "sizes from 64 bytes to 1 MiB in steps of 8");
      m.big_chunk_bytes = v->value.u;
      m.big_usable_bytes = m.big_chunk_bytes - kLinkBytes;
      return 0;
    case VO_CONTROL_COMPACT_THRESHOLD: m.compact_threshold = v->value.u; return 0;
    default: return VO_STATUS_BAD_ARGUMENT;
  }
}

VtStatus MemoryControlGet(uint32_t code, VtTypedValue *v) {
  VtKernelContext *k = Kernel();
  switch (code) {
    case VO_CONTROL_FREE_CHUNKS: *v = TypedBoolean(k->memory.free_chunks != 0); return 0;
    case VO_CONTROL_CHUNK_SIZE: *v = TypedNat32(k->memory.chunk_bytes); return 0;
    case VO_CONTROL_COMPACT_SUBPOOLS: *v = TypedBoolean(k->memory.compaction != 0); return 0;
    case VO_CONTROL_BIG_CHUNK_SIZE: *v = TypedNat32(k->memory.big_chunk_bytes); return 0;
    case VO_CONTROL_COMPACT_THRESHOLD: *v = TypedNat32(k->memory.compact_threshold); return 0;
    default: return VO_STATUS_BAD_ARGUMENT;
  }
}

// ---- The memory module ------------------------------------------------------------

namespace {

// The memory module's record: the sticky status address and a mutex word.
struct MemoryModuleRecord {
  uint32_t *sticky_status;
  VtMutexWord *mutex;
};

MemoryModuleRecord g_memory_record;
ModuleState<MemoryModuleRecord> g_memory_state(VO_MODULE_MEMORY);

VtStatus MemoryStart() {
  MemoryModuleRecord *r = &g_memory_record;
  VtTypedValue sticky{};
  if (VoControlGet(VO_CONTROL_STICKY_STATUS, &sticky) == 0)
    r->sticky_status = static_cast<uint32_t *>(sticky.value.p);
  if (r->mutex == nullptr) r->mutex = VoMutexCreate();
  g_memory_state.SetMaster(r);
  return r->mutex ? 0 : VO_STATUS_NO_MEMORY;
}

VtStatus MemoryTerminate() {
  MemoryModuleRecord *r = g_memory_state.Master();
  if (r != nullptr) {
    VoMutexDestroy(r->mutex);
    *r = MemoryModuleRecord{};
  }
  g_memory_state.SetMaster(nullptr);
  return 0;
}

VtStatus MemoryControlNothing(uint32_t, const VtTypedValue *) { return 0; }
VtStatus MemoryControlGetNothing(uint32_t, VtTypedValue *) { return 0; }

VtStatus MemoryCallback(uint32_t direction, uint32_t code, VtProc *slot) {
  if (direction == 0 && code == 0x110001 && slot != nullptr) {
    *slot = reinterpret_cast<VtProc>(&exported::VoCallBackNull);
    return 0;
  }
  return VO_STATUS_BAD_ARGUMENT;
}

}  // namespace

VtStatus VoEntryMemory(uint32_t query, VtTypedValue *a) {
  static const ModuleDescription kMemory = {
      .number = VO_MODULE_MEMORY,
      .name = "vomemman",
      .banner = "mrvx20 memory manager",
      .build_time = 904643035,
      .control_set = &MemoryControlNothing,
      .control_get = &MemoryControlGetNothing,
      .start = &MemoryStart,
      .terminate = &MemoryTerminate,
      .callback = &MemoryCallback,
  };
  return ModuleQueryAnswer(kMemory, query, a);
}

}  // namespace vo
