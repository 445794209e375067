// The block pool record and the kernel's pool procedures.
#pragma once

#include <cstdint>

#include "kernel/vosystem/face.h"

namespace vo {
struct PoolBook;
}

// A fixed-size block pool. Blocks are carved from chunks; a free block's
// first word links it to the next free block, and a chunk's last word (at
// usable bytes) links it to the next chunk of the pool.
struct VtPool {
  VtPool *next;  // the kernel's pool list, newest first
  VtPool *previous;
  void *free_list;   // first free block
  void *chunk_list;  // first chunk
  void *heap;        // what the heap-create callback answered
  uint32_t tag;
  uint32_t element_size;      // a multiple of 8, at least 8
  uint32_t blocks_per_chunk;  // usable bytes div element size
  uint32_t blocks_in_use;     // blocks handed out by this pool and not freed
  uint32_t chunks;            // chunks on the chunk list
  uint32_t locked;            // 1: take the lock while threading is on
  VtLock *lock;               // shared by a pool and its sub-pools
  uint32_t owner;             // identity of the creating thread
  uint32_t chunk_bytes;       // chunk size when the pool was made
  VtPool *parent;             // sub-pools only
  void *free_tail;            // last free block
  void *chunk_tail;           // last chunk
  uint32_t usable_bytes;      // chunk bytes less the chunk link
  uint32_t check;             // vo::kPoolLive from creation to destroy
  vo::PoolBook *book;         // the pool's chunks (and, in debug builds, its free blocks)
  uint64_t tidy_free_mark;    // free blocks when a tidy's compaction last gave nothing back (0: none)
  uint32_t library;           // 1: made by the library for itself; the application may not dispose it
};

namespace vo {

// The check word of a live pool record: the default pool procedures compare
// it before they read anything else of the pool.
constexpr uint32_t kPoolLive = 0x9001f00d;

// Bytes of the chunk link at the end of every chunk, and of a free-block link.
constexpr uint32_t kLinkBytes = sizeof(void *);
// Accepted chunk sizes (controls 0x10009 and 0x10011).
constexpr uint32_t kChunkBytesMin = 64;
constexpr uint32_t kChunkBytesMax = 1u << 20;
// Diagnostics of the memory services.
constexpr uint32_t kMessageChunkSizeRefused = messages::kChunkSizeRefused;
constexpr uint32_t kMessageBlockFreeRefused = messages::kBlockFreeRefused;

// The kernel's default pool and heap procedures (callbacks 0x10002-0x1000a,
// 0x10010, 0x10011).
VtPool *PoolCreateDefault(uint32_t tag, uint32_t element_size);
VtStatus PoolDestroyDefault(VtPool *pool);
void *BlockAllocateDefault(VtPool *pool);
VtStatus BlockFreeDefault(VtPool *pool, void *block);
VtStatus PoolReleaseDefault(VtPool *pool);
void *HeapCreateDefault(VtPool *pool, uint32_t chunk_bytes);
VtStatus HeapDestroyDefault(void *heap);
void *HeapAllocateDefault(uint32_t size, void *heap);
VtStatus HeapFreeDefault(void *heap, void *block);
VtStatus HeapMergeDefault(void *destination, void *source);
VtStatus HeapCompactDefault(void *heap);

// Installs the default heap procedures in the kernel's callback table.
void HeapCallbacksInstall(VtKernelContext *k);
// Compaction of a pool (sub-pool merge): gives back chunks whose blocks are
// all free when enough blocks are free.
VtStatus PoolCompact(VtPool *pool);
// The memory tidy's compaction of a pool with blocks in use: only when more
// blocks than the threshold are free, and, after a walk that gave nothing
// back, only once another threshold of blocks has come free.
VtStatus PoolTidyCompact(VtPool *pool);
// Frees every chunk on the spare list; the second frees the big-chunk spare
// list.
void SpareChunksFree(VtKernelContext *k);
void BigSpareChunksFree(VtKernelContext *k);
// True when the block lies on a block boundary inside one of the pool's
// chunks and is not free (debug builds look it up among the free blocks,
// release builds read its free mark once it is known to be the pool's).
bool PoolBlockCheck(VtPool *pool, void *block);

// The kernel memory lock: pool list, spare list and chunk counts. Taken
// only while threading is on.
class MemoryLockGuard {
 public:
  explicit MemoryLockGuard(VtKernelContext *k);
  ~MemoryLockGuard();
  MemoryLockGuard(const MemoryLockGuard &) = delete;
  MemoryLockGuard &operator=(const MemoryLockGuard &) = delete;

 private:
  VtLock *lock_;
};

// The pool's own lock, taken while threading is on and the pool is locked.
class PoolLockGuard {
 public:
  explicit PoolLockGuard(VtPool *pool) : lock_(nullptr) {
    if (pool->locked && ThreadingOn(Kernel())) {
      lock_ = pool->lock;
      if (lock_ != nullptr) LockHold(lock_);
    }
  }
  ~PoolLockGuard() {
    if (lock_ != nullptr) LockLetGo(lock_);
  }
  PoolLockGuard(const PoolLockGuard &) = delete;
  PoolLockGuard &operator=(const PoolLockGuard &) = delete;

 private:
  VtLock *lock_;
};

}  // namespace vo
