// The scanline renderers and the geometry operators on worker threads of a
// threaded pass: each worker reads and writes records of its own (the
// master's controls at the start, the master's untouched after), and a
// scanline render asked on a worker is refused with message 2844 while the
// same render on the application's thread goes on working.

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <vector>

#include <vo/vo_geops.h>
#include <vo/vo_hidden_line.h>
#include <vo/vo_multit.h>
#include <vo/vo_view.h>

#include "support/farm_pass.h"
#include "support/demo_scene.h"
#include "support/kernel_fixture.h"
#include "scene/vogeops/geops.h"
#include "render/vorenadv/advanced.h"
#include "render/vorenhid/hidden_line.h"
#include "render/vorenwir/wireframe.h"
#include "kernel/vosystem/message_numbers.h"
#include "kernel/vosystem/threads.h"

namespace vo::test {
namespace {

constexpr uint32_t kWireDepth = 0xa0002;
constexpr uint32_t kHiddenDepthTolerance = 0x190003;
constexpr uint32_t kAdvancedComposite = 0x200005;
constexpr uint32_t kStandardFlat = 0xc0001, kAdvancedZ = 0x200001;

// What one work item saw on its worker.
struct Item {
  const void *records[4];  // wireframe, hidden line, advanced, geometry operators
  int32_t depth;
  double tolerance;
  uint32_t composite;
  float geops_tolerance;
  VtStatus renders[4];  // standard, wireframe, hidden line, advanced
};

std::mutex g_lock;
std::vector<Item> g_items;

VtTypedValue Double(double d) {
  VtTypedValue v{};
  v.type = VtDouble;
  v.value.d = d;
  return v;
}

VtTypedValue Get(uint32_t code) {
  VtTypedValue v{};
  EXPECT_EQ(VoControlGet(code, &v), 0u) << std::hex << code;
  return v;
}

// Reads the records and controls, asks every scanline renderer to render,
// then writes the controls (in the worker's records only).
VtStatus Look(int32_t, const VtMultiThreadItem *, void *) {
  Item it{};
  it.records[0] = wire::State();
  it.records[1] = hid::State();
  it.records[2] = renadv::State();
  it.records[3] = geops::Context();
  it.depth = Get(kWireDepth).value.i;
  it.tolerance = Get(kHiddenDepthTolerance).value.d;
  it.composite = Get(kAdvancedComposite).value.u;
  it.geops_tolerance = Get(VO_CONTROL_GEOPS_TOLERANCE).value.f;
  const uint32_t codes[4] = {kStandardFlat, wire::kExecuteRender, VO_EXECUTE_HIDDEN_LINE, kAdvancedZ};
  for (int i = 0; i < 4; ++i) it.renders[i] = VoExecute(codes[i]);
  VtTypedValue v = TypedInt32(it.depth + 100 + static_cast<int32_t>(ThreadIdentity()));
  (void)VoControlSet(kWireDepth, &v);
  v = Double(0.25);
  (void)VoControlSet(kHiddenDepthTolerance, &v);
  v = TypedBoolean(it.composite == 0);
  (void)VoControlSet(kAdvancedComposite, &v);
  v = TypedFloat(0.005f);
  (void)VoControlSet(VO_CONTROL_GEOPS_TOLERANCE, &v);
  std::lock_guard<std::mutex> hold(g_lock);
  g_items.push_back(it);
  return 0;
}

VtStatus Worker(void *) {
  VtStatus st = VoMultiThreadWorkerBegin();
  if (st == 0) st = VoMultiThreadWorkerLoop(&Look, nullptr);
  return VoMultiThreadWorkerEnd(st) | st;
}

class RendererRecordsThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    g_items.clear();
    ASSERT_EQ(vo_test::Record(), 0u);
  }
  void TearDown() override { EXPECT_EQ(VoTerminate(), 0u); }

  // A pass of 16 one-row items over `workers` workers.
  static VtStatus Pass(int32_t workers) { return OneRowFarmPass(workers, &Worker); }
};

TEST_F(RendererRecordsThreads, WorkersReadTheMastersControlsFromRecordsOfTheirOwn) {
  VtTypedValue v = TypedInt32(3);
  ASSERT_EQ(VoControlSet(kWireDepth, &v), 0u);
  v = Double(0.125);
  ASSERT_EQ(VoControlSet(kHiddenDepthTolerance, &v), 0u);
  v = TypedBoolean(true);
  ASSERT_EQ(VoControlSet(kAdvancedComposite, &v), 0u);
  v = TypedFloat(0.002f);
  ASSERT_EQ(VoControlSet(VO_CONTROL_GEOPS_TOLERANCE, &v), 0u);
  const void *masters[4] = {wire::State(), hid::State(), renadv::State(), geops::Context()};
  for (const void *m : masters) ASSERT_NE(m, nullptr);

  ASSERT_EQ(Pass(4), 0u);
  ASSERT_EQ(g_items.size(), 16u);
  std::set<const void *> seen[4];
  for (const Item &it : g_items) {
    for (int i = 0; i < 4; ++i) {
      EXPECT_NE(it.records[i], masters[i]) << "record " << i;
      seen[i].insert(it.records[i]);
    }
    // Each item reads the master's value or its worker's own writes.
    EXPECT_TRUE(it.depth == 3 || it.depth > 100) << it.depth;
    EXPECT_TRUE(it.tolerance == 0.125 || it.tolerance == 0.25);
    EXPECT_TRUE(it.geops_tolerance == 0.002f || it.geops_tolerance == 0.005f);
  }
  for (int i = 0; i < 4; ++i) EXPECT_LE(seen[i].size(), 4u) << "one record per worker, module " << i;

  // The master's controls are as the application set them.
  EXPECT_EQ(Get(kWireDepth).value.i, 3);
  EXPECT_EQ(Get(kHiddenDepthTolerance).value.d, 0.125);
  EXPECT_EQ(Get(kAdvancedComposite).value.u, 1u);
  EXPECT_EQ(Get(VO_CONTROL_GEOPS_TOLERANCE).value.f, 0.002f);
  const void *after[4] = {wire::State(), hid::State(), renadv::State(), geops::Context()};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(after[i], masters[i]);
}

// A class rendering while it is evaluated on a worker (an environment map,
// a depth render) would write the shared scene model: each scanline
// renderer answers 2 with message 2844 instead. On the application's thread
// the same render runs.
TEST_F(RendererRecordsThreads, AScanlineRenderAskedOnAWorkerIsRefused) {
  DemoScene scene;
  ASSERT_TRUE(scene.ok());
  ASSERT_EQ(DemoScene::View(16, 12), 0u);
  const uint32_t codes[4] = {kStandardFlat, wire::kExecuteRender, VO_EXECUTE_HIDDEN_LINE, kAdvancedZ};
  // What each render answers on the application's thread (into the null
  // driver), before any pass.
  VtStatus before[4];
  for (int i = 0; i < 4; ++i) {
    before[i] = VoExecute(codes[i]);
    EXPECT_NE(before[i], VO_STATUS_UNAVAILABLE) << std::hex << codes[i];
  }
  ASSERT_EQ(Pass(2), 0u);
  ASSERT_EQ(g_items.size(), 16u);
  for (const Item &it : g_items)
    for (VtStatus st : it.renders) EXPECT_EQ(st, VO_STATUS_UNAVAILABLE);
  EXPECT_EQ(CountPosted(messages::kWorkerRenderRefused), 16 * 4);
  // No worker left: the renders answer as before.
  vo_test::Recorded().clear();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(VoExecute(codes[i]), before[i]) << std::hex << codes[i];
  // On the calling thread's road (no workers) the job is one item, on the
  // application's thread, and it renders too.
  g_items.clear();
  ASSERT_EQ(Pass(0), 0u);
  ASSERT_EQ(g_items.size(), 1u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(g_items[0].renders[i], before[i]) << std::hex << codes[i];
  EXPECT_EQ(CountPosted(messages::kWorkerRenderRefused), 0);
}

}  // namespace
}  // namespace vo::test
