// The colour module's face: colour conversions.
#pragma once

#include "scene/vocolour/colour.h"
