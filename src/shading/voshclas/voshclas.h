// The classic shader library's private header: its thirteen classes, which
// the module's start registers in the library's order, and the instance
// data of the classes tests look into.
#pragma once

#include "shading/shaderlib/face.h"

namespace vo::classic {

using namespace shaderlib;

// Reflectances (reflectances.cpp).
extern const ClassDescription kConductor, kDielectric, kEnvironmentReflectance, kGlass, kMirror, kMirrorMap;
// Foregrounds (fog.cpp).
extern const ClassDescription kGroundFog, kFogLight;
// Backgrounds and the decal colour (composing.cpp).
extern const ClassDescription kRayCube, kTwoPlanes, kEnvironmentBackground, kDecal;
// The projector light (projector.cpp).
extern const ClassDescription kProjector;

// The projector's words in its light record's class area.
struct ProjectorWords {
  VtAdvancedLightWords common;
  float angle;       // the "angle" argument: the full cone in degrees
  float coneDelta;   // 5 degrees
  char *fileName;    // owned
  char *loadedName;  // the name the texture was read from (owned), or null
  float upVector[3];
  float halfTangent;
  float planeInverse;
  float softness;        // effective
  int32_t fewest, most;  // samples
};
static_assert(sizeof(ProjectorWords) <= VO_LIGHT_CLASS_AREA_BYTES);
static_assert(offsetof(ProjectorWords, common) == 0);

// The projection of a point (moved off the surface along the normal) on
// the projector's frame; false behind the projector.
bool ProjectorProject(const VtLightData *light, const float *point, const float *normal, float *u, float *v,
                      float *depth);

}  // namespace vo::classic
