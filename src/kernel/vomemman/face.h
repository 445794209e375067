// The memory manager's face: the block pool record and its procedures.
#pragma once

#include "kernel/vomemman/pool.h"
