/* Rays through the C interface alone: a unit cube mesh and a one-sided
 * triangle above it (facing up), the ray services fetched by callback code,
 * the scene prepared, hits found and shadow rays tested, the last hit read
 * through the Intersect procedures, the scene released. The outcome is
 * written as text into the caller's buffer; the answer is 0 when every step
 * succeeded. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>
#include <vo/vo_raytrace.h>

#include "support/end_to_end.h"

static double Shown(double v) {
  v = floor(v * 10000.0 + 0.5) / 10000.0;
  return v == 0 ? 0.0 : v;
}

static const char *NameOf(VtPrimitive *p, VtPrimitive *cube, VtPrimitive *roof) {
  return p == NULL ? "nothing" : p == cube ? "cube" : p == roof ? "roof" : "other";
}

static void PutLastHit(Text *t, VtPrimitive *cube, VtPrimitive *roof) {
  VtPrimitive *prim = NULL;
  VtPolygon *poly = NULL;
  float point[3] = {0, 0, 0};
  VoRayTraceIntersect(&prim, &poly, point);
  Put(t, " last %s at (%.4f, %.4f, %.4f) distance %.4f polygon %s\n", NameOf(prim, cube, roof),
      Shown(point[0]), Shown(point[1]), Shown(point[2]), Shown(VoRayTraceIntersectDistance()),
      VoRayTraceIntersectPolygon() == poly ? "same" : "differs");
}

int vo_end_to_end_raytrace(char *buffer, size_t size) {
  static const float roof_corners[3][3] = {{-1, -1, 2}, {3, -1, 2}, {-1, 3, 2}};
  static const struct {
    float origin[3], direction[3];
  } rays[] = {{{0.5f, 0.5f, 5}, {0, 0, -1}},    /* roof, then cube top below it */
              {{0.5f, 0.5f, 1.5f}, {0, 0, -1}}, /* under the roof: the cube's top */
              {{0.5f, 0.5f, -3}, {0, 0, 1}},    /* from below: the cube's bottom; the roof's back is missed */
              {{5, 0.5f, 0.5f}, {-1, 0, 0}},    /* the cube's side x = 1 */
              {{5, 5, 5}, {1, 0, 0}}};          /* away from everything */
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1];
  Text t = {buffer, size};
  VtPrimitive *p[2];
  VtReference *scene;
  VtRayHitFindProc find;
  VtRayShadowProc shadow;
  VtRayPrepareProc prepare, release;
  int i, failed = 0;

  if (size == 0) return 1;
  buffer[0] = '\0';
  VoInitialise();
  EndToEndWorkersApply();
  p[0] = SceneBox(0, 1, 0, 1, 0, 1);
  data[0] = SceneRecord(roof_corners);
  p[1] = VoPrimitiveCreatePolygon(3, 1, ids, data);
  if (p[0] == NULL || p[1] == NULL) {
    VoTerminate();
    return 2;
  }
  scene = VoPrimitiveListCreate(2, p);
  failed |= VoPrimitiveListSet(scene) != 0;

  prepare = (VtRayPrepareProc)VoCallBackGet(VO_RAY_SERVICE_PREPARE);
  release = (VtRayPrepareProc)VoCallBackGet(VO_RAY_SERVICE_RELEASE);
  find = (VtRayHitFindProc)VoCallBackGet(VO_RAY_SERVICE_HIT_FIND);
  shadow = (VtRayShadowProc)VoCallBackGet(VO_RAY_SERVICE_SHADOW);
  Put(&t, "services %s\n",
      prepare && release && find && shadow && !VoCallBackGet(0x70008) ? "found" : "missing");
  if (!prepare || !release || !find || !shadow) {
    VoTerminate();
    return 3;
  }
  Put(&t, "prepare %u\n", (unsigned)prepare());
  for (i = 0; i < 5; ++i) {
    VtPolygon *hit = find(rays[i].origin, rays[i].direction, 0, 100, NULL);
    Put(&t, "ray %d: %s", i, hit != NULL ? "hit" : "miss");
    PutLastHit(&t, p[0], p[1]);
  }
  /* Shadow rays up from the cube's top to a light at z = 10: the roof's
   * back faces them (it blocks); beside the roof nothing does; the excluded
   * roof never blocks. */
  {
    const float up[3] = {0, 0, 1}, under[3] = {0.5f, 0.5f, 1}, beside[3] = {2.5f, 2.5f, 1};
    VtPolygon *roof_polygon = VoPrimitiveGetPolygons(p[1]);
    Put(&t, "shadow under the roof %.1f", shadow(under, up, 0, 9, NULL));
    PutLastHit(&t, p[0], p[1]);
    Put(&t, "shadow beside the roof %.1f\n", shadow(beside, up, 0, 9, NULL));
    Put(&t, "shadow with the roof excluded %.1f\n", shadow(under, up, 0, 9, roof_polygon));
  }
  Put(&t, "release %u\n", (unsigned)release());
  Put(&t, "after release:");
  PutLastHit(&t, p[0], p[1]);

  VoPrimitiveListSet(NULL);
  VoReferenceListDestroy(scene, NULL);
  for (i = 0; i < 2; ++i) failed |= VoPrimitiveDestroy(p[i]) != 0;
  failed |= VoTerminate() != 0;
  return failed ? 4 : 0;
}
