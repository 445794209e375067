// Block pools: layout of blocks and chunks, release, sub-pools, merge and
// compaction, spare chunks, the chunk-size controls and the pool callbacks.
//
// The numbers are those of a 64-bit build: the free-block link and the chunk
// link are 8 bytes, so a 1016-byte chunk holds 1008 bytes of blocks (1012
// with 4-byte links) and element sizes are multiples of 8.

#include <set>
#include <vector>

#include "platform/chunk_heap.h"
#include "support/kernel_fixture.h"
#include "vomemman/pool.h"

namespace vo::test {
namespace {

constexpr uint32_t kTag = 0x110001;

class PoolTest : public PooledKernelTest {};

size_t HeapChunks(VtPool *p) {
  return platform::ChunkHeapChunks(static_cast<platform::ChunkHeap *>(p->heap));
}

TEST_F(PoolTest, BlocksAndChunksHaveTheSixtyFourBitSizes) {
  VtPool *p = VoPoolCreate(kTag, 5);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->element_size, 8u);        // 5 rounded up to the 8-byte link
  EXPECT_EQ(p->blocks_per_chunk, 126u);  // 1008 / 8
  std::vector<char *> blocks;
  for (int i = 0; i < 126; ++i) blocks.push_back(static_cast<char *>(VoPoolAllocate(p)));
  EXPECT_EQ(p->chunks, 1u);
  for (int i = 1; i < 126; ++i) EXPECT_EQ(blocks[i] - blocks[i - 1], 8);  // carved in address order
  ASSERT_NE(VoPoolAllocate(p), nullptr);
  EXPECT_EQ(p->chunks, 2u);
  EXPECT_EQ(p->blocks_in_use, 127u);

  VtPool *one = VoPoolCreate(kTag, 1008);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one->blocks_per_chunk, 1u);
  EXPECT_EQ(VoPoolCreate(kTag, 1009), nullptr);
  EXPECT_EQ(VoPoolCreate(kTag, 0), nullptr);
  EXPECT_EQ(VoPoolDispose(p), 0u);
  EXPECT_EQ(VoPoolDispose(one), 0u);
}

TEST_F(PoolTest, ReleaseKeepsChunksWhileABlockIsInUse) {
  VtPool *p = VoPoolCreate(kTag, 32);  // 31 blocks per chunk
  std::vector<void *> blocks;
  for (int i = 0; i < 100; ++i) blocks.push_back(VoPoolAllocate(p));
  ASSERT_EQ(p->chunks, 4u);
  for (int i = 1; i < 100; ++i) EXPECT_EQ(VoPoolFree(p, blocks[i]), 0u);
  EXPECT_EQ(VoPoolRelease(p), 0u);
  EXPECT_EQ(p->chunks, 4u);
  EXPECT_EQ(HeapChunks(p), 4u);
  EXPECT_EQ(VoPoolFree(p, blocks[0]), 0u);
  EXPECT_EQ(VoPoolRelease(p), 0u);
  EXPECT_EQ(p->chunks, 0u);
  EXPECT_EQ(HeapChunks(p), 0u);
  // The pool stays usable after a release; a free into an empty pool is ignored.
  void *b = VoPoolAllocate(p);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(VoPoolFree(p, b), 0u);
  EXPECT_EQ(p->blocks_in_use, 0u);
  EXPECT_EQ(VoPoolDispose(p), 0u);
}

TEST_F(PoolTest, DebugBuildsRefuseForeignAndRepeatedFrees) {
#ifdef NDEBUG
  GTEST_SKIP() << "block checks are made by debug builds";
#else
  VtPool *p = VoPoolCreate(kTag, 16);
  char *a = static_cast<char *>(VoPoolAllocate(p));
  char *b = static_cast<char *>(VoPoolAllocate(p));
  long local = 0;
  EXPECT_EQ(VoPoolFree(p, a), 0u);
  EXPECT_EQ(VoPoolFree(p, a), VO_STATUS_BAD_ARGUMENT);       // already free
  EXPECT_EQ(VoPoolFree(p, b + 8), VO_STATUS_BAD_ARGUMENT);   // not a block boundary
  EXPECT_EQ(VoPoolFree(p, &local), VO_STATUS_BAD_ARGUMENT);  // in no chunk of the pool
  EXPECT_EQ(CountPosted(kMessageBlockFreeRefused), 3);
  EXPECT_EQ(p->blocks_in_use, 1u);
  EXPECT_EQ(VoPoolFree(p, b), 0u);
  EXPECT_EQ(p->blocks_in_use, 0u);
  EXPECT_EQ(VoPoolDispose(p), 0u);
#endif
}

// A sub-pool of `chunks` chunks whose blocks are all free except `keep`.
VtPool *SubPoolWith(VtPool *parent, uint32_t chunks, uint32_t keep, std::vector<void *> *kept) {
  VtPool *sub = VoSubPoolCreate(parent);
  std::vector<void *> blocks;
  for (uint32_t i = 0; i < chunks * sub->blocks_per_chunk; ++i) blocks.push_back(VoPoolAllocate(sub));
  for (size_t i = 0; i < blocks.size(); ++i) {
    if (i < keep)
      kept->push_back(blocks[i]);
    else
      VoPoolFree(sub, blocks[i]);
  }
  return sub;
}

TEST_F(PoolTest, MergeCompactsOnlyAboveTheThreshold) {
  VtPool *parent = VoPoolCreate(kTag, 8);
  std::vector<void *> kept;
  const size_t live = platform::ChunksLive();

  // 70 chunks, all free: every chunk goes back on merge.
  VtPool *sub = SubPoolWith(parent, 70, 0, &kept);
  EXPECT_EQ(platform::ChunksLive(), live + 70);
  EXPECT_EQ(VoSubPoolMerge(parent, sub), 0u);
  EXPECT_EQ(platform::ChunksLive(), live);
  EXPECT_EQ(parent->chunks, 0u);
  EXPECT_EQ(VoSubPoolDestroy(sub), 0u);

  // 71 chunks with one block in use: the 70 empty chunks go back.
  sub = SubPoolWith(parent, 71, 1, &kept);
  EXPECT_EQ(VoSubPoolMerge(parent, sub), 0u);
  EXPECT_EQ(parent->chunks, 1u);
  EXPECT_EQ(parent->blocks_in_use, 1u);
  EXPECT_EQ(platform::ChunksLive(), live + 1);
  EXPECT_EQ(VoSubPoolDestroy(sub), 0u);

  // 11 chunks, 10 of them empty: below the threshold of 64, nothing is
  // compacted and the parent takes every chunk and free block.
  sub = SubPoolWith(parent, 11, 1, &kept);
  EXPECT_EQ(VoSubPoolMerge(parent, sub), 0u);
  EXPECT_EQ(parent->chunks, 12u);
  EXPECT_EQ(parent->blocks_in_use, 2u);
  EXPECT_EQ(VoSubPoolDestroy(sub), 0u);

  // The parent's free list is whole: it hands out every free block once.
  std::set<void *> seen(kept.begin(), kept.end());
  for (uint32_t i = 0; i < 12 * parent->blocks_per_chunk - 2; ++i)
    EXPECT_TRUE(seen.insert(VoPoolAllocate(parent)).second);
  EXPECT_EQ(parent->chunks, 12u);
  EXPECT_EQ(VoPoolDispose(parent), 0u);
  EXPECT_EQ(platform::ChunksLive(), live);
}

TEST_F(PoolTest, MergeWithCompactionOffKeepsEveryChunk) {
  ASSERT_EQ(SetBoolean(VO_CONTROL_COMPACT_SUBPOOLS, false), 0u);
  VtPool *parent = VoPoolCreate(kTag, 8);
  std::vector<void *> kept;
  VtPool *sub = SubPoolWith(parent, 70, 0, &kept);
  EXPECT_EQ(VoSubPoolMerge(parent, sub), 0u);
  EXPECT_EQ(parent->chunks, 70u);
  VtPool *stranger = VoPoolCreate(kTag, 8);
  EXPECT_EQ(VoSubPoolMerge(stranger, sub), VO_STATUS_BAD_ARGUMENT);  // not its parent
  EXPECT_EQ(VoSubPoolDestroy(parent), VO_STATUS_BAD_ARGUMENT);       // not a sub-pool
  EXPECT_EQ(VoPoolDispose(sub), 0u);
  EXPECT_EQ(VoPoolDispose(parent), 0u);
  EXPECT_EQ(VoPoolDispose(stranger), 0u);
}

VtStatus CountData(void *data) {
  ++*static_cast<int *>(data);
  return 0;
}

// The shader kernel makes a sub-pool of the list-node pool at start while
// scene lists hold nodes, and every render ends with a memory tidy. The
// lists' nodes must stay with the list-node pool throughout (under ASan a
// chunk given back while in use is a use after free).
TEST_F(PoolTest, SubPoolOfListNodesLeavesLiveNodesWithTheirPool) {
  VtPool *nodes = VoReferencePoolGet();
  ASSERT_NE(nodes, nullptr);
  int counter = 0;
  VtReference *lists[4] = {};
  for (auto &list : lists)
    for (int i = 0; i < 300; ++i) list = VoShaderReferenceAppend(list, VoShaderReferenceCreate(&counter));
  EXPECT_EQ(nodes->blocks_in_use, 1200u);

  VtPool *sub = VoReferenceSubPoolCreate();
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub->locked, 0u);
  EXPECT_EQ(nodes->blocks_in_use, 1200u);  // the count stays with the pool the nodes came from
  VtReference *scratch = nullptr;
  for (int i = 0; i < 50; ++i)
    scratch = VoShaderReferenceAppend(scratch, VoReferencePoolNodeCreate(sub, &counter));
  EXPECT_EQ(sub->blocks_in_use, 50u);

  EXPECT_EQ(VoMemoryTidy(), 0u);  // the end of a render
  EXPECT_GT(nodes->chunks, 0u);
  for (VtReference *list : lists) EXPECT_EQ(VoReferenceListDestroy(list, &CountData), 0u);
  EXPECT_EQ(counter, 1200);
  EXPECT_EQ(nodes->blocks_in_use, 0u);
  EXPECT_EQ(VoReferencePoolListDestroy(sub, scratch, nullptr), 0u);
  EXPECT_EQ(VoReferenceSubPoolRelease(sub), 0u);
  EXPECT_EQ(VoMemoryTidy(), 0u);
  EXPECT_EQ(nodes->chunks, 0u);
  EXPECT_EQ(HeapChunks(nodes), 0u);
}

TEST_F(PoolTest, SpareChunksOutliveTheirHeapAndServeAnotherPool) {
  ASSERT_EQ(SetBoolean(VO_CONTROL_FREE_CHUNKS, false), 0u);
  VtPool *a = VoPoolCreate(kTag, 64);
  void *block = VoPoolAllocate(a);
  void *chunk = a->chunk_list;
  VoPoolFree(a, block);
  EXPECT_EQ(VoPoolRelease(a), 0u);
  EXPECT_EQ(Kernel()->memory.spare_count, 1u);
  EXPECT_EQ(VoPoolDispose(a), 0u);  // its heap goes; the spare chunk stays
  VtPool *b = VoPoolCreate(kTag, 16);
  EXPECT_EQ(VoPoolAllocate(b), chunk);  // the spare chunk, carved anew
  EXPECT_EQ(Kernel()->memory.spare_count, 0u);
  EXPECT_EQ(HeapChunks(b), 1u);
  EXPECT_EQ(VoPoolDispose(b), 0u);

  VtPool *c = VoPoolCreate(kTag, 16);
  VoPoolFree(c, VoPoolAllocate(c));
  VoPoolRelease(c);
  EXPECT_EQ(Kernel()->memory.spare_count, 1u);
  const size_t live = platform::ChunksLive();
  ASSERT_EQ(SetBoolean(VO_CONTROL_FREE_CHUNKS, true), 0u);  // frees the spare list
  EXPECT_EQ(Kernel()->memory.spare_count, 0u);
  EXPECT_EQ(platform::ChunksLive(), live - 1);
  EXPECT_EQ(VoPoolDispose(c), 0u);
}

TEST_F(PoolTest, DisposingAPoolTakesItsSubPoolsAlong) {
  VtPool *parent = VoPoolCreate(kTag, 24);
  VtPool *sub = VoSubPoolCreate(parent);
  VtPool *subsub = VoSubPoolCreate(sub);
  ASSERT_NE(VoPoolAllocate(subsub), nullptr);
  ASSERT_NE(VoPoolAllocate(sub), nullptr);
  const size_t live = platform::ChunksLive();
  EXPECT_EQ(VoPoolDispose(parent), 0u);
  EXPECT_EQ(platform::ChunksLive(), live - 2);
  for (VtPool *p = Kernel()->memory.pools; p; p = p->next) {
    EXPECT_NE(p, sub);
    EXPECT_NE(p, subsub);
  }
}

VtBlockAllocateProc g_default_allocate;
int g_allocations;
void *CountingAllocate(VtPool *pool) {
  ++g_allocations;
  return g_default_allocate(pool);
}

TEST_F(PoolTest, PoolCallbacksCanBeReplaced) {
  g_default_allocate = reinterpret_cast<VtBlockAllocateProc>(VoCallBackGet(VO_CALLBACK_BLOCK_ALLOCATE));
  ASSERT_NE(g_default_allocate, nullptr);
  g_allocations = 0;
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_BLOCK_ALLOCATE, reinterpret_cast<VtProc>(&CountingAllocate)), 0u);
  VtPool *p = VoPoolCreate(kTag, 8);
  VoPoolAllocate(p);
  VoShaderReferenceCreate(nullptr);  // list nodes go through the callback too
  EXPECT_EQ(g_allocations, 2);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_BLOCK_ALLOCATE, reinterpret_cast<VtProc>(g_default_allocate)), 0u);
  EXPECT_EQ(VoPoolDispose(p), 0u);
}

TEST_F(PoolTest, KernelPoolsAreMadeOnceAndAllGoAtShutdown) {
  VtKernelContext *k = Kernel();
  VtPool *nodes = VoReferencePoolGet();
  ASSERT_NE(nodes, nullptr);
  EXPECT_EQ(nodes->element_size, 16u);  // a node is {next, data} of 8 bytes each
  EXPECT_NE(k->memory.small_pool, nullptr);
  EXPECT_NE(k->memory.random_pool, nullptr);
  EXPECT_NE(k->memory.marshal_pool[0], nullptr);
  EXPECT_NE(k->memory.marshal_pool[1], nullptr);
  EXPECT_EQ(VoSystemStart(), 0u);  // finds them made: no status added
  EXPECT_EQ(VoSystemStart(), 0u);
  EXPECT_EQ(VoReferencePoolGet(), nodes);
  auto *small = static_cast<void **>(VoSmallBlockCreate());
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(*small, nullptr);
  VtPool *left = VoPoolCreate(kTag, 8);
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
  VtTypedValue v{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_CHUNK_SIZE, &v), 0u);
  EXPECT_EQ(v.value.u, 1016u);
  ASSERT_EQ(SetNat32(VO_CONTROL_CHUNK_SIZE, 2040), 0u);  // what VO_FREE_LIST=2040 sets
  ASSERT_EQ(SetNat32(VO_CONTROL_BIG_CHUNK_SIZE, 131056), 0u);
  ASSERT_EQ(VoControlGet(VO_CONTROL_BIG_CHUNK_SIZE, &v), 0u);
  EXPECT_EQ(v.value.u, 131056u);
  ASSERT_EQ(VoSystemStart(), 0u);  // the kernel pools are made
  VtPool *p = VoPoolCreate(kTag, 8);
  EXPECT_EQ(p->usable_bytes, 2032u);  // 2040 less the 8-byte chunk link
  EXPECT_EQ(p->blocks_per_chunk, 254u);
  EXPECT_EQ(SetNat32(VO_CONTROL_CHUNK_SIZE, 1016), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(SetNat32(VO_CONTROL_CHUNK_SIZE, 2040), 0u);  // no change
  ASSERT_EQ(VoControlGet(VO_CONTROL_FREE_CHUNKS, &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtBoolean));
  EXPECT_EQ(v.value.u, 1u);  // true once the kernel pools are made
  EXPECT_EQ(VoPoolDispose(p), 0u);
}

TEST_F(PoolControlTest, MemoryModuleAnswersItsQueries) {
  VtTypedValue a{};
  ASSERT_EQ(VoSystemStart(), 0u);
  EXPECT_TRUE(ModuleStarted(VO_MODULE_MEMORY));
  VoEntryMemory(VO_QUERY_REGISTRY_NAME, &a);
  EXPECT_STREQ(a.value.s, "vomemman");
  EXPECT_EQ(VoCallBackGet(0x110001), reinterpret_cast<VtProc>(&VoCallBackNull));
  EXPECT_EQ(VoCallBackSet(0x110001, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoCallBackGet(0x110002), nullptr);
}

}  // namespace
}  // namespace vo::test
