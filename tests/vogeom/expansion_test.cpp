// Expansion: world conversion of transformed primitives, lists and list
// copies, fixed points, retained expansions, line ribbons, procedural and
// outside expanders, refused cycles.

#include <algorithm>
#include <cmath>

#include "support/fake_module.h"
#include "support/scene_fixture.h"
#include "vogeom/geom_state.h"

namespace vo::test {
namespace {

using Points = std::vector<std::array<float, 3>>;

class ExpansionTest : public SceneTest {
 protected:
  void TearDown() override {
    for (auto it = owned_.rbegin(); it != owned_.rend(); ++it) {
      EXPECT_EQ(VoPrimitiveDestroy(*it), 0u);
    }
    for (VtTransform *t : transforms_) VoTransformDestroy(t);
    SceneTest::TearDown();
  }
  VtPrimitive *Own(VtPrimitive *p) {
    owned_.push_back(p);
    return p;
  }
  // Destroys an owned primitive before the end of the test.
  void Destroy(VtPrimitive *p) {
    owned_.erase(std::find(owned_.begin(), owned_.end(), p));
    EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  }
  VtTransform *Shift(double x, double y, double z) {
    transforms_.push_back(Translation(x, y, z));
    return transforms_.back();
  }
  // A unit square in the plane x = at, facing +x.
  VtPrimitive *Square(float at, VtContents *contents = nullptr) {
    MeshBuild m(contents ? contents : MeshContents({}), VO_PRIMITIVE_MESH,
                {{at, 0, 0}, {at, 1, 0}, {at, 1, 1}, {at, 0, 1}}, {{0, 1, 2, 3}});
    return Own(m.primitive);
  }
  VtPrimitive *List(std::vector<VtPrimitive *> members, uint32_t type = VO_PRIMITIVE_LIST) {
    VtPrimitive *p = Own(VoPrimitiveCreate(Contents({VO_PRIM_PREFS, VO_PRIM_PARENT}), type));
    *PropertyAt<VtReference *>(p, nullptr, VO_PRIM_PREFS) =
        VoPrimitiveListCreate(static_cast<uint32_t>(members.size()), members.data());
    return p;
  }
  static Points WorldPoints(VtPrimitive *p) {
    Points out;
    for (void *v : MeshBuild::Ring(p, VO_PRIM_VERTS, VO_VERT_NEXT)) {
      const float *w = World(p, v);
      out.push_back({w[0], w[1], w[2]});
    }
    return out;
  }
  static Points Moved(Points points, float dx, float dy, float dz) {
    for (auto &p : points) p = {p[0] + dx, p[1] + dy, p[2] + dz};
    return points;
  }
  static uint32_t PrimitivesInUse() { return Geom()->primitive_pool->blocks_in_use; }

 private:
  std::vector<VtPrimitive *> owned_;
  std::vector<VtTransform *> transforms_;
};

TEST_F(ExpansionTest, UntransformedPrimitivesDoNotExpand) {
  VtPrimitive *a = Square(0);
  EXPECT_EQ(VoPrimitiveExpand(a, nullptr, 0), nullptr);
  EXPECT_EQ(VoPrimitiveExpandToList(a, nullptr, 0), nullptr);
  EXPECT_EQ(VoPrimitiveExpandToList(nullptr, nullptr, VO_EXPAND_AS_LIST), nullptr);
  VtReference *pieces = VoPrimitiveExpandToList(a, nullptr, VO_EXPAND_AS_LIST);
  EXPECT_EQ(Listed(pieces), std::vector<VtPrimitive *>{a});
  VoPrimitiveReferenceListDestroy(pieces);
  pieces = VoPrimitiveListExpand(VoPrimitiveListCreate(1, &a), nullptr, 0);
  EXPECT_EQ(Listed(pieces), std::vector<VtPrimitive *>{a});
  VoPrimitiveReferenceListDestroy(pieces);
  EXPECT_TRUE(PrimitiveLive(a));

  // Nothing but null, and an empty list, expand to a list holding null.
  pieces = VoPrimitiveListExpand(VoReferenceNodeCreate(nullptr), nullptr, 0);
  EXPECT_EQ(Listed(pieces), std::vector<VtPrimitive *>{nullptr});
  VoPrimitiveReferenceListDestroy(pieces);
  pieces = VoPrimitiveExpand(List({}), nullptr, 0);
  EXPECT_EQ(Listed(pieces), std::vector<VtPrimitive *>{nullptr});
  VoPrimitiveReferenceListDestroy(pieces);
}

TEST_F(ExpansionTest, AListOfTransformedMeshesExpandsToWorldSpaceTemporaries) {
  VtPrimitive *a = Square(0), *b = Square(2, MeshContents({VO_VERT_TEXCOORDS}));
  ASSERT_EQ(VoPrimitiveSetTransform(a, Shift(0, 10, 0)), 0u);
  ASSERT_EQ(VoPrimitiveSetTransform(b, Shift(0, 0, -5)), 0u);
  VtPrimitive *list = List({a, nullptr, b});
  const Points a_points = WorldPoints(a), b_points = WorldPoints(b);
  const uint32_t before = PrimitivesInUse();
  // The request holds normals, which the meshes lack.
  VtContents *request = MeshContents({VO_VERT_SCREEN, VO_VERT_NORMAL});

  VtReference *pieces = VoPrimitiveExpandToList(list, request, VO_EXPAND_AS_LIST);
  const std::vector<VtPrimitive *> got = Listed(pieces);
  ASSERT_EQ(got.size(), 2u);
  for (VtPrimitive *piece : got) {
    ASSERT_NE(piece, nullptr);
    EXPECT_NE(piece->flags & VO_PRIMITIVE_TEMPORARY, 0u);
    EXPECT_EQ(piece->flags & VO_PRIMITIVE_HAS_TRANSFORM, 0u);
    EXPECT_GE(PropertyOffset(piece->contents, VO_VERT_SCREEN), 0);
    EXPECT_LT(PropertyOffset(piece->contents, VO_VERT_NORMAL), 0);
    EXPECT_LT(PropertyOffset(piece->contents, VO_VERT_TEXCOORDS), 0);
  }
  EXPECT_EQ(WorldPoints(got[0]), Moved(a_points, 0, 10, 0));
  EXPECT_EQ(WorldPoints(got[1]), Moved(b_points, 0, 0, -5));
  EXPECT_EQ(WorldPoints(a), a_points);  // the sources stay where they were
  EXPECT_EQ(PrimitivesInUse(), before + 2);
  VoPrimitiveReferenceListDestroy(pieces);
  EXPECT_EQ(PrimitivesInUse(), before);

  // One step only: the list gives its members; option 64 keeps their own
  // vertex properties.
  pieces = VoPrimitiveExpandToList(list, request, 0);
  EXPECT_EQ(Listed(pieces), (std::vector<VtPrimitive *>{a, b}));
  VoPrimitiveReferenceListDestroy(pieces);
  pieces = VoPrimitiveExpandToList(b, request, VO_EXPAND_OWN_VERTICES);
  ASSERT_EQ(Listed(pieces).size(), 1u);
  EXPECT_GE(PropertyOffset(Listed(pieces)[0]->contents, VO_VERT_TEXCOORDS), 0);
  VoPrimitiveReferenceListDestroy(pieces);
}

// The point each normal was carried at.
Points g_normal_points;
VtStatus RecordingNormal(float *out, const float *point, const float *normal, void *) {
  g_normal_points.push_back({point[0], point[1], point[2]});
  out[0] = normal[0];
  out[1] = normal[1];
  out[2] = normal[2];
  return 0;
}

TEST_F(ExpansionTest, NormalsAreCarriedAtTheUntransformedPoint) {
  VtPrimitive *a = Square(3, MeshContents({VO_VERT_NORMAL}));
  ASSERT_EQ(VoPrimitiveSetTransform(a, Shift(1, 2, 3)), 0u);
  GeomState *g = Geom();
  const TransformNormalProc normal = g->transform_normal;
  g->transform_normal = &RecordingNormal;
  g_normal_points.clear();
  VtReference *pieces = VoPrimitiveExpand(a, nullptr, 0);
  g->transform_normal = normal;
  EXPECT_EQ(g_normal_points, WorldPoints(a));
  ASSERT_EQ(Listed(pieces).size(), 1u);
  EXPECT_EQ(WorldPoints(Listed(pieces)[0]), Moved(WorldPoints(a), 1, 2, 3));
  VoPrimitiveReferenceListDestroy(pieces);
}

TEST_F(ExpansionTest, ARetainedExpansionIsAnsweredAgainAndGoesWithItsPrimitive) {
  VtPrimitive *a = Square(0);
  ASSERT_EQ(VoPrimitiveSetTransform(a, Shift(0, 1, 0)), 0u);
  const uint32_t before = PrimitivesInUse();
  VtReference *first = VoPrimitiveExpandToList(a, nullptr, VO_EXPAND_RETAIN);
  VtReference *second = VoPrimitiveExpandToList(a, nullptr, VO_EXPAND_RETAIN);
  VtReference *third = VoPrimitiveExpandToList(a, nullptr, 0);
  EXPECT_NE(a->flags & VO_PRIMITIVE_RETAINED, 0u);
  ASSERT_EQ(Listed(first).size(), 1u);
  EXPECT_NE(first, second);
  EXPECT_EQ(Listed(first), Listed(second));
  EXPECT_EQ(Listed(first), Listed(third));
  VtPrimitive *piece = Listed(first)[0];
  EXPECT_EQ(piece->flags & VO_PRIMITIVE_TEMPORARY, 0u);
  EXPECT_NE(piece->flags & VO_PRIMITIVE_RETAINED_PIECE, 0u);
  for (VtReference *l : {first, second, third}) VoPrimitiveReferenceListDestroy(l);
  EXPECT_TRUE(PrimitiveLive(piece));
  EXPECT_EQ(PrimitivesInUse(), before + 1);
  Destroy(a);
  EXPECT_FALSE(PrimitiveLive(piece));
  EXPECT_EQ(PrimitivesInUse(), before - 1);

  // A list keeps its members as its pieces; they are not the list's to destroy.
  VtPrimitive *b = Square(0), *c = Square(1);
  VtPrimitive *list = List({b, c});
  VtReference *members = VoPrimitiveExpandToList(list, nullptr, VO_EXPAND_RETAIN);
  EXPECT_EQ(Listed(members), (std::vector<VtPrimitive *>{b, c}));
  VoPrimitiveReferenceListDestroy(members);
  Destroy(list);
  EXPECT_TRUE(PrimitiveLive(b) && PrimitiveLive(c));
}

TEST_F(ExpansionTest, PiecesNameTheirParentAndTakeTheExtraContents) {
  VtPrimitive *a = Square(0);
  ASSERT_EQ(VoPrimitiveSetTransform(a, Shift(0, 1, 0)), 0u);
  VtReference *pieces = VoPrimitiveExpandToList(a, nullptr, VO_EXPAND_PARENT);
  ASSERT_EQ(Listed(pieces).size(), 1u);
  VtPrimitive *piece = Listed(pieces)[0];
  ASSERT_NE(PropertyAt<VtPrimitive *>(piece, nullptr, VO_PRIM_PARENT), nullptr);
  EXPECT_EQ(*PropertyAt<VtPrimitive *>(piece, nullptr, VO_PRIM_PARENT), a);
  VoPrimitiveReferenceListDestroy(pieces);

  // The extra contents joins every request; a request for the primitive's
  // own contents keeps them too.
  VtTypedValue extra = TypedPointer(Contents({VO_VERT_COLOUR}));
  ASSERT_EQ(VoControlSet(VO_CONTROL_GEOMETRY_EXTRA_CONTENTS, &extra), 0u);
  for (VtContents *request : {static_cast<VtContents *>(nullptr), Contents({VO_PRIM_POLYS, VO_PRIM_VERTS})}) {
    pieces = VoPrimitiveExpandToList(a, request, 0);
    ASSERT_EQ(Listed(pieces).size(), 1u);
    piece = Listed(pieces)[0];
    EXPECT_GE(PropertyOffset(piece->contents, VO_VERT_COLOUR), 0);
    EXPECT_EQ(WorldPoints(piece).size(), 4u);
    VoPrimitiveReferenceListDestroy(pieces);
  }
}

TEST_F(ExpansionTest, ListsThatContainThemselvesAreRefused) {
  VtPrimitive *a = Square(0);
  VtPrimitive *inner = List({a});
  VtPrimitive *outer = List({inner, a});
  // inner now holds outer as well: a cycle through two lists.
  VtReference **members = PropertyAt<VtReference *>(inner, nullptr, VO_PRIM_PREFS);
  *members = VoPrimitiveReferenceAppend(*members, VoReferenceNodeCreate(outer));
  g_posted.clear();
  VtReference *pieces = VoPrimitiveExpandToList(outer, nullptr, VO_EXPAND_AS_LIST);
  EXPECT_EQ(Listed(pieces), std::vector<VtPrimitive *>{nullptr});
  EXPECT_EQ(CountPosted(messages::kListCycle), 1);
  VoPrimitiveReferenceListDestroy(pieces);
  pieces = VoPrimitiveExpand(inner, nullptr, 0);
  EXPECT_EQ(Listed(pieces), std::vector<VtPrimitive *>{nullptr});
  VoPrimitiveReferenceListDestroy(pieces);

  // A list shared by two branches is no cycle.
  VtPrimitive *shared = List({a});
  VtPrimitive *top = List({shared, List({shared})});
  pieces = VoPrimitiveExpandToList(top, nullptr, VO_EXPAND_AS_LIST);
  EXPECT_EQ(Listed(pieces), (std::vector<VtPrimitive *>{a, a}));
  VoPrimitiveReferenceListDestroy(pieces);
}

TEST_F(ExpansionTest, ListCopiesPassOnTheirTransformMaterialAndParent) {
  if (PropertyDescriptor(VO_PRIM_MATERIAL) == nullptr) {
    ASSERT_EQ(VoPrimitivePropertyRegister("voshader:material:271", VtGenericPtr, 1), VO_PRIM_MATERIAL);
  }
  VtPrimitive *moved = Square(0, MeshContents({VO_PRIM_PARENT})), *plain = Square(1);
  ASSERT_EQ(VoPrimitiveSetTransform(moved, Shift(0, 1, 0)), 0u);
  VtPrimitive *sub = List({plain});
  VtPrimitive *copy_list = List({moved, sub}, VO_PRIMITIVE_LIST_COPY);
  ASSERT_EQ(VoPrimitiveSetTransform(copy_list, Shift(0, 0, 10)), 0u);
  int material = 0;
  void *held = &material;
  VtTypedValue v = TypedPointer(&held);
  ASSERT_EQ(VoPrimitiveSetProperty(copy_list, VO_PRIM_MATERIAL, &v), 0u);

  VtReference *pieces = VoPrimitiveExpandToList(copy_list, nullptr, VO_EXPAND_AS_LIST);
  const std::vector<VtPrimitive *> got = Listed(pieces);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(WorldPoints(got[0]), Moved(WorldPoints(moved), 0, 1, 10));
  EXPECT_EQ(WorldPoints(got[1]), Moved(WorldPoints(plain), 0, 0, 10));
  for (VtPrimitive *piece : got) {
    EXPECT_NE(piece->flags & VO_PRIMITIVE_TEMPORARY, 0u);
    EXPECT_EQ(VoPrimitiveGetMaterial(piece), held);
  }
  VoPrimitiveReferenceListDestroy(pieces);

  // One step: copies of the members, the sub-list as a list copy of its own.
  pieces = VoPrimitiveExpand(copy_list, nullptr, 0);
  ASSERT_EQ(Listed(pieces).size(), 2u);
  VtPrimitive *sub_copy = Listed(pieces)[1];
  EXPECT_EQ(sub_copy->flags & VO_PRIMITIVE_TYPE_MASK, uint32_t{VO_PRIMITIVE_LIST_COPY});
  EXPECT_NE(VoPrimitiveGetTransform(sub_copy), nullptr);
  ASSERT_NE(PropertyAt<VtPrimitive *>(Listed(pieces)[0], nullptr, VO_PRIM_PARENT), nullptr);
  EXPECT_EQ(*PropertyAt<VtPrimitive *>(Listed(pieces)[0], nullptr, VO_PRIM_PARENT), copy_list);
  VoPrimitiveReferenceListDestroy(pieces);
}

// A procedural class whose expansion is a translated copy of a square.
struct Procedure {
  static inline VtPrimitive *square = nullptr;
  static inline std::vector<uint32_t> options;
  static VtReference *Expand(VtPrimitive *, void *data, VtContents *, uint32_t o) {
    options.push_back(o);
    EXPECT_EQ(data, &square);
    VtPrimitive *copy = VoPrimitiveCopy(square, nullptr);
    copy->flags |= VO_PRIMITIVE_TEMPORARY;
    return VoReferenceNodeCreate(copy);
  }
  static inline VtProceduralClass cls = {nullptr, nullptr, &Expand, nullptr};
  // The outside expander of type 12 (callback 0xe0001 of module 14).
  static inline std::vector<VtContents *> asked;
  static VtReference *Outside(VtPrimitive *, VtContents *contents, uint32_t) {
    asked.push_back(contents);
    return nullptr;
  }
};

TEST_F(ExpansionTest, ProceduralAndOutsideExpandersAreCalled) {
  Procedure::square = Square(5);
  Procedure::options.clear();
  VtPrimitive *p =
      Own(VoPrimitiveCreate(Contents({VO_PRIM_PROCCLASS, VO_PRIM_PROCDATA}), VO_PRIMITIVE_PROCEDURAL));
  *PropertyAt<VtProceduralClass *>(p, nullptr, VO_PRIM_PROCCLASS) = &Procedure::cls;
  *PropertyAt<void *>(p, nullptr, VO_PRIM_PROCDATA) = &Procedure::square;
  VtReference *pieces = VoPrimitiveExpandToList(p, nullptr, VO_EXPAND_AS_LIST | VO_EXPAND_RIBBONS);
  ASSERT_EQ(Listed(pieces).size(), 1u);
  EXPECT_EQ(WorldPoints(Listed(pieces)[0]), WorldPoints(Procedure::square));
  EXPECT_EQ(Procedure::options, std::vector<uint32_t>{VO_EXPAND_AS_LIST | VO_EXPAND_RIBBONS});
  VoPrimitiveReferenceListDestroy(pieces);
  *PropertyAt<void *>(p, nullptr, VO_PRIM_PROCDATA) = nullptr;  // the class releases nothing

  // Types 12 and 14 belong to modules outside the library: without them
  // nothing expands.
  VtPrimitive *outside = Own(VoPrimitiveCreate(nullptr, VO_PRIMITIVE_EXPANDED_12));
  EXPECT_EQ(VoPrimitiveExpand(outside, nullptr, 0), nullptr);
  Fake<0>::Reset(14, "vooutside");
  Fake<0>::m.has_callback = true;
  Fake<0>::m.slot = reinterpret_cast<VtProc>(&Procedure::Outside);
  ASSERT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  Procedure::asked.clear();
  EXPECT_EQ(VoPrimitiveExpand(outside, nullptr, 0), nullptr);
  VtContents *request = Contents({VO_VERT_COLOUR});
  EXPECT_EQ(VoPrimitiveExpand(outside, request, 0), nullptr);
  EXPECT_EQ(Procedure::asked, (std::vector<VtContents *>{Geom()->expand12_contents, request}));
  VtPrimitive *fourteen = Own(VoPrimitiveCreate(nullptr, VO_PRIMITIVE_EXPANDED_14));
  EXPECT_EQ(VoPrimitiveExpand(fourteen, nullptr, 0), nullptr);
  EXPECT_EQ(Procedure::asked.size(), 2u);
}

// Ribbons: a line at depth 2 in front of the default eye (which looks along
// -x; the image's x runs along +y, its y along -z).
class RibbonTest : public ExpansionTest {
 protected:
  VtPrimitive *Line(const std::vector<std::vector<float>> &points, uint32_t width, VtContents *contents) {
    std::vector<uint32_t> ring;
    for (uint32_t i = 0; i < points.size(); ++i) ring.push_back(i);
    MeshBuild m(contents, VO_PRIMITIVE_LINE, points, {ring});
    VtPrimitive *line = Own(m.primitive);
    VtTypedValue v = TypedPointer(&width);
    EXPECT_EQ(VoPrimitiveSetProperty(line, VO_PRIM_LINE_WIDTH, &v), 0u);
    line->flags |= VO_PRIMITIVE_OPEN_LINE | VO_PRIMITIVE_NO_SHADOW_CAST;
    return line;
  }
  // A world point in pixels of the current view.
  static std::array<double, 2> Pixel(const float *world) {
    float h[4];
    EXPECT_EQ(VoViewProjectPoint(world, h), 0u);
    return {h[0] / h[3] * 768.0, h[1] / h[3] * 576.0};
  }
  // The ribbon's only polygon: its corners in boundary order.
  static std::vector<const float *> Corners(VtPrimitive *ribbon) {
    std::vector<const float *> out;
    void *polygon = *PropertyAt<void *>(ribbon, nullptr, VO_PRIM_POLYS);
    for (void *v : MeshBuild::Boundary(ribbon, polygon)) out.push_back(World(ribbon, v));
    return out;
  }
};

TEST_F(RibbonTest, ALineBecomesARibbonOfItsWidth) {
  VtPrimitive *line = Line({{-1, -1, 0}, {-1, 1, 0}}, 10, MeshContents({}));
  EXPECT_EQ(VoPrimitiveExpand(line, nullptr, 0), nullptr);  // ribbons only when asked for
  VtReference *pieces = VoPrimitiveExpand(line, nullptr, VO_EXPAND_RIBBONS);
  ASSERT_EQ(Listed(pieces).size(), 1u);
  VtPrimitive *ribbon = Listed(pieces)[0];
  EXPECT_EQ(ribbon->flags & VO_PRIMITIVE_TYPE_MASK, uint32_t{VO_PRIMITIVE_MESH});
  EXPECT_NE(ribbon->flags & VO_PRIMITIVE_TEMPORARY, 0u);
  EXPECT_NE(ribbon->flags & VO_PRIMITIVE_NO_SHADOW_CAST, 0u);
  const std::vector<const float *> corners = Corners(ribbon);
  ASSERT_EQ(corners.size(), 4u);
  // Straight across the image: as tall as the line is wide, and as long as
  // the segment.
  // Corners: above and below the first end, below and above the second.
  const std::array<double, 2> a = Pixel(corners[0]), b = Pixel(corners[1]), c = Pixel(corners[2]),
                              d = Pixel(corners[3]);
  EXPECT_NEAR(b[1] - a[1], 10 * 1.0001, 1e-3);
  EXPECT_NEAR(c[1] - d[1], 10 * 1.0001, 1e-3);
  EXPECT_NEAR(d[0] - a[0], 2 / (2 * 2 * 4.0 / 3) * 768, 1e-2);
  // It faces the eye: its normal (Newell, boundary order) points at +x.
  double nx = 0;
  for (size_t i = 0; i < 4; ++i) {
    const float *p = corners[i], *q = corners[(i + 1) % 4];
    nx += (p[1] - q[1]) * (p[2] + q[2]);
  }
  EXPECT_GT(nx, 0);
  VoPrimitiveReferenceListDestroy(pieces);

  // A diagonal segment comes out wider by 0.207 of its width.
  VtPrimitive *diagonal = Line({{-1, -1, -1}, {-1, 0.5f, 0.5f}}, 10, MeshContents({}));
  pieces = VoPrimitiveExpand(diagonal, nullptr, VO_EXPAND_RIBBONS);
  ASSERT_EQ(Listed(pieces).size(), 1u);
  const std::vector<const float *> slant = Corners(Listed(pieces)[0]);
  const std::array<double, 2> p0 = Pixel(slant[0]), p1 = Pixel(slant[1]), p3 = Pixel(slant[3]);
  const double along[2] = {p3[0] - p0[0], p3[1] - p0[1]};
  const double across =
      std::fabs(along[0] * (p1[1] - p0[1]) - along[1] * (p1[0] - p0[0])) / std::hypot(along[0], along[1]);
  EXPECT_NEAR(across, 10 * 1.0001 * 1.207, 1e-2);
  VoPrimitiveReferenceListDestroy(pieces);
}

TEST_F(RibbonTest, ALineBoxIsWidenedByHalfItsWidthOnTheScreen) {
  // At depth 2 a pixel spans 4/576 both ways: 5 pixels reach 5/144 from
  // every corner of the vertices' box.
  VtPrimitive *line = Line({{-1, -1, 0}, {-1, 1, 0}}, 10, MeshContents({}));
  VtBounds box{};
  ASSERT_EQ(VoPrimitiveGetBounds(line, &box), 0u);
  const float r = 5.0f / 144;
  EXPECT_NEAR(box.xmin, -1 - r, 1e-5);
  EXPECT_NEAR(box.xmax, -1 + r, 1e-5);
  EXPECT_NEAR(box.ymin, -1 - r, 1e-5);
  EXPECT_NEAR(box.ymax, 1 + r, 1e-5);
  EXPECT_NEAR(box.zmin, -r, 1e-5);
  EXPECT_NEAR(box.zmax, r, 1e-5);
}

TEST_F(RibbonTest, RibbonsLieOnThePlaneTheirNormalsSpan) {
  // Normals tilted towards +z: the ribbon lies in x + z = -1.
  VtPrimitive *line = Line({{-1, -1, 0}, {-1, 1, 0}}, 6, MeshContents({VO_VERT_NORMAL}));
  for (void *v : MeshBuild::Ring(line, VO_PRIM_VERTS, VO_VERT_NEXT)) {
    float *n = PropertyAt<float>(line, v, VO_VERT_NORMAL);
    n[0] = n[2] = 0.70710678f;
    n[1] = 0;
  }
  VtReference *pieces = VoPrimitiveExpand(line, nullptr, VO_EXPAND_RIBBONS);
  ASSERT_EQ(Listed(pieces).size(), 1u);
  for (const float *c : Corners(Listed(pieces)[0])) EXPECT_NEAR(c[0] + c[2], -1, 1e-5);
  VoPrimitiveReferenceListDestroy(pieces);

  // A line wholly behind the eye has no ribbon.
  VtPrimitive *behind = Line({{3, -1, 0}, {3, 1, 0}}, 6, MeshContents({}));
  pieces = VoPrimitiveExpand(behind, nullptr, VO_EXPAND_RIBBONS);
  EXPECT_EQ(Listed(pieces), std::vector<VtPrimitive *>{nullptr});
  VoPrimitiveReferenceListDestroy(pieces);
}

}  // namespace
}  // namespace vo::test
