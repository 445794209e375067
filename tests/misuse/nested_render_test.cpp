// Renders an application starts in the middle of another render's scan:
// from a shader the outer render evaluates, from the driver's interrupt poll
// and from the progress callback, each in a view of its own (another
// resolution, eye and screen buffer) and of the same scene or another. On
// the calling thread the inner render answers and draws what it does alone,
// and the outer render's status and picture are those it has without it; a
// render asked from a shader on a worker thread is refused. A file driver
// holds one frame: a render started inside one whose frame that driver holds
// open is refused, and one into another driver runs.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <vo/vo_driver.h>
#include <vo/vo_multit.h>

#include "misuse/stage.h"
#include "support/test_support.h"
#include "threaded/targa_bytes.h"

namespace misuse {
namespace {

enum class From { kShader, kPoll, kProgress };

// The inner render, started once at the trigger-th call of its source.
struct Inner {
  From from = From::kShader;
  int trigger = 0;  // 0: never
  uint32_t code = 0;
  VtView *view = nullptr;
  VtScreenBuffer *buffer = nullptr;
  VtReference *list = nullptr;  // the scene's primitive list while it renders
  int calls[3] = {};            // shader evaluations, polls, progress reports
  int started = 0;
  VtStatus answer = 0;
  std::vector<float> picture{};
  // A render into a file driver instead: the driver made current for it
  // (null: the outer render's, as it is), and the bytes it wrote there.
  bool to_file = false;
  const char *file_driver = nullptr;
  std::vector<char> file{};
};
Inner g_inner;

constexpr uint32_t kInnerWidth = 8, kInnerHeight = 6;

// Renders the inner code in the inner view, screen buffer and scene, and
// gives back the application's.
VtStatus InnerRender(std::vector<float> *picture) {
  VtView *view = VoViewGet();
  VtScreenBuffer *buffer = VoScreenBufferGet();
  VtReference *list = VoPrimitiveListGet();
  VtTypedValue black{};
  black.type = VtColourType;
  EXPECT_EQ(VoScreenBufferClear(g_inner.buffer, VO_SB_COLOUR, &black), 0u);
  EXPECT_EQ(VoViewSet(g_inner.view), 0u);
  EXPECT_EQ(VoScreenBufferSet(g_inner.buffer), 0u);
  EXPECT_EQ(VoPrimitiveListSet(g_inner.list), 0u);
  const VtStatus st = VoExecute(g_inner.code);
  EXPECT_EQ(VoPrimitiveListSet(list), 0u);
  EXPECT_EQ(VoScreenBufferSet(buffer), 0u);
  EXPECT_EQ(VoViewSet(view), 0u);
  ReadBuffer(g_inner.buffer, kInnerWidth, kInnerHeight, picture);
  return st;
}

// A render of the code into the named file driver, made current for it on
// a file of its own and the driver current before put back after; its
// status, and the bytes it wrote (a Targa file's date and time cleared: two
// renders may fall in different seconds).
VtStatus FileRender(const char *name, uint32_t code, std::vector<char> *bytes) {
  const vo_test::TempDir dir;
  const std::string path = dir.File("picture");
  VtDriverRecord *was = VoDriverGet(), *driver = VoDriverFindFromName(name);
  std::FILE *out = std::fopen(path.c_str(), "wb");
  VtTypedValue v{};
  v.type = VtGenericPtr;
  v.value.p = out;
  EXPECT_EQ(VoDriverSetControl(driver, VO_CONTROL_DRIVER_FILE, &v), 0u) << name;
  EXPECT_EQ(VoDriverSet(driver), 0u);
  const VtStatus st = VoExecute(code);
  EXPECT_EQ(VoDriverSet(was), 0u);
  v.value.p = nullptr;
  EXPECT_EQ(VoDriverSetControl(driver, VO_CONTROL_DRIVER_FILE, &v), 0u);
  std::fclose(out);
  std::ifstream in(path, std::ios::binary);
  *bytes = std::string(name) == "vodrvtga" ? vo_test::TargaBytes(path)
                                           : std::vector<char>{std::istreambuf_iterator<char>(in), {}};
  return st;
}

void Called(From from) {
  const int n = ++g_inner.calls[static_cast<int>(from)];
  if (from != g_inner.from || n != g_inner.trigger || g_inner.started++ != 0) return;
  if (!g_inner.to_file)
    g_inner.answer = InnerRender(&g_inner.picture);
  else if (g_inner.file_driver == nullptr)
    g_inner.answer = VoExecute(g_inner.code);
  else
    g_inner.answer = FileRender(g_inner.file_driver, g_inner.code, &g_inner.file);
}

// Renders asked from the shader on worker threads (never on the calling
// thread), and those refused.
struct WorkerAsks {
  uint32_t code = 0;  // 0: none asked
  std::atomic<int> asked{0}, refused{0};
  WorkerAsks &operator=(const WorkerAsks &) {
    code = 0;
    asked = refused = 0;
    return *this;
  }
};
WorkerAsks g_worker_asks;
const std::thread::id g_calling_thread = std::this_thread::get_id();

// Evaluations on the calling thread are counted (and may start the inner
// render); those on workers may ask a render.
VtStatus Evaluate(void *) {
  if (std::this_thread::get_id() == g_calling_thread) {
    Called(From::kShader);
  } else if (g_worker_asks.code != 0) {
    ++g_worker_asks.asked;
    if (VoExecute(g_worker_asks.code) == VO_STATUS_UNAVAILABLE) ++g_worker_asks.refused;
  }
  VtShaderGlobals *g = VoShaderGetGlobals();
  g->Co[0] = 0.8f, g->Co[1] = 0.6f, g->Co[2] = 0.3f;
  return 0;
}
void *Create() { return VoAllocate(4); }
VtStatus Destroy(void *data) {
  VoDeallocate(data);
  return 0;
}
VtStatus Poll() {
  Called(From::kPoll);
  return 0;
}
VtStatus Progress(uint32_t, VtTypedValue *) {
  Called(From::kProgress);
  return 0;
}

// A colour class, and a reflectance class the standard renderer runs as a
// second reflectance, whose evaluation may start a render.
VtStatus StarterRegister() {
  const char *strings[] = {"render starter"};
  VtStatus st = 0;
  for (uint32_t type : {VO_SHADER_COLOUR, VO_SHADER_REFLECTANCE}) {
    const char *table = type == VO_SHADER_COLOUR ? "misuse_render_starter_colour" : "misuse_render_starter";
    if (st == 0) st = VoStringTableCreate(table, 1, strings);
    if (st == 0) st = VoShaderPrototypeCreate(type, table, 0, 0, nullptr);
    for (uint32_t slot : {VO_SLOT_CREATE, VO_SLOT_DESTROY, VO_SLOT_EVALUATE, VO_SLOT_EVALUATE_IMAGE}) {
      VtTypedValue v{};
      v.type = VtFunc;
      v.value.fn = slot == VO_SLOT_CREATE    ? reinterpret_cast<VtProc>(&Create)
                   : slot == VO_SLOT_DESTROY ? reinterpret_cast<VtProc>(&Destroy)
                                             : reinterpret_cast<VtProc>(&Evaluate);
      if (st == 0) st = VoShaderSetEntry(slot, &v);
    }
  }
  return st;
}

class NestedRenders : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(VoInitialise(), 0u);
    ASSERT_EQ(vo_test::Record(), 0u);
    ASSERT_EQ(StarterRegister(), 0u);
    ASSERT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&Progress)), 0u);
    ASSERT_EQ(VoCallBackSet(VO_DRIVER_POLL, reinterpret_cast<VtProc>(&Poll)), 0u);
  }
  void TearDown() override {
    (void)VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr);
    (void)VoCallBackSet(VO_DRIVER_POLL, nullptr);
    EXPECT_EQ(VoTerminate(), 0u);
  }
};

// The stage's square with the starter as its colour and second reflectance,
// and another view, screen buffer and scene (a triangle across the square)
// for the inner render.
class Elsewhere {
 public:
  explicit Elsewhere(const Stage &stage) {
    material_ = VoMaterialCreate();
    colour_ = VoShaderCreate(VO_SHADER_COLOUR, "render starter");
    second_ = VoShaderCreate(VO_SHADER_SECOND_REFLECTANCE, "render starter");
    ok_ = material_ != nullptr && colour_ != nullptr && second_ != nullptr &&
          VoMaterialSetShaderByPrototype(material_, VO_SHADER_REFLECTANCE, "matte") == 0 &&
          VoMaterialSetShader(material_, colour_) == 0 && VoMaterialSetShader(material_, second_) == 0 &&
          VoPrimitiveSetMaterial(stage.primitive(), material_) == 0;
    const float corners[9] = {-2, -1, -1, 2, -1, -1, 0, 2, 0.5f};
    const uint32_t ids[1] = {VO_VERT_WORLD};
    VtTypedValue data[1]{};
    data[0].type = VtGenericPtr;
    data[0].value.p = const_cast<float *>(corners);
    triangle_ = VoPrimitiveCreatePolygon(3, 1, ids, data);
    list_ = triangle_ != nullptr ? VoPrimitiveListCreate(1, &triangle_) : nullptr;
    view_ = VoViewCreate();
    const float eye[3] = {-4, 1, 4}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    buffer_ = VoScreenBufferCreate();
    VtTypedValue v{};
    v.type = VtNat32;
    v.value.u = kInnerWidth;
    ok_ = ok_ && list_ != nullptr && VoPrimitiveSetSidedness(triangle_, 1) == 0 && view_ != nullptr &&
          VoViewSetResolution(view_, kInnerWidth, kInnerHeight, 1.0) == 0 &&
          VoViewSetPinhole(view_, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 50.0) == 0 &&
          VoViewSetClipping(view_, 0.5, 100) == 0 && buffer_ != nullptr &&
          VoScreenBufferSetControl(buffer_, VO_SB_WIDTH, &v) == 0;
    v.value.u = kInnerHeight;
    ok_ = ok_ && VoScreenBufferSetControl(buffer_, VO_SB_HEIGHT, &v) == 0 &&
          VoScreenBufferAllocateData(buffer_, VO_SB_COLOUR) == 0;
  }
  ~Elsewhere() {
    if (buffer_ != nullptr) (void)VoScreenBufferDestroy(buffer_);
    if (view_ != nullptr) (void)VoViewDestroy(view_);
    if (list_ != nullptr) (void)VoReferenceListDestroy(list_, nullptr);
    if (triangle_ != nullptr) (void)VoPrimitiveDestroy(triangle_);
  }
  Elsewhere(const Elsewhere &) = delete;
  Elsewhere &operator=(const Elsewhere &) = delete;

  bool ok() const { return ok_; }
  VtPrimitive *triangle() const { return triangle_; }
  // The inner render of the code from the source given, at its call
  // `trigger` (0: never), in the scene of the stage or the triangle's.
  Inner Of(From from, int trigger, uint32_t code, bool triangle) const {
    return Inner{from, trigger, code, view_, buffer_, triangle ? list_ : VoPrimitiveListGet()};
  }

 private:
  VtMaterial *material_ = nullptr;
  VtShader *colour_ = nullptr, *second_ = nullptr;
  VtPrimitive *triangle_ = nullptr;
  VtReference *list_ = nullptr;
  VtView *view_ = nullptr;
  VtScreenBuffer *buffer_ = nullptr;
  bool ok_ = false;
};

// On the calling thread, every renderer's scan (the standard classes shade
// the starter as their second reflectance, the others as the colour; the
// flat class shades none) with a render of itself and of a renderer of the
// other kind, of the square or of the triangle, started at the middle call
// of its source; the same with four workers whose bands are below the
// threaded minimum (scanned one after another on the calling thread), and
// from the poll and progress callbacks of a render whose bands go to four
// worker threads.
TEST_F(NestedRenders, ARenderStartedMidScanLeavesTheOuterOneAsItWas) {
  const Stage stage(Square());
  ASSERT_TRUE(stage.ok());
  const Elsewhere elsewhere(stage);
  ASSERT_TRUE(elsewhere.ok());
  const uint32_t codes[] = {0xc0001, 0xc0003, 0x200001, 0x200002, 0x70001, 0x70002};
  struct Farm {
    int32_t workers;
    uint32_t threaded_band;  // rows a band needs to go to a worker thread (12 rows: 3 a band)
    int32_t shadows;         // the point light's shadow map size (0: ray-traced shadows; -1: none)
    bool mirror;             // the triangle traces reflections
  };
  int nested = 0;
  VtMaterial *mirror = VoMaterialCreate();
  ASSERT_EQ(VoMaterialSetShaderByPrototype(mirror, VO_SHADER_REFLECTANCE, "mirror"), 0u);
  for (const Farm farm : {Farm{0, 4, -1, false}, Farm{4, 4, -1, false}, Farm{4, 1, -1, false},
                          Farm{0, 4, 256, false}, Farm{0, 4, 0, false}, Farm{0, 4, -1, true}}) {
    EXPECT_EQ(farm.mirror ? VoPrimitiveSetMaterial(elsewhere.triangle(), mirror) : 0, 0u);  // the last row
    VtTypedValue shadows{}, size{};
    shadows.type = VtBoolean;
    shadows.value.u = farm.shadows >= 0;
    size.type = VtInt32;
    size.value.i = std::max(farm.shadows, 0);
    ASSERT_EQ(VoShaderSetArg(stage.point_light(), "shadows", &shadows), 0u);
    ASSERT_EQ(VoShaderSetArg(stage.point_light(), "shadow resolution", &size), 0u);
    for (size_t outer = 0; outer < std::size(codes); ++outer)
      for (size_t inner : {outer, (outer + 4) % std::size(codes)})  // itself, and a ray tracer for a scanline
        for (bool triangle : {false, true})
          for (From from : {From::kShader, From::kPoll, From::kProgress}) {
            if (farm.threaded_band == 1 && from == From::kShader) continue;  // asked on a worker: below
            SCOPED_TRACE(::testing::Message()
                         << std::hex << codes[inner] << " from " << codes[outer] << std::dec << " by source "
                         << static_cast<int>(from) << ", triangle " << triangle << ", " << farm.workers
                         << " workers, threaded band " << farm.threaded_band << ", shadows " << farm.shadows);
            VtTypedValue band{};
            band.type = VtNat32;
            band.value.u = farm.threaded_band;
            ASSERT_EQ(VoControlSet(VO_CONTROL_MT_THREADED_BAND, &band), 0u);
            g_inner = elsewhere.Of(from, 0, codes[inner], triangle);
            std::vector<float> inner_alone, alone, picture;
            VtStatus inner_status = InnerRender(&inner_alone);
            // A ray-traced render inside another traces the scene the outer
            // one gathered; the advanced classes (the standard renderer
            // casts no shadows and traces no rays) shade with the outer
            // image's shadows and ray preparation: of another list, the
            // inner render is refused and draws nothing.
            const bool refused =
                triangle && ((inner == outer && outer >= 4) ||
                             ((farm.shadows >= 0 || farm.mirror) && (inner == 2 || inner == 3)));
            if (refused) {
              inner_status = VO_STATUS_BAD_ARGUMENT;
              inner_alone.assign(inner_alone.size(), 0.0f);
            }
            // The triangle drawn alone had the light's maps made of its list:
            // the stage's are made again first, so that the calls counted
            // below are those of the render the inner one is started in.
            if (triangle) (void)stage.Render(codes[outer], farm.workers, &alone);
            g_inner = elsewhere.Of(from, 0, codes[inner], triangle);
            const VtStatus status = stage.Render(codes[outer], farm.workers, &alone);
            const int calls = g_inner.calls[static_cast<int>(from)];
            if (calls == 0) {
              EXPECT_EQ(codes[outer], 0xc0001u);
              continue;
            }
            g_inner = elsewhere.Of(from, (calls + 1) / 2, codes[inner], triangle);
            vo_test::Recorded().clear();
            EXPECT_EQ(stage.Render(codes[outer], farm.workers, &picture), status);
            EXPECT_EQ(vo_test::WithMessage(2913).size(), refused ? 1u : 0u);
            EXPECT_EQ(picture, alone);
            ASSERT_EQ(g_inner.started, 1);
            EXPECT_EQ(g_inner.answer, inner_status);
            EXPECT_EQ(g_inner.picture, inner_alone);
            ++nested;
          }
  }
  EXPECT_EQ(VoMaterialDestroy(mirror), 0u);
  EXPECT_EQ(nested, 5 * (6 * 2 * 2 * 3 - 2 * 2) + 6 * 2 * 2 * 2);
}

// Each render class that reports progress or polls, writing its picture
// straight to a file driver (no screen buffer) at 0 and 4 workers, starts
// at each call of its progress callback (of its poll where it reports none)
// a render of the scene into the same driver or into another file driver
// made current for it. While
// the outer render holds the driver's frame open, a render into it is
// refused (message 2915 names both renders) and the outer one answers and
// writes the bytes it writes alone; before that frame begins or after it
// ends, and into another driver, the inner render answers and writes what
// it does alone, before or after the outer picture. The hidden-line
// renderer refuses a scanline render from its callbacks first (2914).
TEST_F(NestedRenders, ARenderInsideAnotherCannotShareTheFileDriverWhoseFrameTheOuterHoldsOpen) {
  const Stage stage(Square());
  ASSERT_TRUE(stage.ok());
  ASSERT_EQ(VoScreenBufferSet(nullptr), 0u);
  const char *const drivers[] = {"vodrvbmp", "vodrvtga", "vodrvjpg"};
  int refused = 0;
  for (size_t d = 0; d < std::size(drivers); ++d)
    for (uint32_t outer : {0xc0001u, 0xc0002u, 0xc0003u, 0x200001u, 0x200002u, 0x70001u, 0x70002u, 0x190001u})
      for (int32_t workers : {0, 4})
        for (uint32_t inner : {0xc0003u, 0x70001u})
          for (bool same : {true, false}) {
            const char *into = same ? drivers[d] : drivers[(d + 1) % std::size(drivers)];
            SCOPED_TRACE(::testing::Message()
                         << std::hex << inner << " into " << into << " inside " << outer << std::dec
                         << " into " << drivers[d] << ", " << workers << " workers");
            VtTypedValue v{};
            v.type = VtInt32;
            v.value.i = workers;
            ASSERT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &v), 0u);
            v.type = VtNat32;
            v.value.u = 1;  // bands of a row and more go to the workers
            ASSERT_EQ(VoControlSet(VO_CONTROL_MT_THREADED_BAND, &v), 0u);
            std::vector<char> alone, inner_alone, file;
            g_inner = Inner{};
            const VtStatus inner_status = FileRender(into, inner, &inner_alone);
            g_inner = Inner{};
            const VtStatus status = FileRender(drivers[d], outer, &alone);
            const From from =
                g_inner.calls[static_cast<int>(From::kProgress)] > 0 ? From::kProgress : From::kPoll;
            const int calls = g_inner.calls[static_cast<int>(from)];
            ASSERT_GT(calls, 0);
            const bool scene_holder = outer == 0x190001 && inner != 0x70001;
            int held = 0;
            // Into the same driver at every call; into another, at the middle one.
            for (int call = same ? 1 : (calls + 1) / 2; call <= (same ? calls : (calls + 1) / 2); ++call) {
              SCOPED_TRACE(::testing::Message() << "at call " << call << " of " << calls);
              g_inner = Inner{from, call, inner};
              g_inner.to_file = true;
              g_inner.file_driver = same ? nullptr : into;
              vo_test::Recorded().clear();
              EXPECT_EQ(FileRender(drivers[d], outer, &file), status);
              ASSERT_EQ(g_inner.started, 1);
              const size_t frame_held = vo_test::WithMessage(2915).size();
              const size_t scene_held = vo_test::WithMessage(2914).size();  // from its preparation on
              EXPECT_LE(scene_held, scene_holder ? 1u : 0u);
              EXPECT_LE(frame_held, same ? 1u : 0u);
              held += static_cast<int>(frame_held);
              if (frame_held != 0 || scene_held != 0) {
                EXPECT_EQ(g_inner.answer, VO_STATUS_BAD_ARGUMENT);
                EXPECT_TRUE(file == alone);
              } else if (same) {  // before the frame or after it: both pictures go to the stream
                EXPECT_EQ(g_inner.answer, inner_status);
              } else {
                EXPECT_EQ(g_inner.answer, inner_status);
                EXPECT_TRUE(file == alone);
                EXPECT_TRUE(g_inner.file == inner_alone);
              }
            }
            // A driver that takes no vector drawing gets no frame from the hidden-line renderer.
            if (same && !scene_holder && !alone.empty()) {
              EXPECT_GT(held, 0);
            }
            refused += held;
          }
  g_inner = Inner{};
  EXPECT_GT(refused, 0);
}

// On worker threads the scene's screen-space data and the rows belong to
// the pass: a render a shader asks there is refused (message 2844) and the
// outer picture is as without it.
TEST_F(NestedRenders, ARenderAShaderAsksOnAWorkerIsRefused) {
  const Stage stage(Square());
  ASSERT_TRUE(stage.ok());
  const Elsewhere elsewhere(stage);
  ASSERT_TRUE(elsewhere.ok());
  VtTypedValue v{};
  v.type = VtNat32;
  v.value.u = 1;  // bands of 3 rows go to the workers
  ASSERT_EQ(VoControlSet(VO_CONTROL_MT_THREADED_BAND, &v), 0u);
  for (uint32_t code : {0xc0003u, 0x200001u, 0x200002u, 0x70001u, 0x70002u}) {
    SCOPED_TRACE(::testing::Message() << std::hex << code);
    std::vector<float> alone, picture;
    g_worker_asks = {};
    const VtStatus status = stage.Render(code, 4, &alone);
    vo_test::Recorded().clear();
    g_worker_asks.code = code;
    EXPECT_EQ(stage.Render(code, 4, &picture), status);
    EXPECT_EQ(picture, alone);
    EXPECT_GT(g_worker_asks.asked.load(), 0);
    EXPECT_EQ(g_worker_asks.refused.load(), g_worker_asks.asked.load());
    EXPECT_EQ(static_cast<int>(vo_test::WithMessage(2844).size()), g_worker_asks.asked.load());
    g_worker_asks = {};
  }
}

}  // namespace
}  // namespace misuse
