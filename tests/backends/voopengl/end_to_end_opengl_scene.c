/* A scene drawn by the standard renderer and through OpenGL, by the C
 * interface alone: a box of flat quads and a tessellated sphere in matte
 * colours, one distant light and an ambient light, a plain background, a
 * 128 x 96 perspective view. The pictures go to the caller: (0) the
 * standard renderer's (execute 0xc0002) through the BMP driver into
 * `bmp_path` and read back, (1) the
 * OpenGL one (0x6f0001) into the image driver, (2) the OpenGL one through
 * the BMP driver into `bmp_path` and read back, (3) and (4) two frames in
 * display-list mode 1. Statuses go to the text. The answer is 0 when every
 * step succeeded. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>

#include "support/end_to_end.h"

enum { kWidth = 128, kHeight = 96, kPicture = kWidth * kHeight * 3, kSlices = 24, kRings = 12 };

static VtMaterial *Matte(float r, float g, float b) {
  VtMaterial *m = VoMaterialCreate();
  if (m == NULL) return NULL;
  if (VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, "plain") != 0 ||
      SceneArgTriple(VoMaterialGetShader(m, VO_SHADER_COLOUR), "colour", VtColourType, r, g, b) != 0 ||
      VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, "matte") != 0) {
    VoMaterialDestroy(m);
    return NULL;
  }
  return m;
}

static VtPrimitive *Sphere(void) {
  static float world[(kRings + 1) * kSlices * 3], normal[(kRings + 1) * kSlices * 3];
  static int32_t counts[2 * kRings * kSlices], indices[6 * kRings * kSlices];
  const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_NORMAL};
  VtTypedValue data[2];
  uint32_t n = 0, k3 = 0;
  int r, k;
  for (r = 0; r <= kRings; ++r)
    for (k = 0; k < kSlices; ++k) {
      const double theta = M_PI * r / kRings, phi = 2 * M_PI * k / kSlices;
      float *v = world + 3 * (r * kSlices + k), *m = normal + 3 * (r * kSlices + k);
      m[0] = (float)(sin(theta) * cos(phi));
      m[1] = (float)cos(theta);
      m[2] = (float)(-sin(theta) * sin(phi));
      v[0] = 1.2f + 1.1f * m[0];
      v[1] = 0.0f + 1.1f * m[1];
      v[2] = 0.0f + 1.1f * m[2];
    }
  for (r = 0; r < kRings; ++r)
    for (k = 0; k < kSlices; ++k) {
      const int32_t a = r * kSlices + k, b = r * kSlices + (k + 1) % kSlices, c = a + kSlices,
                    d = b + kSlices;
      if (r != 0) {
        indices[k3++] = a, indices[k3++] = c, indices[k3++] = b;
        counts[n++] = 3;
      }
      if (r != kRings - 1) {
        indices[k3++] = b, indices[k3++] = c, indices[k3++] = d;
        counts[n++] = 3;
      }
    }
  memset(data, 0, sizeof data);
  data[0].type = data[1].type = VtGenericPtr;
  data[0].value.p = world;
  data[1].value.p = normal;
  return VoPrimitiveCreateMesh(n, NULL, counts, indices, 2, ids, data);
}

static int Copy(VtImage *image, unsigned char *out) {
  int y;
  if (image == NULL || image->data == NULL || image->width != kWidth || image->height != kHeight) return 1;
  for (y = 0; y < kHeight; ++y)
    memcpy(out + y * kWidth * 3, image->data + y * image->bytes_per_row, kWidth * 3);
  return 0;
}

/* The picture of a file, read back. */
static int Read(const char *path, unsigned char *out) {
  VtImage *back = VoImageRead(path);
  const int failed = Copy(back, out);
  if (back != NULL) VoImageDestroy(back);
  return failed;
}

/* Pixels of the picture other than the background colour. */
static int Covered(const unsigned char *picture) {
  int i, n = 0;
  for (i = 0; i < kWidth * kHeight; ++i) n += memcmp(picture + 3 * i, picture, 3) != 0;
  return n;
}

static int Sequence(Text *t, unsigned char *pictures, const char *bmp_path) {
  VtDriverRecord *images, *bmp;
  VtImage *target;
  VtPrimitive *box, *sphere, *members[2];
  VtMaterial *blue, *orange;
  VtShader *background, *sun, *ambient;
  VtReference *scene, *lights;
  VtTypedValue v, mode;
  VtStatus st;
  const float eye[3] = {0.5f, 2.0f, 7.0f}, at[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  int failed = VoInitialise() != 0;
  if (failed) return failed;
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)&SceneQuiet);
  images = VoDriverFindFromName("vodrvimg");
  bmp = VoDriverFindFromName("vodrvbmp");
  target = VoImageCreate();
  if (images == NULL || bmp == NULL || target == NULL) return 1;
  target->width = kWidth;
  target->height = kHeight;
  memset(&v, 0, sizeof v);
  v.type = VtGenericPtr;
  v.value.p = target;
  failed |= VoDriverSet(images) != 0 || VoDriverSetControl(images, VO_CONTROL_DRIVER_IMAGE, &v) != 0;
  failed |= VoViewSetResolution(NULL, kWidth, kHeight, 1.0) != 0;
  failed |= VoViewSetPinhole(NULL, eye, at, up, VO_PROJECTION_PERSPECTIVE, 40.0) != 0;
  failed |= VoViewSetClipping(NULL, 1.0, 50.0) != 0;

  box = SceneBox(-2.0f, -0.4f, -0.8f, 0.8f, -0.8f, 0.6f);
  sphere = Sphere();
  blue = Matte(0.25f, 0.45f, 0.85f);
  orange = Matte(0.9f, 0.5f, 0.2f);
  background = VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
  sun = VoShaderCreate(VO_SHADER_LIGHT, "distant");
  ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
  if (box == NULL || sphere == NULL || blue == NULL || orange == NULL || background == NULL || sun == NULL ||
      ambient == NULL)
    return 1;
  failed |= VoPrimitiveSetMaterial(box, blue) != 0 || VoPrimitiveSetMaterial(sphere, orange) != 0;
  failed |= SceneArgTriple(background, "colour", VtColourType, 0.1f, 0.15f, 0.2f) != 0;
  failed |= SceneArgTriple(sun, "location", VtPoint, 3, 4, 5) != 0 ||
            SceneArgTriple(sun, "to", VtPoint, 0, 0, 0) != 0;
  failed |= SceneArgFloat(ambient, "intensity", 0.2f) != 0;
  members[0] = box;
  members[1] = sphere;
  scene = VoPrimitiveListCreate(2, members);
  lights = VoShaderReferenceAppend(VoShaderReferenceCreate(sun), VoShaderReferenceCreate(ambient));
  failed |= VoPrimitiveListSet(scene) != 0 || VoLightListSet(lights) != 0 || VoBackgroundSet(background) != 0;

  failed |= VoDriverSet(bmp) != 0;
  st = SceneRenderToFile(bmp, bmp_path, 0xc0002);
  Put(t, "standard renderer to a bmp file: status %u\n", st);
  failed |= st != 0 || Read(bmp_path, pictures);
  Put(t, "standard renderer: %d pixels covered\n", Covered(pictures));
  failed |= VoDriverSet(images) != 0 || VoDriverSetControl(images, VO_CONTROL_DRIVER_IMAGE, &v) != 0;
  st = VoOpenGLInitialise();
  Put(t, "initialise: status %u\n", st);
  failed |= st != 0;
  st = VoExecute(0x6f0001);
  Put(t, "opengl: status %u\n", st);
  failed |= st != 0 || Copy(target, pictures + kPicture);
  Put(t, "opengl: %d pixels covered\n", Covered(pictures + kPicture));

  failed |= VoDriverSet(bmp) != 0;
  st = SceneRenderToFile(bmp, bmp_path, 0x6f0001);
  Put(t, "opengl to a bmp file: status %u\n", st);
  failed |= st != 0 || Read(bmp_path, pictures + 2 * kPicture);
  failed |= VoDriverSet(images) != 0 || VoDriverSetControl(images, VO_CONTROL_DRIVER_IMAGE, &v) != 0;

  memset(&mode, 0, sizeof mode);
  mode.type = VtEnum;
  mode.value.u = 1;
  failed |= VoControlSet(VO_CONTROL_OPENGL_DISPLAY_LIST, &mode) != 0;
  st = VoExecute(0x6f0001);
  Put(t, "display lists, first frame: status %u\n", st);
  failed |= st != 0 || Copy(target, pictures + 3 * kPicture);
  st = VoExecute(0x6f0001);
  Put(t, "display lists, second frame: status %u\n", st);
  failed |= st != 0 || Copy(target, pictures + 4 * kPicture);

  st = VoOpenGLTerminate();
  Put(t, "terminate: status %u\n", st);
  failed |= st != 0;
  VoPrimitiveListSet(NULL);
  VoLightListSet(NULL);
  VoBackgroundSet(NULL);
  VoReferenceListDestroy(scene, NULL);
  VoShaderReferenceDestroy(lights, 1);
  VoShaderDestroy(background);
  VoPrimitiveDestroy(box);
  VoPrimitiveDestroy(sphere);
  VoMaterialDestroy(blue);
  VoMaterialDestroy(orange);
  failed |= VoImageDestroy(target) != 0;
  return failed;
}

int vo_end_to_end_opengl_scene(char *buffer, size_t size, unsigned char *pictures, const char *bmp_path) {
  Text t;
  int failed;
  t.at = buffer;
  t.left = size;
  buffer[0] = 0;
  failed = Sequence(&t, pictures, bmp_path);
  return failed | (VoTerminate() != 0);
}
