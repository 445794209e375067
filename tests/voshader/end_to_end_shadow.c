/* A spot light's shadow map through the C interface alone: the program
 * installs its own renderer module 32, whose depth render delivers a known
 * picture through the standard renderer's line-output callback 0xc0001: an 8 x 8 view with a square occluder at squared distance 25 over
 * texels 2..5. A light class written in C projects a point straight down
 * onto the map and asks VoLightSampleShadow. Image set-up builds the map;
 * an 8 x 8 grid of points on z = 0 (squared distance 100) is lit through
 * the light loop and written as '.' (lit) and '#' (shadowed). */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <vo/vo_api.h>

#include "support/end_to_end.h"

static int renders;

static VtStatus Started(void) { return 0; }

/* The depth picture: 25 inside texels 2..5 of both axes, nothing elsewhere. */
static VtStatus Render(uint32_t code) {
  float row[8];
  uint32_t x, y;
  VtStatus (*line)(uintptr_t, void *) = (VtStatus(*)(uintptr_t, void *))VoCallBackGet(0xc0001);
  if (code != 0x200003 || line == NULL) return 0x20000012;
  ++renders;
  for (y = 0; y < 8; ++y) {
    for (x = 0; x < 8; ++x) row[x] = (x >= 2 && x <= 5 && y >= 2 && y <= 5) ? 25.0f : 1e20f;
    line(y, row);
  }
  return 0;
}

static VtTypedValue Answer(uint32_t type, uint32_t word) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = type;
  v.value.u = word;
  return v;
}

static VtTypedValue Procedure(VtProc p) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = VtFunc;
  v.value.fn = p;
  return v;
}

static VtTypedValue Text_(const char *s) {
  VtTypedValue v;
  memset(&v, 0, sizeof v);
  v.type = VtString;
  v.value.s = s;
  return v;
}

static VtStatus QueryAdvancedRenderer(uint32_t query, VtTypedValue *a) {
  memset(a, 0, sizeof *a);
  switch (query) {
    case VO_QUERY_INTERFACE_LEVEL: *a = Answer(VtInt32, VO_INTERFACE_LEVEL); break;
    case VO_QUERY_MODULE_NUMBER: *a = Answer(VtNat32, 32); break;
    case VO_QUERY_START: *a = Procedure((VtProc)Started); break;
    case VO_QUERY_REGISTRY_NAME: *a = Text_("vorenadv"); break;
    case VO_QUERY_EXECUTE: *a = Procedure((VtProc)Render); break;
    case VO_QUERY_BANNER: *a = Text_("C stand-in"); break;
    case VO_QUERY_VERSION: *a = Answer(VtNat32, VO_MODULE_VERSION); break;
    case VO_QUERY_BUILD_KIND: *a = Text_(VO_BUILD_KIND); break;
    case VO_QUERY_BUILD_TIME: *a = Answer(VtNat32, 1); break;
    case VO_QUERY_OBSOLETE_FLAG: *a = Answer(VtBoolean, 0); break;
    default: break;
  }
  return 0;
}

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

static VtStatus SetEntry(uint32_t slot, VtProc proc) {
  VtTypedValue v = Procedure(proc);
  return VoShaderSetEntry(slot, &v);
}

static VtStatus RegisterSpot(void) {
  const char *strings[1] = {"c spot"};
  VtStatus s = VoStringTableCreate("vxs_c_spot_light", 1, strings);
  s |= VoShaderPrototypeCreate(VO_SHADER_LIGHT, "vxs_c_spot_light", 0, 0, NULL);
  s |= SetEntry(VO_SLOT_CREATE, (VtProc)SpotCreate);
  s |= SetEntry(VO_SLOT_DESTROY, (VtProc)SpotDestroy);
  return s;
}

static VtStatus Quiet(VtStatus status, uint32_t message, uint32_t module, uint32_t count, VtTypedValue *args) {
  (void)status, (void)message, (void)module, (void)count, (void)args;
  return 0;
}

int vo_end_to_end_shadow(char *buffer, size_t size) {
  Text t = {buffer, size};
  VtShader *spot;
  VtReference *lights;
  VtLightData *d;
  const float up[3] = {0, 0, 1};
  int failed = 0, x, y;

  if (size == 0) return 1;
  buffer[0] = '\0';
  VoInitialise();
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, (VtProc)Quiet);
  failed |= VoInstallModule(QueryAdvancedRenderer) != 0;
  failed |= VoSystemStart() != 0;
  failed |= RegisterSpot() != 0;
  spot = VoShaderCreate(VO_SHADER_LIGHT, "c spot");
  if (failed || spot == NULL) {
    VoTerminate();
    return 2;
  }
  d = (VtLightData *)VoShaderGetData(spot);
  lights = VoShaderReferenceCreate(spot);
  failed |= VoLightListSet(lights) != 0;
  failed |= VoShadingInitialiseImage(1) != 0;
  Put(&t, "renders %d, maps valid %d, side %d, window x %d..%d y %d..%d, %d bytes\n", renders, d->shadowValid,
      d->shadowMapSide, d->shadowMaps[0].x0, d->shadowMaps[0].x1, d->shadowMaps[0].y0, d->shadowMaps[0].y1,
      d->shadowMapBytes);
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
  failed |= VoShaderReferenceDestroy(lights, 1) != 0;
  failed |= VoTerminate() != 0;
  return failed ? 3 : 0;
}
