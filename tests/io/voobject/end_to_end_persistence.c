/* A scene saved to an object file, the library stopped and started, the
 * scene loaded and rendered again, through the C interface alone: three
 * meshes (two boxes sharing a plastic material, a transformed floor of the
 * default material), a point light casting shadows, an ambient light and a
 * plain background, seen by a 160 x 120 view clipped to the scene. Both
 * renders go through the standard renderer (0xc0003) to BMP files of the
 * BMP driver and must be byte-identical. What was read is written as text
 * into the caller's buffer; the answer is 0 when every step succeeded. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <vo/vo_api.h>
#include <vo/vo_shader.h>

#include "support/end_to_end.h"

enum { kWidth = 160, kHeight = 120 };

/* Changes one argument of a shader, keeping the type it has. */
static int Arg(VtShader *s, const char *label, float a, float b, float c) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  if (VoShaderGetArg(s, label, &v) != 0) return 1;
  if (v.type == VtColourType || v.type == VtPoint || v.type == VtVector) {
    v.value.v[0] = a, v.value.v[1] = b, v.value.v[2] = c;
  } else if (v.type == VtFloat) {
    v.value.f = a;
  } else if (v.type == VtDouble) {
    v.value.d = a;
  } else {
    v.value.u = (uint32_t)a;
  }
  return VoShaderSetArg(s, label, &v) != 0;
}

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

/* Renders the current scene into the file (VoFileOpen) through the BMP
 * driver's file control. */
static VtStatus Render(const char *path) {
  VtDriverRecord *bmp = VoDriverFindFromName("vodrvbmp");
  void *file = VoFileOpen(path, 2);
  VtTypedValue v;
  VtStatus st;
  if (bmp == NULL || file == NULL || VoDriverSet(bmp) != 0) {
    if (file != NULL) VoFileClose(file);
    return 1;
  }
  memset(&v, 0, sizeof v);
  v.type = VtGenericPtr;
  v.value.p = file;
  st = VoControlSet(0x1a000d, &v);
  if (st == 0) st = VoExecute(0xc0003);
  v.value.p = NULL;
  VoControlSet(0x1a000d, &v);
  VoFileClose(file);
  return st;
}

static int Build(void) {
  const float eye[3] = {4, 3, 6}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  const double down[3] = {0, -1, 0};
  VtPrimitive *meshes[3];
  VtMaterial *plastic = VoMaterialCreate();
  VtTransform *lowered = VoTransformCreate();
  VtShader *point = VoShaderCreate(VO_SHADER_LIGHT, "point");
  VtShader *ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
  VtShader *background = VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
  VtReference *lights = NULL;
  int failed = plastic == NULL || lowered == NULL || point == NULL || ambient == NULL || background == NULL;
  if (failed) return 1;
  meshes[0] = SceneBox(-1.5f, -0.5f, 0, 1, -0.5f, 0.5f);
  meshes[1] = SceneBox(0.5f, 1.5f, 0, 1.5f, -0.5f, 0.5f);
  meshes[2] = SceneBox(-4, 4, 0, 0.1f, -4, 4);
  failed |= meshes[0] == NULL || meshes[1] == NULL || meshes[2] == NULL;
  if (failed) return 1;
  failed |= VoMaterialSetShaderByPrototype(plastic, VO_SHADER_REFLECTANCE, "plastic") != 0;
  failed |= Arg(VoMaterialGetShader(plastic, VO_SHADER_COLOUR), "colour", 0.8f, 0.3f, 0.2f);
  failed |=
      VoPrimitiveSetMaterial(meshes[0], plastic) != 0 || VoPrimitiveSetMaterial(meshes[1], plastic) != 0;
  failed |= VoTransformTranslate(lowered, down) != 0 || VoPrimitiveSetTransform(meshes[2], lowered) != 0;
  failed |= VoPrimitiveListSet(VoPrimitiveListCreate(3, meshes)) != 0;
  failed |= Arg(point, "location", 2, 5, 3) | Arg(point, "shadows", 1, 0, 0) |
            Arg(ambient, "intensity", 0.2f, 0, 0);
  failed |= Arg(background, "colour", 0.1f, 0.2f, 0.3f);
  lights = VoShaderReferenceAppend(VoShaderReferenceCreate(point), VoShaderReferenceCreate(ambient));
  failed |= VoLightListSet(lights) != 0 || VoBackgroundSet(background) != 0;
  /* The setting and the mesh hold the background and the transform. */
  failed |= VoShaderDestroy(background) != 0 || VoTransformDestroy(lowered) != 0;
  failed |= VoViewSetResolution(NULL, kWidth, kHeight, 1.0) != 0;
  failed |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 45.0) != 0;
  failed |= VoViewAutoClipping(NULL) != 0;
  return failed;
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

static VtStatus Save(const char *path) {
  void *file = VoFileOpen(path, 2);
  VtReference *lights = VoLightListGet();
  VtObjectValue v;
  VtStatus st;
  if (file == NULL) return 1;
  st = VoObjectOpen(file, 2);
  memset(&v, 0, sizeof v);
  v.type = VO_OBJECT_VIEW, v.value.p = VoViewGet();
  st |= VoObjectWrite(file, &v);
  v.type = VO_OBJECT_PRIMITIVE_LIST, v.value.p = VoPrimitiveListGet();
  st |= VoObjectWrite(file, &v);
  v.type = VO_OBJECT_SHADER_LIST, v.value.p = &lights;
  st |= VoObjectWrite(file, &v);
  v.type = VO_OBJECT_SHADER, v.value.p = VoBackgroundGet();
  st |= VoObjectWrite(file, &v);
  st |= VoObjectClose(file);
  VoFileClose(file);
  return st;
}

/* Reads the four records back and makes them current. */
static int Load(Text *t, const char *path) {
  void *file = VoFileOpen(path, 1);
  VtObjectValue v;
  VtReference *lights = NULL;
  int failed = file == NULL || VoObjectOpen(file, 1) != 0, i;
  for (i = 0; i < 4 && !failed; ++i) {
    const VtStatus st = VoObjectRead(file, &v);
    Put(t, "record %d: type %u status 0x%x", i, v.type, st);
    failed |= st != 0;
    if (v.type == VO_OBJECT_VIEW) {
      failed |= VoViewSet((VtView *)v.value.p) != 0;
    } else if (v.type == VO_OBJECT_PRIMITIVE_LIST) {
      VtReference *list = (VtReference *)v.value.p, *node = list;
      uint32_t meshes = 0, vertices = 0, polygons = 0;
      if (node != NULL) do {
          meshes += 1;
          vertices += RingLength((VtPrimitive *)node->data, 1);
          polygons += RingLength((VtPrimitive *)node->data, 0);
          node = node->next;
        } while (node != list);
      Put(t, ": %u meshes, %u vertices, %u polygons", meshes, vertices, polygons);
      failed |= VoPrimitiveListSet(list) != 0;
    } else if (v.type == VO_OBJECT_SHADER_LIST) {
      memcpy(&lights, v.value.p, sizeof lights);
      VoDataObjectGetDeallocator(VO_OBJECT_SHADER_LIST)(v.value.p);
      failed |= VoLightListSet(lights) != 0;
    } else if (v.type == VO_OBJECT_SHADER) {
      failed |= VoBackgroundSet((VtShader *)v.value.p) != 0 || VoShaderDestroy((VtShader *)v.value.p) != 0;
    } else {
      failed = 1;
    }
    Put(t, "\n");
  }
  /* Clipped the same way, to the scene now current. */
  failed |= VoViewAutoClipping(NULL) != 0;
  if (file != NULL) {
    failed |= VoObjectClose(file) != 0;
    VoFileClose(file);
  }
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

int vo_end_to_end_persistence(char *buffer, size_t size) {
  Text t = {buffer, size};
  char first[64], second[64], scene[64];
  VtStatus st;
  long bytes;
  int failed;
  if (size == 0) return 1;
  buffer[0] = '\0';
  snprintf(first, sizeof first, "/tmp/vo_persist_%d_a.bmp", (int)getpid());
  snprintf(second, sizeof second, "/tmp/vo_persist_%d_b.bmp", (int)getpid());
  snprintf(scene, sizeof scene, "/tmp/vo_persist_%d.vob", (int)getpid());
  failed = VoInitialise() != 0;
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)&SceneQuiet);
  failed |= Build();
  st = Render(first);
  Put(&t, "first render: status 0x%x\n", st);
  failed |= st != 0;
  st = Save(scene);
  Put(&t, "saved: status 0x%x\n", st);
  failed |= st != 0;
  failed |= Release();
  failed |= VoTerminate() != 0 || VoInitialise() != 0;
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)&SceneQuiet);
  failed |= Load(&t, scene);
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
