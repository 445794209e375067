// The desktop tests' fixture (the library started as an application starts
// it, the desktop layer's settings as new, nothing of the layer left alive
// after) with helpers for the Direct3D back end's tests: its context, light
// shaders and reference rings, items and made images.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <vector>

#include "host/desktop.h"
#include "host/desktop_fixture.h"
#include "backends/vod3d/d3d.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {

class D3DTest : public DesktopTest {
 protected:
  void SetUp() override {
    DesktopTest::SetUp();
    c_ = d3d::Context();
    ASSERT_NE(c_, nullptr);
  }

  static VtTypedValue Get(uint32_t code) {
    VtTypedValue v{};
    EXPECT_EQ(VoControlGet(code, &v), 0u) << std::hex << code;
    return v;
  }
  static VtStatus SetFloat(uint32_t code, float f) {
    VtTypedValue v = TypedFloat(f);
    return VoControlSet(code, &v);
  }
  static VtStatus SetEnum(uint32_t code, uint32_t e) {
    VtTypedValue v = TypedWord(VtEnum, e);
    return VoControlSet(code, &v);
  }
  static VtStatus SetPointer(uint32_t code, void *p) {
    VtTypedValue v = TypedPointer(p);
    return VoControlSet(code, &v);
  }

  // A light shader of the class with its arguments (three-float ones as
  // points or colours).
  static VtShader *Light(const char *cls) {
    VtShader *s = VoShaderCreate(VO_SHADER_LIGHT, cls);
    EXPECT_NE(s, nullptr) << cls;
    return s;
  }
  static void Three(VtShader *s, const char *label, uint32_t type, float x, float y, float z) {
    VtTypedValue v{};
    v.type = type;
    v.value.v[0] = x;
    v.value.v[1] = y;
    v.value.v[2] = z;
    EXPECT_EQ(VoShaderSetArg(s, label, &v), 0u) << label;
  }
  static void One(VtShader *s, const char *label, float f) {
    VtTypedValue v = TypedFloat(f);
    EXPECT_EQ(VoShaderSetArg(s, label, &v), 0u) << label;
  }
  // A ring of the shaders, the last one its handle.
  static VtReference *Ring(std::initializer_list<VtShader *> shaders) {
    VtReference *ring = nullptr;
    for (VtShader *s : shaders) ring = VoShaderReferenceAppend(ring, VoShaderReferenceCreate(s));
    return ring;
  }
  static int LightCount(const d3d::VtD3DContext *c) {
    int n = 0;
    for (const d3d::VtD3DLight *l = c->lights; l != nullptr; l = l->next) ++n;
    return n;
  }

  // An item of the material colours, one-sided, power 4.
  static d3d::VtD3DItem Item(platform::ColourValue ambient, platform::ColourValue diffuse,
                             platform::ColourValue specular) {
    d3d::VtD3DItem item{};
    item.material.size = sizeof item.material;
    item.material.ambient = ambient;
    item.material.diffuse = diffuse;
    item.material.specular = specular;
    item.material.power = 4.0f;
    return item;
  }

  static const uint8_t *Pixel(const VtImage *image, int32_t x, int32_t y) {
    return image->data + static_cast<size_t>(y) * static_cast<size_t>(image->bytes_per_row) +
           static_cast<size_t>(x) * static_cast<size_t>(image->bits / 8);
  }
  static ::testing::AssertionResult PixelIs(const VtImage *image, int32_t x, int32_t y, int r, int g, int b) {
    const uint8_t *p = Pixel(image, x, y);
    if (p[0] == r && p[1] == g && p[2] == b) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "pixel (" << x << ", " << y << ") is (" << int{p[0]} << ", " << int{p[1]} << ", " << int{p[2]}
           << "), not (" << r << ", " << g << ", " << b << ")";
  }
  // A 24-bit image of the size whose bytes are i * 7 + 3.
  static VtImage *Numbered(int32_t w, int32_t h, int32_t bits = 24) {
    VtImage *image = VoImageCreate();
    image->width = w;
    image->height = h;
    image->bits = bits;
    EXPECT_EQ(VoImageAllocateData(image), 0u);
    const size_t n = static_cast<size_t>(image->bytes_per_row) * static_cast<size_t>(h);
    for (size_t i = 0; i < n; ++i) image->data[i] = static_cast<uint8_t>(i * 7 + 3);
    return image;
  }

  d3d::VtD3DContext *c_ = nullptr;
};

// An axis-aligned box of six quadrilaterals turned outwards, sharing its
// eight corners (corner i has bit 0 for x, 1 for y, 2 for z).
inline VtPrimitive *SceneBox(float x0, float x1, float y0, float y1, float z0, float z1) {
  static const int32_t counts[6] = {4, 4, 4, 4, 4, 4};
  static const int32_t faces[24] = {0, 4, 6, 2, 1, 3, 7, 5, 0, 1, 5, 4, 2, 6, 7, 3, 0, 2, 3, 1, 4, 5, 7, 6};
  float corners[8][3];
  for (int i = 0; i < 8; ++i) {
    corners[i][0] = (i & 1) != 0 ? x1 : x0;
    corners[i][1] = (i & 2) != 0 ? y1 : y0;
    corners[i][2] = (i & 4) != 0 ? z1 : z0;
  }
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {TypedPointer(corners)};
  return VoPrimitiveCreateMesh(6, nullptr, counts, faces, 1, ids, data);
}

// Scenes of primitives: rings of them (destroyed with their primitives at
// the end), the context's items in order, materials of shaders.
class D3DSceneTest : public D3DTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(VoD3DPrimListDestroy(), 0u);
    for (VtReference *r : rings_) (void)VoPrimitiveReferenceDestroy(r, 1);
    for (VtMaterial *m : materials_) (void)VoMaterialDestroy(m);
    D3DTest::TearDown();
  }
  VtReference *List(std::initializer_list<VtPrimitive *> prims) {
    std::vector<VtPrimitive *> v(prims);
    VtReference *ring = VoPrimitiveListCreate(static_cast<uint32_t>(v.size()), v.data());
    rings_.push_back(ring);
    return ring;
  }
  static std::vector<d3d::VtD3DItem *> Items(const d3d::VtD3DContext *c) {
    std::vector<d3d::VtD3DItem *> out;
    for (d3d::VtD3DItem *i = c->items; i != nullptr; i = i->next) out.push_back(i);
    return out;
  }
  static VtShader *Shader(uint32_t type, const char *cls) {
    VtShader *s = VoShaderCreate(type, cls);
    EXPECT_NE(s, nullptr) << cls;
    return s;
  }
  static void Colour(VtShader *s, const char *label, float r, float g, float b) {
    Three(s, label, VtColourType, r, g, b);
  }
  // Gives the primitive a material of the shaders (destroyed at the end).
  void Dress(VtPrimitive *p, std::initializer_list<VtShader *> shaders) {
    VtMaterial *m = VoMaterialCreate();
    ASSERT_NE(m, nullptr);
    materials_.push_back(m);
    for (VtShader *s : shaders) {
      ASSERT_EQ(VoMaterialSetShader(m, s), 0u);
      (void)VoShaderDestroy(s);
    }
    ASSERT_EQ(VoPrimitiveSetMaterial(p, m), 0u);
  }
  std::vector<VtReference *> rings_;
  std::vector<VtMaterial *> materials_;
};

}  // namespace vo::test
