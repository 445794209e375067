/* NPR shading through the C interface alone: a sphere of 48 x 24 quads cut
 * into triangles, with normals, of plain colour (0.8, 0.35, 0.2), lit by a
 * point light at (-4, 4, 6) and an ambient light of 0.1 before a grey
 * background, rendered at 128 x 128 by the standard renderer's per-pixel
 * class (0xc0003) into an image through the image driver, once under the
 * "phong cartoon" reflectance and once under "technical", each written to a
 * BMP file by the BMP driver. The answer is 0 when every step succeeded,
 * else the number of the step that failed. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>

#include "support/end_to_end.h"

enum { kSide = 128, kSlices = 48, kRings = 24 };

static VtPrimitive *Sphere(void) {
  static float world[(kRings + 1) * (kSlices + 1)][3], normal[(kRings + 1) * (kSlices + 1)][3];
  static int32_t counts[2 * kRings * kSlices], indices[6 * kRings * kSlices];
  const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_NORMAL};
  VtTypedValue data[2];
  int i, j, t = 0;
  for (i = 0; i <= kRings; ++i)
    for (j = 0; j <= kSlices; ++j) {
      const double theta = 3.14159265358979 * i / kRings, phi = 2 * 3.14159265358979 * j / kSlices;
      float *n = normal[i * (kSlices + 1) + j], *w = world[i * (kSlices + 1) + j];
      n[0] = (float)(sin(theta) * cos(phi));
      n[1] = (float)cos(theta);
      n[2] = (float)(sin(theta) * sin(phi));
      w[0] = n[0], w[1] = n[1], w[2] = n[2];
    }
  for (i = 0; i < kRings; ++i)
    for (j = 0; j < kSlices; ++j) {
      const int a = i * (kSlices + 1) + j, b = a + 1, c = a + kSlices + 1, d = c + 1;
      counts[t] = 3;
      indices[3 * t] = a, indices[3 * t + 1] = b, indices[3 * t + 2] = c;
      ++t;
      counts[t] = 3;
      indices[3 * t] = b, indices[3 * t + 1] = d, indices[3 * t + 2] = c;
      ++t;
    }
  data[0] = SceneRecord(world);
  data[1] = SceneRecord(normal);
  return VoPrimitiveCreateMesh((uint32_t)t, NULL, counts, indices, 2, ids, data);
}

static int Triple(VtShader *s, const char *label, uint32_t type, float x, float y, float z) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = type;
  v.value.v[0] = x, v.value.v[1] = y, v.value.v[2] = z;
  return VoShaderSetArg(s, label, &v) != 0;
}

/* Renders with the reflectance of the name into the image and writes it. */
static int Picture(VtMaterial *m, const char *reflectance, VtImage *image, const char *path) {
  VtTypedValue v;
  FILE *f;
  int failed = VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, reflectance) != 0;
  memset(image->data, 0, (size_t)image->bytes_per_row * kSide);
  failed |= VoDriverSet(VoDriverFindFromName("vodrvimg")) != 0;
  v = SceneRecord(image);
  failed |= VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v) != 0;
  failed |= VoExecute(0xc0003) != 0;
  if (failed) return 1;
  f = fopen(path, "wb");
  if (f == NULL) return 1;
  failed |= VoDriverSet(VoDriverFindFromName("vodrvbmp")) != 0;
  v = SceneRecord(f);
  failed |= VoControlSet(VO_CONTROL_DRIVER_FILE, &v) != 0;
  failed |= VoDriverCopyImage(NULL, image) != 0;
  v = SceneRecord(NULL);
  failed |= VoControlSet(VO_CONTROL_DRIVER_FILE, &v) != 0;
  failed |= fclose(f) != 0;
  return failed;
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
  sphere = Sphere();
  image = VoImageCreate();
  m = VoMaterialCreate();
  point = VoShaderCreate(VO_SHADER_LIGHT, "point");
  ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
  background = VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
  if (sphere == NULL || image == NULL || m == NULL || point == NULL || ambient == NULL || background == NULL) {
    VoTerminate();
    return 2;
  }
  scene = VoPrimitiveListCreate(1, &sphere);
  failed |= VoPrimitiveListSet(scene) != 0;
  failed |= VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, "plain") != 0;
  failed |= Triple(VoMaterialGetShader(m, VO_SHADER_COLOUR), "colour", VtColourType, 0.8f, 0.35f, 0.2f);
  failed |= VoPrimitiveSetMaterial(sphere, m) != 0;
  failed |= Triple(point, "location", VtPoint, -4, 4, 6);
  {
    VtTypedValue v;
    memset(&v, 0, sizeof v);
    v.type = VtFloat;
    v.value.f = 0.1f;
    failed |= VoShaderSetArg(ambient, "intensity", &v) != 0;
  }
  failed |= Triple(background, "colour", VtColourType, 0.5f, 0.5f, 0.5f);
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
