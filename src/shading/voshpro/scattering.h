// The light-scattering foreground's records: its instance data (the
// arguments and the values its preparation makes from them), the state each
// context keeps in the module record (caches only: the light volumes of the
// current image, the scene's bounds, the sample arrays of one ray), and the
// formulas tests check by hand.
#pragma once

#include "shading/voshpro/voshpro.h"

namespace vo::pro {

extern const ClassDescription kScattering;

// What the preparation makes of the arguments.
struct ScatterValues {
  float density;
  int32_t samples;
  float aaFraction;  // of the colour totals, the subdivision threshold
  int32_t aaLevel;
  float maxDepth;
  float falloff;
  float source, surface, volume;  // attenuations
  int32_t model;
  float eccentricity;
  int32_t octaves;
  float amplitude;
  float inverseScale;
  float bias;
};

struct ScatterData {
  int32_t prepared;
  float density;
  int32_t samples;
  float aaThreshold;
  int32_t aaLevel;
  float maxDepth;
  float falloffThreshold;
  float sourceAttenuation;
  float surfaceAttenuation;
  float volumeAttenuation;
  char *model;  // owned
  float eccentricity;
  int32_t octaves;
  float noiseAmplitude;
  float noiseScale;
  float noiseGain;
  int32_t bounds;
  VtBounds boundsVolume;
  ScatterValues values;
};

enum ScatterKind : int32_t { kScatterSpot = 0, kScatterProjector = 1, kScatterPoint = 2 };

struct ScatterVolume {
  ScatterVolume *next;
  int32_t kind;
  VtShader *light;
  float colour[3];
  float intensity;
  float location[3];
  float to[3];
  float axis[3];  // from the location toward "to" (unit)
  float slope;    // of the cone
  float reach;    // 1e10 or more: unbounded
};

struct ScatterSample {
  float colour[3];
  float visibility;
  float t;  // from the eye
  float fraction;
  int32_t used;
};

// The state of one context (the module record's word 0): its instances
// count it; a worker's copy starts empty and builds its own volumes.
struct ScatterState {
  int32_t references;
  int32_t built;  // the volumes are those of the current image
  ScatterVolume *volumes;
  VtBounds scene;
  ScatterSample *samples;
  uint32_t sampleCount;
  float *fractions;
  uint32_t fractionSamples;
  int32_t cappedPosted;
};

// The phase function of the model at the cosine c (a - t >= 0: forward).
double ScatterPhase(int32_t model, double g, double c, bool forward);
// The distance from the entry of the sample at fraction f, for depths w0 and
// w1 of entry and exit along the light's axis and the segment's length.
double ScatterSampleDistance(double f, double w0, double w1, double length);
// The AA level used for the sample count: the largest up to the given one
// with 2^level x samples + 1 records at most 2^20.
int32_t ScatterLevelUsed(int32_t samples, int32_t level);
// The prepared values of the arguments.
void ScatterPrepareValues(const ScatterData &d, ScatterValues *v);

}  // namespace vo::pro
