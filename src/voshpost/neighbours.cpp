// Parts of the post-process stage that other work builds: the lens-flare
// classes and catalogue, and the bodies of the classes registered with
// frames only (render lights, flares 3d, depth of field). Until then the
// execute codes answer 2 and those classes set class status 2, so a list
// holding one stops there.

#include "voshpost/classes.h"

namespace vo::post {

VtStatus FlareClassesRegister() { return 0; }
void FlareClassesRelease() {}
VtStatus FlareLightsCollect() { return VO_STATUS_UNAVAILABLE; }

namespace {
VtStatus Unavailable(void *) {
  (void)VoPostprocessStatusSet(VO_STATUS_UNAVAILABLE);
  return 0;
}
}  // namespace

VtStatus RenderLightsPrepare(void *data) { return Unavailable(data); }
VtStatus RenderLightsEvaluate(void *data) { return Unavailable(data); }
VtStatus Flares3dPrepare(void *data) { return Unavailable(data); }
VtStatus Flares3dEvaluate(void *data) { return Unavailable(data); }
VtStatus Flares3dEvaluateImage(void *data) { return Unavailable(data); }
VtStatus DepthOfFieldPrepare(void *data) { return Unavailable(data); }
VtStatus DepthOfFieldEvaluate(void *data) { return Unavailable(data); }

}  // namespace vo::post
