// The stage's own post-process classes: their instance data (a head with the
// prepared flag and the mode word, then the arguments, then derived words),
// and the slot procedures the creators register.
#pragma once

#include <cstddef>
#include <cstdint>

#include "render/voshpost/depth_of_field.h"
#include "render/voshpost/postprocess.h"

namespace vo::post {

// Classes served by the shared post-process set bodies keep their arguments
// in the head's words: argument k in word[k].
constexpr uint32_t kWord0 = offsetof(VtPostprocessWordArgs, word);
constexpr uint32_t kWord1 = kWord0 + sizeof(VtShaderWord);
constexpr uint32_t kWord2 = kWord1 + sizeof(VtShaderWord);

struct LinearScaleData {
  VtPostprocessWordArgs args;  // min intensity, max intensity (floats)
  float scale;
};
struct RenderLightsData {
  VtPostprocessHead head;
  float flareConstant;
  char *select;  // owned copy
  uint32_t selectCode;
};
struct RenderDepthData {
  VtPostprocessHead head;
};
struct MatrixData {
  VtPostprocessWordArgs args;  // rows, columns (integers), the application's matrix
  const float *inUse;
};
struct InterlaceData {
  VtPostprocessWordArgs args;  // buffer1, buffer2, half resolution
};
struct GlowData {
  VtPostprocessHead head;
  float minThreshold, maxThreshold, intensity, range;
  float r2, k;
};
struct Flares3dData {
  VtPostprocessWordArgs args;  // visible flare, hidden flare, flare const (float)
};
struct FfaaSeedData {
  VtPostprocessWordArgs args;  // threshold (float), update rgb, update stencil
  uint32_t width, height, mask;
};
struct FfaaPropagatorData {
  VtPostprocessHead head;
  int32_t haltonSamples, earlyOut;
  float sensitivity;
  int32_t yRadix, xRadix;
  uint32_t keepSeed, dumpEachStage;
  int32_t feedbackRate;
  int32_t samplesInUse, feedbackInUse, earlyOutInUse;
  uint32_t width, height, mask;
};
struct DepthOfFieldData {
  VtPostprocessHead head;
  float focalLength, aperture, focusPlane, nearFocus, farFocus, nearBlur, farBlur;
  uint32_t ignoreBackground;
  float units;
  DofLens lens;  // derived by the prepare
};
struct BlurData {
  VtPostprocessHead head;
  int32_t range;
  float weight;
};
struct AverageFramesData {
  VtPostprocessHead head;
  VtScreenBuffer *source;
  int32_t accumulated;
  uint32_t dither, updateRgb;
  int32_t feedbackRate;
};
struct ArchiveData {
  VtPostprocessHead head;
  char *driverName;  // owned copies
  char *fileName;
};
struct ExecuteData {
  VtPostprocessHead head;
  uint32_t method;
};

// Bodies (bodies.cpp).
VtStatus LinearScalePrepare(void *data);
VtStatus LinearScaleEvaluate(void *data);
VtStatus RenderDepthEvaluate(void *data);
VtStatus MatrixPrepare(void *data);
VtStatus MatrixEvaluate(void *data);
VtStatus InterlacePrepare(void *data);
VtStatus InterlaceEvaluate(void *data);
VtStatus GlowPrepare(void *data);
VtStatus GlowEvaluate(void *data);
VtStatus BlurPrepare(void *data);
VtStatus BlurEvaluate(void *data);
VtStatus ExecuteEvaluate(void *data);
// Frame averaging and archive (frames.cpp).
VtStatus AverageFramesEvaluate(void *data);
VtStatus ArchiveEvaluate(void *data);

// Render lights and flares 3d (light_passes.cpp): flares 3d holds its two
// shaders with a reference each through its own set and destroy entries.
VtStatus RenderLightsPrepare(void *data);
VtStatus RenderLightsEvaluate(void *data);
VtStatus Flares3dPrepare(void *data);
VtStatus Flares3dEvaluate(void *data);
VtStatus Flares3dEvaluateImage(void *data);
VtStatus Flares3dSet(void *data, uint32_t index, VtTypedValue *value);
VtStatus Flares3dDestroy(void *data);
// The antialiasing seed and propagator (ffaa.cpp) and depth of field
// (depth_of_field.cpp).
VtStatus FfaaSeedEvaluate(void *data);
VtStatus FfaaPropagatorEvaluate(void *data);
VtStatus DepthOfFieldPrepare(void *data);
VtStatus DepthOfFieldEvaluate(void *data);

// The 8 x 8 dither table of frame averaging: cells in [0.5, 1.5) when
// dithering, 1 otherwise.
void DitherTable(int32_t accumulated, bool dither, float table[8][8]);

// The 5-row, 3-column kernel the matrix class uses without a matrix.
extern const float kBuiltInMatrix[15];

// The per-pixel weight of glow's gather sums at an offset other than the
// centre (0 outside the radius); the bright test is "some component above
// the min threshold".
float GlowWeight(const GlowData *d, float xf, float yf);

}  // namespace vo::post
