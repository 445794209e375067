// The lite library's face: the solid textures and snow that other modules reuse.
#pragma once

#include "shading/voshlite/snow.h"
#include "shading/voshlite/solids.h"
