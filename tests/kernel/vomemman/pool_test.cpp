// Block pools. 64-bit numbers: 8-byte links, so a 1016-byte chunk holds 1008 bytes of blocks.

#include <set>
#include <vector>

#include "platform/chunk_heap.h"
#include "support/kernel_fixture.h"
#include "kernel/vomemman/pool.h"
#include "kernel/vosystem/memory_tidy.h"

namespace vo::test {
namespace {

constexpr uint32_t kTag = 0x110001;

class PoolTest : public PooledKernelTest {};

size_t HeapChunks(VtPool *p) {
  return platform::ChunkHeapChunks(static_cast<platform::ChunkHeap *>(p->heap));
}

TEST_F(PoolTest, BlocksAndChunksHaveTheSixtyFourBitSizesAndReleaseKeepsChunksInUse) {
  VtPool *p = VoPoolCreate(kTag, 5);
  EXPECT_EQ(p->element_size, 8u);        // 5 rounded up to the 8-byte link
  EXPECT_EQ(p->blocks_per_chunk, 126u);  // 1008 / 8
  char *first = static_cast<char *>(VoPoolAllocate(p));
  for (int i = 1; i < 126; ++i) EXPECT_EQ(static_cast<char *>(VoPoolAllocate(p)) - first, 8 * i);
  EXPECT_EQ(p->chunks, 1u);
  ASSERT_NE(VoPoolAllocate(p), nullptr);
  EXPECT_EQ(p->chunks, 2u);
  EXPECT_EQ(VoPoolCreate(kTag, 1008)->blocks_per_chunk, 1u);  // left for the kernel to dispose of
  EXPECT_EQ(VoPoolCreate(kTag, 1009), nullptr);
  EXPECT_EQ(VoPoolCreate(kTag, 0), nullptr);

  // Release keeps the chunks while a block is in use (31 blocks a chunk).
  p = VoPoolCreate(kTag, 32);
  std::vector<void *> blocks;
  for (int i = 0; i < 100; ++i) blocks.push_back(VoPoolAllocate(p));
  for (int i = 1; i < 100; ++i) EXPECT_EQ(VoPoolFree(p, blocks[i]), 0u);
  EXPECT_EQ(VoPoolRelease(p), 0u);
  EXPECT_EQ(HeapChunks(p), 4u);
  EXPECT_EQ(VoPoolFree(p, blocks[0]), 0u);
  EXPECT_EQ(VoPoolRelease(p), 0u);
  EXPECT_EQ(HeapChunks(p), 0u);
  ASSERT_NE(VoPoolAllocate(p), nullptr);  // the pool stays usable after a release
}

TEST_F(PoolTest, AKeptPoolKeepsItsChunksAtTheTidyAndHandsBlocksOutInAddressOrderAgain) {
  VtPool *p = VoPoolCreate(kTag, 32);  // 31 blocks a chunk
  VtPool *other = VoPoolCreate(kTag, 32);
  std::vector<char *> blocks;
  for (int i = 0; i < 70; ++i) blocks.push_back(static_cast<char *>(VoPoolAllocate(p)));
  ASSERT_NE(VoPoolAllocate(other), nullptr);
  // Given back scrambled, with one still in use: no rewind yet.
  for (int i = 0; i < 69; ++i) EXPECT_EQ(VoPoolFree(p, blocks[(i * 37) % 69 + 1]), 0u);
  EXPECT_EQ(MemoryTidyKeeping(&p, 1), 0u);
  EXPECT_EQ(VoPoolAllocate(p), blocks[(68 * 37) % 69 + 1]);  // the last given back
  EXPECT_EQ(VoPoolFree(p, blocks[(68 * 37) % 69 + 1]), 0u);
  EXPECT_EQ(VoPoolFree(p, blocks[0]), 0u);
  const uint32_t chunks = p->chunks;
  EXPECT_EQ(MemoryTidyKeeping(&p, 1), 0u);
  EXPECT_EQ(p->chunks, chunks);
  EXPECT_EQ(HeapChunks(p), 3u);
  EXPECT_EQ(HeapChunks(other), 1u);  // in use: kept by any tidy
  // Every block again, chunk by chunk in address order, nothing twice.
  std::set<char *> seen;
  for (uint32_t c = 0; c < chunks; ++c) {
    char *first = static_cast<char *>(VoPoolAllocate(p));
    seen.insert(first);
    for (int i = 1; i < 31; ++i) {
      char *b = static_cast<char *>(VoPoolAllocate(p));
      EXPECT_EQ(b - first, 32 * i);
      seen.insert(b);
    }
  }
  EXPECT_EQ(seen.size(), size_t{31} * chunks);
  EXPECT_EQ(p->free_list, nullptr);
  EXPECT_EQ(p->chunks, chunks);  // nothing carved anew
  for (char *b : seen) EXPECT_EQ(VoPoolFree(p, b), 0u);
  // The application's own tidy gives the chunks back.
  EXPECT_EQ(VoMemoryTidy(), 0u);
  EXPECT_EQ(HeapChunks(p), 0u);
  ASSERT_NE(VoPoolAllocate(p), nullptr);
}

// Every build keeps each pool's chunks: a block of no chunk of the pool,
// a live block of another pool among them, is refused before a word of it
// is read, and the other pool never hands it out.
TEST_F(PoolTest, ForeignAndRepeatedFreesAreRefusedInEveryBuild) {
  VtPool *p = VoPoolCreate(kTag, 16), *other = exported::VoPoolCreate(kTag, 16);
  char *a = static_cast<char *>(VoPoolAllocate(p));
  void *kept = VoPoolAllocate(other), *live = VoPoolAllocate(p);
  long local = 0;
  EXPECT_EQ(VoPoolFree(p, a), 0u);
  EXPECT_EQ(VoPoolFree(p, a), VO_STATUS_BAD_ARGUMENT);         // already free
  EXPECT_EQ(VoPoolFree(p, a + 8), VO_STATUS_BAD_ARGUMENT);     // not a block boundary
  EXPECT_EQ(VoPoolFree(p, &local), VO_STATUS_BAD_ARGUMENT);    // in no chunk of the pool
  EXPECT_EQ(VoPoolFree(other, live), VO_STATUS_BAD_ARGUMENT);  // p's live block
  EXPECT_EQ(CountPosted(kMessageBlockFreeRefused), 4);
  EXPECT_NE(VoPoolAllocate(other), live);
  EXPECT_NE(kept, nullptr);
  // The library's own pools are given back by the library only: the
  // application's VoPoolDispose (through the interface) is refused.
  EXPECT_EQ(exported::VoPoolDispose(VoReferencePoolGet()), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoReferencePoolGet()->check, kPoolLive);
  EXPECT_EQ(exported::VoPoolDispose(other), 0u);
}

// The free mark refuses a second free in every build, once a block has the
// two words it needs (its free-list link, then the mark). A pool of one-word
// blocks keeps no mark: there only the debug builds' book of free blocks
// refuses, and a Release build takes the block back twice (the caller's
// contract). The mark of a free block in a chunk that stays survives the
// tidy, which relinks free blocks through their first word only.
TEST_F(PoolTest, ASecondFreeIsRefusedInEveryBuildWhereTheBlockHasRoomForTheMark) {
  VtPool *p = VoPoolCreate(kTag, 32);  // 31 blocks a chunk
  std::vector<void *> blocks;
  for (int i = 0; i < 62; ++i) blocks.push_back(VoPoolAllocate(p));
  for (int i = 31; i < 62; ++i) EXPECT_EQ(VoPoolFree(p, blocks[i]), 0u);
  EXPECT_EQ(VoPoolFree(p, blocks[0]), 0u);
  EXPECT_EQ(VoPoolFree(p, blocks[0]), VO_STATUS_BAD_ARGUMENT);
  // With no threshold the tidy compacts: the second chunk, all free, goes
  // back; the first, with 30 blocks in use, stays with blocks[0]'s mark.
  // Compaction switched off, the tidy walks no pool.
  const VtTypedValue threshold = TypedNat32(0);
  ASSERT_EQ(VoControlSet(VO_CONTROL_COMPACT_THRESHOLD, &threshold), 0u);
  ASSERT_EQ(SetBoolean(VO_CONTROL_COMPACT_SUBPOOLS, false), 0u);
  EXPECT_EQ(VoMemoryTidy(), 0u);
  EXPECT_EQ(p->chunks, 2u);
  ASSERT_EQ(SetBoolean(VO_CONTROL_COMPACT_SUBPOOLS, true), 0u);
  EXPECT_EQ(VoMemoryTidy(), 0u);
  EXPECT_EQ(p->chunks, 1u);
  EXPECT_EQ(VoPoolFree(p, blocks[0]), VO_STATUS_BAD_ARGUMENT);
  // Taken again, the block is live: its mark is gone, so one free passes.
  void *again = nullptr;
  while (again != blocks[0]) {
    again = VoPoolAllocate(p);
    ASSERT_NE(again, nullptr);
  }
  EXPECT_EQ(VoPoolFree(p, again), 0u);
  EXPECT_EQ(CountPosted(kMessageBlockFreeRefused), 2);
#ifndef NDEBUG
  VtPool *small = VoPoolCreate(kTag, 8);
  void *a = VoPoolAllocate(small);
  ASSERT_NE(VoPoolAllocate(small), nullptr);
  EXPECT_EQ(VoPoolFree(small, a), 0u);
  EXPECT_EQ(VoPoolFree(small, a), VO_STATUS_BAD_ARGUMENT);  // the book, not a mark
#endif
}

// A sub-pool of `chunks` chunks whose blocks are all free except `keep`.
VtPool *SubPoolWith(VtPool *parent, uint32_t chunks, uint32_t keep, std::vector<void *> *kept) {
  VtPool *sub = VoSubPoolCreate(parent);
  std::vector<void *> blocks;
  for (uint32_t i = 0; i < chunks * sub->blocks_per_chunk; ++i) blocks.push_back(VoPoolAllocate(sub));
  kept->insert(kept->end(), blocks.begin(), blocks.begin() + keep);
  for (size_t i = keep; i < blocks.size(); ++i) VoPoolFree(sub, blocks[i]);
  return sub;
}

TEST_F(PoolTest, TheArmedAllocationFailsWhateverAsksForIt) {
  // The second request from now fails: a block, then a reallocation.
  AllocationFailureArm(2);
  void *block = VoAllocate(16);
  ASSERT_NE(block, nullptr);
  EXPECT_FALSE(AllocationFailureFired());
  EXPECT_EQ(VoMemoryReallocate(block, 64), nullptr);  // the block stays the caller's
  EXPECT_TRUE(AllocationFailureFired());
  void *again = VoAllocate(16);  // only the armed one fails
  EXPECT_NE(again, nullptr);
  VoDeallocate(again);
  VoDeallocate(block);
  // A pool is made whole or not at all: its record, lock and heap.
  int runs = 0;
  EveryAllocationFails([&]() -> VtStatus {
    ++runs;
    VtPool *made = VoPoolCreate(kTag, 8);
    return made == nullptr ? VO_STATUS_NO_MEMORY : VoPoolDispose(made);
  });
  EXPECT_GE(runs, 4);  // record, lock, heap, and the run that passes
  // A made pool's first chunk.
  VtPool *p = VoPoolCreate(kTag, 8);
  ASSERT_NE(p, nullptr);
  AllocationFailureArm(1);
  EXPECT_EQ(VoPoolAllocate(p), nullptr);
  EXPECT_TRUE(AllocationFailureFired());
  AllocationFailureArm(0);  // disarmed
  void *b = VoPoolAllocate(p);
  EXPECT_NE(b, nullptr);
  EXPECT_FALSE(AllocationFailureFired());
  VoPoolFree(p, b);
  EXPECT_EQ(VoPoolDispose(p), 0u);
}

TEST_F(PoolTest, LiveBlocksAreCountedUntilGivenBackWhoeverMadeThem) {
  const LiveAllocations before = AllocationsLive();
  const auto grown = [&] {
    const LiveAllocations now = AllocationsLive();
    return LiveAllocations{now.blocks - before.blocks, now.bytes - before.bytes};
  };
  void *block = VoAllocate(100);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(grown().blocks, 1);
  EXPECT_GE(grown().bytes, 100);  // what malloc made, at least the request
  // A reallocation keeps one block and counts its new size; a failed one
  // leaves the old block counted.
  block = VoMemoryReallocate(block, 5000);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(grown().blocks, 1);
  EXPECT_GE(grown().bytes, 5000);
  const LiveAllocations held = grown();
  AllocationFailureArm(1);
  EXPECT_EQ(VoMemoryReallocate(block, 9000), nullptr);
  AllocationFailureArm(0);
  EXPECT_EQ(grown().blocks, held.blocks);
  EXPECT_EQ(grown().bytes, held.bytes);
  // A reallocation from null is a new block; a null given back is nothing.
  void *second = VoMemoryReallocate(nullptr, 10);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(grown().blocks, 2);
  VoDeallocate(second);
  VoDeallocate(nullptr);
  VoDeallocate(block);
  EXPECT_EQ(grown().blocks, 0);
  EXPECT_EQ(grown().bytes, 0);
  // A pool's first block brings a chunk of the pool's chunk size.
  VtPool *p = VoPoolCreate(kTag, 8);
  ASSERT_NE(p, nullptr);
  const LiveAllocations empty = grown();
  void *b = VoPoolAllocate(p);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(grown().blocks, empty.blocks + 1);
  EXPECT_EQ(grown().bytes, empty.bytes + 1016);
  VoPoolFree(p, b);
  EXPECT_EQ(VoPoolDispose(p), 0u);
  EXPECT_EQ(grown().blocks, 0);
  EXPECT_EQ(grown().bytes, 0);
}

TEST_F(PoolTest, MergeCompactsOnlyAboveTheThreshold) {
  VtPool *parent = VoPoolCreate(kTag, 8);
  std::vector<void *> kept;
  const size_t live = platform::ChunksLive();
  // 70 all-free chunks all go back on merge; of 71 with one block in use, 70.
  VtPool *sub = SubPoolWith(parent, 70, 0, &kept);
  EXPECT_EQ(VoSubPoolMerge(parent, sub), 0u);
  EXPECT_EQ(platform::ChunksLive(), live);
  EXPECT_EQ(VoSubPoolDestroy(sub), 0u);
  sub = SubPoolWith(parent, 71, 1, &kept);
  EXPECT_EQ(VoSubPoolMerge(parent, sub), 0u);
  EXPECT_EQ(parent->chunks, 1u);
  EXPECT_EQ(platform::ChunksLive(), live + 1);
  EXPECT_EQ(VoSubPoolDestroy(sub), 0u);
  // 11 chunks, 10 empty: below the threshold of 64 the parent takes them all.
  sub = SubPoolWith(parent, 11, 1, &kept);
  EXPECT_EQ(VoSubPoolMerge(parent, sub), 0u);
  EXPECT_EQ(parent->chunks, 12u);
  EXPECT_EQ(parent->blocks_in_use, 2u);
  // The parent's free list is whole: it hands out every free block once.
  std::set<void *> seen(kept.begin(), kept.end());
  for (uint32_t i = 0; i < 12 * parent->blocks_per_chunk - 2; ++i)
    EXPECT_TRUE(seen.insert(VoPoolAllocate(parent)).second);
  EXPECT_EQ(parent->chunks, 12u);
  EXPECT_EQ(VoSubPoolMerge(VoReferencePoolGet(), sub), VO_STATUS_BAD_ARGUMENT);  // not its parent
  EXPECT_EQ(VoSubPoolDestroy(parent), VO_STATUS_BAD_ARGUMENT);                   // not a sub-pool
  // Disposing of the parent takes its sub-pools, and theirs, along.
  ASSERT_NE(VoPoolAllocate(VoSubPoolCreate(sub)), nullptr);
  EXPECT_EQ(VoPoolDispose(parent), 0u);
  EXPECT_EQ(platform::ChunksLive(), live);
  // With compaction off the parent takes every chunk.
  ASSERT_EQ(SetBoolean(VO_CONTROL_COMPACT_SUBPOOLS, false), 0u);
  parent = VoPoolCreate(kTag, 8);
  EXPECT_EQ(VoSubPoolMerge(parent, SubPoolWith(parent, 70, 0, &kept)), 0u);
  EXPECT_EQ(parent->chunks, 70u);
  EXPECT_EQ(VoPoolDispose(parent), 0u);
}

VtStatus CountData(void *data) {
  ++*static_cast<int *>(data);
  return 0;
}

// A sub-pool of the list-node pool made while lists hold nodes, then a tidy: the
// nodes stay with their pool (under ASan a chunk given back in use is a use after free).
TEST_F(PoolTest, SubPoolOfListNodesLeavesLiveNodesWithTheirPool) {
  VtPool *nodes = VoReferencePoolGet();
  int counter = 0;
  VtReference *lists[4] = {};
  for (auto &list : lists)
    for (int i = 0; i < 300; ++i) list = VoShaderReferenceAppend(list, VoShaderReferenceCreate(&counter));
  VtPool *sub = VoReferenceSubPoolCreate();
  EXPECT_EQ(sub->locked, 0u);
  EXPECT_EQ(nodes->blocks_in_use, 1200u);  // the count stays with the pool the nodes came from
  VtReference *scratch = nullptr;
  for (int i = 0; i < 50; ++i)
    scratch = VoShaderReferenceAppend(scratch, VoReferencePoolNodeCreate(sub, &counter));
  EXPECT_EQ(sub->blocks_in_use, 50u);
  EXPECT_EQ(VoMemoryTidy(), 0u);  // the end of a render
  for (VtReference *list : lists) EXPECT_EQ(VoReferenceListDestroy(list, &CountData), 0u);
  EXPECT_EQ(counter, 1200);
  EXPECT_EQ(VoReferencePoolListDestroy(sub, scratch, nullptr), 0u);
  EXPECT_EQ(VoReferenceSubPoolRelease(sub), 0u);
  EXPECT_EQ(VoMemoryTidy(), 0u);
  EXPECT_EQ(nodes->chunks, 0u);
  EXPECT_EQ(HeapChunks(nodes), 0u);
}

TEST_F(PoolTest, SpareChunksOutliveTheirHeapAndServeAnotherPool) {
  ASSERT_EQ(SetBoolean(VO_CONTROL_FREE_CHUNKS, false), 0u);
  VtPool *a = VoPoolCreate(kTag, 64);
  VoPoolFree(a, VoPoolAllocate(a));
  void *chunk = a->chunk_list;
  EXPECT_EQ(VoPoolRelease(a), 0u);
  EXPECT_EQ(VoPoolDispose(a), 0u);  // its heap goes; the spare chunk stays
  VtPool *b = VoPoolCreate(kTag, 16);
  EXPECT_EQ(VoPoolAllocate(b), chunk);  // the spare chunk, carved anew
  EXPECT_EQ(HeapChunks(b), 1u);
  VoPoolFree(b, chunk);
  VoPoolRelease(b);
  const size_t live = platform::ChunksLive();
  ASSERT_EQ(SetBoolean(VO_CONTROL_FREE_CHUNKS, true), 0u);  // frees the spare list
  EXPECT_EQ(platform::ChunksLive(), live - 1);
}

// An application's own pool procedures (callbacks 0x10002-0x10006) serve
// every pool call with records of their own: the check word of the
// library's records is read in its default procedures only, so a record
// that would fail it (all zero here) is still the application's to use,
// and no word of it is read, whatever its size (a word here, which the
// sanitizers would catch read past); a sub-pool the library made of its own
// node pool meanwhile is still the library's to dispose.
struct AppPools {
  static inline int calls[5] = {};  // create, destroy, allocate, free, release
  static VtPool *Create(uint32_t, uint32_t) {
    ++calls[0];
    return static_cast<VtPool *>(calloc(1, sizeof(void *)));
  }
  static VtStatus Destroy(VtPool *p) {
    ++calls[1];
    free(p);
    return 0;
  }
  static void *Allocate(VtPool *) {
    ++calls[2];
    return malloc(16);
  }
  static VtStatus Free(VtPool *, void *block) {
    ++calls[3];
    free(block);
    return 0;
  }
  static VtStatus Release(VtPool *) {
    ++calls[4];
    return 0;
  }
};

TEST_F(PoolTest, AnApplicationsPoolProceduresServeEveryPoolCallWithRecordsOfTheirOwn) {
  const uint32_t codes[5] = {VO_CALLBACK_POOL_CREATE, VO_CALLBACK_POOL_DESTROY, VO_CALLBACK_BLOCK_ALLOCATE,
                             VO_CALLBACK_BLOCK_FREE, VO_CALLBACK_POOL_RELEASE};
  const VtProc own[5] = {
      reinterpret_cast<VtProc>(&AppPools::Create), reinterpret_cast<VtProc>(&AppPools::Destroy),
      reinterpret_cast<VtProc>(&AppPools::Allocate), reinterpret_cast<VtProc>(&AppPools::Free),
      reinterpret_cast<VtProc>(&AppPools::Release)};
  VtProc defaults[5];
  for (int i = 0; i < 5; ++i) {
    defaults[i] = VoCallBackGet(codes[i]);
    ASSERT_EQ(VoCallBackSet(codes[i], own[i]), 0u);
  }
  VtPool *p = VoPoolCreate(kTag, 16);
  void *block = VoPoolAllocate(p);
  const bool made = p != nullptr && block != nullptr;
  VtStatus st = VoPoolFree(p, block);
  st |= VoPoolRelease(p);
  st |= VoPoolDispose(p);
  VtPool *sub = VoReferenceSubPoolCreate();
  EXPECT_NE(sub, nullptr);
  st |= VoPoolDispose(sub);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(VoCallBackSet(codes[i], defaults[i]), 0u);
  EXPECT_TRUE(made);
  EXPECT_EQ(st, 0u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(AppPools::calls[i], 1) << i;
}

TEST_F(PoolTest, KernelPoolsAreMadeOnceAndAllGoAtShutdown) {
  VtPool *nodes = VoReferencePoolGet();
  EXPECT_EQ(nodes->element_size, 16u);  // a node is {next, data} of 8 bytes each
  // Finds them made and nothing to start: 0x40000012, the pools untouched.
  EXPECT_EQ(VoSystemStart(), VO_STATUS_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(VoReferencePoolGet(), nodes);
  auto *small = static_cast<void **>(VoSmallBlockCreate());
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(*small, nullptr);
  // The memory module answers its one callback code.
  EXPECT_EQ(VoCallBackGet(0x110001), reinterpret_cast<VtProc>(&exported::VoCallBackNull));
  EXPECT_EQ(VoCallBackSet(0x110001, nullptr), VO_STATUS_BAD_ARGUMENT);
  VtPool *left = VoPoolCreate(kTag, 8);  // left behind, with a sub-pool
  VoSubPoolCreate(left);
  VoPoolAllocate(left);
  EXPECT_EQ(VoSystemTerminate(), 0u);
  EXPECT_EQ(platform::ChunksLive(), 0u);  // every pool and spare chunk went
}

class PoolControlTest : public PooledKernelTest {
  void SetUp() override { StartKernel(false); }
};

TEST_F(PoolControlTest, ChunkSizesAreCheckedAndFixedOnceThePoolsExist) {
  for (uint32_t bad : {0u, 3u, 56u, 1017u, (1u << 20) + 8, 0xFFFFFFFFu}) {
    EXPECT_EQ(SetNat32(VO_CONTROL_CHUNK_SIZE, bad), VO_STATUS_BAD_ARGUMENT) << bad;
    EXPECT_EQ(SetNat32(VO_CONTROL_BIG_CHUNK_SIZE, bad), VO_STATUS_BAD_ARGUMENT) << bad;
  }
  EXPECT_EQ(CountPosted(kMessageChunkSizeRefused), 12);
  ASSERT_EQ(SetNat32(VO_CONTROL_CHUNK_SIZE, 2040), 0u);  // what VO_FREE_LIST=2040 sets
  ASSERT_EQ(VoSystemStart(), 0u);                        // the kernel pools are made
  VtPool *p = VoPoolCreate(kTag, 8);
  EXPECT_EQ(p->usable_bytes, 2032u);  // 2040 less the 8-byte chunk link
  EXPECT_EQ(SetNat32(VO_CONTROL_CHUNK_SIZE, 1016), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(SetNat32(VO_CONTROL_CHUNK_SIZE, 2040), 0u);  // no change
  VtTypedValue v{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_FREE_CHUNKS, &v), 0u);
  EXPECT_EQ(v.value.u, 1u);  // true once the kernel pools are made
}

}  // namespace
}  // namespace vo::test
