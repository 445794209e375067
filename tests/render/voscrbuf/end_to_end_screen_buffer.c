/* A screen buffer as render target through the C interface alone: a buffer
 * with colour, alpha and depth attached while a driver written here is
 * current; the wireframe renderer's frame sizes it to the 32 x 24 view;
 * rows of a renderer (red x / 31, green y / 23, blue 0.5, alpha 0.5) land
 * in the buffer and in the driver alike; the rows read back as RGBA floats;
 * a pixel is set and read; the buffer is shown to the driver again (its
 * rows must equal the first ones), detached and destroyed. The text lists
 * what the driver and the buffer hold. The answer is 0 when every step
 * succeeded. */
#include <string.h>

#include <vo/vo_api.h>

#include "support/end_to_end.h"

enum { kWidth = 32, kHeight = 24 };

static int g_frames, g_ends, g_rows;
static float g_got[kHeight][kWidth * 4];

static VtStatus Frame(int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
  (void)x0, (void)x1, (void)y0, (void)y1;
  ++g_frames;
  return 0;
}
static VtStatus End(void) {
  ++g_ends;
  return 0;
}
static VtStatus RowRGBA(uint32_t y, void *pixels) {
  if (y < kHeight) memcpy(g_got[y], pixels, sizeof g_got[y]);
  ++g_rows;
  return 0;
}
static VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
  if (set != 0) return 0x20000012u;
  *slot = code == 0x1a0003u   ? (VtProc)&Frame
          : code == 0x1a0004u ? (VtProc)&End
          : code == 0x1a0032u ? (VtProc)&RowRGBA
                              : NULL;
  return 0;
}
static VtStatus Query(uint32_t query, VtTypedValue *answer) {
  memset(answer, 0, sizeof *answer);
  if (query == 6) {
    answer->type = VtString;
    answer->value.s = "c-rows";
  } else if (query == 12) {
    answer->type = VtFunc;
    answer->value.fn = (VtProc)&Lookup;
  }
  return 0;
}

int vo_end_to_end_screen_buffer(char *buffer, size_t size) {
  Text t = {buffer, size};
  VtScreenBuffer *b;
  VtTypedValue v;
  float row[kWidth * 4], back[kWidth * 4];
  uint32_t region[4], mask = 0;
  int x, y, failed = 0, same = 1;

  if (size == 0) return 1;
  buffer[0] = '\0';
  failed |= VoInitialise() != 0;
  failed |= VoDriverSet(VoDriverCreate(&Query)) != 0;
  failed |= VoViewSetResolution(NULL, kWidth, kHeight, 1.0) != 0;
  b = VoScreenBufferCreate();
  if (b == NULL) {
    VoTerminate();
    return 2;
  }
  failed |= VoScreenBufferAllocateData(b, VO_SB_COLOUR | VO_SB_ALPHA | VO_SB_DEPTH) != 0;
  failed |= VoScreenBufferSet(b) != 0;

  /* The wireframe renderer's frame (an empty scene) sizes the target. */
  failed |= VoExecute(0xa0001) != 0;
  failed |= VoScreenBufferGetControl(b, VO_SB_WIDTH, &v) != 0;
  Put(&t, "after the wireframe frame: %u x ", v.value.u);
  failed |= VoScreenBufferGetControl(b, VO_SB_HEIGHT, &v) != 0;
  Put(&t, "%u, driver frames %d ends %d\n", v.value.u, g_frames, g_ends);

  /* A renderer's rows through the driver's callbacks. */
  failed |= VoDriverBeginFrame(NULL, 0, kWidth - 1, 0, kHeight - 1) != 0;
  for (y = 0; y < kHeight; ++y) {
    for (x = 0; x < kWidth; ++x) {
      row[4 * x] = x / 31.0f;
      row[4 * x + 1] = y / 23.0f;
      row[4 * x + 2] = 0.5f;
      row[4 * x + 3] = 0.5f;
    }
    failed |= VoDriverWriteScanRGBAFloat(NULL, (uint32_t)y, row) != 0;
  }
  failed |= VoDriverEndFrame(NULL) != 0;
  failed |= VoScreenBufferGetRegion(b, region) != 0;
  Put(&t, "region %u %u %u %u, driver rows %d\n", region[0], region[1], region[2], region[3], g_rows);
  for (y = 0; y < kHeight; y += 23) {
    failed |= VoScreenBufferGetScanRGBAFloat(b, (uint32_t)y, back) != 0;
    for (x = 0; x < kWidth; x += 31)
      Put(&t, "pixel %d %d: %.4f %.4f %.4f %.4f\n", x, y, back[4 * x], back[4 * x + 1], back[4 * x + 2],
          back[4 * x + 3]);
    same &= memcmp(back, g_got[y], sizeof back) == 0;
  }
  Put(&t, "buffer rows equal the driver's: %s\n", same ? "yes" : "no");

  v.type = VtColourType;
  v.value.v[0] = 1.0f, v.value.v[1] = 0.25f, v.value.v[2] = 0.0f;
  failed |= VoScreenBufferSetPixel(b, VO_SB_COLOUR, 3, 4, &v) != 0;
  memset(&v, 0, sizeof v);
  failed |= VoScreenBufferGetPixel(b, VO_SB_COLOUR, 3, 4, &v) != 0;
  Put(&t, "set pixel 3 4 reads %.2f %.2f %.2f (type %u)\n", v.value.v[0], v.value.v[1], v.value.v[2], v.type);
  failed |= VoScreenBufferGetPixel(b, VO_SB_DEPTH, 3, 4, &v) != 0;
  Put(&t, "its depth %g\n", v.value.f);

  /* Shown again: the driver's rows now hold the set pixel. */
  g_rows = 0;
  failed |= VoScreenBufferShow(NULL) != 0;
  Put(&t, "shown: driver frames %d rows %d, pixel 3 4 %.2f %.2f\n", g_frames, g_rows, g_got[4][12],
      g_got[4][13]);
  failed |= VoScreenBufferSet(NULL) != 0;
  failed |= VoScreenBufferGetDataMask(b, &mask) != 0;
  Put(&t, "detached: target %s, mask %u\n", VoScreenBufferGet() == NULL ? "none" : "kept", mask);
  failed |= VoScreenBufferDestroy(b) != 0;
  failed |= VoTerminate() != 0;
  return failed ? 3 : 0;
}
