// Calls an application makes from a render's progress callback, one table
// of them: changes of the primitive list, the light list, the view's
// resolution and its pinhole, renders started there into the image driver
// or into the outer render's own file driver, and changes of the output the
// render writes to (the driver, its stream, the screen buffer standing in
// for it), which the running render holds from its start. Each row runs in a
// process of its own for each render class at 0 and 4 workers, at the
// render's first and at its last progress report, with the stage's lights
// or with a spot light casting shadows (whose map render makes the first
// reports of the shading classes). A change stays set, and the next render
// equals a fresh session's that made the change without a render around
// it; a render started there answers and draws what it does alone, or is
// refused with a diagnostic, and the outer render's picture is its own.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <numeric>
#include <random>
#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <vo/vo_driver.h>
#include <vo/vo_postprocess.h>

#include "misuse/stage.h"
#include "support/test_support.h"

namespace misuse {
namespace {

enum class Act {
  kList,
  kLights,
  kResolution,
  kPinhole,
  kImageRender,
  kFileRender,
  kResize,
  kPinholeRay,
  kPinholeClipped,  // the next renders clip automatically first
  kNoStream,
  kOtherStream,
  kNullDriver,
  kOtherBuffer,
  kBufferDestroyed,
  kBufferResized,
  kShadowMade,  // a listed light's maps made
  kLightMoved,  // a listed light's location set
};
constexpr const char *kActNames[] = {"list",
                                     "light list",
                                     "resolution",
                                     "pinhole",
                                     "image render",
                                     "file render",
                                     "a larger picture",
                                     "pinhole, ray trace",
                                     "pinhole, clipped automatically after",
                                     "no stream",
                                     "another stream",
                                     "the null driver",
                                     "another screen buffer",
                                     "the screen buffer destroyed",
                                     "the screen buffer resized",
                                     "a listed light's maps made",
                                     "a listed light moved"};

// The acts that change the output: the outer render writes a BMP file
// through the stage's screen buffer.
bool OutputAct(Act act) { return act >= Act::kNoStream && act <= Act::kBufferResized; }

VtTypedValue Point(float x, float y, float z) {
  VtTypedValue v{};
  v.type = VtPoint;
  v.value.v[0] = x, v.value.v[1] = y, v.value.v[2] = z;
  return v;
}

// The stage, another list (the square under a small caster), another light
// list (a distant light) and, for the spot rows, the spot's list current;
// oversampled by 2 when asked.
struct Scene {
  Scene(bool spot, bool oversampled) : stage(Square()) {
    VtTypedValue factor{};
    factor.type = VtNat32;
    factor.value.u = oversampled ? 2 : 1;
    ok = VoControlSet(VO_CONTROL_STANDARD_OVERSAMPLING, &factor) == 0;
    const float corners[12] = {-0.4f, -0.4f, 0.6f, 0.4f, -0.4f, 0.6f, 0.4f, 0.4f, 0.6f, -0.4f, 0.4f, 0.6f};
    const uint32_t ids[1] = {VO_VERT_WORLD};
    VtTypedValue data[1]{};
    data[0].type = VtGenericPtr;
    data[0].value.p = const_cast<float *>(corners);
    caster = VoPrimitiveCreatePolygon(4, 1, ids, data);
    VtPrimitive *both[2] = {stage.primitive(), caster};
    other_list = caster != nullptr ? VoPrimitiveListCreate(2, both) : nullptr;
    VtShader *distant = VoShaderCreate(VO_SHADER_LIGHT, "distant");
    other_lights = Ring({VoShaderCreate(VO_SHADER_LIGHT, "ambient"), distant});
    ok = ok && stage.ok() && other_list != nullptr && other_lights != nullptr && other_stream != nullptr &&
         small != nullptr;
    if (spot) {
      VtShader *light = VoShaderCreate(VO_SHADER_LIGHT, "spot");
      VtTypedValue size{};
      size.type = VtInt32;
      size.value.i = 64;
      const VtTypedValue at = Point(0.5f, 0.3f, 5), to = Point(0, 0, 0);
      // One sample a shadow test: no jitter cursor that the renders' order steps.
      VtTypedValue one = size;
      one.value.i = 1;
      // A second spot, whose maps are made after the first's: what the
      // first's map render's callbacks set is not its.
      second_spot = VoShaderCreate(VO_SHADER_LIGHT, "spot");
      const VtTypedValue at2 = Point(-0.6f, 0.2f, 4);
      spot_lights = Ring({VoShaderCreate(VO_SHADER_LIGHT, "ambient"), light, second_spot});
      ok = ok && second_spot != nullptr && VoShaderSetArg(second_spot, "location", &at2) == 0 &&
           VoShaderSetArg(second_spot, "to", &to) == 0 && ShadowsOn(second_spot) == 0 &&
           VoShaderSetArg(second_spot, "shadow resolution", &size) == 0 &&
           VoShaderSetArg(second_spot, "shadow quality", &one) == 0;
      ok = ok && VoShaderSetArg(light, "shadow quality", &one) == 0;
      ok = ok && spot_lights != nullptr && VoShaderSetArg(light, "location", &at) == 0 &&
           VoShaderSetArg(light, "to", &to) == 0 && ShadowsOn(light) == 0 &&
           VoShaderSetArg(light, "shadow resolution", &size) == 0 && VoLightListSet(spot_lights) == 0;
    }
  }
  ~Scene() {
    if (other_stream != nullptr) std::fclose(other_stream);
  }
  static VtScreenBuffer *SmallBuffer() {
    VtScreenBuffer *b = VoScreenBufferCreate();
    VtTypedValue side{};
    side.type = VtNat32;
    side.value.u = 5;
    if (b != nullptr &&
        (VoScreenBufferSetControl(b, VO_SB_WIDTH, &side) | VoScreenBufferSetControl(b, VO_SB_HEIGHT, &side) |
         VoScreenBufferAllocateData(b, VO_SB_COLOUR)) != 0)
      return nullptr;
    return b;
  }
  static VtReference *Ring(std::initializer_list<VtShader *> lights) {
    VtReference *ring = nullptr;
    for (VtShader *l : lights) {
      if (l == nullptr) return nullptr;
      ring = VoShaderReferenceAppend(ring, VoShaderReferenceCreate(l));  // VoTerminate gives them back
    }
    return ring;
  }
  Stage stage;
  std::FILE *other_stream = std::tmpfile();
  VtScreenBuffer *small = SmallBuffer();
  VtPrimitive *caster = nullptr;
  VtShader *second_spot = nullptr;
  VtReference *other_list = nullptr, *other_lights = nullptr, *spot_lights = nullptr;
  bool ok = false;
};

// A render of 0xc0001 into the image driver (no screen buffer current for
// it): its status and the image.
VtStatus ImageRender(std::vector<uint8_t> *bytes) {
  VtImage *image = VoImageCreate();
  if (image == nullptr) return VO_STATUS_NO_MEMORY;
  image->width = 16, image->height = 12;
  VtDriverRecord *was = VoDriverGet();
  VtScreenBuffer *buffer = VoScreenBufferGet();
  EXPECT_EQ(VoScreenBufferSet(nullptr), 0u);
  VtTypedValue v{};
  v.type = VtGenericPtr;
  v.value.p = image;
  VtStatus st = VoImageAllocateData(image) | VoDriverSet(VoDriverFindFromName("vodrvimg")) |
                VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v);
  st |= VoExecute(0xc0001);
  const auto *data = static_cast<const uint8_t *>(image->data);
  bytes->assign(data, data + 3 * 16 * 12);
  v.value.p = nullptr;
  (void)VoControlSet(VO_CONTROL_DRIVER_IMAGE, &v);
  (void)VoDriverSet(was);
  EXPECT_EQ(VoScreenBufferSet(buffer), 0u);
  (void)VoImageDestroy(image);
  return st;
}

// What the callback does, and what it saw.
struct Call {
  Act act = Act::kList;
  Scene *scene = nullptr;
  int trigger = 0, calls = 0;
  VtStatus answer = 0;
  size_t diagnostics = 0;  // posted while it ran
  std::vector<uint8_t> image;
};
Call g_call{};

void Apply(Act act, Scene &s, Call *call) {
  const float eye1[3] = {-2, 1, 5}, eye2[3] = {1.5f, -1, 4}, reference[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  switch (act) {
    case Act::kList: EXPECT_EQ(VoPrimitiveListSet(s.other_list), 0u); break;
    case Act::kLights: EXPECT_EQ(VoLightListSet(s.other_lights), 0u); break;
    case Act::kResolution:
      EXPECT_EQ(VoViewSetResolution(nullptr, Stage::kWidth, Stage::kHeight, 1.5), 0u);
      break;
    case Act::kPinhole:
    case Act::kPinholeClipped:
    case Act::kPinholeRay:
      EXPECT_EQ(VoViewSetPinhole(nullptr, eye1, reference, up, VO_PROJECTION_PERSPECTIVE, 50), 0u);
      EXPECT_EQ(VoViewSetPinhole(nullptr, eye2, reference, up, VO_PROJECTION_PERSPECTIVE, 45), 0u);
      if (act == Act::kPinholeRay) (void)VoExecute(0x70001);  // into the outer render's target
      break;
    case Act::kResize:  // rows longer than those of the picture begun
      EXPECT_EQ(VoViewSetResolution(nullptr, Stage::kWidth + 9, Stage::kHeight + 5, 1.0), 0u);
      break;
    case Act::kImageRender: call->answer = ImageRender(&call->image); break;
    case Act::kFileRender: call->answer = VoExecute(0xc0001); break;
    case Act::kNoStream:
    case Act::kOtherStream: {
      VtTypedValue stream{};
      stream.type = VtGenericPtr;
      stream.value.p = act == Act::kOtherStream ? s.other_stream : nullptr;
      EXPECT_EQ(VoControlSet(VO_CONTROL_DRIVER_FILE, &stream), 0u);
      break;
    }
    case Act::kNullDriver: EXPECT_EQ(VoDriverSet(VoDriverFindFromName("vodrvnul")), 0u); break;
    case Act::kOtherBuffer: EXPECT_EQ(VoScreenBufferSet(s.small), 0u); break;
    case Act::kBufferDestroyed: EXPECT_EQ(VoScreenBufferDestroy(s.stage.buffer()), 0u); break;
    case Act::kBufferResized: {
      VtTypedValue side{};
      side.type = VtNat32;
      side.value.u = 3;  // fewer rows than the picture's
      EXPECT_EQ(VoScreenBufferSetControl(s.stage.buffer(), VO_SB_HEIGHT, &side), 0u);
      break;
    }
    case Act::kShadowMade: {
      // Refused, with its diagnostic, where a scanline render may not run
      // (a hidden-line render's callbacks): the call then changed nothing.
      const VtStatus st =
          VoLightCreateShadow(s.second_spot != nullptr ? s.second_spot : s.stage.point_light());
      if (call != nullptr)
        call->answer = st;
      else
        EXPECT_EQ(st, 0u);
      break;
    }
    case Act::kLightMoved: {
      const VtTypedValue at = Point(0.8f, -0.5f, 3);
      EXPECT_EQ(
          VoShaderSetArg(s.second_spot != nullptr ? s.second_spot : s.stage.point_light(), "location", &at),
          0u);
      break;
    }
  }
}

VtStatus OnProgress(uint32_t, VtTypedValue *) {
  if (++g_call.calls != g_call.trigger) return 0;
  const size_t before = vo_test::Recorded().size();
  Apply(g_call.act, *g_call.scene, &g_call);
  g_call.diagnostics = vo_test::Recorded().size() - before;
  return 0;
}

// Where the outer render writes: the stage's screen buffer, a BMP file
// (file rows), or a BMP file through the stage's buffer standing in for the
// driver.
enum class Output { kBuffer, kFile, kFileThroughBuffer };

// The outer render's status and picture or file bytes, and the output the
// application has as it returns: the driver, the BMP driver's stream and
// the screen buffer set.
struct Outer {
  VtStatus status;
  std::vector<float> picture;
  std::vector<char> file;
  std::string output;  // the driver's name, the stream's and the buffer's roles
};

void OutputNoted(const Scene &s, Outer *o) {
  VtTypedValue name{}, stream{};
  VtDriverRecord *driver = VoDriverGet();
  o->output = driver != nullptr && VoDriverGetControl(driver, VO_CONTROL_DRIVER_NAME, &name) == 0
                  ? name.value.s
                  : "no driver";
  EXPECT_EQ(VoDriverGetControl(VoDriverFindFromName("vodrvbmp"), VO_CONTROL_DRIVER_FILE, &stream), 0u);
  o->output += stream.value.p == nullptr          ? ", no stream"
               : stream.value.p == s.other_stream ? ", the other stream"
                                                  : ", a stream";
  VtScreenBuffer *b = VoScreenBufferGet();
  o->output += b == nullptr ? ", no buffer" : b == s.small ? ", the small buffer" : ", the stage's buffer";
  if (b == nullptr) return;
  // Its size and pixels, as the next render finds them.
  VtTypedValue width{}, height{};
  EXPECT_EQ(
      VoScreenBufferGetControl(b, VO_SB_WIDTH, &width) | VoScreenBufferGetControl(b, VO_SB_HEIGHT, &height),
      0u);
  std::vector<float> pixels;
  ReadBuffer(b, width.value.u, height.value.u, &pixels);
  o->output += " of " + std::to_string(width.value.u) + " x " + std::to_string(height.value.u) +
               " summing to " + std::to_string(std::accumulate(pixels.begin(), pixels.end(), 0.0));
}

Outer Render(const Scene &s, uint32_t code, int32_t workers, Output output) {
  VtTypedValue band{};
  band.type = VtNat32;
  band.value.u = 1;  // bands of a row and more go to the workers
  EXPECT_EQ(VoControlSet(VO_CONTROL_MT_THREADED_BAND, &band), 0u);
  Outer o{};
  if (output == Output::kBuffer) {
    o.status = s.stage.Render(code, workers, &o.picture);
    OutputNoted(s, &o);
    return o;
  }
  const vo_test::TempDir dir;
  const std::string path = dir.File("outer.bmp");
  std::FILE *out = std::fopen(path.c_str(), "wb");
  VtDriverRecord *bmp = VoDriverFindFromName("vodrvbmp");
  VtTypedValue v{};
  v.type = VtGenericPtr;
  v.value.p = out;
  EXPECT_EQ(VoScreenBufferSet(output == Output::kFile ? nullptr : s.stage.buffer()) |
                VoDriverSetControl(bmp, VO_CONTROL_DRIVER_FILE, &v) | VoDriverSet(bmp),
            0u);
  v.type = VtInt32;
  v.value.i = workers;
  EXPECT_EQ(VoControlSet(VO_CONTROL_MT_WORKERS, &v), 0u);
  o.status = VoExecute(code);
  OutputNoted(s, &o);
  v.type = VtGenericPtr;
  v.value.p = nullptr;
  (void)VoDriverSetControl(bmp, VO_CONTROL_DRIVER_FILE, &v);
  (void)VoDriverSet(VoDriverFindFromName("vodrvnul"));
  std::fclose(out);
  std::ifstream in(path, std::ios::binary);
  o.file.assign(std::istreambuf_iterator<char>(in), {});
  return o;
}

struct Row {
  Act act;
  uint32_t code;
  int32_t workers;
  bool last;  // at the last progress report, else at the first
  bool spot;
  bool oversampled = false;
};

// The pictures that tell a change: the next render of the class (0xc0002
// after a hidden-line one, which draws no pixels) and of 0xc0002.
std::vector<std::vector<float>> Next(const Scene &s, Act act, uint32_t code, int32_t workers) {
  std::vector<std::vector<float>> pictures;
  for (uint32_t next : {code, 0xc0002u}) {
    if (act == Act::kPinholeClipped) {
      EXPECT_EQ(VoViewAutoClipping(nullptr), 0u);
    }
    if (next != 0x190001) pictures.push_back(Render(s, next, workers, Output::kBuffer).picture);
  }
  return pictures;
}

// In a fresh session: the change made with no render around it and the
// next pictures; the reports of an undisturbed render; a render of the
// callback's alone; the outer render alone.
struct Reference {
  std::vector<std::vector<float>> next;
  int calls = 0;
  VtStatus inner_status = 0;
  std::vector<uint8_t> inner_image;
  Outer outer;
};

std::string RunRow(const Row &r) {
  // The checks made in this process, after those the parent made.
  const ::testing::TestResult *checks = ::testing::UnitTest::GetInstance()->current_test_info()->result();
  const int checks_before = checks->total_part_count();
  const bool renders = r.act == Act::kImageRender || r.act == Act::kFileRender;
  const Output output = r.act == Act::kFileRender ? Output::kFile
                        : OutputAct(r.act)        ? Output::kFileThroughBuffer
                                                  : Output::kBuffer;
  Reference ref;
  Outer output_after;  // the output a fresh session has after it made the change
  {
    if (VoInitialise() != 0 || vo_test::Record() != 0) return "the library did not start";
    Scene s(r.spot, r.oversampled);
    if (!s.ok) return "the scene was not made";
    g_call = Call{};
    g_call.act = r.act, g_call.scene = &s;
    EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&OnProgress)), 0u);
    ref.outer = Render(s, r.code, r.workers, output);
    ref.calls = g_call.calls;
    EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr), 0u);
    if (r.act == Act::kImageRender) ref.inner_status = ImageRender(&ref.inner_image);
    if (OutputAct(r.act)) {
      // Made with the outer render's output current, as the callback does.
      VtDriverRecord *bmp = VoDriverFindFromName("vodrvbmp");
      VtTypedValue stream{};
      stream.type = VtGenericPtr;
      stream.value.p = stdout;
      EXPECT_EQ(VoScreenBufferSet(s.stage.buffer()) |
                    VoDriverSetControl(bmp, VO_CONTROL_DRIVER_FILE, &stream) | VoDriverSet(bmp),
                0u);
      Apply(r.act, s, nullptr);
      OutputNoted(s, &output_after);
    } else if (!renders) {
      Apply(r.act, s, nullptr);
      ref.next = Next(s, r.act, r.code, r.workers);
    }
  }
  if (VoTerminate() != 0) return "VoTerminate answered otherwise";
  if (ref.calls == 0) return "";  // a class that reports no progress here
  std::string fault;
  if (VoInitialise() != 0 || vo_test::Record() != 0) return "the library did not start again";
  {
    Scene s(r.spot, r.oversampled);
    if (!s.ok) return "the scene was not made again";
    g_call = Call{};
    g_call.act = r.act, g_call.scene = &s, g_call.trigger = r.last ? ref.calls : 1;
    EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&OnProgress)), 0u);
    const Outer outer = Render(s, r.code, r.workers, output);
    EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr), 0u);
    if (g_call.calls < g_call.trigger) fault += "the callback was not reached; ";
    if (renders) {
      const bool refused = (g_call.answer & VO_STATUS_BAD_ARGUMENT) == VO_STATUS_BAD_ARGUMENT;
      if (refused && g_call.diagnostics == 0) fault += "the render started there was refused unsaid; ";
      if (!refused && r.act == Act::kImageRender &&
          (g_call.answer != ref.inner_status || g_call.image != ref.inner_image))
        fault += "the render started there answered or drew otherwise than alone (" +
                 std::to_string(g_call.answer) + " for " + std::to_string(ref.inner_status) + ", " +
                 std::to_string(std::inner_product(g_call.image.begin(), g_call.image.end(),
                                                   ref.inner_image.begin(), 0, std::plus<>(),
                                                   std::not_equal_to<>())) +
                 " bytes); ";
      if (outer.status != ref.outer.status) fault += "the outer render answered otherwise; ";
      if (outer.picture != ref.outer.picture) fault += "the outer render drew otherwise; ";
      // The outer picture is whole and first in its stream.
      if (outer.file.size() < ref.outer.file.size() ||
          !std::equal(ref.outer.file.begin(), ref.outer.file.end(), outer.file.begin()))
        fault += "the outer render's file is not its own; ";
    } else if (OutputAct(r.act)) {
      // The running render writes its whole picture where it began to; the
      // output set stays the application's.
      if (outer.status != ref.outer.status || outer.file != ref.outer.file)
        fault += "the outer render answered or wrote otherwise (" + std::to_string(outer.file.size()) +
                 " bytes for " + std::to_string(ref.outer.file.size()) + "); ";
      if (outer.output != output_after.output)
        fault += "the output after is " + outer.output + ", a fresh session's " + output_after.output + "; ";
    } else {
      // The running render keeps the view it began with (the ray trace
      // started there draws into the outer render's target).
      if (r.act != Act::kPinholeRay &&
          (outer.status != ref.outer.status || outer.picture != ref.outer.picture))
        fault += "the outer render answered or drew otherwise; ";
      if (r.act == Act::kList && VoPrimitiveListGet() != s.other_list) fault += "the list set did not stay; ";
      if (r.act == Act::kLights && VoLightListGet() != s.other_lights)
        fault += "the lights set did not stay; ";
      const bool refused = r.act == Act::kShadowMade && g_call.answer != 0;
      if (refused && g_call.diagnostics == 0) fault += "the call was refused unsaid; ";
      const std::vector<std::vector<float>> next = Next(s, r.act, r.code, r.workers);
      for (size_t i = 0; i < next.size() && !refused; ++i)
        if (next[i] != ref.next[i])
          fault += "next render " + std::to_string(i) + " differs from a fresh session's; ";
    }
  }
  if (VoTerminate() != 0) fault += "VoTerminate answered otherwise; ";
  for (int i = checks_before; i < checks->total_part_count(); ++i)
    if (checks->GetTestPartResult(i).failed()) {
      fault += "a check failed; ";
      break;
    }
  return fault;
}

TEST(CallbackCalls, WhatAProgressCallbackDoesActsOnTheApplicationsSceneAndRendersStartedThereRunAsAlone) {
  for (int act = 0; act < static_cast<int>(std::size(kActNames)); ++act)
    for (uint32_t code : {0xc0001u, 0x200001u, 0x70001u, 0x190001u, 0x600004u})
      for (int32_t workers : {0, 4})
        for (bool last : {false, true})
          for (bool spot : {false, true}) {
            const Row row{static_cast<Act>(act), code, workers, last, spot};
            SCOPED_TRACE(::testing::Message()
                         << kActNames[act] << " from render 0x" << std::hex << code << std::dec << " on "
                         << workers << " workers at its " << (last ? "last" : "first") << " report"
                         << (spot ? ", a spot casting shadows" : ""));
            EXPECT_EQ(ForkedFault([&] { return RunRow(row); }), "");
          }
  // A ray-traced picture oversampled: the spot's map render reports first,
  // inside the picture's enlarged view.
  for (Act act : {Act::kResolution, Act::kPinhole, Act::kResize})
    for (int32_t workers : {0, 4})
      for (bool last : {false, true}) {
        const Row row{act, 0x70001, workers, last, true, true};
        SCOPED_TRACE(::testing::Message()
                     << kActNames[static_cast<int>(act)] << " from an oversampled 0x70001 on " << workers
                     << " workers at its " << (last ? "last" : "first") << " report, a spot casting shadows");
        EXPECT_EQ(ForkedFault([&] { return RunRow(row); }), "");
      }
}

// An environment cube rendered with lights casting map shadows listed: each
// face's render makes the lights' maps inside it, and the face's rows still
// reach the face (the maps' renders have receivers of their own). The
// answer found another way: a fresh session whose lights had their maps
// made before the cube, so that the faces' renders make none.
enum class CubeCase { kAlone, kMapsBefore, kRenderFromItsFirstReport };
struct CubeRender {
  VtStatus answer = 0;
  size_t diagnostics = 0;
  bool made = false;
};
CubeRender g_cube_render;

std::string CubeSamples(CubeCase c, std::vector<float> *samples) {
  const bool maps_before = c == CubeCase::kMapsBefore;
  if (VoInitialise() != 0 || vo_test::Record() != 0) return "the library did not start";
  std::string fault;
  {
    Scene s(true, false);
    if (!s.ok) return "the scene was not made";
    if (maps_before) {
      for (VtReference *r = s.spot_lights->next;; r = r->next) {
        auto *light = static_cast<VtShader *>(r->data);
        if (light != nullptr && light != static_cast<VtShader *>(s.spot_lights->data)) {
          EXPECT_EQ(VoLightCreateShadow(light), 0u);
        }
        if (r == s.spot_lights) break;
      }
    }
    vo_test::Recorded().clear();
    g_cube_render = CubeRender{};
    if (c == CubeCase::kRenderFromItsFirstReport) {
      // The first report is a light's map render's, inside the first face.
      auto progress = [](uint32_t, VtTypedValue *) -> VtStatus {
        if (g_cube_render.made) return 0;
        g_cube_render.made = true;
        const size_t before = vo_test::Recorded().size();
        // Its frame wholly beyond the 16 x 12 image, which the driver refuses.
        const uint32_t beyond[4] = {20, 39, 14, 29};
        EXPECT_EQ(VoViewSetResolution(nullptr, 40, 30, 1.0) | VoViewSetViewport(nullptr, beyond), 0u);
        std::vector<uint8_t> image;
        g_cube_render.answer = ImageRender(&image);
        g_cube_render.diagnostics = vo_test::Recorded().size() - before;
        return 0;
      };
      EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(+progress)), 0u);
    }
    const float centre[3] = {0, 0, 2};
    VtEnvironment *cube = VoEnvironmentRenderCube(8, centre);
    EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr), 0u);
    if (c == CubeCase::kRenderFromItsFirstReport) {
      if (!g_cube_render.made) fault += "no progress was reported; ";
      if (g_cube_render.answer != VO_STATUS_BAD_ARGUMENT || vo_test::WithMessage(2909).size() != 1)
        fault += "the render started there was not refused (2909) as it starts (" +
                 std::to_string(g_cube_render.answer) + "); ";
    }
    if (cube == nullptr) {
      std::string posted;
      for (const auto &d : vo_test::Recorded()) {
        posted += std::to_string(d.message) + " ";
        for (const auto &t : d.strings) posted += "'" + t + "' ";
      }
      return "no cube (posted " + posted + ")";
    }
    std::mt19937 random(11);
    std::uniform_real_distribution<float> unit(-1, 1);
    for (int i = 0; i < 200; ++i) {
      const float d[3] = {unit(random), unit(random), unit(random)};
      float colour[3] = {};
      EXPECT_EQ(VoEnvironmentSample(colour, cube, centre, d, 0), 0u);
      samples->insert(samples->end(), colour, colour + 3);
    }
    EXPECT_EQ(VoEnvironmentDestroy(cube), 0u);
  }
  if (VoTerminate() != 0) fault += "VoTerminate answered otherwise; ";
  return fault;
}

TEST(CallbackCalls, ACubeRenderedWithLightsCastingMapShadowsIsTheCubeOfLightsWhoseMapsWereMadeBefore) {
  std::vector<float> inside, before, rendered_there;
  ASSERT_EQ(CubeSamples(CubeCase::kAlone, &inside), "");
  ASSERT_EQ(CubeSamples(CubeCase::kMapsBefore, &before), "");
  EXPECT_EQ(inside, before);
  // A render the application starts from a map render's progress report,
  // inside a face, is refused as it starts, whatever its driver would answer
  // of its frame, and the cube is its own.
  ASSERT_EQ(CubeSamples(CubeCase::kRenderFromItsFirstReport, &rendered_there), "");
  EXPECT_EQ(rendered_there, inside);
  // Not a cube of nothing: the stage lit shows in some direction.
  EXPECT_GT(*std::max_element(inside.begin(), inside.end()), 0.0f);
}

// A render-and-post run (0x440004) keeps the post-process list it started
// with: a list set from its render's progress callback (none) is the next
// run's. The answer found another way: the same run without the call, and
// a fresh session's run after it set no list (refused, message 737).
std::string RenderAndPost(bool list_unset_there, VtStatus *status, VtStatus *next,
                          std::vector<float> *picture) {
  if (VoInitialise() != 0 || vo_test::Record() != 0) return "the library did not start";
  {
    Scene s(false, false);
    VtShader *blur = VoShaderCreate(VO_SHADER_POSTPROCESS, "blur");
    if (!s.ok || blur == nullptr) return "the scene was not made";
    VtReference *list = VoShaderReferenceCreate(blur);
    EXPECT_EQ(VoPostprocessListSet(list), 0u);
    VtTypedValue code{};
    code.type = VtEnum;
    code.value.u = 0xc0001;
    EXPECT_EQ(VoControlSet(VO_CONTROL_PP_RENDER_CODE, &code), 0u);
    code.value.u = VO_EXECUTE_PP_RUN;
    EXPECT_EQ(VoControlSet(VO_CONTROL_PP_POST_CODE, &code), 0u);
    static bool unset;
    unset = list_unset_there;
    auto progress = [](uint32_t, VtTypedValue *) -> VtStatus {
      if (unset) {
        EXPECT_EQ(VoPostprocessListSet(nullptr), 0u);
      }
      unset = false;
      return 0;
    };
    EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(+progress)), 0u);
    *status = VoExecute(VO_EXECUTE_PP_RENDER_AND_POST);
    EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr), 0u);
    s.stage.Read(picture);
    if (!list_unset_there) {
      EXPECT_EQ(VoPostprocessListSet(nullptr), 0u);
    }
    *next = VoExecute(VO_EXECUTE_PP_RENDER_AND_POST);
    (void)VoShaderReferenceDestroy(list, 1);
  }
  return VoTerminate() == 0 ? "" : "VoTerminate answered otherwise";
}

TEST(CallbackCalls, ARenderAndPostRunKeepsItsListWhateverItsRendersCallbackSets) {
  VtStatus alone = 0, status = 0, next_alone = 0, next = 0;
  std::vector<float> picture_alone, picture;
  ASSERT_EQ(RenderAndPost(false, &alone, &next_alone, &picture_alone), "");
  ASSERT_EQ(RenderAndPost(true, &status, &next, &picture), "");
  EXPECT_EQ(alone, 0u);
  EXPECT_EQ(status, alone);
  EXPECT_EQ(picture, picture_alone);
  EXPECT_EQ(next_alone, VO_STATUS_BAD_ARGUMENT);  // no list: refused before it renders
  EXPECT_EQ(next, next_alone);
}

// The interface serves one application thread at a time: a second thread's
// render before the first thread's and after it runs; while the first
// thread's render is in its progress callback, the second thread's is
// refused (message 2908) and the first render answers and draws as alone.
std::string RunThreads(uint32_t code, int32_t workers) {
  if (VoInitialise() != 0 || vo_test::Record() != 0) return "the library did not start";
  std::string fault;
  {
    const Stage stage(Square());
    if (!stage.ok()) return "the stage was not made";
    auto other = [&] {
      VtStatus answer = 0;
      std::thread([&] { answer = VoExecute(code); }).join();
      return answer;
    };
    std::vector<float> alone, picture, after;
    const VtStatus status = stage.Render(code, workers, &alone);
    if (other() != status) fault += "a second thread's render before answered otherwise; ";
    static VtStatus during;
    static std::function<VtStatus()> call;
    during = 0;
    call = other;
    auto progress = [](uint32_t, VtTypedValue *) -> VtStatus {
      if (call) during = call();
      call = nullptr;
      return 0;
    };
    vo_test::Recorded().clear();
    EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(+progress)), 0u);
    if (stage.Render(code, workers, &picture) != status) fault += "the render answered otherwise; ";
    EXPECT_EQ(VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr), 0u);
    if (picture != alone) fault += "the render drew otherwise; ";
    if (during != VO_STATUS_BAD_ARGUMENT || vo_test::WithMessage(2908).size() != 1)
      fault += "a second thread's render during the callback was not refused with 2908; ";
    if (other() != status) fault += "a second thread's render after answered otherwise; ";
    if (stage.Render(code, workers, &after) != status || after != alone) fault += "a later render differs; ";
  }
  if (VoTerminate() != 0) fault += "VoTerminate answered otherwise; ";
  return fault;
}

TEST(CallbackCalls, AnotherApplicationThreadsRenderIsRefusedWhileARenderRuns) {
  for (uint32_t code : {0xc0001u, 0x200001u, 0x70001u})
    for (int32_t workers : {0, 4}) {
      SCOPED_TRACE(::testing::Message()
                   << "render 0x" << std::hex << code << std::dec << " on " << workers << " workers");
      EXPECT_EQ(ForkedFault([&] { return RunThreads(code, workers); }), "");
    }
}

}  // namespace
}  // namespace misuse
