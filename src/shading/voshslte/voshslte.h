// The super-lite shader library's private header: its class groups in
// creator order, the instance data of the classes tests look into, and what
// it asks of the modules that come later (textures and shadow-map sampling,
// answered by src/shading/voshslte/neighbours.cpp).
#pragma once

#include <span>

#include <vo/vo_driver.h>
#include <vo/vo_multit.h>

#include "shading/shaderlib/face.h"

namespace vo::shaderlib {

// The class groups, each in the library's creator order: lights; the
// backgrounds and colours; the displacement, foreground, reflectances and
// transparencies; the texture spaces.
std::span<const ClassDescription> LightClasses();
std::span<const ClassDescription> ColourClasses();
std::span<const ClassDescription> SurfaceClasses();
std::span<const ClassDescription> TextureSpaceClasses();

// Whether an evaluate entry on its instance data reads nothing of the point
// beyond its position, normal, colour globals, the view and the lights (no
// polygon, no texture frame, no shader standing in for a colour): the plain
// colour; the plastic, phong, metal, matte and constant reflectances.
// Renderers share such a point's colour among the polygons of a vertex.
bool ColourOfPointAlone(VtShaderDataProc evaluate, const void *data);
bool ReflectanceOfPointAlone(VtShaderDataProc evaluate, const void *data);

// The shadow lookups of the built-in lights (for tests: the projection of a
// point on a spot light's map; false outside it).
bool SpotProject(const VtLightData *light, const float *point, const float *normal, float *u, float *v,
                 float *depth);

// A colour a shader stood in for is evaluated into a local; outside a
// threaded pass the instance also keeps it (a get of the argument answers
// the colour last given), on the workers of one it is read-only.
inline void ShadedKeep(float *instance, const float *shaded, const VtShader *shader) {
  if (shader != nullptr && VoMultiThreadIsActive() == 0) Copy3(instance, shaded);
}

// Textures and shadow-map sampling, from the modules that make them.
VtTexture *TextureRead(const char *name, uint32_t channels);
VtTexture *TextureCreate(VtImage *image, uint32_t channels);
void TextureDestroy(VtTexture *texture);
void TextureSamplePoint(float *out, uint32_t count, VtTexture *texture);
void TextureSampleArea(float *out, uint32_t count, VtTexture *texture);
double LightSampleShadow(float u, float v, float depth, VtLightData *light, VtShadowMap *window);

}  // namespace vo::shaderlib
