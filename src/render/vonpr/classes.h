// The NPR shader classes' descriptions, one per class, for the module's
// ordered creator table (classes.cpp), and what their files share.
#pragma once

#include "render/vonpr/npr.h"
#include "shading/shaderlib/face.h"
#include "kernel/vosystem/face.h"

namespace vo::npr {

// Reflectances (reflectances.cpp).
extern const shaderlib::ClassDescription kPhongCartoon, kPhongCartoon3, kThreeBand, kTechnical;
// Shadow and edge shaders (shadows.cpp).
extern const shaderlib::ClassDescription kEdgeTransparency, kShadowTransparency, kShadowReflectance;
// Colours (colours.cpp).
extern const shaderlib::ClassDescription kNprBlueMarble, kNprSimpleWood, kPencilSeed;
// The atmospheric foreground (atmosphere.cpp) and its instance's flake flags.
extern const shaderlib::ClassDescription kAtmospheric;
const uint8_t *AtmosphericFlags(const void *block);
// Image backgrounds and the two-shaders foreground (composing.cpp).
extern const shaderlib::ClassDescription kBufferedImage, kNprImage, kTwoShaders;

// An argument of a shader read only when its class has the label (no
// diagnostic for a label it lacks); false when it has not or the read
// fails. The value's type is cleared first.
bool ArgumentRead(VtShader *shader, const char *label, VtTypedValue *value);

// The thresholds t0-t3 of the three colour bands.
void ThreeBandThresholds(float band2_max, float band2_smooth, float band3_max, float band3_smooth,
                         float t[4]);
// The band value of x over thresholds t0-t3: low up to t0, smoothly to
// middle by t1, middle up to t2, smoothly to high by t3, high beyond.
float Band(const float t[4], float x, float low, float middle, float high);

// The pencil seed's frame from the current view: unit view direction f,
// side s and up v, and the resolution; false without a usable view.
bool PencilSeedFrame(double f[3], double s[3], double v[3], uint32_t *xres, uint32_t *yres);
// The pencil seed's field value for the shading normal (the screen
// direction of the tangent, or (0, 0)) and the resolution it belongs to
// (0 x 0 without a view).
void PencilSeedValue(const float *normal, float value[2], uint32_t *xres, uint32_t *yres);

// The shading point's pixel: floor(xp), floor(yp).
inline int32_t PixelOf(float p) {
  const float f = std::floor(p);
  return f >= -2147483648.0f && f < 2147483648.0f ? static_cast<int32_t>(f) : INT32_MIN;
}

}  // namespace vo::npr
