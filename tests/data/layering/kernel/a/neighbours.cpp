// Upward, listed.
#include "scene/b/face.h"
