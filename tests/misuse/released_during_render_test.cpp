// What the application gives back or changes from a render's progress
// callback reaches the render that runs after it, never the one running:
// the background replaced or cleared, the foreground cleared, a used
// material's shader replaced by class, the global environment cleared and
// destroyed, the screen buffer a "buffered image" background reads and the
// image an "image" background reads destroyed, the light list cleared while
// it held a shadow-casting spot's last reference, the list replaced and the
// spot destroyed. Each row is made at the render's first progress report and
// at its last, for every render class on the calling thread and on four
// workers, in a process of its own (a fork): the render answers and draws as
// without the release, and the render after it draws as a fresh session
// that made the same calls between the same two renders. The scene has a
// spot light casting a small square's shadow on a larger one, so that the
// first report of a shadowing class comes from the spot's map render.
//
// A render-and-post run refused for want of a post-process list renders
// nothing first: the renders after it draw as without it.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <vo/vo_postprocess.h>

#include "misuse/stage.h"
#include "support/test_support.h"

namespace misuse {
namespace {

VtTypedValue Pointer(void *p) {
  VtTypedValue v{};
  v.type = VtGenericPtr;
  v.value.p = p;
  return v;
}

VtTypedValue Point(float x, float y, float z) {
  VtTypedValue v = vo_test::TypedColour(x, y, z);
  v.type = VtPoint;
  return v;
}

// The square the stage lights and a smaller one above it, in one mesh.
Mesh TwoSquares() {
  return Mesh{{-1,    -1,    0,    1,    -1,    0,    1,    1,    0,    -1,    1,    0,
               -0.3f, -0.3f, 0.8f, 0.3f, -0.3f, 0.8f, 0.3f, 0.3f, 0.8f, -0.3f, 0.3f, 0.8f},
              {4, 4},
              {0, 1, 2, 3, 4, 5, 6, 7}};
}

// One session's objects.
struct Scene {
  const Stage *stage = nullptr;
  VtMaterial *material = nullptr;
  VtShader *spot = nullptr;  // the application's reference, until a row gives it back
  VtReference *lights = nullptr, *point_only = nullptr;
  VtEnvironment *environment = nullptr;
  VtScreenBuffer *buffer = nullptr;
  VtImage *image = nullptr;
  std::string fault;
};

void Expect(Scene &s, const char *call, VtStatus got) {
  if (got == 0) return;
  char line[120];
  std::snprintf(line, sizeof line, "%s answered 0x%x; ", call, got);
  s.fault += line;
}

// A shader of the class made the scene's background or foreground; the
// setting keeps the only reference.
void HeldSet(Scene &s, uint32_t type, const char *name, const char *label, const VtTypedValue *value) {
  VtShader *shader = VoShaderCreate(type, name);
  if (shader == nullptr) {
    s.fault += std::string("no ") + name + " shader; ";
    return;
  }
  if (label != nullptr) Expect(s, label, VoShaderSetArg(shader, label, value));
  Expect(s, name, type == VO_SHADER_BACKGROUND ? VoBackgroundSet(shader) : VoForegroundSet(shader));
  Expect(s, "VoShaderDestroy", VoShaderDestroy(shader));
}

// A 4 x 4 picture of bytes stepping by `step`.
VtImage *Image(Scene &s, int step) {
  VtImage *image = VoImageCreate();
  if (image == nullptr) {
    s.fault += "no image; ";
    return nullptr;
  }
  image->width = image->height = 4;
  Expect(s, "VoImageAllocateData", VoImageAllocateData(image));
  for (int32_t i = 0; image->data != nullptr && i < 4 * image->bytes_per_row; ++i)
    image->data[i] = static_cast<uint8_t>(step * i);
  return image;
}

using Act = void (*)(Scene &);

struct Row {
  const char *name;
  Act prepare;  // before the first render, or null
  Act release;  // from the progress callback, or between renders in the fresh session
};

const Row kRows[] = {
    {"the background replaced",
     [](Scene &s) {
       const VtTypedValue red = vo_test::TypedColour(0.8f, 0.1f, 0.1f);
       HeldSet(s, VO_SHADER_BACKGROUND, "plain", "colour", &red);
     },
     [](Scene &s) {
       const VtTypedValue blue = vo_test::TypedColour(0.1f, 0.2f, 0.9f);
       HeldSet(s, VO_SHADER_BACKGROUND, "graduated", "top colour", &blue);
     }},
    {"the graduated background cleared",
     [](Scene &s) {
       const VtTypedValue blue = vo_test::TypedColour(0.1f, 0.2f, 0.9f);
       HeldSet(s, VO_SHADER_BACKGROUND, "graduated", "top colour", &blue);
     },
     [](Scene &s) { Expect(s, "VoBackgroundSet(null)", VoBackgroundSet(nullptr)); }},
    {"the two planes background cleared",
     [](Scene &s) { HeldSet(s, VO_SHADER_BACKGROUND, "two planes", nullptr, nullptr); },
     [](Scene &s) { Expect(s, "VoBackgroundSet(null)", VoBackgroundSet(nullptr)); }},
    {"the fog cleared",
     [](Scene &s) {
       VtTypedValue distance{};
       distance.type = VtFloat;
       distance.value.f = 3;
       HeldSet(s, VO_SHADER_FOREGROUND, "fog", "distance", &distance);
     },
     [](Scene &s) { Expect(s, "VoForegroundSet(null)", VoForegroundSet(nullptr)); }},
    {"the rendered material's reflectance replaced by class", nullptr,
     [](Scene &s) {
       Expect(s, "VoMaterialSetShaderByPrototype",
              VoMaterialSetShaderByPrototype(s.material, VO_SHADER_REFLECTANCE, "constant"));
     }},
    {"the global environment cleared and destroyed",
     [](Scene &s) {
       VtImage *faces[6] = {};
       for (int f = 0; f < 6; ++f) faces[f] = Image(s, 11 + 7 * f);
       s.environment = VoEnvironmentCreateCube(faces);
       if (s.environment == nullptr) s.fault += "no environment; ";
       for (VtImage *face : faces) (void)VoImageDestroy(face);
       Expect(s, "VoEnvironmentSet", VoEnvironmentSet(s.environment));
       VtTypedValue one{};
       one.type = VtFloat;
       one.value.f = 1;
       HeldSet(s, VO_SHADER_BACKGROUND, "environment", "intensity", &one);
     },
     [](Scene &s) {
       Expect(s, "VoEnvironmentSet(null)", VoEnvironmentSet(nullptr));
       Expect(s, "VoEnvironmentDestroy", VoEnvironmentDestroy(s.environment));
     }},
    {"a buffered image background's screen buffer destroyed",
     [](Scene &s) {
       s.buffer = VoScreenBufferCreate();
       VtTypedValue size{};
       size.type = VtNat32;
       size.value.u = Stage::kWidth;
       Expect(s, "width", VoScreenBufferSetControl(s.buffer, VO_SB_WIDTH, &size));
       size.value.u = Stage::kHeight;
       Expect(s, "height", VoScreenBufferSetControl(s.buffer, VO_SB_HEIGHT, &size));
       Expect(s, "VoScreenBufferAllocateData", VoScreenBufferAllocateData(s.buffer, VO_SB_COLOUR));
       const VtTypedValue green = vo_test::TypedColour(0.2f, 0.7f, 0.3f);
       Expect(s, "VoScreenBufferClear", VoScreenBufferClear(s.buffer, VO_SB_COLOUR, &green));
       const VtTypedValue buffer = Pointer(s.buffer);
       HeldSet(s, VO_SHADER_BACKGROUND, "buffered image", "buffer", &buffer);
     },
     [](Scene &s) { Expect(s, "VoScreenBufferDestroy", VoScreenBufferDestroy(s.buffer)); }},
    {"an image background's image destroyed and the background cleared",
     [](Scene &s) {
       s.image = Image(s, 29);
       const VtTypedValue image = Pointer(s.image);
       HeldSet(s, VO_SHADER_BACKGROUND, "image", "image", &image);
     },
     [](Scene &s) {
       Expect(s, "VoImageDestroy", VoImageDestroy(s.image));
       Expect(s, "VoBackgroundSet(null)", VoBackgroundSet(nullptr));
     }},
    {"the light list cleared while it held the shadowing spot's last reference",
     [](Scene &s) {
       Expect(s, "VoShaderDestroy(spot)", VoShaderDestroy(s.spot));
       s.spot = nullptr;
     },
     [](Scene &s) { Expect(s, "VoLightListSet(null)", VoLightListSet(nullptr)); }},
    {"the light list replaced and the shadowing spot destroyed", nullptr,
     [](Scene &s) {
       Expect(s, "VoLightListSet(point)", VoLightListSet(s.point_only));
       Expect(s, "VoShaderDestroy(spot)", VoShaderDestroy(s.spot));
       s.spot = nullptr;
     }},
};

// The spot above the squares, casting shadows, listed with the stage's
// point light.
void Lights(Scene &s) {
  s.spot = VoShaderCreate(VO_SHADER_LIGHT, "spot");
  const VtTypedValue at = Point(0.4f, 0.3f, 5), to = Point(0, 0, 0);
  Expect(s, "spot location", VoShaderSetArg(s.spot, "location", &at));
  Expect(s, "spot to", VoShaderSetArg(s.spot, "to", &to));
  Expect(s, "spot shadows", ShadowsOn(s.spot));
  s.lights = VoShaderReferenceAppend(VoShaderReferenceCreate(s.stage->point_light()),
                                     VoShaderReferenceCreate(s.spot));
  s.point_only = VoShaderReferenceCreate(s.stage->point_light());
  Expect(s, "VoLightListSet", VoLightListSet(s.lights));
}

struct Progress {
  Scene *scene = nullptr;
  const Row *row = nullptr;
  int reports = 0, at = 0;  // the report that releases (1 the first); 0 counts only
};
Progress g_progress;

VtStatus OnProgress(uint32_t, VtTypedValue *) {
  Progress &p = g_progress;
  if (++p.reports == p.at) p.row->release(*p.scene);
  return 0;
}

// One session: the scene, the row's preparation, a render counting its
// reports, a render whose report `at` makes the release (or, with at < 0,
// the release made after it), and the render after. The three pictures and
// statuses in *pictures and *statuses.
void Session(const Row &row, uint32_t code, int32_t workers, int at, Scene &s,
             std::vector<float> (&pictures)[3], VtStatus (&statuses)[3], int *reports) {
  if (VoInitialise() != 0 || vo_test::Record() != 0) {
    s.fault += "the library did not start; ";
    return;
  }
  {
    const Stage stage(TwoSquares());
    if (!stage.ok()) s.fault += "the stage was not made; ";
    s.stage = &stage;
    s.material = VoPrimitiveGetMaterial(stage.primitive());
    Lights(s);
    if (row.prepare != nullptr) row.prepare(s);
    g_progress = Progress{&s, &row, 0, 0};
    (void)VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&OnProgress));
    statuses[0] = stage.Render(code, workers, &pictures[0]);
    g_progress = Progress{&s, &row, 0, at};
    statuses[1] = stage.Render(code, workers, &pictures[1]);
    *reports = g_progress.reports;  // fewer than the first's when it made maps this one keeps
    (void)VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr);
    // Progress comes by time as well as by work: a render that reported
    // less than the fresh session's has the release made after it.
    if (at < 0 || g_progress.reports < at) row.release(s);
    statuses[2] = stage.Render(code, workers, &pictures[2]);
    (void)VoLightListSet(nullptr);
    if (s.spot != nullptr) (void)VoShaderDestroy(s.spot);
    (void)VoReferenceListDestroy(s.lights, nullptr);
    (void)VoReferenceListDestroy(s.point_only, nullptr);
  }
  if (const VtStatus st = VoTerminate(); st != 0)
    s.fault += "VoTerminate answered " + std::to_string(st) + "; ";
}

std::string RunCase(const Row &row, uint32_t code, int32_t workers, bool last) {
  std::vector<float> fresh[3], tried[3];
  VtStatus fresh_status[3] = {}, tried_status[3] = {};
  int reports = 0;
  Scene f;
  Session(row, code, workers, -1, f, fresh, fresh_status, &reports);
  if (!f.fault.empty()) return "fresh session: " + f.fault;
  if (reports == 0) return "the render reported no progress";
  Scene s;
  int counted = 0;
  Session(row, code, workers, last ? reports : 1, s, tried, tried_status, &counted);
  (void)counted;
  if (tried_status[1] != fresh_status[1]) s.fault += "the render answered otherwise; ";
  if (tried[1] != fresh[1]) s.fault += "the render drew otherwise; ";
  if (tried_status[2] != fresh_status[2]) s.fault += "the render after answered otherwise; ";
  if (tried[2] != fresh[2]) s.fault += "the render after drew otherwise than a fresh session's; ";
  return s.fault;
}

TEST(ReleasedDuringRender, WhatACallbackGivesBackOrChangesTakesEffectForTheNextRenderOnly) {
  for (const Row &row : kRows)
    for (uint32_t code : {0xc0001u, 0x200001u, 0x70001u, 0x190001u, 0x600004u})
      for (int32_t workers : {0, 4})
        for (bool last : {false, true}) {
          SCOPED_TRACE(::testing::Message()
                       << row.name << ", render 0x" << std::hex << code << std::dec << " on " << workers
                       << " workers, at the " << (last ? "last" : "first") << " report");
          EXPECT_EQ(ForkedFault([&] { return RunCase(row, code, workers, last); }), "");
        }
}

// A render-and-post run with no post-process list, then a material set:
// the next picture is the one made without the refused run.
std::string RefusedRunCase(bool refused_run) {
  std::string fault;
  if (VoInitialise() != 0 || vo_test::Record() != 0) return "the library did not start";
  {
    const Stage stage(TwoSquares());
    Scene s;
    s.stage = &stage;
    Lights(s);
    VtShader *distant = VoShaderCreate(VO_SHADER_LIGHT, "distant");
    const VtTypedValue from = Point(0.3f, 0.2f, 4), to = Point(0, 0, 0);
    Expect(s, "distant from", VoShaderSetArg(distant, "location", &from));
    Expect(s, "distant to", VoShaderSetArg(distant, "to", &to));
    Expect(s, "distant shadows", ShadowsOn(distant));
    VtReference *lights = VoShaderReferenceCreate(distant);
    Expect(s, "VoLightListSet(distant)", VoLightListSet(lights));
    VtScreenBuffer *buffer = VoScreenBufferGet();
    Expect(s, "VoScreenBufferSet(null)", VoScreenBufferSet(nullptr));
    std::vector<float> picture;
    if (refused_run) {
      VtTypedValue code{};
      code.type = VtEnum;
      code.value.u = 0x200001;
      Expect(s, "render code", VoControlSet(VO_CONTROL_PP_RENDER_CODE, &code));
      code.value.u = VO_EXECUTE_PP_RUN;
      Expect(s, "post code", VoControlSet(VO_CONTROL_PP_POST_CODE, &code));
      vo_test::Recorded().clear();
      if (VoExecute(VO_EXECUTE_PP_RENDER_AND_POST) != VO_STATUS_BAD_ARGUMENT)
        fault += "the run was not refused; ";
      if (vo_test::WithMessage(737).empty()) fault += "the run posted no message 737; ";
      if (!vo_test::WithMessage(454).empty()) fault += "the refused run made shadow maps; ";
    }
    Expect(s, "VoScreenBufferSet", VoScreenBufferSet(buffer));
    Expect(s, "VoMaterialSetShaderByPrototype",
           VoMaterialSetShaderByPrototype(VoPrimitiveGetMaterial(stage.primitive()), VO_SHADER_REFLECTANCE,
                                          "plastic"));
    (void)stage.Render(0x200002, 0, &picture);
    char line[64];
    for (size_t i = 0; i < picture.size(); ++i) {
      std::snprintf(line, sizeof line, "%a,", static_cast<double>(picture[i]));
      fault += line;
    }
    (void)VoLightListSet(nullptr);
    (void)VoShaderDestroy(s.spot);
    (void)VoShaderReferenceDestroy(lights, 1);
    (void)VoReferenceListDestroy(s.lights, nullptr);
    (void)VoReferenceListDestroy(s.point_only, nullptr);
    fault += s.fault;
  }
  (void)VoTerminate();
  return fault;
}

TEST(ReleasedDuringRender, ARenderAndPostRunRefusedForWantOfAListLeavesNoShadowMapsBehind) {
  EXPECT_EQ(ForkedFault([] { return RefusedRunCase(true); }),
            ForkedFault([] { return RefusedRunCase(false); }));
}

}  // namespace
}  // namespace misuse
