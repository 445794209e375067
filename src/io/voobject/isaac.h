// The ISAAC generator (32-bit words, 256-word state) and the byte
// permutation of object files that it draws from the 256 seed words of a
// file's header.
#pragma once

#include <cstdint>

namespace vo::object {

struct IsaacState {
  uint32_t count;  // results left to draw
  uint32_t result[256];
  uint32_t memory[256];
  uint32_t a, b, c;
};

// The seeded initialisation: result[] holds the seeds on entry; the state
// ends after one generation step with 256 results to draw.
void IsaacInitialise(IsaacState *s);
// One generation step: 256 new results.
void IsaacGenerate(IsaacState *s);
// The next word, drawn from the top of the results down.
uint32_t IsaacDraw(IsaacState *s);

// The forward table (written byte x becomes forward[x]) and its inverse,
// built from the seeds: the low bytes of successive draws, each kept the
// first time it appears.
void ByteTablesBuild(IsaacState *s, const uint32_t seeds[256], uint8_t forward[256], uint8_t inverse[256]);

}  // namespace vo::object
