// Opening files, the time value, marshalling, named timers and the timing of VoExecute.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using vo_test::Recorded;
using vo_test::WithMessage;

// Opens the file with the flags, writes the text, and answers what the file holds then.
std::string OpenWrite(const std::string &path, uint32_t flags, const char *text) {
  auto *f = static_cast<std::FILE *>(vo::VoFileOpen(path.c_str(), flags));
  if (f == nullptr) return "<not opened>";
  EXPECT_GE(std::fputs(text, f), 0);
  vo::VoFileClose(f);
  f = static_cast<std::FILE *>(vo::VoFileOpen(path.c_str(), 1));
  char all[16] = {};
  std::fread(all, 1, sizeof all - 1, f);
  EXPECT_EQ(std::fputc('z', f), EOF);  // 1 is read only
  vo::VoFileClose(f);
  return all;
}

TEST(Files, ModesOpenAsTheirFlagsSayAndFailuresAreReportedUnlessQuiet) {
  vo_test::Kernel kernel;
  vo_test::TempDir dir;
  const std::string path = dir.File("data.txt");
  EXPECT_EQ(OpenWrite(path, 2, "abcdef"), "abcdef");
  EXPECT_EQ(OpenWrite(path, 3, "!"), "abcdef!");
  EXPECT_EQ(OpenWrite(path, 0x21, "XY"), "XYcdef!");  // read with update: it can write too
  EXPECT_EQ(OpenWrite(path, 2, ""), "");              // write empties the file
  EXPECT_TRUE(Recorded().empty());

  const std::string missing = "/nonexistent-vo-directory/file.txt";
  EXPECT_EQ(vo::VoFileOpen(missing.c_str(), 4), nullptr);
  ASSERT_EQ(WithMessage(365).size(), 1u);
  EXPECT_EQ(WithMessage(365)[0].args[0].value.i, 4);
  Recorded().clear();
  for (uint32_t flags : {1u, 2u, 0x23u}) EXPECT_EQ(vo::VoFileOpen(missing.c_str(), flags), nullptr);
  ASSERT_EQ(Recorded().size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(Recorded()[i].message, 362 + i);
    EXPECT_EQ(Recorded()[i].strings, std::vector<std::string>{missing});
  }
  Recorded().clear();
  EXPECT_EQ(vo::VoFileOpen(missing.c_str(), 0x12), nullptr);  // quiet
  EXPECT_EQ(vo::VoFileOpen(nullptr, 0x11), nullptr);
  EXPECT_TRUE(Recorded().empty());
}

TEST(Files, TheTimeValueIsWrittenThroughItsControlAndMarshallingWaitsForThePools) {
  int x = 0;
  void *out = &out;
  EXPECT_EQ(vo::VoFileOpen("/nonexistent-vo-directory/x", 9), nullptr);  // no kernel: no report
  ASSERT_EQ(vo::VoSystemInitialise(), 0u);
  EXPECT_EQ(vo::VoMarshalValue(&x, &out), VO_STATUS_ERROR_BAD_ARGUMENT);  // no pools yet
  vo::VoSystemStart();
  EXPECT_EQ(vo::VoMarshalValue(&x, &out), 0u);
  EXPECT_EQ(out, static_cast<void *>(&x));
  // The time value is written through the address its control answers.
  VtTypedValue v{};
  ASSERT_EQ(vo::VoControlGet(VO_CONTROL_TIME_VALUE, &v), 0u);
  *static_cast<double *>(v.value.p) = 12.25;
  EXPECT_EQ(vo::VoTimeGet(), 12.25);
  vo::VoSystemTerminate();
}

// A clock that answers the samples it is given, one by one.
std::vector<double> g_samples;
size_t g_next = 0;
double FakeSample(const void *) { return g_next < g_samples.size() ? g_samples[g_next++] : 0.0; }
const char *FakeUnits() { return "ticks"; }
const char *FakeName() { return "fake"; }
VtClockKind g_fake = {&FakeSample, &FakeUnits, &FakeName};

// One run of the fake clock per pair of samples, each after a reset: last, mean and deviation.
std::vector<double> Runs(VtTimer *t, std::vector<double> samples) {
  g_samples = std::move(samples);
  g_next = 0;
  for (size_t i = 0; i < g_samples.size(); i += 2) {
    vo::VoTimerReset(t);
    EXPECT_EQ(vo::VoTimerAddClock(t, &g_fake), 0u);
    vo::VoTimerStart(t);
    vo::VoTimerStop(t);
  }
  EXPECT_EQ(vo::VoTimerReport(t), 0u);
  auto r = WithMessage(852);
  if (r.empty() || r.back().args.size() != 6) return {};
  EXPECT_EQ(r.back().strings, (std::vector<std::string>{t->name ? t->name : "<no name>", "fake", "ticks"}));
  return {r.back().args[2].value.d, r.back().args[4].value.d, r.back().args[5].value.d};
}

TEST(Timers, TimersKeepStatisticsOfTheirRunsAndRefuseASixthClock) {
  vo_test::Kernel kernel;
  VtTimer *t = vo::VoTimerGet("frame", nullptr);
  ASSERT_NE(t, nullptr);
  // A reset keeps the clock's statistics in its slot; the same name finds the same timer.
  EXPECT_EQ(Runs(t, {0, 1}), (std::vector<double>{1, 1, 0}));
  EXPECT_EQ(vo::VoTimerGet("frame", nullptr), t);
  auto r = Runs(t, {10, 13});
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[1], 2.0);
  EXPECT_NEAR(r[2], 1.41421, 1e-5);
  // Three equal runs: the radicand rounds below 0, the deviation stays 0.
  r = Runs(vo::VoTimerGet("even", nullptr), {0, 0.1, 0, 0.1, 0, 0.1});
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[2], 0.0);
  // A slot refilled with another kind of clock starts afresh.
  vo::VoTimerReset(t);
  ASSERT_EQ(vo::VoTimerAddClock(t, const_cast<VtClockKind *>(vo::ClockKindGet(vo::kClockCpu))), 0u);
  EXPECT_EQ(t->clocks[0]->count, 0u);

  // A sixth clock, an unknown timer and a missing kind are refused.
  t = vo::VoTimerGet(nullptr, nullptr);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(vo::VoTimerAddClock(t, &g_fake), 0u);
  EXPECT_EQ(vo::VoTimerAddClock(t, &g_fake), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(WithMessage(370).size(), 1u);
  EXPECT_EQ(t->clock_count, 5u);
  VtTimer stray{};
  EXPECT_EQ(vo::VoTimerStart(&stray), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(vo::VoTimerStop(nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(vo::VoTimerAddClock(t, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(WithMessage(369).size(), 3u);
}

TEST(Timers, TimedExecuteReportsEveryRepetition) {
  vo_test::Kernel kernel;
  VtTypedValue on = vo::TypedBoolean(true), repeat = vo::TypedNat32(2);
  ASSERT_EQ(vo::VoControlSet(VO_CONTROL_TIMING, &on), 0u);
  ASSERT_EQ(vo::VoControlSet(VO_CONTROL_REPEAT_COUNT, &repeat), 0u);
  Recorded().clear();
  EXPECT_EQ(vo::VoExecute(VO_EXECUTE_MODULES_REPORT), 0u);
  std::string clocks;
  for (const auto &d : WithMessage(852)) clocks += d.strings[0] + " " + d.strings[1] + ", ";
  EXPECT_EQ(clocks,
            "VoExecute wall, VoExecute user, VoExecute kernel, VoExecute wall, VoExecute user, "
            "VoExecute kernel, ");
}

}  // namespace
