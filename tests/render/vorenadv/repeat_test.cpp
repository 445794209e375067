// Renders repeated in one process: the z-buffer and the vertex-colour class
// give the same picture every time, hold nothing back between frames (every
// vertex, reference node and scan record given back) and, once their pools
// have grown at the first frame, make no more memory on later ones.

#include "support/face_mesh.h"
#include "render/vorenadv/advanced.h"
#include "render/vorenstd/renderer_fixture.h"

namespace vo::test {
namespace {

// Chunks, and blocks in use, of every pool the kernel knows.
uint32_t ChunksHeld() {
  uint32_t chunks = 0;
  for (VtPool *p = Kernel()->memory.pools; p != nullptr; p = p->next) chunks += p->chunks;
  return chunks;
}
uint64_t BlocksInUse() {
  uint64_t blocks = 0;
  for (VtPool *p = Kernel()->memory.pools; p != nullptr; p = p->next) blocks += p->blocks_in_use;
  return blocks;
}

class RepeatTest : public RendererTest {
 protected:
  void SetUp() override {
    RendererTest::SetUp();
    ASSERT_EQ(VoInstallModule(&VoEntryAdvancedRenderer), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    View(16, 16);
    ASSERT_EQ(Set(0xc000f, 0xc0002, VtEnum), 0u);  // float rows: every bit of the colour compared
  }
  // A 4 x 4 grid of quads (two of them split into triangles) over most of
  // the view, receding towards its top, coloured by vertex; and a triangle
  // in front of part of it.
  void GridScene() {
    std::vector<std::array<float, 3>> xyz, rgb;
    for (int j = 0; j <= 4; ++j)
      for (int i = 0; i <= 4; ++i) {
        xyz.push_back(At(1.0f + 3.5f * i, 1.0f + 3.5f * j, 0.3f + 0.1f * j));
        rgb.push_back({0.2f * i, 0.2f * j, 0.5f});
      }
    std::vector<std::vector<int32_t>> faces;
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 4; ++i) {
        const int32_t a = j * 5 + i, b = a + 1, c = a + 6, d = a + 5;
        if (i == j) {
          faces.push_back({a, d, c});
          faces.push_back({a, c, b});
        } else {
          faces.push_back({a, d, c, b});
        }
      }
    std::vector<int32_t> counts, indices;
    for (const auto &f : faces) {
      counts.push_back(static_cast<int32_t>(f.size()));
      indices.insert(indices.end(), f.begin(), f.end());
    }
    const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_COLOUR};
    const VtTypedValue data[2] = {PropertyRecord(xyz.data()), PropertyRecord(rgb.data())};
    VtPrimitive *mesh = VoPrimitiveCreateMesh(static_cast<uint32_t>(faces.size()), nullptr, counts.data(),
                                              indices.data(), 2, ids, data);
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(VoPrimitiveSetMaterial(mesh, material_), 0u);
    owned_.push_back(mesh);
    Scene({mesh, Polygon({{5, 3}, {2, 12}, {13, 9}}, 0.2f, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}})});
  }
  // Vertices in use by each primitive of the scene.
  std::vector<uint32_t> Vertices() const {
    std::vector<uint32_t> out;
    for (VtPrimitive *p : owned_) out.push_back(VerticesInUse(p));
    return out;
  }
  static std::map<uint32_t, std::vector<Pixel>> Picture(uint32_t code) {
    Output::rows.clear();
    EXPECT_EQ(VoExecute(code), 0u);
    return Output::rows;
  }
};

TEST_F(RepeatTest, TenRendersGiveOnePictureAndMemoryStaysFlat) {
  GridScene();
  for (uint32_t code : {0x200001u, 0xc0002u}) {
    SCOPED_TRACE(code);
    const std::vector<uint32_t> vertices = Vertices();
    const auto first = Picture(code);
    const uint32_t nodes = NodesInUse();  // with what the first render keeps for the next
    ASSERT_EQ(first.size(), 16u);
    // Something of the scene shows: not every pixel is the background.
    bool shown = false;
    for (const auto &[y, row] : first)
      for (const Pixel &p : row) shown = shown || p[0] + p[1] + p[2] > 0;
    EXPECT_TRUE(shown);
    const uint32_t chunks = ChunksHeld();
    const uint64_t blocks = BlocksInUse();
    const uint64_t allocations = AllocationsOf([&] { (void)Picture(code); });
    for (int i = 2; i < 10; ++i) {
      EXPECT_EQ(Picture(code), first) << "render " << i + 1;
      EXPECT_EQ(NodesInUse(), nodes);
      EXPECT_EQ(ChunksHeld(), chunks) << "render " << i + 1;
      EXPECT_EQ(BlocksInUse(), blocks) << "render " << i + 1;
    }
    EXPECT_EQ(AllocationsOf([&] { (void)Picture(code); }), allocations);
    EXPECT_EQ(Vertices(), vertices);
  }
}

TEST_F(RepeatTest, RunningOutOfMemoryAnywhereOnAMeshGivesBackEverything) {
  GridScene();
  for (uint32_t code : {0x200001u, 0xc0002u}) {
    SCOPED_TRACE(code);
    const std::vector<uint32_t> vertices = Vertices();
    (void)Picture(code);  // what the first render keeps for the next
    const uint32_t nodes = NodesInUse();
    const uint64_t blocks = BlocksInUse();
    EveryAllocationFails(
        [code] {
          const VtStatus st = VoExecute(code);
          if (AllocationFailureFired()) {
            EXPECT_EQ(st, VO_STATUS_NO_MEMORY);
          }
          return st;
        },
        [&] {
          EXPECT_EQ(NodesInUse(), nodes);
          EXPECT_EQ(BlocksInUse(), blocks);
          EXPECT_EQ(Vertices(), vertices);
        });
    // After the last failure the next render is whole.
    EXPECT_EQ(Picture(code).size(), 16u);
  }
}

}  // namespace
}  // namespace vo::test
