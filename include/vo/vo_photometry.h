/*
 * The photometric record of module 66 (vophoto): a luminaire's measured
 * intensity distribution resampled onto a regular grid of angles, with its
 * orientation in the scene, its power, lamp type and colour. The goniometric
 * light owns one and hands it to applications through its "handle" argument;
 * applications read it, the library writes it.
 *
 * The grid holds horizontalCount x verticalCount floats, indexed
 * [horizontal index * verticalCount + vertical index]; vertical sample i lies
 * at i * verticalStep from the aim (0 to pi), horizontal sample j at
 * j * horizontalStep around it. After a load the steps are radians and the
 * grid is divided by the distribution's flux; peakScale times a grid value
 * gives 1 in the brightest direction. distribution is null until a file has
 * been read successfully.
 *
 * This header is plain C (C99) and C++ compatible.
 */
#ifndef VO_PHOTOMETRY_H
#define VO_PHOTOMETRY_H

#include <vo/vo_types.h>

#ifdef __cplusplus
#include <cstddef>
extern "C" {
#else
#include <stddef.h>
#endif

/* Power units. */
#define VO_PHOTOMETRY_LUMENS 2
#define VO_PHOTOMETRY_WATTS 3

/* Lamp types; each but none fixes a colour temperature. */
#define VO_LAMP_NONE 0
#define VO_LAMP_WARM_WHITE_FLUORESCENT 1  /* 3020 K */
#define VO_LAMP_WHITE_FLUORESCENT 2       /* 3450 K */
#define VO_LAMP_COOL_WHITE_FLUORESCENT 3  /* 4250 K */
#define VO_LAMP_DAYLIGHT_FLUORESCENT 4    /* 6250 K */
#define VO_LAMP_CLEAR_MERCURY 5           /* 5710 K */
#define VO_LAMP_IMPROVED_COLOUR_MERCURY 6 /* 4430 K */
#define VO_LAMP_LOW_PRESSURE_SODIUM 7     /* 1740 K */
#define VO_LAMP_HIGH_PRESSURE_SODIUM 8    /* 2100 K */
#define VO_LAMP_TUNGSTEN_HALOGEN 9        /* 3190 K */

/* The angular systems of luminaire files, as the resampler knows them. */
#define VO_PHOTOMETRY_TYPE_A 1
#define VO_PHOTOMETRY_TYPE_B 2
#define VO_PHOTOMETRY_TYPE_C 3        /* the record's own system */
#define VO_PHOTOMETRY_TYPE_C_TURNED 4 /* type C turned by 90 degrees */

typedef struct VtPhotometricRecord {
  uint32_t horizontalCount; /* 1 for a rotationally symmetric distribution */
  uint32_t verticalCount;   /* samples from 0 to 180 degrees */
  uint32_t sampleCount;     /* horizontalCount * verticalCount */
  int32_t powerUnits;       /* VO_PHOTOMETRY_LUMENS or VO_PHOTOMETRY_WATTS */
  int32_t lampType;         /* VO_LAMP_... */
  float *distribution;      /* owned by the record; null until a file is read */
  float colourScale;        /* power / luminance of the colour */
  float peakScale;          /* 1 / the largest grid value */
  float power;              /* lumens or watts */
  float verticalStep;       /* radians once loaded */
  float horizontalStep;     /* radians once loaded; -1 for one horizontal sample */
  float colourTemperature;  /* kelvin; below 150: none */
  float azimuthPlane1[4];   /* (a, b, c, d): its sign gives the sine side of the azimuth */
  float azimuthPlane2[4];   /* the cosine side */
  float aim[3];             /* unit vector from the aimed-at point back to the luminaire */
  float equatorZero[3];     /* a point that fixes azimuth 0 */
  float colour[3];
} VtPhotometricRecord;

#ifdef __cplusplus
}
static_assert(offsetof(VtPhotometricRecord, verticalCount) == 4 &&
                  offsetof(VtPhotometricRecord, sampleCount) == 8 &&
                  offsetof(VtPhotometricRecord, powerUnits) == 12 &&
                  offsetof(VtPhotometricRecord, lampType) == 16,
              "photometric record layout");
static_assert(offsetof(VtPhotometricRecord, distribution) == 24 &&
                  offsetof(VtPhotometricRecord, colourScale) == 32 &&
                  offsetof(VtPhotometricRecord, peakScale) == 36 &&
                  offsetof(VtPhotometricRecord, power) == 40 &&
                  offsetof(VtPhotometricRecord, verticalStep) == 44 &&
                  offsetof(VtPhotometricRecord, horizontalStep) == 48 &&
                  offsetof(VtPhotometricRecord, colourTemperature) == 52,
              "photometric record layout");
static_assert(offsetof(VtPhotometricRecord, azimuthPlane1) == 56 &&
                  offsetof(VtPhotometricRecord, azimuthPlane2) == 72 &&
                  offsetof(VtPhotometricRecord, aim) == 88 &&
                  offsetof(VtPhotometricRecord, equatorZero) == 100 &&
                  offsetof(VtPhotometricRecord, colour) == 112,
              "photometric record layout");
static_assert(sizeof(VtPhotometricRecord) == 128, "photometric record layout");
#endif

#endif /* VO_PHOTOMETRY_H */
