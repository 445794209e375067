/* The advanced renderer through the C interface alone: the scenes' driver
 * of byte rows (end_to_end.h), whose rows are kept here; a
 * 64 x 48 perspective view of two squares that cross along x = 0.05 (inside
 * pixel column 32): red (0.8, 0.2, 0.2) in the plane z = 0.5 x, green
 * (0.2, 0.8, 0.2) in the steeper plane z = 0.1 - 1.5 x and shorter, both
 * unlit (constant reflectance).
 * Left of the crossing green is nearer, right of it red. The z-buffer
 * (0x200001) and the A-buffer (0x200002) paint the interiors 0.8 x 255 +
 * 0.5 = 204.5 -> 204 and 0.2 x 255 + 0.5 = 51.5 -> 51 exactly; in pixel 32,
 * which the crossing runs through, the z-buffer shows green and the
 * A-buffer, where green's depth range over the pixel holds red's, a blend
 * of the two. A depth render (0x200003) into a line-output callback gives
 * the squared distance from the eye at the centre pixel, a little under
 * (5 - 0)^2 = 25, and 1e20 at a corner. The answer is 0 when every step
 * succeeded. */
#include <math.h>
#include <string.h>

#include <vo/vo_api.h>
#include <vo/vo_shader.h>

#include "support/end_to_end.h"

enum { kWidth = 64, kHeight = 48 };

static uint8_t g_rows[kHeight][kWidth * 3];
static float g_depth[kHeight][kWidth];

static VtStatus Row(uint32_t y, void *pixels) {
  if (y < kHeight) memcpy(g_rows[y], pixels, sizeof g_rows[y]);
  return 0;
}
static VtStatus DepthRow(uint32_t y, void *depths) {
  if (y < kHeight) memcpy(g_depth[y], depths, sizeof g_depth[y]);
  return 0;
}
/* An unlit material of a plain colour. */
static VtMaterial *Unlit(float r, float g, float b) {
  VtMaterial *m = VoMaterialCreate();
  if (m == NULL || VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, "plain") != 0 ||
      SceneArgTriple(VoMaterialGetShader(m, VO_SHADER_COLOUR), "colour", VtColourType, r, g, b) != 0 ||
      VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, "constant") != 0) {
    if (m != NULL) VoMaterialDestroy(m);
    return NULL;
  }
  return m;
}

/* A square x in [-1, 1], y in [-h, h] in the plane z = slope x + d,
 * turning anticlockwise seen from the eye. */
static VtPrimitive *Square(float slope, float d, float h, VtMaterial *m) {
  const float corners[4][3] = {
      {-1, -h, d - slope}, {1, -h, d + slope}, {1, h, d + slope}, {-1, h, d - slope}};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1];
  VtPrimitive *p;
  data[0] = SceneRecord(corners);
  p = VoPrimitiveCreatePolygon(4, 1, ids, data);
  if (p != NULL && VoPrimitiveSetMaterial(p, m) != 0) {
    VoPrimitiveDestroy(p);
    return NULL;
  }
  return p;
}

static void PutPixel(Text *t, const char *what, int x, int y) {
  const uint8_t *p = &g_rows[y][x * 3];
  Put(t, " %s %d %d %d", what, p[0], p[1], p[2]);
}

/* The first column of the centre row whose red is not above its green. */
static int CrossingColumn(void) {
  int x;
  for (x = kWidth / 4; x < 3 * kWidth / 4; ++x)
    if (g_rows[kHeight / 2][x * 3] > g_rows[kHeight / 2][x * 3 + 1]) return x;
  return -1;
}

int vo_end_to_end_advanced(char *buffer, size_t size) {
  const float eye[3] = {0, 0, 5}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  const uint32_t codes[2] = {0x200001, 0x200002};
  Text text = {buffer, size}, *t = &text;
  VtDriverRecord *driver;
  VtMaterial *red, *green;
  VtPrimitive *squares[2];
  VtReference *scene;
  VtStatus status;
  int failed, i, x;
  if (size == 0) return 1;
  buffer[0] = '\0';
  failed = VoInitialise() != 0;
  failed |= VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)SceneQuiet) != 0;
  driver = SceneRowDriverCreate(&Row, NULL);
  failed |= driver == NULL || VoDriverSet(driver) != 0;
  red = Unlit(0.8f, 0.2f, 0.2f);
  green = Unlit(0.2f, 0.8f, 0.2f);
  if (failed || red == NULL || green == NULL) return 3;
  squares[0] = Square(0.5f, 0.0f, 1.0f, red);
  squares[1] = Square(-1.5f, 0.1f, 0.6f, green);
  if (squares[0] == NULL || squares[1] == NULL) return 3;
  scene = VoPrimitiveListCreate(2, squares);
  failed |= VoPrimitiveListSet(scene) != 0;
  failed |= VoViewSetResolution(NULL, kWidth, kHeight, 1.0) != 0;
  failed |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40.0) != 0;
  for (i = 0; i < 2; ++i) {
    memset(g_rows, 0x55, sizeof g_rows);
    status = VoExecute(codes[i]);
    failed |= status != 0;
    x = CrossingColumn();
    Put(t, "0x%x status %u", codes[i], status);
    PutPixel(t, "green side", kWidth / 2 - 8, kHeight / 2);
    PutPixel(t, "red side", kWidth / 2 + 8, kHeight / 2);
    PutPixel(t, "red only", kWidth / 2 + 8, kHeight / 2 - 10);
    PutPixel(t, "corner", 0, 0);
    Put(t, " crossing at %d", x);
    if (x > 0) PutPixel(t, "", x - 1, kHeight / 2), PutPixel(t, "", x, kHeight / 2);
    Put(t, "\n");
  }
  failed |= VoCallBackSet(0xc0001, (VtProc)&DepthRow) != 0;
  status = VoExecute(0x200003);
  failed |= status != 0;
  Put(t, "0x200003 status %u centre %.2f corner %g\n", status, g_depth[kHeight / 2][kWidth / 2],
      g_depth[0][0]);
  failed |= VoCallBackSet(0xc0001, NULL) != 0;
  VoPrimitiveListSet(NULL);
  VoReferenceListDestroy(scene, NULL);
  failed |= VoPrimitiveDestroy(squares[0]) != 0 || VoPrimitiveDestroy(squares[1]) != 0;
  failed |= VoMaterialDestroy(red) != 0 || VoMaterialDestroy(green) != 0;
  failed |= VoDriverSet(VoDriverFindFromName("vodrvnul")) != 0;
  failed |= VoDriverDestroy(driver) != 0;
  failed |= VoTerminate() != 0;
  return failed ? 3 : 0;
}
