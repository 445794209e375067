// Upward outside neighbours.cpp.
#include "kernel/a/own.h"
#include "scene/b/face.h"
