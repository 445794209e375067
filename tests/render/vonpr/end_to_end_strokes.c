/* Pen-and-ink strokes through the C interface alone: the unit cube seen
 * from a corner at 128 x 96, its silhouette and the three edges between
 * faces turned to the eye captured, drawn as white ribbons by action
 * 0x600004 into an image through the image driver, once plain and once
 * processed (resampled at spacing 0.05, wobbled by 0.002, tapered), each
 * written to a BMP file by the BMP driver. The answer is 0 when every step
 * succeeded, else the number of the step that failed. */
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>
#include <vo/vo_npr.h>

#include "support/end_to_end.h"

enum { kWidth = 128, kHeight = 96 };

static VtTypedValue Word(uint32_t type, uint32_t u) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = type;
  v.value.u = u;
  return v;
}
static VtTypedValue Float(float f) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = VtFloat;
  v.value.f = f;
  return v;
}

/* Renders the cube as strokes into the image and writes it. */
static int Strokes(VtImage *image, const char *path) {
  VtTypedValue v;
  int failed = 0;
  memset(image->data, 0, (size_t)image->bytes_per_row * kHeight);
  failed |= VoDriverSet(VoDriverFindFromName("vodrvimg")) != 0;
  v = SceneRecord(image);
  failed |= VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v) != 0;
  failed |= VoExecute(VO_EXECUTE_NPR_STROKES) != 0;
  return failed | SceneWriteBmp(image, path);
}

int vo_end_to_end_strokes(const char *plain, const char *processed) {
  const float eye[3] = {3.0f, 2.5f, 2.0f}, reference[3] = {0.5f, 0.5f, 0.5f}, up[3] = {0, 1, 0};
  VtPrimitive *cube;
  VtReference *scene;
  VtImage *image;
  VtTypedValue v;
  int failed = 0;

  (void)&Put; /* the scene writes pictures, not text */
  if (VoInitialise() != 0) return 1;
  VoRandomInitialise(48);
  cube = SceneBox(0, 1, 0, 1, 0, 1);
  image = VoImageCreate();
  if (cube == NULL || image == NULL) {
    VoTerminate();
    return 2;
  }
  scene = VoPrimitiveListCreate(1, &cube);
  failed |= VoPrimitiveListSet(scene) != 0;
  image->width = kWidth;
  image->height = kHeight;
  failed |= VoImageAllocateData(image) != 0;
  failed |= VoViewSetResolution(NULL, kWidth, kHeight, 1.0) != 0;
  failed |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40.0) != 0;
  /* The edges between two faces turned to the eye are drawn too. */
  v = Word(VtFlags, 0x216);
  failed |= VoControlSet(0x190001, &v) != 0;
  if (failed) return 3;
  if (Strokes(image, plain) != 0) return 4;

  v = Word(VtBoolean, 1);
  failed |= VoControlSet(VO_CONTROL_NPR_PROCESSING, &v) != 0;
  failed |= VoControlSet(VO_CONTROL_NPR_TAPER, &v) != 0;
  v = Float(0.05f);
  failed |= VoControlSet(VO_CONTROL_NPR_SPACING, &v) != 0;
  v = Float(0.002f);
  failed |= VoControlSet(VO_CONTROL_NPR_WOBBLE, &v) != 0;
  v = Float(0.0f);
  failed |= VoControlSet(VO_CONTROL_NPR_TWIST, &v) != 0;
  v = Float(0.3f);
  failed |= VoControlSet(VO_CONTROL_NPR_TAPER_END, &v) != 0;
  v = Float(0.006f);
  failed |= VoControlSet(VO_CONTROL_NPR_FAR_WIDTH, &v) != 0;
  if (failed) return 5;
  if (Strokes(image, processed) != 0) return 6;

  VoPrimitiveListSet(NULL);
  VoReferenceListDestroy(scene, NULL);
  failed |= VoPrimitiveDestroy(cube) != 0;
  failed |= VoImageDestroy(image) != 0;
  failed |= VoTerminate() != 0;
  return failed ? 7 : 0;
}
