// What the shader libraries ask of the parts that come later: textures and
// the sampling of lights' shadow maps. Until they exist a texture is never
// made (so samples are black) and no point is in shadow; replacing them is a
// change in this file only.

#include "voshslte/voshslte.h"

namespace vo::shaderlib {

VtTexture *TextureRead(const char *, uint32_t) { return nullptr; }
VtTexture *TextureCreate(VtImage *, uint32_t) { return nullptr; }
void TextureDestroy(VtTexture *) {}

void TextureSamplePoint(float *out, uint32_t count, VtTexture *) {
  for (uint32_t i = 0; i < count && i < 3; ++i) out[i] = 0;
}
void TextureSampleArea(float *out, uint32_t count, VtTexture *texture) { TextureSamplePoint(out, count, texture); }

double LightSampleShadow(float, float, float, VtLightData *, VtShadowMap *) { return 0; }

}  // namespace vo::shaderlib
