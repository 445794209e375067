// What the application changes or gives back from the callbacks of the
// library's own renders reaches the next render only:
// - an environment cube is one render: a change made from a face's
//   progress report (the light list, a light's colour or place, a
//   material's colour, the background) reaches none of the cube's later
//   faces, and is in effect for the next cube. Each row renders the cube in
//   one session with the change made from the first report of one face, and
//   in a twin session that makes the same change after the cube; every texel
//   of every face of both cubes, and of the cube rendered next in each
//   session, must be the same, and the change must show in the next cube
//   (else the row would judge nothing);
// - the target given back (VoScreenBufferDestroy) from the stroke capture's
//   report stays the strokes render's: the render answers as without the
//   destroy, with no refusal of the buffer posted meanwhile, and the buffer
//   is refused afterwards.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <string>
#include <vector>

#include <vo/vo_api.h>

#include "misuse/light_rows.h"
#include "misuse/stage.h"
#include "support/test_support.h"

namespace misuse {
namespace {

constexpr uint32_t kSide = 8;
constexpr float kCentre[3] = {0, 0, 2};

// The direction through the centre of texel (i, j) of a face.
void TexelDirection(int face, uint32_t i, uint32_t j, float *d) {
  const float a = 1 - 2 * (static_cast<float>(i) + 0.5f) / kSide,
              b = 1 - 2 * (static_cast<float>(j) + 0.5f) / kSide;
  const float table[6][3] = {{1, a, b}, {-1, -a, b}, {-a, 1, b}, {a, -1, b}, {-b, a, 1}, {b, a, -1}};
  for (int k = 0; k < 3; ++k) d[k] = table[face][k];
}

// Every face's texels, face by face; empty when the cube was not made.
std::vector<std::vector<float>> CubeFaces(uint32_t *status) {
  VtEnvironment *cube = VoEnvironmentRenderCube(kSide, kCentre);
  *status = cube != nullptr ? 0 : 2;
  std::vector<std::vector<float>> faces;
  for (int f = 0; cube != nullptr && f < 6; ++f) {
    faces.emplace_back();
    for (uint32_t j = 0; j < kSide; ++j) {
      for (uint32_t i = 0; i < kSide; ++i) {
        float d[3], colour[3] = {};
        TexelDirection(f, i, j, d);
        EXPECT_EQ(VoEnvironmentSample(colour, cube, kCentre, d, 0), 0u);
        faces.back().insert(faces.back().end(), colour, colour + 3);
      }
    }
  }
  if (cube != nullptr) {
    EXPECT_EQ(VoEnvironmentDestroy(cube), 0u);
  }
  return faces;
}

struct Made {
  const Stage &stage;
  VtShader *background;  // a plain blue background, made before the cube
};

struct Change {
  const char *title;
  std::function<VtStatus(const Made &)> make;
};

VtStatus ColourSet(VtShader *shader, float r, float g, float b) {
  const VtColour c{r, g, b};
  return VoShaderSetColour(shader, &c);
}

const std::vector<Change> &Changes() {
  static const std::vector<Change> changes = {
      {"the light list emptied", [](const Made &) { return VoLightListSet(nullptr); }},
      {"the point light's colour",
       [](const Made &m) { return ColourSet(m.stage.point_light(), 1, 0.2f, 0); }},
      {"the point light moved",
       [](const Made &m) {
         VtTypedValue at{};
         at.type = VtPoint;
         at.value.v[0] = -3, at.value.v[1] = 1, at.value.v[2] = 1;
         return VoShaderSetArg(m.stage.point_light(), "location", &at);
       }},
      {"the material's colour",
       [](const Made &m) {
         const VtColour c{0.1f, 0.9f, 0.3f};
         return VoMaterialSetColour(m.stage.material(), &c);
       }},
      {"the background", [](const Made &m) { return VoBackgroundSet(m.background); }},
  };
  return changes;
}

struct Row {
  size_t change;
  int32_t workers;
  int face;  // the face from whose first report the change is made
};

// The face whose VoExecute runs (counted by the pre-execute callback) and
// the change made at its first progress report.
int g_faces_begun = 0, g_act_face = -1;
bool g_acted = false;
std::function<void()> g_change;
void FaceBegins(uint32_t *) { ++g_faces_begun; }
VtStatus FaceReport(uint32_t, VtTypedValue *) {
  uint32_t code = 0;
  if (!g_acted && VoExecuteCurrentGet(&code) == 0 && code == 0x200002u && g_faces_begun == g_act_face + 1) {
    g_acted = true;
    g_change();
  }
  return 0;
}

struct Session {
  std::vector<std::vector<float>> cube, next;
  uint32_t status = 0, change_status = 0;
  bool acted = false;
};

// One session: the cube with the change made from the row's face report
// (in_callback) or after it, then the next cube.
Session SessionRun(const Row &row, bool in_callback) {
  Session out;
  EXPECT_EQ(VoInitialise(), 0u);
  EXPECT_EQ(vo_test::Record(), 0u);
  {
    const Stage stage(FloorAndCaster());
    EXPECT_TRUE(stage.ok());
    VtShader *background = VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
    EXPECT_EQ(ColourSet(background, 0.1f, 0.2f, 0.9f), 0u);
    const Made made{stage, background};
    VtTypedValue workers{};
    workers.type = VtInt32;
    workers.value.i = row.workers;
    EXPECT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &workers), 0u);
    g_faces_begun = 0, g_act_face = in_callback ? row.face : -1, g_acted = false;
    g_change = [&] { out.change_status = Changes()[row.change].make(made); };
    EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PRE_EXECUTE, reinterpret_cast<VtProc>(&FaceBegins)), 0u);
    EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&FaceReport)), 0u);
    out.cube = CubeFaces(&out.status);
    out.acted = g_acted;
    EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr), 0u);
    EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PRE_EXECUTE, nullptr), 0u);
    if (!in_callback) g_change();
    uint32_t next_status = 0;
    out.next = CubeFaces(&next_status);
    EXPECT_EQ(next_status, 0u);
    g_change = nullptr;
  }
  EXPECT_EQ(VoTerminate(), 0u);
  return out;
}

TEST(CubeFaceChanges, AChangeFromAFacesReportReachesTheNextCubeOnly) {
  for (size_t c = 0; c < Changes().size(); ++c)
    for (int32_t workers : {0, 4})
      for (int face : {0, 2}) {
        const Row row{c, workers, face};
        SCOPED_TRACE(::testing::Message() << Changes()[c].title << " from face " << face
                                          << "'s first report on " << workers << " workers");
        const Session during = SessionRun(row, true), twin = SessionRun(row, false);
        ASSERT_TRUE(during.acted);
        EXPECT_EQ(during.change_status, 0u);
        EXPECT_EQ(twin.change_status, 0u);
        EXPECT_EQ(during.status, 0u);
        EXPECT_EQ(twin.status, 0u);
        ASSERT_EQ(during.cube.size(), 6u);
        ASSERT_EQ(twin.cube.size(), 6u);
        for (int f = 0; f < 6; ++f) EXPECT_EQ(during.cube[f], twin.cube[f]) << "face " << f << " of the cube";
        ASSERT_EQ(during.next.size(), 6u);
        ASSERT_EQ(twin.next.size(), 6u);
        for (int f = 0; f < 6; ++f)
          EXPECT_EQ(during.next[f], twin.next[f]) << "face " << f << " of the next cube";
        EXPECT_NE(twin.next, twin.cube) << "the change shows in no face";
      }
}

// A second application thread changes the point light's colour, over and
// over, while the first renders cubes: each call it makes wholly after a
// cube's first face began and before the cube returned is refused (2908),
// also between two faces, where no VoExecute runs and a change made would
// reach the later faces. Its calls between cubes are made. Each face waits
// (a few seconds at most) until the second thread has made a call during it,
// so a loaded machine that runs the first thread alone still tries the rule.
std::atomic<bool> g_cube_owned{false};
std::atomic<uint32_t> g_inside{0};
void CubeBegins(uint32_t *) {
  g_cube_owned = true;
  const uint32_t from = g_inside.load();
  for (int waited = 0; waited < 5000 && g_inside.load() == from; ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(CubeFaceChanges, ASecondThreadsChangeIsRefusedForTheWholeCube) {
  for (int32_t workers : {0, 4}) {
    SCOPED_TRACE(::testing::Message() << workers << " workers");
    ASSERT_EQ(VoInitialise(), 0u);
    ASSERT_EQ(vo_test::Record(), 0u);
    {
      const Stage stage(FloorAndCaster());
      ASSERT_TRUE(stage.ok());
      VtTypedValue count{};
      count.type = VtInt32;
      count.value.i = workers;
      ASSERT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &count), 0u);
      std::atomic<bool> stop{false};
      std::atomic<uint32_t> made_inside{0}, made_outside{0};
      g_inside = 0;
      std::thread second([&] {
        for (uint32_t n = 0; !stop.load(); ++n) {
          const bool before = g_cube_owned.load();
          const VtStatus answer = ColourSet(stage.point_light(), 1, n % 2 ? 0.2f : 0.3f, 0);
          if (before && g_cube_owned.load()) {
            if (answer == 0) ++made_inside;
            ++g_inside;
          } else if (answer == 0) {
            ++made_outside;
          }
        }
      });
      for (int waited = 0; waited < 5000 && made_outside.load() == 0; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PRE_EXECUTE, reinterpret_cast<VtProc>(&CubeBegins)), 0u);
      for (int cube = 0; cube < 4; ++cube) {
        VtEnvironment *made = VoEnvironmentRenderCube(kSide, kCentre);
        g_cube_owned = false;
        EXPECT_NE(made, nullptr);
        EXPECT_EQ(VoEnvironmentDestroy(made), 0u);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      stop = true;
      second.join();
      EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PRE_EXECUTE, nullptr), 0u);
      EXPECT_GT(g_inside.load(), 0u) << "no call was made during a cube";
      EXPECT_EQ(made_inside.load(), 0u) << "calls made during a cube";
      EXPECT_GT(made_outside.load(), 0u);
    }
    EXPECT_EQ(VoTerminate(), 0u);
  }
}

// The numbers of the messages posted since the record was cleared, but
// the refusal (697) of the stage's own look whether its buffer is live.
std::vector<uint32_t> Messages() {
  std::vector<uint32_t> numbers;
  for (const vo_test::Diagnostic &d : vo_test::Recorded())
    if (d.message != 697) numbers.push_back(d.message);
  return numbers;
}

// The stroke capture's render (0x190002) inside a strokes render: the
// target destroyed at its first or its last report.
int g_capture_reports = 0, g_capture_at = -1;
VtScreenBuffer *g_target = nullptr;
VtStatus g_destroyed = 1;
VtStatus CaptureReport(uint32_t, VtTypedValue *) {
  uint32_t code = 0;
  if (VoExecuteCurrentGet(&code) != 0 || code != 0x190002u) return 0;
  if (g_capture_reports++ == g_capture_at) g_destroyed = VoScreenBufferDestroy(g_target);
  return 0;
}

TEST(CaptureTarget, TheTargetGivenBackFromTheCapturesReportStaysTheStrokesRenders) {
  for (int32_t workers : {0, 4})
    for (bool last : {false, true}) {
      SCOPED_TRACE(::testing::Message()
                   << workers << " workers, the capture's " << (last ? "last" : "first") << " report");
      ASSERT_EQ(VoInitialise(), 0u);
      ASSERT_EQ(vo_test::Record(), 0u);
      {
        const Stage stage(FloorAndCaster());
        ASSERT_TRUE(stage.ok());
        g_target = stage.buffer(), g_capture_reports = 0, g_capture_at = -1, g_destroyed = 1;
        ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&CaptureReport)), 0u);
        std::vector<float> alone, picture;
        vo_test::Recorded().clear();
        const VtStatus status = stage.Render(0x600004u, workers, &alone);
        const std::vector<uint32_t> posted = Messages();
        ASSERT_GT(g_capture_reports, 0);
        g_capture_at = last ? g_capture_reports - 1 : 0, g_capture_reports = 0;
        vo_test::Recorded().clear();
        EXPECT_EQ(stage.Render(0x600004u, workers, &picture), status);
        EXPECT_EQ(g_destroyed, 0u);
        EXPECT_EQ(Messages(), posted);  // no refusal of the buffer (691), no other message
        EXPECT_TRUE(picture.empty());   // given back: nothing to read
        uint32_t mask = 0;
        EXPECT_NE(VoScreenBufferGetDataMask(g_target, &mask), 0u);
        EXPECT_EQ(VoScreenBufferGet(), nullptr);
        EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr), 0u);
      }
      EXPECT_EQ(VoTerminate(), 0u);
    }
}

}  // namespace
}  // namespace misuse
