/* The standard renderer through the C interface alone: a driver made from a
 * query function written here, which keeps the byte rows it is sent; a
 * 64 x 48 perspective view of one square facing the eye, shaded by a colour
 * class registered here that answers (0.2, 0.4, 0.6) and no reflectance.
 * Each of execute codes 0xc0001 (flat), 0xc0002 (vertex colour) and 0xc0003
 * (per pixel: the material's average colour, no point shader) paints the
 * interior 0.2 x 255 + 0.5 = 51.5 -> 51, 102.5 -> 102, 153.5 -> 153 and
 * leaves the corners black; with oversampling N = 2 every 2 x 2 block of the
 * interior is the same colour, so the interior is unchanged. The whole
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
static VtStatus FrameEnd(void) { return 0; }
static VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
  if (set) return 0x20000012;
  *slot = code == VO_DRIVER_ROW_BYTES     ? (VtProc)&Row
          : code == VO_DRIVER_BEGIN_FRAME ? (VtProc)&Frame
          : code == VO_DRIVER_END_FRAME   ? (VtProc)&FrameEnd
                                          : NULL;
  return 0;
}
static VtStatus DriverQuery(uint32_t query, VtTypedValue *answer) {
  memset(answer, 0, sizeof *answer);
  if (query == VO_QUERY_REGISTRY_NAME) {
    answer->type = VtString;
    answer->value.s = "rows";
  } else if (query == VO_QUERY_CALLBACK) {
    answer->type = VtFunc;
    answer->value.fn = (VtProc)&Lookup;
  }
  return 0;
}

/* The colour class: instance data is its prepared word alone. */
static void *ColourCreate(void) {
  uint32_t *data = (uint32_t *)VoAllocate(sizeof(uint32_t));
  if (data != NULL) *data = 0;
  return data;
}
static VtStatus ColourDestroy(void *data) {
  VoDeallocate(data);
  return 0;
}
static VtStatus ColourEvaluate(void *data) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  (void)data;
  g->Co[0] = 0.2f;
  g->Co[1] = 0.4f;
  g->Co[2] = 0.6f;
  return 0;
}
static int ColourRegister(void) {
  const char *strings[1] = {"e2e colour"};
  VtTypedValue v;
  int failed = VoStringTableCreate("vxs_e2e_colour", 1, strings) != 0;
  failed |= VoShaderPrototypeCreate(VO_SHADER_COLOUR, "vxs_e2e_colour", 0, 0, NULL) != 0;
  memset(&v, 0, sizeof v);
  v.type = VtFunc;
  v.value.fn = (VtProc)&ColourCreate;
  failed |= VoShaderSetEntry(VO_SLOT_CREATE, &v) != 0;
  v.value.fn = (VtProc)&ColourDestroy;
  failed |= VoShaderSetEntry(VO_SLOT_DESTROY, &v) != 0;
  v.value.fn = (VtProc)&ColourEvaluate;
  failed |= VoShaderSetEntry(VO_SLOT_EVALUATE, &v) != 0;
  return failed;
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
  VtMaterial *material;
  VtReference *scene;
  VtTypedValue v;
  int failed = VoInitialise() != 0, i, n;

  failed |= ColourRegister();
  driver = VoDriverCreate(&DriverQuery);
  failed |= driver == NULL || VoDriverSet(driver) != 0;
  square = Square();
  material = VoMaterialCreate();
  failed |= square == NULL || material == NULL;
  if (failed) return failed;
  failed |= VoMaterialSetShaderByPrototype(material, VO_SHADER_COLOUR, "e2e colour") != 0;
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
  VoPrimitiveListSet(NULL);
  VoReferenceListDestroy(scene, NULL);
  failed |= VoPrimitiveDestroy(square) != 0;
  failed |= VoMaterialDestroy(material) != 0;
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
