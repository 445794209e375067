// Named timers, their statistics and the timing of VoExecute.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using vo_test::WithMessage;

// A clock that answers the samples it is given, one by one.
std::vector<double> g_samples;
size_t g_next = 0;
double FakeSample(const void *) { return g_next < g_samples.size() ? g_samples[g_next++] : 0.0; }
const char *FakeUnits() { return "ticks"; }
const char *FakeName() { return "fake"; }
VtClockKind g_fake = {&FakeSample, &FakeUnits, &FakeName};

void Samples(std::vector<double> s) {
  g_samples = std::move(s);
  g_next = 0;
}

// Runs the timer once over the next two samples.
void RunOnce(VtTimer *t) {
  ASSERT_EQ(vo::VoTimerAddClock(t, &g_fake), 0u);
  ASSERT_EQ(vo::VoTimerStart(t), 0u);
  ASSERT_EQ(vo::VoTimerStop(t), 0u);
}

struct Report {
  std::string timer, clock, units;
  double last, mean, deviation;
};

Report LastReport() {
  auto r = WithMessage(852);
  EXPECT_FALSE(r.empty());
  if (r.empty()) return {};
  const auto &d = r.back();
  EXPECT_EQ(d.status, VO_CLASS_DEBUG);
  EXPECT_EQ(d.args.size(), 6u);
  if (d.args.size() != 6 || d.strings.size() != 3) return {};
  return {d.strings[0], d.strings[1], d.strings[2], d.args[2].value.d, d.args[4].value.d, d.args[5].value.d};
}

TEST(Timers, StatisticsOfTwoRunsOfOneSecondAndThreeSeconds) {
  vo_test::Kernel kernel;
  Samples({0, 1, 10, 13});
  VtTimer *t = vo::VoTimerGet("frame", nullptr);
  ASSERT_NE(t, nullptr);
  RunOnce(t);
  ASSERT_EQ(vo::VoTimerReport(t), 0u);
  Report first = LastReport();
  EXPECT_EQ(first.last, 1.0);
  EXPECT_EQ(first.mean, 1.0);
  EXPECT_EQ(first.deviation, 0.0);  // one run: no deviation
  // A reset keeps the clock's statistics in its slot; the same name finds
  // the same timer.
  ASSERT_EQ(vo::VoTimerReset(t), 0u);
  EXPECT_EQ(t->active, 0u);
  EXPECT_EQ(vo::VoTimerGet("frame", nullptr), t);
  RunOnce(t);
  vo::VoTimerReport(t);
  Report r = LastReport();
  EXPECT_EQ(r.timer, "frame");
  EXPECT_EQ(r.clock, "fake");
  EXPECT_EQ(r.units, "ticks");
  EXPECT_EQ(r.last, 3.0);
  EXPECT_EQ(r.mean, 2.0);
  EXPECT_NEAR(r.deviation, 1.41421, 1e-5);
}

TEST(Timers, EqualRunsHaveNoDeviationEvenWhenRoundingGoesNegative) {
  vo_test::Kernel kernel;
  // Three runs of 0.1: the sum of squares less total^2 / 3 rounds below 0.
  Samples({0, 0.1, 0, 0.1, 0, 0.1});
  VtTimer *t = vo::VoTimerGet("even", nullptr);
  for (int i = 0; i < 3; ++i) {
    RunOnce(t);
    vo::VoTimerReset(t);
  }
  vo::VoTimerAddClock(t, &g_fake);
  vo::VoTimerReport(t);
  Report r = LastReport();
  EXPECT_FALSE(std::isnan(r.deviation));
  EXPECT_EQ(r.deviation, 0.0);
  EXPECT_NEAR(r.mean, 0.1, 1e-15);
}

TEST(Timers, ASixthClockIsRefused) {
  vo_test::Kernel kernel;
  VtTimer *t = vo::VoTimerGet(nullptr, nullptr);
  ASSERT_NE(t, nullptr);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(vo::VoTimerAddClock(t, &g_fake), 0u);
  EXPECT_EQ(vo::VoTimerAddClock(t, &g_fake), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(WithMessage(370).size(), 1u);
  EXPECT_EQ(t->clock_count, 5u);
  Samples({0, 1, 2, 3, 4, 10, 11, 12, 13, 14});
  vo::VoTimerStart(t);
  vo::VoTimerStop(t);
  vo::VoTimerReport(t);
  auto reports = WithMessage(852);
  ASSERT_EQ(reports.size(), 5u);
  for (const auto &d : reports) {
    EXPECT_EQ(d.strings[0], "<no name>");
    EXPECT_EQ(d.args[2].value.d, 10.0);
  }
}

TEST(Timers, BadTimersAndKindsAreRefused) {
  vo_test::Kernel kernel;
  VtTimer stray{};
  EXPECT_EQ(vo::VoTimerStart(&stray), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(vo::VoTimerStop(nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(vo::VoTimerReport(&stray), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(vo::VoTimerReset(&stray), VO_STATUS_BAD_ARGUMENT);
  VtTimer *t = vo::VoTimerGet("t", nullptr);
  EXPECT_EQ(vo::VoTimerAddClock(t, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(vo::VoTimerAddClock(&stray, &g_fake), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(WithMessage(369).size(), 6u);
}

TEST(Timers, ASlotRefilledWithAnotherKindStartsAfresh) {
  vo_test::Kernel kernel;
  VtTimer *t = vo::VoTimerGet("mixed", nullptr);
  Samples({0, 5});
  RunOnce(t);
  vo::VoTimerReset(t);
  ASSERT_EQ(vo::VoTimerAddClock(t, const_cast<VtClockKind *>(vo::ClockKindGet(vo::kClockCpu))), 0u);
  EXPECT_EQ(t->clocks[0]->count, 0u);
  EXPECT_EQ(t->clocks[0]->total, 0.0);
}

TEST(Timers, TimedExecuteReportsEveryRepetition) {
  vo_test::Kernel kernel;
  VtTypedValue on = vo::TypedBoolean(true);
  ASSERT_EQ(vo::VoControlSet(VO_CONTROL_TIMING, &on), 0u);
  VtTypedValue repeat = vo::TypedNat32(2);
  ASSERT_EQ(vo::VoControlSet(VO_CONTROL_REPEAT_COUNT, &repeat), 0u);
  vo_test::Recorded().clear();
  EXPECT_EQ(vo::VoExecute(VO_EXECUTE_MODULES_REPORT), 0u);
  auto reports = WithMessage(852);
  ASSERT_EQ(reports.size(), 6u);  // wall, process user and process kernel, twice
  const char *clocks[] = {"wall", "user", "kernel"};
  for (size_t i = 0; i < reports.size(); ++i) {
    EXPECT_EQ(reports[i].strings[0], "VoExecute");
    EXPECT_EQ(reports[i].strings[1], clocks[i % 3]);
  }
  VtTimer *t = vo::VoTimerGet("VoExecute", nullptr);
  EXPECT_EQ(t->clocks[0]->count, 2u);
  EXPECT_EQ(t->clocks[3], nullptr);
}

}  // namespace
