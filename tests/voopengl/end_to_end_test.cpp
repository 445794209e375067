// The OpenGL back end's scene of end_to_end_opengl.c (C interface only),
// compared with the text it is known to give
// (tests/data/end_to_end_opengl.txt).
#include <cstddef>

#include "support/end_to_end.h"

extern "C" int vo_end_to_end_opengl(char *buffer, size_t size);

namespace {

TEST(EndToEnd, ARedPlasticSentAsFixedFunctionMaterialState) {
  vo::test::ExpectSceneText<2048>(&vo_end_to_end_opengl, "end_to_end_opengl.txt");
}

}  // namespace
