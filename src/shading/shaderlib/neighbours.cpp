// What the shader libraries ask of the modules that make images: textures
// and the sampling of lights' shadow maps from the shader kernel, in the
// libraries' argument forms (unsigned counts, float positions), and whether
// an image handle is one of the driver framework's live images (that
// framework is of a later layer, reached from this file only).

#include "shading/shaderlib/face.h"

#include "output/vodriver/face.h"

namespace vo::shaderlib {

VtTexture *TextureRead(const char *name, uint32_t channels) {
  return VoTextureRead(name, static_cast<int32_t>(channels));
}
VtTexture *TextureCreate(VtImage *image, uint32_t channels) {
  return VoTextureCreate(image, static_cast<int32_t>(channels));
}
void TextureDestroy(VtTexture *texture) { (void)VoTextureDestroy(texture); }

void TextureSamplePoint(float *out, uint32_t count, VtTexture *texture) {
  (void)VoTextureSamplePoint(out, static_cast<int32_t>(count), texture);
}
void TextureSampleArea(float *out, uint32_t count, VtTexture *texture) {
  (void)VoTextureSampleArea(out, static_cast<int32_t>(count), texture);
}

double LightSampleShadow(float u, float v, float depth, VtLightData *light, VtShadowMap *window) {
  return VoLightSampleShadow(u, v, depth, light, window);
}

bool ImageIsLive(const VtImage *image) { return driver::ImageIsLive(image); }

uint64_t ImageGeneration(const VtImage *image) { return driver::ImageGeneration(image); }

}  // namespace vo::shaderlib
