// The super-lite library's face: which of its entries shade a point from the
// point alone, asked by the shader kernel for the renderers.
#pragma once

#include <vo/vo_shader.h>

namespace vo::shaderlib {

// Whether an evaluate entry on its instance data reads nothing of the point
// beyond its position, normal, colour globals, the view and the lights (no
// polygon, no texture frame, no shader standing in for a colour): the plain
// colour; the plastic, phong, metal, matte and constant reflectances.
// Renderers share such a point's colour among the polygons of a vertex.
bool ColourOfPointAlone(VtShaderDataProc evaluate, const void *data);
bool ReflectanceOfPointAlone(VtShaderDataProc evaluate, const void *data);

}  // namespace vo::shaderlib
