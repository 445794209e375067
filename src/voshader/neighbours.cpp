// What the shader kernel asks of the parts that come later: the default
// material, the shadow maps of lights and the services cached when callbacks
// change. Each stand-in answers "nothing yet"; replacing one is a change in
// this file only.

#include "voshader/voshader.h"

namespace vo::shader {

// Materials do not exist yet: there is no default material to make.
VtMaterial *DefaultMaterial(ShadingContext *) { return nullptr; }

// Lights have no shadow maps yet.
void LightShadowRelease(VtShader *) {}

// No ray tracer, filter or view services are cached yet.
void CallbackCacheRead(ShadingContext *) {}

bool ShaderColourAccepted() { return VoModuleCompatibilityGet(VO_MODULE_CLASSIC) == 0; }

}  // namespace vo::shader
