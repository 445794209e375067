/* A spot light's shadow map through the C interface alone. The spot at
 * (0, 0, 10) looks down over a 20 x 20 square at z = 0 with an 8 x 8 map;
 * a thin box at z = 4.9..5, 4.8 wide, hides the texel centres 2..5 of both
 * axes (their rays cross z = 5 at -1.875..1.875; texel 1's at -3.125).
 * Image set-up renders the map through the advanced renderer's depth image;
 * a light class written in C projects a point straight down onto the map
 * and asks VoLightSampleShadow. An 8 x 8 grid of points on z = 0 is lit
 * through the light loop and written as '.' (lit) and '#' (shadowed). */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>

#include "support/end_to_end.h"

/* The light class "c spot": a spot at (0, 0, 10) looking down over a
 * 20 x 20 square at z = 0, one shadow sample per point. */
static double SpotShadow(const float *p, void *unused, const float *n, VtLightData *d) {
  const double u = (p[0] + 10.0) / 20.0, v = (p[1] + 10.0) / 20.0;
  const double dz = d->position[2] - p[2];
  (void)unused, (void)n;
  return VoLightSampleShadow(u, v, p[0] * p[0] + p[1] * p[1] + dz * dz, d, &d->shadowMaps[0]);
}

static void *SpotCreate(void) {
  VtLightData *d = (VtLightData *)VoAllocate(sizeof(VtLightData));
  if (d == NULL) return NULL;
  memset(d, 0, sizeof *d);
  d->kind = VO_LIGHT_SPOT;
  d->self = d;
  d->colour.red = d->colour.green = d->colour.blue = 1;
  d->position[2] = 10;
  d->up[1] = 1;
  d->direction[2] = 1;
  d->coneAngle = 90;
  d->cosOuter = 0.5f;
  d->castsShadows = 1;
  d->shadowResolution = 8;
  d->pcfSamplesX = d->pcfSamplesY = 1;
  d->classShadow = SpotShadow;
  return d;
}

static VtStatus SpotDestroy(void *data) {
  VoDeallocate(data);
  return 0;
}

static VtStatus RegisterSpot(void) {
  const char *strings[1] = {"c spot"};
  VtStatus s = VoStringTableCreate("vxs_c_spot_light", 1, strings);
  s |= VoShaderPrototypeCreate(VO_SHADER_LIGHT, "vxs_c_spot_light", 0, 0, NULL);
  s |= SceneClassEntry(VO_SLOT_CREATE, (VtProc)SpotCreate);
  s |= SceneClassEntry(VO_SLOT_DESTROY, (VtProc)SpotDestroy);
  return s;
}

int vo_end_to_end_shadow(char *buffer, size_t size) {
  Text t = {buffer, size};
  VtShader *spot;
  VtReference *lights, *scene;
  VtLightData *d;
  const float up[3] = {0, 0, 1};
  int failed = 0, x, y;

  if (size == 0) return 1;
  buffer[0] = '\0';
  VoInitialise();
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)SceneQuiet);
  failed |= RegisterSpot() != 0;
  scene = VoPrimitiveReferenceCreate(SceneBox(-2.4f, 2.4f, -2.4f, 2.4f, 4.9f, 5.0f));
  failed |= VoPrimitiveListSet(scene) != 0;
  spot = VoShaderCreate(VO_SHADER_LIGHT, "c spot");
  if (failed || spot == NULL) {
    VoTerminate();
    return 2;
  }
  d = (VtLightData *)VoShaderGetData(spot);
  lights = VoShaderReferenceCreate(spot);
  failed |= VoLightListSet(lights) != 0;
  failed |= VoShadingInitialiseImage(1) != 0;
  Put(&t, "maps valid %d, side %d, window x %d..%d y %d..%d, %d bytes\n", d->shadowValid, d->shadowMapSide,
      d->shadowMaps[0].x0, d->shadowMaps[0].x1, d->shadowMaps[0].y0, d->shadowMaps[0].y1, d->shadowMapBytes);
  for (y = 0; y < 8; ++y) {
    for (x = 0; x < 8; ++x) {
      const float p[3] = {-10 + 2.5f * (x + 0.5f), -10 + 2.5f * (y + 0.5f), 0};
      failed |= VoShadingInitialisePoint(p, up) != 0;
      failed |= VoShadingInitLightsShadingPoint(NULL, p, up, up) != 0;
      Put(&t, "%c", d->lit ? '.' : '#');
    }
    Put(&t, "\n");
  }
  failed |= VoShadingTerminateImage() != 0;
  failed |= VoLightListSet(NULL) != 0;
  failed |= VoPrimitiveListSet(NULL) != 0;
  failed |= VoPrimitiveReferenceDestroy(scene, 1) != 0;
  failed |= VoShaderReferenceDestroy(lights, 1) != 0;
  failed |= VoTerminate() != 0;
  return failed ? 3 : 0;
}
