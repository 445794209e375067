// The shadow-map jitter cursor of the calling context, for renderers that
// shade in an order of their own (the ray tracer's bands on worker
// threads): restarting it per eye ray from the ray's image position makes a
// pixel's shadows independent of the pixels shaded before it.
#pragma once

#include <cstdint>

namespace vo::shader {

// Sets the calling context's jitter cursor from a hash of an image
// position; nothing while the shader kernel is not started.
void JitterRestart(float x, float y);

}  // namespace vo::shader
