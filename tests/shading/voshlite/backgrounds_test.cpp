// The rough and image displacements, snow and the mixed background at
// chosen points (expected numbers worked from the formulas beside them).

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "lite_fixture.h"
#include "support/image_reader.h"
#include "support/kernel_fixture.h"
#include "shading/voshader/voshader.h"
#include "shading/voshlite/voshlite.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

constexpr uint32_t C = VO_SHADER_COLOUR, F = VO_SHADER_FOREGROUND, B = VO_SHADER_BACKGROUND,
                   D = VO_SHADER_DISPLACEMENT;

using N3 = std::array<float, 3>;
using shaderlib::Set3;

// The normals a displacement gives at P = (0.3, 0.7, 0.2), (s, t) = (0.3,
// 0.7) with the argument set to each value in turn.
std::vector<N3> Bent(VtShader *s, const char *label, std::initializer_list<VtTypedValue> values) {
  std::vector<N3> normals;
  for (const VtTypedValue &v : values) {
    EXPECT_EQ(VoShaderSetArg(s, label, &v), 0u);
    const float *n = LiteTest::Shade(s, 0.3f, 0.7f, 0.2f, 0.3f, 0.7f)->N;
    normals.push_back({n[0], n[1], n[2]});
  }
  return normals;
}

TEST_F(LiteTest, RoughAndCastingBendNormalsWithinTheirOctaveAndFrequencyLimits) {
  // Detail 3 bends N; 0 and -3 (no octaves, a flat height) leave it; 12 is 10.
  VtShader *rough = Make(D, "rough");
  for (VtShader *s : {rough, Make(D, "wrapped rough")}) {
    const std::vector<N3> n =
        Bent(s, "detail", {TypedInt32(3), TypedInt32(0), TypedInt32(-3), TypedInt32(12), TypedInt32(10)});
    EXPECT_NE(n[0], (N3{0, 0, 1}));
    EXPECT_EQ(n[1], (N3{0, 0, 1}));
    EXPECT_EQ(n[2], (N3{0, 0, 1}));
    EXPECT_EQ(n[3], n[4]);
  }
  // A dented threshold of 1 or more is 0.
  const std::vector<N3> n =
      Bent(Make(D, "casting"), "dented threshold", {TypedFloat(0), TypedFloat(1), TypedFloat(2)});
  EXPECT_EQ(n[1], n[0]);
  EXPECT_EQ(n[2], n[0]);
  // Over a scene reaching x, y = +-1e5, scale 1e-5 (k = 1e5) is limited to
  // k = 1e5 / 1e5 = 1: scale 10's frequency.
  const float corners[9] = {-1e5f, -1e5f, 0, 1e5f, -1e5f, 0, 0, 1e5f, 0};
  const uint32_t ids[] = {VO_VERT_WORLD};
  const VtTypedValue data[] = {TypedPointer(const_cast<float *>(corners))};
  VtPrimitive *wide = VoPrimitiveCreatePolygon(3, 1, ids, data);
  VtReference *scene = VoPrimitiveReferenceCreate(wide);
  ASSERT_EQ(VoPrimitiveListSet(scene), 0u);
  const std::vector<N3> scaled = Bent(rough, "scale", {TypedFloat(10), TypedFloat(1e-5f)});
  EXPECT_EQ(scaled[1], scaled[0]);
  EXPECT_EQ(VoPrimitiveListSet(nullptr), 0u);
  EXPECT_EQ(VoReferenceListDestroy(scene, nullptr), 0u);
  EXPECT_EQ(VoPrimitiveDestroy(wide), 0u);
}

// Images the old bump map cannot index: no width, no height, no pixels,
// 32 bits per pixel.
VtImage *Unusable(const char *name) {
  VtImage *image = VoImageCreate();
  image->width = image->height = 2;
  if (std::strcmp(name, "32 bits") == 0 || std::strcmp(name, "no width") == 0) {
    if (VoImageAllocateData(image) != 0) return image;
  }
  if (std::strcmp(name, "32 bits") == 0) image->bits = 32;
  if (std::strcmp(name, "no width") == 0) image->width = 0;
  if (std::strcmp(name, "no height") == 0) image->height = 0;
  return std::strcmp(name, "missing") == 0 ? (VoImageDestroy(image), nullptr) : image;
}

TEST_F(LiteTest, OldBumpMapsReadRedOrGreyBytesByRowAndRefuseImagesTheyCannotIndex) {
  // Red 0 on the left, 255 on the right; amplitude 0.1: at s = 0.495 in
  // the second row (indexed by its bytes per row) the step of 0.01 crosses
  // into the right column: ds = 0.1, dt = 0; A x B = (0.01, 0, 0.1) x
  // (0, 0.01, 0) = (-0.001, 0, 0.0001), normalised.
  ImagesByName::Install({{"ramp", 2, 2, 24, {0, 9, 9, 255, 9, 9, 0, 9, 9, 255, 9, 9}},
                         {"grey ramp", 2, 2, 8, {0, 255, 0, 255}}});
  VtShader *bump = Make(D, "wrapped old bump map");
  for (const char *name : {"ramp", "grey ramp"}) {
    Set(bump, "file name", TypedString(name));
    Expect3(Shade(bump, 0, 0, 0, 0.495f, 0.75f)->N, -0.995037f, 0, 0.0995037f, 1e-5f);
  }
  ASSERT_EQ(VoCallBackSet(VO_DRIVER_IMAGE_READ, reinterpret_cast<VtProc>(&Unusable)), 0u);
  for (const char *name : {"no width", "no height", "no pixels", "32 bits", "missing"}) {
    g_posted.clear();
    Set(bump, "file name", TypedString(name));
    Expect3(Shade(bump, 0, 0, 0, 0.495f, 0.25f)->N, 0, 0, 1);
    EXPECT_EQ(CountPosted(messages::kLiteImageUnusable), std::strcmp(name, "missing") == 0 ? 0u : 1u) << name;
  }
}

TEST_F(LiteTest, SnowDrawsItsFlakesOnceFromTheSharedTableAndKeepsThemWhileShading) {
  // Flake size 1 (radius^2 0.25, no offset), both layers at k = 1, no
  // noise: at a cell's centre d2 = 0, w = 0.4 per layer: 1 - 0.4^2 = 0.84
  // over black; at (0.8, 0.5) d2 = 0.09, w = 0.616: 1 - 0.616^2 = 0.620544.
  // (-0.5, 0.5) is cell fl(-0.5) = -1, i.e. 126.
  std::vector<float> draws(255);
  ASSERT_EQ(VoRandomInitialise(11), 0u);
  for (float &d : draws) d = VoRandomFloat();
  ASSERT_EQ(VoRandomInitialise(11), 0u);
  VtShader *snow = Make(F, "snow");
  for (const char *label : {"flake size", "near scale", "far scale"}) Set(snow, label, TypedFloat(1));
  Set(snow, "noise amplitude", TypedFloat(0));
  const float *table = lite::TableValues(&lite::Tables::snow);
  for (int i = 0; i < 128; ++i) ASSERT_EQ(table[i], draws[i] - 0.5f) << i;
  // Flag i (density 0.4) from draw 128 + i, seen at (i + 0.5, 0.5), twice.
  for (int run = 0; run < 2; ++run)
    for (int i = 0; i < 127; ++i)
      EXPECT_NEAR(Pixel(snow, i + 0.5f, 0.5f)->Co[0], draws[128 + i] < 0.4f ? 0.84f : 0, 1e-6f) << i;
  Set(snow, "flake density", TypedFloat(1));
  for (auto [x, co] : {std::pair{0.5f, 0.84f}, {0.8f, 0.620544f}, {-0.5f, 0.84f}})
    EXPECT_NEAR(Pixel(snow, x, 0.5f)->Co[0], co, 1e-6f) << x;
  Set(snow, "flake density", TypedFloat(0));
  EXPECT_EQ(Pixel(snow, 0.5f, 0.5f)->Co[0], 0.0f);
  // A shader-driven flake colour: its set draws the flags once more, then
  // 1000 points, each prepared again, draw nothing and every flake stays.
  ShaderColoursOn();
  VtShader *white = Make(C, "plain");
  Set(white, "colour", Colour(1, 1, 1));
  Set(snow, "flake colour", ShaderValue(white));
  Set(snow, "flake density", TypedFloat(1));
  EXPECT_NEAR(Pixel(snow, 0.5f, 0.5f)->Co[0], 0.84f, 1e-6f);
  ASSERT_EQ(VoRandomInitialise(5), 0u);
  for (int i = 0; i < 1000; ++i) {
    Run(snow, VO_SLOT_PREPARE);
    EXPECT_NEAR(Pixel(snow, i % 127 + 0.5f, 0.5f)->Co[0], 0.84f, 1e-6f);
  }
  const float next = VoRandomFloat();
  ASSERT_EQ(VoRandomInitialise(5), 0u);
  EXPECT_EQ(VoRandomFloat(), next);
}

// A background that counts its evaluations.
int g_counted = 0;
VtStatus CountingEvaluate(void *) { return ++g_counted, 0; }
constexpr const char *kCb[] = {"Cb"};
const shaderlib::ClassDescription kCounting{"test_counting_background",          "counting", B, {}, {}, kCb,
                                            lite::BaseEntries(&CountingEvaluate)};

TEST_F(LiteTest, MixedBackgroundsWeighTwoLiveBackgroundsAndRefuseLoopsStaleHandlesAndDepth) {
  auto plain = [&](float r, float g, float b, bool kept = true) {
    VtShader *s = kept ? Make(B, "plain") : VoShaderCreate(B, "plain");
    Set(s, "colour", Colour(r, g, b));
    return s;
  };
  auto mixed = [&](VtShader *base, VtShader *other, float ratio) {
    VtShader *m = Make(B, "mixed");
    Set(m, "base shader", TypedPointer(base));
    Set(m, "mixed shader", TypedPointer(other));
    Set(m, "mixing ratio", TypedFloat(ratio));
    return m;
  };
  // 0.75 red + 0.25 blue; neither shader: black.
  VtShader *red = plain(1, 0, 0), *a = mixed(red, plain(0, 0, 1), 0.25f);
  Expect3(Pixel(a, 0, 0)->Cb, 0.75f, 0, 0.25f);
  VtShaderGlobals *g = At(0, 0, 0);
  Set3(g->Cb, 0.5f, 0.5f, 0.5f);
  Run(Make(B, "mixed"));
  Expect3(g->Cb, 0, 0, 0);
  // Ratio 1 never runs the base.
  ASSERT_EQ(shaderlib::ClassCreate(kCounting), 0u);
  VtShader *blue = plain(0, 0, 1, false), *b = mixed(Make(B, "counting"), blue, 1);
  Expect3(Pixel(b, 0, 0)->Cb, 0, 0, 1);
  EXPECT_EQ(g_counted, 0);
  // Refused with 0x20000012 and its diagnostic, the argument and the change
  // counter kept: a pointer that is no shader, a colour shader, a destroyed
  // one, the background itself, and a background that already holds it;
  // the kernel's entry call answers the same.
  VtShader *gone = VoShaderCreate(B, "plain");
  ASSERT_EQ(VoShaderDestroy(gone), 0u);
  VtShader *c = mixed(b, nullptr, 0);
  int no_shader[8] = {};
  auto changes = [] { return shader::ChangeCount(shader::StateGet()); };
  auto held = [&] {
    VtTypedValue kept{};
    EXPECT_EQ(VoShaderGetArg(b, "mixed shader", &kept), 0u);
    return kept.value.p;
  };
  for (void *refused : {static_cast<void *>(no_shader), static_cast<void *>(Make(C, "plain")),
                        static_cast<void *>(gone), static_cast<void *>(b), static_cast<void *>(c)}) {
    g_posted.clear();
    const uint64_t before = changes();
    const VtTypedValue v = TypedPointer(refused);
    EXPECT_EQ(VoShaderSetArg(b, "mixed shader", &v), VO_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(CountPosted(messages::kLiteHandleRefused), 1u);
    EXPECT_EQ(changes(), before);
    EXPECT_EQ(held(), blue);
    VtShaderEntryArgs args{TypedNat32(1), v};
    EXPECT_EQ(VoShaderExecuteEntry(b, VO_SLOT_SET_ARG, &args), VO_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(held(), blue);
  }
  // A live plain background is taken, read back, and counted once.
  VtShader *green = plain(0, 1, 0);
  const uint64_t before = changes();
  const VtTypedValue taken = TypedPointer(green);
  EXPECT_EQ(VoShaderSetArg(b, "mixed shader", &taken), 0u);
  EXPECT_EQ(changes(), before + 1);
  EXPECT_EQ(held(), green);
  const VtTypedValue back = TypedPointer(blue);
  ASSERT_EQ(VoShaderSetArg(b, "mixed shader", &back), 0u);
  // The application destroys blue; b holds it still.
  ASSERT_EQ(VoShaderDestroy(blue), 0u);
  Expect3(Pixel(b, 0, 0)->Cb, 0, 0, 1);
  // A chain of mixed backgrounds over red: 16 deep is red, 17 black.
  VtShader *chain = red;
  for (int depth = 1; depth <= 17; ++depth) {
    chain = mixed(chain, nullptr, 0);
    g_posted.clear();
    const float want = depth <= 16 ? 1.0f : 0.0f;
    EXPECT_EQ(Pixel(chain, 0, 0)->Cb[0], want) << depth;
    EXPECT_EQ(CountPosted(messages::kLiteBackgroundTooDeep) != 0, depth > 16) << depth;
  }
}

}  // namespace
}  // namespace vo::test
