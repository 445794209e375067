/* The standard renderer through the C interface alone: the scenes' driver
 * of byte rows (end_to_end.h), whose rows and frames are kept here; a
 * 64 x 48 perspective view of one square facing the eye, of the plain colour
 * (0.2, 0.4, 0.6) under the constant reflectance.
 * Each of execute codes 0xc0001 (flat), 0xc0002 (vertex colour) and 0xc0003
 * (per pixel: the material's average colour, no point shader) paints the
 * interior 0.2 x 255 + 0.5 = 51.5 -> 51, 102.5 -> 102, 153.5 -> 153 and
 * leaves the corners black; with oversampling N = 2 every 2 x 2 block of the
 * interior is the same colour, so the interior is unchanged. The default
 * material under the default eye light lights the interior. The whole
 * sequence runs twice, with VoTerminate between.
 * The answer is 0 when every step succeeded. */
#include <string.h>

#include <vo/vo_api.h>
#include <vo/vo_shader.h>

#include "support/end_to_end.h"

enum { kWidth = 64, kHeight = 48 };

static uint8_t g_rows[kHeight][kWidth * 3];
static int g_frames;

static VtStatus Row(uint32_t y, void *pixels) {
  if (y < kHeight) memcpy(g_rows[y], pixels, sizeof g_rows[y]);
  return 0;
}
static VtStatus Frame(int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
  g_frames += x0 == 0 && x1 == kWidth - 1 && y0 == 0 && y1 == kHeight - 1;
  return 0;
}
/* The material of the plain colour (0.2, 0.4, 0.6) under the constant
 * reflectance, which leaves the colour unlit. */
static VtMaterial *ConstantMaterial(void) {
  VtMaterial *m = VoMaterialCreate();
  VtTypedValue colour;
  memset(&colour, 0, sizeof colour);
  colour.type = VtColourType;
  colour.value.v[0] = 0.2f;
  colour.value.v[1] = 0.4f;
  colour.value.v[2] = 0.6f;
  if (m == NULL || VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, "plain") != 0 ||
      VoShaderSetArg(VoMaterialGetShader(m, VO_SHADER_COLOUR), "colour", &colour) != 0 ||
      VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, "constant") != 0) {
    if (m != NULL) VoMaterialDestroy(m);
    return NULL;
  }
  return m;
}

/* A square of side 2 at z = 0 seen from z = 5: its corners (-1, -1),
 * (1, -1), (1, 1), (-1, 1) turn anticlockwise seen from the eye. */
static VtPrimitive *Square(void) {
  const float corners[4][3] = {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1];
  data[0] = SceneRecord(corners);
  return VoPrimitiveCreatePolygon(4, 1, ids, data);
}

static void PutPixel(Text *t, const char *what, int x, int y) {
  const uint8_t *p = &g_rows[y][x * 3];
  Put(t, " %s %d %d %d", what, p[0], p[1], p[2]);
}

static int Sequence(Text *t) {
  const float eye[3] = {0, 0, 5}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  const uint32_t codes[3] = {0xc0001, 0xc0002, 0xc0003};
  VtDriverRecord *driver;
  VtPrimitive *square;
  VtMaterial *material, *defaults;
  VtReference *scene;
  VtTypedValue v;
  int failed = VoInitialise() != 0, i, n;

  driver = SceneRowDriverCreate(&Row, &Frame);
  failed |= driver == NULL || VoDriverSet(driver) != 0;
  square = Square();
  material = ConstantMaterial();
  failed |= square == NULL || material == NULL;
  if (failed) return failed;
  failed |= VoPrimitiveSetMaterial(square, material) != 0;
  scene = VoPrimitiveListCreate(1, &square);
  failed |= VoPrimitiveListSet(scene) != 0;
  failed |= VoViewSetResolution(NULL, kWidth, kHeight, 1.0) != 0;
  failed |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 40.0) != 0;
  for (n = 1; n <= 2; ++n) {
    memset(&v, 0, sizeof v);
    v.type = VtNat32;
    v.value.u = (uint32_t)n;
    failed |= VoControlSet(0xc000e, &v) != 0;
    for (i = 0; i < 3; ++i) {
      VtStatus status;
      memset(g_rows, 0x55, sizeof g_rows);
      g_frames = 0;
      status = VoExecute(codes[i]);
      failed |= status != 0 || g_frames != 1;
      Put(t, "0x%x N=%d status %u", codes[i], n, status);
      PutPixel(t, "interior", kWidth / 2, kHeight / 2);
      PutPixel(t, "corner", 0, 0);
      PutPixel(t, "corner", kWidth - 1, kHeight - 1);
      Put(t, "\n");
    }
  }
  /* A new material is the default one (plain white, matte), lit by the
   * default eye light. */
  defaults = VoMaterialCreate();
  failed |= defaults == NULL || VoPrimitiveSetMaterial(square, defaults) != 0;
  failed |= VoExecute(0xc0002) != 0;
  Put(t, "default material and eye light: interior %s\n",
      g_rows[kHeight / 2][kWidth / 2 * 3] != 0 ? "lit" : "black");
  VoPrimitiveListSet(NULL);
  VoReferenceListDestroy(scene, NULL);
  failed |= VoPrimitiveDestroy(square) != 0;
  failed |= VoMaterialDestroy(material) != 0;
  failed |= defaults == NULL || VoMaterialDestroy(defaults) != 0;
  failed |= VoDriverSet(VoDriverFindFromName("vodrvnul")) != 0;
  failed |= VoDriverDestroy(driver) != 0;
  failed |= VoTerminate() != 0;
  return failed;
}

int vo_end_to_end_standard(char *buffer, size_t size) {
  Text t = {buffer, size};
  int failed = 0, round;
  if (size == 0) return 1;
  buffer[0] = '\0';
  for (round = 1; round <= 2; ++round) {
    Put(&t, "round %d\n", round);
    failed |= Sequence(&t);
  }
  return failed ? 3 : 0;
}
