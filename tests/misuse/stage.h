// A small lit scene made current through the C interface, for the misuse
// group's renders: one mesh (given by its corners and faces) with a matte
// material, an ambient and a point light, a view from +z and a current
// screen buffer of colour. Tests read the picture back as floats.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <vo/vo_api.h>

#include "support/forked.h"
#include "support/test_support.h"

namespace misuse {

// The library started for one test, its diagnostics recorded, and stopped
// after it.
class Started : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    ASSERT_EQ(vo_test::Record(), 0u);
  }
  void TearDown() override { EXPECT_EQ(VoTerminate(), 0u); }
};

// A screen buffer's colours, row by row, at the size it has: a call may
// have resized it (a view's resolution the buffer follows), and then its
// size ends the picture, so that it compares unlike one of the size given.
inline void ReadBuffer(VtScreenBuffer *buffer, uint32_t width, uint32_t height, std::vector<float> *picture) {
  picture->clear();
  uint32_t size[2] = {width, height};
  for (uint32_t i = 0; i < 2; ++i) {
    VtTypedValue v{};
    if (VoScreenBufferGetControl(buffer, i == 0 ? VO_SB_WIDTH : VO_SB_HEIGHT, &v) == 0) size[i] = v.value.u;
  }
  for (uint32_t y = 0; y < size[1]; ++y)
    for (uint32_t x = 0; x < size[0]; ++x) {
      VtTypedValue p{};
      EXPECT_EQ(VoScreenBufferGetPixel(buffer, VO_SB_COLOUR, x, y, &p), 0u);
      picture->insert(picture->end(), p.value.v, p.value.v + 3);
    }
  if (size[0] != width || size[1] != height)
    picture->insert(picture->end(), {static_cast<float>(size[0]), static_cast<float>(size[1])});
}

struct Mesh {
  std::vector<float> corners;  // x, y, z each
  std::vector<int32_t> counts, indices;
};

// The unit square at z = 0, the stage most cases light.
inline Mesh Square() { return Mesh{{-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0}, {4}, {0, 1, 2, 3}}; }

// A light made to cast shadows (its "shadows" argument true).
inline VtStatus ShadowsOn(VtShader *light) {
  VtTypedValue on{};
  on.type = VtBoolean;
  on.value.i = 1;
  return VoShaderSetArg(light, "shadows", &on);
}

using vo_test::ForkedFault;

class Stage {
 public:
  static constexpr uint32_t kWidth = 16, kHeight = 12;

  // Colours are kept as bytes, or as floats (which keep a value that is no
  // finite number as it was written) when asked.
  explicit Stage(const Mesh &mesh, bool float_colours = false) {
    buffer_ = VoScreenBufferCreate();
    VtTypedValue v{};
    v.type = VtNat32;
    v.value.u = kWidth;
    ok_ = buffer_ != nullptr && VoScreenBufferSetControl(buffer_, VO_SB_WIDTH, &v) == 0;
    v.value.u = kHeight;
    ok_ = ok_ && VoScreenBufferSetControl(buffer_, VO_SB_HEIGHT, &v) == 0 &&
          (!float_colours || VoScreenBufferSetPrecision(buffer_, VO_SB_COLOUR, VO_SB_FLOAT) == 0) &&
          VoScreenBufferAllocateData(buffer_, VO_SB_COLOUR) == 0 && VoScreenBufferSet(buffer_) == 0;
    const uint32_t ids[1] = {VO_VERT_WORLD};
    VtTypedValue data[1]{};
    data[0].type = VtGenericPtr;
    data[0].value.p = const_cast<float *>(mesh.corners.data());
    primitive_ = VoPrimitiveCreateMesh(static_cast<uint32_t>(mesh.counts.size()), nullptr, mesh.counts.data(),
                                       mesh.indices.data(), 1, ids, data);
    material_ = VoMaterialCreate();
    ok_ = ok_ && primitive_ != nullptr && material_ != nullptr &&
          VoMaterialSetShaderByPrototype(material_, VO_SHADER_REFLECTANCE, "matte") == 0 &&
          VoPrimitiveSetMaterial(primitive_, material_) == 0 && VoPrimitiveSetSidedness(primitive_, 1) == 0 &&
          Lights();
    list_ = ok_ ? VoPrimitiveListCreate(1, &primitive_) : nullptr;
    const float eye[3] = {0.3f, 0.2f, 6}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    ok_ = ok_ && list_ != nullptr && VoPrimitiveListSet(list_) == 0 && VoLightListSet(lights_) == 0 &&
          VoViewSetResolution(nullptr, kWidth, kHeight, 1.0) == 0 &&
          VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40.0) == 0 &&
          VoViewSetClipping(nullptr, 0.5, 100) == 0;
  }
  ~Stage() {
    (void)VoScreenBufferSet(nullptr);
    (void)VoPrimitiveListSet(nullptr);
    (void)VoLightListSet(nullptr);
    if (lights_ != nullptr) (void)VoShaderReferenceDestroy(lights_, 1);
    if (list_ != nullptr) (void)VoReferenceListDestroy(list_, nullptr);
    if (primitive_ != nullptr) (void)VoPrimitiveDestroy(primitive_);
    if (material_ != nullptr) (void)VoMaterialDestroy(material_);
    if (buffer_ != nullptr) (void)VoScreenBufferDestroy(buffer_);
    if (aside_ != nullptr) (void)VoScreenBufferDestroy(aside_);
  }
  Stage(const Stage &) = delete;
  Stage &operator=(const Stage &) = delete;

  bool ok() const { return ok_; }
  VtPrimitive *primitive() const { return primitive_; }
  VtShader *point_light() const { return point_; }
  VtReference *list() const { return list_; }
  VtMaterial *material() const { return material_; }
  VtReference *lights() const { return lights_; }
  VtScreenBuffer *buffer() const { return buffer_; }

  // A render of the code on the worker count given; its status, and the
  // picture in *picture.
  VtStatus Render(uint32_t code, int32_t workers, std::vector<float> *picture) const {
    VtTypedValue v{};
    v.type = VtInt32;
    v.value.i = workers;
    EXPECT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &v), 0u);
    VtTypedValue black{};
    black.type = VtColourType;
    if (Live()) {
      EXPECT_EQ(VoScreenBufferClear(buffer_, VO_SB_COLOUR, &black), 0u);
    }
    const VtStatus st = VoExecute(code);
    picture->clear();
    if (Live()) Read(picture);
    return st;
  }

  // A render of the code into a buffer of the stage's size set aside for it
  // (from a render's callback: the stage's buffer holds that render's
  // frame); its status, and the picture it leaves there.
  VtStatus RenderAside(uint32_t code, std::vector<float> *picture) const {
    VtTypedValue v{};
    v.type = VtNat32;
    v.value.u = kWidth;
    if (aside_ == nullptr && (aside_ = VoScreenBufferCreate()) != nullptr) {
      EXPECT_EQ(VoScreenBufferSetControl(aside_, VO_SB_WIDTH, &v), 0u);
      v.value.u = kHeight;
      EXPECT_EQ(VoScreenBufferSetControl(aside_, VO_SB_HEIGHT, &v), 0u);
      EXPECT_EQ(VoScreenBufferAllocateData(aside_, VO_SB_COLOUR), 0u);
    }
    VtTypedValue black{};
    black.type = VtColourType;
    EXPECT_EQ(VoScreenBufferClear(aside_, VO_SB_COLOUR, &black), 0u);
    VtScreenBuffer *was = VoScreenBufferGet();
    VtStatus st = VoScreenBufferSet(aside_);
    if (st == 0) st = VoExecute(code);
    EXPECT_EQ(VoScreenBufferSet(was), 0u);
    ReadBuffer(aside_, kWidth, kHeight, picture);
    return st;
  }

  // Whether the buffer is still the application's and keeps its colours: a
  // call made from a render's callback may have given either back (no
  // picture to read then).
  bool Live() const {
    uint32_t mask = 0;
    return VoScreenBufferGetDataMask(buffer_, &mask) == 0 && (mask & VO_SB_COLOUR) != 0;
  }

  // The screen buffer's picture as it is now.
  void Read(std::vector<float> *picture) const { ReadBuffer(buffer_, kWidth, kHeight, picture); }

 private:
  bool Lights() {
    VtShader *ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient"),
             *point = VoShaderCreate(VO_SHADER_LIGHT, "point");
    if (ambient != nullptr) lights_ = VoShaderReferenceAppend(lights_, VoShaderReferenceCreate(ambient));
    if (point != nullptr) lights_ = VoShaderReferenceAppend(lights_, VoShaderReferenceCreate(point));
    VtTypedValue at{};
    at.type = VtPoint;
    at.value.v[0] = 2, at.value.v[1] = 3, at.value.v[2] = 5;
    point_ = point;
    return ambient != nullptr && point != nullptr && VoShaderSetArg(point, "location", &at) == 0;
  }

  VtScreenBuffer *buffer_ = nullptr;
  mutable VtScreenBuffer *aside_ = nullptr;
  VtPrimitive *primitive_ = nullptr;
  VtMaterial *material_ = nullptr;
  VtShader *point_ = nullptr;
  VtReference *list_ = nullptr, *lights_ = nullptr;
  bool ok_ = false;
};

}  // namespace misuse
