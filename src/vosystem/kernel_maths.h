// Kernel random states, random-float table and square-root tables.
#pragma once

#include <cstdint>

namespace vo {

struct KernelMaths {
  uint32_t sqrt_precision;
};

}  // namespace vo
