/* The glass scene shared by the classic library's end-to-end test and its
 * benchmark, through the C interface alone: a unit glass sphere (refraction
 * 1.5, 1,984 triangles, two-sided) standing on a 12 x 12 floor of wrapped
 * checker (odd (0.8, 0.2, 0.2), even (0.2, 0.2, 0.8)) under the constant
 * reflectance, one point light at (3, -4, 7), a plain background
 * (0.1, 0.1, 0.15), seen from (0, -7, 3.5) towards (0, 0, 0.8) through a
 * 40-degree perspective view. Plain C, usable from C++. */
#ifndef VO_TEST_GLASS_SCENE_H
#define VO_TEST_GLASS_SCENE_H

#include <math.h>
#include <string.h>

#include <vo/vo_api.h>
#include <vo/vo_shader.h>

#include "scene_args.h"

enum { kGlassSegments = 32, kGlassRings = 32 };
#define VO_GLASS_FACES (2 * kGlassSegments * (kGlassRings - 1))

typedef struct GlassScene {
  VtPrimitive *prims[2]; /* floor, sphere */
  VtMaterial *glass, *floor;
  VtShader *light, *space, *background;
  VtReference *scene, *lights;
} GlassScene;

/* The sphere about (0, 0, 1): poles and kGlassRings - 1 rings of
 * kGlassSegments points; triangles counter-clockwise seen from outside. */
static inline VtPrimitive *GlassSphere(void) {
  static float points[2 + (kGlassRings - 1) * kGlassSegments][3];
  static int32_t contours[VO_GLASS_FACES], counts[VO_GLASS_FACES], indices[3 * VO_GLASS_FACES];
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1];
  const double pi = 3.14159265358979323846;
  int r, s, n = 0, f = 0;
  points[0][0] = 0, points[0][1] = 0, points[0][2] = 2;
  points[1][0] = 0, points[1][1] = 0, points[1][2] = 0;
  for (r = 1; r < kGlassRings; ++r)
    for (s = 0; s < kGlassSegments; ++s) {
      const double polar = pi * r / (int)kGlassRings, around = 2 * pi * s / (int)kGlassSegments;
      float *p = points[2 + (r - 1) * kGlassSegments + s];
      p[0] = (float)(sin(polar) * cos(around));
      p[1] = (float)(sin(polar) * sin(around));
      p[2] = (float)(1 + cos(polar));
    }
#define VO_AT(ring, seg) (2 + ((ring)-1) * kGlassSegments + ((seg) % kGlassSegments))
#define VO_TRIANGLE(a, b, c) (indices[n++] = (a), indices[n++] = (b), indices[n++] = (c), ++f)
  for (s = 0; s < kGlassSegments; ++s) {
    VO_TRIANGLE(0, VO_AT(1, s), VO_AT(1, s + 1));
    VO_TRIANGLE(1, VO_AT(kGlassRings - 1, s + 1), VO_AT(kGlassRings - 1, s));
    for (r = 1; r < kGlassRings - 1; ++r) {
      VO_TRIANGLE(VO_AT(r, s), VO_AT(r + 1, s), VO_AT(r + 1, s + 1));
      VO_TRIANGLE(VO_AT(r, s), VO_AT(r + 1, s + 1), VO_AT(r, s + 1));
    }
  }
#undef VO_TRIANGLE
#undef VO_AT
  for (r = 0; r < f; ++r) contours[r] = 1, counts[r] = 3;
  data[0] = SceneRecord(points);
  return VoPrimitiveCreateMesh((uint32_t)f, contours, counts, indices, 1, ids, data);
}

static inline VtPrimitive *GlassFloor(void) {
  static const float corners[4][3] = {{-6, -6, 0}, {6, -6, 0}, {6, 6, 0}, {-6, 6, 0}};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1];
  data[0] = SceneRecord(corners);
  return VoPrimitiveCreatePolygon(4, 1, ids, data);
}

/* Builds the scene and makes it current at the resolution given; non-zero
 * when a step failed (what was made is still released by GlassSceneEnd). */
static inline VtStatus GlassSceneBegin(GlassScene *g, uint32_t width, uint32_t height) {
  const float eye[3] = {0, -7, 3.5f}, reference[3] = {0, 0, 0.8f}, up[3] = {0, 0, 1};
  VtShader *checker, *glass;
  VtStatus st = 0;
  memset(g, 0, sizeof *g);
  g->prims[0] = GlassFloor();
  g->prims[1] = GlassSphere();
  g->glass = VoMaterialCreate();
  g->floor = VoMaterialCreate();
  g->light = VoShaderCreate(VO_SHADER_LIGHT, "point");
  g->space = VoShaderCreate(VO_SHADER_TEXTURE_SPACE, "z plane");
  g->background = VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
  if (g->prims[0] == NULL || g->prims[1] == NULL || g->glass == NULL || g->floor == NULL ||
      g->light == NULL || g->space == NULL || g->background == NULL)
    return 1;
  st |= VoPrimitiveSetFlags(g->prims[1], VoPrimitiveGetFlags(g->prims[1]) | VO_PRIMITIVE_TWO_SIDED);
  st |= VoMaterialSetShaderByPrototype(g->floor, VO_SHADER_COLOUR, "wrapped checker");
  checker = VoMaterialGetShader(g->floor, VO_SHADER_COLOUR);
  st |= SceneArgTriple(checker, "odd colour", VtColourType, 0.8f, 0.2f, 0.2f);
  st |= SceneArgTriple(checker, "even colour", VtColourType, 0.2f, 0.2f, 0.8f);
  st |= VoMaterialSetShaderByPrototype(g->floor, VO_SHADER_REFLECTANCE, "constant");
  st |= VoPrimitiveSetTextureSpace(g->prims[0], g->space);
  st |= VoMaterialSetShaderByPrototype(g->glass, VO_SHADER_COLOUR, "plain");
  st |= SceneArgTriple(VoMaterialGetShader(g->glass, VO_SHADER_COLOUR), "colour", VtColourType, 0.9f, 0.95f,
                       1.0f);
  st |= VoMaterialSetShaderByPrototype(g->glass, VO_SHADER_REFLECTANCE, "glass");
  glass = VoMaterialGetShader(g->glass, VO_SHADER_REFLECTANCE);
  st |= SceneArgFloat(glass, "refraction", 1.5f);
  st |= VoPrimitiveSetMaterial(g->prims[0], g->floor) | VoPrimitiveSetMaterial(g->prims[1], g->glass);
  st |= SceneArgTriple(g->light, "location", VtPoint, 3, -4, 7);
  st |= SceneArgTriple(g->background, "colour", VtColourType, 0.1f, 0.1f, 0.15f);
  st |= VoBackgroundSet(g->background);
  g->lights = VoShaderReferenceCreate(g->light);
  st |= VoLightListSet(g->lights);
  g->scene = VoPrimitiveListCreate(2, g->prims);
  st |= VoPrimitiveListSet(g->scene);
  st |= VoViewSetResolution(NULL, width, height, 1.0);
  st |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40.0);
  return st;
}

/* Gives back what GlassSceneBegin made; non-zero when a release failed. */
static inline VtStatus GlassSceneEnd(GlassScene *g) {
  VtStatus st = 0;
  VoBackgroundSet(NULL);
  VoLightListSet(NULL);
  VoPrimitiveListSet(NULL);
  if (g->scene != NULL) VoReferenceListDestroy(g->scene, NULL);
  if (g->lights != NULL)
    VoShaderReferenceDestroy(g->lights, 1);
  else if (g->light != NULL)
    st |= VoShaderDestroy(g->light);
  if (g->prims[0] != NULL) st |= VoPrimitiveDestroy(g->prims[0]);
  if (g->prims[1] != NULL) st |= VoPrimitiveDestroy(g->prims[1]);
  if (g->glass != NULL) st |= VoMaterialDestroy(g->glass);
  if (g->floor != NULL) st |= VoMaterialDestroy(g->floor);
  if (g->space != NULL) st |= VoShaderDestroy(g->space);
  if (g->background != NULL) st |= VoShaderDestroy(g->background);
  return st;
}

#endif /* VO_TEST_GLASS_SCENE_H */
