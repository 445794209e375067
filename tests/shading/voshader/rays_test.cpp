// Ray records, hit records and hit-list nodes from the context's pools.

#include <gtest/gtest.h>

#include "support/shader_fixture.h"

namespace vo::test {
namespace {

// An owner whose first word points at its settings.
struct Owner {
  VtRayOwnerSettings *settings;
};

TEST_F(ShaderTest, RayRecordsTakeTheirFlagsFromTheOwnersSettings) {
  VtTypedValue v{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_SHADER_SHADOW_TRANSPARENCY, &v), 0u);
  v.value.u = 6;
  ASSERT_EQ(VoControlSet(VO_CONTROL_SHADER_SHADOW_TRANSPARENCY, &v), 0u);
  struct Case {
    VtRayOwnerSettings settings;
    uint32_t shadow;
    uint32_t shadowRay, throughTransparent, opaqueOnly, transparency;
  };
  const Case cases[] = {
      {{1, 0, 0}, 1, 1, 0, 1, 6},  // a shadow ray that sees only opaque surfaces reads 0x50007
      {{1, 0, 2}, 1, 1, 1, 0, 0},  // a positive count passes transparent surfaces
      {{0, 1, 0}, 1, 0, 1, 1, 0},  // no shadow switch: no shadow ray
      {{1, 1, 0}, 0, 0, 1, 1, 0},  // the create flag clear: no shadow ray
  };
  const float origin[3] = {1, 2, 3}, direction[3] = {0, 0, -1};
  for (const Case &c : cases) {
    VtRayOwnerSettings settings = c.settings;
    Owner owner{&settings};
    VtRayRecord *ray = nullptr;
    ASSERT_EQ(VoRayRecordCreate(&owner, origin, direction, c.shadow, &ray), 0u);
    EXPECT_EQ(ray->tag, 171u);
    EXPECT_EQ(ray->distance, -1.0f);
    EXPECT_EQ(ray->shadowRay, c.shadowRay);
    EXPECT_EQ(ray->throughTransparent, c.throughTransparent);
    EXPECT_EQ(ray->opaqueOnly, c.opaqueOnly);
    EXPECT_EQ(ray->shadowTransparency, c.transparency);
    EXPECT_EQ(VoRayRecordDestroy(ray), 0u);
  }
  EXPECT_EQ(VoRayRecordDestroy(nullptr), 0u);
  VtRayOwnerSettings settings{};
  Owner owner{&settings};
  VtRayRecord *ray = reinterpret_cast<VtRayRecord *>(&owner);
  {
    BlocksRunOut none(0);
    EXPECT_EQ(VoRayRecordCreate(&owner, origin, nullptr, 0, &ray), VO_STATUS_NO_MEMORY);
    EXPECT_EQ(ray, nullptr);
    EXPECT_EQ(VoHitRecordCreate(), nullptr);
  }
}

TEST_F(ShaderTest, HitRecordsAndListNodesComeBackToTheirPools) {
  VtHitRecord *hit = VoHitRecordCreate();
  ASSERT_NE(hit, nullptr);
  EXPECT_EQ(hit->halves[0].words[9], 0u);
  EXPECT_EQ(hit->halves[1].point[0], 0.0f);
  EXPECT_EQ(hit->distances[0], -1.0f);
  EXPECT_EQ(hit->distances[1], -1.0f);
  EXPECT_EQ(hit->last, 0u);
  VtHitRecord *second = VoHitRecordCreate();
  VtReference *ring = VoHitListNodeCreate(hit);
  ASSERT_NE(ring, nullptr);
  // The ring's hit records go with it when asked (the leak check sees any
  // left behind); without the flag the records stay.
  EXPECT_EQ(VoHitListDestroy(ring, 1), 0u);
  VtReference *plain = VoHitListNodeCreate(second);
  EXPECT_EQ(VoHitListDestroy(plain, 0), 0u);
  EXPECT_EQ(VoHitRecordDestroy(second), 0u);
  EXPECT_EQ(VoHitListDestroy(nullptr, 1), 0u);
}

}  // namespace
}  // namespace vo::test
