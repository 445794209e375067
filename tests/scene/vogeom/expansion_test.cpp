// Expansion: world conversion, lists and list copies, fixed points, retention, ribbons, outside expanders.

#include <algorithm>
#include <cmath>
#include <tuple>

#include "support/fake_module.h"
#include "support/scene_fixture.h"
#include "scene/vogeom/geom_state.h"

namespace vo::test {
namespace {

using Points = std::vector<std::array<float, 3>>;
using Prims = std::vector<VtPrimitive *>;

class ExpansionTest : public SceneTest {
 protected:
  void TearDown() override {
    Empty();
    for (auto it = owned_.rbegin(); it != owned_.rend(); ++it) EXPECT_EQ(VoPrimitiveDestroy(*it), 0u);
    for (VtTransform *t : transforms_) VoTransformDestroy(t);
    SceneTest::TearDown();
  }
  VtPrimitive *Own(VtPrimitive *p) { return owned_.push_back(p), p; }
  void Destroy(VtPrimitive *p) {
    owned_.erase(std::find(owned_.begin(), owned_.end(), p));
    EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
  }
  // The primitives of an expansion (to a list, or one step); its list is emptied by Empty.
  Prims Pieces(VtReference *list) { return lists_.push_back(list), Listed(list); }
  Prims Expand(VtPrimitive *p, uint32_t options, VtContents *c = nullptr) {
    return Pieces(VoPrimitiveExpandToList(p, c, options));
  }
  Prims Step(VtPrimitive *p, uint32_t options = 0) { return Pieces(VoPrimitiveExpand(p, nullptr, options)); }
  void Empty() {
    for (VtReference *l : lists_) VoPrimitiveReferenceListDestroy(l);
    lists_.clear();
  }
  VtPrimitive *Shift(VtPrimitive *p, double x, double y, double z) {
    transforms_.push_back(Translation(x, y, z));
    EXPECT_EQ(VoPrimitiveSetTransform(p, transforms_.back()), 0u);
    return p;
  }
  // A unit square in the plane x = at, facing +x.
  VtPrimitive *Square(float at, VtContents *contents = nullptr) {
    return Own(MeshBuild(contents ? contents : MeshContents({}), VO_PRIMITIVE_MESH,
                         {{at, 0, 0}, {at, 1, 0}, {at, 1, 1}, {at, 0, 1}}, {{0, 1, 2, 3}})
                   .primitive);
  }
  VtPrimitive *List(Prims members, uint32_t type = VO_PRIMITIVE_LIST) { return Own(ListOf(members, type)); }
  static Points WorldPoints(VtPrimitive *p, float dx = 0, float dy = 0, float dz = 0) {
    Points out;
    for (void *v : MeshBuild::Ring(p, VO_PRIM_VERTS, VO_VERT_NEXT))
      out.push_back({World(p, v)[0] + dx, World(p, v)[1] + dy, World(p, v)[2] + dz});
    return out;
  }
  static uint32_t PrimitivesInUse() { return Geom()->primitive_pool->blocks_in_use; }

 private:
  Prims owned_;
  std::vector<VtReference *> lists_;
  std::vector<VtTransform *> transforms_;
};

TEST_F(ExpansionTest, UntransformedPrimitivesAreTheirOwnPiecesAndCyclesExpandToNull) {
  VtPrimitive *a = Square(0);
  EXPECT_EQ(VoPrimitiveExpand(a, nullptr, 0), nullptr);
  EXPECT_EQ(Expand(a, VO_EXPAND_AS_LIST), Prims{a});
  // Nothing but null, and an empty list, expand to a list holding null.
  EXPECT_EQ(Pieces(VoPrimitiveListExpand(VoReferenceNodeCreate(nullptr), nullptr, 0)), Prims{nullptr});
  EXPECT_EQ(Pieces(VoPrimitiveExpand(List({}), nullptr, 0)), Prims{nullptr});
  VtPrimitive *inner = List({a}), *outer = List({inner, a});
  VtReference **members = PropertyAt<VtReference *>(inner, nullptr, VO_PRIM_PREFS);
  *members = VoPrimitiveReferenceAppend(*members, VoReferenceNodeCreate(outer));  // a cycle
  EXPECT_EQ(Expand(outer, VO_EXPAND_AS_LIST), Prims{nullptr});
  EXPECT_EQ(CountPosted(messages::kListCycle), 1);
  EXPECT_EQ(Step(inner), Prims{nullptr});
  VtPrimitive *shared = List({a}), *top = List({shared, List({shared})});
  EXPECT_EQ(Expand(top, VO_EXPAND_AS_LIST), (Prims{a, a}));
}

TEST_F(ExpansionTest, AListOfTransformedMeshesExpandsToWorldSpaceTemporaries) {
  VtPrimitive *a = Shift(Square(0), 0, 10, 0),
              *b = Shift(Square(2, MeshContents({VO_VERT_TEXCOORDS})), 0, 0, -5);
  VtPrimitive *list = List({a, nullptr, b});
  const uint32_t before = PrimitivesInUse();
  // The request's normals, which the meshes lack, are left out.
  VtContents *request = MeshContents({VO_VERT_SCREEN, VO_VERT_NORMAL});
  VtReference *pieces = VoPrimitiveExpandToList(list, request, VO_EXPAND_AS_LIST);
  const Prims got = Listed(pieces);
  ASSERT_EQ(got.size(), 2u);
  for (VtPrimitive *piece : got) {
    EXPECT_EQ(piece->flags & (VO_PRIMITIVE_TEMPORARY | VO_PRIMITIVE_HAS_TRANSFORM), VO_PRIMITIVE_TEMPORARY);
    EXPECT_EQ(
        PropertyOffset(piece->contents, VO_VERT_NORMAL) & PropertyOffset(piece->contents, VO_VERT_TEXCOORDS),
        -1);
    EXPECT_GE(PropertyOffset(piece->contents, VO_VERT_SCREEN), 0);
  }
  EXPECT_EQ(WorldPoints(got[0]), WorldPoints(a, 0, 10, 0));
  EXPECT_EQ(WorldPoints(got[1]), WorldPoints(b, 0, 0, -5));
  EXPECT_EQ(PrimitivesInUse(), before + 2);
  VoPrimitiveReferenceListDestroy(pieces);
  EXPECT_EQ(PrimitivesInUse(), before);
  // One step: the list gives its members; option 64 keeps their own vertex properties.
  EXPECT_EQ(Expand(list, 0, request), (Prims{a, b}));
  VtPrimitive *own = Expand(b, VO_EXPAND_OWN_VERTICES, request).at(0);
  EXPECT_GE(PropertyOffset(own->contents, VO_VERT_TEXCOORDS), 0);
}

Points g_normal_points;  // where each normal was carried
VtStatus RecordingNormal(float *out, const float *point, const float *normal, VtTransform *) {
  g_normal_points.push_back({point[0], point[1], point[2]});
  std::copy(normal, normal + 3, out);
  return 0;
}

TEST_F(ExpansionTest, NormalsAreCarriedAtTheUntransformedPoint) {
  VtPrimitive *a = Shift(Square(3, MeshContents({VO_VERT_NORMAL})), 1, 2, 3);
  GeomState *g = Geom();
  const TransformNormalProc normal = g->transform_normal;
  g->transform_normal = &RecordingNormal;
  g_normal_points.clear();
  const Prims pieces = Step(a);
  g->transform_normal = normal;
  EXPECT_EQ(g_normal_points, WorldPoints(a));
  EXPECT_EQ(WorldPoints(pieces.at(0)), WorldPoints(a, 1, 2, 3));
}

TEST_F(ExpansionTest, ARetainedExpansionIsAnsweredAgainAndGoesWithItsPrimitive) {
  VtPrimitive *a = Shift(Square(0), 0, 1, 0);
  const uint32_t before = PrimitivesInUse();
  const Prims first = Expand(a, VO_EXPAND_RETAIN | VO_EXPAND_PARENT);  // and each piece names its parent
  EXPECT_EQ(*PropertyAt<VtPrimitive *>(first.at(0), nullptr, VO_PRIM_PARENT), a);
  EXPECT_EQ(Expand(a, VO_EXPAND_RETAIN), first);
  EXPECT_EQ(Expand(a, 0), first);
  EXPECT_EQ(first.at(0)->flags & (VO_PRIMITIVE_TEMPORARY | VO_PRIMITIVE_RETAINED_PIECE),
            VO_PRIMITIVE_RETAINED_PIECE);
  Empty();
  EXPECT_TRUE(PrimitiveLive(first[0]));
  EXPECT_EQ(PrimitivesInUse(), before + 1);
  Destroy(a);
  EXPECT_FALSE(PrimitiveLive(first[0]));
  EXPECT_EQ(PrimitivesInUse(), before - 1);
  // A list's members are its pieces, not the list's to destroy.
  VtPrimitive *b = Square(0), *c = Square(1), *list = List({b, c});
  EXPECT_EQ(Expand(list, VO_EXPAND_RETAIN), (Prims{b, c}));
  Destroy(list);
  EXPECT_TRUE(PrimitiveLive(b) && PrimitiveLive(c));
}

TEST_F(ExpansionTest, ListCopiesPassOnTheirTransformMaterialAndParent) {
  ASSERT_EQ(VoPrimitivePropertyRegister("voshader:material:271", VtGenericPtr, 1), VO_PRIM_MATERIAL);
  VtPrimitive *moved = Shift(Square(0, MeshContents({VO_PRIM_PARENT})), 0, 1, 0), *plain = Square(1);
  VtPrimitive *copy_list = Shift(List({moved, List({plain})}, VO_PRIMITIVE_LIST_COPY), 0, 0, 10);
  void *material = &g_normal_points;
  VtTypedValue v = TypedPointer(&material);
  ASSERT_EQ(VoPrimitiveSetProperty(copy_list, VO_PRIM_MATERIAL, &v), 0u);
  const Prims got = Expand(copy_list, VO_EXPAND_AS_LIST);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(WorldPoints(got[0]), WorldPoints(moved, 0, 1, 10));
  EXPECT_EQ(WorldPoints(got[1]), WorldPoints(plain, 0, 0, 10));
  for (VtPrimitive *piece : got)
    EXPECT_TRUE((piece->flags & VO_PRIMITIVE_TEMPORARY) && VoPrimitiveGetMaterial(piece) == material);
  // One step: member copies, the sub-list as a list copy of its own.
  const Prims step = Step(copy_list);
  ASSERT_EQ(step.size(), 2u);
  EXPECT_EQ(PrimitiveType(step[1]), uint32_t{VO_PRIMITIVE_LIST_COPY});
  EXPECT_NE(VoPrimitiveGetTransform(step[1]), nullptr);
  EXPECT_EQ(*PropertyAt<VtPrimitive *>(step[0], nullptr, VO_PRIM_PARENT), copy_list);
}

// A procedural class whose expansion is a copy of a square; the outside expander of type 12 (callback 0xe0001
// of module 14). Both note their calls.
VtPrimitive *g_square = nullptr;
std::vector<uint64_t> g_calls;
VtReference *ProceduralExpand(VtPrimitive *, void *data, VtContents *, uint32_t options) {
  g_calls.push_back(options + (data == &g_square));
  VtPrimitive *copy = VoPrimitiveCopy(g_square, nullptr);
  copy->flags |= VO_PRIMITIVE_TEMPORARY;
  return VoReferenceNodeCreate(copy);
}
VtReference *OutsideExpand(VtPrimitive *, VtContents *contents, uint32_t) {
  return g_calls.push_back(reinterpret_cast<uintptr_t>(contents)), nullptr;
}

TEST_F(ExpansionTest, ProceduralAndOutsideExpandersAreCalled) {
  static VtProceduralClass cls = {nullptr, nullptr, &ProceduralExpand, nullptr};
  g_square = Square(5);
  VtPrimitive *p =
      Own(VoPrimitiveCreate(Contents({VO_PRIM_PROCCLASS, VO_PRIM_PROCDATA}), VO_PRIMITIVE_PROCEDURAL));
  *PropertyAt<VtProceduralClass *>(p, nullptr, VO_PRIM_PROCCLASS) = &cls;
  *PropertyAt<void *>(p, nullptr, VO_PRIM_PROCDATA) = &g_square;
  EXPECT_EQ(WorldPoints(Expand(p, VO_EXPAND_AS_LIST | VO_EXPAND_RIBBONS).at(0)), WorldPoints(g_square));
  *PropertyAt<void *>(p, nullptr, VO_PRIM_PROCDATA) = nullptr;  // the class releases nothing
  // Types 12 and 14 belong to modules outside the library: without them nothing expands.
  VtPrimitive *outside = Own(VoPrimitiveCreate(nullptr, VO_PRIMITIVE_EXPANDED_12));
  EXPECT_EQ(VoPrimitiveExpand(outside, nullptr, 0), nullptr);
  Fake<0>::Reset(14, "vooutside");
  Fake<0>::m.has_callback = true;
  Fake<0>::m.slot = reinterpret_cast<VtProc>(&OutsideExpand);
  ASSERT_EQ(VoInstallModule(&Fake<0>::Query), 0u);
  ASSERT_EQ(VoSystemStart(), 0u);
  VtContents *request = Contents({VO_VERT_COLOUR});
  for (VtContents *asked : {static_cast<VtContents *>(nullptr), request})
    EXPECT_EQ(VoPrimitiveExpand(outside, asked, 0), nullptr);
  EXPECT_EQ(VoPrimitiveExpand(Own(VoPrimitiveCreate(nullptr, VO_PRIMITIVE_EXPANDED_14)), nullptr, 0),
            nullptr);
  EXPECT_EQ(g_calls, (std::vector<uint64_t>{VO_EXPAND_AS_LIST | VO_EXPAND_RIBBONS | 1,
                                            reinterpret_cast<uintptr_t>(Geom()->expand12_contents),
                                            reinterpret_cast<uintptr_t>(request)}));
}

// Ribbons: a line at depth 2 in front of the default eye (which looks along -x; the image's x runs along +y,
// its y along -z).
class RibbonTest : public ExpansionTest {
 protected:
  VtPrimitive *Line(const std::vector<std::vector<float>> &points, uint32_t width, VtContents *contents) {
    VtPrimitive *line = Own(MeshBuild(contents, VO_PRIMITIVE_LINE, points, {{0, 1}}).primitive);
    VtTypedValue v = TypedPointer(&width);
    EXPECT_EQ(VoPrimitiveSetProperty(line, VO_PRIM_LINE_WIDTH, &v), 0u);
    line->flags |= VO_PRIMITIVE_OPEN_LINE | VO_PRIMITIVE_NO_SHADOW_CAST;
    return line;
  }
  // The corners of the ribbon's only polygon in pixels of the current view.
  static std::vector<std::array<double, 2>> Pixels(VtPrimitive *ribbon) {
    std::vector<std::array<double, 2>> out;
    for (void *v : MeshBuild::Boundary(ribbon, *PropertyAt<void *>(ribbon, nullptr, VO_PRIM_POLYS))) {
      float h[4];
      EXPECT_EQ(VoViewProjectPoint(World(ribbon, v), h), 0u);
      out.push_back({h[0] / h[3] * 768.0, h[1] / h[3] * 576.0});
    }
    return out;
  }
};

TEST_F(RibbonTest, ALineBecomesARibbonOfItsWidthFacingTheEye) {
  VtPrimitive *line = Line({{-1, -1, 0}, {-1, 1, 0}}, 10, MeshContents({}));
  EXPECT_EQ(VoPrimitiveExpand(line, nullptr, 0), nullptr);  // ribbons only when asked for
  VtPrimitive *ribbon = Step(line, VO_EXPAND_RIBBONS).at(0);
  EXPECT_EQ(PrimitiveType(ribbon), uint32_t{VO_PRIMITIVE_MESH});
  EXPECT_NE(ribbon->flags & VO_PRIMITIVE_TEMPORARY, 0u);
  EXPECT_NE(ribbon->flags & VO_PRIMITIVE_NO_SHADOW_CAST, 0u);
  // Straight across: as tall as the line is wide, as long as the segment; above and below the first end,
  // below and above the second.
  const auto c = Pixels(ribbon);
  ASSERT_EQ(c.size(), 4u);
  EXPECT_NEAR(c[1][1] - c[0][1], 10 * 1.0001, 1e-3);
  EXPECT_NEAR(c[2][1] - c[3][1], 10 * 1.0001, 1e-3);
  EXPECT_NEAR(c[3][0] - c[0][0], 2 / (2 * 2 * 4.0 / 3) * 768, 1e-2);
  // It faces the eye: counter-clockwise as seen, clockwise in pixels (whose y runs down).
  double area = 0;
  for (size_t i = 0; i < 4; ++i) area += c[i][0] * c[(i + 1) % 4][1] - c[(i + 1) % 4][0] * c[i][1];
  EXPECT_LT(area, 0);
}

TEST_F(RibbonTest, ALineBoxIsWidenedByHalfItsWidthOnTheScreen) {
  // At depth 2 a pixel spans 4/576 both ways: 5 pixels reach 5/144 from every corner of the vertices' box.
  VtBounds box{};
  ASSERT_EQ(VoPrimitiveGetBounds(Line({{-1, -1, 0}, {-1, 1, 0}}, 10, MeshContents({})), &box), 0u);
  const float r = 5.0f / 144, want[6] = {-1 - r, -1 + r, -1 - r, 1 + r, -r, r};
  for (int i = 0; i < 6; ++i) EXPECT_NEAR((&box.xmin)[i], want[i], 1e-5) << i;
}

// An expansion that runs out of memory leaves a piece out or answers a list
// holding null; either way the sticky status tells the renderer (0x4), so
// that a missing piece is not taken for nothing to draw.
TEST_F(RibbonTest, ExpansionsThatRunOutOfMemoryMarkTheStickyStatus) {
  VtTypedValue v{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_STICKY_STATUS, &v), 0u);
  auto *sticky = static_cast<uint32_t *>(v.value.p);
  ASSERT_NE(sticky, nullptr);
  VtPrimitive *copy_list =
      Shift(List({Shift(Square(0), 0, 1, 0), Square(1)}, VO_PRIMITIVE_LIST_COPY), 0, 0, 10);
  VtPrimitive *line = Line({{-1, -1, 0}, {-1, 1, 0}}, 10, MeshContents({}));
  for (auto [p, options, whole] : {std::tuple{copy_list, uint32_t{VO_EXPAND_AS_LIST}, size_t{2}},
                                   std::tuple{line, uint32_t{VO_EXPAND_RIBBONS}, size_t{1}}}) {
    int marked = 0;
    for (uint64_t n = 1;; ++n) {
      *sticky = 0;
      AllocationFailureArm(n);
      VtReference *list = VoPrimitiveExpandToList(p, nullptr, options);
      const bool fired = AllocationFailureFired();
      AllocationFailureArm(0);
      const Prims got = Listed(list);
      const bool complete = got.size() == whole &&
                            std::none_of(got.begin(), got.end(), [](VtPrimitive *q) { return q == nullptr; });
      if (!complete) {
        EXPECT_NE(*sticky & 0x4u, 0u) << "allocation " << n << " left a piece out unmarked";
      }
      marked += (*sticky & 0x4u) != 0;
      VoPrimitiveReferenceListDestroy(list);
      if (!fired) {
        EXPECT_TRUE(complete);
        break;
      }
    }
    EXPECT_GT(marked, 0);
  }
  *sticky = 0;
}

}  // namespace
}  // namespace vo::test
