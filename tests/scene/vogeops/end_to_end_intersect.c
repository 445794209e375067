/* The intersection through the C interface alone: two boxes 2 x 2 x 1, the
 * second turned 45 degrees about the vertical through the first's centre
 * by its transform, so that their sides cross each other's from top to
 * bottom and each top is crossed by the other's sides along its edges.
 * Both are cut (0x160003 = 1). Afterwards no polygon of one box may reach
 * to both sides of a polygon of the other that it meets; the outcome is
 * written as text into the caller's buffer; the answer is 0 when every
 * step succeeded and nothing straddles. */
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>

#include "support/end_to_end.h"

#define MOST 64
#define MOST_CORNERS 16

typedef struct Face {
  double p[MOST_CORNERS][3];
  int n;
  double plane[4];
} Face;

static void *Held(VtStatus st, const VtTypedValue *v) { return st == 0 ? v->value.p : NULL; }

/* The polygons of a primitive in world coordinates, with their planes. */
static int FacesOf(VtPrimitive *p, VtTransform *t, Face *faces) {
  VtTypedValue v;
  void **first, *g;
  int count = 0;
  memset(&v, 0, sizeof v);
  first = (void **)Held(VoPrimitiveGetProperty(p, VO_PRIM_POLYS, &v), &v);
  g = first ? *first : NULL;
  while (g != NULL && count < MOST) {
    Face *f = &faces[count++];
    VtReference **ring = (VtReference **)Held(VoPolygonGetProperty(p, (VtPolygon *)g, VO_POLY_VREFS, &v), &v);
    void **next = (void **)Held(VoPolygonGetProperty(p, (VtPolygon *)g, VO_POLY_NEXT, &v), &v);
    VtReference *node = ring && *ring ? (*ring)->next : NULL, *stop = node;
    double nx = 0, ny = 0, nz = 0, length, c[3] = {0, 0, 0};
    int i;
    f->n = 0;
    do {
      const float *w =
          node ? (const float *)Held(VoVertexGetProperty(p, (VtVertex *)node->data, VO_VERT_WORLD, &v), &v)
               : NULL;
      float moved[3];
      if (w == NULL || f->n == MOST_CORNERS) break;
      if (t != NULL && VoTransformPoint(moved, w, t) == 0) w = moved;
      for (i = 0; i < 3; ++i) f->p[f->n][i] = w[i];
      ++f->n;
      node = node->next;
    } while (node != stop);
    for (i = 0; i < f->n; ++i) {
      const double *a = f->p[i], *b = f->p[(i + 1) % f->n];
      nx += (a[1] - b[1]) * (a[2] + b[2]);
      ny += (a[2] - b[2]) * (a[0] + b[0]);
      nz += (a[0] - b[0]) * (a[1] + b[1]);
      c[0] += a[0] / f->n;
      c[1] += a[1] / f->n;
      c[2] += a[2] / f->n;
    }
    length = sqrt(nx * nx + ny * ny + nz * nz);
    if (length == 0) length = 1;
    f->plane[0] = nx / length;
    f->plane[1] = ny / length;
    f->plane[2] = nz / length;
    f->plane[3] = -(f->plane[0] * c[0] + f->plane[1] * c[1] + f->plane[2] * c[2]);
    g = next && *next != *first ? *next : NULL;
  }
  return count;
}

static double Side(const Face *h, const double *p) {
  return h->plane[0] * p[0] + h->plane[1] * p[1] + h->plane[2] * p[2] + h->plane[3];
}

/* The interval, along direction u, where face f meets the plane of h;
 * 0 when it does not. */
static int Interval(const Face *f, const Face *h, const double *u, double *lo, double *hi) {
  int i, any = 0;
  *lo = 1e30;
  *hi = -1e30;
  for (i = 0; i < f->n; ++i) {
    const double *a = f->p[i], *b = f->p[(i + 1) % f->n];
    const double da = Side(h, a), db = Side(h, b);
    double s, x[3], at;
    if (fabs(da) <= 1e-6) {
      s = 0;
    } else if ((da < 0) == (db < 0) || fabs(db) <= 1e-6) {
      continue;
    } else {
      s = da / (da - db);
    }
    x[0] = a[0] + s * (b[0] - a[0]);
    x[1] = a[1] + s * (b[1] - a[1]);
    x[2] = a[2] + s * (b[2] - a[2]);
    at = x[0] * u[0] + x[1] * u[1] + x[2] * u[2];
    if (at < *lo) *lo = at;
    if (at > *hi) *hi = at;
    any = 1;
  }
  return any;
}

/* Polygons of a that reach beyond 1e-5 to both sides of a polygon of b
 * whose segment with them has length. */
static int Straddling(const Face *a, int na, const Face *b, int nb) {
  int i, j, k, bad = 0;
  for (i = 0; i < na; ++i)
    for (j = 0; j < nb; ++j) {
      double most = -1e30, least = 1e30, u[3], alo, ahi, blo, bhi;
      for (k = 0; k < a[i].n; ++k) {
        const double d = Side(&b[j], a[i].p[k]);
        if (d > most) most = d;
        if (d < least) least = d;
      }
      if (!(most > 1e-5 && least < -1e-5)) continue;
      u[0] = a[i].plane[1] * b[j].plane[2] - a[i].plane[2] * b[j].plane[1];
      u[1] = a[i].plane[2] * b[j].plane[0] - a[i].plane[0] * b[j].plane[2];
      u[2] = a[i].plane[0] * b[j].plane[1] - a[i].plane[1] * b[j].plane[0];
      if (!Interval(&a[i], &b[j], u, &alo, &ahi) || !Interval(&b[j], &a[i], u, &blo, &bhi)) continue;
      if ((ahi < bhi ? ahi : bhi) - (alo > blo ? alo : blo) > 1e-5) ++bad;
    }
  return bad;
}

static void PutFaces(Text *t, const char *name, const Face *f, int n) {
  double area = 0;
  int i, corners = 0;
  for (i = 0; i < n; ++i) corners += f[i].n;
  for (i = 0; i < n; ++i) {
    int k;
    double x = 0, y = 0, z = 0;
    for (k = 0; k < f[i].n; ++k) {
      const double *a = f[i].p[k], *b = f[i].p[(k + 1) % f[i].n];
      x += (a[1] - b[1]) * (a[2] + b[2]);
      y += (a[2] - b[2]) * (a[0] + b[0]);
      z += (a[0] - b[0]) * (a[1] + b[1]);
    }
    area += 0.5 * sqrt(x * x + y * y + z * z);
  }
  Put(t, "%s: polygons %d corners %d area %.4f\n", name, n, corners, area);
}

int vo_end_to_end_intersect(char *buffer, size_t size) {
  static Face a[MOST], b[MOST];
  const double centre[3] = {1, 1, 0}, up[3] = {0, 0, 1};
  VtTypedValue on;
  VtPrimitive *p[2];
  VtTransform *turn;
  Text t = {buffer, size};
  int na, nb, failed = 0, run;
  if (size == 0) return 1;
  buffer[0] = '\0';
  VoInitialise();
  p[0] = SceneBox(0, 2, 0, 2, 0, 1);
  p[1] = SceneBox(0, 2, 0, 2, 0, 1);
  turn = VoTransformCreate();
  if (p[0] == NULL || p[1] == NULL || turn == NULL) {
    VoTerminate();
    return 2;
  }
  failed |= VoTransformRotateAxis(turn, centre, up, 45.0) != 0;
  failed |= VoPrimitiveSetTransform(p[1], turn) != 0;
  failed |= VoPrimitiveListSet(VoPrimitiveListCreate(2, p)) != 0;
  memset(&on, 0, sizeof on);
  on.type = VtBoolean;
  on.value.u = 1;
  failed |= VoControlSet(VO_CONTROL_GEOPS_CUT_BOTH, &on) != 0;
  on.type = VtFlags;
  on.value.u = 2; /* edges lying in the other plane cut it */
  failed |= VoControlSet(VO_CONTROL_GEOPS_COPLANAR, &on) != 0;
  na = FacesOf(p[0], NULL, a);
  nb = FacesOf(p[1], turn, b);
  PutFaces(&t, "box", a, na);
  PutFaces(&t, "turned box", b, nb);
  Put(&t, "straddling before: %d and %d\n", Straddling(a, na, b, nb), Straddling(b, nb, a, na));
  for (run = 0; run < 2; ++run) {
    Put(&t, "intersect: status 0x%x\n", (unsigned)VoExecute(VO_EXECUTE_GEOPS_INTERSECT));
    na = FacesOf(p[0], NULL, a);
    nb = FacesOf(p[1], turn, b);
    PutFaces(&t, "box", a, na);
    PutFaces(&t, "turned box", b, nb);
    Put(&t, "straddling: %d and %d\n", Straddling(a, na, b, nb), Straddling(b, nb, a, na));
    failed |= Straddling(a, na, b, nb) + Straddling(b, nb, a, na) != 0;
  }
  failed |= VoTerminate() != 0;
  return failed;
}
