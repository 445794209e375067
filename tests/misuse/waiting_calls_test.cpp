// Sequences of calls made from a render's progress callback, where each
// change waits for the render's end through the one queue, against a twin
// session that makes the same calls after its render: the calls answer
// alike (a second destroy of a shader a waiting call names is refused, as
// the twin's holder refuses it), the buffer the render leaves (rows and
// pixels written into it, a copy's contents given it) and the next
// render's picture are the twin's, and what the scene's setters answer
// after (background, global filter, environment, the material's colour) is
// the twin's. Rows are one table; each session runs in a process of its
// own.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "misuse/stage.h"
#include "support/test_support.h"

namespace misuse {
namespace {

// What the sequences work on, made before the render; named so that the
// two sessions' answers compare by name, not address.
struct Objects {
  const Stage *stage = nullptr;
  VtShader *sky = nullptr, *dusk = nullptr;  // backgrounds
  VtShader *filter = nullptr, *colour = nullptr, *spot = nullptr;
  VtReference *spot_list = nullptr;
  VtEnvironment *environment = nullptr;
  VtScreenBuffer *copy = nullptr;  // of the target, with a pixel of its own
};

std::string NameOf(const Objects &o, const void *p) {
  if (p == nullptr) return "none";
  const std::pair<const void *, const char *> names[] = {{o.sky, "sky"},
                                                         {o.dusk, "dusk"},
                                                         {o.filter, "filter"},
                                                         {o.colour, "colour"},
                                                         {o.environment, "environment"}};
  for (const auto &[object, name] : names)
    if (p == object) return name;
  return "another";
}

std::string Answers(const std::vector<VtStatus> &answers) {
  std::string text;
  for (VtStatus st : answers) text += std::to_string(st) + " ";
  return text;
}

struct Sequence {
  const char *name;
  std::vector<VtStatus> (*calls)(Objects &);
};

const Sequence kSequences[] = {
    {"two backgrounds set: the last one stands",
     [](Objects &o) {
       return std::vector<VtStatus>{VoBackgroundSet(o.sky), VoBackgroundSet(o.dusk)};
     }},
    {"a background set, then given back twice",
     [](Objects &o) {
       return std::vector<VtStatus>{VoBackgroundSet(o.sky), VoShaderDestroy(o.sky), VoShaderDestroy(o.sky)};
     }},
    {"a global filter set twice, then given back twice",
     [](Objects &o) {
       return std::vector<VtStatus>{VoShadingSetGlobalFilter(VO_SHADER_COLOUR, o.filter),
                                    VoShadingSetGlobalFilter(VO_SHADER_COLOUR, o.filter),
                                    VoShaderDestroy(o.filter), VoShaderDestroy(o.filter)};
     }},
    {"a material's colour set, taken out and set again, then given back twice",
     [](Objects &o) {
       VtMaterial *m = o.stage->material();
       return std::vector<VtStatus>{
           VoMaterialSetShader(m, o.colour), VoMaterialSetShaderByPrototype(m, VO_SHADER_COLOUR, "plain"),
           VoMaterialSetShader(m, o.colour), VoShaderDestroy(o.colour), VoShaderDestroy(o.colour)};
     }},
    {"a listed light's argument set, then the light given back twice",
     [](Objects &o) {
       VtTypedValue half{};
       half.type = VtFloat;
       half.value.f = 0.5f;
       VtShader *point = o.stage->point_light();
       return std::vector<VtStatus>{VoShaderSetArg(point, "intensity", &half), VoShaderDestroy(point),
                                    VoShaderDestroy(point)};
     }},
    {"a light list set, then given back with its nodes",
     [](Objects &o) {
       return std::vector<VtStatus>{VoLightListSet(o.spot_list), VoReferenceListDestroy(o.spot_list, nullptr),
                                    VoShaderDestroy(o.spot)};
     }},
    {"an environment set, then given back",
     [](Objects &o) {
       return std::vector<VtStatus>{VoEnvironmentSet(o.environment), VoEnvironmentDestroy(o.environment)};
     }},
    {"a pixel and rows written into the target",
     [](Objects &o) {
       VtScreenBuffer *b = o.stage->buffer();
       const std::vector<float> row(3 * Stage::kWidth, 0.25f);
       VtTypedValue red{};
       red.type = VtColourType;
       red.value.v[0] = 1;
       return std::vector<VtStatus>{VoScreenBufferSetPixel(b, VO_SB_COLOUR, 3, 2, &red),
                                    VoScreenBufferSetScanRGBFloat(b, 1, row.data()),
                                    VoScreenBufferSetScanRGBFloat(b, Stage::kHeight - 1, row.data())};
     }},
    {"the target given a copy's contents",
     [](Objects &o) { return std::vector<VtStatus>{VoScreenBufferCopyContents(o.stage->buffer(), o.copy)}; }},
};

Objects Make(const Stage &stage) {
  Objects o;
  o.stage = &stage;
  o.sky = VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
  o.dusk = VoShaderCreate(VO_SHADER_BACKGROUND, "plain");
  VtTypedValue blue{};
  blue.type = VtColourType;
  blue.value.v[2] = 1;
  (void)VoShaderSetArg(o.dusk, "colour", &blue);
  o.filter = VoShaderCreate(VO_SHADER_FILTER, "generic filter");
  o.colour = VoShaderCreate(VO_SHADER_COLOUR, "plain");
  (void)VoShaderSetArg(o.colour, "colour", &blue);
  o.spot = VoShaderCreate(VO_SHADER_LIGHT, "spot");
  VtTypedValue at{};
  at.type = VtPoint;
  at.value.v[2] = 5;
  (void)VoShaderSetArg(o.spot, "location", &at);
  o.spot_list = VoShaderReferenceCreate(o.spot);
  o.copy = VoScreenBufferCopy(stage.buffer());
  VtTypedValue green{};
  green.type = VtColourType;
  green.value.v[1] = 1;
  if (o.copy != nullptr) (void)VoScreenBufferSetPixel(o.copy, VO_SB_COLOUR, 5, 5, &green);
  VtImage *image = VoImageCreate();
  if (image != nullptr) {
    image->width = image->height = 4;
    image->bits = 24;
    if (VoImageAllocateData(image) == 0) {
      VtImage *faces[6] = {image, image, image, image, image, image};
      o.environment = VoEnvironmentCreateCube(faces);
    }
    (void)VoImageDestroy(image);
  }
  return o;
}

// One session: the sequence from the first progress report of the render
// (in_callback) or after it. Answers, the buffer left by the render and the
// calls, the next picture, and the setters' answers after, as one text.
Objects *g_objects = nullptr;
const Sequence *g_sequence = nullptr;
std::vector<VtStatus> g_answers;
VtStatus OnProgress(uint32_t, VtTypedValue *) {
  if (g_sequence != nullptr) g_answers = g_sequence->calls(*g_objects);
  g_sequence = nullptr;
  return 0;
}

std::string Session(const Sequence &sequence, uint32_t code, int32_t workers, bool in_callback) {
  if (VoInitialise() != 0 || vo_test::Record() != 0) return "the library did not start";
  const Stage &stage = *new Stage(Square());  // left to the process's end: calls give its parts back
  Objects o = Make(stage);
  if (!stage.ok() || o.environment == nullptr || o.spot_list == nullptr || o.copy == nullptr)
    return "the stage was not made";
  std::vector<float> left, next;
  g_objects = &o;
  g_sequence = in_callback ? &sequence : nullptr;
  g_answers.clear();
  (void)VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&OnProgress));
  const VtStatus rendered = stage.Render(code, workers, &left);
  (void)VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr);
  if (!in_callback) {
    g_answers = sequence.calls(o);
    stage.Read(&left);
  }
  std::string text = "rendered " + std::to_string(rendered) + "; answers " + Answers(g_answers) + ";";
  const VtStatus again = stage.Render(code, workers, &next);
  VtMaterial *m = stage.material();
  text += " next " + std::to_string(again) + "; background " + NameOf(o, VoBackgroundGet()) + "; filter " +
          NameOf(o, VoShadingGetGlobalFilter(VO_SHADER_COLOUR)) + "; environment " +
          NameOf(o, VoEnvironmentGet()) + "; colour " + NameOf(o, VoMaterialGetShader(m, VO_SHADER_COLOUR)) +
          ";";
  for (const std::vector<float> *picture : {&left, &next}) {
    text += " picture";
    for (float v : *picture) text += " " + std::to_string(v);
  }
  return text;
}

TEST(WaitingCalls, SequencesFromACallbackAnswerAndDrawAsTheSameCallsAfterTheRender) {
  for (const Sequence &sequence : kSequences)
    for (uint32_t code : {0xc0001u, 0x70001u})
      for (int32_t workers : {0, 4}) {
        SCOPED_TRACE(::testing::Message() << sequence.name << ", render 0x" << std::hex << code << std::dec
                                          << " on " << workers << " workers");
        const std::string waited = ForkedFault([&] { return Session(sequence, code, workers, true); });
        const std::string twin = ForkedFault([&] { return Session(sequence, code, workers, false); });
        EXPECT_EQ(waited, twin);
      }
}

}  // namespace
}  // namespace misuse
