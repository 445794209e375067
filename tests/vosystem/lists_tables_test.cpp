// Reference lists (rings named by their last node) and hash tables.

#include <map>
#include <vector>

#include "support/kernel_fixture.h"
#include "vomemman/pool.h"
#include "vosystem/hash_table.h"

namespace vo::test {
namespace {

class ListsTest : public PooledKernelTest {};

void *D(uintptr_t v) { return reinterpret_cast<void *>(v); }

// The data of a list in order, first entry first.
std::vector<uintptr_t> Items(VtReference *list) {
  std::vector<uintptr_t> out;
  if (list == nullptr) return out;
  VtReference *node = list->next;
  do {
    out.push_back(reinterpret_cast<uintptr_t>(node->data));
    node = node->next;
  } while (node != list->next);
  return out;
}

using V = std::vector<uintptr_t>;

TEST_F(ListsTest, AppendAndRemoveFirst) {
  VtReference *s1 = VoShaderReferenceCreate(D(1));
  VtReference *s2 = VoPrimitiveReferenceCreate(D(2));
  ASSERT_EQ(s1->next, s1);
  VtReference *list = VoShaderReferenceAppend(s1, s2);
  EXPECT_EQ(list, s2);
  EXPECT_EQ(list->data, D(2));
  EXPECT_EQ(Items(list), (V{1, 2}));
  EXPECT_EQ(VoNPREdgeReferenceAppend(list, nullptr), list);
  EXPECT_EQ(VoPrimitiveReferenceAppend(nullptr, list), list);
  list = VoNPREdgeReferenceAppend(list, VoNPREdgeReferenceCreate(D(3)));
  EXPECT_EQ(Items(list), (V{1, 2, 3}));

  VtReference *entry = nullptr;
  list = VoShaderReferenceRemove(list, &entry);
  EXPECT_EQ(entry, s1);
  EXPECT_EQ(entry->next, entry);  // handed out as a one-entry list
  EXPECT_EQ(Items(list), (V{2, 3}));
  VoReferenceListDestroy(entry, nullptr);
  list = VoPrimitiveReferenceRemove(list, &entry);
  VoReferenceListDestroy(entry, nullptr);
  VtReference *last = list;
  list = VoNPREdgeReferenceRemove(list, &entry);  // the only entry
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(entry, last);
  EXPECT_EQ(entry->next, entry);
  VoReferenceListDestroy(entry, nullptr);
  EXPECT_EQ(VoShaderReferenceRemove(nullptr, &entry), nullptr);
  EXPECT_EQ(entry, nullptr);
  EXPECT_EQ(VoReferencePoolGet()->blocks_in_use, 0u);
}

TEST_F(ListsTest, RemoveByDataKeepsTheRingAndHandle) {
  void *items[] = {D(1), nullptr, D(2), D(3), nullptr, D(4)};
  VtReference *list = VoReferenceListCreateFromArray(6, items);  // nulls are skipped
  EXPECT_EQ(Items(list), (V{1, 2, 3, 4}));
  EXPECT_EQ(VoReferenceListCreateFromArray(0, items), nullptr);
  list = VoReferenceListRemoveData(list, D(2));  // a middle entry
  EXPECT_EQ(Items(list), (V{1, 3, 4}));
  list = VoReferenceListRemoveData(list, D(4));  // the handle: its predecessor takes over
  EXPECT_EQ(list->data, D(3));
  EXPECT_EQ(Items(list), (V{1, 3}));
  list = VoReferenceListRemoveData(list, D(1));  // the first entry
  EXPECT_EQ(Items(list), (V{3}));
  EXPECT_EQ(VoReferenceListRemoveData(list, D(9)), list);  // absent: unchanged
  EXPECT_EQ(VoReferenceListRemoveData(list, D(3)), nullptr);
  EXPECT_EQ(VoReferencePoolGet()->blocks_in_use, 0u);
}

void *Doubled(void *data) { return D(reinterpret_cast<uintptr_t>(data) * 2); }
std::vector<uintptr_t> g_destroyed;
VtStatus Destroyed(void *data) {
  g_destroyed.push_back(reinterpret_cast<uintptr_t>(data));
  return 0;
}

TEST_F(ListsTest, CopyKeepsOrderAndHandleDestroyVisitsEveryNode) {
  void *items[] = {D(1), D(2), D(3)};
  VtReference *list = VoReferenceListCreateFromArray(3, items);
  VtReference *copy = VoReferenceListCopy(list, &Doubled);
  EXPECT_EQ(Items(copy), (V{2, 4, 6}));
  EXPECT_EQ(copy->data, D(6));
  VtReference *same = VoReferenceListCopy(list, nullptr);
  EXPECT_EQ(Items(same), (V{1, 2, 3}));
  EXPECT_EQ(VoReferenceListCopy(nullptr, nullptr), nullptr);
  g_destroyed.clear();
  EXPECT_EQ(VoReferenceListDestroy(copy, &Destroyed), 0u);
  EXPECT_EQ(g_destroyed, (V{6, 2, 4}));  // from the handle node round the ring
  VoReferenceListDestroy(same, nullptr);
  VoReferenceListDestroy(list, nullptr);
  EXPECT_EQ(VoReferenceListDestroy(nullptr, &Destroyed), 0u);

  // The pool variants draw from and return to the caller's pool.
  VtPool *pool = VoPoolCreate(0x110001, sizeof(VtReference));
  VtReference *own = VoReferencePoolNodeCreate(pool, D(5));
  own = VoShaderReferenceAppend(own, VoReferencePoolNodeCreate(pool, D(6)));
  EXPECT_EQ(pool->blocks_in_use, 2u);
  EXPECT_EQ(VoReferencePoolListDestroy(pool, own, nullptr), 0u);
  EXPECT_EQ(pool->blocks_in_use, 0u);
  EXPECT_EQ(VoReferencePoolGet()->blocks_in_use, 0u);
  VoPoolDispose(pool);
}

TEST_F(ListsTest, ListsFailCleanlyWhenNodesRunOut) {
  VtPool *nodes = VoReferencePoolGet();
  VtReference *list = VoReferenceListCreateFromArray(1, std::vector<void *>{D(1)}.data());
  // Exhaust the node pool by making its heap refuse chunks.
  VtProc allocate = VoCallBackGet(VO_CALLBACK_HEAP_ALLOCATE);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_HEAP_ALLOCATE,
                          reinterpret_cast<VtProc>(+[](uint32_t, void *) -> void * { return nullptr; })),
            0u);
  std::vector<void *> many(nodes->blocks_per_chunk + 1, D(7));
  EXPECT_EQ(VoReferenceListCreateFromArray(static_cast<uint32_t>(many.size()), many.data()), nullptr);
  EXPECT_EQ(nodes->blocks_in_use, 1u);  // what was made so far went back
  VtReference *big = nullptr;
  for (uint32_t i = 1; i < nodes->blocks_per_chunk; ++i)
    big = VoShaderReferenceAppend(big, VoShaderReferenceCreate(D(i)));
  EXPECT_EQ(VoReferenceListCopy(list, nullptr), nullptr);
  EXPECT_EQ(nodes->blocks_in_use, nodes->blocks_per_chunk);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_HEAP_ALLOCATE, allocate), 0u);
  VoReferenceListDestroy(big, nullptr);
  VoReferenceListDestroy(list, nullptr);
}

TEST_F(ListsTest, HashTableBucketCountsAreOddPrimes) {
  const std::map<uint32_t, uint32_t> expected = {{0, 5},   {4, 5},     {5, 5},      {8, 11},
                                                 {67, 67}, {100, 101}, {1000, 1009}};
  for (auto [asked, buckets] : expected) {
    VtHashTable *t = VoHashTableCreate(asked);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->bucket_count, buckets) << asked;
    VoHashTableDestroy(t);
  }
}

TEST_F(ListsTest, HashTableStoresExtractsRemovesAndWalks) {
  VtHashTable *t = VoHashTableCreate(5);
  const uintptr_t address = uintptr_t{0x7f12345678} << 8;  // keys are often addresses above 32 bits
  EXPECT_EQ(VoHashTableStoreRecord(t, address, 1), 0u);
  EXPECT_EQ(VoHashTableStoreRecord(t, address + 5, 2), 0u);  // the same bucket
  EXPECT_EQ(VoHashTableStoreRecord(t, address, 3), 0u);      // a duplicate key
  EXPECT_EQ(VoHashTableExtractRecord(t, address), 3u);       // the newest value
  EXPECT_EQ(VoHashTableExtractRecord(t, address + 5), 2u);
  EXPECT_EQ(VoHashTableExtractRecord(t, 12345), 0u);
  for (uintptr_t k = 0; k < 40; ++k) VoHashTableStoreRecord(t, k, k + 100);

  std::map<uintptr_t, int> seen;
  uintptr_t key = 0, value = 0;
  for (uint32_t more = VoHashTableFirst(t, &key, &value); more; more = VoHashTableNext(t, &key, &value)) {
    ++seen[key];
    if (key < 40) {
      EXPECT_EQ(value, key + 100);
      if (key % 2 == 0) {
        EXPECT_TRUE(VoHashTableRemoveRecord(t, key, nullptr));  // removed during the walk
      }
    }
  }
  EXPECT_EQ(seen.size(), 42u);
  EXPECT_EQ(seen[address], 2);
  for (uintptr_t k = 0; k < 40; ++k) EXPECT_EQ(VoHashTableExtractRecord(t, k), k % 2 ? k + 100 : 0) << k;
  EXPECT_TRUE(VoHashTableRemoveRecord(t, address, &value));
  EXPECT_EQ(value, 3u);
  EXPECT_EQ(VoHashTableExtractRecord(t, address), 1u);  // the older entry shows again
  EXPECT_FALSE(VoHashTableRemoveRecord(t, 999, &value));

  VtHashTable *kept = t;
  EXPECT_EQ(VoHashTableReset(&t, 3), 0u);  // not above the bucket count: emptied in place
  EXPECT_EQ(t, kept);
  EXPECT_FALSE(VoHashTableFirst(t, &key, &value));
  EXPECT_EQ(VoHashTableReset(&t, 20), 0u);
  EXPECT_EQ(t->bucket_count, 23u);
  VoHashTableDestroy(t);
  VtHashTable *none = nullptr;
  EXPECT_EQ(VoHashTableReset(&none, 8), 0u);
  EXPECT_EQ(none->bucket_count, 11u);
  VoHashTableDestroy(none);
}

}  // namespace
}  // namespace vo::test
