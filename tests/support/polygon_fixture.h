// A started kernel with the geometry and polygon modules, and makers of
// polygon and mesh primitives from plain position and index lists.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "support/geometry_fixture.h"

namespace vo::test {

using Positions = std::vector<std::array<float, 3>>;

// A property data record naming an array.
inline VtTypedSlot PropertyRecord(const void *array) {
  VtTypedSlot s{};
  s.tv.type = VtGenericPtr;
  s.tv.value.p = const_cast<void *>(array);
  return s;
}

class PolygonModuleTest : public GeometryTest {
 protected:
  void SetUp() override {
    GeometryTest::SetUp();
    ASSERT_EQ(VoInstallModule(&VoEntryPolygons), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    g_posted.clear();
  }

 public:
  // A polygon primitive of the positions (world only).
  static VtPrimitive *Polygon(const Positions &xyz) {
    const uint32_t ids[] = {VO_VERT_WORLD};
    const VtTypedSlot data[] = {PropertyRecord(xyz.data())};
    return VoPrimitiveCreatePolygon(static_cast<uint32_t>(xyz.size()), 1, ids, data);
  }
  // A mesh of the positions with one contour per face.
  static VtPrimitive *Mesh(const Positions &xyz, const std::vector<std::vector<int32_t>> &faces) {
    std::vector<int32_t> counts, indices;
    for (const auto &f : faces) {
      counts.push_back(static_cast<int32_t>(f.size()));
      indices.insert(indices.end(), f.begin(), f.end());
    }
    return MeshOf(xyz, nullptr, counts, indices);
  }
  // The same with vertex normals (all (0, 0, 1) to begin with).
  static VtPrimitive *MeshWithNormals(const Positions &xyz, const std::vector<std::vector<int32_t>> &faces) {
    std::vector<int32_t> counts, indices;
    for (const auto &f : faces) {
      counts.push_back(static_cast<int32_t>(f.size()));
      indices.insert(indices.end(), f.begin(), f.end());
    }
    return MeshOf(xyz, nullptr, counts, indices, true);
  }
  // A mesh from the raw arrays (contours may be null: one contour a face).
  static VtPrimitive *MeshOf(const Positions &xyz, const std::vector<int32_t> *contours,
                             const std::vector<int32_t> &counts, const std::vector<int32_t> &indices,
                             bool normals = false) {
    const Positions up(xyz.size(), {0, 0, 1});
    const uint32_t ids[] = {VO_VERT_WORLD, VO_VERT_NORMAL};
    const VtTypedSlot data[] = {PropertyRecord(xyz.data()), PropertyRecord(up.data())};
    const uint32_t faces =
        contours ? static_cast<uint32_t>(contours->size()) : static_cast<uint32_t>(counts.size());
    return VoPrimitiveCreateMesh(faces, contours ? contours->data() : nullptr, counts.data(), indices.data(),
                                 normals ? 2 : 1, ids, data);
  }

  // Positions of the vertices a polygon's boundary names, in order.
  static Positions BoundaryPositions(VtPrimitive *p, void *polygon) {
    Positions out;
    for (void *v : MeshBuild::Boundary(p, polygon)) {
      const float *w = PropertyAt<float>(p, v, VO_VERT_WORLD);
      out.push_back({w[0], w[1], w[2]});
    }
    return out;
  }
  static std::vector<void *> Polygons(VtPrimitive *p) {
    return MeshBuild::Ring(p, VO_PRIM_POLYS, VO_POLY_NEXT);
  }
  static std::vector<void *> Vertices(VtPrimitive *p) {
    return MeshBuild::Ring(p, VO_PRIM_VERTS, VO_VERT_NEXT);
  }
  static std::vector<void *> Edges(VtPrimitive *p) { return MeshBuild::Ring(p, VO_PRIM_EDGES, VO_EDGE_NEXT); }

  // A polygon measure through its enquiry or storage.
  static float PolygonFloat(VtPrimitive *p, void *polygon, uint32_t code, uint32_t index = 0) {
    VtTypedValue v{};
    if (VoPolygonGetProperty(p, static_cast<VtPolygon *>(polygon), code, &v) != 0 || v.value.p == nullptr)
      return -12345.0f;
    return static_cast<const float *>(v.value.p)[index];
  }
};

}  // namespace vo::test
