// A started kernel with the geometry module, and a builder of small meshes
// made element by element through the geometry module's own procedures.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "support/kernel_fixture.h"
#include "vogeom/scene.h"

namespace vo::test {

// The address of a property in an element's data block (the primitive's for
// primitive codes), or null when the layout lacks it.
template <class T>
T *PropertyAt(VtPrimitive *p, void *element, uint32_t code) {
  const int32_t offset = VoPropertyGetOffset(p->contents, code);
  if (offset < 0) return nullptr;
  void *block = CodeKind(code) == VO_ELEMENT_PRIMITIVE ? p->data : element;
  return reinterpret_cast<T *>(static_cast<char *>(block) + offset);
}

class GeometryTest : public PooledKernelTest {
 protected:
  void SetUp() override {
    PooledKernelTest::SetUp();
    ASSERT_EQ(VoInstallModule(&VoEntryGeometry), 0u);
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
    primitive = VoPrimitiveCreate(contents, type);
    if (primitive == nullptr) return;
    for (const std::vector<float> &xyz : positions) {
      VtVertex *v = VoVertexCreate(primitive);
      if (v == nullptr) return;
      if (float *w = PropertyAt<float>(primitive, v, VO_VERT_WORLD))
        for (size_t i = 0; i < 3 && i < xyz.size(); ++i) w[i] = xyz[i];
      vertices.push_back(v);
    }
    Link(VO_PRIM_VERTS, VO_VERT_NEXT, vertices);
    for (const std::vector<uint32_t> &face : faces) {
      VtPolygon *q = VoPolygonCreate(primitive);
      if (q == nullptr) return;
      VtReference *ring = nullptr;
      for (uint32_t index : face)
        ring = VoPrimitiveReferenceAppend(ring, VoReferenceNodeCreate(vertices[index]));
      if (VtReference **vrefs = PropertyAt<VtReference *>(primitive, q, VO_POLY_VREFS)) *vrefs = ring;
      polygons.push_back(q);
    }
    Link(VO_PRIM_POLYS, VO_POLY_NEXT, polygons);
  }

  // The elements of a ring, in ring order.
  static std::vector<void *> Ring(VtPrimitive *p, uint32_t head_code, uint32_t next_code) {
    std::vector<void *> out;
    void **head = PropertyAt<void *>(p, nullptr, head_code);
    void *first = head ? *head : nullptr;
    for (void *e = first; e != nullptr && out.size() < 100000;) {
      out.push_back(e);
      void **next = PropertyAt<void *>(p, e, next_code);
      e = next ? *next : nullptr;
      if (e == first) break;
    }
    return out;
  }

  // The vertices a polygon's reference ring names, in boundary order.
  static std::vector<void *> Boundary(VtPrimitive *p, void *polygon) {
    std::vector<void *> out;
    VtReference **vrefs = PropertyAt<VtReference *>(p, polygon, VO_POLY_VREFS);
    if (vrefs == nullptr || *vrefs == nullptr) return out;
    const VtReference *node = *vrefs;
    do {
      node = node->next;
      out.push_back(node->data);
    } while (node != *vrefs);
    return out;
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

}  // namespace vo::test
