/* A glass sphere (refraction 1.5, 1,984 triangles) over a wrapped checker
 * floor under a point light, ray traced at 96 x 72 through the C interface
 * alone into a Targa file (the current driver), read back with VoImageRead
 * and written into the caller's buffer as PPM text. The floor is under the
 * constant reflectance, so a floor pixel away from the sphere is exactly
 * one of its two checker colours: (0.8, 0.2, 0.2) -> 204 51 51 or
 * (0.2, 0.2, 0.8) -> 51 51 204. The answer is 0 when every step succeeded
 * and the floor pixel is as worked out. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vo/vo_api.h>
#include <vo/vo_shader.h>

#include "support/end_to_end.h"

enum { kSegments = 32, kRings = 32, kWidth = 96, kHeight = 72 };

/* A unit sphere about (0, 0, 1): poles and kRings - 1 rings of kSegments
 * points; triangles counter-clockwise seen from outside. */
static VtPrimitive *Sphere(void) {
  static float points[2 + (kRings - 1) * kSegments][3];
  static int32_t contours[2 * kSegments * (kRings - 1)], counts[2 * kSegments * (kRings - 1)],
      indices[3 * 2 * kSegments * (kRings - 1)];
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1];
  const double pi = 3.14159265358979323846;
  int r, s, n = 0, f = 0;
  points[0][0] = 0, points[0][1] = 0, points[0][2] = 2;  /* north */
  points[1][0] = 0, points[1][1] = 0, points[1][2] = 0;  /* south */
  for (r = 1; r < kRings; ++r)
    for (s = 0; s < kSegments; ++s) {
      const double polar = pi * r / kRings, around = 2 * pi * s / kSegments;
      float *p = points[2 + (r - 1) * kSegments + s];
      p[0] = (float)(sin(polar) * cos(around));
      p[1] = (float)(sin(polar) * sin(around));
      p[2] = (float)(1 + cos(polar));
    }
#define AT(ring, seg) (2 + ((ring) - 1) * kSegments + ((seg) % kSegments))
#define TRIANGLE(a, b, c) (indices[n++] = (a), indices[n++] = (b), indices[n++] = (c), ++f)
  for (s = 0; s < kSegments; ++s) {
    TRIANGLE(0, AT(1, s), AT(1, s + 1));
    TRIANGLE(1, AT(kRings - 1, s + 1), AT(kRings - 1, s));
    for (r = 1; r < kRings - 1; ++r) {
      TRIANGLE(AT(r, s), AT(r + 1, s), AT(r + 1, s + 1));
      TRIANGLE(AT(r, s), AT(r + 1, s + 1), AT(r, s + 1));
    }
  }
#undef TRIANGLE
#undef AT
  for (r = 0; r < f; ++r) contours[r] = 1, counts[r] = 3;
  data[0] = SceneRecord(points);
  return VoPrimitiveCreateMesh((uint32_t)f, contours, counts, indices, 1, ids, data);
}

static VtPrimitive *Floor(void) {
  static const float corners[4][3] = {{-6, -6, 0}, {6, -6, 0}, {6, 6, 0}, {-6, 6, 0}};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1];
  data[0] = SceneRecord(corners);
  return VoPrimitiveCreatePolygon(4, 1, ids, data);
}

/* Renders into the named Targa file with the execute code. */
static VtStatus Render(VtDriverRecord *tga, const char *path) {
  FILE *f = fopen(path, "wb");
  VtTypedValue v;
  VtStatus st;
  if (f == NULL) return 1;
  memset(&v, 0, sizeof v);
  v.type = VtGenericPtr;
  v.value.p = f;
  st = VoDriverSetControl(tga, VO_CONTROL_DRIVER_FILE, &v);
  if (st == 0) st = VoExecute(0x70001);
  v.value.p = NULL;
  VoDriverSetControl(tga, VO_CONTROL_DRIVER_FILE, &v);
  fclose(f);
  return st;
}

int vo_end_to_end_glass(char *buffer, size_t size, const char *path) {
  const float eye[3] = {0, -7, 3.5f}, reference[3] = {0, 0, 0.8f}, up[3] = {0, 0, 1}, light_at[3] = {3, -4, 7};
  Text t = {buffer, size};
  VtDriverRecord *tga;
  VtPrimitive *prims[2];
  VtMaterial *glass, *floor;
  VtShader *light, *space, *background;
  VtReference *scene, *lights;
  VtImage *back = NULL;
  VtStatus st = 0;
  int x, y, failed = 0;

  if (size == 0) return 1;
  buffer[0] = '\0';
  if (VoInitialise() != 0) return 2;
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)SceneQuiet);
  tga = VoDriverFindFromName("vodrvtga");
  if (tga == NULL || VoDriverSet(tga) != 0) return 3;
  prims[0] = Floor();
  prims[1] = Sphere();
  glass = VoMaterialCreate();
  floor = VoMaterialCreate();
  light = VoShaderCreate(VO_SHADER_LIGHT, "point");
  space = VoShaderCreate(VO_SHADER_TEXTURE_SPACE, "z plane");
  background = VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
  if (prims[0] == NULL || prims[1] == NULL || glass == NULL || floor == NULL || light == NULL || space == NULL ||
      background == NULL)
    return 4;
  st |= VoPrimitiveSetFlags(prims[1], VoPrimitiveGetFlags(prims[1]) | VO_PRIMITIVE_TWO_SIDED);
  st |= VoMaterialSetShaderByPrototype(floor, VO_SHADER_COLOUR, "wrapped checker");
  st |= SceneArgTriple(VoMaterialGetShader(floor, VO_SHADER_COLOUR), "odd colour", VtColourType, 0.8f, 0.2f, 0.2f);
  st |= SceneArgTriple(VoMaterialGetShader(floor, VO_SHADER_COLOUR), "even colour", VtColourType, 0.2f, 0.2f, 0.8f);
  st |= VoMaterialSetShaderByPrototype(floor, VO_SHADER_REFLECTANCE, "constant");
  st |= SceneArgFloat(space, "scale", 1.0f);
  st |= VoPrimitiveSetTextureSpace(prims[0], space);
  st |= VoMaterialSetShaderByPrototype(glass, VO_SHADER_COLOUR, "plain");
  st |= SceneArgTriple(VoMaterialGetShader(glass, VO_SHADER_COLOUR), "colour", VtColourType, 0.9f, 0.95f, 1.0f);
  st |= VoMaterialSetShaderByPrototype(glass, VO_SHADER_REFLECTANCE, "glass");
  st |= SceneArgFloat(VoMaterialGetShader(glass, VO_SHADER_REFLECTANCE), "refraction", 1.5f);
  st |= VoPrimitiveSetMaterial(prims[0], floor) | VoPrimitiveSetMaterial(prims[1], glass);
  st |= SceneArgTriple(light, "location", VtPoint, light_at[0], light_at[1], light_at[2]);
  st |= SceneArgTriple(background, "colour", VtColourType, 0.1f, 0.1f, 0.15f);
  st |= VoBackgroundSet(background);
  lights = VoShaderReferenceCreate(light);
  st |= VoLightListSet(lights);
  scene = VoPrimitiveListCreate(2, prims);
  st |= VoPrimitiveListSet(scene);
  st |= VoViewSetResolution(NULL, kWidth, kHeight, 1.0);
  st |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40.0);
  Put(&t, "set-up status 0x%x\n", (unsigned)st);
  failed |= st != 0;
  st = Render(tga, path);
  Put(&t, "render status 0x%x\n", (unsigned)st);
  failed |= st != 0;
  back = VoImageRead(path);
  if (back == NULL || back->width != kWidth || back->height != kHeight) {
    failed = 1;
  } else {
    /* The bottom-left corner sees the floor well away from the sphere. */
    const uint8_t *corner = &back->data[(kHeight - 2) * back->bytes_per_row + 3 * 1];
    const int red = corner[0] == 204 && corner[1] == 51 && corner[2] == 51;
    const int blue = corner[0] == 51 && corner[1] == 51 && corner[2] == 204;
    Put(&t, "floor pixel %d %d %d %s\n", corner[0], corner[1], corner[2], red || blue ? "as worked out" : "wrong");
    failed |= !(red || blue);
    Put(&t, "P3\n%d %d\n255\n", kWidth, kHeight);
    for (y = 0; y < kHeight; ++y) {
      for (x = 0; x < kWidth; ++x) {
        const uint8_t *p = &back->data[y * back->bytes_per_row + 3 * x];
        Put(&t, "%d %d %d%s", p[0], p[1], p[2], x + 1 < kWidth ? " " : "\n");
      }
    }
    VoImageDestroy(back);
  }
  VoBackgroundSet(NULL);
  VoLightListSet(NULL);
  VoPrimitiveListSet(NULL);
  VoReferenceListDestroy(scene, NULL);
  VoShaderReferenceDestroy(lights, 1);
  failed |= VoPrimitiveDestroy(prims[0]) != 0 || VoPrimitiveDestroy(prims[1]) != 0;
  failed |= VoMaterialDestroy(glass) != 0 || VoMaterialDestroy(floor) != 0;
  failed |= VoShaderDestroy(space) != 0 || VoShaderDestroy(background) != 0;
  failed |= VoTerminate() != 0;
  remove(path);
  return failed ? 5 : 0;
}
