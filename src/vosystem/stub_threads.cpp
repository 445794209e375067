// Minimal thread bookkeeping until locks and thread records land.

#include "vosystem/kernel.h"

namespace vo {

VtStatus KernelThreadsStart() { return 0; }
VtStatus KernelThreadsStop() { return 0; }
bool KernelThreading() {
  VtKernelContext *k = Kernel();
  return k != nullptr && k->threads.threading != 0;
}
void KernelLockEnter() {}
void KernelLockLeave() {}

}  // namespace vo
