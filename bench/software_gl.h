// The environment the OpenGL benchmarks run Mesa in: the software
// rasteriser on the calling thread, no shader cache; what the environment
// already says is kept.
#pragma once

#include <cstdlib>

namespace vo::bench {

inline void SoftwareGlEnvironment() {
  setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
  setenv("LP_NUM_THREADS", "0", 0);
  setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
}

}  // namespace vo::bench
