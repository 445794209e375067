// The lite shader library's private header: its classes, which the
// module's start registers in the library's order, and the record of the
// tables shared by a class's instances.
#pragma once

#include "shading/voshlite/lite_common.h"

namespace vo::lite {

// Colours (solids.cpp, wrapped.cpp).
extern const ClassDescription kBaseColour, kBlueMarble, kChrome, kSolidClouds, kCubes, kMarble, kSimpleWood;
extern const ClassDescription kWrappedBrick, kWrappedChecker, kWrappedGrid, kWrappedPolka, kSolidPolka,
    kWrappedSStripe, kWrappedTStripe, kWrappedTexturedBrick, kWrappedDiagonal;
// Reflectances (chrome2d.cpp).
extern const ClassDescription kBaseReflectance, kChrome2D;
// Transparencies (transparencies.cpp).
extern const ClassDescription kBaseTransparency, kCheckerTransparency, kEroded, kGridTransparency,
    kImageTransparency, kMask, kSquare;
// Displacements (displacements.cpp) and their height functions, which read
// the instance data as their parameter block.
extern const ClassDescription kBumpMap, kCasting, kDimple, kKnurl, kOldBumpMap, kRough, kWrappedRough,
    kTreadPlate;
double DimpleHeight(double x, double y, void *data);
double KnurlHeight(double x, double y, void *data);
double TreadPlateHeight(double x, double y, void *data);
// Foregrounds and backgrounds (atmosphere.cpp, mixed.cpp, scaled.cpp).
extern const ClassDescription kDepthCue, kFog, kSnow, kCloudsBackground, kMixed, kScaledImage;

// Makes the module's record of shared tables the master.
void TablesInstall();

}  // namespace vo::lite
