// Duplication of two-sided primitives through execute 0x160003.

#include "geops_fixture.h"

namespace vo::test {
namespace {

class DuplicateTest : public GeopsTest {
 public:
  static VtStatus Duplicate() { return VoExecute(VO_EXECUTE_GEOPS_DUPLICATE_TWO_SIDED); }
};

TEST_F(DuplicateTest, ATwoSidedTriangleGainsItsReversedCopy) {
  VtPrimitive *p = Mesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}}, true);
  const uint32_t codes[] = {VO_PRIM_EDGES, VO_PRIM_NVERTS, VO_PRIM_NPOLYS, VO_VERT_COVERT,
                            VO_EDGE_POLYS, VO_EDGE_VREFS,  VO_EDGE_EDGES,  VO_POLY_EDGES};
  ASSERT_EQ(VoPrimitiveSetContents(p, VoContentsUnion(VoPrimitiveGetContents(p), 8, codes)), 0u);
  ASSERT_EQ(VoPrimitiveSetSidedness(p, 1), 0u);
  const auto old_vertices = Vertices(p);
  // Each vertex names the next as its twin; the copies must name copies.
  for (int i = 0; i < 3; ++i)
    *PropertyAt<void *>(p, old_vertices[i], VO_VERT_COVERT) = old_vertices[(i + 1) % 3];
  void *old_polygon = Polygons(p)[0];
  const float old_plane[4] = {0, 0, 1, 0};  // counter-clockwise about +z through the origin

  VtPrimitive *one_sided = Mesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
  const auto untouched = Faces(one_sided);
  // A list flagged two-sided is not entered: nothing of it is doubled, so
  // it keeps its flag.
  VtPrimitive *list = ListOf({one_sided});
  list->flags |= VO_PRIMITIVE_TWO_SIDED;
  Scene({p, one_sided, list});
  ASSERT_EQ(Duplicate(), 0u);
  EXPECT_NE(list->flags & VO_PRIMITIVE_TWO_SIDED, 0u);

  EXPECT_EQ(PrimitiveType(p), VO_PRIMITIVE_MESH);
  EXPECT_EQ(VoPrimitiveGetSidedness(p), 0u);
  // Rings: old vertices a, b, c, then the copies in reverse order of
  // creation c', b', a'; the copy polygon after the old one.
  const auto vertices = Vertices(p);
  ASSERT_EQ(vertices.size(), 6u);
  EXPECT_EQ(std::vector<void *>(vertices.begin(), vertices.begin() + 3), old_vertices);
  const auto polygons = Polygons(p);
  ASSERT_EQ(polygons.size(), 2u);
  EXPECT_EQ(polygons[0], old_polygon);
  void *a2 = vertices[5], *b2 = vertices[4], *c2 = vertices[3];
  EXPECT_EQ(MeshBuild::Boundary(p, polygons[1]), (std::vector<void *>{a2, c2, b2}));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(PropertyAt<float>(p, vertices[5 - i], VO_VERT_WORLD)[0],
              PropertyAt<float>(p, old_vertices[i], VO_VERT_WORLD)[0]);
    EXPECT_EQ(PropertyAt<float>(p, vertices[5 - i], VO_VERT_NORMAL)[2], -1.0f);
    EXPECT_EQ(*PropertyAt<void *>(p, vertices[5 - i], VO_VERT_COVERT), vertices[5 - (i + 1) % 3]);
  }
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(PropertyAt<float>(p, polygons[1], VO_POLY_PLANE)[i], -old_plane[i] + 0.0f) << i;
  EXPECT_EQ(Count(p, VO_PRIM_NVERTS), 6u);
  EXPECT_EQ(Count(p, VO_PRIM_NPOLYS), 2u);
  // Edges built again: each polygon borders its own three.
  ASSERT_EQ(Edges(p).size(), 6u);
  for (void *e : Edges(p)) {
    VtPolygon *side = PropertyAt<VtPolygon *>(p, e, VO_EDGE_POLYS)[0];
    const auto ring = MeshBuild::Boundary(p, side);
    VtReference *start = *PropertyAt<VtReference *>(p, e, VO_EDGE_VREFS);
    EXPECT_NE(std::find(ring.begin(), ring.end(), start->data), ring.end());
    EXPECT_NE(std::find(ring.begin(), ring.end(), start->next->data), ring.end());
  }
  EXPECT_EQ(Faces(one_sided), untouched);
}

TEST_F(DuplicateTest, RunningOutOfMemoryLeavesThePrimitiveAndItsFlagAsTheyWere) {
  // A two-sided square with edges: a failure while copying leaves its one
  // polygon, four vertices and the two-sided flag; one while building the
  // edges again leaves it doubled and one-sided, without edges.
  std::vector<std::vector<void *>> faces;
  EveryAllocationFailsOn(
      [&] {
        VtPrimitive *p = Mesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}});
        const uint32_t edges = VO_PRIM_EDGES;
        EXPECT_EQ(VoPrimitiveSetContents(p, VoContentsUnion(VoPrimitiveGetContents(p), 1, &edges)), 0u);
        EXPECT_EQ(VoPrimitiveSetSidedness(p, 1), 0u);
        Scene({p});
        faces = Faces(p);
        return p;
      },
      [](VtPrimitive *) { return Duplicate(); },
      [&](VtPrimitive *p, uint64_t n) {
        if (VoPrimitiveGetSidedness(p) == 0) {
          EXPECT_EQ(Faces(p).size(), 2u) << n;
          EXPECT_TRUE(Edges(p).empty()) << n;
          return;
        }
        EXPECT_EQ(Faces(p), faces) << n;
        EXPECT_EQ(Vertices(p).size(), 4u) << n;
      },
      [](VtPrimitive *p) {
        EXPECT_EQ(Faces(p).size(), 2u);
        EXPECT_EQ(Vertices(p).size(), 8u);
        EXPECT_EQ(Edges(p).size(), 8u);
        EXPECT_EQ(VoPrimitiveGetSidedness(p), 0u);
      });
  EXPECT_GE(CountPosted(102), 1);
}

}  // namespace
}  // namespace vo::test
