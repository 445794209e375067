// Tracing and shading one ray: opaque and transparent layers, the
// background and foreground of rays that leave the scene, the limits of
// VoRayTraceShade, bent continuations and deep stacks of layers.

#include <cstring>
#include <map>

#include <vo/vo_shader.h>

#include "support/shader_fixture.h"
#include "render/vorenray/ray_fixture.h"
#include "kernel/vosystem/kernel_memory.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

// What the "layer" reflectance leaves for the polygon it shades.
struct Layer {
  float Co[3];
  float alpha;
  float To[3];
  const float *bend = nullptr;  // a new unitI
  double reflect = 0;           // a ray traced straight back, of this weight
};

struct Seen {
  static inline std::map<VtPrimitive *, Layer> layers;
  static inline int shaded = 0, background = 0, foreground = 0;
  static inline float reflected[3] = {};
  static inline VtStatus reflect_hit = 9;
};

VtStatus LayerEvaluate(void *) {
  VtShaderGlobals *g = VoShaderGetGlobals();
  ++Seen::shaded;
  const Layer &l = Seen::layers[g->prim];
  if (l.reflect > 0) {
    const float back[3] = {-g->unitI[0], -g->unitI[1], -g->unitI[2]};
    Seen::reflect_hit = VoRayTraceShade(Seen::reflected, g->Pw, back, l.reflect);
  }
  std::memcpy(g->Co, l.Co, sizeof g->Co);
  g->alpha = l.alpha;
  std::memcpy(g->To, l.To, sizeof g->To);
  if (l.bend != nullptr) std::memcpy(g->unitI, l.bend, sizeof g->unitI);
  return 0;
}
VtStatus BackgroundEvaluate(void *) {  // red
  VtShaderGlobals *g = VoShaderGetGlobals();
  ++Seen::background;
  g->Cb[0] = 1, g->Cb[1] = 0, g->Cb[2] = 0;
  return 0;
}
VtStatus ForegroundEvaluate(void *) {  // adds a quarter of blue
  ++Seen::foreground;
  VoShaderGetGlobals()->Co[2] += 0.25f;
  return 0;
}

const float kDown[3] = {0, 0, -1};
const float kAbove[3] = {0.5f, 0.5f, 5};

class TraceTest : public RayTest {
 protected:
  void SetUp() override {
    RecordingDriver::Reset();
    StartModules({&RecordingDriver::Query, &VoEntryMultiThread, &VoEntryView, &VoEntryGeometry,
                  &VoEntryPolygons, &VoEntryTransforms, &VoEntryShader, &VoEntrySuperLiteShaders,
                  &VoEntryRayTracer});
    Seen::layers.clear();
    Seen::shaded = Seen::background = Seen::foreground = 0;
    auto entries = TestEntries();
    entries[5].second = reinterpret_cast<VtProc>(&LayerEvaluate);
    ASSERT_EQ(ShaderTest::Register(VO_SHADER_REFLECTANCE, "layer", 1, entries), 0u);
    entries[5].second = reinterpret_cast<VtProc>(&BackgroundEvaluate);
    ASSERT_EQ(ShaderTest::Register(VO_SHADER_BACKGROUND, "red", 1, entries), 0u);
    entries[5].second = reinterpret_cast<VtProc>(&ForegroundEvaluate);
    ASSERT_EQ(ShaderTest::Register(VO_SHADER_FOREGROUND, "blue", 1, entries), 0u);
    material_ = VoMaterialCreate();
    ASSERT_EQ(VoMaterialSetShaderByPrototype(material_, VO_SHADER_REFLECTANCE, "layer"), 0u);
    ASSERT_EQ(VoShadingInitialiseImage(2), 0u);
  }
  void TearDown() override {
    EXPECT_EQ(VoShadingTerminateImage(), 0u);
    VoBackgroundSet(nullptr);
    VoForegroundSet(nullptr);
    for (VtShader *s : shaders_) VoShaderDestroy(s);
    EXPECT_EQ(VoMaterialDestroy(material_), 0u);
    RayTest::TearDown();
  }
  // A one-sided unit square z = h (0 <= x, y <= 1) facing up, shaded as
  // the layer says.
  VtPrimitive *Square(float h, Layer l) {
    VtPrimitive *p = Mesh({{0, 0, h}, {1, 0, h}, {1, 1, h}, {0, 1, h}}, {{0, 1, 2, 3}});
    EXPECT_EQ(VoPrimitiveSetMaterial(p, material_), 0u);
    Seen::layers[p] = l;
    return p;
  }
  // Background and foreground as given; taken at the next preparation.
  void Backdrop(bool background, bool foreground) {
    VoRayTracerSceneRelease();
    VtShader *b = background ? VoShaderCreate(VO_SHADER_BACKGROUND, "red") : nullptr;
    VtShader *f = foreground ? VoShaderCreate(VO_SHADER_FOREGROUND, "blue") : nullptr;
    for (VtShader *s : {b, f})
      if (s != nullptr) shaders_.push_back(s);
    VoBackgroundSet(b);
    VoForegroundSet(f);
  }
  static uint32_t Trace(float *out, const float *origin = kAbove, const float *direction = kDown) {
    return ray::TraceRay(Ray(), out, origin, direction, 0, 1e20, nullptr);
  }
  static void ExpectColour(const float *c, float r, float g, float b) {
    EXPECT_FLOAT_EQ(c[0], r);
    EXPECT_FLOAT_EQ(c[1], g);
    EXPECT_FLOAT_EQ(c[2], b);
  }
  VtMaterial *material_ = nullptr;
  std::vector<VtShader *> shaders_;
};

TEST_F(TraceTest, OpaqueAndTransparentLayersCombineWithWhatLiesBehindThem) {
  VtPrimitive *opaque = Square(0, {{0.2f, 0.3f, 0.4f}, 1, {0, 0, 0}});
  Scene({opaque});
  Backdrop(true, false);
  float out[3];
  VtShaderGlobals *g = VoShaderGetGlobals();
  // Opaque: Co after one walk, nothing behind asked.
  EXPECT_EQ(Trace(out), 1u);
  ExpectColour(out, 0.2f, 0.3f, 0.4f);
  EXPECT_EQ(Seen::shaded, 1);
  EXPECT_EQ(Seen::background, 0);
  EXPECT_FLOAT_EQ(g->modI, 5.0f);
  // Alpha 0.5, To black, red behind (the kernel leaves Co scaled by alpha:
  // (0.1, 0.15, 0.2)): c = red x (1 - 0.5) = (0.5, 0, 0); Co + c =
  // (0.6, 0.15, 0.2); alpha = 0.5 x (1 - 0) + 0.5 x 0 = 0.5.
  Seen::layers[opaque].alpha = 0.5f;
  EXPECT_EQ(Trace(out), 1u);
  ExpectColour(out, 0.6f, 0.15f, 0.2f);
  EXPECT_FLOAT_EQ(g->alpha, 0.5f);
  EXPECT_EQ(Seen::background, 1);
  // Alpha 1, To 0.5, nothing behind: c = black x To; alpha = 1 x (1 - 0.5).
  Backdrop(false, false);
  Seen::layers[opaque] = {{0.2f, 0.3f, 0.4f}, 1, {0.5f, 0.5f, 0.5f}};
  EXPECT_EQ(Trace(out), 1u);
  ExpectColour(out, 0.2f, 0.3f, 0.4f);
  EXPECT_FLOAT_EQ(g->alpha, 0.5f);
}

TEST_F(TraceTest, AMissAsksTheBackgroundAndForegroundAndRestoresOnlyForTheBackgroundAlone) {
  Scene({Square(0, {{1, 1, 1}, 1, {0, 0, 0}})});
  const float beside[3] = {4, 4, 5};
  VtShaderGlobals *g = VoShaderGetGlobals();
  float out[3] = {9, 9, 9};
  auto mark = [&] {
    g->modI = 3;
    g->unitI[0] = 7;
    g->E[0] = 8;
    g->alpha = 1;
  };
  struct Case {
    bool background, foreground;
    float colour[3];
    bool restored;
  };
  // Both: Co = Cb (red), then the foreground adds blue; neither: black.
  for (const Case &k : {Case{true, true, {1, 0, 0.25f}, false}, Case{true, false, {1, 0, 0}, true},
                        Case{false, true, {0, 0, 0.25f}, false}, Case{false, false, {0, 0, 0}, true}}) {
    Backdrop(k.background, k.foreground);
    mark();
    EXPECT_EQ(Trace(out, beside), 0u);
    ExpectColour(out, k.colour[0], k.colour[1], k.colour[2]);
    EXPECT_EQ(g->alpha, 0.0f);
    EXPECT_EQ(g->modI, k.restored ? 3.0f : 1e20f);
    EXPECT_EQ(g->unitI[0], k.restored ? 7.0f : 0.0f);
    EXPECT_EQ(g->E[0], k.restored ? 8.0f : 4.0f);
  }
}

TEST_F(TraceTest, TheShadeServiceAnswersTheAmbientTermWhenDepthWeightTracingOrStatusForbid) {
  VtPrimitive *mirror = Square(0, {{0.2f, 0.3f, 0.4f}, 1, {0, 0, 0}});
  Scene({mirror});
  float ambient[3], out[3];
  VoAmbientTerm(ambient);
  // A weight product of exactly 0.05 is not above the cut-off.
  EXPECT_EQ(VoRayTraceShade(out, kAbove, kDown, 0.05), 0u);
  ExpectColour(out, ambient[0], ambient[1], ambient[2]);
  EXPECT_EQ(Seen::shaded, 0);
  EXPECT_EQ(VoRayTraceShade(out, kAbove, kDown, 0.06), 1u);
  ExpectColour(out, 0.2f, 0.3f, 0.4f);
  EXPECT_EQ(Ray()->depth, 0u);
  EXPECT_EQ(Ray()->weight, 1.0f);
  // Maximum depth 1: the mirror's own traced ray gets the ambient term.
  VtTypedValue one = TypedNat32(1);
  ASSERT_EQ(VoControlSet(VO_CONTROL_RAY_MAX_DEPTH, &one), 0u);
  Seen::layers[mirror].reflect = 1.0;
  EXPECT_EQ(VoRayTraceShade(out, kAbove, kDown, 1.0), 1u);
  EXPECT_EQ(Seen::reflect_hit, 0u);
  ExpectColour(Seen::reflected, ambient[0], ambient[1], ambient[2]);
  Seen::layers[mirror].reflect = 0;
  // Tracing off, or a sticky status: ambient, nothing shaded.
  const int shaded = Seen::shaded;
  for (uint32_t code : {VO_CONTROL_RAY_TRACING, VO_CONTROL_RAY_STICKY}) {
    VtTypedValue on = TypedWord(code == VO_CONTROL_RAY_TRACING ? VtBoolean : VtStatusType,
                                code == VO_CONTROL_RAY_TRACING ? 0u : 2u);
    ASSERT_EQ(VoControlSet(code, &on), 0u);
    EXPECT_EQ(VoRayTraceShade(out, kAbove, kDown, 1.0), 0u);
    ExpectColour(out, ambient[0], ambient[1], ambient[2]);
    on.value.u = code == VO_CONTROL_RAY_TRACING ? 1u : 0u;
    ASSERT_EQ(VoControlSet(code, &on), 0u);
  }
  EXPECT_EQ(Seen::shaded, shaded);
  // A save of the globals that fails (its pool cannot grow): ambient, and
  // the caller's globals exactly as they were.
  AllocationFailureArm(1);
  int pushed = 0;
  while (pushed < 100000 && VoShaderPushEnvironment() == 0) ++pushed;
  VtShaderGlobals before = *VoShaderGetGlobals();
  AllocationFailureArm(1);
  EXPECT_EQ(VoRayTraceShade(out, kAbove, kDown, 1.0), 0u);
  EXPECT_TRUE(AllocationFailureFired());
  AllocationFailureArm(0);
  ExpectColour(out, ambient[0], ambient[1], ambient[2]);
  EXPECT_EQ(std::memcmp(&before, VoShaderGetGlobals(), sizeof before), 0);
  for (int i = 0; i < pushed; ++i) EXPECT_EQ(VoShaderPopEnvironment(), 0u);
}

TEST_F(TraceTest, ABentRayContinuesFromTheHitAndDeepStacksStopAt256Layers) {
  // The square bends the ray to +x; a red wall at x = 2 stands beside it.
  static const float kSideways[3] = {1, 0, 0};
  VtPrimitive *glass = Square(0, {{0, 0, 0}, 0.5f, {0, 0, 0}, kSideways});
  VtPrimitive *wall =
      Mesh({{2, 0, -1}, {2, 1, -1}, {2, 1, 1}, {2, 0, 1}}, {{0, 1, 2, 3}}, VO_PRIMITIVE_TWO_SIDED);
  ASSERT_EQ(VoPrimitiveSetMaterial(wall, material_), 0u);
  Seen::layers[wall] = {{1, 0, 0}, 1, {0, 0, 0}};
  Scene({glass, wall});
  float out[3];
  // From the hit (0.5, 0.5, 0) along +x the wall is met: c = red x 0.5,
  // alpha 0.5 + 0.5 x 1 = 1.
  EXPECT_EQ(Trace(out), 1u);
  ExpectColour(out, 0.5f, 0, 0);
  EXPECT_FLOAT_EQ(VoShaderGetGlobals()->alpha, 1.0f);
  // 300 sheets at z = 0, 0.01, ...: 256 are shaded, black and alpha 0
  // behind the last, one debug message per pass.
  VoRayTracerSceneRelease();
  std::vector<std::vector<float>> xyz;
  std::vector<std::vector<uint32_t>> faces;
  for (uint32_t i = 0; i < 300; ++i) {
    const float h = -0.01f * static_cast<float>(i);
    for (auto [x, y] : {std::pair{0, 0}, {1, 0}, {1, 1}, {0, 1}}) xyz.push_back({float(x), float(y), h});
    faces.push_back({4 * i, 4 * i + 1, 4 * i + 2, 4 * i + 3});
  }
  VtPrimitive *stack = Mesh(xyz, faces);
  ASSERT_EQ(VoPrimitiveSetMaterial(stack, material_), 0u);
  Seen::layers[stack] = {{0, 0, 0}, 0, {1, 1, 1}};
  Scene({stack});
  Seen::shaded = 0;
  g_posted.clear();
  for (int pass = 0; pass < 2; ++pass) EXPECT_EQ(Trace(out), 1u);
  EXPECT_EQ(Seen::shaded, 512);
  EXPECT_EQ(CountPosted(messages::kRayLayersCut), 1);
  EXPECT_EQ(VoShaderGetGlobals()->alpha, 0.0f);
}

}  // namespace
}  // namespace vo::test
