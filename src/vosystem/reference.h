// Kernel-side helpers of the reference lists.
#pragma once

#include "vosystem/kernel.h"

namespace vo {

// Returns one node to the kernel's list-node pool.
void ReferenceNodeFree(VtReference *node);

}  // namespace vo
