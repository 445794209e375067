/* A ray-traced scene lit by an area light, through the C interface alone:
 * a matte floor 8 x 8 at z = 0, a 1 x 1 emitting quad at z = 2 facing down
 * (the "area" light on it emitting 4 in each channel, ray-traced
 * shadows, the second light pass on, unless AreaSceneRenderWith asks for
 * depth maps or the pass off),
 * a 0.4 x 0.4 matte square at z = 1 between them casting a soft shadow,
 * and a spot at (2, 0, 3) aimed straight down whose cone the
 * "light scattering" foreground makes visible. 32 x 24 pixels from
 * (0, -6, 5) toward (0, 0, 0.5), one eye ray a pixel (0x70001), written as
 * a Targa file. */
#ifndef VO_TEST_AREA_SCENE_H
#define VO_TEST_AREA_SCENE_H

#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>
#include <vo/vo_shader.h>

#include "support/end_to_end.h"

static inline VtPrimitive *AreaSceneQuad(float x0, float x1, float y0, float y1, float z, int down) {
  float corners[4][3];
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1];
  int i;
  for (i = 0; i < 4; ++i) {
    /* Counter-clockwise seen from above faces up; clockwise faces down. */
    const int k = down ? (4 - i) % 4 : i;
    corners[k][0] = (i == 1 || i == 2) ? x1 : x0;
    corners[k][1] = (i >= 2) ? y1 : y0;
    corners[k][2] = z;
  }
  data[0] = SceneRecord(corners);
  return VoPrimitiveCreatePolygon(4, 1, ids, data);
}

static inline VtStatus AreaSceneBoolean(uint32_t code, int on) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = VtBoolean;
  v.value.i = on;
  return VoControlSet(code, &v);
}

/* Renders the scene into the file with the worker count (INT32_MIN keeps
 * the library's; any other count also lets bands of one row run threaded),
 * the second light pass on or off and the area light's depth maps of the
 * resolution (0: ray-traced shadows): 0 when every step succeeded, 5
 * when the render alone failed, else 4. The library is started and
 * terminated here. */
static inline int AreaSceneRenderWith(const char *path, int32_t workers, int second_pass,
                                      int32_t shadow_resolution) {
  const float eye[3] = {0, -6, 5}, reference[3] = {0, 0, 0.5f}, up[3] = {0, 0, 1};
  VtPrimitive *prims[3];
  VtMaterial *matte;
  VtShader *area, *spot, *fog;
  VtReference *scene, *lights;
  VtDriverRecord *tga;
  VtTypedValue v;
  VtStatus st = 0;
  int i, failed = 0, rendered = 0;

  if (VoInitialise() != 0) return 1;
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)SceneQuiet);
  tga = VoDriverFindFromName("vodrvtga");
  if (tga == NULL || VoDriverSet(tga) != 0) return 2;
  if (workers != INT32_MIN) {
    memset(&v, 0, sizeof v);
    v.type = VtInt32;
    v.value.i = workers;
    st |= VoControlSet(0x520001, &v);
    v.type = VtNat32;
    v.value.u = 1;
    st |= VoControlSet(0x520003, &v);
  }
  prims[0] = AreaSceneQuad(-4, 4, -4, 4, 0, 0);
  prims[1] = AreaSceneQuad(-0.5f, 0.5f, -0.5f, 0.5f, 2, 1);
  prims[2] = AreaSceneQuad(-0.2f, 0.2f, -0.2f, 0.2f, 1, 0);
  matte = VoMaterialCreate();
  area = VoShaderCreate(VO_SHADER_LIGHT, "area");
  spot = VoShaderCreate(VO_SHADER_LIGHT, "spot");
  fog = VoShaderCreate(VO_SHADER_FOREGROUND, "light scattering");
  if (prims[0] == NULL || prims[1] == NULL || prims[2] == NULL || matte == NULL || area == NULL ||
      spot == NULL || fog == NULL)
    return 3;
  st |= VoMaterialSetShaderByPrototype(matte, VO_SHADER_REFLECTANCE, "matte");
  st |= VoPrimitiveSetMaterial(prims[0], matte);
  st |= VoPrimitiveSetMaterial(prims[2], matte);

  memset(&v, 0, sizeof v);
  v.type = VtGenericPtr;
  v.value.p = prims[1];
  st |= VoShaderSetArg(area, "primitive", &v);
  memset(&v, 0, sizeof v);
  v.type = VtInt32;
  v.value.i = shadow_resolution;
  st |= VoShaderSetArg(area, "shadow resolution", &v);
  st |= SceneArgFloat(area, "noise factor", 0.25f);
  st |= SceneArgTriple(area, "unshot", VtColourType, 4, 4, 4);

  st |= SceneArgTriple(spot, "location", VtPoint, 2, 0, 3);
  st |= SceneArgTriple(spot, "to", VtPoint, 2, 0, 0);
  st |= SceneArgFloat(spot, "cone angle", 30);
  st |= SceneArgFloat(spot, "intensity", 0.5f);
  memset(&v, 0, sizeof v);
  v.type = VtBoolean;
  v.value.i = 1;
  st |= VoShaderSetArg(spot, "scattering", &v);
  st |= SceneArgFloat(fog, "fog density", 0.3f);
  st |= VoForegroundSet(fog);

  lights = VoShaderReferenceAppend(VoShaderReferenceCreate(area), VoShaderReferenceCreate(spot));
  st |= VoLightListSet(lights);
  scene = VoPrimitiveListCreate(3, prims);
  st |= VoPrimitiveListSet(scene);
  st |= AreaSceneBoolean(VO_CONTROL_SHADER_SECOND_LIGHT_PASS, second_pass);
  st |= VoViewSetResolution(NULL, 32, 24, 1.0);
  st |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 50.0);
  failed |= st != 0;
  if (!failed) rendered = SceneRenderToFile(tga, path, 0x70001) == 0;

  VoForegroundSet(NULL);
  VoLightListSet(NULL);
  VoPrimitiveListSet(NULL);
  VoReferenceListDestroy(scene, NULL);
  VoShaderReferenceDestroy(lights, 1);
  failed |= VoShaderDestroy(fog) != 0;
  for (i = 0; i < 3; ++i) failed |= VoPrimitiveDestroy(prims[i]) != 0;
  failed |= VoMaterialDestroy(matte) != 0;
  failed |= VoTerminate() != 0;
  return failed ? 4 : rendered ? 0 : 5;
}

static inline int AreaSceneRender(const char *path, int32_t workers) {
  return AreaSceneRenderWith(path, workers, 1, 0);
}

#endif /* VO_TEST_AREA_SCENE_H */
