// Handles given back twice around a render, through the public interface
// only, each case in a process of its own (a fork: the faults these rows
// catch read freed memory).
//
// Holders: a shader set in a holder's slot once or twice, from a render's
// first progress report or with no render running, then destroyed twice.
// The first destroy gives back the application's reference; the second finds
// only holders left (the slot set, or the changes waiting for the render's
// end) and is refused with 0x20000012 and message 2903 naming the holder (a
// light the current list holds alone: message 2892), during the render and
// again after it; the render after draws as a fresh session's and the
// library stops cleanly.
//
// Records: an object of each kind given back from a progress report is
// refused when given back again during the render and after it, and the
// record is not handed to another object before the render ends: a list
// destroyed in a shadow-casting render is not the list of the next map.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "misuse/stage.h"
#include "support/test_support.h"

namespace misuse {
namespace {

constexpr VtStatus kRefused = 0x20000012;

struct Session;
using SetProc = VtStatus (*)(Session &, VtShader *);

// One holder: the shader made for it, its setter, the text the refusal
// names it by, and the message with no render running when it differs.
struct Holder {
  const char *name;
  uint32_t type;
  const char *cls;
  SetProc set;
  const char *named;       // in the refusal's holder, during a render
  const char *named_idle;  // the same, with no render running
  uint32_t idle_message;
};

struct Session {
  const Stage *stage = nullptr;
  std::string fault;
  VtReference *ring = nullptr;  // the light holder's list
};

void Note(Session &s, const std::string &what) { s.fault += what + "; "; }

VtMaterial *StageMaterial(Session &s) { return VoPrimitiveGetMaterial(s.stage->primitive()); }

const Holder kHolders[] = {
    {"a material's slot", VO_SHADER_COLOUR, "plain",
     [](Session &s, VtShader *x) { return VoMaterialSetShader(StageMaterial(s), x); }, "VoMaterialSetShader",
     "material", 2903},
    {"a material's secondary slot", VO_SHADER_COLOUR, "plain",
     [](Session &s, VtShader *x) { return VoMaterialSetSecondaryShader(StageMaterial(s), 0x50001, x); },
     "VoMaterialSetSecondaryShader", "material", 2903},
    {"a global filter", VO_SHADER_FILTER, "generic filter",
     [](Session &, VtShader *x) { return VoShadingSetGlobalFilter(VO_SHADER_COLOUR, x); },
     "VoShadingSetGlobalFilter", "VoShadingSetGlobalFilter", 2903},
    {"the background", VO_SHADER_BACKGROUND, "plain",
     [](Session &, VtShader *x) { return VoBackgroundSet(x); }, "VoBackgroundSet", "VoBackgroundSet", 2903},
    {"the foreground", VO_SHADER_FOREGROUND, "fog", [](Session &, VtShader *x) { return VoForegroundSet(x); },
     "VoForegroundSet", "VoForegroundSet", 2903},
    {"the light list", VO_SHADER_LIGHT, "point",
     [](Session &s, VtShader *x) {
       if (s.ring == nullptr) s.ring = VoShaderReferenceCreate(x);
       return VoLightListSet(s.ring);
     },
     "VoLightListSet", nullptr, 2892},
};

// A second destroy: refused with the message, naming the holder when asked.
void SecondRefused(Session &s, VtShader *x, uint32_t message, const char *named, const char *when) {
  vo_test::Recorded().clear();
  const VtStatus st = VoShaderDestroy(x);
  const std::vector<vo_test::Diagnostic> posted = vo_test::WithMessage(message);
  if (st != kRefused || posted.empty()) {
    Note(s, std::string("the second destroy ") + when + " answered " + std::to_string(st) +
                " without message " + std::to_string(message));
    return;
  }
  if (named != nullptr &&
      (posted[0].strings.size() < 2 || posted[0].strings[1].find(named) == std::string::npos))
    Note(s, std::string("the refusal ") + when + " did not name " + named);
}

struct Plan {
  const Holder *holder;
  VtShader *shader;
  int sets;
  bool during;  // from the first progress report, else before the render
  Session *session;
};
Plan g_plan;

void SetThenDestroyTwice(Plan &p) {
  Session &s = *p.session;
  for (int i = 0; i < p.sets; ++i)
    if (const VtStatus st = p.holder->set(s, p.shader); st != 0)
      Note(s, "the set answered " + std::to_string(st));
  if (const VtStatus st = VoShaderDestroy(p.shader); st != 0)
    Note(s, "the first destroy answered " + std::to_string(st));
  const bool waiting = p.during;
  SecondRefused(s, p.shader, waiting ? 2903 : p.holder->idle_message,
                waiting ? p.holder->named : p.holder->named_idle, waiting ? "during the render" : "");
}

VtStatus OnProgress(uint32_t, VtTypedValue *) {
  if (g_plan.shader == nullptr || !g_plan.during) return 0;
  SetThenDestroyTwice(g_plan);
  g_plan.during = false;
  g_plan.shader = nullptr;
  return 0;
}

std::string HolderCase(const Holder &h, uint32_t code, int32_t workers, int sets, bool during) {
  if (VoInitialise() != 0 || vo_test::Record() != 0) return "the library did not start";
  Session s;
  {
    const Stage stage(Square());
    s.stage = &stage;
    if (!stage.ok()) Note(s, "no stage");
    VtShader *x = VoShaderCreate(h.type, h.cls);
    if (x == nullptr) return "no shader of class " + std::string(h.cls);
    g_plan = Plan{&h, x, sets, during, &s};
    std::vector<float> before, after;
    if (!during) {
      SetThenDestroyTwice(g_plan);
      g_plan.shader = nullptr;
    }
    (void)VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&OnProgress));
    const VtStatus rendered = stage.Render(code, workers, &before);
    (void)VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr);
    if (g_plan.shader != nullptr) Note(s, "the render reported no progress");
    // The changes made, the holder holds it as one set after the render.
    if (during) SecondRefused(s, x, h.idle_message, h.named_idle, "after the render");
    const VtStatus next = stage.Render(code, workers, &after);
    if (next != rendered) Note(s, "the render after answered " + std::to_string(next));
    if (h.type == VO_SHADER_LIGHT) (void)VoLightListSet(nullptr);
    (void)VoReferenceListDestroy(s.ring, nullptr);
  }
  if (const VtStatus st = VoTerminate(); st != 0) Note(s, "VoTerminate answered " + std::to_string(st));
  return s.fault;
}

TEST(GivenBackTwice, AShaderSetFromACallbackThenDestroyedTwiceIsRefusedTheSecondTimeNamingItsHolder) {
  for (const Holder &h : kHolders)
    for (uint32_t code : {0xc0001u, 0x70001u})
      for (int32_t workers : {0, 4})
        for (int sets : {1, 2})
          for (bool during : {true, false}) {
            if (!during && (code != 0xc0001u || workers != 0)) continue;
            SCOPED_TRACE(::testing::Message()
                         << h.name << " set " << sets << " times "
                         << (during ? "from the progress callback of 0x" : "before 0x") << std::hex << code
                         << std::dec << " on " << workers << " workers");
            EXPECT_EQ(ForkedFault([&] { return HolderCase(h, code, workers, sets, during); }), "");
          }
}

// ---- records given back from a callback ------------------------------------

struct Records {
  VtReference *list = nullptr;   // a primitive list not current
  VtPrimitive *loose = nullptr;  // a primitive no list holds
  VtReference *ring = nullptr;   // a light list not current, with its light
  VtScreenBuffer *buffer = nullptr;
  VtTexture *texture = nullptr;
  VtEnvironment *environment = nullptr;
};

// One kind given back: its destroy, and whether the library still knows the
// handle as live (answered by a call that reads it).
struct RecordKind {
  const char *name;
  VtStatus (*destroy)(Records &);
};

const RecordKind kRecordKinds[] = {
    {"a primitive list", [](Records &r) { return VoPrimitiveReferenceDestroy(r.list, 0); }},
    {"a primitive", [](Records &r) { return VoPrimitiveDestroy(r.loose); }},
    {"a light list with its light", [](Records &r) { return VoShaderReferenceDestroy(r.ring, 1); }},
    {"a screen buffer", [](Records &r) { return VoScreenBufferDestroy(r.buffer); }},
    {"a texture", [](Records &r) { return VoTextureDestroy(r.texture); }},
    {"an environment", [](Records &r) { return VoEnvironmentDestroy(r.environment); }},
};

Records MakeRecords(Session &s) {
  Records r;
  static const float kTriangle[9] = {-0.5f, -0.5f, 1, 0.5f, -0.5f, 1, 0, 0.5f, 1};
  const uint32_t ids[1] = {VO_VERT_WORLD};
  VtTypedValue data[1]{};
  data[0].type = VtGenericPtr;
  data[0].value.p = const_cast<float *>(kTriangle);
  const int32_t counts[1] = {3}, faces[3] = {0, 1, 2};
  VtPrimitive *member = VoPrimitiveCreateMesh(1, nullptr, counts, faces, 1, ids, data);
  r.loose = VoPrimitiveCreateMesh(1, nullptr, counts, faces, 1, ids, data);
  r.list = member != nullptr ? VoPrimitiveListCreate(1, &member) : nullptr;
  r.ring = VoShaderReferenceCreate(VoShaderCreate(VO_SHADER_LIGHT, "point"));
  r.buffer = VoScreenBufferCreate();
  VtImage *image = VoImageCreate();
  if (image != nullptr) {
    image->width = image->height = 4;
    if (VoImageAllocateData(image) == 0)
      std::memset(image->data, 90, static_cast<size_t>(4 * image->bytes_per_row));
    VtImage *faces6[6] = {image, image, image, image, image, image};
    r.texture = VoTextureCreate(image, 3);
    r.environment = VoEnvironmentCreateCube(faces6);
    (void)VoImageDestroy(image);
  }
  const void *made[] = {member, r.loose, r.list, r.ring, r.buffer, r.texture, r.environment};
  for (size_t i = 0; i < std::size(made); ++i)
    if (made[i] == nullptr) Note(s, "object " + std::to_string(i) + " was not made");
  return r;
}

struct RecordPlan {
  const RecordKind *kind = nullptr;
  Records *records = nullptr;
  Session *session = nullptr;
  int at = 0, reports = 0;
};
RecordPlan g_records;

VtStatus OnRecordProgress(uint32_t, VtTypedValue *) {
  RecordPlan &p = g_records;
  if (p.kind == nullptr || ++p.reports != p.at) return 0;
  Session &s = *p.session;
  if (const VtStatus st = p.kind->destroy(*p.records); st != 0)
    Note(s, "the destroy answered " + std::to_string(st));
  if (const VtStatus st = p.kind->destroy(*p.records); st == 0)
    Note(s, "a second destroy during the render answered 0");
  // Lists made now (a copy of the stage's) take no record given back.
  VtReference *copy = VoReferenceListCopy(s.stage->list(), nullptr);
  if (copy == p.records->list) Note(s, "a list made during the render took the record given back");
  (void)VoReferenceListDestroy(copy, nullptr);
  return 0;
}

std::string RecordCase(const RecordKind &kind, uint32_t code, int32_t workers, bool last) {
  if (VoInitialise() != 0 || vo_test::Record() != 0) return "the library did not start";
  Session s;
  {
    const Stage stage(Square());
    s.stage = &stage;
    // A spot casting shadows: the first report of a shadowing class comes
    // from its map's render, which makes lists of its own.
    VtShader *spot = VoShaderCreate(VO_SHADER_LIGHT, "spot");
    VtTypedValue at{};
    at.type = VtPoint;
    at.value.v[2] = 5;
    VtReference *lights =
        VoShaderReferenceAppend(VoShaderReferenceCreate(stage.point_light()), VoShaderReferenceCreate(spot));
    if (VoShaderSetArg(spot, "location", &at) != 0 || ShadowsOn(spot) != 0 || VoLightListSet(lights) != 0)
      Note(s, "no spot");
    Records records = MakeRecords(s);
    std::vector<float> counted, picture;
    g_records = RecordPlan{&kind, &records, &s, 0, 0};
    (void)VoCallBackSet(VO_CALLBACK_PROGRESS, reinterpret_cast<VtProc>(&OnRecordProgress));
    // Counted twice: the first render makes the maps the later ones keep.
    (void)stage.Render(code, workers, &counted);
    g_records = RecordPlan{&kind, &records, &s, 0, 0};
    (void)stage.Render(code, workers, &counted);
    g_records = RecordPlan{&kind, &records, &s, last ? g_records.reports : 1, 0};
    const VtStatus rendered = stage.Render(code, workers, &picture);
    (void)VoCallBackSet(VO_CALLBACK_PROGRESS, nullptr);
    if (g_records.reports < g_records.at) Note(s, "the render reported less");
    if (rendered != 0) Note(s, "the render answered " + std::to_string(rendered));
    if (kind.destroy(records) == 0) Note(s, "a second destroy after the render answered 0");
    if (stage.Render(code, workers, &picture) != rendered) Note(s, "the render after answered otherwise");
    (void)VoLightListSet(nullptr);
    (void)VoShaderDestroy(spot);
    (void)VoReferenceListDestroy(lights, nullptr);
  }
  if (const VtStatus st = VoTerminate(); st != 0) Note(s, "VoTerminate answered " + std::to_string(st));
  return s.fault;
}

TEST(GivenBackTwice, AnObjectGivenBackFromACallbackIsRefusedAgainAndKeepsItsRecordUntilTheRenderEnds) {
  for (const RecordKind &kind : kRecordKinds)
    for (uint32_t code : {0xc0001u, 0x200001u, 0x70001u})
      for (int32_t workers : {0, 4})
        for (bool last : {false, true}) {
          SCOPED_TRACE(::testing::Message()
                       << kind.name << ", render 0x" << std::hex << code << std::dec << " on " << workers
                       << " workers, at the " << (last ? "last" : "first") << " report");
          EXPECT_EQ(ForkedFault([&] { return RecordCase(kind, code, workers, last); }), "");
        }
}

// A list given back between renders, a cube rendered, the list given back
// again: refused with 2890 (no list of the cube's took its record), and the
// render after draws as before. Blocks are taken in allocation order: the
// seeds vary the list's size and the lists made first.
TEST(GivenBackTwice, AListGivenBackBetweenRendersIsRefusedAgainAfterACubeWhoseListsTookNoneOfIt) {
  for (uint32_t seed = 0; seed < 15; ++seed)
    EXPECT_EQ(
        ForkedFault([seed]() -> std::string {
          if (VoInitialise() != 0 || vo_test::Record() != 0) return "the library did not start";
          const Stage stage(Square());
          std::vector<VtPrimitive *> members(1 + seed % 5, stage.primitive());
          VtPrimitive *pair[2] = {stage.primitive(), stage.primitive()};
          for (uint32_t k = 0; k < seed / 5; ++k) (void)VoPrimitiveListCreate(2, pair);
          VtReference *list = VoPrimitiveListCreate(static_cast<uint32_t>(members.size()), members.data());
          std::vector<float> before, after;
          const VtStatus rendered = stage.Render(0x200001, 0, &before);
          const float centre[3] = {0, 0, 1};
          if (VoPrimitiveReferenceDestroy(list, 0) != 0 || VoEnvironmentRenderCube(8, centre) == nullptr ||
              VoPrimitiveReferenceDestroy(list, 0) != kRefused || vo_test::Recorded().back().message != 2890)
            return "the second destroy was not refused with 2890";
          return stage.Render(0x200001, 0, &after) != rendered || after != before ? "the render after differs"
                                                                                  : "";
        }),
        "")
        << "seed " << seed;
}

}  // namespace
}  // namespace misuse
