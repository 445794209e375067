// The allocation-failure sweep over mesh files saved and loaded through the
// mesh module's default procedures (the file the application set). A save
// short of memory answers the memory status; a load answers a list only,
// and its terms are that the first failure ends the load with the meshes
// loaded before it: the sweep takes a shorter list as the failure and checks
// that every mesh in it is whole.
#include <gtest/gtest.h>

#include <vo/vo_meshio.h>

#include "support/allocation_sweep.h"
#include "support/geometry_fixture.h"
#include "sweep_files.h"
#include "scene/vogeom/geom_state.h"
#include "kernel/vomemman/pool.h"

namespace vo::test {
namespace {

// A mesh's vertex positions and normals as text.
std::string MeshText(VtPrimitive *p) {
  std::string text;
  for (void *v : MeshBuild::Ring(p, VO_PRIM_VERTS, VO_VERT_NEXT)) {
    for (uint32_t code : {VO_VERT_WORLD, VO_VERT_NORMAL}) {
      const float *f = PropertyAt<float>(p, v, code);
      for (int i = 0; f != nullptr && i < 3; ++i) text += std::to_string(f[i]) + " ";
    }
    text += ";";
  }
  return text;
}

// A flat grid of side x side vertices and its quads: large enough that
// loading it needs element pool chunks beyond those the start made.
VtPrimitive *Grid(int side) {
  Positions xyz;
  std::vector<std::vector<int32_t>> quads;
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) xyz.push_back({static_cast<float>(x), static_cast<float>(y), 0});
  for (int y = 0; y + 1 < side; ++y)
    for (int x = 0; x + 1 < side; ++x) {
      const int32_t at = y * side + x;
      quads.push_back({at, at + 1, at + side + 1, at + side});
    }
  return PolygonModuleTest::Mesh(xyz, quads, true);
}

class MeshFilesSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    meshes_[0] = PolygonModuleTest::Mesh({{0, 0, 0}, {2, 0, 0}, {2, 3, 0}, {0, 3, 0.5f}},
                                         {{0, 1, 2}, {0, 2, 3}}, true);
    meshes_[1] = Grid(24);
    ASSERT_NE(meshes_[0], nullptr);
    ASSERT_NE(meshes_[1], nullptr);
    list_ = VoPrimitiveListCreate(2, meshes_);
  }
  void TearDown() override {
    for (VtReference *l : kept_) EXPECT_EQ(VoPrimitiveReferenceDestroy(l, 1), 0u);
    EXPECT_EQ(VoPrimitiveReferenceDestroy(list_, 1), 0u);
    EXPECT_EQ(VoTerminate(), 0u);
  }

  static VtStatus FileSet(std::FILE *f) {
    const VtTypedValue v = TypedPointer(f);
    return VoControlSet(VO_CONTROL_MESHIO_FILE, &v);
  }
  VtStatus Save(const std::string &path) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    const uint32_t codes[] = {VO_VERT_WORLD, VO_VERT_NORMAL};
    VtStatus st = FileSet(f);
    if (st == 0) st = VoMeshSave(list_, 2, codes);
    (void)FileSet(nullptr);
    std::fclose(f);
    return st;
  }
  // The meshes loaded from the file, as text each. The lists are kept to
  // the end, so that every load needs element blocks of its own, from pool
  // chunks it allocates (freed blocks would be taken again without one).
  std::vector<std::string> Load(const std::string &path) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    std::vector<std::string> meshes;
    if (FileSet(f) == 0) {
      VtReference *list = VoMeshLoad();
      for (VtPrimitive *p : RingData<VtPrimitive>(list)) meshes.push_back(MeshText(p));
      if (list != nullptr) kept_.push_back(list);
    }
    (void)FileSet(nullptr);
    std::fclose(f);
    return meshes;
  }

  VtPrimitive *meshes_[2] = {};
  VtReference *list_ = nullptr;
  std::vector<VtReference *> kept_;
  vo_test::TempDir files_;
};

// A binary save walks the meshes and writes as it goes, allocating nothing:
// it cannot stop part way for want of memory.
TEST_F(MeshFilesSweep, ASaveAllocatesNothingAndSoCannotBeCutShortOfMemory) {
  const std::string path = files_.File("saved.vxm");
  SweptCall save;
  save.name = "VoMeshSave";
  save.call = [&] { return Save(path); };
  save.outcome = [&] { return FileBytes(path); };
  save.after_failure = [&] { EXPECT_LE(FileSize(path), 0) << "a failed save left bytes"; };
  EXPECT_EQ(SweepAllocationFailures(save).allocations, 0u);
}

TEST_F(MeshFilesSweep, AFailedLoadAnswersOnlyWholeMeshesAndTheNextLoadThemAll) {
  const std::string path = files_.File("loaded.vxm");
  ASSERT_EQ(Save(path), 0u);
  const std::vector<std::string> whole = Load(path);
  ASSERT_EQ(whole.size(), 2u);
  std::vector<std::string> loaded;
  SweptCall load;
  load.name = "VoMeshLoad";
  uint32_t primitives = 0;  // in use before the load
  load.call = [&] {
    primitives = Geom()->primitive_pool->blocks_in_use;
    loaded = Load(path);
    return loaded.size() == whole.size() ? VtStatus{0} : VtStatus{VO_STATUS_NO_MEMORY};
  };
  load.outcome = [&] {
    std::string text;
    for (const std::string &m : loaded) text += m + "|";
    return text;
  };
  load.after_failure = [&] {
    for (size_t i = 0; i < loaded.size(); ++i) EXPECT_EQ(loaded[i], whole[i]) << "mesh " << i;
    // The mesh the failure cut short was given back (its pool block would
    // escape the leak check).
    EXPECT_EQ(Geom()->primitive_pool->blocks_in_use, primitives + loaded.size());
  };
  load.exemption = "a load ends at its first failure with the meshes loaded before it";
  EXPECT_GT(SweepAllocationFailures(load).runs, 0u);
}

}  // namespace
}  // namespace vo::test
