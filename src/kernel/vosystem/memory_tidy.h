// The memory tidy with pools that keep their chunks: a renderer's end of
// frame, whose pools the next frame carves the same records from again.
#pragma once

#include <cstddef>

#include "kernel/vosystem/kernel.h"

namespace vo {

// The kernel's step of the tidy (every pool's unused chunks given back),
// but the count pools named in kept keep theirs; those with no block in
// use have their free list rewound.
VtStatus KernelMemoryTidyKeeping(VtPool *const *kept, size_t count);
// VoMemoryTidy with the pools named in kept keeping their chunks.
VtStatus MemoryTidyKeeping(VtPool *const *kept, size_t count);
// A pool with no block in use: its free list rebuilt in chunk and address
// order, so that the next blocks handed out lie side by side again rather
// than in the order the last ones were given back (a no-op otherwise).
void PoolFreeListRewind(VtPool *pool);

}  // namespace vo
