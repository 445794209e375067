// The saved-scene group (saved_scenes.h): a bounded number of seeds here
// (fewer under the sanitizers) and one bag of every shader class with edge
// values in its arguments; long_run/saved_scene_run.cpp runs any number.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "io/voobject/saved_scenes.h"
#include "support/sanitized.h"

namespace {

// A folder of this process's own: programs of the suite run side by side.
std::filesystem::path Folder(const char *name) {
  return std::filesystem::path(::testing::TempDir()) / (name + std::to_string(getpid()));
}

// Fewer seeds under the sanitizers, where a seed takes ten times as long.
constexpr uint32_t kSeeds = vo::test::kSanitized ? 15 : 60;

TEST(SavedSceneGroup, SeededScenesComeBackAsTheyWereSavedAfterARestart) {
  const auto root = Folder("saved_scene_group_");
  for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
    const vo_saved::Result r = vo_saved::Check(seed, root);
    EXPECT_EQ(r.faults, "") << "seed " << seed;
  }
  std::filesystem::remove_all(root);
}

TEST(SavedSceneGroup, EveryShaderClassKeepsItsArgumentsThroughASaveAndLoad) {
  const auto root = Folder("saved_scene_classes_");
  vo_saved::Options o;
  o.every_class = true;
  o.render = false;
  for (uint32_t seed : {1u, 2u}) EXPECT_EQ(vo_saved::Check(seed, root, o).faults, "") << "seed " << seed;
  std::filesystem::remove_all(root);
}

}  // namespace
