/* The scene of the post-process end-to-end tests, through the C interface
 * alone: a matte sphere (1,984 triangles) on a 12 x 12 floor under one
 * point light, seen from (0, -7, 3.5) towards (0, 0, 0.8)
 * through a 40-degree view of 128 x 96, rendered by the standard renderer
 * (vertex colour) through execute code 0x440004 with a post-process list. */
#ifndef VO_TEST_POST_SCENE_H
#define VO_TEST_POST_SCENE_H

#include <string.h>

#include <vo/vo_api.h>
#include <vo/vo_postprocess.h>
#include <vo/vo_shader.h>

#include "support/end_to_end.h"
#include "support/glass_scene.h"

enum { kPostWidth = 128, kPostHeight = 96 };

typedef struct PostScene {
  VtPrimitive *prims[2];
  VtReference *scene, *lights, *list;
} PostScene;

/* Starts the library and sets up the scene with the light at (x, y, z);
 * non-zero on a failure (1 when a piece is missing). */
static inline int PostSceneBegin(PostScene *s, float x, float y, float z) {
  const float eye[3] = {0, -7, 3.5f}, reference[3] = {0, 0, 0.8f}, up[3] = {0, 0, 1};
  VtShader *light;
  int failed = VoInitialise() != 0;
  memset(s, 0, sizeof *s);
  s->prims[0] = GlassFloor();
  s->prims[1] = GlassSphere();
  light = VoShaderCreate(VO_SHADER_LIGHT, "point");
  if (s->prims[0] == NULL || s->prims[1] == NULL || light == NULL) return 1;
  failed |= SceneArgTriple(light, "location", VtPoint, x, y, z) != 0;
  s->lights = VoShaderReferenceCreate(light);
  failed |= VoLightListSet(s->lights) != 0;
  s->scene = VoPrimitiveListCreate(2, s->prims);
  failed |= VoPrimitiveListSet(s->scene) != 0;
  failed |= VoViewSetResolution(NULL, kPostWidth, kPostHeight, 1.0) != 0;
  failed |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40.0) != 0;
  return failed;
}

/* Appends the shader to the scene's post-process list (which owns it). */
static inline void PostSceneAppend(PostScene *s, VtShader *shader) {
  s->list = VoShaderReferenceAppend(s->list, VoShaderReferenceCreate(shader));
}

/* Makes the list the stage's, with the standard renderer as render code and
 * the list run as post code; non-zero on a failure. */
static inline int PostSceneCodes(PostScene *s) {
  VtTypedValue v;
  int failed = VoPostprocessListSet(s->list) != 0;
  memset(&v, 0, sizeof v);
  v.type = VtEnum;
  v.value.u = 0xc0002;
  failed |= VoControlSet(VO_CONTROL_PP_RENDER_CODE, &v) != 0;
  v.value.u = VO_EXECUTE_PP_RUN;
  failed |= VoControlSet(VO_CONTROL_PP_POST_CODE, &v) != 0;
  return failed;
}

/* The image's pixels at the n places, one line each. */
static inline void PostScenePixels(Text *t, const VtImage *image, const int *px, const int *py, int n) {
  int i;
  for (i = 0; i < n; ++i) {
    const uint8_t *p = image->data + py[i] * image->bytes_per_row + 3 * px[i];
    Put(t, "pixel %3d %2d: %3u %3u %3u\n", px[i], py[i], p[0], p[1], p[2]);
  }
}

/* Takes the scene down and stops the library; non-zero on a failure. */
static inline int PostSceneEnd(PostScene *s) {
  int failed = VoPostprocessListSet(NULL) != 0;
  if (s->list != NULL) failed |= VoShaderReferenceDestroy(s->list, 1) != 0;
  VoLightListSet(NULL);
  VoPrimitiveListSet(NULL);
  VoReferenceListDestroy(s->scene, NULL);
  VoShaderReferenceDestroy(s->lights, 1);
  failed |= VoPrimitiveDestroy(s->prims[0]) != 0;
  failed |= VoPrimitiveDestroy(s->prims[1]) != 0;
  failed |= VoTerminate() != 0;
  return failed;
}

#endif /* VO_TEST_POST_SCENE_H */
