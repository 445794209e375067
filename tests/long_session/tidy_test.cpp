// A long session's memory: a scene made, rendered, destroyed and tidied
// gives its pools' chunks back to the heap, though the kernel's node pool
// keeps live nodes (the light list, a list the application holds) all the
// while. Pool memory is counted as the chunks alive in the process.
#include <gtest/gtest.h>

#include <vo/vo_driver.h>

#include "platform/chunk_heap.h"
#include "long_session/image_target.h"
#include "support/demo_scene.h"

namespace vo::test {
namespace {

TEST(LongSessionTidy, AMadeAndDestroyedSceneGivesItsPoolChunksBackAtTheTidy) {
  ASSERT_EQ(VoInitialise(), 0u);
  VtImage *picture = ImageTargetMake(64, 48);
  ASSERT_NE(picture, nullptr);
  const VtTypedValue threshold = TypedNat32(8);  // chunks of 1016 bytes
  ASSERT_EQ(VoControlSet(VO_CONTROL_COMPACT_THRESHOLD, &threshold), 0u);
  // A node that lives through the session, allocated before the scenes.
  VtShader *ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
  ASSERT_NE(ambient, nullptr);
  VtReference *held = VoShaderReferenceCreate(ambient);
  ASSERT_NE(held, nullptr);
  DemoOptions fine;
  fine.slices = 200;
  fine.rings = 100;  // 40,000 triangles and their nodes
  DemoOptions coarse;
  coarse.slices = 8;
  coarse.rings = 4;
  const auto session = [&](const DemoOptions &o) {
    DemoScene scene(o);
    ASSERT_TRUE(scene.ok());
    ASSERT_EQ(DemoScene::View(64, 48), 0u);
    ASSERT_EQ(VoExecute(0xc0002), 0u);
  };
  session(coarse);  // warm-up: the modules' lasting tables, for a scene of few triangles
  EXPECT_EQ(VoMemoryTidy(), 0u);
  const size_t start = platform::ChunkBytesLive();
  size_t peak = 0;
  for (int round = 0; round < 3; ++round) {
    session(fine);
    peak = std::max(peak, platform::ChunkBytesLive());
    EXPECT_EQ(VoMemoryTidy(), 0u);
    const size_t after = platform::ChunkBytesLive();
    std::printf("round %d: pool chunks %zu bytes at the start, %zu after the tidy\n", round, start, after);
    // Each pool may keep up to the threshold's free blocks, and the chunks
    // its live blocks sit in; a leak of the scene's nodes is megabytes.
    EXPECT_LE(after, start + 192 * 1024) << "round " << round;
  }
  EXPECT_GT(peak, start + 1024 * 1024);  // the scene did use the pools
  VoShaderReferenceDestroy(held, 1);
  VoDriverSet(nullptr);
  VoImageDestroy(picture);
  EXPECT_EQ(VoTerminate(), 0u);
}

}  // namespace
}  // namespace vo::test
