// A light destroyed by the application while it is in the current light
// list: the list holds a reference on every light it chains, so the light
// lives on and every renderer that lights draws the same picture as before
// the destroy. A destroy too many (one that would free a light the list
// still chains) is refused, outside a render and from a render's progress
// callback, and the light goes when the list is replaced. Under the
// sanitizers a render reading a freed light would be reported.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cross_renderer/cross_scene.h"
#include "cross_renderer/renderers.h"
#include "kernel/vosystem/message_numbers.h"
#include "support/test_support.h"

namespace vo::test {
namespace {

// The lights of a list, in list order.
std::vector<VtShader *> Lights(VtReference *list) {
  std::vector<VtShader *> out;
  VtReference *node = list;
  do {
    node = node->next;
    out.push_back(static_cast<VtShader *>(node->data));
  } while (node != list);
  return out;
}

// The light a picture holds: the sum of its bytes. Two renders of the same
// scene differ a little where jittered samples fall, so a light lost from a
// render shows as a sum more than 1% lower rather than as a changed byte.
double Light(const Picture &p) {
  double sum = 0;
  for (uint8_t b : p) sum += b;
  return sum;
}

// What the progress callback destroys, and the statuses it was answered.
VtShader *g_victim = nullptr;
std::vector<VtStatus> g_answers;

VtStatus DestroyOnProgress(uint32_t, VtTypedValue *) {
  if (g_victim != nullptr) g_answers.push_back(::VoShaderDestroy(g_victim));
  return 0;
}

class ListedLightTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    ASSERT_EQ(vo_test::Record(), 0u);
  }
  void TearDown() override { EXPECT_EQ(VoTerminate(), 0u); }
};

TEST_F(ListedLightTest, ALightDestroyedWhileListedStillLightsEveryRendererUntilTheListIsReplaced) {
  CrossScene scene(CrossOptions{});
  ASSERT_TRUE(scene.ok());
  std::vector<Renderer> renderers(std::begin(kRenderers), std::end(kRenderers));
  renderers.push_back({"standard 0xc0001", 0xc0001, Way::kExecute});
  std::vector<Picture> before(renderers.size()), after(renderers.size());
  for (size_t r = 0; r < renderers.size(); ++r) ASSERT_EQ(Draw(renderers[r], scene, before[r]), 0u);

  // The application gives back its own hold on every light: each answers
  // 0 and lives on in the list.
  const std::vector<VtShader *> lights = Lights(scene.lights());
  for (VtShader *light : lights) EXPECT_EQ(::VoShaderDestroy(light), 0u);
  for (size_t r = 0; r < renderers.size(); ++r) {
    SCOPED_TRACE(renderers[r].name);
    EXPECT_EQ(Draw(renderers[r], scene, after[r]), 0u);
    EXPECT_NEAR(Light(after[r]), Light(before[r]), 0.01 * Light(before[r]));
  }

  // One destroy more would free a light the list chains: refused, with
  // the diagnostic, and the light still draws.
  vo_test::Recorded().clear();
  EXPECT_EQ(::VoShaderDestroy(lights[1]), VO_STATUS_BAD_ARGUMENT);
  ASSERT_EQ(vo_test::WithMessage(vo::messages::kLightStillListed).size(), 1u);
  // The same from inside a render, by its progress callback: the light is
  // what the render holds, so the first destroy waits for the render's end
  // and is refused then, with the diagnostic and warning 3000 naming it;
  // the later ones find it given back already.
  g_victim = lights[1];
  g_answers.clear();
  vo_test::Recorded().clear();
  const VtProc progress = VoCallBackGet(VO_CALLBACK_PROGRESS);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&DestroyOnProgress)), 0u);
  Picture during;
  EXPECT_EQ(Draw(kZBuffer, scene, during), 0u);
  ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, progress), 0u);
  g_victim = nullptr;
  ASSERT_FALSE(g_answers.empty());
  for (size_t i = 0; i < g_answers.size(); ++i) EXPECT_EQ(g_answers[i], i == 0 ? 0u : VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(vo_test::WithMessage(vo::messages::kGivenBackTwice).size(), g_answers.size() - 1);
  EXPECT_EQ(vo_test::WithMessage(vo::messages::kLightStillListed).size(), 1u);
  EXPECT_EQ(vo_test::WithMessage(vo::messages::kWaitedCallFailed).size(), 1u);
  EXPECT_NEAR(Light(during), Light(before[2]), 0.01 * Light(before[2]));  // the z-buffer's

  // Replacing the list gives its references back: the lights go, and a
  // later destroy finds no live shader.
  EXPECT_EQ(VoLightListSet(nullptr), 0u);
  vo_test::Recorded().clear();
  EXPECT_EQ(::VoShaderDestroy(lights[1]), VO_STATUS_BAD_ARGUMENT);
  EXPECT_EQ(vo_test::WithMessage(vo::messages::kShaderNotLive).size(), 1u);
  for (size_t r = 0; r < renderers.size(); ++r) {
    Picture dark;
    EXPECT_EQ(Draw(renderers[r], scene, dark) & VO_CLASS_ERROR, 0u) << renderers[r].name;
  }
}

}  // namespace
}  // namespace vo::test
