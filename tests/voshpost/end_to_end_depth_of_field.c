/* Depth of field through the C interface alone: a matte sphere on a
 * 12 x 12 floor under one point light at (3, -4, 7), rendered at 128 x 96
 * by the standard renderer through execute code 0x440004 with the list
 * [render depth, depth of field (a 200 mm lens at f/1 focused on the
 * sphere's front at 6.5 units)] into a Targa file through the Targa driver.
 * The file is read back with VoImageReadFromFile; the text lists the
 * statuses, chosen pixels and a checksum of the bytes. The answer is 0 when
 * every step succeeded. */
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>
#include <vo/vo_postprocess.h>
#include <vo/vo_shader.h>

#include "support/end_to_end.h"
#include "support/glass_scene.h"

enum { kDofWidth = 128, kDofHeight = 96 };

static VtStatus DofFloat(VtShader *s, const char *label, float f) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = VtFloat;
  v.value.f = f;
  return VoShaderSetArg(s, label, &v);
}

static uint32_t DofChecksum(const VtImage *image) {
  uint32_t h = 2166136261u;
  int x, y;
  for (y = 0; y < image->height; ++y)
    for (x = 0; x < 3 * image->width; ++x) h = (h ^ image->data[y * image->bytes_per_row + x]) * 16777619u;
  return h;
}

int vo_end_to_end_depth_of_field(char *buffer, size_t size, const char *path) {
  const float eye[3] = {0, -7, 3.5f}, reference[3] = {0, 0, 0.8f}, up[3] = {0, 0, 1};
  /* Near floor, sphere front, far floor edge, sphere edge, background. */
  const int px[] = {64, 64, 10, 48, 64, 127}, py[] = {92, 50, 32, 45, 20, 95};
  Text t = {buffer, size};
  VtPrimitive *prims[2];
  VtShader *light, *depth, *dof;
  VtReference *scene, *lights, *list = NULL;
  VtDriverRecord *tga;
  VtImage *image = NULL;
  VtTypedValue v;
  FILE *f;
  int failed, i;
  VtStatus st;

  if (size == 0) return 1;
  buffer[0] = '\0';
  failed = VoInitialise() != 0;
  prims[0] = GlassFloor();
  prims[1] = GlassSphere();
  light = VoShaderCreate(VO_SHADER_LIGHT, "point");
  depth = VoShaderCreate(VO_SHADER_POSTPROCESS, "render depth");
  dof = VoShaderCreate(VO_SHADER_POSTPROCESS, "depth of field");
  tga = VoDriverFindFromName("vodrvtga");
  if (prims[0] == NULL || prims[1] == NULL || light == NULL || depth == NULL || dof == NULL || tga == NULL) return 1;
  failed |= SceneArgTriple(light, "location", VtPoint, 3, -4, 7) != 0;
  lights = VoShaderReferenceCreate(light);
  failed |= VoLightListSet(lights) != 0;
  scene = VoPrimitiveListCreate(2, prims);
  failed |= VoPrimitiveListSet(scene) != 0;
  failed |= VoViewSetResolution(NULL, kDofWidth, kDofHeight, 1.0) != 0;
  failed |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40.0) != 0;
  failed |= DofFloat(dof, "focal length", 200) != 0;
  failed |= DofFloat(dof, "aperture", 1) != 0;
  failed |= DofFloat(dof, "focus plane", 6.5f) != 0;
  list = VoShaderReferenceAppend(list, VoShaderReferenceCreate(depth));
  list = VoShaderReferenceAppend(list, VoShaderReferenceCreate(dof));
  failed |= VoPostprocessListSet(list) != 0;
  memset(&v, 0, sizeof v);
  v.type = VtEnum;
  v.value.u = 0xc0002;
  failed |= VoControlSet(VO_CONTROL_PP_RENDER_CODE, &v) != 0;
  v.value.u = VO_EXECUTE_PP_RUN;
  failed |= VoControlSet(VO_CONTROL_PP_POST_CODE, &v) != 0;
  /* VoInitialise leaves the null driver current. */
  failed |= VoDriverSet(tga) != 0;
  st = SceneRenderToFile(tga, path, VO_EXECUTE_PP_RENDER_AND_POST);
  failed |= st != 0;
  Put(&t, "render and post status 0x%x\n", (unsigned)st);
  f = fopen(path, "rb");
  if (f != NULL) {
    image = VoImageReadFromFile(f, path);
    fclose(f);
  }
  if (image == NULL || image->width != kDofWidth || image->height != kDofHeight) {
    failed = 1;
  } else {
    for (i = 0; i < 6; ++i) {
      const uint8_t *p = image->data + py[i] * image->bytes_per_row + 3 * px[i];
      Put(&t, "pixel %3d %2d: %3u %3u %3u\n", px[i], py[i], p[0], p[1], p[2]);
    }
    Put(&t, "checksum %08x\n", (unsigned)DofChecksum(image));
  }
  if (image != NULL) VoImageDestroy(image);
  failed |= VoPostprocessListSet(NULL) != 0;
  failed |= VoShaderReferenceDestroy(list, 1) != 0;
  VoLightListSet(NULL);
  VoPrimitiveListSet(NULL);
  VoReferenceListDestroy(scene, NULL);
  VoShaderReferenceDestroy(lights, 1);
  failed |= VoPrimitiveDestroy(prims[0]) != 0;
  failed |= VoPrimitiveDestroy(prims[1]) != 0;
  failed |= VoTerminate() != 0;
  remove(path);
  return failed;
}
