// Minimal maths start and stop until the maths utilities land.

#include "vosystem/kernel.h"

namespace vo {

VtStatus KernelMathsStart() { return 0; }
VtStatus KernelMathsStop() { return 0; }

}  // namespace vo
