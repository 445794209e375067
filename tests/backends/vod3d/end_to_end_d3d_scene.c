/* A lit scene drawn through the Direct3D back end with the C interface
 * alone: a 320 x 240 desktop, a 160 x 120 window at (8, 8); a sphere of
 * triangles with smooth normals, a box and a floor of quadrilaterals with
 * one normal per face, all matte, one distant light, no ambient light, a
 * "plain" background (0.2, 0.4, 0.6), colour lift 0. The window is read
 * back, written as a BMP file and read again; the same frame is copied into
 * a bitmap; the scene is rendered by the standard renderer's vertex-colour
 * class (0xc0002) into an image. The caller gets the three images. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>
#include <vo/vo_d3d.h>

#include "support/scene_args.h"

enum { kWidth = 160, kHeight = 120, kSlices = 24, kRings = 12 };

static VtTypedValue Typed(uint32_t type) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = type;
  return v;
}

/* Quadrilaterals of four corners each, every corner carrying its face's
 * normal. */
static VtPrimitive *Quads(int faces, const float (*corners)[3], const float (*normals)[3]) {
  static int32_t counts[6], indices[24];
  static float world[24][3], normal[24][3];
  const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_NORMAL};
  VtTypedValue data[2];
  int f, k;
  for (f = 0; f < faces; ++f) {
    counts[f] = 4;
    for (k = 0; k < 4; ++k) {
      indices[4 * f + k] = 4 * f + k;
      memcpy(world[4 * f + k], corners[4 * f + k], sizeof world[0]);
      memcpy(normal[4 * f + k], normals[f], sizeof normal[0]);
    }
  }
  data[0] = SceneRecord(world);
  data[1] = SceneRecord(normal);
  return VoPrimitiveCreateMesh((uint32_t)faces, NULL, counts, indices, 2, ids, data);
}

static VtPrimitive *Box(float x0, float x1, float y0, float y1, float z0, float z1) {
  const float c[24][3] = {
      {x0, y0, z1}, {x1, y0, z1}, {x1, y1, z1}, {x0, y1, z1}, /* +z */
      {x1, y0, z0}, {x0, y0, z0}, {x0, y1, z0}, {x1, y1, z0}, /* -z */
      {x1, y0, z1}, {x1, y0, z0}, {x1, y1, z0}, {x1, y1, z1}, /* +x */
      {x0, y0, z0}, {x0, y0, z1}, {x0, y1, z1}, {x0, y1, z0}, /* -x */
      {x0, y1, z1}, {x1, y1, z1}, {x1, y1, z0}, {x0, y1, z0}, /* +y */
      {x0, y0, z0}, {x1, y0, z0}, {x1, y0, z1}, {x0, y0, z1}, /* -y */
  };
  const float n[6][3] = {{0, 0, 1}, {0, 0, -1}, {1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}};
  return Quads(6, c, n);
}

static VtPrimitive *Floor(float s) {
  const float c[4][3] = {{-s, 0, s}, {s, 0, s}, {s, 0, -s}, {-s, 0, -s}};
  const float n[1][3] = {{0, 1, 0}};
  return Quads(1, c, n);
}

static VtMaterial *Matte(float r, float g, float b) {
  VtMaterial *m = VoMaterialCreate();
  VtTypedValue colour = Typed(VtColourType);
  colour.value.v[0] = r, colour.value.v[1] = g, colour.value.v[2] = b;
  if (m == NULL || VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, "plain") != 0 ||
      VoShaderSetArg(VoMaterialGetShader(m, VO_SHADER_COLOUR), "colour", &colour) != 0 ||
      VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, "matte") != 0) {
    if (m != NULL) VoMaterialDestroy(m);
    return NULL;
  }
  return m;
}

static VtStatus SetPointer(VtDriverRecord *driver, uint32_t code, void *p) {
  VtTypedValue v = Typed(VtGenericPtr);
  v.value.p = p;
  return driver != NULL ? VoDriverSetControl(driver, code, &v) : VoControlSet(code, &v);
}

/* The three images (window through a BMP file, the copy, the standard
 * renderer's), each to be destroyed by the caller; 0 when every step
 * succeeded. */
int vo_end_to_end_d3d_scene(const char *bmp_path, VtImage **window_image, VtImage **copy_image,
                            VtImage **standard_image) {
  const float eye[3] = {0, 2.5f, 6}, reference[3] = {0, 0.6f, 0}, up[3] = {0, 1, 0};
  VtPrimitive *prims[3];
  VtMaterial *materials[3];
  VtShader *light, *background;
  VtReference *scene, *lights;
  VtWindow *window;
  VtBitmap *bitmap;
  VtImage *shown, *image;
  VtDriverRecord *image_driver;
  VtTypedValue v;
  int failed = VoInitialise() != 0, i;
  *window_image = *copy_image = *standard_image = NULL;
  if (failed) return failed;
  failed |= VoDesktopSetMode(320, 240, 32) != 0;
  window = VoDesktopWindowCreate(8, 8, kWidth, kHeight);
  prims[0] = SceneSphere(kSlices, kRings, -0.8f, 0.9f, 0, 0.9f);
  prims[1] = Box(0.4f, 1.8f, 0, 1.2f, -1.0f, 0.4f);
  prims[2] = Floor(3);
  materials[0] = Matte(0.85f, 0.25f, 0.2f);
  materials[1] = Matte(0.25f, 0.45f, 0.85f);
  materials[2] = Matte(0.75f, 0.75f, 0.7f);
  for (i = 0; i < 3; ++i)
    failed |= prims[i] == NULL || materials[i] == NULL || VoPrimitiveSetMaterial(prims[i], materials[i]) != 0;
  light = VoShaderCreate(VO_SHADER_LIGHT, "distant");
  background = VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
  failed |= window == NULL || light == NULL || background == NULL;
  if (failed) return failed;
  v = Typed(VtPoint);
  v.value.v[0] = 3, v.value.v[1] = 5, v.value.v[2] = 4;
  failed |= VoShaderSetArg(light, "location", &v) != 0;
  v.value.v[0] = 0, v.value.v[1] = 0, v.value.v[2] = 0;
  failed |= VoShaderSetArg(light, "to", &v) != 0;
  v = Typed(VtFloat);
  v.value.f = 1.0f;
  failed |= VoShaderSetArg(light, "intensity", &v) != 0;
  v = Typed(VtColourType);
  v.value.v[0] = 0.2f, v.value.v[1] = 0.4f, v.value.v[2] = 0.6f;
  failed |= VoShaderSetArg(background, "colour", &v) != 0;
  failed |= VoBackgroundSet(background) != 0;
  scene = VoPrimitiveListCreate(3, prims);
  lights = VoShaderReferenceCreate(light);
  failed |= VoPrimitiveListSet(scene) != 0 || VoLightListSet(lights) != 0;
  failed |= VoViewSetResolution(NULL, kWidth, kHeight, 1.0) != 0;
  failed |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 45.0) != 0;
  failed |= VoViewSetClipping(NULL, 0.5, 50.0) != 0;

  /* Through Direct3D. */
  v = Typed(VtFloat);
  v.value.f = 0.0f;
  failed |= VoControlSet(VO_CONTROL_D3D_COLOUR_LIFT, &v) != 0;
  failed |= SetPointer(NULL, VO_CONTROL_D3D_WINDOW, window) != 0;
  failed |= VoD3DLightListCreate(lights) != 0;
  failed |= VoD3DPrimListCreate(scene) != 0;
  failed |= VoExecute(VO_EXECUTE_D3D_WINDOW_CREATE) != 0;
  failed |= VoD3DViewSet(NULL) != 0;
  failed |= VoExecute(VO_EXECUTE_D3D_RENDER) != 0;
  shown = VoDesktopGetImage(8, 8, kWidth, kHeight);
  failed |= shown == NULL || VoD3DBMPFromImage(bmp_path, shown) != 0;
  if (shown != NULL) VoImageDestroy(shown);
  *window_image = VoImageReadFromFile(NULL, bmp_path);
  failed |= *window_image == NULL;
  bitmap = VoD3DHBITMAPFromImage(*window_image);
  failed |= bitmap == NULL || VoD3DCopyRenderToBitmap(bitmap, 0, 0, 0, 0) != 0;
  if (bitmap != NULL) {
    *copy_image = VoDesktopBitmapGetImage(bitmap);
    VoD3DDestroyHBitmap(bitmap);
  }
  failed |= *copy_image == NULL;
  failed |= VoExecute(VO_EXECUTE_D3D_WINDOW_DESTROY) != 0;
  failed |= VoD3DPrimListDestroy() != 0 || VoD3DLightListDestroy() != 0;

  /* Through the standard renderer's vertex-colour class into an image. */
  image = VoImageCreate();
  image_driver = VoDriverFindFromName("vodrvimg");
  failed |= image == NULL || image_driver == NULL;
  if (image != NULL && image_driver != NULL) {
    image->width = kWidth;
    image->height = kHeight;
    failed |= VoImageAllocateData(image) != 0;
    failed |= VoDriverSet(image_driver) != 0 || SetPointer(image_driver, VO_CONTROL_DRIVER_IMAGE, image) != 0;
    failed |= VoExecute(0xc0002) != 0;
    failed |= VoDriverSet(VoDriverFindFromName("vodrvnul")) != 0;
    *standard_image = image;
  }

  VoBackgroundSet(NULL);
  VoLightListSet(NULL);
  VoPrimitiveListSet(NULL);
  VoReferenceListDestroy(scene, NULL);
  VoShaderReferenceDestroy(lights, 1);
  VoShaderDestroy(background);
  for (i = 0; i < 3; ++i) {
    failed |= VoPrimitiveDestroy(prims[i]) != 0;
    failed |= VoMaterialDestroy(materials[i]) != 0;
  }
  failed |= VoDesktopWindowDestroy(window) != 0;
  return failed;
}
