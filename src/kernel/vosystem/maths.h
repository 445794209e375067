// Kernel maths internals shared with the memory services.
#pragma once

#include <array>

#include "kernel/vosystem/kernel.h"

namespace vo {

// With the kernel pools: seeds the shared generator and makes the
// random-float table of 100 entries.
VtStatus KernelRandomMake(VtKernelContext *k);

// Corner i (0-7) of a box: bit 2 picks xmax, bit 1 ymax, bit 0 zmax.
inline std::array<double, 3> BoundsCorner(const VtBounds &b, int i) {
  return {(i & 4) ? b.xmax : b.xmin, (i & 2) ? b.ymax : b.ymin, (i & 1) ? b.zmax : b.zmin};
}

}  // namespace vo
