// A triangle whose vertices the application moves to one point after it was
// made: its plane cannot be set again (the reset answers 2 and the old plane
// stays), and the scanline renderers and both ray-traced passes, at any
// worker count, draw what the lit scene without it draws (neither hiding nor
// shadowing what lies behind it), with no diagnostic about hits outside it
// or shading frames it cannot give.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <vo/vo_multit.h>

#include "cross_renderer/cross_scene.h"
#include "cross_renderer/renderers.h"
#include "kernel/vosystem/message_numbers.h"
#include "support/test_support.h"

namespace vo::test {
namespace {

constexpr uint32_t kMsgFrameDegenerate = 957;  // the shading frame of a hit cannot be made

VtTypedValue Pointer(const void *p) {
  VtTypedValue v{};
  v.type = VtGenericPtr;
  v.value.p = const_cast<void *>(p);
  return v;
}

// A pale green matte triangle in front of the glass cube and the marble
// sphere, inside the scene's bounds (which auto clipping was set from).
VtPrimitive *Triangle(VtMaterial **material) {
  static const float corners[3][3] = {{-1, 0.2f, 3}, {2, 0.2f, 3}, {0.5f, 1.8f, 3}};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {Pointer(corners)};
  VtPrimitive *p = ::VoPrimitiveCreatePolygon(3, 1, ids, data);
  *material = ::VoMaterialCreate();
  VtTypedValue colour{};
  colour.type = VtColourType;
  colour.value.v[0] = 0.5f, colour.value.v[1] = 1, colour.value.v[2] = 0.5f;
  if (p == nullptr || *material == nullptr ||
      ::VoMaterialSetShaderByPrototype(*material, VO_SHADER_COLOUR, "plain") != 0 ||
      ::VoMaterialSetShaderByPrototype(*material, VO_SHADER_REFLECTANCE, "matte") != 0 ||
      ::VoShaderSetArg(::VoMaterialGetShader(*material, VO_SHADER_COLOUR), "colour", &colour) != 0 ||
      ::VoPrimitiveSetMaterial(p, *material) != 0)
    return nullptr;
  return p;
}

// The element a link property names (the answer is the link's storage).
void *Linked(const VtTypedValue &v) {
  return v.value.p != nullptr ? *static_cast<void *const *>(v.value.p) : nullptr;
}

// Moves every vertex of the primitive to its first vertex's position.
void Collapse(VtPrimitive *p) {
  VtTypedValue first{}, at{};
  ASSERT_EQ(::VoPrimitiveGetProperty(p, VO_PRIM_VERTS, &first), 0u);
  auto *vertex = static_cast<VtVertex *>(Linked(first));
  ASSERT_EQ(::VoVertexGetProperty(p, vertex, VO_VERT_WORLD, &at), 0u);
  float point[3];
  std::memcpy(point, at.value.p, sizeof point);
  const VtTypedValue to = Pointer(point);
  for (int i = 0; i < 3 && vertex != nullptr; ++i) {
    ASSERT_EQ(::VoVertexSetProperty(p, vertex, VO_VERT_WORLD, &to), 0u);
    VtTypedValue next{};
    ASSERT_EQ(::VoVertexGetProperty(p, vertex, VO_VERT_NEXT, &next), 0u);
    vertex = static_cast<VtVertex *>(Linked(next));
  }
}

class CollapsedPolygonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::VoInitialise(), 0u);
    ASSERT_EQ(vo_test::Record(), 0u);
  }
  void TearDown() override { EXPECT_EQ(::VoTerminate(), 0u); }
};

TEST_F(CollapsedPolygonTest,
       ATriangleCollapsedToAPointAfterItsPlaneWasSetIsLeftOutByTheScanlineAndRayRenderers) {
  CrossScene scene(CrossOptions{});
  ASSERT_TRUE(scene.ok());
  VtMaterial *material = nullptr;
  VtPrimitive *triangle = Triangle(&material);
  ASSERT_NE(triangle, nullptr);
  std::vector<VtPrimitive *> prims;
  VtReference *node = scene.scene();
  do {
    node = node->next;
    prims.push_back(static_cast<VtPrimitive *>(node->data));
  } while (node != scene.scene());
  prims.push_back(triangle);
  VtReference *with = ::VoPrimitiveListCreate(static_cast<uint32_t>(prims.size()), prims.data());
  ASSERT_NE(with, nullptr);

  // The software renderers but those that frame shadow maps on the scene's
  // bounds, where the point the triangle collapsed to still counts.
  std::vector<Renderer> renderers;
  for (const Renderer &r : kRenderers)
    if (r.way == Way::kExecute && r.code != 0x200001 && r.code != 0x200002) renderers.push_back(r);
  auto draw = [&](VtReference *list, const Renderer &r, int32_t workers, Picture &out) {
    const VtTypedValue count = TypedInt32(workers);
    EXPECT_EQ(::VoControlSet(VO_CONTROL_MT_WORKERS, &count), 0u);
    EXPECT_EQ(::VoPrimitiveListSet(list), 0u);
    EXPECT_EQ(Draw(r, scene, out), 0u) << r.name << ", " << workers << " workers";
  };
  Picture plain, whole;
  draw(with, kZBuffer, 0, whole);
  draw(scene.scene(), kZBuffer, 0, plain);
  ASSERT_NE(whole, plain) << "the triangle stands in front of the scene";

  Collapse(triangle);
  VtTypedValue polygon{};
  ASSERT_EQ(::VoPrimitiveGetProperty(triangle, VO_PRIM_POLYS, &polygon), 0u);
  EXPECT_EQ(::VoPolygonResetProperty(triangle, static_cast<VtPolygon *>(Linked(polygon)), VO_POLY_PLANE), 2u);
  for (const Renderer &r : renderers)
    for (int32_t workers : {0, 4}) {
      Picture without, collapsed;
      draw(scene.scene(), r, workers, without);
      vo_test::Recorded().clear();
      draw(with, r, workers, collapsed);
      EXPECT_TRUE(collapsed == without) << r.name << ", " << workers << " workers";
      EXPECT_TRUE(vo_test::WithMessage(vo::messages::kRayHitNoVertices).empty()) << r.name;
      EXPECT_TRUE(vo_test::WithMessage(kMsgFrameDegenerate).empty()) << r.name;
    }
  EXPECT_EQ(::VoPrimitiveListSet(scene.scene()), 0u);
  ::VoReferenceListDestroy(with, nullptr);
  ::VoPrimitiveDestroy(triangle);
  ::VoMaterialDestroy(material);
}

}  // namespace
}  // namespace vo::test
