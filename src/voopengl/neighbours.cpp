// What the back end asks of parts that are not built yet: drawing a frame
// of the scene. Replacing the stand-in is a change here alone.
#include "voopengl/opengl.h"

namespace vo::opengl {

// Stand-in until the frame is drawn through OpenGL: nothing to draw with.
VtStatus Render() { return VO_STATUS_UNAVAILABLE; }

}  // namespace vo::opengl
