// The post-process stage on screen buffers and the shader kernel, with test
// classes of type 0x440001 on the shader-library frame: a kernel class
// (weights and filter size from its data), a summing gather class, an
// inverting direct class, and a direct class that runs the list again.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <vector>

#include <vo/vo_postprocess.h>
#include <vo/vo_shaderlib.h>

#include "support/postprocess_release.h"
#include "render/voscrbuf/screen_buffer_fixture.h"
#include "shading/shaderlib/face.h"

namespace vo::test {

struct TestPostData {
  VtPostprocessHead head;
  float fw, fh;     // the filter size the prepare leaves (0: untouched)
  float weight[3];  // kernel: every cell's weight
  float centre[3];  // kernel: the centre cell's weight when set
  int32_t hasCentre;
  VtStatus prepareStatus;
  VtStatus nested;  // the nested run's status
  uint32_t calls;
};

struct PostClasses {
  static inline constexpr TestPostData kKernel{
      {0, VO_PP_MODE_KERNEL_SEPARATE}, 1, 1, {1, 1, 1}, {}, 0, 0, 0, 0};
  static inline constexpr TestPostData kKernelInPlace{{0, VO_PP_KERNEL}, 1, 1, {1, 1, 1}, {}, 0, 0, 0, 0};
  static inline constexpr TestPostData kGather{{0, VO_PP_MODE_GATHER_SEPARATE}, 3, 3, {}, {}, 0, 0, 0, 0};
  static inline constexpr TestPostData kInvert{{0, VO_PP_MODE_DIRECT_IN_PLACE}, 0, 0, {}, {}, 0, 0, 0, 0};
  static inline constexpr TestPostData kNested{{0, VO_PP_MODE_DIRECT_SEPARATE}, 0, 0, {}, {}, 0, 0, 0, 0};
  static inline constexpr TestPostData kBadWay{{0, 0x440007}, 0, 0, {}, {}, 0, 0, 0, 0};
  static inline constexpr TestPostData kProbe{{0, VO_PP_MODE_DIRECT_SEPARATE}, 0, 0, {}, {}, 0, 0, 0, 0};

  static TestPostData *Data(void *d) { return static_cast<TestPostData *>(d); }

  static VtStatus Prepare(void *d) {
    VtShaderGlobals *g = VoShaderGetGlobals();
    if (Data(d)->fw != 0) g->Fwidth = Data(d)->fw;
    if (Data(d)->fh != 0) g->Fheight = Data(d)->fh;
    (void)VoPostprocessStatusSet(Data(d)->prepareStatus);
    return 0;
  }
  static VtStatus Kernel(void *d) {
    VtShaderGlobals *g = VoShaderGetGlobals();
    const TestPostData *t = Data(d);
    const bool centre = t->hasCentre != 0 && g->xf == 0 && g->yf == 0;
    for (int k = 0; k < 3; ++k) g->Co[k] = centre ? t->centre[k] : t->weight[k];
    ++Data(d)->calls;
    return 0;
  }
  // Workers share the instance: the gather counts its calls apart.
  static inline std::atomic<uint32_t> gatherCalls{0};
  static VtStatus Gather(void *) {
    VtShaderGlobals *g = VoShaderGetGlobals();
    for (int k = 0; k < 3; ++k) g->Co[k] = g->Ci[k];
    gatherCalls.fetch_add(1, std::memory_order_relaxed);
    return 0;
  }
  static VtStatus Invert(void *) {
    VtShaderGlobals *g = VoShaderGetGlobals();
    std::array<uint32_t, 4> r{};
    (void)VoScreenBufferGetRegion(g->Bi, r.data());
    std::vector<float> row(3 * (r[1] - r[0] + 1));
    for (uint32_t y = 0; y <= r[3] - r[2]; ++y) {
      if (VtStatus st = VoPostprocessPollInterrupt()) {
        (void)VoPostprocessStatusSet(st);
        return 0;
      }
      (void)VoScreenBufferGetScanRGBFloat(g->Bi, y, row.data());
      for (float &v : row) v = 1.0f - v;
      (void)VoScreenBufferSetScanRGBFloat(g->Bo, y, row.data());
    }
    (void)VoPostprocessStatusSet(0);
    return 0;
  }
  // The kernel's sticky status word.
  static uint32_t *Sticky() {
    VtTypedValue v{};
    return VoControlGet(VO_CONTROL_STICKY_STATUS, &v) == 0 ? static_cast<uint32_t *>(v.value.p) : nullptr;
  }
  static VtStatus Nested(void *d) {
    if (Data(d)->hasCentre != 0) *Sticky() |= VO_PP_INTERRUPTED;  // an interrupt seen before the nested run
    Data(d)->nested = VoExecute(VO_EXECUTE_PP_RUN);
    if (Data(d)->hasCentre != 0 && (*Sticky() & VO_PP_INTERRUPTED) == 0) Data(d)->prepareStatus = 1;  // lost
    ++Data(d)->calls;
    (void)VoPostprocessStatusSet(0);
    return 0;
  }

  // A direct class that runs the test's procedure while the walk holds it.
  static inline std::function<void()> probe;
  static VtStatus Probe(void *) {
    if (probe) probe();
    (void)VoPostprocessStatusSet(0);
    return 0;
  }

  static constexpr const char *kGlobals[] = {"Bi", "Bo", "Co", "Ci", "xf", "yf", "Fwidth", "Fheight"};
  static constexpr const char *kNoLabels[] = {"x"};
  template <const TestPostData &Default>
  static shaderlib::ClassDescription Describe(shaderlib::Identifier id, const char *name,
                                              VtShaderDataProc evaluate) {
    shaderlib::Entries e = shaderlib::DataEntries<Default>(evaluate, &Prepare, &shaderlib::ArgumentNone,
                                                           &shaderlib::ArgumentNone);
    return {id, name, VO_SHADER_POSTPROCESS, std::span(kNoLabels, 0), {}, kGlobals, e};
  }
  static void Register() {
    const shaderlib::ClassDescription classes[] = {
        Describe<kKernel>("vxs_test_kernel", "test kernel", &Kernel),
        Describe<kKernelInPlace>("vxs_test_kernel_in_place", "test kernel in place", &Kernel),
        Describe<kGather>("vxs_test_gather", "test gather", &Gather),
        Describe<kInvert>("vxs_test_invert", "test invert", &Invert),
        Describe<kNested>("vxs_test_nested", "test nested", &Nested),
        Describe<kBadWay>("vxs_test_bad_way", "test bad way", &Invert),
        Describe<kProbe>("vxs_test_probe", "test probe", &Probe),
    };
    for (const auto &c : classes) ASSERT_EQ(shaderlib::ClassCreate(c), 0u) << c.name;
  }
};

class PostprocessTest : public ScreenBufferTest {
 protected:
  void SetUp() override {
    RecordingDriver::Reset();
    RowDriver::Reset();
    StartModules({&RecordingDriver::Query, &VoEntryView, &VoEntryGeometry, &VoEntryTransforms, &VoEntryShader,
                  &VoEntrySuperLiteShaders, &VoEntryScreenBuffer, &VoEntryPostprocess, &VoEntryMultiThread,
                  &VoEntryBMPDriver, &VoEntryTGADriver});
    RowDriver::driver = VoDriverCreate(&RowDriver::Query);
    ASSERT_NE(RowDriver::driver, nullptr);
    ASSERT_EQ(VoDriverSet(RowDriver::driver), 0u);
    PostClasses::Register();
    PostClasses::gatherCalls = 0;
    PostClasses::probe = {};
    g_posted.clear();
  }
  void TearDown() override {
    PostprocessTestRelease(list_, buffers_);
    ScreenBufferTest::TearDown();
  }

  // A shader of a test class, appended to the list (which owns it).
  TestPostData *Listed(const char *name) {
    VtShader *s = VoShaderCreate(VO_SHADER_POSTPROCESS, name);
    EXPECT_NE(s, nullptr) << name;
    list_ = VoShaderReferenceAppend(list_, VoShaderReferenceCreate(s));
    EXPECT_EQ(VoPostprocessListSet(list_), 0u);
    return s != nullptr ? PostClasses::Data(s->data) : nullptr;
  }
  // The current buffer, its colour pixel (x, y) set by the procedure.
  template <class F>
  VtScreenBuffer *Current(uint32_t width, uint32_t height, F colour, uint32_t mask = VO_SB_COLOUR) {
    VtScreenBuffer *b = Buffer(mask, width, height);
    buffers_.push_back(b);
    std::vector<float> row(3 * width);
    for (uint32_t y = 0; y < height; ++y) {
      for (uint32_t x = 0; x < width; ++x) {
        const std::array<float, 3> c = colour(x, y);
        std::copy(c.begin(), c.end(), &row[3 * x]);
      }
      EXPECT_EQ(VoScreenBufferSetScanRGBFloat(b, y, row.data()), 0u);
    }
    EXPECT_EQ(VoScreenBufferSet(b), 0u);
    return b;
  }
  static float Red(VtScreenBuffer *b, uint32_t x, uint32_t y) { return Pixel(b, VO_SB_COLOUR, x, y)[0]; }

  VtReference *list_ = nullptr;
  std::vector<VtScreenBuffer *> buffers_;
};

// A post-process shader of the class named, appended to the list, which is
// made the stage's list.
inline VtShader *ListAppend(VtReference **list, const char *name) {
  VtShader *s = VoShaderCreate(VO_SHADER_POSTPROCESS, name);
  EXPECT_NE(s, nullptr) << name;
  *list = VoShaderReferenceAppend(*list, VoShaderReferenceCreate(s));
  EXPECT_EQ(VoPostprocessListSet(*list), 0u);
  return s;
}

// Tests of the stage's own classes: shaders made by name, appended to the
// list.
class ClassTest : public PostprocessTest {
 protected:
  VtShader *Add(const char *name) { return ListAppend(&list_, name); }
  static void Arg(VtShader *s, const char *label, VtTypedValue v) {
    ASSERT_EQ(VoShaderSetArg(s, label, &v), 0u) << label;
  }
  static VtTypedValue Word(uint32_t type, uint32_t u) {
    VtTypedValue v{};
    v.type = type;
    v.value.u = u;
    return v;
  }
  // Empties the list (destroying its shaders).
  void ListClear() {
    (void)VoPostprocessListSet(nullptr);
    if (list_ != nullptr) {
      EXPECT_EQ(VoShaderReferenceDestroy(list_, 1), 0u);
    }
    list_ = nullptr;
  }
};

}  // namespace vo::test
