/* The pro library's surface classes through the C interface alone: a row
 * of three spheres ray traced (0x70001) into a Targa file of 48 x 16 pixels
 * and read back. The scene of the end-to-end test has a wrapped anisotropic
 * sphere lit from the front, a translucency sphere lit from behind and a
 * mean curvature sphere whose vertices carry a mean curvature running from
 * -1 at the bottom to 1 at the top; the scene of the threaded test has a
 * wrapped anisotropic sphere, a translucent plastic one whose specular
 * colour is a colour shader, and a radiosity stepped false one. The text
 * gives the set-up status and every pixel, a row a line. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>
#include <vo/vo_shader.h>

#include "support/end_to_end.h"

enum {
  kRings = 12,
  kSegments = 24,
  kPoints = 2 + (kRings - 1) * kSegments,
  kFaces = 2 * kSegments * (kRings - 1)
};

/* A sphere of radius 1 about (cx, 0, 0) with normals, texture coordinates
 * (s around, t down from the top) and a mean curvature equal to z. */
static VtPrimitive *Sphere(float cx) {
  static float points[kPoints][3], normals[kPoints][3], st[kPoints][2], curvature[kPoints];
  static int32_t counts[kFaces], indices[3 * kFaces];
  const uint32_t ids[4] = {VO_VERT_WORLD, VO_VERT_NORMAL, VO_VERT_TEXCOORDS, VO_VERT_MEAN_CURVATURE};
  VtTypedValue data[4];
  const double pi = 3.14159265358979323846;
  int r, s, n = 0, f = 0, i;
  for (i = 0; i < kPoints; ++i) {
    double polar = 0, around = 0;
    if (i == 1) polar = pi;
    if (i >= 2) {
      polar = pi * (1 + (i - 2) / kSegments) / kRings;
      around = 2 * pi * ((i - 2) % kSegments) / kSegments;
    }
    normals[i][0] = (float)(sin(polar) * cos(around));
    normals[i][1] = (float)(sin(polar) * sin(around));
    normals[i][2] = (float)cos(polar);
    points[i][0] = cx + normals[i][0];
    points[i][1] = normals[i][1];
    points[i][2] = normals[i][2];
    st[i][0] = (float)(around / (2 * pi));
    st[i][1] = (float)(polar / pi);
    curvature[i] = normals[i][2];
  }
#define VO_AT(ring, seg) (2 + ((ring)-1) * kSegments + ((seg) % kSegments))
#define VO_TRIANGLE(a, b, c) (indices[n++] = (a), indices[n++] = (b), indices[n++] = (c), ++f)
  for (s = 0; s < kSegments; ++s) {
    VO_TRIANGLE(0, VO_AT(1, s), VO_AT(1, s + 1));
    VO_TRIANGLE(1, VO_AT(kRings - 1, s + 1), VO_AT(kRings - 1, s));
    for (r = 1; r < kRings - 1; ++r) {
      VO_TRIANGLE(VO_AT(r, s), VO_AT(r + 1, s), VO_AT(r + 1, s + 1));
      VO_TRIANGLE(VO_AT(r, s), VO_AT(r + 1, s + 1), VO_AT(r, s + 1));
    }
  }
#undef VO_TRIANGLE
#undef VO_AT
  for (i = 0; i < f; ++i) counts[i] = 3;
  data[0] = SceneRecord(points);
  data[1] = SceneRecord(normals);
  data[2] = SceneRecord(st);
  data[3] = SceneRecord(curvature);
  return VoPrimitiveCreateMesh((uint32_t)f, NULL, counts, indices, 4, ids, data);
}

static VtStatus Reflectance(VtPrimitive *p, VtMaterial **m, VtShader *s) {
  VtStatus st;
  *m = VoMaterialCreate();
  if (*m == NULL || s == NULL) return 1;
  st = VoMaterialSetShader(*m, s);
  st |= VoShaderDestroy(s); /* the material holds it */
  return st | VoPrimitiveSetMaterial(p, *m);
}

static VtShader *Light(const char *name, float x, float y, float z) {
  VtShader *l = VoShaderCreate(VO_SHADER_LIGHT, name);
  if (l != NULL && strcmp(name, "point") == 0 && SceneArgTriple(l, "location", VtPoint, x, y, z) != 0)
    return NULL;
  return l;
}

int vo_end_to_end_surfaces(char *buffer, size_t size, const char *picture, int threaded_scene,
                           int32_t workers, unsigned char *pixels) {
  Text t = {buffer, size};
  const float eye[3] = {0, -10, 0}, reference[3] = {0, 0, 0}, up[3] = {0, 0, 1};
  VtPrimitive *spheres[3] = {NULL, NULL, NULL};
  VtMaterial *materials[3] = {NULL, NULL, NULL};
  VtShader *shaders[3], *lights[3], *specular = NULL;
  VtReference *scene = NULL, *list = NULL;
  VtDriverRecord *tga;
  VtImage *back;
  VtTypedValue v;
  VtStatus st = 0;
  int i, x, y, failed = 0;

  if (size == 0) return 1;
  buffer[0] = '\0';
  if (VoInitialise() != 0) return 3;
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)SceneQuiet);
  memset(&v, 0, sizeof v);
  v.type = VtInt32;
  v.value.i = workers;
  st |= VoControlSet(0x520001, &v);
  tga = VoDriverFindFromName("vodrvtga");
  if (tga == NULL || VoDriverSet(tga) != 0) return 4;

  shaders[0] = VoShaderCreate(VO_SHADER_REFLECTANCE, "wrapped anisotropic");
  if (threaded_scene) {
    shaders[1] = VoShaderCreate(VO_SHADER_REFLECTANCE, "translucent plastic");
    shaders[2] = VoShaderCreate(VO_SHADER_REFLECTANCE, "radiosity stepped false");
    specular = VoShaderCreate(VO_SHADER_COLOUR, "plain");
    if (specular == NULL || shaders[1] == NULL || shaders[2] == NULL) return 5;
    st |= SceneArgTriple(specular, "colour", VtColourType, 0.2f, 0.9f, 0.4f);
    memset(&v, 0, sizeof v);
    v.type = VtShaderColour;
    v.value.p = specular;
    st |= VoShaderSetArg(shaders[1], "specular colour", &v);
    st |= SceneArgFloat(shaders[2], "gain", 0.02f);
  } else {
    shaders[1] = VoShaderCreate(VO_SHADER_REFLECTANCE, "translucency");
    shaders[2] = VoShaderCreate(VO_SHADER_COLOUR, "mean curvature");
    if (shaders[1] == NULL || shaders[2] == NULL) return 5;
    st |= SceneArgFloat(shaders[1], "translucency factor", 0.6f);
    st |= SceneArgFloat(shaders[2], "min curvature", -1);
    st |= SceneArgFloat(shaders[2], "max curvature", 1);
  }
  if (shaders[0] == NULL) return 5;
  st |= SceneArgFloat(shaders[0], "floor height", 0.3f);
  st |= SceneArgFloat(shaders[0], "cylinder distance", 2.5f);
  for (i = 0; i < 3; ++i) {
    spheres[i] = Sphere(-2.4f + 2.4f * (float)i);
    if (spheres[i] == NULL) return 6;
    st |= Reflectance(spheres[i], &materials[i], shaders[i]);
  }
  /* The ambient light, one in front above left, one behind the middle. */
  lights[0] = Light("ambient", 0, 0, 0);
  lights[1] = Light("point", -4, -6, 4);
  lights[2] = Light("point", 0, 5, 0.5f);
  if (lights[0] != NULL) st |= SceneArgFloat(lights[0], "intensity", 0.2f);
  for (i = 0; i < 3; ++i) {
    if (lights[i] == NULL) return 7;
    list = VoShaderReferenceAppend(list, VoShaderReferenceCreate(lights[i]));
  }
  st |= VoLightListSet(list);
  scene = VoPrimitiveListCreate(3, spheres);
  st |= VoPrimitiveListSet(scene);
  st |= VoViewSetResolution(NULL, 48, 16, 1.0);
  st |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PARALLEL, 2.4);
  Put(&t, "set-up status 0x%x\n", (unsigned)st);
  failed |= st != 0;

  st = SceneRenderToFile(tga, picture, 0x70001);
  back = VoImageRead(picture);
  if (st != 0 || back == NULL || back->width != 48 || back->height != 16 || back->bits != 24) {
    Put(&t, "render status 0x%x\n", (unsigned)st);
    failed = 1;
  } else {
    for (y = 0; y < 16; ++y) {
      const unsigned char *row = back->data + (size_t)y * back->bytes_per_row;
      for (x = 0; x < 48; ++x)
        Put(&t, "%s%d %d %d", x == 0 ? "" : "  ", row[3 * x], row[3 * x + 1], row[3 * x + 2]);
      Put(&t, "\n");
      if (pixels != NULL) memcpy(pixels + (size_t)y * 48 * 3, row, 48 * 3);
    }
  }
  if (back != NULL) VoImageDestroy(back);

  VoLightListSet(NULL);
  VoPrimitiveListSet(NULL);
  VoReferenceListDestroy(scene, NULL);
  VoShaderReferenceDestroy(list, 1);
  for (i = 0; i < 3; ++i) {
    failed |= VoPrimitiveDestroy(spheres[i]) != 0;
    failed |= VoMaterialDestroy(materials[i]) != 0;
  }
  if (specular != NULL) failed |= VoShaderDestroy(specular) != 0;
  failed |= VoTerminate() != 0;
  remove(picture);
  return failed ? 8 : 0;
}
