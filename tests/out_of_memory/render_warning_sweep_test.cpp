// The allocation-failure sweep over every render class, on the calling
// thread and on two workers: a render that runs out of memory answers the
// memory status in the warning class (0x20000006, the hidden-line and
// stroke renders included) and posts exactly one warning, 2880, naming its
// code and its renderer's module, however many workers gave up or nested
// renders failed under it. The next render without a failure draws the
// same picture. (The wireframe render allocates nothing of its own.)
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include <vo/vo_driver.h>
#include <vo/vo_multit.h>
#include <vo/vo_screenbuf.h>

#include "support/allocation_sweep.h"
#include "support/demo_scene.h"
#include "support/farm_pass.h"
#include "support/sanitized.h"

namespace vo::test {
namespace {

constexpr uint32_t kSize = 16;
constexpr uint32_t kRenderNoMemory = 2880;
constexpr uint32_t kLineOutput = 0xc0001;    // the standard renderer's line-output callback
constexpr uint32_t kDepthRender = 0x200003;  // its rows are depths, for the buffer's depth channel

struct RenderClass {
  uint32_t code;
  const char *module;
};
constexpr RenderClass kClasses[] = {
    {0x70001, "vorenray"},  {0x70002, "vorenray"},  {0xa0001, "vorenwir"},  {0xc0001, "vorenstd"},
    {0xc0002, "vorenstd"},  {0xc0003, "vorenstd"},  {0x190001, "vorenhid"}, {0x190002, "vorenhid"},
    {0x200001, "vorenadv"}, {0x200002, "vorenadv"}, {0x200003, "vorenadv"}, {0x600004, "vonpr"},
    {0x600005, "vonpr"},
};

// Out of memory in the warning class, never in the error class.
bool WarnsOfMemory(VtStatus s) {
  return CarriesMemoryBit(s) && (s & VO_STATUS_ERROR_NO_MEMORY) != VO_STATUS_ERROR_NO_MEMORY;
}

class RenderWarningSweep : public ::testing::TestWithParam<int32_t> {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    ASSERT_EQ(vo_test::Record(), 0u);
    image_ = VoImageCreate();
    ASSERT_NE(image_, nullptr);
    image_->width = image_->height = kSize;
    ASSERT_EQ(VoImageAllocateData(image_), 0u);
    const VtTypedValue target = TypedPointer(image_);
    ASSERT_EQ(VoDriverSet(VoDriverFindFromName("vodrvimg")), 0u);
    ASSERT_EQ(VoControlSet(VO_CONTROL_DRIVER_IMAGE, &target), 0u);
    buffer_ = VoScreenBufferCreate();
    ASSERT_NE(buffer_, nullptr);
    const VtTypedValue side = TypedNat32(kSize);
    ASSERT_EQ(VoScreenBufferSetControl(buffer_, VO_SB_WIDTH, &side), 0u);
    ASSERT_EQ(VoScreenBufferSetControl(buffer_, VO_SB_HEIGHT, &side), 0u);
    ASSERT_EQ(VoScreenBufferAllocateData(buffer_, VO_SB_COLOUR | VO_SB_DEPTH), 0u);
    ASSERT_EQ(VoScreenBufferSet(buffer_), 0u);
    ASSERT_EQ(WorkersSet(GetParam(), 4), 0u);
  }
  void TearDown() override {
    VoScreenBufferSet(nullptr);
    if (buffer_ != nullptr) VoScreenBufferDestroy(buffer_);
    VoDriverSet(nullptr);
    if (image_ != nullptr) VoImageDestroy(image_);
    EXPECT_EQ(VoTerminate(), 0u);
  }

  std::string Picture() const {
    std::string s(reinterpret_cast<const char *>(image_->data),
                  static_cast<size_t>(image_->bytes_per_row) * kSize);
    std::memset(image_->data, 0, s.size());
    return s;
  }

  VtImage *image_ = nullptr;
  VtScreenBuffer *buffer_ = nullptr;
};

TEST_P(RenderWarningSweep, EveryRenderThatRunsOutOfMemoryWarnsOnceNamingItsRenderer) {
  DemoOptions small;
  small.slices = 8;
  small.rings = 4;
  DemoScene scene(small);
  ASSERT_TRUE(scene.ok());
  ASSERT_EQ(DemoScene::View(kSize, kSize), 0u);
  // A distant light casting no shadow, so that the scanline renders go to
  // the workers when there are any.
  VtShader *sun = VoShaderCreate(VO_SHADER_LIGHT, "distant");
  ASSERT_NE(sun, nullptr);
  VtReference *lights = VoShaderReferenceCreate(sun);
  ASSERT_EQ(VoLightListSet(lights), 0u);
  for (const RenderClass &r : kClasses) {
    // Only the depth render's rows are depth rows; the other scanline
    // classes' rows are colours and go to the driver.
    const VtProc rows =
        r.code == kDepthRender ? reinterpret_cast<VtProc>(&VoScreenBufferStoreDepthRow) : nullptr;
    ASSERT_EQ(VoCallBackSet(kLineOutput, rows), 0u);
    SweptCall c;
    if (kSanitized) c.each_one = c.more_runs = 10;  // a render takes many times as long there
    c.name = "execute 0x" + (std::ostringstream() << std::hex << r.code).str() + " on " +
             std::to_string(GetParam()) + " workers";
    VtStatus answered = 0;
    c.call = [&] {
      g_posted.clear();
      return answered = VoExecute(r.code);
    };
    c.outcome = [&] {
      EXPECT_EQ(CountPosted(kRenderNoMemory), 0) << c.name << ": a render that did not fail";
      return Picture();
    };
    // The ray tracer on workers may take a failed allocation back (the
    // calling thread renders what a worker gave up) and answer 0: then it
    // warns of nothing.
    c.accepts = [](VtStatus st) { return st == 0 || WarnsOfMemory(st); };
    c.after_failure = [&] {
      const std::vector<Posted> warned = vo_test::WithMessage(kRenderNoMemory);
      if (answered == 0) {
        EXPECT_TRUE(warned.empty()) << c.name;
        return;
      }
      ASSERT_EQ(warned.size(), 1u) << c.name;
      EXPECT_EQ(warned[0].status, uint32_t{VO_STATUS_NO_MEMORY});
      ASSERT_EQ(warned[0].strings.size(), 1u);
      EXPECT_EQ(warned[0].strings[0], r.module);
      EXPECT_EQ(warned[0].args[0].value.u, r.code);
      (void)Picture();
    };
    c.undo = [&] { (void)Picture(); };
    const SweepCounts counts = SweepAllocationFailures(c);
    if (r.code != 0xa0001) {  // the wireframe render allocates nothing
      EXPECT_GT(counts.runs, 0u) << c.name;
    }
  }
  (void)VoCallBackSet(kLineOutput, nullptr);
  VoLightListSet(nullptr);
  VoShaderReferenceDestroy(lights, 1);
}

INSTANTIATE_TEST_SUITE_P(Workers, RenderWarningSweep, ::testing::Values(0, 2));

}  // namespace
}  // namespace vo::test
