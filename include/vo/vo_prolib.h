/*
 * The pro shader library's records that applications read: the sky light's
 * model of the sky dome, handed out through the light's "handle" argument.
 * After each preparation of the light the model holds patchCount patches,
 * each a triangle of the dome with its colour (the luminance it sends
 * toward the scene), the direction from the patch toward the scene, its
 * point on a dome around the scene, its vertices and its solid angle.
 * Applications read the model; the library writes it.
 *
 * This header is plain C (C99) and C++ compatible.
 */
#ifndef VO_PROLIB_H
#define VO_PROLIB_H

#include <vo/vo_types.h>

#ifdef __cplusplus
#include <cstddef>
extern "C" {
#else
#include <stddef.h>
#endif

struct VtTransform;

/* Sky types. */
#define VO_SKY_CIE_OVERCAST 1
#define VO_SKY_CIE_INTERMEDIATE 2
#define VO_SKY_CIE_CLEAR 3
#define VO_SKY_IESNA_OVERCAST 4
#define VO_SKY_IESNA_INTERMEDIATE 5
#define VO_SKY_IESNA_CLEAR 6

/* Spectral distributions. */
#define VO_SKY_D55 1
#define VO_SKY_D65 2
#define VO_SKY_D75 3
#define VO_SKY_TEMPERATURE 4

/* Relative luminance of a patch at elevation e with the sun at altitude s,
 * g away from it (radians). */
typedef double (*VtSkyLuminanceProc)(double e, double s, double g);
/* Zenith luminance (candela per square metre) for the sun at altitude s. */
typedef double (*VtSkyZenithProc)(double s);

/* One patch: fifteen 32-bit words. */
typedef struct VtSkyPatch {
  float colour[3];
  uint32_t cleared[2];  /* 0 */
  float direction[3];   /* unit vector from the patch toward the scene */
  float position[3];    /* the patch's point on the dome */
  uint32_t vertices[3]; /* indices into the model's vertices */
  float solidAngle;     /* steradians */
} VtSkyPatch;

typedef struct VtSkyModel {
  uint32_t patchCount;
  float *vertices; /* unit vectors, three floats each */
  uint32_t vertexCapacity;
  uint32_t vertexCount;
  VtSkyPatch *patches;
  uint32_t patchCapacity;
  uint32_t patchesInUse;
  float sunAltitude; /* radians, 0 to pi/2 */
  float sunAzimuth;  /* radians, 0 to below 2 pi */
  float north[3];
  float up[3];
  struct VtTransform *transform; /* the dome's frame to the world */
  float sceneSize;               /* the scene bounds' diagonal */
  int32_t spectralDistribution;  /* VO_SKY_D55 ... VO_SKY_TEMPERATURE */
  float colourTemperature;       /* kelvin */
  float filterColour[3];
  float zenithLuminance; /* 0 or less: from the sun */
  float complexity;      /* 0 to 1 */
  uint32_t shadows;
  int32_t skyType; /* VO_SKY_... */
  VtSkyLuminanceProc luminance;
  VtSkyZenithProc zenith;
} VtSkyModel;

#ifdef __cplusplus
}
static_assert(sizeof(VtSkyPatch) == 60 && offsetof(VtSkyPatch, cleared) == 12 &&
                  offsetof(VtSkyPatch, direction) == 20 && offsetof(VtSkyPatch, position) == 32 &&
                  offsetof(VtSkyPatch, vertices) == 44 && offsetof(VtSkyPatch, solidAngle) == 56,
              "sky patch layout");
static_assert(offsetof(VtSkyModel, vertices) == 8 && offsetof(VtSkyModel, vertexCapacity) == 16 &&
                  offsetof(VtSkyModel, vertexCount) == 20 && offsetof(VtSkyModel, patches) == 24 &&
                  offsetof(VtSkyModel, patchCapacity) == 32 && offsetof(VtSkyModel, patchesInUse) == 36 &&
                  offsetof(VtSkyModel, sunAltitude) == 40 && offsetof(VtSkyModel, sunAzimuth) == 44,
              "sky model layout");
static_assert(offsetof(VtSkyModel, north) == 48 && offsetof(VtSkyModel, up) == 60 &&
                  offsetof(VtSkyModel, transform) == 72 && offsetof(VtSkyModel, sceneSize) == 80 &&
                  offsetof(VtSkyModel, spectralDistribution) == 84 &&
                  offsetof(VtSkyModel, colourTemperature) == 88 && offsetof(VtSkyModel, filterColour) == 92 &&
                  offsetof(VtSkyModel, zenithLuminance) == 104 && offsetof(VtSkyModel, complexity) == 108 &&
                  offsetof(VtSkyModel, shadows) == 112 && offsetof(VtSkyModel, skyType) == 116 &&
                  offsetof(VtSkyModel, luminance) == 120 && offsetof(VtSkyModel, zenith) == 128 &&
                  sizeof(VtSkyModel) == 136,
              "sky model layout");
#endif

#endif /* VO_PROLIB_H */
