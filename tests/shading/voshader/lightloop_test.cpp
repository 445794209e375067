// The light loop: each light kind at a point, the lit chain, the area
// lights' second pass with its transient lights, and the end of a point.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "support/imaging_fixture.h"
#include "shading/voshader/voshader.h"

namespace vo::test {
namespace {

VtLightData *Record(VtShader *light) { return static_cast<VtLightData *>(light->data); }

// Lights made current for one image, given back at the end.
class LightLoopTest : public ShaderTest {
 protected:
  void Use(std::initializer_list<VtShader *> lights) {
    for (VtShader *l : lights) {
      list_ = VoShaderReferenceAppend(list_, VoShaderReferenceCreate(l));
      lights_.push_back(l);
    }
    ASSERT_EQ(VoLightListSet(list_), 0u);
    ASSERT_EQ(VoShadingInitialiseImage(2), 0u);
  }
  void TearDown() override {
    EXPECT_EQ(VoShadingTerminateImage(), 0u);
    EXPECT_EQ(VoLightListSet(nullptr), 0u);
    EXPECT_EQ(VoShaderReferenceDestroy(list_, 1), 0u);
    ShaderTest::TearDown();
  }
  static std::vector<VtLightData *> Lit() {
    std::vector<VtLightData *> out;
    for (VtLightData *d = VoShaderGetGlobals()->litLights; d != nullptr && out.size() < 100; d = d->nextLit)
      out.push_back(d);
    return out;
  }
  static VtShader *At(int32_t kind, float x, float y, float z) {
    VtShader *l = Light(kind, 1, 1, 1);
    Record(l)->position[0] = x;
    Record(l)->position[1] = y;
    Record(l)->position[2] = z;
    return l;
  }

  VtReference *list_ = nullptr;
  std::vector<VtShader *> lights_;
};

const float kOrigin[3] = {0, 0, 0};
const float kUp[3] = {0, 0, 1};
const float kDown[3] = {0, 0, -1};

TEST_F(LightLoopTest, APointLightFallsOffWithDistanceAndMissesWhatFacesAway) {
  VtShader *point = At(VO_LIGHT_POINT, 0, 0, 1);
  Record(point)->fallOffMode = 2;
  VtShader *eye = Light(VO_LIGHT_EYE, 1, 1, 1);
  VtShader *here = At(VO_LIGHT_POINT, 0, 0, 0);  // at the point itself
  Use({point, eye, here});
  ASSERT_EQ(VoShadingInitLightsShadingPoint(nullptr, kOrigin, kUp, kUp), 0u);
  const VtLightData *d = Record(point);
  EXPECT_FLOAT_EQ(d->distance, 1);
  EXPECT_FLOAT_EQ(d->nDotToLight, 1);
  EXPECT_FLOAT_EQ(d->intensity, 0.5f);  // mode 2: 1/(1 + 1)
  ASSERT_EQ(Lit(), (std::vector<VtLightData *>{Record(point), Record(eye)}));
  float colour[3];
  int32_t lit = 0;
  float visibility = 0;
  EXPECT_EQ(VoLightGetIntensity(point, &lit, &visibility, colour), 0u);
  EXPECT_EQ(lit, 1);
  EXPECT_FLOAT_EQ(colour[0], 0.5f);
  // Facing away only the eye light stays linked; without a normal the light
  // at the point's own position is still not lit (no direction to it).
  ASSERT_EQ(VoShadingInitLightsShadingPoint(nullptr, kOrigin, kDown, kDown), 0u);
  EXPECT_EQ(Lit(), (std::vector<VtLightData *>{Record(eye)}));
  ASSERT_EQ(VoShadingInitLightsShadingPoint(nullptr, kOrigin, nullptr, nullptr), 0u);
  EXPECT_EQ(Record(here)->lit, 0);
  EXPECT_EQ(Lit().size(), 2u);
  EXPECT_EQ(VoLightGetIntensity(here, &lit, &visibility, colour), 0u);
  EXPECT_EQ(colour[0] + colour[1] + colour[2], 0.0f);
}

// A shadow procedure reads the unit vector toward a positional light when
// the point has no normal, the point's own vector S when it has one.
float g_shadow_vector[3];
double SeeVector(const float *, void *, const float *v, VtLightData *) {
  for (int i = 0; i < 3; ++i) g_shadow_vector[i] = v[i];
  return 0.25;
}

TEST_F(LightLoopTest, AShadowProcedureIsHandedTheDirectionTowardAPositionalLight) {
  VtShader *point = At(VO_LIGHT_POINT, 3, 0, 4);
  VtShader *spot = At(VO_LIGHT_SPOT, 0, 0, 2);
  Record(spot)->direction[2] = 1;
  Record(spot)->spotExponent = 0;
  Record(spot)->cosOuter = Record(spot)->cosInner = -1;
  for (VtShader *l : {point, spot}) {
    Record(l)->classShadow = &SeeVector;
    Record(l)->castsShadows = 1;
    Record(l)->shadowResolution = 0;  // no map: the procedure itself is asked
  }
  Use({point, spot});
  VoShaderGetGlobals()->receivesShadows = 1;
  const float S[3] = {0.5f, -0.5f, 0.25f};
  for (VtShader *l : {point, spot}) {
    for (bool normal : {false, true}) {
      std::fill(g_shadow_vector, g_shadow_vector + 3, 9.0f);
      ASSERT_EQ(VoShadingInitLightsShadingPoint(l, kOrigin, normal ? kUp : nullptr, S), 0u);
      const VtLightData *d = Record(l);
      EXPECT_FLOAT_EQ(d->visibility, 0.75f);
      for (int i = 0; i < 3; ++i)
        EXPECT_EQ(g_shadow_vector[i], normal ? S[i] : d->toLight[i] / d->distance) << i << normal;
    }
  }
}

TEST_F(LightLoopTest, ASpotIsDarkOnItsOuterConeAndSmoothBetweenItsCones) {
  // A spot at (0, 0, 1) aimed down: direction (toward the light) is +z.
  VtShader *spot = At(VO_LIGHT_SPOT, 0, 0, 1);
  VtLightData *d = Record(spot);
  d->direction[2] = 1;
  d->spotExponent = 0;
  d->cosOuter = 0.6f;
  d->cosInner = 0.9f;
  Use({spot});
  // (0.75, 0, 0): toLight (-0.75, 0, 1), distance 1.25, cosAxis 0.8 between
  // the cones: smooth step u = (0.8 - 0.6)/0.3 = 2/3 gives 1 - 2 (1/3)^2 = 7/9.
  const float between[3] = {0.75f, 0, 0};
  ASSERT_EQ(VoShadingInitLightsShadingPoint(nullptr, between, kUp, kUp), 0u);
  EXPECT_FLOAT_EQ(d->cosAxis, 0.8f);
  EXPECT_NEAR(d->intensity, 7.0 / 9, 1e-6);
  // (4/3, 0, 0): distance 5/3, cosAxis exactly 0.6 = cosOuter: dark.
  d->cosOuter = 0.6f;
  const float rim[3] = {1.3333334f, 0, 0};
  ASSERT_EQ(VoShadingInitLightsShadingPoint(nullptr, rim, kUp, kUp), 0u);
  d->cosOuter = d->cosAxis;  // exactly on the cone whatever the rounding
  ASSERT_EQ(VoShadingInitLightsShadingPoint(nullptr, rim, kUp, kUp), 0u);
  EXPECT_TRUE(Lit().empty());
  // Straight below: inside the inner cone, no smooth step.
  ASSERT_EQ(VoShadingInitLightsShadingPoint(nullptr, kOrigin, kUp, kUp), 0u);
  EXPECT_FLOAT_EQ(d->intensity, 1);
}

TEST_F(LightLoopTest, AProjectorLightsUpToTheEdgeOfItsTexture) {
  // At (0, 0, 2) projecting down; the plane offset 2 makes depth = 2 - z.
  VtShader *projector = At(VO_LIGHT_PROJECTOR, 0, 0, 2);
  VtLightData *d = Record(projector);
  d->direction[2] = 1;
  d->planeOffset = 2;
  d->projectorOrigin[2] = 2;
  d->axisU[0] = 1;
  d->axisV[1] = 1;
  d->colour = VtColour{0.5f, 1, 1};
  Picture white = Picture::Solid(1, 1, 255, 255, 255);
  VtImage image = white.Image();
  d->projectorTexture = VoTextureCreate(&image, 3);
  ASSERT_NE(d->projectorTexture, nullptr);
  Use({projector});
  // (1, 0, 0): depth 2, s' = 1/2 exactly on the edge: lit, white times colour.
  const float edge[3] = {1, 0, 0}, beyond[3] = {1.25f, 0, 0};
  ASSERT_EQ(VoShadingInitLightsShadingPoint(nullptr, edge, kUp, kUp), 0u);
  EXPECT_EQ(d->lit, 1);
  EXPECT_FLOAT_EQ(d->colourAtPoint.red, 0.5f);
  ASSERT_EQ(VoShadingInitLightsShadingPoint(nullptr, beyond, kUp, kUp), 0u);
  EXPECT_EQ(d->lit, 0);
  EXPECT_EQ(VoTextureDestroy(d->projectorTexture), 0u);
}

// An area light of three samples, or one when single.
struct FakeArea {
  static inline VtAreaLightSample samples[3];
  static inline VtReference *ring = nullptr;
  static inline VtAreaLightSelection selection{};
  static inline int ends = 0;
  static VtStatus Begin(VtAreaLightSampler *, VtPrimitive *, VtPolygon *, const float *, const float *,
                        uint32_t, void **handle) {
    *handle = &selection;
    return 0;
  }
  static VtStatus End(void *) {
    ++ends;
    return 0;
  }
  static VtStatus Next(void *, void *, void *, void *, void *, uint32_t *more) {
    *more = 0;
    return 0;
  }
};

TEST_F(LightLoopTest, AreaSamplesBecomeTransientLightsAheadOfTheOthersUntilThePointEnds) {
  VtShader *area = Light(VO_LIGHT_AREA, 1, 1, 1);
  VtShader *eye = Light(VO_LIGHT_EYE, 1, 1, 1);
  VtAreaLightSampler &a = Record(area)->areaSampler;
  a.begin = &FakeArea::Begin;
  a.end = &FakeArea::End;
  a.next = &FakeArea::Next;
  FakeArea::ring = nullptr;
  for (int i = 0; i < 3; ++i) {
    FakeArea::samples[i] = VtAreaLightSample{{0.1f * (i + 1), 0, 0}, {0, 0, 1}, 2, 4, 0.5f};
    FakeArea::ring = VoShaderReferenceAppend(FakeArea::ring, VoShaderReferenceCreate(&FakeArea::samples[i]));
  }
  FakeArea::selection = VtAreaLightSelection{0, FakeArea::ring};
  SetBoolean(VO_CONTROL_SHADER_SECOND_LIGHT_PASS, true);
  Use({area, eye});
  shader::ShadingContext *s = shader::StateGet();
  VtShaderGlobals *g = s->globals;
  ASSERT_EQ(VoShadingInitialisePoint(kOrigin, kUp), 0u);
  ASSERT_EQ(VoShadingInitialiseLights(), 0u);
  const std::vector<VtLightData *> lit = Lit();
  ASSERT_EQ(lit.size(), 4u);
  // The samples in reverse order, then the eye light of the first pass.
  EXPECT_FLOAT_EQ(lit[0]->colourAtPoint.red, 0.3f);
  EXPECT_FLOAT_EQ(lit[2]->colourAtPoint.red, 0.1f);
  EXPECT_EQ(lit[3], Record(eye));
  EXPECT_EQ(lit[0]->kind, VO_LIGHT_TRANSIENT);
  EXPECT_FLOAT_EQ(lit[0]->toLight[2], 2);        // direction times distance
  EXPECT_FLOAT_EQ(lit[0]->nDotToLight, 1);       // cosine times distance
  EXPECT_EQ(Record(area)->nextCurrent, lit[2]);  // in sample order after the area light
  EXPECT_EQ(FakeArea::ends, 1);
  // A second call at the same point does nothing more.
  ASSERT_EQ(VoShadingInitialiseLights(), 0u);
  EXPECT_EQ(Lit().size(), 4u);
  ASSERT_EQ(VoShadingTerminateLights(), 0u);
  EXPECT_EQ(g->litLights, nullptr);
  int transients = 0;
  for (VtLightData *d = g->currentLights; d != nullptr; d = d->nextCurrent)
    transients += d->kind == VO_LIGHT_TRANSIENT;
  EXPECT_EQ(transients, 0);
  // The next point reuses the records given back: nothing is allocated, so
  // even with the pool exhausted all three samples arrive.
  {
    BlocksRunOut none(0);
    ASSERT_EQ(VoShadingInitialiseLights(), 0u);
    EXPECT_EQ(Lit().size(), 4u);
    ASSERT_EQ(VoShadingTerminateLights(), 0u);
    // A single sample that cannot be made is reported: the free list and
    // the pool's spare blocks are taken away first.
    FakeArea::selection.singleSample = 1;
    VtLightData *kept = s->transient_free;
    s->transient_free = nullptr;
    std::vector<void *> spare;
    for (void *b; (b = VoPoolAllocate(s->light_pool)) != nullptr && spare.size() < 100000;)
      spare.push_back(b);
    EXPECT_EQ(VoShadingInitialiseLights(), VO_STATUS_NO_MEMORY);
    for (void *b : spare) EXPECT_EQ(VoPoolFree(s->light_pool, b), 0u);
    s->transient_free = kept;
  }
  ASSERT_EQ(VoShadingTerminateLights(), 0u);
  EXPECT_EQ(VoReferenceListDestroy(FakeArea::ring, nullptr), 0u);
}

}  // namespace
}  // namespace vo::test
