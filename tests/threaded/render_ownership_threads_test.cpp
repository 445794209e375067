// A call a second application thread starts just before the first thread's
// render takes ownership ends before that render reads anything: the
// render's start waits for it, and every call started later is refused
// with 2908 until the render ends. Seeded rounds: the second thread gives
// back lists whose destructor (the application's, run inside the library's
// call) lasts a while and toggles a light's intensity, while the first
// starts renders at seeded moments; no destructor runs while a render runs,
// the render's first report never finds one running, and every picture is
// the picture of one of the two intensities.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

#include "misuse/stage.h"

namespace {

using misuse::Stage;

std::atomic<bool> g_rendering{false}, g_in_destructor{false};
std::atomic<int> g_overlaps{0}, g_refused{0}, g_destroyed{0};
std::atomic<uint32_t> g_spin{0};

VtStatus Destructor(void *) {
  g_in_destructor.store(true);
  if (g_rendering.load()) ++g_overlaps;
  // Long enough that a render started meanwhile reports inside it.
  const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(g_spin.load());
  while (std::chrono::steady_clock::now() < until) std::this_thread::yield();
  g_in_destructor.store(false);
  ++g_destroyed;
  return 0;
}

VtStatus Progress(uint32_t, VtTypedValue *) {
  g_rendering.store(true);
  if (g_in_destructor.load()) ++g_overlaps;
  return 0;
}

// Called as the render ends, before it gives up ownership.
VtStatus Ended(uint32_t status) {
  g_rendering.store(false);
  return status;
}

VtStatus Refusals(VtStatus, uint32_t message, uint32_t, uint32_t, VtTypedValue *) {
  if (message == 2908) ++g_refused;
  return 0;
}

VtStatus Intensity(VtShader *light, float value) {
  VtTypedValue v{};
  v.type = VtFloat;
  v.value.f = value;
  return VoShaderSetArg(light, "intensity", &v);
}

TEST(RenderOwnership, ASecondThreadsCallStartedBeforeARenderEndsBeforeTheRenderReadsAnything) {
  ASSERT_EQ(VoInitialise(), 0u);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&Refusals)), 0u);
  {
    const Stage stage(misuse::Square());
    ASSERT_TRUE(stage.ok());
    // The two pictures a render may draw: one of each intensity.
    std::vector<float> pictures[2];
    for (int i = 0; i < 2; ++i) {
      ASSERT_EQ(Intensity(stage.point_light(), i == 0 ? 0.25f : 1.0f), 0u);
      ASSERT_EQ(stage.Render(0xc0001, 0, &pictures[i]), 0u);
    }
    ASSERT_NE(pictures[0], pictures[1]);
    ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&Progress)), 0u);
    ASSERT_EQ(VoCallBackSet(VO_CALLBACK_POST_EXECUTE, reinterpret_cast<VtProc>(&Ended)), 0u);
    std::atomic<bool> stop{false};
    std::mt19937 seeded(0x101b);
    std::thread second([&, seed = seeded()] {
      std::mt19937 rng(seed);
      static int data[8];
      void *array[8];
      for (int i = 0; i < 8; ++i) array[i] = &data[i];
      for (uint32_t round = 0; !stop.load(); ++round) {
        g_spin.store(rng() % 400);
        VtReference *list = VoReferenceListCreateFromArray(1 + rng() % 8, array);
        // Refused while a render runs: tried again until it is given back.
        while (list != nullptr && VoReferenceListDestroy(list, &Destructor) != 0 && !stop.load())
          std::this_thread::yield();
        (void)Intensity(stage.point_light(), round % 2 == 0 ? 0.25f : 1.0f);
      }
    });
    int rounds = 0, mismatches = 0;
    for (; rounds < 300; ++rounds) {
      std::this_thread::sleep_for(std::chrono::microseconds(seeded() % 500));
      std::vector<float> picture;
      EXPECT_EQ(stage.Render(0xc0001, rounds % 3 == 0 ? 4 : 0, &picture), 0u);
      mismatches += picture != pictures[0] && picture != pictures[1];
    }
    stop.store(true);
    second.join();
    std::printf("%d renders, %d lists given back, %d calls refused with 2908\n", rounds, g_destroyed.load(),
                g_refused.load());
    EXPECT_EQ(g_overlaps.load(), 0) << "a second thread's call ran while a render ran";
    EXPECT_EQ(mismatches, 0) << "a picture drew neither intensity";
    EXPECT_GT(g_refused.load(), 0) << "no call met a running render";
    EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr), 0u);
    EXPECT_EQ(VoCallBackSet(VO_CALLBACK_POST_EXECUTE, nullptr), 0u);
  }
  EXPECT_EQ(VoTerminate(), 0u);
}

}  // namespace
