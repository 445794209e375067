// A call a second application thread starts just before the first thread's
// render takes ownership ends before that render reads anything: the
// render's start waits for it, and every call started later is refused
// with 2908 until the render ends. Seeded rounds: the second thread gives
// back lists whose destructor (the application's, run inside the library's
// call) lasts a while and toggles a light's intensity, while the first
// starts renders at seeded moments; no destructor runs while a render runs,
// the render's first report never finds one running, and every picture is
// the picture of one of the two intensities.
// Every exported procedure from a second thread, by its class while a render
// runs (the table of exported procedures), with the default error handler
// or one of the application's that reads, allocates and changes before it
// prints: each read and utility is looped, given the stage's own objects,
// while the first thread renders on 4 workers, and every render ends and
// draws as alone; every other procedure is refused with 0x20000012 and its
// 2908 printed, once. A hang ends the row's process by its alarm.

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kernel/vosystem/api_table.h"
#include "misuse/stage.h"
#include "support/forked.h"
#include "support/sanitized.h"

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

// ---- Every procedure from a second thread, by its class ---------------------

using vo::api::kFunctions;
using vo::api::VtApiFunction;

// Calls fn: a handle is the stage's object of its kind (else null), what is
// passed by address a zeroed block, the rest zero.
VtTypedValue Call(const VtApiFunction &fn, const Stage &stage) {
  uint64_t blocks[16][64] = {};
  uintptr_t slots[16] = {};
  void *argv[16];
  for (uint32_t i = 0; i < fn.param_count && i < 16; ++i) {
    const vo::api::VtApiParam &p = fn.params[i];
    const std::string type = p.type_name;
    argv[i] = &slots[i];
    if (p.kind == vo::api::kKindHandle && p.flags == vo::api::kParamIn)
      slots[i] = reinterpret_cast<uintptr_t>(type == "VtPrimitive"  ? static_cast<void *>(stage.primitive())
                                             : type == "VtMaterial" ? static_cast<void *>(stage.material())
                                             : type == "VtShader"   ? static_cast<void *>(stage.point_light())
                                             : type == "VtReference"    ? static_cast<void *>(stage.list())
                                             : type == "VtScreenBuffer" ? static_cast<void *>(stage.buffer())
                                                                        : nullptr);
    else if (p.flags != vo::api::kParamIn ||
             (p.kind > vo::api::kKindFunc && p.kind != vo::api::kKindHandle) ||
             p.kind == vo::api::kKindString)
      slots[i] = reinterpret_cast<uintptr_t>(blocks[i]);
  }
  VtTypedValue result{};
  fn.thunk(argv, &result);
  return result;
}

// The application's handler: a read, a utility and a change (refused on
// the second thread while a render runs, posting nothing from inside the
// refusal's post), then the default handler's line.
constinit thread_local bool t_second = false;
std::atomic<int> g_handler_faults{0};
VtStatus OwnHandler(VtStatus status, uint32_t message, uint32_t module, uint32_t count, VtTypedValue *args) {
  VtTypedValue v{};
  VoDeallocate(VoAllocate(32));
  const bool read = VoControlGet(VO_CONTROL_MT_WORKERS, &v) == 0;
  if (t_second && message == 2908 && (!read || VoControlSet(VO_CONTROL_MT_WORKERS, &v) == 0))
    ++g_handler_faults;
  return VoErrorHandlerDefault(status, message, module, count, args);
}

std::string EveryClassFromASecondThread(VtErrorHandler handler) {
  alarm(60);
  std::FILE *log = std::tmpfile();
  VtTypedValue stream{}, band{};
  stream.type = VtGenericPtr, stream.value.p = log;
  band.type = VtNat32, band.value.u = 1;  // the stage's 12 rows are 4 workers' bands
  if (VoInitialise() != 0 || VoControlSet(VO_CONTROL_ERROR_STREAM, &stream) != 0 ||
      VoControlSet(VO_CONTROL_MT_THREADED_BAND, &band) != 0 ||
      VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(handler)) != 0)
    return "the library did not start";
  const Stage &stage = *new Stage(misuse::Square());  // left to the process's end
  const uint32_t codes[2] = {0x200001, 0x70001};
  std::vector<float> alone[2], picture;
  for (int i = 0; i < 2; ++i) (void)stage.Render(codes[i], 4, &alone[i]);
  std::string fault;
  std::atomic<bool> rendered{false};
  std::thread second([&] {
    for (int round = 0; !rendered.load() || round < 2; ++round)
      for (size_t i = 0; i < vo::api::kFunctionCount; ++i)
        if (kFunctions[i].during <= vo::api::kDuringUtility) (void)Call(kFunctions[i], stage);
  });
  for (int r = 0; r < 50; ++r)
    if (stage.Render(codes[r % 2], 4, &picture) != 0 || picture != alone[r % 2])
      fault += "a render drew otherwise; ";
  rendered.store(true);
  second.join();
  // The other classes while a render's first report waits; what they print is read from the mark on.
  std::fflush(log);
  const long mark = std::ftell(log);
  static std::function<void()> act;
  act = [&] {
    std::thread([&] {
      t_second = true;
      for (size_t i = 0; i < vo::api::kFunctionCount; ++i)
        if (const VtApiFunction &fn = kFunctions[i]; fn.during > vo::api::kDuringUtility) {
          const VtTypedValue r = Call(fn, stage);
          if (fn.result_type == VtStatusType ? r.value.u != VO_STATUS_BAD_ARGUMENT : r.value.bits != 0)
            fault += std::string(fn.name) + " was not refused; ";
        }
    }).join();
    act = nullptr;
  };
  (void)VoCallBackSet(VO_CALLBACK_PROGRESS,
                      reinterpret_cast<VtProc>(+[](uint32_t, VtTypedValue *) -> VtStatus {
                        if (act) act();
                        return 0;
                      }));
  if (stage.Render(codes[0], 4, &picture) != 0 || picture != alone[0])
    fault += "the held render drew otherwise; ";
  if (g_handler_faults.load() != 0) fault += "the handler's read failed or its change passed; ";
  std::fflush(log);
  std::fseek(log, mark, SEEK_SET);
  std::map<std::string, int> printed, rows;
  char line[512];
  while (std::fgets(line, sizeof line, log) != nullptr)
    if (const char *at = std::strstr(line, "diagnostic code 2908 [ \""))
      ++printed[std::string(at + 24, std::strcspn(at + 24, "\""))];
  static const char *const kClasses[] = {"read",    "utility", "immediate", "change",
                                         "release", "nested",  "refused"};
  for (size_t i = 0; i < vo::api::kFunctionCount; ++i) {
    ++rows[kClasses[kFunctions[i].during]];
    if (kFunctions[i].during > vo::api::kDuringUtility && printed[kFunctions[i].name] != 1)
      fault += std::string(kFunctions[i].name) + "'s 2908 was not printed once; ";
  }
  for (const auto &[name, count] : rows) std::printf("class %s: %d procedures\n", name.c_str(), count);
  std::fflush(stdout);
  return fault;
}

TEST(RenderOwnership, EveryProcedureFromASecondThreadAnswersByItsClassWithAnyErrorHandler) {
  // Some read calls still race with what the running render writes (its
  // shade context, its driver's state stack): their answers and the
  // pictures hold in the other builds, and ThreadSanitizer lists them.
  if (vo::test::kThreadSanitized)
    GTEST_SKIP() << "read calls racing with the render's writes are still listed";
  for (VtErrorHandler handler : {&VoErrorHandlerDefault, &OwnHandler}) {
    SCOPED_TRACE(handler == &OwnHandler ? "the application's handler" : "the default handler");
    EXPECT_EQ(vo_test::ForkedFault([&] { return EveryClassFromASecondThread(handler); }), "");
  }
}

}  // namespace
