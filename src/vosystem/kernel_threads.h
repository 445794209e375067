// Kernel locks, thread records and the context-variables registry.
#pragma once

#include <cstdint>

namespace vo {

struct KernelThreads {
  uint32_t threading;
};

}  // namespace vo
