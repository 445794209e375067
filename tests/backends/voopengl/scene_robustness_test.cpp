// Frames over scenes that fail or that are hostile: every allocation of a
// frame failing in turn, and generated scene trees (deep nesting, singular
// and mirroring transforms, degenerate and NaN vertices, empty lists). The
// frame always closes; the sanitizers watch for the rest.
#include <cmath>
#include <random>

#include "scene/vogeom/expansion.h"
#include "backends/voopengl/frame.h"
#include "backends/voopengl/render_fixture.h"

namespace vo::test {
namespace {

// A procedural primitive that expands into one world-space square.
int expansions = 0;
VtReference *SquareExpand(VtPrimitive *, void *, VtContents *, uint32_t) {
  ++expansions;
  static const float xyz[4][3] = {{0.6f, -0.4f, 0}, {1.4f, -0.4f, 0}, {1.4f, 0.4f, 0}, {0.6f, 0.4f, 0}};
  const uint32_t codes[1] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {PropertyRecord(xyz)};
  VtPrimitive *square = VoPrimitiveCreatePolygon(4, 1, codes, data);
  if (square == nullptr) return nullptr;
  square->flags |= VO_PRIMITIVE_TEMPORARY;
  VtReference *node = VoReferenceNodeCreate(square);
  if (node == nullptr) (void)VoPrimitiveDestroy(square);
  return node;
}

class SceneRobustness : public Render {
 protected:
  VtPrimitive *Expanding() {
    static VtProceduralClass cls = {nullptr, nullptr, &SquareExpand, nullptr};
    VtPrimitive *p =
        VoPrimitiveCreate(GeometryTest::Contents({VO_PRIM_PROCCLASS, VO_PRIM_PROCDATA, VO_PRIM_BOUNDS}),
                          VO_PRIMITIVE_PROCEDURAL);
    EXPECT_NE(p, nullptr);
    primitives_.push_back(p);
    *PropertyAt<VtProceduralClass *>(p, nullptr, VO_PRIM_PROCCLASS) = &cls;
    const float box[6] = {0.6f, 1.4f, -0.4f, 0.4f, 0, 0};
    std::memcpy(PropertyAt<float>(p, nullptr, VO_PRIM_BOUNDS), box, sizeof box);
    return p;
  }
  VtTransform *Matrix(const double (&m)[16]) {
    VtTransform *t = VoTransformDefine(m);  // a singular matrix may be refused
    if (t != nullptr) transforms_.push_back(t);
    return t;
  }
  std::vector<uint8_t> Picture() const {
    return std::vector<uint8_t>(target_->data, target_->data + target_->bytes_per_row * target_->height);
  }
};

TEST_F(SceneRobustness, AnotherKindIsDrawnThroughACopyKeptUntilInvalidated) {
  expansions = 0;
  VtPrimitive *p = Expanding();
  ASSERT_EQ(VoPrimitiveSetMaterial(p, matte_), 0u);
  Scene({p});
  ASSERT_EQ(VoExecute(0x6f0001), 0u);
  EXPECT_EQ(expansions, 1);
  ASSERT_NE(opengl::RecordOf(p), nullptr);
  EXPECT_NE(opengl::RecordOf(p)->copy, nullptr);
  Near(Pixel(kW / 2 + 8, kH / 2), {153, 77, 230}, 1, "the copy");
  ASSERT_EQ(VoExecute(0x6f0001), 0u);
  EXPECT_EQ(expansions, 1);   // kept
  c_->display_list_mode = 1;  // compiled whatever its size, and drawn
  ASSERT_EQ(VoExecute(0x6f0001), 0u);
  EXPECT_NE(opengl::RecordOf(p)->display_list, 0u);
  Near(Pixel(kW / 2 + 8, kH / 2), {153, 77, 230}, 1, "the copy, listed");
  ASSERT_EQ(VoOpenGLPrimitiveInvalidate(p, VO_OPENGL_INVALID_GEOMETRY), 0u);
  ASSERT_EQ(VoExecute(0x6f0001), 0u);
  EXPECT_EQ(expansions, 2);
}

TEST_F(SceneRobustness, EveryAllocationFailingInAFrameIsReportedAndTheFrameCloses) {
  c_->transparency_mode = 1;
  VtShader *half = Shader(VO_SHADER_TRANSPARENCY, "plain");
  Triple(half, "colour", 0.5f, 0.5f, 0.5f);
  VtPrimitive *glass = Square(0.3f, 1.0f);
  ASSERT_EQ(VoPrimitiveSetMaterial(glass, Material({PlainColour(0, 0, 1), half})), 0u);
  VtPrimitive *listed = GeometryTest::ListOf({Square(0.2f, 0.0f)});
  primitives_.push_back(listed);
  VtPrimitive *inner = Square(0.3f);
  ASSERT_EQ(VoPrimitiveSetMaterial(inner, matte_), 0u);
  VtPrimitive *moved = Group({inner}, -1.0);
  Scene({glass, listed, moved, Expanding()});
  ASSERT_EQ(VoExecute(0x6f0001), 0u);
  const std::vector<uint8_t> whole = Picture();
  EveryAllocationFails(
      [&]() -> VtStatus {
        // What the frame made is made again.
        (void)VoOpenGLPrimitiveListInvalidate(nullptr,
                                              VO_OPENGL_INVALID_GEOMETRY | VO_OPENGL_INVALID_MATERIAL);
        g_posted.clear();
        const VtStatus s = VoExecute(0x6f0001);
        if (s != 0) return s;
        if (Picture() != whole) return 1u;
        // A copy that could not be made is posted, and the pieces are made
        // again for the frame: the picture is whole, the post the report.
        return CountPosted(expand::kMessageNoMemory) != 0 ? VO_STATUS_NO_MEMORY : 0u;
      },
      [&] {
        EXPECT_EQ(c_->frame_open, 0u);
        EXPECT_EQ(opengl::CurrentFrame(), nullptr);
        EXPECT_EQ(c_->deferred, nullptr);
        EXPECT_EQ(c_->transform_depth, 0);
      });
  ASSERT_EQ(VoExecute(0x6f0001), 0u);
  EXPECT_EQ(Picture(), whole);
}

// Scene trees from seeds: lists and groups nested up to 80 deep, singular
// and mirroring transforms, degenerate and NaN vertices, polygons without
// normals, empty lists and lists that hold themselves.
class SceneTrees : public SceneRobustness {
 protected:
  VtPrimitive *Leaf(std::mt19937 &rng) {
    std::uniform_real_distribution<float> at(-2.0f, 2.0f);
    float xyz[4][3];
    for (auto &v : xyz)
      for (float &x : v) x = at(rng);
    switch (rng() % 5) {
      case 0:  // every vertex the same point
        for (auto &v : xyz) std::memcpy(v, xyz[0], sizeof v);
        break;
      case 1: xyz[rng() % 4][rng() % 3] = std::nanf(""); break;
      case 2: xyz[1][0] = INFINITY; break;
      default: break;
    }
    const uint32_t codes[1] = {VO_VERT_WORLD};
    VtTypedValue data[1] = {PropertyRecord(xyz)};
    VtPrimitive *p = rng() % 3 == 0 ? Expanding() : VoPrimitiveCreatePolygon(4, 1, codes, data);
    if (p != nullptr && (p->flags & VO_PRIMITIVE_TYPE_MASK) != VO_PRIMITIVE_PROCEDURAL)
      primitives_.push_back(p);
    if (p != nullptr && rng() % 4 == 0) (void)VoPrimitiveSetMaterial(p, matte_);
    return p;
  }
  VtPrimitive *Tree(std::mt19937 &rng, int depth) {
    if (depth <= 0 || rng() % 6 == 0) return Leaf(rng);
    const int members = static_cast<int>(rng() % 3);
    std::vector<VtPrimitive *> inner;
    for (int i = 0; i < members; ++i) inner.push_back(Tree(rng, depth - 1 - static_cast<int>(rng() % 2)));
    if (inner.empty() && rng() % 2 == 0) inner.push_back(Tree(rng, depth - 1));
    const bool group = rng() % 2 == 0;
    VtPrimitive *list = GeometryTest::ListOf(inner, group ? VO_PRIMITIVE_LIST_COPY : VO_PRIMITIVE_LIST);
    primitives_.push_back(list);
    if (group && rng() % 2 == 0) {
      double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
      switch (rng() % 4) {
        case 0: m[0] = -1; break;        // mirroring
        case 1: m[0] = m[5] = 0; break;  // singular
        case 2: m[12] = 0.01; break;     // a small step
        default: m[0] = m[5] = m[10] = 2; break;
      }
      (void)VoPrimitiveSetTransform(list, Matrix(m));
    }
    return list;
  }
};

TEST_F(SceneTrees, GeneratedTreesDrawAndCloseTheFrame) {
  for (uint32_t seed = 1; seed <= 24; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    VtPrimitive *deep = Tree(rng, 80);
    // A chain 80 deep, whatever the draw of the tree.
    VtPrimitive *chain = Leaf(rng);
    for (int i = 0; i < 80; ++i) {
      chain = GeometryTest::ListOf({chain}, i % 2 == 0 ? VO_PRIMITIVE_LIST_COPY : VO_PRIMITIVE_LIST);
      primitives_.push_back(chain);
      if (i % 3 == 0) {
        const double m[16] = {-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.001, 0, 0, 1};
        (void)VoPrimitiveSetTransform(chain, Matrix(m));
      }
    }
    if (seed % 4 == 0) {  // a list holding itself
      VtReference **members = PropertyAt<VtReference *>(deep, nullptr, VO_PRIM_PREFS);
      if (members != nullptr) *members = VoPrimitiveReferenceAppend(*members, VoReferenceNodeCreate(deep));
    }
    c_->display_list_mode = static_cast<int32_t>(seed % 3);
    c_->transparency_mode = static_cast<int32_t>(seed % 2);
    Scene({deep, chain});
    (void)VoExecute(0x6f0001);
    EXPECT_EQ(c_->frame_open, 0u);
    EXPECT_EQ(c_->transform_depth, 0);
    EXPECT_EQ(c_->normalise_count, 0);
    EXPECT_EQ(c_->deferred, nullptr);
    if (seed % 4 == 0) {  // the cycle broken before the lists go
      VtReference **members = PropertyAt<VtReference *>(deep, nullptr, VO_PRIM_PREFS);
      if (members != nullptr && *members != nullptr) {
        VtReference *last = *members;
        while (last->next != *members) last = last->next;
        if (last->data == deep) last->data = Leaf(rng);
      }
    }
    (void)VoPrimitiveListSet(nullptr);
    (void)VoPrimitiveReferenceListDestroy(scene_);
    scene_ = nullptr;
  }
}

}  // namespace
}  // namespace vo::test
