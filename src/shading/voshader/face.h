// The shader kernel's face: what renderers and shader libraries ask of it.
#pragma once

#include "shading/voshader/voshader.h"
#include "shading/voshader/jitter.h"
