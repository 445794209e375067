/* The saved-scene example (examples/saved_scene.c) driven step by step
 * through the C interface alone: its scene (two boxes sharing a plastic
 * material, a transformed floor of the default material, a point light
 * casting shadows, an ambient light, a plain background and a view) built,
 * rendered by the z-buffer to a BMP file, saved to an object file and given
 * back, the library stopped and started, the scene loaded by the example's
 * own reader and rendered again: the two pictures must be byte-identical.
 * What was loaded is written as text into the caller's buffer; the answer
 * is 0 when every step succeeded. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <vo/vo_api.h>
#include <vo/vo_shader.h>

#include "support/end_to_end.h"

/* The example's steps (Build, Render, Save, Load); its main is not ours. */
#define main vo_saved_scene_example_main
int vo_saved_scene_example_main(int argc, char **argv);
#include "../../../examples/saved_scene.c"
#undef main

/* The elements of a primitive's vertex or polygon ring. */
static uint32_t RingLength(VtPrimitive *p, int vertices) {
  VtTypedValue v;
  void *first = NULL, *at;
  uint32_t n = 0;
  memset(&v, 0, sizeof v);
  if (VoPrimitiveGetProperty(p, vertices ? VO_PRIM_VERTS : VO_PRIM_POLYS, &v) != 0 || v.value.p == NULL)
    return 0;
  memcpy(&first, v.value.p, sizeof first);
  for (at = first; at != NULL && n < 1000000;) {
    n += 1;
    if ((vertices ? VoVertexGetProperty(p, at, VO_VERT_NEXT, &v)
                  : VoPolygonGetProperty(p, at, VO_POLY_NEXT, &v)) != 0 ||
        v.value.p == NULL)
      break;
    memcpy(&at, v.value.p, sizeof at);
    if (at == first) break;
  }
  return n;
}

/* Gives back the current scene: the list with its meshes and their
 * materials and transforms, the lights, the background. */
static int Release(void) {
  VtReference *list = VoPrimitiveListGet(), *lights = VoLightListGet(), *node = list;
  VtMaterial *materials[3] = {NULL, NULL, NULL};
  VtMaterial *fallback = NULL;
  VtPrimitive *scratch = SceneBox(0, 1, 0, 1, 0, 1); /* of the default material */
  int failed = 0, n = 0, i;
  if (scratch != NULL) {
    fallback = VoPrimitiveGetMaterial(scratch);
    VoPrimitiveDestroy(scratch);
  }
  if (node != NULL) do {
      VtMaterial *m = VoPrimitiveGetMaterial((VtPrimitive *)node->data);
      for (i = 0; i < n && materials[i] != m; ++i) {
      }
      if (i == n && n < 3 && m != fallback) materials[n++] = m;
      node = node->next;
    } while (node != list);
  failed |= VoPrimitiveListSet(NULL) != 0 || VoPrimitiveReferenceDestroy(list, 1) != 0;
  for (i = 0; i < n; ++i) failed |= VoMaterialDestroy(materials[i]) != 0;
  failed |= VoLightListSet(NULL) != 0 || VoShaderReferenceDestroy(lights, 1) != 0;
  failed |= VoBackgroundSet(NULL) != 0;
  return failed;
}

static long Same(const char *a, const char *b) {
  FILE *fa = fopen(a, "rb"), *fb = fopen(b, "rb");
  long n = 0;
  int ca = 0, cb = 0;
  if (fa != NULL && fb != NULL) {
    do {
      ca = fgetc(fa), cb = fgetc(fb);
      n += ca != EOF;
    } while (ca == cb && ca != EOF);
  }
  if (fa != NULL) fclose(fa);
  if (fb != NULL) fclose(fb);
  return ca == cb ? n : -1;
}

/* Gives the point light an address argument ("fall off data"), which an
 * object file does not keep: the light list's read answers 0x20000000 with
 * the list delivered, and the example's reader must use it and go on to the
 * background after it. The default fall off function does not read the
 * data, so the pictures stay the same. */
static VtStatus AddressArgument(void) {
  static int data;
  VtReference *lights = VoLightListGet(), *node = lights;
  VtTypedValue v;
  int set = 0;
  if (node != NULL) do {
      memset(&v, 0, sizeof v);
      if (VoShaderGetArg((VtShader *)node->data, "fall off data", &v) == 0) {
        v.value.p = &data;
        if (VoShaderSetArg((VtShader *)node->data, "fall off data", &v) != 0) return 2;
        set += 1;
      }
      node = node->next;
    } while (node != lights);
  return set == 1 ? 0 : 2;
}

int vo_end_to_end_persistence(char *buffer, size_t size) {
  Text t = {buffer, size};
  char first[64], second[64], scene[64];
  VtStatus st;
  long bytes;
  int failed;
  VtReference *list, *node;
  uint32_t meshes = 0, vertices = 0, polygons = 0;
  if (size == 0) return 1;
  buffer[0] = '\0';
  snprintf(first, sizeof first, "/tmp/vo_persist_%d_a.bmp", (int)getpid());
  snprintf(second, sizeof second, "/tmp/vo_persist_%d_b.bmp", (int)getpid());
  snprintf(scene, sizeof scene, "/tmp/vo_persist_%d.vob", (int)getpid());
  failed = VoInitialise() != 0;
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)&SceneQuiet);
  failed |= Build() != 0;
  failed |= AddressArgument() != 0;
  st = Render(first);
  Put(&t, "first render: status 0x%x\n", st);
  failed |= st != 0;
  st = Save(scene);
  Put(&t, "saved: status 0x%x\n", st);
  failed |= st != VO_CLASS_WARNING; /* the light's address argument is not saved */
  failed |= Release();
  failed |= VoTerminate() != 0 || VoInitialise() != 0;
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)&SceneQuiet);
  st = Load(scene);
  list = VoPrimitiveListGet();
  node = list;
  if (node != NULL) do {
      meshes += 1;
      vertices += RingLength((VtPrimitive *)node->data, 1);
      polygons += RingLength((VtPrimitive *)node->data, 0);
      node = node->next;
    } while (node != list);
  Put(&t, "loaded: status 0x%x: %u meshes, %u vertices, %u polygons\n", st, meshes, vertices, polygons);
  failed |= st != 0;
  st = Render(second);
  bytes = Same(first, second);
  Put(&t, "second render: status 0x%x, %s\n", st, bytes > 0 ? "byte-identical" : "different");
  failed |= st != 0 || bytes <= 0;
  failed |= Release();
  failed |= VoTerminate() != 0;
  if (getenv("VO_PERSIST_KEEP") == NULL) {
    remove(first);
    remove(second);
  }
  remove(scene);
  return failed ? 3 : 0;
}
