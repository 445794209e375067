// The polygon module: its query answers and control, polygon primitives,
// the cached contents records and the vertex property set.

#include <cmath>
#include <limits>

#include "support/polygon_fixture.h"
#include "vogeom/geom_messages.h"
#include "vogeom/geom_state.h"
#include "vopoly/polygons.h"

namespace vo::test {
namespace {

using PolygonPrimitives = PolygonModuleTest;

VtStatus SetTolerance(float t) {
  VtTypedValue v{};
  v.type = VtFloat;
  v.value.f = t;
  return VoControlSet(poly::kControlTolerance, &v);
}

TEST_F(PolygonPrimitives, TheToleranceControlRefusesWhatItCannotUse) {
  VtTypedValue v{};
  ASSERT_EQ(VoControlGet(poly::kControlTolerance, &v), 0u);
  EXPECT_EQ(v.type, uint32_t{VtFloat});
  EXPECT_FLOAT_EQ(v.value.f, 1e-8f);
  // Refused: negative and not finite; the old value stays.
  EXPECT_EQ(SetTolerance(-1), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(SetTolerance(std::numeric_limits<float>::quiet_NaN()), uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(poly::kToleranceRefused), 2);
  ASSERT_EQ(VoControlGet(poly::kControlTolerance, &v), 0u);
  EXPECT_FLOAT_EQ(v.value.f, 1e-8f);
  EXPECT_EQ(VoControlGet(VO_CODE(VO_MODULE_POLYGONS, 2), &v), uint32_t{VO_STATUS_UNAVAILABLE});
}

TEST_F(PolygonPrimitives, CoincidentConsecutivePositionsAreDropped) {
  // Four vertices, the second and third at one place: three references,
  // four vertices on the ring, and no triangle flag (four were given).
  VtPrimitive *p = Polygon({{0, 0, 0}, {1, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(Vertices(p).size(), 4u);
  EXPECT_EQ(MeshBuild::Boundary(p, Polygons(p)[0]).size(), 3u);
  EXPECT_EQ(VoPrimitiveGetFlags(p), VO_PRIMITIVE_POLYGON | VO_PRIMITIVE_BOUNDS_HELD);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);

  VtPrimitive *triangle = Polygon({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  EXPECT_EQ(VoPrimitiveGetFlags(triangle) & VO_PRIMITIVE_TRIANGLES, VO_PRIMITIVE_TRIANGLES);
  EXPECT_EQ(VoPrimitiveDestroy(triangle), 0u);
  EXPECT_EQ(Polygon({{2, 2, 2}, {2, 2, 2}, {2, 2, 2}}), nullptr);  // one reference
  EXPECT_EQ(Polygon({{0, 0, 0}, {1, 0, 0}}), nullptr);             // no plane
  EXPECT_TRUE(g_posted.empty());

  // Within (|p| + |q| + 1) x tolerance of the last kept position; the last
  // is not compared with the first.
  VtPrimitive *near = Polygon({{0, 0, 0}, {5e-9f, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 0}});
  EXPECT_EQ(MeshBuild::Boundary(near, Polygons(near)[0]).size(), 4u);
  VtPrimitive *apart = Polygon({{0, 0, 0}, {2e-8f, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  EXPECT_EQ(MeshBuild::Boundary(apart, Polygons(apart)[0]).size(), 4u);
  EXPECT_EQ(VoPrimitiveDestroy(apart), 0u);
  ASSERT_EQ(SetTolerance(0.5f), 0u);
  VtPrimitive *coarse = Polygon({{0, 0, 0}, {0.4f, 0, 0}, {3, 0, 0}, {3, 3, 0}});
  EXPECT_EQ(MeshBuild::Boundary(coarse, Polygons(coarse)[0]).size(), 3u);
  EXPECT_EQ(VoPrimitiveDestroy(near) | VoPrimitiveDestroy(coarse), 0u);
}

TEST_F(PolygonPrimitives, PropertiesComeFromTheParallelArrays) {
  const Positions xyz = {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}};
  const float uv[][2] = {{0, 0}, {1, 0}, {1, 1}};
  const float colour[][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  const uint32_t ids[] = {VO_VERT_WORLD, VO_VERT_TEXCOORDS, VO_VERT_COLOUR};
  const VtTypedSlot data[] = {PropertyRecord(xyz.data()), PropertyRecord(uv), PropertyRecord(colour)};
  VtPrimitive *p = VoPrimitiveCreatePolygon(3, 3, ids, data);
  ASSERT_NE(p, nullptr);
  const std::vector<void *> v = Vertices(p);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(PropertyAt<float>(p, v[i], VO_VERT_TEXCOORDS)[0], uv[i][0]);
    EXPECT_EQ(PropertyAt<float>(p, v[i], VO_VERT_COLOUR)[2], colour[i][2]);
  }
  // The polygon contents: plane, clipped boundary and screen points.
  for (uint32_t code : {VO_POLY_PLANE, VO_POLY_VREFSCLIP, VO_VERT_SCREEN, VO_PRIM_POLYS, VO_PRIM_VERTS})
    EXPECT_GE(VoPropertyGetOffset(p->contents, code), 0) << code;
  EXPECT_LT(VoPropertyGetOffset(p->contents, VO_POLY_NEXT), 0);
  VtBounds box{};
  ASSERT_EQ(VoPrimitiveGetBounds(p, &box), 0u);
  EXPECT_FLOAT_EQ(box.xmax, 2);
  EXPECT_FLOAT_EQ(PolygonFloat(p, Polygons(p)[0], VO_POLY_AREA), 2.0f);
  EXPECT_EQ(VoPrimitiveDestroy(p), 0u);

  // Invalid arguments give null without a diagnostic.
  VtTypedSlot missing[] = {PropertyRecord(nullptr)};
  EXPECT_EQ(VoPrimitiveCreatePolygon(3, 1, ids, missing), nullptr);
  EXPECT_EQ(VoPrimitiveCreatePolygon(3, 0, ids, data), nullptr);
  EXPECT_EQ(VoPrimitiveCreatePolygon(1, 1, ids, data), nullptr);
  EXPECT_EQ(VoPrimitiveCreatePolygon(3, 1, nullptr, data), nullptr);
  const uint32_t not_vertex[] = {VO_POLY_AREA};
  EXPECT_EQ(VoPrimitiveCreatePolygon(3, 1, not_vertex, data), nullptr);
  EXPECT_TRUE(g_posted.empty());
}

TEST_F(PolygonPrimitives, ContentsAreCachedForTheCurrentDefault) {
  VtContents *polygon = VoPolygonContentsGet(1, 0, 0, nullptr);
  VtContents *mesh = VoPolygonContentsGet(1, 1, 0, nullptr);
  VtContents *flat = VoPolygonContentsGet(0, 1, 0, nullptr);
  ASSERT_NE(polygon, nullptr);
  EXPECT_EQ(VoPolygonContentsGet(1, 0, 0, nullptr), polygon);
  EXPECT_GE(VoPropertyGetOffset(mesh, VO_POLY_NEXT), 0);
  EXPECT_GE(VoPropertyGetOffset(mesh, VO_PRIM_BOUNDS), 0);
  EXPECT_LT(VoPropertyGetOffset(polygon, VO_PRIM_BOUNDS), 0);
  EXPECT_LT(VoPropertyGetOffset(flat, VO_POLY_PLANE), 0);
  EXPECT_GE(VoPropertyGetOffset(flat, VO_POLY_NEXT), 0);
  const uint32_t normal = VO_VERT_NORMAL;
  VtContents *with_normals = VoPolygonContentsGet(1, 1, 1, &normal);
  EXPECT_EQ(with_normals, VoContentsUnion(mesh, 1, &normal));
  EXPECT_EQ(VoPolygonContentsGet(1, 1, 1, nullptr), nullptr);
  EXPECT_EQ(CountPosted(poly::kPolygonArgument), 1);
  EXPECT_EQ(VoContentsGetDefault(), DefaultContents());

  // A new mandatory property widens the default: the records follow it.
  VoPropertyFlagMandatory();
  const uint32_t code = VoVertexPropertyRegister("test:weight", VtFloat, 1);
  ASSERT_NE(code, 0u);
  VtContents *again = VoPolygonContentsGet(1, 0, 0, nullptr);
  EXPECT_NE(again, polygon);
  EXPECT_GE(VoPropertyGetOffset(again, code), 0);
}

TEST_F(PolygonPrimitives, SettingAVertexPropertyAddsItToThePrimitive) {
  VtPrimitive *p = Polygon({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  std::vector<void *> v = Vertices(p);
  EXPECT_LT(VoPropertyGetOffset(p->contents, VO_VERT_COLOUR), 0);
  const float red[3] = {1, 0, 0};
  const VtTypedValue value = TypedPointer(const_cast<float *>(red));
  ASSERT_EQ(VoVertexSetProperty(p, static_cast<VtVertex *>(v[1]), VO_VERT_COLOUR, &value), 0u);
  // Every vertex moved to the wider layout; the one named holds the colour.
  v = Vertices(p);
  EXPECT_EQ(PropertyAt<float>(p, v[1], VO_VERT_COLOUR)[0], 1.0f);
  EXPECT_EQ(PropertyAt<float>(p, v[0], VO_VERT_COLOUR)[0], 0.0f);
  EXPECT_EQ(MeshBuild::Boundary(p, Polygons(p)[0]), v);
  // Null primitive or vertex: 0; a vertex of another primitive is refused.
  EXPECT_EQ(VoVertexSetProperty(nullptr, static_cast<VtVertex *>(v[0]), VO_VERT_COLOUR, &value), 0u);
  EXPECT_EQ(VoVertexSetProperty(p, nullptr, VO_VERT_COLOUR, &value), 0u);
  VtPrimitive *other = Polygon({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  EXPECT_EQ(VoVertexSetProperty(p, static_cast<VtVertex *>(Vertices(other)[0]), VO_VERT_COLOUR, &value),
            uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(VoVertexSetProperty(p, reinterpret_cast<VtVertex *>(Polygons(p)[0]), VO_VERT_COLOUR, &value),
            uint32_t{VO_STATUS_BAD_ARGUMENT});
  EXPECT_EQ(CountPosted(geom_msg::kElementForeign), 1);
  EXPECT_EQ(CountPosted(geom_msg::kElementNotLive), 1);
  EXPECT_EQ(VoPrimitiveDestroy(p) | VoPrimitiveDestroy(other), 0u);
}

}  // namespace
}  // namespace vo::test
