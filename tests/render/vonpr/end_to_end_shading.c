/* NPR shading through the C interface alone: a sphere of 48 x 24 quads cut
 * into triangles, with normals, of plain colour (0.8, 0.35, 0.2), lit by a
 * point light at (-4, 4, 6) and an ambient light of 0.1 before a grey
 * background, rendered at 128 x 128 by the standard renderer's per-pixel
 * class (0xc0003) into an image through the image driver, once under the
 * "phong cartoon" reflectance and once under "technical", each written to a
 * BMP file by the BMP driver. The answer is 0 when every step succeeded,
 * else the number of the step that failed. */
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>

#include "support/end_to_end.h"

enum { kSide = 128 };

/* Renders with the reflectance of the name into the image and writes it. */
static int Picture(VtMaterial *m, const char *reflectance, VtImage *image, const char *path) {
  VtTypedValue v;
  int failed = VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, reflectance) != 0;
  memset(image->data, 0, (size_t)image->bytes_per_row * kSide);
  failed |= VoDriverSet(VoDriverFindFromName("vodrvimg")) != 0;
  v = SceneRecord(image);
  failed |= VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v) != 0;
  failed |= VoExecute(0xc0003) != 0;
  return failed | SceneWriteBmp(image, path);
}

int vo_end_to_end_shading(const char *cartoon, const char *technical) {
  const float eye[3] = {0, 0, 4}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  VtPrimitive *sphere;
  VtReference *scene, *lights;
  VtMaterial *m;
  VtImage *image;
  VtShader *point, *ambient, *background;
  int failed = 0;

  (void)&Put; /* the scene writes pictures, not text */
  if (VoInitialise() != 0) return 1;
  sphere = SceneSphere(48, 24, 0, 0, 0, 1);
  image = VoImageCreate();
  m = VoMaterialCreate();
  point = VoShaderCreate(VO_SHADER_LIGHT, "point");
  ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
  background = VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
  if (sphere == NULL || image == NULL || m == NULL || point == NULL || ambient == NULL ||
      background == NULL) {
    VoTerminate();
    return 2;
  }
  scene = VoPrimitiveListCreate(1, &sphere);
  failed |= VoPrimitiveListSet(scene) != 0;
  failed |= VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, "plain") != 0;
  failed |= SceneArgTriple(VoMaterialGetShader(m, VO_SHADER_COLOUR), "colour", VtColourType, 0.8f, 0.35f,
                           0.2f) != 0;
  failed |= VoPrimitiveSetMaterial(sphere, m) != 0;
  failed |= SceneArgTriple(point, "location", VtPoint, -4, 4, 6) != 0;
  failed |= SceneArgFloat(ambient, "intensity", 0.1f) != 0;
  failed |= SceneArgTriple(background, "colour", VtColourType, 0.5f, 0.5f, 0.5f) != 0;
  lights = VoShaderReferenceAppend(VoShaderReferenceCreate(point), VoShaderReferenceCreate(ambient));
  failed |= VoLightListSet(lights) != 0 || VoBackgroundSet(background) != 0;
  failed |= VoShaderDestroy(background) != 0;
  image->width = kSide;
  image->height = kSide;
  failed |= VoImageAllocateData(image) != 0;
  failed |= VoViewSetResolution(NULL, kSide, kSide, 1.0) != 0;
  failed |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40.0) != 0;
  failed |= VoViewAutoClipping(NULL) != 0;
  if (failed) return 3;
  if (Picture(m, "phong cartoon", image, cartoon) != 0) return 4;
  if (Picture(m, "technical", image, technical) != 0) return 5;

  failed |= VoPrimitiveListSet(NULL) != 0 || VoReferenceListDestroy(scene, NULL) != 0;
  failed |= VoLightListSet(NULL) != 0 || VoShaderReferenceDestroy(lights, 1) != 0;
  failed |= VoBackgroundSet(NULL) != 0;
  failed |= VoPrimitiveDestroy(sphere) != 0;
  failed |= VoMaterialDestroy(m) != 0;
  failed |= VoImageDestroy(image) != 0;
  failed |= VoTerminate() != 0;
  return failed ? 6 : 0;
}
