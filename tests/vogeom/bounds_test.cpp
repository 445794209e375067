// Bounds of primitives and lists, world bounds, the scene-bounds cache and
// the length units.

#include "support/polygon_fixture.h"
#include "vogeom/geom_messages.h"

namespace vo::test {
namespace {

using Bounds = PolygonModuleTest;

void ExpectBox(const VtBounds &b, float x0, float x1, float y0, float y1, float z0, float z1) {
  EXPECT_FLOAT_EQ(b.xmin, x0);
  EXPECT_FLOAT_EQ(b.xmax, x1);
  EXPECT_FLOAT_EQ(b.ymin, y0);
  EXPECT_FLOAT_EQ(b.ymax, y1);
  EXPECT_FLOAT_EQ(b.zmin, z0);
  EXPECT_FLOAT_EQ(b.zmax, z1);
}

// A list primitive (type 9) over the members.
VtPrimitive *List(std::vector<VtPrimitive *> members) {
  VtPrimitive *list =
      VoPrimitiveCreate(VoContentsCreate(1, std::vector<uint32_t>{VO_PRIM_PREFS}.data()), VO_PRIMITIVE_LIST);
  *PropertyAt<VtReference *>(list, nullptr, VO_PRIM_PREFS) =
      VoPrimitiveListCreate(static_cast<uint32_t>(members.size()), members.data());
  return list;
}

TEST_F(Bounds, PolygonsAndMeshesSpanTheirVertices) {
  VtPrimitive *triangle = Polygon({{0, 0, 0}, {1, 0, 0}, {0, 2, 0}});
  VtBounds b{};
  ASSERT_EQ(VoPrimitiveGetBounds(triangle, &b), 0u);  // computed: the layout has no bounds
  ExpectBox(b, 0, 1, 0, 2, 0, 0);
  VtPrimitive *mesh = Mesh({{-1, 0, 3}, {1, 0, 3}, {0, 5, -2}}, {{0, 1, 2}});
  ASSERT_NE(PropertyAt<VtBounds>(mesh, nullptr, VO_PRIM_BOUNDS), nullptr);  // held
  ASSERT_EQ(VoPrimitiveGetBounds(mesh, &b), 0u);
  ExpectBox(b, -1, 1, 0, 5, -2, 3);
  // Moving a vertex changes the held box only when it is reset.
  PropertyAt<float>(mesh, Vertices(mesh)[0], VO_VERT_WORLD)[0] = -4;
  ASSERT_EQ(VoPrimitiveGetBounds(mesh, &b), 0u);
  EXPECT_FLOAT_EQ(b.xmin, -1);
  ASSERT_EQ(VoPrimitiveResetProperty(mesh, VO_PRIM_BOUNDS), 0u);
  ASSERT_EQ(VoPrimitiveGetBounds(mesh, &b), 0u);
  EXPECT_FLOAT_EQ(b.xmin, -4);
  // Null addresses answer 16.
  EXPECT_EQ(VoPrimitiveGetBounds(nullptr, &b), 16u);
  EXPECT_EQ(VoPrimitiveGetBounds(mesh, nullptr), 16u);
  EXPECT_EQ(VoPrimitiveGetWorldBounds(nullptr, &b), 16u);
  EXPECT_EQ(VoPrimitiveDestroy(triangle) | VoPrimitiveDestroy(mesh), 0u);
}

TEST_F(Bounds, ListsUniteTheirMembersAndRefuseToContainThemselves) {
  VtPrimitive *a = Mesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
  VtPrimitive *b = Mesh({{5, 5, 5}, {6, 5, 5}, {5, 7, 5}}, {{0, 1, 2}});
  VtPrimitive *inner = List({b});
  VtPrimitive *outer = List({a, inner});
  VtBounds box{};
  ASSERT_EQ(VoPrimitiveGetBounds(outer, &box), 0u);
  ExpectBox(box, 0, 6, 0, 7, 0, 5);
  // An empty list: zeros and 0x20000012.
  VtPrimitive *empty = List({});
  box.xmax = 9;
  EXPECT_EQ(VoPrimitiveGetBounds(empty, &box), uint32_t{VO_STATUS_BAD_ARGUMENT});
  ExpectBox(box, 0, 0, 0, 0, 0, 0);
  // A list that leads back to itself is refused instead of recursing.
  VtReference **members = PropertyAt<VtReference *>(inner, nullptr, VO_PRIM_PREFS);
  *members = VoPrimitiveReferenceAppend(*members, VoReferenceNodeCreate(outer));
  g_posted.clear();
  EXPECT_EQ(VoPrimitiveGetBounds(outer, &box), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(geom_msg::kListCycle), 1);
  *members = VoReferenceListRemoveData(*members, outer);
  for (VtPrimitive *p : {outer, inner, empty, a, b}) EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

VtStatus ProceduralBounds(VtPrimitive *p, void *data) {
  const float *c = static_cast<const float *>(data);
  const VtBounds box = {c[0] - 1, c[0] + 1, c[1] - 1, c[1] + 1, c[2] - 1, c[2] + 1};
  const VtTypedValue v = TypedPointer(const_cast<VtBounds *>(&box));
  return VoPrimitiveSetProperty(p, VO_PRIM_BOUNDS, &v);
}

TEST_F(Bounds, AProceduralPrimitiveMadeOtherwiseAsksItsClass) {
  VtProceduralClass cls{};
  cls.bounds = &ProceduralBounds;
  float centre[3] = {10, 20, 30};
  const uint32_t codes[] = {VO_PRIM_BOUNDS, VO_PRIM_PROCCLASS, VO_PRIM_PROCDATA};
  VtPrimitive *p = VoPrimitiveCreate(VoContentsCreate(3, codes), VO_PRIMITIVE_PROCEDURAL);
  *PropertyAt<VtProceduralClass *>(p, nullptr, VO_PRIM_PROCCLASS) = &cls;
  *PropertyAt<void *>(p, nullptr, VO_PRIM_PROCDATA) = centre;
  VtBounds box{};
  ASSERT_EQ(VoPrimitiveGetBounds(p, &box), 0u);  // flag 0x20000: the held (zero) box
  ExpectBox(box, 0, 0, 0, 0, 0, 0);
  VoPrimitiveSetFlags(p, VO_PRIMITIVE_PROCEDURAL);
  ASSERT_EQ(VoPrimitiveGetBounds(p, &box), 0u);
  ExpectBox(box, 9, 11, 19, 21, 29, 31);
  *PropertyAt<void *>(p, nullptr, VO_PRIM_PROCDATA) = nullptr;
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
}

TEST_F(Bounds, SceneBoundsAreCachedUntilSomethingChanges) {
  VtPrimitive *a = Mesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
  VtPrimitive *b = Mesh({{2, 3, 4}, {3, 3, 4}, {2, 4, 4}}, {{0, 1, 2}});
  VtPrimitive *both[] = {a, b};
  VtReference *list = VoPrimitiveListCreate(2, both);
  ASSERT_EQ(VoPrimitiveListSet(list), 0u);
  VtBounds box{};
  ASSERT_EQ(VoBoundsGet(&box), 0u);
  ExpectBox(box, 0, 3, 0, 4, 0, 4);
  // A pinned box stands until the scene list is set again.
  const VtBounds pinned = {-1, 1, -2, 2, -3, 3};
  ASSERT_EQ(VoSceneBoundsSet(&pinned), 0u);
  ASSERT_EQ(VoBoundsGet(&box), 0u);
  ExpectBox(box, -1, 1, -2, 2, -3, 3);
  ASSERT_EQ(VoPrimitiveListSet(list), 0u);
  ASSERT_EQ(VoBoundsGet(&box), 0u);
  ExpectBox(box, 0, 3, 0, 4, 0, 4);
  // A member that moves invalidates the cache when it is reset.
  PropertyAt<float>(b, Vertices(b)[1], VO_VERT_WORLD)[0] = 8;
  ASSERT_EQ(VoPrimitiveResetProperty(b, VO_PRIM_BOUNDS), 0u);
  ASSERT_EQ(VoBoundsGet(&box), 0u);
  EXPECT_FLOAT_EQ(box.xmax, 8);
  // World bounds go through the transform module's bounds procedure; while
  // none answers, the copy stands in for it.
  VoPrimitiveSetFlags(a, VoPrimitiveGetFlags(a) | VO_PRIMITIVE_HAS_TRANSFORM);
  ASSERT_EQ(VoPrimitiveGetWorldBounds(a, &box), 0u);
  ExpectBox(box, 0, 1, 0, 1, 0, 0);
  // An empty scene answers the last box while the cache is stale.
  ASSERT_EQ(VoPrimitiveListSet(nullptr), 0u);
  ASSERT_EQ(VoBoundsGet(&box), 0u);
  EXPECT_FLOAT_EQ(box.xmax, 8);
  EXPECT_EQ(VoBoundsGet(nullptr), 16u);
  EXPECT_EQ(VoSceneBoundsSet(nullptr), 16u);
  EXPECT_EQ(VoSceneBoundsInvalidate(), 0u);
  EXPECT_EQ(VoPrimitiveReferenceDestroy(list, 1), 0u);
}

TEST_F(Bounds, BoundsCopyTakesAndIgnoresATransform) {
  const VtBounds from = {1, 2, 3, 4, 5, 6};
  VtBounds to{};
  ASSERT_EQ(VoBoundsCopy(&to, &from, reinterpret_cast<VtTransform *>(&to)), 0u);
  ExpectBox(to, 1, 2, 3, 4, 5, 6);
  EXPECT_EQ(VoBoundsCopy(nullptr, &from, nullptr), 16u);
}

VtStatus SetUnit(int32_t index) {
  VtTypedValue v{};
  v.type = VtEnum;
  v.value.i = index;
  return VoControlSet(VO_CONTROL_GEOMETRY_LENGTH_UNIT, &v);
}

TEST_F(Bounds, LengthsAndAreasConvertToMetres) {
  float length = 100, area = 100;
  ASSERT_EQ(VoLengthToMetres(&length) | VoAreaToSquareMetres(&area), 0u);  // metre: unchanged
  EXPECT_EQ(length, 100.0f);
  EXPECT_EQ(area, 100.0f);
  ASSERT_EQ(SetUnit(0), 0u);  // inch
  ASSERT_EQ(VoLengthToMetres(&length) | VoAreaToSquareMetres(&area), 0u);
  EXPECT_FLOAT_EQ(length, 2.54f);
  EXPECT_FLOAT_EQ(area, 0.064516f);
  // A custom factor of 2: lengths double, areas quadruple.
  VtTypedValue f{};
  f.type = VtFloat;
  f.value.f = 2;
  ASSERT_EQ(VoControlSet(VO_CONTROL_GEOMETRY_LENGTH_FACTOR, &f), 0u);
  length = area = 3;
  ASSERT_EQ(VoLengthToMetres(&length) | VoAreaToSquareMetres(&area), 0u);
  EXPECT_FLOAT_EQ(length, 6);
  EXPECT_FLOAT_EQ(area, 12);
  EXPECT_EQ(VoLengthToMetres(nullptr), 16u);
  EXPECT_EQ(VoAreaToSquareMetres(nullptr), 16u);
}

}  // namespace
}  // namespace vo::test
