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
 * The same cylinder, upright (axis z), seen along its axis in perspective
 * from (0, 0, 5) toward the origin with up y, 60 degrees, 512 x 512 pixels,
 * clipped to its bounds. The camera's side axis is x and its up axis y;
 * with t = tan 30 = 1 / sqrt 3 a point at depth d (distance from the eye
 * along the view) projects to
 *   x = 0.5 + px / (2 t d),  y = 0.5 - py / (2 t d),  w = t d,
 *   z / w = k (d - h) / d,  k = yon / (yon - h),
 * with the clip distances from the bounds' depths 4 and 6 less and more
 * 0.002: h = 3.998, yon = 6.002, k = 2.995010. Only the top cap faces the
 * eye: the 16 top rim edges are the only lines, all at d = 4, on the circle
 * about (0.5, 0.5) of radius r = sqrt 3 / 8 = 0.216506, with
 * w = 4 / sqrt 3 = 2.309401 and z = t k (d - h) = 0.003458. Flagged as
 * circle pieces, with the circle callback answering the projected top
 * centre (0, 0, 1) and the projected radius, they leave as one circle
 * (0x2004) whose block is the centre and the rim point at angle 0,
 * homogeneous: (0.5 w, 0.5 w, z, w, (0.5 + r) w, 0.5 w, z, w, r) =
 * (1.154701, 1.154701, 0.003458, 2.309401, 1.654701, 1.154701, 0.003458,
 * 2.309401, 0.216506), and no polyline.
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
/* The blocks of circles (0x2004). */
static float g_circles[4][9];
static int g_circle_count;

/* Every piece of a polyline is a segment. */
static VtStatus Draw(uint32_t type, uint32_t count, VtDrawRecord *record) {
  float **points = (float **)record->projected;
  uint32_t i, k;
  if (type == 0x2004 && count == 1 && g_circle_count < 4) {
    memcpy(g_circles[g_circle_count++], points[0], sizeof g_circles[0]);
    return 0;
  }
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

/* The cylinder, turned 30 degrees about x or upright. */
static VtPrimitive *Cylinder(int turned) {
  enum { kSides = 16 };
  static float xyz[2][2 * kSides][3];
  static int32_t counts[kSides + 2], faces[4 * kSides + 2 * kSides];
  const uint32_t ids[1] = {VO_VERT_WORLD};
  const double c30 = turned ? sqrt(3.0) / 2 : 1, s30 = turned ? 0.5 : 0;
  VtTypedValue data[1];
  int i, n = 0;
  for (i = 0; i < 2 * kSides; ++i) {
    const double a = 2 * M_PI * (i % kSides) / kSides, z = i < kSides ? -1 : 1;
    const double x = cos(a), y = sin(a);
    xyz[turned][i][0] = (float)x;
    xyz[turned][i][1] = (float)(y * c30 - z * s30);
    xyz[turned][i][2] = (float)(y * s30 + z * c30);
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
  data[0] = SceneRecord(xyz[turned]);
  return VoPrimitiveCreateMesh(kSides + 2, NULL, counts, faces, 1, ids, data);
}

/* The projected top centre (x/w, y/w, z/w, w) and radius of the upright
 * cylinder's top rim. */
static float g_rim_centre[4];
static double g_rim_radius;

static int32_t RimCircle(VtHiddenLineCircleQuery *q) {
  memcpy(q->centre, g_rim_centre, sizeof q->centre);
  q->radius = g_rim_radius;
  return 1;
}

/* Gives the upright cylinder edges of its own (the edge ring and the
 * edges' flags, ends and links among its properties) and flags those of
 * its top rim (both ends at z = 1) as circle pieces, through the flag
 * words' addresses; the number flagged. */
static int FlagTopRim(VtPrimitive *p) {
  const uint32_t kept[4] = {VO_PRIM_EDGES, VO_EDGE_NEXT, VO_EDGE_FLAGS, VO_EDGE_VREFS};
  VtContents *contents = VoContentsUnion(VoPrimitiveGetContents(p), 4, kept);
  VtEdge *ring = NULL, *e;
  VtTypedValue v;
  int flagged = 0;
  if (contents == NULL || VoPrimitiveSetContents(p, contents) != 0) return 0;
  if (VoPrimitiveBuildEdges(p, &ring) != 0 || ring == NULL) return 0;
  e = ring;
  do {
    VtReference *start;
    float *a, *b;
    if (VoEdgeGetProperty(p, e, VO_EDGE_VREFS, &v) != 0) return 0;
    start = *(VtReference **)v.value.p;
    if (VoVertexGetProperty(p, (VtVertex *)start->data, VO_VERT_WORLD, &v) != 0) return 0;
    a = (float *)v.value.p;
    if (VoVertexGetProperty(p, (VtVertex *)start->next->data, VO_VERT_WORLD, &v) != 0) return 0;
    b = (float *)v.value.p;
    if (a[2] == 1.0f && b[2] == 1.0f) {
      if (VoEdgeGetProperty(p, e, VO_EDGE_FLAGS, &v) != 0) return 0;
      *(uint32_t *)v.value.p |= VO_EDGE_FLAG_CIRCLE;
      ++flagged;
    }
    if (VoEdgeGetProperty(p, e, VO_EDGE_NEXT, &v) != 0) return 0;
    e = *(VtEdge **)v.value.p;
  } while (e != NULL && e != ring);
  return flagged;
}

/* The upright cylinder along its axis in perspective, two passes. */
static int RimDrawing(Text *t, VtPrimitive *upright) {
  const float eye[3] = {0, 0, 5}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  const float top[3] = {0, 0, 1}, rim[3] = {1, 0, 1};
  VtReference *scene = VoPrimitiveListCreate(1, &upright);
  float q[4];
  int failed = 0, i, k;
  VoReferenceListDestroy(VoPrimitiveListGet(), NULL);
  failed |= VoPrimitiveListSet(scene) != 0;
  failed |= VoViewSetResolution(NULL, 512, 512, 1.0) != 0;
  failed |= VoViewSetPinhole(NULL, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 60.0) != 0;
  failed |= VoViewAutoClipping(NULL) != 0;
  failed |= VoViewProjectPoint(top, q) != 0;
  for (k = 0; k < 3; ++k) g_rim_centre[k] = q[k] / q[3];
  g_rim_centre[3] = q[3];
  failed |= VoViewProjectPoint(rim, q) != 0;
  g_rim_radius = q[0] / q[3] - g_rim_centre[0];
  Put(t, "upright cylinder: %d top rim edges flagged\n", FlagTopRim(upright));
  failed |= VoCallBackSet(VO_CALLBACK_HL_CIRCLE, (VtProc)&RimCircle) != 0;
  g_count = g_polylines = g_circle_count = 0;
  failed |= VoExecute(VO_EXECUTE_HIDDEN_LINE_TWO_PASS) != 0;
  failed |= VoCallBackSet(VO_CALLBACK_HL_CIRCLE, NULL) != 0;
  Put(t, "along its axis in perspective: %d polylines, %d circles\n", g_polylines, g_circle_count);
  for (i = 0; i < g_circle_count; ++i) {
    for (k = 0; k < 9; ++k) Put(t, "%s%.5f", k == 0 ? "" : " ", g_circles[i][k]);
    Put(t, "\n");
  }
  return failed;
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
  VtPrimitive *cube, *cylinder, *upright, *pair[2];
  VtTypedValue v;
  int failed = 0;

  if (size == 0) return 1;
  buffer[0] = '\0';
  VoInitialise();
  driver = VoDriverCreate(&DriverQuery);
  cube = SceneBox(-1, 1, -1, 1, -1, 1);
  cylinder = Cylinder(1);
  upright = Cylinder(0);
  pair[0] = cube;
  pair[1] = SceneBox(1, 3, -1, 1, -1, 1);
  if (driver == NULL || cube == NULL || cylinder == NULL || upright == NULL || pair[1] == NULL) {
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
  failed |= RimDrawing(&t, upright);

  VoReferenceListDestroy(VoPrimitiveListGet(), NULL);
  VoPrimitiveListSet(NULL);
  failed |= VoPrimitiveDestroy(cube) != 0;
  failed |= VoPrimitiveDestroy(cylinder) != 0;
  failed |= VoPrimitiveDestroy(upright) != 0;
  failed |= VoPrimitiveDestroy(pair[1]) != 0;
  failed |= VoTerminate() != 0;
  return failed ? 3 : 0;
}
