/* A scene built, viewed and picked through the C interface alone: a cube, a
 * square with a square hole and two boxes, all meshes, in a list moved by
 * one transform; a 64 x 48 view fitted to the scene; picks at the centre
 * pixel (through the hole, onto the cube) and elsewhere. The outcome is
 * written as text into the caller's buffer; the answer is 0 when every step
 * succeeded. */
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>

#include "support/end_to_end.h"

/* A value rounded for the text: four decimals, no negative zero. */
static double Shown(double v) {
  v = floor(v * 10000.0 + 0.5) / 10000.0;
  return v == 0 ? 0.0 : v;
}

static void PutPoint(Text *t, const char *name, const float *p) {
  Put(t, " %s (%.4f, %.4f, %.4f)", name, Shown(p[0]), Shown(p[1]), Shown(p[2]));
}

static void PutBounds(Text *t, const VtBounds *b) {
  Put(t, " bounds x %.4f..%.4f y %.4f..%.4f z %.4f..%.4f", Shown(b->xmin), Shown(b->xmax), Shown(b->ymin),
      Shown(b->ymax), Shown(b->zmin), Shown(b->zmax));
}

/* A 4 x 4 square in the plane x = 0 facing +x, with a 2 x 2 hole. */
static VtPrimitive *HoledSquare(void) {
  static const float corners[8][3] = {{0, -2, -2}, {0, 2, -2}, {0, 2, 2}, {0, -2, 2},
                                      {0, -1, -1}, {0, -1, 1}, {0, 1, 1}, {0, 1, -1}};
  static const int32_t contours[1] = {2};
  static const int32_t counts[2] = {4, 4};
  static const int32_t indices[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1];
  data[0] = SceneRecord(corners);
  return VoPrimitiveCreateMesh(1, contours, counts, indices, 1, ids, data);
}

static uint32_t Count(VtPrimitive *p, uint32_t code) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  if (VoPrimitiveGetProperty(p, code, &v) != 0 || v.value.p == NULL) return 0;
  return *(const uint32_t *)v.value.p;
}

static void PutPrimitive(Text *t, const char *name, VtPrimitive *p) {
  VtBounds b;
  VoPrimitiveGetWorldBounds(p, &b);
  Put(t, "%s: type %u flags 0x%x polygons %u vertices %u", name, (unsigned)(VoPrimitiveGetFlags(p) & 0xFu),
      (unsigned)(VoPrimitiveGetFlags(p) & ~0xFu), (unsigned)Count(p, VO_PRIM_NPOLYS),
      (unsigned)Count(p, VO_PRIM_NVERTS));
  PutBounds(t, &b);
  Put(t, "\n");
}

static void PutPick(Text *t, uint32_t x, uint32_t y, VtPrimitive *const *known, const char *const *names,
                    int count) {
  VtReference *hits = VoPrimitivePick(x, y);
  VtReference *node = hits;
  int n = 0, i;
  Put(t, "pick (%u, %u):", (unsigned)x, (unsigned)y);
  if (hits != NULL) {
    do {
      node = node->next;
      for (i = 0; i < count && known[i] != node->data; ++i) {
      }
      Put(t, " %s", i < count ? names[i] : "?");
      ++n;
    } while (node != hits);
  }
  Put(t, " (%d)\n", n);
  VoPrimitiveReferenceDestroy(hits, 0);
}

int vo_end_to_end_scene(char *buffer, size_t size) {
  Text t = {buffer, size};
  const char *names[5] = {"cube", "holed square", "left box", "right box", "list"};
  VtPrimitive *p[5];
  const uint32_t prefs = VO_PRIM_PREFS;
  const double offset[3] = {-5, 1, 2}, origin[3] = {0, 0, 0}, x_axis[3] = {1, 0, 0};
  VtReference *members, *scene, *pieces, *node;
  VtTransform *move;
  VtTypedValue v;
  VtBounds bounds;
  float eye[3], reference[3], up[3];
  int32_t projection;
  double angle, hither, yon;
  const char *const piece_names[8] = {"piece 0", "piece 1", "piece 2", "piece 3",
                                      "piece 4", "piece 5", "piece 6", "piece 7"};
  VtPrimitive *piece[8];
  int i, count, failed = 0;

  if (size == 0) return 1;
  buffer[0] = '\0';
  VoInitialise(); /* the driver framework is missing: its mode cannot be set */

  p[0] = SceneBox(-3, -2, -0.5f, 0.5f, -0.5f, 0.5f); /* behind the hole */
  p[1] = HoledSquare();
  p[2] = SceneBox(-1, 0, 3, 4, -1, 1);
  p[3] = SceneBox(-1, 0, -4, -3, -1, 1);
  p[4] = VoPrimitiveCreate(VoContentsCreate(1, &prefs), VO_PRIMITIVE_LIST);
  for (i = 0; i < 5; ++i) failed |= p[i] == NULL;
  if (failed) {
    VoTerminate();
    return 2;
  }
  members = VoPrimitiveListCreate(4, p);
  memset(&v, 0, sizeof v);
  v.value.p = &members;
  failed |= VoPrimitiveSetProperty(p[4], VO_PRIM_PREFS, &v) != 0;
  /* Turned by 30 degrees about the x axis, then moved: the list passes the
   * transform to each member. */
  move = VoTransformCreate();
  failed |= VoTransformRotateAxis(move, origin, x_axis, 30) != 0;
  failed |= VoTransformTranslate(move, offset) != 0;
  failed |= VoPrimitiveSetTransform(p[4], move) != 0;
  VoTransformDestroy(move);
  scene = VoPrimitiveListCreate(1, &p[4]);
  failed |= VoPrimitiveListSet(scene) != 0;

  failed |= VoViewSetResolution(NULL, 64, 48, 1.0) != 0;
  failed |= VoBoundsGet(&bounds) != 0;
  failed |= VoViewFit(NULL, &bounds) != 0;
  failed |= VoViewAutoClipping(NULL) != 0;
  failed |= VoViewEvaluate(NULL) != 0;
  VoViewGetPinhole(NULL, eye, reference, up, &projection, &angle);
  VoViewGetClipping(NULL, &hither, &yon);

  Put(&t, "scene");
  PutBounds(&t, &bounds);
  Put(&t, "\nview 64 x 48:");
  PutPoint(&t, "eye", eye);
  PutPoint(&t, "reference", reference);
  Put(&t, " angle %.4f hither %.4f yon %.4f\n", Shown(angle), Shown(hither), Shown(yon));
  for (i = 0; i < 5; ++i) PutPrimitive(&t, names[i], p[i]);

  /* Picks name the primitives of the scene list: the list itself. */
  PutPick(&t, 32, 24, p, names, 5);
  PutPick(&t, 0, 0, p, names, 5);

  /* The list's members in world space, as a renderer receives them; as the
   * scene they show which member a pick meets: through the hole the ray
   * meets the cube alone, beside it the square, down to the left the right
   * box. */
  pieces = VoPrimitiveExpandToList(p[4], NULL, VO_EXPAND_AS_LIST);
  node = pieces;
  count = 0;
  if (pieces != NULL) {
    do {
      node = node->next;
      if (node->data != NULL && count < 8) {
        piece[count] = (VtPrimitive *)node->data;
        PutPrimitive(&t, piece_names[count], piece[count]);
        ++count;
      }
    } while (node != pieces);
  }
  failed |= VoPrimitiveListSet(pieces) != 0;
  PutPick(&t, 32, 24, piece, piece_names, count);
  PutPick(&t, 32, 17, piece, piece_names, count);
  PutPick(&t, 18, 32, piece, piece_names, count);
  VoPrimitiveListSet(NULL);
  VoPrimitiveReferenceListDestroy(pieces);

  VoReferenceListDestroy(scene, NULL);
  failed |= VoPrimitiveDestroy(p[4]) != 0;
  for (i = 0; i < 4; ++i) failed |= VoPrimitiveDestroy(p[i]) != 0;
  failed |= VoTerminate() != 0;
  return failed ? 3 : 0;
}
