// The surface classes under bad arguments (every number set to a value out
// of all reason, each over 64 random points: finite colours) and under
// every allocation failing in creation, preparation and evaluation of the
// classes that allocate (nothing leaks, a failure is told).

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>

#include "surfaces_fixture.h"

namespace vo::test {
namespace {

struct Class {
  uint32_t type;
  const char *name;
};
const Class kClasses[] = {{T, "glow"},
                          {R, "wrapped anisotropic"},
                          {R, "wrapped circular anisotropic"},
                          {R, "translucency"},
                          {R, "translucent plastic"},
                          {R, "radiosity"},
                          {R, "radiosity plastic"},
                          {R, "radiosity mirror"},
                          {R, "radiosity stepped false"},
                          {C, "surface evaluation"},
                          {C, "mean curvature"},
                          {C, "gaussian curvature"},
                          {C, "absolute curvature"},
                          {C, "geometric curvature"}};

class SurfacesRobustnessTest : public SurfacesTest {
 protected:
  // 64 random points shaded through slots 2 and 3: false at the first
  // colour or alpha that is not finite.
  static bool FiniteEverywhere(VtShader *s, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> any(-1, 1), unit(0, 1);
    EXPECT_EQ(VoShaderReset(s), 0u);
    for (int i = 0; i < 64; ++i) {
      const float co[3] = {unit(rng), unit(rng), unit(rng)}, ci[3] = {unit(rng), unit(rng), unit(rng)};
      VtShaderGlobals *g = Surface(co, ci);
      Set3(g->Pw, any(rng) * 2, any(rng) * 2, any(rng) * 2);
      float n[3] = {any(rng), any(rng), unit(rng) + 0.1f}, eye[3] = {any(rng), any(rng), -unit(rng) - 0.1f};
      Normalise(n);
      Normalise(eye);
      Copy3(g->N, n);
      Copy3(g->Ng, n);
      Copy3(g->unitI, eye);
      g->s = any(rng) * 3;
      g->t = any(rng) * 3;
      g->ds = g->dt = unit(rng);
      g->kgauss = any(rng);
      g->kmean = any(rng);
      g->kabs = unit(rng);
      g->alpha = 1;
      Run(s, i % 2 == 0 ? VO_SLOT_EVALUATE : VO_SLOT_EVALUATE_IMAGE);
      if (!Finite3(g->Co) || !std::isfinite(g->alpha)) return false;
    }
    return true;
  }
};

TEST_F(SurfacesRobustnessTest, EveryNumberOutOfAllReasonStillGivesFiniteColours) {
  const float p[3] = {0, 0, 0};
  AmbientAndPoint(p, 0.5f, 0.3f, 2);
  const float floats[] = {std::nanf(""), INFINITY, -INFINITY, 0, -1, 1e30f};
  const int32_t ints[] = {INT_MIN, -1, INT_MAX};
  uint32_t seed = 1;
  for (const Class &c : kClasses) {
    VtShader *probe = Make(c.type, c.name);
    uint32_t count = 0;
    void *labels = nullptr;
    ASSERT_EQ(VoShaderEnquire(probe, nullptr, nullptr, &count, &labels), 0u);
    EXPECT_TRUE(FiniteEverywhere(probe, ++seed)) << c.name;
    int checks = 0;
    for (uint32_t i = 0; i < count; ++i) {
      const char *label = static_cast<const char **>(labels)[i];
      const uint32_t type = Get(probe, label).type;
      const auto check = [&](const VtTypedValue &v, const std::string &what) {
        VtShader *s = VoShaderCreate(c.type, c.name);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(VoShaderSetArg(s, label, &v), 0u);
        EXPECT_TRUE(FiniteEverywhere(s, ++seed)) << c.name << " " << label << " " << what;
        EXPECT_EQ(VoShaderDestroy(s), 0u);
        ++checks;
      };
      if (type == VtFloat)
        for (float f : floats) check(TypedFloat(f), std::to_string(f));
      if (type == VtInt32)
        for (int32_t n : ints) check(TypedInt32(n), std::to_string(n));
      if (type == VtColourType)
        for (float f : floats) check(Colour(f, -f, 1), std::to_string(f));
    }
    EXPECT_GE(checks, 6 * static_cast<int>(count) / 2) << c.name;
  }
  // A division of three with no colour array: the blend's steps.
  VtShader *s = Make(C, "geometric curvature");
  SetInt(s, "curvature division", 3);
  Set(s, "colour array", TypedPointer(nullptr));
  EXPECT_TRUE(FiniteEverywhere(s, 99));
}

class AllocationTest : public FootprintTest {
 protected:
  // Made, set, prepared and evaluated (slot 3) at the origin, then
  // destroyed: a failure shows as no shader, a colour other than `want`,
  // or a report of the lack of memory.
  static VtStatus Run3(const Class &c, const std::function<void(VtShader *)> &set, const float *want,
                       float *got = nullptr) {
    g_posted.clear();
    VtShader *s = VoShaderCreate(c.type, c.name);
    if (s == nullptr) return VO_STATUS_NO_MEMORY;
    set(s);
    const float co[3] = {1, 1, 1}, ci[3] = {0.5f, 0.5f, 0.5f};
    VtShaderGlobals *g = Surface(co, ci);
    g->kgauss = 0.3f;
    EXPECT_EQ(VoShaderReset(s), 0u);
    Run(s, VO_SLOT_EVALUATE_IMAGE);
    if (got != nullptr) Copy3(got, g->Co);
    // (The geometric curvature's type copy, made at creation, reads "" when
    // it could not be made.)
    const bool typeLost =
        std::string(c.name) == "geometric curvature" && *Get(s, "curvature type").value.s == '\0';
    const bool told =
        typeLost || CountPosted(messages::kProRecordNoMemory) + CountPosted(messages::kProSteppedNoTable) > 0;
    const bool same = want == nullptr || SameBits(want, g->Co);
    EXPECT_EQ(VoShaderDestroy(s), 0u);
    return told || !same ? VO_STATUS_NO_MEMORY : 0;
  }
};

TEST_F(AllocationTest, ClassesThatAllocateTellEveryFailureAndLeakNothing) {
  Footprint();
  const Class stepped{R, "radiosity stepped false"}, evaluation{C, "surface evaluation"},
      geometric{C, "geometric curvature"};
  const auto steppedSet = [](VtShader *s) { SetFloat(s, "gain", 1.0f / 179); };
  const auto evaluationSet = [](VtShader *s) {
    SetInt(s, "bands", 4);
    SetFloat(s, "radius", 1);
  };
  float array[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, 0};
  const auto geometricSet = [&](VtShader *s) {
    SetFloat(s, "min cut off", 0);
    SetFloat(s, "max cut off", 1);
    SetInt(s, "curvature division", 4);
    Set(s, "colour array", TypedPointer(array));
  };
  for (const auto &entry : {std::pair{stepped, std::function<void(VtShader *)>(steppedSet)},
                            std::pair{evaluation, std::function<void(VtShader *)>(evaluationSet)},
                            std::pair{geometric, std::function<void(VtShader *)>(geometricSet)}}) {
    const Class &c = entry.first;
    const std::function<void(VtShader *)> &set = entry.second;
    SCOPED_TRACE(c.name);
    float want[3];
    ASSERT_EQ(Run3(c, set, nullptr, want), 0u);
    EveryAllocationFails([&]() -> VtStatus { return Run3(c, set, want); });
  }
}

}  // namespace
}  // namespace vo::test
