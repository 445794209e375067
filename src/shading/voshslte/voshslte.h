// The super-lite shader library's private header: its class groups in
// creator order and the instance data of the classes tests look into.
// What it asks of the modules that come later (textures and shadow-map
// sampling) is the shared frame's (shaderlib/neighbours.cpp).
#pragma once

#include <span>

#include <vo/vo_driver.h>

#include "shading/shaderlib/face.h"
#include "shading/voshslte/face.h"

namespace vo::shaderlib {

// The class groups, each in the library's creator order: lights; the
// backgrounds and colours; the displacement, foreground, reflectances and
// transparencies; the texture spaces.
std::span<const ClassDescription> LightClasses();
std::span<const ClassDescription> ColourClasses();
std::span<const ClassDescription> SurfaceClasses();
std::span<const ClassDescription> TextureSpaceClasses();

// The shadow lookups of the built-in lights (for tests: the projection of a
// point on a spot light's map; false outside it).
bool SpotProject(const VtLightData *light, const float *point, const float *normal, float *u, float *v,
                 float *depth);

}  // namespace vo::shaderlib
