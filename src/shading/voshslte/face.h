// The super-lite library's face.
#pragma once

#include "shading/voshslte/voshslte.h"
