// The ray tracer's face.
#pragma once

#include "render/vorenray/vorenray.h"
