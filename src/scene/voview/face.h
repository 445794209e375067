// The view module's face: views and their evaluation as renderers read them.
#pragma once

#include "scene/voview/view.h"
