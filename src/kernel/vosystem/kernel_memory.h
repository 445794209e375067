// Kernel memory settings and the kernel's own pools.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "kernel/vosystem/kernel_threads.h"

struct VtPool;

namespace vo {

// True when the block carries the default block free's mark: it was given
// back to the pool and not handed out again. A destroy procedure asks before
// it reads the record, so that a second destroy is refused rather than
// freeing the block twice (false while an application's pool procedures are
// installed, whose blocks carry no mark).
bool PoolBlockFreed(VtPool *pool, void *block);

// True when the block is one the pool handed out and has not taken back: on
// a block boundary within one of the pool's chunks (a walk of its chunk
// list, under its lock) and without the free mark. For the destroy
// procedures of records with no room for a check word: the address is
// compared before anything at it is read, so a record of another kind, or
// one whose chunk went back to the heap, is refused unread. True while an
// application's pool procedures are installed (their chunks are theirs).
bool PoolBlockLive(VtPool *pool, void *block);

// PoolBlockLive for many blocks at once, live[i] answering for blocks[i]:
// one table of the pool's chunks sorted by address, and each block looked
// up in it, O((n + chunks) log chunks) rather than a chunk walk per block.
// Nothing at a block is read before its chunk is known to be the pool's.
// False, with every answer false, when memory for the table runs out.
bool PoolBlocksLive(VtPool *pool, void *const *blocks, size_t n, bool *live);

// True, with a diagnostic naming the procedure, when the default pool
// procedures are installed and the pool is null or not a live pool record
// (destroyed, or a record of another kind): its check word is compared. False
// while an application's pool procedures are installed (their pools are
// theirs to judge).
bool PoolRecordRefused(const VtPool *pool, const char *procedure);

struct KernelMemory {
  uint32_t chunk_bytes;        // control 0x10009
  uint32_t usable_bytes;       // chunk bytes less the 8-byte chunk link
  uint32_t big_chunk_bytes;    // control 0x10011
  uint32_t big_usable_bytes;   // 0 when big chunk bytes is 0
  uint32_t free_chunks;        // control 0x10008: emptied chunks go back to their heap
  uint32_t compaction;         // control 0x1000e
  uint32_t compact_threshold;  // control 0x10012, in chunks
  uint32_t pools_made;
  VtPool *pools;  // every pool made by the default procedures, newest first
  void *spare;    // emptied chunks kept for reuse, linked through their last word
  uint32_t spare_count;
  uint32_t big_spare_count;
  void *big_spare;
  uint32_t chunks_in_use;  // chunks taken from heaps and not given back
  VtMutexWord lock_word;   // the kernel mutex word: pool list and spare list
  VtLock lock;
  VtPool *small_pool;        // tag 0x10001, 32-byte blocks
  VtPool *node_pool;         // tag 0x10002, reference-list nodes
  uint64_t reference_nodes;  // nodes made by the reference procedures and not given back (atomic)
  VtReference *retired;      // handle nodes of lists the application gave back, linked through data
  VtPool *random_pool;       // tag 0x10003, random states
  VtPool *marshal_pool[2];   // tags 0x10004, 0x10005
};

// The allocation-failure hook, for tests: Arm(n) makes the n-th allocation
// from now fail (1: the very next one), counting VoAllocate,
// VoMemoryReallocate, pool chunk and heap requests alike; Arm(0) disarms.
// Fired() tells whether the armed failure has happened since the last Arm.
// Not exported; compiled into every build at the cost of one predictable
// branch per allocation.
void AllocationFailureArm(uint64_t n);
bool AllocationFailureFired();

// While armed, the hook also keeps the largest single request it counted,
// so that a test can bound what a hostile file makes the library allocate;
// Arm resets it.
uint64_t AllocationLargest();

// The blocks the library holds now, for tests that look for growth: those
// of VoAllocate and VoMemoryReallocate not yet given to VoDeallocate, sized
// as malloc made them, and the pool chunks of the chunk allocator, sized as
// asked. Kept with relaxed atomics on every allocation; not exported.
struct LiveAllocations {
  int64_t blocks;
  int64_t bytes;
};
LiveAllocations AllocationsLive();

// A block of VoAllocate's kind (VoDeallocate gives it back) whose bytes are
// all zero, or null above 4 GiB or without memory. The system's allocator
// takes a large block straight from the system, whose zero pages cost no
// memory until they are written: a script's declared array holds only
// what the script and its calls write into it.
void *AllocateZeroed(uint64_t size);

// True when this allocation (of size bytes) is the one armed to fail.
extern std::atomic<uint64_t> g_allocation_countdown;
bool AllocationFailureCount(uint64_t size);
inline bool AllocationFails(uint64_t size) {
  if (__builtin_expect(g_allocation_countdown.load(std::memory_order_relaxed) == 0, 1)) return false;
  return AllocationFailureCount(size);
}

}  // namespace vo
