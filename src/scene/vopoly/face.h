// The polygon module's face: polygon and mesh records as other modules build them.
#pragma once

#include "scene/vopoly/polygons.h"
