// A started kernel with the view module, the transform module and a stand-in
// for the driver framework (module 26) that records what the view module
// draws through it (support/recording_driver.h).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "support/kernel_fixture.h"
#include "support/recording_driver.h"
#include "kernel/vosystem/message_numbers.h"
#include "scene/voview/view.h"

namespace vo::test {

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
  static void ExpectNear3(const float *v, double x, double y, double z, double tolerance = 1e-6) {
    EXPECT_NEAR(v[0], x, tolerance);
    EXPECT_NEAR(v[1], y, tolerance);
    EXPECT_NEAR(v[2], z, tolerance);
  }
  static VtStatus Pinhole(VtView *view, std::array<float, 3> eye, std::array<float, 3> reference,
                          std::array<float, 3> up, int32_t projection, double angle) {
    return VoViewSetPinhole(view, eye.data(), reference.data(), up.data(), projection, angle);
  }
  // The data record of a view (the current view's for null) and its camera.
  static VtView &Data(VtView *view = nullptr) { return *(view != nullptr ? view : VoViewGet())->data; }
  static const VtPinholeCamera &PinholeOf(VtView *view = nullptr) { return Data(view).camera.pinhole; }
};

}  // namespace vo::test
