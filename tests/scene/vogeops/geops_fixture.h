// A started kernel with the stand-in driver framework, the geometry,
// polygon and geometry-operator modules, and readers of the triangles and
// strips the operators leave.
#pragma once

#include <gmpxx.h>

#include <algorithm>
#include <array>
#include <vector>

#include <vo/vo_geops.h>

#include "support/geometry_fixture.h"
#include "support/recording_driver.h"
#include "scene/vogeom/predicates.h"

namespace vo::test {

using Triangle = std::array<void *, 3>;

class GeopsTest : public PolygonModuleTest {
 protected:
  void SetUp() override {
    RecordingDriver::Reset();
    StartModules({&RecordingDriver::Query, &VoEntryGeometry, &VoEntryPolygons, &VoEntryGeometryOperators});
  }

 public:
  // The vertices of every polygon, in ring order.
  static std::vector<std::vector<void *>> Faces(VtPrimitive *p) {
    std::vector<std::vector<void *>> out;
    for (void *g : Polygons(p)) out.push_back(MeshBuild::Boundary(p, g));
    return out;
  }
  static pred::Point2 XY(VtPrimitive *p, void *v) {
    const float *w = PropertyAt<float>(p, v, VO_VERT_WORLD);
    return {w[0], w[1]};
  }
  static mpq_class TwiceArea(pred::Point2 a, pred::Point2 b, pred::Point2 c) {
    const mpq_class ax(a.x), ay(a.y), bx(b.x), by(b.y), cx(c.x), cy(c.y);
    return (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
  }
  // Twice the shoelace area of a ring of points.
  static mpq_class TwiceArea(const std::vector<pred::Point2> &ring) {
    mpq_class sum = 0;
    for (size_t i = 0; i < ring.size(); ++i) {
      const pred::Point2 a = ring[i], b = ring[(i + 1) % ring.size()];
      sum += mpq_class(a.x) * mpq_class(b.y) - mpq_class(b.x) * mpq_class(a.y);
    }
    return sum;
  }
  // A polygon primitive in the plane z = 0.
  static VtPrimitive *Flat(const std::vector<pred::Point2> &ring) {
    Positions xyz;
    for (const pred::Point2 &q : ring)
      xyz.push_back({static_cast<float>(q.x), static_cast<float>(q.y), 0.0f});
    return Polygon(xyz);
  }
  // The points a polygon primitive holds, in ring order.
  static std::vector<pred::Point2> FlatRing(VtPrimitive *p) {
    std::vector<pred::Point2> ring;
    for (void *v : MeshBuild::Boundary(p, Polygons(p)[0])) ring.push_back(XY(p, v));
    return ring;
  }
  // Makes a fresh primitive and runs the operation on it with its n-th
  // allocation failing (the kernel's hook counts blocks, reallocations,
  // chunks and heaps alike), for n = 1, 2, ... until a run meets no
  // failure. A run that met one must answer a non-zero status; failed(p, n)
  // and passed(p) check the primitive, which is destroyed after each run.
  template <class Make, class Run, class Failed, class Passed>
  static void EveryAllocationFailsOn(Make make, Run run, Failed failed, Passed passed) {
    for (uint64_t n = 1; n < 100000; ++n) {
      VtPrimitive *p = make();
      ASSERT_NE(p, nullptr);
      AllocationFailureArm(n);
      const VtStatus s = run(p);
      const bool fired = AllocationFailureFired();
      AllocationFailureArm(0);
      if (!fired) {
        EXPECT_EQ(s, 0u);
        passed(p);
      } else {
        EXPECT_NE(s, 0u) << "allocation " << n << " failed, yet the operation answered success";
        failed(p, n);
      }
      EXPECT_EQ(VoPrimitiveDestroy(p), 0u);
      if (!fired || ::testing::Test::HasFatalFailure()) return;
    }
    ADD_FAILURE() << "the operation still allocated after 100000 runs";
  }
  static VtStatus SetFloat(uint32_t code, float f) {
    const VtTypedValue v = TypedFloat(f);
    return VoControlSet(code, &v);
  }
  // Sets the scene list the operators' execute codes run over.
  static void Scene(std::vector<VtPrimitive *> members) {
    ASSERT_EQ(
        VoPrimitiveListSet(VoPrimitiveListCreate(static_cast<uint32_t>(members.size()), members.data())), 0u);
  }
  // The triangle mesh of a primitive's strips, if it has one.
  static VtTriangleMesh *TriMesh(VtPrimitive *p) {
    VtTriangleMesh **f = PropertyAt<VtTriangleMesh *>(p, nullptr, VO_PRIM_TRI_MESH);
    return f ? *f : nullptr;
  }
  static uint32_t Count(VtPrimitive *p, uint32_t code) {
    const uint32_t *n = PropertyAt<uint32_t>(p, nullptr, code);
    return n ? *n : 0xFFFFFFFFu;
  }
};

// A polygon property of one word whose handlers count their calls.
struct Counted {
  static inline int copies = 0, destroys = 0;
  static inline uint32_t code = 0;
  static VtStatus Copy(VtPrimitive *source, void *from, VtPrimitive *to, void *into) {
    ++copies;
    *ElementField<uint32_t>(into, PropertyOffset(to->contents, code)) =
        *ElementField<uint32_t>(from, PropertyOffset(source->contents, code));
    return 0;
  }
  static VtStatus Destroy(VtPrimitive *, void *) {
    ++destroys;
    return 0;
  }
};

}  // namespace vo::test
