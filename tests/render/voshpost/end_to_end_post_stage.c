/* The post-process stage through the C interface alone: the post-process
 * scene (post_scene.h), its light at (2.5, 3, 2.5) within the picture,
 * rendered through execute code 0x440004 with the list [render depth, depth
 * of field (a 200 mm lens at f/1 focused on the sphere's front at 6.5
 * units), render lights (flare constant 200), lens flares "lens50"] into a
 * Targa file through the Targa driver.
 * The file is read back with VoImageReadFromFile; the text lists the
 * status, chosen pixels and a checksum of the bytes. The answer is 0 when
 * every step succeeded. */
#include <stdio.h>
#include <string.h>

#include "post_scene.h"

static VtStatus DofFloat(VtShader *s, const char *label, float f) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = VtFloat;
  v.value.f = f;
  return VoShaderSetArg(s, label, &v);
}

int vo_end_to_end_post_stage(char *buffer, size_t size, const char *path) {
  /* Near floor, sphere front, far floor edge, sphere edge, background. */
  const int px[] = {64, 64, 10, 48, 64, 127}, py[] = {92, 50, 32, 45, 20, 95};
  Text t = {buffer, size};
  PostScene scene;
  VtShader *depth, *dof, *lights, *flares;
  VtTypedValue lens;
  VtDriverRecord *tga;
  VtImage *image = NULL;
  FILE *f;
  int failed;
  VtStatus st;

  if (size == 0) return 1;
  buffer[0] = '\0';
  failed = PostSceneBegin(&scene, 2.5f, 3, 2.5f); /* a light within the picture */
  depth = VoShaderCreate(VO_SHADER_POSTPROCESS, "render depth");
  dof = VoShaderCreate(VO_SHADER_POSTPROCESS, "depth of field");
  lights = VoShaderCreate(VO_SHADER_POSTPROCESS, "render lights");
  flares = VoShaderCreate(VO_SHADER_POSTPROCESS, "lens flares");
  tga = VoDriverFindFromName("vodrvtga");
  if (failed == 1 || depth == NULL || dof == NULL || lights == NULL || flares == NULL || tga == NULL)
    return 1;
  failed |= DofFloat(dof, "focal length", 200) != 0;
  failed |= DofFloat(dof, "aperture", 1) != 0;
  failed |= DofFloat(dof, "focus plane", 6.5f) != 0;
  PostSceneAppend(&scene, depth);
  memset(&lens, 0, sizeof lens);
  lens.type = VtString;
  lens.value.s = "lens50";
  failed |= VoShaderSetArg(flares, "lens", &lens) != 0;
  failed |= DofFloat(lights, "flare constant", 200) != 0;
  PostSceneAppend(&scene, dof);
  PostSceneAppend(&scene, lights);
  PostSceneAppend(&scene, flares);
  failed |= PostSceneCodes(&scene);
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
  if (image == NULL || image->width != kPostWidth || image->height != kPostHeight) {
    failed = 1;
  } else {
    PostScenePixels(&t, image, px, py, 6);
    Put(&t, "checksum %08x\n", (unsigned)SceneImageChecksum(image));
  }
  if (image != NULL) VoImageDestroy(image);
  failed |= PostSceneEnd(&scene);
  remove(path);
  return failed;
}
