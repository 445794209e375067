/* The geometry operators through the C interface alone: a cube of six
 * quads, a square with a square hole and a two-sided regular hexagon as the
 * scene; the scene triangulated, the cube's strips built, the two-sided
 * hexagon doubled. The outcome is written as text into the caller's
 * buffer; the answer is 0 when every step succeeded. */
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>

#include "support/end_to_end.h"

static VtPrimitive *MeshOf(uint32_t faces, const int32_t *contours, const int32_t *counts,
                           const int32_t *indices, const float (*xyz)[3]) {
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1];
  memset(data, 0, sizeof data);
  data[0].type = VtGenericPtr;
  data[0].value.p = (void *)xyz;
  return VoPrimitiveCreateMesh(faces, contours, counts, indices, 1, ids, data);
}

static void *Pointer(VtStatus (*get)(VtPrimitive *, void *, uint32_t, VtTypedValue *), VtPrimitive *p,
                     void *element, uint32_t code) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  if (get(p, element, code, &v) != 0 || v.value.p == NULL) return NULL;
  return v.value.p;
}

static VtStatus PolygonGet(VtPrimitive *p, void *g, uint32_t code, VtTypedValue *v) {
  return VoPolygonGetProperty(p, (VtPolygon *)g, code, v);
}

static VtStatus PrimitiveGet(VtPrimitive *p, void *unused, uint32_t code, VtTypedValue *v) {
  (void)unused;
  return VoPrimitiveGetProperty(p, code, v);
}

/* Type, flags, polygons with their vertex counts, vertices and area. */
static void PutPrimitive(Text *t, const char *name, VtPrimitive *p) {
  void **first = (void **)Pointer(PrimitiveGet, p, NULL, VO_PRIM_POLYS);
  const uint32_t *nverts = (const uint32_t *)Pointer(PrimitiveGet, p, NULL, VO_PRIM_NVERTS);
  void *g = first ? *first : NULL;
  double area = 0;
  uint32_t polygons = 0, sizes[8] = {0};
  while (g != NULL && polygons < 1000) {
    const float *a = (const float *)Pointer(PolygonGet, p, g, VO_POLY_AREA);
    void **next = (void **)Pointer(PolygonGet, p, g, VO_POLY_NEXT);
    uint32_t n = VoPolygonCountVertices(p, (VtPolygon *)g);
    if (a != NULL) area += *a;
    ++sizes[n < 7 ? n : 7];
    ++polygons;
    g = next && *next != *first ? *next : NULL;
  }
  Put(t, "%s: type %u flags 0x%x polygons %u (triangles %u, quads %u) vertices %u area %.4f\n", name,
      (unsigned)(VoPrimitiveGetFlags(p) & 0xFu), (unsigned)(VoPrimitiveGetFlags(p) & ~0xFu),
      (unsigned)polygons, (unsigned)sizes[3], (unsigned)sizes[4], nverts ? (unsigned)*nverts : 0u, area);
}

/* The strips of a mesh and the triangles they draw (orientation 1 sends the
 * first vertex twice; triangles with a repeated vertex draw nothing). */
static void PutStrips(Text *t, const char *name, VtPrimitive *p) {
  VtTriangleMesh **mesh = (VtTriangleMesh **)Pointer(PrimitiveGet, p, NULL, VO_PRIM_TRI_MESH);
  void *s = VoTriangleStripGetFirst(mesh ? *mesh : NULL);
  unsigned strips = 0, drawn = 0;
  for (; s != NULL; s = VoTriangleStripGetNext(s)) {
    VtReference *first = (VtReference *)VoTriangleStripGetFirst(s), *n = first;
    void *sent[64];
    unsigned m = 0, i;
    if (((VtTriangleStrip *)s)->orientation == 1) sent[m++] = first->data;
    do {
      if (m < 64) sent[m++] = n->data;
      n = n->next;
    } while (n != first);
    for (i = 0; i + 2 < m; ++i)
      drawn += sent[i] != sent[i + 1] && sent[i + 1] != sent[i + 2] && sent[i] != sent[i + 2];
    ++strips;
  }
  Put(t, "%s strips: %u drawing %u triangles\n", name, strips, drawn);
}

int vo_end_to_end_geops(char *buffer, size_t size) {
  static const int32_t cube_counts[6] = {4, 4, 4, 4, 4, 4};
  static const int32_t cube_faces[24] = {0, 4, 6, 2, 1, 3, 7, 5, 0, 1, 5, 4,
                                         2, 6, 7, 3, 0, 2, 3, 1, 4, 5, 7, 6};
  static const float square[8][3] = {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0},
                                     {1, 1, 0}, {1, 3, 0}, {3, 3, 0}, {3, 1, 0}};
  static const int32_t square_contours[1] = {2}, square_counts[2] = {4, 4};
  static const int32_t square_indices[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  static const int32_t hexagon_counts[1] = {6}, hexagon_indices[6] = {0, 1, 2, 3, 4, 5};
  const char *names[3] = {"cube", "holed square", "hexagon"};
  float cube[8][3], hexagon[6][3];
  VtPrimitive *p[3];
  Text t = {buffer, size};
  int i, failed = 0;
  if (size == 0) return 1;
  buffer[0] = '\0';
  VoInitialise(); /* the driver framework is missing: its mode cannot be set */
  for (i = 0; i < 8; ++i) {
    cube[i][0] = (float)(i & 1);
    cube[i][1] = (float)((i >> 1) & 1);
    cube[i][2] = (float)((i >> 2) & 1);
  }
  for (i = 0; i < 6; ++i) {
    hexagon[i][0] = (float)cos(i * 3.14159265358979 / 3);
    hexagon[i][1] = (float)sin(i * 3.14159265358979 / 3);
    hexagon[i][2] = 2;
  }
  p[0] = MeshOf(6, NULL, cube_counts, cube_faces, (const float(*)[3])cube);
  p[1] = MeshOf(1, square_contours, square_counts, square_indices, square);
  p[2] = MeshOf(1, NULL, hexagon_counts, hexagon_indices, (const float(*)[3])hexagon);
  for (i = 0; i < 3; ++i) failed |= p[i] == NULL;
  if (failed) {
    VoTerminate();
    return 2;
  }
  failed |= VoPrimitiveSetSidedness(p[2], 1) != 0;
  failed |= VoPrimitiveListSet(VoPrimitiveListCreate(3, p)) != 0;
  for (i = 0; i < 3; ++i) PutPrimitive(&t, names[i], p[i]);

  Put(&t, "triangulate: status 0x%x\n", (unsigned)VoExecute(VO_EXECUTE_GEOPS_TRIANGULATE));
  for (i = 0; i < 3; ++i) PutPrimitive(&t, names[i], p[i]);
  failed |= VoPrimitiveBuildTriangleStrips(p[0]) != 0;
  PutStrips(&t, names[0], p[0]);

  Put(&t, "duplicate two-sided: status 0x%x\n", (unsigned)VoExecute(VO_EXECUTE_GEOPS_DUPLICATE_TWO_SIDED));
  for (i = 0; i < 3; ++i) PutPrimitive(&t, names[i], p[i]);
  Put(&t, "second triangulation of the cube: status 0x%x\n", (unsigned)VoPrimitiveTriangulate(p[0]));
  failed |= VoTerminate() != 0;
  return failed;
}
