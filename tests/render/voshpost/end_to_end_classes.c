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

#include "post_scene.h"

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

static int RenderOnce(Text *t, const char *path, uint32_t *sum, int report) {
  const int px[] = {0, 40, 64, 64, 80, 127}, py[] = {0, 30, 40, 60, 48, 95};
  PostScene scene;
  VtShader *matrix, *glow, *archive;
  VtImage *image;
  int failed = PostSceneBegin(&scene, 3, -4, 7);
  VtStatus st;

  matrix = VoShaderCreate(VO_SHADER_POSTPROCESS, "matrix");
  glow = VoShaderCreate(VO_SHADER_POSTPROCESS, "glow");
  archive = VoShaderCreate(VO_SHADER_POSTPROCESS, "archive");
  if (failed == 1 || matrix == NULL || glow == NULL || archive == NULL) return 1;
  failed |= Arg(glow, "range", VtFloat, 0, 5.0f, NULL) != 0;
  failed |= Arg(glow, "min threshold", VtFloat, 0, 0.8f, NULL) != 0;
  failed |= Arg(archive, "drivername", VtString, 0, 0, "vodrvbmp") != 0;
  failed |= Arg(archive, "filename", VtString, 0, 0, path) != 0;
  PostSceneAppend(&scene, matrix);
  PostSceneAppend(&scene, glow);
  PostSceneAppend(&scene, archive);
  failed |= PostSceneCodes(&scene);
  st = VoExecute(VO_EXECUTE_PP_RENDER_AND_POST);
  failed |= st != 0;
  image = VoImageRead(path);
  if (image == NULL || image->width != kPostWidth || image->height != kPostHeight) {
    failed = 1;
  } else {
    *sum = SceneImageChecksum(image);
    if (report) {
      Put(t, "render and post status 0x%x\n", (unsigned)st);
      PostScenePixels(t, image, px, py, 6);
      Put(t, "checksum %08x\n", (unsigned)*sum);
    }
  }
  if (image != NULL) VoImageDestroy(image);
  return failed | PostSceneEnd(&scene);
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
