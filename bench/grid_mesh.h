// The 10^6-triangle mesh the mesh benchmarks share: a 708 x 708 grid of
// vertices (501 264) with normals and texture coordinates, each cell two
// triangles (999 698 in all).
#pragma once

#include <vector>

#include "scene/vogeom/scene.h"
#include "kernel/vosystem/kernel.h"

namespace vo::bench {

constexpr int32_t kSide = 708;

// The grid's arrays, made once.
struct Grid {
  std::vector<float> world, normal, uv;
  std::vector<int32_t> counts, indices;
  Grid() {
    for (int32_t y = 0; y < kSide; ++y) {
      for (int32_t x = 0; x < kSide; ++x) {
        world.insert(world.end(), {float(x), float(y), 0.01f * float((x * y) % 7)});
        normal.insert(normal.end(), {0, 0, 1});
        uv.insert(uv.end(), {float(x) / kSide, float(y) / kSide});
      }
    }
    for (int32_t y = 0; y + 1 < kSide; ++y) {
      for (int32_t x = 0; x + 1 < kSide; ++x) {
        const int32_t i = y * kSide + x;
        indices.insert(indices.end(), {i, i + 1, i + kSide + 1, i, i + kSide + 1, i + kSide});
      }
    }
    counts.assign(indices.size() / 3, 3);
  }
  VtPrimitive *Make() const {
    const uint32_t ids[] = {VO_VERT_WORLD, VO_VERT_NORMAL, VO_VERT_TEXCOORDS};
    VtTypedValue data[3] = {};
    const float *arrays[] = {world.data(), normal.data(), uv.data()};
    for (int i = 0; i < 3; ++i) data[i].value.p = const_cast<float *>(arrays[i]);
    return vo::VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(),
                                     indices.data(), 3, ids, data);
  }
};

inline const Grid &TheGrid() {
  static const Grid grid;
  return grid;
}

}  // namespace vo::bench
