// The super-lite library on a started shader kernel with the driver
// framework (for images), and helpers to shade one point: lights made
// current for an image, the point, its normal, the eye direction and the
// surface colour.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <vector>

#include <vo/vo_shaderlib.h>

#include "support/shader_fixture.h"

namespace vo::test {

class LibraryTest : public ShaderTest {
 protected:
  void SetUp() override {
    PooledKernelTest::SetUp();
    for (VtQueryFunction m : {&VoEntryView, &VoEntryGeometry, &VoEntryTransforms, &VoEntryDriver,
                              &VoEntryShader, &VoEntrySuperLiteShaders})
      ASSERT_EQ(VoInstallModule(m), 0u);
    InstallLibraries();
    ASSERT_EQ(VoSystemStart(), 0u);
    g_posted.clear();
  }
  // The libraries a test program installs beside the super-lite one.
  virtual void InstallLibraries() {}
  void TearDown() override {
    if (image_) {
      EXPECT_EQ(VoShadingTerminateImage(), 0u);
    }
    EXPECT_EQ(VoLightListSet(nullptr), 0u);
    EXPECT_EQ(VoShaderReferenceDestroy(list_, 1), 0u);
    for (VtShader *s : made_) EXPECT_EQ(VoShaderDestroy(s), 0u);
    ShaderTest::TearDown();
  }

  // A shader of the library, destroyed with the test.
  VtShader *Make(uint32_t type, const char *name) {
    VtShader *s = VoShaderCreate(type, name);
    EXPECT_NE(s, nullptr) << name;
    if (s != nullptr) made_.push_back(s);
    return s;
  }
  static VtLightData *Record(VtShader *light) { return static_cast<VtLightData *>(light->data); }

  // The lights (kept by the list and destroyed with it) current for an image.
  void Lights(std::initializer_list<VtShader *> lights) {
    for (VtShader *l : lights) list_ = VoShaderReferenceAppend(list_, VoShaderReferenceCreate(l));
    ASSERT_EQ(VoLightListSet(list_), 0u);
    ASSERT_EQ(VoShadingInitialiseImage(2), 0u);
    image_ = true;
  }
  // The default ambient light and a point light at P + offset.
  void AmbientAndPoint(const float *p, float dx, float dy, float dz) {
    VtShader *ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
    VtShader *point = VoShaderCreate(VO_SHADER_LIGHT, "point");
    const VtTypedValue at = Triple(VtPoint, p[0] + dx, p[1] + dy, p[2] + dz);
    ASSERT_EQ(VoShaderSetArg(point, "location", &at), 0u);
    Lights({ambient, point});
  }
  // The point to shade, its normal, the eye direction and Co.
  static void Point(const float *p, const float *n, const float *unitI, const float *co) {
    ASSERT_EQ(VoShadingInitialisePoint(p, n), 0u);
    VtShaderGlobals *g = VoShaderGetGlobals();
    g->P = g->Pw;
    g->lightsEvaluated = g->areaPassDone = 0;
    for (int i = 0; i < 3; ++i) {
      g->unitI[i] = unitI[i];
      g->Co[i] = co[i];
    }
  }

  static VtTypedValue Triple(uint32_t type, float x, float y, float z) {
    VtTypedValue v = Colour(x, y, z);
    v.type = type;
    return v;
  }
  static void Set(VtShader *s, const char *label, const VtTypedValue &v) {
    EXPECT_EQ(VoShaderSetArg(s, label, &v), 0u) << label;
  }

  VtReference *list_ = nullptr;
  std::vector<VtShader *> made_;
  bool image_ = false;
};

}  // namespace vo::test
