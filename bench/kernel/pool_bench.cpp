// Block pool against the runtime heap: 10^7 blocks of 8, 32 and 64 bytes,
// allocated in batches of 10^4 and freed in reverse order.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "bench_kernel.h"

namespace {

constexpr int kTotal = 10'000'000;
constexpr int kBatch = 10'000;

void BM_Pool(benchmark::State &state) {
  vo::bench::KernelStartOnce({});
  const auto size = static_cast<uint32_t>(state.range(0));
  VtPool *pool = vo::VoPoolCreate(0x110001, size);
  std::vector<void *> blocks(kBatch);
  for (auto _ : state) {
    for (int done = 0; done < kTotal; done += kBatch) {
      for (int i = 0; i < kBatch; ++i) blocks[i] = vo::VoPoolAllocate(pool);
      benchmark::DoNotOptimize(blocks.data());
      for (int i = kBatch - 1; i >= 0; --i) vo::VoPoolFree(pool, blocks[i]);
    }
  }
  state.SetItemsProcessed(state.iterations() * kTotal);
  vo::VoPoolDispose(pool);
}

void BM_Malloc(benchmark::State &state) {
  const auto size = static_cast<size_t>(state.range(0));
  std::vector<void *> blocks(kBatch);
  for (auto _ : state) {
    for (int done = 0; done < kTotal; done += kBatch) {
      for (int i = 0; i < kBatch; ++i) blocks[i] = std::malloc(size);
      benchmark::DoNotOptimize(blocks.data());
      for (int i = kBatch - 1; i >= 0; --i) std::free(blocks[i]);
    }
  }
  state.SetItemsProcessed(state.iterations() * kTotal);
}

// One block at a time: allocate and free at once.
void BM_PoolPair(benchmark::State &state) {
  vo::bench::KernelStartOnce({});
  VtPool *pool = vo::VoPoolCreate(0x110001, static_cast<uint32_t>(state.range(0)));
  for (auto _ : state) {
    for (int i = 0; i < kTotal; ++i) {
      void *b = vo::VoPoolAllocate(pool);
      benchmark::DoNotOptimize(b);
      vo::VoPoolFree(pool, b);
    }
  }
  state.SetItemsProcessed(state.iterations() * kTotal);
  vo::VoPoolDispose(pool);
}

void BM_MallocPair(benchmark::State &state) {
  const auto size = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    for (int i = 0; i < kTotal; ++i) {
      void *b = std::malloc(size);
      benchmark::DoNotOptimize(b);
      std::free(b);
    }
  }
  state.SetItemsProcessed(state.iterations() * kTotal);
}

}  // namespace

BENCHMARK(BM_Pool)->Arg(8)->Arg(32)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Malloc)->Arg(8)->Arg(32)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PoolPair)->Arg(8)->Arg(32)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MallocPair)->Arg(8)->Arg(32)->Arg(64)->Unit(benchmark::kMillisecond);
