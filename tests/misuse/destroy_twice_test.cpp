// Objects destroyed twice, through the C interface of the started library:
// the second destroy is refused with a bad-argument status and hands no
// block out again, so the next two objects made of the kind are distinct.
// These faults showed only in the Release build, where the pool kept no
// book of its free blocks; the group runs in every build.

#include <gtest/gtest.h>

#include <vo/vo_api.h>

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

}  // namespace
