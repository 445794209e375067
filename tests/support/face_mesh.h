// A mesh primitive made from corner positions and faces (vertex indices,
// counter-clockwise seen from outside); null when the library refuses it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "support/kernel_fixture.h"

namespace vo::test {

inline VtPrimitive *FaceMesh(const std::vector<std::array<float, 3>> &xyz,
                             const std::vector<std::vector<int32_t>> &faces) {
  std::vector<int32_t> counts, indices;
  for (const auto &f : faces) {
    counts.push_back(static_cast<int32_t>(f.size()));
    indices.insert(indices.end(), f.begin(), f.end());
  }
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {TypedPointer(const_cast<std::array<float, 3> *>(xyz.data()))};
  return VoPrimitiveCreateMesh(static_cast<uint32_t>(faces.size()), nullptr, counts.data(), indices.data(), 1,
                               ids, data);
}

}  // namespace vo::test
