// What the shader kernel takes from other modules: the ray tracer's
// services (a stand-in tracer, module 7, and the kernel's own stand-ins
// without one), the interrupt poll through the recording driver, the work
// farm's run-once lock for pre-rendering, and filter shaders wrapped around
// a material's parts with a stand-in filter module (98) that samples a
// pixel on a 2 x 2 grid.

#include <gtest/gtest.h>

#include <vo/vo_shader.h>
#include <vo/vo_view.h>

#include "support/fake_module.h"
#include "support/geometry_fixture.h"
#include "support/recording_driver.h"
#include "support/shader_fixture.h"
#include "shading/voshader/voshader.h"

namespace vo::test {
namespace {

using shader::ShadingContext;

// The stand-in ray tracer's services and what they saw.
struct Tracer {
  static inline int prepares = 0, ends = 0;
  static VtStatus Prepare() { return ++prepares, 0; }
  static VtStatus End() { return ++ends, 0; }
  static float Shadow(const float *, const float *, double, double, VtPolygon *) { return 1.0f; }
  static VtStatus Hit(VtPrimitive **, VtPolygon **, float *) { return 0; }
  static void Install() {
    prepares = ends = 0;
    Fake<7>::Reset(VO_MODULE_RAYTRACER, "vorenray");
    FakeModule &m = Fake<7>::m;
    m.has_callback = m.has_controls = true;
    m.slots = {{0x70001, reinterpret_cast<VtProc>(&Prepare)},
               {0x70002, reinterpret_cast<VtProc>(&End)},
               {0x70005, reinterpret_cast<VtProc>(&Shadow)},
               {0x70006, reinterpret_cast<VtProc>(&Hit)}};
    m.controls = {{0x70015, TypedNat32(7)}, {0x70017, TypedFloat(4.0f)}};
    ASSERT_EQ(VoInstallModule(&Fake<7>::Query), 0u);
  }
};

// The stand-in filter module: the polygon it filters and a sampling loop
// over the four inner points of a 3 x 3 grid in the pixel, averaging Co.
struct Filter {
  static inline VtPolygon *polygon = nullptr;
  static inline VtStatus answer = 0;
  static inline int loops = 0;
  static inline void *pair_seen = nullptr;
  static inline VtShadeContextReference *ring_seen = nullptr;
  static VtPolygon *Polygon() { return polygon; }
  static VtStatus Loop(void *pair, void *map, VtShadeContextReference *ring, shader::FilterSampleProc sample,
                       VtShadeContext *c, VtShaderGlobals *g) {
    ++loops;
    pair_seen = pair;
    ring_seen = ring;
    if (answer != 0) return answer;
    auto inside = reinterpret_cast<uint32_t (*)(VtShadeContext *, VtShadeContextReference *)>(map);
    float sum[3] = {0, 0, 0}, co[3];
    int n = 0;
    for (int j = 1; j <= 2; ++j)
      for (int i = 1; i <= 2; ++i) {
        (void)VoShadeContextSetXo(c, i / 3.0f);
        (void)VoShadeContextSetYo(c, j / 3.0f);
        if (inside(c, ring) == 0 || sample(c, g) != 0) continue;
        (void)VoShadeContextGetCo(c, co);
        for (int k = 0; k < 3; ++k) sum[k] += co[k];
        ++n;
      }
    for (float &v : sum) v /= n > 0 ? static_cast<float>(n) : 1.0f;
    return VoShadeContextSetCo(c, sum);
  }
  static void Install() {
    polygon = nullptr;
    answer = loops = 0;
    Fake<98>::Reset(VO_MODULE_FILTER, "vofilter");
    Fake<98>::m.has_callback = true;
    Fake<98>::m.slots = {{0x620002, reinterpret_cast<VtProc>(&Loop)},
                         {0x620003, reinterpret_cast<VtProc>(&Polygon)}};
    ASSERT_EQ(VoInstallModule(&Fake<98>::Query), 0u);
  }
};

// A filter shader class: "filter" answers the pair token, "map func" the
// offset test.
char g_pair;
VtStatus FilterArgument(void *, uint32_t index, VtTypedValue *v) {
  *v = VtTypedValue{};
  v->type = VtGenericPtr;
  v->value.p = index == 0 ? static_cast<void *>(&g_pair)
                          : reinterpret_cast<void *>(&exported::VoShadeContextPointInOffsetPolygon);
  return 0;
}
// A colour from the position: Co = (Pw.x, Pw.y, 0).
VtStatus PositionColour(void *) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  g->Co[0] = g->Pw[0];
  g->Co[1] = g->Pw[1];
  g->Co[2] = 0;
  return 0;
}

VtStatus PrerenderCount(void *data) { return ++static_cast<TestData *>(data)->evaluations, 0; }

class ShadingServicesTest : public ShaderTest {
 protected:
  void InstallMore() override {
    RecordingDriver::Reset();
    ASSERT_EQ(VoInstallModule(&VoEntryPolygons), 0u);
    ASSERT_EQ(VoInstallModule(&RecordingDriver::Query), 0u);
    ASSERT_EQ(VoInstallModule(&VoEntryMultiThread), 0u);
    Tracer::Install();
    Filter::Install();
  }
  void SetUp() override {
    ShaderTest::SetUp();
    const float eye[3] = {0, 0, 5}, centre[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    ASSERT_EQ(VoViewSetPinhole(nullptr, eye, centre, up, VO_PROJECTION_PERSPECTIVE, 45), 0u);
    ASSERT_EQ(VoViewEvaluate(nullptr), 0u);
    const std::vector<std::pair<uint32_t, VtProc>> filter = {
        {VO_SLOT_CREATE, reinterpret_cast<VtProc>(&TestCreate)},
        {VO_SLOT_DESTROY, reinterpret_cast<VtProc>(&TestDestroy)},
        {VO_SLOT_GET_ARG, reinterpret_cast<VtProc>(&FilterArgument)}};
    auto position = TestEntries();
    position[5].second = position[6].second =
        reinterpret_cast<VtProc>(&PositionColour);  // both evaluate slots
    ASSERT_EQ((TestClass{VO_SHADER_FILTER, "vxs_test_filter", "test filter", {"filter", "map func"}, filter}
                   .Register()),
              0u);
    ASSERT_EQ(Register(VO_SHADER_COLOUR, "test position colour", 1, position), 0u);
    ASSERT_EQ(Register(VO_SHADER_COLOUR, "test own image colour", 1), 0u);
  }
  // A triangle whose screen and world positions agree, covering the pixels
  // (0, 0) and (1, 0).
  static VtPrimitive *Triangle() {
    static const float xyz[9] = {-1, -1, 0, 5, -1, 0, -1, 5, 0};
    // Screen positions are in [0, 1] across the view's resolution.
    VtTypedValue resolution{};
    EXPECT_EQ(VoViewGetValue(VO_VIEW_VALUE_RESOLUTION, &resolution), 0u);
    const auto *wh = static_cast<const int32_t *>(resolution.value.p);
    float xyzw[12];
    for (int i = 0; i < 3; ++i) {
      xyzw[4 * i] = xyz[3 * i] / static_cast<float>(wh[0]);
      xyzw[4 * i + 1] = xyz[3 * i + 1] / static_cast<float>(wh[1]);
      xyzw[4 * i + 2] = 0;
      xyzw[4 * i + 3] = 1;
    }
    const uint32_t ids[] = {VO_VERT_WORLD, VO_VERT_SCREEN};
    const VtTypedValue data[] = {PropertyRecord(xyz), PropertyRecord(xyzw)};
    return VoPrimitiveCreatePolygon(3, 2, ids, data);
  }
  static VtMaterial *Material(const char *colour) {
    VtMaterial *m = VoMaterialCreate();
    EXPECT_EQ(VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, colour), 0u);
    return m;
  }
  static void *Entry(const VtShaderCall &c) { return reinterpret_cast<void *>(c.entry); }
};

TEST_F(ShadingServicesTest, TheTracerPreparesOncePerRayShadowedLightAndOncePerRayTracingMaterial) {
  ShadingContext *s = shader::StateGet();
  // The services are the tracer's; its shadow answers 1 (blocked).
  EXPECT_EQ(s->ray_shadow(nullptr, nullptr, 0, 1, nullptr), 1.0f);
  EXPECT_EQ(s->ray_hit, &Tracer::Hit);
  // Two lights casting shadows without maps and one casting none.
  VtReference *list = nullptr;
  VtShader *lights[3];
  for (int i = 0; i < 3; ++i) {
    lights[i] = Light(VO_LIGHT_POINT, 1, 1, 1);
    auto *d = static_cast<VtLightData *>(lights[i]->data);
    d->castsShadows = i == 2 ? 0 : 1;
    d->shadowResolution = 0;
    d->classShadow = [](const float *, void *, const float *, VtLightData *) { return 0.0; };
    list = VoShaderReferenceAppend(list, VoShaderReferenceCreate(lights[i]));
  }
  ASSERT_EQ(VoLightListSet(list), 0u);
  VtMaterial *m = VoMaterialCreate();
  m->raytrace = 1;
  ASSERT_EQ(VoMaterialReset(m), 0u);  // before the image: nothing to prepare
  ASSERT_EQ(VoShadingInitialiseImage(2), 0u);
  EXPECT_EQ(Tracer::ends, 1);
  EXPECT_EQ(Tracer::prepares, 2);
  // Those two lights take the ray-traced procedure, the third keeps its
  // class's.
  const auto *d0 = static_cast<VtLightData *>(lights[0]->data);
  const auto *d2 = static_cast<VtLightData *>(lights[2]->data);
  EXPECT_NE(d0->shadow, nullptr);
  EXPECT_NE(d0->shadow, d0->classShadow);
  EXPECT_EQ(d2->shadow, d2->classShadow);
  // The tracer's texture scale 4 makes the filter scale 1/4.
  EXPECT_FLOAT_EQ(s->filter_scale, 0.25f);
  // The material is current already, yet the tracer learns of it once.
  ASSERT_EQ(VoMaterialReset(m) | VoMaterialReset(m), 0u);
  EXPECT_EQ(Tracer::prepares, 3);
  EXPECT_EQ(VoShadingTerminateImage(), 0u);
  EXPECT_EQ(Tracer::ends, 2);
  // With ray-traced shadows off nothing is prepared and the scale is 1.
  VtTypedValue off = TypedBoolean(false);
  ASSERT_EQ(VoControlSet(VO_CONTROL_SHADER_RAY_SHADOWS, &off), 0u);
  ASSERT_EQ(VoShadingInitialiseImage(2), 0u);
  ASSERT_EQ(VoMaterialReset(m), 0u);
  EXPECT_EQ(Tracer::prepares, 3);
  EXPECT_FLOAT_EQ(s->filter_scale, 1.0f);
  EXPECT_EQ(VoShadingTerminateImage(), 0u);
  EXPECT_EQ(VoMaterialDestroy(m), 0u);
  EXPECT_EQ(VoLightListSet(nullptr) | VoShaderReferenceDestroy(list, 1), 0u);
}

TEST_F(ShadingServicesTest, WithoutTheTracerRaysSeeBlackAndShadowRaysFindNothing) {
  Fake<7>::m.slots.clear();        // the tracer answers nothing
  (void)VoShaderCacheCallbacks();  // without a view its look-ups fail, which changes nothing here
  ShadingContext *s = shader::StateGet();
  EXPECT_EQ(s->ray_shadow(nullptr, nullptr, 0, 1, nullptr), 1e20f);
  float colour[3] = {1, 1, 1};
  const float origin[3] = {0, 0, 0}, direction[3] = {0, 0, 1};
  EXPECT_EQ(VoRayTrace(colour, origin, direction, 1.0), 0u);
  EXPECT_EQ(colour[0] + colour[1] + colour[2], 0.0f);
  EXPECT_EQ(s->point.ray_depth, 0u);
  EXPECT_EQ(s->ray_hit, nullptr);
  // The transforms module is there: its normal services are cached.
  EXPECT_EQ(reinterpret_cast<void *>(s->transform_normal),
            reinterpret_cast<void *>(&exported::VoTransformNormal));
}

TEST_F(ShadingServicesTest, AnInterruptOfTheDriverIsKeptInTheStickyStatus) {
  RecordingDriver::interrupt_from = 2;
  EXPECT_EQ(VoShadingCheckInterrupt(), 0u);
  EXPECT_EQ(VoShadingCheckInterrupt(), 64u);
  EXPECT_EQ(RecordingDriver::polls, 2);
  VtTypedValue sticky{};
  ASSERT_EQ(VoControlGet(VO_CONTROL_STICKY_STATUS, &sticky), 0u);
  EXPECT_NE(*static_cast<uint32_t *>(sticky.value.p) & VO_COND_INTERRUPTED, 0u);
  *static_cast<uint32_t *>(sticky.value.p) = 0;
}

TEST_F(ShadingServicesTest, TheBackgroundIsPrerenderedOncePerImageUnderOneKeptRunOnceLock) {
  ShadingContext *s = shader::StateGet();
  auto entries = TestEntries();
  entries.push_back({VO_SLOT_PRERENDER, reinterpret_cast<VtProc>(&PrerenderCount)});
  ASSERT_EQ(Register(VO_SHADER_BACKGROUND, "test counted background", 1, entries), 0u);
  VtShader *background = VoShaderCreate(VO_SHADER_BACKGROUND, "test counted background");
  ASSERT_EQ(VoBackgroundSet(background), 0u);
  void *job = nullptr;
  for (int image = 1; image <= 2; ++image) {
    ASSERT_EQ(VoShadingInitialiseImage(2), 0u);
    EXPECT_EQ(Data(background)->evaluations, image);
    if (image == 1) job = s->job;
    EXPECT_NE(job, nullptr);
    EXPECT_EQ(s->job, job);  // made once, given back when the kernel stops
    EXPECT_EQ(VoShadingTerminateImage(), 0u);
  }
  EXPECT_EQ(VoBackgroundSet(nullptr) | VoShaderDestroy(background), 0u);
}

TEST_F(ShadingServicesTest, AWrappedColourIsTheAverageOfItsSamplesOverThePolygon) {
  ShadingContext *s = shader::StateGet();
  VtShaderGlobals *g = s->globals;
  VtPrimitive *p = Triangle();
  VtPolygon *polygon = static_cast<VtPolygon *>(PolygonModuleTest::Polygons(p).front());
  VtMaterial *m = Material("test position colour");
  VtShader *filter = VoShaderCreate(VO_SHADER_FILTER, "test filter");
  ASSERT_EQ(VoMaterialSetSecondaryShader(m, 0x50001, filter) | VoPrimitiveSetMaterial(p, m), 0u);
  ASSERT_EQ(VoShadingInitialiseImage(3), 0u);
  ASSERT_EQ(VoShadingInitialisePolygon(p, polygon), 0u);
  EXPECT_EQ(Entry(g->colourCall), reinterpret_cast<void *>(&exported::VoFilterColourEvaluate));
  EXPECT_EQ(g->colourCall.data, &g_pair);
  // The point itself at (0.9, 0.1): shaded alone it is (0.9, 0.1, 0).
  g->Pw = g->P = g->PwStorage;
  g->PwStorage[0] = 0.9f;
  g->PwStorage[1] = 0.1f;
  g->xp = g->yp = 0;
  Filter::polygon = polygon;
  auto colour = [&] {
    EXPECT_EQ(g->colourCall.entry(g->colourCall.data), 0u);
    return std::array<float, 3>{g->Co[0], g->Co[1], g->Co[2]};
  };
  // Pixel (0, 0): samples at x, y in {1/3, 2/3}, each world point equal to
  // its offset, average (0.5, 0.5).
  std::array<float, 3> co = colour();
  EXPECT_NEAR(co[0], 0.5f, 1e-5);
  EXPECT_NEAR(co[1], 0.5f, 1e-5);
  EXPECT_EQ(Filter::pair_seen, &g_pair);
  // Pixel (1, 0) on the same ring: x in {4/3, 5/3}, average 1.5.
  VtShadeContextReference *ring = Filter::ring_seen;
  g->xp = 1;
  co = colour();
  EXPECT_NEAR(co[0], 1.5f, 1e-5);
  EXPECT_NEAR(co[1], 0.5f, 1e-5);
  EXPECT_EQ(Filter::ring_seen, ring);
  // A failing loop, or no polygon being filtered: the point shaded once.
  Filter::answer = 2;
  EXPECT_FLOAT_EQ(colour()[0], 0.9f);
  Filter::answer = 0;
  Filter::polygon = nullptr;
  EXPECT_FLOAT_EQ(colour()[0], 0.9f);
  EXPECT_EQ(Filter::loops, 3);
  // While a wrap samples, a wrap met inside it shades its point once.
  Filter::polygon = polygon;
  s->filter.busy = 1;
  EXPECT_FLOAT_EQ(colour()[0], 0.9f);
  s->filter.busy = 0;
  EXPECT_EQ(Filter::loops, 3);
  // Inside a ray nothing is wrapped; another polygon lets the ring go.
  s->point.ray_depth = 1;
  VtPrimitive *q = Triangle();
  ASSERT_EQ(VoPrimitiveSetMaterial(q, m), 0u);
  ASSERT_EQ(VoShadingInitialisePolygon(q, static_cast<VtPolygon *>(PolygonModuleTest::Polygons(q).front())),
            0u);
  EXPECT_EQ(Entry(g->colourCall), reinterpret_cast<void *>(&PositionColour));
  EXPECT_EQ(s->filter.ring, nullptr);
  s->point.ray_depth = 0;
  EXPECT_EQ(VoShadingTerminateImage(), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(p) | VoPrimitiveDestroy(q) | VoMaterialDestroy(m) | VoShaderDestroy(filter),
            0u);
}

TEST_F(ShadingServicesTest, SamplesOfAReflectanceAreDisplacedFirstAndOfADisplacementKeepTheirNormal) {
  VtShaderGlobals *g = shader::StateGet()->globals;
  static int displaced = 0;
  const VtShaderDataProc displace = [](void *) -> VtStatus {
    VoShaderGetGlobals()->N[0] = 0.6f;  // a tilted normal: (0.6, 0, 0.8)
    VoShaderGetGlobals()->N[2] = 0.8f;
    return ++displaced, 0;
  };
  VtShadeContext *c = VoShadeContextCreate();
  const float up[3] = {0, 0, 1};
  ASSERT_EQ(VoShadeContextSetNg(c, up), 0u);
  g->N = g->NStorage;
  g->displacementCall = {displace, nullptr};
  g->reflectanceWrap = {&PositionColour, nullptr, nullptr};
  g->displacementWrap = {displace, nullptr, nullptr};
  g->lightsEvaluated = 1;  // the sample's lights are ended: the next one evaluates its own
  ASSERT_EQ(VoFilterReflectanceSample(c, g), 0u);
  EXPECT_EQ(displaced, 1);
  EXPECT_EQ(g->lightsEvaluated, 0u);
  float n[3];
  ASSERT_EQ(VoFilterDisplacementSample(c, g) | VoShadeContextGetN(c, n), 0u);
  EXPECT_EQ(displaced, 2);
  EXPECT_FLOAT_EQ(n[0], 0.6f);
  EXPECT_FLOAT_EQ(n[2], 0.8f);
  g->displacementCall = {};
  EXPECT_EQ(VoShadeContextDestroy(c), 0u);
}

TEST_F(ShadingServicesTest, OnlyFilterShadersWrapAndGlobalFiltersSpareClassesWithTheirOwnImageEntry) {
  VtShaderGlobals *g = shader::StateGet()->globals;
  VtPrimitive *p = Triangle();
  VtPolygon *polygon = static_cast<VtPolygon *>(PolygonModuleTest::Polygons(p).front());
  VtShader *filter = VoShaderCreate(VO_SHADER_FILTER, "test filter");
  VtShader *colour = VoShaderCreate(VO_SHADER_COLOUR, "test own image colour");
  const void *wrapper = reinterpret_cast<void *>(&exported::VoFilterColourEvaluate);
  ASSERT_EQ(VoShadingSetGlobalFilter(0x50001, filter), 0u);
  ASSERT_EQ(VoShadingInitialiseImage(3), 0u);
  // (material's colour class, a non-filter secondary colour?) -> wrapped
  const struct {
    const char *cls;
    bool secondary;
    bool wrapped;
  } cases[] = {
      {"test position colour", false, true},    // the global filter wraps it
      {"test own image colour", false, false},  // its own slot-3 entry is used
      {"test position colour", true, false},    // a secondary that is no filter wraps nothing
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.cls);
    VtMaterial *m = Material(c.cls);
    if (c.secondary) {
      ASSERT_EQ(VoMaterialSetSecondaryShader(m, 0x50001, colour), 0u);
    }
    ASSERT_EQ(VoPrimitiveSetMaterial(p, m) | VoShadingInitialisePolygon(p, polygon), 0u);
    EXPECT_EQ(Entry(g->colourCall) == wrapper, c.wrapped);
    EXPECT_EQ(VoMaterialDestroy(m), 0u);
  }
  EXPECT_EQ(VoShadingTerminateImage() | VoShadingSetGlobalFilter(0x50001, nullptr), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(p) | VoShaderDestroy(filter) | VoShaderDestroy(colour), 0u);
}

}  // namespace
}  // namespace vo::test
