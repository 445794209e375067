// The scene's lights as flare sources (execute code 0x440003), and the
// "render lights" and "flares 3d" classes that run that collection.

#include <gtest/gtest.h>

#include <vo/vo_view.h>

#include "flare_fixture.h"
#include "render/voshpost/classes.h"
#include "render/voshpost/pixel_list.h"

namespace vo::test {
namespace {

class LightSourceTest : public FlareTest {
 protected:
  void SetUp() override {
    FlareTest::SetUp();
    View(64, 48);
    const float eye[3] = {0, 0, -10}, at[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    ASSERT_EQ(VoViewSetPinhole(nullptr, eye, at, up, VO_PROJECTION_PERSPECTIVE, 45.0), 0u);
    buffer_ = Scene(64, 48, {});
  }
  void TearDown() override {
    (void)VoLightListSet(nullptr);
    if (lights_ != nullptr) {
      EXPECT_EQ(VoShaderReferenceDestroy(lights_, 1), 0u);
    }
    FlareTest::TearDown();
  }
  VtShader *Light(const char *kind, float x, float y, float z) {
    VtShader *l = VoShaderCreate(VO_SHADER_LIGHT, kind);
    EXPECT_NE(l, nullptr) << kind;
    VtTypedValue at{};
    at.type = VtPoint;
    at.value.v[0] = x, at.value.v[1] = y, at.value.v[2] = z;
    if (std::strcmp(kind, "ambient") != 0) {
      EXPECT_EQ(VoShaderSetArg(l, "location", &at), 0u);
    }
    if (std::strcmp(kind, "point") == 0) {
      const VtTypedValue none = TypedWord(VtEnum, 1);
      EXPECT_EQ(VoShaderSetArg(l, "fall off", &none), 0u);
    }
    lights_ = VoShaderReferenceAppend(lights_, VoShaderReferenceCreate(l));
    EXPECT_EQ(VoLightListSet(lights_), 0u);
    return l;
  }
  // The collected sources, in walk order.
  static std::vector<std::pair<std::array<int32_t, 2>, post::VtFlareSource>> Sources() {
    std::vector<std::pair<std::array<int32_t, 2>, post::VtFlareSource>> out;
    auto *store = static_cast<VtPixelList *>(post::State()->pixel_lists);
    if (store == nullptr) return out;
    VtPixelListIterator *it = VoPixelListIteratorCreate(store);
    std::array<int32_t, 2> p{};
    void *e = nullptr;
    while (VoPixelListNext(it, &p[0], &p[1], &e, nullptr) == 0)
      out.emplace_back(p, *static_cast<post::VtFlareSource *>(e));
    VoDeallocate(it);
    return out;
  }
  static std::array<int32_t, 2> Projected(const float point[3]) {
    float p[4];
    std::array<int32_t, 2> pixel{};
    EXPECT_EQ(VoViewProjectPoint(point, p), 0u);
    EXPECT_EQ(VoViewProjectedToPixel(p, pixel.data()), 0u);
    return pixel;
  }
  static void Select(uint32_t code) {
    VtTypedValue v{};
    v.type = 39;
    v.value.u = code;
    ASSERT_EQ(VoControlSet(VO_CONTROL_PP_LIGHTS_SELECT, &v), 0u);
  }
  VtReference *lights_ = nullptr;
  VtScreenBuffer *buffer_ = nullptr;
};

TEST_F(LightSourceTest, APointLightLandsOnItsPixelTimesTheScaleAndOthersGiveNone) {
  (void)Light("point", 1, 0.5f, 2);
  (void)Light("point", 0, 0, -20);  // behind the eye
  (void)Light("point", 300, 0, 0);  // off the image
  (void)Light("ambient", 0, 0, 0);
  (void)Light("distant", 0, 0, 0);
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_FLARE_LIGHTS), 0u);
  const auto sources = Sources();
  ASSERT_EQ(sources.size(), 1u);
  const float location[3] = {1, 0.5f, 2};
  EXPECT_EQ(sources[0].first, Projected(location));
  EXPECT_EQ(sources[0].second.x, sources[0].first[0]);
  EXPECT_NEAR(sources[0].second.colour[0], 1000.0f, 1e-2);
  EXPECT_NEAR(sources[0].second.mean, 1000.0f, 1e-2);
  EXPECT_NEAR(sources[0].second.depth, 1 + 0.25 + 144, 1e-4);
  // Hidden lights only: the visible one is not taken.
  Select(6);
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_FLARE_LIGHTS), 0u);
  EXPECT_TRUE(Sources().empty());
}

// A light whose shadow covers the eye: it reaches it only with shadows off.
double Shadowed(const float *, void *, const float *, VtLightData *) { return 1.0; }

TEST_F(LightSourceTest, HiddenSelectTakesAShadowedLightAndPutsTheShadowsControlBack) {
  VtShader *l = Light("point", 1, 0.5f, 2);
  Arg(l, "shadows", Word(VtBoolean, 1));
  auto *record = static_cast<VtLightData *>(l->data);
  record->classShadow = &Shadowed;
  record->shadowResolution = 0;  // no map to make
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_FLARE_LIGHTS), 0u);
  EXPECT_TRUE(Sources().empty());
  Select(6);
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_FLARE_LIGHTS), 0u);
  EXPECT_EQ(Sources().size(), 1u);
  VtTypedValue shadows{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_SHADER_SHADOWS, &shadows), 0u);
  EXPECT_EQ(shadows.value.u, 1u);
}

// As the depth render measures: from the image plane, a unit beyond the
// eye, less the hither distance.
TEST_F(LightSourceTest, AParallelViewTakesTheDepthAlongTheViewAsTheDepthRenderDoes) {
  const float eye[3] = {0, 0, -10}, at[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  ASSERT_EQ(VoViewSetPinhole(nullptr, eye, at, up, VO_PROJECTION_PARALLEL, 8.0), 0u);
  ASSERT_EQ(VoViewSetClipping(nullptr, 1.0, 100.0), 0u);
  (void)Light("point", 1, 0.5f, 2);
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_FLARE_LIGHTS), 0u);
  const auto sources = Sources();
  ASSERT_EQ(sources.size(), 1u);
  EXPECT_NEAR(sources[0].second.depth, 12.0 - 1.0 - 1.0, 1e-4);
}

TEST_F(LightSourceTest, MissingBufferSizeOrLightsAreRefusedAndLeaveNoSources) {
  (void)Light("point", 0, 0, 0);
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_FLARE_LIGHTS), 0u);
  ASSERT_EQ(Sources().size(), 1u);
  ASSERT_EQ(VoLightListSet(nullptr), 0u);
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_FLARE_LIGHTS), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(734), 1);
  EXPECT_TRUE(Sources().empty());
  ASSERT_EQ(VoLightListSet(lights_), 0u);
  View(32, 48);
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_FLARE_LIGHTS), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(735), 1);
  View(64, 48);
  const VtTypedValue zero = TypedFloat(0);
  ASSERT_EQ(VoControlSet(VO_CONTROL_PP_FLARE_CONSTANT, &zero), 0u);
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_FLARE_LIGHTS), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(2697), 1);
  ASSERT_EQ(VoScreenBufferSet(nullptr), 0u);
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_FLARE_LIGHTS), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(732), 1);
}

TEST_F(LightSourceTest, EveryAllocationFailingInACollectionIsReported) {
  (void)Light("point", 1, 0.5f, 2);
  (void)Light("spot", -1, 0, 3);
  ASSERT_EQ(VoExecute(VO_EXECUTE_PP_FLARE_LIGHTS), 0u);
  EveryAllocationFails([] { return VoExecute(VO_EXECUTE_PP_FLARE_LIGHTS); });
}

TEST_F(LightSourceTest, RenderLightsCollectsWithItsOwnConstantAndSelectAndPutsTheControlsBack) {
  (void)Light("point", 1, 0.5f, 2);
  VtShader *r = Add("render lights");
  Number(r, "flare constant", 10);
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  ASSERT_EQ(Sources().size(), 1u);
  EXPECT_NEAR(Sources()[0].second.colour[1], 10.0f, 1e-4);
  VtTypedValue v{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_PP_FLARE_CONSTANT, &v), 0u);
  EXPECT_EQ(v.value.f, 1000.0f);
  ASSERT_EQ(VoControlGet(VO_CONTROL_PP_LIGHTS_SELECT, &v), 0u);
  EXPECT_EQ(v.value.u, 1u);
  Text(r, "lights select", "hidden");
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  EXPECT_EQ(static_cast<post::RenderLightsData *>(r->data)->selectCode, 6u);
  EXPECT_TRUE(Sources().empty());
  Text(r, "lights select", "foo");
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(819), 1);
}

TEST_F(LightSourceTest, Flares3dDrawsVisibleThenHiddenFlaresAndHoldsOnlyLiveOtherShaders) {
  (void)Light("point", 1, 0.5f, 2);
  VtShader *f = Add("flares 3d");
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(820), 1);
  EXPECT_EQ(CountPosted(821), 1);

  // Refused: itself, a light, a destroyed shader; the argument is kept.
  VtShader *visible = Flares();
  VtShader *hidden = Flares();
  Arg(f, "visible flare", TypedPointer(visible));
  for (VtShader *bad : {f, static_cast<VtShader *>(lights_->data)}) {
    VtTypedValue v = TypedPointer(bad);
    EXPECT_EQ(VoShaderSetArg(f, "visible flare", &v), VO_STATUS_BAD_ARGUMENT);
  }
  VtShader *gone = Flares();
  ASSERT_EQ(VoShaderDestroy(gone), 0u);
  VtTypedValue v = TypedPointer(gone);
  EXPECT_EQ(VoShaderSetArg(f, "hidden flare", &v), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(2696), 3);
  VtTypedValue held{};
  ASSERT_EQ(VoShaderGetArg(f, "visible flare", &held), 0u);
  EXPECT_EQ(held.value.p, visible);

  // The held flares outlive the application's destroy and draw.
  Arg(f, "hidden flare", TypedPointer(hidden));
  EXPECT_EQ(VoShaderDestroy(visible), 0u);
  EXPECT_EQ(VoShaderDestroy(hidden), 0u);
  g_posted.clear();
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  const float location[3] = {1, 0.5f, 2};
  const std::array<int32_t, 2> p = Projected(location);
  EXPECT_GT(Red(buffer_, static_cast<uint32_t>(p[0]) + 3, static_cast<uint32_t>(p[1])), 0.0f);
  EXPECT_EQ(post::State()->list, list_);
  VtTypedValue c{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_PP_FLARE_CONSTANT, &c), 0u);
  EXPECT_EQ(c.value.f, 1000.0f);
  ASSERT_EQ(VoControlGet(VO_CONTROL_PP_LIGHTS_SELECT, &c), 0u);
  EXPECT_EQ(c.value.u, 1u);
}

}  // namespace
}  // namespace vo::test
