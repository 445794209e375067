// What the shader-library benchmarks share: the default ambient light and
// one point light made current once for the program, and the classic
// library (module 75), whose compatibility answer lets a shader stand in
// for a colour.
#pragma once

#include "bench_kernel.h"
#include "kernel/vosystem/module_entry.h"

namespace vo::bench {

// Starts the library's modules once and makes the two lights current, the
// point light at `location`, with an image set up.
inline void LightsOnce(const float location[3]) {
  static bool done = [location] {
    VtShader *ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
    VtShader *point = VoShaderCreate(VO_SHADER_LIGHT, "point");
    VtTypedValue at{};
    at.type = VtPoint;
    for (int i = 0; i < 3; ++i) at.value.v[i] = location[i];
    VoShaderSetArg(point, "location", &at);
    VoLightListSet(VoShaderReferenceAppend(VoShaderReferenceCreate(ambient), VoShaderReferenceCreate(point)));
    VoShadingInitialiseImage(2);
    return true;
  }();
  (void)done;
}

// Installs the classic library (module 75) once.
inline void ClassicInstallOnce() {
  static bool installed = VoInstallModule(&VoEntryClassicShaders) == 0;
  (void)installed;
}

}  // namespace vo::bench
