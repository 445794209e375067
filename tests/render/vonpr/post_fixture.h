// The NPR post-process classes run through the post-process stage: buffers
// filled by a procedure and made current, a list of shaders made by name,
// and pixel read-back.
#pragma once

#include <array>
#include <functional>
#include <vector>

#include <vo/vo_postprocess.h>
#include <vo/vo_screenbuf.h>

#include "npr_fixture.h"
#include "support/postprocess_release.h"

namespace vo::test {

using Rgba = std::array<float, 4>;

class NprPostTest : public NprTest {
 protected:
  // The buffer is kept, not shown, after a run.
  void SetUp() override {
    NprTest::SetUp();
    const VtTypedValue quiet = TypedWord(VtBoolean, 1);
    ASSERT_EQ(VoControlSet(VO_CONTROL_SB_NO_FORWARD, &quiet), 0u);
  }
  void TearDown() override {
    PostprocessTestRelease(list_, buffers_);
    NprTest::TearDown();
  }

  // A current buffer of the planes, pixel (x, y) from the procedure (alpha
  // and depth where the planes are).
  VtScreenBuffer *Buffer(uint32_t mask, uint32_t w, uint32_t h,
                         const std::function<Rgba(uint32_t, uint32_t)> &f,
                         const std::function<float(uint32_t, uint32_t)> &depth = {}) {
    VtScreenBuffer *b = VoScreenBufferCreate();
    EXPECT_NE(b, nullptr);
    buffers_.push_back(b);
    VtTypedValue v = TypedWord(VtNat32, w);
    EXPECT_EQ(VoScreenBufferSetControl(b, VO_SB_WIDTH, &v), 0u);
    v.value.u = h;
    EXPECT_EQ(VoScreenBufferSetControl(b, VO_SB_HEIGHT, &v), 0u);
    EXPECT_EQ(VoScreenBufferAllocateData(b, mask), 0u);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const Rgba c = f(x, y);
        VtTypedValue p = TypedWord(VtColourType, 0);
        std::copy(c.begin(), c.begin() + 3, p.value.v);
        EXPECT_EQ(VoScreenBufferSetPixel(b, VO_SB_COLOUR, x, y, &p), 0u);
        if ((mask & VO_SB_ALPHA) != 0) {
          p = TypedFloat(c[3]);
          EXPECT_EQ(VoScreenBufferSetPixel(b, VO_SB_ALPHA, x, y, &p), 0u);
        }
        if ((mask & VO_SB_DEPTH) != 0 && depth) {
          p = TypedFloat(depth(x, y));
          EXPECT_EQ(VoScreenBufferSetPixel(b, VO_SB_DEPTH, x, y, &p), 0u);
        }
      }
    EXPECT_EQ(VoScreenBufferSet(b), 0u);
    return b;
  }
  VtScreenBuffer *Flat(uint32_t mask, uint32_t w, uint32_t h, Rgba c) {
    return Buffer(mask, w, h, [c](uint32_t, uint32_t) { return c; });
  }

  VtShader *Add(const char *name) {
    VtShader *s = VoShaderCreate(VO_SHADER_POSTPROCESS, name);
    EXPECT_NE(s, nullptr) << name;
    list_ = VoShaderReferenceAppend(list_, VoShaderReferenceCreate(s));
    EXPECT_EQ(VoPostprocessListSet(list_), 0u);
    return s;
  }
  void ListClear() {
    (void)VoPostprocessListSet(nullptr);
    if (list_ != nullptr) {
      EXPECT_EQ(VoShaderReferenceDestroy(list_, 1), 0u);
    }
    list_ = nullptr;
  }

 public:
  static void Arg(VtShader *s, const char *label, VtTypedValue v) {
    ASSERT_EQ(VoShaderSetArg(s, label, &v), 0u) << label;
  }
  static void Float(VtShader *s, const char *label, float f) { Arg(s, label, TypedFloat(f)); }
  static void Int(VtShader *s, const char *label, int32_t i) {
    VtTypedValue v = TypedWord(VtInt32, 0);
    v.value.i = i;
    Arg(s, label, v);
  }
  static void Bool(VtShader *s, const char *label, bool b) { Arg(s, label, TypedWord(VtBoolean, b ? 1 : 0)); }
  static void Pointer(VtShader *s, const char *label, const void *p) {
    Arg(s, label, TypedPointer(const_cast<void *>(p)));
  }
  static void Colour(VtShader *s, const char *label, float r, float g, float b) {
    VtTypedValue v = TypedWord(VtColourType, 0);
    v.value.v[0] = r, v.value.v[1] = g, v.value.v[2] = b;
    Arg(s, label, v);
  }

 protected:
  static VtStatus Run() { return VoExecute(VO_EXECUTE_PP_RUN); }

  static std::array<float, 3> At(VtScreenBuffer *b, uint32_t x, uint32_t y) {
    VtTypedValue v{};
    EXPECT_EQ(VoScreenBufferGetPixel(b, VO_SB_COLOUR, x, y, &v), 0u);
    return {v.value.v[0], v.value.v[1], v.value.v[2]};
  }
  static float AlphaAt(VtScreenBuffer *b, uint32_t x, uint32_t y) {
    VtTypedValue v{};
    EXPECT_EQ(VoScreenBufferGetPixel(b, VO_SB_ALPHA, x, y, &v), 0u);
    return v.value.f;
  }
  // Every colour of the buffer, row by row.
  static std::vector<float> Picture(VtScreenBuffer *b, uint32_t w, uint32_t h) {
    std::vector<float> all;
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const auto c = At(b, x, y);
        all.insert(all.end(), c.begin(), c.end());
      }
    return all;
  }

  VtReference *list_ = nullptr;
  std::vector<VtScreenBuffer *> buffers_;
};

}  // namespace vo::test
