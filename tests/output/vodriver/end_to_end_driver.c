/* An output driver written in C, reached through the C interface alone:
 * the library starts, the driver is made current, and a frame with one
 * float row, a view polyline and an image copied at offsets reach it. What
 * the driver receives is written as text into the caller's buffer; the
 * answer is 0 when every step answered as expected. */
#include <string.h>

#include <vo/vo_api.h>
#include <vo/vo_driver.h>

#include "support/end_to_end.h"

static Text g_text; /* what the driver receives */
static int32_t g_width;

static VtStatus Frame(int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
  g_width = x1 - x0 + 1;
  Put(&g_text, "frame %d..%d, %d..%d\n", x0, x1, y0, y1);
  return 0;
}

static VtStatus EndFrame(void) {
  Put(&g_text, "end frame\n");
  return 0;
}

static VtStatus Row(uint32_t y, void *pixels) {
  const uint8_t *p = (const uint8_t *)pixels;
  int32_t i;
  Put(&g_text, "row %u:", y);
  for (i = 0; i < g_width * 3; ++i) Put(&g_text, " %u", p[i]);
  Put(&g_text, "\n");
  return 0;
}

static VtStatus Line(const VtRasterPoint *a, const VtRasterPoint *b) {
  Put(&g_text, "line (%d, %d) - (%d, %d)\n", a->x, a->y, b->x, b->y);
  return 0;
}

static VtStatus StrokeEnd(void) {
  Put(&g_text, "strokes end\n");
  return 0;
}

static VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
  if (set != 0) return 0;
  switch (code) {
    case VO_DRIVER_BEGIN_FRAME: *slot = (VtProc)&Frame; break;
    case VO_DRIVER_END_FRAME: *slot = (VtProc)&EndFrame; break;
    case VO_DRIVER_ROW_BYTES: *slot = (VtProc)&Row; break;
    case VO_DRIVER_LINE_RASTER: *slot = (VtProc)&Line; break;
    case VO_DRIVER_STROKE_END: *slot = (VtProc)&StrokeEnd; break;
    default: *slot = NULL; break;
  }
  return 0;
}

static VtStatus Query(uint32_t query, VtTypedValue *answer) {
  memset(answer, 0, sizeof *answer);
  if (query == VO_QUERY_REGISTRY_NAME) {
    answer->type = VtString;
    answer->value.s = "c-driver";
  } else if (query == VO_QUERY_CALLBACK) {
    answer->type = VtFunc;
    answer->value.fn = (VtProc)&Lookup;
  }
  return 0;
}

int vo_end_to_end_driver(char *buffer, size_t size) {
  static const float row[9] = {0.5f, 1.0f, -0.2f, 0.999f, 0.25f, 0.0f, 1.0f, 0.1f, 0.002f};
  static const float points[3][4] = {
      {0.5f, 0.5f, 0.5f, 1.0f}, {0.25f, 0.75f, 0.5f, 1.0f}, {0.75f, 0.25f, 1.0f, 2.0f}};
  VtTypedValue mode;
  VtDriverRecord *driver;
  VtDriverRowProc float_row;
  VtImage *image;
  int failed = 0, i;
  g_text.at = buffer;
  g_text.left = size;

  failed |= VoInitialise() != 0;
  failed |= VoControlGet(VO_CONTROL_DRIVER_MODE, &mode) != 0 || mode.type != VtFlags || mode.value.u != 1;
  driver = VoDriverCreate(&Query);
  failed |= driver == NULL || VoDriverGet() == driver; /* MODE 1: not current by itself */
  failed |= VoDriverSet(driver) != 0 || VoDriverGet() != driver;

  /* A renderer's frame: the float row through the driver callback. */
  float_row = (VtDriverRowProc)VoCallBackGet(VO_DRIVER_ROW_FLOAT);
  failed |= VoDriverBeginFrame(NULL, 0, 2, 0, 0) != 0;
  failed |= float_row == NULL || float_row(0, (void *)row) != 0;
  failed |= VoDriverEndFrame(NULL) != 0;

  /* A view polyline: projection points become raster lines. */
  failed |= VoViewPolylineBegin() != 0;
  for (i = 0; i < 3; ++i) failed |= VoViewPolylineAddProjected(points[i]) != 0;
  failed |= VoViewPolylineEnd() != 0;

  /* An image of 2 x 3 pixels copied one pixel right and one row up. */
  image = VoImageCreate();
  failed |= image == NULL;
  if (image != NULL) {
    image->width = 2;
    image->height = 3;
    failed |= VoImageAllocateData(image) != 0;
    for (i = 0; i < 18; ++i) image->data[i] = (uint8_t)(10 * i);
    image->xoffset = 1;
    image->yoffset = -1;
    failed |= VoDriverCopyImage(NULL, image) != 0;
    failed |= VoImageDestroy(image) != 0;
  }
  failed |= VoTerminate() != 0;
  return failed;
}
