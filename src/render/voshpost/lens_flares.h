// The "lens flares" post-process class: its instance data (arguments, then
// the values its prepare derives), the class record with the lens catalogue,
// and the drawing shared by the evaluate entries and the benchmarks.
#pragma once

#include <cstdint>

#include "render/voshpost/pixel_list.h"
#include "render/voshpost/postprocess.h"

namespace vo::post {

enum FlareShape : int32_t { kShapeNone, kShapeCircle, kShapePolygon, kShapeArcPolygon };
enum FlareRays : int32_t { kRaysNone, kRaysRandom, kRaysRegular, kRaysMixed, kRaysSemiRegular };

constexpr int kGlowTableSize = 300;
constexpr int kMostBlades = 30;

struct FlareGhost {
  float position, size;
  float colour[3];
  float falloff;
  float t1, t2, t3, far;  // profile thresholds and the constant of the outer piece
};

struct FlareClass;

struct FlareData {
  VtPostprocessHead head;  // prepared flag, mode word 0x440013
  uint32_t ownStore;       // the current run made its own source store
  // The arguments, in label order.
  char *lens;
  float fov, sizeRange, intensity, rotation, glowRadius;
  char *glowShape;
  float glowFocus, glowColour[3], glowFactor;
  int32_t irisBlades;
  float irisBladeShape;
  char *haloShape;
  float haloRadius, haloWidth, haloColour[3], haloFactor;
  char *raysType, *raysShape;
  int32_t raysCount;
  float raysFactor, raysColour[3], raysContrast, raysRange, raysRotation;
  int32_t ghosts;
  char *ghostsShape;
  float ghostsFactor, ghostsMin, ghostsMax;
  float minIntensity, maxIntensity;
  uint32_t checkDepth, clampColour;
  // Prepared values.
  int32_t glowShapeCode, haloShapeCode, raysTypeCode, raysShapeCode, ghostsShapeCode;
  float glowA, glowB, glowE[3], glowEnd;  // profile constants; the table spans r in [0, glowEnd]
  float haloW, haloK, haloColourFactor[3];
  float raysF, raysW, raysFall;
  float cosRotation, sinRotation, cosRays, sinRays;
  uint32_t rotated, raysRotated;
  float irisNormal[kMostBlades][2];
  int32_t ghostCount;
  float *glowTable;  // kGlowTableSize x 3, or null
  FlareGhost *ghostRecords;
  FlareClass *cls;
};

// The light sources of a drawing, in walk order.
struct FlareSources {
  VtFlareSource *items;
  uint32_t count;
};

// Prepares the instance: checks (diagnostics 845-847, 2697) and derived
// values; answers 0 or the failure.
VtStatus FlarePrepare(FlareData *d);
// Draws the sources onto the buffer's region (mode 1: image mode); answers
// 0, 0x40 on an interrupt, or a failure.
VtStatus FlareDraw(const FlareData *d, VtScreenBuffer *b, const FlareSources &sources, uint32_t mode);
// The pixels of the buffer's region with a component at or above the
// minimum, as a pixel list, or null (status set).
VtPixelList *FlareSourcesFromImage(VtScreenBuffer *b, float minimum, VtStatus *st);
// The walk of a source store into an array (VoAllocate; freed by the caller).
VtStatus FlareSourcesOf(VtPixelList *store, FlareSources *out);
// The profile of ghosts at q (in units of the ghost's size).
inline float GhostProfile(const FlareGhost &g, float q) {
  if (q < g.t1) {
    const float a = 1 - q / g.t1;
    return a * a + 0.6f;
  }
  if (q < g.t2) return q * 0.5f + 0.6f;
  if (q < g.t3) {
    const float a = 2 * g.t2 - q;
    return a * a * a * a * g.far;
  }
  return 0;
}

// The catalogue: the captured shader of a preset, or null.
VtShader *FlareCatalogueFind(const char *name);

}  // namespace vo::post
