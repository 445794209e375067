// What the NPR module asks of the shader kernel beyond its interface: whether
// the post-process stage has brought its shader type.

#include "render/vonpr/npr.h"
#include "shading/voshader/face.h"

namespace vo::npr {

bool PostprocessTypeKnown() { return shader::ShaderTypeKnown(0x440001); }

}  // namespace vo::npr
