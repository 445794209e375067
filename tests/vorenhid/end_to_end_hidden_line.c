/* Hidden-line drawings through the C interface alone, into an output driver
 * made with VoDriverCreate whose drawing operation keeps each two-point
 * line; every segment is written as "x0 y0 x1 y1" in projection
 * coordinates (divided by w), sorted, with five decimals.
 *
 * The view: parallel, 100 x 100 pixels, fitted to the scene's bounding
 * sphere (radius r) about its centre c, so a world point p maps to
 *   x = 0.5 + (p - c) . s / (2 r),   y = 0.5 + (p - c) . u / (2 r),
 * s the view's side axis and u its up axis in the view plane.
 *
 * Cube [-1, 1]^3 seen from (10, 10, 10) with up z: c = 0, r = sqrt 3,
 * s = (-1, 1, 0) / sqrt 2, u = (1, 1, -2) / sqrt 6 (as the view
 * turns them from (10, 10, 10)). The outline is the
 * hexagon of the corners other than (1, 1, 1) and (-1, -1, -1), with
 * x = 0.5 + (py - px) / (2 sqrt 6), y = 0.5 - (2 pz - px - py) / (6 sqrt 2):
 *   (1, -1, -1) 0.09175 0.73570   (1, -1, 1) 0.09175 0.26430   (-1, -1, 1) 0.50000 0.02860
 *   (-1, 1, 1)  0.90825 0.26430   (-1, 1, -1) 0.90825 0.73570  (1, 1, -1) 0.50000 0.97140
 * and (1, 1, 1) at the centre (0.5, 0.5). With the default masks the six
 * sides of the hexagon are drawn; with candidate mask 0x216 also the three
 * front edges from the centre to (1, 1, -1), (1, -1, 1) and (-1, 1, 1).
 *
 * Cylinder of radius 1 from z = -1 to 1, 16 sides, turned 30 degrees about
 * x (its axis (0, -1/2, sqrt 3 / 2)), seen from (0, -10, 0) with up z:
 * the turned box has y and z extents +-(cos 30 + sin 30) = +-1.36603, so
 * c = 0, r = sqrt(1 + 2 x 1.36603^2) = 2.17533, s = (1, 0, 0), u = (0, 0, 1):
 * x = 0.5 + px / (2 r), y = 0.5 + pz / (2 r); ring point a at height h has
 * px = cos a, pz = sin a / 2 + h cos 30 (a = 0, h = -1: 0.72985, 0.30094;
 * a = 270 degrees, h = -1: 0.5, 0.18602). The top cap faces the eye, the bottom cap
 * away; the sides facing the eye are those with ring angle a where the
 * outward normal (cos a, sin a cos 30, sin a sin 30) has y < 0. Drawn: the
 * 8 top-cap edges next to back sides, the 8 bottom-cap edges next to front
 * sides, and the 2 side edges at a = 0 and a = 180 degrees (x = 0.5 +- 1 /
 * (2 r) = 0.72985, 0.27015): 18 segments.
 *
 * Two cubes sharing a face, [-1, 1]^3 (A) and [1, 3] x [-1, 1]^2 (B), from
 * (10, 10, 10) with candidate mask 0x216: c = (1, 0, 0), r = sqrt 6, so
 * x = 0.5 + (py - px + 1) / (4 sqrt 3), y = 0.5 - (2 pz - px - py + 1) / 12:
 *   (-1, -1, 1) 0.64434 0.08333  (-1, 1, 1) 0.93301 0.25000  (-1, 1, -1) 0.93301 0.58333
 *   (1, -1, 1)  0.35566 0.25000  (1, 1, 1)  0.64434 0.41667  (1, 1, -1)  0.64434 0.75000
 *   (3, -1, -1) 0.06699 0.75000  (3, -1, 1) 0.06699 0.41667  (3, 1, -1)  0.35566 0.91667
 *   (3, 1, 1)   0.35566 0.58333
 * B hides A's face x = 1 and the two A sides on it. A draws the sides
 * (1,-1,1)-(-1,-1,1)-(-1,1,1)-(-1,1,-1)-(1,1,-1) and its creases from
 * (1, 1, 1) to (1, 1, -1), (1, -1, 1), (-1, 1, 1): 7; B its outline
 * (3,-1,-1)-(3,-1,1)-(1,-1,1)-(1,1,1)-(1,1,-1)-(3,1,-1)-(3,-1,-1) and its
 * creases from (3, 1, 1) to (3, 1, -1), (3, -1, 1), (1, 1, 1): 9. A's
 * creases (1,1,1)-(1,1,-1) and (1,1,1)-(1,-1,1) lie on B's outline: one
 * pass draws them twice (16 segments), two passes once (14).
 *
 * The answer is 0 when every step succeeded. */
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <vo/vo_api.h>
#include <vo/vo_hidden_line.h>

#include "support/end_to_end.h"

#define MAX_SEGMENTS 64

static float g_segments[MAX_SEGMENTS][4];
static int g_count;
/* Point count of each polyline, and whether it ends where it starts. */
static uint32_t g_points[MAX_SEGMENTS];
static int g_closed[MAX_SEGMENTS];
static int g_polylines;

/* Every piece of a polyline is a segment. */
static VtStatus Draw(uint32_t type, uint32_t count, VtDrawRecord *record) {
  float **points = (float **)record->projected;
  uint32_t i, k;
  if (type != 0x404 || count < 2 || g_polylines >= MAX_SEGMENTS) return 0;
  g_points[g_polylines] = count;
  g_closed[g_polylines++] = points[0][0] == points[count - 1][0] && points[0][1] == points[count - 1][1];
  for (i = 1; i < count && g_count < MAX_SEGMENTS; ++i, ++g_count)
    for (k = 0; k < 2; ++k) {
      g_segments[g_count][2 * k] = points[i - 1 + k][0] / points[i - 1 + k][3];
      g_segments[g_count][2 * k + 1] = points[i - 1 + k][1] / points[i - 1 + k][3];
    }
  return 0;
}

static VtStatus Lookup(uint32_t set, uint32_t code, VtProc *slot) {
  if (set != 0) return 0x20000012u;
  *slot = code == 0x1a0022u ? (VtProc)&Draw : NULL;
  return 0;
}

static VtStatus DriverQuery(uint32_t query, VtTypedValue *answer) {
  memset(answer, 0, sizeof *answer);
  if (query == 6) {
    answer->type = VtString;
    answer->value.s = "segments";
  } else if (query == 12) {
    answer->type = VtFunc;
    answer->value.fn = (VtProc)&Lookup;
  }
  return 0;
}

static int Compare(const void *a, const void *b) {
  const float *p = (const float *)a, *q = (const float *)b;
  int i;
  for (i = 0; i < 4; ++i)
    if (p[i] != q[i]) return p[i] < q[i] ? -1 : 1;
  return 0;
}

/* Renders and writes the segments, each with its lower end first. */
static int DrawingBy(Text *t, const char *title, uint32_t execute) {
  int i;
  g_count = g_polylines = 0;
  if (VoExecute(execute) != 0) return 1;
  for (i = 0; i < g_count; ++i) {
    float *s = g_segments[i];
    if (s[0] > s[2] || (s[0] == s[2] && s[1] > s[3])) {
      float x = s[0], y = s[1];
      s[0] = s[2], s[1] = s[3], s[2] = x, s[3] = y;
    }
  }
  qsort(g_segments, (size_t)g_count, sizeof g_segments[0], &Compare);
  Put(t, "%s: %d segments\n", title, g_count);
  for (i = 0; i < g_count; ++i)
    Put(t, "%.5f %.5f %.5f %.5f\n", g_segments[i][0], g_segments[i][1], g_segments[i][2], g_segments[i][3]);
  if (execute != VO_EXECUTE_HIDDEN_LINE_TWO_PASS) return 0;
  Put(t, "as %d polylines:", g_polylines);
  for (i = 0; i < g_polylines; ++i) Put(t, " %u%s", g_points[i], g_closed[i] ? " closed" : "");
  Put(t, "\n");
  return 0;
}

static int Drawing(Text *t, const char *title) { return DrawingBy(t, title, VO_EXECUTE_HIDDEN_LINE); }

static VtPrimitive *Cylinder(void) {
  enum { kSides = 16 };
  static float xyz[2 * kSides][3];
  static int32_t counts[kSides + 2], faces[4 * kSides + 2 * kSides];
  const uint32_t ids[1] = {VO_VERT_WORLD};
  const double c30 = sqrt(3.0) / 2, s30 = 0.5;
  VtTypedValue data[1];
  int i, n = 0;
  for (i = 0; i < 2 * kSides; ++i) {
    const double a = 2 * M_PI * (i % kSides) / kSides, z = i < kSides ? -1 : 1;
    const double x = cos(a), y = sin(a);
    xyz[i][0] = (float)x;
    xyz[i][1] = (float)(y * c30 - z * s30);
    xyz[i][2] = (float)(y * s30 + z * c30);
  }
  for (i = 0; i < kSides; ++i) {
    counts[i] = 4;
    faces[n++] = i;
    faces[n++] = (i + 1) % kSides;
    faces[n++] = kSides + (i + 1) % kSides;
    faces[n++] = kSides + i;
  }
  counts[kSides] = counts[kSides + 1] = kSides;
  for (i = 0; i < kSides; ++i) faces[n++] = kSides + i;
  for (i = kSides - 1; i >= 0; --i) faces[n++] = i;
  data[0] = SceneRecord(xyz);
  return VoPrimitiveCreateMesh(kSides + 2, NULL, counts, faces, 1, ids, data);
}

static int ShowAll(uint32_t count, VtPrimitive **p, const float eye[3]) {
  const float reference[3] = {0, 0, 0}, up[3] = {0, 0, 1};
  VtReference *scene = VoPrimitiveListCreate(count, p);
  VtBounds bounds;
  int failed;
  VoReferenceListDestroy(VoPrimitiveListGet(), NULL);
  failed = VoPrimitiveListSet(scene) != 0;
  failed |= VoViewSetResolution(NULL, 100, 100, 1.0) != 0;
  failed |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PARALLEL, 30.0) != 0;
  failed |= VoBoundsGet(&bounds) != 0;
  failed |= VoViewFit(NULL, &bounds) != 0;
  failed |= VoViewAutoClipping(NULL) != 0;
  return failed;
}

static int Show(VtPrimitive *p, const float eye[3]) { return ShowAll(1, &p, eye); }

int vo_end_to_end_hidden_line(char *buffer, size_t size) {
  Text t = {buffer, size};
  const float corner[3] = {10, 10, 10}, front[3] = {0, -10, 0};
  VtDriverRecord *driver;
  VtPrimitive *cube, *cylinder, *pair[2];
  VtTypedValue v;
  int failed = 0;

  if (size == 0) return 1;
  buffer[0] = '\0';
  VoInitialise();
  driver = VoDriverCreate(&DriverQuery);
  cube = SceneBox(-1, 1, -1, 1, -1, 1);
  cylinder = Cylinder();
  pair[0] = cube;
  pair[1] = SceneBox(1, 3, -1, 1, -1, 1);
  if (driver == NULL || cube == NULL || cylinder == NULL || pair[1] == NULL) {
    VoTerminate();
    return 2;
  }
  failed |= VoDriverSet(driver) != 0;

  failed |= Show(cube, corner);
  failed |= Drawing(&t, "cube");
  failed |= DrawingBy(&t, "cube, two passes", VO_EXECUTE_HIDDEN_LINE_TWO_PASS);
  memset(&v, 0, sizeof v);
  v.type = VtFlags;
  v.value.u = 0x216;
  failed |= VoControlSet(VO_CONTROL_HL_CANDIDATE_MASK, &v) != 0;
  failed |= Drawing(&t, "cube with its front edges");
  failed |= ShowAll(2, pair, corner);
  failed |= DrawingBy(&t, "two cubes, one pass", VO_EXECUTE_HIDDEN_LINE);
  failed |= DrawingBy(&t, "two cubes, two passes", VO_EXECUTE_HIDDEN_LINE_TWO_PASS);
  v.value.u = 0x206;
  failed |= VoControlSet(VO_CONTROL_HL_CANDIDATE_MASK, &v) != 0;

  failed |= Show(cylinder, front);
  failed |= Drawing(&t, "cylinder");
  failed |= DrawingBy(&t, "cylinder, two passes", VO_EXECUTE_HIDDEN_LINE_TWO_PASS);

  VoReferenceListDestroy(VoPrimitiveListGet(), NULL);
  VoPrimitiveListSet(NULL);
  failed |= VoPrimitiveDestroy(cube) != 0;
  failed |= VoPrimitiveDestroy(cylinder) != 0;
  failed |= VoPrimitiveDestroy(pair[1]) != 0;
  failed |= VoTerminate() != 0;
  return failed ? 3 : 0;
}
