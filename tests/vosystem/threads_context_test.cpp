// Locks, thread records, the threading flag and context variables with the
// module-state accessor.

#include <thread>
#include <vector>

#include "support/kernel_fixture.h"
#include "vomemman/pool.h"
#include "vosystem/context.h"
#include "vosystem/threads.h"

namespace vo::test {
namespace {

class ThreadsTest : public PooledKernelTest {};

TEST_F(ThreadsTest, LocksNestBackToZero) {
  VtLock *lock = VoLockCreate();
  ASSERT_NE(lock, nullptr);
  VoLockAcquire(lock, 1);
  EXPECT_EQ(CountPosted(823), 0);
  VoLockAcquire(lock, 1);  // re-entry by the owner is allowed and noted
  VoLockEnter(lock);
  EXPECT_EQ(lock->first.count, 3u);
  ASSERT_EQ(CountPosted(823), 1);
  EXPECT_EQ(g_posted.back().status, 0x10000002u);
  ASSERT_EQ(g_posted.back().args.size(), 1u);
  EXPECT_EQ(g_posted.back().args[0].type, static_cast<uint32_t>(VtGenericPtr));
  EXPECT_EQ(g_posted.back().args[0].value.p, lock);  // the whole address, not 32 bits of it
  VoLockLeave(lock);
  VoLockRelease(lock);
  VoLockRelease(lock);
  EXPECT_EQ(lock->first.count, 0u);
  EXPECT_EQ(*lock->first.mutex, 0u);
  VoLockRelease(lock);  // unbalanced: stays at 0
  EXPECT_EQ(lock->first.count, 0u);
  EXPECT_EQ(VoLockDestroy(lock), 0u);
}

TEST_F(ThreadsTest, LockExcludesOtherThreads) {
  VtLock *lock = VoLockCreate();
  long counter = 0;
  auto work = [&](uint32_t identity) {
    ThreadIdentitySet(identity);
    for (int i = 0; i < 20000; ++i) {
      VoLockEnter(lock);
      VoLockEnter(lock);  // recursive for this thread only
      long seen = counter;
      counter = seen + 1;
      VoLockLeave(lock);
      VoLockLeave(lock);
    }
  };
  std::vector<std::thread> threads;
  for (uint32_t id = 1; id <= 4; ++id) threads.emplace_back(work, id);
  for (auto &t : threads) t.join();
  EXPECT_EQ(counter, 80000);
  EXPECT_EQ(lock->first.count, 0u);
  EXPECT_EQ(VoLockDestroy(lock), 0u);
}

VtStatus CountEnd(void *argument) {
  ++*static_cast<int *>(argument);
  return 0;
}

TEST_F(ThreadsTest, ThreadRecordsTurnThreadingOnAndOff) {
  VtKernelContext *k = Kernel();
  EXPECT_FALSE(KernelThreading());
  EXPECT_EQ(VoThreadMainGet(), 0u);
  int ended = 0;
  VtThread *a = VoThreadRecordCreate(nullptr, &ended, &CountEnd);
  VtThread *b = VoThreadRecordCreate(nullptr, &ended, &CountEnd);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(KernelThreading());
  auto record = [&](VtThread *h) {
    return reinterpret_cast<ThreadRecord *>(
        VoHashTableExtractRecord(k->threads.thread_table, reinterpret_cast<uintptr_t>(h)));
  };
  EXPECT_EQ(record(a)->number, 0u);
  EXPECT_EQ(record(b)->number, 1u);
  EXPECT_EQ(a->word, 0u);

  // While threading is on, diagnostics and locked pools take their locks.
  Post(VO_CLASS_DEBUG, 1, VO_MODULE_SYSTEM);
  EXPECT_EQ(k->threads.lock.first.count, 0u);
  VtPool *pool = VoPoolCreate(0x110001, 8);
  VoPoolFree(pool, VoPoolAllocate(pool));
  EXPECT_EQ(pool->lock->first.count, 0u);
  VoPoolDispose(pool);

  uint32_t status = 99;
  EXPECT_EQ(VoThreadRecordDestroy(a, &status), 0u);
  EXPECT_EQ(status, 0u);
  EXPECT_TRUE(KernelThreading());
  EXPECT_EQ(VoThreadRecordDestroy(a, &status), VO_STATUS_BAD_ARGUMENT);  // already gone
  EXPECT_EQ(VoThreadRecordDestroy(b, &status), 0u);
  EXPECT_FALSE(KernelThreading());
  EXPECT_EQ(ended, 2);
  EXPECT_EQ(k->threads.thread_count, 0u);
  // Records left at shutdown are freed with the table.
  ASSERT_NE(VoThreadRecordCreate(nullptr, nullptr, nullptr), nullptr);
}

struct State {
  int value;
  int copies;
};
std::vector<uint32_t> g_copied;

VtStatus CopyState(void *state, void **copy) {
  auto *s = static_cast<State *>(state);
  ++s->copies;
  g_copied.push_back(static_cast<uint32_t>(s->value));
  *copy = new State{s->value + 1000, 0};
  return 0;
}

VtStatus FreeState(void *copy) {
  delete static_cast<State *>(copy);
  return 0;
}

TEST_F(ThreadsTest, ContextVariablesGrowAndCopyInRegistrationOrder) {
  VtContextVariables &c = Kernel()->threads.contexts;
  EXPECT_EQ(c.table_size, 50u);
  State geometry{2, 0}, farm{82, 0}, shader{5, 0};
  ModuleState<State> geometry_state(2), farm_state(82), shader_state(5);
  ASSERT_EQ(geometry_state.Register(&geometry, &CopyState, &FreeState), 0u);
  ASSERT_EQ(farm_state.Register(&farm, &CopyState, &FreeState), 0u);
  EXPECT_EQ(c.table_size, 83u);
  ASSERT_EQ(shader_state.Register(&shader, &CopyState, &FreeState, reinterpret_cast<VtProc>(&VoCallBackNull)),
            0u);
  EXPECT_EQ(VoContextVariablesRegister(0, &geometry, nullptr, nullptr, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoContextVariablesRegister(0x10000, &geometry, nullptr, nullptr, nullptr),
            VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoContextVariablesUnregister(77), 0u);  // never registered: nothing changes
  EXPECT_EQ(c.table[2], &geometry);

  g_copied.clear();
  EXPECT_EQ(geometry_state.Get(), &geometry);
  ASSERT_EQ(VoContextVariablesCopyAll(), 0u);
  EXPECT_EQ(g_copied, (std::vector<uint32_t>{2, 82, 5}));
  EXPECT_EQ(VoContextVariablesCopyAll(), VO_STATUS_BAD_ARGUMENT);  // one table per thread
  EXPECT_EQ(geometry_state.Get()->value, 1002);
  EXPECT_EQ(shader_state.Get()->value, 1005);
  EXPECT_EQ(shader_state.Master(), &shader);
  State *other_thread = nullptr;
  std::thread([&] { other_thread = geometry_state.Get(); }).join();
  EXPECT_EQ(other_thread, &geometry);  // the copies belong to this thread
  EXPECT_EQ(VoContextVariablesFreeAll(), 0u);
  EXPECT_EQ(geometry_state.Get(), &geometry);

  // A second registration replaces the first: copies are made once.
  ASSERT_EQ(geometry_state.Register(&geometry, &CopyState, &FreeState), 0u);
  EXPECT_EQ(shader_state.Unregister(), 0u);
  g_copied.clear();
  ASSERT_EQ(VoContextVariablesCopyAll(), 0u);
  EXPECT_EQ(g_copied, (std::vector<uint32_t>{2, 82}));
  EXPECT_EQ(shader_state.Get(), nullptr);
  // Copies still held at shutdown are freed with the registry.
}

TEST_F(ThreadsTest, WorkerThreadSeesItsOwnCopy) {
  State master{7, 0};
  ModuleState<State> state(9);
  ASSERT_EQ(state.Register(&master, &CopyState, &FreeState), 0u);
  int worker_value = 0;
  std::thread([&] {
    ThreadIdentitySet(1);
    ASSERT_EQ(VoContextVariablesCopyAll(), 0u);
    state.Get()->value += 1;
    worker_value = state.Get()->value;
    EXPECT_EQ(VoContextVariablesFreeAll(), 0u);
  }).join();
  EXPECT_EQ(worker_value, 1008);
  EXPECT_EQ(master.value, 7);
  EXPECT_EQ(state.Get(), &master);
  EXPECT_EQ(state.Unregister(), 0u);
}

}  // namespace
}  // namespace vo::test
