// Every light class with a place, over a lone matte floor and over the floor
// with a square floating above it, through the renderers that shadow from
// depth maps (z-buffer, A-buffer, both ray-tracer passes with traced
// shadows off) and the ray tracer's traced shadows. A floor nothing can
// shadow is no darker with shadows on; the maps' shadow lies where the
// traced one does; statuses are the same on 0 and 4 workers; a light list
// saved and read back in another process renders through every renderer
// (an area light, whose primitive no file holds, is left out and the rest
// drawn); and every number argument of every light class refuses NaN and
// infinity. Each session runs in a process of its own.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <vo/vo_multit.h>
#include <vo/vo_object.h>
#include <vo/vo_postprocess.h>
#include <vo/vo_screenbuf.h>
#include <vo/vo_shader.h>
#include <vo/vo_view.h>

#include "render/voshpost/classes.h"
#include "render/voshpost/pixel_list.h"
#include "cross_renderer/light_files.h"
#include "cross_renderer/light_rows.h"
#include "support/rows_driver.h"
#include "support/test_support.h"

namespace light_classes {
namespace {

using namespace vo::test;

constexpr uint32_t kSide = 48;
constexpr size_t kBytes = size_t{kSide} * kSide * 3;
inline constexpr char kRowsName[] = "light class rows";
using Rows = RowsDriver<kSide, kSide, kRowsName>;
using Picture = std::vector<uint8_t>;

constexpr uint32_t kMapRenderers[] = {0x200001, 0x200002, 0x70001, 0x70002};
constexpr uint32_t kEveryRenderer[] = {0xc0001, 0xc0002, 0xc0003, 0x200001, 0x200002, 0x70001, 0x70002};
constexpr uint32_t kNotFinite = 2926, kNoPrimitive = 911, kExecuteFailed = 205, kNoArgument = 257;

using LightRow = LightClassRow;
const std::vector<LightRow> &kLights = LightClassRows();

// The messages a session was told, with the status of each.
std::vector<std::pair<uint32_t, VtStatus>> g_told;
VtStatus Told(VtStatus status, uint32_t message, uint32_t, uint32_t, VtTypedValue *) {
  g_told.emplace_back(message, status);
  return 0;
}
size_t CountTold(uint32_t message) {
  size_t n = 0;
  for (const auto &[m, s] : g_told) n += m == message;
  return n;
}

VtTypedValue Value(uint32_t type, const float *v = nullptr) {
  VtTypedValue t{};
  t.type = type;
  if (type == VtFloat && v != nullptr) t.value.f = v[0];
  if (type != VtFloat && v != nullptr) std::memcpy(t.value.v, v, sizeof(float) * 3);
  return t;
}
VtStatus SetWord(VtShader *s, const char *label, uint32_t type, int32_t i) {
  VtTypedValue v = Value(type);
  v.value.i = i;
  return VoShaderSetArg(s, label, &v);
}
VtStatus SetBoolean(uint32_t control, bool on) {
  VtTypedValue v = Value(VtBoolean);
  v.value.i = on ? 1 : 0;
  return VoControlSet(control, &v);
}

VtPrimitive *Quad(float half, float y, bool down) {
  float corners[4][3];
  for (int i = 0; i < 4; ++i) {
    const int k = down ? (4 - i) % 4 : i;  // counter-clockwise from above faces up
    corners[k][0] = (i == 1 || i == 2) ? half : -half;
    corners[k][1] = y;
    corners[k][2] = i >= 2 ? -half : half;
  }
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1] = {Value(VtGenericPtr)};
  data[0].value.p = corners;
  return VoPrimitiveCreatePolygon(4, 1, ids, data);
}

// The goniometric light's luminaire file and the projector's white slide.
std::string IesFile() { return DownlightFile("downlight.ies", "0 90 180"); }
std::string SlideFile() { return WhiteSlideFile(); }

// One session's scene: the floor (and the caster), the light of the row
// with the map side given (0: traced shadows), and a dim ambient light.
struct Scene {
  VtPrimitive *floor = nullptr, *caster = nullptr, *emitter = nullptr;
  VtMaterial *matte = nullptr;
  VtShader *light = nullptr;
  VtReference *lights = nullptr;
  VtStatus status = 0;

  Scene(const LightRow &row, int32_t side, bool with_caster, bool with_ambient) {
    floor = Quad(4, 0, false);
    caster = Quad(0.6f, 1.2f, false);
    emitter = Quad(0.5f, 3, true);
    matte = VoMaterialCreate();
    status |= VoMaterialSetShaderByPrototype(matte, VO_SHADER_REFLECTANCE, "matte");
    status |= VoPrimitiveSetMaterial(floor, matte) | VoPrimitiveSetMaterial(caster, matte);
    VtPrimitive *both[2] = {floor, caster};
    status |= VoPrimitiveListSet(VoPrimitiveListCreate(with_caster ? 2 : 1, both));
    light = VoShaderCreate(VO_SHADER_LIGHT, row.name);
    if (light == nullptr) {
      status |= 2;
      return;
    }
    status |= ShadowLightArgs(light, row, YUp);
    const bool goniometric = std::strcmp(row.name, "goniometric") == 0;
    if (goniometric || std::strcmp(row.name, "projector") == 0) {
      VtTypedValue file = Value(VtString);
      const std::string path = goniometric ? IesFile() : SlideFile();
      file.value.s = path.c_str();
      status |= VoShaderSetArg(light, "file name", &file);
    }
    if (std::strcmp(row.name, "area") == 0) {
      VtTypedValue p = Value(VtGenericPtr);
      p.value.p = emitter;
      status |= VoShaderSetArg(light, "primitive", &p);
    }
    status |= SetWord(light, "shadows", VtBoolean, 1) | SetWord(light, "shadow resolution", VtInt32, side);
    lights = VoShaderReferenceCreate(light);
    if (with_ambient) {
      VtShader *ambient = VoShaderCreate(VO_SHADER_LIGHT, "ambient");
      lights = VoShaderReferenceAppend(lights, VoShaderReferenceCreate(ambient));
    }
    status |= VoLightListSet(lights);
    const float eye[3] = {0, 7, 5}, reference[3] = {0, 0, 0.3f}, up[3] = {0, 1, 0};
    status |= VoViewSetResolution(nullptr, kSide, kSide, 1.0);
    status |= VoViewSetPinhole(nullptr, eye, reference, up, VO_PROJECTION_PERSPECTIVE, 50.0);
    status |= VoViewAutoClipping(nullptr) | SetBoolean(VO_CONTROL_SHADER_SECOND_LIGHT_PASS, true);
    // The ray tracer traces shadows only of a light without maps.
    status |= SetBoolean(VO_CONTROL_SHADER_RAY_SHADOWS, side == 0);
  }
};

VtStatus Render(uint32_t code, int32_t workers, Picture *out) {
  VtTypedValue count = Value(VtInt32);
  count.value.i = workers;
  VtStatus st = VoControlSet(VO_CONTROL_MT_WORKERS, &count);
  VtDriverRecord *driver = VoDriverCreate(&Rows::Query);
  if (driver == nullptr) return 0x20000006;
  Rows::Clear();
  st |= VoDriverSet(driver);
  if (st == 0) st = VoExecute(code);
  VoDriverSet(VoDriverFindFromName("vodrvnul"));
  VoDriverDestroy(driver);
  *out = Rows::Rows();
  return st;
}

// Pixels (any channel) of `on` darker than in `off`, and the lit pixels of
// `off` (brighter than 8 in some channel).
struct Darker {
  size_t darker = 0, lit = 0;
};
bool Lit(const Picture &p, int64_t x, int64_t y) {
  if (x < 0 || y < 0 || x >= kSide || y >= kSide) return true;
  const size_t i = static_cast<size_t>(y * kSide + x) * 3;
  return p[i] > 8 || p[i + 1] > 8 || p[i + 2] > 8;
}
Darker Compare(const Picture &off, const Picture &on) {
  Darker d;
  for (int64_t y = 0; y < kSide; ++y)
    for (int64_t x = 0; x < kSide; ++x) {
      const size_t i = static_cast<size_t>(y * kSide + x) * 3;
      if (!Lit(off, x, y)) continue;
      const bool darker = on[i] < off[i] || on[i + 1] < off[i + 1] || on[i + 2] < off[i + 2];
      ++d.lit;
      d.darker += darker;
    }
  return d;
}

// Lit pixels (in `unshadowed`, with no unlit pixel within two: a framed
// light's edge is left out) one picture shows mostly shadowed and the other
// mostly lit: their difference in the brightest channel is more than half
// the light's own there.
size_t ShadowsApart(const Picture &unshadowed, const Picture &a, const Picture &b) {
  size_t n = 0;
  for (int64_t y = 0; y < kSide; ++y)
    for (int64_t x = 0; x < kSide; ++x) {
      const size_t i = static_cast<size_t>(y * kSide + x) * 3;
      int light = 0, apart = 0;
      for (size_t c = i; c < i + 3; ++c)
        light = std::max(light, int{unshadowed[c]}), apart = std::max(apart, std::abs(a[c] - b[c]));
      bool inside = true;
      for (int64_t k : {-2, -1, 1, 2})
        inside = inside && Lit(unshadowed, x + k, y) && Lit(unshadowed, x, y + k);
      n += inside && light > 8 && 2 * apart > light;
    }
  return n;
}

int Failures() {
  return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

// Runs the session in a child process; false when it did not end cleanly.
template <typename F>
bool Forked(F session) {
  const int failures = Failures();
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    session();
    std::fflush(stdout);
    _exit(Failures() == failures ? 0 : 1);
  }
  int exit_status = 0;
  return child > 0 && waitpid(child, &exit_status, 0) == child && WIFEXITED(exit_status) &&
         WEXITSTATUS(exit_status) == 0;
}

void Start() {
  ASSERT_EQ(VoInitialise(), 0u);
  g_told.clear();
  VoCallBackSet(VO_CALLBACK_ERROR_HANDLER, reinterpret_cast<VtProc>(&Told));
}

// (a) and (d): the lone floor with shadows off, then on, on 0 and 4 workers.
TEST(LightClasses, ALoneFloorIsNoDarkerWithShadowsOnAndRendersAlikeOnAnyWorkerCount) {
  (void)IesFile(), (void)SlideFile();
  for (const LightRow &row : kLights)
    for (int32_t side : {256, 1024}) {
      SCOPED_TRACE(::testing::Message() << row.title << " at " << side);
      const bool clean = Forked([&] {
        Start();
        Scene scene(row, side, false, false);
        ASSERT_EQ(scene.status, 0u);
        for (uint32_t code : kMapRenderers) {
          if (side == 1024 && code != 0x200001 && code != 0x70001) continue;  // few large maps
          SCOPED_TRACE(::testing::Message() << "renderer 0x" << std::hex << code);
          Picture off, on, threaded;
          ASSERT_EQ(SetBoolean(VO_CONTROL_SHADER_SHADOWS, false), 0u);
          ASSERT_EQ(Render(code, 0, &off), 0u);
          ASSERT_EQ(SetBoolean(VO_CONTROL_SHADER_SHADOWS, true), 0u);
          const VtStatus alone = Render(code, 0, &on), farmed = Render(code, 4, &threaded);
          EXPECT_EQ(alone, 0u);
          EXPECT_EQ(farmed, alone);
          const Darker d = Compare(off, on);
          std::printf("lone floor, %s, map %d, renderer 0x%x: %zu of %zu lit pixels darker\n", row.title,
                      side, code, d.darker, d.lit);
          EXPECT_GT(d.lit, kBytes / 3 / 3);
          EXPECT_EQ(d.darker, 0u);
          EXPECT_EQ(Compare(off, threaded).darker, d.darker);
        }
        // The ray tracer's workers with the second light pass off as well
        // (an area light then makes no samples, but still its maps).
        ASSERT_EQ(SetBoolean(VO_CONTROL_SHADER_SECOND_LIGHT_PASS, false), 0u);
        for (uint32_t code : {0x70001u, 0x70002u}) {
          Picture alone, farmed;
          const VtStatus st = Render(code, 0, &alone);
          EXPECT_EQ(Render(code, 4, &farmed), st) << "renderer 0x" << std::hex << code;
        }
        VoTerminate();
      });
      EXPECT_TRUE(clean);
    }
}

// (b): the floor with a caster: the maps' shadow against the traced one.
TEST(LightClasses, TheShadowOfADepthMapLiesWhereTheTracedShadowDoes) {
  (void)IesFile(), (void)SlideFile();
  for (const LightRow &row : kLights) {
    SCOPED_TRACE(row.title);
    const bool clean = Forked([&] {
      Start();
      // The ray tracer's two passes (the full one samples more finely) with
      // traced shadows and without any: what each map renderer is held to.
      Picture unshadowed[2], traced[2];
      {
        Scene scene(row, 0, true, false);
        ASSERT_EQ(scene.status, 0u);
        for (int k = 0; k < 2; ++k) {
          ASSERT_EQ(SetBoolean(VO_CONTROL_SHADER_SHADOWS, false) | Render(0x70001 + k, 0, &unshadowed[k]),
                    0u);
          ASSERT_EQ(SetBoolean(VO_CONTROL_SHADER_SHADOWS, true) | Render(0x70001 + k, 0, &traced[k]), 0u);
        }
      }
      const size_t lit = Compare(unshadowed[0], unshadowed[0]).lit;
      EXPECT_GT(ShadowsApart(unshadowed[0], unshadowed[0], traced[0]), lit / 50)
          << "the caster casts no shadow";
      Scene scene(row, 1024, true, false);
      ASSERT_EQ(scene.status, 0u);
      // Maps the application asks for before any render, of a light not
      // yet prepared (a wide cone's six among them), are made whole.
      ASSERT_EQ(VoLightCreateShadow(scene.light), 0u);
      for (uint32_t code : kMapRenderers) {
        const int k = code == 0x70002 ? 1 : 0;
        Picture mapped;
        ASSERT_EQ(Render(code, 0, &mapped), 0u);
        const size_t apart = ShadowsApart(unshadowed[k], mapped, traced[k]);
        std::printf("caster, %s, renderer 0x%x: %zu of %zu lit pixels apart from the traced shadow\n",
                    row.title, code, apart, lit);
        EXPECT_LE(apart * 100, lit) << "renderer 0x" << std::hex << code;
      }
      VoTerminate();
    });
    EXPECT_TRUE(clean);
  }
}

// (b) after a change: the caster moved and its maps made again draw the
// picture a fresh session with the caster in its new place draws, apart
// from the shadow filter's jitter, whose cursor runs on from picture to
// picture: the shadows themselves agree.
TEST(LightClasses, MapsMadeAgainAfterACasterMovesShadowAsAFreshSessionDoes) {
  (void)IesFile(), (void)SlideFile();
  auto *shared = static_cast<uint8_t *>(
      mmap(nullptr, 3 * kBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(shared, MAP_FAILED);
  for (const LightRow &row : kLights)
    for (uint32_t code : {0x200001u, 0x70001u}) {
      SCOPED_TRACE(::testing::Message() << row.title << ", renderer 0x" << std::hex << code);
      for (int fresh = 0; fresh < 2; ++fresh) {
        const bool clean = Forked([&] {
          Start();
          Scene scene(row, 1024, true, false);
          ASSERT_EQ(scene.status, 0u);
          Picture p;
          ASSERT_EQ(fresh == 0 ? Render(code, 0, &p) : 0u, 0u);  // the maps of the old place
          VtTransform *moved = VoTransformCreate();
          const double offset[3] = {0.5, 0, 0.4};
          ASSERT_EQ(VoTransformTranslate(moved, offset) | VoPrimitiveSetTransform(scene.caster, moved), 0u);
          ASSERT_EQ(Render(code, 0, &p), 0u);
          std::memcpy(shared + fresh * kBytes, p.data(), kBytes);
          ASSERT_EQ(SetBoolean(VO_CONTROL_SHADER_SHADOWS, false) | Render(code, 0, &p), 0u);
          std::memcpy(shared + 2 * kBytes, p.data(), kBytes);
          VoTerminate();
        });
        ASSERT_TRUE(clean);
      }
      const Picture again(shared, shared + kBytes), fresh(shared + kBytes, shared + 2 * kBytes),
          unshadowed(shared + 2 * kBytes, shared + 3 * kBytes);
      size_t apart = 0;
      for (size_t i = 0; i < kBytes; i += 3) apart += std::memcmp(&again[i], &fresh[i], 3) != 0;
      const size_t lit = Compare(unshadowed, unshadowed).lit;
      std::printf(
          "moved caster, %s, renderer 0x%x: %zu pixels apart from a fresh session's, %zu of them "
          "shadowed differently\n",
          row.title, code, apart, ShadowsApart(unshadowed, again, fresh));
      EXPECT_LE(ShadowsApart(unshadowed, again, fresh) * 100, lit);
    }
  munmap(shared, 3 * kBytes);
}

// (c): each light's list saved, then read back in a fresh process by a loop
// that goes on after a warning, and rendered through every renderer.
TEST(LightClasses, ASavedLightListReadBackInAnotherProcessRendersThroughEveryRenderer) {
  (void)IesFile(), (void)SlideFile();
  vo_test::TempDir dir;
  auto *shared = static_cast<uint8_t *>(mmap(nullptr, 2 * std::size(kEveryRenderer) * kBytes,
                                             PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(shared, MAP_FAILED);
  const size_t renderers = std::size(kEveryRenderer);
  for (const LightRow &row : kLights) {
    SCOPED_TRACE(row.title);
    const std::string path = dir.File(std::string(row.name) + ".vo");
    const bool area = std::strcmp(row.name, "area") == 0;
    const bool clean = Forked([&] {
      Start();
      Scene scene(row, 256, true, true);
      ASSERT_EQ(scene.status, 0u);
      for (size_t r = 0; r < renderers; ++r) {
        Picture p;
        EXPECT_EQ(Render(kEveryRenderer[r], 0, &p), 0u);
        std::memcpy(shared + r * kBytes, p.data(), kBytes);
      }
      void *file = VoFileOpen(path.c_str(), 2);
      ASSERT_NE(file, nullptr);
      VtObjectValue v{};
      v.type = VO_OBJECT_SHADER_LIST;
      v.value.p = &scene.lights;
      // Addresses and procedures are passed over with a warning.
      EXPECT_EQ((VoObjectOpen(file, 2) | VoObjectWrite(file, &v) | VoObjectClose(file)) & ~0x20000000u, 0u);
      VoFileClose(file);
      VoTerminate();
    });
    ASSERT_TRUE(clean) << "saving";
    const bool read_back = Forked([&] {
      Start();
      Scene scene(row, 256, true, false);  // the scene without lights
      ASSERT_EQ(scene.status, 0u);
      void *file = VoFileOpen(path.c_str(), 1);
      ASSERT_NE(file, nullptr);
      VtReference *lights = nullptr;
      VtStatus st = VoObjectOpen(file, 1);
      for (int guard = 0; (st & ~0x20000000u) == 0 && guard < 8; ++guard) {
        VtObjectValue v{};
        st = VoObjectRead(file, &v);  // a warning still delivers the value
        if ((st & ~0x20000000u) != 0 || v.type == VO_OBJECT_END) break;
        if (v.type == VO_OBJECT_SHADER_LIST) std::memcpy(&lights, v.value.p, sizeof lights);
      }
      EXPECT_EQ((st | VoObjectClose(file)) & ~0x20000000u, 0u);
      VoFileClose(file);
      ASSERT_NE(lights, nullptr);
      ASSERT_EQ(VoLightListSet(lights), 0u);
      for (size_t r = 0; r < renderers; ++r) {
        SCOPED_TRACE(::testing::Message() << "renderer 0x" << std::hex << kEveryRenderer[r]);
        g_told.clear();
        Picture p;
        EXPECT_EQ(Render(kEveryRenderer[r], 0, &p), 0u);
        EXPECT_EQ(CountTold(kExecuteFailed), 0u);
        const Picture saved(shared + r * kBytes, shared + (r + 1) * kBytes);
        if (!area) {
          EXPECT_EQ(p, saved);
          continue;
        }
        // Without its primitive the area light is left out: the ambient
        // light draws the floor and the caster.
        if (r == 0) {
          EXPECT_GT(CountTold(kNoPrimitive), 0u);
          for (const auto &[m, s] : g_told) {
            EXPECT_TRUE(m != kNoPrimitive || s == VO_STATUS_BAD_ARGUMENT);
          }
        }
        EXPECT_GT(Compare(p, p).lit, kBytes / 3 / 3);
        EXPECT_EQ(Compare(p, saved).darker, 0u);
      }
      VoTerminate();
    });
    EXPECT_TRUE(read_back);
  }
  munmap(shared, 2 * renderers * kBytes);
}

// (e): NaN and infinity into every number every light class takes, the
// rows made from each class's own argument list.
TEST(LightClasses, EveryNumberArgumentOfEveryLightClassRefusesNaNAndInfinity) {
  const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                       -std::numeric_limits<float>::infinity()};
  const bool clean = Forked([&] {
    Start();
    size_t rows = 0;
    for (const char *name :
         {"ambient", "eye", "point", "spot", "distant", "goniometric", "projector", "sky", "area"}) {
      VtShader *light = VoShaderCreate(VO_SHADER_LIGHT, name);
      ASSERT_NE(light, nullptr) << name;
      uint32_t count = 0;
      void *labels = nullptr;
      ASSERT_EQ(VoShaderEnquire(light, nullptr, nullptr, &count, &labels), 0u);
      for (uint32_t i = 0; i < count; ++i) {
        const char *label = static_cast<const char **>(labels)[i];
        VtTypedValue before{};
        ASSERT_EQ(VoShaderGetArg(light, label, &before), 0u);
        const int components =
            before.type == VtFloat                                                             ? 1
            : before.type == VtPoint || before.type == VtVector || before.type == VtColourType ? 3
                                                                                               : 0;
        for (int k = 0; k < components; ++k)
          for (float x : bad) {
            SCOPED_TRACE(::testing::Message() << name << " \"" << label << "\" component " << k << " " << x);
            VtTypedValue given = before;
            (components == 1 ? given.value.f : given.value.v[k]) = x;
            g_told.clear();
            EXPECT_EQ(VoShaderSetArg(light, label, &given), VO_STATUS_BAD_ARGUMENT);
            EXPECT_EQ(CountTold(kNotFinite), 1u);
            VtTypedValue after{};
            ASSERT_EQ(VoShaderGetArg(light, label, &after), 0u);
            EXPECT_EQ(std::memcmp(&after, &before, sizeof before), 0);
            ++rows;
          }
      }
      EXPECT_EQ(VoShaderDestroy(light), 0u);
    }
    EXPECT_GT(rows, 200u);
    VoTerminate();
  });
  EXPECT_TRUE(clean);
}

// The lights gathered as flare sources: a goniometric light from its
// "from"; the lights with no place (distant, eye, sky, an area light) passed
// over without a word.
TEST(LightClasses, TheLightsGatheredForFlaresStandWhereEachClassPutsThem) {
  (void)IesFile(), (void)SlideFile();
  const bool clean = Forked([&] {
    Start();
    const LightRow &goniometric = LightClassRowTitled("goniometric");
    Scene scene(goniometric, 256, false, false);
    ASSERT_EQ(scene.status, 0u);
    for (const char *other : {"distant", "eye", "sky", "area"})
      scene.lights = VoShaderReferenceAppend(scene.lights,
                                             VoShaderReferenceCreate(VoShaderCreate(VO_SHADER_LIGHT, other)));
    ASSERT_EQ(VoLightListSet(scene.lights), 0u);
    VtScreenBuffer *buffer = VoScreenBufferCreate();
    VtTypedValue side = Value(VtNat32);
    side.value.u = kSide;
    ASSERT_EQ(VoScreenBufferSetControl(buffer, VO_SB_WIDTH, &side) |
                  VoScreenBufferSetControl(buffer, VO_SB_HEIGHT, &side) |
                  VoScreenBufferAllocateData(buffer, VO_SB_COLOUR) | VoScreenBufferSet(buffer),
              0u);
    g_told.clear();
    EXPECT_EQ(VoExecute(VO_EXECUTE_PP_FLARE_LIGHTS), 0u);
    EXPECT_EQ(CountTold(kNoArgument), 0u);
    float at[4];
    int32_t pixel[2] = {-1, -1}, found[2] = {-2, -2};
    ASSERT_EQ(VoViewProjectPoint(goniometric.args[0].v, at) | VoViewProjectedToPixel(at, pixel), 0u);
    VtPixelListIterator *it =
        VoPixelListIteratorCreate(static_cast<VtPixelList *>(vo::post::State()->pixel_lists));
    void *source = nullptr;
    int sources = 0;
    while (it != nullptr && VoPixelListNext(it, &found[0], &found[1], &source, nullptr) == 0) ++sources;
    VoDeallocate(it);
    EXPECT_EQ(sources, 1);
    EXPECT_EQ(found[0], pixel[0]);
    EXPECT_EQ(found[1], pixel[1]);
    VoTerminate();
  });
  EXPECT_TRUE(clean);
}

// A light's depth as a flare source is the depth the depth render gives a
// surface where the light stands: in a parallel view looking down on the
// floor, a light half a unit above it lies half a unit nearer than the
// floor's depth at its pixel, so that "check depth" draws its flare over
// the floor behind it.
TEST(LightClasses, AFlareSourceInAParallelViewIsAsDeepAsTheDepthRenderHasIt) {
  const bool clean = Forked([&] {
    Start();
    Scene scene(LightClassRowTitled("point"), 0, false, false);
    ASSERT_EQ(scene.status, 0u);
    const float at[3] = {0.3f, 0.5f, -0.2f}, eye[3] = {0, 7, 0}, down[3] = {0, 0, 0}, up[3] = {0, 0, -1};
    VtTypedValue place = Value(VtPoint, at);
    ASSERT_EQ(VoShaderSetArg(scene.light, "location", &place), 0u);
    ASSERT_EQ(
        VoViewSetPinhole(nullptr, eye, down, up, VO_PROJECTION_PARALLEL, 10.0) | VoViewAutoClipping(nullptr),
        0u);
    VtScreenBuffer *buffer = VoScreenBufferCreate();
    VtTypedValue side = Value(VtNat32);
    side.value.u = kSide;
    ASSERT_EQ(VoScreenBufferSetControl(buffer, VO_SB_WIDTH, &side) |
                  VoScreenBufferSetControl(buffer, VO_SB_HEIGHT, &side) |
                  VoScreenBufferAllocateData(buffer, VO_SB_COLOUR | VO_SB_DEPTH) | VoScreenBufferSet(buffer),
              0u);
    ASSERT_EQ(VoExecute(VO_EXECUTE_SB_RENDER_DEPTH), 0u);
    ASSERT_EQ(VoExecute(VO_EXECUTE_PP_FLARE_LIGHTS), 0u);
    VtPixelListIterator *it =
        VoPixelListIteratorCreate(static_cast<VtPixelList *>(vo::post::State()->pixel_lists));
    int32_t x = -1, y = -1;
    void *source = nullptr;
    ASSERT_EQ(it != nullptr ? VoPixelListNext(it, &x, &y, &source, nullptr) : 1u, 0u);
    VoDeallocate(it);
    std::vector<float> row(size_t{kSide} * 4);
    ASSERT_EQ(VoScreenBufferGetScanRGBZFloat(buffer, static_cast<uint32_t>(y), row.data()), 0u);
    const double floor = row[static_cast<size_t>(x) * 4 + 3];
    EXPECT_NEAR(static_cast<const vo::post::VtFlareSource *>(source)->depth, floor - 0.5, 1e-3);
    VoTerminate();
  });
  EXPECT_TRUE(clean);
}

}  // namespace
}  // namespace light_classes
