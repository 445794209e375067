// The allocation-failure sweep over a ray-traced render on two worker
// threads, each render a new scene's first frame, whose workers split one
// octree as their rays need: with each allocation failing in turn (on the
// main thread or a worker, in the gathering, the build, a split or the
// farm) the render answers the memory status, or, where a split's failure
// was mended by building the octree again, the reference picture; the
// next render is the reference again, and nothing leaks.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <vo/vo_driver.h>
#include <vo/vo_multit.h>
#include <vo/vo_raytrace.h>
#include <vo/vo_view.h>

#include "render/vorenray/vorenray.h"
#include "support/allocation_sweep.h"
#include "support/demo_scene.h"

namespace vo::test {
namespace {

constexpr uint32_t kWidth = 16, kHeight = 8;

VtStatus Quiet(VtStatus, uint32_t, uint32_t, uint32_t, VtTypedValue *) { return 0; }

class RayWorkersSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    ASSERT_EQ(VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&Quiet)), 0u);
    image_ = VoImageCreate();
    ASSERT_NE(image_, nullptr);
    image_->width = kWidth;
    image_->height = kHeight;
    ASSERT_EQ(VoImageAllocateData(image_), 0u);
    ASSERT_EQ(VoDriverSet(VoDriverFindFromName("vodrvimg")), 0u);
    const VtTypedValue target = TypedPointer(image_);
    ASSERT_EQ(VoControlSet(VO_CONTROL_DRIVER_IMAGE, &target), 0u);
    const VtTypedValue workers = TypedInt32(2);
    ASSERT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &workers), 0u);
    const VtTypedValue band = TypedNat32(1);
    ASSERT_EQ(VoControlSet(VO_CONTROL_MT_THREADED_BAND, &band), 0u);
  }
  void TearDown() override {
    const VtTypedValue none = TypedPointer(nullptr);
    VoControlSet(VO_CONTROL_DRIVER_IMAGE, &none);
    VoDriverSet(VoDriverFindFromName("vodrvnul"));
    if (image_ != nullptr) VoImageDestroy(image_);
    EXPECT_EQ(VoTerminate(), 0u);
  }

  std::string Picture() const {
    return std::string(reinterpret_cast<const char *>(image_->data),
                       static_cast<size_t>(image_->bytes_per_row) * kHeight);
  }
  VtStatus Render() {
    std::memset(image_->data, 0, static_cast<size_t>(image_->bytes_per_row) * kHeight);
    return VoExecute(0x70001);
  }
  // The octree the last render kept goes, so that the next render is a new
  // scene's first frame again.
  static void Forget() { ray::KeptDrop(ray::MasterContext()); }

  VtImage *image_ = nullptr;
};

TEST_F(RayWorkersSweep, EveryFailingAllocationOfATwoWorkerFirstFrameAnswersTheMemoryStatus) {
  DemoScene scene({.slices = 8, .rings = 4});
  ASSERT_TRUE(scene.ok());
  ASSERT_EQ(DemoScene::View(kWidth, kHeight), 0u);
  // The workers split the octree: the frame leaves inner nodes.
  ASSERT_EQ(Render(), 0u);
  const ray::Node *kept = ray::MasterContext()->kept.root;
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->tag, ray::kNodeInner);
  Forget();
  const std::string reference = Picture();

  VtStatus status = 0;
  SweptCall call;
  call.name = "VoExecute(0x70001) on two workers";
  call.call = [&] { return status = Render(); };
  call.outcome = [&] { return Picture(); };
  call.undo = &Forget;
  call.accepts = [](VtStatus st) { return st == 0 || CarriesMemoryBit(st); };
  call.exemption = "a split that fails is mended by building the octree again and walking the ray once more";
  call.after_failure = [&] {
    EXPECT_EQ(VoMultiThreadIsActive(), 0u);
    if (status == 0) {
      EXPECT_TRUE(Picture() == reference) << "a mended failure changed the picture";
    }
  };
  const SweepCounts counts = SweepAllocationFailures(call);
  EXPECT_GT(counts.runs, 0u);
}

}  // namespace
}  // namespace vo::test
