/* One triangle shaded through the C interface alone, with classes written
 * in C: a colour that checks s and t into a 4 x 4 board, a reflectance that
 * sums the lit chain, and a point light that fills its light record. The
 * triangle lies on z = 0 under a light at (0.5, 0.5, 1) falling off as
 * 1/(d + 1); it is scan-converted at 32 x 32 over [0, 1] x [0, 1], each
 * covered pixel's centre shaded as an interpolated vertex through image
 * and polygon set-up and VoVertexShade. The picture is written into the
 * caller's buffer as a text PPM; the answer is 0 when every step
 * succeeded. */
#include <math.h>
#include <string.h>

#include <vo/vo_api.h>

#include "support/end_to_end.h"

#define SIDE 32

/* Instance data of the two surface classes: the prepared flag only. */
static void *FlagCreate(void) {
  uint32_t *d = (uint32_t *)VoAllocate(sizeof(uint32_t));
  if (d != NULL) *d = 0;
  return d;
}

static VtStatus BlockDestroy(void *data) {
  VoDeallocate(data);
  return 0;
}

/* Red and blue squares, four to a unit of s and of t. */
static VtStatus CheckerEvaluate(void *data) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  const int odd = ((int)floorf(g->s * 4.0f) + (int)floorf(g->t * 4.0f)) & 1;
  (void)data;
  g->Co[0] = odd ? 0.9f : 0.1f;
  g->Co[1] = odd ? 0.2f : 0.3f;
  g->Co[2] = odd ? 0.1f : 0.9f;
  return 0;
}

/* Co times the light reaching the point: for each lit light its colour,
 * intensity (fall-off included) and cosine N . toLight / distance. */
static VtStatus LitEvaluate(void *data) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  const VtLightData *d;
  float sum[3] = {0, 0, 0};
  int i;
  (void)data;
  VoShadingInitialiseLights();
  for (d = g->litLights; d != NULL; d = d->nextLit) {
    const float k = d->intensity * d->nDotToLight / d->distance;
    sum[0] += k * d->colourAtPoint.red;
    sum[1] += k * d->colourAtPoint.green;
    sum[2] += k * d->colourAtPoint.blue;
  }
  for (i = 0; i < 3; ++i) g->Co[i] *= sum[i];
  return 0;
}

static void *PointLightCreate(void) {
  VtLightData *d = (VtLightData *)VoAllocate(sizeof(VtLightData));
  if (d == NULL) return NULL;
  memset(d, 0, sizeof *d);
  d->kind = VO_LIGHT_POINT;
  d->self = d;
  d->position[0] = 0.5f;
  d->position[1] = 0.5f;
  d->position[2] = 1.0f;
  d->colour.red = d->colour.green = d->colour.blue = 1.0f;
  d->fallOffMode = 2;
  return d;
}

static VtStatus RegisterClass(uint32_t type, const char *table, const char *name, VtProc create,
                              VtProc evaluate) {
  const char *strings[1];
  VtStatus s;
  strings[0] = name;
  s = VoStringTableCreate(table, 1, strings);
  s |= VoShaderPrototypeCreate(type, table, 0, 0, NULL);
  s |= SceneClassEntry(VO_SLOT_CREATE, create);
  s |= SceneClassEntry(VO_SLOT_DESTROY, (VtProc)BlockDestroy);
  if (evaluate != NULL) s |= SceneClassEntry(VO_SLOT_EVALUATE, evaluate);
  return s;
}

/* The triangle with s = x and t = y. */
static VtPrimitive *Triangle(void) {
  static const float xyz[9] = {0.05f, 0.05f, 0, 0.95f, 0.2f, 0, 0.3f, 0.95f, 0};
  static const float st[6] = {0.05f, 0.05f, 0.95f, 0.2f, 0.3f, 0.95f};
  const uint32_t ids[2] = {VO_VERT_WORLD, VO_VERT_TEXCOORDS};
  VtTypedValue data[2];
  data[0] = SceneRecord(xyz);
  data[1] = SceneRecord(st);
  return VoPrimitiveCreatePolygon(3, 2, ids, data);
}

static void *Pointed(VtPrimitive *p, void *element, uint32_t code, int vertex) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  if ((vertex ? VoVertexGetProperty(p, element, code, &v) : VoPrimitiveGetProperty(p, code, &v)) != 0)
    return NULL;
  return v.value.p != NULL ? *(void **)v.value.p : NULL;
}

/* The barycentric weights of (x, y) in the triangle; 0 outside. */
static int Weights(const float *xyz, float x, float y, float w[3]) {
  const float ax = xyz[0], ay = xyz[1], bx = xyz[3], by = xyz[4], cx = xyz[6], cy = xyz[7];
  const float area = (bx - ax) * (cy - ay) - (cx - ax) * (by - ay);
  w[0] = ((bx - x) * (cy - y) - (cx - x) * (by - y)) / area;
  w[1] = ((cx - x) * (ay - y) - (ax - x) * (cy - y)) / area;
  w[2] = 1.0f - w[0] - w[1];
  return w[0] >= 0 && w[1] >= 0 && w[2] >= 0;
}

static int Byte(float c) {
  c = c < 0 ? 0 : (c > 1 ? 1 : c);
  return (int)floorf(c * 255.0f + 0.5f);
}

/* Scan-converts the triangle; the PPM goes into the text. */
static int Render(Text *t, VtPrimitive *p) {
  VtVertex *corners[3], *scratch;
  VtPolygon *polygon = (VtPolygon *)Pointed(p, NULL, VO_PRIM_POLYS, 0);
  const float *co = VoShaderGetGlobals()->Co;
  float xyz[9], w[3];
  int i, x, y, failed = 0;
  corners[0] = (VtVertex *)Pointed(p, NULL, VO_PRIM_VERTS, 0);
  for (i = 1; i < 3; ++i) corners[i] = (VtVertex *)Pointed(p, corners[i - 1], VO_VERT_NEXT, 1);
  for (i = 0; i < 3; ++i) {
    VtTypedValue v;
    memset(&v, 0, sizeof v);
    failed |= corners[i] == NULL || VoVertexGetProperty(p, corners[i], VO_VERT_WORLD, &v) != 0;
    if (!failed) memcpy(xyz + 3 * i, v.value.p, 3 * sizeof(float));
  }
  scratch = failed ? NULL : VoVertexCreate(p);
  if (scratch == NULL || VoShadingInitialiseImage(2) != 0) return 1;
  failed |= VoShadingInitialisePolygon(p, polygon) != 0;
  Put(t, "P3\n%d %d\n255\n", SIDE, SIDE);
  for (y = SIDE - 1; y >= 0; --y) {
    for (x = 0; x < SIDE; ++x) {
      int rgb[3] = {0, 0, 0};
      if (Weights(xyz, (x + 0.5f) / SIDE, (y + 0.5f) / SIDE, w)) {
        failed |= VoVertexInterpolate(p, 0, 3, corners, w, scratch) != 0;
        failed |= VoVertexShade(p, scratch) != 0;
        for (i = 0; i < 3; ++i) rgb[i] = Byte(co[i]);
      }
      Put(t, "%d %d %d%s", rgb[0], rgb[1], rgb[2], x + 1 < SIDE ? " " : "\n");
    }
  }
  failed |= VoShadingTerminateImage() != 0;
  failed |= VoVertexDestroy(p, scratch) != 0;
  return failed;
}

int vo_end_to_end_triangle(char *buffer, size_t size) {
  Text t = {buffer, size};
  VtPrimitive *p;
  VtMaterial *m;
  VtShader *light;
  VtReference *lights;
  int failed = 0;

  if (size == 0) return 1;
  buffer[0] = '\0';
  VoInitialise();
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)SceneQuiet);
  failed |= RegisterClass(VO_SHADER_COLOUR, "vxs_c_checker_colour", "c checker", (VtProc)FlagCreate,
                          (VtProc)CheckerEvaluate) != 0;
  failed |= RegisterClass(VO_SHADER_REFLECTANCE, "vxs_c_lit_reflectance", "c lit", (VtProc)FlagCreate,
                          (VtProc)LitEvaluate) != 0;
  failed |=
      RegisterClass(VO_SHADER_LIGHT, "vxs_c_point_light", "c point", (VtProc)PointLightCreate, NULL) != 0;
  p = Triangle();
  m = VoMaterialCreate();
  light = VoShaderCreate(VO_SHADER_LIGHT, "c point");
  lights = light != NULL ? VoShaderReferenceCreate(light) : NULL;
  if (failed || p == NULL || m == NULL || lights == NULL) {
    VoTerminate();
    return 2;
  }
  failed |= VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, "c checker") != 0;
  failed |= VoMaterialSetShaderByPrototype(m, VO_SHADER_REFLECTANCE, "c lit") != 0;
  failed |= VoPrimitiveSetMaterial(p, m) != 0;
  failed |= VoLightListSet(lights) != 0;
  if (!failed) failed |= Render(&t, p) != 0;
  failed |= VoLightListSet(NULL) != 0;
  failed |= VoShaderReferenceDestroy(lights, 1) != 0;
  failed |= VoPrimitiveDestroy(p) != 0;
  failed |= VoMaterialDestroy(m) != 0;
  failed |= VoTerminate() != 0;
  return failed ? 3 : 0;
}
