// The area light: form factors, thresholds and emission against hand
// values, the emitter's own points, the levels of detail, refused emitters,
// the element budget, the shadow procedure's grid, jittered shadow rays in
// any order, clones that leave the build to its owner, the kernel's second
// pass, and allocation failures.

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <numbers>

#include "area_fixture.h"
#include "shading/voshpro/scattering.h"
#include "kernel/vosystem/context.h"

namespace vo::test {
namespace {

constexpr double kPi = std::numbers::pi;
const float kOrigin[3] = {0, 0, 0};

TEST_F(AreaTest, FormFactorsThresholdsAndEmissionFollowTheEmittersGeometry) {
  VtShader *near = AreaOn(DownTriangle(1)), *far = AreaOn(DownTriangle(2));
  NoLods(near);
  NoLods(far);
  ASSERT_EQ(Build(near), 0u);
  ASSERT_EQ(Build(far), 0u);
  // F = c_e A / (pi r^2 + A) with the unit direction: 0.5 / (pi + 0.5) at
  // 1 m, 0.5 / (4 pi + 0.5) at 2 m (twice that with d unnormalised).
  Selected a = Select(near, kOrigin), b = Select(far, kOrigin);
  ASSERT_EQ(a.samples.size(), 1u);
  ASSERT_EQ(b.samples.size(), 1u);
  EXPECT_NEAR(a.Sum(), 0.137303, 1e-6);
  EXPECT_NEAR(b.Sum(), 0.038266, 1e-6);
  EXPECT_NEAR(0.5 / (kPi + 0.5), 0.137303, 1e-6);
  Expect3(a.samples[0].direction, 0, 0, 1);
  EXPECT_NEAR(a.samples[0].distance, 1, 1e-6);
  EXPECT_NEAR(a.samples[0].cosine, 1, 1e-6);
  // A point above the emitter, behind it, gets nothing; so does a point
  // whose normal faces away.
  const float above[3] = {0, 0, 3}, down[3] = {0, 0, -1};
  EXPECT_TRUE(Select(near, above).samples.empty());
  EXPECT_TRUE(Select(near, kOrigin, down).samples.empty());

  // Thresholds 10^(-2 lod - 1.7): T1 from min lod, T2 from the largest, T3
  // from min and mid; mid unset reads as min.
  VtShader *lods = AreaOn(DownTriangle(1));
  ASSERT_EQ(Build(lods), 0u);
  EXPECT_NEAR(BuildOf(lods)->T1, 0.0199526, 1e-7);
  EXPECT_NEAR(BuildOf(lods)->T2, 1.99526e-4, 1e-9);
  EXPECT_NEAR(BuildOf(lods)->T3, 0.0199526, 1e-7);
  EXPECT_FLOAT_EQ(Get(lods, "mid lod").value.f, 0);
  SetFloat(lods, "mid lod", 0.5f);
  ASSERT_EQ(Build(lods), 0u);
  EXPECT_NEAR(BuildOf(lods)->T3, 1.99526e-3, 1e-8);

  // 100 W of white over 2 m^2: the components add up to 100 / 2; 100 lm:
  // 100 / 179 per channel (47.1 + 117.2 + 14.7) over the area.
  VtShader *quad = AreaOn(DownQuad(1));
  SetString(quad, "power units", "watts");
  SetFloat(quad, "power", 100);
  ASSERT_EQ(Build(quad), 0u);
  Expect3(&BuildOf(quad)->emission.red, 16.6667f, 16.6667f, 16.6667f, 1e-3f);
  EXPECT_NEAR(BuildOf(quad)->area, 2, 1e-6);
  SetString(quad, "power units", "lumens");
  ASSERT_EQ(Build(quad), 0u);
  Expect3(&BuildOf(quad)->emission.red, 0.558659f / 2, 0.558659f / 2, 0.558659f / 2, 1e-5f);
  // "undefined" cannot be set back; a colour temperature at 1000 or less is
  // not stored.
  SetString(quad, "power units", "undefined");
  EXPECT_STREQ(Get(quad, "power units").value.s, "lumens");
  SetFloat(quad, "colour temperature", 900);
  EXPECT_FLOAT_EQ(Get(quad, "colour temperature").value.f, 0);
}

TEST_F(AreaTest, TheEmittersOwnPointsTakeItsWholeEmissionAndTheLodsSetTheSplit) {
  VtPrimitive *tri = DownTriangle(1);
  VtShader *s = AreaOn(tri);
  ASSERT_EQ(Build(s), 0u);
  const float n[3] = {0, 0, -1};
  const Selected own = Select(Record(s), tri, kOrigin, n);
  ASSERT_EQ(own.single, 1u);
  ASSERT_EQ(own.samples.size(), 1u);
  Expect3(&own.samples[0].colour.red, 1, 1, 1);
  Expect3(own.samples[0].direction, 0, 0, -1);
  // A piece expanded from the emitter names it as its parent.
  VtPrimitive *piece = DownTriangle(5);
  VtPrimitive *held = tri;
  VtTypedValue parent = TypedPointer(&held);
  ASSERT_EQ(VoPrimitiveSetProperty(piece, VO_PRIM_PARENT, &parent), 0u);
  EXPECT_EQ(Select(Record(s), piece, kOrigin, n).single, 1u);

  // Default lods (0, -, 1): F 0.137 passes T1, but the four children's sum
  // differs by less than the error bound of 0.1: whole.
  EXPECT_EQ(Select(s, kOrigin).samples.size(), 1u);
  // The children's sum is 0.1368 against the whole's 0.1373 (0.36
  // percent): with a bound of 0.003 the children are taken, and some of
  // them split again, their own splits changing about as much.
  SetFloat(s, "error bound", 0.003f);
  ASSERT_EQ(Build(s), 0u);
  const size_t some = Select(s, kOrigin).samples.size();
  EXPECT_GE(some, 4u);
  EXPECT_LT(some, 16u);
  // Without the error bound the children are split too: sixteen, each
  // below T1. The sum tends toward the whole's form factor.
  SetFloat(s, "error bound", 0);
  ASSERT_EQ(Build(s), 0u);
  const Selected split = Select(s, kOrigin);
  EXPECT_EQ(split.samples.size(), 16u);
  for (const auto &a : split.samples) EXPECT_LT(a.colour.red, BuildOf(s)->T1);
  EXPECT_NEAR(split.Sum(), 0.137303, 0.03);
  // Lods 0: whole elements, a quad's two triangles.
  VtShader *quad = AreaOn(DownQuad(0.2f));
  NoLods(quad);
  ASSERT_EQ(Build(quad), 0u);
  EXPECT_EQ(Select(quad, kOrigin).samples.size(), 2u);
}

TEST_F(AreaTest, AMissingOrFlatEmitterIsRefusedAndTheLightGivesNothing) {
  VtShader *none = Make(L, "area");
  EXPECT_EQ(Prepare(none), 0x20000012u);
  VtAreaLightSampler &a = Record(none)->areaSampler;
  EXPECT_EQ(a.prepare(&a), 0x20000012u);
  EXPECT_GE(CountPosted(messages::kProAreaNoPrimitive), 2);
  EXPECT_TRUE(Select(none, kOrigin).samples.empty());
  // A mesh without faces: no area to share the emission over.
  VtPrimitive *empty = VoPrimitiveCreate(VoContentsGetDefault(), VO_PRIMITIVE_MESH);
  ASSERT_NE(empty, nullptr);
  VtShader *flat = AreaOn(empty);
  SetString(flat, "power units", "watts");
  g_posted.clear();
  EXPECT_EQ(Build(flat), 0x20000012u);
  EXPECT_EQ(BuildOf(flat), nullptr);
  EXPECT_EQ(CountPosted(messages::kProAreaBuildFailed), 1);
  EXPECT_TRUE(Select(flat, kOrigin).samples.empty());
  // A stale primitive handle is not read.
  VtPrimitive *gone = DownTriangle(1);
  VtShader *stale = AreaOn(gone);
  ASSERT_EQ(VoPrimitiveDestroy(gone), 0u);
  EXPECT_EQ(Build(stale), 0x20000012u);
}

TEST_F(AreaTest, TenThousandTrianglesAtLodThreeStayWithinTheElementBudget) {
  // 50 x 100 cells of 0.02 m, two triangles each, facing down at z = 1.
  Corners xyz;
  for (int j = 0; j <= 100; ++j)
    for (int i = 0; i <= 50; ++i) xyz.push_back({i * 0.02f, j * 0.02f, 1});
  std::vector<int32_t> counts, indices;
  for (int j = 0; j < 100; ++j)
    for (int i = 0; i < 50; ++i) {
      const int32_t v = j * 51 + i;
      for (int32_t t : {v, v + 51, v + 1, v + 1, v + 51, v + 52}) indices.push_back(t);
      counts.push_back(3);
      counts.push_back(3);
    }
  const uint32_t ids[] = {VO_VERT_WORLD};
  const VtTypedValue data[] = {TypedPointer(xyz.data())};
  VtPrimitive *mesh = VoPrimitiveCreateMesh(10000, nullptr, counts.data(), indices.data(), 1, ids, data);
  ASSERT_NE(mesh, nullptr);
  VtShader *s = AreaOn(mesh);
  SetFloat(s, "min lod", 3);
  SetFloat(s, "error bound", 0);
  ASSERT_EQ(Build(s), 0u);
  EXPECT_EQ(BuildOf(s)->count, 10000u);
  // 0.1 below the middle: pieces near the point are split to six levels,
  // past the budget of 2^20 elements; the rest are used whole. No piece is
  // split into pieces too small to count, so the light stays.
  const float p[3] = {0.5f, 1, 0.9f};
  const Selected first = Select(s, p);
  EXPECT_EQ(first.status, 0u);
  EXPECT_LE(BuildOf(s)->made.load(), kAreaElementBudget);
  EXPECT_GT(first.samples.size(), 10000u);
  EXPECT_EQ(CountPosted(messages::kProAreaBudget), 1);
  EXPECT_TRUE(std::isfinite(first.Sum()));
  // The budget is posted once for the image.
  (void)Select(s, kOrigin);
  EXPECT_EQ(CountPosted(messages::kProAreaBudget), 1);
  // The emitter's light at a far point is kept by the split (whole: lods 0).
  VtShader *whole = AreaOn(mesh);
  NoLods(whole);
  ASSERT_EQ(Build(whole), 0u);
  const float far[3] = {0.5f, 1, -1};
  EXPECT_NEAR(Select(s, far).Sum(), Select(whole, far).Sum(), 0.01 * Select(whole, far).Sum());
}

TEST_F(AreaTest, TheShadowProcedureAnswersAlikeInEitherPointOrderAndLeavesTheGrid) {
  VtShader *s = AreaOn(DownTriangle(1));
  ASSERT_EQ(Build(s), 0u);
  VtLightData *d = Record(s);
  Expect3(d->position, 0, 0, 1);
  // R = sqrt(0.5 / pi) for one polygon.
  EXPECT_NEAR(BuildOf(s)->radius, std::sqrt(0.5 / kPi), 1e-6);
  // The -z face: an occluder 0.5 from the light (squared 0.25) all over.
  std::vector<float> map(16 * 16, 0.25f);
  lent_maps_ = true;
  d->shadowValid = 1;
  d->shadowMapSide = 16;
  d->shadowMaps[5] = VtShadowMap{map.data(), 0, 15, 0, 15};
  const float before[4] = {d->pcfHalfWidth, d->pcfStepX, static_cast<float>(d->pcfSamplesX), d->pcfJitterY};
  const float p1[3] = {0, 0, 0}, p2[3] = {0.3f, 0.2f, -2};
  const double a1 = AreaShadow(p1, nullptr, kUp, d), a2 = AreaShadow(p2, nullptr, kUp, d);
  const double b2 = AreaShadow(p2, nullptr, kUp, d), b1 = AreaShadow(p1, nullptr, kUp, d);
  EXPECT_EQ(a1, b1);
  EXPECT_EQ(a2, b2);
  EXPECT_DOUBLE_EQ(a1, 1.0);
  const float after[4] = {d->pcfHalfWidth, d->pcfStepX, static_cast<float>(d->pcfSamplesX), d->pcfJitterY};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(before[i], after[i]) << i;
  // No occluder nearer than the point: 0. A point at the centre: 0.
  std::fill(map.begin(), map.end(), 1e20f);
  EXPECT_EQ(AreaShadow(p1, nullptr, kUp, d), 0.0);
  EXPECT_EQ(AreaShadow(d->position, nullptr, nullptr, d), 0.0);
}

// A shadow procedure whose answer hangs on the exact direction, so that a
// jittered ray aimed elsewhere answers differently; it gathers a red
// filter and records what it was handed.
struct Seen {
  static inline float colour[3] = {0, 0, 0};
  static inline int calls = 0;
};
double DirectionShadow(const float *, void *direction, const float *, VtLightData *d) {
  const auto *u = static_cast<const float *>(direction);
  Seen::colour[0] = d->colourAtPoint.red;
  Seen::colour[1] = d->colourAtPoint.green;
  Seen::colour[2] = d->colourAtPoint.blue;
  ++Seen::calls;
  d->colourAtPoint = VtColour{1, 0.5f, 0.5f};
  const double x = std::fabs(u[0]) * 1000;
  return x - std::floor(x);
}

TEST_F(AreaTest, JitteredShadowRaysGiveTheSameSamplesWhateverTheShadingOrder) {
  VtShader *s = AreaOn(DownQuad(1));
  SetFloat(s, "noise factor", 0.5f);
  Set(s, "shadow resolution", TypedInt32(0));
  ASSERT_EQ(Build(s), 0u);
  VtLightData *d = Record(s);
  d->shadow = &DirectionShadow;
  d->distance = 7;
  d->colourAtPoint = VtColour{0.25f, 0.25f, 0.25f};
  const float p1[3] = {0.2f, 0.1f, 0}, p2[3] = {-0.4f, 0.3f, -1};
  const Selected a1 = Select(s, p1), a2 = Select(s, p2);
  const Selected b2 = Select(s, p2), b1 = Select(s, p1);
  ASSERT_EQ(a1.samples.size(), b1.samples.size());
  ASSERT_EQ(a2.samples.size(), b2.samples.size());
  ASSERT_FALSE(a1.samples.empty());
  for (size_t i = 0; i < a1.samples.size(); ++i)
    EXPECT_EQ(a1.samples[i].colour.red, b1.samples[i].colour.red) << i;
  for (size_t i = 0; i < a2.samples.size(); ++i)
    EXPECT_EQ(a2.samples[i].colour.green, b2.samples[i].colour.green);
  // Each ray starts from white; the gathered filter tints the sample; the
  // record's distance and colour are put back.
  Expect3(Seen::colour, 1, 1, 1);
  EXPECT_GT(Seen::calls, 0);
  for (const auto &a : a1.samples) EXPECT_NEAR(a.colour.green, a.colour.red * 0.5f, 1e-6f);
  EXPECT_EQ(d->distance, 7);
  Expect3(&d->colourAtPoint.red, 0.25f, 0.25f, 0.25f);
  // Without the shadow flag no ray is cast; with it, the pieces whose rays
  // disagree were split.
  Seen::calls = 0;
  const Selected plain = Select(s, p1, kUp, 0);
  EXPECT_FALSE(plain.samples.empty());
  EXPECT_EQ(Seen::calls, 0);
  EXPECT_GT(a1.samples.size(), plain.samples.size());
}

TEST_F(AreaTest, ACloneLightsFromItsOwnersBuildAndLeavesItAlone) {
  VtShader *s = AreaOn(DownQuad(1));
  ASSERT_EQ(Build(s), 0u);
  VtLightData *d = Record(s);
  AreaBuild *built = BuildOf(s);
  auto *clone = static_cast<VtLightData *>(VoAllocate(sizeof(VtLightData)));
  ASSERT_NE(clone, nullptr);
  std::memcpy(static_cast<void *>(clone), d, sizeof *d);
  EXPECT_EQ(clone->areaSampler.prepare(&clone->areaSampler), 0u);
  EXPECT_EQ(clone->areaSampler.release(&clone->areaSampler), 0u);
  EXPECT_EQ(BuildOf(s), built);
  EXPECT_NEAR(Select(clone, nullptr, kOrigin, kUp).Sum(), Select(d, nullptr, kOrigin, kUp).Sum(), 1e-9);
  VoDeallocate(clone);
  // The owner's release frees it.
  EXPECT_EQ(d->areaSampler.release(&d->areaSampler), 0u);
  EXPECT_EQ(BuildOf(s), nullptr);
}

TEST_F(AreaTest, TheKernelsSecondPassTurnsTheSamplesIntoTransientLights) {
  VtShader *s = AreaOn(DownQuad(1));
  NoLods(s);
  Set(s, "shadows", TypedBoolean(false));
  made_.pop_back();  // the light list destroys it
  SetBoolean(VO_CONTROL_SHADER_SECOND_LIGHT_PASS, true);
  Lights({s});
  ASSERT_NE(BuildOf(s), nullptr);
  const float co[3] = {0, 0, 0}, eye[3] = {0, 0, -1};
  Point(kOrigin, kUp, eye, co);
  ASSERT_EQ(VoShadingInitialiseLights(), 0u);
  int transient = 0;
  for (VtLightData *l = VoShaderGetGlobals()->litLights; l != nullptr; l = l->nextLit)
    transient += l->kind == VO_LIGHT_TRANSIENT;
  EXPECT_EQ(transient, 2);
  EXPECT_EQ(VoShadingTerminateLights(), 0u);
}

TEST_F(AreaTest, AWorkerClonesABuiltAreaLightAndCopiesAnUnbuiltOne) {
  VtShader *s = AreaOn(DownQuad(1));
  Set(s, "shadows", TypedBoolean(false));
  made_.pop_back();  // the light list destroys it
  VtShader *fog = Make(VO_SHADER_FOREGROUND, "light scattering");
  SetBoolean(VO_CONTROL_SHADER_SECOND_LIGHT_PASS, true);
  Lights({s});
  VtLightData *d = Record(s);
  AreaBuild *built = BuildOf(s);
  ASSERT_NE(built, nullptr);
  ASSERT_EQ(d->areaPrepared, 1);
  void *shared = ProRecordGet()->shared;
  ASSERT_NE(shared, nullptr);

  VtStatus status = 0;
  ContextCopyTable *table = ContextCopiesMake(&status);
  ASSERT_EQ(status, 0u);
  ContextCopiesInstall(table);
  // The worker's light is a clone of the built one: the same emitter and
  // build; its build and release leave them alone.
  VtLightData *clone = VoShaderGetGlobals()->currentLights;
  ASSERT_NE(clone, nullptr);
  EXPECT_NE(clone, d);
  EXPECT_EQ(Emitters(clone), Emitters(d));
  EXPECT_EQ(clone->areaPrepared, 1);
  EXPECT_EQ(clone->areaSampler.prepare(&clone->areaSampler), 0u);
  EXPECT_EQ(clone->areaSampler.release(&clone->areaSampler), 0u);
  EXPECT_EQ(BuildOf(s), built);
  EXPECT_EQ(Select(clone, nullptr, kOrigin, kUp).samples.size(),
            Select(d, nullptr, kOrigin, kUp).samples.size());
  // The scattering state of the worker is its own, empty.
  auto *own = static_cast<ScatterState *>(ProRecordGet()->shared);
  ASSERT_NE(own, nullptr);
  EXPECT_NE(static_cast<void *>(own), shared);
  EXPECT_EQ(own->volumes, nullptr);
  EXPECT_EQ(own->built, 0);
  ContextCopiesInstall(nullptr);
  EXPECT_EQ(ContextCopiesFree(table), 0u);
  EXPECT_EQ(BuildOf(s), built);
  EXPECT_EQ(ProRecordGet()->shared, shared);

  // After the image's end the light is not built: a worker gets a copy of
  // its own, which builds for itself.
  ASSERT_EQ(VoShadingTerminateImage(), 0u);
  image_ = false;
  EXPECT_EQ(BuildOf(s), nullptr);
  table = ContextCopiesMake(&status);
  ASSERT_EQ(status, 0u);
  ContextCopiesInstall(table);
  VtLightData *copy = VoShaderGetGlobals()->currentLights;
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(Emitters(copy), Emitters(d));
  EXPECT_EQ(Emitters(copy)->owner, copy);
  ContextCopiesInstall(nullptr);
  EXPECT_EQ(ContextCopiesFree(table), 0u);
  (void)fog;
}

TEST_F(AreaTest, HostileArgumentsGiveFiniteSamples) {
  VtShader *s = AreaOn(DownQuad(1));
  const float floats[] = {NAN, INFINITY, -INFINITY, 0, -1, 1e30f};
  const int32_t ints[] = {INT_MIN, -1, INT_MAX};
  auto points = [&](const char *label) {
    (void)Build(s);
    for (int i = 0; i < 8; ++i)
      for (int j = 0; j < 8; ++j) {
        const float p[3] = {-2 + 0.5f * i, -2 + 0.5f * j, 0.5f - 0.25f * static_cast<float>(i % 3)};
        const Selected got = Select(s, p);
        for (const auto &a : got.samples)
          ASSERT_TRUE(std::isfinite(a.colour.red) && std::isfinite(a.colour.green) &&
                      std::isfinite(a.colour.blue) && std::isfinite(a.distance) && std::isfinite(a.cosine))
              << label;
      }
  };
  SetString(s, "power units", "watts");
  for (const char *label :
       {"power", "colour temperature", "noise factor", "min lod", "mid lod", "max lod", "error bound"}) {
    for (float f : floats) {
      // A number that is not finite is refused, the light keeping its own.
      const VtTypedValue v = TypedFloat(f);
      EXPECT_EQ(VoShaderSetArg(s, label, &v), std::isfinite(f) ? 0u : VO_STATUS_BAD_ARGUMENT) << label;
      points(label);
    }
    SetFloat(s, label, 0.5f);
  }
  // A colour that is no number is refused, the light keeping its own.
  const VtTypedValue bad = Colour(NAN, INFINITY, -1);
  EXPECT_EQ(VoShaderSetArg(s, "colour", &bad), VO_STATUS_BAD_ARGUMENT);
  points("colour");
  for (const char *label : {"shadow quality", "shadow resolution"})
    for (int32_t v : ints) {
      Set(s, label, TypedInt32(v));
      points(label);
    }
  // Asked for a shader, every argument answers none.
  VtTypedValue v{};
  v.type = VtShaderColour;
  v.value.p = s;
  ASSERT_EQ(VoShaderGetArg(s, "unshot", &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtShaderColour));
  EXPECT_EQ(v.value.p, nullptr);
}

TEST_F(AreaTest, EveryAllocationFailureInBuildSelectionAndRefinementIsReported) {
  VtShader *s = AreaOn(DownQuad(0.5f));
  SetFloat(s, "noise factor", 0.3f);
  Set(s, "shadow resolution", TypedInt32(0));
  VtLightData *d = Record(s);
  EveryAllocationFails([&] {
    VtStatus st = Build(s);
    if (st == 0) {
      d->shadow = &DirectionShadow;
      st |= Select(s, kOrigin).status;
    }
    (void)d->areaSampler.release(&d->areaSampler);
    return st;
  });
}

}  // namespace
}  // namespace vo::test
