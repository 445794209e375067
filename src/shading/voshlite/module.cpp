// The lite shader library as a module (number 74): its query function and
// its start procedure, which installs the record of the tables shared by a
// class's instances and registers the classes in the library's order.

#include "shading/voshlite/voshlite.h"
#include "kernel/vosystem/face.h"

namespace vo::lite {

namespace {

// The creators in the library's order (statuses not looked at).
const ClassDescription *const kClassList[] = {
    &kBaseColour,
    &kBlueMarble,
    &kWrappedBrick,
    &kWrappedChecker,
    &kChrome,
    &kSolidClouds,
    &kCubes,
    &kWrappedGrid,
    &kMarble,
    &kWrappedPolka,
    &kWrappedSStripe,
    &kSolidPolka,
    &kSimpleWood,
    &kWrappedTStripe,
    &kWrappedTexturedBrick,
    &kWrappedDiagonal,
    &kBaseReflectance,
    &kChrome2D,
    &kBaseTransparency,
    &kCheckerTransparency,
    &kEroded,
    &kGridTransparency,
    &kImageTransparency,
    &kMask,
    &kSquare,
    &kBumpMap,
    &kCasting,
    &kDimple,
    &kKnurl,
    &kOldBumpMap,
    &kRough,
    &kWrappedRough,
    &kTreadPlate,
    &kDepthCue,
    &kFog,
    &kSnow,
    &kCloudsBackground,
    &kMixed,
    &kScaledImage,
};

VtStatus Start() {
  TablesInstall();
  for (const ClassDescription *d : kClassList) (void)ClassCreate(*d);
  return 0;
}

constexpr ModuleDescription kLite = {.number = VO_MODULE_LITE,
                                     .name = "voshlite",
                                     .banner = "voshlite: the lite shader library, procedural classes",
                                     .build_time = 904647311,
                                     .start = &Start};

}  // namespace

}  // namespace vo::lite

namespace vo {

VtStatus VoEntryLiteShaders(uint32_t query, VtTypedValue *answer) {
  return ModuleQueryAnswer(lite::kLite, query, answer);
}

}  // namespace vo
