// The 48-bit linear congruential generator (the drand48 recurrence) with its
// shared and private states, and the random-float table.

#include <cmath>
#include <cstring>

#include "kernel/vosystem/maths.h"
#include "kernel/vosystem/message_numbers.h"
#include "kernel/vosystem/registry.h"

// A private generator state handle: a block holding the pointer to its
// state block; both come from the kernel's random-state pool. The handle's
// second word is its check word from creation to destroy, so that a state
// destroyed, or a record of another kind, is refused by one compare before
// its state pointer is followed.
struct VtRandomState {
  vo::RandomState *state;
  uintptr_t check;
};

namespace vo {

namespace {

constexpr uint64_t kMultiplier = 0x5DEECE66DULL;
constexpr uint64_t kIncrement = 0xB;
constexpr uint64_t kMask48 = (1ULL << 48) - 1;
constexpr double kScale31 = 1.0 / 2147483648.0;  // 2^-31
constexpr uint32_t kTableStart = 100;

uint64_t Value(const RandomState &s) {
  return (uint64_t{s.x2 & 0xFFFF} << 32) | (uint64_t{s.x1 & 0xFFFF} << 16) | (s.x0 & 0xFFFF);
}

// Steps the state and answers its top 31 bits.
uint32_t Step(RandomState &s) {
  const uint64_t x = (kMultiplier * Value(s) + kIncrement) & kMask48;
  s.x0 = static_cast<uint32_t>(x & 0xFFFF);
  s.x1 = static_cast<uint32_t>((x >> 16) & 0xFFFF);
  s.x2 = static_cast<uint32_t>(x >> 32);
  return static_cast<uint32_t>(x >> 17);
}

void Seed(RandomState &s, int32_t seed) {
  const auto bits = static_cast<uint32_t>(seed);
  s.x0 = 0x330E;
  s.x1 = bits & 0xFFFF;
  s.x2 = bits >> 16;
}

constexpr uintptr_t kRandomStateLive = 0x7a4d0e57a7e0c4ecu;

bool HandleRefused(const VtRandomState *handle, const char *procedure) {
  if (handle->check == kRandomStateLive) [[likely]]
    return false;
  Post(VO_STATUS_BAD_ARGUMENT, messages::kObjectNotLive, VO_MODULE_SYSTEM, procedure,
       static_cast<const void *>(handle), "random state");
  return true;
}

RandomState *Shared() {
  VtKernelContext *k = Kernel();
  return k ? &k->maths.random : nullptr;
}

VtPool *StatePool() {
  VtKernelContext *k = Kernel();
  return k ? k->memory.random_pool : nullptr;
}

}  // namespace

VtStatus VoRandomInitialise(int32_t seed) {
  if (RandomState *s = Shared()) Seed(*s, seed);
  return 0;
}

int32_t VoRandomInt32() {
  RandomState *s = Shared();
  return s ? static_cast<int32_t>(Step(*s)) : 0;
}

double VoRandomDouble() {
  RandomState *s = Shared();
  return s ? Step(*s) * kScale31 : 0.0;
}

float VoRandomFloat() {
  // Rounded to float, the largest values would become 1.0.
  constexpr float kBelowOne = 0x1.fffffep-1f;
  const auto f = static_cast<float>(VoRandomDouble());
  return f < kBelowOne ? f : kBelowOne;
}

VtRandomState *VoRandomStateCreate() {
  VtPool *pool = StatePool();
  if (pool == nullptr) return nullptr;
  auto *handle = static_cast<VtRandomState *>(VoPoolAllocate(pool));
  auto *state = static_cast<RandomState *>(VoPoolAllocate(pool));
  if (handle == nullptr || state == nullptr) {
    VoPoolFree(pool, handle);
    VoPoolFree(pool, state);
    return nullptr;
  }
  *state = RandomState{};
  handle->state = state;
  handle->check = kRandomStateLive;
  return handle;
}

VtStatus VoRandomStateSeed(int32_t seed, VtRandomState *handle) {
  if (handle == nullptr || HandleRefused(handle, "VoRandomStateSeed")) return VO_STATUS_BAD_ARGUMENT;
  Seed(*handle->state, seed);
  return 0;
}

double VoRandomStateDouble(VtRandomState *handle) {
  if (handle == nullptr || HandleRefused(handle, "VoRandomStateDouble")) return 0.0;
  return Step(*handle->state) * kScale31;
}

VtRandomState *VoRandomStateCopy(VtRandomState *handle) {
  if (handle == nullptr || HandleRefused(handle, "VoRandomStateCopy")) return nullptr;
  VtRandomState *copy = VoRandomStateCreate();
  if (copy != nullptr) *copy->state = *handle->state;
  return copy;
}

VtStatus VoRandomStateDestroy(VtRandomState *handle) {
  VtPool *pool = StatePool();
  if (handle == nullptr || pool == nullptr) return 0;
  if (HandleRefused(handle, "VoRandomStateDestroy")) return VO_STATUS_BAD_ARGUMENT;
  handle->check = 0;
  VoPoolFree(pool, handle->state);
  VoPoolFree(pool, handle);
  return 0;
}

VtStatus VoRandomTableCreate(int32_t count) {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return VO_STATUS_NOT_INITIALISED;
  if (count < 1) return 0;
  if (uint64_t(count) * sizeof(float) > UINT32_MAX) return VO_STATUS_NO_MEMORY;
  auto *table = static_cast<float *>(VoAllocate(static_cast<uint32_t>(count * sizeof(float))));
  if (table == nullptr) return VO_STATUS_NO_MEMORY;
  for (int32_t i = 0; i < count; ++i) table[i] = VoRandomFloat();
  VoDeallocate(k->maths.table);
  k->maths.table = table;
  k->maths.table_length = static_cast<uint32_t>(count);
  k->maths.table_index = 0;
  return 0;
}

void VoRandomTableSeek() {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return;
  KernelMaths &m = k->maths;
  if (m.table_length == 0) {
    m.table_index = 0;
    return;
  }
  const auto i = static_cast<uint32_t>(VoRandomFloat() * static_cast<double>(m.table_length));
  m.table_index = i < m.table_length ? i : m.table_length - 1;
}

float VoRandomTableNext() {
  VtKernelContext *k = Kernel();
  if (k == nullptr || k->maths.table == nullptr || k->maths.table_length == 0) return 0.0f;
  KernelMaths &m = k->maths;
  if (m.table_index < m.table_length) return m.table[m.table_index++];
  m.table_index = 0;
  return m.table[0];
}

VtStatus KernelRandomMake(VtKernelContext *k) {
  Seed(k->maths.random, 1);
  return k->maths.table ? 0 : VoRandomTableCreate(kTableStart);
}

VtStatus KernelMathsStop() {
  VtKernelContext *k = Kernel();
  if (k == nullptr) return 0;
  VoDeallocate(k->maths.table);
  k->maths.table = nullptr;
  k->maths.table_length = k->maths.table_index = 0;
  // Private states still held go with their pool.
  VtStatus s = VoPoolDispose(k->memory.random_pool);
  k->memory.random_pool = nullptr;
  return s;
}

}  // namespace vo
