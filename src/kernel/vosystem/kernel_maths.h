// Kernel random states and the random-float table.
#pragma once

#include <cstdint>

namespace vo {

// A generator state: a spare word, then the 48-bit state as three 16-bit
// limbs, low first.
struct RandomState {
  uint32_t spare;
  uint32_t x0, x1, x2;
};
static_assert(sizeof(RandomState) == 16);

struct KernelMaths {
  RandomState random;  // the shared generator state
  float *table;        // the random-float table
  uint32_t table_length;
  uint32_t table_index;
};

}  // namespace vo
