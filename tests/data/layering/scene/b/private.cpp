// Reaches a private header of a.
#include "kernel/a/own.h"
#include "scene/b/face.h"
