// A started kernel with the modules a scene needs, installed in start-up
// order: the stand-in driver framework (support/recording_driver.h), views,
// geometry and transforms; and helpers that build small scenes.
#pragma once

#include "support/geometry_fixture.h"
#include "support/recording_driver.h"
#include "kernel/vomemman/pool.h"

namespace vo::test {

class SceneTest : public GeometryTest {
 protected:
  void SetUp() override {
    RecordingDriver::Reset();
    StartModules({&RecordingDriver::Query, &VoEntryView, &VoEntryGeometry, &VoEntryTransforms});
  }

 public:
  static VtTransform *Translation(double x, double y, double z) {
    VtTransform *t = VoTransformCreate();
    const double offset[3] = {x, y, z};
    EXPECT_EQ(VoTransformTranslate(t, offset), 0u);
    return t;
  }

  static void SetPlane(VtPrimitive *p, void *polygon, std::array<float, 4> plane) {
    float *f = PropertyAt<float>(p, polygon, VO_POLY_PLANE);
    ASSERT_NE(f, nullptr);
    for (int i = 0; i < 4; ++i) f[i] = plane[i];
  }
  static const float *World(VtPrimitive *p, void *v) { return PropertyAt<float>(p, v, VO_VERT_WORLD); }
  static const float *Screen(VtPrimitive *p, void *v) { return PropertyAt<float>(p, v, VO_VERT_SCREEN); }
  static VtReference *Clipped(VtPrimitive *p, void *q) {
    return *PropertyAt<VtReference *>(p, q, VO_POLY_VREFSCLIP);
  }
  // The vertices a reference ring names, first node to last.
  static std::vector<void *> Nodes(const VtReference *ring) { return RingData(ring); }
  // The primitives a reference list names, in list order.
  static std::vector<VtPrimitive *> Listed(const VtReference *list) { return RingData<VtPrimitive>(list); }
  static uint32_t VerticesInUse(VtPrimitive *p) {
    return KindTable(p->contents, VO_ELEMENT_VERTEX)->pool->blocks_in_use;
  }
  static uint32_t NodesInUse() { return VoReferencePoolGet()->blocks_in_use; }
};

}  // namespace vo::test
