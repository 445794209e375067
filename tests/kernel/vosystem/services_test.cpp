// Kernel services: reference lists, hash tables, maths, locks, thread records, contexts.

#include <bit>
#include <cmath>
#include <cstdlib>
#include <map>
#include <thread>
#include <vector>

#include "support/kernel_fixture.h"
#include "kernel/vomemman/pool.h"
#include "kernel/vosystem/context.h"
#include "kernel/vosystem/hash_table.h"
#include "kernel/vosystem/threads.h"

namespace vo::test {
namespace {

class ServicesTest : public PooledKernelTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(VoReferencePoolGet()->blocks_in_use, 0u);  // every node went back
    PooledKernelTest::TearDown();
  }
};

using V = std::vector<uintptr_t>;
void *D(uintptr_t v) { return reinterpret_cast<void *>(v); }

// The data of a list in order, first entry first.
V Items(VtReference *list) {
  V out;
  for (VtReference *node = list ? list->next : nullptr; node != nullptr;
       node = node == list ? nullptr : node->next)
    out.push_back(reinterpret_cast<uintptr_t>(node->data));
  return out;
}

TEST_F(ServicesTest, ListsAppendAndRemoveKeepingTheRingAndHandle) {
  VtReference *s1 = VoShaderReferenceCreate(D(1));
  ASSERT_EQ(s1->next, s1);
  VtReference *list = VoShaderReferenceAppend(s1, VoPrimitiveReferenceCreate(D(2)));
  list = VoNPREdgeReferenceAppend(list, VoNPREdgeReferenceCreate(D(3)));
  EXPECT_EQ(list->data, D(3));  // named by its last node
  EXPECT_EQ(VoPrimitiveReferenceAppend(nullptr, list), list);
  EXPECT_EQ(Items(list), (V{1, 2, 3}));
  VtReference *entry = nullptr;
  list = VoShaderReferenceRemove(list, &entry);
  EXPECT_EQ(entry, s1);
  EXPECT_EQ(entry->next, entry);  // handed out as a one-entry list
  EXPECT_EQ(Items(list), (V{2, 3}));
  VoReferenceListDestroy(entry, nullptr);
  list = VoPrimitiveReferenceRemove(list, &entry);
  VoReferenceListDestroy(entry, nullptr);
  EXPECT_EQ(VoNPREdgeReferenceRemove(list, &entry), nullptr);  // the only entry
  EXPECT_EQ(entry, list);
  EXPECT_EQ(entry->next, entry);
  VoReferenceListDestroy(entry, nullptr);
  // Removal by data.
  void *items[] = {D(1), nullptr, D(2), D(3), nullptr, D(4)};
  list = VoReferenceListCreateFromArray(6, items);  // nulls are skipped
  EXPECT_EQ(Items(list), (V{1, 2, 3, 4}));
  list = VoReferenceListRemoveData(list, D(2));  // a middle entry
  EXPECT_EQ(Items(list), (V{1, 3, 4}));
  list = VoReferenceListRemoveData(list, D(4));  // the handle: its predecessor takes over
  EXPECT_EQ(list->data, D(3));
  list = VoReferenceListRemoveData(list, D(1));  // the first entry
  EXPECT_EQ(Items(list), (V{3}));
  EXPECT_EQ(VoReferenceListRemoveData(list, D(9)), list);  // absent: unchanged
  EXPECT_EQ(VoReferenceListRemoveData(list, D(3)), nullptr);
}

void *Doubled(void *data) { return D(reinterpret_cast<uintptr_t>(data) * 2); }
V g_destroyed;
VtStatus Destroyed(void *data) {
  g_destroyed.push_back(reinterpret_cast<uintptr_t>(data));
  return 0;
}

TEST_F(ServicesTest, CopyKeepsOrderAndHandleDestroyVisitsEveryNode) {
  void *items[] = {D(1), D(2), D(3)};
  VtReference *list = VoReferenceListCreateFromArray(3, items);
  VtReference *copy = VoReferenceListCopy(list, &Doubled);
  EXPECT_EQ(Items(copy), (V{2, 4, 6}));
  EXPECT_EQ(copy->data, D(6));
  g_destroyed.clear();
  EXPECT_EQ(VoReferenceListDestroy(copy, &Destroyed), 0u);
  EXPECT_EQ(g_destroyed, (V{6, 2, 4}));  // from the handle node round the ring
  VoReferenceListDestroy(list, nullptr);
}

TEST_F(ServicesTest, HashTablesStoreExtractRemoveAndWalk) {
  // Bucket counts are the smallest odd prime not below max(size, 5).
  for (auto [asked, buckets] : std::map<uint32_t, uint32_t>{{0, 5}, {4, 5}, {5, 5}, {8, 11}, {100, 101}}) {
    VtHashTable *t = VoHashTableCreate(asked);
    EXPECT_EQ(t->bucket_count, buckets) << asked;
    VoHashTableDestroy(t);
  }
  VtHashTable *t = VoHashTableCreate(5);
  const uintptr_t address = uintptr_t{0x7f12345678} << 8;  // keys are often addresses above 32 bits
  EXPECT_EQ(VoHashTableStoreRecord(t, address, 1), 0u);
  EXPECT_EQ(VoHashTableStoreRecord(t, address + 5, 2), 0u);  // the same bucket
  EXPECT_EQ(VoHashTableStoreRecord(t, address, 3), 0u);      // a duplicate key
  EXPECT_EQ(VoHashTableExtractRecord(t, address), 3u);       // the newest value
  EXPECT_EQ(VoHashTableExtractRecord(t, address + 5), 2u);
  for (uintptr_t k = 0; k < 40; ++k) VoHashTableStoreRecord(t, k, k + 100);

  // A walk sees every entry once, also while it removes the ones it passes.
  std::map<uintptr_t, int> seen;
  uintptr_t key = 0, value = 0;
  for (uint32_t more = VoHashTableFirst(t, &key, &value); more; more = VoHashTableNext(t, &key, &value)) {
    ++seen[key];
    if (key < 40 && key % 2 == 0) {
      EXPECT_TRUE(VoHashTableRemoveRecord(t, key, nullptr));
    }
  }
  EXPECT_EQ(seen.size(), 42u);
  EXPECT_EQ(seen[address], 2);
  for (uintptr_t k = 0; k < 40; ++k) EXPECT_EQ(VoHashTableExtractRecord(t, k), k % 2 ? k + 100 : 0) << k;
  EXPECT_TRUE(VoHashTableRemoveRecord(t, address, &value));
  EXPECT_EQ(value, 3u);
  EXPECT_EQ(VoHashTableExtractRecord(t, address), 1u);  // the older entry shows again
  EXPECT_FALSE(VoHashTableRemoveRecord(t, 999, &value));

  EXPECT_EQ(VoHashTableReset(&t, 3), 0u);  // not above the bucket count: emptied in place
  EXPECT_FALSE(VoHashTableFirst(t, &key, &value));
  EXPECT_EQ(VoHashTableReset(&t, 20), 0u);
  EXPECT_EQ(t->bucket_count, 23u);
  VoHashTableDestroy(t);
}

TEST_F(ServicesTest, RandomNumbersFollowTheDrand48RecurrenceAndTheTableWraps) {
  VoRandomInitialise(0);
  EXPECT_EQ(VoRandomInt32(), 366850414);
  VoRandomInitialise(1);
  EXPECT_EQ(VoRandomInt32(), 89400484);
  for (int32_t seed : {1, 12345, -5, 0x7FFFFFFF}) {
    VoRandomInitialise(seed);
    srand48(seed);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(VoRandomInt32(), static_cast<int32_t>(lrand48())) << seed;
  }
  // A private state runs the same recurrence; a copy continues its sequence.
  VtRandomState *a = VoRandomStateCreate();
  ASSERT_EQ(VoRandomStateSeed(42, a), 0u);
  VoRandomInitialise(42);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(VoRandomStateDouble(a), VoRandomDouble());
  VtRandomState *copy = VoRandomStateCopy(a);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(VoRandomStateDouble(copy), VoRandomStateDouble(a));
  EXPECT_EQ(VoRandomStateDestroy(a), 0u);  // the copy is left for the kernel to free with its pool

  // A float stays below 1 where the next value, 2^31 - 1, rounds to 1.0f.
  const uint64_t multiplier = 0x5DEECE66DULL, mask = (1ULL << 48) - 1;
  uint64_t inverse = 1;  // its inverse mod 2^48 by Newton's iteration
  for (int i = 0; i < 6; ++i) inverse = (inverse * (2 - multiplier * inverse)) & mask;
  const uint64_t x = (inverse * ((mask - 0xB) & mask)) & mask;
  RandomState &s = Kernel()->maths.random;
  s.x0 = x & 0xFFFF;
  s.x1 = (x >> 16) & 0xFFFF;
  s.x2 = static_cast<uint32_t>(x >> 32);
  EXPECT_EQ(VoRandomFloat(), std::nextafter(1.0f, 0.0f));

  // The random table wraps to its first entry.
  KernelMaths &m = Kernel()->maths;
  EXPECT_EQ(m.table_length, 100u);  // made with the kernel pools
  ASSERT_EQ(VoRandomTableCreate(3), 0u);
  for (float expected :
       {m.table[0], m.table[1], m.table[2], m.table[0], m.table[0]})  // entry 0 twice at the end
    EXPECT_EQ(VoRandomTableNext(), expected);
  VoDeallocate(m.table);  // as before the kernel pools are made
  m.table = nullptr;
  EXPECT_EQ(VoRandomTableNext(), 0.0f);
}

TEST_F(ServicesTest, FastSquareRootsStayWithinTheirBoundAndMatricesInvertOrStayUntouched) {
  EXPECT_EQ(VoSqrtFast(-4.0f), 2.0f);  // the sign is ignored
  EXPECT_EQ(std::bit_cast<uint32_t>(VoSqrtFast(2.0f)), std::bit_cast<uint32_t>(std::sqrt(2.0f)));
  EXPECT_EQ(VoSqrtFast(-0.0f), 0.0f);
  EXPECT_EQ(VoInvSqrtFast(0.0f), INFINITY);
  const float tiny = std::numeric_limits<float>::denorm_min() * 4;  // below the tables' exponents
  EXPECT_EQ(VoSqrtFast(tiny), std::sqrt(tiny));
  const double bound = std::ldexp(1.0, -11);
  for (uint32_t bits = 0x00800000; bits < 0x7F800000; bits += 997) {
    const float x = std::bit_cast<float>(bits);
    const double exact = std::sqrt(static_cast<double>(x));
    ASSERT_LE(std::fabs(VoSqrtFast(x) / exact - 1.0), bound) << x;
    ASSERT_LE(std::fabs(VoInvSqrtFast(x) * exact - 1.0), bound) << x;
  }

  // Matrices: times the inverse, the identity.
  double id[16], inv[16], product[16];
  VoMatrixIdentity(id);
  const double m[16] = {2, 0.5, -1, 0, 1, 3, 0.25, 0, -0.5, 1, 4, 0, 10, -20, 5, 1};
  const double det = VoMatrixDeterminant(m);
  EXPECT_NEAR(det, 2 * (12 - 0.25) - 0.5 * (4 + 0.125) - 1 * (1 + 1.5), 1e-12);
  ASSERT_EQ(VoMatrixInverse(m, det, inv), 0u);
  VoMatrixCopy(product, m);
  VoMatrixMultiply(product, product, inv);  // the result may be one of the factors
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(product[i], id[i], 1e-12) << i;
  // A singular matrix leaves the result untouched.
  double singular[16] = {1, 2, 3, 4, 2, 4, 6, 8, 0, 1, 0, 1, 5, 5, 5, 5};
  EXPECT_EQ(VoMatrixDeterminant(singular), 0.0);
  EXPECT_EQ(VoMatrixInverse(singular, 0.0, product), VO_STATUS_BAD_ARGUMENT);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(product[i], id[i], 1e-12) << i;
}

TEST_F(ServicesTest, LocksNestBackToZeroAndExcludeOtherThreads) {
  VtLock *lock = VoLockCreate();
  ASSERT_NE(lock, nullptr);
  VoLockAcquire(lock, 1);
  VoLockAcquire(lock, 1);  // re-entry by the owner is allowed and noted
  VoLockEnter(lock);
  EXPECT_EQ(lock->first.count, 3u);
  ASSERT_EQ(CountPosted(823), 1);
  EXPECT_EQ(g_posted.back().status, 0x10000002u);
  EXPECT_EQ(g_posted.back().args[0].value.p, lock);  // the whole address, not 32 bits of it
  for (int i = 0; i < 4; ++i) VoLockRelease(lock);   // the fourth is unbalanced: the count stays at 0
  EXPECT_EQ(lock->first.count, 0u);
  EXPECT_EQ(*lock->first.mutex, 0u);

  long counter = 0;
  std::vector<std::thread> threads;
  for (uint32_t id = 1; id <= 4; ++id)
    threads.emplace_back([&, id] {
      ThreadIdentitySet(id);
      for (int i = 0; i < 20000; ++i) {
        VoLockEnter(lock);
        VoLockEnter(lock);  // recursive for this thread only
        ++counter;
        VoLockLeave(lock);
        VoLockLeave(lock);
      }
    });
  for (auto &t : threads) t.join();
  EXPECT_EQ(counter, 80000);
  EXPECT_EQ(VoLockDestroy(lock), 0u);
}

VtStatus CountEnd(void *argument) {
  ++*static_cast<int *>(argument);
  return 0;
}

TEST_F(ServicesTest, ThreadRecordsTurnThreadingOnAndOff) {
  EXPECT_FALSE(KernelThreading());
  int ended = 0;
  VtThread *a = VoThreadRecordCreate(nullptr, &ended, &CountEnd);
  VtThread *b = VoThreadRecordCreate(nullptr, &ended, &CountEnd);
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(KernelThreading());
  // While threading is on, a diagnostic takes the kernel lock and gives it back.
  Post(VO_CLASS_DEBUG, 1, VO_MODULE_SYSTEM);
  EXPECT_EQ(Kernel()->threads.lock.first.count, 0u);

  uint32_t status = 99;
  EXPECT_EQ(VoThreadRecordDestroy(a, &status), 0u);
  EXPECT_EQ(status, 0u);
  EXPECT_TRUE(KernelThreading());
  EXPECT_EQ(VoThreadRecordDestroy(a, &status), VO_STATUS_BAD_ARGUMENT);  // already gone
  EXPECT_EQ(VoThreadRecordDestroy(b, &status), 0u);
  EXPECT_FALSE(KernelThreading());
  EXPECT_EQ(ended, 2);
  // Records left at shutdown are freed with the table.
  ASSERT_NE(VoThreadRecordCreate(nullptr, nullptr, nullptr), nullptr);
}

// Module state records; a copy holds the value plus 1000.
struct State {
  int value;
};
std::vector<int> g_copied;
VtStatus CopyState(void *state, void **copy) {
  g_copied.push_back(static_cast<State *>(state)->value);
  *copy = new State{static_cast<State *>(state)->value + 1000};
  return 0;
}
VtStatus FreeState(void *copy) {
  delete static_cast<State *>(copy);
  return 0;
}

TEST_F(ServicesTest, ContextVariablesGrowAndCopyInRegistrationOrder) {
  VtContextVariables &c = Kernel()->threads.contexts;
  EXPECT_EQ(c.table_size, 50u);
  State geometry{2}, farm{82}, shader{5};
  ModuleState<State> geometry_state(2), farm_state(82), shader_state(5);
  ASSERT_EQ(geometry_state.Register(&geometry, &CopyState, &FreeState), 0u);
  ASSERT_EQ(farm_state.Register(&farm, &CopyState, &FreeState), 0u);
  EXPECT_EQ(c.table_size, 83u);
  ASSERT_EQ(shader_state.Register(&shader, &CopyState, &FreeState, reinterpret_cast<VtProc>(&VoCallBackNull)),
            0u);
  EXPECT_EQ(VoContextVariablesRegister(0x10000, &geometry, nullptr, nullptr, nullptr),
            VO_STATUS_BAD_ARGUMENT);

  // A worker thread's copies are its own; other threads see the masters.
  g_copied.clear();
  int worker_value = 0;
  State *other_thread = nullptr;
  std::thread([&] {
    ThreadIdentitySet(1);
    ASSERT_EQ(VoContextVariablesCopyAll(), 0u);
    EXPECT_EQ(VoContextVariablesCopyAll(), VO_STATUS_BAD_ARGUMENT);  // one table per thread
    geometry_state.Get()->value += 1;
    worker_value = geometry_state.Get()->value;
    EXPECT_EQ(shader_state.Get()->value, 1005);
    std::thread([&] { other_thread = geometry_state.Get(); }).join();
    EXPECT_EQ(VoContextVariablesFreeAll(), 0u);
  }).join();
  EXPECT_EQ(g_copied, (std::vector<int>{2, 82, 5}));
  EXPECT_EQ(worker_value, 1003);
  EXPECT_EQ(other_thread, &geometry);
  EXPECT_EQ(geometry.value, 2);
  EXPECT_EQ(geometry_state.Get(), &geometry);

  // A second registration replaces the first: copies are made once.
  ASSERT_EQ(geometry_state.Register(&geometry, &CopyState, &FreeState), 0u);
  EXPECT_EQ(shader_state.Unregister(), 0u);
  g_copied.clear();
  ASSERT_EQ(VoContextVariablesCopyAll(), 0u);
  EXPECT_EQ(g_copied, (std::vector<int>{2, 82}));
  EXPECT_EQ(shader_state.Get(), nullptr);
  // Copies still held at shutdown are freed with the registry.
}

}  // namespace
}  // namespace vo::test
