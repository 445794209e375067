// The screen buffer's face.
#pragma once

#include "render/voscrbuf/screenbuf.h"
