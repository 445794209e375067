// The solid colours the lite and NPR libraries share: blue marble and
// simple wood evaluated at a point the caller chooses (the lite classes
// pass P, the NPR ones Pw).
#pragma once

#include <vo/vo_shaderlib.h>

namespace vo::lite {

// The blue marble colour at the point, from the prepared parameters.
void BlueMarbleColourAt(const VtBlueMarbleParams *b, const float *point, float out[3]);
// The simple wood colour at the point between the given light and dark
// colours, from the prepared parameters.
void SimpleWoodColourAt(const VtSimpleWoodParams *b, const float light[3], const float dark[3], const float *point,
                        float out[3]);

}  // namespace vo::lite
