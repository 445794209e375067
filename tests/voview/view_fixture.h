// A started kernel with the view module, the transform module and a stand-in
// for the driver framework (module 26) that records what the view module
// draws through it.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "support/kernel_fixture.h"
#include "vosystem/message_numbers.h"
#include "vosystem/module_entry.h"
#include "voview/view.h"

namespace vo::test {

using Point4 = std::array<float, 4>;

// Module 26 answering the two drawing callbacks of the view module.
struct RecordingDriver {
  static inline std::vector<std::array<Point4, 2>> lines;  // each 0x404 draw
  static inline std::vector<uint32_t> types;
  static inline int ends = 0;  // calls of 0x1a0006

  static void Reset() {
    lines.clear();
    types.clear();
    ends = 0;
  }
  static VtStatus Draw(uint32_t type, uint32_t count, VtDrawRecord *record) {
    types.push_back(type);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(record->kind, 0);
    auto **points = static_cast<float **>(record->points);
    std::array<Point4, 2> line{};
    for (int i = 0; i < 2; ++i)
      for (int c = 0; c < 4; ++c) line[i][c] = points[i][c];
    lines.push_back(line);
    return 0;
  }
  static VtStatus End() {
    ++ends;
    return 0;
  }
  static VtStatus Callback(uint32_t direction, uint32_t code, VtProc *slot) {
    if (direction != 0) return VO_STATUS_BAD_ARGUMENT;
    *slot = code == VO_CALLBACK_DRIVER_DRAW           ? reinterpret_cast<VtProc>(&Draw)
            : code == VO_CALLBACK_DRIVER_SEGMENTS_END ? reinterpret_cast<VtProc>(&End)
                                                      : nullptr;
    return *slot != nullptr ? 0 : VO_STATUS_UNAVAILABLE;
  }
  static VtStatus Start() { return 0; }  // a module without one is never started
  static VtStatus Query(uint32_t query, VtTypedValue *answer) {
    static const ModuleDescription kDriver = {.number = VO_MODULE_DRIVER,
                                              .name = "vodriver",
                                              .banner = "recording driver",
                                              .build_time = 0,
                                              .start = &Start,
                                              .callback = &Callback};
    return ModuleQueryAnswer(kDriver, query, answer);
  }
};

class ViewTest : public PooledKernelTest {
 protected:
  void SetUp() override {
    StartKernel();
    RecordingDriver::Reset();
    ASSERT_EQ(VoInstallModule(&RecordingDriver::Query), 0u);
    ASSERT_EQ(VoInstallModule(&VoEntryView), 0u);
    ASSERT_EQ(VoInstallModule(&VoEntryTransforms), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    g_posted.clear();
  }

  static view::ViewState *State() { return view::StateGet(); }
  // The current view's evaluation, brought up to date.
  static const VtViewEvaluation *Evaluated() {
    EXPECT_EQ(VoViewEvaluate(nullptr), 0u);
    return view::CurrentEvaluation(State());
  }
  static double Length(const float *v) {
    return std::sqrt(static_cast<double>(v[0]) * v[0] + static_cast<double>(v[1]) * v[1] +
                     static_cast<double>(v[2]) * v[2]);
  }
  static void ExpectNear3(const float *v, double x, double y, double z, double tolerance = 1e-6) {
    EXPECT_NEAR(v[0], x, tolerance);
    EXPECT_NEAR(v[1], y, tolerance);
    EXPECT_NEAR(v[2], z, tolerance);
  }
  static VtStatus Pinhole(VtView *view, std::array<float, 3> eye, std::array<float, 3> reference,
                          std::array<float, 3> up, int32_t projection, double angle) {
    return VoViewSetPinhole(view, eye.data(), reference.data(), up.data(), projection, angle);
  }
  struct Camera {
    float eye[3], reference[3], up[3];
    int32_t projection;
    double angle;
  };
  static Camera PinholeOf(VtView *view) {
    Camera c{};
    EXPECT_EQ(VoViewGetPinhole(view, c.eye, c.reference, c.up, &c.projection, &c.angle), 0u);
    return c;
  }
  static uint32_t Counter() { return State()->counter; }
};

}  // namespace vo::test
