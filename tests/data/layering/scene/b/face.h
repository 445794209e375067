// Face of b.
#pragma once
#include "kernel/a/face.h"
