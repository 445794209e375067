// The classic shader library as a module (number 75): its query function,
// which also answers the compatibility query (so a colour shader may stand
// in for a colour argument of any class), and its start procedure, which
// registers null context variables and the thirteen classes in the
// library's order. The classes keep their state in their instances.

#include "shading/voshclas/voshclas.h"
#include "kernel/vosystem/face.h"

namespace vo::classic {

namespace {

// Every worker's copy of the (null) record is null.
VtStatus NullCopy(void *, void **copy) {
  if (copy != nullptr) *copy = nullptr;
  return 0;
}

const ClassDescription *const kClassList[] = {
    &kProjector, &kConductor, &kDielectric, &kEnvironmentReflectance, &kGlass,
    &kMirror,    &kMirrorMap, &kDecal,      &kEnvironmentBackground,  &kTwoPlanes,
    &kRayCube,   &kFogLight,  &kGroundFog,
};

VtStatus Start() {
  (void)VoContextVariablesRegister(VO_MODULE_CLASSIC, nullptr, &NullCopy, &exported::VoBlockRelease, nullptr);
  for (const ClassDescription *d : kClassList) (void)ClassCreate(*d);
  return 0;
}

VtStatus Terminate() { return VoContextVariablesUnregister(VO_MODULE_CLASSIC); }

constexpr ModuleDescription kClassic = {
    .number = VO_MODULE_CLASSIC,
    .name = "voshclas",
    .banner = "voshclas: the classic shader library, ray-traced and composing classes",
    .build_time = 904646512,
    .start = &Start,
    .terminate = &Terminate,
    .compatible = true,
    .build_kind = "sod_"};

}  // namespace

}  // namespace vo::classic

namespace vo {

VtStatus VoEntryClassicShaders(uint32_t query, VtTypedValue *answer) {
  return ModuleQueryAnswer(classic::kClassic, query, answer);
}

}  // namespace vo
