/* The post-process stage through the C interface alone.
 *
 * vo_end_to_end_postprocess: a 3 x 3 box class of type 0x440001 registered
 * here (kernel mode, separate output), a 64 x 48 buffer holding a ramp with
 * a bright square made the target, and execute code 0x440004 with no render
 * code and the list code as post code, shown into the image driver. The
 * text lists chosen pixels of the image.
 *
 * vo_end_to_end_antialias: a background class registered here paints a
 * checkerboard of the ray direction, execute code 0x440006 ray traces it
 * into a 64 x 48 buffer with an 8-bit plane of its own and antialiases the
 * squares' edges, and the buffer is shown into the image driver. The text
 * gives the counts of flagged and processed pixels and chosen pixels.
 *
 * Each answers 0 when every step succeeded. */
#include <math.h>
#include <string.h>

#include <vo/vo_api.h>
#include <vo/vo_postprocess.h>
#include <vo/vo_raytrace.h>
#include <vo/vo_shaderlib.h>

#include "support/end_to_end.h"

enum { kWidth = 64, kHeight = 48 };

typedef struct BoxData {
  VtPostprocessHead head;
} BoxData;

static VtStatus BoxPrepare(void *data) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  (void)data;
  g->Fwidth = 3.0f;
  g->Fheight = 3.0f;
  return VoPostprocessStatusSet(0);
}
static VtStatus BoxWeight(void *data) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  (void)data;
  g->Co[0] = g->Co[1] = g->Co[2] = 1.0f;
  return 0;
}
static void *BoxCreate(void) {
  BoxData *d = (BoxData *)VoAllocate(sizeof(BoxData));
  if (d != NULL) {
    d->head.prepared = 0;
    d->head.mode = VO_PP_MODE_KERNEL_SEPARATE;
  }
  return d;
}
static VtStatus BoxNoArgument(void *data, uint32_t index, VtTypedValue *value) {
  (void)data, (void)index, (void)value;
  return 0;
}

static VtStatus Entry(uint32_t slot, VtProc procedure) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = VtFunc;
  v.value.fn = procedure;
  return VoShaderSetEntry(slot, &v);
}

static VtStatus BoxRegister(void) {
  const char *strings[] = {"c box"};
  const char *globals[] = {"Co", "xf", "yf", "Fwidth", "Fheight"};
  VtStatus st = VoStringTableCreate("vxs_c_box", 1, strings);
  int i;
  st |= VoShaderPrototypeCreate(VO_SHADER_POSTPROCESS, "vxs_c_box", 0, 0, NULL);
  for (i = 0; i < 5; ++i) st |= VoShaderUseGlobal(globals[i]);
  st |= Entry(2, (VtProc)&BoxWeight);
  st |= Entry(3, (VtProc)&BoxWeight);
  st |= Entry(4, (VtProc)&BoxPrepare);
  st |= Entry(9, (VtProc)&BoxNoArgument);
  st |= Entry(10, (VtProc)&BoxNoArgument);
  st |= Entry(7, (VtProc)&BoxCreate);
  st |= Entry(8, (VtProc)&VoShaderInstanceFree);
  return st;
}

int vo_end_to_end_postprocess(char *buffer, size_t size) {
  Text t = {buffer, size};
  VtScreenBuffer *b;
  VtImage *image;
  VtShader *box;
  VtReference *list;
  VtTypedValue v;
  float row[kWidth * 3];
  int x, y, failed = 0;
  const int px[] = {0, 15, 16, 20, 63}, py[] = {0, 15, 16, 24, 47};

  if (size == 0) return 1;
  buffer[0] = '\0';
  failed |= VoInitialise() != 0;
  failed |= BoxRegister() != 0;
  image = VoImageCreate();
  if (image == NULL) {
    VoTerminate();
    return 2;
  }
  image->width = kWidth;
  image->height = kHeight;
  failed |= VoImageAllocateData(image) != 0;
  failed |= VoViewSetResolution(NULL, kWidth, kHeight, 1.0) != 0;
  failed |= VoDriverSet(VoDriverFindFromName("vodrvimg")) != 0;
  v = SceneRecord(image);
  failed |= VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v) != 0;

  b = VoScreenBufferCreate();
  v = SceneRecord(NULL);
  v.type = VtNat32;
  v.value.u = kWidth;
  failed |= VoScreenBufferSetControl(b, VO_SB_WIDTH, &v) != 0;
  v.value.u = kHeight;
  failed |= VoScreenBufferSetControl(b, VO_SB_HEIGHT, &v) != 0;
  failed |= VoScreenBufferAllocateData(b, VO_SB_COLOUR) != 0;
  for (y = 0; y < kHeight; ++y) {
    for (x = 0; x < kWidth; ++x) {
      const int inside = x >= 16 && x < 24 && y >= 16 && y < 24;
      row[3 * x] = inside ? 1.0f : x / 63.0f * 0.5f;
      row[3 * x + 1] = inside ? 1.0f : y / 47.0f * 0.5f;
      row[3 * x + 2] = 0.25f;
    }
    failed |= VoScreenBufferSetScanRGBFloat(b, (uint32_t)y, row) != 0;
  }
  failed |= VoScreenBufferSet(b) != 0;

  box = VoShaderCreate(VO_SHADER_POSTPROCESS, "c box");
  failed |= box == NULL;
  list = VoShaderReferenceCreate(box);
  failed |= VoPostprocessListSet(list) != 0;
  v.type = VtEnum;
  v.value.u = VO_EXECUTE_PP_NONE;
  failed |= VoControlSet(VO_CONTROL_PP_RENDER_CODE, &v) != 0;
  v.value.u = VO_EXECUTE_PP_RUN;
  failed |= VoControlSet(VO_CONTROL_PP_POST_CODE, &v) != 0;
  failed |= VoExecute(VO_EXECUTE_PP_RENDER_AND_POST) != 0;

  for (y = 0; y < 5; ++y)
    for (x = 0; x < 5; ++x) {
      const uint8_t *p = image->data + py[y] * image->bytes_per_row + 3 * px[x];
      Put(&t, "pixel %2d %2d: %3u %3u %3u\n", px[x], py[y], p[0], p[1], p[2]);
    }

  failed |= VoPostprocessListSet(NULL) != 0;
  failed |= VoShaderReferenceDestroy(list, 1) != 0;
  failed |= VoScreenBufferSet(NULL) != 0;
  failed |= VoScreenBufferDestroy(b) != 0;
  failed |= VoImageDestroy(image) != 0;
  failed |= VoTerminate() != 0;
  return failed ? 3 : 0;
}

static VtStatus Checker(void *data) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  const double z = -g->unitI[2] > 1e-9 ? -g->unitI[2] : 1e-9;
  const long i = (long)floor((g->unitI[0] / z + 0.0317) / 0.2),
             j = (long)floor((g->unitI[1] / z + 0.0213) / 0.2);
  const float light = ((i + j) & 1) != 0 ? 1.0f : 0.0f;
  (void)data;
  g->Cb[0] = light;
  g->Cb[1] = light * 0.5f;
  g->Cb[2] = 1.0f - light;
  return 0;
}
static void *CheckerCreate(void) { return VoAllocate(16); }
static VtStatus CheckerRegister(void) {
  const char *strings[] = {"c checker"};
  VtStatus st = VoStringTableCreate("vxs_c_checker", 1, strings);
  st |= VoShaderPrototypeCreate(VO_SHADER_BACKGROUND, "vxs_c_checker", 0, 0, NULL);
  st |= Entry(2, (VtProc)&Checker);
  st |= Entry(3, (VtProc)&Checker);
  st |= Entry(9, (VtProc)&BoxNoArgument);
  st |= Entry(10, (VtProc)&BoxNoArgument);
  st |= Entry(7, (VtProc)&CheckerCreate);
  st |= Entry(8, (VtProc)&VoShaderInstanceFree);
  return st;
}

int vo_end_to_end_antialias(char *buffer, size_t size) {
  Text t = {buffer, size};
  VtScreenBuffer *b;
  VtImage *image;
  VtShader *checker;
  VtTypedValue v;
  int x, y, failed = 0, flagged = 0, processed = 0;
  const int px[] = {0, 20, 21, 38, 63}, py[] = {0, 14, 15, 26, 47};
  const float eye[3] = {0, 0, 5}, centre[3] = {0, 0, 0}, up[3] = {0, 1, 0};

  if (size == 0) return 1;
  buffer[0] = '\0';
  failed |= VoInitialise() != 0;
  failed |= CheckerRegister() != 0;
  checker = VoShaderCreate(VO_SHADER_BACKGROUND, "c checker");
  image = VoImageCreate();
  if (image == NULL || checker == NULL) {
    VoTerminate();
    return 2;
  }
  failed |= VoBackgroundSet(checker) != 0;
  image->width = kWidth;
  image->height = kHeight;
  failed |= VoImageAllocateData(image) != 0;
  failed |= VoViewSetResolution(NULL, kWidth, kHeight, 1.0) != 0;
  failed |= VoViewSetPinhole(NULL, eye, centre, up, VO_PROJECTION_PERSPECTIVE, 40.0) != 0;
  failed |= VoDriverSet(VoDriverFindFromName("vodrvimg")) != 0;
  v = SceneRecord(image);
  failed |= VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v) != 0;
  v.type = VtBoolean;
  v.value.u = 0;
  failed |= VoControlSet(VO_CONTROL_PP_QUIET, &v) != 0;

  b = VoScreenBufferCreate();
  v.type = VtNat32;
  v.value.u = kWidth;
  failed |= VoScreenBufferSetControl(b, VO_SB_WIDTH, &v) != 0;
  v.value.u = kHeight;
  failed |= VoScreenBufferSetControl(b, VO_SB_HEIGHT, &v) != 0;
  failed |= VoScreenBufferAllocateData(b, VO_SB_COLOUR | VO_SB_STENCIL) != 0;
  failed |= VoScreenBufferSet(b) != 0;
  failed |= VoExecute(VO_EXECUTE_PP_ANTIALIAS) != 0;

  for (y = 0; y < kHeight; ++y)
    for (x = 0; x < kWidth; ++x) {
      failed |= VoScreenBufferGetPixel(b, VO_SB_STENCIL, (uint32_t)x, (uint32_t)y, &v) != 0;
      flagged += (v.value.u & VO_PP_STENCIL_SEED) != 0;
      processed += (v.value.u & VO_PP_STENCIL_DONE) != 0;
    }
  Put(&t, "flagged %d processed %d of %d\n", flagged, processed, kWidth * kHeight);
  for (y = 0; y < 5; ++y)
    for (x = 0; x < 5; ++x) {
      const uint8_t *p = image->data + py[y] * image->bytes_per_row + 3 * px[x];
      Put(&t, "pixel %2d %2d: %3u %3u %3u\n", px[x], py[y], p[0], p[1], p[2]);
    }
  /* Red across row 20 and down column 30: the smoothed edges. */
  Put(&t, "row 20:");
  for (x = 0; x < kWidth; ++x) Put(&t, " %u", image->data[20 * image->bytes_per_row + 3 * x]);
  Put(&t, "\ncolumn 30:");
  for (y = 0; y < kHeight; ++y) Put(&t, " %u", image->data[y * image->bytes_per_row + 3 * 30]);
  Put(&t, "\n");

  failed |= VoScreenBufferSet(NULL) != 0;
  failed |= VoScreenBufferDestroy(b) != 0;
  failed |= VoBackgroundSet(NULL) != 0;
  failed |= VoShaderDestroy(checker) != 0;
  failed |= VoImageDestroy(image) != 0;
  failed |= VoTerminate() != 0;
  return failed ? 3 : 0;
}
