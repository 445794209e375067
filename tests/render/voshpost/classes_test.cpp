// The stage's post-process classes: registration and arguments, and the
// bodies of linear scale, matrix, blur, glow and interlace run through the
// list executor.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "postprocess_fixture.h"
#include "render/voshpost/classes.h"

namespace vo::test {
namespace {

std::array<float, 3> Grey(float v) { return {v, v, v}; }

struct Arg {
  const char *label;
  uint32_t type;
  double number;  // the default of a number, Boolean or enumeration
  const char *text = nullptr;
};
struct ClassRow {
  const char *name;
  uint32_t mode;
  std::vector<Arg> args;
};

const ClassRow kClasses[] = {
    {"linear scale", 0x440013, {{"min intensity", VtFloat, 0}, {"max intensity", VtFloat, 0}}},
    {"render lights",
     0x440013,
     {{"flare constant", VtFloat, 1000}, {"lights select", VtString, 0, "visible"}}},
    {"render depth", 0x440013, {}},
    {"matrix", 0x440021, {{"rows", VtInt32, 5}, {"columns", VtInt32, 3}, {"matrix", VtGenericPtr, 0}}},
    {"interlace",
     0x440013,
     {{"buffer1", VtGenericPtr, 0}, {"buffer2", VtGenericPtr, 0}, {"half resolution", VtBoolean, 0}}},
    {"glow",
     0x440022,
     {{"min threshold", VtFloat, 1},
      {"max threshold", VtFloat, 10},
      {"intensity", VtFloat, 1},
      {"range", VtFloat, 10}}},
    {"flares 3d",
     0x440013,
     {{"visible flare", VtGenericPtr, 0}, {"hidden flare", VtGenericPtr, 0}, {"flare const", VtFloat, 1000}}},
    {"ffaa seed",
     0x440013,
     {{"threshold", VtFloat, 0.1}, {"update rgb", VtBoolean, 0}, {"update stencil", VtBoolean, 1}}},
    {"ffaa propagator",
     0x440013,
     {{"halton samples", VtInt32, 32},
      {"early out", VtInt32, 1},
      {"relative sensitivity", VtFloat, 4},
      {"y radix", VtInt32, 3},
      {"x radix", VtInt32, 2},
      {"keep seed", VtBoolean, 0},
      {"dump each stage", VtBoolean, 0},
      {"feedback rate", VtInt32, 16}}},
    {"depth of field",
     0x440023,
     {{"focal length", VtFloat, 50},
      {"aperture", VtFloat, 5.6},
      {"focus plane", VtFloat, 9},
      {"near focus", VtFloat, 0},
      {"far focus", VtFloat, 0},
      {"near blur", VtFloat, 1},
      {"far blur", VtFloat, 1},
      {"ignore background", VtBoolean, 0},
      {"units", VtFloat, 1}}},
    {"blur", 0x440021, {{"range", VtInt32, 2}}},
    {"average frames",
     0x440013,
     {{"source_buffer", VtGenericPtr, 0},
      {"accumulated", VtInt32, 0},
      {"dither", VtBoolean, 0},
      {"update rgb", VtBoolean, 0},
      {"feedback rate", VtInt32, 16}}},
    {"archive", 0x440013, {{"drivername", VtString, 0, ""}, {"filename", VtString, 0, ""}}},
    {"execute", 0x440023, {{"method", VtEnum, 0x70002}}},
};

VtTypedValue Changed(const Arg &a, int round) {
  VtTypedValue v{};
  v.type = a.type;
  switch (a.type) {
    case VtFloat: v.value.f = static_cast<float>(a.number) + 1.5f * round; break;
    case VtGenericPtr: v.value.p = reinterpret_cast<void *>(uintptr_t{0x7f0000001000} + 16 * round); break;
    case VtString: v.value.s = round == 1 ? "first text" : "second"; break;
    case VtBoolean: v.value.u = a.number == 0 ? 1 : 0; break;
    default: v.value.i = static_cast<int32_t>(a.number) + 3 * round;
  }
  return v;
}

TEST_F(PostprocessTest, EveryClassIsMadeByItsNameWithItsModeWordLabelsTypesAndDefaults) {
  for (const ClassRow &row : kClasses) {
    VtShader *s = VoShaderCreate(VO_SHADER_POSTPROCESS, row.name);
    ASSERT_NE(s, nullptr) << row.name;
    EXPECT_EQ(*reinterpret_cast<const uint32_t *>(static_cast<const char *>(s->data) + 4), row.mode)
        << row.name;
    for (const Arg &a : row.args) {
      VtTypedValue v{};
      ASSERT_EQ(VoShaderGetArg(s, a.label, &v), 0u) << row.name << ": " << a.label;
      EXPECT_EQ(v.type, a.type) << row.name << ": " << a.label;
      if (a.type == VtFloat)
        EXPECT_EQ(v.value.f, static_cast<float>(a.number)) << a.label;
      else if (a.type == VtGenericPtr)
        EXPECT_EQ(v.value.p, nullptr) << a.label;
      else if (a.type == VtString)
        EXPECT_STREQ(v.value.s, a.text) << a.label;
      else
        EXPECT_EQ(v.value.i, static_cast<int32_t>(a.number)) << a.label;
      for (int round = 1; round <= 2; ++round) {  // strings replaced twice
        VtTypedValue set = Changed(a, round);
        // Flares 3d holds live post-process shaders only (with a reference).
        VtShader *held = nullptr;
        if (a.type == VtGenericPtr && std::strcmp(row.name, "flares 3d") == 0)
          set.value.p = held = VoShaderCreate(VO_SHADER_POSTPROCESS, "blur");
        ASSERT_EQ(VoShaderSetArg(s, a.label, &set), 0u) << row.name << ": " << a.label;
        VtTypedValue got{};
        ASSERT_EQ(VoShaderGetArg(s, a.label, &got), 0u);
        if (a.type == VtString)
          EXPECT_STREQ(got.value.s, set.value.s) << a.label;
        else if (a.type == VtGenericPtr)
          EXPECT_EQ(got.value.p, set.value.p) << a.label;
        else
          EXPECT_EQ(got.value.u, set.value.u) << a.label;
        if (held != nullptr) {
          EXPECT_EQ(VoShaderDestroy(held), 0u);
        }
      }
    }
    EXPECT_EQ(*reinterpret_cast<const uint32_t *>(static_cast<const char *>(s->data) + 4), row.mode)
        << row.name;
    EXPECT_EQ(VoShaderDestroy(s), 0u);
  }
}

TEST_F(PostprocessTest, NullStringsReadBackEmptyAndTheOwnShadersExist) {
  VtShader *s = VoShaderCreate(VO_SHADER_POSTPROCESS, "archive");
  ASSERT_NE(s, nullptr);
  VtTypedValue v{};
  v.type = VtString;
  v.value.s = nullptr;
  ASSERT_EQ(VoShaderSetArg(s, "filename", &v), 0u);
  v = {};
  ASSERT_EQ(VoShaderGetArg(s, "filename", &v), 0u);
  EXPECT_STREQ(v.value.s, "");
  EXPECT_EQ(VoShaderDestroy(s), 0u);
  ASSERT_NE(post::State()->matrix, nullptr);
  ASSERT_NE(post::State()->interlace, nullptr);
  // Render lights and archive free their strings with destroys of their own.
  for (const char *name : {"archive", "render lights", "blur"}) {
    VtShader *c = VoShaderCreate(VO_SHADER_POSTPROCESS, name);
    ASSERT_NE(c, nullptr);
    VtTypedValue entry{};
    ASSERT_EQ(VoShaderGetEntry(c, VO_SLOT_DESTROY, &entry), 0u);
    EXPECT_EQ(entry.value.fn == reinterpret_cast<VtProc>(&exported::VoShaderInstanceFree),
              std::strcmp(name, "blur") == 0)
        << name;
    ASSERT_EQ(VoShaderGetEntry(c, VO_SLOT_PRERENDER, &entry), 0u);
    EXPECT_EQ(entry.value.fn, nullptr) << name;
    EXPECT_EQ(VoShaderDestroy(c), 0u);
  }
}

TEST_F(ClassTest, LinearScaleFailsWithItsDefaultsAndMapsARangeOntoZeroToOne) {
  VtScreenBuffer *b = Current(3, 1, [](uint32_t x, uint32_t) {
    return std::array<float, 3>{0.4f, x == 0 ? 0.7f : 0.1f, 0.6f};
  });
  VtShader *s = Add("linear scale");
  TestPostData *after = Listed("test kernel");
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(818), 1);
  EXPECT_EQ(after->calls, 0u);
  Arg(s, "min intensity", TypedFloat(0.2f));
  Arg(s, "max intensity", TypedFloat(0.6f));
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  EXPECT_FLOAT_EQ(Pixel(b, VO_SB_COLOUR, 0, 0)[0], 0.5f);
  EXPECT_FLOAT_EQ(Pixel(b, VO_SB_COLOUR, 0, 0)[1], 1.0f);
  EXPECT_FLOAT_EQ(Pixel(b, VO_SB_COLOUR, 1, 0)[1], 0.0f);
  EXPECT_FLOAT_EQ(Pixel(b, VO_SB_COLOUR, 0, 0)[2], 1.0f);
}

TEST_F(ClassTest, TheBuiltInMatrixSpreadsAWhitePixelByItsWeightsAndBadSizesStopTheList) {
  VtScreenBuffer *b =
      Current(7, 7, [](uint32_t x, uint32_t y) { return Grey(x == 3 && y == 3 ? 1.0f : 0.0f); });
  VtShader *m = Add("matrix");
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  EXPECT_EQ(CountPosted(815), 1);
  EXPECT_EQ(g_posted[0].status & 0x08000000u, 0x08000000u);
  EXPECT_NEAR(Red(b, 3, 3), 24.0f / 94, 1e-6);
  EXPECT_NEAR(Red(b, 3, 2), 19.0f / 94, 1e-6);
  EXPECT_NEAR(Red(b, 2, 3), 11.0f / 94, 1e-6);
  EXPECT_NEAR(Red(b, 3, 1), 1.0f / 93, 1e-6);  // clipped: divided by the weights it covers
  EXPECT_EQ(Red(b, 1, 3), 0.0f);

  static const float kEven[12] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  Arg(m, "matrix", TypedPointer(const_cast<float *>(kEven)));
  Arg(m, "rows", TypedInt32(4));
  TestPostData *after = Listed("test kernel");
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(817), 1);
  EXPECT_EQ(after->calls, 0u);
  Arg(m, "rows", TypedInt32(0));
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(816), 1);
  // A size far beyond the image is refused before a cell is read.
  Arg(m, "rows", TypedInt32(65535));
  Arg(m, "columns", TypedInt32(65535));
  // (The kernel given again for that size: one given for a smaller size is
  // let go, with 2970, before the class reads it.)
  Arg(m, "matrix", TypedPointer(const_cast<float *>(kEven)));
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(2661), 1);
}

TEST_F(ClassTest, TheMatrixPrepareLeavesTheFilterSizeOfEvenMatrices) {
  VtShader *m = VoShaderCreate(VO_SHADER_POSTPROCESS, "matrix");
  ASSERT_NE(m, nullptr);
  static const float kCells[12] = {};
  Arg(m, "matrix", TypedPointer(const_cast<float *>(kCells)));
  Arg(m, "rows", TypedInt32(4));
  VtShaderGlobals *g = VoShaderGetGlobals();
  ASSERT_EQ(post::MatrixPrepare(m->data), 0u);
  EXPECT_EQ(VoPostprocessStatusGet(), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(g->Fwidth, 3.0f);
  EXPECT_EQ(g->Fheight, 4.0f);
  EXPECT_EQ(VoShaderDestroy(m), 0u);
}

TEST_F(ClassTest, BlurOfRangeZeroKeepsTheImageAndRangeTwoIsTheFiveByFiveMean) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  std::vector<float> values(9 * 9);
  for (float &v : values) v = unit(random);
  VtScreenBuffer *b = Current(9, 9, [&](uint32_t x, uint32_t y) { return Grey(values[9 * y + x]); });
  VtShader *blur = Add("blur");
  Arg(blur, "range", TypedInt32(0));
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  for (uint32_t i = 0; i < 81; ++i) EXPECT_EQ(Red(b, i % 9, i / 9), values[i]);
  Arg(blur, "range", TypedInt32(2));
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  double mean = 0;
  for (uint32_t y = 2; y <= 6; ++y)
    for (uint32_t x = 1; x <= 5; ++x) mean += values[9 * y + x];
  EXPECT_NEAR(Red(b, 3, 4), mean / 25, 1e-6);
}

// A test class that evaluates as glow through a procedure of its own, so
// the executor asks it per pair.
struct GatheredGlow {
  static inline constexpr post::GlowData kDefault{
      {0, VO_PP_MODE_GATHER_SEPARATE}, 1.0f, 10.0f, 1.0f, 10.0f, 0, 0};
  static VtStatus Evaluate(void *d) { return post::GlowEvaluate(d); }
  static void Register() {
    static constexpr const char *kLabels[] = {"min threshold", "max threshold", "intensity", "range"};
    static constexpr const char *kGlobals[] = {"Ci", "Co", "xf", "yf", "Fwidth", "Fheight", "Bi"};
    static constexpr shaderlib::Field kFields[] = {{VtFloat, 8}, {VtFloat, 12}, {VtFloat, 16}, {VtFloat, 20}};
    const shaderlib::Entries e = shaderlib::DataEntries<kDefault>(
        &Evaluate, &post::GlowPrepare, &shaderlib::TableGet<kFields>, &shaderlib::TableSet<kFields>);
    ASSERT_EQ(shaderlib::ClassCreate({"vxs_test_gathered_glow",
                                      "test gathered glow",
                                      VO_SHADER_POSTPROCESS,
                                      kLabels,
                                      {},
                                      kGlobals,
                                      e}),
              0u);
  }
};

TEST_F(ClassTest, GlowSpreadsABrightPixelByItsFallOffAndPassesTheSourceThrough) {
  VtScreenBuffer *b = Current(512, 512, [](uint32_t x, uint32_t y) {
    return x == 100 && y == 200 ? std::array<float, 3>{20, 20, 20} : std::array<float, 3>{0, 0, 0};
  });
  VtShader *glow = Add("glow");
  VtShaderGlobals *g = VoShaderGetGlobals();
  g->Bi = b;
  ASSERT_EQ(post::GlowPrepare(glow->data), 0u);
  g->Bi = nullptr;
  EXPECT_EQ(g->Fwidth, 103.0f);
  EXPECT_NEAR(static_cast<const post::GlowData *>(glow->data)->k, 0.0026351f, 1e-7);
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN_IMAGE), 0u);
  EXPECT_FLOAT_EQ(Red(b, 100, 200), 20.0f);      // passed through
  EXPECT_NEAR(Red(b, 110, 200), 15.367f, 1e-3);  // distance 10
  EXPECT_NEAR(Red(b, 106, 208), 15.367f, 1e-3);  // distance 10 diagonally
  EXPECT_GT(Red(b, 151, 200), 0.0f);             // within 51.2
  EXPECT_EQ(Red(b, 152, 200), 0.0f);             // from 51.2 on nothing
  EXPECT_EQ(Red(b, 137, 237), 0.0f);             // 52.3 away

  Arg(glow, "range", TypedFloat(0));
  VtScreenBuffer *small = Current(4, 3, [](uint32_t x, uint32_t y) { return Grey(3.0f * x + y); });
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN_IMAGE), 0u);
  for (uint32_t i = 0; i < 12; ++i) EXPECT_EQ(Red(small, i % 4, i / 4), 3.0f * (i % 4) + i / 4);

  Arg(glow, "range", TypedFloat(10));
  Arg(glow, "max threshold", TypedFloat(0));
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN_IMAGE), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(2670), 1);
}

TEST_F(ClassTest, GlowsScatterRouteGivesTheGatherSums) {
  GatheredGlow::Register();
  std::mt19937 random(11);
  std::uniform_int_distribution<uint32_t> px(0, 63), py(0, 47);
  std::uniform_real_distribution<float> level(1.5f, 8.0f), dim(0.0f, 0.9f);
  std::vector<std::array<float, 3>> picture(64 * 48);
  for (auto &p : picture) p = {dim(random), dim(random), 0.0f};
  for (int i = 0; i < 30; ++i) picture[64 * py(random) + px(random)] = {level(random), 0.5f, level(random)};
  auto colour = [&](uint32_t x, uint32_t y) { return picture[64 * y + x]; };
  std::vector<float> results[2];
  const char *names[2] = {"glow", "test gathered glow"};
  for (int k = 0; k < 2; ++k) {
    VtScreenBuffer *b = Current(64, 48, colour);
    (void)VoPostprocessListSet(nullptr);
    if (list_ != nullptr) {
      EXPECT_EQ(VoShaderReferenceDestroy(list_, 1), 0u);
    }
    list_ = nullptr;
    VtShader *g = Add(names[k]);
    Arg(g, "range", TypedFloat(20));
    Arg(g, "min threshold", TypedFloat(1.0f));
    EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN_IMAGE), 0u);
    for (uint32_t y = 0; y < 48; ++y)
      for (uint32_t x = 0; x < 64; ++x)
        for (int ch = 0; ch < 3; ++ch) results[k].push_back(Pixel(b, VO_SB_COLOUR, x, y)[ch]);
  }
  ASSERT_EQ(results[0].size(), results[1].size());
  int different = 0;
  for (size_t i = 0; i < results[0].size(); ++i) {
    different += results[0][i] != results[1][i];
    EXPECT_NEAR(results[0][i], results[1][i], 1e-5 * std::max(1.0f, std::fabs(results[1][i]))) << i;
  }
  EXPECT_GT(std::count_if(results[0].begin(), results[0].end(), [](float v) { return v > 1.0f; }), 100);
  (void)different;
}

TEST_F(ClassTest, InterlaceTakesRowsByFieldOrderAndHalfResolutionTakesEachSourceRowTwice) {
  VtScreenBuffer *red = Current(4, 4, [](uint32_t, uint32_t y) {
    return std::array<float, 3>{1, 0, y * 0.1f};
  });
  VtScreenBuffer *blue = Current(4, 4, [](uint32_t, uint32_t y) {
    return std::array<float, 3>{0, 0, 1 + y * 0.1f};
  });
  VtScreenBuffer *out = Current(4, 4, [](uint32_t, uint32_t) { return Grey(0.5f); });
  VtShader *s = Add("interlace");
  Arg(s, "buffer1", TypedPointer(red));
  Arg(s, "buffer2", TypedPointer(blue));
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);  // field order 0x440002 by default
  for (uint32_t y = 0; y < 4; ++y) {
    EXPECT_EQ(Red(out, 2, y), y % 2 == 0 ? 1.0f : 0.0f) << y;
    EXPECT_FLOAT_EQ(Pixel(out, VO_SB_COLOUR, 2, y)[2], (y % 2 == 0 ? 0.0f : 1.0f) + y * 0.1f) << y;
  }
  VtTypedValue order = Word(VtEnum, VO_PP_FIELDS_SECOND_EVEN);
  ASSERT_EQ(VoControlSet(VO_CONTROL_PP_FIELD_ORDER, &order), 0u);
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  for (uint32_t y = 0; y < 4; ++y) EXPECT_EQ(Red(out, 2, y), y % 2 == 0 ? 0.0f : 1.0f) << y;

  VtScreenBuffer *top = Current(4, 2, [](uint32_t, uint32_t y) {
    return std::array<float, 3>{1, y * 0.25f, 0};
  });
  VtScreenBuffer *bottom = Current(4, 2, [](uint32_t, uint32_t y) {
    return std::array<float, 3>{0, y * 0.25f, 1};
  });
  ASSERT_EQ(VoScreenBufferSet(out), 0u);
  Arg(s, "buffer1", TypedPointer(top));
  Arg(s, "buffer2", TypedPointer(bottom));
  Arg(s, "half resolution", TypedBoolean(true));
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  for (uint32_t y = 0; y < 4; ++y) EXPECT_FLOAT_EQ(Pixel(out, VO_SB_COLOUR, 1, y)[1], (y / 2) * 0.25f) << y;
  EXPECT_EQ(Region(top), (std::array<uint32_t, 4>{0, 3, 0, 1}));

  // An order naming neither field fails on the first row.
  order.value.u = 0x440007;
  ASSERT_EQ(VoControlSet(VO_CONTROL_PP_FIELD_ORDER, &order), 0u);
  EXPECT_NE(VoExecute(VO_EXECUTE_PP_RUN), 0u);
}

TEST_F(ClassTest, InterlaceChecksPostEachFaultAndKeepGoing) {
  VtScreenBuffer *out = Current(4, 4, [](uint32_t, uint32_t) { return Grey(0.5f); });
  VtShader *s = Add("interlace");
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(859), 1);
  VtScreenBuffer *alpha = Buffer(VO_SB_ALPHA, 4, 4);
  VtScreenBuffer *wide = Buffer(VO_SB_COLOUR, 6, 4);
  buffers_.push_back(alpha);
  buffers_.push_back(wide);
  Arg(s, "buffer1", TypedPointer(alpha));
  Arg(s, "buffer2", TypedPointer(wide));
  g_posted.clear();
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(861), 1);
  EXPECT_EQ(CountPosted(862), 1);
  EXPECT_EQ(CountPosted(863), 0);  // the first buffer fits "Bi"
  Arg(s, "buffer1", TypedPointer(wide));
  g_posted.clear();
  EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(CountPosted(863), 1);
  // A destroyed buffer is refused through the screen buffers' live set.
  VtScreenBuffer *gone = Buffer(VO_SB_COLOUR, 4, 4);
  ASSERT_EQ(VoScreenBufferDestroy(gone), 0u);
  Arg(s, "buffer1", TypedPointer(gone));
  Arg(s, "buffer2", TypedPointer(gone));
  EXPECT_NE(VoExecute(VO_EXECUTE_PP_RUN), 0u);
  EXPECT_EQ(Red(out, 0, 0), 0.5f);
}

TEST_F(ClassTest, FramesOnlyClassesStopTheListWithStatusTwo) {
  (void)Current(2, 2, [](uint32_t, uint32_t) { return Grey(0.5f); });
  for (const char *name : {"ffaa seed", "ffaa propagator"}) {
    (void)VoPostprocessListSet(nullptr);
    if (list_ != nullptr) {
      EXPECT_EQ(VoShaderReferenceDestroy(list_, 1), 0u);
    }
    list_ = nullptr;
    (void)Add(name);
    TestPostData *after = Listed("test kernel");
    EXPECT_EQ(VoExecute(VO_EXECUTE_PP_RUN), 2u) << name;
    EXPECT_EQ(after->calls, 0u) << name;
  }
}

}  // namespace
}  // namespace vo::test
