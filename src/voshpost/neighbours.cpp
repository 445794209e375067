// Parts of the post-process stage that other work builds: the lens-flare
// classes and catalogue, the stage's own post-process classes and shaders,
// and the whole-render execute codes. Until then they register nothing.

#include "voshpost/postprocess.h"

namespace vo::post {

VtStatus FlareClassesRegister() { return 0; }
void FlareClassesRelease() {}
void ClassesRegister() {}
VtStatus OwnShadersCreate(VtPostprocessContext *) { return 0; }
VtStatus FlareLightsCollect() { return VO_STATUS_UNAVAILABLE; }
VtStatus TwoViewRender() { return VO_STATUS_UNAVAILABLE; }
VtStatus AntialiasRender() { return VO_STATUS_UNAVAILABLE; }

}  // namespace vo::post
