// The super-lite shader library as a module (number 73): its query function
// and its start procedure, which registers the 29 default classes in the
// library's order. The library keeps no state: its classes live as long as
// the shader kernel keeps them.

#include "shading/voshslte/voshslte.h"
#include "kernel/vosystem/face.h"

namespace vo::shaderlib {

namespace {

VtStatus Start() {
  ClassListCreate(LightClasses());
  ClassListCreate(ColourClasses());
  ClassListCreate(SurfaceClasses());
  ClassListCreate(TextureSpaceClasses());
  return 0;
}

constexpr ModuleDescription kSuperLite = {
    .number = VO_MODULE_SUPER_LITE,
    .name = "voshslte",
    .banner = "voshslte: the super-lite shader library, 29 default classes",
    .build_time = 916158151,
    .start = &Start};

}  // namespace

}  // namespace vo::shaderlib

namespace vo {

VtStatus VoEntrySuperLiteShaders(uint32_t query, VtTypedValue *answer) {
  return ModuleQueryAnswer(shaderlib::kSuperLite, query, answer);
}

}  // namespace vo
