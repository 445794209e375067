// The standard renderer's face: its classes and scanline loop, which the
// advanced renderer and the ray tracer's preview build on.
#pragma once

#include "render/vorenstd/renderer.h"
