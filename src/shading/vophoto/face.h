// The photometry module's face: the luminaire file readers and photometric
// data the goniometric light reads.
#pragma once

#include "shading/vophoto/photometry.h"
