// A started kernel with the geometry module (GeometryTest), and with the
// polygon module too (PolygonModuleTest); small meshes made element by
// element (MeshBuild) or from position and index lists.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <vector>

#include "support/kernel_fixture.h"
#include "scene/vogeom/scene.h"

namespace vo::test {

using Positions = std::vector<std::array<float, 3>>;

// The address of a property in an element's data block (the primitive's for
// primitive codes), or null when the layout lacks it.
template <class T>
T *PropertyAt(VtPrimitive *p, void *element, uint32_t code) {
  return PropertyField<T>(p, element, code);
}

// The data of a reference ring's nodes, first node to last.
template <class T = void>
std::vector<T *> RingData(const VtReference *ring) {
  std::vector<T *> out;
  for (const VtReference *n = ring ? ring->next : nullptr; n != nullptr && out.size() < 100000;
       n = n == ring ? nullptr : n->next)
    out.push_back(static_cast<T *>(n->data));
  return out;
}

// A property data record naming an array.
inline VtTypedValue PropertyRecord(const void *array) { return TypedPointer(const_cast<void *>(array)); }

class GeometryTest : public PooledKernelTest {
 protected:
  void SetUp() override { StartModules({&VoEntryGeometry}); }
  void StartModules(std::initializer_list<VtQueryFunction> modules) {
    PooledKernelTest::SetUp();
    for (VtQueryFunction m : modules) ASSERT_EQ(VoInstallModule(m), 0u);
    ASSERT_EQ(VoSystemStart(), 0u);
    g_posted.clear();
  }

 public:
  static VtContents *Contents(std::initializer_list<uint32_t> codes) {
    return VoContentsCreate(static_cast<uint32_t>(codes.size()), codes.begin());
  }
  // The codes plus the rings of a mesh: polys, verts and polygon next.
  static VtContents *MeshContents(std::initializer_list<uint32_t> codes) {
    const uint32_t rings[] = {VO_PRIM_POLYS, VO_PRIM_VERTS, VO_POLY_NEXT};
    return VoContentsUnion(Contents(codes), 3, rings);
  }
  // A list primitive (type 9, or another) over the members.
  static VtPrimitive *ListOf(std::vector<VtPrimitive *> members, uint32_t type = VO_PRIMITIVE_LIST) {
    VtPrimitive *list = VoPrimitiveCreate(Contents({VO_PRIM_PREFS, VO_PRIM_PARENT}), type);
    *PropertyAt<VtReference *>(list, nullptr, VO_PRIM_PREFS) =
        VoPrimitiveListCreate(static_cast<uint32_t>(members.size()), members.data());
    return list;
  }
};

// Builds a primitive from positions and faces (vertex indices), linking the
// vertex ring (verts, next), the polygon ring (polys, next) and each
// polygon's vertex-reference ring in face order.
struct MeshBuild {
  VtPrimitive *primitive = nullptr;
  std::vector<VtVertex *> vertices;
  std::vector<VtPolygon *> polygons;

  MeshBuild(VtContents *contents, uint32_t type, const std::vector<std::vector<float>> &positions,
            const std::vector<std::vector<uint32_t>> &faces) {
    if ((primitive = VoPrimitiveCreate(contents, type)) == nullptr) return;
    for (const std::vector<float> &xyz : positions) {
      VtVertex *v = VoVertexCreate(primitive);
      if (v == nullptr) return;
      if (float *w = PropertyAt<float>(primitive, v, VO_VERT_WORLD))
        for (size_t i = 0; i < 3 && i < xyz.size(); ++i) w[i] = xyz[i];
      vertices.push_back(v);
    }
    Link(VO_PRIM_VERTS, VO_VERT_NEXT, vertices);
    for (const std::vector<uint32_t> &face : faces) {
      polygons.push_back(VoPolygonCreate(primitive));
      if (polygons.back() == nullptr) return;
      VtReference *ring = nullptr;
      for (uint32_t index : face)
        ring = VoPrimitiveReferenceAppend(ring, VoReferenceNodeCreate(vertices[index]));
      *PropertyAt<VtReference *>(primitive, polygons.back(), VO_POLY_VREFS) = ring;
    }
    Link(VO_PRIM_POLYS, VO_POLY_NEXT, polygons);
  }

  // The elements of a ring, in ring order.
  static std::vector<void *> Ring(VtPrimitive *p, uint32_t head_code, uint32_t next_code) {
    std::vector<void *> out;
    void **head = PropertyAt<void *>(p, nullptr, head_code);
    for (void *e = head ? *head : nullptr; e != nullptr && out.size() < 100000;) {
      out.push_back(e);
      void **next = PropertyAt<void *>(p, e, next_code);
      e = next && *next != out[0] ? *next : nullptr;
    }
    return out;
  }
  // The vertices a polygon's reference ring names, in boundary order.
  static std::vector<void *> Boundary(VtPrimitive *p, void *polygon) {
    return RingData(*PropertyAt<VtReference *>(p, polygon, VO_POLY_VREFS));
  }

 private:
  template <class T>
  void Link(uint32_t head_code, uint32_t next_code, const std::vector<T *> &ring) {
    if (ring.empty()) return;
    if (void **head = PropertyAt<void *>(primitive, nullptr, head_code)) *head = ring.front();
    for (size_t i = 0; i < ring.size(); ++i)
      if (void **next = PropertyAt<void *>(primitive, ring[i], next_code))
        *next = ring[(i + 1) % ring.size()];
  }
};

class PolygonModuleTest : public GeometryTest {
 protected:
  void SetUp() override { StartModules({&VoEntryGeometry, &VoEntryPolygons}); }

 public:
  // A polygon primitive of the positions (world only).
  static VtPrimitive *Polygon(const Positions &xyz) {
    const uint32_t ids[] = {VO_VERT_WORLD};
    const VtTypedValue data[] = {PropertyRecord(xyz.data())};
    return VoPrimitiveCreatePolygon(static_cast<uint32_t>(xyz.size()), 1, ids, data);
  }
  // A mesh of the positions with one contour per face, with vertex normals
  // (all (0, 0, 1)) when asked for.
  static VtPrimitive *Mesh(const Positions &xyz, const std::vector<std::vector<int32_t>> &faces,
                           bool normals = false) {
    std::vector<int32_t> counts, indices;
    for (const auto &f : faces) {
      counts.push_back(static_cast<int32_t>(f.size()));
      indices.insert(indices.end(), f.begin(), f.end());
    }
    return MeshOf(xyz, nullptr, counts, indices, normals);
  }
  // A mesh from the raw arrays (contours may be null: one contour a face).
  static VtPrimitive *MeshOf(const Positions &xyz, const std::vector<int32_t> *contours,
                             const std::vector<int32_t> &counts, const std::vector<int32_t> &indices,
                             bool normals = false) {
    const Positions up(xyz.size(), {0, 0, 1});
    const uint32_t ids[] = {VO_VERT_WORLD, VO_VERT_NORMAL};
    const VtTypedValue data[] = {PropertyRecord(xyz.data()), PropertyRecord(up.data())};
    const auto faces = static_cast<uint32_t>(contours ? contours->size() : counts.size());
    return VoPrimitiveCreateMesh(faces, contours ? contours->data() : nullptr, counts.data(), indices.data(),
                                 normals ? 2 : 1, ids, data);
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
