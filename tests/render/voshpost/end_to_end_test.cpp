// The box post-process and the antialiasing render of
// end_to_end_postprocess.c (C interface only),
// compared with the text it is known to give
// (tests/data/end_to_end_postprocess.txt).

#include <cstddef>

#include "support/end_to_end.h"

#include <string>

extern "C" int vo_end_to_end_postprocess(char *buffer, size_t size);
extern "C" int vo_end_to_end_postprocess_classes(char *buffer, size_t size, const char *path);
extern "C" int vo_end_to_end_post_stage(char *buffer, size_t size, const char *path);
extern "C" int vo_end_to_end_antialias(char *buffer, size_t size);

namespace {

TEST(EndToEnd, ABoxClassRegisteredInCSmoothsABufferThroughRenderAndPostIntoTheImageDriver) {
  vo::test::ExpectSceneText<4096>(&vo_end_to_end_postprocess, "end_to_end_postprocess.txt");
}

int ClassesScene(char *buffer, size_t size) {
  const std::string path = ::testing::TempDir() + "/end_to_end_postprocess_classes.bmp";
  return vo_end_to_end_postprocess_classes(buffer, size, path.c_str());
}

TEST(EndToEnd, ASphereRenderedThroughMatrixGlowAndArchiveGivesTheSameFileTwice) {
  vo::test::ExpectSceneText<4096>(&ClassesScene, "end_to_end_postprocess_classes.txt");
}

int PostStageScene(char *buffer, size_t size) {
  const std::string path = ::testing::TempDir() + "/end_to_end_post_stage.tga";
  return vo_end_to_end_post_stage(buffer, size, path.c_str());
}

TEST(EndToEnd,
     ASceneThroughRenderDepthDepthOfFieldRenderLightsAndLensFlaresIntoATargaFileGivesItsKnownPixels) {
  vo::test::ExpectSceneText<4096>(&PostStageScene, "end_to_end_post_stage.txt");
}

TEST(EndToEnd, ACheckerboardAntialiasedThroughExecuteCode440006CountsItsFlagsIntoTheImageDriver) {
  vo::test::ExpectSceneText<4096>(&vo_end_to_end_antialias, "end_to_end_antialias.txt");
}

}  // namespace
