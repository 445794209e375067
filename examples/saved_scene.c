/*
 * A whole scene saved to an object file and loaded in a fresh session.
 *
 *   vo_saved_scene [directory]
 *
 * Builds a scene (two boxes sharing a red plastic material, a floor of the
 * default material lowered by a transform, a point light casting shadows, an
 * ambient light, a plain background and a view), renders it with the
 * z-buffer to saved_scene-before.bmp, saves the view, the primitive list,
 * the light list and the background to saved_scene.vob, stops the library,
 * starts it again, loads the four records, makes them current and renders
 * saved_scene-after.bmp. The two pictures are byte-identical: the test suite
 * compares them. Exit status 0 when every call answered 0.
 *
 * What each record keeps, and what it does not (a primitive's texture space,
 * primitives other than meshes, a view's clipping), is in docs/files.md.
 */
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>

enum { kWidth = 240, kHeight = 180 };

static char g_path[3][1024]; /* before.bmp, after.bmp, the object file */

/* A box from its two corners, as a mesh of six quads. */
static VtPrimitive *Box(float x0, float x1, float y0, float y1, float z0, float z1) {
  static const int32_t counts[6] = {4, 4, 4, 4, 4, 4};
  static const int32_t faces[24] = {0, 4, 6, 2, 1, 3, 7, 5, 0, 1, 5, 4, 2, 6, 7, 3, 0, 2, 3, 1, 4, 5, 7, 6};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  float corner[8][3];
  VtTypedValue v[1];
  int i;
  for (i = 0; i < 8; ++i) {
    corner[i][0] = (i & 1) ? x1 : x0;
    corner[i][1] = (i & 2) ? y1 : y0;
    corner[i][2] = (i & 4) ? z1 : z0;
  }
  memset(v, 0, sizeof v);
  v[0].type = VtGenericPtr;
  v[0].value.p = corner;
  return VoPrimitiveCreateMesh(6, NULL, counts, faces, 1, ids, v);
}

/* Sets a shader's colour, point or vector argument. */
static VtStatus Triple(VtShader *shader, const char *label, float a, float b, float c) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  if (VoShaderGetArg(shader, label, &v) != 0) return 2;
  v.value.v[0] = a, v.value.v[1] = b, v.value.v[2] = c;
  return VoShaderSetArg(shader, label, &v);
}

/* Sets a shader's float argument, or its integer one. */
static VtStatus Number(VtShader *shader, const char *label, float x) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  if (VoShaderGetArg(shader, label, &v) != 0) return 2;
  if (v.type == VtFloat)
    v.value.f = x;
  else
    v.value.u = (uint32_t)x;
  return VoShaderSetArg(shader, label, &v);
}

static VtStatus Build(void) {
  const float eye[3] = {4, 3, 6}, reference[3] = {0, 0.5f, 0}, up[3] = {0, 1, 0};
  const double down[3] = {0, -0.1, 0};
  VtPrimitive *meshes[3];
  VtMaterial *plastic = VoMaterialCreate();
  VtTransform *lowered = VoTransformCreate();
  VtShader *point = VoShaderCreate(VO_SHADER_LIGHT, "point");
  VtShader *ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
  VtShader *background = VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
  VtStatus st = 0;
  meshes[0] = Box(-1.5f, -0.5f, 0, 1, -0.5f, 0.5f);
  meshes[1] = Box(0.5f, 1.5f, 0, 1.5f, -0.5f, 0.5f);
  meshes[2] = Box(-4, 4, 0, 0.1f, -4, 4);
  if (!plastic || !lowered || !point || !ambient || !background || !meshes[0] || !meshes[1] || !meshes[2])
    return 2;
  st |= VoMaterialSetShaderByPrototype(plastic, VO_SHADER_REFLECTANCE, "plastic");
  st |= Triple(VoMaterialGetShader(plastic, VO_SHADER_COLOUR), "colour", 0.8f, 0.3f, 0.2f);
  st |= VoPrimitiveSetMaterial(meshes[0], plastic) | VoPrimitiveSetMaterial(meshes[1], plastic);
  st |= VoTransformTranslate(lowered, down) | VoPrimitiveSetTransform(meshes[2], lowered);
  st |= VoPrimitiveListSet(VoPrimitiveListCreate(3, meshes));
  st |= Triple(point, "location", 2, 5, 3) | Number(point, "shadows", 1) | Number(ambient, "intensity", 0.2f);
  st |= Triple(background, "colour", 0.1f, 0.2f, 0.3f);
  st |= VoLightListSet(
      VoShaderReferenceAppend(VoShaderReferenceCreate(point), VoShaderReferenceCreate(ambient)));
  st |= VoBackgroundSet(background);
  /* The background setting and the floor hold their own references. */
  st |= VoShaderDestroy(background) | VoTransformDestroy(lowered);
  st |= VoViewSetResolution(NULL, kWidth, kHeight, 1.0);
  st |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 45.0);
  st |= VoViewAutoClipping(NULL);
  return st;
}

/* Renders the current scene with the z-buffer into a BMP file opened with
 * VoFileOpen (so that a journal of this program replays). */
static VtStatus Render(const char *path) {
  void *file = VoFileOpen(path, VO_FILE_WRITE);
  VtTypedValue v;
  VtStatus st;
  if (file == NULL) return 2;
  memset(&v, 0, sizeof v);
  v.type = VtGenericPtr;
  v.value.p = file;
  st = VoDriverSet(VoDriverFindFromName("vodrvbmp"));
  st |= VoControlSet(VO_CONTROL_DRIVER_FILE, &v);
  if (st == 0) st = VoExecute(VO_EXECUTE_ADVANCED_ZBUFFER);
  v.value.p = NULL;
  VoControlSet(VO_CONTROL_DRIVER_FILE, &v);
  VoFileClose(file);
  return st;
}

/* Four records: the view and the primitive list by reference (the value
 * word holds the object), the light list by value (the value word holds the
 * address of the list pointer), the background shader by reference. */
static VtStatus Save(const char *path) {
  void *file = VoFileOpen(path, VO_FILE_WRITE);
  VtReference *lights = VoLightListGet();
  VtObjectValue v;
  VtStatus st;
  if (file == NULL) return 2;
  st = VoObjectOpen(file, 2); /* 2: a writer */
  memset(&v, 0, sizeof v);
  v.type = VO_OBJECT_VIEW, v.value.p = VoViewGet();
  st |= VoObjectWrite(file, &v);
  v.type = VO_OBJECT_PRIMITIVE_LIST, v.value.p = VoPrimitiveListGet();
  st |= VoObjectWrite(file, &v);
  v.type = VO_OBJECT_SHADER_LIST, v.value.p = &lights;
  st |= VoObjectWrite(file, &v);
  v.type = VO_OBJECT_SHADER, v.value.p = VoBackgroundGet();
  st |= VoObjectWrite(file, &v);
  st |= VoObjectClose(file); /* writes the end record */
  VoFileClose(file);
  return st;
}

/* Reads the records back in a fresh session and makes each current. A read
 * answering the warning 0x20000000 (a record passed over, or a part of a
 * value the file does not keep, such as a light's address argument) still
 * delivers its value: it is used, and the reading goes on. */
static VtStatus Load(const char *path) {
  void *file = VoFileOpen(path, VO_FILE_READ);
  VtObjectValue v;
  VtStatus st, read = 0, warned = 0;
  VtReference *lights = NULL;
  if (file == NULL) return 2;
  st = VoObjectOpen(file, 1); /* 1: a reader, the header read now */
  while (st == 0 && ((read = VoObjectRead(file, &v)) & ~VO_CLASS_WARNING) == 0 && v.type != VO_OBJECT_END) {
    warned |= read;
    switch (v.type) {
      case VO_OBJECT_VIEW: st |= VoViewSet((VtView *)v.value.p); break;
      case VO_OBJECT_PRIMITIVE_LIST: st |= VoPrimitiveListSet((VtReference *)v.value.p); break;
      case VO_OBJECT_SHADER_LIST:
        /* The value word holds a block with the list pointer in it: take the
         * list, then free the block with the type's deallocator. */
        memcpy(&lights, v.value.p, sizeof lights);
        VoDataObjectGetDeallocator(VO_OBJECT_SHADER_LIST)(v.value.p);
        st |= VoLightListSet(lights);
        break;
      case VO_OBJECT_SHADER:
        /* The setting takes its own reference; the reader's goes. */
        st |= VoBackgroundSet((VtShader *)v.value.p) | VoShaderDestroy((VtShader *)v.value.p);
        break;
      default: st |= 2; break;
    }
  }
  if (st == 0 && (read & ~VO_CLASS_WARNING) != 0) st = read;
  if (warned != 0) printf("load the scene: a record kept only part of its value (0x%x)\n", (unsigned)warned);
  st |= VoObjectClose(file);
  /* A view's clipping is not saved: clip the loaded view to the scene again. */
  st |= VoViewAutoClipping(NULL);
  VoFileClose(file);
  return st;
}

static void Report(const char *step, VtStatus st) {
  printf("%s: %s (0x%x)\n", step, st == 0 ? "done" : "failed", (unsigned)st);
}

int main(int argc, char **argv) {
  static const char *const names[3] = {"saved_scene-before.bmp", "saved_scene-after.bmp", "saved_scene.vob"};
  const char *directory = argc > 1 ? argv[1] : ".";
  VtStatus st, all = 0;
  int i;
  for (i = 0; i < 3; ++i) snprintf(g_path[i], sizeof g_path[i], "%s/%s", directory, names[i]);
  all |= st = VoInitialise();
  Report("start", st);
  all |= st = Build();
  Report("build the scene", st);
  all |= st = Render(g_path[0]);
  Report(g_path[0], st);
  all |= st = Save(g_path[2]);
  Report(g_path[2], st);
  /* VoTerminate gives back the scene; the next session knows nothing of it. */
  all |= st = VoTerminate();
  all |= st |= VoInitialise();
  Report("restart", st);
  all |= st = Load(g_path[2]);
  Report("load the scene", st);
  all |= st = Render(g_path[1]);
  Report(g_path[1], st);
  all |= VoTerminate();
  return all == 0 ? 0 : 1;
}
