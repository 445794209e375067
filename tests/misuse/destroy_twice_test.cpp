// Objects destroyed twice, through the C interface of the started library:
// the second destroy is refused with a bad-argument status and hands no
// block out again, so the next two objects made of the kind are distinct.
// These faults showed only in the Release build, where the pool kept no
// book of its free blocks; the group runs in every build.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include <vo/vo_api.h>

#include "render/voshpost/pixel_list.h"

namespace {

constexpr VtStatus kBadArgument = 0x20000012;

// One kind with a destroy procedure: make one object, destroy it.
struct Kind {
  const char *name;
  void *(*make)();
  VtStatus (*destroy)(void *);
};

const Kind kKinds[] = {
    {"shade context", [] { return static_cast<void *>(VoShadeContextCreate()); },
     [](void *p) { return VoShadeContextDestroy(static_cast<VtShadeContext *>(p)); }},
    {"shade-context reference", [] { return static_cast<void *>(VoShadeContextReferenceCreate()); },
     [](void *p) { return VoShadeContextReferenceDestroy(static_cast<VtShadeContextReference *>(p), 1); }},
    {"random state", [] { return static_cast<void *>(VoRandomStateCreate()); },
     [](void *p) { return VoRandomStateDestroy(static_cast<VtRandomState *>(p)); }},
    {"hit record", [] { return static_cast<void *>(VoHitRecordCreate()); },
     [](void *p) { return VoHitRecordDestroy(static_cast<VtHitRecord *>(p)); }},
    {"ray record",
     [] {
       static VtRayOwnerSettings settings{};
       static const VtRayOwnerSettings *owner = &settings;  // an owner's first word
       const float origin[3] = {0, 0, 0}, direction[3] = {0, 0, 1};
       VtRayRecord *ray = nullptr;
       (void)VoRayRecordCreate(&owner, origin, direction, 0, &ray);
       return static_cast<void *>(ray);
     },
     [](void *p) { return VoRayRecordDestroy(static_cast<VtRayRecord *>(p)); }},
    {"reference list",
     [] {
       static int data[3];
       VtReference *list = VoShaderReferenceCreate(&data[0]);
       list = VoShaderReferenceAppend(list, VoShaderReferenceCreate(&data[1]));
       return static_cast<void *>(VoShaderReferenceAppend(list, VoShaderReferenceCreate(&data[2])));
     },
     [](void *p) { return VoReferenceListDestroy(static_cast<VtReference *>(p), nullptr); }},
    {"pixel list", [] { return static_cast<void *>(VoPixelListCreate()); },
     [](void *p) { return VoPixelListDestroy(static_cast<VtPixelList *>(p)); }},
    {"lock", [] { return static_cast<void *>(VoLockCreate()); },
     [](void *p) { return VoLockDestroy(static_cast<VtLock *>(p)); }},
};

class DestroyTwice : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(VoInitialise(), 0u); }
  void TearDown() override { EXPECT_EQ(VoTerminate(), 0u); }
};

TEST_F(DestroyTwice, TheSecondDestroyIsRefusedAndTheNextTwoObjectsAreDistinct) {
  for (const Kind &kind : kKinds) {
    SCOPED_TRACE(kind.name);
    void *object = kind.make();
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(kind.destroy(object), 0u);
    EXPECT_EQ(kind.destroy(object), kBadArgument);
    void *first = kind.make();
    void *second = kind.make();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(kind.destroy(second), 0u);
    EXPECT_EQ(kind.destroy(first), 0u);
  }
}

// A context reference destroyed with its context refuses a second destroy
// too, without following the context word its pool has taken over.
TEST_F(DestroyTwice, AReferenceDestroyedWithItsContextIsRefusedOnTheSecondDestroy) {
  VtShadeContextReference *node = VoShadeContextReferenceCreate();
  ASSERT_NE(node, nullptr);
  node->context = VoShadeContextCreate();
  ASSERT_NE(node->context, nullptr);
  VtShadeContext *context = node->context;
  EXPECT_EQ(VoShadeContextReferenceDestroy(node, 1), 0u);
  EXPECT_EQ(VoShadeContextReferenceDestroy(node, 1), kBadArgument);
  EXPECT_EQ(VoShadeContextDestroy(context), kBadArgument);
}

// Locks outlive a start of the library: one made before VoInitialise, and
// one made in an earlier start, are held and destroyed while the library
// runs, once each (the leak check of the sanitizer build sees one kept).
TEST(DestroyTwiceAcrossStarts, LocksMadeBeforeThisStartAreHeldAndDestroyedOnce) {
  VtLock *before = VoLockCreate();
  ASSERT_NE(before, nullptr);
  ASSERT_EQ(VoInitialise(), 0u);
  VtLock *earlier = VoLockCreate();
  ASSERT_NE(earlier, nullptr);
  ASSERT_EQ(VoTerminate(), 0u);
  ASSERT_EQ(VoInitialise(), 0u);
  for (VtLock *lock : {before, earlier}) {
    VoLockAcquire(lock, 0);
    VoLockRelease(lock);
    EXPECT_EQ(VoLockDestroy(lock), 0u);
    EXPECT_EQ(VoLockDestroy(lock), kBadArgument);
  }
  EXPECT_EQ(VoTerminate(), 0u);
}

// Mutex words are the application's heap blocks, made and destroyed
// whether or not the library runs: one made before the start is destroyed
// after it, one made while it runs is destroyed after its terminate, once
// each.
TEST(DestroyTwiceAcrossStarts, MutexWordsAreDestroyedOnceWhetherOrNotTheLibraryRuns) {
  VtMutexWord *before = VoMutexCreate();
  ASSERT_NE(before, nullptr);
  ASSERT_EQ(VoInitialise(), 0u);
  VtMutexWord *during = VoMutexCreate();
  ASSERT_NE(during, nullptr);
  EXPECT_EQ(VoMutexDestroy(before), 0u);
  EXPECT_EQ(VoMutexDestroy(before), kBadArgument);
  ASSERT_EQ(VoTerminate(), 0u);
  EXPECT_EQ(VoMutexDestroy(during), 0u);
  EXPECT_EQ(VoMutexDestroy(during), VO_STATUS_NOT_INITIALISED);
}

// Many blocks given back and taken again: a block marked free by its
// pool is never taken for a live one, so a live object always destroys.
TEST_F(DestroyTwice, ReusedBlocksDestroyOnceEachAfterManyRounds) {
  VtHitRecord *held[64] = {};
  uint32_t seed = 80;
  for (int round = 0; round < 2000; ++round) {
    seed = seed * 1664525u + 1013904223u;
    const int i = static_cast<int>(seed >> 26);
    if (held[i] != nullptr) {
      ASSERT_EQ(VoHitRecordDestroy(held[i]), 0u) << "seed 80, round " << round;
      EXPECT_EQ(VoHitRecordDestroy(held[i]), kBadArgument) << "seed 80, round " << round;
      held[i] = nullptr;
    } else {
      held[i] = VoHitRecordCreate();
      ASSERT_NE(held[i], nullptr);
    }
  }
  for (VtHitRecord *h : held) {
    if (h != nullptr) {
      EXPECT_EQ(VoHitRecordDestroy(h), 0u);
    }
  }
}

// Pools (sub-pools among them), hash tables and pixel lists are checked on
// every block, entry and pixel by a word of their record alone. A destroyed
// record is kept, never given back to the heap (the sanitizer build sees no
// freed memory read), and refuses its handle until a creation of its kind
// takes it; pools, sub-pools and the three pools of a pixel list share one
// keeper (0), tables (1) and lists (2) have their own.
struct KeptKind {
  const char *name;
  int keeper;
  void *(*make)(VtPool *parent);
  VtStatus (*destroy)(void *);
  bool (*refused)(void *);  // by the kind's per-block, per-entry or per-pixel procedure
};

const KeptKind kKeptKinds[] = {
    {"pool", 0, [](VtPool *) -> void * { return VoPoolCreate(0x7e57, 24); },
     [](void *p) { return VoPoolDispose(static_cast<VtPool *>(p)); },
     [](void *p) { return VoPoolAllocate(static_cast<VtPool *>(p)) == nullptr; }},
    {"sub-pool", 0, [](VtPool *parent) -> void * { return VoSubPoolCreate(parent); },
     [](void *p) { return VoSubPoolDestroy(static_cast<VtPool *>(p)); },
     [](void *p) { return VoPoolAllocate(static_cast<VtPool *>(p)) == nullptr; }},
    {"hash table", 1, [](VtPool *) -> void * { return VoHashTableCreate(8); },
     [](void *p) { return VoHashTableDestroy(static_cast<VtHashTable *>(p)); },
     [](void *p) { return VoHashTableStoreRecord(static_cast<VtHashTable *>(p), 1, 2) == kBadArgument; }},
    {"pixel list", 2, [](VtPool *) -> void * { return VoPixelListCreate(); },
     [](void *p) { return VoPixelListDestroy(static_cast<VtPixelList *>(p)); },
     [](void *p) { return VoPixelListEntryNew(static_cast<VtPixelList *>(p)) == nullptr; }},
};

TEST_F(DestroyTwice, DestroyedPoolsTablesAndListsStayRefusedUntilACreationOfTheirKindTakesTheirRecord) {
  VtPool *parent = VoPoolCreate(0x7e58, 24);
  ASSERT_NE(parent, nullptr);
  std::mt19937 random(80);
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(testing::Message() << "seed 80, round " << round);
    // 1 to 5 of each kind, made, destroyed and made again in random orders;
    // after each destroy every object destroyed so far is refused.
    std::vector<std::pair<const KeptKind *, void *>> live, destroyed;
    for (const KeptKind &kind : kKeptKinds)
      for (uint32_t n = 1 + random() % 5; n > 0; --n) live.push_back({&kind, kind.make(parent)});
    std::shuffle(live.begin(), live.end(), random);
    for (const auto &made : live) {
      ASSERT_EQ(made.first->destroy(made.second), 0u) << made.first->name;
      destroyed.push_back(made);
      for (const auto &[kind, object] : destroyed)
        EXPECT_TRUE(kind->refused(object) && kind->destroy(object) == kBadArgument) << kind->name;
    }
    std::set<std::pair<int, void *>> taken;  // (keeper, record) of the objects made again
    for (auto &[kind, object] : live) {
      ASSERT_NE(object = kind->make(parent), nullptr) << kind->name;
      EXPECT_FALSE(kind->refused(object)) << kind->name;
      taken.insert({kind->keeper, object});
      if (kind->keeper == 2)
        for (const auto *l = static_cast<const VtPixelList *>(object);
             VtPool * p : {l->regions, l->runs, l->entries})
          taken.insert({0, p});
    }
    for (const auto &[kind, object] : destroyed) {
      if (taken.count({kind->keeper, object}) != 0) continue;
      for (int other = 0; other < 3; ++other) EXPECT_EQ(taken.count({other, object}), 0u) << kind->name;
      EXPECT_TRUE(kind->refused(object)) << kind->name;
    }
    for (const auto &[kind, object] : live) EXPECT_EQ(kind->destroy(object), 0u) << kind->name;
  }
  EXPECT_EQ(VoPoolDispose(parent), 0u);
}

}  // namespace
