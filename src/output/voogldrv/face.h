// The OpenGL output targets' face, used by the OpenGL back end.
#pragma once

#include "output/voogldrv/targets.h"
