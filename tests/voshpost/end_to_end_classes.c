/* The stage's own classes through the C interface alone: a matte sphere
 * (1,984 triangles) on a 12 x 12 floor under a point light at (3, -4, 7),
 * rendered at 128 x 96 by the standard renderer (vertex colour) through
 * execute code 0x440004, post-processed by the list [matrix (the built-in
 * kernel), glow (range 5, min threshold 0.8), archive ("vodrvbmp", file)].
 * The file is read back with VoImageRead; the text lists chosen pixels and a
 * checksum of the bytes. The whole render runs twice and the two files must
 * be identical. The answer is 0 when every step succeeded. */
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>
#include <vo/vo_postprocess.h>
#include <vo/vo_shader.h>

#include "support/end_to_end.h"
#include "support/glass_scene.h"

enum { kWidth = 128, kHeight = 96 };

static VtStatus Arg(VtShader *s, const char *label, uint32_t type, uint32_t word, float f, const char *text) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = type;
  if (type == VtFloat)
    v.value.f = f;
  else if (type == VtString)
    v.value.s = text;
  else
    v.value.u = word;
  return VoShaderSetArg(s, label, &v);
}

/* FNV-1a over the image's pixel bytes. */
static uint32_t Checksum(const VtImage *image) {
  uint32_t h = 2166136261u;
  int x, y;
  for (y = 0; y < image->height; ++y)
    for (x = 0; x < 3 * image->width; ++x) h = (h ^ image->data[y * image->bytes_per_row + x]) * 16777619u;
  return h;
}

static int RenderOnce(Text *t, const char *path, uint32_t *sum, int report) {
  const float eye[3] = {0, -7, 3.5f}, reference[3] = {0, 0, 0.8f}, up[3] = {0, 0, 1};
  const int px[] = {0, 40, 64, 64, 80, 127}, py[] = {0, 30, 40, 60, 48, 95};
  VtPrimitive *prims[2];
  VtShader *light, *matrix, *glow, *archive;
  VtReference *scene, *lights, *list = NULL;
  VtImage *image;
  VtTypedValue v;
  int failed = VoInitialise() != 0, i;
  VtStatus st;

  prims[0] = GlassFloor();
  prims[1] = GlassSphere();
  light = VoShaderCreate(VO_SHADER_LIGHT, "point");
  matrix = VoShaderCreate(VO_SHADER_POSTPROCESS, "matrix");
  glow = VoShaderCreate(VO_SHADER_POSTPROCESS, "glow");
  archive = VoShaderCreate(VO_SHADER_POSTPROCESS, "archive");
  if (prims[0] == NULL || prims[1] == NULL || light == NULL || matrix == NULL || glow == NULL || archive == NULL)
    return 1;
  failed |= SceneArgTriple(light, "location", VtPoint, 3, -4, 7) != 0;
  lights = VoShaderReferenceCreate(light);
  failed |= VoLightListSet(lights) != 0;
  scene = VoPrimitiveListCreate(2, prims);
  failed |= VoPrimitiveListSet(scene) != 0;
  failed |= VoViewSetResolution(NULL, kWidth, kHeight, 1.0) != 0;
  failed |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40.0) != 0;
  failed |= Arg(glow, "range", VtFloat, 0, 5.0f, NULL) != 0;
  failed |= Arg(glow, "min threshold", VtFloat, 0, 0.8f, NULL) != 0;
  failed |= Arg(archive, "drivername", VtString, 0, 0, "vodrvbmp") != 0;
  failed |= Arg(archive, "filename", VtString, 0, 0, path) != 0;
  list = VoShaderReferenceAppend(list, VoShaderReferenceCreate(matrix));
  list = VoShaderReferenceAppend(list, VoShaderReferenceCreate(glow));
  list = VoShaderReferenceAppend(list, VoShaderReferenceCreate(archive));
  failed |= VoPostprocessListSet(list) != 0;
  memset(&v, 0, sizeof v);
  v.type = VtEnum;
  v.value.u = 0xc0002;
  failed |= VoControlSet(VO_CONTROL_PP_RENDER_CODE, &v) != 0;
  v.value.u = VO_EXECUTE_PP_RUN;
  failed |= VoControlSet(VO_CONTROL_PP_POST_CODE, &v) != 0;
  st = VoExecute(VO_EXECUTE_PP_RENDER_AND_POST);
  failed |= st != 0;
  image = VoImageRead(path);
  if (image == NULL || image->width != kWidth || image->height != kHeight) {
    failed = 1;
  } else {
    *sum = Checksum(image);
    if (report) {
      Put(t, "render and post status 0x%x\n", (unsigned)st);
      for (i = 0; i < 6; ++i) {
        const uint8_t *p = image->data + py[i] * image->bytes_per_row + 3 * px[i];
        Put(t, "pixel %3d %2d: %3u %3u %3u\n", px[i], py[i], p[0], p[1], p[2]);
      }
      Put(t, "checksum %08x\n", (unsigned)*sum);
    }
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
  return failed;
}

int vo_end_to_end_postprocess_classes(char *buffer, size_t size, const char *path) {
  Text t = {buffer, size};
  uint32_t first = 0, second = 1;
  int failed;
  if (size == 0) return 1;
  buffer[0] = '\0';
  failed = RenderOnce(&t, path, &first, 1);
  failed |= RenderOnce(&t, path, &second, 0);
  Put(&t, "second run %s\n", first == second ? "identical" : "different");
  remove(path);
  return failed || first != second ? 3 : 0;
}
