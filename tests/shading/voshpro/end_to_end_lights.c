/* The pro library's lights through the C interface alone: a Lambertian
 * luminaire file (100, 70.7107 and 0 cd at 0, 45 and 90 degrees) written to
 * the given directory lights a matte floor from (0, 0, 2), aimed at the
 * origin; the floor is ray traced through a parallel view of 2 x 1 pixels
 * whose centres fall on (0, 0, 0) and (2, 0, 0). Straight below the light
 * the floor gets 1; at (2, 0, 0) the luminaire gives 0.7071 at 45 degrees
 * and the surface takes cos 45 of it: 0.5 of the first without fall-off,
 * 0.25 with 1/d^2 (d^2 4 and 8). The sky model's patch count and the sum of
 * its solid angles are read through "handle". The answer is 0 when every
 * step succeeded and the pixels are within 1 of the hand values. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>
#include <vo/vo_prolib.h>
#include <vo/vo_shader.h>

#include "support/end_to_end.h"
#include "support/scene_args.h"

static int Near(int got, double want) { return fabs(got - want) <= 1.0; }

int vo_end_to_end_lights(char *buffer, size_t size, const char *directory) {
  Text t = {buffer, size};
  static const float corners[4][3] = {{-4, -4, 0}, {4, -4, 0}, {4, 4, 0}, {-4, 4, 0}};
  const float eye[3] = {1, 0, 10}, reference[3] = {1, 0, 0}, up[3] = {0, 1, 0};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  char luminaire[512], picture[512];
  VtTypedValue data[1], v;
  VtPrimitive *floor_;
  VtMaterial *matte;
  VtShader *light, *sky;
  VtReference *scene, *lights;
  VtDriverRecord *tga;
  VtStatus st = 0;
  FILE *f;
  int mode, failed = 0;

  if (size == 0) return 1;
  buffer[0] = '\0';
  snprintf(luminaire, sizeof luminaire, "%s/lambertian.ies", directory);
  snprintf(picture, sizeof picture, "%s/lights.tga", directory);
  f = fopen(luminaire, "wb");
  if (f == NULL) return 2;
  fputs("IESNA91\nTILT=NONE\n1 -1 1 3 1 1 2 0 0 0\n1 1 0\n0 45 90\n0\n100 70.7107 0\n", f);
  fclose(f);
  if (VoInitialise() != 0) return 3;
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)SceneQuiet);
  tga = VoDriverFindFromName("vodrvtga");
  if (tga == NULL || VoDriverSet(tga) != 0) return 4;

  data[0] = SceneRecord(corners);
  floor_ = VoPrimitiveCreatePolygon(4, 1, ids, data);
  matte = VoMaterialCreate();
  light = VoShaderCreate(VO_SHADER_LIGHT, "goniometric");
  if (floor_ == NULL || matte == NULL || light == NULL) return 5;
  st |= VoMaterialSetShaderByPrototype(matte, VO_SHADER_REFLECTANCE, "matte");
  st |= VoPrimitiveSetMaterial(floor_, matte);
  memset(&v, 0, sizeof v);
  v.type = VtString;
  v.value.s = luminaire;
  st |= VoShaderSetArg(light, "file name", &v);
  st |= SceneArgTriple(light, "from", VtPoint, 0, 0, 2);
  st |= SceneArgTriple(light, "to", VtPoint, 0, 0, 0);
  lights = VoShaderReferenceCreate(light);
  st |= VoLightListSet(lights);
  scene = VoPrimitiveListCreate(1, &floor_);
  st |= VoPrimitiveListSet(scene);
  st |= VoViewSetResolution(NULL, 2, 1, 1.0);
  st |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PARALLEL, 2.0);
  Put(&t, "set-up status 0x%x\n", (unsigned)st);
  failed |= st != 0;

  for (mode = 1; mode <= 5; mode += 4) {
    const double ratio = mode == 1 ? 0.5 : 0.25, first = mode == 1 ? 255.0 : 63.75;
    VtImage *back;
    memset(&v, 0, sizeof v);
    v.type = VtEnum;
    v.value.i = mode;
    st = VoShaderSetArg(light, "fall off", &v);
    st |= SceneRenderToFile(tga, picture, 0x70001);
    back = VoImageRead(picture);
    if (st != 0 || back == NULL || back->width != 2 || back->height != 1) {
      Put(&t, "fall off %d: render status 0x%x\n", mode, (unsigned)st);
      failed = 1;
    } else {
      const int a = back->data[0], b = back->data[3];
      const int near = Near(a, first) && Near(b, first * ratio);
      Put(&t, "fall off %d: pixels %d %d %d, %d %d %d; ratio %.2f %s\n", mode, back->data[0], back->data[1],
          back->data[2], back->data[3], back->data[4], back->data[5], ratio,
          near ? "as worked out" : "wrong");
      failed |= !near;
    }
    if (back != NULL) VoImageDestroy(back);
  }

  sky = VoShaderCreate(VO_SHADER_LIGHT, "sky");
  if (sky == NULL) {
    failed = 1;
  } else {
    double sum = 0;
    uint32_t i;
    const VtSkyModel *m;
    st = SceneArgFloat(sky, "complexity", 0.1f);
    st |= VoShaderReset(sky);
    memset(&v, 0, sizeof v);
    st |= VoShaderGetArg(sky, "handle", &v);
    m = (const VtSkyModel *)v.value.p;
    for (i = 0; m != NULL && i < m->patchCount; ++i) sum += m->patches[i].solidAngle;
    Put(&t, "sky: status 0x%x, %u patches, solid angles %.5f (2 pi %.5f)\n", (unsigned)st,
        m != NULL ? m->patchCount : 0u, sum, 2 * 3.14159265358979323846);
    failed |= m == NULL || m->patchCount != 1024 || fabs(sum - 2 * 3.14159265358979323846) > 1e-5;
    failed |= VoShaderDestroy(sky) != 0;
  }

  VoLightListSet(NULL);
  VoPrimitiveListSet(NULL);
  VoReferenceListDestroy(scene, NULL);
  VoShaderReferenceDestroy(lights, 1);
  failed |= VoPrimitiveDestroy(floor_) != 0;
  failed |= VoMaterialDestroy(matte) != 0;
  failed |= VoTerminate() != 0;
  remove(picture);
  remove(luminaire);
  return failed ? 6 : 0;
}
