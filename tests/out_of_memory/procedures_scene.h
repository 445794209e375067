// The scene the allocation-failure sweeps over the public render, stroke and
// back-end procedures share: the library as VoInitialise leaves it, a 16 x 16
// view, one primitive of each kind (a polygon and a mesh) in plain matte materials, a distant light, a plain
// background and a screen buffer with colour, alpha and depth planes as the
// render target. Pictures are read back from the buffer as float rows, so
// two outcomes compare equal only when every plane's bits are the same.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/allocation_sweep.h"

namespace vo::test {

constexpr uint32_t kSide = 16;

// The last diagnostic posted (status and message), kept off the output.
struct LastPosted {
  static inline VtStatus status = 0;
  static inline uint32_t message = 0;
  static void Clear() { status = 0, message = 0; }
};
inline VtStatus QuietHandler(VtStatus status, uint32_t message, uint32_t, uint32_t, VtTypedValue *) {
  LastPosted::status = status;
  LastPosted::message = message;
  return 0;
}

// The rows of every plane a buffer holds, as bytes.
inline std::string BufferPicture(VtScreenBuffer *b) {
  if (b == nullptr) return "no buffer";
  uint32_t mask = 0;
  if (VoScreenBufferGetDataMask(b, &mask) != 0 || (mask & VO_SB_COLOUR) == 0) return "no colour";
  std::string s;
  std::vector<float> row(kSide * 5);
  for (uint32_t y = 0; y < kSide; ++y) {
    const VtStatus st = (mask & VO_SB_DEPTH) != 0 ? VoScreenBufferGetScanRGBAZFloat(b, y, row.data())
                                                  : VoScreenBufferGetScanRGBAFloat(b, y, row.data());
    if (st != 0) return "unreadable";
    s.append(reinterpret_cast<const char *>(row.data()), row.size() * sizeof(float));
  }
  return s;
}

class ProcedureSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    ASSERT_EQ(VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&QuietHandler)), 0u);
    const float eye[3] = {0.5f, 2.0f, 7.0f}, at[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    ASSERT_EQ(VoViewSetResolution(nullptr, kSide, kSide, 1.0), 0u);
    ASSERT_EQ(VoViewSetPinhole(nullptr, eye, at, up, VO_PROJECTION_PERSPECTIVE, 40.0), 0u);
    ASSERT_EQ(VoViewSetClipping(nullptr, 1.0, 50.0), 0u);
    BuildScene();
    buffer_ = VoScreenBufferCreate();
    ASSERT_NE(buffer_, nullptr);
    ASSERT_EQ(VoScreenBufferAllocateData(buffer_, VO_SB_COLOUR | VO_SB_ALPHA | VO_SB_DEPTH), 0u);
    ASSERT_EQ(VoScreenBufferSet(buffer_), 0u);
  }
  void TearDown() override {
    VoScreenBufferSet(nullptr);
    if (buffer_ != nullptr) VoScreenBufferDestroy(buffer_);
    VoPrimitiveListSet(nullptr);
    VoLightListSet(nullptr);
    VoBackgroundSet(nullptr);
    if (scene_ != nullptr) VoReferenceListDestroy(scene_, nullptr);
    if (lights_ != nullptr) VoShaderReferenceDestroy(lights_, 1);
    if (background_ != nullptr) VoShaderDestroy(background_);
    for (VtPrimitive *p : {triangle_, box_})
      if (p != nullptr) VoPrimitiveDestroy(p);
    for (VtMaterial *m : materials_)
      if (m != nullptr) VoMaterialDestroy(m);
    EXPECT_EQ(VoTerminate(), 0u);
  }

  // Sets a shader argument of three floats (a colour or a point).
  static VtStatus ArgTriple(VtShader *shader, const char *label, uint32_t type, float x, float y, float z) {
    VtTypedValue v{};
    v.type = type;
    v.value.v[0] = x, v.value.v[1] = y, v.value.v[2] = z;
    return VoShaderSetArg(shader, label, &v);
  }
  static VtTypedValue Record(const void *array) {
    VtTypedValue v{};
    v.type = VtGenericPtr;
    v.value.p = const_cast<void *>(array);
    return v;
  }

  static VtMaterial *Matte(float r, float g, float b) {
    VtMaterial *m = VoMaterialCreate();
    if (m == nullptr) return nullptr;
    if (VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, "plain") != 0 ||
        ArgTriple(VoMaterialGetShader(m, VO_SHADER_COLOUR), "colour", VtColourType, r, g, b) != 0 ||
        VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, "matte") != 0) {
      VoMaterialDestroy(m);
      return nullptr;
    }
    return m;
  }

  // A box mesh: six faces turned outwards.
  static VtPrimitive *Box(float x0, float x1, float y0, float y1, float z0, float z1) {
    static const int32_t counts[6] = {4, 4, 4, 4, 4, 4};
    static const int32_t faces[24] = {0, 4, 6, 2, 1, 3, 7, 5, 0, 1, 5, 4, 2, 6, 7, 3, 0, 2, 3, 1, 4, 5, 7, 6};
    const uint32_t ids[1] = {VO_VERT_WORLD};
    static float corners[8][3];
    for (int i = 0; i < 8; ++i) {
      corners[i][0] = (i & 1) ? x1 : x0;
      corners[i][1] = (i & 2) ? y1 : y0;
      corners[i][2] = (i & 4) ? z1 : z0;
    }
    VtTypedValue data[1] = {Record(corners)};
    return VoPrimitiveCreateMesh(6, nullptr, counts, faces, 1, ids, data);
  }

  void BuildScene() {
    static const float corners[3][3] = {{-1.5f, -1, 0.5f}, {1.5f, -1, 0.5f}, {0, 1.5f, 0.5f}};
    const uint32_t ids[1] = {VO_VERT_WORLD};
    VtTypedValue data[1] = {Record(corners)};
    triangle_ = VoPrimitiveCreatePolygon(3, 1, ids, data);
    box_ = Box(-1.0f, 0.2f, -0.8f, 0.4f, -0.8f, 0.0f);
    ASSERT_TRUE(triangle_ != nullptr && box_ != nullptr);
    materials_[0] = Matte(0.9f, 0.5f, 0.2f);
    materials_[1] = Matte(0.25f, 0.45f, 0.85f);
    ASSERT_TRUE(materials_[0] != nullptr && materials_[1] != nullptr);
    ASSERT_EQ(VoPrimitiveSetMaterial(triangle_, materials_[0]), 0u);
    ASSERT_EQ(VoPrimitiveSetMaterial(box_, materials_[1]), 0u);
    VtPrimitive *members[2] = {triangle_, box_};
    scene_ = VoPrimitiveListCreate(2, members);
    VtShader *sun = VoShaderCreate(VO_SHADER_LIGHT, "distant");
    background_ = VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
    ASSERT_TRUE(scene_ != nullptr && sun != nullptr && background_ != nullptr);
    ASSERT_EQ(ArgTriple(sun, "location", VtPoint, 3, 4, 5), 0u);
    ASSERT_EQ(ArgTriple(sun, "to", VtPoint, 0, 0, 0), 0u);
    ASSERT_EQ(ArgTriple(background_, "colour", VtColourType, 0.1f, 0.15f, 0.2f), 0u);
    lights_ = VoShaderReferenceCreate(sun);
    ASSERT_EQ(VoPrimitiveListSet(scene_), 0u);
    ASSERT_EQ(VoLightListSet(lights_), 0u);
    ASSERT_EQ(VoBackgroundSet(background_), 0u);
  }

  // Clears every plane of the target, so that each run starts from the same
  // picture whatever the run before it left.
  void ClearBuffer() {
    VtTypedValue v{};
    v.type = VtColourType;
    (void)VoScreenBufferClear(buffer_, VO_SB_COLOUR, &v);
    v.type = VtFloat;
    (void)VoScreenBufferClear(buffer_, VO_SB_ALPHA, &v);
    v.value.f = 1e30f;
    (void)VoScreenBufferClear(buffer_, VO_SB_DEPTH, &v);
  }
  std::string Picture() { return BufferPicture(buffer_); }

  VtPrimitive *triangle_ = nullptr, *box_ = nullptr;
  VtMaterial *materials_[2] = {nullptr, nullptr};
  VtReference *scene_ = nullptr, *lights_ = nullptr;
  VtShader *background_ = nullptr;
  VtScreenBuffer *buffer_ = nullptr;
};

// A swept call of the name, with its outcome and what gives back what it made.
inline SweptCall Swept(std::string name, std::function<VtStatus()> call,
                       std::function<std::string()> outcome = nullptr, std::function<void()> undo = nullptr) {
  SweptCall c;
  c.name = std::move(name);
  c.call = std::move(call);
  c.outcome = std::move(outcome);
  c.undo = std::move(undo);
  return c;
}

// A call answering an object maps null to the memory status, so that the
// sweep's rule reads the same for both kinds of call.
template <typename T>
VtStatus Made(T *object) {
  return object != nullptr ? VtStatus{0} : VtStatus{VO_STATUS_NO_MEMORY};
}

}  // namespace vo::test
