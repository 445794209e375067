// Kernel maths internals shared with the memory services.
#pragma once

#include "vosystem/kernel.h"

namespace vo {

// With the kernel pools: seeds the shared generator and makes the
// random-float table of 100 entries.
VtStatus KernelRandomMake(VtKernelContext *k);

}  // namespace vo
