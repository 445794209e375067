// The shader classes of end_to_end_shader.c and end_to_end_terms.c, used
// through the C interface only, compared with the texts they are known to
// give.

#include <cstddef>

#include "support/end_to_end.h"

extern "C" int vo_end_to_end_shader(char *buffer, size_t size);
extern "C" int vo_end_to_end_terms(char *buffer, size_t size);
extern "C" int vo_end_to_end_shadow(char *buffer, size_t size);

namespace {

TEST(EndToEnd, AClassWrittenInCIsRegisteredRunAndDestroyedThroughTheCInterface) {
  vo::test::ExpectSceneText<4096>(&vo_end_to_end_shader, "end_to_end_shader.txt");
}

TEST(EndToEnd, MatteAndPlasticClassesWrittenInCShadeAGridUnderALightWrittenInC) {
  vo::test::ExpectSceneText<8192>(&vo_end_to_end_terms, "end_to_end_terms.txt");
}

TEST(EndToEnd, ASpotLightsShadowMapFromACRendererShadesAGridThroughTheCInterface) {
  vo::test::ExpectSceneText<4096>(&vo_end_to_end_shadow, "end_to_end_shadow.txt");
}

}  // namespace
