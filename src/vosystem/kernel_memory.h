// Kernel memory settings and the kernel's own pools.
#pragma once

#include <cstdint>

namespace vo {

struct KernelMemory {
  uint32_t chunk_bytes;        // control 0x10009
  uint32_t big_chunk_bytes;    // control 0x10011
  uint32_t free_chunks;        // control 0x10008
  uint32_t compaction;         // control 0x1000e
  uint32_t compact_threshold;  // control 0x10012
  uint32_t pools_made;
};

}  // namespace vo
