// Lights given a place, aim, direction, colour or brightness that is no
// finite number: each light class refuses the value and keeps the one it
// had, so the renders after it stay finite and lit.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "misuse/stage.h"
#include "support/test_support.h"

namespace misuse {
namespace {

constexpr uint32_t kNotFinite = 2926;  // the light refuses a value that is no finite number

class LightArguments : public Started {
 protected:
  static VtTypedValue Get(VtShader *light, const char *label) {
    VtTypedValue v{};
    EXPECT_EQ(VoShaderGetArg(light, label, &v), 0u) << label;
    return v;
  }
  // The value of the argument's own type with x in component k (the other
  // components those of the stored value).
  static VtTypedValue With(VtTypedValue v, int k, float x) {
    if (v.type == VtFloat)
      v.value.f = x;
    else
      v.value.v[k] = x;
    return v;
  }
  static bool Finite(const std::vector<float> &picture) {
    for (float c : picture)
      if (!std::isfinite(c)) return false;
    return true;
  }
};

TEST_F(LightArguments, EveryLightClassRefusesAPlaceAimDirectionColourOrBrightnessThatIsNoNumber) {
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  struct Row {
    const char *light;
    std::vector<const char *> labels;
  };
  const Row rows[] = {
      {"point", {"location", "colour", "intensity"}},
      {"spot", {"location", "to", "colour", "intensity"}},
      {"distant", {"location", "to", "colour"}},
      {"eye", {"intensity", "colour"}},
      {"ambient", {"intensity", "colour"}},
      {"projector", {"location", "to", "up vector", "colour"}},
      {"goniometric", {"from", "to", "equator zero", "intensity"}},
      {"sky", {"north", "up", "filter colour"}},
      {"area", {"colour", "unshot"}},
  };
  int case_number = 0;
  for (const Row &row : rows) {
    VtShader *light = VoShaderCreate(VO_SHADER_LIGHT, row.light);
    ASSERT_NE(light, nullptr) << row.light;
    for (const char *label : row.labels) {
      const VtTypedValue before = Get(light, label);
      for (float bad : {inf, -inf, nan}) {
        // The bad number goes into a different component from case to case.
        const VtTypedValue given = With(before, case_number++ % 3, bad);
        SCOPED_TRACE(std::string(row.light) + " " + label + " " + std::to_string(bad));
        vo_test::Recorded().clear();
        EXPECT_EQ(VoShaderSetArg(light, label, &given), VO_STATUS_BAD_ARGUMENT);
        const std::vector<vo_test::Diagnostic> told = vo_test::WithMessage(kNotFinite);
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(told[0].strings, (std::vector<std::string>{row.light, label}));
        const VtTypedValue after = Get(light, label);
        EXPECT_EQ(std::memcmp(&after, &before, sizeof before), 0);
      }
      // A finite extreme is taken as before.
      const VtTypedValue far = With(before, 0, 1e30f);
      EXPECT_EQ(VoShaderSetArg(light, label, &far), 0u) << row.light << " " << label;
    }
    EXPECT_EQ(VoShaderDestroy(light), 0u);
  }
}

// A point light moved to infinity (refused) still lights the mesh from
// where it stood, with its shadows, on any worker count.
TEST_F(LightArguments, ARenderAfterARefusedLightLocationIsFiniteLitAndUnchangedOnAnyWorkerCount) {
  const Stage stage(Square());
  ASSERT_TRUE(stage.ok());
  ASSERT_EQ(ShadowsOn(stage.point_light()), 0u);
  std::vector<float> lit;
  ASSERT_EQ(stage.Render(0x200001, 0, &lit), 0u);
  VtTypedValue far{};
  far.type = VtPoint;
  far.value.v[0] = -4, far.value.v[1] = std::numeric_limits<float>::infinity(), far.value.v[2] = 6;
  EXPECT_EQ(VoShaderSetArg(stage.point_light(), "location", &far), VO_STATUS_BAD_ARGUMENT);
  for (int32_t workers : {0, 4}) {
    std::vector<float> picture;
    ASSERT_EQ(stage.Render(0x200001, workers, &picture), 0u) << workers;
    EXPECT_TRUE(Finite(picture)) << workers;
    EXPECT_EQ(picture, lit) << workers;
  }
  float sum = 0;
  for (float c : lit) sum += c;
  EXPECT_GT(sum, 1.0f);  // more than the ambient light's tenth on the seen pixels
}

}  // namespace
}  // namespace misuse
