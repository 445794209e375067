// The work farm's face: what a module asks of the farm's workers and main thread.
#pragma once

#include "kernel/vomultit/multithread.h"
