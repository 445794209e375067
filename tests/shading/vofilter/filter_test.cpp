// The sampling filters: the grid's samples and their average, counts the
// generator refuses, samples that all fail the test, the hooks and their
// per-thread guard, and the module's controls and callbacks.

#include <thread>

#include "support/shader_fixture.h"
#include "shading/vofilter/filter.h"
#include "kernel/vosystem/message_numbers.h"

namespace vo::test {
namespace {

using Loop = decltype(&exported::filter_sample_loop);

// The samples a shade procedure was called at; each shades Co = (xo, yo, 1).
std::vector<std::array<float, 2>> g_samples;
VtStatus Record(VtShadeContext *c, VtShaderGlobals *) {
  float xo = 0, yo = 0;
  (void)VoShadeContextGetXo(c, &xo);
  (void)VoShadeContextGetYo(c, &yo);
  g_samples.push_back({xo, yo});
  const float co[3] = {xo, yo, 1};
  return VoShadeContextSetCo(c, co);
}
VtStatus Inside(VtShadeContext *, VtShadeContextReference *) { return 0; }
VtStatus Outside(VtShadeContext *, VtShadeContextReference *) { return 2; }

class FilterTest : public ShaderTest {
 protected:
  void InstallMore() override { ASSERT_EQ(VoInstallModule(&VoEntryFilter), 0u); }
  void SetUp() override {
    ShaderTest::SetUp();
    filter_ = VoShaderCreate(VO_SHADER_FILTER, "generic filter");
    ASSERT_NE(filter_, nullptr);
    context_ = VoShadeContextCreate();
    ASSERT_NE(context_, nullptr);
    loop_ = reinterpret_cast<Loop>(VoCallBackGet(0x620002));
    ASSERT_NE(loop_, nullptr);
    g_samples.clear();
  }
  void TearDown() override {
    EXPECT_EQ(VoShadeContextDestroy(context_), 0u);
    EXPECT_EQ(VoShaderDestroy(filter_), 0u);
    ShaderTest::TearDown();
  }
  // The loop over the filter's pair, prepared afresh.
  VtStatus Sample(filter::MapProc test) {
    EXPECT_EQ(VoShaderReset(filter_), 0u);
    VtTypedValue pair{};
    EXPECT_EQ(VoShaderGetArg(filter_, "filter", &pair), 0u);
    return loop_(pair.value.p, reinterpret_cast<void *>(test), nullptr, &Record, context_, nullptr);
  }
  void Count(const char *label, int32_t n) {
    const VtTypedValue v = TypedWord(VtInt32, static_cast<uint32_t>(n));
    ASSERT_EQ(VoShaderSetArg(filter_, label, &v), 0u);
  }
  VtShader *filter_ = nullptr;
  VtShadeContext *context_ = nullptr;
  Loop loop_ = nullptr;
};

TEST_F(FilterTest, TheDefaultGridSamplesFourInteriorPointsRowByRowAndAveragesThem) {
  ASSERT_EQ(Sample(&Inside), 0u);
  const float a = 1.0f / 3, b = 2.0f / 3;  // k / (2 + 1)
  const std::vector<std::array<float, 2>> want = {{a, a}, {b, a}, {a, b}, {b, b}};
  ASSERT_EQ(g_samples.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_FLOAT_EQ(g_samples[i][0], want[i][0]);
    EXPECT_FLOAT_EQ(g_samples[i][1], want[i][1]);
  }
  float co[3];
  ASSERT_EQ(VoShadeContextGetCo(context_, co), 0u);
  EXPECT_FLOAT_EQ(co[0], 0.5f);  // (1/3 + 2/3 + 1/3 + 2/3) / 4
  EXPECT_FLOAT_EQ(co[2], 1.0f);
  // Three across and one down: x 1/4, 2/4, 3/4 at y 1/2.
  Count("width", 3);
  Count("height", 1);
  g_samples.clear();
  ASSERT_EQ(Sample(&Inside), 0u);
  ASSERT_EQ(g_samples.size(), 3u);
  EXPECT_FLOAT_EQ(g_samples[2][0], 0.75f);
  EXPECT_FLOAT_EQ(g_samples[2][1], 0.5f);
}

TEST_F(FilterTest, CountsBelowOneSampleNothingAndCountsAbove256AreRefused) {
  for (int32_t n : {0, -1}) {
    Count("width", n);
    g_samples.clear();
    EXPECT_EQ(Sample(&Inside), 2u) << n;
    EXPECT_TRUE(g_samples.empty());
  }
  // 300 is refused by the generator, which keeps its 2 across.
  Count("width", 300);
  g_samples.clear();
  EXPECT_EQ(Sample(&Inside), 0u);
  EXPECT_EQ(CountPosted(messages::kFilterSizeRefused), 1);
  EXPECT_EQ(g_samples.size(), 4u);
  // No sample passes the test: Co and N as they were, and status 2.
  const float co[3] = {0.1f, 0.2f, 0.3f}, n[3] = {0, 0, 1};
  ASSERT_EQ(VoShadeContextSetCo(context_, co), 0u);
  ASSERT_EQ(VoShadeContextSetN(context_, n), 0u);
  EXPECT_EQ(Sample(&Outside) & 2u, 2u);
  float got[3], gotn[3];
  ASSERT_EQ(VoShadeContextGetCo(context_, got), 0u);
  ASSERT_EQ(VoShadeContextGetN(context_, gotn), 0u);
  EXPECT_EQ(std::vector<float>(got, got + 3), std::vector<float>(co, co + 3));
  EXPECT_EQ(std::vector<float>(gotn, gotn + 3), std::vector<float>(n, n + 3));
}

// A hook that calls the filter's hook again from inside itself and from
// another thread, the first time only.
std::atomic<int> g_hook_calls{0};
void *g_inside = reinterpret_cast<void *>(1), *g_other = reinterpret_cast<void *>(1);
void *Hook() {
  if (g_hook_calls++ == 0) {
    g_inside = VoFilterHookCall();
    std::thread([] { g_other = VoFilterHookCall(); }).join();
  }
  return reinterpret_cast<void *>(0x1234);
}
void *Primitive() { return reinterpret_cast<void *>(0x5678); }

TEST_F(FilterTest, HooksAnswerOncePerThreadAndNothingWhenDisabled) {
  filter::VtFilterContext *s = filter::State();
  s->first_hook = &Hook;
  s->second_hook = &Primitive;
  EXPECT_EQ(VoFilterHookCall(), reinterpret_cast<VtPolygon *>(0x1234));
  EXPECT_EQ(g_inside, nullptr);                          // re-entered on the same thread
  EXPECT_EQ(g_other, reinterpret_cast<void *>(0x1234));  // another thread gets the answer
  EXPECT_EQ(VoFilterHookForward(nullptr), reinterpret_cast<void *>(0x5678));
  const VtTypedValue off = TypedBoolean(false);
  ASSERT_EQ(VoControlSet(0x620001, &off), 0u);
  g_hook_calls = 0;
  EXPECT_EQ(VoFilterHookCall(), nullptr);
  EXPECT_EQ(VoFilterHookForward(nullptr), nullptr);
  EXPECT_EQ(g_hook_calls, 0);
  // The sampling loop works regardless.
  EXPECT_EQ(Sample(&Inside), 0u);
  VtTypedValue v{};
  EXPECT_EQ(VoControlGet(0x620001, &v), 0u);
  EXPECT_EQ(v.type, static_cast<uint32_t>(VtBoolean));
  EXPECT_EQ(v.value.u, 0u);
  EXPECT_EQ(VoControlSet(0x620002, &off), 18u);
  EXPECT_EQ(VoCallBackSet(0x620002, nullptr), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(VoCallBackGet(0x620004), nullptr);
  EXPECT_EQ(CountPosted(messages::kFilterCallbackRefused), 2);
  s->first_hook = nullptr;
  s->second_hook = nullptr;
}

}  // namespace
}  // namespace vo::test
