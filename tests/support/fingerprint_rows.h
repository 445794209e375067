// Tables of fingerprinted renders of the meeting scenes
// (support/meeting_scenes.h). A row names its scene by kind, size and seed
// and keeps the fingerprints of four renders of it, one a column: each the
// render's status and output folded by FNV-1a (support/fingerprint.h). On
// the calling thread a render must give the fingerprint recorded, and on
// three workers the calling thread's, so that a faster search, sort or
// merge leaves every picture as it was, byte for byte. Every render starts
// the library afresh and terminates it, so that no row leans on what an
// earlier one left; a failing row prints its scene and its fingerprint.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <ios>
#include <ostream>
#include <vector>

#include <vo/vo_api.h>

#include "support/fingerprint.h"
#include "support/meeting_scenes.h"

namespace meeting_scenes {

using vo::test::FnvMix;
using vo::test::kFnvBasis;

// Whether clang built the test: the fingerprints were taken from gcc's
// build, and clang's rounding may differ from it.
#if defined(__clang__)
constexpr bool kBuiltByClang = true;
#else
constexpr bool kBuiltByClang = false;
#endif

// The scene of a row, as a failing row prints it.
struct RowScene {
  const char *what;
  Kind kind;
  int n;
  uint32_t seed;
};
inline std::ostream &operator<<(std::ostream &out, const RowScene &s) {
  return out << s.what << " (" << s.n << ", seed " << s.seed << ")";
}

// The mesh made the scene's only primitive, seen from (4, 3, 5) looking at
// the origin with the y axis up, in perspective through 45 degrees, at
// width x height. MeshUnshow takes it down again before the library is
// terminated.
struct MeshShown {
  VtPrimitive *primitive = nullptr;
  VtReference *list = nullptr;
};
inline MeshShown MeshShow(const Mesh &mesh, int32_t width, int32_t height) {
  const std::vector<int32_t> counts(mesh.indices.size() / mesh.corners, mesh.corners);
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1]{};
  data[0].type = VtGenericPtr;
  data[0].value.p = const_cast<float *>(mesh.xyz.data());
  MeshShown shown;
  shown.primitive = VoPrimitiveCreateMesh(static_cast<uint32_t>(counts.size()), nullptr, counts.data(),
                                          mesh.indices.data(), 1, ids, data);
  EXPECT_NE(shown.primitive, nullptr);
  shown.list = VoPrimitiveListCreate(1, &shown.primitive);
  const float eye[3] = {4, 3, 5}, origin[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  EXPECT_EQ(VoPrimitiveListSet(shown.list) | VoViewSetResolution(nullptr, width, height, 1.0) |
                VoViewSetPinhole(nullptr, eye, origin, up, VO_PROJECTION_PERSPECTIVE, 45.0) |
                VoViewAutoClipping(nullptr),
            0u);
  return shown;
}
inline void MeshUnshow(const MeshShown &shown) {
  (void)VoPrimitiveListSet(nullptr);
  (void)VoReferenceListDestroy(shown.list, nullptr);
  EXPECT_EQ(VoPrimitiveDestroy(shown.primitive), 0u);
}

// Checks every row of a table whose rows hold `scene` and `recorded[4]`:
// take(mesh, row, column, workers) answers the fingerprint of the column's
// render of the row's mesh on the worker count. It must be the recorded
// one on the calling thread where recorded(row) holds (where the build
// rounds as the recording's did), and the calling thread's on three
// workers. `columns` names the columns for a failing row.
template <class Row, size_t N, class Take, class Recorded>
void RowsCheck(const Row (&rows)[N], const char *const (&columns)[4], Take &&take, Recorded &&recorded) {
  for (const Row &row : rows) {
    const Mesh mesh = SceneMake(row.scene.kind, row.scene.n, row.scene.seed);
    for (int c = 0; c < 4; ++c) {
      const uint64_t alone = take(mesh, row, c, 0);
      if (recorded(row)) {
        EXPECT_EQ(alone, row.recorded[c]) << row.scene << ", " << columns[c] << ": 0x" << std::hex << alone;
      }
      EXPECT_EQ(take(mesh, row, c, 3), alone) << row.scene << ", " << columns[c] << ", 3 workers";
    }
  }
}

}  // namespace meeting_scenes
