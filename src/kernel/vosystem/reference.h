// Kernel-side helpers of the reference lists.
#pragma once

#include "kernel/vosystem/kernel.h"

namespace vo {

// Returns one node to the kernel's list-node pool.
void ReferenceNodeFree(VtReference *node);

// Calls f(node) for every node of a reference ring, first node (the
// handle's next) to last (the handle); nothing for a null ring.
template <class F>
void ForEachNode(VtReference *ring, F &&f) {
  if (ring == nullptr) return;
  VtReference *node = ring;
  do {
    node = node->next;
    f(node);
  } while (node != ring);
}

// The same walk, stopped by the first node for which f answers a non-zero
// status; answers that status, or 0 when every node passed.
template <class F>
VtStatus ForEachNodeUntil(VtReference *ring, F &&f) {
  if (ring == nullptr) return 0;
  VtReference *node = ring;
  do {
    node = node->next;
    if (VtStatus s = f(node)) return s;
  } while (node != ring);
  return 0;
}

}  // namespace vo
